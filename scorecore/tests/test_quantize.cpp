#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <string_view>

#include "scorecore/quantize.h"

namespace scorecore {
namespace {

// One staff at 480 ticks per quarter with two voices on an eighth grid (240 ticks).
class Quantize : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(q.create(2));
        ASSERT_TRUE(q.allocVoices(0, 2));
    }
    CQuantize q{480};
};

TEST_F(Quantize, NewRowsHaveTheDefaults) {
    EXPECT_EQ(q.getRateIndex(1), 12);  // 1:1
    EXPECT_EQ(q.getNoteTicks(1), 240);
    EXPECT_EQ(q.getAnzahlIndex(1), 0);  // count 2
    EXPECT_EQ(q.voiceCount(1), 0);
    EXPECT_EQ(q.getProtocolPos(0, 1), 0);
}

TEST_F(Quantize, SwingSplitsPairsOfGridStepsByTheRate) {
    q.setRate(0, 2, 1);  // long 320, short 160
    q.setFlags(0);
    struct Case {
        int32_t pos;
        int32_t delta;
        int32_t swung;
        int32_t posAfter;
    } const cases[] = {
        {4, 240, 320, 3},   // even position: long first
        {3, 240, 160, 2},   // odd position: short first
        {4, 480, 480, 2},   // a whole pair keeps its length
        {4, 720, 800, 1},   // long, short, long
        {3, 720, 640, 0},   // short, long, short
        {-4, 240, 320, 3},  // negative without odd alignment: made positive, then counts down
        {4, 100, 100, 4},   // not whole grid steps: left alone
        {4, 0, 0, 4},
        {4, -240, -240, 4},
        {0, 240, 240, 0},  // no position
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pos << " / " << c.delta);
        q.setProtocolPos(0, 0, c.pos);
        int32_t delta = c.delta;
        EXPECT_EQ(q.quantizeTick(0, 0, delta), 0);
        EXPECT_EQ(delta, c.swung);
        EXPECT_EQ(q.getProtocolPos(0, 0), c.posAfter);
    }
}

TEST_F(Quantize, OddAlignedUpbeatReturnsTheSurplus) {
    q.setRate(0, 2, 1);
    q.recordPos(0, 0, 720, 0, kQuantizeOddAlignment);  // step 3, odd: recorded as -3
    EXPECT_EQ(q.getProtocolPos(0, 0), -3);
    EXPECT_EQ(q.flags(), kQuantizeOddAlignment);
    EXPECT_EQ(q.lastTick(), 720);
    int32_t delta = 240;
    EXPECT_EQ(q.quantizeTick(0, 0, delta), 80);  // short step: 240 - 160
    EXPECT_EQ(delta, 160);
    EXPECT_EQ(q.getProtocolPos(0, 0), 3);
}

TEST_F(Quantize, RecordPosAlignsTheGridStep) {
    struct Case {
        int32_t tick;
        int32_t base;
        uint32_t flags;
        int32_t pos;
    } const cases[] = {
        {480, 0, 0, 2},
        {720, 0, 0, 2},
        {720, 0, kQuantizeOddAlignment, -3},
        {960, 0, kQuantizeOddAlignment, -3},
        {0, 5, 0, 4},
        {479, 0, 0, 0},   // step 1: the count of 2 is not reached yet
        {-480, 0, 0, 0},  // before the start
        {INT_MAX, INT_MAX, 0, INT_MAX - 1},  // far steps saturate instead of overflowing
        {INT_MAX, INT_MAX, kQuantizeOddAlignment, -INT_MAX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.tick << " + " << c.base);
        q.setProtocolPos(0, 0, 0);
        q.recordPos(0, 0, c.tick, c.base, c.flags);
        EXPECT_EQ(q.getProtocolPos(0, 0), c.pos);
    }
}

TEST_F(Quantize, NeedsQuantizeOnlyForASwingRateAndAVoiceWithoutPosition) {
    struct Case {
        uint8_t a;
        uint8_t b;
        int32_t pos;
        bool needs;
    } const cases[] = {
        {2, 1, 0, true}, {0, 2, 0, true}, {2, 1, 6, false},
        {1, 1, 0, false}, {1, 0, 0, false}, {0, 0, 0, false},
    };
    for (const Case& c : cases) {
        q.setRate(0, c.a, c.b);
        q.setProtocolPos(0, 1, c.pos);
        EXPECT_EQ(q.needsQuantize(0, 1), c.needs) << int(c.a) << ':' << int(c.b) << " @" << c.pos;
    }
}

