// The date format of the response headers: "Sat. 5 Dec 2026 11:01:04 GMT".
#pragma once

#include <ctime>
#include <string>

#include "platform/clock.h"

namespace http {

// The weekday, a full stop, the day without leading zero, the month, the year and the time
// of `utc`, followed by "GMT".
std::string FormatHttpDate(std::time_t utc);
// The same format for a calendar time as it stands, which keeps the "GMT" ending whatever
// zone the time is in.
std::string FormatHttpDate(const platform::CalendarTime& time);

}  // namespace http
