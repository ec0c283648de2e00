// The export step's worker, its report, its completion notifier and the run
// command of its page.
#include "qvp3_pipeline/export_step.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "conversion_step_worker.h"
#include "export_step_support.h"
#include "qvp3_pipeline/midi_step.h"
#include "qvp3_pipeline/mp3_export.h"
#include "qvp3_pipeline/sequencer.h"
#include "qvp3_project/profile_file.h"

namespace qvp3 {
namespace fs = std::filesystem;
namespace {

ExportStepView& silentView() {
    static ExportStepView view;
    return view;
}

// The cause the last warning names for a result of the burn; other results have said all in their status line.
struct Cause {
    int code;
    int stringId;
    const char* english;
};
constexpr Cause kCauses[] = {
    {kCdCancelled, kStrExportCancelled, "the export was cancelled"},
    {kCdWriteFailed, kStrCdWriteFailedCause, "the disc could not be written"},
};

bool isCancel(int result) {
    return result == kCdCancelled || result == kCnvQuestionCancelled || result == kMp3SkipFile ||
           result == kMp3StopRun;
}

// The worker of one run; the MP3 export moves the page's bars and list through it.
class StepWorker : ConversionStepWorker, public Mp3ExportView {
public:
    StepWorker(ExportStepPage& page, WorkerThreadRec& record)
        : ConversionStepWorker(page, record, *page.setup.project, true, 0), page_(page) {}

    void run();

    // Mp3ExportView: the per-file bar, the total bar, the list and the question.
    void setRange(std::uint32_t maximum) override {
        setFileBar(static_cast<int>(std::min<std::uint32_t>(maximum, INT32_MAX)));
    }
    void setPosition(std::uint32_t position) override { moveFileBar(position); }
    void showTotal(int position, int maximum) override;
    void addStatusLine(std::string_view text, bool replaceLast) override {
        cnvExportLine(page_, text, replaceLast);
    }
    int askOverwrite(const fs::path& mp3File, std::string_view question) override {
        return cnvExportView(page_).askOverwrite(mp3File, question);
    }

private:
    int burn();
    void report(int result);
    void warn(std::string_view text);
    void endBurn();

