// TCP sockets on top of the BSD socket calls.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/error_text.h"

namespace platform {
bool WaitFor(int fd, short events, int timeoutMs) {
    struct pollfd p {
        fd, events, 0
    };
    for (;;) {
        int n = ::poll(&p, 1, timeoutMs);
        if (n > 0) return true;
        if (n == 0) return false;
        if (errno != EINTR) return false;
    }
}

bool WaitWritable(int fd, int timeoutMs) { return WaitFor(fd, POLLOUT, timeoutMs); }

std::string SocketCreationMessage(int error) {
    switch (error) {
        case EMFILE:
        case ENFILE:
            return "Could not start server. No more socket descriptors available.";
        case EINPROGRESS:
        case EALREADY:
            return "Could not start server. Still processing a call.";
        case EPROTOTYPE:
            return "Could not start server. The wrong protocol for this socket.";
        case EPROTONOSUPPORT:
            return "Could not start server. Protocol is not supported.";
        case ESOCKTNOSUPPORT:
            return "Could not start server. Unsupported socket type for this address family.";
        case EAFNOSUPPORT:
            return "Could not start server. Address family not supported.";
        case ENETDOWN:
            return "Could not start server. The network subsystem failed.";
        case ENOBUFS:
        case ENOMEM:
            return "Could not start server. No buffer available.";
        default:
            return "Could not start server.";
    }
}

UniqueFd CreateTcpSocket(int* error, bool ipv6) {
    int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC,
                      IPPROTO_TCP);
    if (fd < 0 && error != nullptr) *error = errno;
    return UniqueFd(fd);
}

bool IsFamilyUnsupported(int error) { return error == EAFNOSUPPORT; }

std::optional<uint32_t> ParseIpv4(const std::string& text) {
    struct in_addr a {};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1) return std::nullopt;
    return ntohl(a.s_addr);
}

std::string FormatIpv4(uint32_t address) { return IpAddress(address).Text(); }

int BindIpv4(int fd, uint32_t address, uint16_t port) {
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    struct sockaddr_in sa {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return errno;
    return 0;
}

namespace {

int BindIpv6(int fd, const struct in6_addr& address, uint16_t port, bool v6Only) {
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Set either way: the system's default for new sockets is a setting of the machine.
    int only = v6Only ? 1 : 0;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only);
    struct sockaddr_in6 sa {};
    sa.sin6_family = AF_INET6;
    sa.sin6_port = htons(port);
    sa.sin6_addr = address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return errno;
    return 0;
}

}  // namespace

int BindTo(int fd, const IpAddress& address, uint16_t port) {
    if (!address.IsIpv6()) return BindIpv4(fd, address.Ipv4(), port);
    struct in6_addr a {};
    std::memcpy(&a, address.Ipv6Bytes().data(), sizeof a);
    return BindIpv6(fd, a, port, true);
}

int BindDualStack(int fd, uint16_t port) { return BindIpv6(fd, in6addr_any, port, false); }

bool IsAddressInUse(int error) { return error == EADDRINUSE; }

bool CanBindOnAllAddresses(uint16_t port) {
    int error = 0;
    if (UniqueFd probe = CreateTcpSocket(&error, true))
        return BindDualStack(probe.get(), port) == 0;
    if (!IsFamilyUnsupported(error)) return false;
    UniqueFd probe = CreateTcpSocket(nullptr);
    return probe && BindIpv4(probe.get(), INADDR_ANY, port) == 0;
}

int Listen(int fd, int backlog) { return ::listen(fd, backlog) == 0 ? 0 : errno; }

void DeferAccept(int fd, bool defer) {
    int seconds = defer ? 1 : 0;
    ::setsockopt(fd, IPPROTO_TCP, TCP_DEFER_ACCEPT, &seconds, sizeof seconds);
}

