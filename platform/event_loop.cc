// The main thread's event loop on epoll, signalfd and eventfd.
#include "platform/event_loop.h"

#include <errno.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"

namespace platform {
namespace {

// Event data: the low 32 bits are the fd, the high 32 bits a serial for handed-over sockets
// (0 for watched descriptors), so an event can never be taken for a later socket that reuses
// the same number.
constexpr uint32_t kHandedOverEvents = EPOLLIN | EPOLLRDHUP | EPOLLONESHOT;

uint64_t Tag(int fd, uint32_t serial) {
    return (static_cast<uint64_t>(serial) << 32) | static_cast<uint32_t>(fd);
}

// The signals the loop reads: the termination signals, and the terminal's size changes.
sigset_t LoopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGWINCH);
    return set;
}

[[noreturn]] void Fatal(const char* call) {
    std::fprintf(stderr, "%s: %s\n", call, strerror(errno));
    std::abort();
}

}  // namespace

void BlockTerminationSignals() {
    sigset_t set = LoopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

EventLoop::EventLoop() {
    epoll_ = UniqueFd(::epoll_create1(EPOLL_CLOEXEC));
    if (!epoll_) Fatal("epoll_create1");
    quiet_ = UniqueFd(::epoll_create1(EPOLL_CLOEXEC));
    if (!quiet_) Fatal("epoll_create1");
    wake_ = UniqueFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!wake_) Fatal("eventfd");
    sigset_t set = LoopSignals();
    signals_ = UniqueFd(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!signals_) Fatal("signalfd");
    for (int fd : {wake_.get(), signals_.get()}) {
        struct epoll_event ev {};
        ev.events = EPOLLIN;
        ev.data.u64 = Tag(fd, 0);
        if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &ev) != 0) Fatal("epoll_ctl");
    }
}

EventLoop::~EventLoop() {
    std::lock_guard lock(mutex_);
    while (first_ >= 0) CloseLocked(first_);
}

void EventLoop::Watch(int fd, std::function<void()> onReadable) {
    struct epoll_event ev {};
    ev.events = EPOLLIN;
    ev.data.u64 = Tag(fd, 0);
    if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &ev) != 0) Fatal("epoll_ctl");
    watched_[fd] = std::move(onReadable);
}

bool EventLoop::WatchOnce(int fd, std::function<void()> onReadable) {
    struct epoll_event ev {};
    ev.events = EPOLLIN | EPOLLONESHOT;
    ev.data.u64 = Tag(fd, 0);
    if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &ev) != 0) return false;
    watched_[fd] = std::move(onReadable);
    return true;
}

bool EventLoop::WatchAgain(int fd) {
    struct epoll_event ev {};
    ev.events = EPOLLIN | EPOLLONESHOT;
    ev.data.u64 = Tag(fd, 0);
    return ::epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, fd, &ev) == 0;
}

bool EventLoop::WatchOnceAgain(int fd, std::function<void()> onReadable) {
    if (!WatchAgain(fd)) return false;
    watched_[fd] = std::move(onReadable);
    return true;
}

void EventLoop::Unwatch(int fd) {
    ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, fd, nullptr);
    watched_.erase(fd);
}

void EventLoop::HandOver(UniqueFd socket, int lingerSeconds, bool registered) {
    if (!socket) return;
    int fd = socket.Release();
    uint64_t deadline =
        MonotonicMillis() + static_cast<uint64_t>(lingerSeconds > 0 ? lingerSeconds : 0) * 1000u;
    bool wake;
    {
        std::lock_guard lock(mutex_);
        uint32_t serial = nextSerial_++;
        if (nextSerial_ == 0) nextSerial_ = 1;
        if (static_cast<size_t>(fd) >= pending_.size())
            pending_.resize(static_cast<size_t>(fd) + 64);
        pending_[fd].serial = serial;
        pending_[fd].deadline = deadline;
        // A socket still registered with the loop's own set stays there.
        pending_[fd].quiet = !registered;
        if (!registered) quietCount_.fetch_add(1);
        Link(fd);
        struct epoll_event ev {};
        ev.events = kHandedOverEvents;
        ev.data.u64 = Tag(fd, serial);
        int result = registered ? ::epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, fd, &ev)
                                : ::epoll_ctl(quiet_.get(), EPOLL_CTL_ADD, fd, &ev);
        if (result != 0) {
            CloseLocked(fd);
            return;
        }
        // The loop needs waking only when it must look before the end of its wait: at this
        // deadline, or soon for a socket of the quiet set. The deadline and the quiet count
        // were published before the wait's end is read here, and the loop publishes the end
        // of its wait before it looks at either: one of the two sees the other.
        uint64_t due = registered ? deadline : MonotonicMillis() + kQuietWaitMs;
        wake = due < sleepUntil_.load() && !wakePending_;
        if (wake) wakePending_ = true;
    }
    if (wake) Wake();
}

