// Voice set-up, the volume and pan changes of a pass, and the tune-up, live
// into a capture device on a simulated clock and rendered into tracks.
#include "play/voice_setup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "play/render_output.h"
#include "scorecore/result_codes.h"

namespace scoreconv {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Bytes = std::vector<uint8_t>;
using Timed = std::pair<int64_t, uint32_t>;  // ms since the start, packed message (0 for a reset)

constexpr uint32_t msg(uint8_t status, uint8_t data1, uint8_t data2 = 0) {
    return platform::packShortMessage(status, data1, data2);
}

// Time moves only when the code under test waits; a wait on a set event
// returns at once.
class FakeClock : public CRealTimeClock {
public:
    TimePoint now() const override { return now_; }
    bool waitUntil(platform::Event& event, TimePoint deadline) const override {
        if (event.wait(std::chrono::milliseconds(0))) return true;
        now_ = std::max(now_, deadline);
        return false;
    }
    void sleepUntil(TimePoint deadline) const override { now_ = std::max(now_, deadline); }
    void restart() { now_ = TimePoint{}; }
    int64_t elapsedMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(now_ - TimePoint{}).count();
    }

private:
    mutable TimePoint now_{};
};

CMidiInstr melodic(uint8_t program, uint8_t channel, uint8_t userProgram = CMidiInstr::kUnset) {
    CMidiInstr r;
    r.SrcProgPercId = program;
    r.Channel = channel;
    r.UserProgram = userProgram;
    return r;
}

CMidiInstr drum(const char* id, uint8_t key) {
    CMidiInstr r;
    r.InstrumentId = id;
    r.PercNote = key;
    r.SrcProgPercId = 128;
    r.Channel = 9;
    return r;
}

scorecore::CScoreEvent note(uint8_t status, std::vector<uint8_t> keys) {
    scorecore::CScoreEvent e;
    e.kind = scorecore::kKindNote;
    for (uint8_t key : keys) e.midi[static_cast<std::size_t>(e.headCount++)] = msg(status, key, 90);
    e.duration = 480;
    return e;
}

// Staff 0: two voices, programs 10 (user 5) and 11 on channels 0 and 1; its
// first voice's notes are written on channel 4. Staff 1: drums, one voice,
// instruments "36" (plays 35) and "39" (plays 38). Real time with a capture
// device on a simulated clock.
class VoiceSetUp : public ::testing::Test {
protected:
    void SetUp() override { build(kModeRealTime, {2, 1}); }

    // Staff 1 and staff 0's second voice only when voiceCounts has them.
    void build(int32_t mode, std::vector<int32_t> voiceCounts) {
        clock_.restart();
        device_.clear();
        // A play score filled by the test, without any file.
        file_ = std::make_unique<PlayScore>(480);
        file_->controls.setPlayMode(mode);
        const auto staves = static_cast<int32_t>(voiceCounts.size());
        file_->staffNames.resize(static_cast<std::size_t>(staves));
        ASSERT_TRUE(file_->instruments.addStaves(staves));
        file_->voiceCounts = voiceCounts;
        ASSERT_TRUE(file_->events.allocRows(staves + 1));
        for (int32_t s = 0; s < staves; ++s) {
            ASSERT_TRUE(file_->events.allocVoices(s, voiceCounts[static_cast<std::size_t>(s)]));
        }
        ASSERT_TRUE(file_->instruments.append(0, melodic(10, 0, 5)));
        ASSERT_TRUE(file_->instruments.append(0, melodic(11, 1)));
        scorecore::CScoreEvent rest;
        rest.kind = scorecore::kKindRest;
        ASSERT_EQ(file_->events.append(0, 0, rest), scorecore::kOk);
        ASSERT_EQ(file_->events.append(0, 0, note(0x94, {60})), scorecore::kOk);
        if (voiceCounts[0] > 1) {
            ASSERT_EQ(file_->events.append(0, 1, note(0x91, {67})), scorecore::kOk);
        }
        if (staves > 1) {
            ASSERT_TRUE(file_->instruments.append(1, drum("36", 35)));
            ASSERT_TRUE(file_->instruments.append(1, drum("39", 38)));
            ASSERT_EQ(file_->events.append(1, 0, note(0x99, {99, 36})), scorecore::kOk);
        }
        ASSERT_TRUE(file_->voiceMix.resize(file_->voiceCounts));
        ASSERT_TRUE(file_->allocatePlayState());
        file_->midiOut = &device_;
    }

