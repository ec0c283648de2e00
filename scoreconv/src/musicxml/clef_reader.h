// The one reader of a MusicXML <clef> element, shared by the part list (the
// first clef of each staff), the measure attributes (clef changes) and the
// TvrXML bridge, so that a clef reads the same wherever it stands.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <string_view>

#include "scorecore/score_event.h"

namespace scoreconv {

// Clef sign codes (CScoreClef::kind).
inline constexpr int32_t kClefG = 0;
inline constexpr int32_t kClefC = 1;
inline constexpr int32_t kClefF = 2;
inline constexpr int32_t kClefPercussion = 3;
inline constexpr int32_t kClefOther = 6;  // TAB, jianpu, none and anything unknown

// Octave codes (CScoreClef::octaveChange).
inline constexpr int32_t kClefOctaveUp = 0;
inline constexpr int32_t kClefOctaveNone = 1;
inline constexpr int32_t kClefOctaveDown = 2;

// Sign code of a <sign> text: G, C, F, percussion (case and blanks ignored);
// any other sign kClefOther.
int32_t clefSignCode(std::string_view sign);

// One <clef> element: its sign; its <line> (1 to 9), or without one the
// sign's usual line (G 2, F 4, C 3; other signs keep the record's line 1);
// its <clef-octave-change>: missing, 0 or no number is none, below 0 down,
// above 0 up.
scorecore::CScoreClef readClef(const xmlNode* clef);

}  // namespace scoreconv
