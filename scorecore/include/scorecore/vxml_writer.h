// What the TvrXML writer (the "writer" members of CVxmlFile) takes besides the
// event records: the per-staff settings of the layout and the part groups, the
// writer's result codes, and the rule by which a "tuplet" element stands for its
// normal-note count.
#pragma once

#include "scorecore/midi_stream.h"
#include "scorecore/part_groups.h"
#include "scorecore/score_event.h"

#include <cstdint>
#include <string>
#include <vector>

namespace scorecore {

// Result codes of the writer (besides -2 out of memory, -6 a node that cannot be
// removed, -7 nothing to write, -300 no such system, staff or voice, and -1402 an
// element that could not be created or attached).
inline constexpr int kErrVxmlInfo = -1401;               // "info" not created
inline constexpr int kErrVxmlLayout = -1403;             // a "layout" element not created
inline constexpr int kErrVxmlSystemsNode = -1405;        // "systems" not created
inline constexpr int kErrVxmlSystemsNotWritten = -1406;  // the conversion's code for appendSystems
inline constexpr int kErrVxmlFileNotWritten = -1407;     // the conversion's code for writeFile

// One staff of the layout.
struct VxmlStaffSetup {
    int topFlag = 0;       // 1: the staff's top distance is the fixed 5
    std::string name;      // instrument name and abbreviation ("" writes an empty text)
    std::string abbreviation;
    CScoreClef clef{0, 2, 1};
    int lineCount = 5;
    int barlineFlag = 0;   // nonzero: barlines drawn over the staff's own lines only
    std::vector<CMidiInstr> instruments;  // the staff's instruments, the first one decides
    int transpose = 0;
    double distance = 4.0;  // spacing value; top and bottom become round(d x 1.5) + 5
};

// The inputs of CVxmlFile::appendLayout: one record per staff (their number is the
// staff count) and the part groups (null for none), whose staff indexes count from 0.
struct VxmlLayoutArgs {
    std::vector<VxmlStaffSetup> staves;
    const CScorePartGroupList* groups = nullptr;
};

// The normal-note count that a "tuplet" element stands for: the power of two
// (three times a power of two when tripartite) nearest below count, or nearest
// above it when prolong; when there is none on that side, the nearest on the
// other. 0 for a count below 1. The writer picks the note value that reads back
// as the event's ticks under this count; ratios off the pattern (7:5, say) cannot
// be carried and read back at the pattern's ratio.
std::int32_t tupletNormalCount(std::int32_t count, bool tripartite, bool prolong);

}  // namespace scorecore
