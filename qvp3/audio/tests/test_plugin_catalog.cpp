// The plug-in catalogue: its settings in the settings store (as the Windows
// system writes them too), filling it at start (VST instruments of the
// store, the sample library, the reverb and the effects), lookups, lists and
// effects' programs.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/settings_store.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_audio/plugin_catalog.h"

namespace qvp3 {
namespace {

using platform::Hive;
using platform::kProgramSettingsKey;

const std::filesystem::path kHelper = QVP3_VST_PROBE;

std::filesystem::path plugin(const std::string& name) {
    return std::filesystem::path(QVP3_TEST_PLUGIN_DIR) / (name + ".so");
}

struct CatalogFixture : ::testing::Test {
    platform::testing::TempFolder folder;
    platform::SettingsStore store{folder.path() / "config"};
    platform::SettingsKey program = store.createKey(Hive::User, kProgramSettingsKey);
    std::filesystem::path programFolder = folder.path() / "bin";

    CatalogFixture() { std::filesystem::create_directories(programFolder); }
    // The LV2 instruments of the machine stay out; those tests that want ours load our bundle.
    std::unique_ptr<CPlugInCatalog> catalog(std::vector<std::filesystem::path> lv2Bundles = {}) {
        auto cat = std::make_unique<CPlugInCatalog>(store, programFolder, kHelper);
        cat->lv2World = std::make_shared<CLv2World>(lv2Bundles, false);
        return cat;
    }
    void installSampleLibrary(const std::filesystem::path& where) {
        store.createKey(Hive::Machine, kSampleLibraryKey).writeString("Path", where.string() + "/");
    }
};

TEST_F(CatalogFixture, BlockSizeAndVolumeFromTheStoreOrTheirDefaults) {
    const struct {
        const char* how;
        std::function<void(platform::SettingsKey&)> write;
        std::uint32_t block;
        float volume;
    } cases[] = {
        {"missing", [](platform::SettingsKey&) {}, 4096, 1.9f},
        {"as strings", [](platform::SettingsKey& k) { k.writeString("SampleBlockSize", "2048"); k.writeString("VSTVolume", "50"); }, 4096, 1.9f},
        {"as DWORDs", [](platform::SettingsKey& k) { k.writeDword("SampleBlockSize", 2048); k.writeDword("VSTVolume", 50); }, 2048, 0.5f},
    };
    for (const auto& c : cases) {
        c.write(program);
        const auto cat = catalog();
        EXPECT_EQ(cat->blockSize, c.block) << c.how;
        EXPECT_FLOAT_EQ(cat->blockMs, static_cast<float>(c.block) * 1000.0f / 44100.0f) << c.how;
        EXPECT_FLOAT_EQ(cat->vstVolume, c.volume) << c.how;
        EXPECT_FLOAT_EQ(cat->sampleRate, 44100.0f);
    }
    int error = 0;
    program.writeString("Odd", "x");
    EXPECT_EQ(audRegReadDword(program, "Odd", 7, &error), 7u);
    EXPECT_EQ(error, 13);
    EXPECT_EQ(audRegReadDword(program, "Absent", 8, &error), 8u);
    EXPECT_EQ(error, 2);

    const auto cat = catalog();
    cat->blockSize = 3072;
    cat->vstVolume = 2.35f;
    EXPECT_EQ(cat->SaveSampleBlockSize(), 0u);
    EXPECT_EQ(cat->SaveVstVolume(), 0u);
    EXPECT_EQ(program.readDword("SampleBlockSize"), 3072u);
    EXPECT_EQ(program.readDword("VSTVolume"), 235u);
    EXPECT_EQ(cat->SaveVstFolder("/a|/b"), 0u);
    EXPECT_EQ(cat->ReadVstFolder(), "/a|/b");
    EXPECT_EQ(cat->GetVstFolderLength(), 5u);
}

TEST_F(CatalogFixture, InstrumentsOfTheStoreAndTheSampleLibraryAtStart) {
    // As the plug-in page stores them; one library is gone, one crashes, one is switched off.
    program.writeString("[VST]qvp3 tests: qvp3 synth", "1|" + plugin("synth").string());
    program.writeString("[VST]gone", "1|" + (folder.path() / "deleted.so").string());
    program.writeString("[VST]qvp3 tests: qvp3 crashes", "1|" + plugin("crashes").string());
    program.writeString("[VST]qvp3 tests: qvp3 gain", "0|" + plugin("gain").string());
    // Written by the Windows system: its paths do not exist here and are passed over.
    program.writeString("[VST]Maker: Strings", "1|C:\\Program Files\\VST\\strings.dll");
    program.writeString("[VST]broken", "1");
    program.writeString("[VST]A=B: weird name", "1|" + plugin("synth").string());
    program.writeDword("[VST]a number", 1);
    program.writeString("Some other value", "1|" + plugin("gain").string());
    installSampleLibrary(folder.path() / "qvo");

    struct : CatalogProgress {
        std::vector<std::string> seen;
        void begin(int range) override { seen.push_back("begin " + std::to_string(range)); }
        void loading(const std::string& name) override { seen.push_back(name); }
        void done(int count) override { seen.push_back(std::to_string(count)); }
        void end() override { seen.push_back("end"); }
    } progress;
    auto cat = catalog();
    ASSERT_EQ(cat->EnumSoftSynths(&progress), 0u);
    EXPECT_EQ(progress.seen,
              (std::vector<std::string>{"begin 5", "[VST]qvp3 tests: qvp3 synth", "1", "[VST]qvp3 tests: qvp3 crashes",
                                        "2", "3", "[VST]A=B: weird name", "4", kSampleLibraryName, "5", "end"}))
        << "each enabled instrument is named before it loads";
    std::vector<std::string> names;
    for (const auto& e : cat->instruments) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"[VST]qvp3 tests: qvp3 synth", "[VST]qvp3 tests: qvp3 crashes",
                                               "[VST]qvp3 tests: qvp3 gain", "[VST]A=B: weird name",
                                               kSampleLibraryName}));
    const PlugInEntry& synth = cat->instruments[0];
    EXPECT_EQ(synth.enabled, 1u);
    ASSERT_GE(synth.hostSlot, 0);
    EXPECT_EQ(cat->vstHost->GetPlugInDisplayName(synth.hostSlot), "qvp3 synth");
    const PlugInEntry& crashes = cat->instruments[1];
    EXPECT_EQ(crashes.enabled, 0u) << "a plug-in that crashes in the helper is switched off";
    EXPECT_EQ(crashes.hostSlot, -1);
    EXPECT_NE(crashes.problem.find("crashed"), std::string::npos) << crashes.problem;
    EXPECT_EQ(cat->instruments[2].hostSlot, -1) << "a switched-off instrument is not loaded";
    EXPECT_TRUE(cat->sampleLibraryFound);
    EXPECT_GE(cat->instruments[3].hostSlot, 0) << "names as other programs write them";
    const PlugInEntry& qvo = cat->instruments[4];
    EXPECT_EQ(qvo.path, folder.path() / "qvo" / kSampleLibraryFile);
    EXPECT_EQ(qvo.enabled, 0u) << "not installed where its key says: switched off";
    EXPECT_EQ(qvo.problem, "not installed");
    EXPECT_EQ(program.readString(kSampleLibraryName), "1") << "the first time it is found its switch is written";
    EXPECT_EQ(cat->CountPresentInstruments(), 2);

    // Uninstalled: the switch goes at the next start.
    store.deleteKey(Hive::Machine, kSampleLibraryKey);
    cat = catalog();
    cat->EnumSoftSynths();
    EXPECT_FALSE(cat->sampleLibraryFound);
    EXPECT_FALSE(program.readString(kSampleLibraryName).has_value());
    EXPECT_EQ(cat->FindInstrument(kSampleLibraryName), -1);
}

