// The MIDI conversion step: a worker thread that writes the converted MIDI
// file of every chosen entry into the project folder ("<source name without
// extension>_qvpcnv.mid"). MIDI entries are exported by the own sequencer;
// scores are rendered by the score engine into a temporary file that the
// percussion split rewrites into the converted file.
//
// The run command of the step's page starts the worker or, while it runs,
// cancels it: it writes kEntryStopRequested into the state of the entry being
// converted, which the sequencer polls during an export; a score render runs
// to its end and its result is dropped. Every converted file is written
// through a temporary file, so a file is either complete or absent, and an
// earlier file stays until its successor is complete. An entry that fails is
// reported and the step goes on with the others.
//
// When the worker ends it hands the page's worker slot to the completion
// notifier, which posts WM_STEP_WORKER_DONE to the page's window; the page
// answers it with cnvMidiStepWorkerDone on its own thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/message_target.h"
#include "qvp3_pipeline/conversion_step.h"
#include "qvp3_pipeline/playback.h"
#include "qvp3_pipeline/tavtune_lib.h"
#include "qvp3_pipeline/worker_threads.h"
#include "qvp3_project/project.h"

namespace qvp3 {

// Results of one entry besides the writers', the reader's and the engine's.
inline constexpr int kCnvCancelled = -5;            // cancelled through the entry's state
inline constexpr int kCnvQuestionCancelled = -15;   // Cancel in the overwrite question
inline constexpr int kCnvConvertedVariant = -16;    // converted; counts as success
inline constexpr int kCnvEngineFailed = -106;       // instrument table refused, or the render failed
inline constexpr int kCnvConversionFailed = -1000;  // the rewrite or the sequencer failed

// Language strings of the step (English texts stand in where the shell has none).
inline constexpr int kStrMidiStepWarning = 60231;  // "%s": the cause
inline constexpr int kStrMidiStepCancelled = 60232;
inline constexpr int kStrEngineRenderFailed = 501;
inline constexpr int kStrConversionFailed = 48;
inline constexpr int kStrCannotCreateFile = 281;
inline constexpr int kStrCannotOpenTemporary = 212;
inline constexpr int kStrShortWrite = 282;
inline constexpr int kStrOverwriteQuestion = 462;  // "%s": the converted file's name
inline constexpr int kStrConvertingRow = 49;       // "%s": the converted file's display name

// The image of the page's rows.
inline constexpr int kImageConvertedMidi = 11;

// The instrument table a score is rendered with when the sample library is
// found and the entry is converted for it; other entries name the MIDI output.
inline constexpr const char* kSampleLibraryTable = "VST: Tavrena-Vienna-orchestra";

// The page's block, rows, bars, check boxes (ConvertAll is check box 16001) and view are the conversion steps' own.
using MidiStepRow = ConversionStepRow;
using MidiStepBar = ConversionStepBar;
using MidiStepCheckBox = ConversionStepCheckBox;
using MidiStepPageState = ConversionStepPageState;
using MidiStepView = ConversionStepView;

struct MidiStepPage;

// What a run works with, handed to cnvMidiStepRun.
struct MidiStepSetup {
    Project* project = nullptr;
    CTavtuneLib* engine = nullptr;
    PlaybackControl* playback = nullptr;  // prepares scores for the render
    // Hears the engine's render progress (WM_ENGINE_PROGRESS, percent in wParam).
    platform::MessageTarget* mainWindow = nullptr;
    // The entries selected in the main file list, for a run that does not convert all.
    std::vector<int> selected;
    // The plug-in catalogue found the sample library.
    bool sampleLibraryFound = false;
    // The selected MIDI output's name; "Default" is the default output.
    std::string midiOutputName = "Default";
    // Holds "tavtune/MidiTabDef.ini", the engine's instrument tables.
    std::filesystem::path programFolder = platform::programFolder();
    // Where a score's render goes before the rewrite; empty: the system's temporary folder.
    std::filesystem::path tempFolder;
    // A pause after each converted file, so that the user sees it listed.
    std::chrono::milliseconds pauseAfterFile{500};
    // Called by the notifier when the step has ended (the shell works out the
    // playing times again and refreshes the page); false when that failed.
    // It must not wait for the user-interface thread.
    std::function<bool(MidiStepPage& page)> workerDone;
};

// The step page's data block with the run's setup.
struct MidiStepPage : ConversionStepPage {
    explicit MidiStepPage(MidiStepView* view = nullptr, platform::MessageTarget* window = nullptr);
    // Stops a running step first and waits for it (cnvMidiStepStop).
    ~MidiStepPage() override;

    // The current run's setup (written only while no thread of the page runs).
    MidiStepSetup setup;

    Project* runProject() const override { return setup.project; }
    bool runWorkerDone() override { return setup.workerDone ? setup.workerDone(*this) : true; }
};

using MidiStepRun = ConversionStepRun;

// The page's run command: starts the worker at below-normal priority or,
// while it runs, cancels it. A notifier still in the slot from the last run
// is waited for first.
MidiStepRun cnvMidiStepRun(MidiStepPage& page, MidiStepSetup setup);
// The page's answer to WM_STEP_WORKER_DONE: frees the records of the ended
// run. Harmless when nothing has ended (a late message).
void cnvMidiStepWorkerDone(MidiStepPage& page);
// Closing: cancels a running step without messages and waits for the
// worker and the notifier. Call it before the project is released.
void cnvMidiStepStop(MidiStepPage& page);

// The worker (owner: the MidiStepPage) and its completion notifier (owner: the same page).
void cnvMidiStepThreadProc(WorkerThreadRec& record);
void cnvWorkerDoneThreadProc(WorkerThreadRec& record);

// The name a converted file is listed under: its file name with the part
// from "_qvpcnv" on cut off, then its extension ("Song_qvpcnv.mid" -> "Song.mid").
std::string cnvConvertedMidiDisplayName(const std::filesystem::path& file);

}  // namespace qvp3
