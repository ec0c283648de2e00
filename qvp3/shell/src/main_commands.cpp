// OnMainCommand: the commands of the main window.
#include "qvp3_shell/main_commands.h"

#include <QApplication>
#include <QCheckBox>
#include <QProgressBar>
#include <QTabWidget>
#include <QTreeView>

#include <algorithm>

#include "platform/files.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/sequencer.h"
#include "qvp3_project/project_file.h"
#include "qvp3_project/project_folder.h"
#include "qvp3_project/step_changes.h"
#include "qvp3_shell/app_state.h"
#include "qvp3_shell/choosers.h"
#include "qvp3_shell/help.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_shell/menus.h"
#include "qvp3_shell/recent_files.h"
#include "qvp3_shell/shell_utils.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

namespace fs = std::filesystem;

namespace {
constexpr std::int32_t kDefaultCdSeconds = 80 * 60;
}

MainCommands::MainCommands(MainWindow& window) : window_(window) {}

AppState& MainCommands::app() { return window_.app(); }
Project& MainCommands::project() { return *window_.app().project; }
ProjectEntry* MainCommands::currentEntry() { return prjGetEntry(project(), -1); }
ProjectListHost& MainCommands::list() { return window_.listHost(); }
StepHost& MainCommands::steps() { return window_.stepHost(); }

void MainCommands::run(int id, int code) {
    if (id == ctl::kAddPathCheck) {
        toggleAddPath();
        return;
    }
    // A command whose row is greyed does nothing, whoever sends it.
    if (QAction* action = window_.action(id); action && !action->isEnabled()) {
        window_.updateCommands();
        if (!action->isEnabled()) return;
    }
    if (runProjectCommand(id, code) || runEntryCommand(id) || runTransportCommand(id) || runHelpCommand(id)) return;
    if (id >= cmd::kFirstStepTab && id <= cmd::kLastStepTab) {
        selectStep(id - cmd::kFirstStepTab, false);
    } else if (id == cmd::kNextStep || id == cmd::kPreviousStep) {
        selectStep(project().currentStep + (id == cmd::kNextStep ? 1 : -1), false);
    } else if (id >= cmd::kFirstRecent && id <= cmd::kLastRecent) {
        openRecent(id - cmd::kFirstRecent);
    } else if (id == cmd::kToggle || id == cmd::kRun || (id >= cmd::kTempoCurveA && id <= cmd::kTempoCurveB) ||
               id == cmd::kPwcA || id == cmd::kPwcB) {
        steps().forwardCommand(id, cmd::kCodeNoQuestion);
    } else if (id == cmd::kSaveProfile) {
        saveProfile();
    } else if (id == cmd::kDeleteProfile) {
        deleteProfile();
    } else if (id == cmd::kApplyProfile) {
        applyProfile();
    } else if (id == cmd::kProfileEntries) {
        window_.dialogs().profileEntries();
    } else if (id == cmd::kSettings) {
        settingsCommand();
    } else if (id == cmd::kExit) {
        window_.close();
    } else if (id == cmd::kSearch) {
        // The desktop's file search has no common interface: the file manager
        // opens at the project folder instead.
        appOpenFolder(project().data.ProjectFolder.empty() ? app().projectsRoot : project().data.ProjectFolder);
    }
}

bool MainCommands::runProjectCommand(int id, int code) {
    switch (id) {
    case cmd::kNewProject: newProject(); return true;
    case cmd::kOpenProject: openProjectCommand(); return true;
    case cmd::kSave: saveProject(); return true;
    case cmd::kSaveAs: saveProjectAs(); return true;
    case cmd::kCloseProject: closeProject(code); return true;
    case cmd::kShowProjectData: {
        ProjectData copy = project().data;
        window_.dialogs().projectData(copy, ProjectData::kModeEdit);
        return true;
    }
    case cmd::kProjectData:
        if (window_.dialogs().projectData(project().data, ProjectData::kModeEdit)) {
            project().saved = 0;
            window_.refreshAll();
        }
        return true;
    case cmd::kCategories: {
        std::string text = project().CatInstrument.value_or(std::string());
        if (window_.dialogs().categories(text)) {
            project().CatInstrument = text;
            project().saved = 0;
            window_.updateCommands();
        }
        return true;
    }
    default: return false;
    }
}

bool MainCommands::runEntryCommand(int id) {
    switch (id) {
    case cmd::kAddFiles: addFilesCommand(); return true;
    case cmd::kRemoveFile: removeFileCommand(); return true;
    case cmd::kFileUp: moveFile(-1); return true;
    case cmd::kFileDown: moveFile(+1); return true;
    case cmd::kExternalEditor: externalEditor(); return true;
    default: return false;
    }
}

