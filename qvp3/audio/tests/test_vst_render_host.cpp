// The render host: a performance of the note tracker played through the
// synth test plug-in, offline and in real time, to the sample; the event
// queue's bound, the channel mask, the master effect, panorama, tracks
// without an instrument, stopping with sounding notes, and the tempo map.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <filesystem>
#include <vector>

#include "platform/message_target.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/wave_file.h"
#include "qvp3_audio/vst_render_host.h"

namespace qvp3 {
namespace {

std::filesystem::path plugin(const std::string& name) {
    return std::filesystem::path(QVP3_TEST_PLUGIN_DIR) / (name + ".so");
}

constexpr int kScale[] = {60, 62, 64, 65, 67, 69, 71, 72};
constexpr std::uint32_t kQuarterFrames = 22050;  // 500 ms at 120

// One track: the C-major scale in quarters at 480 ticks per quarter.
void scaleTrack(CNoteTracker& tracker, std::uint8_t channel = 0) {
    ASSERT_TRUE(plyNoteTrackerAlloc(tracker, 1));
    auto& queue = tracker.tracks[0].queue;
    for (int i = 0; i < 8; ++i) {
        const auto key = static_cast<std::uint32_t>(kScale[i]);
        plyEventQueueAppend(queue, 0x90u | channel | (key << 8) | (100u << 16), static_cast<std::uint32_t>(480 * i));
        plyEventQueueAppend(queue, 0x80u | channel | (key << 8), static_cast<std::uint32_t>(480 * (i + 1)));
    }
}

struct CaptureOutput : CBlockOutput {
    std::vector<float> left, right;
    bool WriteRenderedBlock(std::uint32_t frames, const float* l, const float* r) override {
        left.insert(left.end(), l, l + frames);
        right.insert(right.end(), r, r + frames);
        return true;
    }
};

struct RenderFixture : ::testing::Test {
    CNoteTracker tracker;
    CMyVSTHost host;
    int synth = -1;