void SendWithoutDelay(int fd) {
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

uint16_t LocalPort(int fd) {
    sockaddr_storage sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
    uint16_t port = 0;
    IpAddress::FromSocketAddress(reinterpret_cast<const sockaddr&>(sa), &port);
    return ntohs(port);
}

std::optional<AcceptedSocket> AcceptConnection(int listenFd, AcceptFailure* failure, int* error) {
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    int fd;
    do {
        fd = ::accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &len,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        int code = errno;
        if (error != nullptr) *error = code;
        if (failure != nullptr) {
            switch (code) {
                case EAGAIN:
#if EWOULDBLOCK != EAGAIN
                case EWOULDBLOCK:
#endif
                    *failure = AcceptFailure::kNoneWaiting;
                    break;
                case EMFILE:
                case ENFILE:
                case ENOBUFS:
                case ENOMEM:
                    *failure = AcceptFailure::kOutOfResources;
                    break;
                default:
                    *failure = AcceptFailure::kConnectionFailed;
                    break;
            }
        }
        return std::nullopt;
    }
    AcceptedSocket accepted;
    accepted.fd = UniqueFd(fd);
    // A listening socket of ours takes only IPv4 and IPv6 clients.
    accepted.address = IpAddress::FromSocketAddress(reinterpret_cast<const sockaddr&>(peer),
                                                    &accepted.portNetworkOrder)
                           .value_or(IpAddress());
    return accepted;
}

namespace {

ReceiveResult Receive(int fd, void* buffer, size_t size, int timeoutMs, int flags) {
    for (;;) {
        ssize_t n = ::recv(fd, buffer, size, flags);
        if (n > 0) return {ReceiveStatus::kData, static_cast<size_t>(n)};
        if (n == 0) return {ReceiveStatus::kClosed, 0};
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return {ReceiveStatus::kError, 0};
        if (timeoutMs == 0 || !WaitFor(fd, POLLIN, timeoutMs)) return {ReceiveStatus::kTimedOut, 0};
    }
}

}  // namespace

ReceiveResult ReceiveSome(int fd, void* buffer, size_t size, int timeoutMs) {
    return Receive(fd, buffer, size, timeoutMs, 0);
}

ReceiveResult PeekSome(int fd, void* buffer, size_t size) {
    return Receive(fd, buffer, size, 0, MSG_PEEK | MSG_DONTWAIT);
}

bool SendAll(int fd, const void* data, size_t size, int idleLimitMs, uint64_t* sent, bool more) {
    const char* p = static_cast<const char*>(data);
    int flags = MSG_NOSIGNAL | (more ? MSG_MORE : 0);
    while (size > 0) {
        ssize_t n = ::send(fd, p, size, flags);
        if (n > 0) {
            p += n;
            size -= static_cast<size_t>(n);
            if (sent != nullptr) *sent += static_cast<uint64_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
            WaitFor(fd, POLLOUT, idleLimitMs)) {
            continue;
        }
        return false;
    }
    return true;
}

bool SendNow(int fd, std::string_view first, std::string_view second, bool more, size_t* sent) {
    *sent = 0;
    const int flags = MSG_NOSIGNAL | MSG_DONTWAIT | (more ? MSG_MORE : 0);
    while (!first.empty() || !second.empty()) {
        struct iovec iov[2] = {{const_cast<char*>(first.data()), first.size()},
                               {const_cast<char*>(second.data()), second.size()}};
        struct msghdr msg {};
        msg.msg_iov = first.empty() ? iov + 1 : iov;
        msg.msg_iovlen = first.empty() ? 1 : 2;
        ssize_t n = ::sendmsg(fd, &msg, flags);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
        auto done = static_cast<size_t>(n);
        *sent += done;
        size_t fromFirst = std::min(done, first.size());
        first.remove_prefix(fromFirst);
        second.remove_prefix(done - fromFirst);
    }
    return true;
}

bool SendTwo(int fd, const void* first, size_t firstSize, const void* second, size_t secondSize,
             int idleLimitMs, uint64_t* secondSent, bool more) {
    struct iovec iov[2] = {{const_cast<void*>(first), firstSize},
                           {const_cast<void*>(second), secondSize}};
    struct msghdr msg {};
    msg.msg_iov = iov;
    msg.msg_iovlen = 2;
    const int flags = MSG_NOSIGNAL | (more ? MSG_MORE : 0);
    ssize_t n;
    do {
        n = ::sendmsg(fd, &msg, flags);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK) return false;
        n = 0;
    }
    size_t done = static_cast<size_t>(n);
    if (done < firstSize) {
        if (!SendAll(fd, static_cast<const char*>(first) + done, firstSize - done, idleLimitMs,
                     nullptr, more || secondSize > 0)) {
            return false;
        }
        done = firstSize;
    }
    size_t bodyDone = done - firstSize;
    if (secondSent != nullptr) *secondSent += bodyDone;
    return SendAll(fd, static_cast<const char*>(second) + bodyDone, secondSize - bodyDone,
                   idleLimitMs, secondSent, more);
}