bool MainCommands::runHelpCommand(int id) {
    switch (id) {
    case cmd::kHelp: appShowHelp(); return true;
    case cmd::kContextHelp: contextHelp(); return true;
    case cmd::kHelpKeyboard: appShowHelp("tastatur"); return true;
    case cmd::kHelpGlossary: appShowHelp("glossar"); return true;
    case cmd::kHelpManaging: appShowHelp("hilfe_verw"); return true;
    case cmd::kHelpIncluded: appShowHelp("proj_mitgel"); return true;
    case cmd::kAbout: about(); return true;
    case cmd::kUpdateSettings: appShowUpdateSettings(window_); return true;
    default: return false;
    }
}

void MainCommands::newProject() {
    ProjectData copy = project().data;
    copy.ProjectTitle.clear();
    copy.ProjectDescription.clear();
    copy.ProjectDataMode = ProjectData::kModeNew;
    if (!window_.dialogs().projectData(copy, ProjectData::kModeNew)) return;
    if (project().fileNum() > 0 && qvp3ui::appQuestionBox(153, {}, kMbYesNo) != kIdYes) return;
    if (app().projectOpen) run(cmd::kCloseProject, 0);
    if (app().projectOpen) return;  // the close was cancelled
    Project& p = project();
    copy.ProjectDataMode = ProjectData::kModeEdit;
    // A project file without a disc size cannot be read back: an 80-minute
    // disc unless the dialog chose one.
    if (copy.CDSpace <= 0) copy.CDSpace = kDefaultCdSeconds;
    p.data = copy;
    app().projectFolder = p.data.ProjectFolder;
    p.mp3Folder = p.data.ProjectFolder;
    p.filePath = p.data.ProjectFolder / (p.data.ProjectTitle + ".c-1");
    app().lastProject = p.filePath;
    p.previousStep = p.currentStep;
    p.currentStep = 0;
    app().projectOpen = true;
    p.saved = 0;
    window_.refreshAll();
}

void MainCommands::openProjectCommand() {
    FileDialogRequest request;
    request.filter = qvp3ui::uiString(151) + "|*.c-1|";
    request.title = qvp3ui::uiString(152);
    request.defaultExtension = "c-1";
    request.initialFolder = app().projectFolder.empty() ? app().projectsRoot : app().projectFolder;
    request.purpose = cmd::kOpenProject;
    std::vector<fs::path> chosen = appFileDialog(&window_, request);
    if (chosen.empty()) return;
    if (project().fileNum() > 0 && qvp3ui::appQuestionBox(153, {}, kMbYesNo) != kIdYes) return;
    if (app().projectOpen) run(cmd::kCloseProject, 0);
    if (app().projectOpen) return;
    if (!list().openProject(chosen.front(), true, -2, true)) qvp3ui::appWarningBox(0, chosen.front().string());
    window_.refreshAll();
}

bool MainCommands::saveProject() {
    Project& p = project();
    // The store writes a new file beside the old one and renames it over:
    // a failed save leaves the old file as it was.
    if (!prjWriteFile(p)) {
        qvp3ui::appWarningBox(221);
        return false;
    }
    p.saved = 1;
    app().lastProject = p.filePath;
    window_.updateCommands();
    return true;
}

void MainCommands::saveProjectAs() {
    FileDialogRequest request;
    request.save = true;
    request.filter = qvp3ui::uiString(151) + "|*.c-1|";
    request.title = qvp3ui::uiString(222);
    request.defaultExtension = "c-1";
    request.proposedName = project().data.ProjectTitle + ".c-1";
    request.initialFolder = project().data.ProjectFolder;
    request.purpose = cmd::kSaveAs;
    if (project().data.ProjectTitle.empty()) {
        qvp3ui::appInfoBox(154);
        run(cmd::kProjectData, 0);
        return;
    }
    std::vector<fs::path> chosen = appFileDialog(&window_, request);
    if (chosen.empty()) return;
    fs::path file = chosen.front();
    if (file.extension() != ".c-1") file += ".c-1";
    project().data.ProjectTitle = file.stem().string();
    project().filePath = file;
    list().updateWindowTitle();
    saveProject();
}

