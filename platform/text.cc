// Text helpers.
#include "platform/text.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <iterator>

namespace platform {

std::string_view Trim(std::string_view text) {
    constexpr std::string_view kBlanks = " \t";
    std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

bool HasControlCharacter(std::string_view text) {
    for (char c : text) {
        if (IsControlCharacter(c)) return true;
    }
    return false;
}

Utf8Start Utf8StartOf(unsigned char lead) {
    Utf8Start start;
    if (lead < 0x80) {
        start.length = 1;
    } else if (lead >= 0xc2 && lead <= 0xdf) {
        start.length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        start.length = 3;
        if (lead == 0xe0) start.low = 0xa0;
        if (lead == 0xed) start.high = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        start.length = 4;
        if (lead == 0xf0) start.low = 0x90;
        if (lead == 0xf4) start.high = 0x8f;
    }
    return start;
}

bool IsTextSample(std::string_view sample) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(sample.data());
    std::size_t size = sample.size();
    std::size_t i = 0;
    while (i < size) {
        if (bytes[i] == 0) return false;
        Utf8Start start = Utf8StartOf(bytes[i]);
        if (start.length == 0) return false;
        for (std::size_t k = 1; k < start.length; ++k) {
            if (i + k == size) return true;
            unsigned char next = bytes[i + k];
            bool inRange =
                k == 1 ? next >= start.low && next <= start.high : next >= 0x80 && next <= 0xbf;
            if (!inRange) return false;
        }
        i += start.length;
    }
    return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string LowerCopy(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = AsciiLower(c);
    return lower;
}

std::string UpperCopy(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) c = AsciiUpper(c);
    return upper;
}

std::string WithoutCharacters(std::string_view text, std::string_view drop) {
    std::string kept;
    kept.reserve(text.size());
    for (char c : text) {
        if (drop.find(c) == std::string_view::npos) kept += c;
    }
    return kept;
}

void ReplaceChar(std::string& text, char from, char to) {
    for (char& c : text) {
        if (c == from) c = to;
    }
}

void EndWithSlash(std::string& path) {
    if (!path.empty() && path.back() != '/') path.push_back('/');
}

std::string EscapeHtml(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&#39;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

void UrlDecode(std::string& text) {
    for (char& c : text) {
        if (c == '+') c = ' ';
    }
    PercentDecode(text);
}

void PercentDecode(std::string& text) {
    size_t out = 0;
    for (size_t in = 0; in < text.size(); ++in) {
        if (text[in] != '%') {
            text[out++] = text[in];
            continue;
        }
        int high = in + 2 < text.size() ? platform::HexDigitValue(text[in + 1]) : -1;
        int low = in + 2 < text.size() ? platform::HexDigitValue(text[in + 2]) : -1;
        if (high >= 0 && low >= 0) {
            text[out++] = static_cast<char>(high * 16 + low);
            in += 2;
        }
        // A "%" without two hex digits after it is dropped alone.
    }
    text.resize(out);
}

long ParseDecimalAfterSpace(std::string_view text) {
    size_t start = text.find_first_not_of(" \t\n\v\f\r");
    return ParseDecimalPrefix(start == std::string_view::npos ? "" : text.substr(start));
}

std::string UrlEncodeName(std::string_view name) {
    static constexpr std::string_view kEscaped = " %&+?[\\]^`{|}~\"";
    std::string encoded;
    encoded.reserve(name.size() + 8);
    for (char c : name) {
        unsigned char byte = static_cast<unsigned char>(c);
        // Control characters are escaped too, so a name can never end a header line or
        // break out of the attribute it stands in.
        if (kEscaped.find(c) != std::string_view::npos || byte < 0x20 || byte == 0x7f) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            encoded.push_back('%');
            encoded.push_back(kHex[byte >> 4]);
            encoded.push_back(kHex[byte & 15]);
        } else {
            encoded.push_back(c);
        }
    }
    return encoded;
}

std::string PercentEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out.push_back(c);
        } else {
            out.append({'%', kHex[byte >> 4], kHex[byte & 15]});
        }
    }
    return out;
}

std::string RelativeLink(std::string_view link) {
    size_t colon = link.find(':');
    if (colon == std::string_view::npos || link.find('/') < colon) return std::string(link);
    std::string relative = "./";
    relative.append(link);
    return relative;
}

