// The output-device model: one number space over PCM devices and the
// low-latency drivers (the default device never listed), the pages' lists,
// lookups by name, the outputs' switches in the settings store, and the MIDI
// outputs of the platform.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/settings_store.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_audio/output_device_model.h"

namespace qvp3 {
namespace {

std::unique_ptr<CSpecAsioHost> twoDrivers() {
    std::vector<AsioDriverSource> drivers;
    for (const char* name : {"jack", "studio"}) drivers.push_back({name, [] { return std::unique_ptr<IAsioDriver>(); }});
    return std::make_unique<CSpecAsioHost>(std::move(drivers));
}

struct ModelFixture : ::testing::Test {
    platform::testing::TempFolder folder;
    platform::SettingsStore store{folder.path() / "config"};
    COutputDeviceModel model{store, folder.path(), twoDrivers(), QVP3_VST_PROBE};

    ModelFixture() {
        for (const char* name : {"default", "null", "hw:CARD=PCH,DEV=0"}) model.AddAudioOut(name, "");
        for (std::size_t i = 1; i < model.audioOuts.size(); ++i) model.audioOuts[i].enabled = true;
    }
};

TEST_F(ModelFixture, OneNumberSpaceWithoutTheDefaultDevice) {
    const struct {
        int index;
        std::string name;
        bool enabled;
    } cases[] = {{0, "", false}, {1, "null", true}, {2, "hw:CARD=PCH,DEV=0", true},
                 {3, "ASIO: jack", true}, {4, "ASIO: studio", true}, {5, "", false}, {-1, "", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(model.GetAudioOutName(c.index), c.name) << c.index;
        EXPECT_EQ(model.IsAudioOutEnabled(c.index), c.enabled) << c.index;
        if (!c.name.empty()) {
            EXPECT_EQ(model.FindAudioOut(c.name), c.index);
        }
    }
    EXPECT_EQ(model.FindAudioOut("default"), -1) << "the default device is never found";
    EXPECT_EQ(model.FindAudioOut("asio: STUDIO"), 4) << "names compare without regard to case";

    model.SetAudioOutEnabled(2, false);
    model.SetAudioOutEnabled(3, false);
    const CatalogList on = model.FillAudioOutList(true);
    ASSERT_EQ(on.items.size(), 2u);
    EXPECT_EQ(on.items[0].text, "null");
    EXPECT_EQ(on.items[0].image, kImageDirectSound);
    EXPECT_EQ(on.items[1].data, 4);
    EXPECT_EQ(on.items[1].image, kImageAsio);
    EXPECT_EQ(on.selected, 0);
    EXPECT_EQ(model.FillAudioOutList(false).items.size(), 2u);
}

TEST_F(ModelFixture, TheComboChoosesByNameOrTheFirst) {
    std::string name = "ASIO: studio";
    CatalogList combo = model.FillAudioOutCombo(true, &name);
    EXPECT_EQ(combo.items.size(), 4u);
    EXPECT_EQ(combo.selected, 3);
    combo = model.FillAudioOutCombo(false, &name);
    EXPECT_EQ(combo.items.size(), 2u) << "without the drivers";
    EXPECT_EQ(combo.selected, 0);
    EXPECT_EQ(name, "null") << "a name that matches nothing becomes the first";
    EXPECT_FALSE(model.FillAudioOutCombo(true, &name, true).enabled) << "off while the sample player plays";

    model.ClearAudioOutFlags();
    name = "null";
    combo = model.FillAudioOutCombo(true, &name);
    EXPECT_TRUE(combo.items.empty());
    EXPECT_FALSE(combo.enabled);
    EXPECT_EQ(combo.selected, -1);
    EXPECT_EQ(name, "");
}

TEST_F(ModelFixture, SwitchesInTheSettingsStore) {
    model.SetAudioOutEnabled(1, false);
    model.SetAudioOutEnabled(4, false);
    ASSERT_EQ(model.SaveOutputFlags(), 0u);
    const platform::SettingsKey key = store.openKey(platform::Hive::User, platform::kProgramSettingsKey);
    EXPECT_EQ(key.readDword("null"), 0u);
    EXPECT_EQ(key.readDword("ASIO: jack"), 1u);
    EXPECT_FALSE(key.readDword("default").has_value()) << "the default device is never saved";

    COutputDeviceModel again{store, folder.path(), twoDrivers(), QVP3_VST_PROBE};
    for (const char* name : {"default", "null", "hw:CARD=PCH,DEV=0", "new"}) again.AddAudioOut(name, "");
    again.LoadOutputFlags();
    EXPECT_FALSE(again.IsAudioOutEnabled(1));
    EXPECT_TRUE(again.IsAudioOutEnabled(2));
    EXPECT_TRUE(again.IsAudioOutEnabled(3)) << "a device never saved is on";
    EXPECT_TRUE(again.IsAudioOutEnabled(4)) << "the first driver after four devices";
    EXPECT_FALSE(again.IsAudioOutEnabled(5));
}

TEST_F(ModelFixture, TheMachinesOutputs) {
    ASSERT_TRUE(model.EnumMidiRenderers()) << "the built-in synthesizer is always there";
    EXPECT_EQ(model.midiOuts[0].ordinal, 0u);
    EXPECT_EQ(model.GetMidiOutName(), "MIDI: " + model.midiOuts[0].name);
    model.selectedMidiOut = 99;
    EXPECT_EQ(model.GetMidiOutName(), "MIDI: ");

    COutputDeviceModel fresh{store, folder.path(), twoDrivers(), QVP3_VST_PROBE};
    fresh.EnumAudioOuts();
    ASSERT_FALSE(fresh.audioOuts.empty());
    EXPECT_EQ(fresh.audioOuts[0].name, "default");
    EXPECT_EQ(fresh.GetAudioOutName(0), "") << "kept, never listed";
    EXPECT_GE(fresh.FindAudioOut("null"), 1);
}

}  // namespace
}  // namespace qvp3
