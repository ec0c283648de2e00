// The own sequencer of MIDI entries: measuring, exporting the converted MIDI
// file (read back with an independent reader), playing in real time with a
// clock that moves only when the player waits, and its options.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <thread>
#include <string>
#include <tuple>
#include <vector>

#include "../../../scoreconv/tests/mido_support.h"
#include "platform_testing/fake_clock.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/intro_player.h"
#include "qvp3_pipeline/midi_read.h"
#include "qvp3_pipeline/midi_write.h"
#include "qvp3_pipeline/sequencer.h"
#include "qvp3_project/project.h"
#include "smf_bytes.h"

namespace qvp3 {
namespace {

using namespace qvp3::testing;
using scoreconv::testing::MidoEvent;
using scoreconv::testing::MidoFile;

// A notation program's export: conductor with the title, 3/4 and two
// tempos; a piano with two notes, the pedal and a bend; a violin with one;
// drums with keys 42, 36, 38.
std::string notationExport() {
    const std::string conductor = name("Etude") + meter(0, 3, 2) + tempo(0, 500000) + tempo(1440, 652174) + endOfTrack();
    const std::string piano = name("Piano") + ev(0, {0xC0, 5}) + ev(0, {0xB0, 64, 127}) + ev(0, {0x90, 60, 80}) +
                              ev(480, {60, 0}) + ev(0, {64, 70}) + ev(100, {0xE0, 0, 80}) + ev(375, {0x80, 64, 0}) +
                              ev(0, {0xB0, 64, 0}) + endOfTrack();
    const std::string violin = name("Violin") + ev(0, {0xC1, 40}) + ev(965, {0x91, 76, 90}) + ev(960, {0x81, 76, 0}) +
                               endOfTrack();
    const std::string drums = name("Drums") + ev(0, {0x99, 42, 100}) + ev(0, {36, 110}) + ev(120, {42, 0}) +
                              ev(0, {36, 0}) + ev(360, {38, 96}) + ev(120, {38, 0}) + endOfTrack();
    return smf(1, 480, {conductor, piano, violin, drums});
}

// One quarter note at 120.
std::string oneQuarter() { return smf(0, 480, {ev(0, {0x90, 60, 100}) + ev(480, {0x80, 60, 0}) + endOfTrack()}); }

struct NoteOn {
    int track;
    std::int64_t tick;
    int key, velocity, channel;
    friend bool operator==(const NoteOn&, const NoteOn&) = default;
};

std::ostream& operator<<(std::ostream& out, const NoteOn& n) {
    return out << "{track " << n.track << " @" << n.tick << " key " << n.key << " vel " << n.velocity << " ch "
               << n.channel << "}";
}

std::vector<NoteOn> noteOns(const MidoFile& file) {
    std::vector<NoteOn> out;
    for (const MidoEvent& e : file.events) {
        if (e.noteOn()) out.push_back({e.track, e.tick, e.number("note"), e.number("velocity"), e.number("channel")});
    }
    return out;
}

// (tick, microseconds per quarter) of every tempo event.
std::vector<std::pair<std::int64_t, int>> tempoMap(const MidoFile& file) {
    std::vector<std::pair<std::int64_t, int>> out;
    for (const MidoEvent& e : file.of("set_tempo")) out.emplace_back(e.tick, e.number("tempo"));
    return out;
}

class Sequencer : public ::testing::Test {
protected:
    ProjectEntry read(const std::string& bytes, const std::string& file = "song.mid") {
        ProjectEntry entry;
        entry.Filename = folder_.path() / file;
        platform::testing::writeBytes(entry.Filename, bytes);
        EXPECT_EQ(cnvReadMidiEntry(entry), 0);
        entry.convertedMidiPath = folder_.path() / (entry.Filename.stem().string() + "_qvpcnv.mid");
        return entry;
    }
    MidoFile exported(ProjectEntry& entry, std::uint32_t options = 0) {
        EXPECT_EQ(plyExportMidiEntry(entry, options), 0);
        return scoreconv::testing::readWithMido(entry.convertedMidiPath, folder_.path());
    }
    static bool haveMido() { return scoreconv::testing::midoAvailable(); }

