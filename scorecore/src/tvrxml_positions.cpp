// Placement of attached symbols: horizontal offset texts, staff positions of heads and
// the vertical position of a symbol above or below them.
#include <algorithm>
#include <charconv>
#include <cmath>

#include "scorecore/sc_util.h"
#include "scorecore/tvrxml_vocab.h"

namespace scorecore {

namespace {

// Vertical rule constants of a symbol kind: the least distance from the staff centre
// above (e), the gap to the outermost head (c) and the least distance below (b).
struct VerticalRule {
    double e;
    double c;
    double b;
};

VerticalRule verticalRule(int32_t kind) {
    if ((kind >= 1 && kind <= 4) || (kind >= 8 && kind <= 11)) return {-3.0, 2.0, 3.5};
    if (kind == kSymbolWords) return {-2.5, 2.0, 3.5};
    return {-4.0, 3.0, 4.5};
}

constexpr int32_t kPlacementAbove = 1;
constexpr int32_t kPlacementBelow = 2;

}  // namespace

std::string offsetText(double offset) {
    if (offset == 0.0 || !std::isfinite(offset)) return {};
    return scFormatDouble(offset / 1.8 / 100.0, 3);
}

std::string ornamentOffsetText(const CScoreOrnament& ornament) {
    std::string text = offsetText(ornament.position);
    if (!text.empty()) return text;
    switch (ornament.code) {
    case 1: case 8: case 9: return "0";
    case 5: case 6: case 7: return "0.5";
    case 12: case 13: return "-1";
    case 15: case 16: return "-4";
    default: return "-0.5";
    }
}

std::optional<double> headStaffPosition(const CScoreClef& clef, std::string_view pitch) {
    double reference = 0.0;
    switch (clef.kind) {
    case 0: reference = clef.line - 2.0; break;
    case 1: reference = clef.line; break;
    case 2: reference = clef.line + 2.0; break;
    case 3: reference = clef.line - 3.0; break;
    default: return std::nullopt;
    }
    constexpr std::string_view kSteps = "cdefgab";
    int step = 7;
    int octave = 0;
    if (!pitch.empty()) {
        const char c = pitch[0];
        const char letter = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        const std::size_t k = kSteps.find(letter);
        if (k != std::string_view::npos) step = static_cast<int>(k);
        const char* const last = pitch.data() + pitch.size();
        if (std::from_chars(pitch.data() + 1, last, octave).ec != std::errc{}) octave = 0;
    }
    return reference - (5 - octave) * 3.5 + step * 0.5;
}

std::vector<double> headStaffPositions(const CScoreEvent& event, const CScoreClef& clef) {
    std::vector<double> positions;
    std::string pitch;
    for (int32_t head = 0; head < std::min(event.headCount, kMaxHeads); ++head) {
        if (!event.getPitchTextRaised(head, pitch)) continue;
        if (const auto position = headStaffPosition(clef, pitch)) positions.push_back(*position);
    }
    return positions;
}

double symbolY(int32_t placement, int32_t kind, std::span<const double> headPositions) {
    if (placement != kPlacementAbove && placement != kPlacementBelow) return 0.0;
    const bool above = placement == kPlacementAbove;
    if (headPositions.empty()) return above ? -4.0 : 4.5;
    const auto [lowest, highest] = std::minmax_element(headPositions.begin(), headPositions.end());
    const VerticalRule rule = verticalRule(kind);
    if (above) return std::min(3.0 - *highest - rule.c, rule.e);
    return std::max(3.0 - *lowest + rule.c, rule.b);
}

std::string symbolYText(int32_t placement, int32_t kind, std::span<const double> headPositions) {
    return scFormatDouble(symbolY(placement, kind, headPositions), 1);
}

}  // namespace scorecore
