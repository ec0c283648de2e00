// The time that real-time players wait by. Waits run to absolute deadlines,
// so that overshoot does not add up over many waits; tests pass a clock of
// their own in which time moves only when a player waits.
#pragma once

#include <chrono>

#include "platform/threads.h"

namespace platform {

class RealTimeClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~RealTimeClock() = default;
    virtual TimePoint now() const;
    // Waits on the event until the deadline; true when the event ended the wait.
    virtual bool waitUntil(Event& event, TimePoint deadline) const;
    virtual void sleepUntil(TimePoint deadline) const;

    // The steady clock of the machine.
    static const RealTimeClock& steady();
};

}  // namespace platform
