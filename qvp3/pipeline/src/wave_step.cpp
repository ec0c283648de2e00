// The WAV step's worker, its completion notifier and the run command of its page.
#include "qvp3_pipeline/wave_step.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <new>
#include <string_view>
#include <system_error>
#include <utility>

#include "conversion_step_worker.h"
#include "parallel_jobs.h"
#include "platform/files.h"
#include "qvp3_pipeline/entry_player.h"
#include "qvp3_pipeline/wave_file.h"
#include "qvp3_project/profile_file.h"
#include "qvp3_project/project_folder.h"
#include "qvp3_project/step_changes.h"

namespace qvp3 {
namespace fs = std::filesystem;
namespace {

constexpr int kStrCancelled = 60232;

// The cause a warning names for a result: a language string and its English text.
struct Cause {
    int code;
    int stringId;
    const char* english;
};
constexpr Cause kCauses[] = {
    {kWaveCancelled, kStrCancelled, "the rendering was cancelled"},
    {kWaveSynthRenderFailed, 501, "the software synthesizer could not render the file"},
    {kWaveCannotCreate, 501, "the temporary WAV file could not be created"},
    {kWaveSamplerFailed, 455, "the plug-in instrument did not start"},
    {kWaveSynthFailed, 73, "the software synthesizer could not be set up"},
    {kWaveSynthSetupFailed, 48, "the software synthesizer could not be set up"},
    {kWaveRendererFailed, 281, "the WAV file could not be created"},
    {kWaveWriteError, 282, "the WAV file could not be written completely"},
    {kWaveReadError, 187, "the rendered file could not be read"},
    {kWaveCannotOpen, 212, "a file could not be opened"},
    {kWavePlugInFailed, 215, "the plug-in host could not render the file"},
    {kWaveNoMemory, 188, "there is not enough memory"},
};

std::string causeText(Project& project, int code) {
    for (const Cause& c : kCauses) {
        if (c.code == code) return cnvStepText(project, c.stringId, c.english);
    }
    return cnvStepText(project, 48, "the rendering failed") + " (" + std::to_string(code) + ")";
}

bool renderedOk(int result) { return result == 0 || result == kWaveRenderedVariant; }

// A folder as a path without a trailing separator, so that two spellings compare equal.
fs::path folderPath(const fs::path& folder) {
    fs::path normal = folder.lexically_normal();
    return normal.has_filename() ? normal : normal.parent_path();
}

class StepWorker;

// The page's total or per-file bar as the normaliser moves it.
class PageBar : public WaveProgressBar {
public:
    PageBar(StepWorker& worker, bool total) : worker_(worker), total_(total) {}
    void setRange(int maximum) override;
    void setPosition(int position) override;
    int position() const override;

private:
    StepWorker& worker_;
    bool total_;
};

// One entry's render on the step's render threads: into a scratch file,
// which the worker writes onto the converted file in entry order.
struct RenderJob {
    WaveRenderer* renderer = nullptr;
    ProjectEntry* entry = nullptr;
    fs::path midi;
    std::unique_ptr<platform::ScopedTempFile> scratch;
    std::atomic<std::uint32_t> progressMs{0};
    int result = 0;  // the render's; read once the job has ended
};

// What the worker decided for an entry before its render starts.
struct Admission {
    enum class Kind { Render, Kept, QuestionCancelled, Failed };
    Kind kind = Kind::Render;
    int code = 0;               // Failed
    bool beforeRender = false;  // Failed: before the page shows the render
    std::shared_ptr<RenderJob> job;
    std::size_t number = 0;     // Render: the job's number

    // An entry that renders nothing.
    static Admission decided(Kind kind, int code = 0, bool beforeRender = false) {
        Admission a;
        a.kind = kind;
        a.code = code;
        a.beforeRender = beforeRender;
        return a;
    }
};

// The worker of one run.
class StepWorker : ConversionStepWorker {
public:
    StepWorker(WaveStepPage& page, WorkerThreadRec& record)
        : ConversionStepWorker(page, record, *page.setup.project, page.setup.project->waveConvertAll != 0,
                               kImageConvertedWave),
          s_(page.setup), wavePage_(page) {}

