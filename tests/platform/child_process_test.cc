// Child processes: what they inherit, their exit status, why one cannot start, reaping, and
// feeding one that never reads. The CGI tests stop scripts with what they started, past their
// time limit, and feed and drain them together.
#include "platform/child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing_support::TempDir;

constexpr int kLimitMs = 10000;

// Runs `argv` with `environment` and returns its exit status and output.
std::pair<int, std::string> RunChild(const std::vector<std::string>& argv,
                                     const std::vector<std::string>& environment = {},
                                     const std::string& directory = "",
                                     std::string_view input = "") {
    ChildProcess child;
    std::string error;
    if (!child.Start(argv, environment, directory, &error)) return {-1, error};
    std::string output;
    int status = child.Communicate(input, &output, kLimitMs);
    return {status, output};
}

std::vector<std::string> Shell(const std::string& script) { return {"/bin/sh", "-c", script}; }

TEST(ChildProcessTest, ExitStatusIsTheCodeOrOneHundredTwentyEightPlusTheSignal) {
    EXPECT_EQ(RunChild(Shell("exit 0")).first, 0);
    EXPECT_EQ(RunChild(Shell("exit 3")).first, 3);
    EXPECT_EQ(RunChild(Shell("kill -TERM $$")).first, 128 + SIGTERM);
}

TEST(ChildProcessTest, InputPipeAndOneOutputPipeForOutputAndErrors) {
    EXPECT_EQ(RunChild({"cat"}, {}, "", "hello\nworld"),
              std::make_pair(0, std::string("hello\nworld")));
    EXPECT_EQ(RunChild(Shell("echo out; echo err >&2; echo out2")),
              std::make_pair(0, std::string("out\nerr\nout2\n")));
    // Without input the child reads the end at once.
    EXPECT_EQ(RunChild({"cat"}), std::make_pair(0, std::string()));
}

TEST(ChildProcessTest, ChildGetsExactlyTheGivenEnvironmentAndDirectory) {
    // "env" is found through this process's PATH although the child's environment has none.
    EXPECT_EQ(RunChild({"env"}, {"A=1", "B=two words"}),
              std::make_pair(0, std::string("A=1\nB=two words\n")));
    TempDir dir("vantry-child");
    std::string expected = std::filesystem::canonical(dir.path()).string() + "\n";
    EXPECT_EQ(RunChild({"/bin/pwd"}, {}, dir.path()), std::make_pair(0, expected));
}

TEST(ChildProcessTest, ChildInheritsOnlyItsThreeStandardDescriptors) {
    // One descriptor that is not close-on-exec, as a careless library might leave it.
    int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaked, 3);
    // "ls" lists its own directory descriptor as 3.
    auto [status, output] = RunChild({"ls", "/proc/self/fd"});
    ::close(leaked);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(output, "0\n1\n2\n3\n");
}

TEST(ChildProcessTest, ChildStartsWithNoBlockedOrIgnoredSignals) {
    // The server blocks its termination signals and ignores SIGPIPE in every thread.
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGHUP);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &blocked, &previous), 0);
    struct sigaction ignore {
    }, before{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &before);
    auto [status, output] = RunChild({"grep", "-E", "^Sig(Blk|Ign)", "/proc/self/status"});
    sigaction(SIGPIPE, &before, nullptr);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    EXPECT_EQ(status, 0);
    // The C library keeps two real-time signals of its own (32 and 33) ignored in the child;
    // the classic signals (1 to 31) must all be at their defaults.
    std::istringstream lines(output);
    std::string name, mask;
    int seen = 0;
    while (lines >> name >> mask) {
        ++seen;
        EXPECT_EQ(std::stoull(mask, nullptr, 16) & 0x7fffffffULL, 0u) << name << " " << mask;
    }
    EXPECT_EQ(seen, 2) << output;
}

TEST(ChildProcessTest, AProgramFoundOnThePathIsFoundAgainOnceItMoves) {
    TempDir first("vantry-path-a");
    TempDir second("vantry-path-b");
    auto install = [](const std::string& path, const std::string& word) {
        std::ofstream(path) << "#!/bin/sh\necho " << word << "\n";
        ::chmod(path.c_str(), 0755);
    };
    const std::string name = "vantry-found-" + std::to_string(::getpid());
    const std::string oldPath = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    ::setenv("PATH", (first.path() + ":" + second.path() + ":" + oldPath).c_str(), 1);
    install(first.File(name), "first");
    EXPECT_EQ(RunChild({name}), std::make_pair(0, std::string("first\n")));
    EXPECT_EQ(RunChild({name}), std::make_pair(0, std::string("first\n")));
    std::filesystem::remove(first.File(name));
    install(second.File(name), "second");
    EXPECT_EQ(RunChild({name}), std::make_pair(0, std::string("second\n")));
    std::filesystem::remove(second.File(name));
    EXPECT_EQ(RunChild({name}).first, -1);
    ::setenv("PATH", oldPath.c_str(), 1);
}

TEST(ChildProcessTest, ProgramsThatCannotRunAreReportedWithTheReason) {
    TempDir dir("vantry-child");
    std::string plain = dir.File("plain.txt");
    std::ofstream(plain) << "echo hi\n";
    std::string noInterpreterLine = dir.File("noline");
    std::ofstream(noInterpreterLine) << "echo hi\n";
    ::chmod(noInterpreterLine.c_str(), 0755);

    struct Case {
        std::vector<std::string> argv;
        std::string error;
    };
    const Case cases[] = {
        {{"vantry-no-such-program"}, "No such file or directory"},
        {{dir.File("missing")}, "No such file or directory"},
        {{plain}, "Permission denied"},
        // No shell steps in for a file without a "#!" line.
        {{noInterpreterLine}, "Exec format error"},
    };
    for (const Case& c : cases) {
        ChildProcess child;
        std::string error;
        EXPECT_FALSE(child.Start(c.argv, {}, "", &error)) << c.argv[0];
        EXPECT_NE(error.find("posix_spawn " + c.argv[0]), std::string::npos) << error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_FALSE(child.started());
    }
    ChildProcess child;
    std::string error;
    EXPECT_FALSE(child.Start({"/bin/true"}, {}, dir.File("no-dir"), &error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

TEST(ChildProcessTest, DestroyingARunningChildKillsAndReapsIt) {
    pid_t pid;
    auto start = Clock::now();
    {
        ChildProcess child;
        ASSERT_TRUE(child.Start({"sleep", "30"}, {}, ""));
        pid = child.pid();
    }
    EXPECT_LT(Clock::now() - start, 5s);
    // Reaped: no zombie is left, and the id is no child of ours any more.
    pid_t waited = ::waitpid(pid, nullptr, WNOHANG);
    int error = errno;
    EXPECT_EQ(waited, -1);
    EXPECT_EQ(error, ECHILD);
}

TEST(ChildProcessTest, ChildThatNeverReadsItsInputEndsTheFeedingQuietly) {
    // Writing to a pipe nobody reads must not raise SIGPIPE in the caller (this test process
    // does not ignore it) nor block it.
    std::string input(8 * 1024 * 1024, 'x');
    auto start = Clock::now();
    EXPECT_EQ(RunChild(Shell("echo done"), {}, "", input),
              std::make_pair(0, std::string("done\n")));
    EXPECT_LT(Clock::now() - start, 5s);
}

}  // namespace
}  // namespace platform
