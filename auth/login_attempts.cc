// Failed logins counted per client address, within a bounded table.
#include "auth/login_attempts.h"

#include <algorithm>
#include <utility>

#include "platform/clock.h"

namespace auth {

LoginAttempts::LoginAttempts(Clock clock, size_t maxAddresses)
    : clock_(std::move(clock)), maxAddresses_(std::max<size_t>(maxAddresses, 1)) {}

LoginAttempts::Key LoginAttempts::KeyOf(const platform::IpAddress& address) {
    if (address.IsIpv6()) return address.Ipv6Bytes();
    // An IPv4 address in its IPv4-mapped IPv6 form, which no IpAddress holds as IPv6.
    Key key{};
    key[10] = 0xff;
    key[11] = 0xff;
    uint32_t ipv4 = address.Ipv4();
    for (int i = 0; i < 4; ++i) key[12 + i] = static_cast<uint8_t>(ipv4 >> (24 - 8 * i));
    return key;
}

bool LoginAttempts::Expired(const Entry& entry, uint64_t now) {
    return now >= entry.blockedUntil && now - entry.lastFailure >= kWindowMillis;
}

int LoginAttempts::SecondsBlocked(const platform::IpAddress& address) {
    uint64_t now = clock_();
    std::lock_guard lock(mutex_);
    auto found = entries_.find(KeyOf(address));
    if (found == entries_.end() || now >= found->second.blockedUntil) return 0;
    return static_cast<int>((found->second.blockedUntil - now + 999) / 1000);
}

bool LoginAttempts::RecordFailure(const platform::IpAddress& address) {
    uint64_t now = clock_();
    std::lock_guard lock(mutex_);
    Key key = KeyOf(address);
    auto found = entries_.find(key);
    if (found == entries_.end()) {
        if (entries_.size() >= maxAddresses_) MakeRoom(now);
        found = entries_.emplace(key, Entry{}).first;
    }
    Entry& entry = found->second;
    if (now < entry.blockedUntil) return false;
    if (entry.blockedUntil != 0) entry = Entry{};  // a block that ended starts the count afresh
    entry.failures[entry.next] = now;
    entry.next = (entry.next + 1) % kMaxFailures;
    entry.count = std::min(entry.count + 1, kMaxFailures);
    entry.lastFailure = now;
    // Full ring: `next` now names the oldest of the last kMaxFailures failures.
    if (entry.count < kMaxFailures || now - entry.failures[entry.next] >= kWindowMillis)
        return false;
    entry.blockedUntil = now + kBlockMillis;
    return true;
}

size_t LoginAttempts::Size() {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

void LoginAttempts::MakeRoom(uint64_t now) {
    std::erase_if(entries_, [now](const auto& item) { return Expired(item.second, now); });
    if (entries_.size() < maxAddresses_) return;
    auto oldest = std::min_element(
        entries_.begin(), entries_.end(),
        [](const auto& a, const auto& b) { return a.second.lastFailure < b.second.lastFailure; });
    entries_.erase(oldest);
}

LoginAttempts& SharedLoginAttempts() {
    static LoginAttempts attempts(platform::MonotonicMillis);
    return attempts;
}

}  // namespace auth
