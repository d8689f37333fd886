// URL decoding and encoding, the path requests are routed by, relative links, and the
// access log's line format.
#include <gtest/gtest.h>

#include "platform/text.h"
#include "site/access_log.h"
#include "site/app_connection.h"

namespace site {
namespace {

TEST(UrlDecodeTest, PlusEscapesAndBrokenEscapes) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"/a%20b.html", "/a b.html"},
        {"/a+b.html", "/a b.html"},
        {"/a%2Bb", "/a+b"},
        {"/a%zzb", "/azzb"},
        {"/%2e%2e/x", "/../x"},
        {"/%2E%2e%2F", "/../"},
        {"%", ""},
        {"%4", "4"},
        {"ab%", "ab"},
        {"%41%42", "AB"},
        {"%00", std::string(1, '\0')},
        {"100%", "100"},
        {"%%41", "A"},
    };
    for (const Case& c : cases) {
        std::string text = c.in;
        UrlDecode(text);
        EXPECT_EQ(text, c.out) << c.in;
    }
}

TEST(UrlEncodeNameTest, EscapesWhatWouldBreakALinkOnly) {
    EXPECT_EQ(UrlEncodeName("a b&c.txt"), "a%20b%26c.txt");
    EXPECT_EQ(UrlEncodeName("x#y"), "x#y");
    EXPECT_EQ(UrlEncodeName("%+?[\\]^`{|}~"), "%25%2B%3F%5B%5C%5D%5E%60%7B%7C%7D%7E");
    EXPECT_EQ(UrlEncodeName("line\r\nbreak\"q"), "line%0D%0Abreak%22q");
    EXPECT_EQ(UrlEncodeName("caf\xc3\xa9"), "caf\xc3\xa9");
}

// A text and what a helper makes of it.
struct Rewrite {
    std::string_view in, out;
};

TEST(RoutePathTest, DropsEmptyAndDotSegmentsKeepsDotDotTheDirectorySlashAndTheQuery) {
    const Rewrite cases[] = {
        {"", ""},
        {"/", ""},
        {"/./", ""},
        {"index.html", "index.html"},
        {"//cgi-bin/t.pl", "cgi-bin/t.pl"},
        {"/./cgi-bin//./t.pl", "cgi-bin/t.pl"},
        {"/sub/", "sub/"},
        {"/sub/.", "sub/"},
        {"/a/../b", "a/../b"},
        {"/.../x", ".../x"},
        {"/.?q=1", "?q=1"},
        {"//sub/?a=/./b//c", "sub/?a=/./b//c"},
    };
    for (const Rewrite& c : cases) EXPECT_EQ(RoutePath(c.in), c.out) << c.in;
}

TEST(RelativeLinkTest, OnlyANameThatWouldReadAsASchemeGetsDotSlash) {
    const Rewrite cases[] = {
        {"javascript:alert(1)", "./javascript:alert(1)"},
        {"data:text/", "./data:text/"},
        {"sub/a:b", "sub/a:b"},
        {"plain.txt", "plain.txt"},
        {"../", "../"},
        {"", ""},
    };
    for (const Rewrite& c : cases) EXPECT_EQ(platform::RelativeLink(c.in), c.out) << c.in;
}

TEST(PathHelpersTest, EndWithSlashEndsADirectoryWithOneSeparator) {
    std::string empty;
    EndWithSlash(empty);
    EXPECT_EQ(empty, "");
    std::string dir = "/srv/www";
    EndWithSlash(dir);
    EndWithSlash(dir);
    EXPECT_EQ(dir, "/srv/www/");
}

TEST(AccessLogLineTest, CommonFormatWithStandardZoneOffset) {
    platform::CalendarTime t;
    t.year = 2026;
    t.month = 12;
    t.day = 5;
    t.hour = 9;
    t.minute = 7;
    t.second = 3;
    uint32_t address = (192u << 24) | (168u << 16) | 7u;
    EXPECT_EQ(FormatLogLine(address, t, -300, "/a b.html", 200, 5000),
              "192.168.0.7 - - [05/Dec/2026:09:07:03 -0500] \"/a b.html\" 200 5000\r\n");
    EXPECT_EQ(FormatLogLine(address, t, 330, "/", 404, 0),
              "192.168.0.7 - - [05/Dec/2026:09:07:03 +0530] \"/\" 404 0\r\n");
    EXPECT_EQ(FormatLogLine(address, t, 0, "/", 200, 1),
              "192.168.0.7 - - [05/Dec/2026:09:07:03 +0000] \"/\" 200 1\r\n");
    EXPECT_EQ(
        FormatLogLine(address, t, 60, "/x\r\nforged", 200, 6000000000ull),
        "192.168.0.7 - - [05/Dec/2026:09:07:03 +0100] \"/x\\x0D\\x0Aforged\" 200 6000000000\r\n");
}

}  // namespace
}  // namespace site
