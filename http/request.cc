// Requests: the head split into its request line and header lines, and the lookups of the
// header lines.
#include "http/request.h"

#include <algorithm>

#include "platform/text.h"

namespace http {
namespace {

using platform::EqualsNoCase;

// The value of `line` when it is a line of header `name`, blanks around it removed.
std::optional<std::string_view> ValueOfLine(std::string_view line, std::string_view name) {
    if (line.size() <= name.size() || line[name.size()] != ':' ||
        !EqualsNoCase(line.substr(0, name.size()), name)) {
        return std::nullopt;
    }
    std::string_view value = line.substr(name.size() + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    return value;
}

// Calls `found` with each value of header `name` in order until it returns false.
template <typename Found>
void ForEachHeader(std::string_view headers, std::string_view name, Found found) {
    size_t lineStart = 0;
    while (lineStart < headers.size()) {
        size_t lineEnd = headers.find('\r', lineStart);
        if (lineEnd == std::string_view::npos) lineEnd = headers.size();
        if (std::optional<std::string_view> value =
                ValueOfLine(headers.substr(lineStart, lineEnd - lineStart), name)) {
            if (!found(*value)) return;
        }
        lineStart = lineEnd + 1;
    }
}

}  // namespace

std::optional<std::string_view> FindHeader(std::string_view headers, std::string_view name) {
    std::optional<std::string_view> first;
    ForEachHeader(headers, name, [&first](std::string_view value) {
        first = value;
        return false;
    });
    return first;
}

std::vector<std::string_view> FindHeaders(std::string_view headers, std::string_view name) {
    std::vector<std::string_view> values;
    ForEachHeader(headers, name, [&values](std::string_view value) {
        values.push_back(value);
        return true;
    });
    return values;
}

std::optional<std::string> FindHeaderValue(std::string_view headers, std::string_view name,
                                           size_t capacity) {
    std::string pattern(name);
    pattern.append(": ");
    size_t at = headers.find(pattern);
    if (at == std::string_view::npos) return std::nullopt;
    size_t start = at + pattern.size();
    size_t end = headers.find('\r', start);
    if (end == std::string_view::npos) return std::nullopt;
    std::string value(headers.substr(start, end - start));
    if (capacity > 0 && value.size() > capacity - 1) value.resize(capacity - 1);
    return value;
}

std::vector<std::pair<std::string, std::string>> QueryParameters(std::string_view target) {
    std::vector<std::pair<std::string, std::string>> parameters;
    const size_t question = target.find('?');
    if (question == std::string_view::npos) return parameters;
    std::string_view query = target.substr(question + 1);
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view piece = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
        const size_t equals = piece.find('=');
        std::string name(piece.substr(0, equals));
        std::string value(equals == std::string_view::npos ? std::string_view{}
                                                           : piece.substr(equals + 1));
        platform::UrlDecode(name);
        platform::UrlDecode(value);
        parameters.emplace_back(std::move(name), std::move(value));
    }
    return parameters;
}

std::optional<uint64_t> DeclaredContentLength(std::string_view headers) {
    std::optional<std::string_view> declared = FindHeader(headers, "Content-Length");
    if (!declared) return std::nullopt;
    return platform::ParseDigits(*declared);
}

void Request::ReplaceTransferCoding(uint64_t length) {
    std::string head(head_, 0, headers_.start);
    std::string_view headers = headerText();
    while (!headers.empty()) {
        const size_t end = std::min(headers.find('\r'), headers.size());
        const std::string_view line = headers.substr(0, end);
        if (!line.empty() && !ValueOfLine(line, "Transfer-Encoding"))
            head.append(line).append("\r");
        headers.remove_prefix(std::min(end + 1, headers.size()));
    }
    head.append("Content-Length: ").append(std::to_string(length)).append("\r\r");
    head_ = std::move(head);
    SplitLine();
}

void Request::Clear() {
    head_.clear();
    method_ = target_ = protocol_ = headers_ = {};
}

Request::LineResult Request::SplitLine() {
    const std::string_view all = head_;
    size_t lineEnd = all.find('\r');
    if (lineEnd == std::string_view::npos) return LineResult::kDropped;
    headers_ = {lineEnd + 1, all.size() - lineEnd - 1};
    std::string_view line = all.substr(0, lineEnd);
    // A zero byte could cut a name short wherever the text reaches the system: the request
    // is refused, whatever part of the line holds it.
    const bool holdsZero = line.find('\0') != std::string_view::npos;

    size_t space = line.find(' ');
    if (space == std::string_view::npos) return holdsZero ? LineResult::kBad : LineResult::kDropped;
    std::string_view rest = line.substr(space + 1);
    if (rest.size() > kMaxUrlLength) rest = rest.substr(0, kMaxUrlLength);
    size_t urlEnd = rest.find(' ');
    if (urlEnd == std::string_view::npos) {
        if (!holdsZero) return LineResult::kDropped;
        target_ = {space + 1, rest.size()};
        return LineResult::kBad;
    }
    for (size_t i = 0; i < space; ++i) head_[i] = platform::AsciiUpper(head_[i]);
    method_ = {0, space};
    target_ = {space + 1, urlEnd};
    const size_t protocolStart = space + 1 + urlEnd + 1;
    protocol_ = {protocolStart, lineEnd - std::min(protocolStart, lineEnd)};
    return holdsZero ? LineResult::kBad : LineResult::kComplete;
}

}  // namespace http
