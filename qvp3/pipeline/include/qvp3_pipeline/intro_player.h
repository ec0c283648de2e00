// The intro before a piece: the tune-up (a chord of its own, or the first
// notes of chosen voices, together or broken) played live or written into
// the export of a MIDI entry before the sequencer's first step.
#pragma once

#include "platform/midi_out.h"
#include "platform/threads.h"
#include "qvp3_pipeline/tavtune_lib.h"
#include "qvp3_project/project_entry.h"

namespace qvp3 {

// Milliseconds of silence after a tune-up played live.
inline constexpr int kIntroAfterMs = 500;

// MIDI entries, in the player's mode (2 live, 3 export; nothing to do when
// measuring, for tune-up Type 0 or without the project's tune-up option).
// Live, the waits run on `stop` (an event of its own when null) and the
// player's clock; a stop during a wait resets the output and leaves the
// entry in state 8. The output is `out`, else the player's. True when it
// played, exported or had nothing to do; false without an output.
bool plyIntroLoop(platform::MidiOutDevice* out, platform::Event* stop, ProjectEntry& entry);
// The sequencer's hand-over to the intro.
bool plyPlayIntro(platform::Event* stop, ProjectEntry& entry, platform::MidiOutDevice* out);

// Scores: the intro goes to the score engine, which plays and renders it
// before the music. The engine's intro is cleared; then, with the project's
// tune-up option and a tune-up Type, the tune-up's lanes at the score's
// opening tempo, and with the count-in option and count-in bars, one bar of
// clicks (through the piece when the metronome plays, else none) and the
// count-in's lanes after the tune-up. The entry's playing time is read again.
// True (a list that cannot be built leaves the engine without an intro).
bool plySendIntroToEngine(ProjectEntry& entry, CTavtuneLib& engine);
// The count-in and click lists of a score from its opening meter (384 ticks
// per quarter): the bar of clicks goes to the engine at once; the count-in's
// lanes (starting at countInStart) stay in the metronome record. False when
// the meter cannot be had or memory fails.
bool plyBuildCountInItems(ProjectEntry& entry, CTavtuneLib& engine, std::int32_t value, std::int32_t countInStart);
// The tune-up's lanes at `start` beats per minute into the tune-up record,
// and the engine's tune-up voice for them. False when memory fails.
bool plyBuildTuneUpItems(ProjectEntry& entry, CTavtuneLib& engine, std::int32_t start, std::int32_t offset);

}  // namespace qvp3
