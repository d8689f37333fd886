// Wall-clock time in UTC and local time, the zone's standard bias, and a monotonic tick.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace platform {

struct CalendarTime {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 4;  // 0 = Sunday
    int millisecond = 0;
};

std::time_t NowUtc();
CalendarTime ToUtcCalendar(std::time_t t);
CalendarTime ToLocalCalendar(std::time_t t);
// The local date and time now, to the millisecond.
CalendarTime LocalNow();

// Minutes east of UTC of the local zone's standard time, ignoring daylight saving time
// (Central European Time gives 60, US Eastern gives -300).
int StandardOffsetMinutes();

// The English three-letter name of `month` (1 = "Jan" .. 12 = "Dec"); a month outside 1..12
// wraps around the year.
const char* MonthAbbreviation(int month);

// The local date and time to the minute with the zone's abbreviation ("2026-12-08 11:14 CET").
std::string FormatLocalMinute(std::time_t t);
// The UTC time `t` in the strftime `format` ("%Y-%m-%d %H:%M UTC"); at most 63 characters.
std::string FormatUtc(std::time_t t, const char* format);

// Milliseconds of a clock that never jumps; only differences mean anything.
uint64_t MonotonicMillis();

}  // namespace platform
