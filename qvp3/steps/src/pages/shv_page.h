// What the velocity page's tests and handlers share.
#pragma once

#include "qvp3_project/neighbours.h"

namespace qvp3 {

inline constexpr int kShvList = 11007;
// The list's notifications, with their Windows numbers; the value carries
// the row in its low 16 bits and the column in its high 16 bits.
inline constexpr int kNmClick = -2;
inline constexpr int kNmRClick = -5;
inline constexpr int kLvnItemChanged = -101;

// Shows the current entry's staves (a MIDI file), hides the list (a score
// file) or empties and disables it (no entry); true.
bool stpShvShowValues(StepPage& page);

}  // namespace qvp3
