#include "platform/real_time_clock.h"

#include <algorithm>
#include <thread>

namespace platform {

RealTimeClock::TimePoint RealTimeClock::now() const { return std::chrono::steady_clock::now(); }

bool RealTimeClock::waitUntil(Event& event, TimePoint deadline) const {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now());
    return event.wait(std::max(left, std::chrono::milliseconds(0)));
}

void RealTimeClock::sleepUntil(TimePoint deadline) const { std::this_thread::sleep_until(deadline); }

const RealTimeClock& RealTimeClock::steady() {
    static const RealTimeClock clock;
    return clock;
}

}  // namespace platform
