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

// The host part of a Host value without its port; nothing when the value is no host.
std::optional<std::string_view> HostPart(std::string_view value) {
    value = platform::Trim(value);
    std::string_view host = value;
    std::string_view port;
    if (value.starts_with('[')) {
        size_t close = value.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = value.substr(1, close - 1);
        std::string_view rest = value.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return std::nullopt;
            port = rest.substr(1);
        }
    } else if (std::count(value.begin(), value.end(), ':') == 1) {
        size_t colon = value.find(':');
        host = value.substr(0, colon);
        port = value.substr(colon + 1);
    }
    if (host.empty()) return std::nullopt;
    if (!std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return host;
}

// A name as it is compared: in small letters and without a final ".".
std::string NameKey(std::string_view name) {
    if (name.ends_with('.')) name.remove_suffix(1);
    return platform::LowerCopy(name);
}

// A name or address of the machine; a port after it is ignored.
void AddName(OwnHosts& own, std::string_view name) {
    std::optional<std::string_view> host = HostPart(name);
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
    std::optional<std::string_view> host = HostPart(value);
    if (!host) return false;
    if (std::optional<platform::IpAddress> address = platform::IpAddress::Parse(*host)) {
        return IsLoopback(*address) || std::find(own.addresses.begin(), own.addresses.end(),
                                                 *address) != own.addresses.end();
    }
    const std::string name = NameKey(*host);
    return std::find(own.names.begin(), own.names.end(), name) != own.names.end();
}

}  // namespace admin
