// The main window's left panel around the file list: where the list and the
// windows under it go, the file-count and disc-usage displays, the splitter's
// limits, the window title, and the disc capacity typed into the project data.
// The main window creates the controls under their ids; these functions find
// them below the window they are given.
#pragma once

#include <QRect>

#include <string_view>

#include "qvp3_project/project.h"

class QLineEdit;
class QSplitter;
class QWidget;

namespace qvp3 {

// The windows of the list area by id, from the top.
inline constexpr int kIdFileList = 1003;
inline constexpr int kIdAddPathCheck = 1004;    // the 32-pixel band under the list
inline constexpr int kIdListBackground = 1006;  // the 80-pixel background of the displays
inline constexpr int kIdFileCountText = 1005;
inline constexpr int kIdFileCountBar = 1008;
inline constexpr int kIdDiscText = 1007;
inline constexpr int kIdDiscBar = 1009;

// The disc bar's colours: within the disc, and over it.
inline constexpr unsigned kDiscBarColour = 0x86B1D8;  // RGB
inline constexpr unsigned kDiscFullColour = 0xFF0000;

// Places the list area's windows in panel (main-window coordinates): the list
// from the top down to 112 pixels above the bottom, then the band, the
// background and the two displays. With no project open they are hidden.
void appLayoutLeftPanel(QWidget& window, const QRect& panel, bool projectOpen);
// The file count: its text and its bar's position.
void appShowFileCount(QWidget& window, const Project& project, ShellServices& shell);
// The playing time of all files against the disc: its text, and its bar in
// the disc colour, red when the files no longer fit.
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
