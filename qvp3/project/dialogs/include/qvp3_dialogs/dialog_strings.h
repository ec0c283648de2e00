// Numbers of the language strings the project and settings dialogs show
// besides those their controls' tables name.
#pragma once

namespace qvp3 {

inline constexpr int kStrCancel = 265;
inline constexpr int kStrHelp = 150;

// A name that no file or folder can carry (empty, "." or ".." once cleaned).
inline constexpr int kStrBadFileName = 61600;

}  // namespace qvp3
