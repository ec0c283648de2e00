// The sound configuration page over a real instrument catalogue: our VST
// synth (also standing in for the sample library, installed where its key
// says, with the program's instrument table), our LV2 tone instrument, our
// VST gain effect, and three audio outputs; the sample player plays through
// it. The project sees the catalogue as the program's does.
#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QTabBar>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "page_entry_fixture.h"
#include "platform/atomic_file.h"
#include "platform/settings_store.h"
#include "qvp3_audio/audio_services.h"
#include "qvp3_audio/output_device_model.h"
#include "qvp3_audio/sample_player.h"

namespace qvp3::testing {

inline constexpr const char* kSynthName = "[VST]qvp3 tests: qvp3 synth";
inline constexpr const char* kToneName = "qvp3 tone";
inline constexpr const char* kGainName = "qvp3 gain";

// What the audio engine needs before the project is made.
struct PwcAudioRig {
    PwcAudioRig() {
        namespace fs = std::filesystem;
        const fs::path plugins = QVP3_TEST_PLUGIN_DIR;
        fs::create_directories(library);
        fs::copy_file(plugins / "synth.so", library / kSampleLibraryFile);
        fs::copy_file(sourceRoot() / "data" / kQvoTableFile, programFolder.path() / kQvoTableFile);
        store.createKey(platform::Hive::Machine, kSampleLibraryKey).writeString("Path", library.string() + "/");
        platform::SettingsKey program = store.createKey(platform::Hive::User, platform::kProgramSettingsKey);
        program.writeString(kSynthName, "1|" + (plugins / "synth.so").string());
        program.writeString(kToneName, "1");
        program.writeString(std::string("[EFF]") + kGainName, (plugins / "gain.so").string());
        devices = std::make_unique<COutputDeviceModel>(store, programFolder.path(),
                                                       std::make_unique<CSpecAsioHost>(std::vector<AsioDriverSource>{}),
                                                       QVP3_VST_PROBE);
        CPlugInCatalog& catalog = *devices->catalog;
        catalog.lv2World = std::make_shared<CLv2World>(std::vector<fs::path>{QVP3_TEST_LV2_BUNDLE}, false);
        catalog.EnumSoftSynths();
        catalog.LoadReverbEffect();
        for (const char* out : {"default", "null", "hw:CARD=Test,DEV=0"}) devices->AddAudioOut(out, out);
        devices->LoadOutputFlags();
        player = std::make_unique<CSamplePlayer>(catalog, &mainWindow, nullptr);
        services = std::make_unique<CatalogAudioServices>(*devices);
        services->setSamplePlayer(player.get());
    }
    ~PwcAudioRig() { services->setSamplePlayer(nullptr); }

    int instrument(const char* name) const { return devices->catalog->FindInstrument(name); }

    platform::testing::TempFolder configFolder;
    platform::testing::TempFolder programFolder;
    std::filesystem::path library = configFolder.path() / "qvo";
    platform::SettingsStore store{configFolder.path() / "config"};
    std::unique_ptr<COutputDeviceModel> devices;
    platform::RecordingMessageTarget mainWindow;
    std::unique_ptr<CSamplePlayer> player;
    std::unique_ptr<CatalogAudioServices> services;
};

struct PwcFixture : PwcAudioRig, PageEntryFixture {
    PwcFixture() : PageEntryFixture(kStepPwc, services.get()) {
        host.devices = devices.get();
        host.player = player.get();
    }
    // As in the program, the player lets the page's instrument window go before the page goes.
    ~PwcFixture() {
        if (player->playing()) player->Stop();
        player->ForgetWindow();
        window.reset();
    }

    // A file of the project that plays through the sample player with that instrument.
    ProjectEntry& addSamplerEntry(const char* instrument) {
        ProjectEntry& entry = addEntry();
        entry.MWConversionMethod = 1;
        entry.SamplePlayer = instrument;
        return entry;
    }

    QTabBar* tabs() { return find<QTabBar>(17000); }
    QComboBox* box(int id) { return find<QComboBox>(id); }
    // Chooses the item of that text in a box, as the user does.
    void choose(int id, const std::string& text) {
        QComboBox* b = box(id);
        ASSERT_NE(b, nullptr) << id;
        const int row = b->findText(QString::fromStdString(text));
        ASSERT_GE(row, 0) << text << " in " << id;
        b->setCurrentIndex(row);
    }
    // A converted MIDI file for the entry: a conductor track, three tracks
    // on program 0 (channels 1 to 3), one on program 40 and a percussion
    // track of key 38 on channel 10.
    std::filesystem::path writeConvertedMidi(ProjectEntry& entry) {
        std::vector<std::uint8_t> bytes = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 6, 0x01, 0xE0};
        const auto track = [&bytes](std::vector<std::uint8_t> events) {
            events.insert(events.end(), {0x00, 0xFF, 0x2F, 0x00});
            const auto n = static_cast<std::uint32_t>(events.size());
            bytes.insert(bytes.end(), {'M', 'T', 'r', 'k', static_cast<std::uint8_t>(n >> 24),
                                       static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8),
                                       static_cast<std::uint8_t>(n)});
            bytes.insert(bytes.end(), events.begin(), events.end());
        };
        track({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});
        const auto melodic = [](std::uint8_t channel, std::uint8_t program) {
            return std::vector<std::uint8_t>{0x00, static_cast<std::uint8_t>(0xC0 | channel), program,
                                             0x00, static_cast<std::uint8_t>(0x90 | channel), 60, 100,
                                             0x83, 0x60, static_cast<std::uint8_t>(0x80 | channel), 60, 0};
        };
        track(melodic(0, 0));
        track(melodic(1, 0));
        track(melodic(2, 0));
        track(melodic(3, 40));
        track({0x00, 0x99, 38, 100, 0x83, 0x60, 0x89, 38, 0});
        const auto path = folder.path() / (entry.Filename.stem().string() + "_qvpcnv.mid");
        platform::writeFileAtomically(path,
                                      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        entry.convertedMidiPath = path;
        return path;
    }
};

}  // namespace qvp3::testing
