// Render passes read back with an independent MIDI file reader (python3-mido):
// tracks and their names, tempo, time and key events, the notes the score
// sounds with repeats unrolled, the metronome and tune-up tracks, dynamics,
// swing, and the same notes in the same order as a real-time pass.
#include "play/play_proc.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "mido_support.h"
#include "platform_testing/temp_folder.h"
#include "play_test_support.h"

namespace scoreconv {
namespace {

using scorecore::kOk;
using testing::buildModel;
using testing::midoAvailable;
using testing::MidoEvent;
using testing::MidoFile;
using testing::noteEvent;
using testing::NoteMessage;
using testing::PlayHarness;
using testing::readWithMido;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class PlayRender : public ::testing::Test {
protected:
    void SetUp() override {
        if (!midoAvailable()) GTEST_SKIP() << "/usr/bin/python3 cannot import mido (python3-mido)";
    }

    // Renders the harness's score into the temporary folder and reads it back.
    MidoFile render(PlayHarness& h, const std::string& name = "out.mid") {
        h.midiPath = folder_.path() / name;
        EXPECT_EQ(h.play(kModeRender), kOk);
        EXPECT_EQ(h.state, kPlayStateFileWritten);
        MidoFile file = readWithMido(h.midiPath, folder_.path());
        EXPECT_TRUE(file.read) << "mido could not read " << h.midiPath;
        return file;
    }

    platform::testing::TempFolder folder_;
};

// --- notes and tracks -------------------------------------------------------------------

TEST_F(PlayRender, RepeatsUnrollAndTheFirstEndingIsSkippedOnTheSecondPass) {
    struct Case {
        uint8_t playRepeats;
        std::map<int, int> noteOns;  // C5 D5 E5 F5 G5
    };
    const Case cases[] = {{1, {{72, 1}, {74, 2}, {76, 1}, {77, 1}, {79, 1}}},
                          {0, {{72, 1}, {74, 1}, {76, 1}, {77, 1}, {79, 1}}}};
    for (const Case& c : cases) {
        PlayHarness h(kModeRender);
        h.load("walk_repeats.xml");
        h.file->PlayRepeats = c.playRepeats;
        const MidoFile file = render(h);
        EXPECT_EQ(file.type, 1);
        EXPECT_EQ(file.division, 480);
        EXPECT_EQ(file.tracks, 2);
        EXPECT_THAT(file.trackNames(), ElementsAre("walk_repeats", "Trumpet"));
        EXPECT_EQ(file.noteOnsPerKey(), c.noteOns) << "repeats " << int(c.playRepeats);
        int offs = 0;
        for (const MidoEvent& e : file.events) offs += e.noteOff() ? 1 : 0;
        EXPECT_EQ(offs, static_cast<int>(file.notesOn().size()));
        // The second D5 follows E5 by a bar: bars 1 2 3 2 4 5.
        std::vector<int> order;
        for (const MidoEvent& e : file.notesOn()) order.push_back(e.number("note"));
        if (c.playRepeats != 0) {
            EXPECT_THAT(order, ElementsAre(72, 74, 76, 74, 77, 79));
        }
    }
}

TEST_F(PlayRender, EachSoundingVoiceHasATrackNamedAfterItsStaff) {
    PlayHarness h(kModeRender);
    h.load("walk_voices.xml");
    const MidoFile file = render(h);
    // Voice 3 of the first part holds only rests and has no track.
    EXPECT_THAT(file.trackNames(), ElementsAre("walk_voices", "Soprano Alto-1", "Soprano Alto-2", "Named voices-1",
                                               "Named voices-2", "Named voices-3"));
    for (const MidoEvent& e : file.of("program_change")) EXPECT_EQ(e.number("channel"), e.track - 1);
}

TEST_F(PlayRender, DrumInstrumentsGetTracksOfTheirOwnNamedAfterTheirKey) {
    for (const bool own : {false, true}) {
        PlayHarness h(kModeRender);
        h.load("walk_percussion.xml");
        h.file->controls.setPlayConditions(own ? kCondPercussionTracks : 0);
        const MidoFile file = render(h);
        if (own) {
            EXPECT_THAT(file.trackNames(), ElementsAre("walk_percussion", "Acoustic Bass Drum", "Acoustic Snare",
                                                       "Low Conga", "Bass"));
            const std::vector<std::string> names = file.trackNames();  // one per track, in order
            for (const MidoEvent& e : file.notesOn()) {
                const std::string& name = names.at(static_cast<std::size_t>(e.track));
                EXPECT_EQ(name == "Bass", e.number("channel") != 9) << name;
            }
        } else {
            EXPECT_THAT(file.trackNames(), ElementsAre("walk_percussion", "Drum Set", "Bass"));
        }
        EXPECT_EQ(file.noteOnsPerKey(), (std::map<int, int>{{35, 2}, {38, 1}, {40, 1}, {64, 1}}));
    }
}

TEST_F(PlayRender, TempoTimeAndKeyEventsFollowTheScore) {
    PlayHarness h(kModeRender);
    h.load("walk_changes.xml");
    MidoFile file = render(h);
    std::vector<std::string> meters;
    for (const MidoEvent& e : file.of("time_signature", 0)) {
        meters.push_back(std::to_string(e.tick) + " " + e.fields.at("numerator") + "/" + e.fields.at("denominator"));
    }
    EXPECT_THAT(meters, ElementsAre("0 4/4", "3840 3/4", "5280 6/8"));
    std::vector<std::string> keys;
    for (const MidoEvent& e : file.of("key_signature", 0)) keys.push_back(std::to_string(e.tick) + " " + e.fields.at("key"));
    EXPECT_THAT(keys, ElementsAre("0 Am", "1920 D"));
    EXPECT_EQ(file.of("set_tempo").size(), 1u);
    EXPECT_EQ(file.of("set_tempo").front().number("tempo"), 500000);

    PlayHarness directions(kModeRender);
    directions.load("walk_directions.xml");  // sound tempo 96.5, then 80 and 60
    file = render(directions, "directions.mid");
    std::vector<std::string> tempos;
    for (const MidoEvent& e : file.of("set_tempo")) tempos.push_back(std::to_string(e.tick) + " " + e.fields.at("tempo"));
    EXPECT_THAT(tempos, ElementsAre("0 618556", "2880 750000", "3840 1000000"));
}

TEST_F(PlayRender, DynamicsSetTheVoiceVolume) {
    PlayHarness h(kModeRender);
    h.load("walk_directions.xml");  // p, crescendo to f, sfz
    h.file->controls.setPlayConditions(kCondDynamics);
    const MidoFile file = render(h);
    std::vector<int> volumes;
    for (const MidoEvent& e : file.of("control_change", 1)) {
        if (e.number("control") == 7) volumes.push_back(e.number("value"));
    }
    ASSERT_GE(volumes.size(), 5u);
    EXPECT_EQ(volumes[0], 74);  // set-up
    EXPECT_EQ(volumes[1], 44);  // p
    const auto f = std::find(volumes.begin(), volumes.end(), 90);
    ASSERT_NE(f, volumes.end());
    EXPECT_TRUE(std::is_sorted(volumes.begin() + 1, f + 1)) << "the crescendo rises to f";
    EXPECT_GT(f - volumes.begin(), 3) << "in steps";
    EXPECT_THAT(std::vector<int>(f, volumes.end()), ElementsAre(90, 127, 85));  // f, sfz and back

    // Without the condition the marks send nothing.
    PlayHarness plain(kModeRender);
    plain.load("walk_directions.xml");
    const MidoFile quiet = render(plain, "quiet.mid");
    int controllers = 0;
    for (const MidoEvent& e : quiet.of("control_change", 1)) controllers += e.number("control") == 7 ? 1 : 0;
    EXPECT_EQ(controllers, 1);
}

TEST_F(PlayRender, SwingMovesTheOffbeatEighths) {
    PlayHarness h(kModeRender);
    buildModel(*h.file, {{noteEvent(0, 240, {60}), noteEvent(240, 240, {62}), noteEvent(480, 240, {64}),
                          noteEvent(720, 240, {65})}});
    h.file->quantize.setRate(0, 2, 1);
    h.file->controls.setPlayConditions(kCondSwing);
    const MidoFile file = render(h);
    std::vector<int64_t> ticks;
    for (const MidoEvent& e : file.notesOn()) ticks.push_back(e.tick);
    EXPECT_THAT(ticks, ElementsAre(0, 320, 480, 800));
    std::vector<int64_t> offs;
    for (const MidoEvent& e : file.events) {
        if (e.noteOff()) offs.push_back(e.tick);
    }
    EXPECT_THAT(offs, ElementsAre(320, 480, 800, 960));
}

TEST_F(PlayRender, AlternativeEndingsOfARealScore) {
    // Bars 1, 2 (first ending, backward repeat to the start), 3 (second
    // ending), 4: a C in each.
    for (const uint8_t repeats : {uint8_t{1}, uint8_t{0}}) {
        PlayHarness h(kModeRender);
        h.loadPath(testing::suiteFile("45b-RepeatWithAlternatives.xml"));
        h.file->PlayRepeats = repeats;
        const MidoFile file = render(h, "45b.mid");
        std::vector<int64_t> bars;
        for (const MidoEvent& e : file.notesOn()) bars.push_back(e.tick / 1920);
        if (repeats != 0) {
            EXPECT_THAT(bars, ElementsAre(0, 1, 2, 3, 4));
        } else {
            EXPECT_THAT(bars, ElementsAre(0, 1, 2, 3));
        }
    }
}

// --- metronome and tune-up --------------------------------------------------------------

TEST_F(PlayRender, MetronomeAndTuneUpTracksWhenSwitchedOn) {
    PlayHarness h(kModeRender);
    h.load("walk_repeats.xml");
    h.file->controls.setPlayConditions(kCondMetronome | kCondTuneUp);
    h.file->metronom.CountIn = 2;
    h.file->metronom.Use = 0;
    h.file->einstimmung.Type = 2;
    h.file->einstimmung.Zerlegt = 0;
    h.file->einstimmung.Duration = 2000;
    const MidoFile file = render(h);
    EXPECT_THAT(file.trackNames(), ElementsAre("walk_repeats", "Trumpet", "Metronom", "Einstimmung"));
    // The tune-up: 2 s at one quarter per second; then two bars of count-in.
    const int64_t tuneUp = 960;
    const int64_t music = tuneUp + 3840;
    std::vector<int64_t> clicks;
    for (const MidoEvent& e : file.notesOn(2)) clicks.push_back(e.tick);
    EXPECT_THAT(clicks, ElementsAre(music - 3840, music - 3360, music - 2880, music - 2400, music - 1920,
                                    music - 1440, music - 960, music - 480));
    EXPECT_EQ(file.notesOn(1).front().tick, music);
    std::vector<int> chord;
    for (const MidoEvent& e : file.notesOn(3)) chord.push_back(e.number("note"));
    EXPECT_THAT(chord, ElementsAre(60, 64, 67));
    std::vector<std::string> tempos;
    for (const MidoEvent& e : file.of("set_tempo")) tempos.push_back(std::to_string(e.tick) + " " + e.fields.at("tempo"));
    EXPECT_THAT(tempos, ElementsAre("0 1000000", "960 500000"));

    PlayHarness plain(kModeRender);
    plain.load("walk_repeats.xml");
    plain.file->einstimmung.Type = 2;  // without the conditions nothing of either
    EXPECT_THAT(render(plain, "plain.mid").trackNames(), ElementsAre("walk_repeats", "Trumpet"));
}

// --- real time against the file ---------------------------------------------------------

TEST_F(PlayRender, RealTimePlaysTheNotesOfTheFileInItsOrder) {
    for (const char* name : {"walk_repeats.xml", "walk_piano.xml", "walk_voices.xml"}) {
        PlayHarness rendered(kModeRender);
        rendered.load(name);
        rendered.file->controls.setPlayConditions(kCondShorten);
        const MidoFile file = render(rendered, std::string(name) + ".mid");

        PlayHarness live;
        live.load(name);
        live.file->controls.setPlayConditions(kCondShorten);
        ASSERT_EQ(live.play(kModeRealTime), kOk);

        // At 120 a tick lasts 125/120 ms; note-ons lie on the real-time steps.
        std::vector<std::pair<int64_t, int>> fromFile;
        for (const MidoEvent& e : file.notesOn()) fromFile.emplace_back(e.tick * 125 / 120, e.number("note"));
        std::sort(fromFile.begin(), fromFile.end());
        std::vector<std::pair<int64_t, int>> played;
        std::map<int, std::vector<int>> offsPlayed;
        for (const NoteMessage& n : live.notes()) {
            if (n.on()) played.emplace_back(n.ms, n.key);
            if (n.off()) offsPlayed[n.channel()].push_back(n.key);
        }
        std::sort(played.begin(), played.end());
        EXPECT_EQ(played, fromFile) << name;
        // Note-offs come in the same order on each channel.
        std::map<int, std::vector<int>> offsInFile;
        std::vector<MidoEvent> offs;
        for (const MidoEvent& e : file.events) {
            if (e.noteOff()) offs.push_back(e);
        }
        std::stable_sort(offs.begin(), offs.end(), [](const auto& a, const auto& b) { return a.tick < b.tick; });
        for (const MidoEvent& e : offs) offsInFile[e.number("channel")].push_back(e.number("note"));
        EXPECT_EQ(offsPlayed, offsInFile) << name;
    }
}

// --- failures ---------------------------------------------------------------------------

TEST_F(PlayRender, FailedOrStoppedRenderLeavesNoFile) {
    PlayHarness h(kModeRender);
    h.load("walk_repeats.xml");
    h.midiPath = folder_.path() / "missing" / "out.mid";
    EXPECT_EQ(h.play(kModeRender), scorecore::kErrCreate);
    EXPECT_EQ(h.state, kPlayStateFileWritten);
    EXPECT_TRUE(h.file->render.streams.empty());

    h.midiPath = folder_.path() / "stopped.mid";
    h.signal = kSignalLeave;
    EXPECT_EQ(h.play(kModeRender), kOk);
    EXPECT_EQ(h.state, kPlayStateSignalled);
    EXPECT_TRUE(std::filesystem::is_empty(folder_.path()));
}

TEST_F(PlayRender, EmptyScoreWritesTrackZeroOnly) {
    PlayHarness h(kModeRender);
    const MidoFile file = render(h);
    EXPECT_EQ(file.tracks, 1);
}

}  // namespace
}  // namespace scoreconv