TEST_F(CatalogFixture, InstalledLv2InstrumentsAreListedFirstAndMadeWhenSwitchedOn) {
    program.writeString("qvp3 tone", "1");
    program.writeString("qvp3 gone", "1");  // no longer installed: not listed
    program.writeString("[VST]qvp3 tests: qvp3 synth", "1|" + plugin("synth").string());
    auto cat = catalog({QVP3_TEST_LV2_BUNDLE});
    ASSERT_EQ(cat->EnumSoftSynths(), 0u);
    const int tone = cat->FindInstrument("qvp3 tone");
    const int mono = cat->FindInstrument("qvp3 mono");
    const int synth = cat->FindInstrument("[VST]qvp3 tests: qvp3 synth");
    ASSERT_GE(tone, 0);
    ASSERT_GE(mono, 0);
    EXPECT_LT(std::max(tone, mono), synth) << "the second standard's instruments come first";
    EXPECT_EQ(cat->FindInstrument("qvp3 gone"), -1);
    const PlugInEntry& t = cat->instruments[static_cast<std::size_t>(tone)];
    EXPECT_EQ(t.kind, kPlugInKindDirectX);
    EXPECT_EQ(t.uri, "urn:qvp3:test:lv2:tone");
    EXPECT_EQ(t.enabled, 1u);
    ASSERT_NE(t.filter, nullptr) << t.problem;
    EXPECT_EQ(t.filter->Name(), "qvp3 tone");
    EXPECT_EQ(cat->instruments[static_cast<std::size_t>(mono)].enabled, 0u) << "off until the user switches it on";
    EXPECT_EQ(cat->instruments[static_cast<std::size_t>(mono)].filter, nullptr) << "switched off: not made";

    // The id: made from the URI, the same at every start, marked as a name-based id of version 8.
    EXPECT_EQ(t.clsid, audLv2InstrumentId("urn:qvp3:test:lv2:tone"));
    EXPECT_NE(t.clsid, cat->instruments[static_cast<std::size_t>(mono)].clsid);
    EXPECT_EQ(t.clsid[6] >> 4, 8);
    EXPECT_EQ(t.clsid[8] >> 6, 2);
    int copy = -1;
    ASSERT_EQ(cat->DuplicateInstrument(static_cast<std::size_t>(tone), copy), 0u);
    EXPECT_EQ(cat->instruments[static_cast<std::size_t>(copy)].uri, t.uri);
    EXPECT_EQ(cat->instruments[static_cast<std::size_t>(copy)].clsid, t.clsid);
    const CatalogList list = cat->FillInstrumentList(true);
    ASSERT_FALSE(list.items.empty());
    EXPECT_EQ(list.items[0].text, "qvp3 tone");
    EXPECT_EQ(list.items[0].image, 1);

    // Saved as the pages save it: the value keeps its name, "1" with no path.
    EXPECT_EQ(cat->WriteInstrumentValue(static_cast<std::size_t>(mono), true, ""), 0u);
    EXPECT_EQ(program.readString("qvp3 mono"), "1");
    cat->UnloadPlugIns();
    EXPECT_EQ(cat->instruments[static_cast<std::size_t>(tone)].filter, nullptr);
}

