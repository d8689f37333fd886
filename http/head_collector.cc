// Request heads gathered on the main loop, and the idle limit of clients that stop typing.
#include "http/head_collector.h"

#include "http/connection.h"
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

void HeadCollector::Add(platform::AcceptedSocket accepted) {
    pending_.push_back(Waiting{
        ReceivedHead{std::move(accepted.fd), accepted.address, accepted.portNetworkOrder, {}},
        {},
        DeadlineAfterByteAt(platform::MonotonicMillis())});
    auto pending = std::prev(pending_.end());
    // Most clients send their request with the connection: it is there already.
    if (Receive(*pending)) {
        Finish(pending);
        return;
    }
    loop_.WatchOnce(pending->head.socket.get(), [this, pending] { OnReadable(pending); });
    ArmTimer();
}

bool HeadCollector::Receive(Waiting& pending) {
    char buffer[kReceiveChunk];
    for (;;) {
        platform::ReceiveResult r =
            platform::ReceiveSome(pending.head.socket.get(), buffer, sizeof buffer, 0);
        if (r.status == platform::ReceiveStatus::kTimedOut) return false;
        // A client that closed its side (or failed) cannot send more: go on with what arrived.
        if (r.status != platform::ReceiveStatus::kData) return true;
        pending.deadlineMs = DeadlineAfterByteAt(platform::MonotonicMillis());
        std::string_view data(buffer, r.bytes);
        std::string& bytes = pending.head.bytes;
        size_t consumed = pending.scanner.Feed(data, [&bytes](char c) { bytes.push_back(c); });
        switch (pending.scanner.state()) {
            case HeadScanner::State::kReading:
                break;
            case HeadScanner::State::kComplete:
                // What follows the head is the body's start, as the client sent it.
                bytes.append(data.substr(consumed));
                return true;
            case HeadScanner::State::kTooLarge:
                // The worker finds the head too large by the same byte.
                bytes.push_back(data[consumed - 1]);
                return true;
        }
    }
}

void HeadCollector::OnReadable(Iterator pending) {
    if (Receive(*pending)) {
        // The registration stays for the loop's wait for the client's close.
        loop_.Forget(pending->head.socket.get());
        pending->head.registered = true;
        Finish(pending);
        return;
    }
    loop_.WatchAgain(pending->head.socket.get());
    // Its deadline moved past every other: it goes to the end of the order.
    pending_.splice(pending_.end(), pending_, pending);
}

void HeadCollector::Finish(Iterator pending) {
    ReceivedHead head = std::move(pending->head);
    pending_.erase(pending);
    onReady_(std::move(head));
}

void HeadCollector::ArmTimer() {
    if (timerArmed_ || pending_.empty()) return;
    timerArmed_ = true;
    uint64_t now = platform::MonotonicMillis();
    uint64_t due = pending_.front().deadlineMs;
    loop_.After(due > now ? due - now : 0, [this] {
        timerArmed_ = false;
        Expire();
    });
}

void HeadCollector::Expire() {
    uint64_t now = platform::MonotonicMillis();
    while (!pending_.empty() && pending_.front().deadlineMs <= now) {
        auto first = pending_.begin();
        loop_.Unwatch(first->head.socket.get());
        Finish(first);
    }
    ArmTimer();
}

bool HeadCollector::ShedOldest(uint64_t minimumSilenceMs) {
    if (pending_.empty()) return false;
    const uint64_t silentSince = pending_.front().deadlineMs - (kIdleLimitSeconds + 1) * 1000;
    if (platform::MonotonicMillis() < silentSince + minimumSilenceMs) return false;
    loop_.Unwatch(pending_.front().head.socket.get());
    pending_.pop_front();
    return true;
}

void HeadCollector::Clear() {
    for (Waiting& pending : pending_) loop_.Unwatch(pending.head.socket.get());
    pending_.clear();
}

}  // namespace http
