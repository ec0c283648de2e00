// A MIDI file read for the plug-in player: the events of each file track in
// a track of the note tracker at the file's own ticks, with what the player
// needs to know of each track, and the file's tempos.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "qvp3_pipeline/note_tracker.h"

namespace qvp3 {

inline constexpr std::int32_t kTrackKindPercussionStaff = 1;
inline constexpr std::int32_t kTrackKindFoundPercussion = 3;
// The mark of a track that no staff of the entry describes.
inline constexpr std::uint8_t kTrackBeyondStaves = 0x40;

struct MidiPlayerTrack {
    std::int32_t kind = 0;             // the staff's mark; 3 once it plays on channel 10
    std::uint8_t percussion = 0xFF;    // the first key of a percussion track; 0xFF none yet
    std::uint8_t program = 0;          // the last program change
    std::int32_t pan = -1;             // the last controller 10; -1 none
};

struct MidiPlayerFile {
    std::int32_t division = 480;           // ticks per quarter of the file
    std::vector<MidiPlayerTrack> tracks;   // one per file track
    std::vector<PlyTimedValue> tempos;     // from tick `time`: `value` hundredths of a quarter per minute
};

// Reads the file into tracker (one track per file track): note-ons and
// note-offs and control changes with their ticks; program changes and pan
// remembered in the track; aftertouch, pressure and bends left out; a tempo
// as 6000000000 / microseconds per quarter, rounded, within 800..25000.
// marks: the kinds of the entry's staves by track (tracks beyond them get
// kTrackBeyondStaves). 0 or the MIDI readers' codes (kMidiCannotOpen,
// kMidiNotMidiFile, kMidiShortRead, kMidiOutOfMemory); on failure the
// tracker is empty.
int midiLoadPlayerFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& marks,
                       CNoteTracker& tracker, MidiPlayerFile& file);

// The marks of a file that no staff describes, such as a converted MIDI
// file: every track of kind 0, so that its channel tells whether it is percussion.
const std::vector<std::uint8_t>& midiUnmarkedTracks();

}  // namespace qvp3
