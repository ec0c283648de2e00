// Events into a plug-in: the synth test plug-in plays a C-major scale sent
// through the host's event lists and gives exactly the samples it is known
// to give; offsets outside a block are moved into it; system-exclusive
// messages arrive whole; the host refuses block sizes beyond its mix buffers.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "qvp3_audio/vst_events.h"
#include "qvp3_audio/vst_host.h"

namespace qvp3 {
namespace {

using namespace qvp3::vst;

std::filesystem::path plugin(const std::string& name) {
    return std::filesystem::path(QVP3_TEST_PLUGIN_DIR) / (name + ".so");
}

TEST(VstEvents, OffsetsFallInsideTheBlock) {
    const struct {
        double eventMs, blockStartMs;
        std::int32_t frames, expected;
    } cases[] = {
        {100.0, 100.0, 441, 0},   {110.0, 100.0, 441, 441 - 1},  {105.0, 100.0, 441, 220},
        {90.0, 100.0, 441, 0},    {250.0, 0.0, 11025, 11025 - 1}, {250.0, 0.0, 11026, 11025},
        {1.0e9, 0.0, 1024, 1023}, {100.0, 100.0, 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(audEventFrame(c.eventMs, c.blockStartMs, c.frames), c.expected)
            << c.eventMs << " ms in a block from " << c.blockStartMs << " ms of " << c.frames;
    }
    CVstEventList list;
    list.AddMidi(0x403C90, -20);
    EXPECT_EQ(list.at(0).deltaFrames, 0) << "a negative offset plays at the block start";
}

TEST(VstEvents, ChannelMaskKeepsSystemExclusiveAndItsChannels) {
    CVstEventList list;
    list.AddMidi(0x403C90, 0);  // channel 1
    list.AddMidi(0x403C92, 0);  // channel 3
    const std::uint8_t reset[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    list.AddSysex(reset, 5);
    ASSERT_EQ(list.events()->numEvents, 3);
    const VstEvents* kept = list.eventsWhere([](const VstEvent& e) { return audEventPassesChannelMask(e, 0x0001); });
    ASSERT_EQ(kept->numEvents, 2);
    EXPECT_EQ(kept->events[0]->type, kVstMidiType);
    EXPECT_EQ(kept->events[1]->type, kVstSysExType);
    const auto* sysex = reinterpret_cast<const VstMidiSysexEvent*>(kept->events[1]);
    EXPECT_EQ(sysex->dumpBytes, 6) << "the whole message, not four bytes of it";
    EXPECT_EQ(static_cast<std::uint8_t>(sysex->sysexDump[5]), 0xF7);
    EXPECT_EQ(sysex->deltaFrames, 5);
    list.Clear();
    EXPECT_EQ(list.events()->numEvents, 0);
}

// The synth test plug-in sounds key / 128 left and velocity / 128 right while a note is held.
TEST(VstEvents, TheSynthPlaysACMajorScaleToTheSample) {
    CVSTHost host;
    const int slot = host.LoadPlugIn(plugin("synth"));
    ASSERT_GE(slot, 0);
    CEffect& synth = *host.GetEffect(slot);
    ASSERT_TRUE(synth.wantsMidi);

    // Eight notes of 250 ms, each ending as the next begins; blocks of 10 ms.
    const int keys[] = {60, 62, 64, 65, 67, 69, 71, 72};
    struct Timed {
        double ms;
        std::uint32_t message;
    };
    std::vector<Timed> performance;
    for (int i = 0; i < 8; ++i) {
        const auto key = static_cast<std::uint32_t>(keys[i]);
        const auto velocity = static_cast<std::uint32_t>(40 + 10 * i);
        if (i > 0) performance.push_back({250.0 * i, 0x80u | (static_cast<std::uint32_t>(keys[i - 1]) << 8)});
        performance.push_back({250.0 * i, 0x90u | (key << 8) | (velocity << 16)});
    }
    performance.push_back({2000.0, 0x80u | (72u << 8)});
    const std::uint8_t gmReset[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};

    constexpr int kBlock = 441;
    constexpr int kBlocks = 210;  // 2.1 s
    std::vector<float> left, right;
    std::vector<float> outL(kBlock), outR(kBlock);
    float* outputs[2] = {outL.data(), outR.data()};
    CVstEventList events;
    std::size_t next = 0;
    for (int b = 0; b < kBlocks; ++b) {
        const double start = b * 10.0;
        events.Clear();
        if (b == 3) events.AddSysex(gmReset, 0);
        for (; next < performance.size() && performance[next].ms < start + 10.0; ++next) {
            events.AddMidi(performance[next].message, audEventFrame(performance[next].ms, start, kBlock));
        }
        synth.EffProcessEvents(events.events());
        synth.ProcessReplacing(nullptr, outputs, kBlock);
        left.insert(left.end(), outL.begin(), outL.end());
        right.insert(right.end(), outR.begin(), outR.end());
    }
    ASSERT_EQ(left.size(), static_cast<std::size_t>(kBlock * kBlocks));
    for (std::size_t n = 0; n < left.size(); ++n) {
        const std::size_t note = n / 11025;  // 250 ms at 44.1 kHz
        const float wantL = note < 8 ? keys[note] / 128.0f : 0.0f;
        const float wantR = note < 8 ? (40 + 10 * static_cast<int>(note)) / 128.0f : 0.0f;
        ASSERT_EQ(left[n], wantL) << "frame " << n;
        ASSERT_EQ(right[n], wantR) << "frame " << n;
    }
    EXPECT_EQ(synth.EffDispatch(effVendorSpecific, fourCharCode('s', 'y', 's', 'x')), 6)
        << "the system-exclusive message reached the plug-in whole";
}

TEST(VstEvents, BlockSizesBeyondTheMixBuffersAreRefused) {
    CVSTHost host;
    for (const std::int32_t size : {0, -1, kVstMaxBlockFrames + 1, 1 << 30}) {
        EXPECT_FALSE(host.SetBlockSize(size)) << size;
        EXPECT_EQ(host.blockSize, 1024) << size;
    }
    EXPECT_TRUE(host.SetBlockSize(kVstMaxBlockFrames));
    EXPECT_EQ(host.blockSize, kVstMaxBlockFrames);
}

}  // namespace
}  // namespace qvp3
