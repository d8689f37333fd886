// IPv6: a server without -bind reached over both families, -bind with an IPv6 address, and an
// IPv6 client as the access log, CGI, the local-client rule, the user list and links see it.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

// True when a socket can be bound to ::1: the machine has IPv6 and its loopback.
bool HasIpv6Loopback() {
    int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in6 sa{};
    sa.sin6_family = AF_INET6;
    sa.sin6_addr = in6addr_loopback;
    bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    ::close(fd);
    return bound;
}

#define SKIP_WITHOUT_IPV6() \
    if (!HasIpv6Loopback()) GTEST_SKIP() << "this machine has no IPv6 loopback (::1) to test on"

const std::string kAddressScript =
    "#!/bin/sh\n"
    "printf 'Content-Type: text/plain\\r\\n\\r\\n'\n"
    "echo \"addr=$REMOTE_ADDR host=$REMOTE_HOST\"\n";

// A vantry with Server 1 on a port free on `probeAddress` (checked again at start, since
// another process may take it meanwhile), bound to `bind`, or to every address when empty.
std::unique_ptr<VantryInstance> StartServer(const std::string& probeAddress,
                                            const std::string& bind, int* port,
                                            const std::vector<std::string>& extra = {}) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        *port = FreePort(probeAddress);
        auto vantry = std::make_unique<VantryInstance>(
            "[Config]\nport=" + std::to_string(*port) +
            "\nwwwroot={dir}/www/\nservername=Home\ncgi=Y\nlogs=Y\n");
        WriteFile(vantry->dir() + "/www/index.html", "hello");
        std::filesystem::create_directories(vantry->dir() + "/www/cgi-bin");
        WriteScript(vantry->dir() + "/www/cgi-bin/address", kAddressScript, 0755);
        vantry->listenEverywhere = bind.empty();
        vantry->bindArgument = bind;
        vantry->Start(extra, false);
        if (vantry->WaitForStderr("Vantry Running (Server 1", 10s)) return vantry;
        if (vantry->Stderr().find("Can't use port") == std::string::npos) {
            ADD_FAILURE() << vantry->Stderr();
            return nullptr;
        }
    }
    ADD_FAILURE() << "no free port for both families after 5 tries";
    return nullptr;
}

bool IsOk(const std::string& response) { return response.rfind("HTTP/1.0 200 OK\r\n", 0) == 0; }

TEST(Ipv6Test, WithoutBindOneServerAnswersBothFamiliesAndSeesEachClientsAddress) {
    SKIP_WITHOUT_IPV6();
    int port = 0;
    auto vantry = StartServer("::", "", &port);
    ASSERT_TRUE(vantry);
    const std::string v4 = vantry->address();  // a 127.x address of this test alone

    std::string overV6 = Exchange("::1", port, "GET /index.html HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(IsOk(overV6) && BodyOf(overV6) == "hello") << overV6;
    std::string overV4 = ExchangeFrom(v4, v4, port, "GET /index.html HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(IsOk(overV4) && BodyOf(overV4) == "hello") << overV4;
    // An IPv4 client arriving on the IPv6 socket is logged as its dotted address.
    std::string log = vantry->WaitForLogLines(2);
    EXPECT_EQ(log.rfind("::1 - - [", 0), 0u) << log;
    EXPECT_NE(log.find("\n" + v4 + " - - ["), std::string::npos) << log;
    EXPECT_EQ(log.find("::ffff:"), std::string::npos) << log;

    std::string cgi = Exchange("::1", port, "GET /cgi-bin/address HTTP/1.0\r\n\r\n");
    EXPECT_EQ(BodyOf(cgi), "addr=::1 host=::1\n") << cgi;
    cgi = ExchangeFrom(v4, v4, port, "GET /cgi-bin/address HTTP/1.0\r\n\r\n");
    EXPECT_EQ(BodyOf(cgi), "addr=" + v4 + " host=" + v4 + "\n") << cgi;

    // ::1 is this machine: the administration pages open without the Admin login.
    std::string admin = Exchange("::1", port, "GET /admin/ HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(IsOk(admin) && admin.find("WebMaster Home Page") != std::string::npos) << admin;

    // The user list shows the IPv6 visitor by its text, with links in brackets.
    std::string users = Exchange("::1", port, "GET /VNT/UserList.html HTTP/1.0\r\n\r\n");
    EXPECT_NE(users.find("<A HREF=\"http://[::1]\"> ::1 </A>"), std::string::npos) << users;
}

TEST(Ipv6Test, BindToAnIpv6AddressListensThereOnlyAndLinksCarryItInBrackets) {
    SKIP_WITHOUT_IPV6();
    int port = 0;
    auto vantry = StartServer("::1", "::1", &port);
    ASSERT_TRUE(vantry);
    EXPECT_TRUE(
        vantry->WaitForStderr("::1  Vantry Running (Server 1, port " + std::to_string(port), 1s))
        << vantry->Stderr();
    const std::string base = "http://[::1]:" + std::to_string(port);

    std::string admin = Exchange("::1", port, "GET /admin/ HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(IsOk(admin)) << admin;
    EXPECT_NE(admin.find(base + "/"), std::string::npos) << admin;
    EXPECT_FALSE(Client("127.0.0.1", port).connected())
        << "IPv4 must not reach a server bound to ::1";

    VantryInstance url;
    url.bindArgument = "::1";
    url.Start({"--url"}, false);
    EXPECT_EQ(url.WaitForExit(10s), 0);
    EXPECT_EQ(ReadFile(url.dir() + "/stdout.txt"),
              "http://[::1]:" + std::to_string(url.port1()) + "/\n");
}

}  // namespace
}  // namespace e2e
