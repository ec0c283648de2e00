// Standard MIDI Files shaped as real programs write them, read into an entry
// and by an independent reader (mido): both must find the same notes per
// track and voice, tempo map, meters and track names. Damaged and foreign
// files give the reader's failure codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "../../../scoreconv/tests/mido_support.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/midi_read.h"
#include "smf_bytes.h"

namespace qvp3 {
namespace {

using namespace qvp3::testing;
using scoreconv::testing::MidoEvent;
using scoreconv::testing::MidoFile;

constexpr int kModelDivision = 480;

struct Note {
    int start, duration, key, velocity, channel;
    friend bool operator==(const Note&, const Note&) = default;
};

std::ostream& operator<<(std::ostream& out, const Note& n) {
    return out << "{" << n.start << ", " << n.duration << ", key " << n.key << ", vel " << n.velocity << ", ch "
               << n.channel << "}";
}

using Marks = std::vector<std::pair<int, int>>;  // (time, value)
using Voices = std::vector<std::vector<Note>>;

// What one reader found in a file, in the entry's layout.
struct Reading {
    std::vector<Voices> tracks;      // per entry track, per voice
    std::vector<std::string> names;  // per entry track
    Marks tempos;                    // beats per minute
    Marks meters;                    // beats * 100 + the unit's power of two
};

Reading fromEntry(const ProjectEntry& entry) {
    Reading r;
    r.names = entry.trackNames;
    const PipelineEntryModel* model = cnvEntryModelIf(entry);
    if (model == nullptr) return r;
    r.tracks.resize(static_cast<std::size_t>(entry.trackCount));
    for (int t = 1; t < entry.trackCount; ++t) {
        for (int v = 0; v < entry.voiceCounts[static_cast<std::size_t>(t - 1)]; ++v) {
            std::vector<Note>& notes = r.tracks[static_cast<std::size_t>(t)].emplace_back();
            for (const scorecore::CScoreEvent& e : *model->list(t, v)) {
                if (!e.isKind(scorecore::kKindNote)) continue;
                const std::uint32_t m = e.midi[0];
                notes.push_back({e.start, e.duration, static_cast<int>(m >> 8 & 0xFF),
                                 static_cast<int>(m >> 16 & 0xFF), static_cast<int>(m & 0x0F)});
            }
        }
    }
    if (const auto* conductor = model->list(0, 0)) {
        for (const scorecore::CScoreEvent& e : *conductor) {
            if (e.isKind(scorecore::kKindTempo)) r.tempos.emplace_back(e.start, static_cast<int>(e.midi[0]));
            if (e.isKind(scorecore::kKindTimeSig)) r.meters.emplace_back(e.start, e.meterBeats * 100 + e.meterUnit);
        }
    }
    return r;
}

bool isChannelMessage(const MidoEvent& e) {
    static const std::set<std::string> kinds = {"note_on",    "note_off",   "control_change", "program_change",
                                                "pitchwheel", "aftertouch", "polytouch"};
    return kinds.count(e.type) != 0;
}

// The entry's layout built from mido's messages: the conductor of a format-1
// file with several tracks is its own track 0, otherwise an empty track comes
// first; each track's channels are its voices in order of first use; a note
// ends at the first matching note-off (or note-on of velocity 0), or at the
// track's end; every delta is scaled to 480 per quarter on its own; a tempo
// of 0 microseconds is no tempo and of several tempos at one time the last
// one read holds.
Reading fromMido(const MidoFile& m) {
    const bool conductorTrack = m.type == 1 && m.tracks > 1;
    const int offset = conductorTrack ? 0 : 1;
    Reading r;
    r.tracks.resize(static_cast<std::size_t>(m.tracks + offset));
    r.names.resize(r.tracks.size());
    std::map<int, int> tempoAt;
    std::vector<std::pair<int, int>> meters;
    for (int t = 0; t < m.tracks; ++t) {
        const auto entryTrack = static_cast<std::size_t>(t + offset);
        Voices& voices = r.tracks[entryTrack];
        std::map<int, std::size_t> voiceOf;
        struct Open {
            std::size_t voice, index;
        };
        std::vector<Open> open;
        std::int64_t lastTick = 0;
        long long time = 0;
        bool named = false;
        for (const MidoEvent& e : m.events) {
            if (e.track != t) continue;
            time += std::llround(static_cast<double>(e.tick - lastTick) * kModelDivision / m.division);
            lastTick = e.tick;
            const int at = static_cast<int>(time);
            if (e.type == "track_name" && !named) {
                named = true;
                r.names[entryTrack] = e.fields.at("name");
            } else if (e.type == "set_tempo" && e.number("tempo") > 0) {
                tempoAt[at] = static_cast<int>(std::lround(60'000'000.0 / e.number("tempo")));
            } else if (e.type == "time_signature") {
                const int power = static_cast<int>(std::log2(e.number("denominator")));
                meters.emplace_back(at, e.number("numerator") * 100 + power);
            }
            if (!isChannelMessage(e) || entryTrack == 0) continue;
            const int channel = e.number("channel");
            const auto [slot, added] = voiceOf.try_emplace(channel, voices.size());
            if (added) voices.emplace_back();
            if (e.noteOn()) {
                voices[slot->second].push_back({at, 0, e.number("note"), e.number("velocity"), channel});
                open.push_back({slot->second, voices[slot->second].size() - 1});
            } else if (e.noteOff()) {
                const auto it = std::find_if(open.begin(), open.end(), [&](const Open& o) {
                    const Note& n = voices[o.voice][o.index];
                    return n.channel == channel && n.key == e.number("note");
                });
                if (it == open.end()) continue;
                Note& n = voices[it->voice][it->index];
                n.duration = at - n.start;
                open.erase(it);
            }
        }
        for (const Open& o : open) {
            Note& n = voices[o.voice][o.index];
            n.duration = static_cast<int>(time) - n.start;
        }
    }
    r.tempos.assign(tempoAt.begin(), tempoAt.end());
    std::stable_sort(meters.begin(), meters.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    r.meters = meters;
    return r;
}

std::set<int> channelsOf(const MidoFile& m) {
    std::set<int> channels;
    for (const MidoEvent& e : m.events) {
        if (isChannelMessage(e)) channels.insert(e.number("channel"));
    }
    return channels;
}

void expectSameReading(const Reading& entry, const Reading& mido) {
    ASSERT_EQ(entry.tracks.size(), mido.tracks.size());
    for (std::size_t t = 0; t < entry.tracks.size(); ++t) {
        ASSERT_EQ(entry.tracks[t].size(), mido.tracks[t].size()) << "voices of track " << t;
        for (std::size_t v = 0; v < entry.tracks[t].size(); ++v) {
            EXPECT_EQ(entry.tracks[t][v], mido.tracks[t][v]) << "track " << t << " voice " << v;
        }
    }
    EXPECT_EQ(entry.names, mido.names);
    EXPECT_EQ(entry.tempos, mido.tempos);
    EXPECT_EQ(entry.meters, mido.meters);
}

// --- the fixtures ------------------------------------------------------------

std::string noteOnOff(int channel, int key, int velocity, std::uint32_t length) {
    return ev(0, {0x90 | channel, key, velocity}) + ev(length, {0x80 | channel, key, 0});
}

// A sequencer's format-0 song at 96 per quarter: channels first used by a
// controller and a program change, running status, note-ons of velocity 0,
// a note-off with a release velocity, a pitch bend.
std::string sequencerFormat0() {
    return smf(0, 96,
               {name("Demo Song") + tempo(0, 500000) + meter(0, 4, 2) + ev(0, {0xB0, 7, 100}) + ev(0, {0xC1, 48}) +
                ev(0, {0x90, 60, 100}) + ev(0, {0x99, 36, 120}) + ev(0, {42, 90}) + ev(0, {0x91, 67, 80}) +
                ev(48, {0x99, 42, 0}) + ev(0, {36, 0}) + ev(48, {0x90, 60, 0}) + ev(0, {62, 100}) +
                ev(0, {0x99, 38, 110}) + ev(24, {38, 0}) + ev(72, {0x80, 62, 64}) + ev(0, {0x81, 67, 0}) +
                ev(0, {0xE0, 0, 0x40}) + endOfTrack(96)});
}

// A notation program's format-1 export at 192 per quarter (2.5 model ticks a
// file tick, so per-event rounding shows): the conductor with title,
// copyright, key, two meters and two tempos; a violin; a piano on two
// channels.
std::string notationFormat1() {
    const std::string conductor = name("Sonata") + meta(0, 0x02, "(c) 1999") + meter(0, 3, 2) +
                                  meta(0, 0x59, std::string("\x01\x00", 2)) + tempo(0, 600000) + meter(576, 6, 3) +
                                  tempo(0, 400000) + endOfTrack();
    const std::string violin = name("Violin") + ev(0, {0xC0, 40}) + ev(0, {0xB0, 10, 64}) + ev(0, {0x90, 76, 90}) +
                               ev(191, {0x80, 76, 0}) + ev(1, {0x90, 77, 91}) + ev(192, {0x80, 77, 0}) +
                               ev(0, {0x90, 79, 92}) + ev(384, {0x80, 79, 0}) + endOfTrack();
    const std::string piano = name("Piano") + ev(0, {0xC1, 0}) + ev(0, {0xC2, 0}) + ev(0, {0x91, 60, 70}) +
                              ev(0, {0x92, 48, 60}) + ev(576, {0x81, 60, 0}) + ev(0, {0x82, 48, 0}) +
                              ev(0, {0x91, 64, 70}) + ev(192, {0x81, 64, 0}) + endOfTrack();
    return smf(1, 192, {conductor, violin, piano});
}

// Running status kept across a text, a SysEx and a marker event, as some
// sequencers write it.
std::string runningStatusAcross(bool statusAfterSysEx) {
    const std::string sysex = ev(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    const std::string afterSysEx = statusAfterSysEx ? ev(0, {0x90, 62, 81}) : ev(0, {62, 81});
    return smf(0, 480,
               {ev(0, {0x90, 60, 80}) + meta(0, 0x01, "verse") + ev(480, {60, 0}) + sysex + afterSysEx +
                meta(240, 0x06, "A") + ev(240, {62, 0}) + ev(0, {64, 82}) + ev(480, {64, 0}) + endOfTrack()});
}

// Only note-ons, velocity 0 ending them, at 96 per quarter.
std::string velocityZeroOff() {
    return smf(0, 96,
               {ev(0, {0x90, 60, 100}) + ev(0, {64, 100}) + ev(96, {60, 0}) + ev(0, {64, 0}) + ev(0, {60, 90}) +
                ev(48, {60, 0}) + ev(0, {60, 80}) + ev(48, {60, 0}) + endOfTrack()});
}

// A track of End of Track only, a chunk of no bytes at all, and a last track
// whose chunk ends without End of Track.
std::string emptyTracks() {
    return smf(1, 480,
               {tempo(0, 500000) + endOfTrack(), endOfTrack(), "",
                name("Bass") + ev(0, {0x93, 40, 100}) + ev(960, {0x83, 40, 0}) + endOfTrack(),
                noteOnOff(4, 50, 90, 480)});
}

// Private chunks before, between and after the tracks.
std::string withPrivateChunks(bool keepThem) {
    const std::string conductor = tempo(0, 750000) + meter(0, 2, 1) + endOfTrack();
    const std::string lead = name("Lead") + noteOnOff(0, 72, 100, 480) + endOfTrack();
    const std::string pad = name("Pad") + noteOnOff(1, 60, 50, 960) + endOfTrack();
    if (!keepThem) return smf(1, 480, {conductor, lead, pad});
    return header(1, 3, 480) + privateChunk("XFIH", std::string("\x00\x01\x02\x03XF02", 8) + std::string(18, '\x20')) +
           track(conductor) + privateChunk("JUNK", "abc") + track(lead) + privateChunk("XFKM", "") + track(pad) +
           privateChunk("JUNK", "tail");
}

// 45 bytes: the data chunk needs a pad byte before the INFO list.
std::string rmidContent() {
    return smf(0, 480, {name("Rmi") + ev(0, {0xC0, 19}) + noteOnOff(0, 60, 90, 480) + endOfTrack()});
}

std::string rmidWithInfo() {
    return riffWithChunks(rmidContent(), riffChunk("LIST", "INFO" + riffChunk("INAM", "Chorale") +
                                                               riffChunk("ICOP", "2001")));
}

// A ".kar" file: the karaoke marks in the conductor, the lyrics as text
// events on a track of their own, the melody on a track whose name is
// Windows-1252 text, an accompaniment; 120 per quarter.
std::string karaoke() {
    const std::string conductor = meta(0, 0x01, "@KMIDI KARAOKE FILE") + meta(0, 0x01, "@V0100") +
                                  meta(0, 0x01, "@IQ Karaoke") + tempo(0, 500000) + meter(0, 4, 2) + endOfTrack();
    const std::string words = name("Words") + meta(0, 0x01, "@LENGL") + meta(0, 0x01, "@TTwinkle") +
                              meta(0, 0x01, "@TTraditional") + meta(0, 0x01, "\\Twin") + meta(60, 0x01, "kle ") +
                              meta(60, 0x01, "twin") + meta(60, 0x01, "kle") + meta(60, 0x01, "/Lit") + endOfTrack();
    std::string melody = name("M\xE9lodie") + ev(0, {0xC0, 73});
    for (int key : {60, 60, 67, 67}) melody += noteOnOff(0, key, 100, 60);
    const std::string accompaniment = name("Begleitung") + ev(0, {0x91, 48, 70}) + ev(0, {55, 70}) +
                                      ev(240, {0x81, 48, 0}) + ev(0, {55, 0}) + endOfTrack();
    return smf(1, 120, {conductor, words, melody + endOfTrack(), accompaniment});
}

// A delta of the largest variable-length quantity, 0x0FFFFFFF, at 96 per
// quarter: five times that still fits the model's time.
std::string longestDelta() {
    return smf(0, 96, {tempo(0, 500000) + ev(0x0FFFFFFF, {0x90, 60, 100}) + ev(96, {0x80, 60, 0}) + endOfTrack()});
}

// Tempo meta events of 0 microseconds at the start and after a real tempo.
std::string tempoZero() {
    return smf(0, 480,
               {tempo(0, 0) + noteOnOff(0, 60, 90, 480) + tempo(0, 1000000) + noteOnOff(0, 62, 90, 480) + tempo(0, 0) +
                noteOnOff(0, 64, 90, 480) + endOfTrack()});
}

// Each track carries its own tempo at tick 0 and again at 960: the horn's,
// read last, hold (80, then 120 per minute).
std::string tempoInEveryTrack() {
    const std::string conductor = meter(0, 4, 2) + tempo(0, 500000) + endOfTrack();
    const std::string strings = name("Strings") + tempo(0, 600000) + ev(0, {0x90, 60, 80}) + tempo(960, 1000000) +
                                ev(0, {0x80, 60, 0}) + endOfTrack();
    const std::string horn = name("Horn") + tempo(0, 750000) + noteOnOff(1, 67, 80, 960) + tempo(0, 500000) +
                             noteOnOff(1, 69, 80, 960) + endOfTrack();
    return smf(1, 480, {conductor, strings, horn});
}

struct Fixture {
    const char* what;
    std::string bytes;
    std::string file;     // its name, for the kinds that have one of their own
    std::string forMido;  // what mido reads where it cannot read the file itself; empty: the same
    int durationMs;
};

std::vector<Fixture> readableFixtures() {
    return {
        {"format 0 from a sequencer", sequencerFormat0(), "", "", 1000},
        {"format 1 with a conductor track", notationFormat1(), "", "", 2201},
        // mido cancels the running status at a SysEx; it reads the same file
        // with the status written out.
        {"running status across meta and SysEx events", runningStatusAcross(false), "", runningStatusAcross(true),
         1500},
        {"note-on of velocity 0 as note-off", velocityZeroOff(), "", "", 1000},
        {"an empty track, a track of no events, one without End of Track", emptyTracks(), "", "", 1000},
        // mido knows no other chunk types than the header and tracks.
        {"private chunks between the tracks", withPrivateChunks(true), "", withPrivateChunks(false), 1500},
        // mido reads no RIFF wrapper.
        {"RMID with an odd data length and an INFO list", rmidWithInfo(), "song.rmi", rmidContent(), 500},
        {"karaoke file", karaoke(), "song.kar", "", 1000},
        {"a delta of four bytes", longestDelta(), "", "", 1398101828},
        {"tempo of 0 microseconds", tempoZero(), "", "", 2500},
        {"a tempo in every track at the same ticks", tempoInEveryTrack(), "", "", 2500},
    };
}

class MidiFixtures : public ::testing::Test {
protected:
    std::filesystem::path write(const std::string& bytes, const std::string& file) {
        const std::filesystem::path path = folder_.path() / (file.empty() ? "song.mid" : file);
        platform::testing::writeBytes(path, bytes);
        return path;
    }

    platform::testing::TempFolder folder_;
};

TEST_F(MidiFixtures, FilesOfRealProgramsReadAsMidoReadsThem) {
    if (!scoreconv::testing::midoAvailable()) GTEST_SKIP() << "python3-mido is not installed";
    const auto check = [&](const Fixture& f) {
        ProjectEntry entry;
        entry.Filename = write(f.bytes, f.file);
        ASSERT_EQ(cnvReadMidiEntry(entry), 0);
        MidiPercussionTable table;
        int channels = -1;
        ASSERT_EQ(ReadMidiTracks(&channels, entry.Filename, table), 0);

        const std::filesystem::path plain = write(f.forMido.empty() ? f.bytes : f.forMido, "mido.mid");
        const MidoFile mido = scoreconv::testing::readWithMido(plain, folder_.path());
        ASSERT_TRUE(mido.read);
        ASSERT_GT(mido.division, 0);
        EXPECT_EQ(entry.trackCount, mido.type == 1 && mido.tracks > 1 ? mido.tracks : mido.tracks + 1);
        EXPECT_EQ(channels, static_cast<int>(channelsOf(mido).size()));
        expectSameReading(fromEntry(entry), fromMido(mido));
        EXPECT_EQ(entry.durationMs, f.durationMs);
    };
    for (const Fixture& f : readableFixtures()) {
        SCOPED_TRACE(f.what);
        check(f);
    }
}

// The tempo rule on its own, where mido's dump has every tempo event: a
// tempo of 0 microseconds is dropped, and of the tempos at one time only the
// last one read stays.
TEST_F(MidiFixtures, TempoMapHasOneRealTempoPerTime) {
    const struct {
        const char* what;
        std::string bytes;
        Marks tempos;
        int ms;
    } cases[] = {
        {"a tempo of 0 is no tempo", tempoZero(), {{480, 60}}, 2500},
        {"the last tempo read at a time holds", tempoInEveryTrack(), {{0, 80}, {960, 120}}, 2500},
        {"a tempo repeated in one track",
         smf(0, 480, {tempo(0, 500000) + tempo(0, 1000000) + noteOnOff(0, 60, 90, 480) + endOfTrack()}), {{0, 60}},
         1000},
    };
    for (const auto& c : cases) {
        ProjectEntry entry;
        entry.Filename = write(c.bytes, "");
        ASSERT_EQ(cnvReadMidiEntry(entry), 0) << c.what;
        EXPECT_EQ(fromEntry(entry).tempos, c.tempos) << c.what;
        EXPECT_EQ(entry.durationMs, c.ms) << c.what;
    }
}

TEST_F(MidiFixtures, DamagedAndForeignFilesGiveTheReadersCode) {
    const std::string good = noteOnOff(0, 60, 90, 480) + endOfTrack();
    std::string truncated = notationFormat1();
    truncated.resize(truncated.size() - 20);  // inside the piano track
    const struct {
        const char* what;
        std::string bytes;
        int code;
    } cases[] = {
        {"SMPTE timing, 25 frames of 40", smf(0, 0xE728, {good}), kMidiNotMidiFile},
        {"SMPTE timing, 30 frames of 80", smf(1, 0xE250, {endOfTrack(), good}), kMidiNotMidiFile},
        {"truncated", truncated, kMidiShortRead},
        {"empty", "", kMidiNotMidiFile},
        {"a text file", "MIDI notes: C D E F G\n", kMidiNotMidiFile},
        {"a WAVE file", "RIFF" + littleEndian(36) + "WAVEfmt " + littleEndian(16) + std::string(16, '\0'),
         kMidiNotMidiFile},
        {"a private chunk longer than the file", header(1, 2, 480) + track(endOfTrack()) + "JUNK" +
                                                       bigEndian(1000, 4) + "abc",
         kMidiShortRead},
        {"a private chunk where an announced track is missing",
         header(0, 2, 480) + track(good) + privateChunk("JUNK", "xyz"), kMidiShortRead},
    };
    for (const auto& c : cases) {
        ProjectEntry entry;
        entry.Filename = write(c.bytes, "");
        MidiPercussionTable table;
        EXPECT_EQ(ReadMidiTracks(nullptr, entry.Filename, table), c.code) << c.what;
        EXPECT_EQ(LoadMidiIntoModel(entry), c.code) << c.what;
        EXPECT_EQ(cnvReadMidiEntry(entry), c.code) << c.what;
    }
}

}  // namespace
}  // namespace qvp3
