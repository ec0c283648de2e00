// The editing rules of an entry's tempo curve (the tempo-curve step): its
// speed, the rescaling of recorded tempos to a new base, and the point lists
// kept sorted by position. Shared by the step pages and the project store,
// which both change curves (the store when it reads a project or a profile).
#pragma once

#include <cstdint>
#include <limits>

#include "qvp3_project/project_entry.h"

namespace qvp3 {

// The point lists a caller may name (list 2 exists but holds nothing).
inline constexpr int kTempoCurveLists = 3;

// No length limit for point edits.
inline constexpr std::uint32_t kTempoCurveNoLimit = std::numeric_limits<std::uint32_t>::max();

// A fresh curve: minimum 10, maximum 720, speed 1000, no points.
void stpTempoCurveInit(TempoCurve& curve);
// Empties point lists 0 and 1.
void stpTempoCurveFree(TempoCurve& curve);
// Stores speed and works out its step divisor: the smallest divisor from 100
// on for which speed / (60000 / divisor) is not 0. A speed of 0 or below has
// no such divisor and is refused (false, curve unchanged).
bool stpTempoCurveSetSpeed(TempoCurve& curve, int speed);
// Multiplies every recorded tempo by newBase / baseTempo and takes newBase as
// the base. Nothing changes for the same base; a curve without a base yet
// (baseTempo not above 0) only takes the new one; a base not above 0 is refused.
bool stpTempoCurveRescale(TempoCurve& curve, double newBase);
// Adds a point in position order (after any point of the same position).
// False for a list outside 0..2 or a position beyond lengthTicks.
bool stpTempoCurveAddPoint(TempoCurve& curve, int list, std::uint32_t position, double tempo, double time,
                           double extra, std::int32_t kind, std::int32_t tag,
                           std::uint32_t lengthTicks = kTempoCurveNoLimit);
// Replaces the point of the same position, kind and tag, or inserts it in
// position order (before points of the same position, unless it goes last).
// False for a list outside 0..2 or a position beyond lengthTicks.
bool stpTempoCurveSetPoint(TempoCurve& curve, int list, const TempoPoint& point,
                           std::uint32_t lengthTicks = kTempoCurveNoLimit);
// Sets every point of list source into list target, emptied first when clear
// is set. False for a list outside 0..2.
bool stpTempoCurveCopyPoints(TempoCurve& curve, int target, int source, bool clear);
}  // namespace qvp3
