#include "scorecore/meter.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>

using namespace scorecore;

namespace {

constexpr int kIntMax = std::numeric_limits<int>::max();
constexpr int kIntMin = std::numeric_limits<int>::min();

CMeter meter(int tpq, int beats, int unitIndex) {
    CMeter m;
    m.init(tpq, beats, unitIndex);
    return m;
}

}  // namespace

TEST(MeterTest, InitComputesTickLengthsAndMidiData) {
    struct Case {
        int tpq, beats, unitIndex;
        int ticksPerBeat, ticksPerBar;
        std::array<std::uint8_t, 4> midi;
    };
    const Case cases[] = {
        {480, 4, 2, 480, 1920, {4, 2, 24, 8}},   // 4/4
        {480, 6, 3, 240, 1440, {6, 3, 12, 8}},   // 6/8
        {480, 3, 2, 480, 1440, {3, 2, 24, 8}},   // 3/4
        {480, 2, 1, 960, 1920, {2, 1, 48, 8}},   // 2/2
        {480, 7, 4, 120, 840, {7, 4, 6, 8}},     // 7/16
        {384, 4, 2, 384, 1536, {4, 2, 24, 8}},   // another resolution
        {480, 3, 0, 1920, 5760, {3, 0, 96, 8}},  // 3/1
    };
    for (const Case& c : cases) {
        CMeter m;
        m.flag = 1;
        m.reserved = 7;
        m.init(c.tpq, c.beats, c.unitIndex);
        EXPECT_TRUE(m.isValid()) << c.beats << "/" << c.unitIndex;
        EXPECT_EQ(m.flag, 0);
        EXPECT_EQ(m.beats, c.beats);
        EXPECT_EQ(m.unitIndex, c.unitIndex);
        EXPECT_EQ(m.ticksPerBeat, c.ticksPerBeat) << c.beats << "/" << c.unitIndex;
        EXPECT_EQ(m.ticksPerBar, c.ticksPerBar) << c.beats << "/" << c.unitIndex;
        EXPECT_EQ(m.reserved, 0);
        EXPECT_EQ(m.midiData, c.midi) << c.beats << "/" << c.unitIndex;
        EXPECT_EQ(m.midiDataLength, 4);
    }
}

TEST(MeterTest, MeterWithoutTickLengthsKeepsZeros) {
    struct Case {
        int tpq, beats, unitIndex;
        bool valid;
    };
    const Case cases[] = {
        {480, 4, CMeter::unitToIndex(3), false},  // unit 3 is not a power of two
        {480, 4, -1, false},
        {480, 0, 2, false},
        {480, -1, 2, false},  // a score without a time signature
        {480, -5, 2, false},
        {0, 4, 2, true},          // no resolution
        {-480, 4, 2, true},
        {480, 1, 12, true},       // a 4096th is shorter than a tick
        {480, 10000000, 2, true}, // a bar beyond 32 bits
    };
    for (const Case& c : cases) {
        const CMeter m = meter(c.tpq, c.beats, c.unitIndex);
        EXPECT_EQ(m.isValid(), c.valid) << c.tpq << " " << c.beats << "/" << c.unitIndex;
        EXPECT_EQ(m.ticksPerBeat, 0) << c.tpq << " " << c.beats << "/" << c.unitIndex;
        EXPECT_EQ(m.ticksPerBar, 0) << c.tpq << " " << c.beats << "/" << c.unitIndex;
        for (const int tick : {0, 1000, -100, kIntMin}) {
            CMeasurePos pos{1, 9, 9, 9};
            m.tickToPos(tick, pos);
            EXPECT_EQ(pos.bar, 1);
            EXPECT_EQ(pos.beat, 1);
            EXPECT_EQ(pos.tick, 0);
        }
    }
}

TEST(MeterTest, UnitToIndexFindsPowersOfTwo) {
    struct Case {
        int unit, index;
    };
    const Case cases[] = {{1, 0},  {2, 1},  {4, 2},  {8, 3},   {16, 4},    {4096, 12},
                          {3, 13}, {0, 13}, {6, 13}, {-4, 13}, {8192, 13}, {kIntMin, 13}};
    for (const Case& c : cases) EXPECT_EQ(CMeter::unitToIndex(c.unit), c.index) << c.unit;
}