    platform::testing::TempFolder folder_;
};

// --- measuring ---------------------------------------------------------------

TEST_F(Sequencer, MeasuresThePlayingTimeAtTheEntrysTempo) {
    const struct {
        const char* what;
        std::string bytes;
        int relative;  // TempoRelative
        int absolute;  // TempoAbsolute, -1 none
        int expectedMs;
    } cases[] = {
        {"one quarter at 120", oneQuarter(), 1000, -1, 500},
        {"division 960 halves the ticks", smf(0, 960, {ev(0, {0x90, 60, 100}) + ev(960, {0x80, 60, 0}) + endOfTrack()}),
         1000, -1, 500},
        {"a tempo change at bar 2", smf(0, 480, {tempo(0, 500000) + ev(0, {0x90, 60, 100}) + ev(1920, {0x80, 60, 0}) +
                                                 tempo(0, 1000000) + ev(0, {0x90, 62, 100}) + ev(480, {0x80, 62, 0}) +
                                                 endOfTrack()}),
         1000, -1, 3000},
        {"relative tempo 10^0.301 is about twice as fast", oneQuarter(), 1301, -1, 250},
        {"absolute 60 plays the quarter in a second", oneQuarter(), 1000, 60, 1000},
    };
    for (const auto& c : cases) {
        ProjectEntry e = read(c.bytes);
        e.TempoRelative = c.relative;
        e.TempoAbsolute = c.absolute;
        e.TempoIsRelative = c.absolute > 0 ? 0 : 1;
        std::int32_t ms = 0;
        EXPECT_EQ(plyMeasureMidiEntry(e, &ms), 0) << c.what;
        EXPECT_NEAR(ms, c.expectedMs, 2) << c.what;
        EXPECT_EQ(e.durationMs, ms) << c.what;
    }
}

TEST_F(Sequencer, ReadingAFileMeasuresItWithTheSequencer) {
    ProjectEntry e = read(notationExport());
    // 2 bars of 3/4 at 120 (1.5 s each... the second at 92) as the loop steps through them.
    const std::int32_t read = e.durationMs;
    std::int32_t measured = 0;
    ASSERT_EQ(plyMeasureMidiEntry(e, &measured), 0);
    EXPECT_EQ(read, measured);
    EXPECT_GT(measured, 0);
}

// --- export ------------------------------------------------------------------

TEST_F(Sequencer, ExportKeepsNotesTempoMapAndTrackNames) {
    if (!haveMido()) GTEST_SKIP() << "python3-mido is not installed";
    ProjectEntry e = read(notationExport());
    const MidoFile source = scoreconv::testing::readWithMido(e.Filename, folder_.path());
    const MidoFile out = exported(e);
    ASSERT_TRUE(out.read) << "mido reads the export";
    EXPECT_EQ(out.type, 1);
    EXPECT_EQ(out.division, 480);
    // conductor, piano, violin, and one track per drum key (36, 38, 42 in rising order)
    ASSERT_EQ(out.tracks, 6);
    EXPECT_EQ(out.trackNames(),
              (std::vector<std::string>{"Etude", "Piano", "Violin", "Bass Drum 1", "Acoustic Snare", "Closed Hi-Hat"}));
    EXPECT_EQ(tempoMap(out), tempoMap(source));
    EXPECT_EQ(out.of("time_signature").size(), 1u);
    EXPECT_EQ(out.of("time_signature").at(0).number("numerator"), 3);
    EXPECT_EQ(out.of("program_change", 1).at(0).number("program"), 5);
    EXPECT_EQ(out.of("program_change", 2).at(0).number("program"), 40);
    EXPECT_EQ(noteOns(out), (std::vector<NoteOn>{{1, 0, 60, 80, 0},
                                                 {1, 480, 64, 70, 0},
                                                 {2, 965, 76, 90, 1},
                                                 {3, 0, 36, 110, 9},
                                                 {4, 480, 38, 96, 9},
                                                 {5, 0, 42, 100, 9}}));
    // The pedal and the bend stay where they were.
    std::vector<std::tuple<std::int64_t, int, int>> pedal;
    for (const MidoEvent& ev : out.of("control_change", 1)) {
        if (ev.number("control") == 64) pedal.emplace_back(ev.tick, 64, ev.number("value"));
    }
    EXPECT_EQ(pedal, (std::vector<std::tuple<std::int64_t, int, int>>{{0, 64, 127}, {955, 64, 0}}));
    ASSERT_EQ(out.of("pitchwheel", 1).size(), 1u);
    EXPECT_EQ(out.of("pitchwheel", 1).at(0).tick, 580);
    // Every note ends where it ended in the source, exactly (off-grid ticks too).
    std::multiset<std::tuple<std::int64_t, int>> sourceOffs, outOffs;
    for (const MidoEvent& ev : source.events) {
        if (ev.noteOff()) sourceOffs.emplace(ev.tick, ev.number("note"));
    }
    for (const MidoEvent& ev : out.events) {
        if (ev.noteOff()) outOffs.emplace(ev.tick, ev.number("note"));
    }
    EXPECT_EQ(outOffs, sourceOffs);
}

TEST_F(Sequencer, ExportNamesVoiceAndKeyTracksAndLeavesEmptyVoicesOut) {
    if (!haveMido()) GTEST_SKIP() << "python3-mido is not installed";
    // One format-0 track on channels 1 and 2; a drum track with key 34 and 35; a
    // track whose only voice is switched off.
    const std::string song =
        smf(1, 480,
            {name("Song") + endOfTrack(),
             name("Keys") + ev(0, {0x90, 60, 90}) + ev(0, {0x91, 48, 90}) + ev(480, {0x80, 60, 0}) + ev(0, {0x81, 48, 0}) +
                 endOfTrack(),
             name("Kit") + ev(0, {0x99, 34, 90}) + ev(0, {35, 90}) + ev(240, {34, 0}) + ev(0, {35, 0}) + endOfTrack(),
             name("Quiet") + ev(0, {0x92, 70, 90}) + ev(480, {0x82, 70, 0}) + endOfTrack()});
    ProjectEntry e = read(song);
    e.states.setVoiceOnOff(2, 0, scorecore::kStateOff);
    const MidoFile out = exported(e, kSeqVoiceMuting);
    ASSERT_TRUE(out.read);
    EXPECT_EQ(out.trackNames(), (std::vector<std::string>{"Song", "Keys-1", "Keys-2", "[34]", "Acoustic Bass Drum"}));
    EXPECT_EQ(out.tracks, 5) << "the muted voice's track holds only its opening and is left out";
}

TEST_F(Sequencer, ExportWithMetronomePutsTheCountInFirstAndClicksOnItsOwnTrack) {
    if (!haveMido()) GTEST_SKIP() << "python3-mido is not installed";
    ProjectEntry e = read(oneQuarter());
    e.metronome.CountIn = 1;
    e.metronome.Use = 1;
    e.metronome.Instrument = 37;
    const MidoFile out = exported(e, kSeqMetronome);
    ASSERT_TRUE(out.read);
    ASSERT_EQ(out.tracks, 3) << "conductor, the voice, the metronome";
    EXPECT_EQ(out.trackNames().back(), "Metronome");
    std::vector<std::int64_t> clicks;
    for (const NoteOn& n : noteOns(out)) {
        if (n.track == 2) {
            EXPECT_EQ(n.key, 37);
            EXPECT_EQ(n.channel, 9);
            clicks.push_back(n.tick);
        }
    }
    // One bar of 4/4 counted in, then the beat of the quarter note.
    EXPECT_EQ(clicks, (std::vector<std::int64_t>{0, 480, 960, 1440, 1920}));
    ASSERT_FALSE(out.notesOn(1).empty());
    EXPECT_EQ(out.notesOn(1).front().tick, 1920) << "the music starts after the count-in bar";
}

TEST_F(Sequencer, OptionsChangeWhatIsWritten) {
    if (!haveMido()) GTEST_SKIP() << "python3-mido is not installed";
    const std::string song = smf(1, 480,
                                 {endOfTrack(), name("Lead") + ev(0, {0x90, 60, 5}) + ev(480, {0x80, 60, 0}) + endOfTrack(),
                                  name("Kit") + ev(0, {0x99, 38, 50}) + ev(240, {0x89, 38, 0}) + endOfTrack()});
    const struct {
        const char* what;
        std::uint32_t options;
        int transpose, velocity, relative, channel;
        std::vector<std::pair<int, int>> expected;  // key and velocity of each note-on, in time and track order
        int leadChannel;
    } cases[] = {
        {"no options: the file as it is", 0, 0, 0, 0, -1, {{60, 5}, {38, 50}}, 0},
        {"transposition leaves drums alone", kSeqTranspose, 3, 0, 0, -1, {{63, 5}, {38, 50}}, 0},
        {"absolute volume 3 is raised to 10", kSeqVolume, 0, 3, 0, -1, {{60, 10}, {38, 10}}, 0},
        {"relative volume adds", kSeqVolume, 0, 40, 1, -1, {{60, 45}, {38, 90}}, 0},
        {"percussion only", kSeqPercussionOnly, 0, 0, 0, -1, {{38, 50}}, 0},
        {"the stave's channel", kSeqStaveChannel, 0, 0, 0, 4, {{60, 5}, {38, 50}}, 4},
    };
    for (const auto& c : cases) {
        ProjectEntry e = read(song);
        e.voices.front().transposition = static_cast<std::int8_t>(c.transpose);
        e.staffVelocity = {static_cast<std::int8_t>(c.velocity), static_cast<std::int8_t>(c.velocity)};
        e.staffVelocityRelative = {static_cast<std::uint8_t>(c.relative), static_cast<std::uint8_t>(c.relative)};
        if (c.channel >= 0) e.instruments[0][0].Channel = static_cast<std::uint8_t>(c.channel);
        const MidoFile out = exported(e, c.options);
        std::vector<std::pair<int, int>> got;
        int leadChannel = -1;
        for (const NoteOn& n : noteOns(out)) {
            got.emplace_back(n.key, n.velocity);
            if (n.key != 38) leadChannel = n.channel;
        }
        EXPECT_EQ(got, c.expected) << c.what;
        if (!c.expected.empty() && c.expected.front().first != 38) {
            EXPECT_EQ(leadChannel, c.leadChannel) << c.what;
        }
    }
}

TEST_F(Sequencer, AFailedExportKeepsTheOldFile) {
    ProjectEntry e = read(oneQuarter());
    platform::testing::writeBytes(e.convertedMidiPath, "old file");
    e.convertedMidiPath = folder_.path() / "missing folder" / "x.mid";
    EXPECT_EQ(plyExportMidiEntry(e, 0), kMidiCannotCreate);
    e.convertedMidiPath = folder_.path() / "song_qvpcnv.mid";
    EXPECT_EQ(platform::testing::readBytes(e.convertedMidiPath), "old file");
    plyRequestStop(e, kEntryStopRequested);
    EXPECT_EQ(plyExportMidiEntry(e, 0), kSeqCancelled);
    EXPECT_EQ(platform::testing::readBytes(e.convertedMidiPath), "old file") << "a cancelled export writes nothing";
    std::vector<std::filesystem::path> left;
    for (const auto& f : std::filesystem::directory_iterator(folder_.path())) left.push_back(f.path().filename());
    EXPECT_EQ(left.size(), 2u) << "no temporary file is left behind";
}

// --- real time -------------------------------------------------------------------

class LivePlay : public Sequencer {
protected:
    LivePlay() : out_([this] { return clock_.now(); }) {}

