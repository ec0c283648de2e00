// Writing Standard MIDI Files: the export streams of the sequencer and the
// percussion split of a rendered file.
#include "qvp3_pipeline/midi_write.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "qvp3_pipeline/midi_smf.h"
#include "platform/atomic_file.h"
#include "platform/files.h"
#include "platform/text.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/midi_read.h"

namespace qvp3 {
namespace {

using scorecore::CMidiTrackStream;

constexpr int kDefaultDivision = 480;

// The big-endian bytes of a chunk header.
std::array<std::uint8_t, 8> chunkHeader(const char (&type)[5], std::uint32_t length) {
    return {static_cast<std::uint8_t>(type[0]), static_cast<std::uint8_t>(type[1]),
            static_cast<std::uint8_t>(type[2]), static_cast<std::uint8_t>(type[3]),
            static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
            static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
}

// Header and chunks through a temporary file beside the target, so that a
// failure leaves no truncated file and the old one intact.
int writeFile(const std::filesystem::path& path, const std::vector<const CMidiTrackStream*>& tracks, int division) {
    platform::AtomicFileWriter out(path);
    if (!out.open()) return kMidiCannotCreate;
    scorecore::CMidiFileHeader values;
    values.format = 1;
    values.tracks = static_cast<std::uint16_t>(tracks.size());
    values.division = static_cast<std::uint16_t>(division == 0 ? kDefaultDivision : division);
    const auto header = scorecore::scMidiFillFileHeader(values);
    if (!out.write(header.data(), header.size())) return kMidiWriteError;
    for (const CMidiTrackStream* t : tracks) {
        const auto chunk = chunkHeader("MTrk", t->length());
        if (!out.write(chunk.data(), chunk.size())) return kMidiWriteError;
        if (!t->empty() && !out.write(t->data(), t->length())) return kMidiWriteError;
    }
    return out.commit() ? 0 : kMidiWriteError;
}

// Names are written in the Windows code page that readers of MIDI files
// expect; a name that it cannot hold keeps its UTF-8 rather than losing letters.
std::string textBytes(std::string_view utf8, std::size_t maxBytes) {
    bool lossy = false;
    std::string bytes = platform::utf8ToCp1252(utf8, &lossy);
    if (lossy) bytes = std::string(utf8);
    if (bytes.size() > maxBytes) {
        bytes.resize(maxBytes);
        // A cut UTF-8 text must not end inside a character.
        if (lossy) {
            while (!bytes.empty() && !platform::isValidUtf8(bytes)) bytes.pop_back();
        }
    }
    return bytes;
}

int addOpening(EntryPlayer& player, int track, int bytes) {
    if (bytes > 0 && track >= 0 && static_cast<std::size_t>(track) < player.openingLength.size()) {
        player.openingLength[static_cast<std::size_t>(track)] += static_cast<std::uint32_t>(bytes);
    }
    return bytes;
}

}  // namespace

CMidiTrackStream* EntryPlayer::stream(int track) {
    if (track < 0 || static_cast<std::size_t>(track) >= streams.size()) return nullptr;
    return &streams[static_cast<std::size_t>(track)];
}

EntryPlayer& plyEntryPlayer(ProjectEntry& entry) { return cnvEntryModel(entry).player; }

bool plyIsPercussionStaff(const ProjectEntry& entry, int staff) { return entry.isPercussionStave(staff); }

namespace {

int staffCount(const ProjectEntry& entry) { return static_cast<int>(entry.voiceCounts.size()); }

// Output tracks a staff takes.
int staffTracks(const ProjectEntry& entry, int staff) {
    if (plyIsPercussionStaff(entry, staff)) {
        return std::max<int>(1, static_cast<int>(entry.instruments[static_cast<std::size_t>(staff)].size()));
    }
    return std::max<int>(1, entry.voiceCounts[static_cast<std::size_t>(staff)]);
}

int firstTrackOf(const ProjectEntry& entry, int staff) {
    int track = 1;
    for (int s = 0; s < staff; ++s) track += staffTracks(entry, s);
    return track;
}

}  // namespace

bool plyMetronomeInUse(const ProjectEntry& entry) { return entry.metronome.CountIn > 0 || entry.metronome.Use != 0; }

int plyCountOutputTracks(const ProjectEntry& entry, int* metronomeTrack, int* tuneUpTrack, bool allTracks) {
    int count = firstTrackOf(entry, staffCount(entry));
    int metronome = -1;
    int tuneUp = -1;
    if (allTracks || plyMetronomeInUse(entry)) metronome = count++;
    if (allTracks || entry.tuneUp.needsOwnTrack()) tuneUp = count++;
    if (metronomeTrack != nullptr) *metronomeTrack = metronome;
    if (tuneUpTrack != nullptr) *tuneUpTrack = tuneUp;
    return count;
}

int plyVoiceTrack(const ProjectEntry& entry, int staff, int voice) {
    if (staff < 0 || staff >= staffCount(entry) || voice < 0) return -1;
    if (voice >= std::max<int>(1, entry.voiceCounts[static_cast<std::size_t>(staff)])) return -1;
    return firstTrackOf(entry, staff) + (plyIsPercussionStaff(entry, staff) ? 0 : voice);
}

int plyPercussionKeyTrack(const ProjectEntry& entry, int staff, int key) {
    if (staff < 0 || staff >= staffCount(entry)) return -1;
    const auto& records = entry.instruments[static_cast<std::size_t>(staff)];
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].PercNote == key) return firstTrackOf(entry, staff) + static_cast<int>(i);
    }
    return -1;
}

