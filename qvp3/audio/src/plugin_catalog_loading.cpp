// Filling the plug-in catalogue at start and from scans, and loading its plug-ins.
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

bool CPlugInCatalog::LoadVstEntry(PlugInEntry& entry) {
    entry.hostSlot = -1;
    if (!fileExists(entry.path)) {
        entry.problem = "not installed";
        return false;
    }
    // Never into the program before the helper has had it once.
    CPlugInProbeCache cache(store_);
    const PlugInProbeResult probe = cache.Check(entry.path, probeHelper_, probeTimeout);
    if (!probe.ok()) {
        entry.problem = std::string(audProbeStatusName(probe.status)) + ": " + probe.detail;
        return false;
    }
    const int slot = vstHost->LoadPlugIn(entry.path);
    if (slot < 0) {
        entry.problem = "does not load";
        return false;
    }
    entry.hostSlot = slot;
    entry.problem.clear();
    return true;
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
    const std::optional<std::string> value = k.readString(kSampleLibraryName);
    const bool enabled = !value || value->empty() || (*value)[0] != '0';
    if (AddInstrument(std::filesystem::path(*folder) / kSampleLibraryFile, enabled, kSampleLibraryName) != 0) return;
    if (!value) k.writeString(kSampleLibraryName, "1");
}

std::uint32_t CPlugInCatalog::EnumSoftSynths(CatalogProgress* progress) {
    OpenAppRegKey();
    platform::SettingsKey k = key();
    // Instruments of the second standard come first where a host of them is built in.
    AddRegistryVstInstruments(k);
    FindSampleLibrary(k);
    CloseRegKey();
    LoadAllPlugIns(progress);
    return 0;
}

void CPlugInCatalog::LoadAllPlugIns(CatalogProgress* progress) {
    if (progress) progress->begin(static_cast<int>(instruments.size()));
    int done = 0;
    for (PlugInEntry& e : instruments) {
        if (e.enabled && e.kind == kPlugInKindVst) {
            if (progress) progress->loading(e.name);
            if (!LoadVstEntry(e)) e.enabled = 0;
        } else if (e.kind == kPlugInKindVst) {
            e.hostSlot = -1;
        }
        if (progress) progress->done(++done);
    }
    if (progress) progress->end();
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
    for (PlugInEntry& e : effects) {
        if (e.kind == kPlugInKindVst && !LoadVstEntry(e)) e.enabled = 0;
    }
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
