// A joinable thread with an explicit stack size.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>

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

// Wakes a sleeping thread: each Ring lets one Wait return. It blocks in the kernel at once
// instead of spinning first, which matters when a thread is woken for every request.
class WakeUp {
public:
    void Ring() {
        {
            std::lock_guard lock(mutex_);
            ++pending_;
        }
        ready_.notify_one();
    }
    void Wait() {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return pending_ > 0; });
        --pending_;
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    unsigned pending_ = 0;
};

}  // namespace platform
