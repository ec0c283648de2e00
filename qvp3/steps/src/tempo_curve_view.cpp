#include "qvp3_steps/tempo_curve_view.h"

#include <cmath>

namespace qvp3 {

std::string stpTempoCurveSpeedText(const TempoCurve& curve, const qvp3ui::LanguageModule& language) {
    const auto tenths = static_cast<std::int64_t>(std::llround(curve.speed / 6.0));  // speed / 60 in tenths
    const std::string before = std::to_string(tenths / 10);
    const std::string after = std::to_string(tenths % 10);
    return language.format(kStrTempoCurveSpeed, {std::int64_t{curve.speed}, std::string_view(before),
                                                 std::string_view(after)});
}

bool stpTempoCurveHasNewPoints(Project& project, const CTavtuneLib* engine) {
    const ProjectEntry* entry = prjGetEntry(project, -1);
    if (entry == nullptr) return false;
    const TempoCurve& curve = entry->tempoCurve;
    if (entry->kind == EntryKind::Midi) {
        return curve.points[TempoCurve::kFileList].size() != curve.points[TempoCurve::kRecordedList].size();
    }
    return engine != nullptr && engine->enginePointCount > engine->baselinePointCount;
}

}  // namespace qvp3
