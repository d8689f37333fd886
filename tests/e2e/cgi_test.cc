// Scripts under cgi-bin run by the real program: their environment, their standard input,
// interpreters, the time limit, and what is served when a script cannot run.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "tests/e2e/vantry_instance.h"
#include "tests/support/process_watch.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

const std::string kCgiHead = "HTTP/1.0 200 OK\r\nServer: Vantry/1.0\r\nAccept-Ranges: bytes\r\n";

// Prints the variables a script is told about, one "NAME=value" line each.
const std::string kEnvironmentScript = R"(use Cwd;
print "Content-Type: text/plain\r\n\r\n";
for my $name (qw(REQUEST_METHOD CONTENT_LENGTH QUERY_STRING SCRIPT_NAME REQUEST_URI
                 SERVER_NAME SERVER_PORT REMOTE_HOST REMOTE_ADDR REMOTE_PORT SERVER_PROTOCOL
                 DOCUMENT_ROOT SCRIPT_FILENAME HTTP_COOKIE HTTP_PROXY)) {
    print "$name=", (defined $ENV{$name} ? $ENV{$name} : "<unset>"), "\n";
}
print "CWD=", getcwd(), "\n";
)";

// Reads its input to the end and shows it between brackets, with its length.
const std::string kEchoScript = R"(binmode STDIN;
local $/;
my $in = <STDIN>;
$in = "" unless defined $in;
print "Content-Type: text/plain\r\n\r\n";
print length($in), " of $ENV{CONTENT_LENGTH} [$in]";
)";

// Writes much before it reads its input, then reports the input's length and a checksum.
const std::string kChattyScript = R"(binmode STDIN;
print "Content-Type: text/plain\r\n\r\n";
print "x" x 300000, "\n";
local $/;
my $in = <STDIN>;
print "got ", length($in), " sum ", unpack("%32C*", $in), "\n";
)";

// Records its own id and that of the command it waits for, then sleeps far past the limit.
const std::string kSleepyScript =
    "#!/bin/sh\n"
    "echo 'Content-Type: text/plain'\n"
    "echo\n"
    "echo started\n"
    "sleep 30 &\n"
    "echo $$ $! > pids.txt\n"
    "wait\n"
    "echo never\n";

const std::string kShellScript =
    "#!/bin/sh\n"
    "printf 'Content-Type: text/plain\\r\\n\\r\\n'\n"
    "echo \"shell $REQUEST_METHOD $QUERY_STRING\"\n";

