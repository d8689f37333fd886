// What the real program never does, whatever a request or the machine's state: serve outside
// a root the owner named, hand out a script's source, keep a script running after its
// client or its server has gone, spin when descriptors run out, or let a request forge its
// log line.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <thread>

#include "tests/e2e/vantry_instance.h"
#include "tests/support/process_watch.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using testing_support::ProcessGone;

const std::string kNotFound = ErrorPage("404 Object Not Found");
const std::string kInternalError = ErrorPage("500 Internal Error");

// Records its process id in pid.txt and then waits silently far longer than any test.
const std::string kSilentScript =
    "#!/bin/sh\n"
    "echo $$ > pid.txt\n"
    "exec sleep 120\n";

// The process id a script wrote into `path`, waiting (bounded) for it to appear.
pid_t WaitForPid(const std::string& path) {
    std::string text;
    bool written = WaitUntil(10s, [&] {
        text = ReadFile(path);
        return !text.empty() && text.back() == '\n';
    });
    return written ? std::stoi(text) : -1;
}

size_t OpenSockets(pid_t pid) {
    size_t sockets = 0;
    for (int fd : OpenDescriptors(pid)) {
        std::error_code error;
        auto target =
            fs::read_symlink("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd), error);
        if (!error && target.string().rfind("socket:", 0) == 0) ++sockets;
    }
    return sockets;
}

// User plus system CPU time of a process, in clock ticks.
long CpuTicks(pid_t pid) {
    std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) stime = std::stol(field);
    }
    return utime + stime;
}

TEST(RootSafetyTest, EmptyOrRelativeRootsServeNothing) {
    // Server 1 has an empty root, Server 2 a relative one; a virtual directory points at a
    // relative target. The working directory holds the configuration with its passwords.
    VantryInstance vantry(
        "[Config]\nport={port1}\nwwwroot=\nadminpw=secret\n"
        "[Server-2-Config]\nport={port2}\nwwwroot=www\n"
        "[Server-2]\nsecondPortEnabled=Y\n"
        "[VirtualDirectories]\nrel=www\n");
    WriteFile(vantry.dir() + "/www/page.html", "page");
    vantry.Start();
    EXPECT_NE(
        vantry.Stderr().find("Server 1 serves no files: its root \"\" is not an absolute path."),
        std::string::npos)
        << vantry.Stderr();
    EXPECT_NE(vantry.Stderr().find("Server 2 serves no files: its root \"www\""),
              std::string::npos);
    for (int port : {vantry.port1(), vantry.port2()}) {
        for (const char* target : {"/Vantry.ini", "/", "/www/page.html", "/page.html",
                                   "/rel/page.html", "/VNTFileDownload.html"}) {
            EXPECT_EQ(Exchange(vantry.address(), port,
                               "GET " + std::string(target) + " HTTP/1.0\r\n\r\n"),
                      kNotFound)
                << target << " on port " << port;
        }
    }
}

class ScriptSafetyTest : public ::testing::Test {
  protected:
    ScriptSafetyTest()
        : vantry(
              "[Config]\nport={port1}\nwwwroot={dir}/www/\ncgi=Y\n"
              "[Request]\ncgiTimeLimit=0\n"
              "[Script]\nnope=/nonexistent/interpreter -x\n") {
        fs::create_directories(vantry.dir() + "/www/cgi-bin");
        WriteScript(vantry.dir() + "/www/cgi-bin/silent", kSilentScript, 0755);
        WriteScript(vantry.dir() + "/www/cgi-bin/notexec", "#!/bin/sh\necho secret source\n", 0644);
        WriteScript(vantry.dir() + "/www/cgi-bin/page.nope", "secret source", 0755);
        WriteFile(vantry.dir() + "/www/a.txt", "file");
    }
    void SetUp() override { vantry.Start(); }
    std::string Ask(const std::string& target) {
        return Exchange(vantry.address(), vantry.port1(), "GET " + target + " HTTP/1.0\r\n\r\n");
    }
    VantryInstance vantry;
};

TEST_F(ScriptSafetyTest, ScriptThatCannotStartAnswersInternalErrorNeverItsSource) {
    // No execute bit, and an interpreter that is not installed.
    EXPECT_EQ(Ask("/cgi-bin/notexec"), kInternalError);
    EXPECT_EQ(Ask("/cgi-bin/page.nope"), kInternalError);
    EXPECT_TRUE(
        vantry.WaitForStderr("Could not run the CGI script " + vantry.dir() +
                                 "/www/cgi-bin/page.nope: posix_spawn /nonexistent/interpreter: "
                                 "No such file or directory",
                             5s))
        << vantry.Stderr();
}

