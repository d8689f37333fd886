// Values written into the owner's files: XML text that is always UTF-8 a parser accepts, and
// one-line values that never start a line of their own.
#include "apps/stored_text.h"

#include <gtest/gtest.h>

#include <string>

namespace apps {
namespace {

TEST(StoredTextTest, XmlTextIsUtf8WithoutControlCharacters) {
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"plain <text> & more", "plain <text> & more"},
        {"tab\there\r\nline", "tab\there\r\nline"},
        // windows-1252 and Latin-1 bytes become the Latin-1 characters.
        {"caf\xe9", "caf\xc3\xa9"},
        {"\xff\xc3", "\xc3\xbf\xc3\x83"},
        // Well-formed UTF-8 is kept: two, three and four bytes.
        {"\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
        // Overlong forms, surrogates, code points above U+10FFFF and cut sequences are bytes
        // of no sequence (those from 0x80 to 0x9F then stand for controls, and go).
        {"\xc0\xaf", "\xc3\x80\xc2\xaf"},
        {"\xed\xa0\x80", "\xc3\xad\xc2\xa0"},
        {"\xf4\x90\x80\x80", "\xc3\xb4"},
        {"\xe2\x82!", "\xc3\xa2!"},
        // Controls go: C0 apart from tab and line ends, DEL, C1 (as a byte or as UTF-8), and
        // the two non-characters.
        {std::string("a\0b\x01\x0b\x0c\x1b\x7f"
                     "c",
                     9),
         "abc"},
        {"\x85\x9f\xc2\x85\xc2\xa0", "\xc2\xa0"},
        {"\xef\xbf\xbe\xef\xbf\xbf\xef\xbf\xbd", "\xef\xbf\xbd"},
    };
    for (const Case& c : cases) EXPECT_EQ(XmlText(c.in), c.out) << c.in;
}

TEST(StoredTextTest, CutUtf8EndsBetweenCharacters) {
    const std::string text = "ab\xc3\xa9\xe2\x82\xac";  // a b é €
    const size_t expected[] = {0, 1, 2, 2, 4, 4, 4, 7, 7};
    for (size_t limit = 0; limit < std::size(expected); ++limit) {
        EXPECT_EQ(CutUtf8(text, limit), text.substr(0, expected[limit])) << limit;
    }
}

TEST(StoredTextTest, OneLineValueNeverEndsTheLine) {
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"/VNT/HandlePost.html?x=y z", "/VNT/HandlePost.html?x=y z"},
        {"1\r\nREMOTE_ADDR :6.6.6.6", "1\\r\\nREMOTE_ADDR :6.6.6.6"},
        {"a\\r", "a\\\\r"},
        {"t\tab\x0b\x7f", "t\tab\\x0B\\x7F"},
        {"caf\xc3\xa9", "caf\xc3\xa9"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OneLineValue(c.in), c.out) << c.in;
        EXPECT_EQ(OneLineValue(c.in).find_first_of("\r\n"), std::string::npos);
    }
}

}  // namespace
}  // namespace apps
