// The names and addresses a request for the administration pages may give as its Host: the
// machine's own. A page of another site that reaches this server through a name of its own
// (a name whose address it turned to this machine's) names itself in Host and is refused.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/ip_address.h"

namespace admin {

struct OwnHosts {
    std::vector<std::string> names;  // in small letters
    std::vector<platform::IpAddress> addresses;
};

// "localhost", the machine's host name, the configured host and bind addresses, the
// addresses of the machine's interfaces, and the names of `adminHosts` (separated by commas
// or blanks).
OwnHosts FindOwnHosts(std::string_view hostAddress, std::string_view bindAddress,
                      std::string_view adminHosts);

// True when `host`, a Host header's value ("name", "name:port", "[v6]:port", an address),
// names one of `own` or a loopback address. Letter case and a final "." of a name are
// ignored; a value that is no host is not own.
bool IsOwnHost(std::string_view host, const OwnHosts& own);

}  // namespace admin
