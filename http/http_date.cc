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

void AppendTwoDigits(std::string& text, long value) {
    text.push_back(static_cast<char>('0' + value / 10));
    text.push_back(static_cast<char>('0' + value % 10));
}

// "Sat. 5 Dec 2026 11:01:04 GMT" or "Sat, 05 Dec 2026 11:01:04 GMT". Written by hand: it is
// part of nearly every answer, and a formatted print costs several times as much.
std::string FormatCalendar(const platform::CalendarTime& c, DateForm form) {
    const bool own = form == DateForm::kOwn;
    const bool usual = c.year >= 1000 && c.year <= 9999 && c.day >= 0 && c.day <= 99 &&
                       c.hour >= 0 && c.hour <= 99 && c.minute >= 0 && c.minute <= 99 &&
                       c.second >= 0 && c.second <= 99;
    if (!usual) {
        char text[160];
        std::snprintf(text, sizeof text, "%s%c %0*ld %s %0*ld %02ld:%02ld:%02ld GMT",
                      kWeekdays[c.weekday % 7], own ? '.' : ',', own ? 0 : 2,
                      static_cast<long>(c.day), platform::MonthAbbreviation(c.month), own ? 0 : 4,
                      static_cast<long>(c.year), static_cast<long>(c.hour),
                      static_cast<long>(c.minute), static_cast<long>(c.second));
        return text;
    }
    std::string text;
    text.reserve(32);
    text.append(kWeekdays[c.weekday % 7]);
    text.append(own ? ". " : ", ");
    if (own && c.day < 10) {
        text.push_back(static_cast<char>('0' + c.day));
    } else {
        AppendTwoDigits(text, c.day);
    }
    text.push_back(' ');
    text.append(platform::MonthAbbreviation(c.month));
    text.push_back(' ');
    AppendTwoDigits(text, c.year / 100);
    AppendTwoDigits(text, c.year % 100);
    text.push_back(' ');
    AppendTwoDigits(text, c.hour);
    text.push_back(':');
    AppendTwoDigits(text, c.minute);
    text.push_back(':');
    AppendTwoDigits(text, c.second);
    text.append(" GMT");
    return text;
}

// Reads one of the date forms; see ParseHttpDate.
std::optional<std::time_t> ParseDate(std::string_view text);

}  // namespace

namespace {

// The few values a thread turns into one another over and over (the current second and the
// modification times of the files it sends), kept per thread, the oldest giving way.
template <typename Key, typename Value>
class RecentValues {
  public:
    // `key` may be of any type that compares with and makes a Key (a string_view for a
    // string, so that a lookup that finds its value allocates nothing).
    template <typename Lookup, typename Make>
    const Value& Get(const Lookup& key, Make make) {
        for (Entry& entry : entries_) {
            if (entry.used && entry.key == key) return entry.value;
        }
        Entry& entry = entries_[next_];
        next_ = (next_ + 1) % kSize;
        entry.value = make();
        entry.key = Key(key);
        entry.used = true;
        return entry.value;
    }

  private:
    static constexpr size_t kSize = 4;
    struct Entry {
        bool used = false;
        Key key{};
        Value value{};
    };
    Entry entries_[kSize];
    size_t next_ = 0;
};

}  // namespace

std::string FormatHttpDate(std::time_t utc) {
    thread_local RecentValues<std::time_t, std::string> recent;
    return recent.Get(utc, [utc] { return FormatHttpDate(platform::ToUtcCalendar(utc)); });
}

std::string FormatHttpDate(const platform::CalendarTime& c) {
    return FormatCalendar(c, DateForm::kOwn);
}

std::string FormatImfFixdate(std::time_t utc) {
    thread_local RecentValues<std::time_t, std::string> recent;
    return recent.Get(
        utc, [utc] { return FormatCalendar(platform::ToUtcCalendar(utc), DateForm::kStandard); });
}

std::optional<std::time_t> ParseHttpDate(std::string_view text) {
    // An answer's dates are read back as they were written, the same few over and over.
    thread_local RecentValues<std::string, std::optional<std::time_t>> recent;
    if (text.size() > 64) return ParseDate(text);
    return recent.Get(text, [text] { return ParseDate(text); });
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
