// One loaded VST 2 plug-in: its library, its AEffect and the dispatcher
// calls the host makes, each guarded so that a plug-in that throws answers 0
// instead of ending the program; and, for the render host, an instance with
// its own input and output buffers, a channel mask, a lock and stereo gains.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "qvp3_audio/fx_plugin.h"
#include "qvp3_audio/vst_abi.h"

namespace qvp3 {

class CVSTHost;  // vst_host.h

class CEffect : public FxPlugIn {
public:
    explicit CEffect(CVSTHost* host) : host_(host) {}
    ~CEffect() override;
    CEffect(const CEffect&) = delete;
    CEffect& operator=(const CEffect&) = delete;

    // Loads the library and calls its entry point ("VSTPluginMain", else
    // "main"); an entry point that throws or an AEffect without the magic
    // leaves nothing loaded. False without a host.
    virtual bool Load(const std::filesystem::path& path);
    // effClose, then the library is released. False without a host.
    virtual bool Unload();
    // Reads a bank file; its contents are not sent to the plug-in. True when it could be read.
    bool LoadBank(const std::filesystem::path& path);

    bool loaded() const { return aeffect_ != nullptr; }
    vst::AEffect* aeffect() const { return aeffect_; }
    CVSTHost* host() const { return host_; }
    const std::filesystem::path& path() const { return path_; }
    const std::filesystem::path& directory() const { return directory_; }
    // The folder as the text a plug-in gets for audioMasterGetDirectory.
    const char* directoryText() const { return directoryText_.c_str(); }

    // The dispatcher, guarded; 0 without an AEffect or when the plug-in throws.
    vst::VstIntPtr EffDispatch(vst::VstInt32 opcode, vst::VstInt32 index = 0, vst::VstIntPtr value = 0,
                               void* ptr = nullptr, float opt = 0.0f);
    void Process(float** inputs, float** outputs, vst::VstInt32 frames);
    // Only when the plug-in can replace (effFlagsCanReplacing) or replace in doubles.
    void ProcessReplacing(float** inputs, float** outputs, vst::VstInt32 frames);
    void ProcessDoubleReplacing(double** inputs, double** outputs, vst::VstInt32 frames);

    // --- dispatcher calls of the host
    vst::VstIntPtr EffOpen() { return EffDispatch(vst::effOpen); }
    vst::VstIntPtr EffClose() { return EffDispatch(vst::effClose); }
    // effBeginSetProgram, effSetProgram, effEndSetProgram.
    void EffSetProgram(vst::VstInt32 program);
    vst::VstInt32 EffGetProgram() { return static_cast<vst::VstInt32>(EffDispatch(vst::effGetProgram)); }
    void EffSetProgramName(const std::string& name);
    std::string EffGetProgramName();
    std::string EffGetParamLabel(vst::VstInt32 index) { return text(vst::effGetParamLabel, index); }
    std::string EffGetParamDisplay(vst::VstInt32 index) { return text(vst::effGetParamDisplay, index); }
    std::string EffGetParamName(vst::VstInt32 index) { return text(vst::effGetParamName, index); }
    void EffSetSampleRate(float rate) { EffDispatch(vst::effSetSampleRate, 0, 0, nullptr, rate); }
    void EffSetBlockSize(vst::VstInt32 frames) { EffDispatch(vst::effSetBlockSize, 0, frames); }
    void EffMainsChanged(bool on) { EffDispatch(vst::effMainsChanged, 0, on ? 1 : 0); }
    void EffSuspend() { EffMainsChanged(false); }
    void EffResume() { EffMainsChanged(true); }
    float EffGetVu() { return static_cast<float>(EffDispatch(vst::effGetVu)) / 32767.0f; }
    vst::VstIntPtr EffEditOpen(void* window);
    void EffEditClose();
    void EffEditIdle();
    bool editorOpen() const { return editorOpen_; }
    vst::VstIntPtr EffProcessEvents(vst::VstEvents* events) { return EffDispatch(vst::effProcessEvents, 0, 0, events); }
    std::string EffGetProgramNameIndexed(vst::VstInt32 program);
    std::string EffGetEffectName() { return text(vst::effGetEffectName, 0, vst::kVstMaxEffectNameLen); }
    std::string EffGetVendorString() { return text(vst::effGetVendorString, 0, vst::kVstMaxVendorStrLen); }
    std::string EffGetProductString() { return text(vst::effGetProductString, 0, vst::kVstMaxProductStrLen); }
    vst::VstInt32 EffGetVendorVersion() { return static_cast<vst::VstInt32>(EffDispatch(vst::effGetVendorVersion)); }
    vst::VstInt32 EffGetVstVersion() { return static_cast<vst::VstInt32>(EffDispatch(vst::effGetVstVersion)); }
    // 1 yes, -1 no, 0 does not know.
    vst::VstInt32 EffCanDo(const char* what);
    // Only while the plug-in asked for idle calls.
    void EffIdle();
    vst::VstIntPtr EffBeginSetProgram();
    vst::VstIntPtr EffEndSetProgram();