TEST_F(CatalogFixture, AnLv2InstrumentThatCannotBeMadeKeepsItsNameAndIsSwitchedOff) {
    // Our bundle's description, with a binary that is not there.
    const std::filesystem::path bundle = folder.path() / "broken.lv2";
    std::filesystem::create_directories(bundle);
    std::filesystem::copy_file(std::filesystem::path(QVP3_TEST_LV2_BUNDLE) / "manifest.ttl", bundle / "manifest.ttl");
    std::filesystem::copy_file(std::filesystem::path(QVP3_TEST_LV2_BUNDLE) / "tone.ttl", bundle / "tone.ttl");
    program.writeString("qvp3 tone", "1");
    const auto cat = catalog({bundle});
    cat->EnumSoftSynths();
    const int tone = cat->FindInstrument("qvp3 tone");
    ASSERT_GE(tone, 0) << "its name stays, so that its value in the store is still its own";
    const PlugInEntry& t = cat->instruments[static_cast<std::size_t>(tone)];
    EXPECT_EQ(t.enabled, 0u);
    EXPECT_EQ(t.filter, nullptr);
    EXPECT_FALSE(t.problem.empty());
}

TEST_F(CatalogFixture, ASwitchedOffSampleLibraryStaysOff) {
    installSampleLibrary(folder.path());
    program.writeString(kSampleLibraryName, "0");
    const auto cat = catalog();
    cat->EnumSoftSynths();
    ASSERT_EQ(cat->instruments.size(), 1u);
    EXPECT_EQ(cat->instruments[0].enabled, 0u);
    EXPECT_EQ(program.readString(kSampleLibraryName), "0");
}

