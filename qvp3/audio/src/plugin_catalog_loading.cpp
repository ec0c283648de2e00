// Filling the plug-in catalogue at start and from scans, and loading its plug-ins.
#include <new>
#include <system_error>

#include "platform/text.h"
#include "qvp3_audio/plugin_catalog.h"

namespace qvp3 {
namespace {

bool fileExists(const std::filesystem::path& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

}  // namespace

int CPlugInCatalog::LoadVstInstance(PlugInEntry& entry) {
    if (!fileExists(entry.path)) {
        entry.problem = "not installed";
        return -1;
    }
    // Never into the program before the helper has had it once.
    CPlugInProbeCache cache(store_);
    const PlugInProbeResult probe = cache.Check(entry.path, probeHelper_, probeTimeout);
    if (!probe.ok()) {
        entry.problem = std::string(audProbeStatusName(probe.status)) + ": " + probe.detail;
        return -1;
    }
    const int slot = vstHost->LoadPlugIn(entry.path);
    entry.problem = slot < 0 ? "does not load" : "";
    return slot;
}

bool CPlugInCatalog::LoadVstEntry(PlugInEntry& entry) {
    entry.hostSlot = LoadVstInstance(entry);
    return entry.hostSlot >= 0;
}

std::array<std::uint8_t, 16> audLv2InstrumentId(std::string_view uri) {
    std::array<std::uint8_t, 16> id{};
    const std::uint64_t seeds[2] = {0xCBF29CE484222325ull, 0x84222325CBF29CE4ull};
    for (std::size_t half = 0; half < 2; ++half) {
        std::uint64_t h = seeds[half];
        for (const char c : uri) h = (h ^ static_cast<std::uint8_t>(c)) * 0x100000001B3ull;
        for (std::size_t b = 0; b < 8; ++b) id[half * 8 + b] = static_cast<std::uint8_t>(h >> (56 - 8 * b));
    }
    id[6] = static_cast<std::uint8_t>((id[6] & 0x0F) | 0x80);  // version 8
    id[8] = static_cast<std::uint8_t>((id[8] & 0x3F) | 0x80);  // variant 10
    return id;
}

void CPlugInCatalog::AddLv2Instruments(platform::SettingsKey& k) {
    if (!lv2World) lv2World = std::make_shared<CLv2World>();
    for (const Lv2PluginInfo& info : lv2World->Instruments()) {
        // Switched on only by the user: a value that starts with "1".
        const std::optional<std::string> value = k.readString(info.name);
        if (AddInstrument({}, value && !value->empty() && (*value)[0] == '1', info.name) != 0) return;
        PlugInEntry& e = instruments.back();
        e.kind = kPlugInKindDirectX;
        e.uri = info.uri;
        e.clsid = audLv2InstrumentId(info.uri);
    }
}

bool CPlugInCatalog::CreateLv2Instrument(PlugInEntry& entry) {
    entry.filter.reset();
    entry.problem.clear();
    try {
        entry.filter = CDxLv2Filter::Create(lv2World, entry.uri, entry.problem);
    } catch (const std::bad_alloc&) {
        entry.problem = "out of memory";
    }
    return entry.filter != nullptr;
}

void CPlugInCatalog::AddRegistryVstInstruments(platform::SettingsKey& k) {
    for (const auto& v : k.values()) {
        if (v.type != platform::SettingsType::String || v.name.find(kVstMark) == std::string::npos) continue;
        const std::string data = k.readString(v.name).value_or(std::string());
        // "1|<path>" or "0|<path>"; a library that is gone is passed over.
        if (data.size() < 3 || data[1] != '|') continue;
        const std::filesystem::path path = data.substr(2);
        if (!fileExists(path)) continue;
        AddInstrument(path, data[0] == '1', v.name);
    }
}

void CPlugInCatalog::FindSampleLibrary(platform::SettingsKey& k) {
    const platform::SettingsKey install = store_.openKey(platform::Hive::Machine, kSampleLibraryKey);
    const std::optional<std::string> folder = install.readString("Path");
    if (!folder) {
        // Uninstalled: its switch goes too.
        k.deleteValue(kSampleLibraryName);
        return;
    }
    sampleLibraryFound = true;
    // Which of the library's instruments plays a sound is told by the table beside the program.
    if (vstHost->instrumentTable.instrumentCount() == 0) vstHost->instrumentTable.load(programFolder_ / kQvoTableFile);
    const std::optional<std::string> value = k.readString(kSampleLibraryName);
    const bool enabled = !value || value->empty() || (*value)[0] != '0';
    if (AddInstrument(std::filesystem::path(*folder) / kSampleLibraryFile, enabled, kSampleLibraryName) != 0) return;
    if (!value) k.writeString(kSampleLibraryName, "1");
}

std::uint32_t CPlugInCatalog::EnumSoftSynths(CatalogProgress* progress) {
    OpenAppRegKey();
    platform::SettingsKey k = key();
    // The second standard's instruments come first.
    AddLv2Instruments(k);
    AddRegistryVstInstruments(k);
    FindSampleLibrary(k);
    CloseRegKey();
    LoadAllPlugIns(progress);
    return 0;
}

void CPlugInCatalog::LoadAllPlugIns(CatalogProgress* progress) {
    if (progress) progress->begin(static_cast<int>(instruments.size()));
    int done = 0;
    for (std::size_t i = 0; i < instruments.size(); ++i) {
        PlugInEntry& e = instruments[i];
        if (e.enabled) {
            if (progress) progress->loading(e.name);
            // One that fails keeps its name (it is the name of its value in
            // the store) and is switched off, with the reason.
            CreateSoftSynth(i);
        } else if (e.kind == kPlugInKindVst) {
            e.hostSlot = -1;
        }
        if (progress) progress->done(++done);
    }
    if (progress) progress->end();
}

bool CPlugInCatalog::CreateSoftSynth(std::size_t index) {
    if (index >= instruments.size()) return false;
    PlugInEntry& e = instruments[index];
    const bool made = e.kind == kPlugInKindVst ? LoadVstEntry(e) : CreateLv2Instrument(e);
    if (!made) e.enabled = 0;
    return made;
}

void CPlugInCatalog::LoadReverbEffect() {
    AddEffect(programFolder_ / kReverbFile, kReverbName);
    OpenAppRegKey();
    platform::SettingsKey k = key();
    for (const auto& v : k.values()) {
        if (v.type != platform::SettingsType::String || v.name.rfind(kEffectPrefix, 0) != 0) continue;
        AddEffect(k.readString(v.name).value_or(std::string()), v.name.substr(kEffectPrefix.size()));
    }
    CloseRegKey();
    CreateEffects();
}

void CPlugInCatalog::CreateEffects() {
    for (std::size_t i = 0; i < effects.size(); ++i) CreateEffect(i);
}

bool CPlugInCatalog::CreateEffect(std::size_t index) {
    if (index >= effects.size()) return false;
    PlugInEntry& e = effects[index];
    if (e.kind != kPlugInKindVst) return false;
    if (LoadVstEntry(e)) return true;
    e.enabled = 0;
    return false;
}

std::string CPlugInCatalog::ScannedInstrumentName(const PlugInIdentity& identity) {
    return std::string(kVstMark) + (identity.vendor.empty() ? "??" : identity.vendor) + ": " +
           (identity.displayName.empty() ? "??" : identity.displayName);
}

int CPlugInCatalog::AddScannedInstrument(const std::filesystem::path& path, const PlugInProbeResult& probe) {
    if (!probe.ok() || !probe.identity.isSynth()) return -1;
    const std::string name = ScannedInstrumentName(probe.identity);
    for (const PlugInEntry& e : instruments) {
        if (!e.userAdded && e.name == name) return -1;
    }
    if (AddInstrument(path, false, name) != 0) return -1;
    return static_cast<int>(instruments.size()) - 1;
}

}  // namespace qvp3
