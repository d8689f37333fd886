// Failed logins counted per client address: an address that fails too often within a while
// is refused for a while, without its passwords being checked.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

#include "platform/ip_address.h"

namespace auth {

class LoginAttempts {
  public:
    // Milliseconds of a clock that never jumps (platform::MonotonicMillis outside tests).
    using Clock = std::function<uint64_t()>;

    // This many failed logins within kWindowMillis block the address for kBlockMillis.
    static constexpr int kMaxFailures = 10;
    static constexpr uint64_t kWindowMillis = 10 * 60 * 1000;
    static constexpr uint64_t kBlockMillis = 10 * 60 * 1000;
    // The addresses remembered at most; beyond, expired entries and then the oldest go.
    static constexpr size_t kMaxAddresses = 4096;

    explicit LoginAttempts(Clock clock, size_t maxAddresses = kMaxAddresses);

    // Whole seconds (rounded up) until `address` may try again; 0 when it is not blocked.
    int SecondsBlocked(const platform::IpAddress& address);
    // Counts a failed login of `address`. True when this failure starts its block.
    bool RecordFailure(const platform::IpAddress& address);
    // The addresses remembered now.
    size_t Size();

  private:
    using Key = std::array<uint8_t, 16>;
    struct Entry {
        // The times of the latest failures, a ring of which `next` is the oldest once full.
        std::array<uint64_t, kMaxFailures> failures{};
        int count = 0;
        int next = 0;
        uint64_t lastFailure = 0;
        uint64_t blockedUntil = 0;  // 0: not blocked
    };

    static Key KeyOf(const platform::IpAddress& address);
    // True when nothing of `entry` matters any more at `now`.
    static bool Expired(const Entry& entry, uint64_t now);
    // Makes room for one more address; called with the mutex held.
    void MakeRoom(uint64_t now);

    Clock clock_;
    size_t maxAddresses_;
    // One mutex guards the whole table: workers of every server check logins at once.
    std::mutex mutex_;
    std::map<Key, Entry> entries_;
};

// The table every server's logins are counted in.
LoginAttempts& SharedLoginAttempts();

}  // namespace auth
