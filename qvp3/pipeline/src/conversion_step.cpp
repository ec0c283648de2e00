// The conversion steps' shared page block, run command, notifier and worker half.
#include <algorithm>
#include <system_error>
#include <utility>

#include "conversion_step_worker.h"
#include "platform/files.h"
#include "qvp3_pipeline/entry_player.h"
#include "qvp3_pipeline/sequencer.h"

namespace qvp3 {
namespace fs = std::filesystem;
namespace {

ConversionStepView& noView() {
    static ConversionStepView view;
    return view;
}

// Under the page's lock: asks the running worker to stop.
void requestCancel(ConversionStepPage& page) {
    page.cancelRequested = true;
    page.cancelWord.store(kEntryStopRequested);
    Project* project = page.runProject();
    if (project != nullptr && page.currentEntry >= 0 && page.currentEntry < project->fileNum()) {
        plyRequestStop(project->entries[static_cast<std::size_t>(page.currentEntry)], kEntryStopRequested);
    }
    if (page.worker != nullptr && !page.slotHoldsNotifier) page.worker->event.set();
}

// Takes the records of an ended run out of the page (under its lock).
void takeEnded(ConversionStepPage& page, std::unique_ptr<WorkerThreadRec>& notifier,
               std::unique_ptr<WorkerThreadRec>& worker) {
    notifier = std::move(page.worker);
    worker = std::move(page.finishedWorker);
    page.slotHoldsNotifier = false;
}

}  // namespace

std::string cnvStepText(Project& project, int id, const char* english) {
    std::string s = project.shell().languageString(id);
    return s.empty() ? std::string(english) : s;
}

bool cnvIsRegularFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(fs::symlink_status(path, ec));
}

void cnvRemoveRegularFile(const fs::path& path) {
    std::error_code ec;
    if (cnvIsRegularFile(path)) fs::remove(path, ec);
}

ConversionStepPage::ConversionStepPage(ConversionStepView* pageView, platform::MessageTarget* pageWindow)
    : view(pageView), window(pageWindow) {}

ConversionStepPageState ConversionStepPage::snapshot() const {
    std::lock_guard lock(mutex);
    return state;
}

bool ConversionStepPage::busy() const {
    std::lock_guard lock(mutex);
    return worker != nullptr || finishedWorker != nullptr;
}

ConversionStepRun cnvStepRun(ConversionStepPage& page, Project* project, const std::function<bool()>& chosen,
                             const std::function<void()>& adopt, WorkerRoutine routine,
                             platform::ThreadPriority priority, void* owner) {
    std::unique_ptr<WorkerThreadRec> notifier;
    std::unique_ptr<WorkerThreadRec> worker;
    {
        std::lock_guard lock(page.mutex);
        if (page.worker != nullptr && !page.slotHoldsNotifier && page.worker->running()) {
            requestCancel(page);
            return ConversionStepRun::Cancelling;
        }
        // The records of the last run, whose done message may not have been answered yet.
        takeEnded(page, notifier, worker);
    }
    stpFreeWorker(notifier);
    stpFreeWorker(worker);
    if (project == nullptr) return ConversionStepRun::NotStarted;
    if (!chosen()) {
        (page.view != nullptr ? *page.view : noView()).reportNothingToConvert();
        return ConversionStepRun::NothingToDo;
    }
    adopt();
    auto record = std::make_unique<WorkerThreadRec>();
    // The worker takes the page's lock before anything else, so it finds its
    // record in the slot.
    std::lock_guard lock(page.mutex);
    page.cancelRequested = false;
    page.cancelWord.store(0);
    page.currentEntry = -1;
    page.slotHoldsNotifier = false;
    if (stpStartWorker(record.get(), std::move(routine), true, priority, 0, owner) == nullptr) {
        return ConversionStepRun::NotStarted;
    }
    page.worker = std::move(record);
    return ConversionStepRun::Started;
}

void cnvStepWorkerDone(ConversionStepPage& page) {
    std::unique_ptr<WorkerThreadRec> notifier;
    std::unique_ptr<WorkerThreadRec> worker;
    {
        std::lock_guard lock(page.mutex);
        if (!page.slotHoldsNotifier) return;
        takeEnded(page, notifier, worker);
    }
    // Both threads have finished their work or are about to return.
    stpFreeWorker(notifier);
    stpFreeWorker(worker);
}

