// Reading a Standard MIDI File into a project entry: a scan of the channels
// and percussion keys of every track, the events read into the entry's play
// model at 480 ticks per quarter, and the entry's shape, play records and
// playing time.
//
// Track numbers of an entry: track 0 is the conductor track, stave s is
// track s + 1. A format-1 file with several tracks keeps its own track 0 as
// the conductor; the tracks of every other file (format 0, a single track)
// become tracks 1, 2, ... after an empty conductor track.
//
// The play model (PipelineEntryModel::list(track, voice)):
// - track 0, voice 0: the conductor events of every track in time order:
//   tempo changes (kind kKindTempo, headCount 1, midi[0] the tempo in beats
//   per minute, rounded, midi[1] the file's microseconds per quarter) and
//   time signatures (kind kKindTimeSig, headCount 1,
//   meterBeats the numerator, meterUnit the denominator's power of two);
// - track t > 0, voice v: the notes of the v-th channel the track uses, in
//   order of first use: kind kKindNote, start, duration, headCount 1 and
//   midi[0] = 0x90 | channel | key << 8 | velocity << 16; and the voice's
//   other channel messages (controllers, programs after its first, pitch
//   bend, pressure) as events of kind 0 with headCount 1 and midi[0] =
//   status | data1 << 8 | data2 << 16.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "qvp3_project/project_entry.h"

namespace qvp3 {

// Result codes of the MIDI reader.
inline constexpr int kMidiOk = 0;
inline constexpr int kMidiOutOfMemory = -2;
inline constexpr int kMidiShortRead = -100;
inline constexpr int kMidiCannotOpen = -103;
inline constexpr int kMidiNotMidiFile = -104;  // also an event past its chunk

// What ReadMidiTracks learns about the percussion (channel 10) note-ons.
struct MidiPercussionTable {
    // Per file track: its number of distinct percussion keys. In a one-track
    // file the count sits at the slot of channel 10's number (order of first
    // use, from 0) plus 1, and slot 0 holds 0, so that the keys belong to the
    // voice of channel 10.
    std::vector<std::uint8_t> keyCounts;
    // Per entry track: 1 for every key the track plays on channel 10.
    std::vector<std::array<std::uint8_t, 128>> keyMarks;
};

// Scans every track chunk. channelCount (may be null) receives the number of
// channels the file's channel events use. 0, kMidiCannotOpen,
// kMidiNotMidiFile (no format 0 or 1 file with ticks-per-quarter timing, an
// event past its chunk), kMidiShortRead (the file ends inside a chunk, or has
// fewer track chunks than its header announces) or kMidiOutOfMemory. Chunks
// of other types before or between the tracks are skipped.
int ReadMidiTracks(int* channelCount, const std::filesystem::path& path, MidiPercussionTable& table);

// Reads entry.Filename into a new play model and sets the entry's track and
// stave counts, voice counts, instrument records (per voice: its channel,
// source channel, first program; percussion key 0 on channel 10 and 255
// otherwise; a stave whose only voice is on channel 10 gets one record per
// key it plays instead, in rising key order) and track names. 0 or the codes
// of ReadMidiTracks; on a failure the partly filled model stays.
int LoadMidiIntoModel(ProjectEntry& entry);

// Opens entry.Filename as a MIDI entry: ReadMidiTracks, LoadMidiIntoModel,
// the voice play records, the staves' velocities, the staff/voice states
// (all on) and the playing time in milliseconds (the end of the last event
// through the tempo changes, 120 beats per minute before the first). 0 or
// the codes above.
int cnvReadMidiEntry(ProjectEntry& entry);

}  // namespace qvp3
