// The transport on a MIDI entry (its player thread into the capture device
// with a clock that moves only when the player waits) and on a score (our
// engine's player states), with the steps' per-voice settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <chrono>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "engine_test_support.h"
#include "platform_testing/fake_clock.h"
#include "platform_testing/file_bytes.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/midi_read.h"
#include "qvp3_pipeline/midi_write.h"
#include "qvp3_pipeline/pipeline.h"
#include "qvp3_pipeline/playback.h"
#include "qvp3_pipeline/preview_threads.h"
#include "qvp3_pipeline/sequencer.h"
#include "smf_bytes.h"

namespace qvp3 {
namespace {

using namespace qvp3::testing;
namespace fs = std::filesystem;

// Two tracks at 120: a melody of four quarters 60 62 64 65 on channel 1
// (program 0), a bass of two halves 36 43 on channel 2.
std::string duo() {
    std::string melody = name("Melody") + ev(0, {0xC0, 0});
    for (int key : {60, 62, 64, 65}) melody += ev(0, {0x90, key, 100}) + ev(480, {0x80, key, 0});
    std::string bass = name("Bass") + ev(0, {0xC1, 32});
    for (int key : {36, 43}) bass += ev(0, {0x91, key, 100}) + ev(960, {0x81, key, 0});
    return smf(1, 480, {endOfTrack(), melody + endOfTrack(), bass + endOfTrack()});
}

// A MIDI file read as a new entry of the project; null when it cannot be read.
ProjectEntry* addMidiEntry(Project& project, const fs::path& file, const std::string& bytes) {
    ProjectEntry entry;
    entry.Filename = file;
    platform::testing::writeBytes(file, bytes);
    if (cnvReadMidiEntry(entry) != 0) return nullptr;
    entry.project = &project;
    project.entries.push_back(std::move(entry));
    return &project.entries.back();
}

// Whether every note that was started has been ended (a reset ends them all).
bool allNotesEnded(const std::vector<platform::CaptureMidiOut::Message>& messages, std::string* left) {
    std::map<std::pair<int, int>, int> sounding;
    for (const auto& m : messages) {
        if (m.kind == platform::CaptureMidiOut::Message::Kind::Reset) {
            sounding.clear();
            continue;
        }
        const int status = static_cast<int>(m.packed & 0xFF);
        const int key = static_cast<int>(m.packed >> 8 & 0x7F);
        const bool on = (status & 0xF0) == 0x90 && (m.packed >> 16 & 0x7F) > 0;
        if (on) ++sounding[{status & 0x0F, key}];
        if ((status & 0xF0) == 0x80 || ((status & 0xF0) == 0x90 && !on)) sounding[{status & 0x0F, key}] = 0;
    }
    for (const auto& [note, count] : sounding) {
        if (count != 0 && left != nullptr) *left += " " + std::to_string(note.second);
    }
    return std::all_of(sounding.begin(), sounding.end(), [](const auto& n) { return n.second == 0; });
}

struct Host : PlaybackHost {
    std::atomic<int> stops{0};
    void postStop() override { ++stops; }
};

// Acts on the entry at a position of the music, on the player's thread.
struct At : PlayerView {
    std::int32_t ms = -1;
    std::function<void()> action;
    void setPositionRange(std::int32_t) override {}
    void showPosition(std::int32_t now, std::int32_t, std::int32_t) override {
        if (ms >= 0 && now >= ms) {
            ms = -1;
            action();
        }
    }
    void showTempo(double) override {}
};

class MidiTransport : public ::testing::Test {
protected:
    MidiTransport() : out_([this] { return clock_.now(); }) {}

    void SetUp() override {
        ASSERT_NE(addMidiEntry(project_, folder_.path() / "duo.mid", duo()), nullptr);
        e_ = &project_.entries.back();
        control_.outputForTests = &out_;
        control_.clockForTests = &clock_;
    }