void cnvStepStop(ConversionStepPage& page) {
    std::unique_ptr<WorkerThreadRec> notifier;
    std::unique_ptr<WorkerThreadRec> worker;
    {
        std::lock_guard lock(page.mutex);
        page.closing = true;
        if (page.worker != nullptr && !page.slotHoldsNotifier) requestCancel(page);
        takeEnded(page, notifier, worker);
    }
    stpFreeWorker(notifier);
    stpFreeWorker(worker);
    std::lock_guard lock(page.mutex);
    page.closing = false;
    page.cancelRequested = false;
    page.cancelWord.store(0);
    page.currentEntry = -1;
}

void cnvStepNotify(ConversionStepPage& page) {
    {
        std::lock_guard lock(page.mutex);
        if (page.closing) return;
    }
    const bool timesKnown = page.runWorkerDone();
    {
        std::lock_guard lock(page.mutex);
        // A step that did not convert everything stays not complete, however the times came out.
        if (!timesKnown) page.state.notComplete = true;
        if (page.closing) return;
    }
    if (page.window != nullptr) page.window->post(platform::WM_STEP_WORKER_DONE, 0, 0);
}

// --- the worker's half ----------------------------------------------------------------

ConversionStepWorker::ConversionStepWorker(ConversionStepPage& page, WorkerThreadRec& record, Project& project,
                                           bool all, int rowImage)
    : page_(page), record_(record), project_(project), all_(all), rowImage_(rowImage) {}

ConversionStepView& ConversionStepWorker::view() {
    std::lock_guard lock(page_.mutex);
    return page_.view == nullptr || page_.closing ? noView() : *page_.view;
}

bool ConversionStepWorker::cancelRequested() const {
    std::lock_guard lock(page_.mutex);
    return page_.cancelRequested;
}

std::vector<int> ConversionStepWorker::chosenEntries(int count, const std::vector<int>& selected) const {
    std::vector<int> chosen;
    count = std::min(count, project_.fileNum());
    if (all_) {
        for (int i = 0; i < count; ++i) chosen.push_back(i);
        return chosen;
    }
    for (const int i : selected) {
        if (i >= 0 && i < count) chosen.push_back(i);
    }
    // The list's selected items, from the top.
    std::sort(chosen.begin(), chosen.end());
    chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
    return chosen;
}

bool ConversionStepWorker::isSourceFile(const fs::path& path) const {
    return std::any_of(project_.entries.begin(), project_.entries.end(), [&](const ProjectEntry& e) {
        return platform::isSameFile(path, e.Filename) ||
               (!e.FilenameOrig.empty() && platform::isSameFile(path, e.FilenameOrig));
    });
}

std::string ConversionStepWorker::sourceName(const ProjectEntry& entry) {
    const fs::path& source = entry.FilenameOrig.empty() ? entry.Filename : entry.FilenameOrig;
    return source.filename().string();
}

bool ConversionStepWorker::enter(int index) {
    std::lock_guard lock(page_.mutex);
    if (page_.cancelRequested) return false;
    page_.currentEntry = index;
    lastIndex_ = index;
    return true;
}

void ConversionStepWorker::disableUi(bool overwrite) {
    ConversionStepCheckBox convertAll;
    ConversionStepCheckBox overwriteBox;
    {
        std::lock_guard lock(page_.mutex);
        page_.state.convertAll = {all_, false};
        page_.state.overwrite = {overwrite, false};
        page_.state.listEnabled = false;
        convertAll = page_.state.convertAll;
        overwriteBox = page_.state.overwrite;
    }
    ConversionStepView& v = view();
    v.enableMainWindow(false);
    v.showCheckBoxes(convertAll, overwriteBox);
    v.enablePageList(false);
    v.showRunButton(kStrCancelButton, kImageCancelButton, kStrCancelMenu, false);
}

void ConversionStepWorker::clearRows() {
    {
        std::lock_guard lock(page_.mutex);
        page_.state.rows.clear();
    }
    showRows();
}

void ConversionStepWorker::setRow(int index, std::string rowText, bool select) {
    {
        std::lock_guard lock(page_.mutex);
        auto& rows = page_.state.rows;
        if (select) {
            for (ConversionStepRow& row : rows) row.selected = false;
        }
        auto at = std::find_if(rows.begin(), rows.end(), [index](const ConversionStepRow& r) { return r.entry >= index; });
        if (at == rows.end() || at->entry != index) at = rows.insert(at, ConversionStepRow{index, {}, rowImage_, false});
        at->text = std::move(rowText);
        at->image = rowImage_;
        if (select) at->selected = true;
    }
    showRows();
}

void ConversionStepWorker::removeRow(int index) {
    {
        std::lock_guard lock(page_.mutex);
        std::erase_if(page_.state.rows, [index](const ConversionStepRow& r) { return r.entry == index; });
    }
    showRows();
}

