// The intro before a piece: the tune-up (a chord of its own, or the first
// notes of chosen voices, together or broken) played live or written into
// the export of a MIDI entry before the sequencer's first step.
#pragma once

#include "platform/midi_out.h"
#include "platform/threads.h"
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

}  // namespace qvp3
