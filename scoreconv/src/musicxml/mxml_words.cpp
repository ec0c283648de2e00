#include "musicxml/mxml_words.h"

#include <string>

#include "musicxml/xml_values.h"

namespace scoreconv {

using mx::lowered;

int32_t dynamicCodeOfWord(std::string_view word) {
    struct Entry {
        std::string_view word;
        int32_t code;
    };
    static constexpr Entry kEntries[] = {
        {"f", 90},  {"ff", 110}, {"fff", 127}, {"ffff", 127}, {"mf", 74}, {"mp", 62},  {"p", 44},
        {"pp", 22}, {"ppp", 10}, {"pppp", 10}, {"fp", -1},    {"fz", -2}, {"sfz", -3}, {"sffz", -3},
    };
    const std::string w = lowered(word);
    for (const Entry& e : kEntries) {
        if (w == e.word) return e.code;
    }
    return w.starts_with("sf") ? -4 : 0;
}

int32_t articulationCodeOfWord(std::string_view word) {
    const std::string w = lowered(word);
    if (w == "staccato") return 1;
    if (w == "tenuto") return 2;
    if (w == "detached-legato") return 3;
    if (w == "staccatissimo") return 4;
    if (w == "accent") return 5;
    if (w == "strong-accent") return 6;
    return 0;
}

int32_t noteheadFlagsOfWord(std::string_view word) {
    const std::string w = lowered(word);
    if (w == "diamond") return 1;
    if (w == "x" || w == "circle-x" || w == "cross") return 2;
    if (w == "triangle") return 8;
    if (w == "square" || w == "slash") return 16;
    if (w == "none") return 32;
    return 0;
}

}  // namespace scoreconv
