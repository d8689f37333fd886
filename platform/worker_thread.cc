// Threads with an explicit stack size on pthreads.
#include "platform/worker_thread.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

WorkerThread::~WorkerThread() { Join(); }

bool WorkerThread::Start(std::function<void()> body) {
    if (started_) return false;
    body_ = std::move(body);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, kStackSize);
    pthread_t thread;
    int rc = pthread_create(&thread, &attr, &WorkerThread::Trampoline, this);
    pthread_attr_destroy(&attr);
    if (rc != 0) return false;
    handle_ = thread;
    started_ = true;
    return true;
}

void WorkerThread::Join() {
    if (!started_) return;
    pthread_join(static_cast<pthread_t>(handle_), nullptr);
    started_ = false;
}

void* WorkerThread::Trampoline(void* self) {
    static_cast<WorkerThread*>(self)->body_();
    return nullptr;
}

void WakeUp::Ring() {
    if (state_.exchange(kRung, std::memory_order_acq_rel) == kSleeping) {
        ::syscall(SYS_futex, reinterpret_cast<int*>(&state_), FUTEX_WAKE_PRIVATE, 1, nullptr,
                  nullptr, 0);
    }
}

void WakeUp::Wait() {
    for (;;) {
        int state = state_.load(std::memory_order_acquire);
        if (state == kRung) {
            if (state_.compare_exchange_weak(state, kIdle, std::memory_order_acq_rel)) return;
            continue;
        }
        if (state == kIdle &&
            !state_.compare_exchange_weak(state, kSleeping, std::memory_order_acq_rel)) {
            continue;
        }
        // Sleeps only while the state still says so; a Ring in between makes this return.
        ::syscall(SYS_futex, reinterpret_cast<int*>(&state_), FUTEX_WAIT_PRIVATE, kSleeping,
                  nullptr, nullptr, 0);
    }
}

}  // namespace platform
