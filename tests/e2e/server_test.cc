// The real vantry on loopback: raw requests and responses, start-up (and ports that are no
// port numbers), the single copy, the pool, shut-down and the saved configuration.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/vantry_instance.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

const std::string kNotFound = ErrorPage("404 Object Not Found");

class RunningServerTest : public ::testing::Test {
  protected:
    RunningServerTest() : vantry("[Config]\nport={port1}\nwwwroot={dir}/www/\ncgi=Y\n") {}
    void SetUp() override {
        // A script that runs long holds its object without waiting on its client; one that
        // reads its input answers once the body ends.
        std::filesystem::create_directories(vantry.dir() + "/www/cgi-bin");
        WriteScript(vantry.dir() + "/www/cgi-bin/long", "#!/bin/sh\nexec sleep 20\n", 0755);
        WriteScript(
            vantry.dir() + "/www/cgi-bin/drain",
            "#!/bin/sh\ncat >/dev/null\nprintf 'Content-Type: text/plain\\r\\n\\r\\ndrained'\n",
            0755);
        WriteFile(vantry.dir() + "/www/big.bin", std::string(5 << 20, 'b'));
        vantry.Start();
    }
    std::string Ask(const std::string& request) {
        return Exchange(vantry.address(), vantry.port1(), request);
    }
    VantryInstance vantry;
};

TEST_F(RunningServerTest, EveryMethodGetsItsExactErrorPage) {
    const std::pair<const char*, std::string> cases[] = {
        {"GET /nothing-here HTTP/1.0\r\n\r\n", kNotFound},
        {"get /index.html HTTP/1.0\r\nHost: x\r\n\r\n", kNotFound},
        {"HEAD /nothing-here HTTP/1.0\r\n\r\n", kNotFound},
        {"POST /nothing-here HTTP/1.0\r\nContent-Length: 3\r\n\r\na=b", kNotFound},
        {"OPTIONS * HTTP/1.0\r\n\r\n", ErrorPage("400 Bad Request")},
        {"TRACE / HTTP/1.0\r\n\r\n", ErrorPage("501 Not Supported")},
    };
    for (const auto& [request, expected] : cases) EXPECT_EQ(Ask(request), expected) << request;
}

TEST_F(RunningServerTest, DroppedRequestLinesAreClosedWithoutAnswer) {
    for (const std::string& request : {std::string("GET /\r\n\r\n"), std::string("GARBAGE\r\n\r\n"),
                                       "GET /" + std::string(3000, 'u') + " HTTP/1.0\r\n\r\n"}) {
        Client client(vantry.address(), vantry.port1());
        client.Send(request);
        EXPECT_TRUE(client.ClosedWithoutData(5s)) << request.substr(0, 20);
    }
    EXPECT_EQ(Ask("GET /nothing-here HTTP/1.0\r\n\r\n"), kNotFound) << "the server still answers";
}

TEST_F(RunningServerTest, HeadSplitOverPacketsWithPausesAndBareCrHeads) {
    Client client(vantry.address(), vantry.port1());
    for (const char* piece : {"G", "ET /nothing-here HTTP", "/1.0\r", "\nHost: a\r\n", "\r\n"}) {
        ASSERT_TRUE(client.WaitUntilServerRead());
        client.Send(piece);
    }
    EXPECT_EQ(client.ReadAll(), kNotFound);
    EXPECT_EQ(Ask("GET /nothing-here HTTP/1.0\rHost: a\r\r"), kNotFound);
}

TEST_F(RunningServerTest, HeadOverSixtyFourKilobytesIsRefused) {
    Client client(vantry.address(), vantry.port1());
    client.Send("GET /nothing-here HTTP/1.0\r\n");
    std::string filler = "X-Filler: " + std::string(1000, 'f') + "\r\n";
    for (int i = 0; i < 80; ++i) client.Send(filler);
    EXPECT_EQ(client.ReadAll(), ErrorPage("400 Bad Request"));
}

TEST_F(RunningServerTest, UnfinishedHeadsEndAfterTheIdleLimit) {
    // Both clients wait at once: one sent its request line without the empty line, the other
    // used bare line feeds, which end no line at all.
    Client unfinished(vantry.address(), vantry.port1());
    Client lineFeedsOnly(vantry.address(), vantry.port1());
    auto start = std::chrono::steady_clock::now();
    unfinished.Send("GET /nothing-here HTTP/1.0\r\n");
    lineFeedsOnly.Send("GET /nothing-here HTTP/1.0\n\n");
    EXPECT_EQ(unfinished.ReadAll(40s), kNotFound);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 29s);
    EXPECT_LE(waited, 33s);
    EXPECT_TRUE(lineFeedsOnly.ClosedWithoutData(5s))
        << "no carriage return: the request is dropped";
}

