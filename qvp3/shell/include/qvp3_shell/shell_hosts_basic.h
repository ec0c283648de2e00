// Stand-ins for the project list and the step tab, good enough for the
// window to open, list, play and save a project: the list shows each
// entry's file name and kind; the step tab switches pages without page
// procedures. The real list and pages replace them.
#pragma once

#include "qvp3_shell/shell_hosts.h"

class QStandardItemModel;

namespace qvp3 {

class MainWindow;

class BasicProjectListHost : public ProjectListHost {
public:
    BasicProjectListHost(MainWindow& window, QStandardItemModel& model) : window_(window), model_(model) {}
    bool openProject(const std::filesystem::path& file, bool remember, int step, bool show) override;
    void addFiles(const std::vector<std::filesystem::path>& files) override;
    void refreshFileList() override;
    void updateWindowTitle() override;
    bool removeEntry(int index) override;
    void swapEntries(int a, int b) override;

private:
    MainWindow& window_;
    QStandardItemModel& model_;
};

class BasicStepHost : public StepHost {
public:
    explicit BasicStepHost(MainWindow& window) : window_(window) {}
    void selectStep(int step) override;
    void forwardCommand(int id, int code) override;
    void updateStepMenuItems(int step) override;

private:
    MainWindow& window_;
};

// Asks for a title and makes the project's folder under the projects root.
class BasicShellDialogs : public ShellDialogs {
public:
    explicit BasicShellDialogs(MainWindow& window) : window_(window) {}
    bool projectData(ProjectData& data, int mode) override;

private:
    MainWindow& window_;
};

}  // namespace qvp3
