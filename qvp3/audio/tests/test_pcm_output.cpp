// The PCM output device: the 16-bit conversion, frames against bytes, the
// half-buffer loop on a fake device and clock (a half per wake, the rendered
// block in the next half, the old half again when the render was late), a
// device that goes away, and real playing into ALSA's null and file devices.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "fake_pcm_backend.h"
#include "platform/message_target.h"
#include "platform_testing/fake_clock.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_audio/pcm_output.h"
#include "qvp3_audio/render_worker.h"

namespace qvp3 {
namespace {

using namespace std::chrono_literals;
using testing::FakePcmBackend;

constexpr std::uint32_t kBlock = 4096;
constexpr double kRate = 44100.0;

void waitIdle(const CWorkThread& worker) {
    for (int i = 0; i < 5000 && worker.busy(); ++i) std::this_thread::sleep_for(1ms);
}

// The fake clock's nanosecond at which the ring has room for the k-th half
// (k from 1): k halves have played since the start.
std::int64_t roomAtNs(std::int64_t k) {
    return (k * kBlock * 1'000'000'000 + 44100 - 1) / 44100;
}

// --- the conversion ---

TEST(PcmConversion, ClipsScalesAndTruncates) {
    struct Case {
        float in;
        std::int16_t out;
    };
    const Case cases[] = {
        {1.0f, 32767},     {-1.0f, -32768},  {0.0f, 0},           {2.0f, 32767},
        {-2.0f, -32768},   {0.5f, 16383},    {-0.5f, -16384},     {0.25f, 8191},
        {-0.25f, -8192},   {1e-6f, 0},       {-1e-6f, 0},         {1e30f, 32767},
        {NAN, 0},          {INFINITY, 0},    {-INFINITY, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(audFloatToPcm16(c.in), c.out) << "input " << c.in;
}

// --- a device on the fake backend ---

struct FakeDevice {
    platform::testing::FakeClock clock;
    FakePcmBackend* fake = new FakePcmBackend(clock);
    CSpecDSoundOutDevice device{std::unique_ptr<PcmBackend>(fake), clock};
};

TEST(PcmOutput, FramesAndBytesOfTheHalves) {
    FakeDevice d;
    ASSERT_TRUE(d.device.OpenByName("fake", kBlock));
    EXPECT_EQ(d.device.BlockFrames(), 4096u);
    EXPECT_EQ(d.device.HalfBytes(), 16384u);
    EXPECT_EQ(d.device.BufferBytes(), 32768u);
    const FakePcmBackend::Opened opened = d.fake->opened();
    EXPECT_EQ(opened.periodFrames, 4096u) << "a period is one half, in frames";
    EXPECT_EQ(opened.periods, 2u);
    EXPECT_EQ(opened.rate, 44100u);
    EXPECT_EQ(opened.channels, 2u);
    PcmWaveFormat format;
    ASSERT_TRUE(d.device.GetFormat(format));
    EXPECT_EQ(format.blockAlign, 4);
    EXPECT_EQ(format.avgBytesPerSec, 176400u);
    EXPECT_EQ(format.bitsPerSample, 16);

    const std::vector<std::int16_t> data(2 * 2 * kBlock, 7);  // two halves' worth
    struct Case {
        std::uint32_t half, bytes;
        bool ok;
        std::uint32_t frames;
    };
    const Case cases[] = {
        {0, 16384, true, 4096}, {1, 32768, true, 4096} /* at most one half */, {1, 10, true, 2} /* whole frames */,
        {0, 0, true, 0},        {2, 16384, false, 0},
    };
    for (const Case& c : cases) {
        std::uint32_t frames = 99;
        EXPECT_EQ(d.device.WriteHalf(c.half, data.data(), c.bytes, &frames), c.ok) << c.half << "/" << c.bytes;
        if (c.ok) {
            EXPECT_EQ(frames, c.frames) << c.half << "/" << c.bytes;
        }
    }
    d.device.Close();
    EXPECT_FALSE(d.device.WriteHalf(0, data.data(), 16384)) << "closed";
    EXPECT_FALSE(d.device.GetFormat(format));
}

TEST(PcmOutput, RefusedOpensAndIdleStops) {
    FakeDevice d;
    EXPECT_TRUE(d.device.Stop()) << "never opened: not playing is success";
    EXPECT_FALSE(d.device.Play());

    struct Case {
        int openError;
        std::uint32_t frames;
        int expected;
    };
    const Case cases[] = {{-ENOENT, kBlock, -ENOENT}, {0, 0, -EINVAL}, {0, kPcmMaxBlockFrames + 1, -EINVAL}};
    for (const Case& c : cases) {
        d.fake->setOpenError(c.openError);
        int err = 0;
        EXPECT_FALSE(d.device.OpenByName("fake", c.frames, &err));
        EXPECT_EQ(err, c.expected);
        EXPECT_FALSE(d.device.IsOpen());
        EXPECT_FALSE(d.fake->isOpen()) << "nothing stays open";
        EXPECT_FALSE(d.device.Play());
    }
    d.fake->setOpenError(0);
    ASSERT_TRUE(d.device.OpenByName("fake", kBlock));
    EXPECT_EQ(d.device.Name(), "fake");
    EXPECT_TRUE(d.device.Stop()) << "open, not playing";
    const float left[4] = {0.5f}, right[4] = {0.5f};
    EXPECT_FALSE(d.device.WriteRenderedBlock(4, left, right)) << "stopped: the block is dropped";
    EXPECT_TRUE(d.fake->writes().empty());
}

// --- the half-buffer loop ---

// Renders block n (from 1) as the constant n / 100 on the left and -n / 100
// on the right and hands it to the device, as the render host does.
struct BlockHost : CRenderTarget {
    CSpecDSoundOutDevice* device = nullptr;
    std::atomic<bool> hold{false};
    std::atomic<int> rendered{0};
    std::vector<float> left = std::vector<float>(2 * kBlock), right = std::vector<float>(2 * kBlock);
    mutable std::mutex mutex;
    std::vector<double> elapsed;

    void RenderBlock(float**, std::uint32_t frames, std::uint32_t, double elapsedMs) override {
        while (hold.load()) std::this_thread::sleep_for(1ms);
        const int n = rendered.load() + 1;
        std::fill_n(left.begin(), frames, static_cast<float>(n) / 100.0f);
        std::fill_n(right.begin(), frames, -static_cast<float>(n) / 100.0f);
        device->WriteRenderedBlock(frames, left.data(), right.data());
        {
            std::lock_guard lock(mutex);
            elapsed.push_back(elapsedMs);
        }
        rendered = n;
    }
    std::int32_t OutputMode() const override { return 0; }
    std::vector<double> elapsedMs() const {
        std::lock_guard lock(mutex);
        return elapsed;
    }
};

// The block number a written half holds (0 for silence), -1 for anything else.
int blockIn(const std::vector<std::int16_t>& samples) {
    for (int n = 0; n < 100; ++n) {
        const std::int16_t l = audFloatToPcm16(static_cast<float>(n) / 100.0f);
        const std::int16_t r = audFloatToPcm16(-static_cast<float>(n) / 100.0f);
        bool all = samples.size() == 2 * kBlock;
        for (std::size_t i = 0; all && i < samples.size(); i += 2) all = samples[i] == l && samples[i + 1] == r;
        if (all) return n;
    }
    return -1;
}

std::vector<int> blocksWritten(const FakePcmBackend& fake) {
    std::vector<int> blocks;
    for (const auto& w : fake.writes()) blocks.push_back(blockIn(w.samples));
    return blocks;
}

struct RenderedDevice : FakeDevice {
    BlockHost host;
    CWorkThread worker{&host};
    RenderedDevice() {
        host.device = &device;
        worker.Start();
        device.SetRenderWorker(&worker);
        fake->shutGate();
    }
    ~RenderedDevice() { device.Close(); }  // before the worker goes
    // Lets one more half finish and waits until its wake has triggered the next render.
    void nextHalf(std::uint64_t wake) {
        fake->allow(1);
        ASSERT_TRUE(fake->waitForWaits(wake + 1));
    }
};

TEST(PcmHalfBufferThreads, RendersIntoTheNextHalfAndReplaysTheOldOneWhenLate) {
    RenderedDevice d;
    ASSERT_TRUE(d.device.OpenByName("fake", kBlock));
    ASSERT_TRUE(d.device.Play());
    ASSERT_TRUE(d.fake->waitForWaits(1));
    waitIdle(d.worker);
    EXPECT_EQ(d.host.rendered.load(), 1) << "the first block renders while the silent halves play";

    d.nextHalf(1);  // half 0 <- block 1
    waitIdle(d.worker);
    d.host.hold = true;  // block 3, asked for at the next wake, is late
    d.nextHalf(2);       // half 1 <- block 2
    d.nextHalf(3);       // half 0 plays block 1 again
    d.host.hold = false;
    waitIdle(d.worker);
    d.nextHalf(4);  // half 1 <- block 3
    waitIdle(d.worker);
    EXPECT_TRUE(d.device.Stop());

    EXPECT_EQ(blocksWritten(*d.fake), (std::vector<int>{0, 0, 1, 2, 1, 3}));
    for (const auto& w : d.fake->writes()) EXPECT_EQ(w.samples.size(), 2 * kBlock) << "whole halves of frames";
    EXPECT_EQ(d.device.HalvesPlayed(), 4u);
    EXPECT_EQ(d.device.HalvesReplayed(), 1u);
    EXPECT_EQ(d.worker.dropped(), 1u) << "the wake during the late render";
    // Renders are asked for at the wakes: 0, 1, 2 and 4 halves after the start.
    const double half = kBlock / kRate * 1000.0;
    const std::vector<double> elapsed = d.host.elapsedMs();
    ASSERT_EQ(elapsed.size(), 4u);
    const double expected[] = {0.0, half, 2 * half, 4 * half};
    for (std::size_t i = 0; i < elapsed.size(); ++i) EXPECT_NEAR(elapsed[i], expected[i], 1e-3) << "render " << i + 1;
    EXPECT_FALSE(d.device.IsPlaying());
}

TEST(PcmHalfBufferThreads, WakesOncePerHalfAtTheSampleRate) {
    FakeDevice d;
    d.fake->shutGate();
    ASSERT_TRUE(d.device.OpenByName("fake", kBlock));
    ASSERT_TRUE(d.device.Play());
    constexpr int kHalves = 40;
    d.fake->allow(kHalves);
    ASSERT_TRUE(d.fake->waitForWaits(kHalves + 1));
    EXPECT_TRUE(d.device.Stop());

    const auto writes = d.fake->writes();
    ASSERT_EQ(writes.size(), static_cast<std::size_t>(kHalves + 2));
    EXPECT_EQ(writes[0].atNs, 0);
    EXPECT_EQ(writes[1].atNs, 0);
    for (int k = 1; k <= kHalves; ++k)
        EXPECT_EQ(writes[k + 1].atNs, roomAtNs(k)) << "half " << k << " follows the sample rate without drift";
    EXPECT_EQ(d.device.HalvesPlayed(), static_cast<std::uint64_t>(kHalves));
    EXPECT_EQ(d.device.HalvesReplayed(), static_cast<std::uint64_t>(kHalves)) << "no worker: the halves loop";
}

TEST(PcmHalfBufferThreads, ClipsAndFitsARenderedBlockIntoOneHalf) {
    FakeDevice d;  // no worker: the test delivers the blocks itself
    d.fake->shutGate();
    ASSERT_TRUE(d.device.OpenByName("fake", kBlock));
    ASSERT_TRUE(d.device.Play());
    struct Case {
        std::uint32_t frames;  // delivered
        float value;
        std::uint32_t framesOfSound;  // in the half
    };
    // Longer than a half: only the half's frames; shorter: the rest is silent.
    const Case cases[] = {{2 * kBlock, 1.5f, kBlock}, {100, -0.5f, 100}, {kBlock, 0.25f, kBlock}};
    std::uint64_t wake = 1;
    for (const Case& c : cases) {
        ASSERT_TRUE(d.fake->waitForWaits(wake));
        const std::vector<float> left(c.frames, c.value), right(c.frames, -c.value);
        EXPECT_TRUE(d.device.WriteRenderedBlock(c.frames, left.data(), right.data()));
        d.fake->allow(1);
        ASSERT_TRUE(d.fake->waitForWaits(++wake));
        const std::vector<std::int16_t> samples = d.fake->writes().back().samples;
        ASSERT_EQ(samples.size(), 2 * kBlock) << c.frames;
        const auto sound = static_cast<std::ptrdiff_t>(2 * c.framesOfSound);
        EXPECT_EQ(std::count(samples.begin(), samples.begin() + sound, audFloatToPcm16(c.value)), sound / 2);
        EXPECT_EQ(std::count(samples.begin(), samples.begin() + sound, audFloatToPcm16(-c.value)), sound / 2);
        EXPECT_TRUE(std::all_of(samples.begin() + sound, samples.end(), [](std::int16_t s) { return s == 0; }));
    }
    EXPECT_EQ(d.device.HalvesReplayed(), 0u);
    EXPECT_TRUE(d.device.Stop());
    EXPECT_TRUE(d.device.Stop()) << "a second stop: not playing";
}

// --- a device that goes away ---

TEST(PcmDeviceLossThreads, StopsWithAMessageAndRecoversFromUnderruns) {
    enum class Fault { Wait, Write, Stall };
    struct Case {
        const char* what;
        Fault fault;
        int error;
        int recoverResult;
        int expectedError;  // 0: plays on
    };
    const Case cases[] = {
        {"unplugged while waiting", Fault::Wait, -ENODEV, 0, -ENODEV},
        {"descriptor gone while writing", Fault::Write, -EBADFD, 0, -EBADFD},
        {"suspended and not resumed", Fault::Write, -ESTRPIPE, -ENOSYS, -ESTRPIPE},
        {"takes no more frames", Fault::Stall, 0, 0, -ETIMEDOUT},
        {"underrun", Fault::Write, -EPIPE, 0, 0},
        {"suspended and resumed", Fault::Wait, -ESTRPIPE, 0, 0},
    };
    constexpr platform::MessageId kLost = platform::WM_PLAYBACK_ENDED;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDevice d;
        platform::RecordingMessageTarget target;
        d.device.SetNotifyTarget(&target, kLost);
        d.fake->shutGate();
        d.fake->setRecoverResult(c.recoverResult);
        ASSERT_TRUE(d.device.OpenByName("hw:1", kBlock));
        ASSERT_TRUE(d.device.Play());
        ASSERT_TRUE(d.fake->waitForWaits(1));
        if (c.fault == Fault::Wait) d.fake->failNextWait(c.error);
        if (c.fault == Fault::Write) d.fake->failNextWrite(c.error);
        if (c.fault == Fault::Stall) d.fake->setStalled(true);
        const std::size_t writesBefore = d.fake->writes().size();
        d.fake->allow(5);
        if (c.expectedError != 0) {
            ASSERT_TRUE(target.waitForCount(1, 10s)) << "no message";
            const auto message = target.messages().front();
            EXPECT_EQ(message.msg, kLost);
            EXPECT_EQ(message.wParam, kPcmOutputLost);
            EXPECT_EQ(message.lParam, c.expectedError);
            EXPECT_EQ(d.device.LastError(), c.expectedError);
            EXPECT_NE(d.device.LastErrorText().find("\"hw:1\""), std::string::npos);
            EXPECT_FALSE(d.device.IsPlaying());
            EXPECT_FALSE(d.device.WriteRenderedBlock(0, nullptr, nullptr));
        } else {
            ASSERT_TRUE(d.fake->waitForWaits(6));
            EXPECT_TRUE(d.device.IsPlaying());
            EXPECT_EQ(d.device.Underruns(), 1u);
            EXPECT_EQ(d.fake->recovers(), 1);
            EXPECT_GE(d.fake->writes().size(), writesBefore + 2) << "the emptied ring is filled again";
            EXPECT_EQ(target.count(), 0u);
        }
        EXPECT_TRUE(d.device.Stop());
        d.device.Close();
        EXPECT_EQ(target.count(), c.expectedError != 0 ? 1u : 0u) << "one message per loss";
    }
}

// --- ALSA ---

// A 440 Hz sine at half scale, continuous across blocks.
struct SineHost : CRenderTarget {
    CSpecDSoundOutDevice* device = nullptr;
    std::uint64_t frame = 0;
    std::vector<float> left = std::vector<float>(kBlock), right = std::vector<float>(kBlock);

    static float at(std::uint64_t f) { return 0.5f * static_cast<float>(std::sin(2.0 * M_PI * 440.0 * f / kRate)); }
    void RenderBlock(float**, std::uint32_t frames, std::uint32_t, double) override {
        for (std::uint32_t i = 0; i < frames; ++i) left[i] = right[i] = at(frame + i);
        frame += frames;
        device->WriteRenderedBlock(frames, left.data(), right.data());
    }
    std::int32_t OutputMode() const override { return 0; }
};

struct AlsaPlay {
    SineHost host;
    CWorkThread worker{&host};
    CSpecDSoundOutDevice device;
    AlsaPlay() {
        host.device = &device;
        worker.Start();
        device.SetRenderWorker(&worker);
    }
};

TEST(PcmNullDeviceThreads, PlaysASineAtTheSampleRateWithoutDrops) {
    AlsaPlay p;
    int err = 0;
    if (!p.device.OpenByName("null", kBlock, &err)) GTEST_SKIP() << "ALSA's null device does not open: " << err;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(p.device.Play());
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(p.device.IsPlaying());
    EXPECT_TRUE(p.device.Stop());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double halves = seconds * kRate / kBlock;

    const auto played = static_cast<double>(p.device.HalvesPlayed());
    EXPECT_LE(played, halves + 1) << "never faster than the sample rate";
    EXPECT_GE(played, halves / 2) << "far behind the sample rate";
    std::cout << "null device: " << played << " halves in " << seconds << " s (" << halves << " due), "
              << p.device.HalvesReplayed() << " replayed, " << p.device.Underruns() << " underruns, "
              << p.worker.dropped() << " renders dropped\n";
    EXPECT_EQ(p.device.HalvesReplayed(), 0u);
    EXPECT_EQ(p.device.Underruns(), 0u);
    EXPECT_EQ(p.worker.dropped(), 0u);
}

TEST(PcmFileDeviceThreads, WritesTheHalvesAsInterleavedFrames) {
    platform::testing::TempFolder folder;
    const auto file = folder.path() / "out.raw";
    {
        AlsaPlay p;
        int err = 0;
        if (!p.device.OpenByName("file:'" + file.string() + "',raw", kBlock, &err))
            GTEST_SKIP() << "ALSA's file device does not open: " << err;
        ASSERT_TRUE(p.device.Play());
        std::this_thread::sleep_for(400ms);
        EXPECT_TRUE(p.device.Stop());
        ASSERT_EQ(p.device.HalvesReplayed(), 0u) << "a late render on an idle machine";
        p.device.Close();
    }
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 3u * 16384) << "two silent halves and at least one block";
    EXPECT_EQ(bytes.size() % 16384, 0u) << "whole halves";
    for (std::size_t i = 0; i < 2 * 16384; ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;
    for (std::uint32_t f = 0; f < kBlock; ++f) {
        const std::int16_t expected = audFloatToPcm16(SineHost::at(f));
        for (std::size_t channel = 0; channel < 2; ++channel) {
            const std::size_t at = 2 * 16384 + f * 4 + channel * 2;
            const auto sample = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[at]) |
                                                          static_cast<std::uint8_t>(bytes[at + 1]) << 8);
            ASSERT_EQ(sample, expected) << "frame " << f << " channel " << channel;
        }
    }
}

TEST(PcmDevices, ListsTheDefaultFirstAndTheHintedOutputs) {
    const std::vector<PcmDeviceInfo> devices = audEnumPcmDevices();
    ASSERT_FALSE(devices.empty());
    EXPECT_EQ(devices.front().name, "default");
    bool null = false;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        EXPECT_EQ(devices[i].isDefault, i == 0) << devices[i].name;
        EXPECT_FALSE(devices[i].description.empty()) << devices[i].name;
        EXPECT_EQ(devices[i].description.find('\n'), std::string::npos) << devices[i].name;
        null = null || devices[i].name == "null";
    }
    EXPECT_TRUE(null || devices.size() > 1) << "ALSA lists at least its null device";
}

}  // namespace
}  // namespace qvp3
