// Reading Standard MIDI Files into entries: files shaped like those that
// sequencers and notation programs write, written byte by byte, and damaged
// ones.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <iterator>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/midi_read.h"
#include "smf_bytes.h"

namespace qvp3 {
namespace {

using namespace qvp3::testing;

// As a notation program exports a piece: a conductor track with the title,
// copyright, meter, key and tempo changes; a piano track with its name, an
// instrument name, program and controllers, running status and note-ons of
// velocity 0; a drum track with keys 42, 36, 38; a lyrics track without
// channel events. 3/4 at 120, then 60 from bar 2 (tick 1440).
std::string notationExport() {
    const std::string conductor = name("Etude") + meta(0, 0x02, "(c) 2004") + meter(0, 3, 2) +
                                  meta(0, 0x59, std::string("\0\0", 2)) + tempo(0, 500000) + tempo(1440, 1000000) +
                                  endOfTrack();
    const std::string piano = name("Piano") + meta(0, 0x04, "Grand") + ev(0, {0xC0, 5}) + ev(0, {0xB0, 7, 100}) +
                              ev(0, {10, 64}) + ev(0, {0x90, 60, 80}) + ev(480, {60, 0}) + ev(0, {64, 70}) +
                              ev(480, {0x80, 64, 0}) + ev(0, {0x90, 67, 90}) + ev(0, {0xC0, 9}) +
                              ev(960, {0x80, 67, 0}) + endOfTrack();
    const std::string drums = name("Drums") + ev(0, {0x99, 42, 100}) + ev(0, {36, 110}) + ev(120, {42, 0}) +
                              ev(0, {36, 0}) + ev(360, {38, 96}) + ev(120, {38, 0}) + endOfTrack();
    const std::string lyrics = name("Lyrics") + meta(0, 0x01, "la") + endOfTrack(480);
    return smf(1, 480, {conductor, piano, drums, lyrics});
}

// As a sequencer saves a song in format 0 at 96 ticks per quarter: channel
// 2 is used first (a controller), then channel 1 (program 33) and channel 10.
std::string sequencerSong() {
    return smf(0, 96,
               {name("Song") + tempo(0, 600000) + meter(0, 4, 2) + ev(0, {0xB1, 7, 100}) + ev(0, {0xC0, 33}) +
                ev(0, {0x90, 48, 100}) + ev(0, {0x99, 36, 127}) + ev(0, {0x91, 72, 64}) + ev(48, {0x81, 72, 0}) +
                ev(0, {0x89, 36, 0}) + ev(48, {0x80, 48, 0}) + endOfTrack()});
}

// --- reading back ----------------------------------------------------------

struct Note {
    int start, duration, key, velocity, channel;
    friend bool operator==(const Note&, const Note&) = default;
};

std::ostream& operator<<(std::ostream& out, const Note& n) {
    return out << "{" << n.start << ", " << n.duration << ", key " << n.key << ", vel " << n.velocity << ", ch "
               << n.channel << "}";
}

std::vector<Note> notesOf(const ProjectEntry& entry, int track, int voice) {
    std::vector<Note> notes;
    const PipelineEntryModel* model = cnvEntryModelIf(entry);
    const auto* list = model != nullptr ? model->list(track, voice) : nullptr;
    if (list == nullptr) return notes;
    for (const scorecore::CScoreEvent& e : *list) {
        if (e.kind == 0) continue;  // controllers and the like
        EXPECT_TRUE(e.isKind(scorecore::kKindNote));
        EXPECT_EQ(e.headCount, 1);
        const std::uint32_t m = e.midi[0];
        EXPECT_EQ(m & 0xF0, 0x90u);
        notes.push_back({e.start, e.duration, static_cast<int>(m >> 8 & 0xFF), static_cast<int>(m >> 16 & 0xFF),
                         static_cast<int>(m & 0x0F)});
    }
    return notes;
}

struct Mark {
    std::uint32_t kind;
    int start, value;  // tempo: beats per minute; meter: beats * 100 + unit power
    friend bool operator==(const Mark&, const Mark&) = default;
};

std::ostream& operator<<(std::ostream& out, const Mark& m) {
    return out << "{kind " << m.kind << " at " << m.start << ": " << m.value << "}";
}

std::vector<Mark> conductorOf(const ProjectEntry& entry) {
    std::vector<Mark> marks;
    const PipelineEntryModel* model = cnvEntryModelIf(entry);
    const auto* list = model != nullptr ? model->list(0, 0) : nullptr;
    if (list == nullptr) return marks;
    for (const scorecore::CScoreEvent& e : *list) {
        EXPECT_EQ(e.headCount, 1);
        const int value = e.isKind(scorecore::kKindTempo) ? static_cast<int>(e.midi[0]) : e.meterBeats * 100 + e.meterUnit;
        marks.push_back({e.kind, e.start, value});
    }
    return marks;
}

std::vector<int> keysOf(const MidiPercussionTable& table, std::size_t row) {
    std::vector<int> keys;
    for (int k = 0; k < 128; ++k) {
        if (table.keyMarks.at(row)[static_cast<std::size_t>(k)] != 0) keys.push_back(k);
    }
    return keys;
}

class MidiRead : public ::testing::Test {
protected:
    std::filesystem::path write(const std::string& bytes, const std::string& file = "song.mid") {
        const std::filesystem::path path = folder_.path() / file;
        platform::testing::writeBytes(path, bytes);
        return path;
    }
    ProjectEntry entryFor(const std::string& bytes, const std::string& file = "song.mid") {
        ProjectEntry entry;
        entry.Filename = write(bytes, file);
        return entry;
    }

