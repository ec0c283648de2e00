#include "read_context.h"

#include <algorithm>
#include <cmath>

namespace scoreconv {

namespace {

int64_t roundedTicks(double value) {
    if (std::isnan(value) || value <= 0) return 0;
    if (value >= static_cast<double>(kMaxTicks)) return kMaxTicks;
    return static_cast<int64_t>(std::round(value));
}

}  // namespace

int32_t CReadContext::ticksOf(double length) const {
    const double perDivision = divisions > 0 ? ticksPerQuarter / divisions : ticksPerQuarter;
    return static_cast<int32_t>(roundedTicks(length * perDivision));
}

CMeasureClock::CMeasureClock(int32_t ticksPerQuarter) : ticksPerQuarter_(ticksPerQuarter > 0 ? ticksPerQuarter : 480) {}

void CMeasureClock::setDivisions(double divisions) {
    const double value = std::isfinite(divisions) && divisions > 0 ? divisions : 1.0;
    if (value == divisions_) return;
    baseTick_ = tick();
    offset_ = 0;
    divisions_ = value;
}

void CMeasureClock::restart() {
    baseTick_ = 0;
    offset_ = 0;
    furthest_ = 0;
}

int64_t CMeasureClock::at(double offset) const {
    const double ticks = static_cast<double>(baseTick_) + offset * ticksPerQuarter_ / divisions_;
    if (std::isnan(ticks) || ticks <= 0) return 0;
    if (ticks >= static_cast<double>(kMaxTicks)) return kMaxTicks;
    return static_cast<int64_t>(std::round(ticks));
}

int64_t CMeasureClock::tick() const { return at(offset_); }

void CMeasureClock::advance(double length) {
    if (!std::isfinite(length) || length <= 0) return;
    // Beyond the limit the position stands still instead of growing further.
    if (at(offset_ + length) >= kMaxTicks) {
        baseTick_ = kMaxTicks;
        offset_ = 0;
    } else {
        offset_ += length;
    }
    furthest_ = std::max(furthest_, tick());
}

void CMeasureClock::backUp(double length) {
    if (!std::isfinite(length) || length <= 0) return;
    const double offset = offset_ - length;
    if (static_cast<double>(baseTick_) + offset * ticksPerQuarter_ / divisions_ <= 0) {
        baseTick_ = 0;
        offset_ = 0;
        return;
    }
    offset_ = offset;
}

int64_t CMeasureClock::lengthTicks(double length) const {
    if (!std::isfinite(length) || length <= 0) return 0;
    return at(offset_ + length) - tick();
}

}  // namespace scoreconv
