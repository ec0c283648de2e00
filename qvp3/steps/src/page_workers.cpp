#include "qvp3_steps/page_workers.h"

#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_project/step_changes.h"

namespace qvp3 {

namespace {

bool entryBusy(StepPageHost& host) {
    const ProjectEntry* entry = prjGetEntry(host.project(), -1);
    return entry != nullptr && entry->isBusy();
}

// The pipeline's run command cancels a running job whatever the setup; a
// setup the host cannot give (no project) starts nothing.
template <class Setup>
Setup orEmpty(std::optional<Setup> setup) {
    return setup ? std::move(*setup) : Setup{};
}

void runCleanUp(StepPage& page, StepPageHost& host) {
    Project& project = host.project();
    ShellServices& shell = project.shell();
    if (stpPageBoxChecked(page, kClnMp3Box)) shell.appDeleteConvertedFiles("mp3", project.mp3Folder);
    const bool midi = stpPageBoxChecked(page, kClnMidiBox);
    const bool wave = stpPageBoxChecked(page, kClnWaveBox);
    if (!midi && !wave) return;
    if (shell.appQuestionBox(kStrCleanQuestion, kMbYesNo) != kIdYes) return;
    const std::filesystem::path folder = project.data.ProjectFolder;
    if (midi) shell.appDeleteConvertedFiles("mid", folder);
    if (wave) shell.appDeleteConvertedFiles("wav", folder);
    host.sendCommand(kCmdCloseFiles);
    shell.appTextBox(shell.languageString(kStrCleanDone), kBoxInformation, kMbOk);
}

void runSoundConfiguration(StepPageHost& host) {
    ProjectEntry* entry = prjGetEntry(host.project(), -1);
    if (entry == nullptr || entry->MWConversionMethod != 1 || !host.isSampleLibrarySampler(*entry)) return;
    const int result = host.loadSampleLibraryInstrument(*entry);
    if (result != 0 && result != 2) {
        ShellServices& shell = host.project().shell();
        shell.appTextBox(shell.languageString(kStrLoadInstrumentFailed), kBoxWarning, kMbOk);
    }
}

}  // namespace

void cnvWorkerDoneThreadProc(WorkerThreadRec& record, StepPage& page, platform::MessageTarget* target) {
    if (StepPageHost* host = stpPageHost()) host->stepWorkerDone(page);
    // A page hidden meanwhile has asked the notifier to stop: it waits for
    // this thread and needs no message.
    if (record.stopRequested() || target == nullptr) return;
    target->post(platform::WM_STEP_WORKER_DONE, 0, 0);
}

StepPage::Result stpStartNotifier(StepPage& page) {
    StepPageHost* host = stpPageHost();
    if (host == nullptr) return 1;
    host->layoutProfileBar(page, stpPageFillProfileList(page) ? kProfileBarEnabled : kProfileBarEmpty);
    if (entryBusy(*host)) return 1;
    auto* block = stpData<StepDataBlock>(page);
    if (block == nullptr) return 1;
    stpFreeWorker(block->worker);  // a notifier of an earlier show that has not reported yet
    auto record = std::make_unique<WorkerThreadRec>();
    platform::MessageTarget* target = block->target;
    StepPage* owner = &page;
    if (stpStartWorker(record.get(), [owner, target](WorkerThreadRec& r) { cnvWorkerDoneThreadProc(r, *owner, target); },
                       false, platform::ThreadPriority::BelowNormal, 0, owner) != nullptr) {
        stpResumeWorker(*record);
        block->worker = std::move(record);
    }
    host->refreshFileList();
    return 1;
}

void stpStopNotifier(StepPage& page) {
    auto* block = stpData<StepDataBlock>(page);
    if (block == nullptr || !block->worker) return;
    stpKillWorker(block->worker.get());
    stpFreeWorker(block->worker);
}

StepPage::Result stpFrameworkOnShow(StepPage& page, bool shown) {
    const StepInfo* info = stpStepInfo(static_cast<int>(page.category));
    if (!shown) {
        stpStopNotifier(page);
        stpStopPreview(page);
        return 1;
    }
    if (info != nullptr && info->startsNotifier) return stpStartNotifier(page);
    if (StepPageHost* host = stpPageHost()) {
        host->layoutProfileBar(page, stpPageFillProfileList(page) ? kProfileBarEnabled : kProfileBarEmpty);
    }
    return 1;
}

void stpPageStopWorker(StepPage& page) {
    if (auto* mdc = stpData<MdcData>(page)) {
        cnvMidiStepWorkerDone(mdc->job);
    } else if (auto* wvc = stpData<WvcData>(page)) {
        cnvWaveStepWorkerDone(wvc->job);
    } else if (auto* brn = stpData<BrnData>(page)) {
        cnvExportStepWorkerDone(brn->job);
    } else if (auto* block = stpData<StepDataBlock>(page)) {
        stpFreeWorker(block->worker);
    }
    const int category = static_cast<int>(page.category);
    if (category == kStepMdc || category == kStepWvc || category == kStepBrn) {
        stpEnableToolbarButton(page, kCmdRun, true);
    }
    if (category == kStepTpp || category == kStepDyn) {
        StepPageHost* host = stpPageHost();
        StepPage* tpp = host != nullptr ? stpGetPage(host->project(), kStepTpp) : &page;
        if (tpp == nullptr) return;
        if (auto* data = stpData<TppData>(*tpp)) data->changed = false;
        if (category == kStepTpp) stpRepaintTppStatus(page);
    }
}

void stpRunStep(StepPage& page) {
    StepPageHost* host = stpPageHost();
    if (host == nullptr) return;
    switch (static_cast<int>(page.category)) {
    case kStepMdc:
        if (auto* mdc = stpData<MdcData>(page)) cnvMidiStepRun(mdc->job, orEmpty(host->midiStepSetup()));
        break;
    case kStepWvc:
        if (auto* wvc = stpData<WvcData>(page)) cnvWaveStepRun(wvc->job, orEmpty(host->waveStepSetup()));
        break;
    case kStepBrn:
        if (auto* brn = stpData<BrnData>(page)) cnvExportStepRun(brn->job, orEmpty(host->exportStepSetup()));
        break;
    case kStepCln: runCleanUp(page, *host); break;
    case kStepPwc: runSoundConfiguration(*host); break;
    default: break;
    }
}

}  // namespace qvp3
