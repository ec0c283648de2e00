// How long a score plays and what its repeats play: the rests after the last
// note up to the last bar line, backward repeats with and without times,
// endings that name their passes, nested repeats, and the budget that ends a
// repeat that would go on for ever.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "musicxml/measure_reader.h"
#include "play_test_support.h"
#include "scorecore/xml_dom.h"

namespace scoreconv {
namespace {

using scorecore::kOk;
using testing::PlayHarness;

constexpr double k100nsPerSecond = 1e7;

// --- reading ----------------------------------------------------------------------------

TEST(BarlineRepeatData, TimesAndEveryEndingNumberAreRead) {
    struct Case {
        const char* barline;
        int32_t times;
        const char* numbers;  // what the player reads
        const char* label;    // the event's label, cut to its three characters
    };
    const Case cases[] = {
        {"<barline><repeat direction='backward' times='3'/></barline>", 3, "", ""},
        {"<barline><repeat direction='backward'/></barline>", 0, "", ""},
        {"<barline><repeat direction='backward' times='0'/></barline>", 0, "", ""},
        {"<barline><repeat direction='backward' times='-2'/></barline>", 0, "", ""},
        {"<barline><repeat direction='backward' times='twice'/></barline>", 0, "", ""},
        {"<barline><repeat direction='backward' times='100000'/></barline>", kMaxRepeatTimes, "", ""},
        {"<barline location='left'><repeat direction='forward' times='3'/></barline>", 0, "", ""},
        {"<barline location='left'><ending number=' 1, 2 ' type='start'/></barline>", 0, "1, 2", "1, "},
        {"<barline location='left'><ending number='1. 2. 3. 4.' type='start'/></barline>", 0, "1. 2. 3. 4.", "1. "},
    };
    for (const Case& c : cases) {
        scorecore::XmlDocument doc;
        ASSERT_EQ(scorecore::xmldomParseMemory(c.barline, doc), kOk) << c.barline;
        scorecore::CEventBarline out;
        CBarlineInfo info;
        ASSERT_EQ(readBarline(doc.root(), CReadContext{}, out, info), kOk) << c.barline;
        EXPECT_EQ(info.repeatTimes, c.times) << c.barline;
        EXPECT_EQ(info.endingNumbers, c.numbers) << c.barline;
        EXPECT_EQ(out.endingLabel, c.label) << c.barline;
    }
}

TEST(EndingPasses, NumberListsAndRangesNameTheirPasses) {
    struct Case {
        std::string_view numbers;
        uint32_t passes;
    };
    const Case cases[] = {
        {"1", 0b1},        {"1.", 0b1},        {"1, 2", 0b11},  {" 2 ", 0b10},   {"1. 2. 3.", 0b111},
        {"1.-3.", 0b111},  {"2-4", 0b1110},    {"3, 1", 0b101}, {"32", 1u << 31}, {"1, 33", 0b1},
        {"", 0},           {"first", 0},       {"0", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(endingPasses(c.numbers), c.passes) << c.numbers;
}

// --- playing ----------------------------------------------------------------------------

struct PlayCase {
    const char* fixture;
    std::vector<int> order;  // keys of the note-ons in real time
    double seconds;          // the play time, and how long real time takes
};

// Whole notes at 120, 2 s a bar of 4/4.
TEST(PlayLengthAndRepeats, ScoresPlayAsWrittenUpToTheirLastBarLine) {
    const PlayCase cases[] = {
        // The closing rests are waited out: a quarter and three rests last the bar.
        {"quarter_and_rests.xml", {72}, 2.0},
        // Nothing but rests on three staves still lasts its two bars of 3/4.
        {"length_rests_only.xml", {}, 3.0},
        // Without a forward repeat the repeat goes back to the start.
        {"repeat_to_start.xml", {60, 62, 60, 62, 64, 64, 67}, 14.0},
        // The outer repeat plays the inner section once more, not twice.
        {"repeat_nested.xml", {60, 62, 62, 64, 60, 62, 64, 67}, 16.0},
        {"repeat_endings_plain.xml", {60, 62, 60, 64, 67}, 10.0},
        // 1 2 3 2 4 5 as before: the first ending is skipped on the way back.
        {"walk_repeats.xml", {72, 74, 76, 74, 77, 79}, 12.0},
    };
    for (const PlayCase& c : cases) {
        SCOPED_TRACE(c.fixture);
        PlayHarness h;
        h.load(c.fixture);
        ASSERT_EQ(h.play(kModePlayTime), kOk);
        EXPECT_NEAR(static_cast<double>(h.playTime) / k100nsPerSecond, c.seconds, 0.001);
        EXPECT_EQ(h.state, kPlayStateEnded);

        ASSERT_EQ(h.play(kModeRealTime), kOk);
        EXPECT_NEAR(static_cast<double>(h.clock.elapsedNs()) / 1e9, c.seconds, 0.001);
        std::vector<int> order;
        for (const testing::NoteMessage& n : h.notes()) {
            if (n.on()) order.push_back(n.key);
        }
        EXPECT_EQ(order, c.order);
        testing::expectEveryNoteEnded(h.notes());
    }
}

// A model whose reader gave no length (as one built by hand) ends in the step
// after its last note; one with a length ends on its last bar line, and a
// note that sounds past it plays out.
TEST(PlayLengthAndRepeats, TheModelsLengthSaysWhereAPassEnds) {
    struct Case {
        int32_t scoreLength;
        int64_t ms;
    };
    const Case cases[] = {{0, 516}, {1920, 2000}, {240, 500}};
    for (const Case& c : cases) {
        PlayHarness h(kModePlayTime);
        testing::buildModel(*h.file, {{testing::noteEvent(0, 480, {60})}});
        h.file->scoreLength = c.scoreLength;
        ASSERT_EQ(h.play(kModePlayTime), kOk);
        EXPECT_EQ(h.playTime, c.ms * 10000) << c.scoreLength;
    }
}

// times="100000" on a bar would play for days: the step budget cuts the pass
// off after some 64 plays of the score (4 s, and 2 s of slack) and every note
// ends.
TEST(PlayLengthAndRepeats, ARepeatWithoutEndIsCutOffByTheBudget) {
    for (const int32_t mode : {kModePlayTime, kModeRealTime}) {
        PlayHarness h;
        h.load("repeat_runaway.xml");
        ASSERT_EQ(h.play(mode), kOk) << mode;
        EXPECT_TRUE(h.logged("step budget used up: pass cut off")) << mode;
        const int64_t ms = mode == kModePlayTime ? h.playTime / 10000 : h.clock.elapsedNs() / 1'000'000;
        EXPECT_GT(ms, int64_t{64} * 2000) << mode;
        EXPECT_LT(ms, int64_t{66} * 6000) << mode;
        testing::expectEveryNoteEnded(h.notes());
    }
}

}  // namespace
}  // namespace scoreconv
