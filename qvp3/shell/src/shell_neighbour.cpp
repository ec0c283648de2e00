#include "qvp3_shell/shell_neighbour.h"

#include <QApplication>
#include <QProgressBar>
#include <QStatusBar>

#include "qvp3_shell/app_state.h"
#include "qvp3_shell/main_commands.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_shell/menus.h"
#include "qvp3_shell/shell_utils.h"
#include "qvp3_ui/message_box.h"
#include "qvp3_ui/qt_message_target.h"

namespace qvp3 {

std::string ShellNeighbour::languageString(int id) { return qvp3ui::uiString(id); }

int ShellNeighbour::appQuestionBox(int stringId, int buttons) { return qvp3ui::appQuestionBox(stringId, {}, buttons); }

void ShellNeighbour::closeProject() {
    if (app_.mainWindow) app_.mainWindow->runCommand(cmd::kCloseProject, cmd::kCodeNoQuestion);
}

void ShellNeighbour::appSetStatusParts(int) {}

void ShellNeighbour::appCreateStatusProgress(int maximum) {
    if (!app_.mainWindow) return;
    QProgressBar* bar = app_.mainWindow->statusProgress();
    bar->setRange(0, maximum);
    bar->setValue(0);
    bar->setVisible(true);
}

void ShellNeighbour::appDestroyStatusProgress() {
    if (app_.mainWindow) app_.mainWindow->statusProgress()->setVisible(false);
}

void ShellNeighbour::setStatusText(int, std::string_view text) {
    if (app_.mainWindow) app_.mainWindow->statusBar()->showMessage(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

bool ShellNeighbour::templateKeysDown() {
    const Qt::KeyboardModifiers mods = QApplication::keyboardModifiers();
    return (mods & Qt::ControlModifier) && (mods & Qt::ShiftModifier);
}

bool ShellNeighbour::appDeleteConvertedFiles(std::string_view extension, const std::filesystem::path& folder) {
    if (extension == "*") return BasicShell::appDeleteConvertedFiles(extension, folder);
    return qvp3::appDeleteConvertedFiles(extension, folder, app_.project ? app_.project->data.ProjectTitle : std::string());
}

std::filesystem::path ShellNeighbour::projectsRoot() { return app_.projectsRoot; }
void ShellNeighbour::setProjectFolder(const std::filesystem::path& folder) { app_.projectFolder = folder; }
void ShellNeighbour::setLastProject(const std::filesystem::path& file) { app_.lastProject = file; }

int ShellNeighbour::appTextBox(std::string_view text, int kind, int buttons) {
    if (kind == kBoxQuestion) return qvp3ui::appQuestionBox(0, text, buttons);
    if (kind == kBoxWarning) return qvp3ui::appWarningBox(0, text, buttons);
    qvp3ui::appInfoBox(0, text);
    return kIdOk;
}

void ShellNeighbour::appUpdateStepMenuItems(int step) {
    if (app_.mainWindow) app_.mainWindow->stepHost().updateStepMenuItems(step);
}

void ShellNeighbour::updateTransportControls() {
    if (app_.mainWindow) app_.mainWindow->updateTransport();
}

void ShellNeighbour::setPauseMenuText(int stringId) {
    if (app_.mainWindow) app_.mainWindow->action(cmd::kPlay)->setText(QString::fromStdString(qvp3ui::uiString(stringId)));
}

void ShellNeighbour::layoutProfileBar(int) {
    if (app_.mainWindow) app_.mainWindow->updateCommands();
}

void ShellNeighbour::showPlayPosition(std::int32_t ms, int) {
    // May come from the player thread: the window hears it by a posted message.
    if (app_.mainTarget) app_.mainTarget->post(kWmShowPosition, static_cast<platform::WParam>(ms), 0);
}

void ShellNeighbour::setTempoTrackbar(int value) {
    if (app_.mainTarget) app_.mainTarget->post(kWmShowPosition, static_cast<platform::WParam>(value), 0);
}

void ShellNeighbour::postStop() {
    if (app_.mainTarget) app_.mainTarget->post(platform::WM_COMMAND, qvp3ui::makeCommandWParam(cmd::kStop, 0), 0);
}

}  // namespace qvp3
