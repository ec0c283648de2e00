// A MIDI file read for the plug-in player: what goes into the tracks, what
// the tracks remember, the tempo list, and broken files.
#include <gtest/gtest.h>

#include <fstream>

#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/midi_read.h"
#include "qvp3_pipeline/midi_tracks.h"
#include "smf_bytes.h"

namespace qvp3 {
namespace {

using namespace qvp3::testing;

std::filesystem::path write(const platform::testing::TempFolder& folder, const std::string& bytes) {
    const auto path = folder.path() / "file.mid";
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

TEST(MidiPlayerFile, TracksTakeNotesAndControllersAndRememberTheRest) {
    platform::testing::TempFolder folder;
    const std::string conductor = name("Song") + tempo(0, 500000) + meter(0, 4, 2) + tempo(960, 1000000) +
                                  tempo(0, 0) + endOfTrack();
    const std::string piano = ev(0, {0xC0, 5}) + ev(0, {0xB0, 10, 20}) + ev(0, {0xB0, 7, 100}) +
                              ev(0, {0x90, 60, 90}) + ev(0, {64, 80}) /* running status */ + ev(240, {0xE0, 0, 64}) +
                              ev(0, {0xA0, 60, 3}) + ev(240, {0x90, 60, 0}) + ev(0, {0x80, 64, 0}) +
                              ev(0, {0xD0, 9}) + endOfTrack();
    const std::string drums = ev(0, {0x99, 36, 100}) + ev(120, {0x89, 36, 0}) + ev(0, {0x99, 38, 100}) +
                              ev(120, {0x89, 38, 0}) + endOfTrack();
    const std::string marked = ev(0, {0x99, 42, 100}) + endOfTrack();
    const auto path = write(folder, smf(1, 480, {conductor, piano, drums, marked}));

    CNoteTracker tracker;
    MidiPlayerFile file;
    ASSERT_EQ(midiLoadPlayerFile(path, {0, 0, 0}, tracker, file), kMidiOk);
    EXPECT_EQ(file.division, 480);
    ASSERT_EQ(tracker.tracks.size(), 4u);
    ASSERT_EQ(file.tracks.size(), 4u);

    std::vector<std::pair<std::uint32_t, std::uint32_t>> events;
    for (const CMidiMessage& m : tracker.tracks[1].queue.events) events.emplace_back(m.time, m.shortMessage & 0xFFFFFF);
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected{
        {0, 0x140AB0}, {0, 0x6407B0}, {0, 0x5A3C90}, {0, 0x504090}, {480, 0x403C80}, {480, 0x004080}};
    EXPECT_EQ(events, expected) << "notes and controllers; no program, bend, aftertouch or pressure";
    EXPECT_EQ(file.tracks[1].program, 5);
    EXPECT_EQ(file.tracks[1].pan, 20);
    EXPECT_EQ(file.tracks[1].kind, 0);

    EXPECT_EQ(file.tracks[2].kind, kTrackKindFoundPercussion) << "it plays on channel 10";
    EXPECT_EQ(file.tracks[2].percussion, 36) << "its first key";
    EXPECT_EQ(tracker.tracks[2].queue.events.size(), 4u);
    EXPECT_EQ(file.tracks[3].kind, kTrackBeyondStaves) << "no staff describes it: it keeps its mark";
    EXPECT_EQ(file.tracks[3].percussion, 0xFF);

    ASSERT_EQ(file.tempos.size(), 2u) << "a tempo of 0 microseconds is passed over";
    EXPECT_EQ(file.tempos[0].time, 0u);
    EXPECT_EQ(file.tempos[0].value, 12000u);
    EXPECT_EQ(file.tempos[1].time, 960u);
    EXPECT_EQ(file.tempos[1].value, 6000u);
}

// A converted file has no staves to describe it: its drums are told by their channel.
TEST(MidiPlayerFile, AnUnmarkedFileFindsItsDrumsByTheirChannel) {
    platform::testing::TempFolder folder;
    const std::string melody = ev(0, {0xC0, 40}) + ev(0, {0x90, 60, 90}) + ev(240, {0x80, 60, 0}) + endOfTrack();
    const std::string drums = ev(0, {0x99, 38, 100}) + ev(120, {0x89, 38, 0}) + endOfTrack();
    const auto path = write(folder, smf(1, 480, {tempo(0, 500000) + endOfTrack(), melody, drums}));
    CNoteTracker tracker;
    MidiPlayerFile file;
    ASSERT_EQ(midiLoadPlayerFile(path, midiUnmarkedTracks(), tracker, file), kMidiOk);
    ASSERT_EQ(file.tracks.size(), 3u);
    EXPECT_EQ(file.tracks[1].kind, 0);
    EXPECT_EQ(file.tracks[1].program, 40);
    EXPECT_EQ(file.tracks[2].kind, kTrackKindFoundPercussion);
    EXPECT_EQ(file.tracks[2].percussion, 38);
}

TEST(MidiPlayerFile, TemposAreKeptWithinTheirLimits) {
    const struct {
        std::uint32_t micros, hundredths;
    } cases[] = {{500000, 12000}, {1, 25000}, {240000, 25000}, {7500000, 800}, {0xFFFFFF, 800}, {428571, 14000}};
    for (const auto& c : cases) {
        platform::testing::TempFolder folder;
        const auto path = write(folder, smf(0, 96, {tempo(0, c.micros) + ev(0, {0x90, 60, 1}) + endOfTrack()}));
        CNoteTracker tracker;
        MidiPlayerFile file;
        ASSERT_EQ(midiLoadPlayerFile(path, {}, tracker, file), kMidiOk);
        ASSERT_EQ(file.tempos.size(), 1u);
        EXPECT_EQ(file.tempos[0].value, c.hundredths) << c.micros;
        EXPECT_EQ(file.division, 96);
    }
}

TEST(MidiPlayerFile, BrokenFilesLeaveNothing) {
    platform::testing::TempFolder folder;
    const std::string good = smf(1, 480, {tempo(0, 500000) + endOfTrack(), ev(0, {0x90, 60, 90}) + endOfTrack()});
    const struct {
        std::string bytes;
        int code;
    } cases[] = {{good.substr(0, good.size() - 6), kMidiShortRead},
                 {"RIFF not midi", kMidiNotMidiFile},
                 {smf(1, 480, {ev(0, {0x90, 60})}), kMidiNotMidiFile}};
    for (const auto& c : cases) {
        CNoteTracker tracker;
        MidiPlayerFile file;
        EXPECT_EQ(midiLoadPlayerFile(write(folder, c.bytes), {}, tracker, file), c.code);
        EXPECT_TRUE(tracker.tracks.empty());
        EXPECT_TRUE(file.tempos.empty());
    }
    CNoteTracker tracker;
    MidiPlayerFile file;
    EXPECT_EQ(midiLoadPlayerFile(folder.path() / "missing.mid", {}, tracker, file), kMidiCannotOpen);
}

}  // namespace
}  // namespace qvp3
