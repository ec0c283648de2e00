// The program's own parts in its main window: the project and file list, the
// step tab with its 18 pages and the project dialogs take the place of the
// window's stand-ins. The program adds appWireMainWindow as a window extension
// (startup.h) before start-up.
#pragma once

#include "qvp3_shell/shell_hosts.h"

namespace qvp3 {

class MainWindow;

// The project and settings dialogs of qvp3_dialogs behind the window's
// dialog host; the settings dialog edits the application record's fields.
class AppShellDialogs : public ShellDialogs {
public:
    explicit AppShellDialogs(MainWindow& window) : window_(window) {}
    bool projectData(ProjectData& data, int mode) override;
    bool categories(std::string& text) override;
    int settings() override;
    void welcome() override;
    bool profileEntries() override;

private:
    MainWindow& window_;
};

// Installs the file list, the splitter's limits, the step tab and the
// dialogs, and hands the dialogs the shell's help and its record of the
// active dialog.
void appWireMainWindow(MainWindow& window);

}  // namespace qvp3
