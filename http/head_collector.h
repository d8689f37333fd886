// Request heads read on the main loop: a client still typing its head holds no pooled
// connection object, and only heads that are complete (or ended) go on to a worker. The TLS
// handshake of a connection of the TLS port is made here too, one step per flight of the
// client, so that it costs no thread a wait.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <string_view>

#include "http/head_scanner.h"
#include "http/http2_session.h"
#include "platform/socket.h"
#include "platform/tls.h"
#include "platform/unique_fd.h"

namespace platform {
class EventLoop;
}

namespace http {

// A head read on the loop: the socket, the client, and the bytes a worker reads first (the
// head without its line feeds, then whatever of the body came with it). Reading it is over:
// the head is complete, too large, or ended by the client or the idle limit.
struct ReceivedHead {
    platform::UniqueFd socket;
    platform::IpAddress address;
    uint16_t portNetworkOrder = 0;
    std::string bytes;
    // How many of `bytes` are the head; the rest came after it. 0 when the head is not
    // complete.
    size_t headLength = 0;
    // The socket is still registered with the loop, quiet (see EventLoop::WatchOnce).
    bool registered = false;
    // The session of a connection of the TLS port. When its handshake is unfinished (the
    // socket would not take the server's part at once), the worker finishes it and reads
    // the head itself: `bytes` is then empty and no head was read.
    std::unique_ptr<platform::TlsSession> tls;
    // The parked HTTP/2 session of a kept connection of the TLS port: it reads the
    // connection itself, so nothing is read here and `bytes` stays empty.
    ParkedHttp2 http2;
    // Requests this connection carried before this one (see HeadCollector::AddKept).
    uint32_t requestsBefore = 0;
    bool HeadRead() const { return !tls || tls->Established(); }
};

class HeadCollector {
  public:
    using ReadyHandler = std::function<void(ReceivedHead)>;

    HeadCollector(platform::EventLoop& loop, ReadyHandler onReady)
        : loop_(loop), onReady_(std::move(onReady)) {}
    ~HeadCollector() { Clear(); }
    HeadCollector(const HeadCollector&) = delete;
    HeadCollector& operator=(const HeadCollector&) = delete;

    // Reads what the client already sent; a head that is not complete yet waits on the loop.
    // With `tls`, the connection's handshake comes first, and the head is read through it.
    // With `proxied`, a PROXY protocol header comes before all else and names the client; a
    // connection without a valid one is closed unanswered.
    void Add(platform::AcceptedSocket accepted,
             const std::shared_ptr<const platform::TlsContext>& tls = nullptr,
             bool proxied = false);
    // Takes back a connection that carried a request and may carry another: `head.bytes`
    // holds what its client sent after that request. It waits for its next request at most
    // `idleMs`, and is closed without a word when none comes; once a byte of the next head
    // has come, the head's own idle limit applies.
    void AddKept(ReceivedHead head, uint64_t idleMs);
    // Closes a connection that waits for its next request, else the connection whose client
    // has been silent longest in its head, when it has been silent for at least
    // `minimumSilenceMs`; false when there is none such.
    bool ShedOldest(uint64_t minimumSilenceMs);
    // Closes every connection still waiting for its head.
    void Clear();
    // Heads being read; and connections waiting for their next request.
    size_t Pending() const { return pending_.size(); }
    size_t Idle() const { return idle_.size(); }

  private:
    struct Waiting {
        ReceivedHead head;
        HeadScanner scanner;
        uint64_t deadlineMs = 0;  // when the idle limit ends the head
        // The PROXY header still to be read, and what has come of it.
        bool awaitingProxyHeader = false;
        std::string proxyHeader;
        // A kept connection whose next request has not begun: it is in `idle_`.
        bool idle = false;
    };
    using Iterator = std::list<Waiting>::iterator;

    enum class Reading { kGoesOn, kOver, kDropped };
    // Receives what is there. Over once the head is read (or ended); dropped when the TLS
    // handshake failed.
    Reading Receive(Waiting& pending);
    // Takes the PROXY header from the socket, byte-exact so that what follows it stays for
    // the TLS session or the head: over once it is complete, dropped when it is no header.
    Reading ReceiveProxyHeader(Waiting& pending);
    std::list<Waiting>& ListOf(const Waiting& waiting) { return waiting.idle ? idle_ : pending_; }
    // Ends a connection whose handshake failed, or that carried no new request, without a
    // word to its client.
    void Drop(Iterator pending);
    void OnReadable(Iterator pending);
    // Watches a connection for its next bytes; false (and the connection dropped) when the
    // loop cannot.
    bool Watch(Iterator pending);
    void Finish(Iterator pending);
    void Expire();
    void ArmTimer();

    platform::EventLoop& loop_;
    ReadyHandler onReady_;
    // In order of their deadlines: a byte received moves its connection to the end.
    std::list<Waiting> pending_;
    // Kept connections waiting for their next request, in order of their deadlines.
    std::list<Waiting> idle_;
    bool timerArmed_ = false;
    uint64_t timerDue_ = 0;
};

}  // namespace http
