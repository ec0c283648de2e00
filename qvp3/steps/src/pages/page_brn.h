// The export page: the choice between MP3 files and an audio CD on one of
// the recorders, the settings of each (two child panels, one visible), the
// job's progress and status lines, and the run button.
#pragma once

#include "qvp3_project/neighbours.h"

namespace qvp3 {

inline constexpr int kBrnGroupBox = 19000;
inline constexpr int kBrnTrackBar = 19001;
inline constexpr int kBrnTimeBar = 19002;
inline constexpr int kBrnStatusList = 19003;
inline constexpr int kBrnToolbar = 19004;
inline constexpr int kBrnTargetCombo = 19007;
// The two panels, by their dialog names.
inline constexpr const char* kBrnMp3Panel = "BURNMP3";
inline constexpr const char* kBrnCdPanel = "BURNBURN";

// Controls of the CD panel (the speed's edit and up-down are one spin box here).
inline constexpr int kBrnSpeed = 1352;
inline constexpr int kBrnCopies = 1355;
inline constexpr int kBrnOpenTray = 1357;
inline constexpr int kBrnBurnProof = 1358;
// Controls of the MP3 panel.
inline constexpr int kBrnSampleRate = 1321;
inline constexpr int kBrnBitrate = 1323;
inline constexpr int kBrnMode = 1325;
inline constexpr int kBrnPrivate = 1328;
inline constexpr int kBrnCopyright = 1329;
inline constexpr int kBrnCrc = 1330;
inline constexpr int kBrnOriginal = 1331;
inline constexpr int kBrnNoReservoir = 1332;
inline constexpr int kBrnVbr = 1334;
inline constexpr int kBrnVbrBitrate = 1336;
inline constexpr int kBrnVbrBitrateNumber = 1337;
inline constexpr int kBrnVbrMaximum = 1339;
inline constexpr int kBrnVbrMaximumNumber = 1340;

// The combo's change notification.
inline constexpr int kComboSelectionChanged = 1;

inline constexpr int kStrBrnGroup = 315;
inline constexpr int kStrBrnStatusColumn = 316;
inline constexpr int kStrBrnRunButton = 317;
inline constexpr int kStrBrnMp3Target = 362;
inline constexpr int kStrBrnCdTarget = 364;  // "%s": the recorder
inline constexpr int kStrBrnWavesChanged = 424;

// Shows the project's export settings on the page (false unless the page is
// BRN): the target, the CD settings checked against the chosen recorder,
// the MP3 encoder settings.
bool stpBrnShowValues(StepPage& page);

}  // namespace qvp3
