// Reading the entity tags of a request's conditions.
#include "http/entity_tags.h"

#include <cstddef>
#include <optional>

#include "platform/text.h"

namespace http {
namespace {

struct Tag {
    std::string_view opaque;  // between the quotes
    bool weak = false;
};

// A character an opaque tag may hold: any visible one but the double quote, and any byte
// above ASCII.
bool IsTagCharacter(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte == 0x21 || (byte >= 0x23 && byte <= 0x7e) || byte >= 0x80;
}

// The entity tag at the start of `text`, with in `*length` the characters it takes;
// nothing when `text` does not begin with a whole one.
std::optional<Tag> TagAt(std::string_view text, size_t* length) {
    Tag tag;
    size_t at = 0;
    if (text.starts_with("W/")) {
        tag.weak = true;
        at = 2;
    }
    if (at >= text.size() || text[at] != '"') return std::nullopt;
    const size_t opaqueStart = at + 1;
    size_t end = opaqueStart;
    while (end < text.size() && IsTagCharacter(text[end])) ++end;
    if (end >= text.size() || text[end] != '"') return std::nullopt;
    tag.opaque = text.substr(opaqueStart, end - opaqueStart);
    *length = end + 1;
    return tag;
}

// `value` as exactly one entity tag, blanks around it aside.
std::optional<Tag> WholeTag(std::string_view value) {
    value = platform::Trim(value);
    size_t length = 0;
    std::optional<Tag> tag = TagAt(value, &length);
    if (!tag || length != value.size()) return std::nullopt;
    return tag;
}

std::string_view SkipBlanks(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

}  // namespace

bool EntityTagListMatches(std::string_view headerValue, std::string_view tag, bool weakComparison) {
    const std::optional<Tag> wanted = WholeTag(tag);
    if (!wanted) return false;
    if (platform::Trim(headerValue) == "*") return true;
    bool matched = false;
    std::string_view rest = headerValue;
    for (;;) {
        // Blanks and empty entries between the tags.
        const size_t next = rest.find_first_not_of(" \t,");
        if (next == std::string_view::npos) return matched;
        rest.remove_prefix(next);
        size_t length = 0;
        const std::optional<Tag> listed = TagAt(rest, &length);
        if (!listed) return false;
        rest = SkipBlanks(rest.substr(length));
        // A tag is followed by the next entry's comma or by the end, nothing else.
        if (!rest.empty() && rest.front() != ',') return false;
        // The list is read to its end even after a match: a malformed tail voids it all.
        matched = matched || (listed->opaque == wanted->opaque &&
                              (weakComparison || (!listed->weak && !wanted->weak)));
    }
}

bool IsEntityTag(std::string_view value) { return WholeTag(value).has_value(); }

}  // namespace http
