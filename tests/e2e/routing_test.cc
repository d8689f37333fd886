// Routing, files, redirects, virtual directories, authentication and the access log of the
// real program, seen as bytes on the wire and files on disk.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kNotFound = ErrorPage("404 Object Not Found");
const std::string kForbidden = ErrorPage("403 Forbidden");

std::string StatusOf(const std::string& response) {
    return response.substr(0, response.find("\r\n"));
}

class RoutingTest : public ::testing::Test {
  protected:
    RoutingTest()
        : vantry(
              "[Config]\nport={port1}\nwwwroot={dir}/www/\nlogs=Y\n"
              "[Server-2-Config]\nport={port2}\nwwwroot={dir}/www2/\ndefault=start.htm\n"
              "[Server-2]\nsecondPortEnabled=Y\n"
              "[VirtualDirectories]\ndocs={dir}/shared\n") {
        const std::string& d = vantry.dir();
        fs::create_directories(d + "/www/sub/deeper");
        fs::create_directories(d + "/www/empty");
        fs::create_directories(d + "/www2");
        fs::create_directories(d + "/shared");
        WriteFile(d + "/www/index.html", "<p>root index</p>");
        WriteFile(d + "/www/a b.html", "space");
        WriteFile(d + "/www/azzb", "zz");
        WriteFile(d + "/www/sub/index.html", "sub index");
        WriteFile(d + "/www/page.gif", "GIF89a");
        WriteFile(d + "/www/secret.txt", "secret");
        WriteFile(d + "/www2/start.htm", "server two");
        WriteFile(d + "/shared/x.html", "shared x");
        WriteFile(d + "/outside.txt", "outside");
    }
    void SetUp() override { vantry.Start(); }
    std::string Ask(const std::string& target, int port = 0) {
        return Exchange(vantry.address(), port == 0 ? vantry.port1() : port,
                        "GET " + target + " HTTP/1.0\r\n\r\n");
    }
    VantryInstance vantry;
};

TEST_F(RoutingTest, FilesAreServedWithTheirTypeAndDefaultDocuments) {
    std::string r = Ask("/");
    EXPECT_EQ(StatusOf(r), "HTTP/1.0 200 OK");
    EXPECT_NE(r.find("Content-Type: text/html\r\n"), std::string::npos);
    EXPECT_EQ(BodyOf(r), "<p>root index</p>");
    EXPECT_EQ(BodyOf(Ask("/sub/")), "sub index");
    r = Ask("/page.gif");
    EXPECT_NE(r.find("Content-Type: image/gif\r\nLast-Modified: "), std::string::npos);
    EXPECT_NE(r.find("Content-Length: 6\r\n"), std::string::npos);
    EXPECT_NE(Ask("/secret.txt").find("Content-Type: text/plain\r\n"), std::string::npos);
    EXPECT_EQ(Ask("/missing.html"), kNotFound);
    // A directory without a default document is listed, a missing one without entries.
    EXPECT_EQ(StatusOf(Ask("/empty/")), "HTTP/1.0 200 OK");
    EXPECT_EQ(StatusOf(Ask("/nodir/")), "HTTP/1.0 200 OK");
    EXPECT_EQ(Ask("/nodir"), kNotFound);
}

