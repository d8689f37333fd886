// Which Host values name the machine itself for the administration pages.
#include "admin/own_hosts.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/program.h"

namespace admin {
namespace {

TEST(OwnHostsTest, OnlyTheMachinesOwnNamesAndAddressesPass) {
    const OwnHosts own =
        FindOwnHosts("192.0.2.7", "", "admin.example, Other.Example\thome.lan:8080 . ,");
    struct Case {
        std::string host;
        bool own;
    } cases[] = {
        {"localhost", true},
        {"LocalHost.:8080", true},
        {"127.0.0.1", true},
        {"127.5.6.7:80", true},
        {"[::1]:9600", true},
        {"::1", true},
        {"192.0.2.7:8080", true},
        {"admin.example", true},
        {"other.example:81", true},
        {"home.lan", true},
        {"evil.example:8080", false},
        {"127.0.0.1.evil.example", false},
        {"localhost.evil.example", false},
        {"192.0.2.8", false},
        {"[::1", false},
        {"[::1]x", false},
        {"localhost:80x", false},
        {"", false},
        {":80", false},
        {".", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsOwnHost(c.host, own), c.own) << c.host;
    const std::string machine = platform::HostName();
    if (!machine.empty()) {
        EXPECT_TRUE(IsOwnHost(machine + ":8080", own)) << machine;
    }
}

}  // namespace
}  // namespace admin
