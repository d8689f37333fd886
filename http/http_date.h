// The date format of the response headers: "Sat. 5 Dec 2026 11:01:04 GMT".
#pragma once

#include <ctime>
#include <string>

namespace http {

// The weekday, a full stop, the day without leading zero, the month, the year and the time
// of `utc`, followed by "GMT".
std::string FormatHttpDate(std::time_t utc);

}  // namespace http
