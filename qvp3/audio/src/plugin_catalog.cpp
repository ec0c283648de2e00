// The plug-in catalogue: its settings, lookups and list maintenance.
#include "qvp3_audio/plugin_catalog.h"

#include <cmath>
#include <new>

#include "platform/text.h"

namespace qvp3 {
namespace {

std::uint32_t written(platform::SettingsStatus status) {
    return status == platform::SettingsStatus::Ok ? 0 : kCatalogRegError;
}

template <typename Change>
std::uint32_t guarded(Change change) {
    try {
        change();
        return 0;
    } catch (const std::bad_alloc&) {
        return kCatalogOutOfMemory;
    }
}

int findIn(const std::vector<PlugInEntry>& entries, std::string_view name) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (platform::equalsNoCase(entries[i].name, name)) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

std::uint32_t audRegReadDword(const platform::SettingsKey& key, std::string_view name, std::uint32_t fallback,
                              int* error) {
    if (const auto value = key.readDword(name)) {
        if (error) *error = 0;
        return *value;
    }
    bool present = false;
    for (const auto& v : key.values()) present = present || platform::equalsNoCase(v.name, name);
    if (error) *error = present ? 13 : 2;  // ERROR_INVALID_DATA, ERROR_FILE_NOT_FOUND
    return fallback;
}

std::uint32_t audRegReadVolume(const platform::SettingsKey& key, int* error) {
    return audRegReadDword(key, "VSTVolume", kDefaultVstVolumePercent, error);
}

CPlugInCatalog::CPlugInCatalog(platform::SettingsStore& store, std::filesystem::path programFolder,
                               std::filesystem::path probeHelper)
    : store_(store), programFolder_(std::move(programFolder)), probeHelper_(std::move(probeHelper)) {
    const platform::SettingsKey k = key();
    blockSize = audRegReadDword(k, "SampleBlockSize", kDefaultSampleBlockSize);
    blockMs = static_cast<float>(blockSize) * 1000.0f / 44100.0f;
    vstHost = std::make_unique<CMyVSTHost>();
    vstVolume = static_cast<float>(audRegReadVolume(k)) / 100.0f;
    SyncRenderHost();
}

void CPlugInCatalog::SyncRenderHost() {
    vstHost->renderBlockSize = blockSize;
    vstHost->blockMs = blockMs;
    vstHost->masterVolume = vstVolume;
}

CPlugInCatalog::~CPlugInCatalog() {
    FreeInstruments();
    FreeEffects();
}

// --- the settings store ------------------------------------------------------

platform::SettingsKey CPlugInCatalog::key() {
    if (regKey_ && regKey_->isOpen()) return *regKey_;
    return store_.createKey(platform::Hive::User, platform::kProgramSettingsKey);
}

std::uint32_t CPlugInCatalog::OpenAppRegKey() {
    regKey_ = store_.createKey(platform::Hive::User, platform::kProgramSettingsKey);
    return regKey_->isOpen() ? 0 : kCatalogRegError;
}

void CPlugInCatalog::CloseRegKey() { regKey_.reset(); }

std::uint32_t CPlugInCatalog::WriteInstrumentValue(std::size_t index, bool on, const std::string& path) {
    if (index >= instruments.size()) return kCatalogRegError;
    const PlugInEntry& e = instruments[index];
    if (e.userAdded) return 0;
    std::string text = on ? "1" : "0";
    if (!path.empty()) text += "|" + path;
    return written(key().writeString(e.name, text));
}

std::uint32_t CPlugInCatalog::WriteEffectValue(std::size_t index, const std::string& text) {
    if (index >= effects.size()) return kCatalogRegError;
    return written(key().writeString(std::string(kEffectPrefix) + effects[index].name, text));
}

std::uint32_t CPlugInCatalog::SaveSamplePlayerNumber() {
    return written(key().writeString("SamplePlayerNumber", std::to_string(instruments.size())));
}

std::uint32_t CPlugInCatalog::SaveEffectsNumber() {
    return written(key().writeString("EffectsNumber", std::to_string(effects.size())));
}

std::uint32_t CPlugInCatalog::SaveSampleBlockSize() {
    SyncRenderHost();
    return written(key().writeDword("SampleBlockSize", blockSize));
}

std::uint32_t CPlugInCatalog::SaveVstVolume() {
    SyncRenderHost();
    return written(key().writeDword("VSTVolume", static_cast<std::uint32_t>(std::lround(vstVolume * 100.0f))));
}

std::uint32_t CPlugInCatalog::SaveVstFolder(const std::string& text) {
    return written(key().writeString("SamplePlayerVSTFolder", text));
}

std::uint32_t CPlugInCatalog::SaveOutputFlags(const std::vector<OutputFlag>& outputs) {
    platform::SettingsKey k = key();
    for (const OutputFlag& o : outputs) {
        if (written(k.writeDword(o.name, o.enabled ? 1 : 0)) != 0) return kCatalogRegError;
    }
    return 0;
}

void CPlugInCatalog::LoadOutputFlags(std::vector<OutputFlag>& outputs) {
    const platform::SettingsKey k = key();
    for (OutputFlag& o : outputs) {
        const auto value = k.readDword(o.name);
        o.enabled = !value || *value == 1;
    }
}

void CPlugInCatalog::DeleteVstValues() {
    platform::SettingsKey k = key();
    for (const auto& v : k.values()) {
        if (v.name.find(kVstMark) != std::string::npos) k.deleteValue(v.name);
    }
}

std::size_t CPlugInCatalog::GetVstFolderLength() { return ReadVstFolder().size(); }

std::string CPlugInCatalog::ReadVstFolder() {
    return key().readString("SamplePlayerVSTFolder").value_or(std::string());
}

// --- lookups ---------------------------------------------------------------------

int CPlugInCatalog::FindInstrument(std::string_view name) const { return findIn(instruments, name); }
int CPlugInCatalog::FindEffect(std::string_view name) const { return findIn(effects, name); }

int CPlugInCatalog::FindPresentInstrument(std::string_view name) const {
    for (std::size_t i = 0; i < instruments.size(); ++i) {
        if (instruments[i].enabled && platform::equalsNoCase(instruments[i].name, name)) return static_cast<int>(i);
    }
    return -1;
}

std::string CPlugInCatalog::GetInstrumentName(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < instruments.size() ? instruments[index].name : "";
}

std::string CPlugInCatalog::GetEffectName(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < effects.size() ? effects[index].name : "";
}

int CPlugInCatalog::CountPresentInstruments() const {
    int n = 0;
    for (const PlugInEntry& e : instruments) n += e.enabled ? 1 : 0;
    return n;
}

CEffect* CPlugInCatalog::EffectOf(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= effects.size()) return nullptr;
    const PlugInEntry& e = effects[static_cast<std::size_t>(index)];
    if (e.kind != kPlugInKindVst || e.hostSlot < 0) return nullptr;
    CEffect* effect = vstHost->GetEffect(e.hostSlot);
    return effect != nullptr && effect->loaded() ? effect : nullptr;
}

bool CPlugInCatalog::EffectHasEditor(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= effects.size()) return false;
    if (effects[static_cast<std::size_t>(index)].kind == kPlugInKindDirectX) return true;
    const CEffect* effect = EffectOf(index);
    return effect != nullptr && (effect->aeffect()->flags & vst::effFlagsHasEditor) != 0;
}

