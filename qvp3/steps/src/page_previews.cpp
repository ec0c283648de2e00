// The metronome page's preview and the up-down handlers of the metronome and
// tune-up pages.
#include <QWidget>

#include <algorithm>

#include "qvp3_steps/page_workers.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/controls.h"

namespace qvp3 {

namespace {

void afterPreviewChange(StepPage& page, StepPageHost& host) {
    host.flipToggleMenuCheck();
    if (page.enableControls) page.enableControls(page, true);
    if (page.window != nullptr) page.window->update();
}

// An edit on a page: the step is changed, and the commands follow.
void stepEdited(StepPageHost& host) {
    prjMarkStepDirty(host.project());
    host.refreshCommands();
}

}  // namespace

void stpStopPreview(StepPage& page) {
    auto* data = stpData<PreviewData>(page);
    if (data == nullptr || !data->preview) return;
    data->preview->event.set();  // the thread leaves its beat loop
    stpFreeWorker(data->preview);
    data->previewOut.reset();
}

bool stpStartPreviewThread(StepPage& page) {
    StepPageHost* host = stpPageHost();
    auto* data = stpData<PreviewData>(page);
    if (host == nullptr || data == nullptr || static_cast<int>(page.category) != kStepMet) return true;
    Project& project = host->project();
    if (prjGetEntry(project, -1) == nullptr || prjFindBusyEntry(project) != -1) return true;
    if (data->preview) {
        stpStopPreview(page);
        afterPreviewChange(page, *host);
        return true;
    }
    data->previewOut = host->openPreviewOutput();
    if (!data->previewOut) return false;
    data->previewPage.project = &project;
    data->previewPage.midiOut = data->previewOut.get();
    auto record = std::make_unique<WorkerThreadRec>();
    if (stpStartWorker(record.get(), plyMetronomePreviewThreadProc, false, platform::ThreadPriority::AboveNormal, 0,
                       &data->previewPage) != nullptr) {
        stpResumeWorker(*record);
        data->preview = std::move(record);
    } else {
        data->previewOut.reset();
    }
    afterPreviewChange(page, *host);
    return true;
}

StepPage::Result stpEinOnVScroll(StepPage&, QWidget* upDown, int code, int position) {
    StepPageHost* host = stpPageHost();
    ProjectEntry* entry = host != nullptr ? prjGetEntry(host->project(), -1) : nullptr;
    if (entry == nullptr || code == kScrollEnd || upDown == nullptr) return 0;
    if (qvp3ui::controlId(*upDown) != kEinDurationUpDown) return 0;
    entry->tuneUp.Duration = std::max(position, 0) * 100;
    stepEdited(*host);
    return 0;
}

StepPage::Result stpMetOnVScroll(StepPage&, QWidget* upDown, int code, int position) {
    StepPageHost* host = stpPageHost();
    ProjectEntry* entry = host != nullptr ? prjGetEntry(host->project(), -1) : nullptr;
    if (entry == nullptr || code == kScrollEnd || upDown == nullptr) return 0;
    const int id = qvp3ui::controlId(*upDown);
    if (id == kMetCountInUpDown) {
        entry->metronome.CountIn = std::max(position, 0);
    } else if (id == kMetVelocityUpDown) {
        // The second up-down shows the velocity: that is what it changes.
        entry->metronome.Velocity = static_cast<std::uint8_t>(std::clamp(position, 0, 127));
    } else {
        return 0;
    }
    stepEdited(*host);
    return 0;
}

}  // namespace qvp3