TEST_F(Quantize, ZeroRateAndZeroGridNeverDivide) {
    q.setProtocolPos(0, 0, 4);
    q.setRate(0, 0, 0);
    int32_t delta = 480;
    EXPECT_EQ(q.quantizeTick(0, 0, delta), 0);
    EXPECT_EQ(delta, 480);

    for (int32_t ticksPerQuarter : {0, 7, -480}) {  // thirty-second grid of 0 ticks or less
        SCOPED_TRACE(ticksPerQuarter);
        CQuantize coarse(ticksPerQuarter);
        ASSERT_TRUE(coarse.create(1));
        ASSERT_TRUE(coarse.allocVoices(0, 1));
        coarse.setRate(0, 2, 1);
        coarse.setNote(0, 2);
        coarse.setProtocolPos(0, 0, 4);
        EXPECT_FALSE(coarse.needsQuantize(0, 0));
        coarse.recordPos(0, 0, 100, 10, 0);
        EXPECT_EQ(coarse.getProtocolPos(0, 0), 4);
        int32_t d = 16;
        EXPECT_EQ(coarse.quantizeTick(0, 0, d), 0);
        EXPECT_EQ(d, 16);
    }
}

TEST_F(Quantize, ProtocolPositionsNeverOverflow) {
    q.setRate(0, 2, 1);
    q.setFlags(kQuantizeOddAlignment);
    q.setProtocolPos(0, 0, INT_MIN);
    int32_t delta = 240;
    EXPECT_EQ(q.quantizeTick(0, 0, delta), -80);  // even: long step, 240 - 320
    EXPECT_EQ(q.getProtocolPos(0, 0), INT_MAX);

    CQuantize huge(1 << 30);  // eighth grid of 2^29 ticks
    ASSERT_TRUE(huge.create(1));
    ASSERT_TRUE(huge.allocVoices(0, 1));
    huge.setRate(0, 255, 0);  // long step 2^30, short step 0
    huge.setProtocolPos(0, 0, 2);
    delta = 3 << 29;  // long + short + long = 2^31
    EXPECT_EQ(huge.quantizeTick(0, 0, delta), 0);
    EXPECT_EQ(delta, INT_MAX);
    EXPECT_EQ(huge.getProtocolPos(0, 0), -1);
}

TEST_F(Quantize, RateIndexAndText) {
    struct Case {
        uint8_t a;
        uint8_t b;
        int32_t index;
        std::string_view text;
    } const cases[] = {
        {1, 1, 12, "1:1"}, {1, 4, 0, "1:4"},   {4, 1, 24, "4:1"}, {11, 4, 19, "11:4"},
        {3, 5, 25, ""},    {2, 4, 25, ""},     {0, 0, 25, ""},
    };
    for (const Case& c : cases) {
        q.setRate(0, c.a, c.b);
        EXPECT_EQ(q.getRateIndex(0), c.index) << int(c.a) << ':' << int(c.b);
        EXPECT_EQ(q.getRateString(0), c.text);
        EXPECT_EQ(q.createRateString(0), std::to_string(c.a) + ':' + std::to_string(c.b));
    }
}