    std::vector<uint32_t> sent() const {
        std::vector<uint32_t> out;
        for (const auto& m : device_.messages()) out.push_back(m.packed);
        return out;
    }
    std::vector<Timed> timed() const {
        std::vector<Timed> out;
        for (const auto& m : device_.messages()) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(m.time - FakeClock::TimePoint{});
            out.emplace_back(ms.count(), m.kind == platform::CaptureMidiOut::Message::Kind::Reset ? 0 : m.packed);
        }
        return out;
    }
    Bytes trackBytes(int32_t track) const {
        const auto bytes = file_->render.streams[static_cast<std::size_t>(track)].bytes();
        return Bytes(bytes.begin(), bytes.end());
    }

    FakeClock clock_;
    platform::CaptureMidiOut device_{[this] { return clock_.now(); }};
    std::unique_ptr<PlayScore> file_;
};

TEST(RealTimeClock, WaitEndsAtTheEventOrAtAPassedDeadline) {
    const CRealTimeClock& clock = CRealTimeClock::steady();
    platform::Event event(platform::Event::Kind::ManualReset);
    EXPECT_FALSE(clock.waitUntil(event, clock.now() - std::chrono::seconds(1)));
    event.set();
    EXPECT_TRUE(clock.waitUntil(event, clock.now() + std::chrono::hours(1)));
}

// --- voice set-up -----------------------------------------------------------------------

TEST_F(VoiceSetUp, SendsProgramVolumeAndPanAsTheConditionsSay) {
    struct Case {
        const char* name;
        uint64_t conditions;
        std::vector<uint32_t> expected;
    };
    const Case cases[] = {
        {"source values on the notes' channels", 0,
         {msg(0xC4, 10), msg(0xB4, 7, 90), msg(0xB4, 10, 64), msg(0xC1, 11), msg(0xB1, 7, 90), msg(0xB1, 10, 64),
          msg(0xB9, 7, 74), msg(0xB9, 10, 64)}},
        {"user values on the planned channels",
         kCondVoiceChannel | kCondUserProgram | kCondUserVolume | kCondUserPan,
         {msg(0xC0, 5), msg(0xB0, 7, 100), msg(0xB0, 10, 20), msg(0xC1, 11), msg(0xB1, 7, 74), msg(0xB1, 10, 64),
          msg(0xB9, 7, 50), msg(0xB9, 10, 127)}},
    };
    for (const Case& c : cases) {
        SetUp();
        file_->voiceMix.setSourceVolume(0, 90);
        file_->voiceMix.setUserVolume(0, 0, 100);
        file_->voiceMix.setUserPan(0, 0, 20);
        file_->voiceMix.setUserVolume(1, 0, 50);
        file_->voiceMix.setUserPan(1, 0, 127);
        file_->controls.setPlayConditions(c.conditions);
        EXPECT_EQ(setUpVoices(*file_), scorecore::kOk) << c.name;
        EXPECT_EQ(sent(), c.expected) << c.name;
        for (uint32_t m : c.expected) {
            const auto status = static_cast<uint8_t>(m), controller = static_cast<uint8_t>(m >> 8);
            if ((status & 0xF0) != 0xB0) continue;
            const auto& remembered = controller == 7 ? file_->lastVolume : file_->lastPan;
            EXPECT_EQ(remembered[status & 0x0F], static_cast<uint8_t>(m >> 16)) << c.name;
        }
    }
}

TEST_F(VoiceSetUp, SkipsUnplannedVoicesAndThePlayTimePass) {
    file_->instruments.at(0, 1)->Channel = CMidiInstr::kUnset;
    file_->controls.setPlayMode(kModePlayTime);
    EXPECT_EQ(setUpVoices(*file_), scorecore::kOk);
    EXPECT_TRUE(sent().empty());
    file_->controls.setPlayMode(kModeRealTime);
    EXPECT_EQ(setUpVoices(*file_), scorecore::kOk);
    EXPECT_THAT(sent(), ElementsAre(msg(0xC4, 10), msg(0xB4, 7, 74), msg(0xB4, 10, 64), msg(0xB9, 7, 74),
                                    msg(0xB9, 10, 64)));
}

