// The main window's commands in one table: id, the language string of its
// tooltip, the submenu it sits in, its toolbar row and its icon. One QAction
// per row serves menu, toolbar, accelerator and context menu; which rows are
// enabled is computed in one place (commandEnabled) from the program's state.
#pragma once

#include <span>
#include <string_view>

namespace qvp3 {

class AppState;

// Submenus of the main menu.
enum class Submenu { None = -1, File = 0, Playback = 1, Profiles = 2, Project = 3, Help = 4 };
inline constexpr int kSubmenuCount = 5;

// Where a row's button sits.
enum class ToolbarRow { None, Main, Second, Profile };

struct CommandRow {
    int id;
    int tooltipId;       // 0: none
    Submenu menu;
    ToolbarRow toolbar;
    bool separatorBefore;  // in its menu and toolbar
    std::string_view icon;  // icon theme name
};

namespace cmd {
inline constexpr int kApplyProfile = 16, kSaveProfile = 17, kDeleteProfile = 18, kProfileEntries = 296;
inline constexpr int kHelp = 40004, kAddFiles = 40009, kAbout = 40011, kSearch = 40019, kExit = 40020;
inline constexpr int kNewProject = 40021, kOpenProject = 40022, kSave = 40023, kSaveAs = 40024;
inline constexpr int kShowProjectData = 40025, kCloseProject = 40026, kCategories = 40027;
inline constexpr int kContextHelp = 40028, kProjectData = 40029, kSettings = 40030, kRemoveFile = 40031;
inline constexpr int kFileUp = 40034, kFileDown = 40035;
inline constexpr int kStop = 40052, kPlay = 40053, kToStart = 40054, kBack = 40055, kForward = 40056;
inline constexpr int kToggle = 40073, kTempoCurveA = 40075, kTempoCurveB = 40076, kRun = 40077;
inline constexpr int kPwcA = 40078, kPwcB = 40079, kExternalEditor = 40084;
inline constexpr int kNextStep = 40087, kPreviousStep = 40088, kFirstStepTab = 40089, kLastStepTab = 40106;
inline constexpr int kHelpKeyboard = 40108, kHelpGlossary = 40109, kHelpManaging = 40110, kHelpIncluded = 40111;
inline constexpr int kUpdateSettings = 40112;
inline constexpr int kFirstRecent = 41000, kLastRecent = 41009;
// The notification code of a close that asks nothing.
inline constexpr int kCodeNoQuestion = 0xFFFF;
}  // namespace cmd

// Every command of the main window, in menu and toolbar order.
std::span<const CommandRow> commandTable();
const CommandRow* findCommand(int id);

// Whether to save before the project closes: No for a saved project (its
// steps' marks do not count), else the user's answer to string 128 (Yes,
// No or Cancel).
int appAskSaveProject(const AppState& app);

// Whether a command may run in the program's present state (the last column
// of the commands' table). `fileListFocused`: the focus is on the file list.
bool commandEnabled(const AppState& app, int id, bool fileListFocused);

}  // namespace qvp3