TEST(MeterTest, SetResolutionAndEquality) {
    CMeter m = meter(480, 6, 3);
    m.setResolution(960);
    EXPECT_EQ(m.ticksPerBeat, 480);
    EXPECT_EQ(m.ticksPerBar, 2880);
    EXPECT_TRUE(m.isEqual(meter(480, 6, 3)));  // resolution does not count
    EXPECT_FALSE(m.isEqual(meter(480, 3, 3)));
    EXPECT_FALSE(m.isEqual(meter(480, 6, 2)));
    m.setResolution(0);
    EXPECT_EQ(m.ticksPerBeat, 0);
    EXPECT_EQ(m.ticksPerBar, 0);

    const CMeter defaultMeter;
    EXPECT_TRUE(defaultMeter.isEqual(meter(480, 4, 2)));
    EXPECT_EQ(defaultMeter.ticksPerBar, 1920);
}

TEST(MeterTest, BeatGroupByGroupingType) {
    struct Case {
        int beats, type, group;
    };
    const Case cases[] = {
        {7, 1, 1},   {4, 1, 1},
        {7, 2, 3},   {6, 2, 2},  {3, 2, 1},  {5, 2, 2},  {4, 2, 1},  {8, 2, 2},  {9, 2, 3},  {1, 2, 1},
        {12, 3, 3},  {6, 3, 3},  {8, 3, 4},  {9, 3, 3},  {15, 3, 5}, {7, 3, 7},  {4, 3, 2},  {2, 3, 2},
        {1, 3, 1},   {kIntMax, 3, kIntMax},  // a prime: answered without counting down from beats / 2
        {7, 4, 7},   {12, 4, 12},
        {7, 0, 0},   {7, 5, 0},  {7, -1, 0},
        {0, 2, 1},   {0, 3, 1},  {-1, 3, 1}, {-1, 4, 1}, {0, 1, 1},  {-1, 0, 0},
    };
    for (const Case& c : cases) {
        CMeter m;
        m.beats = c.beats;
        EXPECT_EQ(m.beatGroup(c.type), c.group) << c.beats << " beats, type " << c.type;
    }
}

TEST(MeterTest, TickToPosCountsBarsBeatsAndTicks) {
    struct Case {
        int beats, unitIndex, tick;
        int bar, beat, posTick;
    };
    const Case cases[] = {
        {4, 2, 0, 1, 1, 0},       {4, 2, 479, 1, 1, 479},   {4, 2, 480, 1, 2, 0},
        {4, 2, 1919, 1, 4, 479},  {4, 2, 1920, 2, 1, 0},    {4, 2, 4330, 3, 2, 10},
        {6, 3, 1500, 2, 1, 60},   {6, 3, 1439, 1, 6, 239},
        // Count-in: bar 0 precedes the first bar; the tick is the distance
        // to the next beat.
        {4, 2, -100, 0, 4, 100},  {4, 2, -480, 0, 4, 0},    {4, 2, -481, 0, 3, 1},
        {4, 2, -1900, 0, 1, 460}, {4, 2, -1920, 0, 1, 0},   {4, 2, -2000, -1, 4, 80},
        {4, 2, -3840, -1, 1, 0},  {6, 3, -240, 0, 6, 0},
    };
    for (const Case& c : cases) {
        const CMeter m = meter(480, c.beats, c.unitIndex);
        CMeasurePos pos;
        pos.flag = 1;
        m.tickToPos(c.tick, pos);
        EXPECT_EQ(pos.bar, c.bar) << c.tick;
        EXPECT_EQ(pos.beat, c.beat) << c.tick;
        EXPECT_EQ(pos.tick, c.posTick) << c.tick;
        EXPECT_EQ(pos.flag, 1);
    }
}