TEST_F(RunningServerTest, ThousandsOfRequestsLeaveNoDescriptorBehind) {
    size_t before = OpenDescriptors(vantry.pid()).size();
    for (int i = 0; i < 2000; ++i) {
        if (i % 3 == 0) {
            // A client that vanishes right after sending half a head.
            Client client(vantry.address(), vantry.port1());
            client.Send("GET / HT");
        } else {
            ASSERT_EQ(Ask("GET /nothing-here HTTP/1.0\r\n\r\n"), kNotFound) << i;
        }
    }
    EXPECT_TRUE(WaitUntil(10s, [&] { return OpenDescriptors(vantry.pid()).size() <= before; }))
        << OpenDescriptors(vantry.pid()).size() << " open, " << before << " before";
}

// Holds all 100 objects of Server 1, each with a script that runs long.
std::vector<std::unique_ptr<Client>> HoldEveryObject(const VantryInstance& vantry) {
    std::vector<std::unique_ptr<Client>> held;
    std::vector<const Client*> all;
    for (int i = 0; i < 100; ++i) {
        held.push_back(std::make_unique<Client>(vantry.address(), vantry.port1()));
        held.back()->Send("GET /cgi-bin/long HTTP/1.0\r\n\r\n");
        all.push_back(held.back().get());
    }
    EXPECT_TRUE(WaitUntilServerRead(all)) << "each of the 100 is held by a worker";
    // The heads are read on the loop; give the last workers a moment to take theirs.
    std::this_thread::sleep_for(500ms);
    return held;
}

// Clients that trickle a body, or never take the file they asked for, hold a worker only
// within their share of the pool: a visitor who needs nothing more of its client is answered
// at once however many of them there are.
TEST_F(RunningServerTest, ClientsThatStallHoldOnlyTheirShareOfThePool) {
    // A body that trickles below the least pace is given up within its window: the script
    // reads the end of its input and answers.
    Client trickling(vantry.address(), vantry.port1());
    trickling.Send("POST /cgi-bin/drain HTTP/1.0\r\nContent-Length: 900000\r\n\r\nx");
    auto started = std::chrono::steady_clock::now();
    std::string answer;
    while (answer.find("drained") == std::string::npos &&
           std::chrono::steady_clock::now() - started < 45s) {
        trickling.Send("y");
        answer += trickling.ReadUntil("drained", 5s);
    }
    EXPECT_NE(answer.find("drained"), std::string::npos) << answer;
    EXPECT_LT(std::chrono::steady_clock::now() - started, 40s);

    constexpr int kStalling = 120;
    std::vector<std::unique_ptr<Client>> stalling;
    std::vector<const Client*> all;
    for (int i = 0; i < kStalling; ++i) {
        stalling.push_back(
            std::make_unique<Client>(vantry.address(), vantry.port1(), "", 0, i % 2 ? 4096 : 0));
        ASSERT_TRUE(stalling.back()->connected()) << i;
        stalling.back()->Send(
            i % 2 ? "GET /big.bin HTTP/1.0\r\n\r\n"
                  : "POST /cgi-bin/long HTTP/1.0\r\nContent-Length: 900000\r\n\r\nx");
        all.push_back(stalling.back().get());
    }
    ASSERT_TRUE(WaitUntilServerRead(all, 10s));
    for (int i = 0; i < 20; ++i) {
        started = std::chrono::steady_clock::now();
        EXPECT_EQ(Ask("GET /nothing-here HTTP/1.0\r\n\r\n"), kNotFound) << i;
        EXPECT_LT(std::chrono::steady_clock::now() - started, 1s) << i;
    }
}

