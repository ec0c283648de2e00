// A clock for tests of the player: time moves only when a pass waits.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>

#include "platform/threads.h"
#include "play/play_proc.h"

namespace scoreconv::testing {

// Time moves only when the pass waits; every wait returns at its deadline
// (plus a set overshoot), and a wait on a set event returns at once.
class FakeClock : public CRealTimeClock {
public:
    TimePoint now() const override { return TimePoint(std::chrono::nanoseconds(ns_.load())); }
    bool waitUntil(platform::Event& event, TimePoint deadline) const override {
        if (event.wait(std::chrono::milliseconds(0))) return true;
        moveTo(deadline);
        return false;
    }
    void sleepUntil(TimePoint deadline) const override { moveTo(deadline); }
    void setOvershoot(std::chrono::nanoseconds overshoot) { overshoot_ = overshoot.count(); }
    // Nanoseconds since the clock's start.
    int64_t elapsedNs() const { return ns_.load(); }

private:
    void moveTo(TimePoint deadline) const {
        const int64_t target = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline.time_since_epoch()).count();
        ns_.store(std::max(ns_.load(), target + overshoot_));
    }
    mutable std::atomic<int64_t> ns_{0};
    int64_t overshoot_ = 0;
};

}  // namespace scoreconv::testing
