// Header dates.
#include "http/http_date.h"

#include <cstdio>

namespace http {
namespace {
constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
}  // namespace

std::string FormatHttpDate(std::time_t utc) { return FormatHttpDate(platform::ToUtcCalendar(utc)); }

std::string FormatHttpDate(const platform::CalendarTime& c) {
    char text[160];
    std::snprintf(
        text, sizeof text, "%s. %ld %s %ld %02ld:%02ld:%02ld GMT", kWeekdays[c.weekday % 7],
        static_cast<long>(c.day), platform::MonthAbbreviation(c.month), static_cast<long>(c.year),
        static_cast<long>(c.hour), static_cast<long>(c.minute), static_cast<long>(c.second));
    return text;
}

}  // namespace http
