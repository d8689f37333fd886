// The header lookups on a request's header text (lines ended by CR, as the head reader keeps
// them): by name without case at a line's start, every value of a repeated header, the page
// handlers' literal lookup, and the declared body length.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "http/request.h"

namespace http {
namespace {

constexpr std::string_view kHeaders =
    "Host: example.com\r"
    "X-Forwarded-For: 192.0.2.1\r"
    "content-length:  12 \t\r"
    "X-Note: Host: inner\r"
    "Hostname: other\r"
    "X-Forwarded-For:198.51.100.2, 203.0.113.3\r"
    "Empty:\r"
    "Spaced : no\r"
    "\r";

TEST(HeaderLookupTest, FindHeaderMatchesWholeNamesAtLineStartsWithoutCase) {
    const std::pair<const char*, std::optional<std::string_view>> cases[] = {
        {"Host", "example.com"},
        {"HOST", "example.com"},
        {"Content-Length", "12"},  // blanks around the value removed
        {"X-Note", "Host: inner"},
        {"Hostname", "other"},             // not taken for Host, nor Host for it
        {"X-Forwarded-For", "192.0.2.1"},  // the first of several
        {"Empty", ""},
        {"Spaced", std::nullopt},  // a blank before the colon is no name
        {"X", std::nullopt},
        {"Note", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [name, value] : cases) EXPECT_EQ(FindHeader(kHeaders, name), value) << name;

    EXPECT_EQ(FindHeaders(kHeaders, "x-forwarded-for"),
              (std::vector<std::string_view>{"192.0.2.1", "198.51.100.2, 203.0.113.3"}));
    EXPECT_TRUE(FindHeaders(kHeaders, "Forwarded").empty());
    // The last line needs no CR; a text without lines has no header.
    EXPECT_EQ(FindHeader("A: 1\rB: 2", "b"), "2");
    EXPECT_EQ(FindHeader("", "Host"), std::nullopt);
}

TEST(HeaderLookupTest, FindHeaderValueTakesTheLiteralNameAnywhereAndCutsTheValue) {
    struct Case {
        std::string_view headers;
        const char* name;
        size_t capacity;
        std::optional<std::string> value;
    };
    const Case cases[] = {
        {kHeaders, "Host", 100, "example.com"},
        {kHeaders, "Host", 5, "exam"},
        {kHeaders, "Host", 0, "example.com"},   // 0: no cut
        {kHeaders, "host", 100, std::nullopt},  // the case as written
        {kHeaders, "Content-Length", 100, std::nullopt},
        {kHeaders, "Empty", 100, std::nullopt},  // no blank after the colon
        {"X-Content-Length: 5\r", "Content-Length", 100, "5"},
        {"Host:  two \r", "Host", 100, " two "},    // only one blank is the separator
        {"Host: open", "Host", 100, std::nullopt},  // a value must end its line
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FindHeaderValue(c.headers, c.name, c.capacity), c.value)
            << c.name << " in " << c.headers;
    }
}

TEST(HeaderLookupTest, DeclaredContentLengthIsDigitsOnlyThatFit) {
    const std::pair<const char*, std::optional<uint64_t>> cases[] = {
        {"Content-Length: 12\r", 12},
        {"content-length:0\r", 0},
        {"Content-Length:  007 \r", 7},
        {"Content-Length: 18446744073709551615\r", UINT64_MAX},
        {"Host: x\rContent-Length: 5\r\r", 5},
        {"Content-Length: 18446744073709551616\r", std::nullopt},
        {"Content-Length: -1\r", std::nullopt},
        {"Content-Length: +5\r", std::nullopt},
        {"Content-Length: 5x\r", std::nullopt},
        {"Content-Length: 0x10\r", std::nullopt},
        {"Content-Length: 1 2\r", std::nullopt},
        {"Content-Length: 1e3\r", std::nullopt},
        {"Content-Length:\r", std::nullopt},
        {"X-Content-Length: 5\r", std::nullopt},
        {"Host: x\r\r", std::nullopt},
    };
    for (const auto& [headers, length] : cases) {
        EXPECT_EQ(DeclaredContentLength(headers), length) << headers;
    }
}

}  // namespace
}  // namespace http
