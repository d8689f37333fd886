// The machine's own network interfaces and their addresses.
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

struct InterfaceAddress {
    uint32_t address = 0;  // IPv4, host byte order
    bool up = false;
    bool loopback = false;
};

// Every IPv4 address of this machine's interfaces, in the order the system lists them; empty
// when the list cannot be had.
std::vector<InterfaceAddress> InterfaceAddresses();

}  // namespace platform