TEST_F(CatalogFixture, SavedInstrumentValuesReadBackAtTheNextStart) {
    auto cat = catalog();
    ASSERT_EQ(cat->AddInstrument(plugin("synth"), true, "[VST]qvp3 tests: qvp3 synth"), 0u);
    ASSERT_EQ(cat->AddInstrument(plugin("gain"), false, "[VST]qvp3 tests: qvp3 gain"), 0u);
    int copy = -1;
    ASSERT_EQ(cat->DuplicateInstrument(0, copy), 0u);
    EXPECT_EQ(copy, 2);
    EXPECT_EQ(cat->instruments[2].path, plugin("synth"));
    EXPECT_EQ(cat->instruments[2].userAdded, 1u);
    program.writeString("[VST]old", "1|/old.so");

    // What the settings dialog's OK does.
    cat->DeleteVstValues();
    for (std::size_t i = 0; i < cat->instruments.size(); ++i) {
        EXPECT_EQ(cat->WriteInstrumentValue(i, cat->instruments[i].enabled != 0, cat->instruments[i].path.string()), 0u);
    }
    EXPECT_EQ(cat->SaveSamplePlayerNumber(), 0u);
    EXPECT_FALSE(program.readString("[VST]old").has_value());
    EXPECT_EQ(program.readString("[VST]qvp3 tests: qvp3 gain"), "0|" + plugin("gain").string());
    EXPECT_EQ(program.readString("SamplePlayerNumber"), "3");

    cat = catalog();
    cat->EnumSoftSynths();
    ASSERT_EQ(cat->instruments.size(), 2u) << "the copy for a second track is never stored";
    EXPECT_EQ(cat->instruments[0].enabled, 1u);
    EXPECT_EQ(cat->instruments[1].enabled, 0u);
}

TEST_F(CatalogFixture, OutputSwitchesInTheStore) {
    program.writeDword("on", 1);
    program.writeDword("off", 0);
    program.writeDword("two", 2);
    program.writeString("text", "0");
    std::vector<OutputFlag> outputs{{"on", false}, {"off", true}, {"two", true}, {"text", false}, {"new", false}};
    const auto cat = catalog();
    cat->LoadOutputFlags(outputs);
    const bool expected[] = {true, false, false, true, true};
    for (std::size_t i = 0; i < outputs.size(); ++i) EXPECT_EQ(outputs[i].enabled, expected[i]) << outputs[i].name;
    outputs[4].enabled = false;
    EXPECT_EQ(cat->SaveOutputFlags(outputs), 0u);
    EXPECT_EQ(program.readDword("new"), 0u);
    EXPECT_EQ(program.readDword("text"), 1u);
}

TEST_F(CatalogFixture, LookupsListsAndMarks) {
    const auto cat = catalog();
    cat->AddInstrument(plugin("synth"), true, "[VST]Maker: Grand Piano");
    cat->AddInstrument(plugin("synth"), false, "[VST]Maker: Organ");
    cat->AddInstrument({}, true, kSampleLibraryName);
    int copy = -1;
    cat->DuplicateInstrument(0, copy);

    EXPECT_EQ(cat->FindInstrument("[vst]maker: organ"), 1);
    EXPECT_EQ(cat->FindPresentInstrument("[VST]Maker: Organ"), -1);
    EXPECT_EQ(cat->GetInstrumentName(7), "");
    int code = 0;
    EXPECT_EQ(cat->FindInstrumentEx("[VST]Maker: Grand Piano", code), 0);
    cat->instruments[0].loadMark = 1;
    EXPECT_EQ(cat->FindInstrumentEx("[VST]Maker: Grand Piano", code), 3) << "the copy serves a second track";
    cat->instruments[3].loadMark = 1;
    EXPECT_EQ(cat->FindInstrumentEx("[VST]Maker: Grand Piano", code), -1);
    EXPECT_EQ(code, 2);
    EXPECT_EQ(cat->FindInstrumentEx("Harp", code), -1);
    EXPECT_EQ(code, 3);
    cat->ClearLoadMarks();
    EXPECT_EQ(cat->FindInstrumentEx("[VST]Maker: Grand Piano", code), 0);

    int vst = 0;
    const CatalogList on = cat->FillInstrumentList(true, &vst);
    ASSERT_EQ(on.items.size(), 2u) << "the copy is not listed";
    EXPECT_EQ(on.items[0].image, 9);
    EXPECT_EQ(on.items[1].image, 7);
    EXPECT_EQ(on.items[1].data, 2);
    EXPECT_EQ(vst, 1);
    EXPECT_EQ(cat->FillInstrumentList(false).items.size(), 1u);
    std::string name = kSampleLibraryName;
    EXPECT_EQ(cat->FillInstrumentCombo(name).selected, 1);

    std::string found;
    int index = -1;
    EXPECT_TRUE(cat->MatchProjectInstrument("Grand Piano", found, index));
    EXPECT_EQ(index, 0);
    cat->instruments[0].name = "[VST]Maker: Grand-Piano";
    EXPECT_TRUE(cat->MatchProjectInstrument("Grand Piano", found, index)) << "tried again with dashes";
    EXPECT_EQ(found, "[VST]Maker: Grand-Piano");
    EXPECT_FALSE(cat->MatchProjectInstrument("Organ", found, index)) << "switched off";

    for (auto& e : cat->instruments) e.enabled = 0;
    name = "anything";
    const CatalogList none = cat->FillInstrumentCombo(name);
    EXPECT_FALSE(none.enabled);
    EXPECT_EQ(name, "");
}

