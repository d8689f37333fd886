// Small text helpers shared by every layer: trimming and comparisons without regard to
// letter case (ASCII letters only, so bytes of other characters never compare equal by
// accident).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The text without leading and trailing spaces and tabs.
std::string_view Trim(std::string_view text);

inline char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
inline char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The value of a hexadecimal digit in either case, or -1 for any other character.
inline int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The ASCII control characters and DEL: any of them could end or forge a line of a header,
// a log or a stored file.
inline bool IsControlCharacter(char c) {
    unsigned char byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}
bool HasControlCharacter(std::string_view text);
// The shape of the UTF-8 sequence a byte starts: its length (1 for ASCII, 0 for a byte that
// starts none) and the range the byte after it must lie in, which rules out overlong forms,
// surrogates and code points above U+10FFFF.
struct Utf8Start {
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
};
Utf8Start Utf8StartOf(unsigned char lead);
// Whether the first bytes of a file read as text: no NUL byte and valid UTF-8 (no overlong
// forms, surrogates or code points above U+10FFFF). A sequence cut off by the end of the
// sample counts as valid when the bytes it has are right.
bool IsTextSample(std::string_view sample);

bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
std::string LowerCopy(std::string_view text);
std::string UpperCopy(std::string_view text);
// The text without any of the characters in `drop`.
std::string WithoutCharacters(std::string_view text, std::string_view drop);

// The decimal prefix of `text`: an optional sign, then digits up to the first other
// character, held to the range of long. No digits give 0.
long ParseDecimalPrefix(std::string_view text);
// All of `text` as a decimal of digits alone (no sign, no blank); std::nullopt for anything
// else, an empty text or a value beyond 64 bits.
std::optional<uint64_t> ParseDigits(std::string_view text);
// The same after any leading white space (space, tab, line ends, vertical tab, form feed), as
// a C program reads a number from a text a person typed.
long ParseDecimalAfterSpace(std::string_view text);

// Replaces every `from` with `to`.
void ReplaceChar(std::string& text, char from, char to);
// Appends "/" to a path that is not empty and does not end in one.
void EndWithSlash(std::string& path);
// The text with &, <, >, " and ' written as character references, so it can stand in an
// HTML page or a quoted attribute value whatever it holds.
std::string EscapeHtml(std::string_view text);
// The characters EscapeHtml rewrites: a text without them stands in a page as it is.
inline constexpr std::string_view kHtmlSpecialCharacters = "&<>\"'";
// Decodes "+" and "%XX" escapes in place; a "%" without two hex digits after it is dropped.
void UrlDecode(std::string& text);
// Decodes the "%XX" escapes alone, as a path is decoded where "+" is no blank (the network
// drive's); a "%" without two hex digits after it is dropped.
void PercentDecode(std::string& text);
// A file name as it stands in a link: the characters that would break the link, be read as
// a query or be decoded into something else are written as %XX escapes; all others
// (including "#" and bytes above 127) are kept.
std::string UrlEncodeName(std::string_view name);
// `text` with every byte but ASCII letters, digits and "-._~" percent-encoded: safe in a query,
// a header's value or an RFC 5987 parameter, whatever the bytes.
std::string PercentEncode(std::string_view text);
// A link to a name beside the page, read as relative by every browser: "./" goes before a
// link holding a ":" ahead of its first "/", which would otherwise name a scheme
// ("javascript:alert(1)"); every other link is returned as it is.
std::string RelativeLink(std::string_view link);

// True when `a` comes before `b` in the order a person sorts names by: runs of digits by
// their value ("file-2" before "file-10"), letters without regard to case, ties by the bytes.
bool NaturalLess(std::string_view a, std::string_view b);
// A key for sorting many names in that order at the cost of one pass over each: for names whose
// keys differ, the smaller key is the name NaturalLess puts first (equal keys: compare the
// names themselves).
std::string NaturalSortKey(std::string_view name);
// A size as a person reads it, in powers of 1000: "512 bytes", "1.2 kB", "4.9 MB".
std::string HumanSize(uint64_t bytes);
// A count with its thousands grouped by commas: "4,938,221".
std::string GroupedDecimal(uint64_t value);
// Decodes the Base64 characters up to the first character outside the alphabet ("=", a
// blank or anything else ends the input). A trailing group of 2 or 3 characters gives 1 or
// 2 bytes; a single trailing character gives nothing.
std::string Base64Decode(std::string_view encoded);

}  // namespace platform
