// Visitors behind a proxy or a load balancer: a proxy the owner trusts names the client in its
// headers, a listener that asks for the PROXY protocol takes the client from its header, and
// nobody else is believed.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

constexpr char kRemoteAddrScript[] =
    "#!/usr/bin/perl\nprint \"Content-Type: text/plain\\r\\n\\r\\n$ENV{REMOTE_ADDR}\";\n";

std::string Ask(const VantryInstance& vantry, const std::string& from, const std::string& request) {
    return ExchangeFrom(from, vantry.address(), vantry.port1(), request);
}

class TrustedProxyTest : public ::testing::Test {
  protected:
    TrustedProxyTest()
        : vantry(
              "[Config]\nport={port1}\nwwwroot={dir}/www/\nservername=Home\nlogs=Y\ncgi=Y\n"
              "list=Y\ntrustedProxies=127.0.0.1, 10.0.0.0/8 "
              "bad/entry\nadminHosts=files.example\n") {
        std::filesystem::create_directories(vantry.dir() + "/www/cgi-bin");
        std::filesystem::create_directories(vantry.dir() + "/www/dir");
        WriteScript(vantry.dir() + "/www/cgi-bin/addr.pl", kRemoteAddrScript);
        WriteFile(vantry.dir() + "/registry.reg", kAdminRegistry);
        vantry.Start();
    }
    VantryInstance vantry;
};