    platform::testing::TempFolder folder_;
};

// --- whole files -----------------------------------------------------------

TEST_F(MidiRead, NotationExportGivesOneStavePerTrackAfterTheConductor) {
    ProjectEntry e = entryFor(notationExport());
    ASSERT_EQ(cnvReadMidiEntry(e), 0);
    EXPECT_EQ(e.kind, EntryKind::Midi);
    EXPECT_EQ(e.trackCount, 4);
    EXPECT_EQ(e.staveCount, 3);
    EXPECT_EQ(e.voiceCounts, (std::vector<std::uint8_t>{1, 1, 0}));
    EXPECT_EQ(e.trackNames, (std::vector<std::string>{"Etude", "Piano", "Drums", "Lyrics"}));
    EXPECT_EQ(cnvEntryStaveName(e, 0), "Piano");

    EXPECT_EQ(conductorOf(e), (std::vector<Mark>{{scorecore::kKindTimeSig, 0, 302},
                                                 {scorecore::kKindTempo, 0, 120},
                                                 {scorecore::kKindTempo, 1440, 60}}));
    EXPECT_EQ(notesOf(e, 1, 0), (std::vector<Note>{{0, 480, 60, 80, 0}, {480, 480, 64, 70, 0}, {960, 960, 67, 90, 0}}))
        << "running status, velocity 0 and 0x80 all end notes";
    EXPECT_EQ(notesOf(e, 2, 0), (std::vector<Note>{{0, 120, 42, 100, 9}, {0, 120, 36, 110, 9}, {480, 120, 38, 96, 9}}));

    ASSERT_EQ(e.instruments.size(), 3u);
    ASSERT_EQ(e.instruments[0].size(), 1u);
    const scorecore::CMidiInstr& piano = e.instruments[0][0];
    EXPECT_EQ(piano.Channel, 0);
    EXPECT_EQ(piano.SrcChannel, 0);
    EXPECT_EQ(piano.SrcProgPercId, 5) << "the first program change counts";
    EXPECT_FALSE(piano.hasPercNote());
    EXPECT_EQ(e.instruments[2].size(), 1u) << "a stave without voices keeps one default record";
    EXPECT_EQ(e.instruments[2][0].Channel, scorecore::CMidiInstr::kUnset);

    // 1440 ticks at 120, then the piano's last note ends 480 ticks later at 60.
    EXPECT_EQ(e.durationMs, 1500 + 1000);
}

TEST_F(MidiRead, DrumTrackGetsOneRecordPerKeyInRisingOrder) {
    ProjectEntry e = entryFor(notationExport());
    ASSERT_EQ(cnvReadMidiEntry(e), 0);
    const struct {
        int key;
        const char* name;
    } expected[] = {{36, "Bass Drum 1"}, {38, "Acoustic Snare"}, {42, "Closed Hi-Hat"}};
    ASSERT_EQ(e.instruments[1].size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const scorecore::CMidiInstr& r = e.instruments[1][i];
        EXPECT_EQ(r.PercNote, expected[i].key) << i;
        EXPECT_EQ(r.Channel, 9) << i;
        EXPECT_EQ(r.SrcChannel, 9) << i;
        EXPECT_EQ(r.InstrumentId, expected[i].name) << i;
    }
    EXPECT_EQ(cnvEntryVoiceChannel(e, 0, 1), 9);

    MidiPercussionTable table;
    int channels = -1;
    ASSERT_EQ(ReadMidiTracks(&channels, e.Filename, table), 0);
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(table.keyCounts, (std::vector<std::uint8_t>{0, 0, 3, 0}));
    ASSERT_EQ(table.keyMarks.size(), 4u);
    EXPECT_EQ(keysOf(table, 2), (std::vector<int>{36, 38, 42}));
    EXPECT_TRUE(keysOf(table, 1).empty());
}

TEST_F(MidiRead, PlayRecordsVelocitiesAndStatesAreReadyForPlaying) {
    ProjectEntry e = entryFor(notationExport());
    ASSERT_EQ(cnvReadMidiEntry(e), 0);
    ASSERT_EQ(e.voices.size(), 2u);
    EXPECT_EQ(e.voices[0].sound, 5);
    for (const VoicePlayRecord& v : e.voices) {
        EXPECT_EQ(v.volume, 100);
        EXPECT_EQ(v.panorama, 64);
    }
    EXPECT_EQ(e.staffVelocity, (std::vector<std::int8_t>{0, 0, 90}));
    EXPECT_EQ(e.staffVelocityRelative, (std::vector<std::uint8_t>{1, 1, 0}));
    EXPECT_EQ(e.states.staffCount(), 3);
    EXPECT_TRUE(e.states.isVoiceOn(0, 0));
    EXPECT_TRUE(e.states.isVoiceOn(1, 0));
    EXPECT_EQ(cnvEntryCountVoicesOn(e), 2);
}

TEST_F(MidiRead, FormatZeroChannelsBecomeVoicesInOrderOfFirstUse) {
    ProjectEntry e = entryFor(sequencerSong());
    ASSERT_EQ(cnvReadMidiEntry(e), 0);
    EXPECT_EQ(e.trackCount, 2);
    EXPECT_EQ(e.staveCount, 1);
    EXPECT_EQ(e.voiceCounts, (std::vector<std::uint8_t>{3}));
    EXPECT_EQ(e.trackNames, (std::vector<std::string>{"", "Song"}));
    EXPECT_EQ(conductorOf(e), (std::vector<Mark>{{scorecore::kKindTempo, 0, 100}, {scorecore::kKindTimeSig, 0, 402}}))
        << "the only track's tempo and meter go to the conductor";
    // 96 ticks per quarter: every time five times as long.
    EXPECT_EQ(notesOf(e, 1, 0), (std::vector<Note>{{0, 240, 72, 64, 1}}));
    EXPECT_EQ(notesOf(e, 1, 1), (std::vector<Note>{{0, 480, 48, 100, 0}}));
    EXPECT_EQ(notesOf(e, 1, 2), (std::vector<Note>{{0, 240, 36, 127, 9}}));

    // The stave also plays pitched voices: its records stay one per voice.
    ASSERT_EQ(e.instruments[0].size(), 3u);
    const struct {
        int channel, program, percNote;
    } records[] = {{1, 0, 255}, {0, 33, 255}, {9, 0, 0}};
    for (std::size_t v = 0; v < 3; ++v) {
        EXPECT_EQ(e.instruments[0][v].Channel, records[v].channel) << v;
        EXPECT_EQ(e.instruments[0][v].SrcChannel, records[v].channel) << v;
        EXPECT_EQ(e.instruments[0][v].SrcProgPercId, records[v].program) << v;
        EXPECT_EQ(e.instruments[0][v].PercNote, records[v].percNote) << v;
    }
    EXPECT_EQ(e.voices.size(), 3u);
    EXPECT_EQ(e.durationMs, 600) << "480 ticks at 100 beats per minute";

    MidiPercussionTable table;
    int channels = -1;
    ASSERT_EQ(ReadMidiTracks(&channels, e.Filename, table), 0);
    EXPECT_EQ(channels, 3);
    EXPECT_EQ(table.keyCounts, (std::vector<std::uint8_t>{0, 0, 0, 1})) << "at channel 10's number (2) + 1";
    ASSERT_EQ(table.keyMarks.size(), 2u);
    EXPECT_EQ(keysOf(table, 1), (std::vector<int>{36}));
}

TEST_F(MidiRead, DrumOnlySongGetsKeyRecords) {
    // A one-track file without percussion moves no count (channel 10 has no number).
    const std::string drums = smf(0, 480, {ev(0, {0x99, 42, 90}) + ev(240, {0x89, 42, 0}) + endOfTrack()});
    ProjectEntry e = entryFor(drums);
    ASSERT_EQ(cnvReadMidiEntry(e), 0);
    ASSERT_EQ(e.instruments[0].size(), 1u);
    EXPECT_EQ(e.instruments[0][0].PercNote, 42);

    MidiPercussionTable table;
    ASSERT_EQ(ReadMidiTracks(nullptr, e.Filename, table), 0);
    EXPECT_EQ(table.keyCounts, (std::vector<std::uint8_t>{0, 1}));

    const std::string piano = smf(0, 480, {ev(0, {0x90, 60, 90}) + ev(240, {0x80, 60, 0}) + endOfTrack()});
    ASSERT_EQ(ReadMidiTracks(nullptr, write(piano), table), 0);
    EXPECT_EQ(table.keyCounts, (std::vector<std::uint8_t>{0}));
}

TEST_F(MidiRead, TrackLayoutFollowsFormatAndTrackCount) {
    const std::string notes = ev(0, {0x90, 60, 90}) + ev(480, {0x80, 60, 0}) + endOfTrack();
    const struct {
        const char* what;
        std::string file;
        int tracks, staves;
        std::vector<std::uint8_t> voices;
    } cases[] = {
        {"format 0", smf(0, 480, {notes}), 2, 1, {1}},
        {"format 1 with one track is read as format 0", smf(1, 480, {notes}), 2, 1, {1}},
        {"format 1 keeps its conductor", smf(1, 480, {endOfTrack(), notes, notes}), 3, 2, {1, 1}},
        {"format 1 without tracks", header(1, 0, 480), 1, 0, {}},
        {"format 0 with two tracks", smf(0, 480, {notes, notes}), 3, 2, {1, 1}},
        {"format 1 whose first track plays keeps its notes", smf(1, 480, {tempo(0, 500000) + notes, notes}), 3, 2,
         {1, 1}},
        {"format 1 with controllers only in its first track", smf(1, 480, {ev(0, {0xB0, 7, 100}) + endOfTrack(), notes}),
         2, 1, {1}},
    };
    for (const auto& c : cases) {
        ProjectEntry e = entryFor(c.file);
        ASSERT_EQ(cnvReadMidiEntry(e), 0) << c.what;
        EXPECT_EQ(e.trackCount, c.tracks) << c.what;
        EXPECT_EQ(e.staveCount, c.staves) << c.what;
        EXPECT_EQ(e.voiceCounts, c.voices) << c.what;
        EXPECT_EQ(e.trackNames.size(), static_cast<std::size_t>(c.tracks)) << c.what;
        EXPECT_EQ(e.durationMs, c.staves > 0 ? 500 : 0) << c.what;
    }
}

// --- timing ----------------------------------------------------------------

TEST_F(MidiRead, DeltasAreScaledTo480PerQuarterAndRoundedPerEvent) {
    const struct {
        int division;
        std::vector<std::uint32_t> deltas;  // note-on, note-off, note-on, ...
        std::vector<int> times;
    } cases[] = {
        {960, {960, 480, 1920, 960}, {480, 720, 1680, 2160}},
        {240, {240, 120}, {480, 720}},
        {0, {480, 240}, {480, 720}},  // no division: taken as 480
        {960, {1, 1, 1, 1}, {1, 2, 3, 4}},  // each half tick rounds up on its own
        {7, {1, 1}, {69, 138}},
        {1, {0x0FFFFFFF, 1}, {0, 0}},  // past the model's range: refused (times unused)
    };
    for (const auto& c : cases) {
        std::string events;
        for (std::size_t i = 0; i < c.deltas.size(); ++i) {
            events += i % 2 == 0 ? ev(c.deltas[i], {0x90, 60, 90}) : ev(c.deltas[i], {0x80, 60, 0});
        }
        ProjectEntry e = entryFor(smf(0, c.division, {events + endOfTrack()}));
        const int result = cnvReadMidiEntry(e);
        if (c.division == 1) {
            EXPECT_EQ(result, kMidiNotMidiFile) << "a time past 2^31 ticks";
            continue;
        }
        ASSERT_EQ(result, 0) << c.division;
        std::vector<int> times;
        for (const Note& n : notesOf(e, 1, 0)) {
            times.push_back(n.start);
            times.push_back(n.start + n.duration);
        }
        EXPECT_EQ(times, c.times) << "division " << c.division;
    }
}

TEST_F(MidiRead, PlayingTimeFollowsTheTempoChanges) {
    const auto quarter = [](std::uint32_t delta, int key) {
        return ev(delta, {0x90, key, 90}) + ev(480, {0x80, key, 0});
    };
    const struct {
        const char* what;
        std::string events;
        int ms;
    } cases[] = {
        {"one quarter at the default 120", quarter(0, 60), 500},
        {"one quarter at 60", tempo(0, 1000000) + quarter(0, 60), 1000},
        {"a change at the second quarter", tempo(0, 500000) + quarter(0, 60) + tempo(0, 250000) + quarter(0, 62), 750},
        {"a tempo after the last note is the last event", quarter(0, 60) + tempo(480, 1000000), 1000},
        {"a tempo of 0 microseconds is no tempo", tempo(0, 0) + quarter(0, 60), 500},
        {"a long note's end counts", ev(0, {0x90, 60, 90}) + ev(0, {0x90, 62, 90}) + ev(480, {0x80, 62, 0}) +
                                          ev(1440, {0x80, 60, 0}), 2000},
        {"a note never ended lasts to the end of its track", ev(0, {0x90, 60, 90}) + endOfTrack(960), 1000},
        {"no notes", tempo(0, 500000), 0},
        {"rounded to milliseconds", tempo(0, 461538) + quarter(0, 60), 462},  // 130 beats per minute
    };
    for (const auto& c : cases) {
        const std::string events = c.events.find("\xFF\x2F") == std::string::npos ? c.events + endOfTrack() : c.events;
        ProjectEntry e = entryFor(smf(0, 480, {events}));
        ASSERT_EQ(cnvReadMidiEntry(e), 0) << c.what;
        EXPECT_EQ(e.durationMs, c.ms) << c.what;
    }
}

TEST_F(MidiRead, NotesAreMatchedToTheirNoteOnByKeyAndChannel) {
    const std::string events = ev(0, {0x91, 60, 80}) + ev(0, {0x90, 60, 90}) +  // same key on two channels
                               ev(0, {0x90, 60, 70}) +                           // the key struck again
                               ev(240, {0x80, 60, 0}) + ev(240, {0x91, 60, 0}) + ev(240, {0x90, 60, 0}) +
                               ev(0, {0x80, 99, 0}) +  // no note to end
                               endOfTrack();
    ProjectEntry e = entryFor(smf(0, 480, {events}));
    ASSERT_EQ(cnvReadMidiEntry(e), 0);
    EXPECT_EQ(notesOf(e, 1, 0), (std::vector<Note>{{0, 480, 60, 80, 1}}));
    EXPECT_EQ(notesOf(e, 1, 1), (std::vector<Note>{{0, 240, 60, 90, 0}, {0, 720, 60, 70, 0}}))
        << "the earliest sounding note ends first";
}

// --- wrappers, system events, names ----------------------------------------

TEST_F(MidiRead, RiffWrappedFileReadsLikeThePlainOne) {
    ProjectEntry plain = entryFor(notationExport());
    ProjectEntry wrapped = entryFor(riff(notationExport()), "song.rmi");
    ASSERT_EQ(cnvReadMidiEntry(plain), 0);
    ASSERT_EQ(cnvReadMidiEntry(wrapped), 0);
    EXPECT_EQ(wrapped.trackCount, plain.trackCount);
    EXPECT_EQ(wrapped.voiceCounts, plain.voiceCounts);
    EXPECT_EQ(notesOf(wrapped, 1, 0), notesOf(plain, 1, 0));
    EXPECT_EQ(wrapped.durationMs, plain.durationMs);
}

TEST_F(MidiRead, SystemExclusiveEventsAreSkippedWithTheirLength) {
    const std::string reset = ev(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7});    // GM System On
    const std::string bulk = quantity(0) + '\xF0' + quantity(200) + std::string(199, '\x10') + '\xF7';  // 2-byte length
    const std::string escape = ev(0, {0xF7, 0x02, 0xF3, 0x01});
    const std::string events = reset + bulk + ev(0, {0x90, 60, 90}) + escape + ev(480, {60, 0}) +  // running status
                               endOfTrack();
    ProjectEntry e = entryFor(smf(0, 480, {events}));
    ASSERT_EQ(cnvReadMidiEntry(e), 0);
    EXPECT_EQ(notesOf(e, 1, 0), (std::vector<Note>{{0, 480, 60, 90, 0}}));
}

TEST_F(MidiRead, TrackNamesAreReadAsUtf8OrWindows1252) {
    const struct {
        std::string bytes, name;
    } cases[] = {{"Fl\xF6te", "Fl\xC3\xB6te"}, {"Fl\xC3\xB6te", "Fl\xC3\xB6te"}, {std::string("Oboe\0\0", 6), "Oboe"}};
    for (const auto& c : cases) {
        ProjectEntry e = entryFor(smf(1, 480, {endOfTrack(), name(c.bytes) + name("second") + endOfTrack()}));
        ASSERT_EQ(cnvReadMidiEntry(e), 0);
        EXPECT_EQ(cnvEntryStaveName(e, 0), c.name) << "the first name of a track counts";
    }
}

TEST_F(MidiRead, ConductorEventsOfEveryTrackAreMergedInTimeOrder) {
    const std::string conductor = meter(0, 4, 2) + tempo(960, 1000000) + meter(0, 7, 13) /* no such unit */ +
                                  endOfTrack();
    const std::string part = ev(0, {0x90, 60, 90}) + tempo(480, 750000) + ev(480, {0x80, 60, 0}) + meter(0, 6, 3) +
                             endOfTrack();
    ProjectEntry e = entryFor(smf(1, 480, {conductor, part}));
    ASSERT_EQ(cnvReadMidiEntry(e), 0);
    EXPECT_EQ(conductorOf(e), (std::vector<Mark>{{scorecore::kKindTimeSig, 0, 402},
                                                 {scorecore::kKindTempo, 480, 80},
                                                 {scorecore::kKindTempo, 960, 60},
                                                 {scorecore::kKindTimeSig, 960, 603}}));
}

// --- reloading and damage --------------------------------------------------

TEST_F(MidiRead, ReadingAgainReplacesTheModelAndADamagedFileLeavesIt) {
    ProjectEntry e = entryFor(notationExport());
    ASSERT_EQ(cnvReadMidiEntry(e), 0);
    ASSERT_EQ(cnvReadMidiEntry(e), 0);
    EXPECT_EQ(notesOf(e, 1, 0).size(), 3u);

    std::string damaged = notationExport();
    damaged.resize(damaged.size() - 2);
    platform::testing::writeBytes(e.Filename, damaged);
    EXPECT_EQ(cnvReadMidiEntry(e), kMidiShortRead);
    EXPECT_EQ(notesOf(e, 1, 0).size(), 3u);
    EXPECT_EQ(e.durationMs, 2500);
}

TEST_F(MidiRead, DamagedAndForeignFilesAreRefusedWithTheirCode) {
    const std::string good = ev(0, {0x90, 60, 90}) + ev(480, {0x80, 60, 0}) + endOfTrack();
    std::string cut = smf(0, 480, {good});
    cut.resize(cut.size() - 5);
    std::string cutInChunkHeader = smf(0, 480, {good});
    cutInChunkHeader.resize(14 + 6);
    const struct {
        const char* what;
        std::string bytes;
        int code;
    } cases[] = {
        {"empty file", "", kMidiNotMidiFile},
        {"a text file", "<?xml version=\"1.0\"?><score-partwise/>", kMidiNotMidiFile},
        {"header cut short", header(0, 1, 480).substr(0, 12), kMidiNotMidiFile},
        {"header length 8", "MThd" + bigEndian(8, 4) + header(0, 1, 480).substr(8) + "xx" + track(good), kMidiNotMidiFile},
        {"format 2", smf(2, 480, {good}), kMidiNotMidiFile},
        {"SMPTE timing", smf(0, 0xE728, {good}), kMidiNotMidiFile},
        {"RIFF without MThd", "RIFF" + std::string(16, '\0') + "RIFF" + std::string(10, '\0'), kMidiNotMidiFile},
        {"a chunk not MTrk is skipped: the track is missing",
         header(0, 1, 480) + "MTrx" + bigEndian(4, 4) + endOfTrack(), kMidiShortRead},
        {"chunk ends inside a note-on", smf(0, 480, {ev(0, {0x90, 60})}), kMidiNotMidiFile},
        {"chunk ends after a delta", smf(0, 480, {ev(0, {0x90, 60, 90}) + quantity(480)}), kMidiNotMidiFile},
        {"meta length past the chunk", smf(0, 480, {quantity(0) + "\xFF\x03\x20" + "Pia"}), kMidiNotMidiFile},
        {"SysEx length past the chunk", smf(0, 480, {ev(0, {0xF0, 0x81, 0x00, 0x7E})}), kMidiNotMidiFile},
        {"delta of five bytes", smf(0, 480, {"\x81\x81\x81\x81\x01\x90\x3C\x40"}), kMidiNotMidiFile},
        {"data byte without a status", smf(0, 480, {ev(0, {0x3C, 0x40}) + endOfTrack()}), kMidiNotMidiFile},
        {"data byte of 0x80 and above", smf(0, 480, {ev(0, {0x99, 0xA4, 0x40}) + endOfTrack()}), kMidiNotMidiFile},
        {"more tracks announced than present", header(1, 3, 480) + track(endOfTrack()) + track(good), kMidiShortRead},
        {"file cut in a chunk", cut, kMidiShortRead},
        {"file cut in a chunk header", cutInChunkHeader, kMidiShortRead},
        {"chunk length near 4 GB", header(0, 1, 480) + "MTrk" + bigEndian(0xFFFFFFF0, 4) + good, kMidiShortRead},
    };
    for (const auto& c : cases) {
        const std::filesystem::path path = write(c.bytes);
        MidiPercussionTable table;
        EXPECT_EQ(ReadMidiTracks(nullptr, path, table), c.code) << c.what;
        ProjectEntry e;
        e.Filename = path;
        EXPECT_EQ(LoadMidiIntoModel(e), c.code) << c.what;
        EXPECT_EQ(cnvReadMidiEntry(e), c.code) << c.what;
    }
    MidiPercussionTable table;
    EXPECT_EQ(ReadMidiTracks(nullptr, folder_.path() / "missing.mid", table), kMidiCannotOpen);
    EXPECT_EQ(ReadMidiTracks(nullptr, folder_.path(), table), kMidiCannotOpen) << "a folder";
    ProjectEntry missing;
    missing.Filename = folder_.path() / "missing.mid";
    EXPECT_EQ(cnvReadMidiEntry(missing), kMidiCannotOpen);
}

// Every cut and many random byte changes of a good file: no crash, a known
// code, and a consistent entry whenever it is read.
TEST_F(MidiRead, TruncatedAndMutatedFilesNeverBreakTheReader) {
    const std::string good = notationExport();
    const auto check = [&](const std::string& bytes, const std::string& what) {
        const std::filesystem::path path = write(bytes, "mutant.mid");
        MidiPercussionTable table;
        const int scanned = ReadMidiTracks(nullptr, path, table);
        ProjectEntry e;
        e.Filename = path;
        const int read = cnvReadMidiEntry(e);
        EXPECT_TRUE(read == 0 || read == kMidiShortRead || read == kMidiNotMidiFile) << what << ": " << read;
        if (scanned != 0) {
            EXPECT_EQ(read, scanned) << what;
        }
        if (read != 0) return read;
        EXPECT_EQ(e.staveCount, e.trackCount - 1) << what;
        EXPECT_EQ(e.instruments.size(), static_cast<std::size_t>(e.staveCount)) << what;
        EXPECT_EQ(e.voices.size(), static_cast<std::size_t>(cnvEntryVoiceCount(e))) << what;
        EXPECT_GE(e.durationMs, 0) << what;
        for (int t = 1; t < e.trackCount; ++t) {
            EXPECT_FALSE(e.instruments[static_cast<std::size_t>(t - 1)].empty()) << what;
            for (int v = 0; v < e.voiceCounts[static_cast<std::size_t>(t - 1)]; ++v) {
                int last = 0;
                for (const Note& n : notesOf(e, t, v)) {
                    EXPECT_GE(n.start, last) << what;
                    EXPECT_GE(n.duration, 0) << what;
                    EXPECT_LT(n.key, 128) << what;
                    last = n.start;
                }
            }
        }
        return read;
    };
    for (std::size_t size = 0; size < good.size(); ++size) {
        EXPECT_NE(check(good.substr(0, size), "cut at " + std::to_string(size)), 0) << size;
    }
    std::mt19937 random(20240611);
    std::uniform_int_distribution<std::size_t> at(0, good.size() - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    int readable = 0;
    for (int round = 0; round < 1500; ++round) {
        std::string mutant = good;
        const int changes = 1 + round % 3;
        for (int i = 0; i < changes; ++i) mutant[at(random)] = static_cast<char>(byte(random));
        if (check(mutant, "mutant " + std::to_string(round)) == 0) ++readable;
    }
    EXPECT_GT(readable, 0) << "some changes only touch values";
}

}  // namespace
}  // namespace qvp3
