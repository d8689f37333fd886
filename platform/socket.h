// TCP sockets: listening, accepting, receiving and sending with idle limits.
//
// Every socket is created non-blocking and close-on-exec; waiting is done with poll, so one
// idle limit covers a client that stops sending and one that stops reading.
#pragma once

#include <sys/types.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ip_address.h"
#include "platform/unique_fd.h"

namespace platform {

// Waits until `fd` is ready for the poll `events` or `timeoutMs` passes (-1: no limit),
// waiting again after a signal. False on time-out or error.
bool WaitFor(int fd, short events, int timeoutMs);
// Waits until `fd` takes more bytes, at most `timeoutMs`; false on time-out or failure.
bool WaitWritable(int fd, int timeoutMs);

// The text shown when a listening socket cannot be created, chosen by errno.
std::string SocketCreationMessage(int error);

// A new TCP socket of the IPv4 family, or of the IPv6 family with `ipv6`; on failure an
// invalid fd and `*error` set to errno.
UniqueFd CreateTcpSocket(int* error, bool ipv6 = false);
// True for the error of a socket call on a machine without that address family.
bool IsFamilyUnsupported(int error);

// Parses a dotted-decimal IPv4 address into host byte order; std::nullopt when it is not one.
std::optional<uint32_t> ParseIpv4(const std::string& text);

// An address in host byte order as "a.b.c.d".
std::string FormatIpv4(uint32_t address);

// A port kept as received (network byte order in the low 16 bits) as a number.
inline uint16_t HostOrderPort(uint32_t networkOrder) {
    auto raw = static_cast<uint16_t>(networkOrder);
    if constexpr (std::endian::native == std::endian::little) {
        return static_cast<uint16_t>((raw >> 8) | (raw << 8));
    }
    return raw;
}

// Binds to address:port (host byte order) with SO_REUSEADDR; 0 or errno.
int BindIpv4(int fd, uint32_t address, uint16_t port);
// Binds a socket of the address's family to address:port with SO_REUSEADDR; an IPv6 socket
// then takes IPv6 clients only. 0 or errno.
int BindTo(int fd, const IpAddress& address, uint16_t port);
// Binds an IPv6 socket to every address, IPv6 and IPv4 alike, on `port` with SO_REUSEADDR;
// 0 or errno.
int BindDualStack(int fd, uint16_t port);
bool IsAddressInUse(int error);

// True when this process could bind `port` on every address right now, as a server listening
// on all addresses does (both families where the machine has IPv6): the port is free and this
// user may use it.
bool CanBindOnAllAddresses(uint16_t port);

// Listens with `backlog`; 0 or errno.
int Listen(int fd, int backlog);

// Asks the system to hand connections to accept only once their first bytes have arrived
// (or after about a second of silence), or, with `defer` false, as soon as they are made.
void DeferAccept(int fd, bool defer);

// Sends small segments at once instead of holding them for the peer's acknowledgement: on a
// connection that stays open no close pushes an answer's last bytes out.
void SendWithoutDelay(int fd);

// The local port a socket is bound to, or 0.
uint16_t LocalPort(int fd);

struct AcceptedSocket {
    UniqueFd fd;
    IpAddress address;  // an IPv4 client on an IPv6 socket shows as its IPv4 address
    uint16_t portNetworkOrder = 0;
};

enum class AcceptFailure {
    kNoneWaiting,
    // Out of descriptors or memory: the connection stays queued, and the listener stays
    // readable until something is freed.
    kOutOfResources,
    // This one connection failed (reset before it was taken, say); others may be waiting.
    kConnectionFailed,
};

// One pending connection, or std::nullopt with the reason in `*failure` (when given) and the
// errno in `*error`.
std::optional<AcceptedSocket> AcceptConnection(int listenFd, AcceptFailure* failure = nullptr,
                                               int* error = nullptr);

enum class ReceiveStatus { kData, kClosed, kTimedOut, kError };
struct ReceiveResult {
    ReceiveStatus status;
    size_t bytes = 0;
};

// Receives what is there, waiting at most `timeoutMs` (negative: forever) for the first byte.
ReceiveResult ReceiveSome(int fd, void* buffer, size_t size, int timeoutMs);
// Copies what is there without taking it from the socket, without waiting.
ReceiveResult PeekSome(int fd, void* buffer, size_t size);

// Sends all bytes, waiting while the client's window is full, at most `idleLimitMs` without
// progress. `*sent` grows by what went out. With `more`, tells the stack more data follows.
bool SendAll(int fd, const void* data, size_t size, int idleLimitMs, uint64_t* sent,
             bool more = false);

// Sends `first` then `second`, as much as the socket takes now, without waiting: `*sent` is
// set to the bytes that went out. False only when the connection failed. With `more`, tells
// the stack more data follows.
bool SendNow(int fd, std::string_view first, std::string_view second, bool more, size_t* sent);

// Sends two pieces as one write where possible (head and body). `*secondSent` grows by the
// bytes of the second that went out.
bool SendTwo(int fd, const void* first, size_t firstSize, const void* second, size_t secondSize,
             int idleLimitMs, uint64_t* secondSent, bool more = false);

// Sends `count` bytes of `fileFd` from `offset`; stops early when the file ends or a read
// fails. `*sent` grows by the file bytes that went out.
bool SendFileContents(int socketFd, int fileFd, uint64_t offset, uint64_t count, int idleLimitMs,
                      uint64_t* sent);

// Sends bytes of `fileFd` from `*offset` as far as the socket takes them now, without
// waiting; `*offset` and `*count` move on by what went out, and `*sent` grows by it. False
// when the connection failed or the file ended before `count` bytes.
bool SendFileNow(int socketFd, int fileFd, uint64_t* offset, uint64_t* count, uint64_t* sent);

// Connects to `host` (a name, or an IPv4 or IPv6 address) on `port`, trying each address the
// name resolves to, waiting at most `timeoutMs` for each. Returns a non-blocking socket, or
// an invalid fd with `*error` naming the failed call and the error
// ("connect 127.0.0.5:21: Connection refused", "resolve ftp.example.com: Name or service not
// known").
UniqueFd ConnectTcp(const std::string& host, uint16_t port, int timeoutMs, std::string* error);

// The numeric address of a connected socket's peer ("127.0.0.5", "::1"); empty when unknown.
std::string PeerAddress(int fd);

// Shuts down the sending direction, or both.
void ShutdownSend(int fd);
void ShutdownBoth(int fd);

}  // namespace platform