TEST_F(ScriptSafetyTest, SilentScriptStopsWhenItsClientLeaves) {
    auto client = std::make_unique<Client>(vantry.address(), vantry.port1());
    client->Send("GET /cgi-bin/silent HTTP/1.0\r\n\r\n");
    pid_t script = WaitForPid(vantry.dir() + "/www/cgi-bin/pid.txt");
    ASSERT_GT(script, 0);
    EXPECT_FALSE(ProcessGone(script, 200ms)) << "the script runs while its client waits";
    client.reset();
    EXPECT_TRUE(ProcessGone(script, 5s));
}

TEST_F(ScriptSafetyTest, ShutdownStopsRunningScriptsAtOnce) {
    Client client(vantry.address(), vantry.port1());
    client.Send("GET /cgi-bin/silent HTTP/1.0\r\n\r\n");
    pid_t script = WaitForPid(vantry.dir() + "/www/cgi-bin/pid.txt");
    ASSERT_GT(script, 0);
    auto start = Clock::now();
    ::kill(vantry.pid(), SIGTERM);
    EXPECT_EQ(vantry.WaitForExit(10s), 0);
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_TRUE(ProcessGone(script, 1s));
}

TEST_F(ScriptSafetyTest, OutOfDescriptorsTheServerWaitsInsteadOfSpinningOrLeaking) {
#ifdef __SANITIZE_ADDRESS__
    // The sanitizers' own checks open pipes to probe memory, and fail without descriptors.
    GTEST_SKIP() << "not under the sanitizers: they need descriptors of their own";
#endif
    // Only the listener may be open as a socket before the limit is set: the readiness
    // probe's connection must have been closed.
    ASSERT_TRUE(WaitUntil(5s, [&] { return OpenSockets(vantry.pid()) == 1; }));
    // The lowest limit that leaves exactly one descriptor free: a client's socket.
    std::vector<int> open = OpenDescriptors(vantry.pid());
    rlim_t limit = 0;
    while (limit -
               std::count_if(open.begin(), open.end(), [&](int fd) { return rlim_t(fd) < limit; }) <
           1) {
        ++limit;
    }
    struct rlimit original {};
    ASSERT_EQ(::prlimit(vantry.pid(), RLIMIT_NOFILE, nullptr, &original), 0);
    struct rlimit low {
        limit, original.rlim_max
    };
    ASSERT_EQ(::prlimit(vantry.pid(), RLIMIT_NOFILE, &low, nullptr), 0);

    // The client's socket takes the last descriptor: neither the script's pipes nor the
    // file can be opened, and both are the server's fault.
    EXPECT_EQ(Ask("/cgi-bin/page.nope"), kInternalError) << vantry.Stderr();
    EXPECT_EQ(Ask("/a.txt"), kInternalError) << vantry.Stderr();

    // One client that stopped typing holds the last descriptor; the next cannot be accepted.
    auto idle = std::make_unique<Client>(vantry.address(), vantry.port1());
    ASSERT_TRUE(idle->connected());
    idle->Send("G");
    WaitUntil(5s, [&] { return OpenSockets(vantry.pid()) >= 2; });
    Client waiting(vantry.address(), vantry.port1());
    waiting.Send("GET /a.txt HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(vantry.WaitForStderr(
        "accept on port " + std::to_string(vantry.port1()) + ": Too many open files", 5s))
        << vantry.Stderr();
    long before = CpuTicks(vantry.pid());
    std::this_thread::sleep_for(1s);
    EXPECT_LT(CpuTicks(vantry.pid()) - before, 30) << "the accept loop spins: " << vantry.Stderr();

    // Once descriptors are to be had again, the waiting client is served.
    ASSERT_EQ(::prlimit(vantry.pid(), RLIMIT_NOFILE, &original, nullptr), 0);
    std::string response = waiting.ReadAll(10s);
    EXPECT_EQ(response.substr(0, 15), "HTTP/1.0 200 OK") << response;
    EXPECT_EQ(response.substr(response.size() - 4), "file");
}

TEST(RequestLineSafetyTest, ZeroBytesAreRefusedAndTargetsCannotForgeTheirLogLine) {
    VantryInstance vantry("[Config]\nport={port1}\nwwwroot={dir}/www/\nlogs=Y\n");
    vantry.Start();
    auto ask = [&](const std::string& request) {
        return Exchange(vantry.address(), vantry.port1(), request);
    };
    EXPECT_EQ(ask(std::string("GET /a\0b HTTP/1.0\r\n\r\n", 21)), ErrorPage("400 Bad Request"));
    EXPECT_EQ(ask("GET /a\"%20200%2099999%20\"x%5Cy HTTP/1.0\r\n\r\n"), kNotFound);

    const std::string forged = "\"/a\\x22 200 99999 \\x22x\\x5Cy\" 404 0\r\n";
    std::string log = vantry.WaitForLogLines(2);
    EXPECT_NE(log.find(forged), std::string::npos) << log;
    EXPECT_NE(log.find("\"/a\\x00b\" 400 0\r\n"), std::string::npos) << log;
}

}  // namespace
}  // namespace e2e
