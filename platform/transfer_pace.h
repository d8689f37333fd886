// The pace a client must keep while it sends a request's body or takes an answer.
#pragma once

#include <algorithm>
#include <cstdint>

namespace platform {

// Asked before a transfer first waits for its client: whether this client may be waited for
// at all, or the transfer must end now.
class WaitGate {
  public:
    virtual bool AdmitWait() = 0;

  protected:
    ~WaitGate() = default;
};

// Each wait for the client lasts at most the idle limit, and every kWindowBytes must move
// within kWindowMs of the last kWindowBytes (1 KiB a second, averaged over 30 seconds), so a
// client that trickles a byte now and then cannot hold the server's side of an exchange for
// ever. Times are the monotonic clock's milliseconds, given by the caller.
class TransferPace {
  public:
    static constexpr uint64_t kWindowMs = 30000;
    static constexpr uint64_t kWindowBytes = 30 * 1024;

    // A new transfer begins at `nowMs`; `gate` (may be null) is asked before its first wait.
    void Start(uint64_t nowMs, WaitGate* gate) {
        markMs_ = nowMs;
        sinceMark_ = 0;
        gate_ = gate;
        admitted_ = gate == nullptr;
        started_ = true;
    }
    bool started() const { return started_; }
    void Stop() { started_ = false; }

    void Moved(uint64_t bytes, uint64_t nowMs) {
        sinceMark_ += bytes;
        if (sinceMark_ >= kWindowBytes) {
            markMs_ = nowMs;
            sinceMark_ = 0;
        }
    }

    // How long the next wait for the client may last: `idleLimitMs`, cut where the window
    // ends. 0 when the transfer must give up: the window has ended, or the gate said no.
    int NextWaitMs(int idleLimitMs, uint64_t nowMs) {
        const uint64_t end = markMs_ + kWindowMs;
        if (nowMs >= end || idleLimitMs <= 0) return 0;
        if (!admitted_) {
            if (!gate_->AdmitWait()) return 0;
            admitted_ = true;
        }
        return static_cast<int>(
            std::min<uint64_t>(static_cast<uint64_t>(idleLimitMs), end - nowMs));
    }

  private:
    // When the last kWindowBytes were complete, and the bytes moved since.
    uint64_t markMs_ = 0;
    uint64_t sinceMark_ = 0;
    WaitGate* gate_ = nullptr;
    bool admitted_ = true;
    bool started_ = false;
};

}  // namespace platform