bool SendFileNow(int socketFd, int fileFd, uint64_t* offset, uint64_t* count, uint64_t* sent) {
    while (*count > 0) {
        auto position = static_cast<off_t>(*offset);
        // A file goes out in pieces of 256 KiB whose ends fall 512 bytes short of a page
        // boundary, so that every piece after the first starts inside a page. Measured on
        // loopback, pieces that start on a page boundary cost the sender half as much CPU
        // again and go out at two thirds of the rate; where they start within the page does
        // not matter.
        constexpr uint64_t kPiece = 256 * 1024;
        constexpr uint64_t kShortOfPage = 512;
        const uint64_t end = ((*offset + kShortOfPage) / kPiece + 1) * kPiece - kShortOfPage;
        const auto chunk = static_cast<size_t>(std::min(*count, end - *offset));
        ssize_t n = ::sendfile(socketFd, fileFd, &position, chunk);
        if (n > 0) {
            *offset += static_cast<uint64_t>(n);
            *count -= static_cast<uint64_t>(n);
            if (sent != nullptr) *sent += static_cast<uint64_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // Nothing more fits now; sendfile returning 0 means the file ended early.
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    return true;
}

bool SendFileContents(int socketFd, int fileFd, uint64_t start, uint64_t count, int idleLimitMs,
                      uint64_t* sent) {
    // A large file goes out fastest through a blocking socket: the kernel sleeps until the
    // client's window opens and goes on, instead of returning to wait in poll each time. The
    // idle limit then becomes the socket's send time-out.
    constexpr uint64_t kBlockingThreshold = 256 * 1024;
    const bool blocking = count >= kBlockingThreshold;
    int flags = blocking ? ::fcntl(socketFd, F_GETFL) : -1;
    if (blocking && flags >= 0) {
        struct timeval limit {
            idleLimitMs / 1000, (idleLimitMs % 1000) * 1000
        };
        ::setsockopt(socketFd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        ::fcntl(socketFd, F_SETFL, flags & ~O_NONBLOCK);
    }
    uint64_t offset = start;
    bool complete;
    for (;;) {
        // False when the file ended before its size said, or the client is gone.
        complete = SendFileNow(socketFd, fileFd, &offset, &count, sent);
        if (!complete || count == 0) break;
        // The socket took no more. A blocking one has already waited the idle limit.
        if (blocking || !WaitFor(socketFd, POLLOUT, idleLimitMs)) {
            complete = false;
            break;
        }
    }
    if (blocking && flags >= 0) ::fcntl(socketFd, F_SETFL, flags);
    return complete;
}

namespace {

// An address as text with its port: "127.0.0.5:21", "[::1]:21".
std::string AddressWithPort(const sockaddr* address, socklen_t length) {
    char host[NI_MAXHOST] = {};
    char service[NI_MAXSERV] = {};
    if (::getnameinfo(address, length, host, sizeof host, service, sizeof service,
                      NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "?";
    }
    std::string text = address->sa_family == AF_INET6 ? "[" + std::string(host) + "]" : host;
    return text + ":" + service;
}

// One connection attempt; 0 or the errno of the call named in `*call`.
int ConnectOnce(const addrinfo& address, int timeoutMs, UniqueFd* out, const char** call) {
    *call = "socket";
    UniqueFd fd(::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                         address.ai_protocol));
    if (!fd) return errno;
    *call = "connect";
    if (::connect(fd.get(), address.ai_addr, address.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) return errno;
        if (!WaitFor(fd.get(), POLLOUT, timeoutMs)) return ETIMEDOUT;
        int pending = 0;
        socklen_t length = sizeof pending;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &pending, &length) != 0) return errno;
        if (pending != 0) return pending;
    }
    *out = std::move(fd);
    return 0;
}

}  // namespace

UniqueFd ConnectTcp(const std::string& host, uint16_t port, int timeoutMs, std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (rc != 0) {
        if (error != nullptr) {
            *error = "resolve " + host + ": " +
                     (rc == EAI_SYSTEM ? ErrorText(errno) : std::string(::gai_strerror(rc)));
        }
        return UniqueFd();
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, &::freeaddrinfo);
    for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
        UniqueFd fd;
        const char* call = "";
        int failure = ConnectOnce(*address, timeoutMs, &fd, &call);
        if (failure == 0) return fd;
        // The last address's failure is the one reported.
        SetError(error,
                 std::string(call) + " " + AddressWithPort(address->ai_addr, address->ai_addrlen),
                 failure);
    }
    return UniqueFd();
}

std::string PeerAddress(int fd) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    char host[NI_MAXHOST] = {};
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
        ::getnameinfo(reinterpret_cast<sockaddr*>(&peer), length, host, sizeof host, nullptr, 0,
                      NI_NUMERICHOST) != 0) {
        return "";
    }
    return host;
}

void ShutdownSend(int fd) { ::shutdown(fd, SHUT_WR); }
void ShutdownBoth(int fd) { ::shutdown(fd, SHUT_RDWR); }

}  // namespace platform
