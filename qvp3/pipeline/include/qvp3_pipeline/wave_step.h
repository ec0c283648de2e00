// The WAV step: a worker thread that renders the converted MIDI file of every
// chosen entry into its converted WAV file in the project folder ("<source
// name without extension>_qvpcnv.wav"), by the entry's method: 0 the software
// synthesizer, 1 the plug-in host. The entry's pause follows the music as
// silence; the file is measured and, as the project says, normalised.
//
// A render goes into a temporary file; the file with its pause is written
// through CWaveFile's own temporary file, which replaces the converted file
// only once it is complete. So a cancel or a failure keeps the earlier file
// and leaves no partial or temporary file. The first failure ends the step
// with a warning; when the run left the project without every WAV file, the
// project's own converted WAV files go and the next run renders all.
//
// Files render several at a time (as many as the machine has hardware
// threads, or as the setup says) where their renderer allows it; a renderer
// that does not (the plug-in host, which plays through one set of
// instruments) renders one file at a time. Everything else happens on the
// worker, one entry after another in the order a serial run takes: the
// overwrite question before the entry's render starts, then, once its render
// and those of the entries before it are done, the pause, the measuring, the
// normalising, the count, the rows and the bars (the total bar at the entry,
// the per-file bar following its render). A render's file replaces the
// converted file only in that order, so a cancel or the first failure keeps
// every later entry's earlier file: the renders still running are stopped
// (the cancel word) and what they wrote is removed.
//
// The run command of the step's page starts the worker or, while it runs,
// cancels it (the renderers poll the page's cancel word). When the worker ends
// it hands the page's worker slot to the completion notifier, which posts
// WM_STEP_WORKER_DONE to the page's window; the page answers it with
// cnvWaveStepWorkerDone on its own thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "platform/message_target.h"
#include "qvp3_pipeline/soft_synth.h"
#include "qvp3_pipeline/wave_normalize.h"
#include "qvp3_pipeline/conversion_step.h"
#include "qvp3_pipeline/worker_threads.h"
#include "qvp3_project/project.h"

namespace qvp3 {

// Results of one entry besides the renderers' and the WAV files'.
inline constexpr int kWaveCancelled = -5;           // cancelled, or No in the overwrite question
inline constexpr int kWaveQuestionCancelled = -15;  // Cancel in the overwrite question
inline constexpr int kWaveRenderedVariant = -16;    // rendered; counts as success
inline constexpr int kWaveNoMemory = -2;
inline constexpr int kWavePlugInFailed = -6;        // render error of the plug-in host
inline constexpr int kWaveReadError = -100;         // reading the rendered file failed
inline constexpr int kWaveWriteError = -101;        // writing the converted file failed, or short write
inline constexpr int kWaveCannotOpen = -103;        // the rendered file (or the converted MIDI file) cannot be opened
inline constexpr int kWaveCannotCreate = -106;      // the temporary file cannot be created
inline constexpr int kWaveRendererFailed = -200;    // a renderer, or a converted file that cannot be named
inline constexpr int kWaveSynthSetupFailed = -1000;  // the software synthesizer's set-up failed
inline constexpr int kWaveSynthFailed = -1100;       // the software synthesizer cannot be set up, or is missing
inline constexpr int kWaveSynthRenderFailed = -1101;
inline constexpr int kWaveSamplerFailed = -1500;    // the plug-in host did not start, or is missing

// Language strings of the step (English texts stand in where the shell has none).
inline constexpr int kStrWaveStepWarning = 60231;  // "%s": the cause
inline constexpr int kStrWaveOverwriteQuestion = 276;  // "%s": the converted file's name
inline constexpr int kStrWaveRenderingRow = 49;        // "%s": the converted file's display name
inline constexpr int kStrWaveStepStatus = 452;
inline constexpr int kStrWaveNormalizeStatus = 453;
inline constexpr int kStrReadyStatus = 92;

// The image of the page's rows.
inline constexpr int kImageConvertedWave = 43;

// The WAV step's page shows what the MIDI step's does (ConvertAll is check box 18001).
using WaveStepRow = ConversionStepRow;
using WaveStepBar = ConversionStepBar;
using WaveStepCheckBox = ConversionStepCheckBox;
using WaveStepPageState = ConversionStepPageState;
using WaveStepView = ConversionStepView;
using WaveStepRun = ConversionStepRun;

// One method of rendering a converted MIDI file.
class WaveRenderer {
public:
    virtual ~WaveRenderer() = default;
    // Renders midiPath (entry's converted MIDI file) into a 44.1 kHz 16-bit
    // stereo WAV file at wavPath, which exists (empty) and is the renderer's to
    // replace. progress hears the milliseconds rendered; cancelWord turns
    // kEntryStopRequested (7) when the user cancels. 0 or -16 rendered; -5
    // cancelled; another negative code (those above) failed.
    // Called on one of the step's render threads, which may render other
    // entries at the same time; the entry is only to be read.
    virtual int render(ProjectEntry& entry, const std::filesystem::path& midiPath, const std::filesystem::path& wavPath,
                       const std::function<void(std::uint32_t ms)>& progress, const std::atomic<int>& cancelWord) = 0;
    // Whether several renders may run at once on different threads; a
    // renderer that says no gets one render at a time.
    virtual bool rendersInParallel() const { return false; }
};

// The normaliser as the step calls it. normalize: the converted WAV file of
// entry (>= 0), or (-1) every converted WAV file of the project with one
// gain; the total bar is null where the step keeps it for itself. 0 or a
// negative code, which report tells the user of (nothing for 0). Either
// function empty: the step does not normalise.
struct WaveNormalizer {
    std::function<int(Project& project, WaveProgressBar* total, WaveProgressBar& file, int entry)> normalize;
    std::function<void(Project& project, int result)> report;
};

struct WaveStepPage;

// What a run works with, handed to cnvWaveStepRun.
struct WaveStepSetup {
    Project* project = nullptr;
    WaveRenderer* synthesizer = nullptr;  // method 0
    WaveRenderer* plugIn = nullptr;       // method 1
    WaveNormalizer normalizer;
    // The entries selected in the page's source list, for a run that does not render all.
    std::vector<int> selected;
    // Where renders go before the pause is added; empty: the project folder.
    std::filesystem::path tempFolder;
    // The application's priority for rendering (the worker's and the render threads').
    platform::ThreadPriority priority = platform::ThreadPriority::Normal;
    // How many files render at once: 0 as many as the machine has hardware threads.
    int parallelRenders = 0;
    // A pause after each rendered file, so that the user sees it listed.
    std::chrono::milliseconds pauseAfterFile{500};
    // Called by the notifier when the step has ended; false when the shell's
    // follow-up failed. It must not wait for the user-interface thread.
    std::function<bool(WaveStepPage& page)> workerDone;
};

// The step page's data block with the run's setup.
struct WaveStepPage : ConversionStepPage {
    explicit WaveStepPage(WaveStepView* view = nullptr, platform::MessageTarget* window = nullptr);
    // Stops a running step first and waits for it (cnvWaveStepStop).
    ~WaveStepPage() override;

