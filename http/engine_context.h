// What the engine needs from the program around it: the event loop, the configuration and
// the owner that shows server state to a person.
#pragma once

#include <string>

namespace platform {
class EventLoop;
}
namespace config {
class SharedConfig;
}

namespace http {

class Listener;
class ServerInstance;

// The owner notifications of a listener; the shell implements them.
class ServerOwner {
  public:
    virtual ~ServerOwner() = default;
    // A start-up failure, shown to the owner, never to a client.
    virtual void ShowStatusMessage(const std::string& text) = 0;
    // Every change between running and not running.
    virtual void OnServerStateChanged(const Listener& listener, bool notRunning) = 0;
};

// What runs around every start and stop of a server (the address publishing).
class ServerHooks {
  public:
    virtual ~ServerHooks() = default;
    // After the server tried to start on `requestedPort`, whatever the outcome.
    virtual void AfterStart(ServerInstance& server, int requestedPort) = 0;
    // Before a server that was started stops listening.
    virtual void BeforeStop(ServerInstance& server) = 0;
};

struct EngineContext {
    platform::EventLoop& loop;
    config::SharedConfig& config;
    ServerOwner& owner;
    // The local address both listeners bind to; empty means every address. Set before the
    // first start and not changed afterwards.
    std::string bindAddress;
    // The address the servers are reached at, used in links the system builds to itself.
    std::string hostAddress;
    // The start and stop hooks; none when null.
    ServerHooks* hooks = nullptr;
};

}  // namespace http