TEST_F(VoiceSetUp, RenderedSetUpIsEachTracksHeader) {
    build(kModeRender, {1, 1});
    file_->controls.setPlayConditions(kCondPercussionTracks | kCondUserVolume);
    file_->voiceMix.setUserVolume(1, 0, 30);
    // Tracks: 0, staff 0's voice, one per drum instrument.
    ASSERT_TRUE(file_->render.allocate(4));
    EXPECT_EQ(setUpVoices(*file_), scorecore::kOk);
    EXPECT_TRUE(sent().empty());
    EXPECT_TRUE(trackBytes(0).empty());
    EXPECT_EQ(trackBytes(1), (Bytes{0, 0xC4, 10, 0, 0xB4, 7, 74, 0, 0xB4, 10, 64}));
    EXPECT_EQ(trackBytes(2), (Bytes{0, 0xB9, 7, 30, 0, 0xB9, 10, 64}));
    EXPECT_EQ(trackBytes(3), trackBytes(2));
    for (int32_t t = 0; t < 4; ++t) {
        EXPECT_EQ(file_->render.headerSizes[static_cast<std::size_t>(t)], static_cast<int32_t>(trackBytes(t).size()));
    }
}

// --- changes during the pass ------------------------------------------------------------

TEST_F(VoiceSetUp, VolumeAndPanGoOutOnlyWhenTheChannelLacksThem) {
    file_->controls.setPlayConditions(kCondUserPan);
    file_->cursor.levels.at(0, 0)->level = 80;
    file_->voiceMix.setUserPan(0, 0, 20);
    EXPECT_EQ(sendVoiceVolume(*file_, 0, 0), 0);
    EXPECT_EQ(sendVoiceVolume(*file_, 0, 0), 0);
    EXPECT_EQ(sendVoicePan(*file_, 0, 0), 0);
    EXPECT_EQ(sendVoicePan(*file_, 0, 0), 0);
    EXPECT_EQ(sendVoiceVolume(*file_, 0, 5), 0);
    EXPECT_EQ(sendVoicePan(*file_, 3, 0), 0);
    EXPECT_THAT(sent(), ElementsAre(msg(0xB4, 7, 80), msg(0xB4, 10, 20)));
    EXPECT_EQ(file_->lastVolume[4], 80);
    EXPECT_EQ(file_->lastPan[4], 20);

    file_->controls.setPlayConditions(0);  // the user pan is not sent
    file_->voiceMix.setUserPan(0, 0, 30);
    EXPECT_EQ(sendVoicePan(*file_, 0, 0), 0);
    EXPECT_EQ(sent().size(), 2u);
}

TEST_F(VoiceSetUp, DrumVolumeGoesToEveryInstrumentTrackFromVoiceZero) {
    build(kModeRender, {1, 2});
    file_->controls.setPlayConditions(kCondPercussionTracks);
    ASSERT_TRUE(file_->render.allocate(4));
    file_->cursor.levels.at(1, 0)->level = 60;
    file_->cursor.levels.at(1, 1)->level = 20;
    EXPECT_EQ(sendVoiceVolume(*file_, 1, 1), 0);
    EXPECT_EQ(sendVoiceVolume(*file_, 1, 0), 8);
    EXPECT_EQ(sendVoiceVolume(*file_, 1, 0), 0);
    EXPECT_EQ(trackBytes(2), (Bytes{0, 0xB9, 7, 60}));
    EXPECT_EQ(trackBytes(3), trackBytes(2));
    EXPECT_EQ(file_->render.headerSizes[2], 0);
    EXPECT_EQ(file_->lastVolume[9], 60);
}

// --- tune-up ----------------------------------------------------------------------------