    // (ms since the play began, status, key, velocity) of the note and program messages.
    std::vector<std::tuple<int, int, int, int>> sent(std::int64_t fromNs = 0) const {
        std::vector<std::tuple<int, int, int, int>> out;
        for (const auto& m : out_.messages()) {
            if (m.kind != platform::CaptureMidiOut::Message::Kind::Short) continue;
            const int status = static_cast<int>(m.packed & 0xFF);
            const int command = status & 0xF0;
            if (command != 0x80 && command != 0x90 && command != 0xC0) continue;
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(m.time.time_since_epoch()).count();
            out.emplace_back(static_cast<int>((ns - fromNs) / 1'000'000), status, static_cast<int>(m.packed >> 8 & 0x7F),
                             static_cast<int>(m.packed >> 16 & 0x7F));
        }
        return out;
    }
    std::vector<std::pair<int, int>> noteOns() const {
        std::vector<std::pair<int, int>> out;
        for (const auto& [ms, status, key, velocity] : sent()) {
            if ((status & 0xF0) == 0x90 && velocity > 0) out.emplace_back(ms, key);
        }
        return out;
    }
    void expectSilence() const {
        std::string left;
        EXPECT_TRUE(allNotesEnded(out_.messages(), &left)) << "keys left sounding:" << left;
    }

    platform::testing::TempFolder folder_;
    platform::testing::FakeClock clock_;
    platform::CaptureMidiOut out_;
    Project project_;
    CTavtuneLib engine_;
    Host host_;
    PlaybackControl control_{project_, engine_, &host_};
    ProjectEntry* e_ = nullptr;
};

TEST_F(MidiTransport, PlayGoesToTheEndWithTheVoicesSettings) {
    const struct {
        const char* what;
        std::uint64_t features;
        int tempoRelative;
        bool muteBass;
        int transpose;
        int chosenProgram;  // -1 none
        std::vector<std::pair<int, int>> expected;
        int program;
    } cases[] = {
        {"as the file is", 0, 1000, false, 0, -1, {{0, 60}, {0, 36}, {500, 62}, {1000, 64}, {1000, 43}, {1500, 65}}, 0},
        {"the bass muted", kPlayVoiceMasks, 1000, true, 0, -1, {{0, 60}, {500, 62}, {1000, 64}, {1500, 65}}, 0},
        {"transposed up a fifth", kPlayTranspose, 1000, false, 7, -1,
         {{0, 67}, {0, 43}, {500, 69}, {1000, 71}, {1000, 50}, {1500, 72}}, 0},
        {"a chosen program", kPlayChosenSounds, 1000, false, 0, 40,
         {{0, 60}, {0, 36}, {500, 62}, {1000, 64}, {1000, 43}, {1500, 65}}, 40},
        {"half the tempo", kPlayRelativeTempo, 699, false, 0, -1,
         {{0, 60}, {0, 36}, {1000, 62}, {2000, 64}, {2000, 43}, {3000, 65}}, 0},
    };
    for (const auto& c : cases) {
        out_.clear();
        project_.playFeatures = c.features;
        e_->TempoRelative = c.tempoRelative;
        e_->states.setVoiceOnOff(1, 0, c.muteBass ? scorecore::kStateOff : scorecore::kStateOn);
        e_->voices.front().transposition = static_cast<std::int8_t>(c.transpose);
        e_->instruments[0][0].UserProgram = c.chosenProgram < 0 ? 255 : static_cast<std::uint8_t>(c.chosenProgram);
        const std::int64_t start = clock_.elapsedNs();
        const int stopsBefore = host_.stops;
        ASSERT_EQ(control_.plyStart(*e_), 0) << c.what;
        control_.waitForPlayer();
        EXPECT_EQ(host_.stops, stopsBefore + 1) << c.what << ": the end posts the stop command";
        control_.plyStop(*e_);
        EXPECT_EQ(plyEntryState(*e_), kEntryIdle) << c.what;
        std::vector<std::pair<int, int>> got;
        int program = -1;
        for (const auto& [ms, status, key, velocity] : sent(start)) {
            if ((status & 0xF0) == 0x90 && velocity > 0) got.emplace_back(ms / 10 * 10, key);
            if (status == 0xC0) program = key;
        }
        // Live steps are 15 ticks: within one step (16 ms at 120) of the due time.
        ASSERT_EQ(got.size(), c.expected.size()) << c.what;
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_NEAR(got[i].first, c.expected[i].first, 40) << c.what << " note " << i;
            EXPECT_EQ(got[i].second, c.expected[i].second) << c.what << " note " << i;
        }
        EXPECT_EQ(program, c.program) << c.what;
        expectSilence();
    }
}

TEST_F(MidiTransport, PauseResumeAndStopKeepAConsistentState) {
    At at;
    at.ms = 600;
    int again = -1;
    at.action = [&] {
        again = control_.plyStart(*e_);  // play while playing does nothing
        control_.plyPause(*e_);
    };
    plyEntryPlayer(*e_).view = &at;
    ASSERT_EQ(control_.plyStart(*e_), 0);
    // The player pauses itself at 600 ms and silences its output; the user resumes.
    const auto silenced = [this] {
        const auto messages = out_.messages();
        return !messages.empty() && messages.back().kind == platform::CaptureMidiOut::Message::Kind::Reset;
    };
    while (!silenced()) std::this_thread::yield();
    EXPECT_EQ(plyEntryState(*e_), kEntryPaused);
    EXPECT_EQ(again, 0);
    const std::size_t atPause = out_.count();
    expectSilence();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(out_.count(), atPause) << "nothing while paused";
    control_.plyPause(*e_);
    EXPECT_EQ(plyEntryState(*e_), kEntryPaused) << "pause while paused does nothing";
    ASSERT_EQ(control_.plyStart(*e_), 0);
    EXPECT_EQ(plyEntryState(*e_), kEntryPlaying);
    control_.waitForPlayer();
    std::vector<int> keys;
    for (const auto& [ms, key] : noteOns()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<int>{60, 36, 62, 64, 43, 65})) << "every note once, none repeated after the pause";
    control_.plyStop(*e_);
    EXPECT_EQ(plyEntryState(*e_), kEntryIdle);
    expectSilence();

