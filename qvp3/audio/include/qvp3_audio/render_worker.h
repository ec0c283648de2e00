// The render worker: takes one block request at a time from an audio
// device's timing thread (the PCM device thread, or the low-latency server's
// process callback) and renders it through the VST render host on a thread
// of its own. A request that arrives while the previous block still renders
// is dropped, never queued: a late render costs a block, never a stalled
// audio callback. Trigger neither locks nor allocates.
#pragma once

#include <atomic>
#include <cstdint>
#include <semaphore>
#include <thread>

namespace qvp3 {

// The render host as the worker sees it.
class CRenderTarget {
public:
    virtual ~CRenderTarget() = default;
    // Renders frames frames into buffers (channels pointers) and hands them
    // to the active output.
    virtual void RenderBlock(float** buffers, std::uint32_t frames, std::uint32_t channels, double elapsedMs) = 0;
    // 3 while the host renders into a WAV file: real-time requests are refused then.
    virtual std::int32_t OutputMode() const = 0;
};

inline constexpr std::int32_t kOutputModeRenderToFile = 3;

class CWorkThread {
public:
    explicit CWorkThread(CRenderTarget* host) : host_(host) {}
    virtual ~CWorkThread();  // stops the thread
    CWorkThread(const CWorkThread&) = delete;
    CWorkThread& operator=(const CWorkThread&) = delete;

    // Stops a running thread first, so that a second start replaces it.
    bool Start();
    // Asks the thread to end and waits for it; nothing when none runs.
    void Stop();
    // Accepts a request (1) unless a render runs or the host renders into a
    // file (0). The buffers are rendered on the worker.
    int Trigger(float** buffers, std::uint32_t frames, double elapsedMs);
    // The same acceptance; the render runs on the caller's thread.
    int RenderNow(float** buffers, std::uint32_t frames, double elapsedMs);

    bool running() const { return running_.load(); }
    bool busy() const { return busy_.load(); }
    // Requests accepted and dropped since construction.
    std::uint64_t accepted() const { return accepted_.load(); }
    std::uint64_t dropped() const { return dropped_.load(); }
    std::uint32_t channels() const { return channels_; }

private:
    bool accept(float** buffers, std::uint32_t frames, double elapsedMs);
    void RenderDirect();
    void WorkThreadProc();

    CRenderTarget* host_;
    std::binary_semaphore wake_{0};
    std::thread thread_;
    std::atomic<bool> stopFlag_{false};
    std::atomic<bool> busy_{false};
    std::atomic<bool> running_{false};
    std::atomic<std::uint64_t> accepted_{0};
    std::atomic<std::uint64_t> dropped_{0};
    // The request: written before the wake, read after it; never while busy.
    std::uint32_t channels_ = 2;
    std::uint32_t frames_ = 0;
    float** buffers_ = nullptr;
    double elapsedMs_ = 0.0;
};

}  // namespace qvp3
