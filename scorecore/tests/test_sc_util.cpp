#include "scorecore/sc_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

using namespace scorecore;

namespace {

constexpr int kIntMax = std::numeric_limits<int>::max();
constexpr int kIntMin = std::numeric_limits<int>::min();
constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kInt64Min = std::numeric_limits<std::int64_t>::min();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

}  // namespace

TEST(ScDivRoundTest, RoundsHalvesAwayFromZero) {
    struct Case {
        int a, b, expected;
    };
    const Case cases[] = {
        {7, 2, 4},   {5, 4, 1},   {6, 4, 2},    {0, 5, 0},   {1999, 1000, 2}, {1499, 1000, 1},
        {-7, 2, -4}, {7, -2, -4}, {-7, -2, 4},  {-5, 4, -1}, {-6, 4, -2},
        {kIntMax, 2, 1073741824}, {kIntMax, kIntMax, 1}, {kIntMin, kIntMax, -1},
        // No division by zero, and the one quotient beyond int saturates.
        {7, 0, 0},   {0, 0, 0},   {kIntMin, -1, kIntMax},
    };
    for (const Case& c : cases)
        EXPECT_EQ(scDivRound(c.a, c.b), c.expected) << c.a << " / " << c.b;
}

TEST(ScDivRoundTest, SixtyFourBitMatchesAndGuards) {
    EXPECT_EQ(scDivRound64(7, 2), 4);
    EXPECT_EQ(scDivRound64(-7, 2), -4);
    EXPECT_EQ(scDivRound64(int64_t{1} << 40, 3), 366503875925);  // 366503875925.33
    EXPECT_EQ(scDivRound64(5, 0), 0);
    EXPECT_EQ(scDivRound64(kInt64Min, -1), kInt64Max);
    EXPECT_EQ(scDivRound64(kInt64Max, 2), int64_t{1} << 62);
}

