// Numbers of the language strings that the user interface shows besides
// those its procedures name: the shell's own texts, from 61000 on.
#pragma once

namespace qvp3ui {

inline constexpr int kStrDontAskAgain = 61000;   // the check box of a question that can be switched off
inline constexpr int kStrNotInstalled = 61001;   // "%s" is not installed (an outside program)
inline constexpr int kStrFileListFile = 61002;   // file list column captions
inline constexpr int kStrFileListKind = 61003;
inline constexpr int kStrTransportCaption = 61004;
inline constexpr int kStrProfileCaption = 61005;
inline constexpr int kStrProfileStep = 61006;
inline constexpr int kStrAddPath = 61007;        // the file list's check box
inline constexpr int kStrListCaption = 61008;
inline constexpr int kStrHelpNotFound = 61009;   // "%s": the help page that is missing
inline constexpr int kStrStepTabBase = 61100;    // + step 0..17: the step tabs' captions

}  // namespace qvp3ui
