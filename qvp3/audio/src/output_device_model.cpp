// The output-device model.
#include "qvp3_audio/output_device_model.h"

#include <new>

#include "platform/midi_devices.h"
#include "platform/text.h"
#include "qvp3_audio/pcm_backend.h"

namespace qvp3 {
namespace {

bool append(std::vector<OutputDeviceEntry>& list, OutputDeviceEntry entry) {
    try {
        list.push_back(std::move(entry));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

COutputDeviceModel::COutputDeviceModel(platform::SettingsStore& store, std::filesystem::path programFolder,
                                       std::unique_ptr<CSpecAsioHost> asio, std::filesystem::path probeHelper)
    : asioHost(asio ? std::move(asio) : std::make_unique<CSpecAsioHost>()),
      catalog(std::make_unique<CPlugInCatalog>(store, std::move(programFolder), std::move(probeHelper))) {
    asioHost->SetRenderWorker(&catalog->vstHost->worker);
    catalog->vstHost->asioHost = asioHost.get();
}

COutputDeviceModel::~COutputDeviceModel() {
    if (catalog) {
        catalog->vstHost->StopOutput();
        catalog->vstHost->asioHost = nullptr;
        catalog->FreeInstruments();
        catalog->FreeEffects();
    }
    catalog.reset();
    asioHost.reset();
}

bool COutputDeviceModel::AddMidiOut(const std::string& name, std::uint32_t midiOutId, std::uint32_t ordinal) {
    OutputDeviceEntry e;
    e.name = name;
    e.id = midiOutId;
    e.ordinal = ordinal;
    return append(midiOuts, std::move(e));
}

bool COutputDeviceModel::AddAudioOut(const std::string& name, const std::string& description) {
    OutputDeviceEntry e;
    e.name = name;
    e.description = description;
    e.id = audioOutCount();
    return append(audioOuts, std::move(e));
}

bool COutputDeviceModel::EnumMidiRenderers() {
    const auto devices = platform::listMidiOutDevices();
    std::uint32_t ordinal = 0;
    for (const auto& d : devices) {
        if (!AddMidiOut(d.name, ordinal, ordinal)) return false;
        ++ordinal;
    }
    return !devices.empty();
}

void COutputDeviceModel::EnumAudioOuts() {
    for (const PcmDeviceInfo& d : audEnumPcmDevices()) {
        if (!AddAudioOut(d.name, d.description)) return;
    }
}

void COutputDeviceModel::LoadOutputFlags() {
    std::vector<OutputFlag> flags;
    for (std::size_t i = 1; i < audioOuts.size(); ++i) flags.push_back({audioOuts[i].name, true});
    for (int i = 0; i < asioCount(); ++i) flags.push_back({asioHost->DisplayName(i), true});
    catalog->LoadOutputFlags(flags);
    std::size_t f = 0;
    for (std::size_t i = 1; i < audioOuts.size(); ++i) audioOuts[i].enabled = flags[f++].enabled;
    for (int i = 0; i < asioCount(); ++i) asioHost->SetDriverEnabled(i, flags[f++].enabled);
}

std::uint32_t COutputDeviceModel::SaveOutputFlags() {
    std::vector<OutputFlag> flags;
    for (std::size_t i = 1; i < audioOuts.size(); ++i) flags.push_back({audioOuts[i].name, audioOuts[i].enabled});
    for (int i = 0; i < asioCount(); ++i) flags.push_back({asioHost->DisplayName(i), asioHost->DriverEnabled(i)});
    return catalog->SaveOutputFlags(flags);
}

std::string COutputDeviceModel::GetMidiOutName() const {
    if (selectedMidiOut >= midiOuts.size()) return "MIDI: ";
    // The output's own name: the default here is the built-in synthesizer, not a mapper.
    return "MIDI: " + midiOuts[selectedMidiOut].name;
}

void COutputDeviceModel::AppendAudioOuts(CatalogList& list, bool enabledOnes, bool includeAsio) const {
    for (std::size_t i = 1; i < audioOuts.size(); ++i) {
        if (audioOuts[i].enabled == enabledOnes) list.items.push_back({audioOuts[i].name, kImageDirectSound, static_cast<int>(i)});
    }
    for (int i = 0; includeAsio && i < asioCount(); ++i) {
        if (asioHost->DriverEnabled(i) == enabledOnes) {
            list.items.push_back({asioHost->DisplayName(i), kImageAsio, static_cast<int>(audioOutCount()) + i});
        }
    }
}

CatalogList COutputDeviceModel::FillAudioOutList(bool enabledOnes) const {
    CatalogList list;
    AppendAudioOuts(list, enabledOnes, true);
    list.selected = list.items.empty() ? -1 : 0;
    return list;
}

void COutputDeviceModel::ClearAudioOutFlags() {
    for (std::size_t i = 1; i < audioOuts.size(); ++i) audioOuts[i].enabled = false;
    for (int i = 0; i < asioCount(); ++i) asioHost->SetDriverEnabled(i, false);
}

CatalogList COutputDeviceModel::FillAudioOutCombo(bool includeAsio, std::string* name, bool playing) const {
    CatalogList list;
    list.enabled = !playing;
    AppendAudioOuts(list, true, includeAsio);
    if (list.items.empty()) {
        list.enabled = false;
        if (name) name->clear();
        return list;
    }
    list.selected = 0;
    for (std::size_t i = 0; name != nullptr && i < list.items.size(); ++i) {
        if (platform::equalsNoCase(list.items[i].text, *name)) {
            list.selected = static_cast<int>(i);
            return list;
        }
    }
    if (name) *name = list.items[0].text;
    return list;
}

int COutputDeviceModel::FindAudioOut(const std::string& name) const {
    for (std::size_t i = 1; i < audioOuts.size(); ++i) {
        if (platform::equalsNoCase(audioOuts[i].name, name)) return static_cast<int>(i);
    }
    for (int i = 0; i < asioCount(); ++i) {
        if (platform::equalsNoCase(asioHost->DisplayName(i), name)) return static_cast<int>(audioOutCount()) + i;
    }
    return -1;
}

int COutputDeviceModel::AsioOf(int index) const {
    const int asio = index - static_cast<int>(audioOutCount());
    return index >= 1 && asio >= 0 && asio < asioCount() ? asio : -1;
}

bool COutputDeviceModel::IsAudioOutEnabled(int index) const {
    if (index >= 1 && static_cast<std::size_t>(index) < audioOuts.size()) return audioOuts[index].enabled;
    const int asio = AsioOf(index);
    return asio >= 0 && asioHost->DriverEnabled(asio);
}

void COutputDeviceModel::SetAudioOutEnabled(int index, bool enabled) {
    if (index >= 1 && static_cast<std::size_t>(index) < audioOuts.size()) {
        audioOuts[index].enabled = enabled;
    } else if (const int asio = AsioOf(index); asio >= 0) {
        asioHost->SetDriverEnabled(asio, enabled);
    }
}

std::string COutputDeviceModel::GetAudioOutName(int index) const {
    if (index >= 1 && static_cast<std::size_t>(index) < audioOuts.size()) return audioOuts[index].name;
    const int asio = AsioOf(index);
    return asio >= 0 ? asioHost->DisplayName(asio) : std::string();
}

}  // namespace qvp3