int CPlugInCatalog::FindInstrumentEx(std::string_view name, int& code) const {
    bool named = false;
    for (std::size_t i = 0; i < instruments.size(); ++i) {
        const PlugInEntry& e = instruments[i];
        if (!e.enabled || !platform::equalsNoCase(e.name, name)) continue;
        named = true;
        if (!e.loadMark) {
            code = 0;
            return static_cast<int>(i);
        }
    }
    code = named ? 2 : 3;
    return -1;
}

// --- list maintenance ----------------------------------------------------------

std::uint32_t CPlugInCatalog::AddInstrument(const std::filesystem::path& path, bool enabled, const std::string& name) {
    return guarded([&] {
        PlugInEntry e;
        e.kind = kPlugInKindVst;
        e.path = path;
        e.enabled = enabled ? 1 : 0;
        e.name = name;
        instruments.push_back(std::move(e));
    });
}

std::uint32_t CPlugInCatalog::DuplicateInstrument(std::size_t index, int& newIndex) {
    if (index >= instruments.size()) return kCatalogRegError;
    return guarded([&] {
        const PlugInEntry& from = instruments[index];
        PlugInEntry e;
        e.name = from.name;
        e.kind = from.kind;
        e.enabled = from.enabled;
        if (from.kind == kPlugInKindVst) {
            e.path = from.path;
        } else {
            e.clsid = from.clsid;
            e.uri = from.uri;
        }
        e.userAdded = 1;
        instruments.push_back(std::move(e));
        newIndex = static_cast<int>(instruments.size()) - 1;
    });
}

std::uint32_t CPlugInCatalog::AddEffect(const std::filesystem::path& path, const std::string& name) {
    return guarded([&] {
        PlugInEntry e;
        e.kind = kPlugInKindVst;
        e.path = path;
        e.name = name;
        e.enabled = 1;
        effects.push_back(std::move(e));
    });
}

std::uint32_t CPlugInCatalog::RemoveEffect(std::size_t index) {
    if (index >= effects.size()) return kCatalogRegError;
    key().deleteValue(std::string(kEffectPrefix) + effects[index].name);
    if (effects[index].hostSlot >= 0) vstHost->RemovePlugIn(effects[index].hostSlot);
    effects.erase(effects.begin() + static_cast<std::ptrdiff_t>(index));
    return 0;
}

std::uint32_t CPlugInCatalog::RemoveInstrument(std::size_t index) {
    if (index >= instruments.size()) return kCatalogRegError;
    if (instruments[index].kind == kPlugInKindVst && instruments[index].hostSlot >= 0) {
        vstHost->RemovePlugIn(instruments[index].hostSlot);
    }
    instruments.erase(instruments.begin() + static_cast<std::ptrdiff_t>(index));
    return 0;
}

void CPlugInCatalog::ClearLoadMarks() {
    for (PlugInEntry& e : instruments) e.loadMark = 0;
}

void CPlugInCatalog::ClearUseMarks() {
    for (PlugInEntry& e : instruments) e.useMark = 0;
}

void CPlugInCatalog::UnloadPlugIns() {
    for (PlugInEntry& e : instruments) {
        e.filter.reset();
        e.hostSlot = -1;
        e.loadMark = 0;
    }
    for (PlugInEntry& e : effects) e.hostSlot = -1;
    vstHost->RemoveAll();
}

void CPlugInCatalog::FreeInstruments() {
    UnloadPlugIns();
    instruments.clear();
}

void CPlugInCatalog::FreeEffects() {
    UnloadPlugIns();
    effects.clear();
}

}  // namespace qvp3
