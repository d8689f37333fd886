// Request heads gathered on the main loop, and the idle limit of clients that stop typing.
#include "http/head_collector.h"

#include <algorithm>
#include <cstdint>

#include "http/connection.h"
#include "http/proxy_header.h"
#include "platform/clock.h"
#include "platform/event_loop.h"

namespace http {
namespace {

// One receive on the loop; a head larger than this takes several.
constexpr size_t kReceiveChunk = 4096;

// The idle limit counts whole seconds: reading ends once the second of the last byte is
// kIdleLimitSeconds + 1 seconds behind the current one.
uint64_t DeadlineAfterByteAt(uint64_t nowMs) {
    return (nowMs / 1000 + kIdleLimitSeconds + 1) * 1000;
}

}  // namespace

void HeadCollector::Add(platform::AcceptedSocket accepted,
                        const std::shared_ptr<const platform::TlsContext>& tls, bool proxied) {
    std::unique_ptr<platform::TlsSession> session;
    // Out of memory for a session, the connection is closed as it came.
    if (tls && !(session = platform::TlsSession::Create(*tls, accepted.fd.get()))) return;
    pending_.push_back(Waiting{ReceivedHead{std::move(accepted.fd),
                                            accepted.address,
                                            accepted.portNetworkOrder,
                                            {},
                                            0,
                                            false,
                                            std::move(session),
                                            0},
                               {},
                               DeadlineAfterByteAt(platform::MonotonicMillis()),
                               proxied,
                               {},
                               false});
    auto pending = std::prev(pending_.end());
    // Most clients send their request (or their hello) with the connection: it is there
    // already.
    switch (Receive(*pending)) {
        case Reading::kGoesOn:
            break;
        case Reading::kOver:
            Finish(pending);
            return;
        case Reading::kDropped:
            pending_.erase(pending);
            return;
    }
    if (!Watch(pending)) return;
    ArmTimer();
}

void HeadCollector::AddKept(ReceivedHead head, uint64_t idleMs) {
    const uint64_t now = platform::MonotonicMillis();
    const std::string after = std::move(head.bytes);
    head.bytes = std::string();
    head.headLength = 0;
    Waiting waiting{std::move(head), {}, now + idleMs, false, {}, true};
    // What the client sent after its last request (pipelined requests) is read first.
    const size_t consumed =
        waiting.scanner.Feed(after, [&waiting](char c) { waiting.head.bytes.push_back(c); });
    std::list<Waiting>* list = &idle_;
    if (!waiting.head.bytes.empty()) {
        waiting.idle = false;
        waiting.deadlineMs = DeadlineAfterByteAt(now);
        list = &pending_;
    }
    list->push_back(std::move(waiting));
    auto pending = std::prev(list->end());
    if (pending->scanner.state() != HeadScanner::State::kReading) {
        if (pending->scanner.state() == HeadScanner::State::kComplete) {
            pending->head.headLength = pending->head.bytes.size();
        } else {
            pending->head.bytes.push_back(after[consumed - 1]);
        }
        pending->head.bytes.append(after.substr(consumed));
        Finish(pending);
        return;
    }
    // Bytes a TLS session holds decrypted already do not wake the loop.
    if (pending->head.tls && pending->head.tls->HasBuffered()) {
        OnReadable(pending);
        return;
    }
    if (!Watch(pending)) return;
    ArmTimer();
}

bool HeadCollector::Watch(Iterator pending) {
    const int fd = pending->head.socket.get();
    auto onReadable = [this, pending] { OnReadable(pending); };
    const bool watched = pending->head.registered ? loop_.WatchOnceAgain(fd, onReadable)
                                                  : loop_.WatchOnce(fd, onReadable);
    if (watched) {
        pending->head.registered = false;
        return true;
    }
    // The loop cannot watch this client: it is closed, and the others go on.
    ListOf(*pending).erase(pending);
    return false;
}

HeadCollector::Reading HeadCollector::ReceiveProxyHeader(Waiting& pending) {
    const int fd = pending.head.socket.get();
    std::string& got = pending.proxyHeader;
    char buffer[kMaxProxyHeaderSize];
    for (;;) {
        platform::ReceiveResult peeked =
            platform::PeekSome(fd, buffer, kMaxProxyHeaderSize - got.size());
        if (peeked.status == platform::ReceiveStatus::kTimedOut) return Reading::kGoesOn;
        if (peeked.status != platform::ReceiveStatus::kData) return Reading::kDropped;
        pending.deadlineMs = DeadlineAfterByteAt(platform::MonotonicMillis());
        const size_t before = got.size();
        got.append(buffer, peeked.bytes);
        ProxyHeader header = ParseProxyHeader(got);
        if (header.status == ProxyHeader::Status::kInvalid) return Reading::kDropped;
        // Bytes past a complete header stay in the socket; an incomplete one is all header.
        const size_t take =
            header.status == ProxyHeader::Status::kComplete ? header.length - before : peeked.bytes;
        got.resize(before);
        platform::ReceiveResult taken = platform::ReceiveSome(fd, buffer, take, 0);
        if (taken.status != platform::ReceiveStatus::kData) return Reading::kDropped;
        got.append(buffer, taken.bytes);
        if (header.status != ProxyHeader::Status::kComplete || got.size() < header.length) continue;
        if (header.source) {
            pending.head.address = *header.source;
            pending.head.portNetworkOrder = header.sourcePortNetworkOrder;
        }
        pending.awaitingProxyHeader = false;
        got = std::string();
        return Reading::kOver;
    }
}

HeadCollector::Reading HeadCollector::Receive(Waiting& pending) {
    // A parked HTTP/2 session reads its frames itself, on a worker.
    if (pending.head.http2) {
        pending.idle = false;
        return Reading::kOver;
    }
    if (pending.awaitingProxyHeader) {
        Reading proxy = ReceiveProxyHeader(pending);
        if (proxy != Reading::kOver) return proxy;
    }
    platform::TlsSession* tls = pending.head.tls.get();
    if (tls != nullptr && !tls->Established()) {
        switch (tls->HandshakeStep()) {
            case platform::TlsSession::Progress::kDone:
                pending.deadlineMs = DeadlineAfterByteAt(platform::MonotonicMillis());
                // An HTTP/2 connection has no head of this kind: its session reads the rest.
                if (tls->NegotiatedHttp2()) return Reading::kOver;
                break;
            case platform::TlsSession::Progress::kWantRead:
                // The client's next flight moves the idle limit as a byte of a head does.
                pending.deadlineMs = DeadlineAfterByteAt(platform::MonotonicMillis());
                return Reading::kGoesOn;
            case platform::TlsSession::Progress::kWantWrite:
                // The loop watches for input only: the worker waits until the socket takes
                // the rest.
                return Reading::kOver;
            case platform::TlsSession::Progress::kFailed:
                return Reading::kDropped;
        }
    }
    char buffer[kReceiveChunk];
    for (;;) {
        platform::ReceiveResult r =
            tls != nullptr
                ? tls->Receive(buffer, sizeof buffer, 0)
                : platform::ReceiveSome(pending.head.socket.get(), buffer, sizeof buffer, 0);
        if (r.status == platform::ReceiveStatus::kTimedOut) return Reading::kGoesOn;
        // A client that closed its side (or failed) cannot send more: go on with what arrived.
        if (r.status != platform::ReceiveStatus::kData) return Reading::kOver;
        pending.deadlineMs = DeadlineAfterByteAt(platform::MonotonicMillis());
        pending.idle = false;
        std::string_view data(buffer, r.bytes);
        std::string& bytes = pending.head.bytes;
        size_t consumed = pending.scanner.Feed(data, [&bytes](char c) { bytes.push_back(c); });
        switch (pending.scanner.state()) {
            case HeadScanner::State::kReading:
                break;
            case HeadScanner::State::kComplete:
                // What follows the head is the body's start, as the client sent it.
                pending.head.headLength = bytes.size();
                bytes.append(data.substr(consumed));
                return Reading::kOver;
            case HeadScanner::State::kTooLarge:
                // The worker finds the head too large by the same byte.
                bytes.push_back(data[consumed - 1]);
                return Reading::kOver;
        }
    }
}

void HeadCollector::OnReadable(Iterator pending) {
    const bool wasIdle = pending->idle;
    const Reading reading = Receive(*pending);
    // The next request has begun: the head's own idle limit applies from now on.
    if (wasIdle && !pending->idle) pending_.splice(pending_.end(), idle_, pending);
    // A kept connection that ends before a byte of a new request carried none.
    if (pending->idle && reading != Reading::kGoesOn) {
        Drop(pending);
        return;
    }
    switch (reading) {
        case Reading::kGoesOn:
            break;
        case Reading::kOver:
            // The registration stays for the loop's wait for the client's close.
            loop_.Forget(pending->head.socket.get());
            pending->head.registered = true;
            Finish(pending);
            return;
        case Reading::kDropped:
            Drop(pending);
            return;
    }
    if (!loop_.WatchAgain(pending->head.socket.get())) {
        Drop(pending);
        return;
    }
    // A byte moved its deadline past every other: it goes to the end of the order.
    if (!pending->idle) pending_.splice(pending_.end(), pending_, pending);
}

void HeadCollector::Finish(Iterator pending) {
    ReceivedHead head = std::move(pending->head);
    ListOf(*pending).erase(pending);
    onReady_(std::move(head));
}

void HeadCollector::Drop(Iterator pending) {
    loop_.Unwatch(pending->head.socket.get());
    ListOf(*pending).erase(pending);
}

void HeadCollector::ArmTimer() {
    uint64_t due = UINT64_MAX;
    if (!pending_.empty()) due = pending_.front().deadlineMs;
    if (!idle_.empty()) due = std::min(due, idle_.front().deadlineMs);
    if (due == UINT64_MAX || (timerArmed_ && timerDue_ <= due)) return;
    // An earlier deadline than the one awaited arms a timer of its own; the later one then
    // finds nothing due, or what has become due since.
    timerArmed_ = true;
    timerDue_ = due;
    uint64_t now = platform::MonotonicMillis();
    loop_.After(due > now ? due - now : 0, [this, due] {
        if (timerArmed_ && timerDue_ == due) timerArmed_ = false;
        Expire();
    });
}

void HeadCollector::Expire() {
    uint64_t now = platform::MonotonicMillis();
    while (!idle_.empty() && idle_.front().deadlineMs <= now) Drop(idle_.begin());
    while (!pending_.empty() && pending_.front().deadlineMs <= now) {
        auto first = pending_.begin();
        // A client silent in its handshake, or before its PROXY header is whole, has no
        // request to answer.
        if (!first->head.HeadRead() || first->awaitingProxyHeader) {
            Drop(first);
            continue;
        }
        loop_.Unwatch(first->head.socket.get());
        Finish(first);
    }
    ArmTimer();
}

bool HeadCollector::ShedOldest(uint64_t minimumSilenceMs) {
    // A connection that waits for a next request may be asked again to connect.
    if (!idle_.empty()) {
        Drop(idle_.begin());
        return true;
    }
    if (pending_.empty()) return false;
    const uint64_t silentSince = pending_.front().deadlineMs - (kIdleLimitSeconds + 1) * 1000;
    if (platform::MonotonicMillis() < silentSince + minimumSilenceMs) return false;
    loop_.Unwatch(pending_.front().head.socket.get());
    pending_.pop_front();
    return true;
}

void HeadCollector::Clear() {
    for (std::list<Waiting>* list : {&pending_, &idle_}) {
        for (Waiting& pending : *list) loop_.Unwatch(pending.head.socket.get());
        list->clear();
    }
}

}  // namespace http
