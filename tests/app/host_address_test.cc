// The advertised address: the host name's when a visitor can reach it, else an interface's.
#include "app/host_address.h"

#include <gtest/gtest.h>

#include "platform/socket.h"

namespace app {
namespace {

struct Interface {
    const char* address;
    bool up;
    bool loopback;
};

struct Case {
    const char* name;
    const char* hostNameAddress;  // "" when the name does not resolve
    std::vector<Interface> interfaces;
    const char* expected;  // "" when there is none
};

TEST(HostAddressTest, PrefersAReachableHostNameAddressThenTheFirstUpInterface) {
    const Interface lo{"127.0.0.1", true, true};
    const std::vector<Case> cases = {
        {"host name on 127.0.1.1 with a LAN interface",
         "127.0.1.1",
         {lo, {"192.168.1.20", true, false}},
         "192.168.1.20"},
        {"only loopback", "127.0.1.1", {lo}, ""},
        {"only loopback and no host name", "", {lo}, ""},
        {"host name on a LAN address wins over the interfaces",
         "192.168.1.20",
         {lo, {"10.0.0.5", true, false}},
         "192.168.1.20"},
        {"an interface that is down is skipped",
         "127.0.1.1",
         {lo, {"10.0.0.5", false, false}, {"192.168.1.30", true, false}},
         "192.168.1.30"},
        {"only a down interface", "127.0.0.1", {lo, {"10.0.0.5", false, false}}, ""},
        {"a loopback address on another interface is skipped",
         "",
         {{"127.0.0.2", true, false}, {"10.0.0.6", true, false}},
         "10.0.0.6"},
        {"a host name on 0.0.0.0 is no address",
         "0.0.0.0",
         {lo, {"10.0.0.7", true, false}},
         "10.0.0.7"},
        {"IPv6 interface addresses are passed over",
         "127.0.1.1",
         {lo, {"::1", true, true}, {"2001:db8::5", true, false}, {"10.0.0.8", true, false}},
         "10.0.0.8"},
    };
    for (const Case& c : cases) {
        std::optional<uint32_t> hostNameAddress;
        if (*c.hostNameAddress != '\0') hostNameAddress = platform::ParseIpv4(c.hostNameAddress);
        std::vector<platform::InterfaceAddress> interfaces;
        for (const Interface& i : c.interfaces) {
            interfaces.push_back({*platform::IpAddress::Parse(i.address), i.up, i.loopback});
        }
        std::optional<uint32_t> chosen = ChooseHostAddress(hostNameAddress, interfaces);
        EXPECT_EQ(chosen ? platform::FormatIpv4(*chosen) : "", c.expected) << c.name;
    }
}

}  // namespace
}  // namespace app
