#include "qvp3_shell/shell_hosts_basic.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTreeView>

#include "qvp3_project/project_file.h"
#include "qvp3_project/project_folder.h"
#include "qvp3_project/step_changes.h"
#include "qvp3_shell/app_state.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_shell/menus.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

namespace fs = std::filesystem;

bool BasicProjectListHost::openProject(const fs::path& file, bool remember, int step, bool show) {
    AppState& app = window_.app();
    Project& project = *app.project;
    std::vector<std::int32_t> codes;
    std::vector<std::string> names;
    if (!prjReadFile(project, file, true, codes, names)) return false;
    for (std::int32_t code : codes) {
        if (int id = prjReadCodeStringId(code)) qvp3ui::appWarningBox(id);
    }
    app.projectOpen = true;
    app.projectFolder = project.data.ProjectFolder;
    if (remember) app.lastProject = file;
    if (project.currentEntry < 0 && project.fileNum() > 0) project.currentEntry = 0;
    if (step != -2) project.currentStep = step;
    if (project.currentStep < 0) project.currentStep = 0;
    if (show) window_.refreshAll();
    return true;
}

void BasicProjectListHost::addFiles(const std::vector<fs::path>& files) {
    AppState& app = window_.app();
    Project& project = *app.project;
    for (const fs::path& source : files) {
        fs::path file = source;
        // The project keeps its sources in its folder when so set.
        if (app.copySourceFiles && !project.data.ProjectFolder.empty() &&
            source.parent_path() != project.data.ProjectFolder) {
            file = project.data.ProjectFolder / source.filename();
            std::error_code ec;
            const auto option = app.overwriteSourceFiles ? fs::copy_options::overwrite_existing
                                                         : fs::copy_options::skip_existing;
            fs::copy_file(source, file, option, ec);
            if (ec) file = source;
        }
        ProjectEntry entry;
        entry.Filename = file;
        app.pipeline->cnvEntryInit(entry, project);
        if (app.pipeline->openEntry(entry, project, true, false) == 0) {
            project.currentEntry = project.fileNum() - 1;
            prjMarkStepDirty(project);
        }
    }
    window_.refreshAll();
}

void BasicProjectListHost::refreshFileList() {
    const Project& project = *window_.app().project;
    model_.removeRows(0, model_.rowCount());
    for (const ProjectEntry& entry : project.entries) {
        QList<QStandardItem*> row{new QStandardItem(QString::fromStdString(entry.Filename.filename().string())),
                                  new QStandardItem(QString::fromStdString(entry.Filename.extension().string()))};
        for (QStandardItem* item : row) item->setEditable(false);
        model_.appendRow(row);
    }
    if (project.currentEntry >= 0 && project.currentEntry < model_.rowCount()) {
        window_.fileList()->setCurrentIndex(model_.index(project.currentEntry, 0));
    }
}

void BasicProjectListHost::updateWindowTitle() {
    const AppState& app = window_.app();
    QString title = QString::fromStdString(app.programTitle);
    if (app.projectOpen) title = QStringLiteral("%1 - [%2]").arg(title, QString::fromStdString(app.project->data.ProjectTitle));
    window_.setWindowTitle(title);
}

bool BasicProjectListHost::removeEntry(int index) {
    return prjRemoveEntryAndPurge(*window_.app().project, index, true);
}

void BasicProjectListHost::swapEntries(int a, int b) {
    Project& project = *window_.app().project;
    std::swap(project.entries[static_cast<std::size_t>(a)], project.entries[static_cast<std::size_t>(b)]);
    project.pipeline().cnvRelinkEntryPlayers(project);
}

void BasicStepHost::selectStep(int step) {
    AppState& app = window_.app();
    Project& project = *app.project;
    if (step < 0 || step >= kStepCount || step == project.currentStep) return;
    if (!prjCanChangeStep(step, project)) {
        window_.stepTab()->setCurrentIndex(std::max(project.currentStep, 0));
        return;
    }
    project.previousStep = project.currentStep;
    project.currentStep = step;
    window_.stepTab()->setCurrentIndex(step);
    updateStepMenuItems(step);
    window_.updateCommands();
}

void BasicStepHost::forwardCommand(int, int) {}

void BasicStepHost::updateStepMenuItems(int step) {
    appUpdateToggleMenuItem(window_, step);
    appUpdateRunMenuItem(window_, step);
}

bool BasicShellDialogs::projectData(ProjectData& data, int mode) {
    bool ok = false;
    const QString title = QInputDialog::getText(&window_, QString::fromStdString(window_.app().programTitle),
                                                QString::fromStdString(qvp3ui::uiString(259)), QLineEdit::Normal,
                                                QString::fromStdString(data.ProjectTitle), &ok);
    if (!ok) return false;
    std::optional<std::string> clean = prjCleanTitle(title.toStdString());
    if (!clean || clean->empty()) {
        qvp3ui::appWarningBox(0, title.toStdString());
        return false;
    }
    data.ProjectTitle = *clean;
    if (mode == ProjectData::kModeNew) {
        data.ProjectFolder = window_.app().projectsRoot / *clean;
        std::error_code ec;
        fs::create_directories(data.ProjectFolder, ec);
        if (ec) return false;
    }
    return true;
}

}  // namespace qvp3
