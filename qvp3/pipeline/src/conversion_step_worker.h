// The half of a conversion step's worker and run command that the MIDI and
// the WAV step share: the page's rows and bars, entering an entry so that a
// cancel reaches it, the UI before and after a run, handing the slot to the
// notifier, and starting, cancelling and closing a run.
#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "qvp3_pipeline/conversion_step.h"

namespace qvp3 {

// A language string, or the English text where the shell has none.
std::string cnvStepText(Project& project, int id, const char* english);
// A regular file (a link or a folder at its place is not ours to write or delete).
bool cnvIsRegularFile(const std::filesystem::path& path);
void cnvRemoveRegularFile(const std::filesystem::path& path);

// The run command: while the page's worker runs, asks it to stop; otherwise
// frees the records of the last run and, when project is set and chosen()
// finds work, calls adopt() (the page takes the run's setup) and starts
// routine at priority with owner. chosen() runs only while no thread of the page does.
ConversionStepRun cnvStepRun(ConversionStepPage& page, Project* project, const std::function<bool()>& chosen,
                             const std::function<void()>& adopt, WorkerRoutine routine,
                             platform::ThreadPriority priority, void* owner);
// The answer to WM_STEP_WORKER_DONE: frees the records of the ended run.
void cnvStepWorkerDone(ConversionStepPage& page);
// Closing: cancels a running step without messages and waits for both threads.
void cnvStepStop(ConversionStepPage& page);

// The body of a step's worker thread: once the run command has put the
// record into the page's slot (its lock is held until then), the step's
// worker runs.
template <typename Worker, typename Page>
void cnvRunStepWorker(WorkerThreadRec& record) {
    auto* page = static_cast<Page*>(record.owner);
    if (page == nullptr || page->setup.project == nullptr) return;
    {
        std::lock_guard lock(page->mutex);
    }
    Worker(*page, record).run();
}

class ConversionStepWorker {
protected:
    ConversionStepWorker(ConversionStepPage& page, WorkerThreadRec& record, Project& project, bool all,
                         int rowImage);

    ConversionStepView& view();
    bool cancelRequested() const;
    // The entries of the run: 0..count-1 with all, else the selection in range, from the top.
    std::vector<int> chosenEntries(int count, const std::vector<int>& selected) const;
    // Whether path is a source of the project (a source named like another's
    // converted file is never written over).
    bool isSourceFile(const std::filesystem::path& path) const;
    static std::string sourceName(const ProjectEntry& entry);
    // Publishes the entry as the one the run command cancels; false when a cancel came first.
    bool enter(int index);
    // Before the loop: the page's controls disabled, the run button means Cancel.
    void disableUi(bool overwrite);
    void clearRows();
    void setRow(int index, std::string text, bool select);
    void removeRow(int index);
    void showRows();
    void setTotalBar(int maximum);
    void setTotalPosition(int position);
    void setFileBar(int maximum);
    // Moves the per-file bar; the view hears of whole percents only.
    void moveFileBar(std::int64_t position);
    // The entry being converted goes back to idle; true when the page is closing.
    bool releaseEntry();
    void setNotComplete(bool notComplete);
    // After the loop: the controls enabled again, the focus on the entry last converted.
    void restoreUi(const ConversionStepCheckBox& convertAll, bool overwrite);
    // The slot goes to the completion notifier (routine, owner: the step's page).
    void handOver(WorkerRoutine notifier, void* owner);
    // Waits the pause after a file, cut short by a cancel.
    void pauseAfterFile(std::chrono::milliseconds pause);

    ConversionStepPage& page_;
    WorkerThreadRec& record_;
    Project& project_;
    const bool all_;
    const int rowImage_;
    int lastIndex_ = -1;
    int lastPercent_ = -1;
};

}  // namespace qvp3
