// The machine's interface addresses (getifaddrs) and the addresses its own clients come from.
#include "platform/network.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <mutex>

#include "platform/clock.h"
#include "platform/program.h"

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
        found.push_back(
            {*address, (entry->ifa_flags & IFF_UP) != 0, (entry->ifa_flags & IFF_LOOPBACK) != 0});
    }
    ::freeifaddrs(list);
    return found;
}

// The addresses a client of this machine itself comes from: the one this host's own name
// resolves to, ::1 and every address of the machine's interfaces (127.0.0.1, the LAN
// addresses of both families, say). An IPv4 client on an IPv6 socket arrives already
// unmapped, so 127.0.0.1 covers ::ffff:127.0.0.1. Looked up at most every few seconds: every
// administration request asks, and the addresses change when the machine joins another
// network.
std::vector<IpAddress> OwnAddresses() {
    static std::mutex mutex;
    static std::vector<IpAddress> cached;
    static uint64_t lookedUpAt = 0;
    static bool everLookedUp = false;
    constexpr uint64_t kLifetimeMs = 10000;
    std::lock_guard lock(mutex);
    uint64_t now = MonotonicMillis();
    if (!everLookedUp || now - lookedUpAt >= kLifetimeMs) {
        cached.clear();
        if (auto text = ResolveIpv4(HostName())) {
            if (auto address = IpAddress::Parse(*text)) cached.push_back(*address);
        }
        cached.push_back(*IpAddress::Parse("::1"));
        for (const InterfaceAddress& own : InterfaceAddresses()) {
            cached.push_back(own.address);
        }
        lookedUpAt = now;
        everLookedUp = true;
    }
    return cached;
}

}  // namespace platform