    // Stop while paused ends the player too.
    out_.clear();
    at.ms = 300;
    ASSERT_EQ(control_.plyStart(*e_), 0);
    while (plyEntryState(*e_) != kEntryPaused) std::this_thread::yield();
    control_.plyStop(*e_);
    EXPECT_EQ(plyEntryState(*e_), kEntryIdle);
    EXPECT_EQ(control_.plyEntryPosition(*e_), 0) << "back at the start";
    expectSilence();
}

TEST_F(MidiTransport, SeekWindAndRewindMoveThePositionWithinTheEntry) {
    const std::int32_t length = e_->durationMs;
    ASSERT_NEAR(length, 2000, 5);
    control_.plySeek(*e_, 1000, true);
    EXPECT_NEAR(control_.plyEntryPosition(*e_), 1000, 10);
    EXPECT_EQ(out_.count(), 0u) << "seeking is silent";
    ASSERT_EQ(control_.plyStart(*e_), 0);
    control_.waitForPlayer();
    std::vector<int> keys;
    for (const auto& [ms, key] : noteOns()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<int>{64, 43, 65})) << "play goes on from the seek";
    control_.plyStop(*e_);
    out_.clear();

    control_.plySeek(*e_, 50000, true);
    EXPECT_NEAR(control_.plyEntryPosition(*e_), length, 20) << "past the end: at the end";
    control_.plyRewind(*e_);
    EXPECT_EQ(control_.plyEntryPosition(*e_), 0);

    // Winding back at the start stops at 0; forward it walks toward the end.
    ASSERT_TRUE(control_.plyStartPositionThread(*e_, -1000));
    EXPECT_EQ(plyEntryState(*e_), kEntryWindingIdle);
    control_.plyStopPositionThread(*e_);
    EXPECT_EQ(control_.plyEntryPosition(*e_), 0);
    EXPECT_EQ(plyEntryState(*e_), kEntryIdle);
    ASSERT_TRUE(control_.plyStartPositionThread(*e_, 1000));
    while (control_.plyEntryPosition(*e_) < 900) std::this_thread::yield();
    control_.plyStopPositionThread(*e_);
    EXPECT_GE(control_.plyEntryPosition(*e_), 900);
    EXPECT_EQ(plyEntryState(*e_), kEntryIdle);
    EXPECT_EQ(out_.count(), 0u);
}