    // Plays the entry as the player thread does: the intro, the channels,
    // the music.
    int play(ProjectEntry& e, std::uint32_t options = 0) {
        EntryPlayer& p = plyEntryPlayer(e);
        plyResetChannels(e);
        p.mode = kPlayerPlay;
        p.options = options;
        p.midiOut = &out_;
        p.clock = &clock_;
        plyPlayIntro(nullptr, e, nullptr);
        if (plyEntryState(e) == kEntryStoppedInTuneUp) return 0;
        plySendChannelSetup(e);
        return plySequencerLoop(e);
    }
    // The entry read, in a project that plays the tune-up, its player live
    // on the capture device (the tune-up's own fields are the test's).
    ProjectEntry withTuneUp(const std::string& bytes) {
        ProjectEntry e = read(bytes);
        project_.playFeatures = kPlayTuneUp;
        e.project = &project_;
        EntryPlayer& p = plyEntryPlayer(e);
        p.mode = kPlayerPlay;
        p.midiOut = &out_;
        p.clock = &clock_;
        return e;
    }
    // (ms since start, status, key, velocity) of the note messages.
    std::vector<std::tuple<int, int, int, int>> notes() const {
        std::vector<std::tuple<int, int, int, int>> out;
        for (const auto& m : out_.messages()) {
            if (m.kind != platform::CaptureMidiOut::Message::Kind::Short) continue;
            const int status = static_cast<int>(m.packed & 0xFF);
            if ((status & 0xE0) != 0x80) continue;
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(m.time.time_since_epoch()).count();
            out.emplace_back(static_cast<int>(ms), status, static_cast<int>(m.packed >> 8 & 0x7F),
                             static_cast<int>(m.packed >> 16 & 0x7F));
        }
        return out;
    }

