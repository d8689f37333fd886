// The date format of the response headers: "Sat. 5 Dec 2026 11:01:04 GMT".
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace http {

// The weekday, a full stop, the day without leading zero, the month, the year and the time
// of `utc`, followed by "GMT".
std::string FormatHttpDate(std::time_t utc);
// The same format for a calendar time as it stands, which keeps the "GMT" ending whatever
// zone the time is in.
std::string FormatHttpDate(const platform::CalendarTime& time);

// The standard form of HTTP/1.1 answers: "Mon, 07 Dec 2026 16:07:54 GMT".
std::string FormatImfFixdate(std::time_t utc);

// Reads a date a client sends back (If-Modified-Since, If-Range): the three forms HTTP
// allows ("Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
// "Sun Nov  6 08:49:37 1994") and this server's own. std::nullopt for anything else.
std::optional<std::time_t> ParseHttpDate(std::string_view text);

}  // namespace http
