// The access log.
#include "content/access_log.h"

#include <cstdio>

#include "platform/append_file.h"

namespace content {
namespace {

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

std::string FormatLogLine(uint32_t clientAddress, const platform::CalendarTime& t,
                          int standardOffsetMinutes, std::string_view target, int status,
                          uint64_t bytes) {
    // The zone is written as the standard time's offset: "+" when local time is ahead of UTC
    // or equal to it.
    char sign = standardOffsetMinutes >= 0 ? '+' : '-';
    int offset = standardOffsetMinutes >= 0 ? standardOffsetMinutes : -standardOffsetMinutes;
    char head[128];
    std::snprintf(head, sizeof head, "%u.%u.%u.%u - - [%02d/%s/%d:%02d:%02d:%02d %c%04d] \"",
                  (clientAddress >> 24) & 255u, (clientAddress >> 16) & 255u,
                  (clientAddress >> 8) & 255u, clientAddress & 255u, t.day,
                  kMonths[(t.month + 11) % 12], t.year, t.hour, t.minute, t.second, sign,
                  offset / 60 * 100 + offset % 60);
    std::string line = head;
    for (char c : target) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            line += escaped;
        } else {
            line += c;
        }
    }
    char tail[64];
    std::snprintf(tail, sizeof tail, "\" %d %llu\r\n", status, static_cast<unsigned long long>(bytes));
    line += tail;
    return line;
}

void AppendToAccessLog(std::string_view line) {
    // The working directory is the one the program started in; it never changes it.
    static platform::AppendFile log(platform::WorkingDirectory() + "access.log");
    log.Append(line);
}

}  // namespace content