TEST_F(MidiTransport, WindingWhilePlayingGoesOnPlayingFromTheNewPlace) {
    At at;
    at.ms = 200;
    at.action = [this] { plyEntryPlayer(*e_).view = nullptr; };
    ASSERT_EQ(control_.plyStart(*e_), 0);
    control_.waitForPlayer();
    control_.plyStop(*e_);
    out_.clear();
    // Started, wound forward while it plays, released: it plays on.
    std::atomic<bool> wound{false};
    at.ms = 100;
    at.action = [&] {
        wound = true;
        plyEntryPlayer(*e_).view = nullptr;
    };
    plyEntryPlayer(*e_).view = &at;
    ASSERT_EQ(control_.plyStart(*e_), 0);
    while (!wound) std::this_thread::yield();
    // Small steps: on the test's clock the wind does not wait for real time,
    // so it may take a few more before it is let go; the last note, at 1500 ms,
    // is still ahead then.
    ASSERT_TRUE(control_.plyStartPositionThread(*e_, 100));
    EXPECT_EQ(plyEntryState(*e_), kEntryWindingPlaying);
    while (control_.plyEntryPosition(*e_) < 1000) std::this_thread::yield();
    control_.plyStopPositionThread(*e_);
    EXPECT_EQ(plyEntryState(*e_), kEntryPlaying);
    control_.waitForPlayer();
    control_.plyStop(*e_);
    std::vector<int> keys;
    for (const auto& [ms, key] : noteOns()) keys.push_back(key);
    ASSERT_FALSE(keys.empty());
    EXPECT_EQ(keys.back(), 65) << "the end is played after the wind";
    expectSilence();
}

TEST_F(MidiTransport, AnEntryWithoutMusicDoesNotStart) {
    e_->durationMs = 0;
    EXPECT_EQ(control_.plyStart(*e_), kPlayNoLength);
    EXPECT_EQ(plyEntryState(*e_), kEntryIdle);
}

TEST(MidiTransportThreads, ClosingWhilePlayingStopsThePlayerFirst) {
    platform::testing::TempFolder folder;
    Project project;
    ASSERT_NE(addMidiEntry(project, folder.path() / "duo.mid", duo()), nullptr);
    platform::CaptureMidiOut out;
    CTavtuneLib engine;
    {
        PlaybackControl control(project, engine);
        control.outputForTests = &out;
        ASSERT_EQ(control.plyStart(project.entries.back()), 0);
        while (out.count() < 2) std::this_thread::yield();
    }  // the control goes while the player plays on the machine's clock
    EXPECT_EQ(plyEntryState(project.entries.back()), kEntryStopRequested);
    const auto messages = out.messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().kind, platform::CaptureMidiOut::Message::Kind::Reset);
}

// --- a score in our engine --------------------------------------------------------

fs::path sharedScore(const std::string& name) { return fs::path(QVP3_SHARED_TESTDATA_DIR) / "musicxml" / name; }

