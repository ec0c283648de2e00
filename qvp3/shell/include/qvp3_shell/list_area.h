// The main window's left panel around the file list: where the list and the
// windows under it go, the file-count and disc-usage displays, the splitter's
// limits, the window title, and the disc capacity typed into the project data.
// The main window creates the controls under their ids; these functions find
// them below the window they are given.
#pragma once

#include <string_view>

#include "qvp3_project/project.h"

class QLineEdit;
class QSplitter;
class QWidget;

namespace qvp3 {

// The windows of the list area by id, from the top (the window's layout
// stacks them: caption, list, check box, then text and bar of each display).
inline constexpr int kIdListCaption = 1005;
inline constexpr int kIdFileList = 1003;
inline constexpr int kIdAddPathCheck = 1004;
inline constexpr int kIdFileCountText = 1006;
inline constexpr int kIdFileCountBar = 1008;
inline constexpr int kIdDiscText = 1007;
inline constexpr int kIdDiscBar = 1009;

// The list area's windows are shown only with a project open; the list's
// columns take their shares of its width.
void appLayoutLeftPanel(QWidget& window, bool projectOpen);
// The file count: its text and its bar's position.
void appShowFileCount(QWidget& window, const Project& project, ShellServices& shell);
// The playing time of all files against the disc: its text, and its bar in
// the bars' colour, red when the files no longer fit.
void appShowDiscUsage(QWidget& window, const Project& project, ShellServices& shell);
// The main window's title.
void appSetWindowTitle(QWidget& window, std::string_view programName, bool projectOpen, std::string_view title);

// The splitter follows the pointer only between x = 150 and half the window's width.
inline constexpr int kSplitterMinimum = 150;
bool appSplitterAccepts(int x, int windowWidth);
// Keeps a splitter's first handle within those limits: a drag outside them
// leaves the handle where it was last accepted.
void appLimitSplitter(QSplitter& splitter);

// The capacity typed into the project data's edit: true with value set when
// it lies in 600..1000; otherwise a warning names the range, the edit shows
// 1000, selected and focused, and the result is false.
bool appCheckCdSizeInput(QLineEdit& edit, ShellServices& shell, int& value);

}  // namespace qvp3
