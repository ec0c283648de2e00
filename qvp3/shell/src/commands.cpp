#include "qvp3_shell/commands.h"

#include <array>

#include "qvp3_project/project.h"
#include "qvp3_shell/app_state.h"
#include "qvp3_shell/recent_files.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

namespace {

using S = Submenu;
using T = ToolbarRow;

constexpr std::array kCommands{
    // File
    CommandRow{cmd::kNewProject, 138, S::File, T::Main, false, "document-new"},
    CommandRow{cmd::kOpenProject, 223, S::File, T::Main, false, "document-open"},
    CommandRow{cmd::kAddFiles, 137, S::File, T::Main, true, "list-add"},
    CommandRow{cmd::kSearch, 224, S::File, T::Main, false, "system-search"},
    CommandRow{cmd::kFileUp, 270, S::File, T::Main, false, "go-up"},
    CommandRow{cmd::kFileDown, 271, S::File, T::Main, false, "go-down"},
    CommandRow{cmd::kRemoveFile, 269, S::File, T::Main, false, "list-remove"},
    CommandRow{cmd::kExternalEditor, 123, S::File, T::Main, true, "document-edit"},
    CommandRow{cmd::kSettings, 266, S::File, T::Main, true, "preferences-system"},
    CommandRow{cmd::kExit, 133, S::File, T::Second, true, "application-exit"},
    // Playback
    CommandRow{cmd::kPlay, 0, S::Playback, T::None, false, "media-playback-start"},
    CommandRow{cmd::kStop, 0, S::Playback, T::None, false, "media-playback-stop"},
    CommandRow{cmd::kToStart, 0, S::Playback, T::None, false, "media-skip-backward"},
    CommandRow{cmd::kBack, 0, S::Playback, T::None, false, "media-seek-backward"},
    CommandRow{cmd::kForward, 0, S::Playback, T::None, false, "media-seek-forward"},
    CommandRow{cmd::kToggle, 0, S::None, T::None, false, ""},
    // Profiles
    CommandRow{cmd::kApplyProfile, 293, S::Profiles, T::Profile, false, "document-import"},
    CommandRow{cmd::kSaveProfile, 294, S::Profiles, T::Profile, false, "document-save"},
    CommandRow{cmd::kDeleteProfile, 295, S::Profiles, T::Profile, false, "edit-delete"},
    CommandRow{cmd::kProfileEntries, 60211, S::Profiles, T::None, true, ""},
    // Project
    CommandRow{cmd::kSave, 136, S::Project, T::Main, false, "document-save"},
    CommandRow{cmd::kSaveAs, 0, S::Project, T::None, false, "document-save-as"},
    CommandRow{cmd::kProjectData, 259, S::Project, T::Main, false, "document-properties"},
    CommandRow{cmd::kShowProjectData, 0, S::Project, T::None, false, ""},
    CommandRow{cmd::kCategories, 0, S::Project, T::None, false, ""},
    CommandRow{cmd::kCloseProject, 135, S::Project, T::Main, false, "document-close"},
    CommandRow{cmd::kPreviousStep, 32, S::Project, T::Second, true, "go-previous"},
    CommandRow{cmd::kNextStep, 454, S::Project, T::Second, false, "go-next"},
    CommandRow{cmd::kRun, 0, S::None, T::None, false, ""},
    // Help
    CommandRow{cmd::kHelp, 134, S::Help, T::Main, true, "help-contents"},
    CommandRow{cmd::kContextHelp, 0, S::Help, T::None, false, "help-contextual"},
    CommandRow{cmd::kHelpKeyboard, 0, S::Help, T::None, true, ""},
    CommandRow{cmd::kHelpGlossary, 0, S::Help, T::None, false, ""},
    CommandRow{cmd::kHelpManaging, 0, S::Help, T::None, false, ""},
    CommandRow{cmd::kHelpIncluded, 0, S::Help, T::None, false, ""},
    CommandRow{cmd::kUpdateSettings, 0, S::Help, T::None, true, ""},
    CommandRow{cmd::kAbout, 0, S::Help, T::None, true, "help-about"},
    // Reached by keys and by the pages' own toolbars.
    CommandRow{cmd::kTempoCurveA, 0, S::None, T::None, false, ""},
    CommandRow{cmd::kTempoCurveB, 0, S::None, T::None, false, ""},
    CommandRow{cmd::kPwcA, 0, S::None, T::None, false, ""},
    CommandRow{cmd::kPwcB, 0, S::None, T::None, false, ""},
};

bool hasCurrentEntry(const Project& p) {
    return p.currentEntry >= 0 && p.currentEntry < p.fileNum();
}

bool profileBarUsable(const AppState& app) { return app.projectOpen && prjFindBusyEntry(*app.project) < 0; }

bool pageUsesProfiles(const AppState& app) {
    const StepPage* page = stpGetPage(*app.project, app.project->currentStep < 0 ? 0 : -1);
    return page && page->profileDataNum != 0;
}

}  // namespace

std::span<const CommandRow> commandTable() { return kCommands; }

const CommandRow* findCommand(int id) {
    for (const CommandRow& row : kCommands) {
        if (row.id == id) return &row;
    }
    return nullptr;
}

int appAskSaveProject(const AppState& app) {
    if (app.project->saved) return kIdNo;
    return qvp3ui::appQuestionBox(128, {}, kMbYesNoCancel);
}

bool commandEnabled(const AppState& app, int id, bool fileListFocused) {
    const Project& p = *app.project;
    const bool open = app.projectOpen;
    const bool files = p.fileNum() > 0;
    const bool entry = files && hasCurrentEntry(p);
    switch (id) {
    case cmd::kApplyProfile:
    case cmd::kDeleteProfile:
        return profileBarUsable(app) && (app.profileBarMode == 1 || app.profileBarMode == 3);
    case cmd::kSaveProfile:
        return profileBarUsable(app) && (app.profileBarMode == 1 || app.profileBarMode == 3 ||
                                         (app.profileBarMode != 5 && pageUsesProfiles(app)));
    case cmd::kProfileEntries:
        return profileBarUsable(app);
    case cmd::kAddFiles:
    case cmd::kSearch:
    case cmd::kSaveAs:
    case cmd::kShowProjectData:
    case cmd::kCloseProject:
    case cmd::kCategories:
    case cmd::kProjectData:
        return open;
    case cmd::kSave: return open && !p.saved;
    case cmd::kRemoveFile: return open && entry && fileListFocused;
    case cmd::kFileUp: return open && entry && p.currentEntry > 0;
    case cmd::kFileDown: return open && entry && p.currentEntry < p.fileNum() - 1;
    case cmd::kStop:
    case cmd::kPlay:
    case cmd::kToStart:
        return entry;
    case cmd::kToggle:
        return open && (p.currentStep == static_cast<int>(StepCategory::Mdc) || prjAllEntriesIdle(p));
    case cmd::kExternalEditor: return open && entry;
    case cmd::kNextStep: return open && p.currentStep < 17;
    case cmd::kPreviousStep: return open && p.currentStep > 0;
    default:
        if (id >= cmd::kFirstRecent && id <= cmd::kLastRecent) {
            return app.recentFiles && app.recentFiles->count() > static_cast<std::size_t>(id - cmd::kFirstRecent);
        }
        return true;
    }
}

}  // namespace qvp3
