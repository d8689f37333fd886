// Forwarding headers: X-Forwarded-For chains and the elements of Forwarded.
#include "http/forwarding.h"

#include <algorithm>
#include <vector>

#include "http/connection.h"
#include "platform/text.h"

namespace http {
namespace {

using platform::EqualsNoCase;
using platform::Trim;

constexpr std::string_view kForwardingHeaders[] = {
    "Forwarded",         "X-Forwarded-For",  "X-Real-IP",     "X-Forwarded-Host",
    "X-Forwarded-Proto", "CF-Connecting-IP", "True-Client-IP"};

// The parts of `text` between `separator`s, blanks around them removed, empty ones left out.
std::vector<std::string_view> SplitList(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    while (!text.empty()) {
        size_t end = text.find(separator);
        std::string_view part = Trim(text.substr(0, end));
        if (!part.empty()) parts.push_back(part);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return parts;
}

std::string_view Unquoted(std::string_view value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// The address of a node as proxies write it: "192.0.2.1", "192.0.2.1:4711", "2001:db8::1",
// "[2001:db8::1]" or "[2001:db8::1]:4711".
std::optional<platform::IpAddress> NodeAddress(std::string_view node) {
    node = Unquoted(Trim(node));
    if (node.starts_with('[')) {
        size_t close = node.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        return platform::IpAddress::Parse(node.substr(1, close - 1));
    }
    if (std::count(node.begin(), node.end(), ':') == 1) node = node.substr(0, node.find(':'));
    return platform::IpAddress::Parse(node);
}

// The value of parameter `name` in one element of Forwarded ("for=...;proto=https").
std::optional<std::string_view> Parameter(std::string_view element, std::string_view name) {
    for (std::string_view pair : SplitList(element, ';')) {
        size_t equals = pair.find('=');
        if (equals != std::string_view::npos && EqualsNoCase(Trim(pair.substr(0, equals)), name)) {
            return Unquoted(Trim(pair.substr(equals + 1)));
        }
    }
    return std::nullopt;
}

std::optional<std::string> PlainAuthority(std::string_view value) {
    std::optional<std::string_view> host = platform::HostOfAuthority(value);
    if (!host || !platform::IsPlainHost(*host)) return std::nullopt;
    return std::string(Trim(value));
}

// The index of the node that names the client in `nodes` (in the order the proxies added
// them): the right-most untrusted one, else the left-most. Nothing when a node met on the way
// is no address.
std::optional<size_t> ClientNode(const std::vector<std::optional<platform::IpAddress>>& nodes,
                                 const platform::AddressRanges& trusted) {
    for (size_t i = nodes.size(); i-- > 0;) {
        if (!nodes[i]) return std::nullopt;
        if (!trusted.Contains(*nodes[i])) return i;
    }
    if (nodes.empty()) return std::nullopt;
    return 0;
}

// What the chain of X-Forwarded-For, or else of Forwarded, says; the host only as the proxy
// said it.
Forwarding ReadChain(std::string_view headers, const platform::AddressRanges& trusted) {
    Forwarding forwarding;
    std::vector<std::string_view> chain;
    for (std::string_view line : FindHeaders(headers, "X-Forwarded-For")) {
        for (std::string_view node : SplitList(line, ',')) chain.push_back(node);
    }
    if (!chain.empty()) {
        std::vector<std::optional<platform::IpAddress>> nodes;
        for (std::string_view node : chain) nodes.push_back(NodeAddress(node));
        if (std::optional<size_t> client = ClientNode(nodes, trusted))
            forwarding.client = nodes[*client];
        if (std::optional<std::string_view> proto = FindHeader(headers, "X-Forwarded-Proto")) {
            std::vector<std::string_view> values = SplitList(*proto, ',');
            forwarding.https = !values.empty() && EqualsNoCase(values.front(), "https");
        }
        if (std::optional<std::string_view> host = FindHeader(headers, "X-Forwarded-Host")) {
            std::vector<std::string_view> values = SplitList(*host, ',');
            if (!values.empty()) forwarding.authority = PlainAuthority(values.front());
        }
        return forwarding;
    }
    std::vector<std::string_view> elements;
    for (std::string_view line : FindHeaders(headers, "Forwarded")) {
        for (std::string_view element : SplitList(line, ',')) elements.push_back(element);
    }
    std::vector<std::optional<platform::IpAddress>> nodes;
    std::vector<size_t> elementOfNode;
    for (size_t i = 0; i < elements.size(); ++i) {
        if (std::optional<std::string_view> node = Parameter(elements[i], "for")) {
            nodes.push_back(NodeAddress(*node));
            elementOfNode.push_back(i);
        }
    }
    std::optional<size_t> client = ClientNode(nodes, trusted);
    if (!client) return forwarding;
    forwarding.client = nodes[*client];
    std::string_view element = elements[elementOfNode[*client]];
    std::optional<std::string_view> proto = Parameter(element, "proto");
    forwarding.https = proto && EqualsNoCase(*proto, "https");
    if (std::optional<std::string_view> host = Parameter(element, "host")) {
        forwarding.authority = PlainAuthority(*host);
    }
    return forwarding;
}

}  // namespace

bool CarriesForwardingHeader(std::string_view headers) {
    return std::any_of(
        std::begin(kForwardingHeaders), std::end(kForwardingHeaders),
        [headers](std::string_view name) { return FindHeader(headers, name).has_value(); });
}

Forwarding ReadForwarding(std::string_view headers, const platform::AddressRanges& trusted) {
    Forwarding forwarding = ReadChain(headers, trusted);
    // A proxy that passes the client's Host on, as most do, says the host that way.
    if (forwarding.client && !forwarding.authority) {
        if (std::optional<std::string_view> host = FindHeader(headers, "Host")) {
            forwarding.authority = PlainAuthority(*host);
        }
    }
    return forwarding;
}

}  // namespace http
