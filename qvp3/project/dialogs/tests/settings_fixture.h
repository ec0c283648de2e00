// A settings dialog's world: a settings store, an output-device model with
// its plug-in catalogue, the program's general settings, and snapshots of
// all three to show what OK changed and Cancel did not.
#pragma once

#include <map>
#include <string>

#include "dialog_fixture.h"
#include "qvp3_audio/output_device_model.h"
#include "qvp3_dialogs/settings_dialog.h"

namespace qvp3::testing {

// The values of the program's key in the user hive, as text.
inline std::map<std::string, std::string> programValues(platform::SettingsStore& store) {
    std::map<std::string, std::string> values;
    const platform::SettingsKey key = store.openKey(platform::Hive::User, platform::kProgramSettingsKey);
    for (const auto& value : key.values()) {
        if (value.type == platform::SettingsType::Dword) values[value.name] = std::to_string(*key.readDword(value.name));
        if (value.type == platform::SettingsType::String) values[value.name] = *key.readString(value.name);
    }
    return values;
}

struct CatalogueState {
    std::vector<std::tuple<std::string, std::string, std::uint32_t>> instruments;  // name, path, enabled
    std::uint32_t blockSize = 0;
    float volume = 0;
    std::vector<bool> outputs;
    bool operator==(const CatalogueState&) const = default;
};

class SettingsTest : public DialogTest {
protected:
    platform::testing::TempFolder dir;
    platform::SettingsStore store{dir.path() / "config"};
    std::unique_ptr<COutputDeviceModel> outputs;
    GeneralSettings settings;
    bool projectOpen = false;

    void SetUp() override {
        DialogTest::SetUp();
        makeOutputs(std::make_unique<CSpecAsioHost>(std::vector<AsioDriverSource>{}));
    }
    void TearDown() override {
        outputs.reset();
        DialogTest::TearDown();
    }
    void makeOutputs(std::unique_ptr<CSpecAsioHost> host) {
        outputs = std::make_unique<COutputDeviceModel>(store, dir.path() / "program", std::move(host), QVP3_VST_PROBE);
        for (const char* name : {"default", "hw:CARD=One", "hw:CARD=Two"}) outputs->AddAudioOut(name, name);
        outputs->SetAudioOutEnabled(1, true);
    }
    CPlugInCatalog& catalog() { return *outputs->catalog; }

    SettingsContext context() {
        SettingsContext c{.settings = settings, .store = store, .outputs = *outputs, .projectOpen = projectOpen};
        // The older sequencer's version 3 is installed here, version 4 is not.
        c.findRondaloInstall = [](GeneralSettings& s) {
            if (s.midiEditorKind == kMidiEditorRondalo3) {
                s.midiEditorPath = "/opt/rondalo/rondal30.exe";
                s.midiEditorWindowClass = "RondaloMain";
                return true;
            }
            s.midiEditorPath.clear();
            s.midiEditorKind = kMidiEditorNone;
            s.midiEditorWindowClass.clear();
            return false;
        };
        c.probeHelper = QVP3_VST_PROBE;
        return c;
    }
    CatalogueState catalogueState() {
        CatalogueState state;
        for (const auto& e : catalog().instruments) state.instruments.emplace_back(e.name, e.path.string(), e.enabled);
        state.blockSize = catalog().blockSize;
        state.volume = catalog().vstVolume;
        for (int i = 1; i < static_cast<int>(outputs->audioOutCount()) + outputs->asioHost->NameCount(); ++i) {
            state.outputs.push_back(outputs->IsAudioOutEnabled(i));
        }
        return state;
    }
};

}  // namespace qvp3::testing
