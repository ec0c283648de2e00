#include "erase_worker.h"

#include "discwriter/discwriter.h"
#include "library_state.h"
#include "progress_sinks.h"

namespace discwriter {

EraseWorker::EraseWorker(std::shared_ptr<Recorder> recorder, bool full)
    : recorder_(std::move(recorder)), full_(full) {}

EraseWorker::~EraseWorker() { finish(std::chrono::milliseconds(1000)); }

bool EraseWorker::start() {
    try {
        thread_ = std::thread([this] { EraseThreadProc(); });
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void EraseWorker::EraseThreadProc() {
    CCallBackErase sink;
    HResult hr = DISCWRITER_E_NO_DRIVE;
    if (recorder_) hr = recorder_->erase(full_, [&sink](int elapsed, int total) { sink.update(elapsed, total); }, stop_);
    postToClient(DISCWRITER_WM_CD_ERASE_DONE, static_cast<std::uint32_t>(hr), 0);
    std::lock_guard lock(mutex_);
    done_ = true;
    ended_.notify_all();
}

bool EraseWorker::running() {
    std::lock_guard lock(mutex_);
    return thread_.joinable() && !done_;
}

void EraseWorker::finish(std::chrono::milliseconds grace) {
    if (!thread_.joinable()) return;
    {
        std::unique_lock lock(mutex_);
        if (!ended_.wait_for(lock, grace, [this] { return done_; })) stop_.store(true);
    }
    thread_.join();
}

}  // namespace discwriter
