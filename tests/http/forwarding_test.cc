// What proxies say of the requests they forward: the PROXY protocol header before a
// connection's bytes, and the forwarding headers a trusted proxy's request carries.
#include "http/forwarding.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "http/proxy_header.h"

namespace http {
namespace {

using Status = ProxyHeader::Status;

// A version 2 header: command (0 LOCAL, 1 PROXY), family byte, address block.
std::string V2(uint8_t command, uint8_t family, const std::string& block, uint8_t version = 2) {
    std::string header("\r\n\r\n\0\r\nQUIT\n", 12);
    header.push_back(static_cast<char>(version << 4 | command));
    header.push_back(static_cast<char>(family));
    header.push_back(static_cast<char>(block.size() >> 8));
    header.push_back(static_cast<char>(block.size() & 0xff));
    return header + block;
}

const std::string kV4Block(
    "\xcb\x00\x71\x14"
    "\x7f\x00\x00\x01"
    "\x15\xb3"
    "\x00\x50",
    12);
const std::string kV6Block = std::string("\x20\x01\x0d\xb8", 4) + std::string(11, '\0') + "\x20" +
                             std::string(15, '\0') + "\x01" + "\x04\xd2" + "\x01\xbb";

TEST(ProxyHeaderTest, ReadsBothVersionsAndRefusesAnythingElse) {
    struct Case {
        std::string bytes;
        Status status;
        size_t length;
        const char* source;  // nullptr: the connection's own address stands
        uint16_t port;
    };
    const std::string v1 = "PROXY TCP4 203.0.113.20 127.0.0.1 5555 80\r\n";
    const Case cases[] = {
        {v1 + "GET / HTTP/1.0\r\n", Status::kComplete, v1.size(), "203.0.113.20", 5555},
        {"PROXY TCP6 2001:db8::20 ::1 65535 443\r\n", Status::kComplete, 39, "2001:db8::20", 65535},
        {"PROXY UNKNOWN\r\n", Status::kComplete, 15, nullptr, 0},
        {"PROXY UNKNOWN ffff::1 ffff::2 1 2\r\n", Status::kComplete, 35, nullptr, 0},
        {"PROXY TCP4 203.0.113.20 127.0", Status::kIncomplete, 0, nullptr, 0},
        {"PRO", Status::kIncomplete, 0, nullptr, 0},
        {"", Status::kIncomplete, 0, nullptr, 0},
        {"GET / HTTP/1.0\r\n\r\n", Status::kInvalid, 0, nullptr, 0},
        {"PROXY TCP4 999.0.113.20 127.0.0.1 5555 80\r\n", Status::kInvalid, 0, nullptr, 0},
        {"PROXY TCP4 2001:db8::1 ::1 5555 80\r\n", Status::kInvalid, 0, nullptr, 0},
        {"PROXY TCP6 203.0.113.20 127.0.0.1 5555 80\r\n", Status::kInvalid, 0, nullptr, 0},
        {"PROXY TCP4 203.0.113.20 127.0.0.1 65536 80\r\n", Status::kInvalid, 0, nullptr, 0},
        {"PROXY TCP4 203.0.113.20 127.0.0.1 055 80\r\n", Status::kInvalid, 0, nullptr, 0},
        {"PROXY TCP4 203.0.113.20  127.0.0.1 5555 80\r\n", Status::kInvalid, 0, nullptr, 0},
        {"PROXY TCP4 203.0.113.20 127.0.0.1 5555\r\n", Status::kInvalid, 0, nullptr, 0},
        {"PROXY TCP4 203.0.113.20 127.0.0.1 5555 80 9\r\n", Status::kInvalid, 0, nullptr, 0},
        {"PROXY TCP4 203.0.113.20 127.0.0.1 5555 80\n", Status::kInvalid, 0, nullptr, 0},
        {"PROXY " + std::string(120, 'x'), Status::kInvalid, 0, nullptr, 0},
        {V2(1, 0x11, kV4Block) + "GET", Status::kComplete, 28, "203.0.113.20", 5555},
        {V2(1, 0x21, kV6Block), Status::kComplete, 52, "2001:db8::20", 1234},
        {V2(1, 0x11, kV4Block + "TLVs"), Status::kComplete, 32, "203.0.113.20", 5555},
        {V2(0, 0x00, ""), Status::kComplete, 16, nullptr, 0},  // a health check's own
        {V2(1, 0x00, ""), Status::kComplete, 16, nullptr, 0},
        {V2(1, 0x31, std::string(216, 'u')), Status::kComplete, 232, nullptr, 0},  // a local socket
        {V2(1, 0x11, kV4Block).substr(0, 20), Status::kIncomplete, 0, nullptr, 0},
        {V2(1, 0x11, kV4Block).substr(0, 7), Status::kIncomplete, 0, nullptr, 0},
        {V2(1, 0x11, kV4Block.substr(0, 8)), Status::kInvalid, 0, nullptr, 0},
        {V2(1, 0x21, kV4Block), Status::kInvalid, 0, nullptr, 0},
        {V2(2, 0x11, kV4Block), Status::kInvalid, 0, nullptr, 0},
        {V2(1, 0x11, kV4Block, 3), Status::kInvalid, 0, nullptr, 0},
        {V2(1, 0x11, std::string(5000, 'x')), Status::kInvalid, 0, nullptr, 0},
        {std::string("\r\n\r\n\0\r\nQUIT!", 12), Status::kInvalid, 0, nullptr, 0},
    };
    for (const Case& c : cases) {
        ProxyHeader header = ParseProxyHeader(c.bytes);
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        EXPECT_EQ(header.status, c.status);
        if (c.status != Status::kComplete) continue;
        EXPECT_EQ(header.length, c.length);
        EXPECT_EQ(header.source ? header.source->Text() : "", c.source ? c.source : "");
        EXPECT_EQ(ntohs(header.sourcePortNetworkOrder), c.port);
    }
}

TEST(ForwardingTest, TheRightMostUntrustedAddressIsTheClient) {
    const platform::AddressRanges trusted =
        platform::AddressRanges::Parse("127.0.0.1 10.0.0.0/8 ::1");
    struct Case {
        std::string headers;  // lines ended by CR, as the connection keeps them
        const char* client;   // nullptr: none named
        bool https;
        const char* authority;  // nullptr: none said
    };
    const Case cases[] = {
        {"X-Forwarded-For: 203.0.113.9\r", "203.0.113.9", false, nullptr},
        // A client's own X-Forwarded-For is the chain's left end: the proxy appends the truth.
        {"X-Forwarded-For: 127.0.0.1, 203.0.113.9\r", "203.0.113.9", false, nullptr},
        {"X-Forwarded-For: 198.51.100.1, 203.0.113.9, 10.1.2.3\r", "203.0.113.9", false, nullptr},
        // A proxy that adds a line of its own: the lines form one chain, in order.
        {"x-forwarded-for: 198.51.100.7\rX-Forwarded-For: 203.0.113.10\r", "203.0.113.10", false,
         nullptr},
        {"X-Forwarded-For: 10.0.0.5, 127.0.0.1\r", "10.0.0.5", false, nullptr},  // all trusted
        {"X-Forwarded-For: 203.0.113.9:4711\r", "203.0.113.9", false, nullptr},
        {"X-Forwarded-For: [2001:db8::7]:4711\r", "2001:db8::7", false, nullptr},
        {"X-Forwarded-For: 2001:db8::7\r", "2001:db8::7", false, nullptr},
        {"X-Forwarded-For: 203.0.113.9, unknown\r", nullptr, false, nullptr},
        {"X-Forwarded-For: unknown, 203.0.113.9\r", "203.0.113.9", false, nullptr},
        {"X-Forwarded-For: \r", nullptr, false, nullptr},
        {"X-Real-IP: 203.0.113.9\r", nullptr, false, nullptr},
        {"X-Forwarded-For: 203.0.113.9\rX-Forwarded-Proto: HTTPS\rX-Forwarded-Host: "
         "example.org:8443\r",
         "203.0.113.9", true, "example.org:8443"},
        {"X-Forwarded-For: 203.0.113.9\rX-Forwarded-Proto: http, https\r", "203.0.113.9", false,
         nullptr},
        {"X-Forwarded-For: 203.0.113.9\rX-Forwarded-Host: <b>evil\r", "203.0.113.9", false,
         nullptr},
        {"Forwarded: for=203.0.113.9;proto=https;host=example.org\r", "203.0.113.9", true,
         "example.org"},
        {"Forwarded: for=\"[2001:db8:cafe::17]:4711\", for=127.0.0.1;proto=https\r",
         "2001:db8:cafe::17", false, nullptr},
        {"Forwarded: for=198.51.100.1\rForwarded: For=203.0.113.9;by=10.0.0.1\r", "203.0.113.9",
         false, nullptr},
        {"Forwarded: for=_hidden, for=127.0.0.1\r", nullptr, false, nullptr},
        {"Forwarded: proto=https\r", nullptr, false, nullptr},
        // Without a host of the proxy's own, the Host it passed on says where the client went.
        {"Host: files.example:8080\rX-Forwarded-For: 203.0.113.9\r", "203.0.113.9", false,
         "files.example:8080"},
        {"Host: a b\rX-Forwarded-For: 203.0.113.9\rX-Forwarded-Host: <x>\r", "203.0.113.9", false,
         nullptr},
    };
    for (const Case& c : cases) {
        Forwarding forwarding = ReadForwarding(c.headers, trusted);
        SCOPED_TRACE(c.headers);
        EXPECT_EQ(forwarding.client ? forwarding.client->Text() : "", c.client ? c.client : "");
        if (!c.client) continue;
        EXPECT_EQ(forwarding.https, c.https);
        EXPECT_EQ(forwarding.authority.value_or(""), c.authority ? c.authority : "");
    }
}

}  // namespace
}  // namespace http
