// The header date: the server's own format, and the forms clients send back read to the
// second, checked against the C library's calendar.
#include "http/http_date.h"

#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace http {
namespace {

// 6 November 1994, 08:49:37 UTC, a Sunday.
constexpr std::time_t kSunday = 784111777;

// `utc` written by strftime in one of the forms clients send.
std::string Strftime(const char* format, std::time_t utc) {
    std::tm tm{};
    gmtime_r(&utc, &tm);
    char text[80];
    return std::string(text, std::strftime(text, sizeof text, format, &tm));
}

TEST(HttpDateTest, FullStopAfterWeekdayAndDayWithoutPadding) {
    const std::pair<std::time_t, const char*> cases[] = {
        {0, "Thu. 1 Jan 1970 00:00:00 GMT"},
        {kSunday, "Sun. 6 Nov 1994 08:49:37 GMT"},
        {1709251199, "Thu. 29 Feb 2024 23:59:59 GMT"},
        {1796468464, "Sat. 5 Dec 2026 11:01:04 GMT"},
        {253402300799, "Fri. 31 Dec 9999 23:59:59 GMT"},
    };
    for (const auto& [utc, text] : cases) EXPECT_EQ(FormatHttpDate(utc), text) << utc;
}

TEST(HttpDateTest, EveryFormClientsSendReadsToTheSameSecond) {
    const std::pair<const char*, std::optional<std::time_t>> cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", kSunday},
        {"Sunday, 06-Nov-94 08:49:37 GMT", kSunday},
        {"Sun Nov  6 08:49:37 1994", kSunday},
        {"Sun. 6 Nov 1994 08:49:37 GMT", kSunday},
        // The weekday only repeats the date, and month names have no case.
        {"Mon, 06 NOV 1994 08:49:37 GMT", kSunday},
        {"x 6 nov 1994 08:49:37 GMT", kSunday},
        // Two-digit years up to 69 are this century's.
        {"Thursday, 01-Jan-70 00:00:00 GMT", 0},
        {"Monday, 01-Jan-69 00:00:00 GMT", 3124224000},
        {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
        {"Thu, 29 Feb 2024 23:59:59 GMT", 1709251199},
        {"Wednesday, 31-Dec-69 23:59:59 GMT", 3155759999},
        {"Fri, 31 Dec 9999 23:59:59 GMT", 253402300799},
        // Nothing before the clock's start, no hour 24, no minute 60, no five-digit year.
        {"Wed, 31 Dec 1969 23:59:59 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 24:00:00 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 08:60:00 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:61 GMT", std::nullopt},
        {"Sun, 06 Nov 10000 08:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 994 08:49:37 GMT", std::nullopt},
        {"Sun Nov  6 08:49:37 94", std::nullopt},
        {"Sun, 00 Nov 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 32 Nov 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 006 Nov 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 8:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 08.49.37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37 UTC", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37 GMT extra", std::nullopt},
        {"Sun, 06 Novem 1994 08:49:37 GMT", std::nullopt},
        {"06 Nov 1994 08:49:37 GMT", std::nullopt},
        {"\"an-etag\"", std::nullopt},
        {"yesterday", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(ParseHttpDate(text), expected) << text;
    }
}

TEST(HttpDateTest, OwnAndClientFormsOfManyTimesReadBack) {
    // Every day of a leap year and the turns of years, at changing times of day.
    std::vector<std::time_t> times = {0, 951782400, 4107542399, 253402300799};
    for (std::time_t t = 1704067200; t < 1704067200 + 366 * 86400; t += 86400 + 3599) {
        times.push_back(t);
    }
    for (std::time_t t : times) {
        SCOPED_TRACE(t);
        EXPECT_EQ(ParseHttpDate(FormatHttpDate(t)), t);
        EXPECT_EQ(FormatImfFixdate(t), Strftime("%a, %d %b %Y %H:%M:%S GMT", t));
        EXPECT_EQ(ParseHttpDate(Strftime("%a, %d %b %Y %H:%M:%S GMT", t)), t);
        EXPECT_EQ(ParseHttpDate(Strftime("%a %b %e %H:%M:%S %Y", t)), t);
        if (t < 3155760000) {  // two-digit years end with 2069
            EXPECT_EQ(ParseHttpDate(Strftime("%A, %d-%b-%y %H:%M:%S GMT", t)), t);
        }
    }
}

}  // namespace
}  // namespace http
