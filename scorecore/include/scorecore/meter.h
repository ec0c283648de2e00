// Musical time of the play model: a time signature with its tick lengths and
// MIDI encoding, and a position as bar, beat and tick.
//
// A meter whose tick lengths cannot be had (beats below 1, a beat unit that is
// not a power of two up to 4096, a resolution of 0) keeps ticks per beat and
// per bar at 0, and everything that would divide by them answers neutrally.
#pragma once

#include <array>
#include <cstdint>

namespace scorecore {

// Beat units are kept as their power of two: index 0..12 for the units 1, 2,
// 4, ... 4096; kBeatUnitInvalid for anything else.
inline constexpr int kBeatUnitCount = 13;
inline constexpr int kBeatUnitInvalid = 13;

// A position in the score: bar and beat from 1, tick inside the beat from 0.
struct CMeasurePos {
    std::uint8_t flag = 0;
    std::int32_t bar = 1;
    std::int32_t beat = 1;
    std::int32_t tick = 0;

    // The score tick of this position: (bar - 1) x ticksPerBar +
    // (beat - 1) x ticksPerBeat + tick, in 64 bits so that it cannot overflow.
    std::int64_t toTick(int ticksPerBeat, int ticksPerBar) const;
    // Steps to the next beat: 1 after the last one (bar unchanged).
    void nextBeat(int beats);
};

// A time signature, fields in the order of the play cursor's record.
struct CMeter {
    std::uint8_t flag = 0;            // a time signature to be written
    std::int32_t beats = 4;
    std::int32_t unitIndex = 2;       // power of two of the beat unit
    std::int32_t ticksPerBeat = 480;
    std::int32_t ticksPerBar = 1920;
    std::int32_t reserved = 0;
    // Data of the MIDI time-signature meta event: beats, unit index, MIDI
    // clocks per click (96 / unit value), 8 thirty-second notes per quarter.
    std::array<std::uint8_t, 4> midiData{4, 2, 24, 8};
    std::int32_t midiDataLength = 4;

    // Sets every field for `beats` over the unit of `unitIndex` at
    // `ticksPerQuarter` (flag 0). 4/4 is (4, 2).
    void init(int ticksPerQuarter, int beatCount, int unitIndexValue);
    // Index of a unit value (1, 2, 4 .. 4096); kBeatUnitInvalid when absent.
    static int unitToIndex(int unit);
    // Recomputes ticks per beat and per bar for another resolution.
    void setResolution(int ticksPerQuarter);
    // Beats of at least 1 and a unit index in 0..12.
    bool isValid() const;
    // Same beats and beat unit.
    bool isEqual(const CMeter& other) const;
    // Beats per group for a grouping type: 1 -> 1; 2 -> 2 for 5 or an even
    // count above 4, 3 for an odd count above 5, else 1; 3 -> 3 for 12, else
    // the largest proper divisor (the beats themselves for a prime); 4 -> the
    // beats; other types 0. Types 2 to 4 give 1 when beats are below 1.
    int beatGroup(int groupingType) const;
    // Sets bar, beat and tick of `pos` (not its flag) for a score tick. A
    // negative tick (count-in) counts bars back from 1: bar 0 is the bar
    // before the first, and its tick is the distance to the next beat. With
    // no tick lengths the answer is bar 1, beat 1, tick 0.
    void tickToPos(int tick, CMeasurePos& pos) const;

private:
    void computeTicks(int ticksPerQuarter);
};

// The note value (in ticks) of a length: the largest of whole, half, quarter
// ... (from 4 x ticksPerQuarter down) not above the length; `dotted` tells
// whether the length is that value with a dot (three halves of it). 0 for a
// length or resolution below 1.
int noteValueOfLength(int ticksPerQuarter, int length, bool* dotted);

// The grid position when `tick` lies within half a time step of it (the
// difference tick - grid then goes to `difference`), else the tick (and 0).
int snapToGrid(int tick, int gridPos, int step, int* difference);

}  // namespace scorecore
