// The machine's own network interfaces and their addresses.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/ip_address.h"

namespace platform {

struct InterfaceAddress {
    IpAddress address;
    bool up = false;
    bool loopback = false;
};

// Every IPv4 and IPv6 address of this machine's interfaces, in the order the system lists them;
// empty when the list cannot be had.
std::vector<InterfaceAddress> InterfaceAddresses();

// The addresses a client of this machine itself comes from: the one its host name resolves
// to, ::1 and every address of its interfaces. Looked up at most every few seconds.
std::vector<IpAddress> OwnAddresses();

}  // namespace platform
