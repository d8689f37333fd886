// The main thread's event loop on epoll, signalfd and eventfd.
#include "platform/event_loop.h"

#include <errno.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"

namespace platform {
namespace {

// Event data: the low 32 bits are the fd, the high 32 bits a serial for handed-over sockets
// (0 for watched descriptors), so an event can never be taken for a later socket that reuses
// the same number.
uint64_t Tag(int fd, uint32_t serial) {
    return (static_cast<uint64_t>(serial) << 32) | static_cast<uint32_t>(fd);
}

sigset_t TerminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

[[noreturn]] void Fatal(const char* call) {
    std::fprintf(stderr, "%s: %s\n", call, strerror(errno));
    std::abort();
}

}  // namespace

void BlockTerminationSignals() {
    sigset_t set = TerminationSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

EventLoop::EventLoop() {
    epoll_ = UniqueFd(::epoll_create1(EPOLL_CLOEXEC));
    if (!epoll_) Fatal("epoll_create1");
    wake_ = UniqueFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!wake_) Fatal("eventfd");
    sigset_t set = TerminationSignals();
    signals_ = UniqueFd(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!signals_) Fatal("signalfd");
    for (int fd : {wake_.get(), signals_.get()}) {
        struct epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u64 = Tag(fd, 0);
        if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &ev) != 0) Fatal("epoll_ctl");
    }
}

EventLoop::~EventLoop() {
    std::lock_guard lock(mutex_);
    for (auto& [fd, pending] : pending_) ::close(fd);
    pending_.clear();
    deadlines_.clear();
}

void EventLoop::Watch(int fd, std::function<void()> onReadable) {
    struct epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = Tag(fd, 0);
    if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &ev) != 0) Fatal("epoll_ctl");
    watched_[fd] = std::move(onReadable);
}

void EventLoop::Unwatch(int fd) {
    ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, fd, nullptr);
    watched_.erase(fd);
}

void EventLoop::HandOver(UniqueFd socket, int lingerSeconds) {
    if (!socket) return;
    int fd = socket.Release();
    uint64_t deadline =
        MonotonicMillis() + static_cast<uint64_t>(lingerSeconds > 0 ? lingerSeconds : 0) * 1000u;
    bool wake;
    {
        std::lock_guard lock(mutex_);
        uint32_t serial = nextSerial_++;
        if (nextSerial_ == 0) nextSerial_ = 1;
        auto it = deadlines_.emplace(deadline, fd);
        pending_[fd] = Pending{serial, it};
        struct epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP;
        ev.data.u64 = Tag(fd, serial);
        if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &ev) != 0) {
            CloseLocked(fd);
            return;
        }
        // The loop must recompute its time-out only when this deadline comes first.
        wake = deadlines_.begin() == it && !wakePending_;
        if (wake) wakePending_ = true;
    }
    if (wake) Wake();
}

void EventLoop::Post(std::function<void()> task) {
    bool wake;
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(task));
        wake = !wakePending_;
        wakePending_ = true;
    }
    if (wake) Wake();
}

void EventLoop::Quit(int code) {
    quit_ = true;
    quitCode_ = code;
}

size_t EventLoop::PendingCloses() const {
    std::lock_guard lock(mutex_);
    return pending_.size();
}

void EventLoop::Wake() {
    uint64_t one = 1;
    ssize_t n = ::write(wake_.get(), &one, sizeof one);
    (void)n;
}

int EventLoop::Run() {
    constexpr int kMaxEvents = 64;
    struct epoll_event events[kMaxEvents];
    while (!quit_) {
        int n = ::epoll_wait(epoll_.get(), events, kMaxEvents, NextTimeoutMs());
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
        CloseExpired();
    }
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
        if (onSignal_) onSignal_(static_cast<int>(info.ssi_signo));
    }
}

void EventLoop::DrainAndMaybeClose(int fd, uint32_t serial) {
    // Whatever the client still sends is read and thrown away; its close ends the socket.
    char scratch[4096];
    bool closed = false;
    for (;;) {
        ssize_t n = ::recv(fd, scratch, sizeof scratch, 0);
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        closed = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        break;
    }
    if (!closed) return;
    std::lock_guard lock(mutex_);
    auto it = pending_.find(fd);
    if (it != pending_.end() && it->second.serial == serial) CloseLocked(fd);
}

void EventLoop::CloseExpired() {
    uint64_t now = MonotonicMillis();
    std::lock_guard lock(mutex_);
    while (!deadlines_.empty() && deadlines_.begin()->first <= now) {
        CloseLocked(deadlines_.begin()->second);
    }
}

void EventLoop::CloseLocked(int fd) {
    auto it = pending_.find(fd);
    if (it != pending_.end()) {
        deadlines_.erase(it->second.deadline);
        pending_.erase(it);
    }
    // close() also removes the socket from the epoll set.
    ::close(fd);
}

int EventLoop::NextTimeoutMs() const {
    std::lock_guard lock(mutex_);
    if (deadlines_.empty()) return -1;
    uint64_t now = MonotonicMillis();
    uint64_t first = deadlines_.begin()->first;
    if (first <= now) return 0;
    uint64_t wait = first - now;
    return wait > 60000 ? 60000 : static_cast<int>(wait);
}

}  // namespace platform
