// What proxies, tunnels and load balancers say of the requests they forward: the headers by
// which a request is known as forwarded, and, for a proxy the owner trusts, the client and
// the scheme it names.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/address_ranges.h"
#include "platform/ip_address.h"

namespace http {

// True when the header text (as FindHeader reads it) has any of the headers by which a
// proxy or a tunnel says whom it forwards: Forwarded, X-Forwarded-For, X-Real-IP,
// X-Forwarded-Host, X-Forwarded-Proto, CF-Connecting-IP or True-Client-IP.
bool CarriesForwardingHeader(std::string_view headers);

// What the headers of a request from a trusted proxy say.
struct Forwarding {
    // The client: walking X-Forwarded-For (every line of it, in order) from its right end,
    // or, without it, the for= of Forwarded, the first address that is not itself trusted,
    // or the left-most when all are. Nothing when the headers name none, or an entry met
    // on the way is no address (such as "unknown").
    std::optional<platform::IpAddress> client;
    // The client asked over HTTPS: X-Forwarded-Proto's first value, or the proto= of the
    // Forwarded element that named the client, is "https".
    bool https = false;
    // The host and port the client asked for: X-Forwarded-Host's first value, or the
    // Forwarded element's host=, else the Host header the proxy passed on, when it is a plain
    // name or address with an optional port. Nothing when no client is named.
    std::optional<std::string> authority;
};
Forwarding ReadForwarding(std::string_view headers, const platform::AddressRanges& trusted);

}  // namespace http
