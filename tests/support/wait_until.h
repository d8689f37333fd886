// Bounded waits on an observable event instead of fixed sleeps.
#pragma once

#include <chrono>
#include <thread>

namespace testing_support {

// Checks `done` every few milliseconds until it holds or `limit` has passed; the last check
// is made after the limit, so a slow machine only makes the wait longer, never wrong.
template <typename Predicate>
bool WaitUntil(std::chrono::milliseconds limit, Predicate done) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

}  // namespace testing_support
