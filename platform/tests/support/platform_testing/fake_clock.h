// A clock for tests of real-time players: time moves only when a player waits.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>

#include "platform/real_time_clock.h"
#include "platform/threads.h"

namespace platform::testing {

// Every wait returns at its deadline (plus a set overshoot), and a wait on a
// set event returns at once.
class FakeClock : public RealTimeClock {
public:
    TimePoint now() const override { return TimePoint(std::chrono::nanoseconds(ns_.load())); }
    bool waitUntil(Event& event, TimePoint deadline) const override {
        if (event.wait(std::chrono::milliseconds(0))) return true;
        moveTo(deadline);
        return false;
    }
    void sleepUntil(TimePoint deadline) const override { moveTo(deadline); }
    void setOvershoot(std::chrono::nanoseconds overshoot) { overshoot_ = overshoot.count(); }
    // Nanoseconds since the clock's start.
    std::int64_t elapsedNs() const { return ns_.load(); }

private:
    void moveTo(TimePoint deadline) const {
        const std::int64_t target =
            std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count();
        ns_.store(std::max(ns_.load(), target + overshoot_));
    }
    mutable std::atomic<std::int64_t> ns_{0};
    std::int64_t overshoot_ = 0;
};

}  // namespace platform::testing
