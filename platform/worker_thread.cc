// Threads with an explicit stack size on pthreads.
#include "platform/worker_thread.h"

#include <pthread.h>

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

}  // namespace platform
