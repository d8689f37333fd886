// What the fuzz targets share: the invariant check that aborts, and one request run through
// the engine's own head reader and connection object over a socket pair.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "http/connection.h"
#include "http/head_collector.h"
#include "tests/support/connection_harness.h"

// An invariant the engine must keep whatever its input: a violation is a finding.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace fuzz {

// The engine around the connection: a fresh one per input, so that the sockets handed to
// its loop (which never runs) are closed when the input is done.
using Engine = testing_support::EngineHarness;

// Sends `request` and closes the client's sending side; the head is read on the loop as the
// listener reads it, and the connection answers. Returns all it answered.
inline std::string Exchange(http::Connection& connection, const std::string& request,
                            const std::function<void(config::ServerConfig&)>& configure = {}) {
    Engine engine;
    if (configure) engine.config.Update(configure);
    int fds[2];
    FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0);
    platform::UniqueFd client(fds[1]);
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    int room = static_cast<int>(request.size()) + 65536;
    ::setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    size_t sent = 0;
    while (sent < request.size()) {
        ssize_t n = ::send(fds[1], request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        FUZZ_CHECK(n > 0);
        sent += static_cast<size_t>(n);
    }
    ::shutdown(fds[1], SHUT_WR);

    http::HeadCollector collector(engine.loop, [&](http::ReceivedHead head) {
        connection.Assign(std::move(head.socket), head.address, head.portNetworkOrder,
                          &engine.server, std::move(head.bytes), head.registered);
    });
    collector.Add(platform::AcceptedSocket{platform::UniqueFd(fds[0]), 0x7f000001u, 0});
    // The whole request is there and its sender has closed: reading the head ends at once.
    FUZZ_CHECK(collector.Pending() == 0);

    std::string response = testing_support::ReceiveUntilClosed(fds[1]);
    // The worker frees the object right after its last send: a short spin usually sees it.
    for (int i = 0; i < 10000 && connection.busy(); ++i) std::this_thread::yield();
    testing_support::WaitUntil(std::chrono::seconds(5), [&] { return !connection.busy(); });
    FUZZ_CHECK(!connection.busy());
    return response;
}

}  // namespace fuzz
