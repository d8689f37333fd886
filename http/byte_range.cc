// Parsing of the Range header.
#include "http/byte_range.h"

#include <optional>

#include "platform/text.h"

namespace http {
namespace {

void SkipSpaces(std::string_view& text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
}

// A run of digits, saturating at UINT64_MAX (no file is that large, so a saturated first
// byte is simply beyond the end); std::nullopt when there is no digit.
std::optional<uint64_t> ReadNumber(std::string_view& text) {
    if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
    uint64_t value = 0;
    while (!text.empty() && text.front() >= '0' && text.front() <= '9') {
        uint64_t digit = static_cast<uint64_t>(text.front() - '0');
        value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
        text.remove_prefix(1);
    }
    return value;
}

}  // namespace

ByteRange ParseByteRange(std::string_view value, uint64_t size) {
    ByteRange whole;
    SkipSpaces(value);
    constexpr std::string_view kUnit = "bytes";
    if (!platform::StartsWithNoCase(value, kUnit)) return whole;
    value.remove_prefix(kUnit.size());
    SkipSpaces(value);
    if (value.empty() || value.front() != '=') return whole;
    value.remove_prefix(1);
    SkipSpaces(value);

    std::optional<uint64_t> first = ReadNumber(value);
    SkipSpaces(value);
    if (value.empty() || value.front() != '-') return whole;
    value.remove_prefix(1);
    SkipSpaces(value);
    std::optional<uint64_t> last = ReadNumber(value);
    SkipSpaces(value);
    // Anything left, a second range included, means the whole file.
    if (!value.empty() || (!first && !last)) return whole;

    ByteRange range{ByteRange::Kind::kUnsatisfiable, 0, 0};
    if (!first) {
        // The last n bytes.
        if (*last == 0 || size == 0) return range;
        range.first = *last >= size ? 0 : size - *last;
        range.last = size - 1;
    } else {
        if (last && *last < *first) return whole;
        if (*first >= size) return range;
        range.first = *first;
        range.last = last && *last < size ? *last : size - 1;
    }
    range.kind = ByteRange::Kind::kPart;
    return range;
}

}  // namespace http
