// The main thread's event loop: listening sockets, handed-over client sockets, terminal
// input, termination signals and work posted from other threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/unique_fd.h"

namespace platform {

// Blocks SIGINT, SIGTERM, SIGHUP and SIGWINCH in the calling thread (and every thread it
// starts later), so that only the event loop receives them; also ignores SIGPIPE. Call first
// thing in main.
void BlockTerminationSignals();

class EventLoop {
  public:
    EventLoop();
    ~EventLoop();  // closes every socket still handed over
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Calls `onReadable` on the loop's thread whenever `fd` has input. Loop thread only.
    void Watch(int fd, std::function<void()> onReadable);
    void Unwatch(int fd);

    // Calls `onReadable` once, the next time `fd` has input; after that the descriptor stays
    // registered but quiet until WatchAgain, or until it is handed over with `registered`.
    // Sparing a client's socket the removal and a new registration per request pays when
    // there are thousands of them. Loop thread only.
    // False when the system refused the registration (out of memory, say): the caller
    // closes that descriptor and goes on.
    [[nodiscard]] bool WatchOnce(int fd, std::function<void()> onReadable);
    [[nodiscard]] bool WatchAgain(int fd);
    // WatchOnce for a descriptor still registered and quiet (watched once and forgotten).
    [[nodiscard]] bool WatchOnceAgain(int fd, std::function<void()> onReadable);
    // Forgets the handler of a descriptor watched once, leaving it registered and quiet.
    void Forget(int fd) { watched_.erase(fd); }

    // Takes a client socket whose sending side is shut down; the loop drains and closes it
    // when the client closes, or at the latest `lingerSeconds` after now. `registered`: the
    // socket was watched once and forgotten, and is still registered. Any thread.
    void HandOver(UniqueFd socket, int lingerSeconds, bool registered = false);

    // Runs `task` on the loop's thread soon: posted from the loop's own thread, before the
    // loop waits again. Any thread.
    void Post(std::function<void()> task);
    // Runs `task` on the loop's thread once `delayMs` have passed. Loop thread only.
    void After(uint64_t delayMs, std::function<void()> task);

    // Called on the loop's thread with the signal number when SIGINT, SIGTERM or SIGHUP arrive.
    void OnSignal(std::function<void(int)> handler) { onSignal_ = std::move(handler); }
    // Called on the loop's thread when the terminal's size changed (SIGWINCH).
    void OnResize(std::function<void()> handler) { onResize_ = std::move(handler); }

    // Runs until Quit; returns the quit code.
    int Run();
    void Quit(int code);  // loop thread, or through Post

    // Sockets handed over and not yet closed: a measure of the load, and for the leak checks.
    size_t PendingCloses() const;

  private:
    // A handed-over socket, indexed by its descriptor. The pending sockets form one list in
    // order of their deadlines, so the next to expire is the head and adding one usually
    // goes at the tail: no allocation per request.
    struct Pending {
        uint32_t serial = 0;  // 0: the descriptor is not handed over
        uint64_t deadline = 0;
        bool quiet = false;  // in the quiet set rather than the loop's own
        int previous = -1;
        int next = -1;
    };

    void Wake();
    void RunPosted();
    void HandleSignals();
    bool IsPending(int fd, uint32_t serial) const;
    bool IsQuiet(int fd) const;
    void DrainAndMaybeClose(int fd, uint32_t serial);
    void PollQuiet();
    void CloseExpired();
    void RunDueTimers();
    int NextTimeoutMs() const;
    void CloseLocked(int fd);
    void Link(int fd);
    void Unlink(int fd);

    UniqueFd epoll_;
    // Handed-over sockets wait for their client's close in a set of their own, which the
    // loop reads without waiting in it: a client's close then wakes no one (on loopback the
    // client pays for such a wake-up), and the loop reads the set at most every
    // kQuietPollMs while it runs and at least that often while it waits.
    UniqueFd quiet_;
    std::atomic<size_t> quietCount_{0};
    uint64_t quietPolledAt_ = 0;
    static constexpr uint64_t kQuietPollMs = 1;
    static constexpr uint64_t kQuietWaitMs = 10;
    UniqueFd wake_;
    UniqueFd signals_;
    std::unordered_map<int, std::function<void()>> watched_;
    // Delayed tasks by their due time; the loop's thread alone touches them.
    std::multimap<uint64_t, std::function<void()>> timers_;
    std::function<void(int)> onSignal_;
    std::function<void()> onResize_;
    bool quit_ = false;
    int quitCode_ = 0;

    // Guards the handed-over sockets and the posted tasks; workers add, the loop removes.
    mutable std::mutex mutex_;
    std::vector<Pending> pending_;
    int first_ = -1;
    int last_ = -1;
    // Written under the lock, readable without it.
    std::atomic<size_t> pendingCount_{0};
    // The head's deadline, readable by the loop without the lock.
    static constexpr uint64_t kNoDeadline = UINT64_MAX;
    std::atomic<uint64_t> firstDeadline_{kNoDeadline};
    // The longest the loop waits for an event, so that handing over a socket (whose deadline
    // lies seconds ahead) rarely has to wake it.
    static constexpr uint64_t kLongestWaitMs = 1000;
    // When the loop's current wait ends; 0 while it runs.
    std::atomic<uint64_t> sleepUntil_{0};
    uint32_t nextSerial_ = 1;
    std::vector<std::function<void()>> posted_;
    bool wakePending_ = false;
    // The thread in Run, whose own posts need no wake-up: it looks before it waits.
    std::atomic<std::thread::id> loopThread_{};
    bool postedOnLoop_ = false;  // the loop's thread alone touches it
};

}  // namespace platform
