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
// count as one, so the woken thread must look at what it was woken for.
class WakeUp {
  public:
    void Ring() {
        rung_.store(1);
        rung_.notify_one();
    }
    void Wait() {
        while (rung_.exchange(0) == 0) rung_.wait(0);
    }

  private:
    std::atomic<int> rung_{0};
};

}  // namespace platform