    ExportStepPage& page_;
    int totalMaximum_ = -1;
};

void StepWorker::run() {
    disableUi(false);
    cnvExportView(page_).clearStatusList();
    int result = kCdCancelled;
    // The first entry's state is the cancel word.
    if (enter(0)) {
        result = project_.burnMethod == kBurnMethodMp3 ? cnvExportMp3Files(project_, *this, page_.setup.mp3Library)
                                                       : burn();
    }
    releaseEntry();
    {
        std::lock_guard lock(page_.mutex);
        page_.result = result;
    }
    restoreUi({true, false}, false);
    handOver(cnvExportWorkerDoneThreadProc, &page_);
}

void StepWorker::showTotal(int position, int maximum) {
    if (maximum != totalMaximum_) {
        totalMaximum_ = maximum;
        setTotalBar(maximum);
    }
    setTotalPosition(position);
}

int StepWorker::burn() {
    CDiscWriterLib* const lib = page_.setup.discWriter;
    int result = lib != nullptr && lib->setUp ? BurnAudioCd(page_) : kCdOpenDriveFailed;
    if (result == kCdOpenDriveFailed && (lib == nullptr || !lib->setUp)) {
        cnvExportLine(page_, kStrCdOpenFailed, "The CD recorder could not be opened.");
    }
    report(result);
    if (lib != nullptr) {
        // Ends the drive's use whatever ended the burn.
        if (project_.openTray != 0 && lib->burnDriveOpen >= 0) lib->cdEject();
        if (lib->burnDriveOpen >= 0) lib->cdCloseDrive();
        lib->burnDriveOpen = -1;
        lib->cdSetCancel(0);
        // The page may go before the library: it hears nothing more of it.
        lib->cdSetEventWindow(nullptr);
    }
    return result;
}

bool pageClosing(ExportStepPage& page) {
    std::lock_guard lock(page.mutex);
    return page.closing;
}

void StepWorker::report(int result) {
    const bool cancelled = cnvExportCancelled(page_) || isCancel(result);
    if (!cancelled && (result == 0 || result == kMp3SuccessVariant)) {
        cnvExportLine(page_, kStrCdDone, "The CD has been written.");
        return;
    }
    // Nobody is there to answer a box while the page closes.
    const bool boxes = !pageClosing(page_);
    int code = result;
    if (cancelled) {
        cnvExportLine(page_, kStrCdCancelled, "The CD writing was cancelled.");
        if (boxes) {
            project_.shell().appTextBox(cnvExportText(page_, kStrCdCancelledBox, "The CD writing was cancelled."),
                                        kBoxInformation, kMbOk);
        }
        code = kCdCancelled;
    } else {
        cnvExportLine(page_, kStrCdFailed, "Writing the CD failed.");
        if (boxes) {
            warn(prfFormatString(cnvExportText(page_, kStrCdFailedCode, "Writing the CD failed (error %i)."),
                                 std::to_string(result)));
        }
    }
    const auto c = std::find_if(std::begin(kCauses), std::end(kCauses), [&](const Cause& k) { return k.code == code; });
    if (!boxes || c == std::end(kCauses)) return;
    std::string cause = cnvExportText(page_, c->stringId, c->english);
    // The disc writer's own words name what it refused, such as a file that is not CD audio.
    const std::string why = code == kCdWriteFailed ? std::string(page_.setup.discWriter->cdGetLastErrorText()) : "";
    if (!why.empty()) cause += ": " + why;
    warn(prfFormatString(cnvExportText(page_, kStrExportWarning, "The export did not finish:\n%s"), cause));
}

void StepWorker::warn(std::string_view text) { project_.shell().appTextBox(text, kBoxWarning, kMbOk); }

}  // namespace

ExportStepView& cnvExportView(ExportStepPage& page) {
    std::lock_guard lock(page.mutex);
    return page.exportView == nullptr || page.closing ? silentView() : *page.exportView;
}

std::string cnvExportText(ExportStepPage& page, int id, const char* english) {
    return cnvStepText(*page.setup.project, id, english);
}

void cnvExportLine(ExportStepPage& page, std::string_view text, bool replaceLast) {
    cnvExportView(page).addStatusLine(text, replaceLast);
}

void cnvExportLine(ExportStepPage& page, int id, const char* english, bool replaceLast) {
    cnvExportLine(page, cnvExportText(page, id, english), replaceLast);
}

bool cnvExportCancelled(ExportStepPage& page) {
    if (page.cancelWord.load() == kEntryStopRequested) return true;
    Project* const project = page.setup.project;
    return project != nullptr && project->fileNum() > 0 &&
           plyEntryState(project->entries.front()) == kEntryStopRequested;
}

bool cnvExportWait(ExportStepPage& page, std::chrono::milliseconds wait) {
    if (cnvExportCancelled(page)) return false;
    if (wait.count() > 0) {
        WorkerThreadRec* record = nullptr;
        {
            std::lock_guard lock(page.mutex);
            if (!page.slotHoldsNotifier) record = page.worker.get();
        }
        // The run command's cancel sets the worker's event.
        if (record != nullptr) {
            record->event.wait(wait);
        } else {
            std::this_thread::sleep_for(wait);
        }
    }
    return !cnvExportCancelled(page);
}

void cnvExportResetBars(ExportStepPage& page, int totalMaximum) {
    {
        std::lock_guard lock(page.mutex);
        page.state.total = {totalMaximum, 0};
        page.state.file = {};
    }
    cnvExportView(page).showProgress({totalMaximum, 0}, {});
}

ExportStepPage::ExportStepPage(ExportStepView* pageView, platform::MessageTarget* pageWindow)
    : ConversionStepPage(pageView, pageWindow), exportView(pageView) {}

ExportStepPage::~ExportStepPage() { cnvExportStepStop(*this); }

ConversionStepRun cnvExportStepRun(ExportStepPage& page, ExportStepSetup setup) {
    Project* const project = setup.project;
    const auto chosen = [&] { return project->fileNum() > 0 && project->convertedWaveCount > 0; };
    const ConversionStepRun run = cnvStepRun(page, project, chosen, [&] { page.setup = std::move(setup); },
                                             cnvExportStepThreadProc, platform::ThreadPriority::Normal, &page);
    // A write or a wait for the medium inside the disc writer hears of the cancel too.
    if (run == ConversionStepRun::Cancelling && page.setup.discWriter != nullptr) page.setup.discWriter->cdSetCancel(1);
    return run;
}

void cnvExportStepWorkerDone(ExportStepPage& page) { cnvStepWorkerDone(page); }

void cnvExportStepStop(ExportStepPage& page) {
    {
        std::lock_guard lock(page.mutex);
        const bool running = page.worker != nullptr && !page.slotHoldsNotifier;
        if (running && page.setup.discWriter != nullptr) page.setup.discWriter->cdSetCancel(1);
    }
    cnvStepStop(page);
}

void cnvExportStepThreadProc(WorkerThreadRec& record) { cnvRunStepWorker<StepWorker, ExportStepPage>(record); }

void cnvExportWorkerDoneThreadProc(WorkerThreadRec& record) {
    auto* page = static_cast<ExportStepPage*>(record.owner);
    if (page != nullptr) cnvStepNotify(*page);
}

}  // namespace qvp3