void ConversionStepWorker::showRows() {
    std::vector<ConversionStepRow> rows;
    {
        std::lock_guard lock(page_.mutex);
        rows = page_.state.rows;
    }
    view().showRows(rows);
}

void ConversionStepWorker::setTotalBar(int maximum) {
    {
        std::lock_guard lock(page_.mutex);
        page_.state.total = {maximum, 0};
        page_.state.file = {};
    }
    view().showProgress({maximum, 0}, {});
}

void ConversionStepWorker::setTotalPosition(int position) {
    ConversionStepBar total;
    ConversionStepBar file;
    {
        std::lock_guard lock(page_.mutex);
        page_.state.total.position = position;
        total = page_.state.total;
        file = page_.state.file;
    }
    view().showProgress(total, file);
}

void ConversionStepWorker::setFileBar(int maximum) {
    ConversionStepBar total;
    ConversionStepBar file;
    {
        std::lock_guard lock(page_.mutex);
        page_.state.file = {maximum, 0};
        lastPercent_ = 0;
        total = page_.state.total;
        file = page_.state.file;
    }
    view().showProgress(total, file);
}

void ConversionStepWorker::moveFileBar(std::int64_t position) {
    ConversionStepBar total;
    ConversionStepBar file;
    {
        std::lock_guard lock(page_.mutex);
        ConversionStepBar& bar = page_.state.file;
        if (bar.maximum <= 0) return;
        bar.position = static_cast<int>(std::clamp<std::int64_t>(position, 0, bar.maximum));
        // A render passes many positions a second.
        const int percent = static_cast<int>(std::int64_t{bar.position} * 100 / bar.maximum);
        if (percent == lastPercent_) return;
        lastPercent_ = percent;
        total = page_.state.total;
        file = bar;
    }
    view().showProgress(total, file);
}

bool ConversionStepWorker::releaseEntry() {
    ProjectEntry* last = lastIndex_ >= 0 && lastIndex_ < project_.fileNum()
                             ? &project_.entries[static_cast<std::size_t>(lastIndex_)]
                             : nullptr;
    std::lock_guard lock(page_.mutex);
    page_.currentEntry = -1;
    if (last != nullptr) plyRequestStop(*last, kEntryIdle);
    return page_.closing;
}

void ConversionStepWorker::setNotComplete(bool notComplete) {
    std::lock_guard lock(page_.mutex);
    page_.state.notComplete = notComplete;
}

void ConversionStepWorker::restoreUi(const ConversionStepCheckBox& convertAll, bool overwrite) {
    const ConversionStepCheckBox overwriteBox{overwrite, true};
    std::vector<ConversionStepRow> rows;
    {
        std::lock_guard lock(page_.mutex);
        ConversionStepPageState& st = page_.state;
        st.overwrite = overwriteBox;
        st.convertAll = convertAll;
        st.listEnabled = true;
        const int focus = all_ ? (st.rows.empty() ? -1 : st.rows.front().entry) : lastIndex_;
        for (ConversionStepRow& row : st.rows) row.selected = row.entry == focus;
        st.total = {};
        st.file = {};
        rows = st.rows;
    }
    prjMarkStepDirty(project_);
    ConversionStepView& v = view();
    v.enableMainWindow(true);
    v.showCheckBoxes(convertAll, overwriteBox);
    v.enablePageList(true);
    v.showRows(rows);
    v.showRunButton(kStrRunButton, kImageRunButton, kStrRunMenu, !rows.empty());
    v.showProgress({}, {});
    v.stepEnded();
}

// This record waits in the page to be freed with the notifier's. While the
// page closes, the closer waits for this thread and there is nobody to notify.
void ConversionStepWorker::handOver(WorkerRoutine notifierRoutine, void* owner) {
    std::lock_guard lock(page_.mutex);
    if (page_.closing || page_.worker.get() != &record_) return;
    auto notifier = std::make_unique<WorkerThreadRec>();
    if (stpStartWorker(notifier.get(), std::move(notifierRoutine), true, platform::ThreadPriority::BelowNormal, 0,
                       owner) == nullptr) {
        // Without a notifier the page still hears of the end; its answer frees this record.
        page_.slotHoldsNotifier = true;
        if (page_.window != nullptr) page_.window->post(platform::WM_STEP_WORKER_DONE, 0, 0);
        return;
    }
    page_.finishedWorker = std::move(page_.worker);
    page_.worker = std::move(notifier);
    page_.slotHoldsNotifier = true;
}

void ConversionStepWorker::pauseAfterFile(std::chrono::milliseconds pause) {
    if (pause.count() > 0) record_.event.wait(pause);
}

}  // namespace qvp3
