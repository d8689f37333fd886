// A joinable thread with an explicit stack size.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>

namespace platform {

class WorkerThread {
public:
    static constexpr size_t kStackSize = 256 * 1024;

    WorkerThread() = default;
    ~WorkerThread();  // joins
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts `body` on a new thread; false when the system refuses a thread.
    bool Start(std::function<void()> body);
    void Join();
    bool running() const { return started_; }

private:
    static void* Trampoline(void* self);

    std::function<void()> body_;
    unsigned long handle_ = 0;
    bool started_ = false;
};

// Wakes one sleeping thread. Rings that come before the thread waits are kept, but several
// count as one, so the woken thread must look at what it was woken for. Waiting blocks in
// the kernel at once instead of spinning first, which matters when a thread is woken for
// every request.
class WakeUp {
public:
    void Ring();
    void Wait();

private:
    static constexpr int kIdle = 0;
    static constexpr int kRung = 1;
    static constexpr int kSleeping = 2;
    std::atomic<int> state_{kIdle};
};

}  // namespace platform
