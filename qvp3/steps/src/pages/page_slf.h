// The start page: two clickable items (add files, show the project folder)
// and a note, painted by the page itself.
#pragma once

#include "qvp3_project/project.h"

namespace qvp3 {

// The main window's commands behind the two items.
inline constexpr int kSlfAddFilesCommand = 40009;
inline constexpr int kSlfFolderCommand = 40019;
// The hover values of the two items.
inline constexpr int kSlfHoverNone = 0;
inline constexpr int kSlfHoverFirst = 2;
inline constexpr int kSlfHoverSecond = 3;

}  // namespace qvp3