TEST_F(RunningServerTest, FullPoolStillStopsPromptlyOnTermination) {
    std::vector<std::unique_ptr<Client>> idle = HoldEveryObject(vantry);
    Client waiting(vantry.address(), vantry.port1());
    waiting.Send("GET / HTTP/1.0\r\n\r\n");
    ASSERT_EQ(waiting.ReadAll(300ms), "");
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(vantry.Stop(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
}

TEST(StartupTest, SecondCopyEndsAtOnceAndFirstKeepsServing) {
    VantryInstance first;
    first.Start();
    // The same runtime directory, so the same lock.
    VantryInstance second;
    second.extraEnv["XDG_RUNTIME_DIR"] = first.dir() + "/run";
    second.Start({}, false);
    EXPECT_EQ(second.WaitForExit(5s), 0);
    EXPECT_EQ(Exchange(first.address(), first.port1(), "GET /nothing-here HTTP/1.0\r\n\r\n"),
              kNotFound);
}

TEST(StartupTest, ServerTwoMovesToTheNextFreePortButServerOneReportsTheConflict) {
    VantryInstance vantry(
        "[Config]\nport={port1}\n[Server-2-Config]\nport={port2}\n[Server-2]\nsecondPortEnabled="
        "Y\n");
    PortBlocker blockServer2(vantry.address(), vantry.port2());
    vantry.Start();
    int moved = vantry.port2() + 1;
    EXPECT_TRUE(
        vantry.WaitForStderr("Vantry Running (Server 2, port " + std::to_string(moved) + ")", 5s))
        << vantry.Stderr();
    EXPECT_EQ(Exchange(vantry.address(), moved, "GET /nothing-here HTTP/1.0\r\n\r\n"), kNotFound);
    EXPECT_EQ(vantry.Stop(), 0);

    PortBlocker blockServer1(vantry.address(), vantry.port1());
    vantry.Start({}, false);
    EXPECT_TRUE(vantry.WaitForStderr("Can't use port " + std::to_string(vantry.port1()) +
                                         ". Another web server may be running. (bind " +
                                         vantry.address() + ":" + std::to_string(vantry.port1()) +
                                         ": Address already in use)\n",
                                     5s))
        << vantry.Stderr();
}

TEST(StartupTest, BindAddressThatIsNoAddressCannotBind) {
    VantryInstance vantry;
    vantry.bindArgument = "999.1.2.3";
    vantry.Start({}, false);
    EXPECT_TRUE(vantry.WaitForStderr(
        "Can't bind to port " + std::to_string(vantry.port1()) + ". (999.1.2.3 is no IP address)\n",
        5s))
        << vantry.Stderr();
    EXPECT_TRUE(vantry.Running()) << "a failed start leaves the program running";
    EXPECT_EQ(vantry.Stop(), 0);
}

TEST(StartupTest, AbsoluteAddressIsTheOneShownWhileServersListenAsBefore) {
    VantryInstance vantry;
    vantry.Start({"-absolute", "203.0.113.7"});
    EXPECT_TRUE(vantry.WaitForStderr("203.0.113.7  Vantry Running (Server 1", 5s))
        << vantry.Stderr();
    EXPECT_EQ(Exchange(vantry.address(), vantry.port1(), "GET /nothing-here HTTP/1.0\r\n\r\n"),
              kNotFound);
}

TEST(StartupTest, UrlOptionPrintsServerOnesAddressWithoutStartingIt) {
    VantryInstance vantry;
    vantry.Start({"--url"}, false);
    EXPECT_EQ(vantry.WaitForExit(10s), 0);
    EXPECT_EQ(ReadFile(vantry.dir() + "/stdout.txt"),
              "http://" + vantry.address() + ":" + std::to_string(vantry.port1()) + "/\n");
}

// Each termination signal ends the program cleanly and saves the configuration, keeping what
// the owner wrote (the save's own rules are the configuration's unit tests).
TEST(ShutdownTest, TerminationHangUpAndInterruptSaveTheConfiguration) {
    for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
        VantryInstance vantry(
            "; the owner's note\n[Config]\nport={port1}\nlogs=yes\nmyOwnKey=kept\n");
        vantry.Start();
        ::kill(vantry.pid(), signal);
        EXPECT_EQ(vantry.WaitForExit(10s), 0) << signal;
        EXPECT_TRUE(vantry.WaitForStderr("Vantry Not Running (Server 1", 1s)) << vantry.Stderr();
        const std::string saved = ReadFile(vantry.dir() + "/Vantry.ini");
        for (const char* expected :
             {"; the owner's note\n", "myOwnKey=kept\n", "logs=Y\n", "secondPortEnabled=N\n"}) {
            EXPECT_NE(saved.find(expected), std::string::npos)
                << signal << " " << expected << saved;
        }
    }
}

// Ports that are no port numbers in the configuration file: the server does not start, and
// says why, rather than listen on the number's low 16 bits or on any port.
TEST(PortNumbersTest, AServerWhosePortIsNoPortNumberDoesNotStart) {
    struct Case {
        std::string keys;     // Server 1's port keys
        std::string message;  // what the owner is told
        int wrapped;          // where the low 16 bits would have listened (0: nowhere known)
    };
    const std::vector<Case> cases = {
        {"port=99999", "Port 99999 is not a port number (1-65535).", 34463},
        {"port=65536", "Port 65536 is not a port number (1-65535).", 0},
        {"port=-1", "Port -1 is not a port number (1-65535).", 65535},
        {"port=abc", "Port 0 is not a port number (1-65535).", 0},
        {"port={port1}\ntlsPort=99999", "HTTPS: Port 99999 is not a port number (1-65535).", 34463},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        VantryInstance vantry("[Config]\n" + c.keys + "\nwwwroot={dir}/www/\n");
        vantry.Start({}, false);
        EXPECT_TRUE(vantry.WaitForStderr("Server 1 does not start. " + c.message + "\n", 10s))
            << vantry.Stderr();
        EXPECT_EQ(vantry.Stderr().find("Vantry Running (Server 1"), std::string::npos);
        if (c.wrapped != 0) {
            EXPECT_FALSE(Client(vantry.address(), c.wrapped).connected());
        }

        // --url announces no address on a port the server cannot have.
        const std::string& d = vantry.dir();
        pid_t pid = Spawn({d + "/vantry", "-bind", vantry.address(), "--url"}, vantry.extraEnv,
                          "/dev/null", d + "/url.out", d + "/url.err", d);
        EXPECT_EQ(WaitForProgram(pid), 1);
        EXPECT_EQ(ReadFile(d + "/url.out"), "");
        EXPECT_EQ(ReadFile(d + "/url.err"), c.message + "\n");
    }
}

}  // namespace
}  // namespace e2e