    platform::testing::FakeClock clock_;
    platform::CaptureMidiOut out_;
    Project project_;
};

TEST_F(LivePlay, NotesComeAtTheirTimesAtFullAndHalfTempo) {
    const std::string song = smf(0, 480,
                                 {ev(0, {0x90, 60, 100}) + ev(480, {0x80, 60, 0}) + ev(0, {0x90, 62, 100}) +
                                  ev(240, {0x80, 62, 0}) + ev(240, {0x90, 64, 100}) + ev(960, {0x80, 64, 0}) +
                                  endOfTrack()});
    for (const int relative : {1000, 699}) {  // 10^-0.301: half the tempo
        ProjectEntry e = read(song);
        e.TempoRelative = relative;
        out_.clear();
        clock_.sleepUntil(clock_.now());  // the clock keeps running from test to test
        const int start = static_cast<int>(clock_.elapsedNs() / 1'000'000);
        ASSERT_EQ(play(e), 0);
        const double scale = relative == 1000 ? 1.0 : 2.0;
        std::vector<std::tuple<int, int, int, int>> expected{
            {0, 0x90, 60, 100}, {500, 0x80, 60, 64}, {500, 0x90, 62, 100},
            {750, 0x80, 62, 64}, {1000, 0x90, 64, 100}, {2000, 0x80, 64, 64}};
        const auto got = notes();
        ASSERT_EQ(got.size(), expected.size()) << relative;
        for (std::size_t i = 0; i < got.size(); ++i) {
            const auto [ms, status, key, velocity] = got[i];
            const auto [wantMs, wantStatus, wantKey, wantVelocity] = expected[i];
            // Live steps are 15 ticks: within one step of the due time.
            EXPECT_NEAR(ms - start, wantMs * scale, 16 * scale) << relative << " note " << i;
            EXPECT_EQ(status, wantStatus);
            EXPECT_EQ(key, wantKey);
            EXPECT_EQ(velocity, wantVelocity);
        }
    }
}

TEST_F(LivePlay, SeekingSendsNothingAndPlayingGoesOnFromThere) {
    std::string quarters;
    for (int key = 60; key < 68; ++key) quarters += ev(0, {0x90, key, 100}) + ev(480, {0x80, key, 0});
    ProjectEntry e = read(smf(0, 480, {quarters + endOfTrack()}));
    EntryPlayer& p = plyEntryPlayer(e);
    plyResetChannels(e);
    p.mode = kPlayerSeek;
    p.seekTargetMs = 1000;  // the third quarter
    p.midiOut = &out_;
    p.clock = &clock_;
    ASSERT_EQ(plySequencerLoop(e), 0);
    EXPECT_EQ(out_.count(), 0u) << "a seek is silent";
    EXPECT_NEAR(p.positionMs, 1000, 8);
    p.mode = kPlayerPlay;
    ASSERT_EQ(plySequencerLoop(e), 0);
    std::vector<int> keys;
    for (const auto& [ms, status, key, velocity] : notes()) {
        if ((status & 0xF0) == 0x90) keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<int>{62, 63, 64, 65, 66, 67}));
}

TEST_F(LivePlay, TuneUpAndCountInComeFirst) {
    ProjectEntry e = withTuneUp(oneQuarter());
    e.tuneUp.Type = 2;  // the chord C E G
    e.tuneUp.Zerlegt = 0;
    e.tuneUp.Duration = 1000;
    e.tuneUp.Instrument = 0;
    e.metronome.CountIn = 1;
    e.metronome.Use = 0;
    e.metronome.Instrument = 37;
    ASSERT_EQ(play(e, kSeqMetronome), 0);
    const auto got = notes();
    // The chord at 0 (velocity 100), released after a second by velocity-0
    // note-ons; half a second of silence; one bar of clicks at 120; the piece.
    std::vector<std::tuple<int, int, int>> chord, clicks;
    int pieceAt = -1;
    for (const auto& [ms, status, key, velocity] : got) {
        if ((status & 0x0F) == 0 && key >= 60 && key <= 67 && key != 60) chord.emplace_back(ms, key, velocity);
        if ((status & 0x0F) == 9 && (status & 0xF0) == 0x90 && velocity > 0) clicks.emplace_back(ms, key, velocity);
        if (key == 60 && velocity == 100 && ms >= 1500 && pieceAt < 0) pieceAt = ms;
    }
    ASSERT_GE(got.size(), 6u);
    EXPECT_EQ(std::get<0>(got[0]), 0);
    EXPECT_EQ(std::get<3>(got[0]), 100);
    EXPECT_EQ(chord, (std::vector<std::tuple<int, int, int>>{{0, 64, 100}, {0, 67, 100}, {1000, 64, 0}, {1000, 67, 0}}));
    ASSERT_EQ(clicks.size(), 4u);
    EXPECT_EQ(std::get<0>(clicks[0]), 1500);
    EXPECT_NEAR(std::get<0>(clicks[3]), 3000, 2);
    EXPECT_NEAR(pieceAt, 3500, 2) << "the piece after the chord, the pause and the count-in bar";
}

TEST_F(LivePlay, StopEndsTheLoopAndLeavesNoNoteSounding) {
    const std::string song =
        smf(0, 480, {ev(0, {0x90, 60, 100}) + ev(0, {0x90, 64, 100}) + ev(4800, {0x80, 60, 0}) + ev(0, {0x80, 64, 0}) +
                     ev(0, {0x90, 67, 100}) + ev(480, {0x80, 67, 0}) + endOfTrack()});
    ProjectEntry e = read(song);
    // The main thread asks to stop while the first notes sound.
    struct StopAt : PlayerView {
        ProjectEntry* entry = nullptr;
        void setPositionRange(std::int32_t) override {}
        void showPosition(std::int32_t ms, std::int32_t, std::int32_t) override {
            if (ms >= 1000) plyRequestStop(*entry, kEntryStopRequested);
        }
        void showTempo(double) override {}
    } view;
    view.entry = &e;
    plyEntryPlayer(e).view = &view;
    EXPECT_EQ(play(e), kSeqCancelled);
    std::map<int, int> sounding;
    for (const auto& [ms, status, key, velocity] : notes()) {
        EXPECT_NE(key, 67) << "nothing after the stop";
        sounding[key] += (status & 0xF0) == 0x90 && velocity > 0 ? 1 : -1;
    }
    for (const auto& [key, count] : sounding) EXPECT_EQ(count, 0) << "key " << key << " left sounding";
}

TEST_F(LivePlay, ChannelSetupSkipsDrumProgramsAndUnsetLevels) {
    const std::string song = smf(1, 480,
                                 {endOfTrack(), name("Lead") + ev(0, {0xC0, 20}) + ev(0, {0x90, 60, 5}) + ev(480, {0x80, 60, 0}) + endOfTrack(),
                                  name("Kit") + ev(0, {0x99, 38, 50}) + ev(240, {0x89, 38, 0}) + endOfTrack()});
    ProjectEntry e = read(song);
    e.voices[0].panorama = static_cast<std::int8_t>(0xFF);
    EntryPlayer& p = plyEntryPlayer(e);
    p.mode = kPlayerPlay;
    p.midiOut = &out_;
    plySendChannelSetup(e);
    std::vector<std::uint32_t> sent;
    for (const auto& m : out_.messages()) sent.push_back(m.packed);
    EXPECT_EQ(sent, (std::vector<std::uint32_t>{platform::packShortMessage(0xC0, 20, 0),
                                                platform::packShortMessage(0xB0, 7, 100),
                                                platform::packShortMessage(0xB9, 7, 100),
                                                platform::packShortMessage(0xB9, 10, 64)}));
}

// The stop request comes from another thread while the loop sleeps between
// its steps on the machine's clock.
TEST(SequencerThreads, AStopFromTheMainThreadEndsPlaying) {
    platform::testing::TempFolder folder;
    ProjectEntry e;
    e.Filename = folder.path() / "long.mid";
    platform::testing::writeBytes(e.Filename, smf(0, 480, {ev(0, {0x90, 60, 100}) + ev(9600, {0x80, 60, 0}) + endOfTrack()}));
    ASSERT_EQ(cnvReadMidiEntry(e), 0);
    platform::CaptureMidiOut out;
    EntryPlayer& p = plyEntryPlayer(e);
    p.mode = kPlayerPlay;
    p.midiOut = &out;
    std::thread stopper([&e] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        plyRequestStop(e, kEntryStopRequested);
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(plySequencerLoop(e), kSeqCancelled);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2)) << "long before the note's end";
    ASSERT_EQ(out.count(), 2u);
    EXPECT_EQ(out.messages().back().packed, platform::packShortMessage(0x80, 60, 0x40));
}

