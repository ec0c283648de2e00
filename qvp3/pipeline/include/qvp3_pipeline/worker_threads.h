// The record of every long job that runs on a thread of its own (the step
// workers, the completion notifier, the player and wind threads, the preview
// threads of the metronome and tune-up pages), and the four operations on it.
//
// A worker is stopped by asking it to: its stop flag and its event are set,
// or the cancel word it polls is written; it is never killed nor suspended,
// and the operations that end a record wait until its thread has returned,
// so that nothing it uses is freed under it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/threads.h"

namespace qvp3 {

struct WorkerThreadRec;
using WorkerRoutine = std::function<void(WorkerThreadRec& record)>;

struct WorkerThreadRec {
    WorkerThreadRec() = default;
    WorkerThreadRec(const WorkerThreadRec&) = delete;
    WorkerThreadRec& operator=(const WorkerThreadRec&) = delete;
    ~WorkerThreadRec();

    // The stop signal of loops that wait, or a thread's done signal.
    platform::Event event{platform::Event::Kind::AutoReset};
    std::int32_t userValue = 0;
    void* owner = nullptr;
    // True while the thread has not yet returned from its routine.
    bool running() const { return running_.load(std::memory_order_acquire); }
    bool stopRequested() const { return stopRequested_.load(std::memory_order_acquire); }
    // True once the thread exists (started or waiting to be resumed).
    bool hasThread() const { return started_; }

    // --- used by the operations below
    platform::WorkerThread thread_;
    platform::Event resume_{platform::Event::Kind::ManualReset};
    std::atomic<bool> running_{false};
    std::atomic<bool> stopRequested_{false};
    bool started_ = false;
};

// Stores owner and user value, clears the stop request and starts the
// thread, which runs routine(record) at the priority (best effort). Without
// startNow the thread waits until stpResumeWorker. The record (null when
// the thread cannot be created).
WorkerThreadRec* stpStartWorker(WorkerThreadRec* record, WorkerRoutine routine, bool startNow,
                                platform::ThreadPriority priority, std::int32_t userValue, void* owner);
// Lets a thread started without startNow run its routine.
void stpResumeWorker(WorkerThreadRec& record);
// Waits for the thread to return and clears the record's thread; a thread
// still waiting to be resumed ends without running its routine. Callers that
// want an orderly end set the event or the cancel word first. Safe on a
// record whose thread has already ended, and from that thread itself (it is
// then left to be joined by the record's destructor).
void stpStopWorker(WorkerThreadRec* record);
// Asks the thread to stop (stop flag and event) and waits for it: there is
// no killing a thread here.
void stpKillWorker(WorkerThreadRec* record);
// stpStopWorker, then frees the record.
void stpFreeWorker(std::unique_ptr<WorkerThreadRec>& record);

}  // namespace qvp3