TEST(ScoreTransport, RunStatesFollowTheEngineAndTheVoicesReachIt) {
    EngineProject f;
    const fs::path tvrx = f.dir.path() / "parts.tvrx";
    ASSERT_EQ(convertToTvrx(sharedScore("41a-MultiParts-Partorder.xml"), tvrx), 0);
    ASSERT_EQ(f.open(tvrx), 0);
    ProjectEntry& e = f.project.entries.back();
    f.engine.call(178, "MIDI: capture");
    PlaybackControl control(f.project, f.engine);
    control.midiOutputName = "capture";
    f.project.playFeatures = kPlayVolume | kPlayPanorama;
    e.voiceRecord(0, 0)->volume = 33;
    e.voiceRecord(0, 0)->panorama = 20;

    const auto engineState = [&] { return static_cast<int>(f.engine.call(51, TAVTUNE_PLAYER_QUERY)); };
    ASSERT_EQ(control.plyStart(e), 0);
    EXPECT_EQ(plyEntryState(e), kEntryPlaying);
    EXPECT_EQ(engineState(), TAVTUNE_PLAYER_PLAYING);
    tvVoiceRecord record;
    tvVoiceRecordInit(&record, 0, 0);
    ASSERT_EQ(f.engine.call(124, &record, -1), 0);
    EXPECT_EQ(record.volume, 33);
    EXPECT_EQ(static_cast<std::int8_t>(record.panorama), 20 - 64);

    control.plyPause(e);
    EXPECT_EQ(plyEntryState(e), kEntryPaused);
    EXPECT_EQ(engineState(), TAVTUNE_PLAYER_PAUSED);
    ASSERT_EQ(control.plyStart(e), 0);
    EXPECT_EQ(engineState(), TAVTUNE_PLAYER_PLAYING);

    control.plyBeginSeek(e);
    EXPECT_EQ(engineState(), TAVTUNE_PLAYER_PAUSED) << "a seek holds the playing score";
    control.plySeek(e, 1000, true);
    EXPECT_EQ(engineState(), TAVTUNE_PLAYER_PLAYING) << "and lets it go on";

    control.plyStop(e);
    EXPECT_EQ(plyEntryState(e), kEntryIdle);
    EXPECT_EQ(engineState(), TAVTUNE_PLAYER_IDLE);
    control.plyStop(e);
    EXPECT_EQ(plyEntryState(e), kEntryIdle) << "stop while stopped does nothing";
    control.plySeek(e, 1 << 30, true);
    EXPECT_LE(control.plyEntryPosition(e), e.durationMs) << "a seek past the end stays within the score";
}

TEST(ScoreTransport, PreparingForExportOpensTheScoreAgainWithTheSettings) {
    EngineProject f;
    const fs::path tvrx = f.dir.path() / "parts.tvrx";
    ASSERT_EQ(convertToTvrx(sharedScore("41a-MultiParts-Partorder.xml"), tvrx), 0);
    ASSERT_EQ(f.open(tvrx), 0);
    ProjectEntry& e = f.project.entries.back();
    PlaybackControl control(f.project, f.engine);
    f.project.playFeatures = kPlayChosenSounds | kPlayChannels;
    e.voiceRecord(1, 0)->sound = 71;
    e.instruments[1][0].Channel = 6;
    EXPECT_EQ(control.plyPrepareEntry(e, false), 0) << "already open: nothing to do";
    ASSERT_EQ(control.plyPrepareEntry(e, true), 0);
    tvVoiceRecord record;
    tvVoiceRecordInit(&record, 1, 0);
    ASSERT_EQ(f.engine.call(124, &record, -1), 0);
    EXPECT_EQ(record.sound, 71);
    EXPECT_EQ(record.channel, 6);
}

// --- meters and tempo ------------------------------------------------------------------

