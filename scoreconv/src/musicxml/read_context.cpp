#include "musicxml/read_context.h"

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

int64_t measureReach(int64_t barTicks, int32_t ticksPerQuarter) {
    const int64_t whole = 4 * int64_t{std::max(ticksPerQuarter, 1)};
    const int64_t bar = std::clamp<int64_t>(barTicks, whole, kMaxTicks);
    return std::min(kMaxBarsPerMeasure * bar, kMaxTicks);
}

bool CReadContext::keepInMeasure(double& offset) const {
    if (offset == 0) return false;
    const double perDivision = divisions > 0 ? ticksPerQuarter / divisions : ticksPerQuarter;
    if (!std::isfinite(offset) || !(perDivision > 0)) {
        offset = 0;
        return true;
    }
    // Half a tick of room, so that an offset that rounds onto a limit is no cut.
    const double back = static_cast<double>(std::clamp<int64_t>(offsetBack, 0, kMaxTicks));
    const double on = static_cast<double>(std::clamp<int64_t>(offsetOn, 0, kMaxTicks));
    // Divisions too fine for a double make every offset infinite ticks.
    const double ticks = offset * perDivision;
    if (ticks >= -back - 0.5 && ticks <= on + 0.5) return false;
    offset = std::isfinite(perDivision) ? (ticks > 0 ? on : -back) / perDivision : 0;
    return true;
}

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
    reach_ = kMaxTicks;
    cut_ = false;
}

void CMeasureClock::setReach(int64_t ticks) { reach_ = std::clamp<int64_t>(ticks, 0, kMaxTicks); }

double CMeasureClock::exactAt(double offset) const {
    return static_cast<double>(baseTick_) + offset * ticksPerQuarter_ / divisions_;
}

int64_t CMeasureClock::at(double offset) const {
    const double ticks = exactAt(offset);
    if (std::isnan(ticks) || ticks <= 0) return 0;
    if (ticks >= static_cast<double>(reach_)) return reach_;
    return static_cast<int64_t>(std::round(ticks));
}

int64_t CMeasureClock::tick() const { return at(offset_); }

void CMeasureClock::advance(double length) {
    if (!std::isfinite(length) || length <= 0) return;
    // At the reach the position stands still instead of growing further; a
    // length that only rounds onto the reach is no cut.
    const double target = exactAt(offset_ + length);
    if (!(target < static_cast<double>(reach_))) {
        cut_ = cut_ || !(target < static_cast<double>(reach_) + 0.5);
        baseTick_ = reach_;
        offset_ = 0;
    } else {
        offset_ += length;
    }
    furthest_ = std::max(furthest_, tick());
}

void CMeasureClock::backUp(double length) {
    if (!std::isfinite(length) || length <= 0) return;
    const double offset = offset_ - length;
    const double target = exactAt(offset);
    if (target <= 0) {
        cut_ = cut_ || target < -0.5;
        baseTick_ = 0;
        offset_ = 0;
        return;
    }
    offset_ = offset;
}

int64_t CMeasureClock::lengthTicks(double length) {
    if (!std::isfinite(length) || length <= 0) return 0;
    if (!(exactAt(offset_ + length) < static_cast<double>(reach_) + 0.5)) cut_ = true;
    return at(offset_ + length) - tick();
}

}  // namespace scoreconv