    void SetUp() override {
        scaleTrack(tracker);
        host.tracks = &tracker;
        host.trackInfo.assign(1, VstTrack{});
        host.masterVolume = 1.0f;
        synth = host.LoadPlugIn(plugin("synth"));
        ASSERT_GE(synth, 0);
        host.currentSlot = synth;
        host.renderBlockSize = 441;
        host.blockMs = 10.0f;
    }
    // Renders offline block after block until the performance ends.
    std::vector<float> renderOffline(int blocks, bool* ended = nullptr) {
        std::vector<float> left;
        EXPECT_TRUE(host.StartPlayback(nullptr, true));
        bool done = false;
        for (int b = 0; b < blocks && !done; ++b) {
            float* const* out = host.RenderOfflineBlock(done, b * 10.0);
            EXPECT_NE(out, nullptr);
            if (out == nullptr) break;
            left.insert(left.end(), out[0], out[0] + 441);
        }
        if (ended) *ended = done;
        host.StopPlayback();
        return left;
    }
};

// An event due exactly where a block ends is pulled with that block and
// sounds on its last frame: each change comes one frame before its time.
void expectScale(const std::vector<float>& left, float gain) {
    ASSERT_GE(left.size(), 8u * kQuarterFrames);
    for (std::size_t n = 0; n < left.size(); ++n) {
        const std::size_t note = (n + 1) / kQuarterFrames;
        const float want = note < 8 ? gain * static_cast<float>(kScale[note]) / 128.0f : 0.0f;
        ASSERT_FLOAT_EQ(left[n], want) << "frame " << n;
    }
}

TEST_F(RenderFixture, OfflineTheScaleSoundsToTheSampleAndEnds) {
    bool ended = false;
    const std::vector<float> left = renderOffline(420, &ended);
    EXPECT_TRUE(ended) << "the performance ends after its last note-off";
    expectScale(left, 1.0f);
}

TEST_F(RenderFixture, InRealTimeBlocksGoToTheOutputAndTheEndIsTold) {
    CaptureOutput output;
    platform::RecordingMessageTarget window;
    host.output = &output;
    host.SetBlockSize(441);
    ASSERT_TRUE(host.StartPlayback(&window, false));
    EXPECT_EQ(host.processLevel, kVstProcessRealtime);
    for (int b = 0; b < 420; ++b) host.RenderBlock(nullptr, 1024, 0, 5000.0 + b * 10.0);
    expectScale(output.left, 1.0f);
    ASSERT_EQ(window.count(), 1u);
    EXPECT_EQ(window.messages()[0].msg, WM_PLAYBACK_ENDED);
    EXPECT_DOUBLE_EQ(host.timeInfo.samplePos, 420.0 * 441.0);
}

TEST_F(RenderFixture, MasterEffectPanoramaAndChannels) {
    // The gain test plug-in halves what it gets (parameter 0.25, times two).
    const int master = host.LoadPlugIn(plugin("gain"));
    host.masterEffectSlot = master;
    expectScale(renderOffline(420), 0.5f);
    host.masterEffectSlot = -1;

    auto* synthEffect = dynamic_cast<CMyVSTEffect*>(host.GetEffect(synth));
    audSetPan(*synthEffect, 127);
    for (float s : renderOffline(420)) ASSERT_NEAR(s, 0.0f, 1e-6f) << "hard right: the left channel is silent";
    host.StartPlayback(nullptr, true);
    bool ended = false;
    EXPECT_FLOAT_EQ(host.RenderOfflineBlock(ended, 0.0)[1][10], 100.0f / 128.0f);
    for (int b = 1; b < 420 && !ended; ++b) host.RenderOfflineBlock(ended, b * 10.0);
    host.StopPlayback();

    audSetPan(*synthEffect, 64);
    synthEffect->channelMask = 0x0002;  // plays channel 2 only
    const std::vector<float> silent = renderOffline(60);
    for (float s : silent) ASSERT_EQ(s, 0.0f) << "the scale is on channel 1";
}

TEST_F(RenderFixture, ATrackWithoutItsInstrumentGivesSilence) {
    host.perTrackMode = true;
    host.trackInfo[0].slot = 17;  // nothing there
    host.StartPlayback(nullptr, true);
    bool ended = false;
    float* const* out = host.RenderOfflineBlock(ended, 0.0);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out, host.silence());
    out = host.RenderOfflineBlock(ended, 10.0);
    EXPECT_EQ(out, host.silence());
    host.StopPlayback();
    host.trackInfo[0].slot = synth;
    host.StartPlayback(nullptr, true);
    out = host.RenderOfflineBlock(ended, 0.0);
    EXPECT_FLOAT_EQ(out[0][0], 60.0f / 128.0f) << "per-track mode plays the track's own instrument";
    host.StopPlayback();
}

TEST_F(RenderFixture, TheQueueHoldsTwoThousandEventsAndLateEventsPlayAtTheBlockStart) {
    for (int i = 0; i < 2500; ++i) host.QueueEvent(0x403C90, 0.0, 0);
    EXPECT_EQ(host.queuedEvents(), kRenderQueueEvents) << "a full queue drops the rest";
    host.QueueEvent(0xF8, 0.0, 0);
    EXPECT_EQ(host.queuedEvents(), kRenderQueueEvents);

    CMyVSTHost fresh;
    CNoteTracker none;
    plyNoteTrackerAlloc(none, 1);
    fresh.tracks = &none;
    fresh.trackInfo.assign(1, VstTrack{});
    fresh.currentSlot = fresh.LoadPlugIn(plugin("synth"));
    fresh.masterVolume = 1.0f;
    fresh.QueueEvent(0x643C90, 0.0, 0);
    fresh.QueueEvent(0xF1, 0.0, 0);  // system messages are not for instruments
    EXPECT_EQ(fresh.queuedEvents(), 1u);
    CaptureOutput output;
    fresh.output = &output;
    fresh.StartPlayback(nullptr, false);
    fresh.RenderBlock(nullptr, 64, 0, 1000.0);  // the event's time lies long before the block
    EXPECT_EQ(fresh.queuedEvents(), 0u);
    ASSERT_EQ(output.left.size(), 64u);
    EXPECT_FLOAT_EQ(output.left[0], 60.0f / 128.0f) << "played from the block's first frame";
}

TEST_F(RenderFixture, StoppingEndsTheSoundingNotes) {
    CaptureOutput output;
    host.output = &output;
    host.StartPlayback(nullptr, false);
    host.RenderBlock(nullptr, 441, 0, 1.0);
    EXPECT_TRUE(host.playing());
    host.StopPlayback();
    EXPECT_FALSE(host.playing());
    EXPECT_EQ(host.state(), kRenderStateIdle);
    EXPECT_EQ(host.queuedEvents(), 1u) << "a note-off for the sounding C";
    host.RenderBlock(nullptr, 441, 0, 20.0);
    EXPECT_EQ(output.left.back(), 0.0f) << "the note-off reached the synth";
}

TEST(RenderHostTime, TicksAndMillisecondsAcrossTempoChanges) {
    CMyVSTHost host;
    host.tickResolution = 480;
    host.tempoList = {{0, 12000}, {960, 6000}, {1920, 24000}};  // 120, then 60, then 240
    const struct {
        double ticks, ms;
    } cases[] = {{0, 0}, {480, 500}, {960, 1000}, {1440, 2000}, {1920, 3000}, {2400, 3250}};
    for (const auto& c : cases) {
        EXPECT_NEAR(host.TicksToMs(c.ticks), c.ms, 1e-9) << c.ticks;
        EXPECT_DOUBLE_EQ(host.MsToTicks(c.ms), c.ticks) << c.ms;
    }
    EXPECT_DOUBLE_EQ(host.MsToTicks(999.0), 959.0) << "959.04, truncated";
    host.tempoList.clear();
    EXPECT_DOUBLE_EQ(host.TicksToMs(480), 500.0) << "120 without a tempo";
}

}  // namespace
}  // namespace qvp3