TEST(PlaybackMeter, BarsAndBeatsCountBackThroughTheCountIn) {
    PlyMeter meter;
    plyInitMeter(meter, 480, 4, 2);
    EXPECT_EQ(meter.ticksPerBar, 1920);
    EXPECT_EQ(meter.midiData, (std::array<std::uint8_t, 4>{4, 2, 24, 8}));
    const struct {
        std::int64_t position;
        int bar, beat, tick;
    } cases[] = {{0, 1, 1, 0}, {1930, 2, 1, 10}, {-480, -1, 4, 0}, {-1920, -1, 1, 0}, {-100, -1, 4, 100}};
    for (const auto& c : cases) {
        int bar = 0, beat = 0, tick = 0;
        plyTicksToBarBeat(meter, c.position, bar, beat, tick);
        EXPECT_EQ(std::tie(bar, beat, tick), std::tie(c.bar, c.beat, c.tick)) << c.position;
    }
}

}  // namespace
}  // namespace qvp3

namespace qvp3 {
namespace {

// --- the pages' preview threads ----------------------------------------------------------

class PreviewThreads : public ::testing::Test {
protected:
    PreviewThreads() : out_([this] { return clock_.now(); }) {}
    void SetUp() override {
        ASSERT_NE(addMidiEntry(project_, folder_.path() / "duo.mid", duo()), nullptr);
        project_.currentEntry = 0;
        page_.project = &project_;
        page_.midiOut = &out_;
        page_.clock = &clock_;
    }
    std::vector<std::pair<std::int64_t, int>> noteOns() const {
        std::vector<std::pair<std::int64_t, int>> out;
        for (const auto& m : out_.messages()) {
            if ((m.packed & 0xF0) != 0x90 || (m.packed >> 16 & 0x7F) == 0) continue;
            out.emplace_back(std::chrono::duration_cast<std::chrono::milliseconds>(m.time.time_since_epoch()).count(),
                             static_cast<int>(m.packed >> 16 & 0x7F));
        }
        return out;
    }

    platform::testing::TempFolder folder_;
    platform::testing::FakeClock clock_;
    platform::CaptureMidiOut out_;
    Project project_;
    PreviewPage page_;
};

TEST_F(PreviewThreads, MetronomeClicksItsPatternEvery400MsUntilStopped) {
    scorecore::CMetronom& m = project_.entries.back().metronome;
    m.Use = 0;  // the preview clicks all the same
    m.Frequency = 2;  // the odd beats
    m.inUse = 0;
    WorkerThreadRec record;
    ASSERT_NE(stpStartWorker(&record, plyMetronomePreviewThreadProc, true, platform::ThreadPriority::AboveNormal, 0,
                             &page_),
              nullptr);
    while (noteOns().size() < 7) std::this_thread::yield();
    EXPECT_EQ(m.inUse, 1);
    record.event.set();
    stpStopWorker(&record);
    EXPECT_EQ(m.inUse, 0) << "restored";
    const auto clicks = noteOns();
    // Beats 1, 3, 5 and (with LastBeat) 6 of each bar of six, beat 1 accented.
    const std::vector<std::pair<std::int64_t, int>> bar{{0, 127}, {800, 50}, {1600, 50}, {2000, 50}, {2400, 127},
                                                        {3200, 50}, {4000, 50}};
    for (std::size_t i = 0; i < bar.size(); ++i) EXPECT_EQ(clicks[i], bar[i]) << i;
}

TEST_F(PreviewThreads, TuneUpPlaysOnceAndReturnsTheEntryToIdle) {
    ProjectEntry& e = project_.entries.back();
    project_.playFeatures = kPlayTuneUp;
    e.tuneUp.Type = 2;
    e.tuneUp.Zerlegt = 0;
    e.tuneUp.Duration = 300;
    std::atomic<bool> ended{false};
    page_.onTuneUpEnd = [&] { ended = true; };
    WorkerThreadRec record;
    ASSERT_NE(stpStartWorker(&record, plyTuneUpPlayThreadProc, true, platform::ThreadPriority::AboveNormal, 0, &page_),
              nullptr);
    stpStopWorker(&record);
    EXPECT_TRUE(ended);
    EXPECT_EQ(plyEntryState(e), kEntryIdle);
    EXPECT_EQ(noteOns().size(), 3u) << "the chord";
}

}  // namespace
}  // namespace qvp3

