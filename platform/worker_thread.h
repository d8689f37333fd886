// A joinable thread with an explicit stack size.
#pragma once

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

}  // namespace platform