void MainCommands::closeProject(int code) {
    Project& p = project();
    if (code != cmd::kCodeNoQuestion) {
        const int answer = appAskSaveProject(app());
        if (answer == kIdCancel) return;
        if (answer == kIdYes && !saveProject()) return;
    }
    app().stopAllThreads();
    if (app().projectOpen && fs::exists(p.filePath)) app().recentFiles->add(p.filePath);
    for (int i = p.fileNum() - 1; i >= 0; --i) prjRemoveEntry(p, i, false);
    p.data.ProjectFolder.clear();
    p.data.ProjectTitle.clear();
    p.data.ProjectDescription.clear();
    p.CatEnsemble.clear();
    p.filePath.clear();
    app().projectOpen = false;
    p.saved = 1;
    p.dirty = 0;
    p.convertedMidiCount = 0;
    p.convertedWaveCount = 0;
    p.currentEntry = -1;
    window_.refreshAll();
}

void MainCommands::addFilesCommand() {
    FileDialogRequest request;
    request.filter = qvp3ui::uiString(246) + "|*.tvr;*.mid;*.rmi;*.zrv;*.xml;*.tvrx|";
    request.title = qvp3ui::uiString(247);
    request.defaultExtension = "tvr";
    request.initialFolder = app().tavrenaFolder.empty() ? app().programFolder : app().tavrenaFolder;
    request.purpose = cmd::kAddFiles;
    request.multiSelect = true;
    std::vector<fs::path> chosen = appFileDialog(&window_, request);
    if (chosen.empty()) return;
    std::sort(chosen.begin(), chosen.end(), [](const fs::path& a, const fs::path& b) {
        return appCompareFileNames(a, b) < 0;
    });
    list().addFiles(chosen);
    window_.statusProgress()->setVisible(false);  // the conversions are over
    afterEntryChange();
}

// After files were added, removed or moved: the earliest unfinished step
// is shown, with its message.
void MainCommands::afterEntryChange() {
    StepStatus status;
    const int step = prjFindStepWithStatus(project(), -1, &status);
    if (step >= 0) {
        selectStep(step, false);
        qvp3ui::appInfoBox(97);
    }
    window_.refreshAll();
}

void MainCommands::removeFileCommand() {
    if (!window_.fileList()->hasFocus()) return;
    const int index = project().currentEntry;
    if (index < 0) return;
    if (qvp3ui::appMessageBoxCheck(qvp3ui::uiString(463), kMbYesNo, kIdYes,
                                   "{3D6D0D9D-201E-436e-9DBB-795AC0FDDE5B}") != kIdYes)
        return;
    app().stopAllThreads();
    list().removeEntry(index);
    Project& p = project();
    p.currentEntry = p.fileNum() == 0 ? -1 : std::min(index, p.fileNum() - 1);
    prjMarkStepDirty(p);
    if (p.fileNum() == 0) {
        selectStep(0, false);
        window_.refreshAll();
    } else {
        afterEntryChange();
    }
}

void MainCommands::moveFile(int delta) {
    Project& p = project();
    const int from = p.currentEntry;
    const int to = from + delta;
    if (from < 0 || to < 0 || to >= p.fileNum()) return;
    list().swapEntries(from, to);
    p.currentEntry = to;
    prjMarkStepDirty(p);
    afterEntryChange();
}

void MainCommands::openRecent(int index) {
    const fs::path file = app().recentFiles->path(static_cast<std::size_t>(index));
    if (file.empty()) return;
    if (project().fileNum() > 0 && qvp3ui::appQuestionBox(153, {}, kMbYesNo) != kIdYes) return;
    if (app().projectOpen) run(cmd::kCloseProject, 0);
    if (app().projectOpen) return;
    if (!list().openProject(file, true, -2, true)) qvp3ui::appWarningBox(0, file.string());
    window_.refreshAll();
}

void MainCommands::contextHelp() {
    if (!app().projectOpen) {
        appShowHelp();
        return;
    }
    QWidget* focus = QApplication::focusWidget();
    const int id = focus ? qvp3ui::controlId(*focus) : -1;
    if (focus == window_.fileList() || id == ctl::kAddPathCheck) {
        appShowHelp("quelldatei");
    } else if (focus && appIsTransportControl(*focus)) {
        appShowHelp("playback");
    } else if (focus && appIsProfileBarControl(*focus)) {
        appShowHelp("profile");
    } else {
        const int step = project().currentStep;
        appShowHelp(step >= 0 ? "abschnitt" + std::to_string(step + 1) : std::string());
    }
}

void MainCommands::toggleAddPath() {
    auto* check = qvp3ui::findControl<QCheckBox>(window_, ctl::kAddPathCheck);
    project().addPath = check->isChecked() ? 1 : 0;
    project().saved = 0;
    list().refreshFileList();
    window_.updateCommands();
}

void MainCommands::settingsCommand() {
    if (window_.dialogs().settings() == 2) window_.update();
}

void MainCommands::about() { appShowAboutBox(window_); }

}  // namespace qvp3
