// Server instances: binding, listening, accepting and handing sockets to the pool.
#include "http/listener.h"

#include <chrono>
#include <cstdio>

#include "platform/event_loop.h"
#include "platform/socket.h"

namespace http {
namespace {

constexpr uint32_t kAnyAddress = 0;
constexpr int kHighestPort = 65535;
// Connections taken from the backlog for one readiness event.
constexpr int kAcceptBatch = 64;

std::string Format(const char* format, int port) {
    char text[96];
    std::snprintf(text, sizeof text, format, port);
    return text;
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

    int error = 0;
    platform::UniqueFd socket = platform::CreateTcpSocket(&error);
    if (!socket) {
        owner.ShowStatusMessage(platform::SocketCreationMessage(error));
        return;
    }

    // A bind address that is no IPv4 address cannot be bound (the system would take the
    // all-ones value it stands for as the broadcast address).
    std::optional<uint32_t> address = kAnyAddress;
    if (!context_.bindAddress.empty()) address = platform::ParseIpv4(context_.bindAddress);
    if (!address) {
        owner.ShowStatusMessage(Format(
            nextPortOnConflict ? "Can't bind to port %i." : "Can't bind to port %d.", port_));
        return;
    }
    if (!nextPortOnConflict) {
        error = platform::BindIpv4(socket.get(), *address, static_cast<uint16_t>(port_ & 0xffff));
        if (error != 0) {
            owner.ShowStatusMessage(
                platform::IsAddressInUse(error)
                    ? Format("Can't use port %d. Another web server may be running.", port_)
                    : Format("Can't bind to port %d.", port_));
            return;
        }
    } else {
        for (;;) {
            error = platform::BindIpv4(socket.get(), *address, static_cast<uint16_t>(port_ & 0xffff));
            if (error == 0) break;
            if (!platform::IsAddressInUse(error) || port_ >= kHighestPort) {
                owner.ShowStatusMessage(Format("Can't bind to port %i.", port_));
                return;
            }
            ++port_;
        }
    }

    if (platform::Listen(socket.get(), kListenBacklog) != 0) {
        owner.ShowStatusMessage("Socket Listen Failed");
        return;
    }
    listenSocket_ = std::move(socket);
    context_.loop.Watch(listenSocket_.get(), [this] { Accept(); });
    running_ = true;
    owner.OnServerStateChanged(*this, false);
}

void Listener::Stop() {
    if (!running_) return;
    StopListening();
    context_.owner.OnServerStateChanged(*this, true);
}

void Listener::StopListening() {
    if (!running_) return;
    context_.loop.Unwatch(listenSocket_.get());
    listenSocket_.Reset();
    running_ = false;
}

void Listener::Accept() {
    for (int i = 0; i < kAcceptBatch && listenSocket_.valid(); ++i) {
        std::optional<platform::AcceptedSocket> accepted =
            platform::AcceptConnection(listenSocket_.get());
        if (!accepted) return;
        Connection* connection = FindFreeConnection();
        connection->Assign(std::move(accepted->fd), accepted->address,
                           accepted->portNetworkOrder, static_cast<ServerInstance*>(this));
    }
}

Connection* Listener::FindFreeConnection() {
    for (;;) {
        for (auto& slot : pool) {
            if (slot && !slot->busy()) return slot.get();
        }
        // Every object is busy: the main thread waits, as the owner's interface does, until a
        // worker frees one (at most a second between scans).
        std::unique_lock lock(freedMutex_);
        waiters_.fetch_add(1);
        bool anyFree = false;
        for (auto& slot : pool) anyFree = anyFree || (slot && !slot->busy());
        if (!anyFree) freed_.wait_for(lock, std::chrono::milliseconds(1000));
        waiters_.fetch_sub(1);
    }
}

void Listener::NotifyConnectionFreed() {
    if (waiters_.load() == 0) return;
    std::lock_guard lock(freedMutex_);
    freed_.notify_all();
}

void Listener::FillPool(const std::function<std::unique_ptr<Connection>()>& make) {
    for (auto& slot : pool) slot = make();
}

void Listener::DestroyPool() {
    for (auto& slot : pool) {
        if (slot) slot->StopWorker();
        slot.reset();
    }
}

void ServerInstance::Start(int port) { Listener::Start(port); }

void ServerInstance::Stop() { Listener::Stop(); }

}  // namespace http
