// Events, thread priorities and worker threads in the manner of their Windows
// counterparts, on std::thread and condition variables. A worker is stopped
// by asking it to stop; it is never killed.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace platform {

// Time-out that never expires.
inline constexpr std::chrono::milliseconds kInfiniteWait = std::chrono::milliseconds::max();

// An event object. A manual-reset event stays set until reset() and releases
// every waiter; an auto-reset event releases exactly one waiter per set() and
// resets itself. As on Windows, set() releases the threads waiting at that
// moment even when reset() follows before they run, and setting an event that
// is already set (with nobody waiting) has no further effect.
class Event {
public:
    enum class Kind { AutoReset, ManualReset };

    explicit Event(Kind kind = Kind::AutoReset, bool initiallySet = false);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    // Waits until the event is set; false when the time-out passed first.
    // A zero time-out only tests (and, for auto-reset, consumes) the state.
    bool wait(std::chrono::milliseconds timeout = kInfiniteWait);

private:
    const Kind kind_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_;
    std::size_t waiters_ = 0;     // threads inside wait()
    std::size_t releases_ = 0;    // auto-reset: waiters granted a set() but not yet returned
    std::uint64_t generation_ = 0;  // manual-reset: counts set() calls that released waiters
};

// The Windows thread priority levels, with their Windows values, so that a
// stored priority setting can be cast.
enum class ThreadPriority : int {
    Idle = -15,
    Lowest = -2,
    BelowNormal = -1,
    Normal = 0,
    AboveNormal = 1,
    Highest = 2,
    TimeCritical = 15,
};

// Sets the calling thread's priority, best effort: nice values from 19 (Idle)
// to -5 (AboveNormal); real-time scheduling for Highest (round robin) and
// TimeCritical (FIFO) where the process may use it, else nice -10 and -15.
// Raising a priority needs privileges that an ordinary process lacks (even
// back to Normal once lowered). Returns whether the level took effect; a
// refusal is only reported by the result, never raised.
bool setCurrentThreadPriority(ThreadPriority priority);

// What a worker's function receives: the stop request to poll and the wake
// event to wait on.
class WorkerContext {
public:
    WorkerContext(const std::atomic<bool>& stop, Event& wake) : stop_(stop), wake_(wake) {}

    bool stopRequested() const { return stop_.load(std::memory_order_acquire); }
    // Auto-reset; set by WorkerThread::signal() and requestStop().
    Event& wakeEvent() { return wake_; }

private:
    const std::atomic<bool>& stop_;
    Event& wake_;
};

// One worker thread at a time, started with a function and a priority.
//
// The thread is stopped cooperatively: requestStop() sets the flag and wakes
// the thread, and the function is expected to return soon after. stop() waits
// for that up to a time-out; a thread that does not end in time is left
// running (stop returns false, running() stays true) and the destructor,
// which requests the stop as well, waits for it however long it takes. The
// function must therefore poll the stop flag or wait on the wake event.
//
// start(), stop() and the destructor belong to the owning thread (the worker
// must not destroy its own WorkerThread); signal(),
// requestStop() and running() may be called from any thread. The function must
// not throw (an exception ends the program, as with any std::thread).
class WorkerThread {
public:
    using Function = std::function<void(WorkerContext&)>;
    // Creates the thread that runs the body; replaceable so that a failing
    // creation can be tested. Failure is an exception or a non-joinable result.
    using Launcher = std::function<std::thread(std::function<void()> body)>;

    WorkerThread();
    explicit WorkerThread(Launcher launcher);
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts the thread, which sets its priority (best effort) before it runs
    // the function. False when the thread could not be created, or when a
    // thread started earlier has not been stopped yet (stop() first).
    bool start(Function fn, ThreadPriority priority = ThreadPriority::Normal);
    // Wakes the thread if it waits on the wake event.
    void signal();
    // Sets the stop flag and wakes the thread; returns at once.
    void requestStop();
    // Requests the stop and joins the thread if it ends within the time-out.
    // True when no thread is left (also when none was started); false when
    // the thread is still running, or when called from the worker itself.
    bool stop(std::chrono::milliseconds timeout);
    // True from a successful start() until the function has returned.
    bool running() const { return running_.load(std::memory_order_acquire); }

private:
    void run(const Function& fn, ThreadPriority priority);

    Launcher launcher_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{false};
    std::atomic<std::thread::id> workerId_{};  // noted by the worker as it starts
    Event wake_{Event::Kind::AutoReset};
    Event finished_{Event::Kind::ManualReset};
};

}  // namespace platform
