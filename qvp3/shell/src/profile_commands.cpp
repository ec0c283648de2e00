// The profile bar's commands: apply the selected profile, save the page as a
// new profile, delete the selected one.
#include <QComboBox>
#include <QLineEdit>

#include "platform/files.h"
#include "qvp3_project/profile_file.h"
#include "qvp3_project/step_changes.h"
#include "qvp3_shell/app_state.h"
#include "qvp3_shell/main_commands.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_shell/shell_neighbour.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

namespace fs = std::filesystem;

namespace {

StepPage* currentPage(AppState& app) { return stpGetPage(*app.project, app.project->currentStep < 0 ? 0 : -1); }

}  // namespace

void MainCommands::refreshProfileBar() {
    AppState& a = app();
    const int step = std::max(project().currentStep, 0);
    if (!app().projectOpen) {
        a.profiles->clearList();
        return;
    }
    prfFillProfileCombo(*a.profiles, step);
}

void MainCommands::saveProfile() {
    AppState& a = app();
    QComboBox* combo = window_.profileList();
    const std::string description = combo->currentText().left(64).toStdString();
    StepPage* page = currentPage(a);
    if (description.empty()) {
        qvp3ui::appWarningBox(349);
        combo->setFocus();
        return;
    }
    const int step = std::max(project().currentStep, 0);
    if (prfProfileDescExists(*a.profiles, step, description)) {
        qvp3ui::appWarningBox(348);
        combo->setFocus();
        return;
    }
    if (!page || !prfWriteNewProfile(nullptr, *a.profiles, description, *page, *a.shellServices)) {
        qvp3ui::appWarningBox(350);
        return;
    }
    refreshProfileBar();
    window_.updateCommands();
}

void MainCommands::deleteProfile() {
    AppState& a = app();
    const int index = window_.profileList()->currentIndex();
    if (index < 0 || !a.profiles->profileList) return;
    if (qvp3ui::appQuestionBox(298, {}, kMbYesNo) != kIdYes) return;
    const fs::path file = a.profiles->profileList->itemPath(index);
    // Only a profile file of the profile folder is ever deleted.
    std::error_code ec;
    if (!file.empty() && file.parent_path() == a.profiles->profileFolder) fs::remove(file, ec);
    refreshProfileBar();
    a.profiles->selectedIndex = window_.profileList()->count() > 0 ? 0 : -1;
}

void MainCommands::applyProfile() {
    AppState& a = app();
    Project& p = project();
    StepPage* page = currentPage(a);
    if (!page || a.profiles->selectedIndex < 0) return;
    if (qvp3ui::appMessageBoxCheck(qvp3ui::uiString(299), kMbYesNo, kIdYes,
                                   "{DF914760-A7D7-47ee-A61F-3D4DF6F6A845}") != kIdYes)
        return;
    // With no entry chosen the current one takes the profile.
    if (prfNoEntryChosen(*a.profiles) && p.currentEntry >= 0 && p.currentEntry < kMaxProjectEntries)
        a.profiles->applyFlags[static_cast<std::size_t>(p.currentEntry)] = 1;
    for (int i = 0; i < p.fileNum() && i < kMaxProjectEntries; ++i) {
        if (!a.profiles->applyFlags[static_cast<std::size_t>(i)]) continue;
        ProjectEntry& entry = p.entries[static_cast<std::size_t>(i)];
        if (!prfApplyProfile(*a.profiles, *page, &entry)) {
            qvp3ui::appWarningBox(0, prfFormatString(qvp3ui::uiString(347), entry.Filename.filename().string()));
        }
    }
    prjMarkStepDirty(p);
    window_.updateCommands();
}

}  // namespace qvp3
