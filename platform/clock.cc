// Wall-clock and monotonic time.
#include "platform/clock.h"

#include <time.h>

namespace platform {
namespace {

constexpr const char* kMonthAbbreviations[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

CalendarTime FromTm(const struct tm& tm) {
    CalendarTime c;
    c.year = tm.tm_year + 1900;
    c.month = tm.tm_mon + 1;
    c.day = tm.tm_mday;
    c.hour = tm.tm_hour;
    c.minute = tm.tm_min;
    c.second = tm.tm_sec;
    c.weekday = tm.tm_wday;
    return c;
}

}  // namespace

std::time_t NowUtc() { return ::time(nullptr); }

CalendarTime ToUtcCalendar(std::time_t t) {
    struct tm tm {};
    ::gmtime_r(&t, &tm);
    return FromTm(tm);
}

CalendarTime ToLocalCalendar(std::time_t t) {
    struct tm tm {};
    ::localtime_r(&t, &tm);
    return FromTm(tm);
}

CalendarTime LocalNow() {
    struct timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    CalendarTime c = ToLocalCalendar(ts.tv_sec);
    c.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    return c;
}

int StandardOffsetMinutes() {
    // `timezone` holds the standard time's offset in seconds west of UTC once tzset has run.
    // The zone is read once: the program does not follow a change of zone while it runs.
    static const int offset = [] {
        ::tzset();
        return static_cast<int>(-::timezone / 60);
    }();
    return offset;
}

const char* MonthAbbreviation(int month) {
    return kMonthAbbreviations[((month - 1) % 12 + 12) % 12];
}

uint64_t MonotonicMillis() {
    struct timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

}  // namespace platform

namespace platform {

std::string FormatLocalMinute(std::time_t t) {
    struct tm tm {};
    ::localtime_r(&t, &tm);
    char text[64];
    size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M %Z", &tm);
    return std::string(text, length);
}

std::string FormatUtc(std::time_t t, const char* format) {
    struct tm tm {};
    ::gmtime_r(&t, &tm);
    char text[64];
    size_t length = std::strftime(text, sizeof text, format, &tm);
    return std::string(text, length);
}

}  // namespace platform
