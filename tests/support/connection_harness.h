// Drives a connection object over a socket pair: the request goes in one end, the worker
// answers on the other, and the test compares the bytes.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/server_config.h"
#include "http/connection.h"
#include "http/listener.h"
#include "platform/event_loop.h"
#include "tests/support/wait_until.h"

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

// All that arrives on `fd` until the peer closes, waiting at most ten seconds for each piece.
inline std::string ReceiveUntilClosed(int fd) {
    std::string received;
    char buffer[65536];
    // A signal (the fuzzer's timer, say) interrupts a wait without ending the answer.
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, 10000);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        received.append(buffer, static_cast<size_t>(n));
    }
    return received;
}

// Sends the request pieces to `connection`, each once the connection has read the one before,
// and returns all it answered, waiting at most ten seconds for the answer.
inline std::string ExchangeOverSocketPair(http::Connection& connection,
                                          http::ServerInstance& server,
                                          const std::vector<std::string>& pieces) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        throw std::runtime_error("socketpair");
    }
    // Accepted sockets are non-blocking; the server's end here is too.
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    connection.Assign(platform::UniqueFd(fds[0]), 0x7f000001u, 0, &server);
    for (const std::string& piece : pieces) {
        // A local socket counts what it sent until the peer has read it.
        WaitUntil(std::chrono::seconds(5), [&] {
            int unread = 0;
            return ::ioctl(fds[1], SIOCOUTQ, &unread) == 0 && unread == 0;
        });
        ::send(fds[1], piece.data(), piece.size(), MSG_NOSIGNAL);
    }
    std::string response = ReceiveUntilClosed(fds[1]);
    ::close(fds[1]);
    // The worker frees the object after its last send; wait for that (bounded).
    WaitUntil(std::chrono::seconds(1), [&] { return !connection.busy(); });
    return response;
}

}  // namespace testing_support
