// Drives a connection object over a socket pair: the request goes in one end, the worker
// answers on the other, and the test compares the bytes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "config/server_config.h"
#include "http/connection.h"
#include "http/listener.h"
#include "platform/event_loop.h"

namespace testing_support {

class SilentOwner : public http::ServerOwner {
public:
    void ShowStatusMessage(const std::string&) override {}
    void OnServerStateChanged(const http::Listener&, bool) override {}
};

// The engine around one connection: an event loop that is never run (handed-over sockets
// are closed when it goes away), a configuration and Server 1's instance.
struct EngineHarness {
    static config::ServerConfig DefaultConfig() {
        config::ServerConfig c;
        c.goodByeKiss = 30;
        return c;
    }

    platform::EventLoop loop;
    config::SharedConfig config{DefaultConfig()};
    SilentOwner owner;
    http::EngineContext context{loop, config, owner, "", "127.0.0.1"};
    http::ServerInstance server{context, 1};
};

// Sends the request pieces (pausing `pause` between them) to `connection` and returns all it
// answered, waiting at most ten seconds for the answer.
inline std::string ExchangeOverSocketPair(http::Connection& connection,
                                          http::ServerInstance& server,
                                          const std::vector<std::string>& pieces,
                                          std::chrono::milliseconds pause = {}) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        throw std::runtime_error("socketpair");
    }
    // Accepted sockets are non-blocking; the server's end here is too.
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    connection.Assign(platform::UniqueFd(fds[0]), 0x7f000001u, 0, &server);
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) std::this_thread::sleep_for(pause);
        ::send(fds[1], pieces[i].data(), pieces[i].size(), MSG_NOSIGNAL);
    }
    std::string response;
    char buffer[65536];
    for (;;) {
        pollfd p{fds[1], POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) break;
        ssize_t n = ::recv(fds[1], buffer, sizeof buffer, 0);
        if (n <= 0) break;
        response.append(buffer, static_cast<size_t>(n));
    }
    ::close(fds[1]);
    // The worker frees the object after its last send; wait for that (bounded).
    for (int i = 0; i < 500 && connection.busy(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return response;
}

}  // namespace testing_support
