// The event loop closes handed-over sockets when the peer closes or their linger time ends,
// watches a client's socket once at a time, and stops on request.
#include "platform/event_loop.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "tests/support/wait_until.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing_support::WaitUntil;

struct SocketPair {
    SocketPair() {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
        server = UniqueFd(fds[0]);
        client = UniqueFd(fds[1]);
    }
    // True once the server's end is closed: the client then reads the end of the stream.
    bool ServerClosed() {
        char c;
        return ::recv(client.get(), &c, 1, 0) == 0;
    }
    UniqueFd server;
    UniqueFd client;
};

class EventLoopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        BlockTerminationSignals();
        thread = std::thread([this] { loop.Run(); });
    }
    void TearDown() override {
        loop.Post([this] { loop.Quit(0); });
        thread.join();
    }
    // Returns once the loop has handled what was ready and gone round twice more, so any
    // event it was going to handle by now has been handled.
    void LetTheLoopGoRound() {
        for (int round = 0; round < 3; ++round) {
            std::atomic<bool> ran{false};
            loop.Post([&] { ran = true; });
            ASSERT_TRUE(WaitUntil(2s, [&] { return ran.load(); }));
        }
    }

    EventLoop loop;
    std::thread thread;
};

TEST_F(EventLoopTest, TasksPostedOnTheLoopRunBeforeItWaits) {
    // Each task posts the next from the loop's thread, where no wake-up is written: were the
    // loop to wait first, each would wait out its longest wait (a second).
    std::atomic<int> ran{0};
    std::function<void()> next = [&] {
        if (++ran < 50) loop.Post(next);
    };
    loop.Post(next);
    EXPECT_TRUE(WaitUntil(10s, [&] { return ran.load() == 50; })) << ran.load();
    LetTheLoopGoRound();
}

TEST_F(EventLoopTest, HandedOverSocketIsClosedWhenThePeerCloses) {
    SocketPair pair;
    int server = pair.server.get();
    loop.HandOver(std::move(pair.server), 30);
    EXPECT_EQ(loop.PendingCloses(), 1u);
    ::send(pair.client.get(), "late bytes", 10, MSG_NOSIGNAL);  // drained, not an end
    LetTheLoopGoRound();
    EXPECT_EQ(loop.PendingCloses(), 1u);
    pair.client.Reset();
    EXPECT_TRUE(WaitUntil(2s, [&] { return loop.PendingCloses() == 0; }));
    (void)server;
}

// A client's socket watched for its head: unread input calls the handler once, not in a
// loop, and the registration serves the wait for the client's close after the hand-over.
TEST_F(EventLoopTest, WatchedOnceCallsOnceUntilWatchedAgainAndHandsOverItsRegistration) {
    SocketPair pair;
    const int server = pair.server.get();
    std::atomic<int> calls{0};
    loop.Post([&] { EXPECT_TRUE(loop.WatchOnce(server, [&] { ++calls; })); });
    ::send(pair.client.get(), "GET", 3, MSG_NOSIGNAL);
    ASSERT_TRUE(WaitUntil(2s, [&] { return calls == 1; }));
    LetTheLoopGoRound();
    EXPECT_EQ(calls, 1) << "the bytes are still unread, yet the handler ran once";
    loop.Post([&] { EXPECT_TRUE(loop.WatchAgain(server)); });
    ASSERT_TRUE(WaitUntil(2s, [&] { return calls == 2; }));
    std::atomic<bool> handedOver{false};
    loop.Post([&] {
        loop.Forget(server);
        loop.HandOver(std::move(pair.server), 30, true);
        handedOver = true;
    });
    ASSERT_TRUE(WaitUntil(2s, [&] { return handedOver.load(); }));
    pair.client.Reset();
    EXPECT_TRUE(WaitUntil(2s, [&] { return loop.PendingCloses() == 0; }));
    EXPECT_EQ(calls, 2);
}

// A descriptor the system will not watch (a regular file, here) is refused with an answer,
// and the loop goes on serving the others.
TEST_F(EventLoopTest, DescriptorThatCannotBeWatchedIsRefusedAndTheLoopGoesOn) {
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::atomic<int> answers{0};
    loop.Post([&] {
        EXPECT_FALSE(loop.WatchOnce(::fileno(file), [] {}));
        EXPECT_FALSE(loop.WatchAgain(::fileno(file)));
        ++answers;
    });
    ASSERT_TRUE(WaitUntil(2s, [&] { return answers == 1; }));
    loop.Post([&] { ++answers; });
    EXPECT_TRUE(WaitUntil(2s, [&] { return answers == 2; }));
    std::fclose(file);
}

TEST_F(EventLoopTest, LingerTimeClosesSocketsInDeadlineOrder) {
    SocketPair slow;
    SocketPair quick;
    SocketPair immediate;
    auto start = Clock::now();
    loop.HandOver(std::move(slow.server), 2);
    loop.HandOver(std::move(quick.server), 1);
    loop.HandOver(std::move(immediate.server), 0);
    EXPECT_TRUE(WaitUntil(2s, [&] { return immediate.ServerClosed(); }));
    if (Clock::now() - start < 900ms) {
        EXPECT_FALSE(quick.ServerClosed()) << "closed before its time";
    }
    EXPECT_TRUE(WaitUntil(2s, [&] { return quick.ServerClosed(); }));
    EXPECT_GE(Clock::now() - start, 900ms);
    EXPECT_FALSE(slow.ServerClosed());
    EXPECT_TRUE(WaitUntil(2s, [&] { return slow.ServerClosed(); }));
    EXPECT_GE(Clock::now() - start, 1900ms);
    EXPECT_EQ(loop.PendingCloses(), 0u);
}

TEST_F(EventLoopTest, ManyHandOversFromManyThreadsAllEndClosed) {
    constexpr int kThreads = 4;
    constexpr int kEach = 250;
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([this] {
            for (int i = 0; i < kEach; ++i) {
                SocketPair pair;
                loop.HandOver(std::move(pair.server), 30);
                // The client end closes here, so the loop closes the server end.
            }
        });
    }
    for (auto& w : workers) w.join();
    EXPECT_TRUE(WaitUntil(5s, [&] { return loop.PendingCloses() == 0; }));
}

// A child process started at the wrong moment holds a copy of a handed-over socket, so its
// registration outlives the close. The number then goes to a new client whose request a
// worker is about to read: the loop must not touch it.
TEST_F(EventLoopTest, StaleEventsNeverReadFromASocketThatReusedTheNumber) {
    SocketPair old;
    int number = old.server.get();
    UniqueFd copy(::dup(number));  // what the child would hold
    loop.HandOver(std::move(old.server), 30);
    old.client.Reset();
    ASSERT_TRUE(WaitUntil(2s, [&] { return loop.PendingCloses() == 0; }));

    SocketPair fresh;
    if (fresh.server.get() != number) GTEST_SKIP() << "the number was not reused";
    ASSERT_EQ(::send(fresh.client.get(), "GET / HTTP/1.0\r\n\r\n", 18, MSG_NOSIGNAL), 18);
    LetTheLoopGoRound();
    char buffer[64];
    EXPECT_EQ(::recv(fresh.server.get(), buffer, sizeof buffer, 0), 18)
        << "the request is still there for the worker";
}

}  // namespace
}  // namespace platform