namespace qvp3 {
namespace {

// Fake time, but every wait also lets a millisecond of real time pass, so
// that a minute of music plays for a few real seconds and the test thread
// meets the player while it plays.
class SlowFakeClock : public platform::testing::FakeClock {
public:
    bool waitUntil(platform::Event& event, TimePoint deadline) const override {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return FakeClock::waitUntil(event, deadline);
    }
    void sleepUntil(TimePoint deadline) const override {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        FakeClock::sleepUntil(deadline);
    }
};

// Every transport command from every run state of a MIDI entry: the state
// it leads to, the position, and silence once it is stopped.
TEST(MidiTransportStates, EveryCommandFromEveryState) {
    platform::testing::TempFolder folder;
    std::string quarters;
    for (int i = 0; i < 120; ++i) quarters += ev(0, {0x90, 60 + i % 12, 100}) + ev(480, {0x80, 60 + i % 12, 0});
    enum From { Stopped, Playing, Paused, Winding };
    enum Command { Play, Pause, Stop, Rewind, Seek, WindForward, WindBack };
    const struct {
        From from;
        Command command;
        std::int32_t state;    // right after the command
        std::int32_t settled;  // after a wind button is released (WindForward, WindBack), else the same
        int position;          // -1 anywhere, else at least this many ms
    } cases[] = {
        {Stopped, Play, kEntryPlaying, kEntryPlaying, -1},
        {Stopped, Pause, kEntryIdle, kEntryIdle, 0},
        {Stopped, Stop, kEntryIdle, kEntryIdle, 0},
        {Stopped, Rewind, kEntryIdle, kEntryIdle, 0},
        {Stopped, Seek, kEntryIdle, kEntryIdle, 30000},
        {Stopped, WindForward, kEntryWindingIdle, kEntryIdle, -1},
        {Stopped, WindBack, kEntryWindingIdle, kEntryIdle, 0},
        {Playing, Play, kEntryPlaying, kEntryPlaying, -1},
        {Playing, Pause, kEntryPaused, kEntryPaused, -1},
        {Playing, Stop, kEntryIdle, kEntryIdle, 0},
        {Playing, Rewind, kEntryPlaying, kEntryPlaying, -1},
        {Playing, Seek, kEntryPlaying, kEntryPlaying, 30000},
        {Playing, WindForward, kEntryWindingPlaying, kEntryPlaying, -1},
        {Paused, Play, kEntryPlaying, kEntryPlaying, -1},
        {Paused, Pause, kEntryPaused, kEntryPaused, -1},
        {Paused, Stop, kEntryIdle, kEntryIdle, 0},
        {Paused, Rewind, kEntryPaused, kEntryPaused, 0},
        {Paused, Seek, kEntryPaused, kEntryPaused, 30000},
        {Paused, WindBack, kEntryWindingPaused, kEntryPaused, -1},
        {Winding, Play, kEntryPlaying, kEntryPlaying, -1},
        {Winding, Pause, kEntryWindingIdle, kEntryWindingIdle, -1},
        {Winding, Stop, kEntryIdle, kEntryIdle, 0},
        {Winding, Rewind, kEntryIdle, kEntryIdle, 0},
        {Winding, Seek, kEntryIdle, kEntryIdle, 30000},
    };
    const char* fromNames[] = {"stopped", "playing", "paused", "winding"};
    const char* commandNames[] = {"play", "pause", "stop", "rewind", "seek", "wind forward", "wind back"};
    for (const auto& c : cases) {
        const std::string what = std::string(fromNames[c.from]) + " + " + commandNames[c.command];
        SlowFakeClock clock;
        platform::CaptureMidiOut out;
        Project project;
        ProjectEntry* added = addMidiEntry(project, folder.path() / "minute.mid", smf(0, 480, {quarters + endOfTrack()}));
        ASSERT_NE(added, nullptr);
        ProjectEntry& e = *added;
        CTavtuneLib engine;
        PlaybackControl control(project, engine);
        control.outputForTests = &out;
        control.clockForTests = &clock;
        switch (c.from) {
            case Stopped: break;
            case Playing: ASSERT_EQ(control.plyStart(e), 0) << what; break;
            case Paused:
                ASSERT_EQ(control.plyStart(e), 0) << what;
                control.plyPause(e);
                break;
            case Winding: ASSERT_TRUE(control.plyStartPositionThread(e, 1000)) << what; break;
        }
        switch (c.command) {
            case Play: EXPECT_EQ(control.plyStart(e), 0) << what; break;
            case Pause: control.plyPause(e); break;
            case Stop: control.plyStop(e); break;
            case Rewind: control.plyRewind(e); break;
            case Seek: control.plySeek(e, 30000, true); break;
            case WindForward: ASSERT_TRUE(control.plyStartPositionThread(e, 1000)) << what; break;
            case WindBack: ASSERT_TRUE(control.plyStartPositionThread(e, -1000)) << what; break;
        }
        EXPECT_EQ(plyEntryState(e), c.state) << what;
        if (c.command == WindForward || c.command == WindBack) control.plyStopPositionThread(e);
        EXPECT_EQ(plyEntryState(e), c.settled) << what << ", settled";
        if (c.position >= 0) {
            EXPECT_GE(control.plyEntryPosition(e), c.position) << what;
        }
        if (c.position == 0) {
            EXPECT_LT(control.plyEntryPosition(e), 100) << what;
        }
        if (plyEntryState(e) == kEntryWindingIdle) control.plyStopPositionThread(e);
        control.plyStop(e);
        EXPECT_EQ(plyEntryState(e), kEntryIdle) << what << ": stop always ends";
        std::string left;
        EXPECT_TRUE(allNotesEnded(out.messages(), &left)) << what << ": keys left sounding:" << left;
    }
}

}  // namespace
}  // namespace qvp3

