#include "platform/threads.h"

#include <utility>

namespace platform {

namespace {

std::thread launchStdThread(std::function<void()> body) {
    return std::thread(std::move(body));
}

}  // namespace

WorkerThread::WorkerThread() : WorkerThread(launchStdThread) {}

WorkerThread::WorkerThread(Launcher launcher) : launcher_(std::move(launcher)) {}

WorkerThread::~WorkerThread() {
    requestStop();
    if (thread_.joinable()) thread_.join();
}

bool WorkerThread::start(Function fn, ThreadPriority priority) {
    if (thread_.joinable()) return false;
    stop_.store(false, std::memory_order_release);
    wake_.reset();
    finished_.reset();
    // Set before the thread exists: a function that returns at once clears it.
    running_.store(true, std::memory_order_release);
    try {
        thread_ = launcher_([this, fn = std::move(fn), priority] { run(fn, priority); });
    } catch (...) {
        // std::system_error when the system has no thread to give; the
        // object stays as if start() had not been called.
    }
    if (!thread_.joinable()) {
        running_.store(false, std::memory_order_release);
        finished_.set();
        return false;
    }
    return true;
}

void WorkerThread::run(const Function& fn, ThreadPriority priority) {
    workerId_.store(std::this_thread::get_id(), std::memory_order_release);
    setCurrentThreadPriority(priority);  // best effort: a refusal is no reason not to work
    WorkerContext context(stop_, wake_);
    if (fn) fn(context);
    running_.store(false, std::memory_order_release);
    finished_.set();
}

void WorkerThread::signal() {
    wake_.set();
}

void WorkerThread::requestStop() {
    stop_.store(true, std::memory_order_release);
    wake_.set();
}

bool WorkerThread::stop(std::chrono::milliseconds timeout) {
    requestStop();
    // The worker cannot join itself. (The id it noted rather than a
    // thread-local mark: libraries loaded at run time carry this code too,
    // and their thread-local blocks outlive an unloading.)
    if (workerId_.load(std::memory_order_acquire) == std::this_thread::get_id()) return false;
    if (!thread_.joinable()) return true;
    if (!finished_.wait(timeout)) return false;
    thread_.join();
    workerId_.store(std::thread::id{}, std::memory_order_release);  // ids are reused once a thread is gone
    return true;
}

}  // namespace platform
