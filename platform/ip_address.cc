// IPv4 and IPv6 addresses: parsing, unmapping and text forms with inet_pton and inet_ntop.
#include "platform/ip_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

#include "platform/text.h"

namespace platform {
namespace {

// ::ffff:0:0/96, the IPv6 addresses that stand for IPv4 ones.
constexpr std::array<uint8_t, 12> kMappedPrefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

}  // namespace

IpAddress IpAddress::FromIpv6(const std::array<uint8_t, 16>& bytes) {
    if (std::memcmp(bytes.data(), kMappedPrefix.data(), kMappedPrefix.size()) == 0) {
        return IpAddress(uint32_t{bytes[12]} << 24 | uint32_t{bytes[13]} << 16 |
                         uint32_t{bytes[14]} << 8 | uint32_t{bytes[15]});
    }
    IpAddress address;
    address.ipv6_ = true;
    address.bytes_ = bytes;
    return address;
}

std::optional<IpAddress> IpAddress::FromSocketAddress(const sockaddr& address,
                                                      uint16_t* portNetworkOrder) {
    uint16_t port = 0;
    std::optional<IpAddress> found;
    if (address.sa_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(address);
        port = in.sin_port;
        found = IpAddress(ntohl(in.sin_addr.s_addr));
    } else if (address.sa_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
        std::array<uint8_t, 16> bytes{};
        std::memcpy(bytes.data(), &in6.sin6_addr, bytes.size());
        port = in6.sin6_port;
        found = FromIpv6(bytes);
    }
    if (portNetworkOrder != nullptr) *portNetworkOrder = port;
    return found;
}

std::optional<IpAddress> IpAddress::Parse(std::string_view text) {
    // inet_pton reads a terminated string; no address text is this long.
    if (text.size() >= INET6_ADDRSTRLEN) return std::nullopt;
    std::string terminated(text);
    struct in_addr v4 {};
    if (::inet_pton(AF_INET, terminated.c_str(), &v4) == 1) return IpAddress(ntohl(v4.s_addr));
    std::array<uint8_t, 16> v6{};
    if (::inet_pton(AF_INET6, terminated.c_str(), v6.data()) == 1) return FromIpv6(v6);
    return std::nullopt;
}

std::string IpAddress::Text() const {
    char text[INET6_ADDRSTRLEN] = {};
    if (!ipv6_) {
        struct in_addr v4 {
            htonl(ipv4_)
        };
        ::inet_ntop(AF_INET, &v4, text, sizeof text);
    } else {
        ::inet_ntop(AF_INET6, bytes_.data(), text, sizeof text);
    }
    return text;
}

std::string UrlHost(const std::string& host) {
    // An IPv4-mapped text ("::ffff:127.0.0.1") needs the brackets as much as any IPv6 text.
    bool ipv6Text = host.find(':') != std::string::npos && IpAddress::Parse(host);
    return ipv6Text ? "[" + host + "]" : host;
}

std::string UrlAuthority(const std::string& host, int port, int schemePort) {
    std::string authority = UrlHost(host);
    if (port != schemePort) authority.append(":").append(std::to_string(port));
    return authority;
}

std::optional<std::string_view> HostOfAuthority(std::string_view value) {
    value = Trim(value);
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

bool IsPlainHost(std::string_view host) {
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '-' || c == ':';
    });
}

}  // namespace platform