namespace qvp3 {
namespace {

TEST(PlaybackLists, ImagesAndTracksOfEntries) {
    const struct {
        EntryKind kind;
        bool converted;
        int image;
    } cases[] = {{EntryKind::Midi, false, 11},  {EntryKind::BinaryScore, false, 9}, {EntryKind::MusicXml, false, 13},
                 {EntryKind::TvrXml, true, 13}, {EntryKind::TvrXml, false, 33},     {EntryKind::Unset, false, 21}};
    for (const auto& c : cases) {
        ProjectEntry e;
        e.kind = c.kind;
        if (c.converted) e.FilenameOrig = "song.xml";
        EXPECT_EQ(cnvEntryIconIndex(e), c.image) << static_cast<int>(c.kind);
    }
    // Staves of 2 voices, of drum keys 36 and 38, of 1 voice: tracks 1-2, 3-4, 5.
    ProjectEntry e;
    e.kind = EntryKind::Midi;
    e.voiceCounts = {2, 1, 1};
    scorecore::CMidiInstr kick, snare, lead;
    kick.PercNote = 36;
    snare.PercNote = 38;
    e.instruments = {{lead, lead}, {kick, snare}, {lead}};
    int stave = -1;
    plyFindStaveOfTrack(e, 0, stave);
    EXPECT_EQ(stave, 0);
    plyFindStaveOfTrack(e, 4, stave);
    EXPECT_EQ(stave, 2);
    stave = 7;
    plyFindStaveOfTrack(e, 9, stave);
    EXPECT_EQ(stave, 7) << "no such track: unchanged";
}

}  // namespace
}  // namespace qvp3
