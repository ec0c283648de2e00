// The Standard MIDI File writer: the percussion split of a rendered file,
// the header and the tracks it leaves out, and damaged sources.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <set>
#include <tuple>
#include <algorithm>
#include <string>
#include <vector>

#include "../../../scoreconv/tests/mido_support.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/midi_read.h"
#include "qvp3_pipeline/midi_write.h"
#include "smf_bytes.h"

namespace qvp3 {
namespace {

using namespace qvp3::testing;
using scoreconv::testing::MidoEvent;
using scoreconv::testing::MidoFile;

// As the score engine renders a score: a conductor, a piano, and one drum
// track that plays 42, 36 and 38 with a program, a controller and a text
// between its notes, and a piano note on another channel.
std::string renderedScore() {
    const std::string conductor = name("Score") + tempo(0, 500000) + endOfTrack();
    const std::string piano = name("Piano") + ev(0, {0x90, 60, 80}) + ev(480, {0x80, 60, 0}) + endOfTrack();
    const std::string drums = name("Drums") + ev(0, {0xC9, 0}) + ev(0, {0x99, 42, 100}) + ev(10, {36, 110}) +
                              ev(110, {0xB9, 7, 90}) + ev(0, {0x99, 42, 0}) + meta(5, 0x01, "fill") +
                              ev(0, {0x89, 36, 0}) + ev(355, {0x99, 38, 96}) + ev(0, {0x92, 50, 70}) +
                              ev(120, {0x89, 38, 0}) + ev(0, {0x82, 50, 0}) + endOfTrack();
    return smf(1, 480, {conductor, piano, drums});
}

class MidiWrite : public ::testing::Test {
protected:
    std::filesystem::path write(const std::string& bytes, const std::string& file = "render.mid") {
        const std::filesystem::path path = folder_.path() / file;
        platform::testing::writeBytes(path, bytes);
        return path;
    }
    MidoFile mido(const std::filesystem::path& path) { return scoreconv::testing::readWithMido(path, folder_.path()); }

