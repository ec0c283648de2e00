// The own sequencer of MIDI entries: one loop that walks the entry's event
// lists in steps of ticks and measures them (the playing time), plays them
// in real time to a MIDI output, exports them into the per-track streams
// that become the converted MIDI file, or seeks to a time without a sound.
//
// The loop reads the entry's state once per step: a stop request (7) ends
// it with kSeqCancelled, a stop during the tune-up (8) with 0. It silences
// every note it started before it returns.
#pragma once

#include <cstdint>
#include <string>

#include "qvp3_pipeline/entry_player.h"
#include "qvp3_project/project_entry.h"

namespace qvp3 {

inline constexpr int kSeqCancelled = -5;
// Ticks of a step: real time and seeking, measuring and exporting.
inline constexpr int kSeqStepLive = 15;
inline constexpr int kSeqStepExact = 6;

// The file's tempo at a position (ticks at 480 per quarter): the last tempo
// change at or before it, 120 before the first.
double plyFileTempo(const ProjectEntry& entry, std::int64_t ticks);
// The tempo the entry plays at there: the file's tempo scaled by the relative
// tempo (10 ^ ((TempoRelative - 1000) / 1000)), or, with an absolute tempo,
// scaled so that the file's first tempo becomes TempoAbsolute (the file's
// tempo changes keep their steps). Within 1 .. 1000 beats per minute.
double plyEffectiveTempo(const ProjectEntry& entry, std::int64_t ticks);

// Runs the loop in the player's mode (EntryPlayer::mode). 0, kSeqCancelled,
// or in export mode midiWriteSmf's result.
int plySequencerLoop(ProjectEntry& entry);
// Measures the entry: the loop in mode 1; the playing time goes to
// entry.durationMs and, when given, lengthMs. The player's position is
// restored afterwards. 0 or the loop's result.
int plyMeasureMidiEntry(ProjectEntry& entry, std::int32_t* lengthMs = nullptr);

// Writes the entry's converted MIDI file (entry.convertedMidiPath) through
// the sequencer: the conductor's name and copyright, the tracks' names, the
// tune-up, the channels' set-up, then the music with the count-in and the
// metronome as the options ask. options: the entry's option word. 0,
// kSeqCancelled, kMidiOutOfMemory or midiWriteSmf's codes; an earlier file
// stays as it was unless the export succeeds.
int plyExportMidiEntry(ProjectEntry& entry, std::uint32_t options);

// The entry's option word from its project's play options (voice masks,
// transposition, channels, count-in and metronome); 0 without a project.
// The velocity option (kSeqVolume) belongs to the velocity step.
std::uint32_t plyEntryOptions(const ProjectEntry& entry);
// Sets the player's options, count-in and metronome switches from them.
void plyApplyEntryOptions(ProjectEntry& entry);

// Every voice's cursor back to its first event; in export every pending delta to 0.
void plyResetVoiceCursors(ProjectEntry& entry);
// The 16 channel states (volume 0, panorama 64), the position, bar and beat
// 1, no meter event, the meter 4/4.
void plyResetChannels(ProjectEntry& entry);
// Programs, volumes and panoramas of every voice before the music (live sent
// on the entry's MIDI out, in export written as the tracks' opening). The
// project's play options choose the user's sounds (0x4000), volumes (0x400)
// and panoramas (0x200) over the file's own.
int plySendChannelSetup(ProjectEntry& entry);
// Export only, with the metronome in use: volume and panorama of the click
// channel on the metronome track, and the track's name.
int plyWriteMetronomeSetup(ProjectEntry& entry);
// A note-off for every key on every channel a voice uses.
void plyAllNotesOff(ProjectEntry& entry, platform::MidiOutDevice* out);
// Silences and closes the entry's own MIDI output; with reopen, opens the
// output of that name again (empty: the default). False when it cannot be opened.
bool plyCloseMidiOut(ProjectEntry& entry, bool reopen, const std::string& deviceName = {});

// A request to stop the entry's player (kEntryStopRequested or
// kEntryStoppedInTuneUp), safe from any thread.
void plyRequestStop(ProjectEntry& entry, std::int32_t state);
std::int32_t plyEntryState(const ProjectEntry& entry);
// Sends a channel message on the output the entry's player plays to, so that
// a page's change is heard while the music goes on; false while the player
// has no output. Safe from any thread.
bool plySendLiveMessage(const ProjectEntry& entry, std::uint32_t packed);

// A language string of the entry's project, or the English text.
std::string plyLanguageText(const ProjectEntry& entry, int id, const char* fallback);

}  // namespace qvp3
