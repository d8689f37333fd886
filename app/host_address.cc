// Choosing the address the servers advertise from the host name and the interfaces.
#include "app/host_address.h"

#include <algorithm>

#include "platform/program.h"
#include "platform/socket.h"

namespace app {
namespace {

// 0.0.0.0 names no machine and 127.0.0.0/8 only this one: no visitor reaches either.
bool Reachable(uint32_t address) { return address != 0 && (address >> 24) != 127; }

}  // namespace

std::optional<uint32_t> ChooseHostAddress(
    std::optional<uint32_t> hostNameAddress,
    const std::vector<platform::InterfaceAddress>& interfaces) {
    if (hostNameAddress && Reachable(*hostNameAddress)) return hostNameAddress;
    for (const platform::InterfaceAddress& candidate : interfaces) {
        // Links to the servers follow the IPv4 rule; an owner who wants IPv6 ones names the
        // address.
        if (candidate.address.IsIpv6()) continue;
        if (candidate.up && !candidate.loopback && Reachable(candidate.address.Ipv4())) {
            return candidate.address.Ipv4();
        }
    }
    return std::nullopt;
}

std::optional<std::string> FindHostAddress() {
    std::optional<uint32_t> hostNameAddress;
    if (auto text = platform::ResolveIpv4(platform::HostName())) {
        hostNameAddress = platform::ParseIpv4(*text);
    }
    auto chosen = ChooseHostAddress(hostNameAddress, platform::InterfaceAddresses());
    if (!chosen) return std::nullopt;
    return platform::FormatIpv4(*chosen);
}

std::vector<std::string> CertificateNames(const std::vector<std::string>& extra) {
    std::vector<std::string> names;
    auto add = [&names](const std::string& name) {
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(name);
        }
    };
    for (const std::string& name : extra) add(name);
    add(platform::HostName());
    add("localhost");
    add("127.0.0.1");
    add("::1");
    if (std::optional<std::string> address = FindHostAddress()) add(*address);
    return names;
}

}  // namespace app