TEST_F(Quantize, RateTextIsValidated) {
    struct Case {
        std::string_view text;
        bool ok;
        uint8_t a = 0;
        uint8_t b = 0;
    } const cases[] = {
        {"2:1", true, 2, 1},     {"255:255", true, 255, 255}, {"0:0", true, 0, 0},
        {" 7:2\t", true, 7, 2},  {"007:2", true, 7, 2},
        {"", false}, {":", false}, {"2:", false}, {":1", false}, {"256:1", false},
        {"2:1x", false}, {"2:1:3", false}, {"-1:2", false}, {"+1:2", false}, {"2 :1", false},
        {"a:b", false}, {"99999999999:1", false}, {"2/1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        q.setRate(0, 9, 4);
        EXPECT_EQ(q.setRateFromString(0, c.text), c.ok);
        EXPECT_EQ(q.getRatePart(0, 0), c.ok ? c.a : 9);
        EXPECT_EQ(q.getRatePart(0, 1), c.ok ? c.b : 4);
    }
}

TEST_F(Quantize, WideRateText) {
    QuantizeRate rate{9, 9};
    EXPECT_TRUE(CQuantize::parseRate(std::u16string_view(u"4:13"), rate));
    EXPECT_EQ(rate, (QuantizeRate{4, 13}));
    for (std::u16string_view bad : {u"\uFF12:1", u"4:1\u0663", u"4\u0000:1", u""}) {
        EXPECT_FALSE(CQuantize::parseRate(bad, rate));
        EXPECT_FALSE(q.setRateFromString(0, bad));
    }
    EXPECT_EQ(rate, (QuantizeRate{4, 13}));
    EXPECT_TRUE(q.setRateFromString(0, std::u16string_view(u"3:1")));
    EXPECT_EQ(q.getRateIndex(0), 20);
}

TEST_F(Quantize, GridAndCountChoices) {
    const struct {
        int32_t note;
        int32_t ticks;
    } notes[] = {{0, 240}, {1, 120}, {2, 60}, {7, 60}, {-1, 60}};
    for (const auto& n : notes) {
        q.setNote(0, n.note);
        EXPECT_EQ(q.getNoteTicks(0), n.ticks) << n.note;
    }
    const struct {
        uint8_t count;
        int32_t index;
    } counts[] = {{2, 0}, {6, 2}, {8, 3}, {3, 4}, {0, 4}};
    for (const auto& c : counts) {
        q.setAnzahl(0, c.count);
        EXPECT_EQ(q.getAnzahlIndex(0), c.index) << int(c.count);
    }
}

TEST_F(Quantize, UnknownStaffOrVoiceIsIgnored) {
    q.setRate(0, 2, 1);
    q.setProtocolPos(0, 0, 4);
    for (int32_t staff : {-1, 2, INT_MAX}) {
        SCOPED_TRACE(staff);
        q.setRate(staff, 3, 1);
        q.setNote(staff, 1);
        EXPECT_FALSE(q.setRateFromString(staff, std::string_view("3:1")));
        EXPECT_FALSE(q.allocVoices(staff, 1));
        EXPECT_EQ(q.getRateIndex(staff), kQuantizeRateNone);
        EXPECT_EQ(q.getRateString(staff), "");
        EXPECT_EQ(q.createRateString(staff), "");
        EXPECT_EQ(q.getNoteTicks(staff), 0);
        EXPECT_EQ(q.getAnzahlIndex(staff), kQuantizeCountNone);
    }
    struct Case {
        int32_t staff;
        int32_t voice;
    } const cases[] = {{0, -1}, {0, 2}, {1, 0}, {-1, 0}, {2, 0}};  // {1, 0}: a staff without voices
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.staff << ',' << c.voice);
        q.setProtocolPos(c.staff, c.voice, 8);
        q.recordPos(c.staff, c.voice, 960, 0, 0);
        EXPECT_EQ(q.getProtocolPos(c.staff, c.voice), 0);
        EXPECT_FALSE(q.needsQuantize(c.staff, c.voice));
        int32_t delta = 240;
        EXPECT_EQ(q.quantizeTick(c.staff, c.voice, delta), 0);
        EXPECT_EQ(delta, 240);
    }
    EXPECT_EQ(q.getRateIndex(0), 16);  // 2:1 untouched
    EXPECT_EQ(q.getProtocolPos(0, 0), 4);
    EXPECT_EQ(q.getProtocolPos(0, 1), 0);
}

TEST_F(Quantize, AllocationLimitsAndResets) {
    EXPECT_FALSE(q.create(0));
    EXPECT_FALSE(q.create(-1));
    EXPECT_EQ(q.staffCount(), 2);
    EXPECT_FALSE(q.allocVoices(1, 256));  // the voice count is a byte
    EXPECT_FALSE(q.allocVoices(1, -1));
    EXPECT_TRUE(q.allocVoices(1, 255));

    q.setProtocolPos(0, 1, 6);
    q.setFlags(kQuantizeOddAlignment);
    q.resetPositions();
    EXPECT_EQ(q.getProtocolPos(0, 1), 0);
    EXPECT_EQ(q.flags(), 0u);

    q.setRate(0, 5, 2);
    q.setNote(0, 1);
    q.setAnzahl(0, 8);
    q.resetStaff(0);
    EXPECT_EQ(q.getRateIndex(0), 12);
    EXPECT_EQ(q.getNoteTicks(0), 240);
    EXPECT_EQ(q.getAnzahl(0), 2);
    EXPECT_EQ(q.voiceCount(0), 0);

    q.freeVoices();
    EXPECT_EQ(q.voiceCount(1), 0);
    q.clear();
    EXPECT_EQ(q.staffCount(), 0);
}

}  // namespace
}  // namespace scorecore
