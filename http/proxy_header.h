// The PROXY protocol header (versions 1 and 2) a load balancer sends before the client's own
// bytes, naming the client it relays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/ip_address.h"

namespace http {

// The longest header taken: a version 1 line is at most 107 bytes; a version 2 header is 16
// bytes and its addresses, followed by extensions, of which this much is accepted.
inline constexpr size_t kMaxProxyHeaderSize = 16 + 4096;

struct ProxyHeader {
    enum class Status { kIncomplete, kInvalid, kComplete };
    Status status = Status::kIncomplete;
    // Complete: the header's length in bytes.
    size_t length = 0;
    // Complete: the client the proxy relays, and its port in network byte order. Nothing for
    // a connection the proxy makes of its own (a health check) or whose client it does not
    // name: the connection's own address stands.
    std::optional<platform::IpAddress> source;
    uint16_t sourcePortNetworkOrder = 0;
};

// Reads a header from the first bytes of a connection. Incomplete means every byte given
// belongs to a header that goes on; invalid, that the bytes are no header.
ProxyHeader ParseProxyHeader(std::string_view bytes);

}  // namespace http
