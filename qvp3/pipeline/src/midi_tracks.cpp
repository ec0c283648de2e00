// A MIDI file into the plug-in player's tracks.
#include "qvp3_pipeline/midi_tracks.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "qvp3_pipeline/midi_smf.h"
#include "platform/midi_out.h"

namespace qvp3 {
namespace {

// One chunk's events into its track: kMidiOk or a reader's code.
int readTrack(smf::SmfTrackCursor& cursor, TrackNoteState& state, MidiPlayerTrack& track, MidiPlayerFile& file) {
    std::uint64_t tick = 0;
    smf::SmfEvent e;
    int read = 0;
    while ((read = cursor.next(e)) == 1) {
        tick += e.delta;
        const auto at = static_cast<std::uint32_t>(std::min<std::uint64_t>(tick, 0xFFFFFFFFu));
        if (e.isMeta(smf::kMetaEndOfTrack)) break;
        if (e.isMeta(smf::kMetaTempo)) {
            if (const std::uint32_t tempo = smf::tempoHundredths(e.data); tempo != 0) {
                if (!plyTimedValueAppend(file.tempos, tempo, at)) return kMidiOutOfMemory;
            }
            continue;
        }
        if (!e.isChannel()) continue;
        const int command = e.command();
        if (command == 0x80 || command == 0x90) {
            if (e.channel() == smf::kPercussionChannel && track.kind == 0) track.kind = kTrackKindFoundPercussion;
            const bool drums = track.kind == kTrackKindPercussionStaff || track.kind == kTrackKindFoundPercussion;
            if (drums && track.percussion == 0xFF) track.percussion = e.data1;
        } else if (command == 0xB0) {
            if (e.data1 == 10) track.pan = e.data2;
        } else if (command == 0xC0) {
            track.program = e.data1;
            continue;
        } else {
            continue;  // aftertouch, pressure and bends are not for the plug-ins
        }
        if (!plyEventQueueAppend(state.queue, platform::packShortMessage(e.status, e.data1, e.data2), at)) {
            return kMidiOutOfMemory;
        }
    }
    return read < 0 ? read : kMidiOk;
}

}  // namespace

const std::vector<std::uint8_t>& midiUnmarkedTracks() {
    // As many as a file's header can count.
    static const std::vector<std::uint8_t> marks(0x10000, 0);
    return marks;
}

int midiLoadPlayerFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& marks,
                       CNoteTracker& tracker, MidiPlayerFile& file) {
    file = MidiPlayerFile{};
    smf::SmfFile in;
    int result = in.open(path);
    if (result != kMidiOk) return result;
    const smf::SmfHeader& header = in.header();
    file.division = header.division > 0 ? header.division : smf::kModelDivision;
    try {
        file.tracks.resize(static_cast<std::size_t>(header.trackCount));
    } catch (const std::bad_alloc&) {
        return kMidiOutOfMemory;
    }
    if (!plyNoteTrackerAlloc(tracker, file.tracks.size())) return kMidiOutOfMemory;
    std::vector<std::uint8_t> body;
    for (std::size_t t = 0; t < file.tracks.size() && result == kMidiOk; ++t) {
        file.tracks[t].kind = t < marks.size() ? marks[t] : kTrackBeyondStaves;
        result = in.readTrack(body);
        if (result != kMidiOk) break;
        smf::SmfTrackCursor cursor(body);
        result = readTrack(cursor, tracker.tracks[t], file.tracks[t], file);
    }
    if (result != kMidiOk) {
        plyNoteTrackerFree(tracker);
        file = MidiPlayerFile{};
        return result;
    }
    // Tempos of several tracks in the order of their ticks.
    std::stable_sort(file.tempos.begin(), file.tempos.end(),
                     [](const PlyTimedValue& a, const PlyTimedValue& b) { return a.time < b.time; });
    return result;
}

}  // namespace qvp3