TEST_F(CatalogFixture, EffectsTheReverbAndTheirPrograms) {
    program.writeString("[EFF]Gain", plugin("gain").string());
    program.writeString("[EFF]Crashes", plugin("crashes").string());
    const auto cat = catalog();
    cat->LoadReverbEffect();
    ASSERT_EQ(cat->effects.size(), 3u);
    EXPECT_EQ(cat->effects[0].name, kReverbName);
    EXPECT_EQ(cat->effects[0].enabled, 0u) << "the reverb is not installed beside this program";
    EXPECT_EQ(cat->effects[0].problem, "not installed");
    const int gain = cat->FindEffect("gain");
    ASSERT_EQ(gain, 1);
    EXPECT_GE(cat->effects[1].hostSlot, 0);
    EXPECT_EQ(cat->effects[2].enabled, 0u);
    EXPECT_FALSE(cat->EffectHasEditor(gain));

    std::string name = "Gain";
    CatalogList combo = cat->FillEffectCombo(0, name, true, "none");
    ASSERT_EQ(combo.items.size(), 4u);
    EXPECT_EQ(combo.items[0].text, "none");
    EXPECT_EQ(combo.items[0].data, -1);
    EXPECT_EQ(combo.selected, 2);
    name = "Unknown";
    EXPECT_EQ(cat->FillEffectCombo(-1, name, true, "none").selected, 0);
    EXPECT_FALSE(cat->FillEffectCombo(-1, name, true, "none").enabled);
    combo = cat->FillEffectCombo(0, name, false, "none");
    EXPECT_FALSE(combo.enabled);
    EXPECT_EQ(name, "");

    const CatalogList programs = cat->FillEffectProgramList(gain, 5);
    ASSERT_EQ(programs.items.size(), 2u);
    EXPECT_EQ(programs.items[1].text, "Second");
    EXPECT_EQ(programs.selected, 0) << "out of range: the first";
    CEffect& effect = *cat->vstHost->GetEffect(cat->effects[1].hostSlot);
    EXPECT_EQ(effect.EffGetProgram(), 0) << "listing the programs leaves the sounding one";
    EXPECT_FALSE(cat->FillEffectProgramList(0, 0).enabled) << "no plug-in, no programs";

    EffectParams snapshot = cat->CaptureEffectParams(gain);
    ASSERT_EQ(snapshot.values, (std::vector<float>{0.25f, 0.5f, 0.75f}));
    EXPECT_EQ(snapshot.bytes(), 12u);
    EXPECT_FALSE(cat->SetEffectProgram(gain, snapshot, 0, true)) << "already current";
    effect.SetParameter(0, 0.9f);
    EXPECT_TRUE(cat->SetEffectProgram(gain, snapshot, 1, true));
    EXPECT_EQ(effect.EffGetProgram(), 1);
    EXPECT_FLOAT_EQ(snapshot.values[0], 0.9f) << "a fresh snapshot";
    effect.SetParameter(0, 0.1f);
    EXPECT_TRUE(cat->SetEffectProgram(gain, snapshot, 0, false));
    EXPECT_FLOAT_EQ(effect.GetParameter(0), 0.9f) << "the snapshot restored";
    cat->RestoreEffectParams(gain, EffectParams{{0.3f}});
    EXPECT_FLOAT_EQ(effect.GetParameter(0), 0.9f) << "a snapshot of another size is not applied";

    EXPECT_EQ(cat->RemoveEffect(static_cast<std::size_t>(gain)), 0u);
    EXPECT_FALSE(program.readString("[EFF]Gain").has_value());
    EXPECT_EQ(cat->effects.size(), 2u);
    EXPECT_EQ(cat->effects[1].name, "Crashes");
    EXPECT_EQ(cat->vstHost->GetEffect(0), nullptr) << "its plug-in left the host";
}

}  // namespace
}  // namespace qvp3
