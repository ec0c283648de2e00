#include "musicxml/clef_reader.h"

#include <optional>

#include "musicxml/xml_values.h"

namespace scoreconv {

namespace {

constexpr int64_t kHighestLine = 9;
constexpr int64_t kMaxOctaveChange = 9;

// The line a sign stands on when the file gives none.
std::optional<int32_t> usualLine(int32_t kind) {
    switch (kind) {
    case kClefG: return 2;
    case kClefC: return 3;
    case kClefF: return 4;
    default: return std::nullopt;
    }
}

}  // namespace

int32_t clefSignCode(std::string_view sign) {
    sign = mx::trimmed(sign);
    if (mx::equalsNoCase(sign, "G")) return kClefG;
    if (mx::equalsNoCase(sign, "C")) return kClefC;
    if (mx::equalsNoCase(sign, "F")) return kClefF;
    if (mx::equalsNoCase(sign, "percussion")) return kClefPercussion;
    return kClefOther;
}

scorecore::CScoreClef readClef(const xmlNode* clef) {
    scorecore::CScoreClef record;
    record.kind = clefSignCode(mx::childText(clef, "sign").value_or(""));
    // Out of range is clamped just outside 1..kHighestLine, and so not taken.
    const std::optional<int64_t> line = mx::childRounded(clef, "line", 0, kHighestLine + 1);
    if (line && *line >= 1 && *line <= kHighestLine) {
        record.line = static_cast<int32_t>(*line);
    } else if (const std::optional<int32_t> usual = usualLine(record.kind)) {
        record.line = *usual;
    }
    const int64_t change =
        mx::childRounded(clef, "clef-octave-change", -kMaxOctaveChange, kMaxOctaveChange).value_or(0);
    record.octaveChange = change == 0 ? kClefOctaveNone : change < 0 ? kClefOctaveDown : kClefOctaveUp;
    return record;
}

}  // namespace scoreconv
