// One loaded VST 2 plug-in.
#include "qvp3_audio/vst_effect.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "qvp3_audio/fx_bank.h"
#include "qvp3_audio/vst_host.h"

namespace qvp3 {
using namespace qvp3::vst;

// --- loading --------------------------------------------------------------------------

CEffect::~CEffect() {
    if (host_ != nullptr) CEffect::Unload();
}

bool CEffect::Load(const std::filesystem::path& path) {
    if (host_ == nullptr) return false;
    Unload();
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) return false;
    auto entry = reinterpret_cast<VstPluginMainProc>(dlsym(module, kVstPluginMainName));
    if (entry == nullptr) entry = reinterpret_cast<VstPluginMainProc>(dlsym(module, kVstPluginMainOldName));
    AEffect* effect = nullptr;
    if (entry != nullptr) {
        CVSTHost::LoadingScope loading(this);
        try {
            effect = entry(&CVSTHost::AudioMasterCallback);
        } catch (...) {
            effect = nullptr;  // a plug-in that throws while it starts is not kept
        }
    }
    if (effect == nullptr || effect->magic != kEffectMagic) {
        // Nothing half-loaded stays: the library goes again.
        dlclose(module);
        return false;
    }
    effect->resvd1 = reinterpret_cast<VstIntPtr>(this);
    aeffect_ = effect;
    module_ = module;
    path_ = path;
    directory_ = path.parent_path();
    directoryText_ = directory_.string();
    wantsMidi = wantsMidi || EffCanDo("receiveVstMidiEvent") == 1;
    return true;
}

bool CEffect::Unload() {
    if (host_ == nullptr) return false;
    if (aeffect_ != nullptr) EffClose();
    aeffect_ = nullptr;
    if (module_ != nullptr) dlclose(module_);
    module_ = nullptr;
    path_.clear();
    directory_.clear();
    directoryText_.clear();
    editorOpen_ = inSetProgram_ = false;
    return true;
}

bool CEffect::LoadBank(const std::filesystem::path& path) {
    CFxBank bank;
    return bank.Load(path);
}

// --- calls into the plug-in -----------------------------------------------------------

VstIntPtr CEffect::EffDispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    if (aeffect_ == nullptr || aeffect_->dispatcher == nullptr) return 0;
    try {
        return aeffect_->dispatcher(aeffect_, opcode, index, value, ptr, opt);
    } catch (...) {
        return 0;
    }
}

void CEffect::Process(float** inputs, float** outputs, VstInt32 frames) {
    if (aeffect_ == nullptr || aeffect_->process == nullptr) return;
    try {
        aeffect_->process(aeffect_, inputs, outputs, frames);
    } catch (...) {
    }
}

void CEffect::ProcessReplacing(float** inputs, float** outputs, VstInt32 frames) {
    if (aeffect_ == nullptr || (aeffect_->flags & effFlagsCanReplacing) == 0 || aeffect_->processReplacing == nullptr) {
        return;
    }
    try {
        aeffect_->processReplacing(aeffect_, inputs, outputs, frames);
    } catch (...) {
    }
}

void CEffect::ProcessDoubleReplacing(double** inputs, double** outputs, VstInt32 frames) {
    if (aeffect_ == nullptr || (aeffect_->flags & effFlagsCanDoubleReplacing) == 0 ||
        aeffect_->processDoubleReplacing == nullptr) {
        return;
    }
    try {
        aeffect_->processDoubleReplacing(aeffect_, inputs, outputs, frames);
    } catch (...) {
    }
}

std::string CEffect::text(VstInt32 opcode, VstInt32 index, int size) {
    // Plug-ins write past the published lengths often enough: a generous, zeroed buffer.
    std::vector<char> buffer(static_cast<std::size_t>(std::max(size, 256)) + 1, '\0');
    EffDispatch(opcode, index, 0, buffer.data());
    buffer.back() = '\0';
    return std::string(buffer.data());
}

void CEffect::EffSetProgram(VstInt32 program) {
    EffBeginSetProgram();
    EffDispatch(effSetProgram, 0, program);
    EffEndSetProgram();
}

void CEffect::EffSetProgramName(const std::string& name) {
    std::array<char, kVstMaxProgNameLen + 1> buffer{};
    std::memcpy(buffer.data(), name.data(), std::min(name.size(), buffer.size() - 1));
    EffDispatch(effSetProgramName, 0, 0, buffer.data());
}

std::string CEffect::EffGetProgramName() { return text(effGetProgramName, 0, kVstMaxProgNameLen); }

std::string CEffect::EffGetProgramNameIndexed(VstInt32 program) {
    return text(effGetProgramNameIndexed, program, kVstMaxProgNameLen);
}

VstIntPtr CEffect::EffEditOpen(void* window) {
    const VstIntPtr result = EffDispatch(effEditOpen, 0, 0, window);
    editorOpen_ = true;
    return result;
}

void CEffect::EffEditClose() {
    EffDispatch(effEditClose);
    editorOpen_ = false;
}

void CEffect::EffEditIdle() {
    if (editorOpen_) EffDispatch(effEditIdle);
}

VstInt32 CEffect::EffCanDo(const char* what) {
    return static_cast<VstInt32>(EffDispatch(effCanDo, 0, 0, const_cast<char*>(what)));
}

void CEffect::EffIdle() {
    if (needsIdle) EffDispatch(effIdle);
}