int plyAllocExportStreams(ProjectEntry& entry, int trackCount) {
    EntryPlayer& player = plyEntryPlayer(entry);
    try {
        const auto n = static_cast<std::size_t>(std::max(trackCount, 0));
        player.streams.assign(n, CMidiTrackStream());
        player.pending.assign(n, 0);
        player.openingLength.assign(n, 0);
    } catch (const std::bad_alloc&) {
        plyFreeExportStreams(entry);
        return kMidiOutOfMemory;
    }
    return 0;
}

void plyFreeExportStreams(ProjectEntry& entry) {
    EntryPlayer& player = plyEntryPlayer(entry);
    player.streams.clear();
    player.streams.shrink_to_fit();
    player.pending.clear();
    player.openingLength.clear();
}

int plyEmitDelta(EntryPlayer& player, int track) {
    CMidiTrackStream* stream = player.stream(track);
    if (stream == nullptr) return 0;
    return scorecore::scMidiPutDelta(stream, player.pending[static_cast<std::size_t>(track)]);
}

int plyEmitChannelEvent(EntryPlayer& player, int track, std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
                        platform::MidiOutDevice* out) {
    CMidiTrackStream* stream = player.stream(track);
    if (stream == nullptr) return scorecore::scMidiPutShort(nullptr, status, data1, data2, out);
    const int delta = plyEmitDelta(player, track);
    if (delta < 0) return -1;
    const int bytes = scorecore::scMidiPutShort(stream, status, data1, data2, nullptr);
    return bytes < 0 ? -1 : delta + bytes;
}

int plyEmitTimeSignature(EntryPlayer& player, int track, int beats, int unitIndex) {
    CMidiTrackStream* stream = player.stream(track);
    if (stream == nullptr) return 0;
    const int delta = plyEmitDelta(player, track);
    if (delta < 0) return -1;
    const int bytes = scorecore::scMidiPutTimeSignature(stream, beats, unitIndex);
    return bytes < 0 ? -1 : delta + bytes;
}

int plyEmitTempo(EntryPlayer& player, int track, double tempo) {
    CMidiTrackStream* stream = player.stream(track);
    if (stream == nullptr) return 0;
    const int delta = plyEmitDelta(player, track);
    if (delta < 0) return -1;
    // scMidiPutTempo takes whole beats; the microseconds come from the exact tempo.
    const double micros = tempo > 0.0 ? std::floor(60'000'000.0 / tempo) : 0xFFFFFF;
    const auto value = static_cast<std::uint32_t>(std::clamp(micros, 1.0, static_cast<double>(0xFFFFFF)));
    const std::array<std::uint8_t, 3> data{static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 8),
                                           static_cast<std::uint8_t>(value)};
    const int bytes = scorecore::scMidiPutMeta(stream, 0x51, data);
    return bytes < 0 ? -1 : delta + bytes;
}