    // --- what the plug-in asked of its host
    bool wantsMidi = false;
    bool needsIdle = false;
    std::int32_t slot = -1;
    std::int32_t shellId = 0;

    // --- FxPlugIn, over the dispatcher
    std::int32_t UniqueId() override;
    std::int32_t Version() override;
    std::int32_t NumPrograms() override;
    std::int32_t NumParams() override;
    bool ProgramChunks() override;
    std::int32_t GetProgram() override { return EffGetProgram(); }
    void SetProgram(std::int32_t program) override { EffSetProgram(program); }
    std::string GetProgramNameIndexed(std::int32_t program) override { return EffGetProgramNameIndexed(program); }
    void SetProgramName(const std::string& name) override { EffSetProgramName(name); }
    float GetParameter(std::int32_t index) override;
    void SetParameter(std::int32_t index, float value) override;
    std::vector<std::uint8_t> GetChunk(bool isPreset) override;
    void SetChunk(std::span<const std::uint8_t> data, bool isPreset) override;

protected:
    std::string text(vst::VstInt32 opcode, vst::VstInt32 index, int size = 256);

private:
    CVSTHost* host_;
    vst::AEffect* aeffect_ = nullptr;
    void* module_ = nullptr;
    std::filesystem::path path_;
    std::filesystem::path directory_;
    std::string directoryText_;
    bool editorOpen_ = false;
    bool inSetProgram_ = false;
};

// Frames of an instance's own output buffers.
inline constexpr int kVstOwnBufferFrames = 44100;

// The render host's instance: its own buffers, the MIDI channels it plays, a
// lock around processing and the gains of its two mix channels.
class CMyVSTEffect : public CEffect {
public:
    explicit CMyVSTEffect(CVSTHost* host) : CEffect(host) {}
    ~CMyVSTEffect() override;

    bool Load(const std::filesystem::path& path) override;
    bool Unload() override;

    // The inputs of the next process call: the first count of inputs, and
    // silence for every other input the plug-in has, so that it never reads
    // through a missing buffer.
    void SetInputs(float* const* inputs, std::size_t count, float* silence);
    // Zeroes the first frames samples of every output buffer.
    void ClearOutputs(vst::VstInt32 frames);
    // Processes at most the buffers' frames; the outputs are this instance's own.
    void ProcessOwnBuffers(vst::VstInt32 frames);
    void ProcessReplacingOwnBuffers(vst::VstInt32 frames);
    // The output buffers: at least two; a plug-in with one output feeds both from it.
    std::span<float* const> outputs() const { return outputPointers_; }
    std::size_t outputCount() const { return outputCount_; }

    std::uint16_t channelMask = 0xFFFF;  // bit n: MIDI channel n + 1
    std::mutex lock;
    float leftGain = 1.0f;
    float rightGain = 1.0f;

private:
    void freeBuffers();

    std::vector<float*> inputPointers_;
    std::vector<std::vector<float>> outputBuffers_;
    std::vector<float*> outputPointers_;
    std::size_t outputCount_ = 0;
};

// The gains from a MIDI panorama 0..127 (a constant-power law; 64 gives 0.7071 on both).
void audSetPan(CMyVSTEffect& effect, int pan);

}  // namespace qvp3
