#include "qvp3_audio/audio_services.h"

#include "qvp3_audio/output_device_model.h"
#include "qvp3_audio/sample_player.h"

namespace qvp3 {

namespace {

bool validIndex(const std::vector<PlugInEntry>& list, int index) {
    return index >= 0 && static_cast<std::size_t>(index) < list.size();
}

std::int16_t storedIndex(const ProjectEntry& entry, std::size_t at) {
    const int raw = entry.qvoAssignment[at] | entry.qvoAssignment[at + 1] << 8;
    return static_cast<std::int16_t>(raw - 1);
}

void storeIndex(ProjectEntry& entry, std::size_t at, std::int16_t index) {
    const auto raw = static_cast<std::uint16_t>(index < 0 ? 0 : index + 1);
    entry.qvoAssignment[at] = static_cast<std::uint8_t>(raw & 0xFF);
    entry.qvoAssignment[at + 1] = static_cast<std::uint8_t>(raw >> 8);
}

}  // namespace

int CatalogAudioServices::findEffect(std::string_view name) {
    return devices_.catalog ? devices_.catalog->FindEffect(name) : -1;
}

int CatalogAudioServices::countPresentInstruments() {
    return devices_.catalog ? devices_.catalog->CountPresentInstruments() : 0;
}

bool CatalogAudioServices::isQvoPlugIn(int catalogIndex) {
    return devices_.catalog && audIsQvoPlugInName(devices_.catalog->GetInstrumentName(catalogIndex));
}

std::optional<std::vector<std::uint8_t>> CatalogAudioServices::saveSamplerSetup(int samplerIndex) {
    if (player_ == nullptr || !devices_.catalog || !validIndex(devices_.catalog->instruments, samplerIndex)) {
        return std::nullopt;
    }
    SamplerSetup setup = player_->SaveSamplerSetup(samplerIndex);
    if (setup.data.empty()) return std::nullopt;
    return std::move(setup.data);
}

void CatalogAudioServices::captureSamplerSetup(ProjectEntry& entry) {
    if (player_ == nullptr || !devices_.catalog || !validIndex(devices_.catalog->instruments, entry.samplerIndex)) return;
    const SamplerSetup setup = player_->SaveSamplerSetup(entry.samplerIndex);
    if (!setup.data.empty()) samplerSetupToEntry(setup, entry);
}

void CatalogAudioServices::clearInstrumentUse(int catalogIndex) {
    if (devices_.catalog && validIndex(devices_.catalog->instruments, catalogIndex)) {
        devices_.catalog->instruments[static_cast<std::size_t>(catalogIndex)].useMark = 0;
    }
}

// The catalogue's own name first; a project written elsewhere may name the
// instrument without the catalogue's marks.
int CatalogAudioServices::useInstrument(std::string_view name, std::string& displayName) {
    if (!devices_.catalog || name.empty()) return -1;
    CPlugInCatalog& catalog = *devices_.catalog;
    int index = catalog.FindPresentInstrument(name);
    if (index >= 0) {
        displayName = catalog.GetInstrumentName(index);
    } else if (!catalog.MatchProjectInstrument(std::string(name), displayName, index)) {
        return -1;
    }
    catalog.instruments[static_cast<std::size_t>(index)].useMark = 1;
    return index;
}

bool audIsQvoPlugInName(std::string_view name) { return !name.empty() && name == kSampleLibraryName; }

QvoMapEntry audQvoAssignment(const ProjectEntry& entry, int sound) {
    if (sound < 0 || sound >= kQvoAssignedSounds) return {};
    const auto at = static_cast<std::size_t>(sound) * 4;
    return {storedIndex(entry, at), storedIndex(entry, at + 2)};
}

bool audSetQvoAssignment(ProjectEntry& entry, int sound, QvoMapEntry assignment) {
    if (sound < 0 || sound >= kQvoAssignedSounds) return false;
    const auto at = static_cast<std::size_t>(sound) * 4;
    storeIndex(entry, at, assignment.instrument);
    storeIndex(entry, at + 2, assignment.program);
    return true;
}

std::array<QvoMapEntry, kQvoMapSize> audQvoProgramMap(const ProjectEntry& entry) {
    std::array<QvoMapEntry, kQvoMapSize> map{};
    for (int sound = 0; sound < kQvoAssignedSounds; ++sound) map[static_cast<std::size_t>(sound)] = audQvoAssignment(entry, sound);
    return map;
}

}  // namespace qvp3