// The "NAME=value" lines of an environment listing.
std::map<std::string, std::string> Variables(const std::string& response) {
    std::map<std::string, std::string> variables;
    std::istringstream lines(BodyOf(response));
    std::string line;
    while (std::getline(lines, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos) variables[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return variables;
}

using testing_support::ProcessGone;

class CgiTest : public ::testing::Test {
  protected:
    CgiTest()
        : vantry(
              "[Config]\nport={port1}\nwwwroot={dir}/www/\ncgi=Y\nservername=one.test\nlogs=Y\n"
              "[Server-2-Config]\nport={port2}\nwwwroot={dir}/www2/\ncgi=Y\n"
              "servername=two.test\n"
              "[Server-2]\nsecondPortEnabled=Y\n"
              "[Request]\ncgiTimeLimit=2\n"
              "[VirtualDirectories]\nscripts={dir}/www/cgi-bin\n") {
        const std::string& d = vantry.dir();
        fs::create_directories(d + "/www/cgi-bin");
        fs::create_directories(d + "/www2/cgi-bin");
        WriteScript(d + "/www/cgi-bin/env.pl", kEnvironmentScript);
        WriteScript(d + "/www2/cgi-bin/env.pl", kEnvironmentScript);
        WriteScript(d + "/www/cgi-bin/echo.pl", kEchoScript);
        WriteScript(d + "/www/cgi-bin/chatty.cgi", kChattyScript);
        WriteScript(d + "/www/cgi-bin/sleepy", kSleepyScript, 0755);
        WriteScript(d + "/www/cgi-bin/hello", kShellScript, 0755);
    }
    void SetUp() override { vantry.Start(); }
    std::string Ask(const std::string& request, int port = 0) {
        return Exchange(vantry.address(), port == 0 ? vantry.port1() : port, request);
    }
    VantryInstance vantry;
};

TEST_F(CgiTest, ScriptSeesTheRequestInItsEnvironment) {
    const std::string from = "127.0.0.7";
    const int fromPort = FreePort(from);
    Client client(vantry.address(), vantry.port1(), from, fromPort);
    client.Send(
        "GET /cgi-bin/env.pl?x=1&y=a%20b HTTP/1.0\r\nCookie: id=ab1\r\n"
        "Proxy: http://evil/\r\n\r\n");
    std::string response = client.ReadAll();
    ASSERT_EQ(response.substr(0, kCgiHead.size()), kCgiHead) << response;
    auto v = Variables(response);
    EXPECT_EQ(v["REQUEST_METHOD"], "GET");
    EXPECT_EQ(v["CONTENT_LENGTH"], "0");
    EXPECT_EQ(v["QUERY_STRING"], "x=1&y=a b");
    EXPECT_EQ(v["SCRIPT_NAME"], "/cgi-bin/env.pl");
    EXPECT_EQ(v["REQUEST_URI"], "/cgi-bin/env.pl?x=1&y=a b");
    EXPECT_EQ(v["SERVER_NAME"], "one.test");
    EXPECT_EQ(v["SERVER_PORT"], std::to_string(vantry.port1()));
    EXPECT_EQ(v["REMOTE_HOST"], from);
    EXPECT_EQ(v["REMOTE_ADDR"], from);
    EXPECT_EQ(v["REMOTE_PORT"], std::to_string(fromPort));
    EXPECT_EQ(v["SERVER_PROTOCOL"], "HTTP/1.0");
    EXPECT_EQ(v["DOCUMENT_ROOT"], vantry.dir() + "/www/");
    EXPECT_EQ(v["SCRIPT_FILENAME"], vantry.dir() + "/www/cgi-bin/env.pl");
    EXPECT_EQ(v["HTTP_COOKIE"], "ID=AB1");
    EXPECT_EQ(v["HTTP_PROXY"], "<unset>") << "a client cannot set the script's proxy";
    EXPECT_EQ(fs::canonical(v["CWD"]), fs::canonical(vantry.dir() + "/www/cgi-bin"));

    // The log shows the script without its query, and the bytes the script sent.
    const std::string logged =
        "\"/cgi-bin/env.pl\" 200 " + std::to_string(response.size() - kCgiHead.size()) + "\r\n";
    std::string log = vantry.WaitForLogLines(1);
    EXPECT_NE(log.find(logged), std::string::npos) << log;
}

TEST_F(CgiTest, ManyScriptsAtOnceEachAnswerTheirOwnRequest) {
    // Starting a script briefly gives the child a copy of every descriptor; no other
    // request may lose its bytes or its answer to that.
    constexpr int kClients = 24;
    constexpr int kRounds = 3;
    std::vector<std::string> responses(kClients * kRounds);
    for (int round = 0; round < kRounds; ++round) {
        std::vector<std::thread> clients;
        for (int i = 0; i < kClients; ++i) {
            clients.emplace_back([&, round, i] {
                responses[round * kClients + i] =
                    Ask("GET /cgi-bin/env.pl?n=" + std::to_string(round * kClients + i) +
                        " HTTP/1.0\r\n\r\n");
            });
        }
        for (auto& c : clients) c.join();
    }
    for (int n = 0; n < kClients * kRounds; ++n) {
        EXPECT_EQ(Variables(responses[n])["QUERY_STRING"], "n=" + std::to_string(n))
            << responses[n];
    }
}

// Server 2 runs the scripts of its own root, and reports the port it really listens on when
// its own was taken.
TEST_F(CgiTest, ServerTwoOnTheNextFreePortReportsThePortItListensOn) {
    ASSERT_EQ(vantry.Stop(), 0);
    PortBlocker taken(vantry.address(), vantry.port2());
    vantry.Start();
    const int moved = vantry.port2() + 1;
    ASSERT_TRUE(vantry.WaitForStderr("(Server 2, port " + std::to_string(moved) + ")", 5s));
    auto v = Variables(Ask("GET /cgi-bin/env.pl HTTP/1.0\r\n\r\n", moved));
    EXPECT_EQ(v["SERVER_PORT"], std::to_string(moved));
    EXPECT_EQ(v["SERVER_NAME"], "two.test");
    EXPECT_EQ(v["DOCUMENT_ROOT"], vantry.dir() + "/www2/");
}

TEST_F(CgiTest, PostBodyReachesTheScriptExactly) {
    EXPECT_EQ(Ask("POST /cgi-bin/echo.pl HTTP/1.0\r\nContent-Length: 7\r\n\r\na=1&b=2"),
              kCgiHead + "Content-Type: text/plain\r\n\r\n7 of 7 [a=1&b=2]");
    // Bytes past the declared length are not the script's.
    EXPECT_EQ(Ask("POST /cgi-bin/echo.pl HTTP/1.0\r\nContent-Length: 3\r\n\r\nabcdef"),
              kCgiHead + "Content-Type: text/plain\r\n\r\n3 of 3 [abc]");
    // Without a length the body is what came with the head.
    EXPECT_EQ(Ask("POST /cgi-bin/echo.pl HTTP/1.0\r\n\r\nxyz"),
              kCgiHead + "Content-Type: text/plain\r\n\r\n3 of 3 [xyz]");
    // A GET has an empty input, which the script reads to its end at once.
    EXPECT_EQ(Ask("GET /cgi-bin/echo.pl HTTP/1.0\r\n\r\n"),
              kCgiHead + "Content-Type: text/plain\r\n\r\n0 of 0 []");
}

TEST_F(CgiTest, SlowPostArrivesWholeAtTheScript) {
    Client client(vantry.address(), vantry.port1());
    // Each piece is sent once the server has read the one before.
    for (const char* piece :
         {"POST /cgi-bin/echo.pl HTTP/1.0\r\nContent-Length: 15\r\n\r\nfirst", "-mid-", "last!"}) {
        ASSERT_TRUE(client.WaitUntilServerRead());
        client.Send(piece);
    }
    EXPECT_EQ(client.ReadAll(),
              kCgiHead + "Content-Type: text/plain\r\n\r\n15 of 15 [first-mid-last!]");
}

TEST_F(CgiTest, LargeBodyAndLargeOutputFlowTogether) {
    std::string body(1024 * 1024, '\0');
    unsigned sum = 0;
    for (size_t i = 0; i < body.size(); ++i) {
        body[i] = static_cast<char>('a' + i % 26);
        sum += static_cast<unsigned char>(body[i]);
    }
    Client client(vantry.address(), vantry.port1());
    std::thread sender([&] {
        client.Send("POST /cgi-bin/chatty.cgi HTTP/1.0\r\nContent-Length: " +
                    std::to_string(body.size()) + "\r\n\r\n" + body);
    });
    std::string response = client.ReadAll(20s);
    sender.join();
    const std::string head = kCgiHead + "Content-Type: text/plain\r\n\r\n";
    const std::string tail =
        "\ngot " + std::to_string(body.size()) + " sum " + std::to_string(sum) + "\n";
    ASSERT_EQ(response.size(), head.size() + 300000 + tail.size());
    EXPECT_EQ(response.substr(0, head.size()), head);
    EXPECT_EQ(response.find_first_not_of('x', head.size()), head.size() + 300000);
    EXPECT_EQ(response.substr(head.size() + 300000), tail);
}

TEST_F(CgiTest, ScriptWithoutInterpreterRowRunsByItself) {
    EXPECT_EQ(Ask("GET /cgi-bin/hello?q=2 HTTP/1.0\r\n\r\n"),
              kCgiHead + "Content-Type: text/plain\r\n\r\nshell GET q=2\n");
}

TEST_F(CgiTest, ScriptPastTheTimeLimitIsKilledWithWhatItStarted) {
    auto start = Clock::now();
    std::string response = Ask("GET /cgi-bin/sleepy HTTP/1.0\r\n\r\n");
    auto elapsed = Clock::now() - start;
    EXPECT_EQ(response, kCgiHead + "Content-Type: text/plain\n\nstarted\n");
    EXPECT_GE(elapsed, 1500ms);
    EXPECT_LT(elapsed, 6s);
    std::istringstream pids(ReadFile(vantry.dir() + "/www/cgi-bin/pids.txt"));
    pid_t script = 0, sleeper = 0;
    ASSERT_TRUE(pids >> script >> sleeper);
    EXPECT_TRUE(ProcessGone(script, 5s));
    EXPECT_TRUE(ProcessGone(sleeper, 5s));
}

TEST_F(CgiTest, NamesThatAreNoScriptFallBackToFiles) {
    // The directory itself is no script: it is listed.
    std::string directory = Ask("GET /cgi-bin/ HTTP/1.0\r\n\r\n");
    EXPECT_NE(directory.find("<H4>Directory Listing Of " + vantry.dir() + "/www/cgi-bin/</H4>"),
              std::string::npos)
        << directory;
    EXPECT_EQ(Ask("GET /cgi-bin/env.pl/extra HTTP/1.0\r\n\r\n"), ErrorPage("404 Object Not Found"));
    EXPECT_EQ(Ask("GET /cgi-bin/missing.pl HTTP/1.0\r\n\r\n"), ErrorPage("404 Object Not Found"));
}

TEST_F(CgiTest, EverySpellingOfAScriptRunsItOrIsRefusedNeverSendsItsSource) {
    const std::string& d = vantry.dir();
    fs::create_symlink(d + "/www/cgi-bin", d + "/www/linked");
    WriteFile(d + "/www/cgi-bin/index.html", "default document of cgi-bin");
    const std::string ran = kCgiHead + "Content-Type: text/plain\r\n\r\n0 of 0 []";
    const std::string refused = ErrorPage("403 Forbidden");
    struct Case {
        std::string target;
        const std::string& expected;
    };
    const Case cases[] = {
        {"/cgi-bin/echo.pl", ran},
        {"//cgi-bin/echo.pl", ran},
        {"/./cgi-bin/echo.pl", ran},
        {"/%2fcgi-bin/echo.pl", ran},
        {"/%2e/cgi-bin/echo.pl", ran},
        {"/%2e%2fcgi-bin%2f%2e%2f%2fecho.pl", ran},
        {"/cgi-bin//echo.pl", ran},
        {"/CGI-BIN/./echo.pl", ran},
        {"/cgi-bin/../cgi-bin/echo.pl", refused},
        // The same files through a virtual directory, an owner's link, or as a default document.
        {"/scripts/echo.pl", refused},
        {"/linked/echo.pl", refused},
        {"//linked/%2e/echo.pl", refused},
        {"/cgi-bin/", refused},
        {"/linked/", refused},
    };
    for (const std::string method : {"GET", "POST"}) {
        for (const Case& c : cases) {
            EXPECT_EQ(Ask(method + " " + c.target + " HTTP/1.0\r\n\r\n"), c.expected)
                << method << " " << c.target;
        }
    }
    // The script's own links are built on its routed name.
    EXPECT_EQ(Variables(Ask("GET //cgi-bin/./env.pl?x HTTP/1.0\r\n\r\n"))["SCRIPT_NAME"],
              "/cgi-bin/env.pl");
    // Server 2 runs scripts of its own root: Server 1's are still no files to it.
    EXPECT_EQ(Ask("GET /scripts/echo.pl HTTP/1.0\r\n\r\n", vantry.port2()), refused);
}

TEST(CgiClientGoneTest, ScriptIsStoppedWhenTheClientGoesAway) {
    // No time limit here: only the failed send can stop the script.
    VantryInstance vantry(
        "[Config]\nport={port1}\nwwwroot={dir}/www/\ncgi=Y\n[Request]\ncgiTimeLimit=0\n");
    fs::create_directories(vantry.dir() + "/www/cgi-bin");
    WriteScript(vantry.dir() + "/www/cgi-bin/endless.pl",
                "$| = 1;\n"
                "open(my $f, '>', 'pid.txt'); print $f $$; close $f;\n"
                "print \"Content-Type: text/plain\\r\\n\\r\\n\";\n"
                "while (1) { print \"tick\\n\"; select(undef, undef, undef, 0.01); }\n");
    vantry.Start();
    {
        Client client(vantry.address(), vantry.port1());
        client.Send("GET /cgi-bin/endless.pl HTTP/1.0\r\n\r\n");
        EXPECT_NE(client.ReadUntil("tick\n", 10s).find("tick\n"), std::string::npos);
    }
    pid_t script = std::stoi(ReadFile(vantry.dir() + "/www/cgi-bin/pid.txt"));
    EXPECT_TRUE(ProcessGone(script, 5s));
}

TEST(CgiSwitchTest, WithCgiOffTheScriptIsServedAsAFile) {
    VantryInstance vantry("[Config]\nport={port1}\nwwwroot={dir}/www/\ncgi=N\n");
    fs::create_directories(vantry.dir() + "/www/cgi-bin");
    WriteScript(vantry.dir() + "/www/cgi-bin/env.pl", kEnvironmentScript);
    vantry.Start();
    std::string response =
        Exchange(vantry.address(), vantry.port1(), "GET /cgi-bin/env.pl HTTP/1.0\r\n\r\n");
    EXPECT_EQ(response.substr(0, 15), "HTTP/1.0 200 OK");
    EXPECT_EQ(BodyOf(response), kEnvironmentScript);
}

}  // namespace
}  // namespace e2e