    // The current run's setup (written only while no thread of the page runs).
    WaveStepSetup setup;

    Project* runProject() const override { return setup.project; }
    bool runWorkerDone() override { return setup.workerDone ? setup.workerDone(*this) : true; }
};

// The page's run command: starts the worker at the setup's priority or,
// while it runs, cancels it. A notifier still in the slot from the last run
// is waited for first.
WaveStepRun cnvWaveStepRun(WaveStepPage& page, WaveStepSetup setup);
// The page's answer to WM_STEP_WORKER_DONE: frees the records of the ended run.
void cnvWaveStepWorkerDone(WaveStepPage& page);
// Closing: cancels a running step without messages and waits for the
// worker and the notifier. Call it before the project is released.
void cnvWaveStepStop(WaveStepPage& page);

// The worker (owner: the WaveStepPage) and its completion notifier (owner: the same page).
void cnvWaveStepThreadProc(WorkerThreadRec& record);
void cnvWaveWorkerDoneThreadProc(WorkerThreadRec& record);

// Overwrite check of the entry's converted WAV file: nothing there, or
// overwrite set: 0; otherwise the question: Yes 0, No -5, Cancel -15. The
// existing file stays either way: it is replaced once its successor is complete.
int cnvCheckWaveOverwrite(Project& project, const std::filesystem::path& wave, bool overwrite);

// The name a converted WAV file is listed under ("Song_qvpcnv.wav" -> "Song.wav").
std::string cnvConvertedWaveDisplayName(const std::filesystem::path& file);

// Copies the data of the WAV file rendered into target with pauseMs of
// silence after it, through target's temporary twin: target is replaced only
// when the copy is complete. 0, -103 (rendered unreadable), -106 (cannot
// create), -100 (read error), -101 (write error), -2.
int cnvAppendWavePause(const std::filesystem::path& rendered, const std::filesystem::path& target,
                       std::uint32_t pauseMs);

// Playing time of a WAV file in 100-ns units from its data size and byte
// rate; nothing when it cannot be read.
std::optional<std::int64_t> cnvWaveFileDuration(const std::filesystem::path& file);

// The software synthesizer as the step's method 0: the set-up, then the
// render of the converted MIDI file, its length as the expected one.
// Each render is a child process of its own, so several run at once; the
// set-up, which may rewrite the configuration, waits until no render of this
// renderer runs, and renders wait for it.
class SoftSynthWaveRenderer : public WaveRenderer {
public:
    explicit SoftSynthWaveRenderer(SoftSynthState& state) : state_(state) {}
    int render(ProjectEntry& entry, const std::filesystem::path& midiPath, const std::filesystem::path& wavPath,
               const std::function<void(std::uint32_t ms)>& progress, const std::atomic<int>& cancelWord) override;
    bool rendersInParallel() const override { return true; }

private:
    int renderSetUp(const ProjectEntry& entry, const std::filesystem::path& midiPath,
                    const std::filesystem::path& wavPath, const std::function<void(std::uint32_t ms)>& progress,
                    const std::atomic<int>& cancelWord);

    SoftSynthState& state_;
    std::shared_mutex setUp_;
};

// The project's normaliser (cnvNormalizeWaveFiles, cnvReportNormalizeError) as the step calls it.
WaveNormalizer cnvProjectWaveNormalizer();

}  // namespace qvp3