int plyEmitText(EntryPlayer& player, int track, std::uint8_t type, std::string_view utf8, std::size_t maxBytes) {
    CMidiTrackStream* stream = player.stream(track);
    if (stream == nullptr) return 0;
    const int delta = plyEmitDelta(player, track);
    if (delta < 0) return -1;
    const std::string bytes = textBytes(utf8, maxBytes);
    const int written = scorecore::scMidiPutMeta(
        stream, type, std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    return written < 0 ? -1 : delta + written;
}

int plyWriteConductorHeader(ProjectEntry& entry, std::string_view copyright) {
    EntryPlayer& player = plyEntryPlayer(entry);
    std::string name;
    if (entry.kind == EntryKind::Midi) {
        // The source's own conductor name (the song's title) is kept; the
        // first staff's name stands in where the source had none.
        name = !entry.trackNames.empty() && !entry.trackNames[0].empty() ? entry.trackNames[0]
                                                                         : cnvEntryStaveName(entry, 0);
    } else {
        name = entry.Filename.stem().string();
    }
    const int a = plyEmitText(player, 0, 0x03, name, 256);
    const int b = plyEmitText(player, 0, 0x02, copyright, 256);
    return a < 0 || b < 0 ? -1 : a + b;
}

int midiWriteTrackNames(ProjectEntry& entry) {
    EntryPlayer& player = plyEntryPlayer(entry);
    if (player.mode != kPlayerExport) return 0;
    int total = 0;
    for (int staff = 0; staff < staffCount(entry); ++staff) {
        const std::string name = cnvEntryStaveName(entry, staff);
        const int first = firstTrackOf(entry, staff);
        const int tracks = staffTracks(entry, staff);
        const bool percussion = plyIsPercussionStaff(entry, staff);
        for (int i = 0; i < tracks; ++i) {
            std::string text = name;
            if (percussion) {
                const auto& records = entry.instruments[static_cast<std::size_t>(staff)];
                text = static_cast<std::size_t>(i) < records.size() ? cnvPercussionKeyName(records[static_cast<std::size_t>(i)].PercNote)
                                                                     : name;
            } else if (tracks > 1) {
                text = name + "-" + std::to_string(i + 1);
            }
            const int bytes = plyEmitText(player, first + i, 0x03, text, 255);
            if (bytes < 0) return -1;
            total += addOpening(player, first + i, bytes);
        }
    }
    return total;
}

int midiWriteSmf(ProjectEntry& entry, const std::filesystem::path& path, bool closeTracks, int trackCount,
                 int division) {
    EntryPlayer& player = plyEntryPlayer(entry);
    const int count = trackCount >= 0 ? trackCount : plyCountOutputTracks(entry, nullptr, nullptr, false);
    if (static_cast<std::size_t>(count) > player.streams.size()) return kMidiWriteError;
    if (closeTracks) {
        for (int t = 0; t < count; ++t) {
            player.pending[static_cast<std::size_t>(t)] = 0;
            const int delta = plyEmitDelta(player, t);
            const int end = scorecore::scMidiPutMeta(player.stream(t), 0x2F, {});
            if (delta < 0 || end < 0) return kMidiWriteError;
            addOpening(player, t, delta + end);
        }
    }
    std::vector<const CMidiTrackStream*> tracks;
    for (int t = 0; t < count; ++t) {
        const auto i = static_cast<std::size_t>(t);
        // A voice that holds nothing but its opening is left out of a counted export.
        if (trackCount < 0 && t > 0 && player.streams[i].length() <= player.openingLength[i]) continue;
        tracks.push_back(&player.streams[i]);
    }
    return writeFile(path.empty() ? entry.convertedMidiPath : path, tracks, division);
}

// --- percussion split ------------------------------------------------------

namespace {

// The output tracks of one source track that plays n > 1 percussion keys.
class TrackSplitter {
public:
    explicit TrackSplitter(std::vector<CMidiTrackStream>& out, std::size_t first, std::size_t n)
        : out_(out), first_(first), keys_(n, kFree), pending_(n, 0) {}

    int run(std::span<const std::uint8_t> chunk);

private:
    static constexpr int kFree = -1;

    int write(std::size_t i, std::span<const std::uint8_t> head, std::span<const std::uint8_t> data = {});
    int toAll(std::span<const std::uint8_t> head, std::span<const std::uint8_t> data = {});
    std::size_t trackOfNote(const smf::SmfEvent& e);

    std::vector<CMidiTrackStream>& out_;
    std::size_t first_;
    std::vector<int> keys_;
    std::vector<std::int64_t> pending_;
    std::size_t nextNew_ = 0;
};

int TrackSplitter::write(std::size_t i, std::span<const std::uint8_t> head, std::span<const std::uint8_t> data) {
    std::array<std::uint8_t, 4> quantity{};
    const int n = scorecore::scMidiPutVarLen(quantity, pending_[i]);
    if (n == 0) return kMidiNotMidiFile;  // a track longer than a delta can say
    pending_[i] = 0;
    CMidiTrackStream& stream = out_[first_ + i];
    if (!stream.append(std::span(quantity.data(), static_cast<std::size_t>(n))) || !stream.append(head, data)) {
        return kMidiOutOfMemory;
    }
    return 0;
}

int TrackSplitter::toAll(std::span<const std::uint8_t> head, std::span<const std::uint8_t> data) {
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        if (const int r = write(i, head, data); r != 0) return r;
    }
    return 0;
}

// The track a note goes to: the one holding its key; a note-off without one
// goes to the first track in use; a note-on with a new key to the next
// track in order of first use. Only the drum channel's keys were counted,
// so notes of other channels stay on the first track, and new keys cannot
// outnumber the tracks (should they, they share the last one).
std::size_t TrackSplitter::trackOfNote(const smf::SmfEvent& e) {
    if (e.channel() != smf::kPercussionChannel) return 0;
    for (std::size_t i = 0; i < keys_.size(); ++i) {
        if (keys_[i] == e.data1) return i;
    }
    if (e.isNoteOff()) {
        for (std::size_t i = 0; i < keys_.size(); ++i) {
            if (keys_[i] != kFree) return i;
        }
        return 0;
    }
    const std::size_t i = std::min(nextNew_, keys_.size() - 1);
    ++nextNew_;
    return i;
}

int TrackSplitter::run(std::span<const std::uint8_t> chunk) {
    smf::SmfTrackCursor cursor(chunk);
    smf::SmfEvent e;
    int result = 0;
    while ((result = cursor.next(e)) > 0) {
        for (std::int64_t& p : pending_) p += e.delta;
        if (!e.isChannel()) {
            std::vector<std::uint8_t> head{e.status};
            if (e.status == 0xFF) head.push_back(e.metaType);
            // Every system event of a file carries its length, as the reader takes it.
            std::array<std::uint8_t, 4> length{};
            const int n = scorecore::scMidiPutVarLen(length, static_cast<std::int64_t>(e.data.size()));
            head.insert(head.end(), length.begin(), length.begin() + n);
            if (const int r = toAll(head, e.data); r != 0) return r;
            if (e.isMeta(smf::kMetaEndOfTrack)) return 0;
            continue;
        }
        const int command = e.command();
        std::array<std::uint8_t, 3> bytes{e.status, e.data1, e.data2};
        const std::size_t size = command == 0xC0 || command == 0xD0 ? 2 : 3;
        if (command != 0x80 && command != 0x90) {
            if (const int r = toAll(std::span(bytes.data(), size)); r != 0) return r;
            continue;
        }
        const std::size_t i = trackOfNote(e);
        if (e.isNoteOn() && e.channel() == smf::kPercussionChannel) keys_[i] = e.data1;
        if (const int r = write(i, std::span(bytes.data(), size)); r != 0) return r;
    }
    return result;
}

int splitAndWrite(const std::filesystem::path& source, const std::filesystem::path& target) {
    MidiPercussionTable table;
    if (const int r = ReadMidiTracks(nullptr, source, table); r != 0) return r;
    smf::SmfFile file;
    if (const int r = file.open(source); r != 0) return r;
    const smf::SmfHeader& header = file.header();
    // Voices per source track: its percussion keys, a track with none counting one.
    std::vector<std::size_t> voices(static_cast<std::size_t>(header.trackCount), 1);
    std::size_t outputTracks = 0;
    for (std::size_t t = 0; t < voices.size(); ++t) {
        if (t < table.keyCounts.size()) voices[t] = std::max<std::size_t>(1, table.keyCounts[t]);
        outputTracks += voices[t];
    }
    if (outputTracks == voices.size()) {
        // Nothing to split: the file as it is, through a temporary file as well.
        return platform::copyFile(source, target, true) ? 0 : kMidiCannotCreate;
    }
    if (outputTracks > 0xFFFF) return kMidiNotMidiFile;  // more than a header can announce
    std::vector<CMidiTrackStream> out(outputTracks);
    std::vector<std::uint8_t> chunk;
    std::size_t next = 0;
    for (std::size_t t = 0; t < voices.size(); ++t) {
        if (const int r = file.readTrack(chunk); r != 0) return r;
        if (voices[t] <= 1) {
            if (!out[next].append(chunk)) return kMidiOutOfMemory;
        } else {
            TrackSplitter splitter(out, next, voices[t]);
            if (const int r = splitter.run(chunk); r != 0) return r;
        }
        next += voices[t];
    }
    std::vector<const CMidiTrackStream*> tracks;
    for (const CMidiTrackStream& s : out) tracks.push_back(&s);
    return writeFile(target, tracks, header.division);
}

}  // namespace

int midiSplitAndWrite(const std::filesystem::path& source, const std::filesystem::path& target) {
    try {
        return splitAndWrite(source, target);
    } catch (const std::bad_alloc&) {
        return kMidiOutOfMemory;
    } catch (const std::length_error&) {
        return kMidiOutOfMemory;
    }
}

}  // namespace qvp3