TEST_F(TrustedProxyTest, TheClientItNamesIsTheClientEverywhere) {
    EXPECT_TRUE(
        vantry.WaitForStderr("trustedProxies: not an address or range, left out: bad/entry", 5s))
        << vantry.Stderr();
    struct Case {
        std::string from;
        std::string headers;
        std::string client;  // what the script, then the log, see
    };
    const std::vector<Case> cases = {
        {"127.0.0.1", "X-Forwarded-For: 127.0.0.1, 203.0.113.9\r\n", "203.0.113.9"},
        {"127.0.0.1",
         "X-Forwarded-For: 198.51.100.7\r\nX-Forwarded-For: 203.0.113.10, 10.0.0.2\r\n",
         "203.0.113.10"},
        {"127.0.0.1", "Forwarded: for=\"[2001:db8::5]:4711\";proto=https\r\n", "2001:db8::5"},
        {"127.0.0.1", "X-Forwarded-For: unknown\r\n", "127.0.0.1"},
        // Another address's headers are the client's own words: not believed.
        {"127.0.0.7", "X-Forwarded-For: 203.0.113.11\r\n", "127.0.0.7"},
    };
    for (const Case& c : cases) {
        const std::string answer =
            Ask(vantry, c.from, "GET /cgi-bin/addr.pl HTTP/1.0\r\n" + c.headers + "\r\n");
        EXPECT_EQ(BodyOf(answer), c.client) << c.headers << answer;
    }
    std::vector<std::string> logged = LoggedClients(vantry.WaitForLogLines(cases.size()));
    ASSERT_EQ(logged.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(logged[i], cases[i].client);

    // The visitor table and the administration see the same client: the proxy's own machine
    // is local only when the proxy says the client is.
    const std::string users =
        Ask(vantry, "127.0.0.1",
            "GET /VNT/userlist.html HTTP/1.0\r\nX-Forwarded-For: 203.0.113.12\r\n" + kAdminLogin +
                "\r\n");
    EXPECT_NE(users.find(" 203.0.113.12 "), std::string::npos) << users;
    EXPECT_TRUE(
        Ask(vantry, "127.0.0.1", "GET /admin/ HTTP/1.0\r\nX-Forwarded-For: 203.0.113.9\r\n\r\n")
            .starts_with("HTTP/1.0 401 "));
    EXPECT_TRUE(
        Ask(vantry, "127.0.0.1", "GET /admin/ HTTP/1.0\r\nX-Forwarded-For: 127.0.0.1\r\n\r\n")
            .starts_with("HTTP/1.0 200 OK\r\n"));
}

// A proxy that took the client's request over HTTPS says so: the pages link over HTTPS to the
// host the client asked for.
TEST_F(TrustedProxyTest, PagesLinkWhereTheClientWent) {
    const std::string listing =
        Ask(vantry, "127.0.0.1",
            "GET /dir/ HTTP/1.0\r\nHost: files.example\r\nX-Forwarded-For: 203.0.113.9\r\n"
            "X-Forwarded-Proto: https\r\n\r\n");
    EXPECT_EQ(listing.find("http://files.example"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("http://" + vantry.address()), std::string::npos) << listing;
    EXPECT_NE(listing.find("https://files.example/VNT/"), std::string::npos) << listing;
    // The same words from an untrusted address change nothing.
    const std::string direct =
        Ask(vantry, "127.0.0.7",
            "GET /dir/ HTTP/1.0\r\nHost: files.example\r\nX-Forwarded-For: 203.0.113.9\r\n"
            "X-Forwarded-Proto: https\r\n\r\n");
    EXPECT_EQ(direct.find("https://"), std::string::npos) << direct;
    // A form of the administration posts back to the origin the client saw.
    const std::string post =
        "POST /admin/ HTTP/1.0\r\nHost: files.example\r\nX-Forwarded-For: 127.0.0.1\r\n"
        "X-Forwarded-Proto: https\r\nContent-Length: 0\r\nOrigin: ";
    EXPECT_TRUE(Ask(vantry, "127.0.0.1", post + "https://files.example\r\n\r\n")
                    .starts_with("HTTP/1.0 200 OK"));
    EXPECT_EQ(Ask(vantry, "127.0.0.1", post + "http://files.example\r\n\r\n"),
              ErrorPage("403 Forbidden", true));
}

// A version 2 PROXY header: the PROXY command for an IPv4 client, or LOCAL (a health check).
std::string ProxyV2(bool local, const std::string& source) {
    std::string header("\r\n\r\n\0\r\nQUIT\n", 12);
    header += local ? '\x20' : '\x21';
    header += local ? '\x00' : '\x11';
    header += std::string("\x00", 1) + (local ? '\x00' : '\x0c');
    if (local) return header;
    return header + source + std::string("\x7f\x00\x00\x01\x30\x39\x00\x50", 8);
}

TEST(ProxyProtocolTest, TheHeaderNamesTheClientAndNothingElseIsServed) {
    VantryInstance vantry("[Config]\nport={port1}\nwwwroot={dir}/www/\nlogs=Y\nproxyProtocol=Y\n");
    WriteFile(vantry.dir() + "/www/index.html", "hello");
    vantry.Start();
    const std::string get = "GET / HTTP/1.0\r\n\r\n";
    struct Case {
        std::string header;
        std::string logged;  // empty: the connection is closed unanswered
    };
    const std::vector<Case> cases = {
        {"PROXY TCP4 203.0.113.20 127.0.0.1 5555 80\r\n", "203.0.113.20"},
        {"PROXY TCP6 2001:db8::20 ::1 5555 443\r\n", "2001:db8::20"},
        {ProxyV2(false, std::string("\xc6\x33\x64\x15", 4)), "198.51.100.21"},
        {ProxyV2(true, ""), vantry.address()},
        {"PROXY UNKNOWN\r\n", vantry.address()},
        {"", ""},
        {"PROXY TCP4 203.0.113.20 127.0.0.1 5555\r\n", ""},
        {"PROXY TCP4 203.0.113.20 127.0.0.1 5555 80\n", ""},
        {std::string("\r\n\r\n\0\r\nQUIT\n\x31\x11\x00\x0c", 16) + std::string(12, '\x01'), ""},
    };
    std::vector<std::string> expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.header));
        Client client(vantry.address(), vantry.port1(), vantry.address());
        ASSERT_TRUE(client.connected());
        // The header's first bytes alone, then the rest with the request: it is read whole
        // however it arrives.
        const size_t first = std::min<size_t>(c.header.size(), 7);
        if (first > 0) {
            client.Send(c.header.substr(0, first));
            ASSERT_TRUE(client.WaitUntilServerRead());
        }
        client.Send(c.header.substr(first) + get);
        if (c.logged.empty()) {
            EXPECT_TRUE(client.ClosedWithoutData(5s));
            continue;
        }
        const std::string answer = client.ReadAll();
        EXPECT_TRUE(answer.starts_with("HTTP/1.0 200 OK\r\n")) << answer;
        EXPECT_EQ(BodyOf(answer), "hello");
        expected.push_back(c.logged);
    }
    EXPECT_EQ(LoggedClients(vantry.WaitForLogLines(expected.size())), expected);
}

}  // namespace
}  // namespace e2e
