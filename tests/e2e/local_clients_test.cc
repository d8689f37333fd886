// Who counts as this machine itself: a request from any of its own interface addresses
// reaches the administration pages without a login; one from any other address is asked for
// the Admin login.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <string>
#include <vector>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

// The first IPv4 address of an interface of this machine that is up and not loopback; empty
// when there is none.
std::string NonLoopbackAddress() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return "";
    std::string found;
    for (ifaddrs* entry = list; entry != nullptr && found.empty(); entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr, text,
                    sizeof text);
        if (std::string(text).rfind("127.", 0) != 0) found = text;
    }
    ::freeifaddrs(list);
    return found;
}

// A vantry listening on `address` only, on a port that is free there.
class AdminServer {
  public:
    explicit AdminServer(const std::string& address)
        : address_(address),
          port_(FreePort(address)),
          vantry_("[Config]\nport=" + std::to_string(port_) +
                  "\nwwwroot={dir}/www/\nservername=Home\n") {
        vantry_.bindArgument = address;
        vantry_.Start({}, false);
    }
    bool WaitReady() { return vantry_.WaitForStderr("Vantry Running (Server 1", 10s); }
    // The answer to `request` from a client bound to `from`.
    std::string Ask(const std::string& from, const std::string& request) {
        return ExchangeFrom(from, address_, port_, request);
    }
    // The answer to "GET /admin/" without credentials from a client bound to `from`.
    std::string AskAdmin(const std::string& from) {
        return Ask(from, "GET /admin/ HTTP/1.0\r\n\r\n");
    }
    std::string Stderr() const { return vantry_.Stderr(); }

  private:
    std::string address_;
    int port_;
    VantryInstance vantry_;
};

// A local client reaches the webmaster home without a challenge.
bool IsHomePage(const std::string& response) {
    return response.rfind("HTTP/1.0 200 OK\r\n", 0) == 0 &&
           response.find("<H2>WebMaster Home Page</H2>") != std::string::npos;
}

bool IsChallenge(const std::string& response) { return e2e::IsChallenge(response, "Home"); }

TEST(LocalClientsTest, LoopbackCountsOnlyFromTheLoopbackInterfacesOwnAddress) {
    AdminServer server("127.0.0.1");
    ASSERT_TRUE(server.WaitReady()) << server.Stderr();
    EXPECT_TRUE(IsHomePage(server.AskAdmin("127.0.0.1"))) << "http://localhost/ is local";
    std::string fromOther = server.AskAdmin("127.0.0.3");
    EXPECT_TRUE(IsChallenge(fromOther)) << "127.0.0.3 is no interface's address\n" << fromOther;
}

// A proxy or tunnel on this machine connects from loopback for visitors from anywhere: what
// it forwards is asked for the login, whichever header says so.
TEST(LocalClientsTest, ForwardedRequestsAreNeverLocal) {
    AdminServer server("127.0.0.1");
    ASSERT_TRUE(server.WaitReady()) << server.Stderr();
    for (const char* header :
         {"Forwarded: for=203.0.113.9", "X-Forwarded-For: 203.0.113.9", "X-Real-IP: 203.0.113.9",
          "X-Forwarded-Host: example.org", "x-forwarded-proto: https",
          "CF-Connecting-IP: 203.0.113.9", "True-Client-IP: 203.0.113.9"}) {
        const std::string answer =
            server.Ask("127.0.0.1", "GET /admin/ HTTP/1.0\r\n" + std::string(header) + "\r\n\r\n");
        EXPECT_TRUE(IsChallenge(answer)) << header << "\n" << answer;
    }
    EXPECT_TRUE(IsHomePage(server.AskAdmin("127.0.0.1"))) << "without them the client is local";
}

TEST(LocalClientsTest, TheMachinesNetworkAddressIsLocal) {
    std::string own = NonLoopbackAddress();
    if (own.empty()) GTEST_SKIP() << "this machine has no interface that is up and not loopback";
    AdminServer server(own);
    ASSERT_TRUE(server.WaitReady()) << server.Stderr();
    EXPECT_TRUE(IsHomePage(server.AskAdmin(own))) << "from " << own << " to itself";
}

// A page of another site that has its name resolve to this machine reaches the server as a
// local client: its Host names that site, and the administration refuses it.
TEST(LocalClientsTest, TheAdministrationAnswersOnlyTheMachinesOwnNames) {
    VantryInstance vantry(
        "[Config]\nport={port1}\nwwwroot={dir}/www/\nservername=Home\nftpPassword=s3cret\n"
        "adminHosts=home.example,admin.example\n");
    vantry.Start();
    const std::string port = ":" + std::to_string(vantry.port1());
    const std::string ini = ReadFile(vantry.dir() + "/Vantry.ini");
    struct Case {
        std::string host;  // the Host header line, if any
        bool own;
    };
    const std::vector<Case> cases = {
        {"Host: evil.example" + port + "\r\n", false},
        {"Host: localhost" + port + "\r\n", true},
        {"Host: " + vantry.address() + port + "\r\n", true},
        {"Host: Admin.Example\r\n", true},
        {"", true},
    };
    for (const Case& c : cases) {
        const std::string page =
            Exchange(vantry.address(), vantry.port1(),
                     "GET /admin/serverproperties.html HTTP/1.0\r\n" + c.host + "\r\n");
        if (c.own) {
            EXPECT_NE(page.find("VALUE='s3cret'"), std::string::npos) << c.host;
        } else {
            EXPECT_EQ(page, ErrorPage("403 Forbidden", true)) << c.host;
        }
    }
    const std::string post = "POST /admin/change.html HTTP/1.0\r\nHost: evil.example" + port +
                             "\r\nOrigin: http://evil.example" + port +
                             "\r\nContent-Length: 8\r\n\r\nSITE=x&x";
    EXPECT_EQ(Exchange(vantry.address(), vantry.port1(), post), ErrorPage("403 Forbidden", true));
    EXPECT_EQ(ReadFile(vantry.dir() + "/Vantry.ini"), ini);
}

}  // namespace
}  // namespace e2e
