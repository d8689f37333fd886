// The listening socket of one server and its pool of connection objects.
#pragma once

#include <array>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>

#include "http/connection.h"
#include "http/engine_context.h"
#include "http/head_collector.h"
#include "platform/tls.h"
#include "platform/unique_fd.h"

namespace http {

inline constexpr size_t kPoolSize = 100;
// The connections the system queues for a server before it refuses more.
inline constexpr int kListenBacklog = 511;
// Requests that wait on their client (a body still arriving, an answer the client is slow to
// take) may hold at most this many of the pool's objects: the others stay free for requests
// that need nothing more from theirs, however many clients trickle.
inline constexpr int kClientBoundLimit = static_cast<int>(kPoolSize) * 4 / 5;

class Listener {
  public:
    virtual ~Listener();  // stops listening
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    // Starts listening on `port` (its low 16 bits); failures are shown to the owner.
    virtual void Start(int port);
    virtual void Stop();

    // Accepts the connections waiting on the listening socket. Their heads are read on the
    // loop; each complete one goes to a free connection object of the pool, or waits in
    // order of arrival until one is free. Runs on the main loop.
    void Accept();
    bool OwnsSocket(int fd) const { return listenSocket_.valid() && listenSocket_.get() == fd; }
    bool IsRunning() const { return running_; }
    int Port() const { return port_; }
    // The port of the TLS listener; 0 while there is none.
    int TlsPort() const { return tlsPort_; }

    // The first free connection in slot order; nullptr while all are busy.
    Connection* FindFreeConnection();
    // Called by a worker after it freed its connection object. Any thread.
    void NotifyConnectionFreed();
    // Takes back the connection of an answered request that may carry another (see
    // HeadCollector::AddKept); closed instead when the server has stopped. Any thread.
    void KeepAlive(ReceivedHead connection, uint64_t idleMs);
    // Takes one of the places of requests that wait on their client; false when all
    // kClientBoundLimit are taken. ReleaseClientBound gives it back, before the object is
    // freed. Any thread.
    bool AdmitClientBound();
    void ReleaseClientBound() { clientBound_.fetch_sub(1); }

    // Fills every slot with a connection made by `make`; destroying the pool stops every
    // worker.
    void FillPool(const std::function<std::unique_ptr<Connection>()>& make);
    // A connection object of the pool's class, outside the pool (HTTP/2 streams).
    std::unique_ptr<Connection> MakeConnection();
    void DestroyPool();

    EngineContext& context() { return context_; }

    // When set, a port in use makes Start try the next port up instead of failing.
    bool nextPortOnConflict = false;
    // When set at Start, every connection must begin with a PROXY protocol header.
    bool proxyProtocol = false;
    std::array<std::unique_ptr<Connection>, kPoolSize> pool;

  protected:
    // Only server instances listen; connections hold their listener as one.
    explicit Listener(EngineContext& context)
        : context_(context),
          heads_(context.loop, [this](ReceivedHead head) { TakeHead(std::move(head)); }) {}

    // Also listens with TLS on `port` (of the same address) while the plain listener runs;
    // on failure `*failure` says why and only plain HTTP runs.
    void StartTls(int port, std::shared_ptr<const platform::TlsContext> tlsContext,
                  std::string* failure);
    // The context new TLS connections are made with, while TLS runs.
    void ReplaceTlsContext(std::shared_ptr<const platform::TlsContext> tlsContext) {
        if (tlsPort_ != 0) tlsContext_ = std::move(tlsContext);
    }

  private:
    // A socket listening on `*port` of the bind address; with `moveUp`, a port in use makes
    // it try the next one up (and `*port` tells which it took). On failure an invalid socket
    // and `*failure` is the owner's message.
    platform::UniqueFd OpenListeningSocket(int* port, bool moveUp, std::string* failure);
    // Accepts the connections of the TLS listener, each straight to an object of the pool.
    void AcceptTls();
    // Accepts up to `batch` connections waiting on `listenFd`.
    void AcceptWaiting(int listenFd, int batch, bool tls);
    void AssignHead(Connection& connection, ReceivedHead head, bool clientBound);
    // Whether a waiting head can go to an object now.
    bool CanAssignWaiting();
    void StopListening();
    // Watches the listening socket exactly while it is running and accepting is not paused.
    void UpdateWatch();
    // Out of descriptors, a waiting connection would keep the listener readable and the
    // loop spinning: stop watching it for a moment, then try again.
    void PauseAccepting(int error);
    void ResumeAccepting();
    // Defers accepting until a connection's request is there while the server is busy.
    void AdaptDeferral();
    // A head read to its end goes to a free object, or waits for one.
    void TakeHead(ReceivedHead head);
    void AssignWaitingHeads();
    void WaitForFreeConnection();

    EngineContext& context_;
    platform::UniqueFd listenSocket_;
    int port_ = 0;
    platform::UniqueFd tlsSocket_;
    int tlsPort_ = 0;
    std::shared_ptr<const platform::TlsContext> tlsContext_;
    bool running_ = false;
    bool watched_ = false;
    bool acceptPaused_ = false;
    bool deferring_ = false;
    // The owner has been told that accepting failed, and no connection came in since.
    bool acceptFailureShown_ = false;
    HeadCollector heads_;
    // Complete heads waiting for a free object, in order of arrival; those whose body is
    // still arriving wait apart, for a place among the requests that wait on their client,
    // so that the others pass them.
    std::deque<ReceivedHead> waiting_;
    std::deque<ReceivedHead> waitingForBody_;
    std::atomic<int> clientBound_{0};
    // Set by the loop while heads wait for a free object; the worker that frees one posts
    // their assignment.
    std::atomic<bool> wakeOnFree_{false};
    std::function<std::unique_ptr<Connection>()> make_;
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

    // The certificate files changed (a certificate the server obtained): new handshakes use
    // them from now on, connections under way keep theirs. Starts HTTPS when it was waiting
    // for them. Loop thread only.
    void ReloadCertificate();

  private:
    // Starts the TLS listener when the server's settings ask for one, and tells the owner
    // how that went.
    void StartHttps();

    int number_;
    // A start ran its hooks and no stop has answered it yet.
    bool startHooksRan_ = false;
};

}  // namespace http