class TuneUp : public VoiceSetUp {
protected:
    void SetUp() override {
        VoiceSetUp::SetUp();
        configure();
    }
    // A chord of 2 s on program 19 at volume 90, with the host's event and stop word.
    void configure() {
        file_->controls.setPlayConditions(kCondTuneUp);
        auto& e = file_->einstimmung;
        e.Type = 2;
        e.Zerlegt = 0;
        e.Duration = 2000;
        e.Instrument = 19;
        e.Volume = 90;
        event_.reset();  // the host's part: it stays set after a tune-up
        file_->tuneUpParams.event = &event_;
        file_->tuneUpParams.stopWord = &stopWord_;
    }

    platform::Event event_{platform::Event::Kind::ManualReset};
    int stopWord_ = 0;
};

TEST_F(TuneUp, DoesNothingWhenSwitchedOff) {
    struct Case {
        const char* name;
        int32_t mode;
        int32_t type;
        uint64_t conditions;
    };
    const Case cases[] = {
        {"play-time pass", kModePlayTime, 2, kCondTuneUp},
        {"type 0", kModeRealTime, 0, kCondTuneUp},
        {"condition clear", kModeRealTime, 2, 0},
        {"first notes of no voice", kModeRealTime, 1, kCondTuneUp},
    };
    for (const Case& c : cases) {
        file_->controls.setPlayMode(c.mode);
        file_->einstimmung.Type = c.type;
        file_->controls.setPlayConditions(c.conditions);
        EXPECT_TRUE(playEinstimmung(*file_, clock_)) << c.name;
        EXPECT_TRUE(sent().empty()) << c.name;
        EXPECT_EQ(clock_.elapsedMs(), 0) << c.name;
    }
}

TEST_F(TuneUp, ChordSoundsForItsDurationOnChannelOne) {
    EXPECT_TRUE(playEinstimmung(*file_, clock_));
    EXPECT_THAT(timed(), ElementsAre(Timed{0, msg(0xC0, 19)}, Timed{0, msg(0xB0, 7, 90)}, Timed{0, msg(0xB0, 10, 64)},
                                     Timed{0, msg(0x90, 60, 100)}, Timed{0, msg(0x90, 64, 100)},
                                     Timed{0, msg(0x90, 67, 100)}, Timed{2000, msg(0x90, 60, 0)},
                                     Timed{2000, msg(0x90, 64, 0)}, Timed{2000, msg(0x90, 67, 0)}));
    EXPECT_EQ(clock_.elapsedMs(), 2000 + kTuneUpAfterMs);
    EXPECT_TRUE(event_.wait(std::chrono::milliseconds(0)));  // the host may wait for the end
    EXPECT_FALSE(file_->tuneUpActive.load());
    EXPECT_EQ(stopWord_, 0);
}

TEST_F(TuneUp, BrokenChordStepsThroughItsNotes) {
    struct Case {
        const char* name;
        uint8_t sounding;
        std::vector<Timed> notes;
    };
    const Case cases[] = {
        {"notes keep sounding", 1,
         {{0, msg(0x90, 60, 100)}, {500, msg(0x90, 64, 100)}, {1000, msg(0x90, 67, 100)}, {1500, msg(0x90, 60, 0)},
          {1500, msg(0x90, 64, 0)}, {1500, msg(0x90, 67, 0)}}},
        {"each note ends before the next", 0,
         {{0, msg(0x90, 60, 100)}, {500, msg(0x90, 60, 0)}, {500, msg(0x90, 64, 100)}, {1000, msg(0x90, 64, 0)},
          {1000, msg(0x90, 67, 100)}, {1500, msg(0x90, 67, 0)}}},
    };
    for (const Case& c : cases) {
        SetUp();
        file_->einstimmung.Zerlegt = 1;
        file_->einstimmung.Tempo = 1;  // 500 ms steps
        file_->einstimmung.Sounding = c.sounding;
        EXPECT_TRUE(playEinstimmung(*file_, clock_)) << c.name;
        const auto all = timed();
        ASSERT_EQ(all.size(), 3 + c.notes.size()) << c.name;
        EXPECT_THAT(std::vector<Timed>(all.begin() + 3, all.end()), ElementsAreArray(c.notes)) << c.name;
    }
}