long ParseDecimalPrefix(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const unsigned long limit =
        negative ? static_cast<unsigned long>(LONG_MAX) + 1 : static_cast<unsigned long>(LONG_MAX);
    unsigned long magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        unsigned long digit = static_cast<unsigned long>(text[i] - '0');
        magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
    }
    if (!negative) return static_cast<long>(magnitude);
    return magnitude == static_cast<unsigned long>(LONG_MAX) + 1 ? LONG_MIN
                                                                 : -static_cast<long>(magnitude);
}

}  // namespace platform

namespace platform {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool NaturalLess(std::string_view a, std::string_view b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        // Names mostly share their beginnings: equal letters go by at once.
        if (a[i] == b[j] && !IsDigit(a[i])) {
            ++i;
            ++j;
            continue;
        }
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            // Leading zeros aside, the longer run of digits is the larger number; runs of one
            // length compare digit by digit.
            while (i < a.size() && a[i] == '0') ++i;
            while (j < b.size() && b[j] == '0') ++j;
            size_t endA = i;
            size_t endB = j;
            while (endA < a.size() && IsDigit(a[endA])) ++endA;
            while (endB < b.size() && IsDigit(b[endB])) ++endB;
            if (endA - i != endB - j) return endA - i < endB - j;
            for (; i < endA; ++i, ++j) {
                if (a[i] != b[j]) return a[i] < b[j];
            }
            continue;
        }
        char x = AsciiLower(a[i]);
        char y = AsciiLower(b[j]);
        if (x != y) {
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
        }
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
    return a < b;
}

std::string NaturalSortKey(std::string_view name) {
    std::string key;
    key.reserve(name.size() + 4);
    for (size_t i = 0; i < name.size();) {
        if (!IsDigit(name[i])) {
            key.push_back(AsciiLower(name[i++]));
            continue;
        }
        // A run of digits: a mark that sorts as a digit does, the run's length without its
        // leading zeros (names are shorter than 256 bytes), then its digits.
        while (i < name.size() && name[i] == '0') ++i;
        size_t end = i;
        while (end < name.size() && IsDigit(name[end])) ++end;
        key.push_back('0');
        key.push_back(static_cast<char>(std::min<size_t>(end - i, 255)));
        key.append(name.substr(i, end - i));
        i = end;
    }
    return key;
}

std::string HumanSize(uint64_t bytes) {
    if (bytes < 1000) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    static constexpr const char* kUnits[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
    // Tenths of the unit, rounded half up; a size that rounds to 1000 of a unit is written
    // in the next one ("999,960 bytes" is "1.0 MB", not "1000.0 kB").
    uint64_t tenth = 100;
    size_t unit = 0;
    auto roundedTenths = [&] { return bytes / tenth + ((bytes % tenth) * 2 >= tenth ? 1 : 0); };
    while (roundedTenths() >= 10000 && unit + 1 < std::size(kUnits)) {
        tenth *= 1000;
        ++unit;
    }
    const uint64_t tenths = roundedTenths();
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " " + kUnits[unit];
}

std::optional<uint64_t> ParseDigits(std::string_view text) {
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string GroupedDecimal(uint64_t value) {
    std::string digits = std::to_string(value);
    std::string grouped;
    grouped.reserve(digits.size() + digits.size() / 3);
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped.push_back(',');
        grouped.push_back(digits[i]);
    }
    return grouped;
}

namespace {

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::string Base64Decode(std::string_view encoded) {
    std::string out;
    out.reserve(encoded.size() / 4 * 3 + 2);
    uint32_t bits = 0;
    int pending = 0;  // characters in `bits` not yet turned into bytes
    for (char c : encoded) {
        int value = Base64Value(c);
        if (value < 0) break;
        bits = bits << 6 | static_cast<uint32_t>(value);
        if (++pending == 4) {
            out += static_cast<char>(bits >> 16 & 0xff);
            out += static_cast<char>(bits >> 8 & 0xff);
            out += static_cast<char>(bits & 0xff);
            bits = 0;
            pending = 0;
        }
    }
    if (pending == 2) {
        out += static_cast<char>(bits >> 4 & 0xff);
    } else if (pending == 3) {
        out += static_cast<char>(bits >> 10 & 0xff);
        out += static_cast<char>(bits >> 2 & 0xff);
    }
    return out;
}

}  // namespace platform