// --- the tune-up ---------------------------------------------------------------------

TEST_F(LivePlay, BrokenTuneUpStepsAndEndsEachNoteBeforeTheNext) {
    ProjectEntry e = withTuneUp(oneQuarter());
    e.tuneUp.Type = 2;
    e.tuneUp.Zerlegt = 1;
    e.tuneUp.Tempo = 1;  // 500 ms a step
    e.tuneUp.Sounding = 0;
    platform::Event done(platform::Event::Kind::ManualReset);
    ASSERT_TRUE(plyIntroLoop(nullptr, &done, e));
    EXPECT_TRUE(done.wait(std::chrono::milliseconds(0))) << "the caller's event is set at the end";
    std::vector<std::tuple<int, int, int>> got;
    for (const auto& [ms, status, key, velocity] : notes()) got.emplace_back(ms, key, velocity);
    EXPECT_EQ(got, (std::vector<std::tuple<int, int, int>>{
                       {0, 60, 100}, {500, 60, 0}, {500, 64, 100}, {1000, 64, 0}, {1000, 67, 100}, {1500, 67, 0}}));
    EXPECT_EQ(clock_.elapsedNs() / 1'000'000, 2000) << "half a second of silence after the last step";
}

TEST_F(LivePlay, FirstNotesOnTheDrumChannelPlayOnChannelOneWithAnInstrument) {
    const std::string song = smf(1, 480, {endOfTrack(), name("Kit") + ev(0, {0x99, 38, 50}) + ev(240, {0x89, 38, 0}) + endOfTrack()});
    ProjectEntry e = withTuneUp(song);
    e.tuneUp.Type = 1;
    e.tuneUp.Zerlegt = 0;
    e.tuneUp.Duration = 200;
    e.tuneUp.Instrument = 12;
    e.tuneUp.voices = {0};
    e.tuneUp.FirstNotesVoiceNum = 1;
    ASSERT_TRUE(plyIntroLoop(nullptr, nullptr, e));
    const auto got = notes();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(std::get<1>(got.front()), 0x90) << "channel 1";
    EXPECT_EQ(std::get<2>(got.front()), 38);
}

