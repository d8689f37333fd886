// Reading and evaluating the "If" header.
#include "webdav/if_header.h"

#include "platform/text.h"

namespace webdav {
namespace {

class IfReader {
  public:
    explicit IfReader(std::string_view text) : text_(text) {}

    std::optional<IfHeader> Read() {
        IfHeader header;
        std::optional<std::string> resource;
        bool tagWithoutList = false;
        SkipBlanks();
        if (AtEnd()) return std::nullopt;
        while (!AtEnd()) {
            if (Peek() == '<') {
                std::optional<std::string> tag = Enclosed('<', '>');
                if (!tag || tagWithoutList) return std::nullopt;
                resource = std::move(tag);
                tagWithoutList = true;
            } else if (Peek() == '(') {
                ++position_;
                IfList list;
                list.resource = resource;
                if (!ReadConditions(&list)) return std::nullopt;
                header.lists.push_back(std::move(list));
                tagWithoutList = false;
            } else {
                return std::nullopt;
            }
            SkipBlanks();
        }
        if (tagWithoutList) return std::nullopt;
        return header;
    }

  private:
    bool ReadConditions(IfList* list) {
        for (;;) {
            SkipBlanks();
            if (AtEnd()) return false;
            if (Peek() == ')') {
                ++position_;
                return !list->conditions.empty();
            }
            IfCondition condition;
            if (text_.substr(position_, 3) == "Not" || text_.substr(position_, 3) == "not") {
                condition.negated = true;
                position_ += 3;
                SkipBlanks();
                if (AtEnd()) return false;
            }
            if (Peek() == '<') {
                std::optional<std::string> token = Enclosed('<', '>');
                if (!token) return false;
                condition.isToken = true;
                condition.value = std::move(*token);
            } else if (Peek() == '[') {
                std::optional<std::string> tag = Enclosed('[', ']');
                if (!tag) return false;
                condition.value = std::string(platform::Trim(*tag));
            } else {
                return false;
            }
            list->conditions.push_back(std::move(condition));
        }
    }

    // The text between `open` (at the position) and the next `close`.
    std::optional<std::string> Enclosed(char open, char close) {
        if (Peek() != open) return std::nullopt;
        const size_t end = text_.find(close, position_ + 1);
        if (end == std::string_view::npos) return std::nullopt;
        std::string inside(text_.substr(position_ + 1, end - position_ - 1));
        position_ = end + 1;
        return inside;
    }

    void SkipBlanks() {
        while (!AtEnd() && (Peek() == ' ' || Peek() == '\t')) ++position_;
    }
    bool AtEnd() const { return position_ >= text_.size(); }
    char Peek() const { return text_[position_]; }

    std::string_view text_;
    size_t position_ = 0;
};

// Entity tags compared strongly, as the header asks: a weak tag matches nothing.
bool SameStrongTag(std::string_view a, std::string_view b) {
    return !a.empty() && a == b && a.substr(0, 2) != "W/";
}

}  // namespace

std::vector<std::string> IfHeader::Tokens() const {
    std::vector<std::string> tokens;
    for (const IfList& list : lists) {
        for (const IfCondition& condition : list.conditions) {
            if (condition.isToken && !condition.negated) tokens.push_back(condition.value);
        }
    }
    return tokens;
}

std::optional<IfHeader> ParseIfHeader(std::string_view value) { return IfReader(value).Read(); }

bool IfHeaderHolds(
    const IfHeader& header,
    const std::function<std::optional<IfResourceState>(const std::optional<std::string>& resource)>&
        stateOf) {
    for (const IfList& list : header.lists) {
        const std::optional<IfResourceState> state = stateOf(list.resource);
        if (!state) continue;
        bool holds = true;
        for (const IfCondition& condition : list.conditions) {
            const bool met = condition.isToken ? state->lockedBy && state->lockedBy(condition.value)
                                               : SameStrongTag(condition.value, state->entityTag);
            if (met == condition.negated) {
                holds = false;
                break;
            }
        }
        if (holds) return true;
    }
    return false;
}

}  // namespace webdav
