// Client and bind addresses: which texts are addresses, how IPv4-mapped ones unmap, how each
// prints and how it stands in a link.
#include "platform/ip_address.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(IpAddressTest, ParsesUnmapsAndPrintsBothFamilies) {
    struct Case {
        const char* text;
        const char* printed;  // nullptr: not an address
        bool ipv6;
        uint32_t ipv4;
        const char* urlHost;
    };
    const Case cases[] = {
        {"127.0.0.1", "127.0.0.1", false, 0x7f000001u, "127.0.0.1"},
        {"10.20.30.40", "10.20.30.40", false, 0x0a141e28u, "10.20.30.40"},
        // What a dual-stack socket shows of an IPv4 client is that client.
        {"::ffff:127.0.0.3", "127.0.0.3", false, 0x7f000003u, "[::ffff:127.0.0.3]"},
        {"::FFFF:7f00:1", "127.0.0.1", false, 0x7f000001u, "[::FFFF:7f00:1]"},
        {"::1", "::1", true, 0, "[::1]"},
        {"2001:DB8:0:0:0:0:0:5", "2001:db8::5", true, 0, "[2001:DB8:0:0:0:0:0:5]"},
        {"fe80::1:2", "fe80::1:2", true, 0, "[fe80::1:2]"},
        // IPv4-compatible (::a.b.c.d) is no mapped address.
        {"::127.0.0.1", "::127.0.0.1", true, 0, "[::127.0.0.1]"},
        {"::", "::", true, 0, "[::]"},
        {"999.1.2.3", nullptr, false, 0, "999.1.2.3"},
        {"1.2.3", nullptr, false, 0, "1.2.3"},
        {"[::1]", nullptr, false, 0, "[::1]"},
        {"fe80::1%eth0", nullptr, false, 0, "fe80::1%eth0"},
        {"::1:8080:", nullptr, false, 0, "::1:8080:"},
        {"example.com", nullptr, false, 0, "example.com"},
        {"", nullptr, false, 0, ""},
    };
    for (const Case& c : cases) {
        std::optional<IpAddress> address = IpAddress::Parse(c.text);
        EXPECT_EQ(UrlHost(c.text), c.urlHost) << c.text;
        if (c.printed == nullptr) {
            EXPECT_FALSE(address.has_value()) << c.text;
            continue;
        }
        ASSERT_TRUE(address.has_value()) << c.text;
        EXPECT_EQ(address->Text(), c.printed) << c.text;
        EXPECT_EQ(address->IsIpv6(), c.ipv6) << c.text;
        EXPECT_EQ(address->Ipv4(), c.ipv4) << c.text;
        // The printed form reads back as the same address.
        EXPECT_TRUE(IpAddress::Parse(address->Text()) == address) << c.text;
        if (!c.ipv6) {
            EXPECT_TRUE(*address == IpAddress(c.ipv4)) << c.text;
        }
    }
    EXPECT_FALSE(*IpAddress::Parse("::1") == *IpAddress::Parse("::2"));
    EXPECT_FALSE(*IpAddress::Parse("::1") == IpAddress(1));
}

TEST(IpAddressTest, UrlAuthorityLeavesOutPort80AndBracketsIpv6) {
    EXPECT_EQ(UrlAuthority("192.168.1.5", 80), "192.168.1.5");
    EXPECT_EQ(UrlAuthority("192.168.1.5", 9600), "192.168.1.5:9600");
    EXPECT_EQ(UrlAuthority("2001:db8::5", 9600), "[2001:db8::5]:9600");
}

}  // namespace
}  // namespace platform
