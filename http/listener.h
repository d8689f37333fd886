// The listening socket of one server and its pool of connection objects.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <memory>

#include "http/connection.h"
#include "http/engine_context.h"
#include "platform/unique_fd.h"

namespace http {

inline constexpr size_t kPoolSize = 100;
// The connections the system queues for a server before it refuses more.
inline constexpr int kListenBacklog = 511;

class Listener {
public:
    virtual ~Listener();  // stops listening
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Starts listening on `port` (its low 16 bits); failures are shown to the owner.
    virtual void Start(int port);
    virtual void Stop();

    // Accepts the connections waiting on the listening socket, each on a free connection
    // object of the pool. Runs on the main loop.
    void Accept();
    bool OwnsSocket(int fd) const { return listenSocket_.valid() && listenSocket_.get() == fd; }
    bool IsRunning() const { return running_; }
    int Port() const { return port_; }

    // The first free connection in slot order; nullptr while all are busy.
    Connection* FindFreeConnection();
    // Called by a worker after it freed its connection object. Any thread.
    void NotifyConnectionFreed();

    // Fills every slot with a connection made by `make`; destroying the pool stops every
    // worker.
    void FillPool(const std::function<std::unique_ptr<Connection>()>& make);
    void DestroyPool();

    EngineContext& context() { return context_; }

    // When set, a port in use makes Start try the next port up instead of failing.
    bool nextPortOnConflict = false;
    std::array<std::unique_ptr<Connection>, kPoolSize> pool;

protected:
    // Only server instances listen; connections hold their listener as one.
    explicit Listener(EngineContext& context) : context_(context) {}

private:
    void StopListening();
    // Watches the listening socket exactly while it is running and accepting is not paused.
    void UpdateWatch();
    // Out of descriptors, a waiting connection would keep the listener readable and the
    // loop spinning: stop watching it for a moment, then try again.
    void PauseAccepting(int error);
    void ResumeAccepting();
    // With every object busy, accepting waits (the client stays queued by the system) until
    // a worker frees one; the loop itself goes on serving the owner and the signals.
    void WaitForFreeConnection();
    void ResumeAfterFree();

    EngineContext& context_;
    platform::UniqueFd listenSocket_;
    int port_ = 0;
    bool running_ = false;
    bool watched_ = false;
    bool acceptPaused_ = false;
    bool waitingForConnection_ = false;
    // The owner has been told that accepting failed, and no connection came in since.
    bool acceptFailureShown_ = false;
    // Set by the loop while it waits for a free object; the worker that takes it back
    // posts the resumption.
    std::atomic<bool> wakeOnFree_{false};
};

// One of the two servers. Its Start and Stop are where the publishing hooks attach.
class ServerInstance : public Listener {
public:
    ServerInstance(EngineContext& context, int number) : Listener(context), number_(number) {}
    void Start(int port) override;
    void Stop() override;

    // 1 for Server 1, 2 for Server 2: which settings its requests use, whatever port it had
    // to take.
    int number() const { return number_; }

private:
    int number_;
    // A start ran its hooks and no stop has answered it yet.
    bool startHooksRan_ = false;
};

}  // namespace http
