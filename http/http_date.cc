// Header dates.
#include "http/http_date.h"

#include <cstdio>
#include <vector>

#include "platform/text.h"

namespace http {
namespace {
constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// 1..12, or 0 when `text` names no month.
int MonthNumber(std::string_view text) {
    for (int i = 0; i < 12; ++i) {
        if (platform::EqualsNoCase(text, kMonths[i])) return i + 1;
    }
    return 0;
}

// A whole token of at most `maxDigits` digits, else -1.
long Number(std::string_view text, size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) return -1;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
long DaysFromCivil(long year, long month, long day) {
    year -= month <= 2;
    long era = (year >= 0 ? year : year - 399) / 400;
    long yearOfEra = year - era * 400;
    long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

enum class DateForm { kOwn, kStandard };

// "Sat. 5 Dec 2026 11:01:04 GMT" or "Sat, 05 Dec 2026 11:01:04 GMT".
std::string FormatCalendar(const platform::CalendarTime& c, DateForm form) {
    const bool own = form == DateForm::kOwn;
    char text[160];
    std::snprintf(text, sizeof text, "%s%c %0*ld %s %0*ld %02ld:%02ld:%02ld GMT",
                  kWeekdays[c.weekday % 7], own ? '.' : ',', own ? 0 : 2, static_cast<long>(c.day),
                  platform::MonthAbbreviation(c.month), own ? 0 : 4, static_cast<long>(c.year),
                  static_cast<long>(c.hour), static_cast<long>(c.minute),
                  static_cast<long>(c.second));
    return text;
}

// Reads one of the date forms; see ParseHttpDate.
std::optional<std::time_t> ParseDate(std::string_view text);

}  // namespace

namespace {

// Most dates a thread formats are of the current second, over and over: the last text of
// each form is kept per thread.
struct LastFormatted {
    std::time_t utc = -1;
    std::string text;
};

}  // namespace

std::string FormatHttpDate(std::time_t utc) {
    thread_local LastFormatted last;
    if (utc != last.utc) {
        last.text = FormatHttpDate(platform::ToUtcCalendar(utc));
        last.utc = utc;
    }
    return last.text;
}

std::string FormatHttpDate(const platform::CalendarTime& c) {
    return FormatCalendar(c, DateForm::kOwn);
}

std::string FormatImfFixdate(std::time_t utc) {
    thread_local LastFormatted last;
    if (utc != last.utc) {
        last.text = FormatCalendar(platform::ToUtcCalendar(utc), DateForm::kStandard);
        last.utc = utc;
    }
    return last.text;
}

std::optional<std::time_t> ParseHttpDate(std::string_view text) {
    // An answer's dates are read back as they were written, the same few over and over.
    thread_local std::string lastText;
    thread_local std::optional<std::time_t> lastDate;
    if (text != lastText) {
        lastDate = ParseDate(text);
        lastText.assign(text);
    }
    return lastDate;
}

namespace {

std::optional<std::time_t> ParseDate(std::string_view text) {
    // The weekday is not checked: it only repeats what the date says.
    size_t weekdayEnd = 0;
    while (weekdayEnd < text.size() && IsLetter(text[weekdayEnd])) ++weekdayEnd;
    if (weekdayEnd == 0) return std::nullopt;
    std::string_view rest = text.substr(weekdayEnd);
    if (!rest.empty() && (rest.front() == ',' || rest.front() == '.')) rest.remove_prefix(1);

    std::vector<std::string_view> tokens;
    size_t start = 0;
    for (size_t i = 0; i <= rest.size(); ++i) {
        if (i == rest.size() || rest[i] == ' ' || rest[i] == '-') {
            if (i > start) tokens.push_back(rest.substr(start, i - start));
            start = i + 1;
        }
    }
    long day = 0, month = 0, year = 0;
    std::string_view time;
    if (tokens.size() == 5 && tokens[4] == "GMT") {
        // day month year time GMT: the fixed form, the old two-digit-year form, our own.
        day = Number(tokens[0], 2);
        month = MonthNumber(tokens[1]);
        year = Number(tokens[2], 4);
        if (tokens[2].size() == 2)
            year += year < 70 ? 2000 : 1900;
        else if (tokens[2].size() != 4)
            return std::nullopt;
        time = tokens[3];
    } else if (tokens.size() == 4) {
        // month day time year: the C library's form.
        month = MonthNumber(tokens[0]);
        day = Number(tokens[1], 2);
        time = tokens[2];
        year = tokens[3].size() == 4 ? Number(tokens[3], 4) : -1;
    } else {
        return std::nullopt;
    }
    if (time.size() != 8 || time[2] != ':' || time[5] != ':') return std::nullopt;
    long hour = Number(time.substr(0, 2), 2);
    long minute = Number(time.substr(3, 2), 2);
    long second = Number(time.substr(6, 2), 2);
    if (month == 0 || day < 1 || day > 31 || year < 1970 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 60) {
        return std::nullopt;
    }
    long days = DaysFromCivil(year, month, day);
    return static_cast<std::time_t>(days) * 86400 + hour * 3600 + minute * 60 + second;
}

}  // namespace

}  // namespace http