    platform::testing::TempFolder folder_;
};

TEST_F(MidiWrite, SplitGivesEachDrumKeyATrackAndKeepsEveryEventAtItsTick) {
    if (!scoreconv::testing::midoAvailable()) GTEST_SKIP() << "python3-mido is not installed";
    const auto source = write(renderedScore());
    const auto target = folder_.path() / "render_qvpcnv.mid";
    ASSERT_EQ(midiSplitAndWrite(source, target), 0);
    const MidoFile in = mido(source);
    const MidoFile out = mido(target);
    ASSERT_TRUE(out.read);
    ASSERT_EQ(out.tracks, 5) << "conductor, piano, and the drums as three tracks";
    EXPECT_EQ(out.division, 480);
    // Keys in order of their first note-on: 42, 36, 38; the other channel's
    // note stays on the first of them.
    const std::vector<std::vector<int>> keysPerTrack{{}, {60}, {42, 50}, {36}, {38}};
    for (int t = 0; t < out.tracks; ++t) {
        std::vector<int> keys;
        for (const MidoEvent& e : out.notesOn(t)) keys.push_back(e.number("note"));
        std::sort(keys.begin(), keys.end());
        EXPECT_EQ(keys, keysPerTrack[static_cast<std::size_t>(t)]) << "track " << t;
    }
    // Program, controller, name and text in all three, at their source ticks.
    for (int t = 2; t <= 4; ++t) {
        ASSERT_EQ(out.of("program_change", t).size(), 1u) << t;
        ASSERT_EQ(out.of("control_change", t).size(), 1u) << t;
        EXPECT_EQ(out.of("control_change", t).at(0).tick, 120) << t;
        ASSERT_EQ(out.of("text", t).size(), 1u) << t;
        EXPECT_EQ(out.of("text", t).at(0).tick, 125) << t;
        EXPECT_EQ(out.of("track_name", t).at(0).fields.at("name"), "Drums");
    }
    // Every note message keeps its tick.
    std::multiset<std::tuple<std::int64_t, std::string, int>> before, after;
    for (const MidoEvent& e : in.events) {
        if (e.noteOn() || e.noteOff()) before.emplace(e.tick, e.noteOn() ? "on" : "off", e.number("note"));
    }
    for (const MidoEvent& e : out.events) {
        if (e.noteOn() || e.noteOff()) after.emplace(e.tick, e.noteOn() ? "on" : "off", e.number("note"));
    }
    EXPECT_EQ(after, before);
}

TEST_F(MidiWrite, FileWithoutSeveralDrumKeysPerTrackIsCopiedByteForByte) {
    const std::string oneKey =
        smf(1, 96, {name("Song") + endOfTrack(), name("Kick") + ev(0, {0x99, 36, 100}) + ev(96, {0x89, 36, 0}) + endOfTrack()});
    const std::string formatZero = smf(0, 480, {ev(0, {0x99, 36, 100}) + ev(0, {0x99, 38, 100}) + ev(0, {0x90, 60, 9}) +
                                                ev(96, {0x89, 36, 0}) + ev(0, {0x89, 38, 0}) + endOfTrack()});
    for (const std::string& bytes : {oneKey, formatZero}) {
        const auto source = write(bytes);
        const auto target = folder_.path() / "copy.mid";
        ASSERT_EQ(midiSplitAndWrite(source, target), 0);
        EXPECT_EQ(platform::testing::readBytes(target), bytes);
    }
}

TEST_F(MidiWrite, WriterAnnouncesOnlyTracksWithContentAndDivisionZeroIs480) {
    ProjectEntry entry;
    entry.kind = EntryKind::Midi;
    entry.voiceCounts = {1, 1};
    entry.instruments = {{scorecore::CMidiInstr{}}, {scorecore::CMidiInstr{}}};
    entry.metronome.CountIn = 0;
    entry.metronome.Use = 0;
    ASSERT_EQ(plyAllocExportStreams(entry, 3), 0);
    EntryPlayer& p = plyEntryPlayer(entry);
    p.mode = kPlayerExport;
    // Track 1 holds only its name (opening); track 2 a note.
    ASSERT_GT(midiWriteTrackNames(entry), 0);
    ASSERT_GT(plyEmitChannelEvent(p, 2, 0x90, 60, 100, nullptr), 0);
    p.pending[2] = 480;
    ASSERT_GT(plyEmitChannelEvent(p, 2, 0x80, 60, 0, nullptr), 0);
    const auto target = folder_.path() / "out.mid";
    ASSERT_EQ(midiWriteSmf(entry, target, true, -1, 0), 0);
    const std::string bytes = platform::testing::readBytes(target);
    ASSERT_GE(bytes.size(), 14u);
    EXPECT_EQ(bytes.substr(0, 14), header(1, 2, 480));
    if (scoreconv::testing::midoAvailable()) {
        const MidoFile out = mido(target);
        ASSERT_TRUE(out.read);
        EXPECT_EQ(out.tracks, 2);
        ASSERT_EQ(out.notesOn(1).size(), 1u);
        EXPECT_EQ(out.of("note_off", 1).at(0).tick, 480);
    }
}

TEST_F(MidiWrite, FailuresLeaveTheOldFileAndGiveTheirCode) {
    const auto target = folder_.path() / "render_qvpcnv.mid";
    platform::testing::writeBytes(target, "the good file");
    std::string cut = renderedScore();
    cut.resize(cut.size() - 7);
    const struct {
        const char* what;
        std::filesystem::path source;
        std::filesystem::path target;
        int code;
    } cases[] = {
        {"no source", folder_.path() / "missing.mid", target, kMidiCannotOpen},
        {"a text file", write("MThx not a MIDI file", "text.mid"), target, kMidiNotMidiFile},
        {"a truncated render", write(cut, "cut.mid"), target, kMidiShortRead},
        {"a target in a missing folder", write(renderedScore()), folder_.path() / "no" / "x.mid", kMidiCannotCreate},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(midiSplitAndWrite(c.source, c.target), c.code) << c.what;
        EXPECT_EQ(platform::testing::readBytes(target), "the good file") << c.what;
    }
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& f : std::filesystem::directory_iterator(folder_.path())) ++files;
    EXPECT_EQ(files, 4u) << "the target and the three sources, no temporary file";
}

// Cut and changed renders: the split never reads past its buffers, answers a
// known code, and what it writes is a file the reader takes back.
TEST_F(MidiWrite, MutatedSourcesNeverBreakTheSplit) {
    const std::string good = renderedScore();
    const auto target = folder_.path() / "out.mid";
    std::mt19937 random(4105);
    std::uniform_int_distribution<std::size_t> at(0, good.size() - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    int written = 0;
    for (int round = 0; round < 800; ++round) {
        std::string mutant = good;
        if (round % 4 == 0) {
            mutant.resize(at(random));
        } else {
            for (int i = 0; i <= round % 3; ++i) mutant[at(random)] = static_cast<char>(byte(random));
        }
        const auto source = write(mutant, "mutant.mid");
        std::filesystem::remove(target);
        const int result = midiSplitAndWrite(source, target);
        EXPECT_TRUE(result == 0 || result == kMidiNotMidiFile || result == kMidiShortRead) << round << ": " << result;
        if (result != 0) {
            EXPECT_FALSE(std::filesystem::exists(target)) << round;
            continue;
        }
        ++written;
        MidiPercussionTable table;
        EXPECT_EQ(ReadMidiTracks(nullptr, target, table), 0) << round;
    }
    EXPECT_GT(written, 0);
}

}  // namespace
}  // namespace qvp3