TEST_F(RoutingTest, LargeFileArrivesWholeToASlowReaderWhileOthersAreServed) {
    // The loop sends what the socket takes at once, a worker the rest.
    std::string content;
    for (uint64_t i = 0; content.size() < 5 * 1024 * 1024 + 7; ++i)
        content += std::to_string(i * 7919) + ",";
    WriteFile(vantry.dir() + "/www/big.bin", content);
    Client slow(vantry.address(), vantry.port1(), "", 0, 4096);
    slow.Send("GET /big.bin HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(slow.WaitUntilServerWaitsForUs()) << "the server fills the socket and waits";
    EXPECT_EQ(BodyOf(Ask("/a%20b.html")), "space") << "others are served meanwhile";
    std::string response = slow.ReadAll(30s);
    EXPECT_NE(response.find("Content-Length: " + std::to_string(content.size()) + "\r\n"),
              std::string::npos);
    EXPECT_TRUE(BodyOf(response) == content) << "got " << BodyOf(response).size() << " bytes";
}

TEST_F(RoutingTest, UrlsAreDecodedBeforeTheyAreMapped) {
    EXPECT_EQ(BodyOf(Ask("/a%20b.html")), "space");
    EXPECT_EQ(BodyOf(Ask("/a+b.html")), "space");
    EXPECT_EQ(BodyOf(Ask("/a%zzb")), "zz");
    EXPECT_EQ(Ask("/sub/../secret.txt"), kForbidden);
    EXPECT_EQ(Ask("/sub/%2e%2e/%2e%2e/outside.txt"), kForbidden);
    EXPECT_EQ(Ask("/*.html"), kForbidden);
    EXPECT_EQ(Ask("/a%00b.html"), ErrorPage("400 Bad Request"));
    EXPECT_EQ(Ask("/" + std::string(300, 'p') + ".html"), kNotFound) << "too long a path";
}

TEST_F(RoutingTest, DirectoryWithoutSlashIsRedirectedToItsAbsoluteAddress) {
    std::string r = Ask("/sub/deeper");
    EXPECT_EQ(StatusOf(r), "HTTP/1.0 301 Moved Permanently");
    EXPECT_NE(r.find("\r\nLocation: /sub/deeper/\r\n"), std::string::npos) << r;
    EXPECT_NE(BodyOf(r).find("<A HREF=\"\r\n/sub/deeper\r\n/\r\n\">"), std::string::npos) << r;
    fs::create_directories(vantry.dir() + "/www/my dir");
    EXPECT_NE(Ask("/my%20dir").find("\r\nLocation: /my%20dir/\r\n"), std::string::npos);
}

TEST_F(RoutingTest, VirtualDirectoriesAndBothServersRoots) {
    EXPECT_EQ(BodyOf(Ask("/Docs/x.html")), "shared x");
    EXPECT_EQ(Ask("/docs/sub/x.html"), kNotFound) << "only the whole directory part matches";
    ASSERT_TRUE(vantry.WaitForStderr("(Server 2, port", 5s));
    EXPECT_EQ(BodyOf(Ask("/", vantry.port2())), "server two");
    EXPECT_EQ(Ask("/index.html", vantry.port2()), kNotFound);
}

TEST_F(RoutingTest, RoutesBeforeFilesAnswerUntilTheirPagesExist) {
    WriteFile(vantry.dir() + "/www/VNTsomething.html", "never served as a file");
    EXPECT_EQ(Ask("/VNTsomething.html"), kNotFound);
    fs::create_directories(vantry.dir() + "/www/vnt/FAVORITES");
    WriteFile(vantry.dir() + "/www/vnt/FAVORITES/x", "never served as a file");
    EXPECT_NE(Ask("/vnt/FAVORITES/x").find("<TITLE>\r\nFavorites Listng\r\n"), std::string::npos)
        << "the favorites listing, not the file";
}

TEST_F(RoutingTest, EveryRequestLeavesOneLogLineEvenUnderConcurrency) {
    constexpr int kThreads = 6;
    constexpr int kEach = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this] {
            for (int i = 0; i < kEach; ++i) Ask(i % 2 ? "/a%20b.html" : "/missing");
        });
    }
    for (auto& t : threads) t.join();
    // The log line is written after the response: wait for the last ones.
    std::string log = vantry.WaitForLogLines(kThreads * kEach);
    std::regex line(
        "127\\.0\\.0\\.1 - - \\[[0-9]{2}/[A-Z][a-z]{2}/[0-9]{4}:[0-9]{2}:[0-9]{2}:[0-9]{2} "
        "[+-][0-9]{4}\\] \"(/a b\\.html\" 200 5|/missing\" 404 0)\r");
    size_t count = 0;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        EXPECT_TRUE(std::regex_match(log.substr(start, end - start), line))
            << log.substr(start, end - start);
        ++count;
        start = end + 1;
    }
    EXPECT_EQ(count, static_cast<size_t>(kThreads * kEach));
}

TEST(AccessLogTest, PerServerSwitchAndTheTrueStatusOfRedirects) {
    VantryInstance vantry(
        "[Config]\nport={port1}\nwwwroot={dir}/www/\nlogs=Y\n"
        "[Server-2-Config]\nport={port2}\nwwwroot={dir}/www/"
        "\nlogs=N\n[Server-2]\nsecondPortEnabled=Y\n");
    fs::create_directories(vantry.dir() + "/www/d");
    vantry.extraEnv["TZ"] = "EST5EDT";
    vantry.Start();
    ASSERT_TRUE(vantry.WaitForStderr("(Server 2, port", 5s));
    Exchange(vantry.address(), vantry.port2(), "GET /x HTTP/1.0\r\n\r\n");
    Exchange(vantry.address(), vantry.port1(), "GET /d HTTP/1.0\r\n\r\n");
    Exchange(vantry.address(), vantry.port1(), "DELETE /z HTTP/1.0\r\n\r\n");
    // Each line is written after its response, so the two may land in either order; Server
    // 2's request went first, so a line of its own would have had the longest time to land.
    std::string log = vantry.WaitForLogLines(2);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << "Server 2 logs nothing\n" << log;
    for (const char* line : {"\"/d\" 301 0\r\n", "\"/z\" 400 0\r\n"}) {
        std::regex expected("(^|\n)127\\.0\\.0\\.1 - - \\[[^\\]]* -0500\\] " + std::string(line));
        EXPECT_TRUE(std::regex_search(log, expected)) << line << "\n" << log;
    }
}

