// The transposition page's controls and what the program asks of it.
#pragma once

#include "qvp3_project/project.h"

namespace qvp3 {

inline constexpr int kTrpCaption = 3000;
inline constexpr int kTrpEdit = 3001;
inline constexpr int kTrpUpDown = 3002;
inline constexpr int kTrpPercussionBox = 3003;
inline constexpr int kTrpLowest = -12;
inline constexpr int kTrpHighest = 12;

// The entry's transposition as the page shows it (within -12..12).
int stpTrpTransposition(const ProjectEntry& entry);
// Shows the current entry's values and enables the controls that apply.
void stpTrpShowValues(StepPage& page);

}  // namespace qvp3
