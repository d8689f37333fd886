// Where a request head ends: the one rule that the loop and the worker both read heads by.
#pragma once

#include <cstddef>
#include <string_view>

namespace http {

// A request head may not grow past this; a larger one is answered with 400.
inline constexpr size_t kMaxHeadBytes = 64 * 1024;

// Line feeds are dropped, so bare-CR and CR LF heads both end at the empty line; two carriage
// returns in a row end the head; a head that would grow past kMaxHeadBytes is too large.
class HeadScanner {
  public:
    enum class State { kReading, kComplete, kTooLarge };

    // Scans `data` up to the end of the head, calling `keep` with every byte the head keeps
    // (the byte that makes it too large is consumed but not kept). Returns the bytes consumed.
    template <typename Keep>
    size_t Feed(std::string_view data, Keep&& keep) {
        size_t i = 0;
        while (i < data.size() && state_ == State::kReading) {
            char c = data[i++];
            if (c == '\n') continue;
            if (length_ >= kMaxHeadBytes) {
                state_ = State::kTooLarge;
                break;
            }
            keep(c);
            ++length_;
            if (c == '\r' && previousWasCr_) state_ = State::kComplete;
            previousWasCr_ = c == '\r';
        }
        return i;
    }
    State state() const { return state_; }

  private:
    size_t length_ = 0;
    bool previousWasCr_ = false;
    State state_ = State::kReading;
};

}  // namespace http
