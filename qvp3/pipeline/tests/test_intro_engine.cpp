// The intro of a score handed to our engine: the tune-up chord and the
// count-in lengthen the playing time, sound first in the engine's render,
// and are gone again when the options are switched off.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <vector>
#include <string>

#include "../../../scoreconv/tests/mido_support.h"
#include "engine_test_support.h"
#include "qvp3_pipeline/entry_player.h"
#include "qvp3_pipeline/intro_player.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;

fs::path sharedScore(const std::string& name) { return fs::path(QVP3_SHARED_TESTDATA_DIR) / "musicxml" / name; }

class IntroEngine : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path tvrx = f_.dir.path() / "scale.tvrx";
        ASSERT_EQ(testing::convertToTvrx(sharedScore("01a-Pitches-Pitches.xml"), tvrx), 0);
        ASSERT_EQ(f_.open(tvrx), 0);
        entry_ = &f_.project.entries.back();
        plainMs_ = entry_->durationMs;
        ASSERT_GT(plainMs_, 0);
    }
    int render() {
        const std::string path = (f_.dir.path() / "render.mid").string();
        f_.engine.call(92, TAVTUNE_OPTION_RENDERING, TAVTUNE_OPTION_RENDERING);
        const int result = static_cast<int>(f_.engine.call(179, path.c_str()));
        f_.engine.call(92, TAVTUNE_OPTION_RENDERING, TAVTUNE_OPTION_OFF);
        return result;
    }
    scoreconv::testing::MidoFile rendered() {
        return scoreconv::testing::readWithMido(f_.dir.path() / "render.mid", f_.dir.path());
    }

    testing::EngineProject f_;
    ProjectEntry* entry_ = nullptr;
    std::int32_t plainMs_ = 0;
};

TEST_F(IntroEngine, TuneUpChordAndCountInComeBeforeTheMusic) {
    const struct {
        const char* what;
        std::uint64_t features;
        int tuneUpType;
        int countIn;
        int addedMs;  // the score opens at 120 in 4/4
    } cases[] = {
        {"a chord held a second", kPlayTuneUp, 2, 0, 1000},
        {"one bar counted in", kPlayCountIn, 0, 1, 2000},
        {"both, the count-in after the chord", kPlayTuneUp | kPlayCountIn, 2, 1, 3000},
        {"options off: no intro", 0, 2, 1, 0},
    };
    for (const auto& c : cases) {
        f_.project.playFeatures = c.features;
        entry_->tuneUp.Type = c.tuneUpType;
        entry_->tuneUp.Zerlegt = 0;
        entry_->tuneUp.Duration = 1000;
        entry_->tuneUp.Instrument = 0;
        entry_->metronome.CountIn = c.countIn;
        entry_->metronome.Use = 0;
        ASSERT_TRUE(plySendIntroToEngine(*entry_, f_.engine)) << c.what;
        std::int32_t ms = 0;
        ASSERT_EQ(f_.engine.GetPlayTime(ms), 0) << c.what;
        EXPECT_NEAR(ms, plainMs_ + c.addedMs, 20) << c.what;
        EXPECT_EQ(entry_->durationMs, c.addedMs > 0 ? ms : entry_->durationMs) << c.what;
    }
}

TEST_F(IntroEngine, RenderPlaysTheChordFirst) {
    if (!scoreconv::testing::midoAvailable()) GTEST_SKIP() << "python3-mido is not installed";
    ASSERT_EQ(render(), 0);
    const auto plain = rendered();
    ASSERT_TRUE(plain.read);
    ASSERT_FALSE(plain.notesOn().empty());
    std::int64_t firstPlain = std::numeric_limits<std::int64_t>::max();
    for (const auto& n : plain.notesOn()) firstPlain = std::min(firstPlain, n.tick);

    f_.project.playFeatures = kPlayTuneUp;
    entry_->tuneUp.Type = 2;  // C major on octave 5: 60, 64, 67
    entry_->tuneUp.Zerlegt = 0;
    entry_->tuneUp.Duration = 1000;
    entry_->tuneUp.Instrument = 0;
    ASSERT_TRUE(plySendIntroToEngine(*entry_, f_.engine));
    ASSERT_EQ(render(), 0);
    const auto withIntro = rendered();
    ASSERT_TRUE(withIntro.read);
    std::vector<int> chord;
    std::int64_t firstMusic = std::numeric_limits<std::int64_t>::max();
    for (const auto& n : withIntro.notesOn()) {
        if (n.tick == 0) chord.push_back(n.number("note"));
        if (n.tick > 0) firstMusic = std::min(firstMusic, n.tick);
    }
    std::sort(chord.begin(), chord.end());
    EXPECT_EQ(chord, (std::vector<int>{60, 64, 67}));
    // A second at 120 is two quarters.
    EXPECT_EQ(firstMusic - firstPlain, 2 * withIntro.division);
}

}  // namespace
}  // namespace qvp3
