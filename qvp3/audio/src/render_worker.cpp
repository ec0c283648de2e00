// The render worker.
#include "qvp3_audio/render_worker.h"

#include <system_error>

#include "platform/threads.h"

namespace qvp3 {

CWorkThread::~CWorkThread() { Stop(); }

bool CWorkThread::Start() {
    Stop();
    stopFlag_ = false;
    while (wake_.try_acquire()) {
    }
    try {
        running_ = true;
        thread_ = std::thread([this] {
            platform::setCurrentThreadPriority(platform::ThreadPriority::Highest);
            WorkThreadProc();
        });
    } catch (const std::system_error&) {
        running_ = false;
        return false;
    }
    return true;
}

void CWorkThread::Stop() {
    if (!thread_.joinable()) return;
    stopFlag_ = true;
    wake_.release();
    thread_.join();
    stopFlag_ = false;
    running_ = false;
}

bool CWorkThread::accept(float** buffers, std::uint32_t frames, double elapsedMs) {
    if (host_ == nullptr || host_->OutputMode() == kOutputModeRenderToFile) {
        dropped_.fetch_add(1);
        return false;
    }
    bool idle = false;
    if (!busy_.compare_exchange_strong(idle, true)) {
        dropped_.fetch_add(1);
        return false;
    }
    elapsedMs_ = elapsedMs;
    buffers_ = buffers;
    frames_ = frames;
    channels_ = 2;
    accepted_.fetch_add(1);
    return true;
}

int CWorkThread::Trigger(float** buffers, std::uint32_t frames, double elapsedMs) {
    if (!running_.load()) {  // nobody would ever render it
        dropped_.fetch_add(1);
        return 0;
    }
    if (!accept(buffers, frames, elapsedMs)) return 0;
    wake_.release();
    return 1;
}

int CWorkThread::RenderNow(float** buffers, std::uint32_t frames, double elapsedMs) {
    if (!accept(buffers, frames, elapsedMs)) return 0;
    RenderDirect();
    return 1;
}

void CWorkThread::RenderDirect() {
    if (host_->OutputMode() != kOutputModeRenderToFile) host_->RenderBlock(buffers_, frames_, channels_, elapsedMs_);
    busy_ = false;
}

void CWorkThread::WorkThreadProc() {
    while (!stopFlag_.load()) {
        wake_.acquire();
        if (stopFlag_.load()) break;
        if (busy_.load()) RenderDirect();
    }
    running_ = false;
}

}  // namespace qvp3
