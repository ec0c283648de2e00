#include "qvp3_steps/step_pages.h"
#include "qvp3_steps/page_slots.h"

#include <atomic>

#include "platform/files.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_project/profile_file.h"
#include "qvp3_project/step_changes.h"
#include "qvp3_project/tempo_curve.h"
#include "qvp3_steps/page_workers.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_table.h"

namespace qvp3 {

namespace {

// Read by the notifier threads too.
std::atomic<StepPageHost*> gHost{nullptr};

constexpr int kStatusUnfinished = -1;
constexpr int kStatusNote = -2;

bool is(int category, std::initializer_list<int> steps) {
    for (int step : steps) {
        if (category == step) return true;
    }
    return false;
}

// The handlers this framework puts into a page's slots; the pages' own
// handlers are added by each page.
void fillFrameworkSlots(StepPage& page, int c) {
    if (is(c, {kStepSlf, kStepMdc, kStepWvc, kStepCln})) {
        page.fillProfileList = stpNoProfileList;
    } else {
        page.fillProfileList = stpFillProfileList;
    }
    if (is(c, {kStepSls, kStepTrp, kStepChp, kStepVol, kStepPan})) page.onSetFocus = stpFocusFirstControl;
    if (is(c, {kStepVol, kStepPwc})) page.onPaint = stpPaintNothing;
    if (c == kStepDyn) page.onCommand = [](StepPage& p, int, QWidget*, int) { return stpReturnZero(p); };
    if (c == kStepPwc) {
        page.onCtlColor = [](StepPage& p, QPalette&, QWidget*) { return stpReturnZero(p); };
        page.onSetCursor = [](StepPage& p, int) { return static_cast<int>(stpReturnZero(p)); };
    }
    if (is(c, {kStepPrc, kStepTmp, kStepTpp, kStepMet, kStepEin})) {
        page.isToggleDisabled = [](StepPage& p) {
            const auto* block = stpData<StepDataBlock>(p);
            return block != nullptr && block->toggleDisabled;
        };
    }
    if (is(c, {kStepMdc, kStepWvc})) {
        page.isToggleDisabled = stpToggleButtonDisabled;
        page.isRunDisabled = stpRunButtonDisabled;
    }
    if (c == kStepMet) page.onVScroll = stpMetOnVScroll;
    if (c == kStepEin) page.onVScroll = stpEinOnVScroll;
    if (c != kStepCln) page.stopWorker = stpPageStopWorker;
    if (is(c, {kStepMdc, kStepWvc, kStepBrn, kStepCln, kStepPwc})) page.onRun = stpRunStep;
    page.onShow = stpFrameworkOnShow;
    if (c == kStepSlf) page.getStatus = stpSlfGetStatus;
    if (c == kStepSls) page.getStatus = stpSlsGetStatus;
    if (c == kStepVol) page.getStatus = stpVolGetStatus;
    if (c == kStepTmp) page.getStatus = stpTmpGetStatus;
}

std::string fileNameOf(const ProjectEntry& entry) {
    return std::string(platform::storedFileName(entry.Filename.string()));
}

}  // namespace

void stpSetPageHost(StepPageHost* host) { gHost = host; }
StepPageHost* stpPageHost() { return gHost; }

void StepPages::stpInitPage(StepPage& page, StepCategory category) {
    qvp3::stpInitPage(page, static_cast<int>(category));
}

void StepPages::stpFreePage(StepPage& page) { qvp3::stpFreePage(page); }

bool StepPages::stpTempoCurveSetSpeed(TempoCurve& curve, int speed) {
    return qvp3::stpTempoCurveSetSpeed(curve, speed);
}

bool StepPages::stpTempoCurveCopyPoints(TempoCurve& curve, int target, int source, bool clear) {
    return qvp3::stpTempoCurveCopyPoints(curve, target, source, clear);
}

void stpTppUseRecordedTempos(StepPage& page, bool force);  // the tempo-curve page's

void StepPages::stpTppUseRecordedTempos(StepPage& page, bool force) { qvp3::stpTppUseRecordedTempos(page, force); }

// The page that answers this is built on this framework; until it has its
// own handler the call changes nothing.
void StepPages::stpRefreshSlfPage() {}

void StepPages::stpEmptyFileList(StepPage& page) {
    if (auto* mdc = stpData<MdcData>(page)) {
        std::lock_guard lock(mdc->job.mutex);
        mdc->job.state.rows.clear();
    }
}

void StepPages::stpRefreshAfterProfile(StepPage& page, ProjectEntry*) { stpNotifyPartChanged(page, 0); }

void stpInitPage(StepPage& page, int category) {
    page = StepPage{};
    page.category = static_cast<StepCategory>(category);
    const StepInfo* info = stpStepInfo(category);
    if (info == nullptr) return;
    page.data = stpNewDataBlock(category);
    page.usesProfiles = info->usesProfiles;
    page.profileDataNum = kStepProfileDataNums[static_cast<std::size_t>(category)];
    fillFrameworkSlots(page, category);
    stpFillPageSlots(page, category);
}

void stpFreePage(StepPage& page) {
    page.description.clear();
    page.altDescription.clear();
    // The block's destructor stops its threads (a job is cancelled and
    // waited for) before anything they use goes.
    page.data.reset();
    page.window = nullptr;
}

StepPage::Result stpShowPage(StepPage& page, bool shown) {
    if (shown) {
        StepPageHost* host = stpPageHost();
        const bool enable = host == nullptr || prjFindBusyEntry(host->project()) == -1;
        stpEnablePage(page, enable);
    }
    return page.onShow ? page.onShow(page, shown) : 0;
}

void stpEnablePage(StepPage& page, bool enable) {
    if (StepPageHost* host = stpPageHost()) {
        host->enableFileLists(enable);
        host->enableEntryCommands(enable);
        host->enableProjectCommands(enable);
        int mode = kProfileBarDisabled;
        if (enable) mode = stpPageFillProfileList(page) ? kProfileBarEnabled : kProfileBarEmpty;
        host->layoutProfileBar(page, mode);
    }
    if (page.enableControls) page.enableControls(page, enable);
}

StepPage::Result stpNotifyPartChanged(StepPage& page, std::intptr_t value) {
    if (StepPageHost* host = stpPageHost(); host != nullptr && prjGetEntry(host->project(), -1) != nullptr) {
        host->resetPlayPosition();
    }
    return page.onPartChanged ? page.onPartChanged(page, value) : 0;
}

bool stpPageFillProfileList(StepPage& page) { return page.fillProfileList ? page.fillProfileList(page) : false; }

StepPage::Result stpReturnZero(StepPage&) { return 0; }

void stpPaintNothing(StepPage&, QPainter&, const QRect&) {}

bool stpFillProfileList(StepPage& page) {
    StepPageHost* host = stpPageHost();
    if (host == nullptr) return false;
    return prfFillProfileCombo(host->profileContext(), static_cast<int>(page.category));
}

bool stpNoProfileList(StepPage&) {
    if (StepPageHost* host = stpPageHost()) host->profileContext().clearList();
    return false;
}

void stpSlfGetStatus(StepPage& page, Project& project, StepStatus& status) {
    page.pending = project.fileNum() == 0;
    if (!page.pending) return;
    status.state = kStatusUnfinished;
    status.stringId = kStrNoFiles;
    status.show = 1;
}

void stpSlsGetStatus(StepPage& page, Project& project, StepStatus& status) {
    constexpr auto kSls = static_cast<std::size_t>(kStepSls);
    for (ProjectEntry& entry : project.entries) {
        if (cnvEntryAnyStaveOn(entry)) {
            entry.pending[kSls] = 0;
            continue;
        }
        entry.pending[kSls] = 1;
        status.state = kStatusUnfinished;
        status.text = prfFormatString(project.shell().languageString(kStrNoStaveOn), fileNameOf(entry));
        status.show = 1;
        return;
    }
    page.pending = false;
}

void stpVolGetStatus(StepPage& page, Project& project, StepStatus& status) {
    int entryIndex = -1;
    int count = 0;
    int answer = prjCheckVoiceSettings(project, entryIndex, count);
    if (answer != 1 && answer != 2) answer = 0;
    page.pending = answer != 0;
    if (answer == 2) {
        const ProjectEntry* entry = prjGetEntry(project, entryIndex);
        status.state = kStatusUnfinished;
        status.text = prfFormatString(project.shell().languageString(kStrAllVoicesSilent),
                                      entry != nullptr ? fileNameOf(*entry) : std::string{});
        status.show = 1;
    } else if (answer == 1) {
        status.state = kStatusNote;
        status.text = prfFormatString(project.shell().languageString(kStrSomeVoicesSilent), std::to_string(count));
        status.show = 1;
    }
}

void stpTmpGetStatus(StepPage& page, Project& project, StepStatus& status) {
    if (!page.pending) return;
    StepPageHost* host = stpPageHost();
    if (const int busy = prjFindBusyEntry(project); busy != -1 && host != nullptr) {
        host->stopPlayback(*prjGetEntry(project, busy));
    }
    if (prjComputePlayTimes(project, host != nullptr ? host->playTimeProgress() : nullptr)) {
        page.pending = false;
        return;
    }
    status.state = kStatusUnfinished;
    status.stringId = kStrPlayTimesFailed;
    status.show = 1;
}

}  // namespace qvp3
