// Values as the applications write them into the owner's files.
#include "apps/stored_text.h"

#include <cstdint>
#include <cstdio>

#include "platform/text.h"

namespace apps {
namespace {

// The code point of the well-formed UTF-8 sequence at the start of `text` (no overlong form,
// no surrogate, nothing above U+10FFFF) and its length; length 0 when there is none.
struct Decoded {
    char32_t code = 0;
    size_t length = 0;
};

Decoded DecodeUtf8(std::string_view text) {
    const auto byte = [&text](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return {lead, 1};
    const platform::Utf8Start start = platform::Utf8StartOf(lead);
    const size_t length = start.length;
    if (length == 0 || text.size() < length || byte(1) < start.low || byte(1) > start.high) {
        return {};
    }
    char32_t code = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if (i > 1 && (byte(i) & 0xC0) != 0x80) return {};
        code = (code << 6) | (byte(i) & 0x3F);
    }
    return {code, length};
}

bool IsKeptInXml(char32_t code) {
    if (code < 0x20) return code == '\t' || code == '\n' || code == '\r';
    if (code >= 0x7F && code <= 0x9F) return false;
    return code != 0xFFFE && code != 0xFFFF;
}

}  // namespace

std::string XmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        Decoded decoded = DecodeUtf8(text);
        if (decoded.length > 0) {
            if (IsKeptInXml(decoded.code)) out.append(text.substr(0, decoded.length));
            text.remove_prefix(decoded.length);
            continue;
        }
        // A byte of no sequence: the Latin-1 character of that number, 0x80 and above.
        const auto latin1 = static_cast<unsigned char>(text.front());
        text.remove_prefix(1);
        if (!IsKeptInXml(latin1)) continue;
        out += static_cast<char>(0xC0 | (latin1 >> 6));
        out += static_cast<char>(0x80 | (latin1 & 0x3F));
    }
    return out;
}

std::string_view CutUtf8(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

std::string OneLineValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if ((byte < 0x20 && c != '\t') || byte == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace apps
