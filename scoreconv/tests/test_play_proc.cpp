// The play procedure on a simulated clock: play time and length, real-time
// timing and progress reports, stopping, preview, fast-forward, count-in,
// the tune-up, swing and the bounds that make every pass end.
#include "play/play_proc.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <span>
#include <stdexcept>
#include <thread>
#include <utility>

#include "platform/threads.h"
#include "platform_testing/temp_folder.h"
#include "play/play_passes.h"
#include "play_test_support.h"

namespace scoreconv {
namespace {

using scorecore::kErrStopped;
using scorecore::kOk;
using testing::buildModel;
using testing::expectEveryNoteEnded;
using testing::markEvent;
using testing::noteEvent;
using testing::NoteMessage;
using testing::PlayHarness;
using testing::tempoEvent;
using ::testing::ElementsAre;

constexpr int64_t kSecond100ns = 10'000'000;
constexpr uint32_t kForward = kKindRepeatMark | kKindForwardRepeat | 0x40;
constexpr uint32_t kBackward = kKindRepeatMark | kKindBackwardRepeat | 0x40;

// --- play time --------------------------------------------------------------------------

struct PlayTimeCase {
    const char* name;
    uint8_t playRepeats;
    uint64_t conditions;
    int32_t tempoMode;
    int32_t tempoAbs;
    int64_t ms;
    scorecore::CMeasurePos length;  // bar and beat counted from 0
};

class PlayTime : public ::testing::TestWithParam<PlayTimeCase> {};

// walk_repeats: bars 1 | 2 (forward repeat) | 3 (first ending, backward
// repeat) | 4 (second ending) | 5, a whole note each, at 120.
TEST_P(PlayTime, MeasuresRepeatsAndTempo) {
    const PlayTimeCase& c = GetParam();
    PlayHarness h(kModePlayTime);
    h.load("walk_repeats.xml");
    h.file->PlayRepeats = c.playRepeats;
    h.file->controls.setPlayConditions(c.conditions);
    h.file->controls.setTempoMode(static_cast<uint8_t>(c.tempoMode));
    h.file->controls.setTempoAbs(c.tempoAbs);
    EXPECT_EQ(h.play(kModePlayTime), kOk);
    EXPECT_EQ(h.result, kOk);
    EXPECT_EQ(h.state, kPlayStateEnded);
    EXPECT_EQ(h.playTime, c.ms * 10000);
    EXPECT_EQ(h.file->playLength.bar, c.length.bar);
    EXPECT_EQ(h.file->playLength.beat, c.length.beat);
    EXPECT_EQ(h.file->playLength.tick, c.length.tick);
    EXPECT_TRUE(h.device.messages().empty());
    EXPECT_TRUE(h.logged("\tmxmlPlayProc|Start"));
    EXPECT_TRUE(h.logged("\tmxmlPlayProc|End"));
}

INSTANTIATE_TEST_SUITE_P(
    PlayTimeCases, PlayTime,
    ::testing::Values(
        // 1 2 3 2 4 5 (the first ending is skipped on the way back), each bar
        // 2 s at 120, up to the final bar line.
        PlayTimeCase{"Repeats", 1, 0, 1, -1, 12000, {0, 5, 0, 0}},
        PlayTimeCase{"RepeatsOff", 0, 0, 1, -1, 10000, {0, 5, 0, 0}},
        PlayTimeCase{"AbsoluteTempo60", 1, kCondTempoRule, 0, 60, 24000, {0, 5, 0, 0}},
        PlayTimeCase{"TempoRuleOffIgnoresAbsolute", 1, 0, 0, 60, 12000, {0, 5, 0, 0}},
        // A shortened last note ends before the final bar line, which still counts.
        PlayTimeCase{"Shortened", 1, kCondShorten, 1, -1, 12000, {0, 5, 0, 0}}),
    [](const auto& param) { return std::string(param.param.name); });

// The log shows how far a pass came: its stations in order, the file ones
// only when a MIDI file is written.
TEST(PlayProcLog, StationsFollowEachOtherInOrder) {
    platform::testing::TempFolder folder;
    struct Case {
        int32_t mode;
        std::vector<std::string> stations;
    };
    const Case cases[] = {
        {kModePlayTime, {"Start", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "13", "14", "15", "16", "End"}},
        {kModeRender, {"Start", "1", "FileMode 1", "FileMode 2", "FileMode 3", "2", "3", "4", "5", "6", "7", "8",
                       "9", "10", "11", "12", "14", "15", "16", "End"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        PlayHarness h(c.mode);
        h.load("walk_repeats.xml");
        h.lines.clear();
        h.midiPath = folder.path() / "out.mid";
        ASSERT_EQ(h.play(c.mode), kOk);
        std::vector<std::string> stations;
        for (const std::string& line : h.lines) {
            const std::string prefix = "\tmxmlPlayProc|";
            if (line.rfind(prefix, 0) == 0) stations.push_back(line.substr(prefix.size(), line.find_first_of("\r\n") - prefix.size()));
        }
        EXPECT_EQ(stations, c.stations);
    }
}

TEST(PlayTimeModel, TempoMarksOfNoneOrZeroCountAs120) {
    for (const int32_t tempo : {-1, 0}) {
        PlayHarness h(kModePlayTime);
        buildModel(*h.file, {{noteEvent(0, 1920, {60})}}, {tempoEvent(0, tempo)});
        EXPECT_EQ(h.play(kModePlayTime), kOk) << tempo;
        EXPECT_EQ(h.playTime, 2016 * 10000) << tempo;  // 129 steps of 15.625 ms
        EXPECT_EQ(h.file->initialTempo, 120);
    }
}

TEST(PlayTimeModel, LongPiecesCountIn64Bits) {
    // 1000 quarters at 120: 500 s (and one step), far beyond what 32 bits of
    // 100 ns hold.
    PlayHarness h(kModePlayTime);
    buildModel(*h.file, {{noteEvent(0, 480 * 1000, {60})}});
    EXPECT_EQ(h.play(kModePlayTime), kOk);
    EXPECT_EQ(h.playTime, int64_t{500'016} * 10000);
    EXPECT_EQ(h.reports(kProgressSeconds).back(), 500);
    EXPECT_EQ(h.file->playLength.bar, 250);

    // Real time moves the play position just as far.
    h.file->controls.setSeekTarget(0);
    EXPECT_EQ(h.play(kModeRealTime), kOk);
    EXPECT_EQ(h.file->playPositionNow(), int64_t{500'016} * 10000);
    EXPECT_EQ(h.clock.elapsedNs(), int64_t{500'015'625'000});
}

TEST(PlayTimeModel, EmptyFileEndsAtOnce) {
    PlayHarness h(kModePlayTime);
    EXPECT_EQ(h.play(kModePlayTime), kOk);
    EXPECT_EQ(h.playTime, 0);
    EXPECT_EQ(h.state, kPlayStateEnded);
    EXPECT_EQ(h.play(kModeRealTime), kOk);
    EXPECT_TRUE(h.device.messages().empty());
}

TEST(PlayTimeModel, GetPlaytimeRunsAPlayTimePassAndKeepsTheMode) {
    PlayHarness h(kModeRealTime);
    h.load("walk_repeats.xml");
    h.file->controls.setPlayMode(kModeRender);
    int64_t time = 0;
    EXPECT_EQ(measurePlayTime(*h.file, &time), kOk);
    EXPECT_EQ(time, 12000 * 10000);
    EXPECT_EQ(h.file->playModeNow(), kModeRender);
    EXPECT_TRUE(h.device.messages().empty());
}

TEST(PlayTimeModel, NotesWhichMarksTheScoreUses) {
    PlayHarness h(kModePlayTime);
    h.load("walk_directions.xml");
    EXPECT_EQ(h.play(kModePlayTime), kOk);
    const auto& rows = h.file->dynamik.rows;
    EXPECT_EQ(rows[2].presentInFile, 1);  // f
    EXPECT_EQ(rows[5].presentInFile, 1);  // p
    EXPECT_EQ(rows[0].presentInFile, 0);  // fff
}

TEST(PlayTimeModel, AScanWithASlotMeasuresThePlayTime) {
    PlayHarness h(kModeRealTime);
    int64_t time = 0;
    EXPECT_EQ(mxmlScanFile(h.file.get(), testing::fixture("walk_repeats.xml").string(), &time), kOk);
    EXPECT_EQ(time, 12000 * 10000);
    EXPECT_EQ(h.file->playModeNow(), kModeRealTime);
    EXPECT_EQ(h.file->playLength.bar, 5);
    EXPECT_TRUE(h.logged("mxmlPlayProc|End"));
}

// --- real-time timing -------------------------------------------------------------------

struct StepCase {
    int32_t tempo;
    int64_t noteOffNs;  // a note of 64 steps
};

class PlayRealTimeSteps : public ::testing::TestWithParam<StepCase> {};

TEST_P(PlayRealTimeSteps, SixtyFourStepsLastTheirExactTime) {
    PlayHarness h;
    buildModel(*h.file, {{noteEvent(0, 64 * 15, {60})}}, {tempoEvent(0, GetParam().tempo)});
    EXPECT_EQ(h.play(kModeRealTime), kOk);
    const auto notes = h.notes();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_TRUE(notes[0].on());
    EXPECT_EQ(notes[0].ms, 0);
    EXPECT_TRUE(notes[1].off());
    const auto last = h.device.messages().back();
    EXPECT_NEAR(static_cast<double>(last.time.time_since_epoch().count()), static_cast<double>(GetParam().noteOffNs),
                1.0);
}

INSTANTIATE_TEST_SUITE_P(Tempos, PlayRealTimeSteps,
                         ::testing::Values(StepCase{120, 1'000'000'000}, StepCase{100, 1'200'000'000},
                                           StepCase{90, 1'333'333'333}, StepCase{-1, 1'000'000'000}));

TEST(PlayRealTime, OvershootOfOneWaitIsNotCarriedIntoTheNext) {
    PlayHarness h;
    h.clock.setOvershoot(std::chrono::milliseconds(3));
    buildModel(*h.file, {{noteEvent(0, 64 * 15, {60})}});
    EXPECT_EQ(h.play(kModeRealTime), kOk);
    const auto notes = h.notes();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[1].ms, 1003);  // one overshoot, not 64
}

TEST(PlayRealTime, ReportsTempoSecondsAndPositions) {
    PlayHarness h;
    buildModel(*h.file, {{noteEvent(0, 1920, {60}), noteEvent(1920, 1920, {62})}},
               {tempoEvent(0, 120), tempoEvent(1920, 60)});
    EXPECT_EQ(h.play(kModeRealTime), kOk);
    EXPECT_THAT(h.reports(kProgressTempo), ElementsAre(120, 60));
    EXPECT_THAT(h.reports(kProgressSeconds), ElementsAre(1, 2, 3, 4, 5, 6));
    // Every beat reports its position; the first beats of bars 1 and 2.
    const auto positions = h.reports(positionWParam(1));
    ASSERT_FALSE(positions.empty());
    EXPECT_EQ(positions.front(), positionLParam(0, 1));
    bool barTwo = false;
    for (const auto& m : h.target.messages()) {
        barTwo = barTwo || (m.wParam == positionWParam(2) && m.lParam == positionLParam(0, 1));
    }
    EXPECT_TRUE(barTwo);
    EXPECT_EQ(h.file->playPositionNow(), 6031 * 10000);  // the last step at 60 lasts 31.25 ms
}

TEST(PlayRealTime, HostTempoHoldsWhileTempoMarksAreIgnored) {
    PlayHarness h;
    buildModel(*h.file, {{noteEvent(0, 1920, {60})}}, {tempoEvent(0, 60)});
    h.file->IgnoreTempo = 1;
    h.file->cursor.tempo = 240;
    EXPECT_EQ(h.play(kModeRealTime), kOk);
    EXPECT_EQ(h.notes().back().ms, 1000);
    EXPECT_EQ(h.file->initialTempo, 60);
}

// --- leaving early ----------------------------------------------------------------------

struct SignalCase {
    int signal;
    int result;
    int state;
    bool ends;  // plays to the end
};

class PlayStopWord : public ::testing::TestWithParam<SignalCase> {};

TEST_P(PlayStopWord, EndsThePassAsTheWordSays) {
    const SignalCase& c = GetParam();
    PlayHarness h(kModePlayTime);
    h.load("walk_repeats.xml");
    h.target.setSendHandler([&](platform::MessageId, platform::WParam w, platform::LParam l) {
        if (w == kProgressSeconds && l == 2) h.signal = c.signal;
        return platform::LResult{0};
    });
    EXPECT_EQ(h.play(kModePlayTime), c.result);
    EXPECT_EQ(h.result, c.result);
    EXPECT_EQ(h.state, c.state);
    EXPECT_EQ(h.reports(kProgressSeconds).back(), c.ends ? 12 : 2);
}

INSTANTIATE_TEST_SUITE_P(Words, PlayStopWord,
                         ::testing::Values(SignalCase{kSignalStop, kErrStopped, kPlayStateEnded, false},
                                           SignalCase{kSignalLeave, kOk, kPlayStateSignalled, false},
                                           SignalCase{4, kOk, kPlayStateEnded, false},
                                           SignalCase{6, kOk, kPlayStateEnded, false},
                                           SignalCase{2, kOk, kPlayStateEnded, true},
                                           SignalCase{7, kOk, kPlayStateEnded, true}));

TEST(PlayStop, MidPlayLeavesEveryNoteOff) {
    for (const int word : {kSignalStop, kSignalLeave, 5}) {
        PlayHarness h;
        h.load("walk_piano.xml");
        h.file->controls.setPlayConditions(kCondMetronome);
        h.file->metronom.CountIn = 0;
        h.target.setSendHandler([&](platform::MessageId, platform::WParam w, platform::LParam l) {
            if (w == kProgressSeconds && l == 1) h.signal = word;
            return platform::LResult{0};
        });
        h.play(kModeRealTime);
        const auto notes = h.notes();
        ASSERT_FALSE(notes.empty());
        expectEveryNoteEnded(notes);
        // Then all notes off on each channel that played, the click's too.
        std::set<int> played;
        for (const NoteMessage& n : notes) {
            if (n.on()) played.insert(n.channel());
        }
        EXPECT_TRUE(played.count(9) == 1) << "the metronome clicked";
        const auto all = h.shortMessages();
        for (const int channel : played) {
            const uint32_t allOff = platform::packShortMessage(static_cast<uint8_t>(0xB0 | channel), 123, 0);
            EXPECT_NE(std::find(all.begin(), all.end(), allOff), all.end()) << "channel " << channel;
        }
        EXPECT_LE(notes.back().ms, 1100);
    }
}

TEST(PlayStop, WorkerStopRequestEndsThePlay) {
    PlayHarness h;
    h.load("walk_repeats.xml");
    CPlayParams params;
    int state = -1;
    params.state = &state;
    h.file->controls.setPlayMode(kModeRealTime);
    // The real clock: the host stops the worker while it plays.
    ASSERT_EQ(playOnWorker(*h.file, &params, &h.device, nullptr), kOk);
    EXPECT_EQ(playOnWorker(*h.file, &params, &h.device, nullptr), kErrStopped);  // one at a time
    EXPECT_EQ(measurePlayTime(*h.file, nullptr), kErrStopped);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (h.notes().empty() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(h.file->worker.stop(std::chrono::seconds(10)));
    EXPECT_EQ(state, kPlayStateSignalled);
    expectEveryNoteEnded(h.notes());
}

// A host's output that fails by throwing.
class ThrowingMidiOut : public platform::MidiOutDevice {
public:
    bool shortMessage(std::uint32_t) override { throw std::runtime_error("output gone"); }
    bool longMessage(std::span<const std::uint8_t>) override { throw std::runtime_error("output gone"); }
    bool reset() override { throw std::runtime_error("output gone"); }
};

TEST(PlayStop, AnOutputThatThrowsEndsTheWorkersPlayWithAnError) {
    PlayHarness h;
    h.load("walk_repeats.xml");
    ThrowingMidiOut device;
    int result = 1;
    CPlayParams params;
    params.result = &result;
    h.file->controls.setPlayMode(kModeRealTime);
    // Escaping the worker, the exception would end the host's process.
    ASSERT_EQ(playOnWorker(*h.file, &params, &device, &h.clock), kOk);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (h.file->worker.running() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(h.file->worker.stop(std::chrono::seconds(10)));
    EXPECT_EQ(result, scorecore::kErrOutOfMemory);
}

TEST(PlayPreview, StopsAfterTheReportOfItsLastSecond) {
    PlayHarness h;
    h.load("walk_repeats.xml");
    h.file->PreviewDo = 1;
    h.file->PreviewSec = 3;
    EXPECT_EQ(h.play(kModeRealTime), kOk);
    EXPECT_EQ(h.reports(kProgressSeconds).back(), 3);
    const auto notes = h.notes();
    expectEveryNoteEnded(notes);
    EXPECT_LE(notes.back().ms, 3000);
}

// --- modes ------------------------------------------------------------------------------

TEST(PlayFastForward, PlaysFromThePlayPositionOn) {
    PlayHarness h;
    h.load("walk_repeats.xml");
    h.file->controls.setSeekTarget(2 * kSecond100ns);  // bar 2
    EXPECT_EQ(h.play(kModeFastForward), kOk);
    EXPECT_EQ(h.file->playModeNow(), kModeRealTime);
    const auto notes = h.notes();
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes.front().key, 74);  // D5 at once
    EXPECT_EQ(notes.front().ms, 0);
    EXPECT_EQ(std::count_if(notes.begin(), notes.end(), [](const NoteMessage& n) { return n.key == 72; }), 0);
    expectEveryNoteEnded(notes);
    EXPECT_EQ(h.clock.elapsedNs(), int64_t{10'000'000'000});
    EXPECT_EQ(h.file->playPositionNow(), 12000 * 10000);
}

TEST(PlayLoadAndPlay, PlaysInRealTime) {
    // Loaded for load-and-play: without the channel plan and the play state.
    PlayHarness h(kModeLoadAndPlay);
    h.load("walk_repeats.xml");
    EXPECT_EQ(h.play(kModeLoadAndPlay), kOk);
    EXPECT_EQ(h.clock.elapsedNs(), int64_t{12'000'000'000});
    const auto notes = h.notes();
    EXPECT_EQ(std::count_if(notes.begin(), notes.end(), [](const NoteMessage& n) { return n.on(); }), 6);
}

TEST(PlayCountIn, ClicksTwoBarsThenTheMusicStartsAtBarOne) {
    PlayHarness h;
    buildModel(*h.file, {{noteEvent(0, 480, {60})}});
    h.file->controls.setPlayConditions(kCondMetronome);
    h.file->metronom.CountIn = 2;
    h.file->metronom.Use = 0;
    EXPECT_EQ(h.play(kModeRealTime), kOk);
    std::vector<int64_t> clicks;
    int64_t noteAt = -1;
    for (const NoteMessage& n : h.notes()) {
        if (n.on() && n.key == 42) clicks.push_back(n.ms);
        if (n.on() && n.key == 60) noteAt = n.ms;
    }
    EXPECT_THAT(clicks, ElementsAre(0, 500, 1000, 1500, 2000, 2500, 3000, 3500));
    EXPECT_EQ(noteAt, 4000);
    // The positions run through bars -1 and 0 before bar 1.
    std::vector<int32_t> bars;
    for (const auto& m : h.target.messages()) {
        if (m.wParam == kProgressTempo || m.wParam == kProgressSeconds) continue;
        const auto bar = static_cast<int16_t>(m.wParam >> 16) + 1;
        if (bars.empty() || bars.back() != bar) bars.push_back(bar);
    }
    EXPECT_THAT(bars, ElementsAre(-1, 0, 1));
    expectEveryNoteEnded(h.notes());
}

TEST(PlayCountIn, UpbeatPlaysInTheLastCountInBar) {
    PlayHarness h;
    h.load("walk_upbeat.xml");  // 3/4, a quarter before bar 1
    h.file->controls.setPlayConditions(kCondMetronome);
    h.file->metronom.CountIn = 1;
    h.file->metronom.Use = 0;
    EXPECT_EQ(h.play(kModeRealTime), kOk);
    std::vector<std::pair<int64_t, int>> ons;
    for (const NoteMessage& n : h.notes()) {
        if (n.on()) ons.emplace_back(n.ms, n.key);
    }
    ASSERT_GE(ons.size(), 4u);
    // Two clicks of the count-in bar, then the upbeat G4 where the third would be.
    EXPECT_EQ(ons[0], std::make_pair(int64_t{0}, 42));
    EXPECT_EQ(ons[1], std::make_pair(int64_t{500}, 42));
    EXPECT_EQ(ons[2], std::make_pair(int64_t{1000}, 67));
    EXPECT_EQ(ons[3], std::make_pair(int64_t{1500}, 72));
}

TEST(PlayMetronomeOnly, ClicksWithoutNotes) {
    PlayHarness h;
    h.load("walk_repeats.xml");
    h.file->controls.setPlayConditions(kCondMetronome | kCondMetronomeOnly);
    h.file->metronom.CountIn = 0;
    EXPECT_EQ(h.play(kModeRealTime), kOk);
    const auto notes = h.notes();
    EXPECT_TRUE(std::all_of(notes.begin(), notes.end(), [](const NoteMessage& n) { return n.key == 42; }));
    // Every beat of the 6 bars played, none on the final bar line.
    EXPECT_EQ(std::count_if(notes.begin(), notes.end(), [](const NoteMessage& n) { return n.on(); }), 24);
    expectEveryNoteEnded(notes);
}

TEST(PlayTuneUp, StoppedAtOnceSkipsTheScore) {
    PlayHarness h;
    h.load("walk_repeats.xml");
    h.file->controls.setPlayConditions(kCondTuneUp);
    h.file->einstimmung.Type = 2;
    h.file->einstimmung.Zerlegt = 0;
    platform::Event event(platform::Event::Kind::ManualReset, true);
    int stopWord = 0;
    h.file->tuneUpParams.event = &event;
    h.file->tuneUpParams.stopWord = &stopWord;
    EXPECT_EQ(h.play(kModeRealTime), kOk);
    EXPECT_EQ(stopWord, kTuneUpStopped);
    EXPECT_EQ(h.state, kPlayStateEnded);
    for (const NoteMessage& n : h.notes()) EXPECT_NE(n.key, 72);
    EXPECT_TRUE(h.reports(kProgressSeconds).empty());
}

TEST(PlayTuneUp, PlaysBeforeTheMusic) {
    PlayHarness h;
    h.load("walk_repeats.xml");
    h.file->controls.setPlayConditions(kCondTuneUp);
    h.file->einstimmung.Type = 2;
    h.file->einstimmung.Zerlegt = 0;
    h.file->einstimmung.Duration = 1000;
    EXPECT_EQ(h.play(kModeRealTime), kOk);
    const auto notes = h.notes();
    ASSERT_GE(notes.size(), 4u);
    EXPECT_EQ(notes[0].key, 60);  // the C major chord
    const auto first = std::find_if(notes.begin(), notes.end(), [](const NoteMessage& n) { return n.key == 72; });
    ASSERT_NE(first, notes.end());
    EXPECT_EQ(first->ms, 1500);  // after the chord and the pause
}

// --- sounding ---------------------------------------------------------------------------

TEST(PlaySounding, ConditionsChooseWhatSounds) {
    struct Case {
        uint64_t conditions;
        bool voiceOff;
        std::vector<int> keys;
    };
    const Case cases[] = {
        {0, false, {60, 64}},
        {kCondVoiceOnOff, true, {60}},           // voice 2 switched off
        {0, true, {60, 64}},                     // ... counts only with the condition
        {kCondPercussionOnly, false, {}},        // no percussion staff
        {kCondTranspose, false, {62, 66}},       // TranspAdd 2
        {kCondMetronome | kCondMetronomeOnly, false, {}},
    };
    for (const Case& c : cases) {
        PlayHarness h;
        buildModel(*h.file, {{noteEvent(0, 480, {60})}, {noteEvent(0, 480, {64}, 1)}});
        h.file->controls.setPlayConditions(c.conditions);
        h.file->metronom.CountIn = 0;
        h.file->metronom.Use = 0;
        h.file->TranspAdd = 2;
        if (c.voiceOff) h.file->onOff.setVoiceOnOff(0, 1, scorecore::kStateOff);
        EXPECT_EQ(h.play(kModeRealTime), kOk);
        std::vector<int> keys;
        for (const NoteMessage& n : h.notes()) {
            if (n.on()) keys.push_back(n.key);
        }
        EXPECT_EQ(keys, c.keys) << "conditions " << c.conditions;
    }
}

TEST(PlaySounding, ANewNoteOfAVoiceEndsItsEarlierOnes) {
    // The first note would last past the second's start.
    PlayHarness h;
    buildModel(*h.file, {{noteEvent(0, 1920, {60}), noteEvent(480, 480, {62})}});
    EXPECT_EQ(h.play(kModeRealTime), kOk);
    const auto notes = h.notes();
    ASSERT_EQ(notes.size(), 4u);
    EXPECT_TRUE(notes[1].off());
    EXPECT_EQ(notes[1].key, 60);
    EXPECT_EQ(notes[1].ms, 500);
    expectEveryNoteEnded(notes);
}

TEST(PlaySwing, SplitsPairsOfEighthsLongShort) {
    for (const uint64_t conditions : {uint64_t{0}, kCondSwing}) {
        PlayHarness h;
        buildModel(*h.file, {{noteEvent(0, 240, {60}), noteEvent(240, 240, {62}), noteEvent(480, 240, {64}),
                              noteEvent(720, 240, {65})}});
        h.file->quantize.setRate(0, 2, 1);
        h.file->quantize.setNote(0, 0);
        h.file->controls.setPlayConditions(conditions);
        EXPECT_EQ(h.play(kModeRealTime), kOk);
        std::vector<int64_t> onsets;
        for (const NoteMessage& n : h.notes()) {
            if (n.on()) onsets.push_back(n.ms);
        }
        if (conditions == 0) {
            EXPECT_THAT(onsets, ElementsAre(0, 250, 500, 750));
        } else {
            // 2:1 makes the 240 + 240 ticks 320 + 160; real time plays them on
            // its 15-tick steps (330 and 810 ticks).
            EXPECT_THAT(onsets, ElementsAre(0, 343, 500, 843));
        }
    }
}

TEST(PlayDynamics, RampStepsReachTheirTargetWithoutDividingByZero) {
    // A ramp of one step (a wedge shorter than a step) and one with a step
    // count of 0 both go straight to the target.
    PlayHarness h;
    CScoreEvent one;
    makeRampStep(one, 0, {44, 1, 90, 0});
    CScoreEvent zero;
    makeRampStep(zero, 480, {44, 1, 110, 0});
    zero.midi[1] = 0;
    CScoreEvent half;
    makeRampStep(half, 960, {90, 2, -6, 1});
    buildModel(*h.file, {{one, noteEvent(0, 480, {60}), zero, half, noteEvent(960, 480, {62})}});
    h.file->controls.setPlayConditions(kCondDynamics);
    EXPECT_EQ(h.play(kModeRealTime), kOk);
    std::vector<int> volumes;
    for (const uint32_t m : h.shortMessages()) {
        if ((m & 0xFFFF) == (0xB0 | 7 << 8)) volumes.push_back(static_cast<int>(m >> 16));
    }
    // Set-up 74, then 90, 110 and half of 90.
    EXPECT_THAT(volumes, ElementsAre(74, 90, 110, 45));
}

// --- bounds -----------------------------------------------------------------------------

TEST(PlayBounds, StepLimitCutsAPassOffWithALogLine) {
    PlayHarness h(kModePlayTime);
    h.load("walk_repeats.xml");
    CPlayEnvironment env;
    env.stepLimit = 64;
    EXPECT_EQ(h.play(kModePlayTime, env), kOk);
    EXPECT_EQ(h.playTime, 1000 * 10000);
    EXPECT_TRUE(h.logged("cut off"));
}

// Score-wide rows full of repeat marks in any order and combination: every
// pass ends, each backward mark jumps back at most once.
TEST(PlayBounds, AnyRepeatLayoutEnds) {
    std::mt19937 random(7);
    const uint32_t kinds[] = {kForward, kBackward, kKindFirstEnding, kKindRepeatMark | kKindEndingEnd,
                              kForward | kBackward, kBackward | kKindFirstEnding};
    for (int round = 0; round < 200; ++round) {
        PlayHarness h(kModePlayTime);
        std::vector<CScoreEvent> global;
        const int marks = 1 + static_cast<int>(random() % 12);
        for (int i = 0; i < marks; ++i) {
            global.push_back(markEvent(static_cast<int32_t>(random() % 9) * 480, kinds[random() % std::size(kinds)]));
        }
        std::sort(global.begin(), global.end(), [](const auto& a, const auto& b) { return a.start < b.start; });
        buildModel(*h.file, {{noteEvent(0, 480 * 8, {60})}}, global);
        EXPECT_EQ(h.play(kModePlayTime), kOk);
        // At 120 the score lasts 4 s; each mark adds at most one more pass.
        EXPECT_LE(h.playTime, int64_t{4} * (marks + 1) * kSecond100ns) << "round " << round;
        EXPECT_FALSE(h.logged("cut off"));
    }
}

}  // namespace
}  // namespace scoreconv
