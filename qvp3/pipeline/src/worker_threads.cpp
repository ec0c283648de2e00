// Worker threads of the pipeline on the platform's cooperative threads.
#include "qvp3_pipeline/worker_threads.h"

#include <chrono>

namespace qvp3 {
namespace {

// A worker that ignores its stop request is waited for however long it takes:
// ending it by force would leave the project's data half written.
constexpr auto kForever = std::chrono::hours(24 * 365);

}  // namespace

WorkerThreadRec::~WorkerThreadRec() {
    stopRequested_.store(true, std::memory_order_release);
    resume_.set();
    // platform::WorkerThread's destructor joins the thread.
}

WorkerThreadRec* stpStartWorker(WorkerThreadRec* record, WorkerRoutine routine, bool startNow,
                                platform::ThreadPriority priority, std::int32_t userValue, void* owner) {
    if (record == nullptr) return nullptr;
    stpStopWorker(record);
    record->owner = owner;
    record->userValue = userValue;
    record->stopRequested_.store(false, std::memory_order_release);
    record->resume_.reset();
    if (startNow) record->resume_.set();
    record->running_.store(true, std::memory_order_release);
    const bool started = record->thread_.start(
        [record, routine = std::move(routine)](platform::WorkerContext&) {
            record->resume_.wait();
            if (!record->stopRequested()) routine(*record);
            record->running_.store(false, std::memory_order_release);
        },
        priority);
    if (!started) {
        record->running_.store(false, std::memory_order_release);
        return nullptr;
    }
    record->started_ = true;
    return record;
}

void stpResumeWorker(WorkerThreadRec& record) { record.resume_.set(); }

void stpStopWorker(WorkerThreadRec* record) {
    if (record == nullptr || !record->started_) return;
    // A thread that was never resumed ends without running its routine.
    if (!record->resume_.wait(std::chrono::milliseconds(0))) {
        record->stopRequested_.store(true, std::memory_order_release);
        record->resume_.set();
    }
    if (!record->thread_.stop(kForever)) return;  // called from the worker itself
    record->started_ = false;
    record->running_.store(false, std::memory_order_release);
}

void stpKillWorker(WorkerThreadRec* record) {
    if (record == nullptr) return;
    record->stopRequested_.store(true, std::memory_order_release);
    record->event.set();
    stpStopWorker(record);
}

void stpFreeWorker(std::unique_ptr<WorkerThreadRec>& record) {
    stpStopWorker(record.get());
    record.reset();
}

}  // namespace qvp3
