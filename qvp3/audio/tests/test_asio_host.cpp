// The ASIO host against a fake driver: sample conversion for every sample
// type, the buffer-size choice, the sample-rate check, inputs into the float
// buffers and the render's output into the first two enabled outputs, one
// owner at a time, failed opens, the driver's messages and a lost device.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "alloc_counter.h"
#include "asio_fake_driver.h"
#include "platform/message_target.h"
#include "qvp3_audio/asio_host.h"

namespace qvp3 {
namespace {

using namespace std::chrono_literals;
using testing::FakeDriverState;
using testing::fakeDriverSource;
using Bytes = std::vector<unsigned char>;
using T = AsioSampleType;

TEST(AsioSamples, FloatsIntoEveryType) {
    const struct {
        T type;
        float x;
        Bytes bytes;
    } cases[] = {
        {T::Int16LE, 1.0f, {0xFF, 0x7F}},
        {T::Int16LE, -1.0f, {0x00, 0x80}},
        {T::Int16LE, 0.0f, {0x00, 0x00}},
        {T::Int16LE, 2.0f, {0xFF, 0x7F}},
        {T::Int16LE, 0.5f, {0xFF, 0x3F}},   // 16383.25 truncated
        {T::Int16LE, -0.5f, {0x00, 0xC0}},  // -16384.25 truncated toward zero
        {T::Int16BE, 1.0f, {0x7F, 0xFF}},
        {T::Int24LE, 1.0f, {0xFF, 0xFF, 0x7F}},
        {T::Int24LE, -1.0f, {0x00, 0x00, 0x80}},
        {T::Int24LE, 0.5f, {0xFF, 0xFF, 0x3F}},
        {T::Int24BE, -3.0f, {0x80, 0x00, 0x00}},
        {T::Int32LE, 1.0f, {0x00, 0xFF, 0xFF, 0x7F}},
        {T::Int32LE, -1.0f, {0x00, 0x00, 0x00, 0x80}},
        {T::Int32BE, 1.0f, {0x7F, 0xFF, 0xFF, 0x00}},
        {T::Int32LE16, 1.0f, {0xFF, 0x7F, 0x00, 0x00}},
        {T::Int32LE16, -1.0f, {0x00, 0x80, 0xFF, 0xFF}},
        {T::Int32LE18, 1.0f, {0xFF, 0xFF, 0x01, 0x00}},
        {T::Int32LE20, 1.0f, {0xFF, 0xFF, 0x07, 0x00}},
        {T::Int32LE24, -1.0f, {0x00, 0x00, 0x80, 0xFF}},
        {T::Int32BE20, -1.0f, {0xFF, 0xF8, 0x00, 0x00}},
        {T::Int32BE16, 1.0f, {0x00, 0x00, 0x7F, 0xFF}},
        {T::Float32LE, 2.0f, {0x00, 0x00, 0x00, 0x40}},  // not clipped
        {T::Float32BE, 1.0f, {0x3F, 0x80, 0x00, 0x00}},
        {T::Float64LE, 2.0f, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},  // clipped to 1.0
        {T::Float64BE, -0.5f, {0xBF, 0xE0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        Bytes out(c.bytes.size() + 1, 0xAA);
        ASSERT_TRUE(asioFromFloat(c.type, &c.x, out.data(), 1));
        EXPECT_EQ(Bytes(out.begin(), out.end() - 1), c.bytes) << "type " << static_cast<int>(c.type) << ", " << c.x;
        EXPECT_EQ(out.back(), 0xAA) << "one sample only";
        EXPECT_EQ(asioSampleBytes(c.type), c.bytes.size());
    }
}

TEST(AsioSamples, EveryTypeIntoFloats) {
    const struct {
        T type;
        Bytes bytes;
        float expected;
    } cases[] = {
        {T::Int16LE, {0x00, 0x00}, 1.525902007415425e-05f},
        {T::Int16LE, {0xFF, 0x7F}, 0.9999998807907104f},
        {T::Int16BE, {0x80, 0x00}, -0.9999998807907104f},
        {T::Int24LE, {0xFF, 0xFF, 0x7F}, 0.9999999403953552f},
        {T::Int24BE, {0x80, 0x00, 0x00}, -0.9999999403953552f},
        {T::Int24LE, {0x00, 0x00, 0x40}, 0.5000000596046448f},
        {T::Int32LE, {0x00, 0xFF, 0xFF, 0x7F}, 0.9999999403953552f},
        {T::Int32LE, {0xFF, 0x00, 0x00, 0x00}, 5.960464477539063e-08f},  // the low 8 bits are dropped
        {T::Int32BE, {0x80, 0x00, 0x00, 0x00}, -0.9999999403953552f},
        {T::Int32LE16, {0xFF, 0x7F, 0x00, 0x00}, 0.9999695420265198f},  // 32767 << 8
        {T::Int32LE20, {0x00, 0x00, 0xF8, 0xFF}, -0.9999999403953552f},
        {T::Int32BE24, {0x00, 0x40, 0x00, 0x00}, 0.5000000596046448f},
        {T::Float32LE, {0x00, 0x00, 0x00, 0x40}, 2.0f},
        {T::Float32BE, {0xBF, 0x80, 0x00, 0x00}, -1.0f},
        {T::Float64LE, {0, 0, 0, 0, 0, 0, 0xD0, 0x3F}, 0.25f},
        {T::Float64BE, {0x3F, 0xD0, 0, 0, 0, 0, 0, 0}, 0.25f},
    };
    for (const auto& c : cases) {
        const Bytes before = c.bytes;
        float x = 99.0f;
        ASSERT_TRUE(asioToFloat(c.type, c.bytes.data(), &x, 1));
        EXPECT_FLOAT_EQ(x, c.expected) << "type " << static_cast<int>(c.type);
        EXPECT_EQ(c.bytes, before) << "the driver's input buffer is left as it was";
    }
    float x = 99.0f;
    unsigned char raw[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_FALSE(asioToFloat(static_cast<T>(5), raw, &x, 1));
    EXPECT_FALSE(asioFromFloat(static_cast<T>(21), &x, raw, 1));
    EXPECT_EQ(x, 99.0f);
    EXPECT_EQ(raw[0], 1) << "an unknown type converts nothing";
    EXPECT_EQ(asioSampleBytes(static_cast<T>(12)), 0u);
}

// Out and back in again, a block at a time: every type keeps the signal to
// its own resolution, in every sample of the block.
TEST(AsioSamples, EveryTypeRoundTripsABlock) {
    const struct {
        T type;
        double resolution;
    } cases[] = {
        {T::Int16LE, 1.0 / 32767},  {T::Int16BE, 1.0 / 32767},  {T::Int24LE, 1.0 / 8388607},
        {T::Int24BE, 1.0 / 8388607}, {T::Int32LE, 1.0 / 8388607}, {T::Int32BE, 1.0 / 8388607},
        {T::Int32LE16, 1.0 / 32767}, {T::Int32LE18, 1.0 / 131071}, {T::Int32LE20, 1.0 / 524287},
        {T::Int32LE24, 1.0 / 8388607}, {T::Int32BE16, 1.0 / 32767}, {T::Int32BE18, 1.0 / 131071},
        {T::Int32BE20, 1.0 / 524287}, {T::Int32BE24, 1.0 / 8388607}, {T::Float32LE, 0.0},
        {T::Float32BE, 0.0},         {T::Float64LE, 1e-7},        {T::Float64BE, 1e-7},
    };
    std::vector<float> signal(257);
    for (std::size_t i = 0; i < signal.size(); ++i) signal[i] = static_cast<float>(std::sin(0.05 * i) * 0.99);
    for (const auto& c : cases) {
        Bytes driver(signal.size() * asioSampleBytes(c.type));
        std::vector<float> back(signal.size());
        ASSERT_TRUE(asioFromFloat(c.type, signal.data(), driver.data(), signal.size()));
        ASSERT_TRUE(asioToFloat(c.type, driver.data(), back.data(), back.size()));
        for (std::size_t i = 0; i < signal.size(); ++i) {
            ASSERT_NEAR(back[i], signal[i], 2 * c.resolution + 1e-7) << "type " << static_cast<int>(c.type) << " at " << i;
        }
    }
}

TEST(AsioHost, ChoosesTheBufferSize) {
    const struct {
        std::int32_t request, minSize, maxSize, preferred, granularity, expected;
    } cases[] = {
        {3000, 64, 8192, 512, -1, 4096},   {3000, 64, 2048, 512, -1, 2048}, {1024, 64, 8192, 512, -1, 1024},
        {1025, 64, 8192, 512, -1, 2048},   {0, 1, 8192, 512, -1, 4},        {1 << 19, 1, 1 << 20, 512, -1, 4},
        {3000, 64, 8192, 512, 0, 512},     {3000, 64, 8192, 16384, 0, 8192}, {1000, 64, 8192, 512, 1, 1000},
        {1000, 64, 8192, 512, 64, 1024},   {1000, 64, 8192, 512, 3, 1002},   {10, 64, 8192, 512, 64, 64},
        {-5, 64, 8192, 512, 64, 64},       {30000, 64, 8192, 512, 1, 8192},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CAsioHost::ChooseBufferSize(c.request, c.minSize, c.maxSize, c.preferred, c.granularity), c.expected)
            << "request " << c.request << ", granularity " << c.granularity;
    }
    // Through an open: the choice is reported back and given to the driver.
    auto state = std::make_shared<FakeDriverState>();
    CSpecAsioHost host({fakeDriverSource("Fake", state)});
    std::int32_t size = 3000;
    ASSERT_TRUE(host.Open("Fake", size));
    EXPECT_EQ(size, 4096);
    EXPECT_EQ(state->bufferSize, 4096);
    EXPECT_EQ(host.BufferSize(), 4096);
    EXPECT_EQ(host.FloatBufferFrames(), 4096u);
}

TEST(AsioHost, SetsAnUnusableRateTo44100) {
    const struct {
        double reported;
        bool settable, opens;
        double expected;
        std::size_t sets;
    } cases[] = {
        {0.0, true, true, 44100.0, 1},    {-1.0, true, true, 44100.0, 1},   {96000.5, true, true, 44100.0, 1},
        {192000.0, true, true, 44100.0, 1}, {48000.0, true, true, 48000.0, 0}, {96000.0, true, true, 96000.0, 0},
        {0.0, false, false, 0.0, 1},
    };
    for (const auto& c : cases) {
        auto state = std::make_shared<FakeDriverState>();
        state->rate = c.reported;
        state->rateSettable = c.settable;
        CSpecAsioHost host({fakeDriverSource("Fake", state)});
        std::int32_t size = 1024;
        EXPECT_EQ(host.Open("Fake", size), c.opens) << c.reported;
        EXPECT_EQ(state->ratesSet.size(), c.sets) << c.reported;
        if (c.opens) {
            EXPECT_EQ(host.SampleRate(), c.expected) << c.reported;
        }
        if (c.sets > 0) {
            EXPECT_EQ(state->ratesSet[0], 44100.0);
        }
        EXPECT_EQ(state->alive, c.opens) << "a failed open unloads the driver";
    }
}

// Fills a driver buffer of the fake's Int32LE type from floats.
void fill(FakeDriverState& s, int record, int half, const std::vector<float>& x) {
    asioFromFloat(s.type, x.data(), s.buffer(record, half), x.size());
}
std::vector<float> read(FakeDriverState& s, int record, int half) {
    std::vector<float> x(static_cast<std::size_t>(s.bufferSize));
    asioToFloat(s.type, s.buffer(record, half), x.data(), x.size());
    return x;
}
void expectNear(const std::vector<float>& a, const std::vector<float>& b, const char* what) {
    ASSERT_EQ(a.size(), b.size()) << what;
    for (std::size_t i = 0; i < a.size(); ++i) ASSERT_NEAR(a[i], b[i], 1e-6) << what << " at " << i;
}
bool untouched(FakeDriverState& s, int record, int half) {
    const auto& m = s.memory.at(record).at(half);
    return std::all_of(m.begin(), m.end(), [](unsigned char b) { return b == 0xAA; });
}

// A render routine: a ramp on the left, its negative on the right, written
// back through the host as the render host does.
struct RampTarget : CRenderTarget {
    CSpecAsioHost* host = nullptr;
    std::vector<float> left, right;
    std::atomic<int> renders{0};
    double elapsedMs = -1.0;
    float firstInput = -1.0f;
    void RenderBlock(float** inputs, std::uint32_t frames, std::uint32_t channels, double ms) override {
        firstInput = channels == 2 ? inputs[0][0] : -1.0f;
        elapsedMs = ms;
        for (std::uint32_t i = 0; i < frames && i < left.size(); ++i) {
            left[i] = 0.5f * static_cast<float>(i) / static_cast<float>(frames);
            right[i] = -left[i];
        }
        float* out[2] = {left.data(), right.data()};
        host->WriteOutputs(out, frames);
        renders.fetch_add(1);
    }
    std::int32_t OutputMode() const override { return 0; }
};

// One input and eight outputs: input 1 goes into the left buffer, the right
// one is silent, and only the first two enabled outputs are written.
TEST(AsioHost, OneInputAndEightOutputs) {
    auto state = std::make_shared<FakeDriverState>();
    state->inputs = 1;
    state->outputs = 8;
    CSpecAsioHost host({fakeDriverSource("Fake", state)});
    std::int32_t size = 64;
    ASSERT_TRUE(host.Open("Fake", size));
    ASSERT_EQ(host.InputBuffers(), 1);
    ASSERT_EQ(host.OutputBuffers(), 8);
    for (auto& halves : state->memory) {
        for (auto& m : halves) std::fill(m.begin(), m.end(), 0xAA);
    }
    std::vector<float> input(64), silence(64, 0.0f);
    for (std::size_t i = 0; i < input.size(); ++i) input[i] = std::sin(0.3f * static_cast<float>(i)) * 0.8f;
    fill(*state, 0, 0, input);

    // Without a render worker the input passes through.
    ASSERT_TRUE(state->bufferSwitch(0, true));
    expectNear(read(*state, 1, 0), input, "output 1");
    expectNear(read(*state, 2, 0), silence, "output 2");
    for (int record = 3; record < 9; ++record) EXPECT_TRUE(untouched(*state, record, 0)) << "output " << record;
    for (int record = 1; record < 9; ++record) EXPECT_TRUE(untouched(*state, record, 1)) << "the other half";

    // Output 1 switched off: outputs 2 and 3 are the first two enabled ones.
    host.SetChannelEnabled(1, false);
    fill(*state, 0, 1, input);
    ASSERT_TRUE(state->bufferSwitch(1, true));
    EXPECT_TRUE(untouched(*state, 1, 1));
    expectNear(read(*state, 2, 1), input, "output 2");
    expectNear(read(*state, 3, 1), silence, "output 3");
    EXPECT_TRUE(untouched(*state, 4, 1));

    // A render worker on the direct path: rendered before the switch returns.
    RampTarget target;
    target.host = &host;
    target.left.resize(64);
    target.right.resize(64);
    CWorkThread worker(&target);
    host.SetRenderWorker(&worker);
    host.SetChannelEnabled(1, true);
    host.SetChannelEnabled(0, false);  // the input: both float buffers silent
    ASSERT_TRUE(state->bufferSwitch(0, true, 5'000'000'000));
    EXPECT_EQ(target.renders.load(), 1);
    EXPECT_EQ(target.firstInput, 0.0f);
    EXPECT_DOUBLE_EQ(target.elapsedMs, 5000.0) << "the driver's system time in ms";
    expectNear(read(*state, 1, 0), target.left, "rendered left");
    expectNear(read(*state, 2, 0), target.right, "rendered right");
    EXPECT_TRUE(untouched(*state, 3, 0));
}

// A block shorter than the buffers ends in silence; a longer one is cut.
TEST(AsioHost, WritesNoMoreThanTheBufferHolds) {
    auto state = std::make_shared<FakeDriverState>();
    state->inputs = 0;
    state->outputs = 2;
    state->type = T::Float32LE;
    state->outputReadySupported = true;
    CSpecAsioHost host({fakeDriverSource("Fake", state)});
    std::int32_t size = 64;
    ASSERT_TRUE(host.Open("Fake", size));
    EXPECT_TRUE(host.OutputReadySupported());
    std::vector<float> block(100, 0.25f);
    float* channels[2] = {block.data(), block.data()};
    const struct {
        std::uint32_t frames;
        std::size_t sounding;
    } cases[] = {{32, 32}, {64, 64}, {100, 64}, {0, 0}};
    for (const auto& c : cases) {
        for (auto& m : state->memory[0]) std::fill(m.begin(), m.end(), 0xAA);
        state->bufferSwitch(0, true);  // sets the current half
        host.WriteOutputs(channels, c.frames);
        const std::vector<float> out = read(*state, 0, 0);
        for (std::size_t i = 0; i < out.size(); ++i) {
            ASSERT_EQ(out[i], i < c.sounding ? 0.25f : 0.0f) << c.frames << " frames, at " << i;
        }
    }
    EXPECT_EQ(state->outputReadies, 1 + 2 * 4) << "the open's query, then after every write, pass-through included";
    host.Close();
    host.WriteOutputs(channels, 64);  // no buffers: nothing happens
}

TEST(AsioHost, OneOwnerAtATime) {
    auto first = std::make_shared<FakeDriverState>();
    auto second = std::make_shared<FakeDriverState>();
    CSpecAsioHost a({fakeDriverSource("First", first), fakeDriverSource("Second", second)});
    CSpecAsioHost b({fakeDriverSource("First", first), fakeDriverSource("Second", second)});
    std::int32_t size = 256;
    EXPECT_FALSE(a.Start()) << "nothing open";
    ASSERT_TRUE(a.Open("First", size));
    EXPECT_EQ(CAsioHost::Owner(), &a);
    EXPECT_FALSE(b.Open("Second", size)) << "a owns the driver";
    EXPECT_EQ(second->created, 0);
    EXPECT_FALSE(b.Start());
    b.Close();
    EXPECT_TRUE(first->alive) << "b's close leaves a's driver alone";
    EXPECT_EQ(first->stops, 0);
    ASSERT_TRUE(a.Start());
    EXPECT_TRUE(a.IsStarted());
    EXPECT_EQ(first->starts, 1);
    EXPECT_TRUE(first->bufferSwitch(0, true)) << "the owner gets the buffer switch";

    a.Close();
    EXPECT_FALSE(first->alive);
    EXPECT_EQ(first->stops, 1);
    EXPECT_EQ(CAsioHost::Owner(), nullptr);
    ASSERT_TRUE(b.Open("Second", size));
    EXPECT_EQ(CAsioHost::Owner(), &b);
    ASSERT_TRUE(b.Open("First", size)) << "an owner may open another driver";
    EXPECT_FALSE(second->alive);
    EXPECT_TRUE(first->alive);
}

TEST(AsioHost, AFailedOpenUnloadsTheDriver) {
    const struct {
        const char* failAt;
        const char* name;
        const char* message;
    } cases[] = {
        {"", "Unknown", "No ASIO Driver"},
        {"init", "Fake", "the fake device is unplugged"},
        {"channels", "Fake", nullptr},
        {"sizes", "Fake", nullptr},
        {"rate", "Fake", nullptr},
        {"buffers", "Fake", nullptr},
    };
    for (const auto& c : cases) {
        auto state = std::make_shared<FakeDriverState>();
        state->failAt = c.failAt;
        CSpecAsioHost host({fakeDriverSource("Fake", state)});
        std::int32_t size = 512;
        EXPECT_FALSE(host.Open(c.name, size)) << c.failAt;
        EXPECT_FALSE(host.IsOpen());
        EXPECT_FALSE(state->alive) << c.failAt;
        EXPECT_EQ(CAsioHost::Owner(), nullptr) << "a failed open leaves nobody owning the driver";
        if (c.message) {
            EXPECT_EQ(host.ErrorMessage(), c.message);
        }
        EXPECT_FALSE(host.Start());
    }
    auto state = std::make_shared<FakeDriverState>();
    CSpecAsioHost host({fakeDriverSource("Fake", state)});
    std::int32_t size = 512;
    ASSERT_TRUE(host.Open("Fake", size));
    EXPECT_EQ(host.ErrorMessage(), "No ASIO Driver Error");
    EXPECT_EQ(host.LoadedDriverName(), "Fake");
    EXPECT_EQ(host.InputLatency(), 11);
    EXPECT_EQ(host.OutputLatency(), 22);
}

TEST(AsioHost, AnswersTheDriversMessages) {
    auto state = std::make_shared<FakeDriverState>();
    CSpecAsioHost host({fakeDriverSource("Fake", state)});
    platform::RecordingMessageTarget window;
    host.SetNotificationWindow(&window);
    EXPECT_EQ(host.GetSysRef(), &window);
    std::int32_t size = 1024;
    ASSERT_TRUE(host.Open("Fake", size));
    const struct {
        std::int32_t selector, value, answer;
    } cases[] = {
        {1, 1, 1}, {1, 8, 1}, {1, 9, 0}, {1, 0, 0}, {2, 0, 2}, {3, 0, 1}, {5, 0, 1},
        {6, 0, 1}, {7, 0, 1}, {8, 0, 1}, {9, 0, 0}, {0, 0, 0}, {4, 2048, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(state->callbacks->asioMessage(c.selector, c.value, nullptr, nullptr), c.answer)
            << "selector " << c.selector << ", value " << c.value;
    }
    EXPECT_EQ(host.BufferSize(), 2048) << "the new buffer size";
    EXPECT_EQ(host.FloatBufferFrames(), 2048u);
    const auto messages = window.messages();
    ASSERT_EQ(messages.size(), 1u) << "the resync request";
    EXPECT_EQ(messages[0].msg, platform::WM_COMMAND);
    EXPECT_EQ(messages[0].wParam, ID_AUDIO_RESYNC);
    state->callbacks->sampleRateDidChange(48000.0);
    EXPECT_EQ(host.SampleRate(), 48000.0);
    const AsioCallbacks* callbacks = state->callbacks;
    host.Close();
    EXPECT_EQ(callbacks->asioMessage(2, 0, nullptr, nullptr), 0) << "no owner: no answer";
}

TEST(AsioHost, ListsDriversWithDisplayNames) {
    std::vector<AsioDriverSource> drivers;
    auto state = std::make_shared<FakeDriverState>();
    drivers.push_back(fakeDriverSource("A driver whose name is longer than 31", state));
    drivers.push_back(fakeDriverSource("Exactly thirty-one characters..", state));
    for (int i = 2; i < 45; ++i) drivers.push_back(fakeDriverSource("Driver " + std::to_string(i), state));
    CSpecAsioHost host(std::move(drivers));
    EXPECT_EQ(host.DriverCount(), 45);
    ASSERT_EQ(host.NameCount(), kAsioMaxNames);
    EXPECT_EQ(host.DisplayName(0), "ASIO: A driver whose name is longe...");
    EXPECT_EQ(host.DisplayName(1), "ASIO: Exactly thirty-one characters..");
    EXPECT_EQ(host.DisplayName(39), "ASIO: Driver 39");
    std::string name;
    EXPECT_EQ(host.DriverName(44, name), kAsioOk);
    EXPECT_EQ(name, "Driver 44");
    EXPECT_EQ(host.DriverName(45, name), kAsioNoSuchDriver);
    EXPECT_EQ(host.DriverName(-1, name), kAsioNoSuchDriver);
    std::int32_t size = 64;
    EXPECT_TRUE(host.Open("A driver whose name is longe...", size)) << "opened by its listed name";
    host.Close();

    EXPECT_TRUE(host.DriverEnabled(0));
    host.SetDriverEnabled(3, false);
    EXPECT_FALSE(host.DriverEnabled(3));
    EXPECT_TRUE(host.DriverEnabled(4));
    EXPECT_FALSE(host.DriverEnabled(40));
    host.SetDriverEnabled(40, true);  // no such name: nothing
    EXPECT_TRUE(host.ChannelEnabled(63));
    EXPECT_FALSE(host.ChannelEnabled(64));
}

TEST(AsioHost, TheSystemsDriversAreTheJackServers) {
    const char* saved = std::getenv("JACK_DEFAULT_SERVER");
    const std::string keep = saved ? saved : "";
    const struct {
        const char* env;
        std::vector<std::string> names;
    } cases[] = {
        {nullptr, {"JACK (default)"}},
        {"default", {"JACK (default)"}},
        {"studio", {"JACK (default)", "JACK (studio)"}},
    };
    for (const auto& c : cases) {
        if (c.env) {
            setenv("JACK_DEFAULT_SERVER", c.env, 1);
        } else {
            unsetenv("JACK_DEFAULT_SERVER");
        }
        CSpecAsioHost host;
        std::vector<std::string> names;
        for (int i = 0; i < host.NameCount(); ++i) names.push_back(host.DisplayName(i).substr(6));
        EXPECT_EQ(names, c.names) << (c.env ? c.env : "(unset)");
    }
    if (saved) {
        setenv("JACK_DEFAULT_SERVER", keep.c_str(), 1);
    } else {
        unsetenv("JACK_DEFAULT_SERVER");
    }
}

// The device goes away: closed, stopped, the reason kept, the window told;
// the owner's Close then releases the driver.
TEST(AsioHost, ALostOutputClosesTheHostWithAMessage) {
    auto state = std::make_shared<FakeDriverState>();
    CSpecAsioHost host({fakeDriverSource("Fake", state)});
    platform::RecordingMessageTarget window;
    host.SetNotificationWindow(&window);
    std::int32_t size = 1024;
    ASSERT_TRUE(host.Open("Fake", size));
    ASSERT_TRUE(host.Start());
    state->callbacks->outputLost("the server has stopped");
    EXPECT_FALSE(host.IsOpen());
    EXPECT_FALSE(host.IsStarted());
    EXPECT_EQ(host.ErrorMessage(), "the server has stopped");
    const auto messages = window.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].msg, platform::WM_COMMAND);
    EXPECT_EQ(messages[0].wParam, ID_AUDIO_OUTPUT_LOST);
    EXPECT_FALSE(host.Start()) << "a lost output does not start again";
    host.Close();
    EXPECT_FALSE(state->alive);
    EXPECT_EQ(CAsioHost::Owner(), nullptr);
}

// The buffer switch, the render hand-off and the output conversion run on
// the audio thread: no allocation on the way.
TEST(AsioHost, TheBufferSwitchAllocatesNothing) {
    auto state = std::make_shared<FakeDriverState>();
    state->inputs = 2;
    state->outputs = 4;
    state->type = T::Int24BE;
    CSpecAsioHost host({fakeDriverSource("Fake", state)});
    std::int32_t size = 512;
    ASSERT_TRUE(host.Open("Fake", size));
    RampTarget target;
    target.host = &host;
    target.left.resize(512);
    target.right.resize(512);
    CWorkThread worker(&target);
    host.SetRenderWorker(&worker);
    std::size_t allocations = 0;
    {
        testing::AllocationCounter counter;
        for (int i = 0; i < 8; ++i) state->bufferSwitch(i & 1, true, 1'000'000 * i);
        allocations = counter.count();
    }
    EXPECT_EQ(target.renders.load(), 8);
    EXPECT_EQ(allocations, 0u);
}

// Without direct processing the block is rendered on the worker's thread
// and written into the half of its buffer switch.
TEST(AsioHostThreads, ATriggeredBlockRendersOnTheWorker) {
    auto state = std::make_shared<FakeDriverState>();
    state->inputs = 0;
    state->outputs = 2;
    CSpecAsioHost host({fakeDriverSource("Fake", state)});
    std::int32_t size = 128;
    ASSERT_TRUE(host.Open("Fake", size));
    RampTarget target;
    target.host = &host;
    target.left.resize(128);
    target.right.resize(128);
    CWorkThread worker(&target);
    ASSERT_TRUE(worker.Start());
    host.SetRenderWorker(&worker);
    ASSERT_TRUE(host.Start());
    ASSERT_TRUE(state->bufferSwitch(1, false));
    for (int i = 0; i < 5000 && target.renders.load() == 0; ++i) std::this_thread::sleep_for(1ms);
    ASSERT_EQ(target.renders.load(), 1);
    for (int i = 0; i < 5000 && worker.busy(); ++i) std::this_thread::sleep_for(1ms);
    expectNear(read(*state, 0, 1), target.left, "left");
    expectNear(read(*state, 1, 1), target.right, "right");
    EXPECT_EQ(worker.dropped(), 0u);
    worker.Stop();
    host.Close();
}

}  // namespace
}  // namespace qvp3
