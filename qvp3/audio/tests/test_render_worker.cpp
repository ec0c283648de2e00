// The render worker: one request at a time, the rest dropped and counted;
// nothing while the host renders into a file; started and stopped cleanly.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "qvp3_audio/render_worker.h"

namespace qvp3 {
namespace {

using namespace std::chrono_literals;

struct CountingHost : CRenderTarget {
    std::atomic<int> mode{0};
    std::atomic<int> renders{0};
    std::atomic<bool> hold{false};
    std::atomic<std::uint32_t> lastFrames{0};
    void RenderBlock(float** buffers, std::uint32_t frames, std::uint32_t channels, double) override {
        while (hold.load()) std::this_thread::sleep_for(1ms);
        for (std::uint32_t c = 0; c < channels; ++c) buffers[c][0] = 1.0f;
        lastFrames = frames;
        renders.fetch_add(1);
    }
    std::int32_t OutputMode() const override { return mode.load(); }
};

void waitIdle(const CWorkThread& worker) {
    for (int i = 0; i < 2000 && worker.busy(); ++i) std::this_thread::sleep_for(1ms);
}

TEST(RenderWorker, OneRequestAtATime) {
    CountingHost host;
    CWorkThread worker(&host);
    float left[64] = {}, right[64] = {};
    float* buffers[2] = {left, right};
    EXPECT_EQ(worker.Trigger(buffers, 64, 0.0), 0) << "not started: nobody would render it";
    EXPECT_FALSE(worker.busy());
    worker.Stop();  // never started: nothing to do

    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(worker.Start()) << "a second start replaces the first thread";
    host.hold = true;
    EXPECT_EQ(worker.Trigger(buffers, 64, 1.0), 1);
    EXPECT_EQ(worker.Trigger(buffers, 32, 2.0), 0) << "a request while a render runs is dropped";
    EXPECT_EQ(worker.RenderNow(buffers, 32, 2.0), 0);
    host.hold = false;
    waitIdle(worker);
    EXPECT_EQ(host.renders.load(), 1);
    EXPECT_EQ(host.lastFrames.load(), 64u) << "the dropped request changed nothing";
    EXPECT_EQ(left[0], 1.0f);
    EXPECT_EQ(worker.channels(), 2u);

    host.mode = kOutputModeRenderToFile;
    EXPECT_EQ(worker.Trigger(buffers, 64, 3.0), 0) << "the host renders into a file";
    EXPECT_EQ(worker.RenderNow(buffers, 64, 3.0), 0);
    host.mode = 0;
    EXPECT_EQ(worker.RenderNow(buffers, 16, 4.0), 1);
    EXPECT_EQ(host.lastFrames.load(), 16u) << "rendered on the caller's thread";
    EXPECT_EQ(worker.accepted(), 2u);
    EXPECT_EQ(worker.dropped(), 5u);
    worker.Stop();
    EXPECT_FALSE(worker.running());
}

// A device thread triggers as fast as it can while blocks take their time:
// every request is rendered once or dropped, and stopping ends the thread.
TEST(RenderWorkerThreads, ADeviceThreadNeverWaitsForTheRender) {
    CountingHost host;
    CWorkThread worker(&host);
    ASSERT_TRUE(worker.Start());
    float left[8] = {}, right[8] = {};
    float* buffers[2] = {left, right};
    constexpr int kRequests = 20000;
    std::thread device([&] {
        for (int i = 0; i < kRequests; ++i) {
            worker.Trigger(buffers, 8, i);
            if (i % 1000 == 0) std::this_thread::sleep_for(1ms);
        }
    });
    device.join();
    waitIdle(worker);
    worker.Stop();
    EXPECT_EQ(worker.accepted() + worker.dropped(), static_cast<std::uint64_t>(kRequests));
    EXPECT_EQ(static_cast<std::uint64_t>(host.renders.load()), worker.accepted());
    EXPECT_GT(worker.accepted(), 0u);
}

}  // namespace
}  // namespace qvp3
