// Condition-variable waits whose time-out may be "infinite"
// (std::chrono::milliseconds::max()), which wait_for cannot take: adding it to
// the clock overflows and the wait would end at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform::detail {

template <class Predicate>
bool timedWait(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
               std::chrono::milliseconds timeout, Predicate pred) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point now = Clock::now();
    const auto room = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::time_point::max() - now);
    if (timeout >= room) {
        cv.wait(lock, pred);
        return true;
    }
    if (timeout < std::chrono::milliseconds::zero()) timeout = std::chrono::milliseconds::zero();
    return cv.wait_until(lock, now + timeout, pred);
}

}  // namespace platform::detail
