// The MIDI conversion step's worker, its completion notifier and the run
// command of its page.
#include "qvp3_pipeline/midi_step.h"

#include <algorithm>
#include <string_view>
#include <system_error>
#include <utility>

#include "qvp3_pipeline/entry_player.h"
#include "qvp3_pipeline/midi_read.h"
#include "qvp3_pipeline/midi_write.h"
#include "qvp3_pipeline/sequencer.h"
#include "qvp3_project/profile_file.h"
#include "qvp3_project/project_folder.h"

namespace qvp3 {
namespace fs = std::filesystem;
namespace {

// Entry points of the score engine the render uses.
constexpr int kEngineSelectTable = 178;
constexpr int kEngineReadSwitches = 168;
constexpr int kEngineInstrumentTables = 7;
constexpr int kEngineProgressWindow = 136;
constexpr int kEngineRender = 179;

constexpr const char* kDefaultOutputName = "Default";
constexpr const char* kDefaultOutputTable = "Microsoft MIDI Mapper";

// The cause a warning names for a result: a language string and its English text.
struct Cause {
    int code;
    int stringId;
    const char* english;
};
constexpr Cause kCauses[] = {
    {kCnvCancelled, kStrMidiStepCancelled, "the conversion was cancelled"},
    {kCnvEngineFailed, kStrEngineRenderFailed, "the score engine could not render the score"},
    {kCnvConversionFailed, kStrConversionFailed, "the conversion failed"},
    {kMidiCannotCreate, kStrCannotCreateFile, "the converted file could not be created"},
    {kMidiCannotOpen, kStrCannotOpenTemporary, "a file could not be opened"},
    {kMidiWriteError, kStrShortWrite, "the converted file could not be written completely"},
};

MidiStepView& noView() {
    static MidiStepView view;
    return view;
}

std::string text(Project& project, int id, const char* english) {
    std::string s = project.shell().languageString(id);
    return s.empty() ? std::string(english) : s;
}

std::string causeText(Project& project, int code) {
    for (const Cause& c : kCauses) {
        if (c.code == code) return text(project, c.stringId, c.english);
    }
    return text(project, kStrConversionFailed, "the conversion failed") + " (" + std::to_string(code) + ")";
}

bool isRegularFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(fs::symlink_status(path, ec));
}

// A file, never a folder: a folder standing at the converted file's place is not ours.
void removeFile(const fs::path& path) {
    std::error_code ec;
    if (isRegularFile(path)) fs::remove(path, ec);
}

// Under the page's lock: asks the running worker to stop.
void requestCancel(MidiStepPage& page) {
    page.cancelRequested = true;
    Project* project = page.setup.project;
    if (project != nullptr && page.currentEntry >= 0 && page.currentEntry < project->fileNum()) {
        plyRequestStop(project->entries[static_cast<std::size_t>(page.currentEntry)], kEntryStopRequested);
    }
    if (page.worker != nullptr && !page.slotHoldsNotifier) page.worker->event.set();
}

// The worker of one run.
class StepWorker {
public:
    StepWorker(MidiStepPage& page, WorkerThreadRec& record)
        : page_(page), record_(record), s_(page.setup), project_(*page.setup.project) {}

    void run();
    // The export's progress (milliseconds of music written).
    void moveFileBar(std::int32_t ms);

private:
    enum class Outcome { Converted, Kept, Cancelled, QuestionCancelled, Failed };
    struct Failure {
        std::string file;
        int code;
    };

    MidiStepView& view() {
        std::lock_guard lock(page_.mutex);
        return page_.view == nullptr || page_.closing ? noView() : *page_.view;
    }
    bool cancelRequested() const {
        std::lock_guard lock(page_.mutex);
        return page_.cancelRequested;
    }
    std::vector<int> chosenEntries() const;
    bool isSourceFile(const fs::path& path) const;
    bool enter(int index);
    void start();
    Outcome convert(int index);
    int exportMidi(ProjectEntry& entry);
    int renderScore(ProjectEntry& entry, const fs::path& target);
    std::string tableName(const ProjectEntry& entry) const;
    void converted(int index, ProjectEntry& entry, const fs::path& target);
    Outcome failed(int index, ProjectEntry& entry, int code, const fs::path& target);
    void finish();
    void warn();
    void restoreUi();
    void handOver();