TEST(ScRoundTest, HalvesAwayFromZeroAndSaturates) {
    struct Case {
        double x;
        int expected;
    };
    const Case cases[] = {
        {2.5, 3},    {-2.5, -3},  {2.4999, 2}, {-0.4, 0},  {0.5, 1},     {-0.5, -1},
        {1e20, kIntMax}, {-1e20, kIntMin}, {2147483647.4, kIntMax}, {2147483648.0, kIntMax},
        {-2147483648.0, kIntMin}, {kInf, kIntMax}, {-kInf, kIntMin}, {kNaN, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(scRound(c.x), c.expected) << c.x;

    EXPECT_EQ(scRound64(-2.5), -3);
    EXPECT_EQ(scRound64(5e12 + 0.5), 5000000000001);
    EXPECT_EQ(scRound64(1e19), kInt64Max);
    EXPECT_EQ(scRound64(9223372036854775807.0), kInt64Max);  // is 2^63 as a double
    EXPECT_EQ(scRound64(-1e19), kInt64Min);
    EXPECT_EQ(scRound64(kNaN), 0);
}

TEST(ScStepTest, StepsTowardAndAwayFromZero) {
    struct Case {
        int a, toward, away;
    };
    const Case cases[] = {
        {5, 4, 6}, {-5, -4, -6}, {0, 0, 0}, {1, 0, 2}, {-1, 0, -2},
        {kIntMax, kIntMax - 1, kIntMax}, {kIntMin, kIntMin + 1, kIntMin},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(scStepTowardZero(c.a), c.toward) << c.a;
        EXPECT_EQ(scStepAwayFromZero(c.a), c.away) << c.a;
    }
}

TEST(ScSwapTest, ReversesBytesAndExchangesValues) {
    EXPECT_EQ(scSwapBytes16(0x01E0), 0xE001);
    EXPECT_EQ(scSwapBytes32(0x00000006u), 0x06000000u);
    EXPECT_EQ(scSwapBytes32(0x12345678u), 0x78563412u);
    EXPECT_EQ(scSwapBytes32(scSwapBytes32(0xA1B2C3D4u)), 0xA1B2C3D4u);

    int a = 1, b = -2;
    scSwapInts(a, b);
    EXPECT_EQ(a, -2);
    EXPECT_EQ(b, 1);
    std::int16_t s = 3, t = -32768;
    scSwapShorts(s, t);
    EXPECT_EQ(s, -32768);
    EXPECT_EQ(t, 3);
}

TEST(ScFormatDoubleTest, WritesFixedPointText) {
    struct Case {
        double x;
        int decimals;
        const char* expected;
    };
    const Case cases[] = {
        {-1.05, 2, "-1.05"},  {0.5, 3, "0.500"},   {0.05, 2, "0.05"},   {123.456, 1, "123.5"},
        {-0.25, 1, "-0.2"},   // the binary value of -0.25 is exact: ties to even
        {-0.001, 2, "-0.00"}, {1e15, 2, "1000000000000000.00"},
        {5.0, 0, "5."},       {5.0, -3, "5."},
        // No digits to give: the text of 0, never a sign for zero.
        {-0.0, 2, "0.00"},    {kNaN, 3, "0.000"},  {kInf, 1, "0.0"},    {-kInf, 0, "0."},
    };
    for (const Case& c : cases) EXPECT_EQ(scFormatDouble(c.x, c.decimals), c.expected) << c.x << ", " << c.decimals;
}

TEST(ScFormatDoubleTest, HandlesTheExtremesOfDouble) {
    const std::string largest = scFormatDouble(std::numeric_limits<double>::max(), 1);
    EXPECT_EQ(largest.size(), 311u);  // 309 digits, ".", one decimal
    EXPECT_EQ(largest.substr(0, 6), "179769");
    EXPECT_EQ(largest.substr(largest.size() - 2), ".0");

    const std::string tiny = scFormatDouble(std::numeric_limits<double>::denorm_min(), 100000);
    EXPECT_EQ(tiny.size(), 2u + 1074u);  // the decimals stop where the exact value ends
    EXPECT_EQ(tiny.back(), '5');
}

TEST(ScTimeTest, ConvertsBetweenTicksAndMilliseconds) {
    EXPECT_EQ(scTicksToMsRounded(480, 120, 480), 500);
    EXPECT_DOUBLE_EQ(scMsToTicks(500, 480, 120), 480.0);
    EXPECT_DOUBLE_EQ(scMsToTicks(1000, 480, 60), 480.0);
    EXPECT_DOUBLE_EQ(scMsToTicks(10, 384, 100), 6.4);  // not rounded
    EXPECT_EQ(scTicksToMsRounded(480, 120, -480), -500);

    // A 15-tick step at 480 per quarter and 120 per minute: 15.625 ms.
    double exact = 0;
    EXPECT_EQ(scTicksToMs(480, 120, 15, &exact), 16);
    EXPECT_DOUBLE_EQ(exact, 15.625);
    EXPECT_EQ(scTicksToMs(480, 120, 14.4, nullptr), 15);
    EXPECT_EQ(scTicksToMs(480, 120, -14.4, &exact), -15);
    EXPECT_DOUBLE_EQ(exact, -15.0);
    // Far beyond int: saturated, not wrapped.
    EXPECT_EQ(scTicksToMsRounded(1, 1, kIntMax), kIntMax);
}

TEST(ScTimeTest, ZeroTempoOrResolutionGivesZero) {
    struct Case {
        int tpq, tempo;
    };
    const Case cases[] = {{0, 120}, {480, 0}, {0, 0}, {-480, 120}, {480, -120}};
    for (const Case& c : cases) {
        EXPECT_EQ(scMsToTicks(500, c.tpq, c.tempo), 0.0) << c.tpq << ", " << c.tempo;
        EXPECT_EQ(scTicksToMsRounded(c.tpq, c.tempo, 480), 0) << c.tpq << ", " << c.tempo;
        double exact = 99;
        EXPECT_EQ(scTicksToMs(c.tpq, c.tempo, 480, &exact), 0) << c.tpq << ", " << c.tempo;
        EXPECT_EQ(exact, 0.0);
    }
}

TEST(ScLevelTest, PanAndLevelConvertBothWays) {
    struct Case {
        int level, pan;
    };
    // Level to pan, and pan back to a level that maps to the same pan.
    const Case cases[] = {{0, 64}, {10000, 127}, {-10000, 1}, {2000, 93}, {-2000, 35}};
    for (const Case& c : cases) {
        EXPECT_EQ(scLevelToPan(c.level), c.pan) << c.level;
        EXPECT_EQ(scLevelToPan(scPanToLevel(c.pan)), c.pan) << c.pan;
    }
    EXPECT_EQ(scPanToLevel(64), 0);
    EXPECT_EQ(scPanToLevel(0), -10000);    // logarithm of 0
    EXPECT_EQ(scPanToLevel(127), 10000);   // 10018 before the clamp
    EXPECT_EQ(scPanToLevel(65), 64);       // 64.6, cut toward zero
}

TEST(ScLevelTest, VolumeAndLevelConvertBothWays) {
    EXPECT_EQ(scLevelToVolume(0), 0);
    EXPECT_EQ(scLevelToVolume(-10000), 127);
    EXPECT_EQ(scLevelToVolume(10000), 0);   // negative before the clamp
    EXPECT_EQ(scLevelToVolume(-1000), 49);  // (1 - 10^-0.21) x 128 = 49.0
    EXPECT_EQ(scVolumeToLevel(0), 0);
    EXPECT_EQ(scVolumeToLevel(127), -10000);
    EXPECT_EQ(scVolumeToLevel(64), -1433);
    EXPECT_EQ(scLevelToVolume(scVolumeToLevel(100)), 100);
}

TEST(ScLevelTest, OutOfRangeInputsAreClampedFirst) {
    struct Case {
        int input;
        int pan, panLevel, volume, volumeLevel;
    };
    const Case cases[] = {
        {kIntMax, 127, 10000, 0, -10000},
        {kIntMin, 1, -10000, 127, 0},
        {20000, 127, 10000, 0, -10000},
        {-1, 64, -10000, 0, 0},
        {128, 66, 10000, 0, -10000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(scLevelToPan(c.input), c.pan) << c.input;
        EXPECT_EQ(scPanToLevel(c.input), c.panLevel) << c.input;
        EXPECT_EQ(scLevelToVolume(c.input), c.volume) << c.input;
        EXPECT_EQ(scVolumeToLevel(c.input), c.volumeLevel) << c.input;
    }
}