TEST(MeterTest, TickToPosAtTheEndsOfInt) {
    const CMeter m = meter(1, 1, 2);  // one tick per bar
    CMeasurePos pos;
    m.tickToPos(kIntMax, pos);
    EXPECT_EQ(pos.bar, kIntMax);  // would be 2^31: saturated
    EXPECT_EQ(pos.beat, 1);
    m.tickToPos(kIntMin, pos);
    EXPECT_EQ(pos.bar, kIntMin + 1);
    EXPECT_EQ(pos.beat, 1);
    EXPECT_EQ(pos.tick, 0);
}

TEST(MeasurePosTest, ToTickInvertsTickToPos) {
    const CMeter fourFour = meter(480, 4, 2);
    const CMeter sixEight = meter(480, 6, 3);
    for (const CMeter* m : {&fourFour, &sixEight}) {
        for (int tick = 0; tick < 20000; tick += 37) {
            CMeasurePos pos;
            m->tickToPos(tick, pos);
            ASSERT_EQ(pos.toTick(m->ticksPerBeat, m->ticksPerBar), tick);
        }
    }
    const CMeasurePos far{0, kIntMax, kIntMax, kIntMax};
    EXPECT_EQ(far.toTick(kIntMax, kIntMax), (std::int64_t{kIntMax} - 1) * kIntMax * 2 + kIntMax);
}

TEST(MeasurePosTest, NextBeatWrapsAfterTheLast) {
    struct Case {
        int beat, beats, next;
    };
    const Case cases[] = {{1, 4, 2}, {3, 4, 4}, {4, 4, 1}, {7, 4, 1}, {1, 1, 1}};
    for (const Case& c : cases) {
        CMeasurePos pos{0, 5, c.beat, 30};
        pos.nextBeat(c.beats);
        EXPECT_EQ(pos.beat, c.next) << c.beat << " of " << c.beats;
        EXPECT_EQ(pos.bar, 5);
    }
}

TEST(NoteValueOfLengthTest, FindsValueAndDot) {
    struct Case {
        int length, value;
        bool dotted;
    };
    const Case cases[] = {
        {720, 480, true},     // quarter with a dot
        {1920, 1920, false},  {2880, 1920, true},  {1440, 960, true},  {480, 480, false},
        {360, 240, true},     {600, 480, false},   {3840, 1920, false}, {1, 1, false},
        {0, 0, false},        {-5, 0, false},      {kIntMin, 0, false},
    };
    for (const Case& c : cases) {
        bool dotted = !c.dotted;
        EXPECT_EQ(noteValueOfLength(480, c.length, &dotted), c.value) << c.length;
        EXPECT_EQ(dotted, c.dotted) << c.length;
    }
    bool dotted = true;
    EXPECT_EQ(noteValueOfLength(0, 720, &dotted), 0);
    EXPECT_FALSE(dotted);
    EXPECT_EQ(noteValueOfLength(480, 720, nullptr), 480);
}

TEST(SnapToGridTest, SnapsWithinHalfAStep) {
    struct Case {
        int tick, grid, step;
        int result, difference;
    };
    const Case cases[] = {
        {1000, 1000, 15, 1000, 0}, {1007, 1000, 15, 1000, 7}, {993, 1000, 15, 1000, -7},
        {1008, 1000, 15, 1008, 0}, {992, 1000, 15, 992, 0},   {1008, 1000, 16, 1000, 8},
        {1001, 1000, 1, 1001, 0},  {-10, -5, 15, -5, -5},     {kIntMax, kIntMin, 15, kIntMax, 0},
        {kIntMin, kIntMax, kIntMax, kIntMin, 0},
    };
    for (const Case& c : cases) {
        int difference = 12345;
        EXPECT_EQ(snapToGrid(c.tick, c.grid, c.step, &difference), c.result) << c.tick << " to " << c.grid;
        EXPECT_EQ(difference, c.difference) << c.tick << " to " << c.grid;
    }
    EXPECT_EQ(snapToGrid(1003, 1000, 15, nullptr), 1000);
}