    void setRow(int index, std::string text, bool select);
    void removeRow(int index);
    void showRows();
    void setFileBar(int maximum);
    void setTotalPosition(int position);
    static std::string sourceName(const ProjectEntry& entry);

    MidiStepPage& page_;
    WorkerThreadRec& record_;
    const MidiStepSetup& s_;
    Project& project_;
    bool all_ = true;
    int lastIndex_ = -1;
    int lastPercent_ = -1;
    bool cancelled_ = false;
    bool questionCancelled_ = false;
    std::vector<Failure> failures_;
};

// The export's position on the per-file bar.
class ExportProgress : public PlayerView {
public:
    explicit ExportProgress(StepWorker& worker) : worker_(worker) {}
    void setPositionRange(std::int32_t) override {}
    void showPosition(std::int32_t ms, std::int32_t, std::int32_t) override { worker_.moveFileBar(ms); }
    void showTempo(double) override {}

private:
    StepWorker& worker_;
};

void StepWorker::run() {
    all_ = project_.midiConvertAll != 0;
    start();
    const std::vector<int> chosen = chosenEntries();
    {
        std::lock_guard lock(page_.mutex);
        page_.state.total = {static_cast<int>(chosen.size()), 0};
        page_.state.file = {};
    }
    view().showProgress({static_cast<int>(chosen.size()), 0}, {});
    for (std::size_t k = 0; k < chosen.size(); ++k) {
        if (!enter(chosen[k])) {
            cancelled_ = true;
            break;
        }
        setTotalPosition(static_cast<int>(k) + 1);
        const Outcome outcome = convert(chosen[k]);
        if (outcome == Outcome::QuestionCancelled) {
            questionCancelled_ = true;
            break;
        }
        // A cancel that came while the last entry was converted leaves nothing undone.
        if (outcome == Outcome::Cancelled || (cancelRequested() && k + 1 < chosen.size())) {
            cancelled_ = true;
            break;
        }
    }
    finish();
    restoreUi();
    handOver();
}

std::vector<int> StepWorker::chosenEntries() const {
    std::vector<int> chosen;
    const int files = project_.fileNum();
    if (all_) {
        for (int i = 0; i < files; ++i) chosen.push_back(i);
        return chosen;
    }
    for (const int i : s_.selected) {
        if (i >= 0 && i < files) chosen.push_back(i);
    }
    // The main list's selected items, from the top.
    std::sort(chosen.begin(), chosen.end());
    chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
    return chosen;
}

// A source named like another's converted file ("a_qvpcnv.mid" beside "a.mid")
// is never written over.
bool StepWorker::isSourceFile(const fs::path& path) const {
    return std::any_of(project_.entries.begin(), project_.entries.end(), [&](const ProjectEntry& e) {
        return platform::isSameFile(path, e.Filename) ||
               (!e.FilenameOrig.empty() && platform::isSameFile(path, e.FilenameOrig));
    });
}

// Publishes the entry as the one the run command cancels; false when a
// cancel came first.
bool StepWorker::enter(int index) {
    std::lock_guard lock(page_.mutex);
    if (page_.cancelRequested) return false;
    page_.currentEntry = index;
    lastIndex_ = index;
    return true;
}

void StepWorker::start() {
    MidiStepCheckBox convertAll;
    MidiStepCheckBox overwrite;
    {
        std::lock_guard lock(page_.mutex);
        page_.state.convertAll = {all_, false};
        page_.state.overwrite = {project_.midiOverwrite != 0, false};
        page_.state.listEnabled = false;
        convertAll = page_.state.convertAll;
        overwrite = page_.state.overwrite;
    }
    MidiStepView& v = view();
    v.enableMainWindow(false);
    v.showCheckBoxes(convertAll, overwrite);
    v.enablePageList(false);
    v.showRunButton(kStrCancelButton, kImageCancelButton, kStrCancelMenu, false);
    if (all_ && (project_.midiOverwrite != 0 || project_.convertedMidiCount != project_.fileNum())) {
        project_.convertedMidiCount = 0;
        {
            std::lock_guard lock(page_.mutex);
            page_.state.rows.clear();
        }
        showRows();
    }
}

StepWorker::Outcome StepWorker::convert(int index) {
    ProjectEntry& entry = project_.entries[static_cast<std::size_t>(index)];
    fs::path target;
    if (!prjConvertedMidiPath(project_, index, &target)) return failed(index, entry, kMidiCannotCreate, {});
    if (isSourceFile(target)) return failed(index, entry, kMidiCannotCreate, {});
    entry.convertedMidiPath = target;
    const bool existed = isRegularFile(target);
    // The earlier file is replaced only once its successor is complete, so
    // neither answer deletes anything here.
    if (existed && project_.midiOverwrite == 0) {
        if (cancelRequested()) return Outcome::Cancelled;
        const std::string question =
            prfFormatString(text(project_, kStrOverwriteQuestion, "The file %s exists already. Replace it?"),
                            target.filename().string());
        const int answer = project_.shell().appTextBox(question, kBoxQuestion, kMbYesNoCancel);
        if (answer == kIdCancel) return Outcome::QuestionCancelled;
        if (answer != kIdYes) {
            converted(index, entry, target);
            return Outcome::Kept;
        }
    }
    setRow(index, prfFormatString(text(project_, kStrConvertingRow, "Converting %s ..."),
                                  cnvConvertedMidiDisplayName(target)),
           true);
    int result = kCnvConversionFailed;
    if (entry.kind == EntryKind::Midi) {
        result = exportMidi(entry);
    } else if (isScoreKind(entry.kind)) {
        result = renderScore(entry, target);
    }
    if (result == kCnvCancelled) {
        if (isRegularFile(target)) {
            setRow(index, cnvConvertedMidiDisplayName(target), false);
        } else {
            entry.convertedMidiPath.clear();
            removeRow(index);
        }
        return Outcome::Cancelled;
    }
    if (result != 0 && result != kCnvConvertedVariant) return failed(index, entry, result, target);
    if (entry.MWConversionMethod == 1 && entry.samplerIndex >= 0) {
        // The WAV step loads the sample player again for the new file.
        project_.audio().clearInstrumentUse(entry.samplerIndex);
    }
    converted(index, entry, target);
    if (s_.pauseAfterFile.count() > 0) record_.event.wait(s_.pauseAfterFile);
    return Outcome::Converted;
}

int StepWorker::exportMidi(ProjectEntry& entry) {
    EntryPlayer& player = plyEntryPlayer(entry);
    setFileBar(std::max(entry.durationMs, 0));
    ExportProgress progress(*this);
    PlayerView* const shown = player.view;
    player.view = &progress;
    const int result = plyExportMidiEntry(entry, static_cast<std::uint32_t>(project_.playFeatures));
    player.view = shown;
    return result;
}

void StepWorker::moveFileBar(std::int32_t ms) {
    MidiStepBar total;
    MidiStepBar file;
    {
        std::lock_guard lock(page_.mutex);
        MidiStepBar& bar = page_.state.file;
        if (bar.maximum <= 0) return;
        bar.position = std::clamp<int>(ms, 0, bar.maximum);
        // The view hears of whole percents only: an export passes many positions a second.
        const int percent = static_cast<int>(std::int64_t{bar.position} * 100 / bar.maximum);
        if (percent == lastPercent_) return;
        lastPercent_ = percent;
        total = page_.state.total;
        file = bar;
    }
    view().showProgress(total, file);
}

std::string StepWorker::tableName(const ProjectEntry& entry) const {
    if (s_.sampleLibraryFound && entry.ConvertForQvo != 0) return kSampleLibraryTable;
    const std::string& name = s_.midiOutputName;
    return "MIDI: " + (name.empty() || name == kDefaultOutputName ? std::string(kDefaultOutputTable) : name);
}

int StepWorker::renderScore(ProjectEntry& entry, const fs::path& target) {
    if (s_.engine == nullptr || s_.playback == nullptr) return kCnvEngineFailed;
    CTavtuneLib& engine = *s_.engine;
    const std::string table = tableName(entry);
    if (engine.call(kEngineSelectTable, table.c_str()) != 0) return kCnvEngineFailed;
    // Switches the engine did not take would render the score without the user's interpretation.
    if (engine.PutSections(entry.tuneSections) != 0) return kCnvEngineFailed;
    if (const int r = s_.playback->plyPrepareEntry(entry, true); r < 0) return r;
    s_.playback->plyApplyVoiceSettings(entry);
    const std::string tables = (s_.programFolder / "tavtune" / "MidiTabDef.ini").string();
    if (engine.call(kEngineReadSwitches, kEngineInstrumentTables, tables.c_str(), 0) != 0) return kCnvEngineFailed;
    engine.call(kEngineProgressWindow, s_.mainWindow, platform::WM_ENGINE_PROGRESS, 0);
    setFileBar(100);

    std::error_code ec;
    const fs::path folder = s_.tempFolder.empty() ? fs::temp_directory_path(ec) : s_.tempFolder;
    const platform::ScopedTempFile render(folder, "qvp");
    if (!render.made()) return kMidiCannotCreate;
    const std::string path = render.path().string();
    engine.SetOption(TAVTUNE_OPTION_RENDERING, true);
    const tvWord rendered = engine.call(kEngineRender, path.c_str());
    engine.SetOption(TAVTUNE_OPTION_RENDERING, false);
    if (rendered < 0) return kCnvEngineFailed;
    // The engine's render cannot be interrupted: a cancel during it drops
    // the render instead of writing it.
    if (cancelRequested()) return kCnvCancelled;
    return midiSplitAndWrite(render.path(), target);
}

// The entry's converted file is in place (new, or kept at the user's word).
void StepWorker::converted(int index, ProjectEntry& entry, const fs::path& target) {
    ProjectEntry written;
    written.Filename = target;
    entry.convertedMidiMs = cnvReadMidiEntry(written) == 0 && written.durationMs > 0 ? written.durationMs : 0;
    // The count covers the entries from the first on that all have their file.
    if (all_ && project_.convertedMidiCount == index && index < project_.fileNum()) ++project_.convertedMidiCount;
    setRow(index, cnvConvertedMidiDisplayName(target), false);
}

StepWorker::Outcome StepWorker::failed(int index, ProjectEntry& entry, int code, const fs::path& target) {
    // Only this entry's file goes: an older file would no longer match its settings.
    if (!target.empty()) removeFile(target);
    entry.convertedMidiPath.clear();
    entry.convertedMidiMs = 0;
    project_.convertedMidiCount = std::min(project_.convertedMidiCount, index);
    removeRow(index);
    failures_.push_back({sourceName(entry), code});
    return Outcome::Failed;
}

std::string StepWorker::sourceName(const ProjectEntry& entry) {
    const fs::path& source = entry.FilenameOrig.empty() ? entry.Filename : entry.FilenameOrig;
    return source.filename().string();
}

void StepWorker::finish() {
    ProjectEntry* last = lastIndex_ >= 0 && lastIndex_ < project_.fileNum()
                             ? &project_.entries[static_cast<std::size_t>(lastIndex_)]
                             : nullptr;
    bool closing = false;
    {
        std::lock_guard lock(page_.mutex);
        page_.currentEntry = -1;
        if (last != nullptr) plyRequestStop(*last, kEntryIdle);
        closing = page_.closing;
    }
    const bool complete = failures_.empty() && !cancelled_ && !questionCancelled_;
    if (complete) {
        if (all_ || project_.fileNum() == 1) project_.dirty = 0;
        project_.dirty |= kDirtyMidiDone;
    } else {
        project_.dirty &= ~kDirtyMidiDone;
    }
    {
        std::lock_guard lock(page_.mutex);
        page_.state.notComplete = !complete;
    }
    // Cancel in the overwrite question is the user's own choice: no warning.
    if (!closing && (!failures_.empty() || cancelled_)) warn();
}

void StepWorker::warn() {
    std::string causes;
    for (const Failure& f : failures_) {
        if (!causes.empty()) causes += '\n';
        causes += f.file + ": " + causeText(project_, f.code);
    }
    if (cancelled_) {
        if (!causes.empty()) causes += '\n';
        causes += causeText(project_, kCnvCancelled);
    }
    const std::string warning =
        prfFormatString(text(project_, kStrMidiStepWarning, "The MIDI conversion did not finish:\n%s"), causes);
    project_.shell().appTextBox(warning, kBoxWarning, kMbOk);
}

void StepWorker::restoreUi() {
    MidiStepCheckBox convertAll;
    MidiStepCheckBox overwrite;
    std::vector<MidiStepRow> rows;
    {
        std::lock_guard lock(page_.mutex);
        MidiStepPageState& st = page_.state;
        st.overwrite = {project_.midiOverwrite != 0, true};
        // Converting selected files only is offered once every file has its converted file.
        st.convertAll = {project_.midiConvertAll != 0, project_.convertedMidiCount == project_.fileNum()};
        st.listEnabled = true;
        const int focus = all_ ? (st.rows.empty() ? -1 : st.rows.front().entry) : lastIndex_;
        for (MidiStepRow& row : st.rows) row.selected = row.entry == focus;
        st.total = {};
        st.file = {};
        convertAll = st.convertAll;
        overwrite = st.overwrite;
        rows = st.rows;
    }
    prjMarkStepDirty(project_);
    MidiStepView& v = view();
    v.enableMainWindow(true);
    v.showCheckBoxes(convertAll, overwrite);
    v.enablePageList(true);
    v.showRows(rows);
    v.showRunButton(kStrRunButton, kImageRunButton, kStrRunMenu, !rows.empty());
    v.showProgress({}, {});
    v.stepEnded();
}

// The slot goes to the completion notifier; this record waits there to be
// freed with it. While the page closes, the closer waits for this thread
// and there is nobody to notify.
void StepWorker::handOver() {
    std::lock_guard lock(page_.mutex);
    if (page_.closing || page_.worker.get() != &record_) return;
    auto notifier = std::make_unique<WorkerThreadRec>();
    if (stpStartWorker(notifier.get(), cnvWorkerDoneThreadProc, true, platform::ThreadPriority::BelowNormal, 0,
                       &page_) == nullptr) {
        // Without a notifier the page still hears of the end; its answer frees this record.
        page_.slotHoldsNotifier = true;
        if (page_.window != nullptr) page_.window->post(platform::WM_STEP_WORKER_DONE, 0, 0);
        return;
    }
    page_.finishedWorker = std::move(page_.worker);
    page_.worker = std::move(notifier);
    page_.slotHoldsNotifier = true;
}

void StepWorker::setRow(int index, std::string rowText, bool select) {
    {
        std::lock_guard lock(page_.mutex);
        auto& rows = page_.state.rows;
        if (select) {
            for (MidiStepRow& row : rows) row.selected = false;
        }
        auto at = std::find_if(rows.begin(), rows.end(), [index](const MidiStepRow& r) { return r.entry >= index; });
        if (at == rows.end() || at->entry != index) at = rows.insert(at, MidiStepRow{index, {}, kImageConvertedMidi, false});
        at->text = std::move(rowText);
        at->image = kImageConvertedMidi;
        if (select) at->selected = true;
    }
    showRows();
}

void StepWorker::removeRow(int index) {
    {
        std::lock_guard lock(page_.mutex);
        std::erase_if(page_.state.rows, [index](const MidiStepRow& r) { return r.entry == index; });
    }
    showRows();
}

void StepWorker::showRows() {
    std::vector<MidiStepRow> rows;
    {
        std::lock_guard lock(page_.mutex);
        rows = page_.state.rows;
    }
    view().showRows(rows);
}

void StepWorker::setFileBar(int maximum) {
    MidiStepBar total;
    MidiStepBar file;
    {
        std::lock_guard lock(page_.mutex);
        page_.state.file = {maximum, 0};
        lastPercent_ = 0;
        total = page_.state.total;
        file = page_.state.file;
    }
    view().showProgress(total, file);
}

void StepWorker::setTotalPosition(int position) {
    MidiStepBar total;
    MidiStepBar file;
    {
        std::lock_guard lock(page_.mutex);
        page_.state.total.position = position;
        total = page_.state.total;
        file = page_.state.file;
    }
    view().showProgress(total, file);
}

// Takes the records of an ended run out of the page (under its lock).
void takeEnded(MidiStepPage& page, std::unique_ptr<WorkerThreadRec>& notifier,
               std::unique_ptr<WorkerThreadRec>& worker) {
    notifier = std::move(page.worker);
    worker = std::move(page.finishedWorker);
    page.slotHoldsNotifier = false;
}

}  // namespace

