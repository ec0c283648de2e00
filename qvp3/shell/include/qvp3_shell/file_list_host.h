// The main window's project and file list: opening a project into the
// window, the file list (1003) over the project's entries, the displays
// under it, the window title, and files dropped on the window. Installed with
//     window.setProjectListHost(std::make_unique<FileListHost>(window));
// after which the window's commands reach the list through ProjectListHost.
#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

#include "qvp3_shell/file_list_edit.h"
#include "qvp3_shell/file_list_view.h"
#include "qvp3_shell/shell_hosts.h"

namespace qvp3 {

class AppState;
class FileListModel;
class MainWindow;

class FileListHost : public QObject, public ProjectListHost, public ListAreaHost {
    Q_OBJECT
public:
    explicit FileListHost(MainWindow& window);
    ~FileListHost() override;

    FileListModel& model() { return *model_; }
    FileListController& list() { return *list_; }

    // --- ProjectListHost
    // The project file read into the window: its problems shown, its
    // converted files counted, its playing times measured; the step tab
    // moves to step (-2 the project's saved step, -1 stays on the first).
    bool openProject(const std::filesystem::path& file, bool remember, int step, bool show) override;
    void addFiles(const std::vector<std::filesystem::path>& files) override;
    void refreshFileList() override;
    void refreshListArea() override;
    void updateWindowTitle() override;
    bool removeEntry(int index) override;
    void swapEntries(int a, int b) override;

    // --- ListAreaHost
    int openEntry(ProjectEntry& entry, Project& project) override;
    bool copySourceFiles() const override;
    void setStatusProgress(int position) override;
    void entriesChanged() override;
    void refreshCommands() override;
    bool projectOpen() const override;
    // A dropped project file: the open project is closed first (as the open command does).
    bool openProject(const std::filesystem::path& projectFile) override;

    // Files dropped on the main window.
    void dropFiles(const std::vector<std::filesystem::path>& files);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AppState& app();
    Project& project();
    void countConvertedFiles();
    void currentEntryChanged(int current);
    void showRefusal(int result);

    MainWindow& window_;
    std::unique_ptr<FileListModel> model_;
    QPointer<FileListController> list_;
};

}  // namespace qvp3
