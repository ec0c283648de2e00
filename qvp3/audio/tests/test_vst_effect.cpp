// Loading and calling VST 2 plug-ins: test plug-ins of our own for every path
// (an effect, an instrument, a mono one, one with chunks, the old entry name,
// a wrong magic, one that throws), banks applied to a real instance.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform_testing/temp_folder.h"
#include "qvp3_audio/fx_bank.h"
#include "qvp3_audio/vst_effect.h"
#include "qvp3_audio/vst_host.h"

namespace qvp3 {
namespace {

using namespace qvp3::vst;

std::filesystem::path plugin(const std::string& name) {
    return std::filesystem::path(QVP3_TEST_PLUGIN_DIR) / (name + ".so");
}

TEST(VstEffect, LoadsTheTestPlugInsAndRefusesTheBrokenOnes) {
    CVSTHost host;
    const struct {
        const char* name;
        bool loads;
        int inputs, outputs;
        bool synth;
    } cases[] = {
        {"gain", true, 2, 2, false},      {"synth", true, 0, 2, true},       {"mono", true, 1, 1, false},
        {"chunks", true, 2, 2, false},    {"main_only", true, 2, 2, false},  {"bad_magic", false, 0, 0, false},
        {"throws", false, 0, 0, false},   {"missing", false, 0, 0, false},
    };
    for (const auto& c : cases) {
        CEffect effect(&host);
        EXPECT_EQ(effect.Load(plugin(c.name)), c.loads) << c.name;
        EXPECT_EQ(effect.loaded(), c.loads) << c.name;
        if (!c.loads) {
            EXPECT_EQ(effect.EffDispatch(effGetVendorVersion), 0) << c.name << ": calls on nothing answer 0";
            continue;
        }
        EXPECT_EQ(effect.aeffect()->numInputs, c.inputs) << c.name;
        EXPECT_EQ(effect.aeffect()->numOutputs, c.outputs) << c.name;
        EXPECT_EQ((effect.aeffect()->flags & effFlagsIsSynth) != 0, c.synth) << c.name;
        EXPECT_EQ(effect.wantsMidi, c.synth) << c.name;
        EXPECT_EQ(effect.EffGetEffectName(), std::string("qvp3 ") + c.name);
        EXPECT_EQ(effect.EffGetVendorString(), "qvp3 tests");
        EXPECT_EQ(effect.directory(), std::filesystem::path(QVP3_TEST_PLUGIN_DIR));
        EXPECT_TRUE(effect.Unload());
        EXPECT_FALSE(effect.loaded());
    }
    CEffect orphan(nullptr);
    EXPECT_FALSE(orphan.Load(plugin("gain"))) << "no host, no loading";
}

TEST(VstEffect, ProgramsParametersAndBanksThroughTheDispatcher) {
    CVSTHost host;
    CEffect effect(&host);
    ASSERT_TRUE(effect.Load(plugin("gain")));
    effect.EffOpen();
    EXPECT_EQ(effect.EffGetProgramNameIndexed(1), "Second");
    effect.EffSetProgram(1);
    EXPECT_EQ(effect.EffGetProgram(), 1);
    effect.EffSetProgramName("A name longer than a program name may be");
    EXPECT_EQ(effect.EffGetProgramName().size(), 24u) << "cut to the published length";
    EXPECT_EQ(effect.EffGetParamName(0), "Gain");
    effect.SetParameter(0, 0.5f);
    EXPECT_FLOAT_EQ(effect.GetParameter(0), 0.5f);
    EXPECT_FLOAT_EQ(effect.GetParameter(7), 0.0f) << "an index the plug-in does not have is not asked";

    // A bank taken from the instance goes back into another instance.
    platform::testing::TempFolder folder;
    CFxBank bank;
    ASSERT_TRUE(bank.SetFromPlugIn(effect));
    ASSERT_TRUE(bank.Save(folder.path() / "gain.fxb"));
    EXPECT_TRUE(effect.LoadBank(folder.path() / "gain.fxb"));
    CEffect other(&host);
    ASSERT_TRUE(other.Load(plugin("gain")));
    other.EffOpen();
    CFxBank loaded;
    ASSERT_TRUE(loaded.Load(folder.path() / "gain.fxb"));
    ASSERT_TRUE(loaded.ApplyTo(other));
    other.EffSetProgram(1);
    EXPECT_FLOAT_EQ(other.GetParameter(0), 0.5f);

    // A plug-in that keeps chunks gives and takes its chunk.
    CEffect chunks(&host);
    ASSERT_TRUE(chunks.Load(plugin("chunks")));
    EXPECT_TRUE(chunks.ProgramChunks());
    EXPECT_EQ(chunks.GetChunk(false), (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
    const std::vector<std::uint8_t> state{9, 8, 7};
    chunks.SetChunk(state, false);
    EXPECT_EQ(chunks.GetChunk(false), state);
}

TEST(VstEffect, OwnBuffersFeedBothChannelsAndTheSynthPlaysItsNotes) {
    CVSTHost host;
    CMyVSTEffect mono(&host);
    ASSERT_TRUE(mono.Load(plugin("mono")));
    ASSERT_EQ(mono.outputs().size(), 2u);
    EXPECT_EQ(mono.outputs()[0], mono.outputs()[1]) << "one output feeds both mix channels";
    EXPECT_EQ(mono.outputCount(), 1u);

    CMyVSTEffect synth(&host);
    ASSERT_TRUE(synth.Load(plugin("synth")));
    synth.EffOpen();
    VstMidiEvent on{};
    on.type = kVstMidiType;
    on.byteSize = sizeof on;
    on.midiData[0] = static_cast<char>(0x90);
    on.midiData[1] = 64;
    on.midiData[2] = 96;
    VstEvents events{};
    events.numEvents = 1;
    events.events[0] = reinterpret_cast<VstEvent*>(&on);
    synth.EffProcessEvents(&events);
    synth.ProcessReplacingOwnBuffers(128);
    EXPECT_FLOAT_EQ(synth.outputs()[0][127], 64 / 128.0f);
    EXPECT_FLOAT_EQ(synth.outputs()[1][0], 96 / 128.0f);
    on.midiData[0] = static_cast<char>(0x80);
    synth.EffProcessEvents(&events);
    synth.ProcessReplacingOwnBuffers(kVstOwnBufferFrames * 2);  // cut to the buffers' length
    EXPECT_FLOAT_EQ(synth.outputs()[0][kVstOwnBufferFrames - 1], 0.0f);
}

TEST(VstEffect, PanoramaSetsConstantPowerGains) {
    CVSTHost host;
    CMyVSTEffect effect(&host);
    const struct {
        int pan;
        float left, right;
    } cases[] = {{64, 0.70710677f, 0.70710677f}, {127, 0.0f, 1.0f}, {0, 1.0f, 0.0f}, {500, 0.0f, 1.0f}};
    for (const auto& c : cases) {
        audSetPan(effect, c.pan);
        EXPECT_NEAR(effect.leftGain, c.left, 1e-5) << c.pan;
        EXPECT_NEAR(effect.rightGain, c.right, 1e-5) << c.pan;
        EXPECT_GE(effect.rightGain, 0.0f) << c.pan;
    }
}

}  // namespace
}  // namespace qvp3

namespace qvp3 {
namespace {

// A real outside plug-in (Debian's lsp-plugins-vst): an effect processes a
// sine block in place.
TEST(VstEffectOutside, AnOutsideEffectProcessesASineInPlace) {
    const std::filesystem::path library = "/usr/lib/vst/lsp-plugins/loud-comp-stereo.so";
    if (!std::filesystem::exists(library)) GTEST_SKIP() << "lsp-plugins-vst is not installed";
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the outside plug-in keeps memory of its own that the leak checker would count as ours";
#endif
    CVSTHost host;
    CEffect effect(&host);
    ASSERT_TRUE(effect.Load(library));
    EXPECT_FALSE(effect.EffGetEffectName().empty());
    ASSERT_GE(effect.aeffect()->numInputs, 2);
    ASSERT_GE(effect.aeffect()->numOutputs, 2);
    effect.EffOpen();
    effect.EffSetSampleRate(44100.0f);
    effect.EffSetBlockSize(512);
    effect.EffResume();
    std::vector<float> left(512), right(512);
    bool changed = false;
    for (int block = 0; block < 40; ++block) {
        for (int i = 0; i < 512; ++i) {
            left[static_cast<std::size_t>(i)] = right[static_cast<std::size_t>(i)] =
                0.5f * std::sin(2.0f * 3.14159265f * 440.0f * static_cast<float>(block * 512 + i) / 44100.0f);
        }
        const std::vector<float> before = left;
        float* buffers[2] = {left.data(), right.data()};
        effect.ProcessReplacing(buffers, buffers, 512);
        for (std::size_t i = 0; i < left.size(); ++i) {
            ASSERT_FALSE(std::isnan(left[i]) || std::isnan(right[i])) << "block " << block;
            changed = changed || std::fabs(left[i] - before[i]) > 1e-4f;
        }
    }
    EXPECT_TRUE(changed) << "the effect changes the samples";
    effect.EffSuspend();
    EXPECT_TRUE(effect.Unload());
}

}  // namespace
}  // namespace qvp3

namespace qvp3 {
namespace {

// --- the host -----------------------------------------------------------------------------

TEST(VstHost, SlotsAreReusedFromTheHighestEmptyOneAndTheCountNeverShrinks) {
    CVSTHost host;
    EXPECT_EQ(host.LoadPlugIn(plugin("gain")), 0);
    EXPECT_EQ(host.LoadPlugIn(plugin("mono")), 1);
    EXPECT_EQ(host.LoadPlugIn(plugin("chunks")), 2);
    host.RemovePlugIn(1);
    EXPECT_EQ(host.GetEffect(1), nullptr);
    EXPECT_EQ(host.LoadPlugIn(plugin("synth")), 1);
    host.RemovePlugIn(2);
    EXPECT_EQ(host.effectCount(), 3);
    EXPECT_EQ(host.LoadPlugIn(plugin("gain")), 2);
    EXPECT_EQ(host.LoadPlugIn(plugin("bad_magic")), -1);
    EXPECT_EQ(host.LoadPlugIn(plugin("throws")), -1);
    EXPECT_EQ(host.effectCount(), 3) << "a failed load leaves no slot";
    EXPECT_EQ(host.GetPlugInDisplayName(1), "qvp3 synth");
    EXPECT_EQ(host.audPluginVendorString(0), "qvp3 tests");
    EXPECT_EQ(host.GetEffectName(7), "");
    EXPECT_EQ(host.GetEffect(-1), nullptr);
    EXPECT_EQ(host.GetEffect(kVstInstrumentSlot), nullptr) << "nothing loads now";
    EXPECT_TRUE(host.GetEffect(1)->wantsMidi);
    host.RemoveAll();
    EXPECT_EQ(host.effectCount(), 0);
}

TEST(VstHost, TheSampleRateIsSentOnlyWhenItChanges) {
    CVSTHost host;
    const int slot = host.LoadPlugIn(plugin("gain"));
    ASSERT_EQ(slot, 0);
    CEffect* e = host.GetEffect(slot);
    const auto calls = [&] { return e->EffDispatch(vst::effVendorSpecific, vst::fourCharCode('r', 'a', 't', 'e')); };
    EXPECT_EQ(calls(), 1) << "once when it was opened";
    host.SetSampleRate(48000.0f);
    host.SetSampleRate(48000.0f);
    EXPECT_EQ(calls(), 2);
    EXPECT_EQ(host.timeInfo.sampleRate, 48000.0);
}

// A host that notes the slot of every call.
struct NotingHost : CVSTHost {
    std::vector<std::pair<int, int>> calls;  // (slot, opcode)
    vst::VstIntPtr AudioMaster(int slot, vst::VstInt32 opcode, vst::VstInt32 index, vst::VstIntPtr value, void* ptr,
                               float opt) override {
        calls.emplace_back(slot, opcode);
        return CVSTHost::AudioMaster(slot, opcode, index, value, ptr, opt);
    }
};

TEST(VstHost, APlugInAskingInsideItsEntryPointIsTheInstrumentSlot) {
    NotingHost host;
    ASSERT_EQ(host.LoadPlugIn(plugin("synth"), true), 0);
    ASSERT_FALSE(host.calls.empty());
    EXPECT_EQ(host.calls.front(), (std::pair<int, int>{kVstInstrumentSlot, vst::audioMasterVersion}));
    const vst::AEffect* effect = host.GetEffect(0)->aeffect();
    EXPECT_EQ(host.audSlotOfAEffect(effect), 0);
    EXPECT_EQ(host.audSlotOfAEffect(nullptr), -1);
}

TEST(VstHost, EveryAudioMasterAnswer) {
    CVSTHost host;
    host.language = 2;
    host.vendorVersion = 300;
    ASSERT_EQ(host.LoadPlugIn(plugin("gain"), false, 77), 0);
    ASSERT_EQ(host.LoadPlugIn(plugin("mono")), 1);
    host.RemovePlugIn(0);
    ASSERT_EQ(host.LoadPlugIn(plugin("gain"), false, 77), 0);
    char text[256] = {};
    const auto time = reinterpret_cast<vst::VstIntPtr>(&host.timeInfo);
    const auto directory = reinterpret_cast<vst::VstIntPtr>(host.GetEffect(1)->directoryText());
    const vst::VstInt32 qvo = 'Q' | ('V' << 8) | ('O' << 16);
    const struct {
        vst::VstInt32 opcode;
        int slot;
        vst::VstInt32 index;
        void* ptr;
        vst::VstIntPtr answer;
        const char* text;  // what the host copies into ptr, or null
    } rows[] = {
        {vst::audioMasterAutomate, 0, 0, nullptr, 0, nullptr},
        {vst::audioMasterVersion, 0, 0, nullptr, 2400, nullptr},
        {vst::audioMasterCurrentId, 0, 0, nullptr, 77, nullptr},
        {vst::audioMasterIdle, 0, 0, nullptr, 0, nullptr},
        {vst::audioMasterPinConnected, 0, 0, nullptr, 0, nullptr},
        {5, 0, 0, nullptr, 0, nullptr},
        {vst::audioMasterWantMidi, 1, 0, nullptr, 1, nullptr},
        {vst::audioMasterWantMidi, 9, 0, nullptr, 0, nullptr},
        {vst::audioMasterGetTime, 0, 0, nullptr, time, nullptr},
        {vst::audioMasterProcessEvents, 0, 0, nullptr, 0, nullptr},
        {vst::audioMasterSetTime, 0, 0, nullptr, 0, nullptr},
        {vst::audioMasterTempoAt, 0, 0, nullptr, 0, nullptr},
        {vst::audioMasterGetNumAutomatableParameters, 0, 0, nullptr, 3, nullptr},
        {vst::audioMasterGetNumAutomatableParameters, 9, 0, nullptr, 0, nullptr},
        {vst::audioMasterGetParameterQuantization, 0, 0, nullptr, 1, nullptr},
        {vst::audioMasterIOChanged, 0, 0, nullptr, 0, nullptr},
        {vst::audioMasterNeedIdle, 0, 0, nullptr, 1, nullptr},
        {vst::audioMasterNeedIdle, 9, 0, nullptr, 0, nullptr},
        {vst::audioMasterSizeWindow, 0, 0, nullptr, 1, nullptr},
        {vst::audioMasterSizeWindow, 9, 0, nullptr, 0, nullptr},
        {vst::audioMasterGetSampleRate, 0, 0, nullptr, 44100, nullptr},
        {vst::audioMasterGetBlockSize, 0, 0, nullptr, 1024, nullptr},
        {vst::audioMasterGetInputLatency, 0, 0, nullptr, 0, nullptr},
        {vst::audioMasterGetOutputLatency, 0, 0, nullptr, 0, nullptr},
        {vst::audioMasterGetPreviousPlug, 1, 0, nullptr, 0, nullptr},
        {vst::audioMasterGetNextPlug, 0, 0, nullptr, 1, nullptr},
        {vst::audioMasterGetNextPlug, 1, 0, nullptr, -1, nullptr},
        {vst::audioMasterWillReplaceOrAccumulate, 0, 0, nullptr, 0, nullptr},
        {vst::audioMasterGetCurrentProcessLevel, 0, 0, nullptr, kVstProcessRealtime, nullptr},
        {vst::audioMasterGetAutomationState, 0, 0, nullptr, 0, nullptr},
        {25, 0, 0, nullptr, 0, nullptr},
        {29, 0, 0, nullptr, 0, nullptr},
        {vst::audioMasterSetOutputSampleRate, 0, 0, nullptr, 1, nullptr},
        {vst::audioMasterGetOutputSpeakerArrangement, 0, 0, nullptr, 0, nullptr},
        {vst::audioMasterGetVendorString, 0, 0, text, 1, "Tavrena-software"},
        {vst::audioMasterGetProductString, 0, 0, text, 1, "Tavrena Orvendo"},
        {vst::audioMasterGetVendorVersion, 0, 0, nullptr, 300, nullptr},
        {vst::audioMasterVendorSpecific, 0, qvo, nullptr, 1, nullptr},
        {vst::audioMasterVendorSpecific, 0, 0, nullptr, 0, nullptr},
        {36, 0, 0, nullptr, 0, nullptr},
        {vst::audioMasterCanDo, 0, 0, const_cast<char*>("receiveVstMidiEvent"), 1, nullptr},
        {vst::audioMasterCanDo, 0, 0, const_cast<char*>("sizeWindow"), 1, nullptr},
        {vst::audioMasterCanDo, 0, 0, const_cast<char*>("openFileSelector"), 0, nullptr},
        {vst::audioMasterCanDo, 0, 0, nullptr, 0, nullptr},
        {vst::audioMasterGetLanguage, 0, 0, nullptr, 2, nullptr},
        {39, 0, 0, nullptr, 0, nullptr},
        {40, 0, 0, nullptr, 0, nullptr},
        {vst::audioMasterGetDirectory, 1, 0, nullptr, directory, nullptr},
        {vst::audioMasterGetDirectory, 9, 0, nullptr, 0, nullptr},
        {42, 0, 0, nullptr, 0, nullptr},
        {43, 0, 0, nullptr, 0, nullptr},
        {49, 0, 0, nullptr, 0, nullptr},
        {50, 0, 0, nullptr, 0, nullptr},
        {12345, 0, 0, nullptr, 0, nullptr},
    };
    for (const auto& r : rows) {
        std::memset(text, 0, sizeof text);
        EXPECT_EQ(host.AudioMaster(r.slot, r.opcode, r.index, 0, r.ptr, 0.0f), r.answer) << "opcode " << r.opcode;
        if (r.text != nullptr) {
            EXPECT_STREQ(text, r.text) << "opcode " << r.opcode;
        }
    }
    EXPECT_STREQ(host.GetEffect(1)->directoryText(), QVP3_TEST_PLUGIN_DIR);
    EXPECT_TRUE(host.GetEffect(0)->needsIdle);
}

}  // namespace
}  // namespace qvp3
