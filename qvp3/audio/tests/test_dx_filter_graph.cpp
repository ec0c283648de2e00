// The instrument graph: its source's time-stamped blocks, the renderer's kept
// block, the checks of RenderBlock, the mono fallback and failed builds (with
// a filter of the test's own); then LV2 instruments through it: our test
// instrument for exact frames, and an instrument from Debian playing a scale
// into a WAV file.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform_testing/temp_folder.h"
#include "qvp3_audio/dx_filter_graph.h"
#include "qvp3_audio/lv2_instrument.h"
#include "qvp3_pipeline/wave_file.h"

namespace qvp3 {
namespace {

// Copies its input's first channel to every output channel and remembers what it saw.
class EchoFilter : public CDxFilter {
public:
    bool monoOnly = false;
    bool refuseOutput = false;
    std::vector<float> lastInput;
    std::vector<bool> discontinuities;

    std::string Name() const override { return "echo"; }
    HRESULT ConnectInput(const DxMediaType& type) override {
        inputChannels_ = type.format.nChannels;
        return S_OK;
    }
    HRESULT ConnectOutput(const DxMediaType& type, CDxBufRendererInputPin& downstream, CDxAllocator& allocator) override {
        if (refuseOutput || (monoOnly && type.format.nChannels != 1)) return E_INVALIDARG;
        outputChannels_ = type.format.nChannels;
        downstream_ = &downstream;
        allocator_ = &allocator;
        return S_OK;
    }
    void Disconnect() override { downstream_ = nullptr; }
    HRESULT Receive(CDeferZeroFillMediaSample& sample) override {
        const std::uint32_t frames = sample.GetActualDataLength() / (inputChannels_ * 4);
        const float* in = sample.GetPointer();
        lastInput.assign(in, in + frames * inputChannels_);
        discontinuities.push_back(sample.discontinuity);
        CDeferZeroFillMediaSample* out = nullptr;
        if (const HRESULT hr = allocator_->GetBuffer(out); hr != S_OK) return hr;
        out->SetActualDataLength(frames * outputChannels_ * 4);
        out->startTime = sample.startTime;
        float* data = out->GetPointer();
        for (std::uint32_t i = 0; i < frames * outputChannels_; ++i) data[i] = in[(i / outputChannels_) * inputChannels_];
        const HRESULT hr = downstream_->Receive(*out);
        out->Release();
        return hr;
    }
    HRESULT Run() override { return S_OK; }
    HRESULT Pause() override { return S_OK; }
    HRESULT Stop() override { return S_OK; }

private:
    std::uint16_t inputChannels_ = 0;
    std::uint16_t outputChannels_ = 0;
    CDxBufRendererInputPin* downstream_ = nullptr;
    CDxAllocator* allocator_ = nullptr;
};

struct GraphFixture : ::testing::Test {
    HRESULT created = E_FAIL;
    CDxFilterGraph graph{created};
    std::shared_ptr<EchoFilter> echo = std::make_shared<EchoFilter>();
    const float* data = nullptr;
    std::uint32_t frames = 0;
};

TEST_F(GraphFixture, BlocksAreStampedAndFilledAndTheFirstAfterRunIsADiscontinuity) {
    ASSERT_EQ(created, S_OK);
    EXPECT_EQ(graph.RenderBlock(441, data, frames), E_FAIL) << "no instrument, no graph";
    ASSERT_EQ(graph.SetFilter(echo), S_OK);
    ASSERT_TRUE(graph.built());
    EXPECT_EQ(graph.outputChannels(), 2);
    ASSERT_EQ(graph.Run(), S_OK);
    std::vector<std::int64_t> stamps;
    for (int block = 0; block < 3; ++block) {
        ASSERT_EQ(graph.RenderBlock(441, data, frames), S_OK);
        EXPECT_EQ(frames, 441u);
        stamps.push_back(graph.keptSample()->startTime);
    }
    EXPECT_EQ(stamps, (std::vector<std::int64_t>{0, 100000, 200000})) << "10 ms blocks in 100-ns units";
    EXPECT_EQ(echo->discontinuities, (std::vector<bool>{true, false, false}));
    ASSERT_EQ(echo->lastInput.size(), 882u);
    for (float v : echo->lastInput) ASSERT_EQ(v, kDxFillValue);
    EXPECT_EQ(data[881], kDxFillValue) << "the instrument's output is what the caller gets";

    // Out of range: refused, and the position stays.
    const std::uint64_t position = graph.nextSamplePosition();
    EXPECT_EQ(graph.RenderBlock(442, data, frames), E_INVALIDARG);
    EXPECT_EQ(graph.RenderBlock(0, data, frames), E_INVALIDARG);
    EXPECT_EQ(graph.nextSamplePosition(), position);
    ASSERT_EQ(graph.RenderBlock(100, data, frames), S_OK);
    EXPECT_EQ(frames, 100u) << "a shorter block";

    // A new block size rebuilds; Run again starts a discontinuity.
    EXPECT_EQ(graph.SetBlockFrames(0), E_INVALIDARG);
    ASSERT_EQ(graph.SetBlockFrames(1024), S_OK);
    EXPECT_EQ(graph.blockFrames(), 1024u);
    graph.Run();
    ASSERT_EQ(graph.RenderBlock(1024, data, frames), S_OK);
    EXPECT_TRUE(echo->discontinuities.back());
}

TEST_F(GraphFixture, AMonoInstrumentIsConnectedInMonoAndOneThatConnectsNotAtAllLeavesNoGraph) {
    echo->monoOnly = true;
    ASSERT_EQ(graph.SetFilter(echo), S_OK);
    EXPECT_EQ(graph.outputChannels(), 1);
    graph.Run();
    ASSERT_EQ(graph.RenderBlock(441, data, frames), S_OK);
    EXPECT_EQ(frames, 441u) << "frames counted in the mono block align";

    auto refusing = std::make_shared<EchoFilter>();
    refusing->refuseOutput = true;
    EXPECT_EQ(graph.SetFilter(refusing), E_INVALIDARG);
    EXPECT_FALSE(graph.built());
    EXPECT_EQ(graph.RenderBlock(441, data, frames), E_FAIL);
    ASSERT_EQ(graph.SetFilter(echo), S_OK) << "the next good build works";
    EXPECT_EQ(graph.RenderBlock(441, data, frames), S_OK);
}

TEST(DxFilterGraphThreads, BlocksWhileTheGraphIsRebuiltFailCleanlyOrRenderWhole) {
    HRESULT hr = E_FAIL;
    CDxFilterGraph graph(hr);
    ASSERT_EQ(graph.SetFilter(std::make_shared<EchoFilter>()), S_OK);
    graph.Run();
    std::atomic<bool> done{false};
    std::atomic<int> rendered{0};
    std::thread player([&] {
        // The sample player's thread. Its block is its own only until the
        // graph changes, so here only the answers are looked at.
        while (!done.load()) {
            const float* data = nullptr;
            std::uint32_t frames = 0;
            const HRESULT r = graph.RenderBlock(300, data, frames);
            if (r == S_OK) {
                EXPECT_EQ(frames, 300u);
                ++rendered;
            } else {
                EXPECT_TRUE(r == VFW_E_WRONG_STATE || r == E_FAIL) << std::hex << r;
            }
        }
    });
    for (int i = 0; i < 200; ++i) {
        graph.SetBlockFrames(i % 2 == 0 ? 441 : 300);
        graph.SetSampleRate(i % 3 == 0 ? 48000 : 44100);
        graph.Run();
    }
    while (rendered.load() == 0) std::this_thread::yield();
    done = true;
    player.join();
}

TEST(DxMediaTypes, OnlyFloatAudioOfOneOrTwoChannelsIsTaken) {
    const DxMediaType stereo = audDxBuildMediaType(2, 48000);
    EXPECT_EQ(stereo.format.nBlockAlign, 8);
    EXPECT_EQ(stereo.format.nAvgBytesPerSec, 384000u);
    EXPECT_EQ(stereo.sampleSize, 8u);
    struct {
        const char* what;
        void (*change)(DxMediaType&);
        bool sourceTakes;
    } cases[] = {
        {"as built", [](DxMediaType&) {}, true},
        {"three channels", [](DxMediaType& t) { t.format.nChannels = 3; }, false},
        {"PCM", [](DxMediaType& t) { t.format.wFormatTag = kWaveFormatPcm; }, false},
        {"16 bits", [](DxMediaType& t) { t.format.wBitsPerSample = 16; }, false},
        {"compressed", [](DxMediaType& t) { t.temporalCompression = true; }, false},
        {"not audio", [](DxMediaType& t) { t.majorAudio = false; }, false},
        {"another format type", [](DxMediaType& t) { t.formatWaveEx = false; }, true},
    };
    for (const auto& c : cases) {
        DxMediaType t = stereo;
        c.change(t);
        EXPECT_EQ(audDxCheckMediaType(t, false) == S_OK, c.sourceTakes) << c.what;
        EXPECT_EQ(audDxCheckMediaType(t) == S_OK, c.sourceTakes && t.formatWaveEx) << c.what;
    }
}

// --- LV2 instruments ------------------------------------------------------------

constexpr const char* kTone = "urn:qvp3:test:lv2:tone";
constexpr const char* kMono = "urn:qvp3:test:lv2:mono";

std::shared_ptr<CLv2World> testWorld() {
    return std::make_shared<CLv2World>(std::vector<std::filesystem::path>{QVP3_TEST_LV2_BUNDLE});
}

// One of our instruments made and set into the graph; null (with the test
// failed) when it does not load.
std::shared_ptr<CDxLv2Filter> instrumentIn(CDxFilterGraph& graph, const char* uri) {
    std::string problem;
    auto instrument = CDxLv2Filter::Create(testWorld(), uri, problem);
    if (instrument == nullptr) {
        ADD_FAILURE() << uri << ": " << problem;
        return nullptr;
    }
    if (graph.SetFilter(instrument) != S_OK) {
        ADD_FAILURE() << uri << " was not taken by the graph";
        return nullptr;
    }
    return instrument;
}

TEST(Lv2Instruments, OursAreListedAndAnUnknownOneIsNamedMissing) {
    const auto world = testWorld();
    std::vector<std::string> ours;
    for (const Lv2PluginInfo& p : world->Instruments()) {
        if (p.uri.rfind("urn:qvp3:", 0) == 0) ours.push_back(p.name);
    }
    EXPECT_EQ(ours, (std::vector<std::string>{"qvp3 mono", "qvp3 tone"})) << "the bundle's plug-in that is no instrument is left out";
    std::string problem;
    EXPECT_EQ(CDxLv2Filter::Create(world, "urn:qvp3:test:lv2:none", problem), nullptr);
    EXPECT_EQ(problem, "not installed");
    EXPECT_NE(world->urids().Map("urn:a"), world->urids().Map("urn:b"));
    EXPECT_STREQ(world->urids().Unmap(world->urids().Map("urn:a")), "urn:a");
    EXPECT_EQ(world->urids().Unmap(999999), nullptr);
}

TEST(Lv2Instruments, MidiSoundsFromTheFrameItWasQueuedForAndBeyondTheBlockOnItsLastFrame) {
    HRESULT hr = E_FAIL;
    CDxFilterGraph graph(hr);
    const auto tone = instrumentIn(graph, kTone);
    ASSERT_NE(tone, nullptr);
    const float* data = nullptr;
    std::uint32_t frames = 0;
    EXPECT_EQ(graph.RenderBlock(441, data, frames), VFW_E_NOT_RUNNING) << "an instrument that was not started";
    ASSERT_EQ(graph.Run(), S_OK);

    const std::uint8_t on[] = {0x90, 60, 127};
    const std::uint8_t off[] = {0x80, 60, 0};
    ASSERT_TRUE(tone->QueueMidi(100, on));
    ASSERT_TRUE(tone->QueueMidi(5000, off));
    ASSERT_EQ(graph.RenderBlock(441, data, frames), S_OK);
    ASSERT_EQ(frames, 441u);
    EXPECT_EQ(data[2 * 99], 0.0f);
    EXPECT_FLOAT_EQ(data[2 * 100], 0.25f);
    EXPECT_FLOAT_EQ(data[2 * 100 + 1], 0.25f) << "both channels";
    EXPECT_FLOAT_EQ(data[2 * 439], 0.25f);
    EXPECT_EQ(data[2 * 440], 0.0f) << "the note-off beyond the block ends it on the last frame";
    ASSERT_EQ(graph.RenderBlock(441, data, frames), S_OK);
    EXPECT_EQ(data[0], 0.0f) << "events are gone after their block";

    // A later event queued for an earlier frame is raised to the one before it.
    ASSERT_TRUE(tone->QueueMidi(200, on));
    ASSERT_TRUE(tone->QueueMidi(50, off));
    ASSERT_EQ(graph.RenderBlock(441, data, frames), S_OK);
    EXPECT_EQ(data[2 * 199], 0.0f);
    EXPECT_EQ(data[2 * 200], 0.0f);

    // A full event buffer drops what does not fit and keeps what did.
    int queued = 0;
    while (tone->QueueMidi(0, on) && queued < 100000) ++queued;
    EXPECT_GT(queued, 100);
    EXPECT_LT(queued, 100000);
    ASSERT_EQ(graph.RenderBlock(441, data, frames), S_OK);
    EXPECT_FLOAT_EQ(data[0], 0.25f);

    // A new rate makes the instrument anew, silent.
    ASSERT_EQ(graph.SetSampleRate(48000), S_OK);
    graph.Run();
    ASSERT_EQ(graph.RenderBlock(441, data, frames), S_OK);
    EXPECT_EQ(data[0], 0.0f);
    EXPECT_EQ(graph.keptSample()->startTime, static_cast<std::int64_t>(graph.nextSamplePosition() - 441) * 10000000 / 48000);
}

TEST(Lv2Instruments, AnInstrumentWithOneOutputPlaysInMono) {
    HRESULT hr = E_FAIL;
    CDxFilterGraph graph(hr);
    const auto mono = instrumentIn(graph, kMono);
    ASSERT_NE(mono, nullptr);
    EXPECT_EQ(mono->audioOutputs(), 1u);
    EXPECT_EQ(graph.outputChannels(), 1);
    graph.Run();
    const std::uint8_t on[] = {0x90, 64, 127};
    mono->QueueMidi(0, on);
    const float* data = nullptr;
    std::uint32_t frames = 0;
    ASSERT_EQ(graph.RenderBlock(441, data, frames), S_OK);
    EXPECT_EQ(frames, 441u);
    EXPECT_FLOAT_EQ(data[440], 0.25f);
}

// A page's slider moves a control while another thread renders the
// instrument: the plug-in's port is written only by the rendering thread,
// and the last value set is heard from the next block on.
TEST(Lv2InstrumentsThreads, AControlSetWhileItRendersIsHeardFromTheNextBlock) {
    HRESULT hr = E_FAIL;
    CDxFilterGraph graph(hr);
    const auto tone = instrumentIn(graph, kTone);
    ASSERT_NE(tone, nullptr);
    ASSERT_EQ(graph.Run(), S_OK);
    const std::uint8_t on[] = {0x90, 60, 127};
    ASSERT_TRUE(tone->QueueMidi(0, on));
    std::atomic<bool> rendering{true};
    std::atomic<int> blocks{0};
    std::thread renderer([&] {
        const float* data = nullptr;
        std::uint32_t frames = 0;
        while (rendering && graph.RenderBlock(441, data, frames) == S_OK) ++blocks;
    });
    for (int i = 0; blocks < 50 && i < 200000; ++i) {
        EXPECT_TRUE(tone->SetControl("gain", i % 2 == 0 ? 0.5f : 1.5f));
        std::this_thread::yield();
    }
    rendering = false;
    renderer.join();
    EXPECT_GE(blocks, 50);
    ASSERT_TRUE(tone->SetControl("gain", 2.0f));
    EXPECT_FLOAT_EQ(tone->Control("gain").value_or(-1.0f), 2.0f) << "read back before any block took it";
    const float* data = nullptr;
    std::uint32_t frames = 0;
    ASSERT_EQ(graph.RenderBlock(441, data, frames), S_OK);
    EXPECT_FLOAT_EQ(data[0], 0.5f) << "0.25 for the held key, times the gain";
}

// --- an instrument from Debian ---------------------------------------------------

constexpr const char* kDebianSynth = "http://drobilla.net/plugins/mda/JX10";

// The strongest period of the left channel between two frames, as a frequency
// (autocorrelation over the lags of 80 to 1000 Hz).
double pitch(const std::vector<std::int16_t>& samples, std::size_t fromFrame, std::size_t toFrame, double rate) {
    double best = -1.0;
    std::size_t bestLag = 0;
    for (std::size_t lag = static_cast<std::size_t>(rate / 1000); lag <= static_cast<std::size_t>(rate / 80); ++lag) {
        double sum = 0.0;
        for (std::size_t i = fromFrame; i + lag < toFrame; ++i) sum += double(samples[2 * i]) * samples[2 * (i + lag)];
        sum /= double(toFrame - fromFrame - lag);
        if (sum > best) {
            best = sum;
            bestLag = lag;
        }
    }
    return bestLag == 0 ? 0.0 : rate / double(bestLag);
}

double rms(const std::vector<std::int16_t>& samples, std::size_t fromFrame, std::size_t toFrame) {
    double sum = 0.0;
    for (std::size_t i = fromFrame * 2; i < toFrame * 2 && i < samples.size(); ++i) sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double((toFrame - fromFrame) * 2));
}

TEST(Lv2Instruments, ADebianInstrumentPlaysAScaleIntoAWaveFileWithSoundWhereTheNotesAre) {
    const auto world = std::make_shared<CLv2World>();
    if (world->FindPlugin(kDebianSynth) == nullptr) GTEST_SKIP() << "the Debian package mda-lv2 is not installed";
    std::string problem;
    const auto synth = CDxLv2Filter::Create(world, kDebianSynth, problem);
    ASSERT_NE(synth, nullptr) << problem;
    HRESULT hr = E_FAIL;
    CDxFilterGraph graph(hr);
    ASSERT_EQ(graph.SetFilter(synth), S_OK);
    ASSERT_EQ(graph.Run(), S_OK);

    // C major up an octave: each note 0.3 s from 0.5 s on, one every 0.6 s.
    const int keys[] = {60, 62, 64, 65, 67, 69, 71, 72};
    constexpr std::uint32_t kRate = 44100, kNoteStart = 22050, kEvery = 26460, kLength = 13230;
    const std::uint32_t total = kNoteStart + 8 * kEvery;
    platform::testing::TempFolder folder;
    const std::filesystem::path path = folder.path() / "scale.wav";
    CWaveFile wave;
    WaveFormatEx format = WaveFormatEx::pcm(kRate, 2, 16);
    ASSERT_EQ(wave.Open(path, &format, CWaveFile::kModeWrite), S_OK);
    std::vector<std::int16_t> block;
    for (std::uint32_t at = 0; at < total; at += kDxDefaultBlockFrames) {
        for (int n = 0; n < 8; ++n) {
            const std::uint32_t on = kNoteStart + n * kEvery, off = on + kLength;
            const auto key = static_cast<std::uint8_t>(keys[n]);
            if (on >= at && on < at + kDxDefaultBlockFrames) synth->QueueMidi(on - at, std::vector<std::uint8_t>{0x90, key, 100});
            if (off >= at && off < at + kDxDefaultBlockFrames) synth->QueueMidi(off - at, std::vector<std::uint8_t>{0x80, key, 0});
        }
        const float* data = nullptr;
        std::uint32_t frames = 0;
        ASSERT_EQ(graph.RenderBlock(kDxDefaultBlockFrames, data, frames), S_OK);
        block.resize(frames * 2);
        for (std::uint32_t i = 0; i < frames * 2; ++i) {
            block[i] = static_cast<std::int16_t>(std::clamp(std::trunc(double(data[i]) * 32767.0), -32768.0, 32767.0));
        }
        std::uint32_t written = 0;
        ASSERT_EQ(wave.Write(static_cast<std::uint32_t>(block.size() * 2), block.data(), &written), S_OK);
    }
    ASSERT_EQ(wave.Close(), S_OK);

    CWaveFile reader;
    WaveFormatEx read;
    ASSERT_EQ(reader.Open(path, &read, CWaveFile::kModeRead), S_OK);
    std::vector<std::int16_t> samples(reader.DataSize() / 2);
    std::uint32_t got = 0;
    ASSERT_EQ(reader.Read(samples.data(), reader.DataSize(), &got), S_OK);
    EXPECT_LT(rms(samples, 0, kNoteStart - 100), 1.0) << "silence before the first note";
    // Its default sound repeats after a whole number of the note's periods:
    // each note's period is held against the first one's, as the scale steps.
    const double first = pitch(samples, kNoteStart + 2000, kNoteStart + 6410, kRate);
    for (int n = 0; n < 8; ++n) {
        const std::uint32_t on = kNoteStart + n * kEvery;
        EXPECT_GT(rms(samples, on + 2000, on + kLength), 300.0) << "note " << n << " sounds";
        const double step = std::pow(2.0, (keys[n] - keys[0]) / 12.0);
        EXPECT_NEAR(pitch(samples, on + 2000, on + 6410, kRate) / first, step, step * 0.03) << "note " << n << " in tune";
    }
}

}  // namespace
}  // namespace qvp3