namespace qvp3 {
namespace {

TEST_F(RenderFixture, TheScaleIntoAWavFile) {
    platform::testing::TempFolder folder;
    const auto path = folder.path() / "scale.wav";
    std::atomic<int> state{0};
    std::vector<std::uint32_t> positions;
    ASSERT_EQ(host.RenderToWave(path, [&](std::uint32_t ms) { positions.push_back(ms); }, state), 0);
    EXPECT_EQ(host.state(), kRenderStateIdle);
    EXPECT_FALSE(positions.empty());
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));

    CWaveFile wave;
    WaveFormatEx format;
    ASSERT_EQ(wave.Open(path, &format, CWaveFile::kModeRead), S_OK);
    EXPECT_EQ(format, WaveFormatEx::pcm(44100, 2, 16));
    // The last note-off comes with the block that ends at 4 s; one silent block of tail follows.
    constexpr std::uint32_t kFrames = 401 * 441;
    ASSERT_EQ(wave.DataSize(), kFrames * 4);
    std::vector<std::int16_t> samples(kFrames * 2);
    std::uint32_t read = 0;
    ASSERT_EQ(wave.Read(samples.data(), kFrames * 4, &read), S_OK);
    ASSERT_EQ(read, kFrames * 4);
    for (std::size_t n = 0; n < kFrames; ++n) {
        const std::size_t note = (n + 1) / kQuarterFrames;
        const auto left = note < 8 ? static_cast<std::int16_t>(std::trunc(kScale[note] / 128.0 * 32767.0)) : 0;
        const auto right = note < 8 ? static_cast<std::int16_t>(std::trunc(100 / 128.0 * 32767.0)) : 0;
        ASSERT_EQ(samples[2 * n], left) << "frame " << n;
        ASSERT_EQ(samples[2 * n + 1], right) << "frame " << n;
    }
}

TEST_F(RenderFixture, ACancelledOrImpossibleRenderLeavesNoFile) {
    platform::testing::TempFolder folder;
    std::atomic<int> state{0};
    {
        // A silent performance still gives a block.
        CNoteTracker empty;
        plyNoteTrackerAlloc(empty, 1);
        host.tracks = &empty;
        ASSERT_EQ(host.RenderToWave(folder.path() / "silent.wav", nullptr, state), 0);
        CWaveFile wave;
        ASSERT_EQ(wave.Open(folder.path() / "silent.wav", nullptr, CWaveFile::kModeRead), S_OK);
        EXPECT_EQ(wave.DataSize(), 441u * 4);
        std::filesystem::remove(folder.path() / "silent.wav");
        host.tracks = &tracker;
    }
    state = kRenderCancelState;
    EXPECT_EQ(host.RenderToWave(folder.path() / "cancelled.wav", nullptr, state), kRenderCancelled);
    state = 0;
    EXPECT_EQ(host.RenderToWave(folder.path() / "no" / "folder.wav", nullptr, state), kRenderNoFile);
    EXPECT_TRUE(std::filesystem::is_empty(folder.path())) << "no partial WAV, no temporary file";
    EXPECT_EQ(host.queuedEvents(), 0u);
}

}  // namespace
}  // namespace qvp3

