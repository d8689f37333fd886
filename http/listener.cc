// Server instances: binding, listening, accepting and handing sockets to the pool.
#include "http/listener.h"

#include <cstdio>

#include "config/server_config.h"
#include "platform/error_text.h"
#include "platform/event_loop.h"
#include "platform/file_io.h"
#include "platform/socket.h"

namespace http {
namespace {

constexpr int kHighestPort = 65535;
// Connections taken from the backlog for one readiness event.
constexpr int kAcceptBatch = 64;
// How long accepting pauses when the process is out of descriptors.
constexpr uint64_t kAcceptPauseMs = 100;
// Out of descriptors, a client silent this long in its head is closed to let another in.
constexpr uint64_t kShedSilenceMs = 10000;
// Open connections (typing their heads or waiting for their clients' close) from which on
// the server counts as busy, and up to which it counts as idle again.
constexpr size_t kBusyConnections = 8;
constexpr size_t kIdleConnections = 2;

// Whether the client of a complete head has more of its body to send than came with the
// head: such a request will wait on its client.
bool BodyStillArriving(const ReceivedHead& head) {
    if (head.headLength == 0) return false;
    std::string_view text = head.bytes;
    std::optional<uint64_t> length = DeclaredContentLength(text.substr(0, head.headLength));
    if (!length) return false;
    std::string_view after = text.substr(head.headLength);
    // The line feed that ends the empty line is no part of the body.
    if (!after.empty() && after.front() == '\n') after.remove_prefix(1);
    return *length > after.size();
}

std::string Format(const char* format, int port) {
    char text[96];
    std::snprintf(text, sizeof text, format, port);
    return text;
}

// The owner's message followed by the call that failed and its error, so the owner knows
// what to change.
std::string WithCause(const std::string& message, const std::string& call, int error) {
    return message + " (" + call + ": " + platform::ErrorText(error) + ")";
}

}  // namespace

Listener::~Listener() { StopListening(); }

void Listener::Start(int port) {
    if (running_) return;
    for (auto& slot : pool) {
        if (!slot) slot = std::make_unique<Connection>();
    }
    ServerOwner& owner = context_.owner;
    owner.OnServerStateChanged(*this, true);
    port_ = port;

    std::string failure;
    platform::UniqueFd socket = OpenListeningSocket(&port_, nextPortOnConflict, &failure);
    if (!socket) {
        owner.ShowStatusMessage(failure);
        return;
    }
    listenSocket_ = std::move(socket);
    running_ = true;
    UpdateWatch();
    owner.OnServerStateChanged(*this, false);
}

platform::UniqueFd Listener::OpenListeningSocket(int* port, bool moveUp, std::string* failure) {
    // Without a bind address one IPv6 socket takes the clients of both families; a machine
    // without IPv6 listens on every IPv4 address instead.
    bool dualStack = context_.bindAddress.empty();
    platform::IpAddress address;
    if (!dualStack) {
        // A bind address that is no IP address cannot be bound (the system would take the
        // all-ones value it stands for as the broadcast address).
        std::optional<platform::IpAddress> parsed =
            platform::IpAddress::Parse(context_.bindAddress);
        if (!parsed) {
            *failure = Format("Can't bind to port %d.", *port) + " (" + context_.bindAddress +
                       " is no IP address)";
            return {};
        }
        address = *parsed;
    }
    int error = 0;
    platform::UniqueFd socket = platform::CreateTcpSocket(&error, dualStack || address.IsIpv6());
    if (!socket && dualStack && platform::IsFamilyUnsupported(error)) {
        dualStack = false;
        socket = platform::CreateTcpSocket(&error);
    }
    if (!socket) {
        *failure = platform::SocketCreationMessage(error);
        return {};
    }
    const std::string shownAddress = dualStack ? "[::]" : platform::UrlHost(address.Text());

    if (*port < 1 || *port > kHighestPort) {
        *failure = "Port " + std::to_string(*port) + " is not a port number (1-65535).";
        return {};
    }
    // Server 1 fails on a port in use; Server 2 moves up to the next free one.
    for (;;) {
        const auto bindPort = static_cast<uint16_t>(*port);
        error = dualStack ? platform::BindDualStack(socket.get(), bindPort)
                          : platform::BindTo(socket.get(), address, bindPort);
        if (error == 0) break;
        std::string call = "bind " + shownAddress + ":" + std::to_string(*port);
        if (!platform::IsAddressInUse(error) || !moveUp || *port >= kHighestPort) {
            bool inUse = platform::IsAddressInUse(error) && !moveUp;
            *failure =
                WithCause(Format(inUse ? "Can't use port %d. Another web server may be running."
                                       : "Can't bind to port %d.",
                                 *port),
                          call, error);
            return {};
        }
        ++*port;
    }

    if (int listenError = platform::Listen(socket.get(), kListenBacklog); listenError != 0) {
        *failure = WithCause("Socket Listen Failed", "listen", listenError);
        return {};
    }
    return socket;
}

void Listener::StartTls(int port, std::shared_ptr<const platform::TlsContext> tlsContext,
                        std::string* failure) {
    if (!running_ || tlsSocket_) return;
    int tlsPort = port;
    platform::UniqueFd socket = OpenListeningSocket(&tlsPort, false, failure);
    if (!socket) return;
    tlsSocket_ = std::move(socket);
    // A TLS client always speaks first: its hello is there when its connection is taken.
    platform::DeferAccept(tlsSocket_.get(), true);
    tlsPort_ = tlsPort;
    tlsContext_ = std::move(tlsContext);
    // Watched together with the plain listener from now on.
    if (watched_) context_.loop.Watch(tlsSocket_.get(), [this] { AcceptTls(); });
}

void Listener::Stop() {
    if (!running_) return;
    StopListening();
    // Scripts do not outlive their server.
    for (auto& slot : pool) {
        if (slot && slot->busy()) slot->StopScript();
    }
    context_.owner.OnServerStateChanged(*this, true);
}

void Listener::StopListening() {
    if (!running_) return;
    running_ = false;
    acceptPaused_ = false;
    deferring_ = false;
    UpdateWatch();
    listenSocket_.Reset();
    tlsSocket_.Reset();
    tlsContext_.reset();
    tlsPort_ = 0;
    // Clients whose requests no object has taken yet are closed with the server.
    heads_.Clear();
    waiting_.clear();
    waitingForBody_.clear();
}

void Listener::UpdateWatch() {
    bool wanted = running_ && !acceptPaused_;
    if (wanted == watched_) return;
    if (wanted) {
        context_.loop.Watch(listenSocket_.get(), [this] { Accept(); });
        if (tlsSocket_) context_.loop.Watch(tlsSocket_.get(), [this] { AcceptTls(); });
    } else {
        context_.loop.Unwatch(listenSocket_.get());
        if (tlsSocket_) context_.loop.Unwatch(tlsSocket_.get());
    }
    watched_ = wanted;
}

void Listener::Accept() {
    AdaptDeferral();
    // An idle server takes one connection per readiness: a second accept would nearly
    // always find none, and the loop comes back at once for any that wait.
    AcceptWaiting(listenSocket_.get(), deferring_ ? kAcceptBatch : 1, false);
}

void Listener::AcceptTls() { AcceptWaiting(tlsSocket_.get(), kAcceptBatch, true); }

void Listener::AcceptWaiting(int listenFd, int batch, bool tls) {
    for (int i = 0; i < batch && watched_; ++i) {
        platform::AcceptFailure failure = platform::AcceptFailure::kNoneWaiting;
        int error = 0;
        std::optional<platform::AcceptedSocket> accepted =
            platform::AcceptConnection(listenFd, &failure, &error);
        if (!accepted) {
            if (failure == platform::AcceptFailure::kConnectionFailed) continue;
            if (failure == platform::AcceptFailure::kOutOfResources) {
                // A client long silent in its head gives way to one that is waiting.
                if (heads_.ShedOldest(kShedSilenceMs)) continue;
                PauseAccepting(error);
            }
            return;
        }
        acceptFailureShown_ = false;
        heads_.Add(std::move(*accepted), tls ? tlsContext_ : nullptr, proxyProtocol);
    }
}

void Listener::AdaptDeferral() {
    // A connection accepted before its request arrives costs a read that finds nothing and
    // a watch until the request comes. Under load the system holds such connections back
    // until their request is there; with few clients it does not, since accepting while a
    // client is still sending then overlaps with it instead of delaying the answer.
    size_t open = heads_.Pending() + context_.loop.PendingCloses();
    bool busy = deferring_ ? open > kIdleConnections : open >= kBusyConnections;
    if (busy == deferring_) return;
    deferring_ = busy;
    platform::DeferAccept(listenSocket_.get(), busy);
}

void Listener::PauseAccepting(int error) {
    if (!acceptFailureShown_) {
        acceptFailureShown_ = true;
        context_.owner.ShowStatusMessage("accept on port " + std::to_string(port_) + ": " +
                                         platform::ErrorText(error) +
                                         "; new connections wait until descriptors are free.");
    }
    acceptPaused_ = true;
    UpdateWatch();
    context_.loop.After(kAcceptPauseMs, [this] { ResumeAccepting(); });
}

void Listener::ResumeAccepting() {
    if (!acceptPaused_ || !running_) return;
    acceptPaused_ = false;
    UpdateWatch();
    Accept();
}

Connection* Listener::FindFreeConnection() {
    for (auto& slot : pool) {
        if (slot && !slot->busy()) return slot.get();
    }
    return nullptr;
}

bool Listener::AdmitClientBound() {
    int taken = clientBound_.load();
    while (taken < kClientBoundLimit) {
        if (clientBound_.compare_exchange_weak(taken, taken + 1)) return true;
    }
    return false;
}

void Listener::TakeHead(ReceivedHead head) {
    if (!running_) return;
    // TLS connections read their body through the session and are not counted.
    const bool bodyBound = !head.tls && BodyStillArriving(head);
    std::deque<ReceivedHead>& queue = bodyBound ? waitingForBody_ : waiting_;
    if (queue.empty() && (!bodyBound || AdmitClientBound())) {
        if (Connection* connection = FindFreeConnection()) {
            AssignHead(*connection, std::move(head), bodyBound);
            return;
        }
        if (bodyBound) ReleaseClientBound();
    }
    queue.push_back(std::move(head));
    WaitForFreeConnection();
}

bool Listener::CanAssignWaiting() {
    if (!FindFreeConnection()) return false;
    return !waiting_.empty() ||
           (!waitingForBody_.empty() && clientBound_.load() < kClientBoundLimit);
}

void Listener::WaitForFreeConnection() {
    // Sequentially consistent on both sides: a worker frees its object (and its place)
    // before it reads the flag, and the loop raises the flag before it looks again, so one
    // of the two sees the other.
    wakeOnFree_.store(true);
    if (CanAssignWaiting() && wakeOnFree_.exchange(false)) AssignWaitingHeads();
}

void Listener::AssignWaitingHeads() {
    for (;;) {
        Connection* connection = FindFreeConnection();
        if (connection == nullptr) break;
        if (!waiting_.empty()) {
            ReceivedHead head = std::move(waiting_.front());
            waiting_.pop_front();
            AssignHead(*connection, std::move(head), false);
        } else if (!waitingForBody_.empty() && AdmitClientBound()) {
            ReceivedHead head = std::move(waitingForBody_.front());
            waitingForBody_.pop_front();
            AssignHead(*connection, std::move(head), true);
        } else {
            break;
        }
    }
    if (!waiting_.empty() || !waitingForBody_.empty()) WaitForFreeConnection();
}

void Listener::AssignHead(Connection& connection, ReceivedHead head, bool clientBound) {
    std::optional<std::string> received;
    if (head.HeadRead()) received = std::move(head.bytes);
    if (head.tls) connection.UseTls(std::move(head.tls));
    if (head.http2) connection.ResumeHttp2(std::move(head.http2));
    connection.Assign(std::move(head.socket), head.address, head.portNetworkOrder,
                      static_cast<ServerInstance*>(this), std::move(received), head.registered,
                      clientBound, head.requestsBefore);
}

void Listener::KeepAlive(ReceivedHead connection, uint64_t idleMs) {
    // A task runs as often as it is copied: the connection travels in a shared record.
    auto kept = std::make_shared<ReceivedHead>(std::move(connection));
    context_.loop.Post([this, kept, idleMs] {
        if (running_) heads_.AddKept(std::move(*kept), idleMs);
    });
}

void Listener::NotifyConnectionFreed() {
    if (!wakeOnFree_.exchange(false)) return;
    context_.loop.Post([this] { AssignWaitingHeads(); });
}

void Listener::FillPool(const std::function<std::unique_ptr<Connection>()>& make) {
    make_ = make;
    for (auto& slot : pool) slot = make();
}

std::unique_ptr<Connection> Listener::MakeConnection() {
    return make_ ? make_() : std::make_unique<Connection>();
}

void Listener::DestroyPool() {
    for (auto& slot : pool) {
        if (slot) slot->StopWorker();
        slot.reset();
    }
}

void ServerInstance::Start(int port) {
    if (IsRunning()) return;
    proxyProtocol = context().config.Snapshot()->servers[number_ - 1].proxyProtocol;
    Listener::Start(port);
    if (IsRunning()) StartHttps();
    startHooksRan_ = true;
    if (ServerHooks* hooks = context().hooks) hooks->AfterStart(*this, port);
}

void ServerInstance::StartHttps() {
    // The snapshot is held while its settings are read: a change saved meanwhile replaces
    // the configuration's record, not this one.
    const std::shared_ptr<const config::ServerConfig> snapshot = context().config.Snapshot();
    const config::ServerSettings& settings = snapshot->servers[number_ - 1];
    if (settings.tlsPort == 0) return;
    const std::string server = "Server " + std::to_string(number_);
    config::TlsFiles files = config::TlsFilesOf(settings, snapshot->programDirectory);
    std::string failure;
    if (settings.ObtainsCertificate() && !platform::FileExists(files.chain)) {
        const std::string& name = settings.acmeDomains.front();
        if (config::AcmeChallengeOf(settings) != config::AcmeChallenge::kTlsAlpn01) {
            context().owner.ShowStatusMessage(server + ": HTTPS waits for the certificate of " +
                                              name);
            return;
        }
        // The authority's look is a handshake on this port: until the certificate comes, HTTPS
        // runs with a self-signed one.
        const std::string folder = config::AcmeCertificateFolder(snapshot->programDirectory, name);
        files = {folder + "self-signed.pem", folder + "self-signed-key.pem"};
        if (!platform::MakeDirectories(folder, 0700, &failure) ||
            !platform::MakeSelfSignedCertificate(settings.acmeDomains, 7, files.chain, files.key,
                                                 &failure)) {
            context().owner.ShowStatusMessage(server + ": HTTPS off: " + failure);
            return;
        }
    }
    std::shared_ptr<const platform::TlsContext> tls =
        platform::TlsContext::Load(files.chain, files.key, &failure);
    if (tls) StartTls(settings.tlsPort, std::move(tls), &failure);
    context().owner.ShowStatusMessage(TlsPort() == 0 ? server + ": HTTPS off: " + failure
                                                     : server + ": HTTPS on port " +
                                                           std::to_string(TlsPort()));
}

void ServerInstance::ReloadCertificate() {
    if (!IsRunning()) return;
    if (TlsPort() == 0) {
        StartHttps();
        return;
    }
    const std::shared_ptr<const config::ServerConfig> snapshot = context().config.Snapshot();
    const config::TlsFiles files =
        config::TlsFilesOf(snapshot->servers[number_ - 1], snapshot->programDirectory);
    std::string failure;
    if (std::shared_ptr<const platform::TlsContext> tls =
            platform::TlsContext::Load(files.chain, files.key, &failure)) {
        ReplaceTlsContext(std::move(tls));
    } else {
        context().owner.ShowStatusMessage("Server " + std::to_string(number_) +
                                          ": HTTPS keeps its certificate: " + failure);
    }
}

void ServerInstance::Stop() {
    // The stop hooks answer a start: a server stopped twice publishes its offline page once.
    if (startHooksRan_) {
        startHooksRan_ = false;
        if (ServerHooks* hooks = context().hooks) hooks->BeforeStop(*this);
    }
    Listener::Stop();
}

}  // namespace http
