// The access log: one common-format line per request in "access.log" in the working
// directory, shared by both servers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/ip_address.h"

namespace site {

// One line: address, the local time with the zone's standard offset, the request target, the
// status and the byte count, ended by CR LF. Control characters, quotes and backslashes of
// the target are written as \xHH, so a target can never break or forge a line.
std::string FormatLogLine(const platform::IpAddress& clientAddress,
                          const platform::CalendarTime& localTime, int standardOffsetMinutes,
                          std::string_view target, int status, uint64_t bytes);

// Appends a line to the log; lines from many threads are written whole, one at a time.
// When writing starts to fail, returns the failure (the call, the path and the error) once;
// std::nullopt otherwise, until a line has been written again.
std::optional<std::string> AppendToAccessLog(std::string_view line);

}  // namespace site
