// The VST 2 host: the program's loaded plug-ins in numbered slots, and the
// answers to their calls (the audioMaster callback), with the sample rate,
// block size and transport time they ask for.
//
// Slot numbers: kVstInstrumentSlot names the plug-in whose entry point is
// running while it loads; any other n names the plug-in at position n when
// 0 <= n < effectCount(); every other number names nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "qvp3_audio/vst_abi.h"
#include "qvp3_audio/vst_effect.h"

namespace qvp3 {

inline constexpr int kVstInstrumentSlot = 1000000;
inline constexpr int kVstProcessRealtime = 2;
inline constexpr int kVstProcessOffline = 4;
// The block size plug-ins are opened with before they get the host's.
inline constexpr int kVstOpeningBlockSize = 11025;
// The most frames one block may have: the render host's mix buffers.
inline constexpr int kVstMaxBlockFrames = 32000;

class CVSTHost {
public:
    CVSTHost();
    virtual ~CVSTHost();  // removes every plug-in
    CVSTHost(const CVSTHost&) = delete;
    CVSTHost& operator=(const CVSTHost&) = delete;

    // Loads the plug-in into the highest empty slot, else a new one; unless
    // noOpen it is opened with the host's sample rate and block size. The
    // slot number, or -1 (nothing is left in a slot).
    virtual int LoadPlugIn(const std::filesystem::path& path, bool noOpen = false, std::int32_t shellId = 0);
    // The instance a slot holds; the render host makes its own kind.
    virtual std::unique_ptr<CEffect> CreateEffect();
    // Empties a slot (the count does not shrink) / every slot (the count is 0).
    void RemovePlugIn(int slot);
    void RemoveAll();
    // Only when they differ: stored and sent to every plug-in. A block size
    // outside 1..kVstMaxBlockFrames would overrun the mix buffers: refused
    // (false), nothing changes.
    virtual void SetSampleRate(float rate);
    virtual bool SetBlockSize(std::int32_t size);
    void Process(float** inputs, float** outputs, std::int32_t frames);
    void ProcessReplacing(float** inputs, float** outputs, std::int32_t frames);
    void ProcessDoubleReplacing(double** inputs, double** outputs, std::int32_t frames);

    CEffect* GetEffect(int slot) const;
    int effectCount() const { return static_cast<int>(effects_.size()); }
    // The slot of a plug-in's AEffect; kVstInstrumentSlot while one loads and
    // none matches; -1 for none.
    int audSlotOfAEffect(const vst::AEffect* effect) const;

    // effGetEffectName; the display name falls back on the file's stem. Empty for an empty slot.
    std::string GetEffectName(int slot) const;
    std::string GetPlugInDisplayName(int slot) const;
    std::string audPluginVendorString(int slot) const;
    int audPluginGetProgram(int slot) const;
    vst::VstIntPtr audPluginEditOpen(int slot, void* window) const;
    void audPluginEditClose(int slot) const;
    // The editor's rectangle; false when the plug-in gives none.
    bool audPluginEditGetRect(int slot, vst::ERect& rect) const;

    // The host's answer to a plug-in's call (the table of the callback).
    virtual vst::VstIntPtr AudioMaster(int slot, vst::VstInt32 opcode, vst::VstInt32 index, vst::VstIntPtr value,
                                       void* ptr, float opt);
    // The function handed to every plug-in as its host.
    static vst::VstIntPtr AudioMasterCallback(vst::AEffect* effect, vst::VstInt32 opcode, vst::VstInt32 index,
                                              vst::VstIntPtr value, void* ptr, float opt);
    // The instance whose entry point runs on this thread while it is set.
    class LoadingScope {
    public:
        explicit LoadingScope(CEffect* effect);
        ~LoadingScope();
        LoadingScope(const LoadingScope&) = delete;
        LoadingScope& operator=(const LoadingScope&) = delete;

    private:
        CEffect* previous_;
    };

    std::int32_t language = 0;        // audioMasterGetLanguage
    std::int32_t vendorVersion = 300;  // audioMasterGetVendorVersion
    vst::VstTimeInfo timeInfo{};
    float sampleRate = 44100.0f;
    std::int32_t blockSize = 1024;
    // Set by the render host as a run starts; asked by plug-ins on their threads.
    std::atomic<std::int32_t> processLevel{kVstProcessRealtime};

private:
    std::vector<std::unique_ptr<CEffect>> effects_;
};

}  // namespace qvp3
