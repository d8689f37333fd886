// Reading the machine's interface addresses with getifaddrs.
#include "platform/network.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstring>

namespace platform {

std::vector<InterfaceAddress> InterfaceAddresses() {
    std::vector<InterfaceAddress> found;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return found;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        // Interfaces without an address, and those of other families, are listed too.
        if (entry->ifa_addr == nullptr) continue;
        IpAddress address;
        if (entry->ifa_addr->sa_family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
            address = IpAddress(ntohl(in->sin_addr.s_addr));
        } else if (entry->ifa_addr->sa_family == AF_INET6) {
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
            std::array<uint8_t, 16> bytes{};
            std::memcpy(bytes.data(), &in6->sin6_addr, bytes.size());
            address = IpAddress::FromIpv6(bytes);
        } else {
            continue;
        }
        found.push_back({address, (entry->ifa_flags & IFF_UP) != 0,
                         (entry->ifa_flags & IFF_LOOPBACK) != 0});
    }
    ::freeifaddrs(list);
    return found;
}

}  // namespace platform