VstIntPtr CEffect::EffBeginSetProgram() {
    const VstIntPtr result = EffDispatch(effBeginSetProgram);
    inSetProgram_ = result != 0;
    return result;
}

VstIntPtr CEffect::EffEndSetProgram() {
    const VstIntPtr result = EffDispatch(effEndSetProgram);
    inSetProgram_ = false;
    return result;
}

// --- FxPlugIn ---------------------------------------------------------------------------

std::int32_t CEffect::UniqueId() { return aeffect_ != nullptr ? aeffect_->uniqueID : 0; }
std::int32_t CEffect::Version() { return aeffect_ != nullptr ? aeffect_->version : 0; }
std::int32_t CEffect::NumPrograms() { return aeffect_ != nullptr ? std::max(aeffect_->numPrograms, 0) : 0; }
std::int32_t CEffect::NumParams() { return aeffect_ != nullptr ? std::max(aeffect_->numParams, 0) : 0; }
bool CEffect::ProgramChunks() { return aeffect_ != nullptr && (aeffect_->flags & effFlagsProgramChunks) != 0; }

float CEffect::GetParameter(std::int32_t index) {
    if (aeffect_ == nullptr || aeffect_->getParameter == nullptr || index < 0 || index >= NumParams()) return 0.0f;
    try {
        return aeffect_->getParameter(aeffect_, index);
    } catch (...) {
        return 0.0f;
    }
}

void CEffect::SetParameter(std::int32_t index, float value) {
    if (aeffect_ == nullptr || aeffect_->setParameter == nullptr || index < 0 || index >= NumParams()) return;
    try {
        aeffect_->setParameter(aeffect_, index, value);
    } catch (...) {
    }
}

std::vector<std::uint8_t> CEffect::GetChunk(bool isPreset) {
    void* data = nullptr;
    const VstIntPtr size = EffDispatch(effGetChunk, isPreset ? 1 : 0, 0, &data);
    if (size <= 0 || data == nullptr) return {};
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    try {
        return std::vector<std::uint8_t>(bytes, bytes + size);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

void CEffect::SetChunk(std::span<const std::uint8_t> data, bool isPreset) {
    EffBeginSetProgram();
    EffDispatch(effSetChunk, isPreset ? 1 : 0, static_cast<VstIntPtr>(data.size()),
                const_cast<std::uint8_t*>(data.data()));
    EffEndSetProgram();
}

// --- the render host's instance ---------------------------------------------------------

CMyVSTEffect::~CMyVSTEffect() { CMyVSTEffect::Unload(); }

bool CMyVSTEffect::Load(const std::filesystem::path& path) {
    if (!CEffect::Load(path)) return false;
    try {
        inputPointers_.assign(static_cast<std::size_t>(std::max(aeffect()->numInputs, 0)), nullptr);
        outputCount_ = static_cast<std::size_t>(std::max(aeffect()->numOutputs, 0));
        outputBuffers_.assign(std::max<std::size_t>(outputCount_, 1), std::vector<float>(kVstOwnBufferFrames, 0.0f));
        outputPointers_.clear();
        for (auto& buffer : outputBuffers_) outputPointers_.push_back(buffer.data());
        // A plug-in with one output (or none) feeds both mix channels from its first buffer.
        while (outputPointers_.size() < 2) outputPointers_.push_back(outputBuffers_.front().data());
    } catch (const std::bad_alloc&) {
        CEffect::Unload();
        freeBuffers();
        return false;
    }
    return true;
}

bool CMyVSTEffect::Unload() {
    freeBuffers();
    return CEffect::Unload();
}

void CMyVSTEffect::freeBuffers() {
    inputPointers_.clear();
    outputPointers_.clear();
    outputBuffers_.clear();
    outputCount_ = 0;
}

void CMyVSTEffect::SetInputs(float* const* inputs, std::size_t count, float* silence) {
    for (std::size_t i = 0; i < inputPointers_.size(); ++i) inputPointers_[i] = i < count ? inputs[i] : silence;
}

void CMyVSTEffect::ClearOutputs(vst::VstInt32 frames) {
    const auto n = static_cast<std::size_t>(std::clamp(frames, 0, kVstOwnBufferFrames));
    for (auto& buffer : outputBuffers_) std::fill(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n), 0.0f);
}

void CMyVSTEffect::ProcessOwnBuffers(vst::VstInt32 frames) {
    if (outputPointers_.empty()) return;
    Process(inputPointers_.data(), outputPointers_.data(), std::clamp(frames, 0, kVstOwnBufferFrames));
}

void CMyVSTEffect::ProcessReplacingOwnBuffers(vst::VstInt32 frames) {
    if (outputPointers_.empty()) return;
    ProcessReplacing(inputPointers_.data(), outputPointers_.data(), std::clamp(frames, 0, kVstOwnBufferFrames));
}

void audSetPan(CMyVSTEffect& effect, int pan) {
    constexpr float kPi = 3.14159265f;
    // Kept within a quarter turn: the far left would otherwise turn the right channel's phase.
    const float angle = std::clamp(static_cast<float>(std::clamp(pan, 0, 127) - 64) * kPi * 0.25f / 63.0f + kPi / 4.0f,
                                   0.0f, kPi / 2.0f);
    effect.leftGain = std::cos(angle);
    effect.rightGain = std::sin(angle);
}

}  // namespace qvp3
