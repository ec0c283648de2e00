// The fixed facts of the 18 steps, in StepCategory order: the language
// strings of their titles, labels and descriptions, their header images, and
// what the page framework does for them (profiles, a completion notifier on
// show, a job on the run command).
#pragma once

#include "qvp3_project/project.h"
#include "qvp3_project/step_changes.h"

namespace qvp3 {

struct StepInfo {
    int titleId;
    int labelId;
    int headerImage;
    int descriptionId;
    int altDescriptionId;  // 0: none
    bool usesProfiles;
    bool startsNotifier;   // a completion notifier runs while the page is shown
    bool runsJob;          // MDC, WVC, BRN: the run command starts the step's job
};

// The row of a category 0..17; null for any other value.
const StepInfo* stpStepInfo(int category);

// Step numbers by name, for the code that treats a few steps specially.
inline constexpr int kStepSlf = 0;
inline constexpr int kStepSls = 1;
inline constexpr int kStepTrp = 2;
inline constexpr int kStepChp = 3;
inline constexpr int kStepVol = 4;
inline constexpr int kStepPan = 5;
inline constexpr int kStepPrc = 6;
inline constexpr int kStepTmp = 7;
inline constexpr int kStepTpp = 8;
inline constexpr int kStepDyn = 9;
inline constexpr int kStepShv = 10;
inline constexpr int kStepMet = 11;
inline constexpr int kStepEin = 12;
inline constexpr int kStepCln = 17;
// kStepMdc, kStepPwc, kStepWvc and kStepBrn: qvp3_project/step_changes.h

// The SHV description is a format: the number 10 and the DYN title.
inline constexpr int kShvDescriptionNumber = 10;
inline constexpr int kStrDynTitle = 516;

// Images of the page header: the link below the step image and the banner
// behind the title.
inline constexpr int kImageLink = 204;
inline constexpr int kImageBanner = 205;

// Longest title and label a page keeps, in characters.
inline constexpr int kTitleChars = 256;
inline constexpr int kLabelChars = 12;
inline constexpr int kDescriptionChars = 2048;

}  // namespace qvp3