// The first IPv4 address of this host's name: requests from it are local.
std::string OwnAddress() {
    char name[256] = {};
    ::gethostname(name, sizeof name - 1);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) return "";
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text,
                sizeof text);
    ::freeaddrinfo(found);
    return text;
}

class AuthenticationTest : public ::testing::Test {
  protected:
    AuthenticationTest()
        : vantry(
              "[Config]\nport={port1}\nwwwroot={dir}/www/\nservername=My \"Site\"\n"
              "[Server-2-Config]\nport={port2}\nwwwroot={dir}/www/"
              "\n[Server-2]\nsecondPortEnabled=Y\n") {
        WriteFile(vantry.dir() + "/www/index.html", "welcome");
        WriteFile(vantry.dir() + "/registry.reg",
                  "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY]\n"
                  "\"AuthenticationRequiredServerTwo\"=dword:00000001\n\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VANTRY\\USERS]\n"
                  "\"Admin\"=\"Root\"\n\"bob\"=\"Pa:ss\"\n");
    }
    void SetUp() override {
        vantry.Start();
        ASSERT_TRUE(vantry.WaitForStderr("(Server 2, port", 5s));
    }
    std::string Ask(int port, const std::string& target, const std::string& credentials,
                    const std::string& from = "") {
        Client client(vantry.address(), port, from);
        std::string request = "GET " + target + " HTTP/1.0\r\n";
        if (!credentials.empty())
            request += "Authorization: Basic " + Base64Encode(credentials) + "\r\n";
        client.Send(request + "\r\n");
        return client.ReadAll();
    }
    static bool IsChallenge(const std::string& response) {
        static const std::regex challenge(
            "HTTP/1\\.0 401 OK\r\nServer: Vantry/1\\.0\r\nDate: [A-Z][a-z]{2}\\. [^\r]* GMT\r\n"
            "Content-type: text/html\r\nWWW-Authenticate: Basic    realm=\"My Site\"\r\n"
            "Content-Length: 0\r\n\r\n");
        return std::regex_match(response, challenge);
    }
    VantryInstance vantry;
};

TEST_F(AuthenticationTest, OnlyTheServerWhoseSwitchIsSetAsksForALogin) {
    EXPECT_EQ(BodyOf(Ask(vantry.port1(), "/", "")), "welcome");
    EXPECT_TRUE(IsChallenge(Ask(vantry.port2(), "/", ""))) << Ask(vantry.port2(), "/", "");
    EXPECT_TRUE(IsChallenge(Ask(vantry.port2(), "/VNT/x", "")));
    EXPECT_EQ(BodyOf(Ask(vantry.port2(), "/", "bob:pA:SS")), "welcome")
        << "the first colon separates; passwords compare without regard to case";
    EXPECT_EQ(BodyOf(Ask(vantry.port2(), "/", "BOB:Pa:ss")), "welcome");
    for (const char* wrong : {"bob:wrong", "bob", ":Pa:ss", "bob:", "nobody:x"}) {
        EXPECT_TRUE(IsChallenge(Ask(vantry.port2(), "/", wrong))) << wrong;
    }
}

TEST_F(AuthenticationTest, AdministrationFromAnotherComputerNeedsTheAdmin) {
    const std::string remote = "127.0.0.3";
    EXPECT_TRUE(IsChallenge(Ask(vantry.port1(), "/admin/index.html", "", remote)));
    EXPECT_TRUE(IsChallenge(Ask(vantry.port1(), "/ADMIN/", "bob:Pa:ss", remote)));
    EXPECT_EQ(StatusOf(Ask(vantry.port1(), "/admin/index.html", "admin:root", remote)),
              "HTTP/1.0 200 OK")
        << "past the login the administration pages answer";
    std::string own = OwnAddress();
    if (own.empty() || own == vantry.address()) GTEST_SKIP() << "this host's name does not resolve";
    EXPECT_EQ(StatusOf(Ask(vantry.port1(), "/admin/index.html", "", own)), "HTTP/1.0 200 OK")
        << "local: no login";
}

}  // namespace
}  // namespace e2e
