// Reading the machine's interface addresses with getifaddrs.
#include "platform/network.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>


namespace platform {

std::vector<InterfaceAddress> InterfaceAddresses() {
    std::vector<InterfaceAddress> found;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return found;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        // Interfaces without an address, and those of other families, are listed too.
        if (entry->ifa_addr == nullptr) continue;
        std::optional<IpAddress> address = IpAddress::FromSocketAddress(*entry->ifa_addr);
        if (!address) continue;
        found.push_back({*address, (entry->ifa_flags & IFF_UP) != 0,
                         (entry->ifa_flags & IFF_LOOPBACK) != 0});
    }
    ::freeifaddrs(list);
    return found;
}

}  // namespace platform
