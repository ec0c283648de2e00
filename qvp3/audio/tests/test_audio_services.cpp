// The audio engine as the project sees it: a project's instrument found in
// the catalogue (by its name, or stored without the catalogue's marks), an
// entry's sampler applied or emptied when no instrument is present, and the
// sample library's assignments as the project file keeps them.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/settings_store.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_audio/audio_services.h"
#include "qvp3_audio/output_device_model.h"
#include "qvp3_project/project.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSynth = "[VST]qvp3 tests: qvp3 synth";

struct AudioServices : ::testing::Test {
    platform::testing::TempFolder folder;
    platform::SettingsStore store{folder.path() / "config"};
    std::unique_ptr<COutputDeviceModel> devices;
    std::unique_ptr<CatalogAudioServices> services;

    // withInstruments: our synth (VST) and tone (LV2) are switched on.
    void make(bool withInstruments) {
        if (withInstruments) {
            platform::SettingsKey program = store.createKey(platform::Hive::User, platform::kProgramSettingsKey);
            program.writeString(kSynth, "1|" + (fs::path(QVP3_TEST_PLUGIN_DIR) / "synth.so").string());
            program.writeString("qvp3 tone", "1");
        }
        devices = std::make_unique<COutputDeviceModel>(
            store, folder.path(), std::make_unique<CSpecAsioHost>(std::vector<AsioDriverSource>{}), QVP3_VST_PROBE);
        devices->catalog->lv2World = std::make_shared<CLv2World>(std::vector<fs::path>{QVP3_TEST_LV2_BUNDLE}, false);
        ASSERT_EQ(devices->catalog->EnumSoftSynths(), 0u);
        services = std::make_unique<CatalogAudioServices>(*devices);
    }
};

TEST_F(AudioServices, AProjectsInstrumentIsFoundByItsNameOrWithoutTheCatalogsMarks) {
    make(true);
    const int synth = devices->catalog->FindInstrument(kSynth);
    const int tone = devices->catalog->FindInstrument("qvp3 tone");
    const struct {
        const char* stored;
        int index;
        const char* shown;
    } cases[] = {{kSynth, synth, kSynth},
                 {"[vst]QVP3 TESTS: qvp3 synth", synth, kSynth},
                 {"qvp3 tests: qvp3 synth", synth, kSynth},
                 {"qvp3 tone", tone, "qvp3 tone"},
                 {"an instrument of another machine", -1, ""},
                 {"", -1, ""}};
    for (const auto& c : cases) {
        std::string shown;
        EXPECT_EQ(services->useInstrument(c.stored, shown), c.index) << c.stored;
        EXPECT_EQ(shown, c.shown) << c.stored;
        if (c.index >= 0) {
            EXPECT_EQ(devices->catalog->instruments[static_cast<std::size_t>(c.index)].useMark, 1u);
            services->clearInstrumentUse(c.index);
            EXPECT_EQ(devices->catalog->instruments[static_cast<std::size_t>(c.index)].useMark, 0u);
        }
    }
    EXPECT_FALSE(services->isQvoPlugIn(synth));
    EXPECT_FALSE(services->isQvoPlugIn(-1));
    EXPECT_EQ(services->countPresentInstruments(), 2);
}

TEST_F(AudioServices, AnEntrysSamplerIsAppliedOrEmptiedWithoutInstruments) {
    for (const bool withInstruments : {true, false}) {
        make(withInstruments);
        BasicPipeline pipeline;
        Project project(Neighbours{&pipeline, services.get(), nullptr, nullptr});
        ProjectEntry entry;
        pipeline.cnvEntryInit(entry, project);
        entry.MWConversionMethod = 1;
        entry.SamplePlayer = "qvp3 tests: qvp3 synth";
        entry.Reverb = "hall";
        entry.ReverbType = 2;
        const int index = pipeline.cnvApplyEntrySampler(entry, nullptr);
        if (withInstruments) {
            EXPECT_EQ(index, devices->catalog->FindInstrument(kSynth));
            EXPECT_EQ(entry.samplerIndex, index);
            EXPECT_EQ(entry.SamplePlayer, kSynth) << "the catalogue's name from now on";
            EXPECT_EQ(entry.Reverb, "hall");
        } else {
            EXPECT_EQ(index, -1);
            EXPECT_TRUE(entry.SamplePlayer.empty()) << "nothing to play it with";
            EXPECT_TRUE(entry.Reverb.empty());
            EXPECT_EQ(entry.ReverbType, -1);
        }
        entry.MWConversionMethod = 0;
        entry.SamplePlayer = "kept";
        EXPECT_EQ(pipeline.cnvApplyEntrySampler(entry, nullptr), -1);
        EXPECT_EQ(entry.SamplePlayer, "kept") << "the synthesizer's entries are left alone";
        store.deleteKey(platform::Hive::User, platform::kProgramSettingsKey);
    }
}

TEST(QvoAssignment, AFreshEntryHasNoneAndAssignmentsKeepTheirStoredForm) {
    ProjectEntry entry;
    for (const int sound : {0, 40, 127, kQvoPercussionBase + 38, kQvoAssignedSounds - 1}) {
        EXPECT_EQ(audQvoAssignment(entry, sound).instrument, -1) << sound;
        EXPECT_EQ(audQvoAssignment(entry, sound).program, -1) << sound;
    }
    EXPECT_TRUE(audSetQvoAssignment(entry, 40, {3, 1}));
    EXPECT_TRUE(audSetQvoAssignment(entry, kQvoPercussionBase + 38, {300, 0}));
    EXPECT_EQ(audQvoAssignment(entry, 40).instrument, 3);
    EXPECT_EQ(audQvoAssignment(entry, 40).program, 1);
    EXPECT_EQ(audQvoAssignment(entry, kQvoPercussionBase + 38).instrument, 300);
    const std::vector<std::uint8_t> stored(entry.qvoAssignment.begin() + 160, entry.qvoAssignment.begin() + 164);
    EXPECT_EQ(stored, (std::vector<std::uint8_t>{4, 0, 2, 0})) << "one above the index, little-endian";

    EXPECT_FALSE(audSetQvoAssignment(entry, kQvoAssignedSounds, {1, 1})) << "beyond the block";
    EXPECT_FALSE(audSetQvoAssignment(entry, -1, {1, 1}));
    EXPECT_EQ(audQvoAssignment(entry, kQvoAssignedSounds).instrument, -1);

    const auto map = audQvoProgramMap(entry);
    EXPECT_EQ(map[40].instrument, 3);
    EXPECT_EQ(map[0].instrument, -1) << "unassigned: the table's own choice";
    EXPECT_EQ(map[kQvoMapSize - 1].instrument, -1);
    EXPECT_TRUE(audSetQvoAssignment(entry, 40, {-1, -1}));
    EXPECT_EQ(entry.qvoAssignment[160], 0);
}

}  // namespace
}  // namespace qvp3
