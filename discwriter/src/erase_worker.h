// Erasing runs on a thread of its own (EraseThreadProc), which reports through
// the erase sink and ends with the erase-done message.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "recorder.h"

namespace discwriter {

class EraseWorker {
public:
    EraseWorker(std::shared_ptr<Recorder> recorder, bool full);
    ~EraseWorker();  // finish(1 s)
    EraseWorker(const EraseWorker&) = delete;
    EraseWorker& operator=(const EraseWorker&) = delete;

    bool start();
    bool running();
    // Waits up to `grace` for the erase to end, then asks the drive to stop and
    // waits for the thread: a thread is never left running or killed.
    void finish(std::chrono::milliseconds grace);

private:
    void EraseThreadProc();

    std::shared_ptr<Recorder> recorder_;
    bool full_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
};

}  // namespace discwriter