void EventLoop::Post(std::function<void()> task) {
    const bool onLoop = std::this_thread::get_id() == loopThread_.load(std::memory_order_relaxed);
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(task));
        if (!onLoop && !wakePending_) wake = wakePending_ = true;
    }
    // A kept connection goes back to the loop this way after each request the loop answered:
    // a write and a read of the wake-up counter, and a wait that returns at once, saved.
    if (onLoop) postedOnLoop_ = true;
    if (wake) Wake();
}

void EventLoop::After(uint64_t delayMs, std::function<void()> task) {
    timers_.emplace(MonotonicMillis() + delayMs, std::move(task));
}

void EventLoop::RunDueTimers() {
    uint64_t now = MonotonicMillis();
    while (!timers_.empty() && timers_.begin()->first <= now && !quit_) {
        auto task = std::move(timers_.begin()->second);
        timers_.erase(timers_.begin());
        task();  // may add timers of its own
    }
}

void EventLoop::Quit(int code) {
    quit_ = true;
    quitCode_ = code;
}

size_t EventLoop::PendingCloses() const { return pendingCount_.load(std::memory_order_relaxed); }

void EventLoop::Wake() {
    uint64_t one = 1;
    ssize_t n = ::write(wake_.get(), &one, sizeof one);
    (void)n;
}

int EventLoop::Run() {
    constexpr int kMaxEvents = 64;
    struct epoll_event events[kMaxEvents];
    loopThread_.store(std::this_thread::get_id());
    while (!quit_) {
        if (postedOnLoop_) {
            postedOnLoop_ = false;
            RunPosted();
        }
        // A task just run may have posted another: the wait then only looks.
        int timeout = postedOnLoop_ ? 0 : NextTimeoutMs();
        sleepUntil_.store(MonotonicMillis() + static_cast<uint64_t>(timeout));
        // A deadline handed over while the time-out was being computed is in it now.
        timeout = std::min(timeout, NextTimeoutMs());
        int n = ::epoll_wait(epoll_.get(), events, kMaxEvents, timeout);
        // While the loop runs it looks at the deadlines again before it waits.
        sleepUntil_.store(0);
        if (n < 0 && errno != EINTR) Fatal("epoll_wait");
        for (int i = 0; i < n && !quit_; ++i) {
            int fd = static_cast<int>(events[i].data.u64 & 0xffffffffu);
            uint32_t serial = static_cast<uint32_t>(events[i].data.u64 >> 32);
            if (serial != 0) {
                DrainAndMaybeClose(fd, serial);
            } else if (fd == wake_.get()) {
                uint64_t count;
                ssize_t r = ::read(wake_.get(), &count, sizeof count);
                (void)r;
                RunPosted();
            } else if (fd == signals_.get()) {
                HandleSignals();
            } else if (auto it = watched_.find(fd); it != watched_.end()) {
                auto handler = it->second;  // the handler may unwatch itself
                handler();
            }
        }
        if (quietCount_.load() > 0 && MonotonicMillis() >= quietPolledAt_ + kQuietPollMs) {
            PollQuiet();
        }
        CloseExpired();
        RunDueTimers();
    }
    loopThread_.store(std::thread::id());
    return quitCode_;
}

void EventLoop::RunPosted() {
    std::vector<std::function<void()>> tasks;
    {
        std::lock_guard lock(mutex_);
        tasks.swap(posted_);
        wakePending_ = false;
    }
    for (auto& task : tasks) task();
}

void EventLoop::HandleSignals() {
    struct signalfd_siginfo info;
    while (::read(signals_.get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo == SIGWINCH) {
            if (onResize_) onResize_();
        } else if (onSignal_) {
            onSignal_(static_cast<int>(info.ssi_signo));
        }
    }
}

bool EventLoop::IsQuiet(int fd) const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(fd) < pending_.size() && pending_[fd].quiet;
}

bool EventLoop::IsPending(int fd, uint32_t serial) const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(fd) < pending_.size() && pending_[fd].serial == serial;
}

