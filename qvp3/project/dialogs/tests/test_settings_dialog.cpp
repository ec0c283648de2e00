// The settings dialog's general page and the fixed order of OK: what OK
// stores in the program's fields, the catalogue and the settings store, and
// that Cancel stores nothing anywhere.
#include <QCheckBox>
#include <QComboBox>
#include <QListView>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <fstream>

#include "qvp3_dialogs/output_page.h"
#include "qvp3_dialogs/plugin_page.h"
#include "settings_fixture.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;

class SettingsDialogTest : public testing::SettingsTest {
protected:
    fs::path synth;
    void SetUp() override {
        SettingsTest::SetUp();
        synth = fs::path(QVP3_TEST_PLUGIN_DIR) / "synth.so";
        ASSERT_EQ(catalog().AddInstrument(synth, false, "[VST]qvp3 tests: qvp3 synth"), 0u);
        ASSERT_EQ(catalog().AddInstrument(dir.path() / "gone.so", true, "[VST]Maker: Gone"), 0u);
    }
    static void chooseEditor(SettingsDialog& dialog, int index) {
        auto* combo = control<QComboBox>(dialog, 1022);
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
};

TEST_F(SettingsDialogTest, OkStoresTheGeneralPageAndTheCatalogueValues) {
    settings.loadQvoInstruments = true;
    SettingsDialog dialog(context());
    EXPECT_TRUE(control<QCheckBox>(dialog, 1006)->isChecked());
    EXPECT_TRUE(control<QRadioButton>(dialog, 1053)->isChecked());
    EXPECT_EQ(control<QComboBox>(dialog, 1022)->currentIndex(), 3) << "no editor: the last item";
    click(dialog, 1006);
    EXPECT_FALSE(control(dialog, 1008)->isEnabled());
    EXPECT_TRUE(control<QCheckBox>(dialog, 1008)->isChecked());
    click(dialog, 1055);
    click(dialog, 1);
    EXPECT_EQ(dialog.result(), 1) << "the sample-library instruments stayed on";
    EXPECT_FALSE(settings.copySourceFiles);
    EXPECT_FALSE(settings.overwriteSourceFiles) << "overwriting only while copying";
    EXPECT_EQ(settings.howToStart, 0);
    const auto values = testing::programValues(store);
    EXPECT_EQ(values.at("HowToStart"), "0");
    EXPECT_EQ(values.at("SampleBlockSize"), "4096");
    EXPECT_EQ(values.at("VSTVolume"), "190");
    EXPECT_EQ(values.at("SamplePlayerNumber"), "2");
    EXPECT_EQ(values.at("[VST]qvp3 tests: qvp3 synth"), "0|" + synth.string());
    EXPECT_EQ(values.at("[VST]Maker: Gone"), "1|" + (dir.path() / "gone.so").string());
    EXPECT_EQ(values.count("hw:CARD=One"), 0u) << "outputs unchanged: not stored";
}

TEST_F(SettingsDialogTest, SwitchingTheSampleLibraryOnAsksTheCallerToLoadIt) {
    for (const bool before : {false, true}) {
        settings.loadQvoInstruments = before;
        SettingsDialog dialog(context());
        control<QCheckBox>(dialog, 1048)->setChecked(true);
        click(dialog, 1);
        EXPECT_EQ(dialog.result(), before ? 1 : kSettingsLoadQvo);
    }
}

TEST_F(SettingsDialogTest, MidiEditorChoices) {
    const fs::path program = dir.path() / "editor";
    const std::string old = (dir.path() / "old-editor").string();
    std::ofstream(program) << "#!/bin/sh\n";
    std::ofstream(old) << "#!/bin/sh\n";
    struct Case {
        const char* what;
        std::string before;  // the program chosen before
        int index;           // in the list of "Rondalo 3", "Rondalo 4", the program, choose, none
        std::optional<fs::path> chosen;
        int box;
        int kind;
        std::string path;
    };
    const Case cases[] = {
        {"version 3 installed", old, 0, {}, 0, kMidiEditorRondalo3, "/opt/rondalo/rondal30.exe"},
        {"version 4 missing", old, 1, {}, 233, kMidiEditorProgram, old},
        {"a program chosen", old, 3, program, 0, kMidiEditorProgram, program.string()},
        {"the file dialog cancelled", old, 3, std::nullopt, 0, kMidiEditorProgram, old},
        {"a program that is gone", "/nowhere/editor", 2, {}, 230, kMidiEditorProgram, "/nowhere/editor"},
        {"no editor", old, 4, {}, 0, kMidiEditorNone, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        boxes.clear();
        settings.midiEditorKind = kMidiEditorProgram;
        settings.midiEditorPath = c.before;
        settings.midiEditorWindowClass = "";
        fileAnswer = c.chosen;
        SettingsDialog dialog(context());
        EXPECT_EQ(control<QComboBox>(dialog, 1022)->count(), 5);
        EXPECT_EQ(control<QComboBox>(dialog, 1022)->currentIndex(), 2);
        chooseEditor(dialog, c.index);
        click(dialog, 1);
        EXPECT_EQ(boxIds(), c.box == 0 ? std::vector<int>{} : std::vector<int>{c.box});
        EXPECT_EQ(dialog.result(), c.box == 0 ? 1 : 0) << "a refusal keeps the dialog open";
        EXPECT_EQ(settings.midiEditorKind, c.kind);
        EXPECT_EQ(settings.midiEditorPath, c.path);
        if (c.box != 0) click(dialog, 2);
    }
}

TEST_F(SettingsDialogTest, CancelChangesNothingInTheFieldsTheCatalogueOrTheStore) {
    store.createKey(platform::Hive::User, platform::kProgramSettingsKey).writeString("SamplePlayerVSTFolder", dir.path().string());
    settings.midiEditorKind = kMidiEditorProgram;
    settings.midiEditorPath = "/old/editor";
    const GeneralSettings before = settings;
    const auto values = testing::programValues(store);
    const testing::CatalogueState catalogueBefore = catalogueState();
    SettingsDialog dialog(context());
    click(dialog, 1006);
    click(dialog, 1054);
    click(dialog, 1048);
    chooseEditor(dialog, 0);
    // A refused OK on the way changes nothing either.
    chooseEditor(dialog, 1);
    click(dialog, 1);
    EXPECT_EQ(boxIds(), std::vector<int>{233});
    dialog.tabs()->setCurrentIndex(1);
    click(dialog, 1027);
    control<QSlider>(dialog, 1041)->setValue(500);
    control<QComboBox>(dialog, 1039)->setCurrentIndex(0);
    folderAnswer = dir.path() / "program";
    click(dialog, 1033);
    dialog.tabs()->setCurrentIndex(2);
    click(dialog, 1044);
    click(dialog, 2);
    EXPECT_EQ(dialog.result(), 0);
    EXPECT_EQ(settings, before);
    EXPECT_EQ(catalogueState(), catalogueBefore);
    EXPECT_EQ(testing::programValues(store), values);
}

TEST_F(SettingsDialogTest, OkAppliesEveryPageInItsOrderAndReloadsMovedInstruments) {
    int reloaded = 0;
    int released = 0;
    SettingsContext c = context();
    c.plugInsReloaded = [&] { ++reloaded; };
    c.releaseSampler = [&] { ++released; };
    SettingsDialog dialog(c);
    dialog.tabs()->setCurrentIndex(1);
    // The synth from the inactive list to the active one, the gone one back.
    control<QListView>(dialog, 1026)->setCurrentIndex(control<QListView>(dialog, 1026)->model()->index(0, 0));
    click(dialog, 1027);
    control<QListView>(dialog, 1029)->setCurrentIndex(control<QListView>(dialog, 1029)->model()->index(0, 0));
    click(dialog, 1028);
    control<QSlider>(dialog, 1041)->setValue(75);
    control<QComboBox>(dialog, 1039)->setCurrentIndex(0);
    dialog.tabs()->setCurrentIndex(2);
    click(dialog, 1045);  // hw:CARD=One off
    click(dialog, 1044);  // hw:CARD=Two on
    click(dialog, 1);
    ASSERT_EQ(dialog.result(), 1);
    EXPECT_EQ(released, 1);
    EXPECT_EQ(reloaded, 1);
    EXPECT_EQ(catalog().instruments[0].enabled, 1u) << "the synth is active and loads";
    EXPECT_GE(catalog().instruments[0].hostSlot, 0);
    EXPECT_EQ(catalog().instruments[1].enabled, 0u);
    EXPECT_EQ(catalog().blockSize, 2048u);
    EXPECT_FLOAT_EQ(catalog().vstVolume, 0.75f);
    EXPECT_FALSE(outputs->IsAudioOutEnabled(1));
    EXPECT_TRUE(outputs->IsAudioOutEnabled(2));
    const auto values = testing::programValues(store);
    EXPECT_EQ(values.at("[VST]qvp3 tests: qvp3 synth"), "1|" + synth.string());
    EXPECT_EQ(values.at("[VST]Maker: Gone"), "0|" + (dir.path() / "gone.so").string());
    EXPECT_EQ(values.at("SampleBlockSize"), "2048");
    EXPECT_EQ(values.at("VSTVolume"), "75");
    EXPECT_EQ(values.at("hw:CARD=One"), "0");
    EXPECT_EQ(values.at("hw:CARD=Two"), "1");
}

TEST_F(SettingsDialogTest, HelpFollowsTheTab) {
    SettingsDialog dialog(context());
    for (int tab = 0; tab < 3; ++tab) {
        dialog.tabs()->setCurrentIndex(tab);
        click(dialog, 9);
    }
    EXPECT_EQ(helpTopics, (std::vector<std::string>{"einst_allg", "einst_allg_sp", "einst_allg_wo"}));
}

}  // namespace
}  // namespace qvp3
