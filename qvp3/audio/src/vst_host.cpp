// The VST 2 host: slots and the answers to the plug-ins' calls.
#include "qvp3_audio/vst_host.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

namespace qvp3 {
namespace {

using namespace qvp3::vst;

// The instance whose entry point runs on this thread: a plug-in calls its
// host before it has handed back its AEffect.
thread_local CEffect* tlsLoading = nullptr;

constexpr const char* kVendorString = "Tavrena-software";
constexpr const char* kProductString = "Tavrena Orvendo";
// The sample-library plug-in asks audioMasterVendorSpecific with index "QVO\0" to recognise its host.
constexpr VstInt32 kQvoQuery = 'Q' | ('V' << 8) | ('O' << 16);

CEffect* instanceOf(AEffect* effect) {
    if (effect != nullptr && effect->resvd1 != 0) return reinterpret_cast<CEffect*>(effect->resvd1);
    return tlsLoading;
}

bool canDo(const char* what) {
    if (what == nullptr) return false;
    static const char* const known[] = {"sendVstEvents",       "sendVstMidiEvent", "receiveVstEvents",
                                        "receiveVstMidiEvent", "sendVstMidiEventFlagIsRealtime", "sizeWindow"};
    return std::any_of(std::begin(known), std::end(known), [&](const char* k) { return std::strcmp(k, what) == 0; });
}

void copyText(void* ptr, const char* text) {
    if (ptr != nullptr) std::strcpy(static_cast<char*>(ptr), text);
}

}  // namespace

CVSTHost::LoadingScope::LoadingScope(CEffect* effect) : previous_(tlsLoading) { tlsLoading = effect; }
CVSTHost::LoadingScope::~LoadingScope() { tlsLoading = previous_; }

CVSTHost::CVSTHost() {
    timeInfo.sampleRate = 44100.0;
    timeInfo.tempo = 120.0;
    timeInfo.timeSigNumerator = 4;
    timeInfo.timeSigDenominator = 4;
    timeInfo.smpteFrameRate = 1;  // 25 frames per second
}

CVSTHost::~CVSTHost() { RemoveAll(); }

std::unique_ptr<CEffect> CVSTHost::CreateEffect() { return std::make_unique<CEffect>(this); }

int CVSTHost::LoadPlugIn(const std::filesystem::path& path, bool noOpen, std::int32_t shellId) {
    std::unique_ptr<CEffect> effect;
    try {
        effect = CreateEffect();
    } catch (const std::bad_alloc&) {
        return -1;
    }
    if (!effect) return -1;
    effect->shellId = shellId;
    if (!effect->Load(path)) return -1;  // the instance and its library go
    int slot = -1;
    for (int s = effectCount() - 1; s >= 0; --s) {
        if (!effects_[static_cast<std::size_t>(s)]) {
            slot = s;
            break;
        }
    }
    try {
        if (slot < 0) {
            if (effects_.size() == effects_.capacity()) effects_.reserve(effects_.size() + 5);
            effects_.push_back(nullptr);
            slot = effectCount() - 1;
        }
    } catch (const std::bad_alloc&) {
        return -1;
    }
    effect->slot = slot;
    CEffect& e = *effect;
    effects_[static_cast<std::size_t>(slot)] = std::move(effect);
    if (!noOpen) {
        e.EffOpen();
        e.EffSetSampleRate(sampleRate);
        e.EffSetBlockSize(kVstOpeningBlockSize);
        if (e.EffCanDo("receiveVstMidiEvent") == 1) e.wantsMidi = true;
        e.EffMainsChanged(true);
        e.EffMainsChanged(false);
        e.EffSetBlockSize(blockSize);
        e.EffMainsChanged(true);
    }
    return slot;
}

void CVSTHost::RemovePlugIn(int slot) {
    if (slot < 0 || slot >= effectCount()) return;
    std::unique_ptr<CEffect> effect = std::move(effects_[static_cast<std::size_t>(slot)]);
    if (effect) effect->Unload();
}

void CVSTHost::RemoveAll() {
    for (int s = effectCount() - 1; s >= 0; --s) RemovePlugIn(s);
    effects_.clear();
}

void CVSTHost::SetSampleRate(float rate) {
    if (rate == sampleRate) return;
    sampleRate = rate;
    timeInfo.sampleRate = rate;
    for (auto& e : effects_) {
        if (e) e->EffSetSampleRate(rate);
    }
}

bool CVSTHost::SetBlockSize(std::int32_t size) {
    if (size <= 0 || size > kVstMaxBlockFrames) return false;
    if (size == blockSize) return true;
    blockSize = size;
    for (auto& e : effects_) {
        if (!e) continue;
        e->EffSetBlockSize(size);
        e->EffMainsChanged(true);
    }
    return true;
}

void CVSTHost::Process(float** inputs, float** outputs, std::int32_t frames) {
    for (auto& e : effects_) {
        if (e) e->Process(inputs, outputs, frames);
    }
}

void CVSTHost::ProcessReplacing(float** inputs, float** outputs, std::int32_t frames) {
    for (auto& e : effects_) {
        if (e) e->ProcessReplacing(inputs, outputs, frames);
    }
}

void CVSTHost::ProcessDoubleReplacing(double** inputs, double** outputs, std::int32_t frames) {
    for (auto& e : effects_) {
        if (e) e->ProcessDoubleReplacing(inputs, outputs, frames);
    }
}

CEffect* CVSTHost::GetEffect(int slot) const {
    if (slot == kVstInstrumentSlot) return tlsLoading != nullptr && tlsLoading->host() == this ? tlsLoading : nullptr;
    if (slot < 0 || slot >= effectCount()) return nullptr;
    return effects_[static_cast<std::size_t>(slot)].get();
}

int CVSTHost::audSlotOfAEffect(const AEffect* effect) const {
    for (int s = effectCount() - 1; s >= 0; --s) {
        const CEffect* e = effects_[static_cast<std::size_t>(s)].get();
        if (e != nullptr && e->aeffect() == effect) return s;
    }
    return tlsLoading != nullptr && tlsLoading->host() == this ? kVstInstrumentSlot : -1;
}

std::string CVSTHost::GetEffectName(int slot) const {
    CEffect* e = GetEffect(slot);
    return e != nullptr ? e->EffGetEffectName() : std::string();
}

std::string CVSTHost::GetPlugInDisplayName(int slot) const {
    CEffect* e = GetEffect(slot);
    if (e == nullptr) return {};
    std::string name = e->EffGetEffectName();
    if (name.empty()) name = e->path().stem().string().substr(0, 260);
    return name;
}

std::string CVSTHost::audPluginVendorString(int slot) const {
    CEffect* e = GetEffect(slot);
    return e != nullptr ? e->EffGetVendorString() : std::string();
}

int CVSTHost::audPluginGetProgram(int slot) const {
    CEffect* e = GetEffect(slot);
    return e != nullptr ? e->EffGetProgram() : 0;
}

VstIntPtr CVSTHost::audPluginEditOpen(int slot, void* window) const {
    CEffect* e = GetEffect(slot);
    return e != nullptr ? e->EffEditOpen(window) : 0;
}

void CVSTHost::audPluginEditClose(int slot) const {
    if (CEffect* e = GetEffect(slot)) e->EffEditClose();
}

bool CVSTHost::audPluginEditGetRect(int slot, ERect& rect) const {
    CEffect* e = GetEffect(slot);
    if (e == nullptr) return false;
    ERect* given = nullptr;
    e->EffDispatch(effEditGetRect, 0, 0, &given);
    if (given == nullptr) return false;
    rect = *given;
    return true;
}

VstIntPtr CVSTHost::AudioMasterCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                        float opt) {
    CEffect* instance = instanceOf(effect);
    CVSTHost* host = instance != nullptr ? instance->host() : nullptr;
    if (host == nullptr) return 0;
    const int slot = instance->slot >= 0 ? instance->slot : kVstInstrumentSlot;
    return host->AudioMaster(slot, opcode, index, value, ptr, opt);
}