void EventLoop::DrainAndMaybeClose(int fd, uint32_t serial) {
    // An event can outlive its socket: a child process started at that moment holds a copy
    // of every descriptor until it replaces its program, and the registration lives as long
    // as any copy. The number may by then belong to a new client that a worker is reading,
    // so nothing is read before the number is known to be the handed-over socket.
    if (!IsPending(fd, serial)) return;
    // Whatever the client still sends is read and thrown away; its close ends the socket.
    char scratch[4096];
    bool closed = false;
    for (;;) {
        ssize_t n = ::recv(fd, scratch, sizeof scratch, MSG_DONTWAIT);
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        closed = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        break;
    }
    if (!closed) {
        // Registered for one event at a time, so a stale registration fires at most once.
        struct epoll_event ev {};
        ev.events = kHandedOverEvents;
        ev.data.u64 = Tag(fd, serial);
        if (::epoll_ctl(IsQuiet(fd) ? quiet_.get() : epoll_.get(), EPOLL_CTL_MOD, fd, &ev) == 0) {
            return;
        }
    }
    {
        std::lock_guard lock(mutex_);
        if (static_cast<size_t>(fd) >= pending_.size() || pending_[fd].serial != serial) return;
        Unlink(fd);
    }
    // Closed outside the lock: the number cannot be reused before this close.
    ::close(fd);
}

void EventLoop::PollQuiet() {
    quietPolledAt_ = MonotonicMillis();
    constexpr int kMaxEvents = 64;
    struct epoll_event events[kMaxEvents];
    int n;
    do {
        n = ::epoll_wait(quiet_.get(), events, kMaxEvents, 0);
        for (int i = 0; i < n; ++i) {
            DrainAndMaybeClose(static_cast<int>(events[i].data.u64 & 0xffffffffu),
                               static_cast<uint32_t>(events[i].data.u64 >> 32));
        }
    } while (n == kMaxEvents);
}

void EventLoop::CloseExpired() {
    uint64_t now = MonotonicMillis();
    if (now < firstDeadline_.load(std::memory_order_acquire)) return;
    std::vector<int> expired;
    {
        std::lock_guard lock(mutex_);
        while (first_ >= 0 && pending_[first_].deadline <= now) {
            expired.push_back(first_);
            Unlink(first_);
        }
    }
    for (int fd : expired) ::close(fd);
}

void EventLoop::CloseLocked(int fd) {
    if (static_cast<size_t>(fd) < pending_.size() && pending_[fd].serial != 0) Unlink(fd);
    // close() also removes the socket from the epoll set.
    ::close(fd);
}

void EventLoop::Link(int fd) {
    // Deadlines nearly always grow, so the place is found at or near the tail.
    int after = last_;
    while (after >= 0 && pending_[after].deadline > pending_[fd].deadline) {
        after = pending_[after].previous;
    }
    Pending& entry = pending_[fd];
    entry.previous = after;
    entry.next = after >= 0 ? pending_[after].next : first_;
    if (entry.next >= 0) {
        pending_[entry.next].previous = fd;
    } else {
        last_ = fd;
    }
    if (after >= 0) {
        pending_[after].next = fd;
    } else {
        first_ = fd;
    }
    ++pendingCount_;
    firstDeadline_.store(pending_[first_].deadline);
}

void EventLoop::Unlink(int fd) {
    Pending& entry = pending_[fd];
    if (entry.previous >= 0) {
        pending_[entry.previous].next = entry.next;
    } else {
        first_ = entry.next;
    }
    if (entry.next >= 0) {
        pending_[entry.next].previous = entry.previous;
    } else {
        last_ = entry.previous;
    }
    if (entry.quiet) quietCount_.fetch_sub(1);
    entry = Pending{};
    --pendingCount_;
    firstDeadline_.store(first_ >= 0 ? pending_[first_].deadline : kNoDeadline,
                         std::memory_order_release);
}

int EventLoop::NextTimeoutMs() const {
    uint64_t first = firstDeadline_.load();
    if (!timers_.empty()) first = std::min(first, timers_.begin()->first);
    uint64_t now = MonotonicMillis();
    if (first <= now) return 0;
    // Never waiting long means a socket handed over needs no wake-up for its deadline.
    uint64_t wait = first - now;
    if (quietCount_.load() > 0) wait = std::min(wait, kQuietWaitMs);
    return wait > kLongestWaitMs ? static_cast<int>(kLongestWaitMs) : static_cast<int>(wait);
}

}  // namespace platform
