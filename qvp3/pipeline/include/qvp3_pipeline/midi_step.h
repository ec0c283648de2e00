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
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/message_target.h"
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
inline constexpr int kStrRunButton = 44;
inline constexpr int kStrRunMenu = 47;
inline constexpr int kStrCancelButton = 50;
inline constexpr int kStrCancelMenu = 51;

// Images of the run button and of the page's rows.
inline constexpr int kImageRunButton = 1;
inline constexpr int kImageCancelButton = 5;
inline constexpr int kImageConvertedMidi = 11;

// The instrument table a score is rendered with when the sample library is
// found and the entry is converted for it; other entries name the MIDI output.
inline constexpr const char* kSampleLibraryTable = "VST: Tavrena-Vienna-orchestra";

// One row of the page's list of converted files; entry is the project entry it stands for.
struct MidiStepRow {
    int entry = -1;
    std::string text;
    int image = kImageConvertedMidi;
    bool selected = false;
    friend bool operator==(const MidiStepRow&, const MidiStepRow&) = default;
};

struct MidiStepBar {
    int maximum = 0;
    int position = 0;
    friend bool operator==(const MidiStepBar&, const MidiStepBar&) = default;
};

struct MidiStepCheckBox {
    bool checked = false;
    bool enabled = true;
    friend bool operator==(const MidiStepCheckBox&, const MidiStepCheckBox&) = default;
};

// What the page shows; written by the worker while it runs.
struct MidiStepPageState {
    MidiStepCheckBox convertAll;  // check box 16001
    MidiStepCheckBox overwrite;
    MidiStepBar total;  // entries
    MidiStepBar file;   // the entry being converted
    std::vector<MidiStepRow> rows;  // in entry order
    bool listEnabled = true;
    // The status flag: set when the last run did not convert every chosen entry.
    bool notComplete = false;
};

// What the worker changes on screen. Every call comes from the worker (or
// the notifier) thread: an implementation hands it to the user-interface
// thread. The window must outlive the page.
class MidiStepView {
public:
    virtual ~MidiStepView() = default;
    // The main window's two file lists, its entry and project commands and the transport.
    virtual void enableMainWindow(bool enabled) { (void)enabled; }
    virtual void showCheckBoxes(const MidiStepCheckBox& convertAll, const MidiStepCheckBox& overwrite) {
        (void)convertAll, (void)overwrite;
    }
    virtual void enablePageList(bool enabled) { (void)enabled; }
    // The run button (40077): its text and image, the menu item's text, and
    // whether the toggle button (40073) is enabled.
    virtual void showRunButton(int stringId, int image, int menuStringId, bool toggleEnabled) {
        (void)stringId, (void)image, (void)menuStringId, (void)toggleEnabled;
    }
    virtual void showProgress(const MidiStepBar& total, const MidiStepBar& file) { (void)total, (void)file; }
    virtual void showRows(const std::vector<MidiStepRow>& rows) { (void)rows; }
    // The run found nothing to convert: the project has no entries, or none is chosen.
    virtual void reportNothingToConvert() {}
    // The step has ended: the sound-configuration page is to be refreshed and
    // the entry and project commands evaluated again.
    virtual void stepEnded() {}
};

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

// The step page's data block. The fields below the mutex are shared with the
// worker and the notifier: lock it to read them while either may run (or
// take a copy with snapshot()).
struct MidiStepPage {
    explicit MidiStepPage(MidiStepView* view = nullptr, platform::MessageTarget* window = nullptr);
    // Stops a running step first and waits for it (cnvMidiStepStop).
    ~MidiStepPage();
    MidiStepPage(const MidiStepPage&) = delete;
    MidiStepPage& operator=(const MidiStepPage&) = delete;

    MidiStepView* view;
    // The page's window, which the notifier posts WM_STEP_WORKER_DONE to.
    platform::MessageTarget* window;
    // The current run's setup (written only while no thread of the page runs).
    MidiStepSetup setup;

    mutable std::mutex mutex;
    MidiStepPageState state;
    // The worker slot: the worker's record, then the notifier's.
    std::unique_ptr<WorkerThreadRec> worker;
    bool slotHoldsNotifier = false;
    // The worker's own record after it handed the slot over, freed with the notifier's.
    std::unique_ptr<WorkerThreadRec> finishedWorker;
    // The index of the entry being converted (not its address: the entries
    // may move), -1 between entries and runs.
    int currentEntry = -1;
    bool cancelRequested = false;
    bool closing = false;

    MidiStepPageState snapshot() const;
    // True while a worker or a notifier is in the slot.
    bool busy() const;
};

// Answers of cnvMidiStepRun.
enum class MidiStepRun {
    Started,
    Cancelling,      // a worker was running: it has been asked to stop
    NothingToDo,     // no entries, or none chosen: nothing started (reportNothingToConvert)
    NotStarted,      // the thread could not be made, or the setup lacks the project
};

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

// The worker (owner: the MidiStepPage) and the completion notifier (owner: the same page).
void cnvMidiStepThreadProc(WorkerThreadRec& record);
void cnvWorkerDoneThreadProc(WorkerThreadRec& record);

// The name a converted file is listed under: its file name with the part
// from "_qvpcnv" on cut off, then its extension ("Song_qvpcnv.mid" -> "Song.mid").
std::string cnvConvertedMidiDisplayName(const std::filesystem::path& file);

}  // namespace qvp3