VstIntPtr CVSTHost::AudioMaster(int slot, VstInt32 opcode, VstInt32 index, VstIntPtr, void* ptr, float) {
    CEffect* caller = GetEffect(slot);
    switch (opcode) {
        case audioMasterVersion: return kVstVersion;
        case audioMasterCurrentId: return caller != nullptr ? caller->shellId : 0;
        case audioMasterIdle:
            for (auto& e : effects_) {
                if (e && e->editorOpen()) e->EffEditIdle();
            }
            return 0;
        case audioMasterWantMidi:
            if (caller == nullptr) return 0;
            caller->wantsMidi = true;
            return 1;
        case audioMasterGetTime: return reinterpret_cast<VstIntPtr>(&timeInfo);
        case audioMasterGetNumAutomatableParameters: return caller != nullptr ? caller->NumParams() : 0;
        case audioMasterGetParameterQuantization: return 1;
        case audioMasterNeedIdle:
            if (caller == nullptr) return 0;
            caller->needsIdle = true;
            return 1;
        case audioMasterSizeWindow: return caller != nullptr ? 1 : 0;
        case audioMasterGetSampleRate:
            if (caller != nullptr && slot != kVstInstrumentSlot) caller->EffSetSampleRate(sampleRate);
            return static_cast<VstIntPtr>(sampleRate);
        case audioMasterGetBlockSize:
            if (caller != nullptr && slot != kVstInstrumentSlot) caller->EffSetBlockSize(blockSize);
            return blockSize;
        case audioMasterGetPreviousPlug:
            for (int s = 0; s < effectCount(); ++s) {
                if (effects_[static_cast<std::size_t>(s)]) return s;
            }
            return -1;
        case audioMasterGetNextPlug:
            for (int s = (slot == kVstInstrumentSlot ? effectCount() : slot + 1); s < effectCount(); ++s) {
                if (s >= 0 && effects_[static_cast<std::size_t>(s)]) return s;
            }
            return -1;
        case audioMasterGetCurrentProcessLevel: return processLevel;
        case audioMasterSetOutputSampleRate: return 1;
        case audioMasterGetVendorString: copyText(ptr, kVendorString); return 1;
        case audioMasterGetProductString: copyText(ptr, kProductString); return 1;
        case audioMasterGetVendorVersion: return vendorVersion;
        case audioMasterVendorSpecific: return index == kQvoQuery ? 1 : 0;
        case audioMasterCanDo: return canDo(static_cast<const char*>(ptr)) ? 1 : 0;
        case audioMasterGetLanguage: return language;
        case audioMasterGetDirectory: return caller != nullptr ? reinterpret_cast<VstIntPtr>(caller->directoryText()) : 0;
        default: return 0;  // everything else, and every opcode above 49
    }
}

}  // namespace qvp3