    void run();
    void setBar(bool total, int maximum, int position);
    int barPosition(bool total) const;

private:
    enum class Outcome { Rendered, Kept, Cancelled, QuestionCancelled, Failed };

    void start();
    void renderAll();
    void admitMore();
    bool mayRunAhead(WaveRenderer* renderer) const;
    Admission admit(int index);
    Outcome finishEntry(int index, Admission& admission);
    int awaitRender(Admission& admission);
    void stopRenders();
    void rendered(int index, ProjectEntry& entry, const fs::path& target, bool fresh);
    Outcome cancelled(int index, ProjectEntry& entry, const fs::path& target);
    Outcome failed(int index, ProjectEntry& entry, int code);
    void finish();
    void cleanUp();
    void warn();
    void normalize(int entry);
    void status(int id, const char* english);

    const WaveStepSetup& s_;
    WaveStepPage& wavePage_;
    bool cancelled_ = false;
    bool questionCancelled_ = false;
    int failure_ = 0;
    std::string failedFile_;
    // The run's render threads and what was decided, entry by entry, in the run's order.
    std::unique_ptr<ParallelJobs> jobs_;
    std::vector<int> chosen_;
    // A deque: the entry being finished keeps its place while later ones are admitted.
    std::deque<Admission> admitted_;
    std::size_t inHand_ = 0;  // the entry being finished, by its place in chosen_
    int width_ = 1;
    bool admitting_ = true;
};

void PageBar::setRange(int maximum) { worker_.setBar(total_, maximum, 0); }
void PageBar::setPosition(int position) { worker_.setBar(total_, -1, position); }
int PageBar::position() const { return worker_.barPosition(total_); }

void StepWorker::run() {
    start();
    // The step renders converted MIDI files: the count of those bounds a run of all.
    chosen_ = chosenEntries(project_.convertedMidiCount, s_.selected);
    status(kStrWaveStepStatus, "Rendering WAV files ...");
    setTotalBar(static_cast<int>(chosen_.size()));
    renderAll();
    finish();
    status(kStrReadyStatus, "Ready");
    // Rendering selected files only is offered once every file has its WAV file.
    restoreUi({project_.waveConvertAll != 0, project_.convertedWaveCount == project_.fileNum()},
              project_.waveOverwrite != 0);
    handOver(cnvWaveWorkerDoneThreadProc, &wavePage_);
}

void StepWorker::start() {
    disableUi(project_.waveOverwrite != 0);
    if (all_ && (project_.waveOverwrite != 0 || project_.convertedWaveCount != project_.fileNum())) {
        project_.convertedWaveCount = 0;
        clearRows();
    }
    prjFillMissingDurations(project_);
}

// Renders run ahead on the render threads; each entry is finished here in turn.
void StepWorker::renderAll() {
    const std::vector<int>& chosen = chosen_;
    width_ = std::min(cnvParallelWidth(s_.parallelRenders), std::max(static_cast<int>(chosen.size()), 1));
    jobs_ = std::make_unique<ParallelJobs>(width_, s_.priority);
    for (std::size_t k = 0; k < chosen.size(); ++k) {
        inHand_ = k;
        admitMore();
        if (k >= admitted_.size() || !enter(chosen[k])) {
            cancelled_ = true;
            break;
        }
        setTotalPosition(static_cast<int>(k) + 1);
        const Outcome outcome = finishEntry(chosen[k], admitted_[k]);
        if (outcome == Outcome::QuestionCancelled) {
            questionCancelled_ = true;
            break;
        }
        if (outcome == Outcome::Failed) break;
        // A cancel that came while the last entry was rendered leaves nothing undone.
        if (outcome == Outcome::Cancelled || (cancelRequested() && k + 1 < chosen.size())) {
            cancelled_ = true;
            break;
        }
        admitted_[k].job.reset();  // its scratch file goes
    }
    stopRenders();
}

// Admits the entry in hand and, with several render threads, the next ones
// while threads are free; a renderer that renders one file at a time gets
// the next file once its last one is done. A cancel, Cancel in the question
// or a failure ends the admitting.
void StepWorker::admitMore() {
    const std::vector<int>& chosen = chosen_;
    const std::size_t inHand = inHand_;
    while (admitting_ && admitted_.size() < chosen.size()) {
        const std::size_t k = admitted_.size();
        if (cancelRequested()) {
            admitting_ = false;
            return;
        }
        const ProjectEntry& entry = project_.entries[static_cast<std::size_t>(chosen[k])];
        WaveRenderer* const renderer = entry.MWConversionMethod == 1 ? s_.plugIn : s_.synthesizer;
        if (k > inHand) {
            const auto ahead = static_cast<std::size_t>(width_);
            if (width_ < 2 || k >= inHand + 2 * ahead || jobs_->unfinished() >= ahead) return;
            if (!mayRunAhead(renderer)) return;
        }
        admitted_.push_back(admit(chosen[k]));
        const Admission& a = admitted_.back();
        if (a.kind == Admission::Kind::QuestionCancelled || a.kind == Admission::Kind::Failed) admitting_ = false;
    }
}

// False while a renderer that renders one file at a time has a render running,
// or while a render ahead has failed (the run ends there).
bool StepWorker::mayRunAhead(WaveRenderer* renderer) const {
    for (const Admission& a : admitted_) {
        if (a.job == nullptr) continue;
        const bool ended = jobs_->ended(a.number);
        if (ended && !renderedOk(a.job->result)) return false;
        if (!ended && renderer != nullptr && a.job->renderer == renderer && !renderer->rendersInParallel()) {
            return false;
        }
    }
    return true;
}

// The entry's file name, the overwrite question and what its render needs;
// then its render is queued.
Admission StepWorker::admit(int index) {
    ProjectEntry& entry = project_.entries[static_cast<std::size_t>(index)];
    Admission a;
    fs::path target;
    if (!prjConvertedWavePath(project_, index, &target) || isSourceFile(target)) {
        return Admission::decided(Admission::Kind::Failed, kWaveRendererFailed, true);
    }
    entry.convertedWavePath = target;
    const int answer = cnvCheckWaveOverwrite(project_, target, project_.waveOverwrite != 0);
    if (answer == kWaveQuestionCancelled) return Admission::decided(Admission::Kind::QuestionCancelled);
    // No keeps the earlier file as this entry's WAV file.
    if (answer == kWaveCancelled) return Admission::decided(Admission::Kind::Kept);
    if (entry.convertedMidiPath.empty() || !cnvIsRegularFile(entry.convertedMidiPath)) {
        return Admission::decided(Admission::Kind::Failed, kWaveCannotOpen);
    }
    const bool plugIn = entry.MWConversionMethod == 1;
    WaveRenderer* const renderer = plugIn ? s_.plugIn : s_.synthesizer;
    if (renderer == nullptr) {
        return Admission::decided(Admission::Kind::Failed, plugIn ? kWaveSamplerFailed : kWaveSynthFailed);
    }
    auto job = std::make_shared<RenderJob>();
    job->scratch = std::make_unique<platform::ScopedTempFile>(
        s_.tempFolder.empty() ? project_.data.ProjectFolder : s_.tempFolder, "qvp");
    if (!job->scratch->made()) return Admission::decided(Admission::Kind::Failed, kWaveCannotCreate);
    job->renderer = renderer;
    job->entry = &entry;
    job->midi = entry.convertedMidiPath;
    ParallelJobs& jobs = *jobs_;
    const std::atomic<int>& cancelWord = wavePage_.cancelWord;
    a.number = jobs.add([job, &jobs, &cancelWord] {
        // Stopped before it started: a cancel, or a failure before it.
        if (cancelWord.load() == kEntryStopRequested) {
            job->result = kWaveCancelled;
            return;
        }
        job->result = job->renderer->render(*job->entry, job->midi, job->scratch->path(),
                                            [&](std::uint32_t ms) {
                                                job->progressMs.store(ms);
                                                jobs.wake();
                                            },
                                            cancelWord);
    });
    a.job = std::move(job);
    return a;
}

StepWorker::Outcome StepWorker::finishEntry(int index, Admission& admission) {
    ProjectEntry& entry = project_.entries[static_cast<std::size_t>(index)];
    switch (admission.kind) {
        case Admission::Kind::QuestionCancelled: return Outcome::QuestionCancelled;
        case Admission::Kind::Kept: rendered(index, entry, entry.convertedWavePath, false); return Outcome::Kept;
        case Admission::Kind::Failed:
            if (admission.beforeRender) return failed(index, entry, admission.code);
            break;
        case Admission::Kind::Render: break;
    }
    const fs::path target = entry.convertedWavePath;
    const int ms = entry.convertedMidiMs > 0 ? entry.convertedMidiMs : entry.durationMs;
    setFileBar(std::max(ms, 0));
    setRow(index, prfFormatString(cnvStepText(project_, kStrWaveRenderingRow, "Rendering %s ..."),
                                  cnvConvertedWaveDisplayName(target)),
           true);
    if (admission.kind == Admission::Kind::Failed) return failed(index, entry, admission.code);
    int result = awaitRender(admission);
    // A render that ended as the cancel came is dropped: the earlier file stays.
    if (result == kWaveCancelled || cancelRequested()) return cancelled(index, entry, target);
    if (renderedOk(result)) {
        const auto pause = std::clamp<std::int64_t>(entry.Pause, 0, 24 * 3600);
        result = cnvAppendWavePause(admission.job->scratch->path(), target, static_cast<std::uint32_t>(pause * 1000));
    }
    if (!renderedOk(result)) return failed(index, entry, result);
    rendered(index, entry, target, true);
    admitMore();  // the render threads need not idle through the pause
    pauseAfterFile(s_.pauseAfterFile);
    return Outcome::Rendered;
}

// Waits for the entry's render, its progress on the per-file bar, and
// admits the next entries as render threads come free.
int StepWorker::awaitRender(Admission& admission) {
    const RenderJob& job = *admission.job;
    while (!jobs_->waitFor(admission.number, std::chrono::milliseconds(20))) {
        moveFileBar(job.progressMs.load());
        admitMore();
    }
    moveFileBar(job.progressMs.load());
    return job.result;
}

// Renders still running after the run ended (a cancel, a failure, Cancel in
// the question) are stopped, and what they wrote goes with their scratch files.
void StepWorker::stopRenders() {
    if (jobs_ != nullptr && jobs_->unfinished() > 0) wavePage_.cancelWord.store(kEntryStopRequested);
    jobs_.reset();
    admitted_.clear();
    std::lock_guard lock(wavePage_.mutex);
    if (!wavePage_.cancelRequested) wavePage_.cancelWord.store(0);
}

// The entry's WAV file is in place (new, or kept at the user's word); a new
// one is normalised on its own when the project says so.
void StepWorker::rendered(int index, ProjectEntry& entry, const fs::path& target, bool fresh) {
    if (const auto length = cnvWaveFileDuration(target); length && *length > 0) {
        entry.convertedWaveMs = static_cast<std::int32_t>(std::min<std::int64_t>(*length / 10000 + 1, INT32_MAX));
    } else if (fresh) {
        entry.convertedWaveMs = 0;
    }
    if (fresh && project_.normalize == 1) normalize(index);
    // The count covers the entries from the first on that all have their file.
    if (all_ && project_.convertedWaveCount == index && index < project_.fileNum()) ++project_.convertedWaveCount;
    setRow(index, cnvConvertedWaveDisplayName(target), false);
}

StepWorker::Outcome StepWorker::cancelled(int index, ProjectEntry& entry, const fs::path& target) {
    if (cnvIsRegularFile(target)) {
        setRow(index, cnvConvertedWaveDisplayName(target), false);
    } else {
        entry.convertedWavePath.clear();
        removeRow(index);
    }
    return Outcome::Cancelled;
}

StepWorker::Outcome StepWorker::failed(int index, ProjectEntry& entry, int code) {
    failure_ = code;
    failedFile_ = sourceName(entry);
    if (cnvIsRegularFile(entry.convertedWavePath)) {
        setRow(index, cnvConvertedWaveDisplayName(entry.convertedWavePath), false);
    } else {
        entry.convertedWavePath.clear();
        removeRow(index);
    }
    return Outcome::Failed;
}

void StepWorker::finish() {
    const bool closing = releaseEntry();
    const bool complete = failure_ == 0 && !cancelled_ && !questionCancelled_;
    if (complete) {
        if (all_ || project_.fileNum() == 1) project_.dirty = 0;
        project_.dirty |= kDirtyWaveDone;
    } else {
        project_.dirty &= ~kDirtyWaveDone;
    }
    setNotComplete(!complete);
    // Cancel in the overwrite question is the user's own choice: no warning.
    if (!closing && (failure_ != 0 || cancelled_)) warn();
    if (failure_ != 0 && project_.convertedWaveCount != project_.fileNum()) cleanUp();
    if (complete && project_.normalize == 2 && project_.convertedWaveCount > 0 &&
        (all_ || project_.convertedWaveCount == 1)) {
        status(kStrWaveNormalizeStatus, "Normalising the WAV files ...");
        normalize(-1);
    }
}

// A failed run that left the project without every WAV file starts over:
// the next run renders all. Only this project's own converted WAV files go.
void StepWorker::cleanUp() {
    const fs::path folder = folderPath(project_.data.ProjectFolder);
    for (int i = 0; i < project_.fileNum(); ++i) {
        ProjectEntry& entry = project_.entries[static_cast<std::size_t>(i)];
        fs::path wave;
        if (prjConvertedWavePath(project_, i, &wave) && folderPath(wave.parent_path()) == folder &&
            !isSourceFile(wave)) {
            cnvRemoveRegularFile(wave);
        }
        entry.convertedWavePath.clear();
        entry.convertedWaveMs = 0;
    }
    project_.waveConvertAll = 1;
    project_.convertedWaveCount = 0;
    clearRows();
}

void StepWorker::warn() {
    std::string cause = failure_ != 0 ? failedFile_ + ": " + causeText(project_, failure_)
                                      : causeText(project_, kWaveCancelled);
    const std::string warning =
        prfFormatString(cnvStepText(project_, kStrWaveStepWarning, "The WAV rendering did not finish:\n%s"), cause);
    project_.shell().appTextBox(warning, kBoxWarning, kMbOk);
}

// One file right after its render (the total bar stays the step's while it
// renders all), or every converted file at the end.
void StepWorker::normalize(int entry) {
    const WaveNormalizer& n = s_.normalizer;
    if (!n.normalize || !n.report) return;
    PageBar total(*this, true);
    PageBar file(*this, false);
    const int result = n.normalize(project_, entry >= 0 && all_ ? nullptr : &total, file, entry);
    n.report(project_, result);
}

void StepWorker::status(int id, const char* english) { project_.shell().setStatusText(0, cnvStepText(project_, id, english)); }

void StepWorker::setBar(bool total, int maximum, int position) {
    ConversionStepBar totalBar;
    ConversionStepBar fileBar;
    {
        std::lock_guard lock(wavePage_.mutex);
        ConversionStepBar& bar = total ? wavePage_.state.total : wavePage_.state.file;
        if (maximum >= 0) bar.maximum = maximum;
        bar.position = std::clamp(position, 0, std::max(bar.maximum, 0));
        totalBar = wavePage_.state.total;
        fileBar = wavePage_.state.file;
    }
    view().showProgress(totalBar, fileBar);
}

int StepWorker::barPosition(bool total) const {
    std::lock_guard lock(wavePage_.mutex);
    return total ? wavePage_.state.total.position : wavePage_.state.file.position;
}

}  // namespace

WaveStepPage::WaveStepPage(WaveStepView* pageView, platform::MessageTarget* pageWindow)
    : ConversionStepPage(pageView, pageWindow) {}

WaveStepPage::~WaveStepPage() { cnvWaveStepStop(*this); }

WaveStepRun cnvWaveStepRun(WaveStepPage& page, WaveStepSetup setup) {
    Project* const project = setup.project;
    const auto chosen = [&] {
        const int count = std::min(project->convertedMidiCount, project->fileNum());
        return project->waveConvertAll != 0 ? count > 0
                                            : std::any_of(setup.selected.begin(), setup.selected.end(),
                                                          [&](int i) { return i >= 0 && i < count; });
    };
    const platform::ThreadPriority priority = setup.priority;
    return cnvStepRun(page, project, chosen, [&] { page.setup = std::move(setup); }, cnvWaveStepThreadProc, priority,
                      &page);
}

void cnvWaveStepWorkerDone(WaveStepPage& page) { cnvStepWorkerDone(page); }

void cnvWaveStepStop(WaveStepPage& page) { cnvStepStop(page); }

void cnvWaveStepThreadProc(WorkerThreadRec& record) { cnvRunStepWorker<StepWorker, WaveStepPage>(record); }

void cnvWaveWorkerDoneThreadProc(WorkerThreadRec& record) {
    auto* page = static_cast<WaveStepPage*>(record.owner);
    if (page != nullptr) cnvStepNotify(*page);
}

int cnvCheckWaveOverwrite(Project& project, const fs::path& wave, bool overwrite) {
    if (overwrite || !cnvIsRegularFile(wave)) return 0;
    const std::string question = prfFormatString(
        cnvStepText(project, kStrWaveOverwriteQuestion, "The file %s exists already. Replace it?"),
        wave.filename().string());
    const int answer = project.shell().appTextBox(question, kBoxQuestion, kMbYesNoCancel);
    if (answer == kIdYes) return 0;
    return answer == kIdCancel ? kWaveQuestionCancelled : kWaveCancelled;
}

std::string cnvConvertedWaveDisplayName(const fs::path& file) {
    const std::string name = file.filename().string();
    const std::size_t marker = name.find(kConvertedMarker);
    if (marker == std::string::npos) return name;
    return name.substr(0, marker) + file.extension().string();
}

int cnvAppendWavePause(const fs::path& rendered, const fs::path& target, std::uint32_t pauseMs) {
    CWaveFile in;
    WaveFormatEx format;
    if (in.Open(rendered, &format, CWaveFile::kModeRead) != S_OK) return kWaveCannotOpen;
    CWaveFile out;
    if (out.Open(target, &format, CWaveFile::kModeWrite) != S_OK) return kWaveCannotCreate;
    // A second of samples at a time, within bounds whatever the header claims.
    const std::size_t size = std::clamp<std::size_t>(format.nSamplesPerSec, 4096, std::size_t{1} << 20);
    std::vector<std::uint8_t> buffer;
    try {
        buffer.resize(size);
    } catch (const std::bad_alloc&) {
        return kWaveNoMemory;
    }
    for (;;) {
        std::uint32_t read = 0;
        if (in.Read(buffer.data(), static_cast<std::uint32_t>(size), &read) != S_OK) return kWaveReadError;
        if (read == 0) break;
        std::uint32_t written = 0;
        if (out.Write(read, buffer.data(), &written) != S_OK || written != read) return kWaveWriteError;
    }
    if (!out.AppendSilence(pauseMs)) return kWaveWriteError;
    in.Close();
    return out.Close() == S_OK ? 0 : kWaveWriteError;
}

std::optional<std::int64_t> cnvWaveFileDuration(const fs::path& file) {
    CWaveFile wave;
    WaveFormatEx format;
    if (wave.Open(file, &format, CWaveFile::kModeRead) != S_OK || format.nAvgBytesPerSec == 0) return std::nullopt;
    return static_cast<std::int64_t>(std::uint64_t{wave.DataSize()} * 10'000'000 / format.nAvgBytesPerSec);
}

}  // namespace qvp3
