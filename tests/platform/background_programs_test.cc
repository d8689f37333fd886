// Background programs: reaped when they end, their status and output reported.
#include "platform/background_programs.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <optional>

#include "platform/event_loop.h"

namespace platform {
namespace {

struct Ended {
    int status = -1;
    std::string output;
};

// Runs the loop until the program's handler has run, at most five seconds.
std::optional<Ended> RunToEnd(const std::vector<std::string>& argv) {
    EventLoop loop;
    BackgroundPrograms programs(loop);
    std::optional<Ended> ended;
    std::string error;
    bool started = programs.Start(
        argv, "",
        SpawnOptions{SpawnOptions::Streams::kOutputPipe, SpawnOptions::Group::kNewSession},
        [&](int status, const std::string& output) {
            ended = Ended{status, output};
            loop.Quit(0);
        },
        &error);
    EXPECT_TRUE(started) << error;
    if (!started) return std::nullopt;
    loop.After(5000, [&] { loop.Quit(1); });
    loop.Run();
    EXPECT_EQ(programs.Running(), ended ? 0u : 1u);
    return ended;
}

TEST(BackgroundProgramsTest, ReportsStatusAndOutputAndLeavesNoZombie) {
    struct Case {
        const char* script;
        int status;
        const char* output;
    } cases[] = {
        {"echo out; echo err >&2; exit 3", 3, "out\nerr\n"},
        // A descendant that keeps the output open must not delay the report.
        {"sleep 2 & echo started; exit 0", 0, "started\n"},
        {"kill -TERM $$", 128 + SIGTERM, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        std::optional<Ended> ended = RunToEnd({"/bin/sh", "-c", c.script});
        ASSERT_TRUE(ended);
        EXPECT_EQ(ended->status, c.status);
        EXPECT_EQ(ended->output, c.output);
        EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child was left unreaped";
    }
}

TEST(BackgroundProgramsTest, ProgramThatCannotStartIsAnError) {
    EventLoop loop;
    BackgroundPrograms programs(loop);
    std::string error;
    EXPECT_FALSE(programs.Start({"/nonexistent/program"}, "", SpawnOptions{}, nullptr, &error));
    EXPECT_NE(error.find("/nonexistent/program"), std::string::npos) << error;
    EXPECT_EQ(programs.Running(), 0u);
}

TEST(BackgroundProgramsTest, WaitAllReapsWithoutTheLoop) {
    EventLoop loop;
    BackgroundPrograms programs(loop);
    int calls = 0;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(programs.Start(
            {"/bin/true"}, "", SpawnOptions{},
            [&](int status, const std::string&) { calls += status == 0; }, nullptr));
    }
    EXPECT_TRUE(programs.WaitAll(5000));
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}

}  // namespace
}  // namespace platform
