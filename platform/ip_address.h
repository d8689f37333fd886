// An IPv4 or IPv6 address of a client or of this machine, and its text forms.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct sockaddr;

namespace platform {

// An IPv4 address, or an IPv6 address that is not an IPv4 one in disguise: an IPv4-mapped
// address (::ffff:a.b.c.d, how a dual-stack socket shows an IPv4 client) is kept as the IPv4
// address it carries, so that it prints and compares exactly as that address does.
class IpAddress {
  public:
    // 0.0.0.0.
    IpAddress() = default;
    // The IPv4 address a.b.c.d given as a*2^24 + b*2^16 + c*2^8 + d. Not explicit: wherever
    // an IPv4 number was taken, it still is.
    IpAddress(uint32_t ipv4) : ipv4_(ipv4) {}  // NOLINT(google-explicit-constructor)
    // Sixteen bytes in network order; an IPv4-mapped address becomes its IPv4 address.
    static IpAddress FromIpv6(const std::array<uint8_t, 16>& bytes);
    // The address of an AF_INET or AF_INET6 socket address, and its port in network byte
    // order when `portNetworkOrder` is given; std::nullopt for other families.
    static std::optional<IpAddress> FromSocketAddress(const sockaddr& address,
                                                      uint16_t* portNetworkOrder = nullptr);
    // A dotted-decimal IPv4 address or an IPv6 address in any of its text forms;
    // std::nullopt for anything else (names, brackets, ports, zone suffixes).
    static std::optional<IpAddress> Parse(std::string_view text);

    bool IsIpv6() const { return ipv6_; }
    // The IPv4 address as a*2^24 + b*2^16 + c*2^8 + d; 0 for an IPv6 address.
    uint32_t Ipv4() const { return ipv6_ ? 0 : ipv4_; }
    // The sixteen bytes of an IPv6 address; all zero for an IPv4 one.
    const std::array<uint8_t, 16>& Ipv6Bytes() const { return bytes_; }
    // "a.b.c.d", or the shortest IPv6 form ("::1", "2001:db8::5").
    std::string Text() const;

    bool operator==(const IpAddress&) const = default;

  private:
    bool ipv6_ = false;
    uint32_t ipv4_ = 0;
    std::array<uint8_t, 16> bytes_{};
};

// The host part of a URL for `host`: an IPv6 address in brackets ("[::1]"), anything else
// (a name, an IPv4 address, a text already in brackets) unchanged.
std::string UrlHost(const std::string& host);
// The host and port of a URL for `host` on `port`: UrlHost(host), then ":port" unless the
// port is the scheme's own (80 for http, 443 for https).
std::string UrlAuthority(const std::string& host, int port, int schemePort = 80);
// The host of an authority "host[:port]" as a Host header gives it, blanks around it and an
// IPv6 address's brackets removed; nothing when the value is no host (a port that is not
// digits, an unclosed bracket, nothing before the port).
std::optional<std::string_view> HostOfAuthority(std::string_view value);
// True for a host made only of letters, digits, dots, hyphens and colons: a name or an
// address that may stand in a link or a Location as it is.
bool IsPlainHost(std::string_view host);

}  // namespace platform
