// The MIDI conversion step's worker, its completion notifier and the run
// command of its page.
#include "qvp3_pipeline/midi_step.h"

#include <algorithm>
#include <string_view>
#include <system_error>
#include <utility>

#include "conversion_step_worker.h"
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

std::string causeText(Project& project, int code) {
    for (const Cause& c : kCauses) {
        if (c.code == code) return cnvStepText(project, c.stringId, c.english);
    }
    return cnvStepText(project, kStrConversionFailed, "the conversion failed") + " (" + std::to_string(code) + ")";
}

// The worker of one run.
class StepWorker : ConversionStepWorker {
public:
    StepWorker(MidiStepPage& page, WorkerThreadRec& record)
        : ConversionStepWorker(page, record, *page.setup.project, page.setup.project->midiConvertAll != 0,
                               kImageConvertedMidi),
          s_(page.setup), midiPage_(page) {}

    void run();
    // The export's progress (milliseconds of music written).
    void moveFileBar(std::int32_t ms) { ConversionStepWorker::moveFileBar(ms); }

private:
    enum class Outcome { Converted, Kept, Cancelled, QuestionCancelled, Failed };
    struct Failure {
        std::string file;
        int code;
    };

    void start();
    Outcome convert(int index);
    int exportMidi(ProjectEntry& entry);
    int renderScore(ProjectEntry& entry, const fs::path& target);
    std::string tableName(const ProjectEntry& entry) const;
    void converted(int index, ProjectEntry& entry, const fs::path& target);
    Outcome failed(int index, ProjectEntry& entry, int code, const fs::path& target);
    void finish();
    void warn();

    const MidiStepSetup& s_;
    MidiStepPage& midiPage_;
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
    start();
    const std::vector<int> chosen = chosenEntries(project_.fileNum(), s_.selected);
    setTotalBar(static_cast<int>(chosen.size()));
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
    // Converting selected files only is offered once every file has its converted file.
    restoreUi({project_.midiConvertAll != 0, project_.convertedMidiCount == project_.fileNum()},
              project_.midiOverwrite != 0);
    handOver(cnvWorkerDoneThreadProc, &midiPage_);
}

void StepWorker::start() {
    disableUi(project_.midiOverwrite != 0);
    if (all_ && (project_.midiOverwrite != 0 || project_.convertedMidiCount != project_.fileNum())) {
        project_.convertedMidiCount = 0;
        clearRows();
    }
}

StepWorker::Outcome StepWorker::convert(int index) {
    ProjectEntry& entry = project_.entries[static_cast<std::size_t>(index)];
    fs::path target;
    if (!prjConvertedMidiPath(project_, index, &target)) return failed(index, entry, kMidiCannotCreate, {});
    if (isSourceFile(target)) return failed(index, entry, kMidiCannotCreate, {});
    entry.convertedMidiPath = target;
    const bool existed = cnvIsRegularFile(target);
    // The earlier file is replaced only once its successor is complete, so
    // neither answer deletes anything here.
    if (existed && project_.midiOverwrite == 0) {
        if (cancelRequested()) return Outcome::Cancelled;
        const std::string question =
            prfFormatString(cnvStepText(project_, kStrOverwriteQuestion, "The file %s exists already. Replace it?"),
                            target.filename().string());
        const int answer = project_.shell().appTextBox(question, kBoxQuestion, kMbYesNoCancel);
        if (answer == kIdCancel) return Outcome::QuestionCancelled;
        if (answer != kIdYes) {
            converted(index, entry, target);
            return Outcome::Kept;
        }
    }
    setRow(index, prfFormatString(cnvStepText(project_, kStrConvertingRow, "Converting %s ..."),
                                  cnvConvertedMidiDisplayName(target)),
           true);
    int result = kCnvConversionFailed;
    if (entry.kind == EntryKind::Midi) {
        result = exportMidi(entry);
    } else if (isScoreKind(entry.kind)) {
        result = renderScore(entry, target);
    }
    if (result == kCnvCancelled) {
        if (cnvIsRegularFile(target)) {
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
    pauseAfterFile(s_.pauseAfterFile);
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
    if (!target.empty()) cnvRemoveRegularFile(target);
    entry.convertedMidiPath.clear();
    entry.convertedMidiMs = 0;
    project_.convertedMidiCount = std::min(project_.convertedMidiCount, index);
    removeRow(index);
    failures_.push_back({sourceName(entry), code});
    return Outcome::Failed;
}

void StepWorker::finish() {
    const bool closing = releaseEntry();
    const bool complete = failures_.empty() && !cancelled_ && !questionCancelled_;
    if (complete) {
        if (all_ || project_.fileNum() == 1) project_.dirty = 0;
        project_.dirty |= kDirtyMidiDone;
    } else {
        project_.dirty &= ~kDirtyMidiDone;
    }
    setNotComplete(!complete);
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
        prfFormatString(cnvStepText(project_, kStrMidiStepWarning, "The MIDI conversion did not finish:\n%s"), causes);
    project_.shell().appTextBox(warning, kBoxWarning, kMbOk);
}

}  // namespace

MidiStepPage::MidiStepPage(MidiStepView* pageView, platform::MessageTarget* pageWindow)
    : ConversionStepPage(pageView, pageWindow) {}

MidiStepPage::~MidiStepPage() { cnvMidiStepStop(*this); }

MidiStepRun cnvMidiStepRun(MidiStepPage& page, MidiStepSetup setup) {
    Project* const project = setup.project;
    const auto chosen = [&] {
        return project->midiConvertAll != 0 ? project->fileNum() > 0
                                            : std::any_of(setup.selected.begin(), setup.selected.end(),
                                                          [&](int i) { return i >= 0 && i < project->fileNum(); });
    };
    return cnvStepRun(page, project, chosen, [&] { page.setup = std::move(setup); }, cnvMidiStepThreadProc,
                      platform::ThreadPriority::BelowNormal, &page);
}

void cnvMidiStepWorkerDone(MidiStepPage& page) { cnvStepWorkerDone(page); }

void cnvMidiStepStop(MidiStepPage& page) { cnvStepStop(page); }

void cnvMidiStepThreadProc(WorkerThreadRec& record) { cnvRunStepWorker<StepWorker, MidiStepPage>(record); }

void cnvWorkerDoneThreadProc(WorkerThreadRec& record) {
    auto* page = static_cast<MidiStepPage*>(record.owner);
    if (page != nullptr) cnvStepNotify(*page);
}

std::string cnvConvertedMidiDisplayName(const fs::path& file) {
    const std::string name = file.filename().string();
    const std::size_t marker = name.find(kConvertedMarker);
    if (marker == std::string::npos) return name;
    return name.substr(0, marker) + file.extension().string();
}

}  // namespace qvp3
