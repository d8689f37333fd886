// The access log.
#include "site/access_log.h"

#include <atomic>
#include <cstdio>

#include "platform/append_file.h"
#include "platform/program.h"
#include "platform/socket.h"
#include "platform/text.h"

namespace site {

std::string FormatLogLine(const platform::IpAddress& clientAddress, const platform::CalendarTime& t,
                          int standardOffsetMinutes, std::string_view target, int status,
                          uint64_t bytes) {
    // The zone is written as the standard time's offset: "+" when local time is ahead of UTC
    // or equal to it.
    char sign = standardOffsetMinutes >= 0 ? '+' : '-';
    int offset = standardOffsetMinutes >= 0 ? standardOffsetMinutes : -standardOffsetMinutes;
    char stamp[128];
    std::snprintf(stamp, sizeof stamp, " - - [%02d/%s/%d:%02d:%02d:%02d %c%04d] \"", t.day,
                  platform::MonthAbbreviation(t.month), t.year, t.hour, t.minute, t.second, sign,
                  offset / 60 * 100 + offset % 60);
    std::string line = clientAddress.Text() + stamp;
    for (char c : target) {
        // Quotes and backslashes too: a target must not end its field early and forge the
        // status and byte count after it, nor pass for an escape a reader would decode.
        if (platform::IsControlCharacter(c) || c == '"' || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
            line += escaped;
        } else {
            line += c;
        }
    }
    char tail[64];
    std::snprintf(tail, sizeof tail, "\" %d %llu\r\n", status,
                  static_cast<unsigned long long>(bytes));
    line += tail;
    return line;
}

std::optional<std::string> AppendToAccessLog(std::string_view line) {
    // The working directory is the one the program started in; it never changes it.
    static platform::AppendFile log(platform::WorkingDirectory() + "access.log");
    // Set while writing fails, so the owner hears of a failure once, not once per request.
    static std::atomic<bool> failing{false};
    std::string error;
    if (log.Append(line, &error)) {
        if (failing.load(std::memory_order_relaxed)) failing.store(false);
        return std::nullopt;
    }
    if (failing.exchange(true)) return std::nullopt;
    return error;
}

}  // namespace site
