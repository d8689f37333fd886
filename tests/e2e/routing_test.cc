// Routing, files and their types, redirects, virtual directories, authentication and its
// limit of failed logins, and the access log of the real program, seen as bytes on the wire
// and files on disk.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <tuple>

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
                  RegistryText("\"Admin\"=\"Root\"\n\"bob\"=\"Pa:ss\"\n", "2"));
    }
    void SetUp() override { vantry.Start(); }
    std::string Ask(int port, const std::string& target, const std::string& credentials,
                    const std::string& from = "") {
        return ExchangeFrom(from, vantry.address(), port,
                            "GET " + target + " HTTP/1.0\r\n" +
                                (credentials.empty() ? "" : BasicLogin(credentials)) + "\r\n");
    }
    static bool IsChallenge(const std::string& response) {
        return e2e::IsChallenge(response, "My Site");
    }
    VantryInstance vantry;
};

TEST_F(AuthenticationTest, OnlyTheServerWhoseSwitchIsSetAsksForALogin) {
    EXPECT_EQ(BodyOf(Ask(vantry.port1(), "/", "")), "welcome");
    EXPECT_TRUE(IsChallenge(Ask(vantry.port2(), "/", ""))) << Ask(vantry.port2(), "/", "");
    EXPECT_TRUE(IsChallenge(Ask(vantry.port2(), "/VNT/x", "")));
    // The login rules have unit tests of their own; here, that the server applies them.
    EXPECT_EQ(BodyOf(Ask(vantry.port2(), "/", "BOB:pA:SS")), "welcome");
    EXPECT_TRUE(IsChallenge(Ask(vantry.port2(), "/", "bob:wrong")));
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

// Failed logins from one address: the eleventh is answered 429, other addresses are not.
TEST(LoginLimitTest, TheEleventhFailedLoginIsRefusedAndAnotherAddressStillAsked) {
    VantryInstance vantry("[Config]\nport={port1}\nwwwroot={dir}/www/\nservername=Site\n");
    WriteFile(vantry.dir() + "/www/index.html", "welcome");
    WriteFile(vantry.dir() + "/registry.reg", RegistryText("\"bob\"=\"pw\"\n", "1"));
    vantry.Start();
    auto ask = [&vantry](const std::string& from, const std::string& credentials) {
        return ExchangeFrom(
            from, vantry.address(), vantry.port1(),
            "GET / HTTP/1.0\r\n" + (credentials.empty() ? "" : BasicLogin(credentials)) + "\r\n");
    };
    auto status = [](const std::string& response) {
        return response.substr(0, response.find("\r\n"));
    };
    const std::string attacker = "127.0.0.7";
    const std::string other = "127.0.0.8";

    EXPECT_EQ(status(ask(attacker, "")), "HTTP/1.0 401 OK") << "no login: not a failure";
    EXPECT_EQ(BodyOf(ask(attacker, "bob:pw")), "welcome") << "a success does not count";
    for (int i = 1; i <= 10; ++i) {
        ASSERT_EQ(status(ask(attacker, "bob:wrong")), "HTTP/1.0 401 OK") << "failure " << i;
    }
    const std::regex refused(
        "HTTP/1\\.0 429 Too Many Requests\r\nServer: Vantry/1\\.0\r\nRetry-After: (\\d+)\r\n"
        "Content-Type: text/html\r\nX-Content-Type-Options: nosniff\r\nContent-Length: "
        "\\d+\r\n\r\n.+");
    for (const char* credentials : {"bob:wrong", "bob:pw", ""}) {
        std::string response = ask(attacker, credentials);
        std::smatch match;
        ASSERT_TRUE(std::regex_match(response, match, refused)) << credentials << ": " << response;
        int seconds = std::stoi(match[1]);
        EXPECT_TRUE(seconds > 590 && seconds <= 600) << seconds;
    }
    EXPECT_EQ(status(ask(other, "bob:wrong")), "HTTP/1.0 401 OK");
    EXPECT_EQ(BodyOf(ask(other, "bob:pw")), "welcome");

    const std::string told = "Too many failed logins from 127.0.0.7: refused for 10 minutes.";
    ASSERT_TRUE(vantry.WaitForStderr(told, 5s)) << vantry.Stderr();
    std::string errors = vantry.Stderr();
    EXPECT_EQ(errors.find(told), errors.rfind(told)) << "said once";
}

// The Content-Type of files: the owner's "Mime" rows, then the system's MIME database, then
// application/octet-stream; a file without an extension by its first bytes.
TEST(ContentTypesTest, OwnerRowsThenTheSystemDatabaseThenOctetStream) {
    if (!std::filesystem::exists("/etc/mime.types")) {
        GTEST_SKIP() << "no /etc/mime.types (Debian package media-types)";
    }
    VantryInstance vantry(
        "[Config]\nport={port1}\nwwwroot={dir}/www/\n[Mime]\nsvg=image/x-owner\n");
    const std::pair<const char*, const char*> cases[] = {
        {"a.css", "text/css"},
        {"a.js", "text/javascript"},
        {"a.txt", "text/plain"},
        {"a.pdf", "application/pdf"},
        {"A.WOFF2", "font/woff2"},
        {"a.html", "text/html"},
        {"a.svg", "image/x-owner"},
        {"a.zzq", "application/octet-stream"},
        // The extension runs from the first full stop: "zzz.gif" is known to neither.
        {"data.zzz.gif", "application/octet-stream"},
    };
    for (const auto& [name, type] : cases) WriteFile(vantry.dir() + "/www/" + name, "x");
    vantry.Start();
    for (const auto& [name, type] : cases) {
        std::string response = Exchange(vantry.address(), vantry.port1(),
                                        std::string("GET /") + name + " HTTP/1.0\r\n\r\n");
        EXPECT_NE(response.find(std::string("\r\nContent-Type: ") + type + "\r\n"),
                  std::string::npos)
            << name << "\n"
            << response;
    }
}

TEST(ContentTypesTest, FileWithoutExtensionIsAPageOnlyWhenItsFirstBytesAreText) {
    using namespace std::string_literals;
    VantryInstance vantry("[Config]\nport={port1}\nwwwroot={dir}/www/\n");
    // A program large enough to go out with sendfile, and a refresh tag inside it.
    std::string program =
        "\x7f"
        "ELF\x02\x01\x01\0\0\0"s +
        std::string(20000, '\0') +
        "<meta http-equiv=refresh content=\"0;url=http://203.0.113.9/\">";
    // Text whose 512th byte starts a three-byte character.
    std::string cutText = std::string(511, 'a') + "\xe2\x82\xac and more";
    const std::pair<std::string, std::string> files[] = {
        {"program", program},
        {"latin1", "caf\xe9 <b>au lait</b>"},
        {"notes", "<b>plain text</b>\n"},
        {"empty", ""},
        {"euro", cutText},
    };
    for (const auto& [name, contents] : files) WriteFile(vantry.dir() + "/www/" + name, contents);
    vantry.Start();
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"GET", "program", "application/octet-stream"},
        {"HEAD", "program", "application/octet-stream"},
        {"GET", "latin1", "application/octet-stream"},
        {"GET", "notes", "text/html"},
        {"GET", "empty", "text/html"},
        {"GET", "euro", "text/html"},
    };
    for (const auto& [method, name, type] : cases) {
        std::string response = Exchange(vantry.address(), vantry.port1(),
                                        std::string(method) + " /" + name + " HTTP/1.0\r\n\r\n");
        EXPECT_NE(response.find(std::string("\r\nContent-Type: ") + type + "\r\n"),
                  std::string::npos)
            << method << " " << name << "\n"
            << response.substr(0, 300);
    }
    std::string ranged = Exchange(vantry.address(), vantry.port1(),
                                  "GET /program HTTP/1.0\r\nRange: bytes=20000-\r\n\r\n");
    EXPECT_NE(ranged.find("206 Partial Content\r\n"), std::string::npos) << ranged.substr(0, 300);
    EXPECT_NE(ranged.find("\r\nContent-Type: application/octet-stream\r\n"), std::string::npos)
        << "a part is typed by the start of the file";
}

}  // namespace
}  // namespace e2e