TEST_F(TuneUp, FirstNotesTakeEachVoicesProgramAndFirstSoundingNote) {
    auto& e = file_->einstimmung;
    e.Type = 1;
    e.Instrument = -1;  // each voice's own program
    e.Duration = 1000;
    ASSERT_TRUE(e.addSelectedVoice(0));        // staff 0, voice 0
    ASSERT_TRUE(e.addSelectedVoice(1 << 16));  // staff 0, voice 1
    ASSERT_TRUE(e.addSelectedVoice(1));        // staff 1, voice 0
    ASSERT_TRUE(e.addSelectedVoice(7));        // no such staff
    file_->TranspAdd = 2;
    EXPECT_TRUE(playEinstimmung(*file_, clock_));
    // Slots fill from the bottom: the first voice sounds last. Drum keys are
    // looked up, not transposed; a key no instrument plays is left out.
    EXPECT_THAT(timed(),
                ElementsAre(Timed{0, msg(0xC4, 5)}, Timed{0, msg(0xB4, 7, 90)}, Timed{0, msg(0xB4, 10, 64)},
                            Timed{0, msg(0xC1, 11)}, Timed{0, msg(0xB1, 7, 90)}, Timed{0, msg(0xB1, 10, 64)},
                            Timed{0, msg(0xB9, 7, 90)}, Timed{0, msg(0xB9, 10, 64)}, Timed{0, msg(0x99, 35, 100)},
                            Timed{0, msg(0x91, 69, 100)}, Timed{0, msg(0x94, 62, 100)}, Timed{1000, msg(0x99, 35, 0)},
                            Timed{1000, msg(0x91, 69, 0)}, Timed{1000, msg(0x94, 62, 0)}));
}

TEST_F(TuneUp, StoppedAtOnceResetsTheOutputAndSetsTheStopWord) {
    file_->tuneUpParams.device = &device_;
    file_->midiOut = nullptr;
    event_.set();
    EXPECT_TRUE(playEinstimmung(*file_, clock_));
    EXPECT_EQ(stopWord_, kTuneUpStopped);
    const auto all = timed();
    ASSERT_EQ(all.size(), 10u);
    EXPECT_EQ(all[6], (Timed{0, 0}));  // the reset, right after the notes began
    EXPECT_EQ(all[9], (Timed{0, msg(0x90, 67, 0)}));
    EXPECT_EQ(clock_.elapsedMs(), kTuneUpAfterMs);
    EXPECT_FALSE(file_->tuneUpActive.load());
}

TEST_F(TuneUp, RenderedTuneUpDelaysEveryTrack) {
    build(kModeRender, {1});
    configure();
    ASSERT_TRUE(file_->render.allocate(3));  // 0, the voice, the tune-up
    EXPECT_TRUE(playEinstimmung(*file_, clock_));
    EXPECT_EQ(clock_.elapsedMs(), 0);
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(trackBytes(0), (Bytes{0, 0xFF, 0x51, 3, 0x0F, 0x42, 0x40}));  // 2 s are 2 quarters at 60
    Bytes setUp{0, 0xC0, 19, 0, 0xB0, 7, 90, 0, 0xB0, 10, 64, 0, 0xFF, 0x03, 11};
    setUp.insert(setUp.end(), kTuneUpTrackName.begin(), kTuneUpTrackName.end());
    Bytes expected = setUp;
    expected.insert(expected.end(), {0, 0x90, 60, 100, 0, 0x90, 64, 100, 0, 0x90, 67, 100,  //
                                     0x87, 0x40, 0x90, 60, 0, 0, 0x90, 64, 0, 0, 0x90, 67, 0});
    EXPECT_EQ(trackBytes(2), expected);
    EXPECT_EQ(file_->render.headerSizes[2], static_cast<int32_t>(setUp.size()));
    EXPECT_THAT(file_->render.deltas(), ElementsAre(960, 960, 0));

    // Broken up: three steps of a quarter each.
    build(kModeRender, {1});
    configure();
    file_->einstimmung.Zerlegt = 1;
    ASSERT_TRUE(file_->render.allocate(3));
    EXPECT_TRUE(playEinstimmung(*file_, clock_));
    EXPECT_THAT(file_->render.deltas(), ElementsAre(1440, 1440, 0));
}

}  // namespace
}  // namespace scoreconv
