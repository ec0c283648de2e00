// What the conversion steps (MIDI and WAV) share: the page's data block with
// its worker slot, what the page shows (two check boxes, a total and a
// per-file bar, the list of converted files) and the view that shows it, and
// the answers of the run command.
//
// A step's run command starts its worker or, while it runs, cancels it: the
// page remembers the index of the entry being converted (not its address:
// the entries may move) and writes kEntryStopRequested into that entry's
// state and into the page's cancel word, which renderers poll. When the
// worker ends it hands the page's worker slot to the completion notifier,
// which posts WM_STEP_WORKER_DONE to the page's window.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/message_target.h"
#include "qvp3_pipeline/worker_threads.h"
#include "qvp3_project/project.h"

namespace qvp3 {

// The run button (40077) and its menu item: Run while no worker runs, Cancel while one does.
inline constexpr int kStrRunButton = 44;
inline constexpr int kStrRunMenu = 47;
inline constexpr int kStrCancelButton = 50;
inline constexpr int kStrCancelMenu = 51;
inline constexpr int kImageRunButton = 1;
inline constexpr int kImageCancelButton = 5;

// One row of the page's list of converted files; entry is the project entry it stands for.
struct ConversionStepRow {
    int entry = -1;
    std::string text;
    int image = 0;
    bool selected = false;
    friend bool operator==(const ConversionStepRow&, const ConversionStepRow&) = default;
};

struct ConversionStepBar {
    int maximum = 0;
    int position = 0;
    friend bool operator==(const ConversionStepBar&, const ConversionStepBar&) = default;
};

struct ConversionStepCheckBox {
    bool checked = false;
    bool enabled = true;
    friend bool operator==(const ConversionStepCheckBox&, const ConversionStepCheckBox&) = default;
};

// What the page shows; written by the worker while it runs.
struct ConversionStepPageState {
    ConversionStepCheckBox convertAll;
    ConversionStepCheckBox overwrite;
    ConversionStepBar total;  // entries
    ConversionStepBar file;   // the entry being converted
    std::vector<ConversionStepRow> rows;  // in entry order
    bool listEnabled = true;
    // The status flag: set when the last run did not convert every chosen entry.
    bool notComplete = false;
};

// What the worker changes on screen. Every call comes from the worker (or
// the notifier) thread: an implementation hands it to the user-interface
// thread. The window must outlive the page.
class ConversionStepView {
public:
    virtual ~ConversionStepView() = default;
    // The main window's two file lists, its entry and project commands and the transport.
    virtual void enableMainWindow(bool enabled) { (void)enabled; }
    virtual void showCheckBoxes(const ConversionStepCheckBox& convertAll, const ConversionStepCheckBox& overwrite) {
        (void)convertAll, (void)overwrite;
    }
    // The page's lists.
    virtual void enablePageList(bool enabled) { (void)enabled; }
    // The run button (40077): its text and image, the menu item's text, and
    // whether the toggle button (40073) is enabled.
    virtual void showRunButton(int stringId, int image, int menuStringId, bool toggleEnabled) {
        (void)stringId, (void)image, (void)menuStringId, (void)toggleEnabled;
    }
    virtual void showProgress(const ConversionStepBar& total, const ConversionStepBar& file) {
        (void)total, (void)file;
    }
    virtual void showRows(const std::vector<ConversionStepRow>& rows) { (void)rows; }
    // The run found nothing to convert: the project has no entries, or none is chosen.
    virtual void reportNothingToConvert() {}
    // The step has ended: the sound-configuration page is to be refreshed and
    // the entry and project commands evaluated again.
    virtual void stepEnded() {}
};

// Answers of a step's run command.
enum class ConversionStepRun {
    Started,
    Cancelling,      // a worker was running: it has been asked to stop
    NothingToDo,     // no entries, or none chosen: nothing started (reportNothingToConvert)
    NotStarted,      // the thread could not be made, or the setup lacks the project
};

// The step page's data block, without the run's setup, which each step's
// page adds. The fields below the mutex are shared with the worker and the
// notifier: lock it to read them while either may run (or take a copy with
// snapshot()). A step's page stops its threads in its own destructor, before
// its setup goes.
struct ConversionStepPage {
    ConversionStepPage(ConversionStepView* view, platform::MessageTarget* window);
    virtual ~ConversionStepPage() = default;
    ConversionStepPage(const ConversionStepPage&) = delete;
    ConversionStepPage& operator=(const ConversionStepPage&) = delete;

    ConversionStepView* view;
    // The page's window, which the notifier posts WM_STEP_WORKER_DONE to.
    platform::MessageTarget* window;

    mutable std::mutex mutex;
    ConversionStepPageState state;
    // The worker slot: the worker's record, then the notifier's.
    std::unique_ptr<WorkerThreadRec> worker;
    bool slotHoldsNotifier = false;
    // The worker's own record after it handed the slot over, freed with the notifier's.
    std::unique_ptr<WorkerThreadRec> finishedWorker;
    // The index of the entry being converted, -1 between entries and runs.
    int currentEntry = -1;
    bool cancelRequested = false;
    bool closing = false;
    // kEntryStopRequested once the run is cancelled, else 0: polled by renderers.
    std::atomic<int> cancelWord{0};

    ConversionStepPageState snapshot() const;
    // True while a worker or a notifier is in the slot.
    bool busy() const;

    // The project of the page's current (or last) run; null before the first.
    virtual Project* runProject() const = 0;
    // Calls the run's hook for the end of the step; true when it has none.
    virtual bool runWorkerDone() = 0;
};

// The notifier's body (its owner: the page): calls runWorkerDone, then posts
// WM_STEP_WORKER_DONE to the page's window unless the page is closing.
void cnvStepNotify(ConversionStepPage& page);

}  // namespace qvp3
