#include "scorecore/meter.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "scorecore/midi_stream.h"

namespace scorecore {

namespace {

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();

std::int32_t saturate32(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp(value, kInt32Min, kInt32Max));
}

// Largest divisor of n below n (n >= 2): n over its smallest prime factor.
int largestProperDivisor(int n) {
    for (int f = 2; f <= n / f; ++f)
        if (n % f == 0) return n / f;
    return 1;
}

}  // namespace

std::int64_t CMeasurePos::toTick(int ticksPerBeat, int ticksPerBar) const {
    return (std::int64_t{bar} - 1) * ticksPerBar + (std::int64_t{beat} - 1) * ticksPerBeat + tick;
}

void CMeasurePos::nextBeat(int beats) {
    beat = beat >= beats ? 1 : beat + 1;
}

void CMeter::init(int ticksPerQuarter, int beatCount, int unitIndexValue) {
    flag = 0;
    beats = beatCount;
    unitIndex = unitIndexValue;
    reserved = 0;
    midiData = {static_cast<std::uint8_t>(beats), static_cast<std::uint8_t>(unitIndex),
                scMidiClocksPerClick(unitIndex), 8};
    midiDataLength = 4;
    computeTicks(ticksPerQuarter);
}

int CMeter::unitToIndex(int unit) {
    for (int index = 0; index < kBeatUnitCount; ++index)
        if (unit == 1 << index) return index;
    return kBeatUnitInvalid;
}

void CMeter::setResolution(int ticksPerQuarter) { computeTicks(ticksPerQuarter); }

bool CMeter::isValid() const { return beats >= 1 && unitIndex >= 0 && unitIndex < kBeatUnitCount; }

bool CMeter::isEqual(const CMeter& other) const { return beats == other.beats && unitIndex == other.unitIndex; }

int CMeter::beatGroup(int groupingType) const {
    if (groupingType == 1) return 1;
    if (groupingType < 2 || groupingType > 4) return 0;
    if (beats < 1) return 1;
    switch (groupingType) {
    case 2:
        if (beats == 5 || (beats > 4 && beats % 2 == 0)) return 2;
        if (beats > 5 && beats % 2 == 1) return 3;
        return 1;
    case 3: {
        if (beats == 12) return 3;
        const int divisor = beats >= 2 ? largestProperDivisor(beats) : 1;
        return divisor == 1 ? beats : divisor;
    }
    default:
        return beats;
    }
}

void CMeter::tickToPos(int tick, CMeasurePos& pos) const {
    if (ticksPerBeat <= 0 || ticksPerBar <= 0 || beats < 1) {
        pos.bar = 1;
        pos.beat = 1;
        pos.tick = 0;
        return;
    }
    const std::int64_t t = tick;
    if (t >= 0) {
        pos.bar = saturate32(t / ticksPerBar + 1);
        pos.beat = static_cast<std::int32_t>(t % ticksPerBar / ticksPerBeat + 1);
        pos.tick = static_cast<std::int32_t>(t % ticksPerBeat);
        return;
    }
    const std::int64_t m = -t;
    const bool wholeBars = m % ticksPerBar == 0;
    pos.bar = static_cast<std::int32_t>(t / ticksPerBar + (wholeBars ? 1 : 0));
    if (wholeBars) {
        pos.beat = 1;
        pos.tick = 0;
        return;
    }
    const bool wholeBeats = m % ticksPerBeat == 0;
    pos.beat = static_cast<std::int32_t>(beats - m % ticksPerBar / ticksPerBeat + (wholeBeats ? 1 : 0));
    pos.tick = static_cast<std::int32_t>(m % ticksPerBeat);
}

void CMeter::computeTicks(int ticksPerQuarter) {
    ticksPerBeat = 0;
    ticksPerBar = 0;
    if (!isValid() || ticksPerQuarter <= 0) return;
    const std::int64_t beat = std::int64_t{ticksPerQuarter} * 4 / (std::int64_t{1} << unitIndex);
    const std::int64_t bar = beat * beats;
    if (beat <= 0 || bar > kInt32Max) return;  // a unit shorter than a tick, or a bar beyond 32 bits
    ticksPerBeat = static_cast<std::int32_t>(beat);
    ticksPerBar = static_cast<std::int32_t>(bar);
}

int noteValueOfLength(int ticksPerQuarter, int length, bool* dotted) {
    if (dotted) *dotted = false;
    if (ticksPerQuarter <= 0 || length <= 0) return 0;
    std::int64_t value = std::int64_t{ticksPerQuarter} * 4;
    while (value > length) value /= 2;
    if (dotted) *dotted = value * 3 == std::int64_t{length} * 2;
    return static_cast<int>(value);
}

int snapToGrid(int tick, int gridPos, int step, int* difference) {
    const std::int64_t diff = std::int64_t{tick} - gridPos;
    const bool snaps = 2 * std::llabs(diff) <= step;
    if (difference) *difference = snaps ? static_cast<int>(diff) : 0;
    return snaps ? gridPos : tick;
}

}  // namespace scorecore
