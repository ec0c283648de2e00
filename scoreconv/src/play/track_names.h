// The names of the tracks of a rendered standard MIDI file.
#pragma once

#include <cstdint>
#include <string>

#include "play/play_score.h"

namespace scoreconv {

// The General MIDI percussion name of a key (35 "Acoustic Bass Drum" to 81
// "Open Triangle"); "[key]" for any other key.
std::string percussionTrackName(int32_t key);

// Names the staves' tracks of a render pass, staff by staff, as set-up meta
// events at delta 0: on a percussion staff that plays each instrument on a
// track of its own, every instrument's track by its percussion key; on any
// other staff every used voice's track by the staff's name, with "-" and the
// voice number (from 1) when the staff has several. Nothing outside a render
// pass. kOk or kErrOutOfMemory.
int writeTrackNames(PlayScore& score);

}  // namespace scoreconv
