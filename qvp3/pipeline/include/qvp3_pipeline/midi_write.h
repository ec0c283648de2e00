// Every MIDI file the program produces is written here: the export of the
// own sequencer (per-track byte streams in the entry's player, one output
// track per voice) and the rewrite of a file that splits each track playing
// several percussion keys into one track per key.
//
// Output tracks of an export, in order: 0 the conductor (tempo, time
// signature); one per voice of every staff in staff order (a staff without
// voices counts one, a percussion staff one per key record); the metronome
// track when the metronome is in use; the tune-up track when the tune-up
// needs one of its own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "qvp3_pipeline/entry_player.h"
#include "qvp3_project/project_entry.h"

namespace qvp3 {

inline constexpr int kMidiWriteError = -101;    // a write wrote fewer bytes than asked
inline constexpr int kMidiCannotCreate = -200;  // the target cannot be created

// Language strings of the texts the export writes (English when the shell has none).
inline constexpr int kStrSmfCopyright = 277;      // meta event 0x02 of the conductor track
inline constexpr int kStrMetronomeTrack = 470;
inline constexpr int kStrTuneUpTrack = 471;

// The player of the entry's model (made when there is none).
EntryPlayer& plyEntryPlayer(ProjectEntry& entry);

// The metronome is in use: its count-in is above 0 or its use flag is set.
bool plyMetronomeInUse(const ProjectEntry& entry);
// Output tracks of an export; the metronome's and the tune-up's own track
// (or -1) when asked. allTracks counts both extra tracks in any case.
int plyCountOutputTracks(const ProjectEntry& entry, int* metronomeTrack, int* tuneUpTrack, bool allTracks);
// Output track of a voice: 1 + the tracks of the staves before it; -1 when
// out of range.
int plyVoiceTrack(const ProjectEntry& entry, int staff, int voice);
// Output track of a percussion key: the staff's first track plus the key's
// index among its key records; -1 when the staff has no record of the key.
int plyPercussionKeyTrack(const ProjectEntry& entry, int staff, int key);
bool plyIsPercussionStaff(const ProjectEntry& entry, int staff);

// Streams of that many output tracks, all pending deltas and opening lengths
// 0; kMidiOutOfMemory when they cannot be had.
int plyAllocExportStreams(ProjectEntry& entry, int trackCount);
void plyFreeExportStreams(ProjectEntry& entry);

// --- emitters: each appends to one output track's stream (after its pending
// delta) and answers the bytes added; -1 when the stream cannot grow.
int plyEmitDelta(EntryPlayer& player, int track);
// Appends the message, or sends it at once on `out` when the track has no stream.
int plyEmitChannelEvent(EntryPlayer& player, int track, std::uint8_t status, std::uint8_t data1,
                        std::uint8_t data2, platform::MidiOutDevice* out);
int plyEmitTimeSignature(EntryPlayer& player, int track, int beats, int unitIndex);
// Microseconds per quarter of the tempo, truncated.
int plyEmitTempo(EntryPlayer& player, int track, double tempo);
// A meta event of text (type 1 .. 7): Windows-1252 when the text has no
// other characters, else its UTF-8, at most maxBytes bytes.
int plyEmitText(EntryPlayer& player, int track, std::uint8_t type, std::string_view utf8, std::size_t maxBytes);

// Opening of the conductor track: its name (a MIDI entry's own conductor
// name, else its first staff's; a score's file name without folder and
// extension) and the copyright text.
int plyWriteConductorHeader(ProjectEntry& entry, std::string_view copyright);
// Export only: every output track's name (a voice track the staff's name,
// "name-n" when the staff has several voices; a percussion key track the
// key's General MIDI name, "[key]" outside 35..81), counted as opening.
int midiWriteTrackNames(ProjectEntry& entry);

// Writes the export streams as a format-1 file: to path, or the entry's
// converted-MIDI path when path is empty. closeTracks ends every track with
// End of Track first. trackCount -1 counts the output tracks and leaves out
// every track after the conductor that holds only its opening; division 0
// is written as 480. The file goes through a temporary file that replaces
// the target only when complete. 0, kMidiCannotCreate or kMidiWriteError.
int midiWriteSmf(ProjectEntry& entry, const std::filesystem::path& path, bool closeTracks, int trackCount,
                 int division);

// Rewrites source into target, giving every track that plays several
// percussion keys one track per key (in order of first note-on); other
// tracks, and a file without such a track, are copied unchanged. 0, the
// reader's codes (kMidiCannotOpen, kMidiNotMidiFile, kMidiShortRead,
// kMidiOutOfMemory) or midiWriteSmf's.
int midiSplitAndWrite(const std::filesystem::path& source, const std::filesystem::path& target);

}  // namespace qvp3