namespace qvp3 {
namespace {

// The whole real-time path: the PCM device's thread asks the worker, the
// worker renders through the synth, the block goes back to the device.
using RenderThreads = RenderFixture;

TEST_F(RenderThreads, PlayThroughTheNullDevice) {
    ASSERT_NE(host.dsound, nullptr);
    host.SelectOutput("null", 1024);
    ASSERT_TRUE(host.outputRunning) << host.dsound->LastErrorText();
    EXPECT_EQ(host.output, host.dsound.get());
    EXPECT_EQ(host.blockSize, 1024);
    platform::RecordingMessageTarget window;
    ASSERT_TRUE(host.StartPlayback(&window, false));
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    host.StopPlayback();
    host.StopOutput();
    EXPECT_FALSE(host.dsound->IsPlaying());
    EXPECT_GE(host.dsound->HalvesPlayed(), 5u);
    EXPECT_GE(host.worker.accepted(), 5u);

    host.SelectOutput("no such device", 1024);
    EXPECT_FALSE(host.outputRunning);
    EXPECT_EQ(host.output, nullptr);
    host.SelectOutput("ASIO: nothing", 1024);
    EXPECT_FALSE(host.outputRunning);
}

}  // namespace
}  // namespace qvp3

namespace qvp3 {
namespace {

// A MIDI file as notation programs write it, rendered into a WAV file: the
// right hand's C D E F, then the left hand's G A B C, in quarters at 100.
TEST(RenderMidiFile, TwoHandsIntoAWavFile) {
    CMyVSTHost host;
    CNoteTracker tracker;
    ASSERT_EQ(host.LoadMidi(std::filesystem::path(QVP3_TEST_DATA_DIR) / "two_hands.mid", {}, tracker), 0);
    EXPECT_EQ(host.tickResolution, 480);
    ASSERT_EQ(host.tempoList.size(), 1u);
    EXPECT_EQ(host.tempoList[0].value, 10000u);
    host.currentSlot = host.LoadPlugIn(plugin("synth"));
    ASSERT_GE(host.currentSlot, 0);
    host.masterVolume = 1.0f;
    host.renderBlockSize = 441;
    host.blockMs = 10.0f;

    platform::testing::TempFolder folder;
    std::atomic<int> state{0};
    ASSERT_EQ(host.RenderToWave(folder.path() / "two_hands.wav", nullptr, state), 0);
    CWaveFile wave;
    WaveFormatEx format;
    ASSERT_EQ(wave.Open(folder.path() / "two_hands.wav", &format, CWaveFile::kModeRead), S_OK);
    EXPECT_EQ(format, WaveFormatEx::pcm(44100, 2, 16));
    constexpr std::uint32_t kQuarter = 26460;  // 600 ms
    const std::uint32_t frames = wave.DataSize() / 4;
    EXPECT_GE(frames, 8 * kQuarter - 441);
    EXPECT_LE(frames, 8 * kQuarter + 2 * 441) << "the music and one silent block";
    std::vector<std::int16_t> samples(std::size_t{frames} * 2);
    std::uint32_t read = 0;
    ASSERT_EQ(wave.Read(samples.data(), frames * 4, &read), S_OK);
    const int keys[] = {60, 62, 64, 65, 67, 69, 71, 72};
    for (int i = 0; i < 8; ++i) {
        const std::size_t middle = std::size_t{kQuarter} * static_cast<std::size_t>(i) + kQuarter / 2;
        EXPECT_EQ(samples[2 * middle], static_cast<std::int16_t>(std::trunc(keys[i] / 128.0 * 32767.0))) << "note " << i;
        EXPECT_EQ(samples[2 * middle + 1], static_cast<std::int16_t>(std::trunc(80 / 128.0 * 32767.0)));
        const std::size_t gap = std::size_t{kQuarter} * static_cast<std::size_t>(i + 1) - 100;  // released 12.5 ms early
        EXPECT_EQ(samples[2 * gap], 0) << "after note " << i;
    }
}

}  // namespace
}  // namespace qvp3
