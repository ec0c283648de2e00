#include "qvp3_shell/file_list_host.h"

#include <QCheckBox>
#include <QDropEvent>
#include <QMimeData>
#include <QProgressBar>
#include <QTreeView>

#include "qvp3_project/profile_file.h"
#include "qvp3_project/project_file.h"
#include "qvp3_project/project_folder.h"
#include "qvp3_project/step_changes.h"
#include "qvp3_shell/app_state.h"
#include "qvp3_shell/commands.h"
#include "qvp3_shell/file_list_model.h"
#include "qvp3_shell/file_list_view.h"
#include "qvp3_shell/list_area.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_shell/recent_files.h"
#include "qvp3_ui/controls.h"

namespace qvp3 {

namespace fs = std::filesystem;

FileListHost::FileListHost(MainWindow& window)
    : window_(window), model_(std::make_unique<FileListModel>(*window.app().project)) {
    window.setFileListModel(model_.get());
    list_ = new FileListController(*window.fileList(), *model_, *this);
    // The window makes the current row the current entry (stopping a playing one first).
    list_->setFollowsSelection(false);
    connect(list_, &FileListController::currentEntryChanged, this,
            [this](int, int current) { currentEntryChanged(current); });
    for (int id : {kIdAddPathCheck, kIdFileCountText, kIdDiscText}) {
        if (QWidget* panel = qvp3ui::findControl(window, id)) list_->watchPanel(*panel);
    }
    window.installEventFilter(this);
    // The columns keep their shares of the list's width as the list changes size.
    window.fileList()->viewport()->installEventFilter(this);
}

FileListHost::~FileListHost() {
    window_.removeEventFilter(this);
    // The controller lives with the view; it must not outlive the model and this host.
    delete list_.data();
    if (window_.fileList() != nullptr) window_.setFileListModel(nullptr);
}

AppState& FileListHost::app() { return window_.app(); }
Project& FileListHost::project() { return *window_.app().project; }

void FileListHost::currentEntryChanged(int current) {
    // A profile chosen for one file follows the file the user picks.
    if (ProfileContext* profiles = app().profiles.get();
        profiles != nullptr && current >= 0 && current < kMaxProjectEntries && prfCountEntriesChosen(*profiles) == 1) {
        profiles->applyFlags.fill(0);
        profiles->applyFlags[static_cast<std::size_t>(current)] = 1;
    }
    window_.updateTransport();
    window_.updateCommands();
}

bool FileListHost::openProject(const fs::path& file, bool remember, int step, bool show) {
    if (file.empty()) return true;
    AppState& a = app();
    Project& p = project();
    ShellServices& shell = p.shell();
    std::vector<std::int32_t> codes;
    std::vector<std::string> names;
    const bool read = prjReadFile(p, file, true, codes, names);
    a.projectOpen = read;
    if (!read) p.currentStep = 0;
    updateWindowTitle();
    if (!codes.empty()) shell.appTextBox(appProjectProblemsText(shell, codes, names), kBoxWarning, kMbOk);
    if (!read) return false;
    if (remember) {
        a.lastProject = file;
        if (a.recentFiles) a.recentFiles->add(file);
    }
    a.projectFolder = p.data.ProjectFolder;
    countConvertedFiles();
    const int saved = p.currentStep;
    p.previousStep = saved;
    p.currentStep = 0;
    refreshFileList();
    refreshListArea();
    window_.stepHost().layoutPages();
    if (step != -1) window_.stepHost().selectStep(step == -2 ? saved : step);
    // The playing times are those the opening of each entry measured.
    if (a.openFileAtStart) prjDeleteUnreferencedFiles(p);
    if (show) {
        window_.refreshAll();
    } else {
        window_.updateTransport();
        window_.updateCommands();
    }
    // Read without a problem, the project is as its file says.
    p.saved = codes.empty() && names.empty() ? 1 : 0;
    return true;
}

void FileListHost::countConvertedFiles() {
    Project& p = project();
    // All or nothing: one missing file means the step must run again.
    const auto count = [&p](bool midi) {
        std::vector<fs::path> paths;
        for (int i = 0; i < p.fileNum(); ++i) {
            fs::path path;
            std::error_code ec;
            const bool named = midi ? prjConvertedMidiPath(p, i, &path) : prjConvertedWavePath(p, i, &path);
            if (!named || !fs::exists(path, ec)) return 0;
            paths.push_back(path);
        }
        for (std::size_t i = 0; i < paths.size(); ++i) {
            (midi ? p.entries[i].convertedMidiPath : p.entries[i].convertedWavePath) = paths[i];
        }
        return p.fileNum();
    };
    p.convertedMidiCount = count(true);
    p.convertedWaveCount = count(false);
    if (StepPage* page = stpGetPage(p, kStepMdc)) page->pending = p.convertedMidiCount != p.fileNum();
}

void FileListHost::addFiles(const std::vector<fs::path>& files) { appAddFilesToProject(project(), *this, files); }

void FileListHost::refreshFileList() { list_->fill(true); }

void FileListHost::refreshListArea() {
    Project& p = project();
    appLayoutLeftPanel(window_, app().projectOpen);
    if (auto* check = qvp3ui::findControl<QCheckBox>(window_, kIdAddPathCheck)) check->setChecked(p.addPath != 0);
    appShowFileCount(window_, p, p.shell());
    appShowDiscUsage(window_, p, p.shell());
}

void FileListHost::updateWindowTitle() {
    appSetWindowTitle(window_, app().programTitle, app().projectOpen, project().data.ProjectTitle);
}

void FileListHost::showRefusal(int result) {
    ShellServices& shell = project().shell();
    const std::string message = appListEditMessage(shell, result, {});
    if (!message.empty()) shell.appTextBox(message, kBoxWarning, kMbOk);
}

bool FileListHost::removeEntry(int index) {
    const int result = appRemoveEntry(project(), index);
    showRefusal(result);
    return result == kListEditOk;
}

void FileListHost::swapEntries(int a, int b) { showRefusal(appMoveEntry(project(), a, b)); }

int FileListHost::openEntry(ProjectEntry& entry, Project& p) {
    return app().pipeline->openEntry(entry, p, true, false);
}

bool FileListHost::copySourceFiles() const { return window_.app().copySourceFiles; }

void FileListHost::setStatusProgress(int position) {
    if (QProgressBar* bar = window_.statusProgress()) bar->setValue(position);
}

void FileListHost::entriesChanged() { window_.refreshAll(); }

void FileListHost::refreshCommands() { window_.updateCommands(); }

bool FileListHost::projectOpen() const { return window_.app().projectOpen; }

bool FileListHost::openProject(const fs::path& projectFile) {
    if (app().projectOpen) window_.runCommand(cmd::kCloseProject, 0);
    if (app().projectOpen) return false;  // the close was cancelled
    return openProject(projectFile, true, -2, true);
}

void FileListHost::dropFiles(const std::vector<fs::path>& files) { appOnDropFiles(project(), *this, files); }

bool FileListHost::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_.fileList()->viewport()) {
        if (event->type() == QEvent::Resize && app().projectOpen) appSetFileListColumns(*window_.fileList());
        return false;
    }
    if (watched != &window_) return false;
    if (event->type() == QEvent::DragEnter) {
        auto* drag = static_cast<QDragEnterEvent*>(event);
        if (drag->mimeData()->hasUrls()) drag->acceptProposedAction();
        return drag->isAccepted();
    }
    if (event->type() == QEvent::Drop) {
        auto* drop = static_cast<QDropEvent*>(event);
        const std::vector<fs::path> files = appLocalFiles(*drop->mimeData());
        if (files.empty()) return false;
        drop->acceptProposedAction();
        dropFiles(files);
        return true;
    }
    return false;
}

}  // namespace qvp3