TEST_F(LivePlay, AStopDuringTheTuneUpResetsTheOutput) {
    ProjectEntry e = withTuneUp(oneQuarter());
    e.tuneUp.Type = 2;
    e.tuneUp.Zerlegt = 0;
    platform::Event stop(platform::Event::Kind::ManualReset);
    stop.set();
    ASSERT_TRUE(plyIntroLoop(nullptr, &stop, e));
    EXPECT_EQ(plyEntryState(e), kEntryStoppedInTuneUp);
    ASSERT_FALSE(out_.messages().empty());
    EXPECT_EQ(out_.messages().back().kind, platform::CaptureMidiOut::Message::Kind::Reset);
    EXPECT_EQ(play(e), 0) << "the sequencer then ends at once";
}

TEST_F(Sequencer, ExportedTuneUpDelaysEveryOtherTrack) {
    if (!haveMido()) GTEST_SKIP() << "python3-mido is not installed";
    ProjectEntry e = read(oneQuarter());
    Project project;
    project.playFeatures = kPlayTuneUp;
    e.project = &project;
    e.tuneUp.Type = 2;
    e.tuneUp.Zerlegt = 1;
    e.tuneUp.Tempo = 2;  // a second a step: 480 ticks at the export's 60 beats per minute
    e.tuneUp.Sounding = 1;
    const MidoFile out = exported(e);
    ASSERT_TRUE(out.read);
    ASSERT_EQ(out.tracks, 3) << "conductor, the voice, the tune-up";
    EXPECT_EQ(out.trackNames().back(), "Tune-up");
    std::vector<std::int64_t> chord;
    for (const NoteOn& n : noteOns(out)) {
        if (n.track == 2) chord.push_back(n.tick);
    }
    EXPECT_EQ(chord, (std::vector<std::int64_t>{0, 480, 960}));
    ASSERT_EQ(out.notesOn(1).size(), 1u);
    EXPECT_EQ(out.notesOn(1).front().tick, 1440) << "the piece after the three steps";
    const auto tempos = tempoMap(out);
    ASSERT_EQ(tempos.size(), 2u);
    EXPECT_EQ(tempos[0], (std::pair<std::int64_t, int>{0, 1000000}));
    EXPECT_EQ(tempos[1], (std::pair<std::int64_t, int>{1440, 500000}));
}

}  // namespace
}  // namespace qvp3
