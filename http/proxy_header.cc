// PROXY protocol headers: the text line of version 1 and the binary block of version 2.
#include "http/proxy_header.h"

#include <array>
#include <charconv>
#include <cstring>
#include <string_view>

namespace http {
namespace {

using Status = ProxyHeader::Status;

constexpr std::string_view kV1Start = "PROXY ";
constexpr size_t kV1MaxLength = 107;
constexpr std::string_view kV2Signature{"\r\n\r\n\0\r\nQUIT\n", 12};
constexpr size_t kV2FixedLength = 16;

ProxyHeader Invalid() { return ProxyHeader{Status::kInvalid, 0, std::nullopt, 0}; }

// Whether `bytes` could still begin with `start` (or does).
bool Begins(std::string_view bytes, std::string_view start) {
    size_t n = std::min(bytes.size(), start.size());
    return bytes.substr(0, n) == start.substr(0, n);
}

std::optional<uint16_t> PortOf(std::string_view text) {
    // Decimal, no sign, no leading zero but for "0" itself.
    if (text.empty() || text.size() > 5 || (text.size() > 1 && text.front() == '0'))
        return std::nullopt;
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value > 65535)
        return std::nullopt;
    return static_cast<uint16_t>(value);
}

uint16_t NetworkOrder(uint16_t port) {
    const std::array<uint8_t, 2> bytes = {static_cast<uint8_t>(port >> 8),
                                          static_cast<uint8_t>(port)};
    uint16_t value = 0;
    std::memcpy(&value, bytes.data(), sizeof value);
    return value;
}

// "PROXY TCP4 src dst srcport dstport\r\n", "PROXY TCP6 ...", or "PROXY UNKNOWN...\r\n".
ProxyHeader ParseV1(std::string_view bytes) {
    const size_t lineFeed = bytes.find('\n');
    if (lineFeed == std::string_view::npos) {
        return bytes.size() >= kV1MaxLength ? Invalid() : ProxyHeader{};
    }
    // Only CR LF ends the line, within its longest length.
    if (bytes[lineFeed - 1] != '\r' || lineFeed + 1 > kV1MaxLength) return Invalid();
    const size_t end = lineFeed - 1;
    std::string_view line = bytes.substr(kV1Start.size(), end - kV1Start.size());
    ProxyHeader header{Status::kComplete, end + 2, std::nullopt, 0};
    if (line == "UNKNOWN" || line.starts_with("UNKNOWN ")) return header;
    std::array<std::string_view, 5> fields;
    for (size_t i = 0; i < fields.size(); ++i) {
        size_t space = line.find(' ');
        if (i + 1 < fields.size() ? space == std::string_view::npos
                                  : space != std::string_view::npos) {
            return Invalid();
        }
        fields[i] = line.substr(0, space);
        line.remove_prefix(space == std::string_view::npos ? line.size() : space + 1);
    }
    const bool ipv6 = fields[0] == "TCP6";
    if (!ipv6 && fields[0] != "TCP4") return Invalid();
    std::optional<platform::IpAddress> source = platform::IpAddress::Parse(fields[1]);
    std::optional<platform::IpAddress> destination = platform::IpAddress::Parse(fields[2]);
    std::optional<uint16_t> sourcePort = PortOf(fields[3]);
    // The family named must be the family written: an IPv4 text of TCP6 is refused, as an
    // IPv6 text of TCP4 is.
    const bool textsMatch = (fields[1].find(':') != std::string_view::npos) == ipv6 &&
                            (fields[2].find(':') != std::string_view::npos) == ipv6;
    if (!source || !destination || !sourcePort || !PortOf(fields[4]) || !textsMatch)
        return Invalid();
    header.source = source;
    header.sourcePortNetworkOrder = NetworkOrder(*sourcePort);
    return header;
}

ProxyHeader ParseV2(std::string_view bytes) {
    if (bytes.size() < kV2FixedLength) return ProxyHeader{};
    const auto byte = [&bytes](size_t i) { return static_cast<uint8_t>(bytes[i]); };
    const uint8_t version = byte(12) >> 4;
    const uint8_t command = byte(12) & 0x0f;
    const uint8_t family = byte(13) >> 4;
    const size_t length = size_t{byte(14)} << 8 | byte(15);
    if (version != 2 || command > 1 || kV2FixedLength + length > kMaxProxyHeaderSize)
        return Invalid();
    if (bytes.size() < kV2FixedLength + length) return ProxyHeader{};
    ProxyHeader header{Status::kComplete, kV2FixedLength + length, std::nullopt, 0};
    // LOCAL: the proxy's own connection, such as a health check.
    if (command == 0) return header;
    const char* block = bytes.data() + kV2FixedLength;
    if (family == 1) {  // IPv4: source, destination, source port, destination port
        if (length < 12) return Invalid();
        std::array<uint8_t, 4> a{};
        std::memcpy(a.data(), block, a.size());
        header.source = platform::IpAddress(uint32_t{a[0]} << 24 | uint32_t{a[1]} << 16 |
                                            uint32_t{a[2]} << 8 | uint32_t{a[3]});
        std::memcpy(&header.sourcePortNetworkOrder, block + 8, 2);
    } else if (family == 2) {  // IPv6: the same with sixteen-byte addresses
        if (length < 36) return Invalid();
        std::array<uint8_t, 16> a{};
        std::memcpy(a.data(), block, a.size());
        header.source = platform::IpAddress::FromIpv6(a);
        std::memcpy(&header.sourcePortNetworkOrder, block + 32, 2);
    }
    // Other families (unspecified, local sockets) name no client of the network.
    return header;
}

}  // namespace

ProxyHeader ParseProxyHeader(std::string_view bytes) {
    if (bytes.empty()) return ProxyHeader{};
    if (Begins(bytes, kV2Signature)) {
        return bytes.size() < kV2Signature.size() ? ProxyHeader{} : ParseV2(bytes);
    }
    if (Begins(bytes, kV1Start)) {
        return bytes.size() < kV1Start.size() ? ProxyHeader{} : ParseV1(bytes);
    }
    return Invalid();
}

}  // namespace http
