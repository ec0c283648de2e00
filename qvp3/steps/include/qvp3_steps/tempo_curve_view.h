// What the tempo pages show of an entry's tempo curve beyond its editing
// rules (qvp3_project/tempo_curve.h): the speed as text, and whether there
// are recorded tempo points that the curve has not taken over yet.
#pragma once

#include <string>

#include "qvp3_pipeline/tavtune_lib.h"
#include "qvp3_project/project.h"
#include "qvp3_ui/language.h"

namespace qvp3 {

// The speed text: string 28 filled with the speed, and the beats a second
// (speed / 60, rounded to one decimal) before and after the decimal point.
inline constexpr int kStrTempoCurveSpeed = 28;
std::string stpTempoCurveSpeedText(const TempoCurve& curve, const qvp3ui::LanguageModule& language);

// False without a current entry; for a MIDI entry whether its file and
// recorded lists differ in length; for a score whether the engine holds
// more tempo points than it had when the score was prepared.
bool stpTempoCurveHasNewPoints(Project& project, const CTavtuneLib* engine);

}  // namespace qvp3
