#include "qvp3_shell/app_wiring.h"

#include <QSplitter>
#include <QToolBar>
#include <QToolButton>

#include "qvp3_dialogs/category_dialogs.h"
#include "qvp3_dialogs/dialog_support.h"
#include "qvp3_dialogs/project_data_dialog.h"
#include "qvp3_dialogs/settings_dialog.h"
#include "qvp3_dialogs/small_dialogs.h"
#include "qvp3_dialogs/welcome_dialog.h"
#include "qvp3_shell/app_state.h"
#include "qvp3_shell/file_list_host.h"
#include "qvp3_shell/help.h"
#include "qvp3_shell/list_area.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_shell/step_tab_install.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/qt_message_target.h"

namespace qvp3 {

namespace {

GeneralSettings generalSettingsOf(const AppState& app) {
    GeneralSettings s;
    s.copySourceFiles = app.copySourceFiles;
    s.overwriteSourceFiles = app.overwriteSourceFiles;
    s.howToStart = app.howToStart;
    s.loadQvoInstruments = app.loadQvoInstruments;
    s.midiEditorPath = app.midiEditor.path;
    s.midiEditorKind = app.midiEditor.kind;
    s.midiEditorWindowClass = app.midiEditor.wndClass;
    return s;
}

void takeGeneralSettings(AppState& app, const GeneralSettings& s) {
    app.copySourceFiles = s.copySourceFiles;
    app.overwriteSourceFiles = s.overwriteSourceFiles;
    app.howToStart = s.howToStart;
    app.loadQvoInstruments = s.loadQvoInstruments;
    app.midiEditor = MidiEditorRecord{s.midiEditorPath, s.midiEditorKind, s.midiEditorWindowClass};
}

// The older sequencer's installation, looked up for the dialog's choice;
// the application's own record stays as it is until OK.
bool findRondaloFor(AppState& app, GeneralSettings& s) {
    const MidiEditorRecord kept = app.midiEditor;
    app.midiEditor.kind = s.midiEditorKind;
    const bool found = appFindRondaloInstall(app);
    s.midiEditorPath = app.midiEditor.path;
    s.midiEditorKind = app.midiEditor.kind;
    s.midiEditorWindowClass = app.midiEditor.wndClass;
    app.midiEditor = kept;
    return found;
}

// The profile-entries dialog sits with its bottom right corner on the
// profile toolbar's button of that command.
std::optional<QPoint> profileEntriesAnchor(MainWindow& window) {
    auto* tools = qvp3ui::findControl<QToolBar>(window, ctl::kProfileToolbar);
    QAction* action = window.action(cmd::kProfileEntries);
    QWidget* button = tools && action ? tools->widgetForAction(action) : nullptr;
    if (!button || !button->isVisible()) return std::nullopt;
    return button->mapToGlobal(button->rect().bottomRight());
}

}  // namespace

bool AppShellDialogs::projectData(ProjectData& data, int mode) {
    AppState& app = window_.app();
    data.ProjectDataMode = mode;
    ProjectDataContext context{*app.project, data};
    context.setWindowTitle = [this] { window_.listHost().updateWindowTitle(); };
    return prjProjectDataDialog(&window_, std::move(context)) == 1;
}

bool AppShellDialogs::categories(std::string& text) {
    Project& project = *window_.app().project;
    if (prjCategoriesDialog(&window_, project) != 1) return false;
    text = project.CatInstrument.value_or(std::string());
    return true;
}

int AppShellDialogs::settings() {
    AppState& app = window_.app();
    GeneralSettings general = generalSettingsOf(app);
    SettingsContext context{general, app.settings(), *app.outputDevices};
    context.projectOpen = app.projectOpen;
    context.findRondaloInstall = [&app](GeneralSettings& s) { return findRondaloFor(app, s); };
    const int result = prjSettingsDialog(&window_, std::move(context));
    if (result != 0) takeGeneralSettings(app, general);
    return result;
}

void AppShellDialogs::welcome() {
    AppState& app = window_.app();
    MainWindow* window = &window_;
    const auto postCommand = [window](int command) {
        window->target().post(platform::WM_COMMAND, qvp3ui::makeCommandWParam(command, 0), 0);
    };
    const auto openLastProject = [window] {
        const AppState& a = window->app();
        if (!a.lastProject.empty()) window->listHost().openProject(a.lastProject, true, -2, true);
    };
    WelcomeContext context{app.howToStart, app.settings(), postCommand, openLastProject};
    prjWelcomeDialog(&window_, std::move(context));
}

bool AppShellDialogs::profileEntries() {
    AppState& app = window_.app();
    return prfEntriesDialog(&window_, *app.project, *app.profiles, profileEntriesAnchor(window_)) == 1;
}

void appWireMainWindow(MainWindow& window) {
    window.setProjectListHost(std::make_unique<FileListHost>(window));
    if (auto* splitter = window.findChild<QSplitter*>("splitter")) appLimitSplitter(*splitter);
    appInstallStepTab(window);
    window.setDialogs(std::make_unique<AppShellDialogs>(window));
    dlg::setHelpHandler([](std::string_view topic) { appShowHelp(topic); });
    dlg::setActivationHandler([](QWidget* dialog) {
        if (g_appState) g_appState->modelessDialog = dialog;
    });
    window.stepHost().layoutPages();
}

}  // namespace qvp3