MidiStepPage::MidiStepPage(MidiStepView* pageView, platform::MessageTarget* pageWindow)
    : view(pageView), window(pageWindow) {}

MidiStepPage::~MidiStepPage() { cnvMidiStepStop(*this); }

MidiStepPageState MidiStepPage::snapshot() const {
    std::lock_guard lock(mutex);
    return state;
}

bool MidiStepPage::busy() const {
    std::lock_guard lock(mutex);
    return worker != nullptr || finishedWorker != nullptr;
}

MidiStepRun cnvMidiStepRun(MidiStepPage& page, MidiStepSetup setup) {
    std::unique_ptr<WorkerThreadRec> notifier;
    std::unique_ptr<WorkerThreadRec> worker;
    {
        std::lock_guard lock(page.mutex);
        if (page.worker != nullptr && !page.slotHoldsNotifier && page.worker->running()) {
            requestCancel(page);
            return MidiStepRun::Cancelling;
        }
        // The records of the last run, whose done message may not have been answered yet.
        takeEnded(page, notifier, worker);
    }
    stpFreeWorker(notifier);
    stpFreeWorker(worker);
    if (setup.project == nullptr) return MidiStepRun::NotStarted;
    const Project& project = *setup.project;
    const bool any = project.midiConvertAll != 0
                         ? project.fileNum() > 0
                         : std::any_of(setup.selected.begin(), setup.selected.end(),
                                       [&](int i) { return i >= 0 && i < project.fileNum(); });
    if (!any) {
        (page.view != nullptr ? *page.view : noView()).reportNothingToConvert();
        return MidiStepRun::NothingToDo;
    }
    page.setup = std::move(setup);
    auto record = std::make_unique<WorkerThreadRec>();
    // The worker takes the page's lock before anything else, so it finds its
    // record in the slot.
    std::lock_guard lock(page.mutex);
    page.cancelRequested = false;
    page.currentEntry = -1;
    page.slotHoldsNotifier = false;
    if (stpStartWorker(record.get(), cnvMidiStepThreadProc, true, platform::ThreadPriority::BelowNormal, 0, &page) ==
        nullptr) {
        return MidiStepRun::NotStarted;
    }
    page.worker = std::move(record);
    return MidiStepRun::Started;
}

