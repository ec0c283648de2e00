// The MusicXML words of the play model: dynamics, articulations and
// noteheads by the codes the events carry (compared without regard to case).
#pragma once

#include <cstdint>
#include <string_view>

namespace scoreconv {

// "f" 90, "ff" 110, "fff"/"ffff" 127, "mf" 74, "mp" 62, "p" 44, "pp" 22, "ppp"/"pppp" 10,
// "fp" -1, "fz" -2, "sfz"/"sffz" -3, any other word beginning "sf" -4, else 0.
int32_t dynamicCodeOfWord(std::string_view word);
// "staccato" 1, "tenuto" 2, "detached-legato" 3, "staccatissimo" 4, "accent" 5,
// "strong-accent" 6, else 0.
int32_t articulationCodeOfWord(std::string_view word);
// "diamond" 1, "x"/"circle-x"/"cross" 2, "triangle" 8, "square"/"slash" 16, "none" 32, else 0.
int32_t noteheadFlagsOfWord(std::string_view word);

}  // namespace scoreconv
