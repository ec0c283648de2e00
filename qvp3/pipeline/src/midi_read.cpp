// Scanning a Standard MIDI File's tracks, and opening it as a MIDI entry.
#include "qvp3_pipeline/midi_read.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>

#include "qvp3_pipeline/midi_smf.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/sequencer.h"

namespace qvp3 {
namespace {

constexpr std::uint8_t kUnusedChannel = 255;
constexpr std::int8_t kMidiStaveVolume = 90;
constexpr std::int8_t kVoiceVolume = 100;
constexpr std::int8_t kVoicePanorama = 64;

int scanTracks(int* channelCount, const std::filesystem::path& path, MidiPercussionTable& table) {
    smf::SmfFile file;
    if (const int r = file.open(path); r != 0) return r;
    const smf::SmfHeader& header = file.header();
    table.keyCounts.assign(static_cast<std::size_t>(header.trackCount), 0);
    table.keyMarks.assign(static_cast<std::size_t>(header.entryTrackCount()), {});
    std::array<std::uint8_t, 16> channelMap;
    channelMap.fill(kUnusedChannel);
    int used = 0;
    std::vector<std::uint8_t> chunk;
    for (int t = 0; t < header.trackCount; ++t) {
        if (const int r = file.readTrack(chunk); r != 0) return r;
        auto& marks = table.keyMarks[static_cast<std::size_t>(header.entryTrack(t))];
        smf::SmfTrackCursor cursor(chunk);
        smf::SmfEvent e;
        int r = 0;
        while ((r = cursor.next(e)) > 0) {
            if (!e.isChannel()) continue;
            std::uint8_t& number = channelMap[static_cast<std::size_t>(e.channel())];
            if (number == kUnusedChannel) number = static_cast<std::uint8_t>(used++);
            if (e.isNoteOn() && e.channel() == smf::kPercussionChannel && marks[e.data1] == 0) {
                marks[e.data1] = 1;
                ++table.keyCounts[static_cast<std::size_t>(t)];
            }
        }
        if (r < 0) return r;
    }
    // A one-track file's keys belong to the voice of channel 10 (which has a
    // number whenever a key was counted).
    if (header.isOneTrack() && table.keyCounts[0] > 0) {
        const std::size_t slot = channelMap[smf::kPercussionChannel] + 1u;
        if (table.keyCounts.size() <= slot) table.keyCounts.resize(slot + 1, 0);
        table.keyCounts[slot] = table.keyCounts[0];
        table.keyCounts[0] = 0;
    }
    if (channelCount != nullptr) *channelCount = used;
    return 0;
}

void buildPlayRecords(ProjectEntry& entry) {
    const auto staves = static_cast<std::size_t>(std::max(entry.staveCount, 0));
    entry.voices.clear();
    entry.staffVelocity.assign(staves, kMidiStaveVolume);
    entry.staffVelocityRelative.assign(staves, 0);
    for (std::size_t s = 0; s < staves; ++s) {
        const int voices = entry.voiceCounts[s];
        for (int v = 0; v < voices; ++v) {
            VoicePlayRecord record;
            const scorecore::CMidiInstr* instrument = entry.voiceInstrument(static_cast<int>(s), v);
            record.sound = instrument != nullptr ? instrument->SrcProgPercId : 0;
            record.volume = kVoiceVolume;
            record.panorama = kVoicePanorama;
            entry.voices.push_back(std::move(record));
        }
        // A stave with voices plays its notes' own velocities.
        if (voices > 0) {
            entry.staffVelocity[s] = 0;
            entry.staffVelocityRelative[s] = 1;
        }
    }
    if (staves > 0 && entry.states.create(static_cast<std::int32_t>(staves), entry.voiceCounts)) {
        entry.states.setAll(true);
    } else {
        entry.states.free();
    }
}

int readEntry(ProjectEntry& entry) {
    entry.kind = EntryKind::Midi;
    // The whole file is checked before the entry's model is replaced.
    MidiPercussionTable table;
    if (const int r = ReadMidiTracks(nullptr, entry.Filename, table); r != 0) return r;
    if (const int r = LoadMidiIntoModel(entry); r != 0) return r;
    buildPlayRecords(entry);
    // The playing time as the sequencer plays the file.
    return plyMeasureMidiEntry(entry);
}

}  // namespace

int ReadMidiTracks(int* channelCount, const std::filesystem::path& path, MidiPercussionTable& table) {
    try {
        return scanTracks(channelCount, path, table);
    } catch (const std::bad_alloc&) {
        return kMidiOutOfMemory;
    } catch (const std::length_error&) {
        return kMidiOutOfMemory;
    }
}

int cnvReadMidiEntry(ProjectEntry& entry) {
    try {
        return readEntry(entry);
    } catch (const std::bad_alloc&) {
        return kMidiOutOfMemory;
    } catch (const std::length_error&) {
        return kMidiOutOfMemory;
    }
}

}  // namespace qvp3