void cnvMidiStepWorkerDone(MidiStepPage& page) {
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

void cnvMidiStepStop(MidiStepPage& page) {
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
    page.currentEntry = -1;
}

void cnvMidiStepThreadProc(WorkerThreadRec& record) {
    auto* page = static_cast<MidiStepPage*>(record.owner);
    if (page == nullptr || page->setup.project == nullptr) return;
    {
        // Waits until the run command has put this record into the slot.
        std::lock_guard lock(page->mutex);
    }
    StepWorker(*page, record).run();
}

void cnvWorkerDoneThreadProc(WorkerThreadRec& record) {
    auto* page = static_cast<MidiStepPage*>(record.owner);
    if (page == nullptr) return;
    {
        std::lock_guard lock(page->mutex);
        if (page->closing) return;
    }
    const bool timesKnown = page->setup.workerDone ? page->setup.workerDone(*page) : true;
    {
        std::lock_guard lock(page->mutex);
        // A step that did not convert everything stays not complete, however the times came out.
        if (!timesKnown) page->state.notComplete = true;
        if (page->closing) return;
    }
    if (page->window != nullptr) page->window->post(platform::WM_STEP_WORKER_DONE, 0, 0);
}

std::string cnvConvertedMidiDisplayName(const fs::path& file) {
    const std::string name = file.filename().string();
    const std::size_t marker = name.find(kConvertedMarker);
    if (marker == std::string::npos) return name;
    return name.substr(0, marker) + file.extension().string();
}

}  // namespace qvp3
