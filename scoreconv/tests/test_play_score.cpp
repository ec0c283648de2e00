// The format-neutral play model: a score filled by hand, without any file,
// is measured, played and rendered; the position a pass reports starts anew
// with each pass; and a host that changes tempo, position and mode from
// another thread while a render runs is seen whole, never half old, half new.
#include "play/play_score.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/midi_out.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "play/play_proc.h"
#include "play_test_support.h"
#include "scorecore/result_codes.h"

namespace scoreconv {
namespace {

using platform::testing::readBytes;
using platform::testing::TempFolder;
using testing::buildModel;
using testing::FakeClock;
using testing::noteEvent;

// The tempos (quarters per minute) of every tempo meta event of a standard
// MIDI file; data bytes are below 0x80, so FF 51 03 only starts a meta event.
std::vector<int32_t> writtenTempos(const std::string& bytes) {
    std::vector<int32_t> tempos;
    for (std::size_t i = 0; i + 5 < bytes.size(); ++i) {
        if (static_cast<uint8_t>(bytes[i]) != 0xFF || bytes[i + 1] != 0x51 || bytes[i + 2] != 0x03) continue;
        const uint32_t us = (static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 3])) << 16) |
                            (static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + 4])) << 8) |
                            static_cast<uint8_t>(bytes[i + 5]);
        if (us > 0) tempos.push_back(static_cast<int32_t>((60'000'000 + us / 2) / us));
    }
    return tempos;
}

struct Pass {
    int rc = -1;
    int64_t playTime = -1;
    int state = -1;
    int result = -1;
};

Pass runPass(PlayScore& score, int32_t mode, const std::filesystem::path& target = {},
             const CRealTimeClock* clock = nullptr) {
    score.controls.setPlayMode(mode);
    Pass out;
    CPlayParams params;
    params.targetPath = target.string();
    params.playTime = &out.playTime;
    params.state = &out.state;
    params.result = &out.result;
    CPlayEnvironment env;
    env.clock = clock;
    out.rc = runPlayPass(score, params, env);
    return out;
}

TEST(PlayScore, AScoreFilledByHandIsMeasuredPlayedAndRendered) {
    TempFolder temp;
    PlayScore score(480);
    // Two voices: C-D in half notes against one whole-note E; 4/4 at 120.
    buildModel(score, {{noteEvent(0, 960, {60}), noteEvent(960, 960, {62})}, {noteEvent(0, 1920, {64})}});

    const Pass measured = runPass(score, kModePlayTime);
    EXPECT_EQ(measured.rc, scorecore::kOk);
    EXPECT_NEAR(static_cast<double>(measured.playTime), 2e7, 2e5);  // one bar at 120: 2 s

    FakeClock clock;
    platform::CaptureMidiOut device([&clock] { return clock.now(); });
    score.midiOut = &device;
    const Pass played = runPass(score, kModeRealTime, {}, &clock);
    EXPECT_EQ(played.rc, scorecore::kOk);
    EXPECT_EQ(testing::expectEveryNoteEnded(testing::captureNotes(device)), 3);

    const std::filesystem::path midi = temp.path() / "hand.mid";
    const Pass rendered = runPass(score, kModeRender, midi);
    EXPECT_EQ(rendered.rc, scorecore::kOk);
    const std::string bytes = readBytes(midi);
    ASSERT_GE(bytes.size(), 14u);
    EXPECT_EQ(bytes.substr(0, 4), "MThd");
    EXPECT_EQ(static_cast<uint8_t>(bytes[11]), 3);  // track 0 and one track per voice
}

// A render reports the position it reached; the next render starts from the
// beginning again unless the host set a position meanwhile.
TEST(PlayScore, EachPassStartsItsPositionAnew) {
    TempFolder temp;
    PlayScore score(480);
    buildModel(score, {{noteEvent(0, 1920, {60})}});
    const std::filesystem::path midi = temp.path() / "twice.mid";
    ASSERT_EQ(runPass(score, kModeRender, midi).rc, scorecore::kOk);
    const int64_t first = score.playPositionNow();
    EXPECT_NEAR(static_cast<double>(first), 2e7, 2e5);
    ASSERT_EQ(runPass(score, kModeRender, midi).rc, scorecore::kOk);
    EXPECT_EQ(score.playPositionNow(), first);

    // The host's own position answers until a pass reports again.
    score.controls.setSeekTarget(12345);
    EXPECT_EQ(score.playPositionNow(), 12345);
    EXPECT_EQ(score.playModeNow(), kModeRender);
}

// The host flips between two whole tempo rules, moves the position and sets
// the mode from another thread while a long render runs. Every tempo the
// render writes belongs to one rule or the other: a rule read half old, half
// new would give the score's own 120.
TEST(PlayScoreThreads, HostChangesDuringARenderAreSeenWhole) {
    TempFolder temp;
    PlayScore score(480);
    std::vector<CScoreEvent> notes;
    for (int32_t q = 0; q < 600; ++q) notes.push_back(noteEvent(q * 480, 480, {static_cast<uint8_t>(60 + q % 12)}));
    buildModel(score, {notes});
    score.controls.setPlayConditions(kCondTempoRule);
    CTempoSettings absolute;  // 60 whatever the score says
    absolute.TempoMode = 0;
    absolute.TempoAbs = 60;
    CTempoSettings relative;  // the score's 120 plus 60
    relative.TempoMode = 1;
    relative.TempoAdd = 60;
    score.controls.setTempo(absolute);
    score.controls.setPlayMode(kModeRender);

    const std::filesystem::path midi = temp.path() / "long.mid";
    std::atomic<bool> rendering{true};
    std::atomic<int> flips{0};
    std::thread host([&] {
        while (rendering.load()) {
            const int n = flips.load();
            score.controls.setTempo(n % 2 == 0 ? relative : absolute);
            // Kept small: a long render flips millions of times, and n * 1000 must not overflow.
            score.controls.setSeekTarget(int64_t{n % 100000} * 1000);
            score.controls.setPlayMode(kModeRender);
            EXPECT_GE(score.playPositionNow(), 0);
            EXPECT_EQ(score.playModeNow(), kModeRender);
            flips.store(n + 1);
        }
    });
    // A loaded machine may leave the host thread unscheduled through a whole
    // render: render again until the host's changes were met, each render
    // seeing only whole tempos.
    std::set<int32_t> seen;
    for (int pass = 0; pass < 20 && seen.size() < 2; ++pass) {
        const int before = flips.load();
        while (flips.load() < before + 10) std::this_thread::yield();
        const Pass rendered = runPass(score, kModeRender, midi);
        const std::vector<int32_t> tempos =
            rendered.rc == scorecore::kOk ? writtenTempos(readBytes(midi)) : std::vector<int32_t>{};
        EXPECT_EQ(rendered.rc, scorecore::kOk);
        EXPECT_FALSE(tempos.empty());
        if (tempos.empty()) break;  // the host thread is joined below either way
        for (const int32_t tempo : tempos) {
            EXPECT_TRUE(tempo == 60 || tempo == 180) << tempo;
            seen.insert(tempo);
        }
    }
    rendering.store(false);
    host.join();
    EXPECT_EQ(seen.size(), 2u);  // the renders met both rules
}

}  // namespace
}  // namespace scoreconv
