// The machine's own names and addresses, and whether a request's Host is one of them.
#include "admin/own_hosts.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "platform/network.h"
#include "platform/program.h"
#include "platform/text.h"

namespace admin {
namespace {

constexpr std::string_view kLocalName = "localhost";
constexpr std::string_view kNameSeparators = ", \t";
constexpr int kIpv4LoopbackNetwork = 127;

bool IsLoopback(const platform::IpAddress& address) {
    static const platform::IpAddress kIpv6Loopback = *platform::IpAddress::Parse("::1");
    if (address.IsIpv6()) return address == kIpv6Loopback;
    return address.Ipv4() >> 24 == kIpv4LoopbackNetwork;
}

// A name as it is compared: in small letters and without a final ".".
std::string NameKey(std::string_view name) {
    if (name.ends_with('.')) name.remove_suffix(1);
    return platform::LowerCopy(name);
}

// A name or address of the machine; a port after it is ignored.
void AddName(OwnHosts& own, std::string_view name) {
    std::optional<std::string_view> host = platform::HostOfAuthority(name);
    if (!host) return;
    name = *host;
    if (std::optional<platform::IpAddress> address = platform::IpAddress::Parse(name)) {
        own.addresses.push_back(*address);
    } else if (std::string key = NameKey(name); !key.empty()) {
        own.names.push_back(std::move(key));
    }
}

}  // namespace

OwnHosts FindOwnHosts(std::string_view hostAddress, std::string_view bindAddress,
                      std::string_view adminHosts) {
    OwnHosts own;
    AddName(own, kLocalName);
    AddName(own, platform::HostName());
    AddName(own, hostAddress);
    AddName(own, bindAddress);
    for (const platform::IpAddress& address : platform::OwnAddresses()) {
        own.addresses.push_back(address);
    }
    while (!adminHosts.empty()) {
        size_t end = adminHosts.find_first_of(kNameSeparators);
        AddName(own, adminHosts.substr(0, end));
        adminHosts.remove_prefix(end == std::string_view::npos ? adminHosts.size() : end + 1);
    }
    return own;
}

bool IsOwnHost(std::string_view value, const OwnHosts& own) {
    std::optional<std::string_view> host = platform::HostOfAuthority(value);
    if (!host) return false;
    if (std::optional<platform::IpAddress> address = platform::IpAddress::Parse(*host)) {
        return IsLoopback(*address) || std::find(own.addresses.begin(), own.addresses.end(),
                                                 *address) != own.addresses.end();
    }
    const std::string name = NameKey(*host);
    return std::find(own.names.begin(), own.names.end(), name) != own.names.end();
}

}  // namespace admin
