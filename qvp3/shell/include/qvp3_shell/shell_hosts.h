// What the main window's commands and messages need of the project and file
// list and of the step tab, which are built beside the shell. The window
// starts with the stand-ins of shell_hosts_basic.h; the real ones replace
// them through MainWindow::setProjectListHost, setStepHost and setDialogs,
// from a window extension (startup.h: appAddWindowExtension).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qvp3 {

// The project and its file list in the main window.
class ProjectListHost {
public:
    virtual ~ProjectListHost() = default;
    // Opens a project file into the project record. remember: it becomes the
    // last project; step: the step to show (-2 the project's saved step);
    // show: the window shows the project. False (project unchanged) on failure.
    virtual bool openProject(const std::filesystem::path& file, bool remember, int step, bool show) = 0;
    // Adds files to the project (sorted by file name by the caller).
    virtual void addFiles(const std::vector<std::filesystem::path>& files) = 0;
    // Refills the file list from the project's entries and selects the
    // current entry.
    virtual void refreshFileList() = 0;
    // The list area's displays (file count, disc usage).
    virtual void refreshListArea() {}
    // The window title "%s - [%s]" of program and project title.
    virtual void updateWindowTitle() = 0;
    // Removes an entry and its converted files; false when it could not.
    virtual bool removeEntry(int index) = 0;
    // Exchanges two entries (move up or down).
    virtual void swapEntries(int a, int b) = 0;
};

// The step tab and its 18 pages.
class StepHost {
public:
    virtual ~StepHost() = default;
    // Makes step current as a click on its tab does (refusals included).
    virtual void selectStep(int step) = 0;
    // Lays the tab out: every page hidden but the current step's, which is
    // shown (after a project opened, or when the tab's place changed).
    virtual void layoutPages() {}
    // Sends a command (40073, 40075-40079) to the current page's dialog.
    virtual void forwardCommand(int id, int code) = 0;
    // The page's own say about its toggle and run commands.
    virtual bool isToggleDisabled() { return false; }
    virtual bool isRunDisabled() { return false; }
    // Step-dependent menu items (the toggle 40073, the run 40077).
    virtual void updateStepMenuItems(int step) = 0;
    // Stops every page's worker and waits for it.
    virtual void stopAllWorkers() {}
    // Hides and drops the 18 pages' dialogs (the window is going away).
    virtual void destroyPages() {}
    // The current page's progress bar (engine progress while rendering).
    virtual void setPageProgress(int position) { (void)position; }
    // Messages the main window passes to the current page (activation 1/0).
    virtual void notifyActivation(bool active) { (void)active; }
};

}  // namespace qvp3

namespace qvp3 {

struct ProjectData;

// The project dialogs (project data, categories, settings, welcome, profile
// entries), built beside the shell.
class ShellDialogs {
public:
    virtual ~ShellDialogs() = default;
    // The project-data dialog on data in a mode of ProjectData (new, edit,
    // save as); true for OK. For a new project OK leaves the folder made.
    virtual bool projectData(ProjectData& data, int mode) = 0;
    // The categories dialog on the project's instrument-category text; true for OK.
    virtual bool categories(std::string& text) { (void)text; return false; }
    // The settings dialog; 2 when the window must be painted again.
    virtual int settings() { return 0; }
    // The welcome dialog at start-up.
    virtual void welcome() {}
    // The profile entries dialog.
    virtual bool profileEntries() { return false; }
};

}  // namespace qvp3
