// The recent-projects list and the settings the application record keeps in
// the settings store.
#include <QMenu>

#include <gtest/gtest.h>

#include "platform/settings_store.h"
#include "qvp3_audio/output_device_model.h"
#include "qvp3_shell/app_state.h"
#include "qvp3_shell/recent_files.h"
#include "qvp3_ui_testing.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;

const fs::path kBase = "/home/ann/Documents/qvp3";

TEST(RecentFileList, StoresProjectsBelowTheDataFolderRelativeComparingWholeComponents) {
    RecentFileList list(kBase);
    const struct {
        fs::path path;
        std::string stored;
    } cases[] = {
        {kBase / "Projects/Bach/Bach.c-1", "../Projects/Bach/Bach.c-1"},
        {"/home/ann/Music/x.c-1", "/home/ann/Music/x.c-1"},
        // A folder whose name only begins like the data folder is not inside it.
        {"/home/ann/Documents/qvp3 old/y.c-1", "/home/ann/Documents/qvp3 old/y.c-1"},
        {"/home/ann/Documents/qvp32/z.c-1", "/home/ann/Documents/qvp32/z.c-1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(list.storedForm(c.path), c.stored) << c.path;
        EXPECT_EQ(list.expand(c.stored), c.path) << c.path;
    }
    // Entries written by the Windows system use backslashes.
    EXPECT_EQ(list.expand("..\\Projects\\Bach\\Bach.c-1"), kBase / "Projects/Bach/Bach.c-1");
}

TEST(RecentFileList, KeepsTenNewestFirstAndLeavesKnownOnesInPlace) {
    RecentFileList list(kBase);
    for (int i = 1; i <= 3; ++i) list.add(kBase / ("p" + std::to_string(i) + ".c-1"));
    EXPECT_EQ(list.path(0), kBase / "p3.c-1");
    // Adding a known project does not move it to the top.
    list.add(kBase / "p1.c-1");
    EXPECT_EQ(list.path(0), kBase / "p3.c-1");
    EXPECT_EQ(list.count(), 3u);
    // A path that only shares a prefix with an entry is another project.
    list.add(kBase / "p1.c-1x");
    EXPECT_EQ(list.count(), 4u);
    for (int i = 4; i <= 12; ++i) list.add(kBase / ("p" + std::to_string(i) + ".c-1"));
    EXPECT_EQ(list.count(), 10u);
    EXPECT_EQ(list.path(0), kBase / "p12.c-1");
    EXPECT_EQ(list.path(9), kBase / "p1.c-1x");  // p1, p2 and p3 dropped, the oldest first
    EXPECT_TRUE(list.remove(kBase / "p7.c-1"));
    EXPECT_FALSE(list.remove(kBase / "p7.c-1"));
    EXPECT_EQ(list.count(), 9u);
    EXPECT_EQ(list.entry(9), "");
    EXPECT_TRUE(list.add({}));
    EXPECT_EQ(list.count(), 9u);
    list.excludedName = "skip.c-1";
    EXPECT_FALSE(list.add("/x/SKIP.c-1"));
}

TEST(RecentFileList, MenuShowsNumberedItemsAfterExit) {
    RecentFileList list(kBase);
    for (const char* p : {"/a/one.c-1", "/b/two.c-1", "/c/t&3.c-1"}) list.add(p);
    QMenu menu;
    QAction* exit = menu.addAction("Exit");
    menu.addAction("left over from the last time");
    int opened = 0;
    list.fillMenu(menu, exit, true, [&](int command) { opened = command; });
    const QList<QAction*> items = menu.actions();
    ASSERT_EQ(items.size(), 5);
    EXPECT_TRUE(items[1]->isSeparator());
    EXPECT_EQ(items[2]->text(), "&1 /c/t&&3.c-1");
    EXPECT_EQ(items[2]->objectName(), "41000");
    EXPECT_EQ(items[4]->text(), "&3 /a/one.c-1");
    EXPECT_EQ(items[4]->objectName(), "41002");
    items[3]->trigger();
    EXPECT_EQ(opened, 41001);
    list.fillMenu(menu, exit, false, [](int) {});
    EXPECT_EQ(menu.actions().size(), 5);
    EXPECT_FALSE(menu.actions()[2]->isEnabled());
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int n = 0;
        root = qvp3ui::testing::testHome() / ("settings" + std::to_string(++n));
        store = std::make_unique<platform::SettingsStore>(root);
        app = std::make_unique<AppState>(QVP3_PROGRAM_DIR, 6, store.get());
        app->dataFolder = root / "data";
        app->recentFiles = std::make_unique<RecentFileList>(app->dataFolder);
    }
    platform::SettingsKey userKey() { return store->createKey(platform::Hive::User, platform::kProgramSettingsKey); }
    fs::path root;
    std::unique_ptr<platform::SettingsStore> store;
    std::unique_ptr<AppState> app;
};

TEST_F(SettingsTest, FirstStartCreatesTheKeyWithTheDefaults) {
    ASSERT_TRUE(LoadRegistrySettings(*app));
    EXPECT_TRUE(store->openKey(platform::Hive::User, platform::kProgramSettingsKey));
    EXPECT_TRUE(app->copySourceFiles);
    EXPECT_TRUE(app->overwriteSourceFiles);
    EXPECT_EQ(app->howToStart, 1);
    EXPECT_FALSE(app->loadQvoInstruments);
    EXPECT_EQ(app->waveConvPriority, 0);
    EXPECT_EQ(app->profiles->profileFolder, root / "data" / "Profiles");
    EXPECT_EQ(app->midiEditor.kind, 0);  // neither version of the older sequencer is installed
}

TEST_F(SettingsTest, MidiEditorRecordReadsItsKindAndPath) {
    const struct {
        const char* stored;
        int kind;
        const char* path;
    } cases[] = {
        {"3|/opt/editor/bin/midi-editor", 3, "/opt/editor/bin/midi-editor"},
        {"1|", 0, ""},   // the older sequencer is not installed
        {"2|", 0, ""},
        {"0|", 0, ""},
        {"x", 0, ""},
    };
    for (const auto& c : cases) {
        userKey().writeString("Midi Editor", c.stored);
        LoadRegistrySettings(*app);
        EXPECT_EQ(app->midiEditor.kind, c.kind) << c.stored;
        EXPECT_EQ(app->midiEditor.path, c.path) << c.stored;
    }
    // Installed: the key of the version names the program and its window class.
    platform::SettingsKey install = store->createKey(platform::Hive::Machine, "software\\Tavrena-software\\Rondalo\\4.0");
    install.writeString("WndClass", "RONDALO4");
    install.writeString("InstallDir", "/opt/rondalo");
    userKey().writeString("Midi Editor", "2|");
    LoadRegistrySettings(*app);
    EXPECT_EQ(app->midiEditor.kind, 2);
    EXPECT_EQ(app->midiEditor.path, "/opt/rondalo/rondal4");
    // Saving kind 2 writes the digit and the bar, no path.
    SaveRegistrySettings(*app);
    EXPECT_EQ(userKey().readString("Midi Editor"), "2|");
}

TEST_F(SettingsTest, SavedSettingsComeBackWholeHoweverLong) {
    LoadRegistrySettings(*app);
    const std::string longFolder = "/music/" + std::string(400, 'x') + "/scores";
    app->scoreFolder = longFolder;
    app->howToStart = 2;
    app->copySourceFiles = false;
    app->lastProject = root / "data/Projects/A/A.c-1";
    app->recentFiles->add(root / "data/Projects/A/A.c-1");
    app->recentFiles->add("/elsewhere/" + std::string(300, 'y') + ".c-1");
    SaveRegistrySettings(*app);
    EXPECT_EQ(userKey().readString("Datei 01"), "/elsewhere/" + std::string(300, 'y') + ".c-1");
    EXPECT_EQ(userKey().readString("Datei 02"), "../Projects/A/A.c-1");
    EXPECT_EQ(userKey().readString("Datei 10"), "");

    AppState again(QVP3_PROGRAM_DIR, 6, store.get());
    again.dataFolder = root / "data";
    again.recentFiles = std::make_unique<RecentFileList>(again.dataFolder);
    LoadRegistrySettings(again);
    EXPECT_EQ(again.scoreFolder, longFolder);
    EXPECT_EQ(again.howToStart, 2);
    EXPECT_FALSE(again.copySourceFiles);
    EXPECT_EQ(again.lastProject, app->lastProject);
    EXPECT_EQ(again.recentFiles->path(1), root / "data/Projects/A/A.c-1");
}

TEST_F(SettingsTest, LanguageIsWrittenBackWhenMissing) {
    store->createKey(platform::Hive::Machine, platform::kProgramSettingsKey);
    EXPECT_EQ(audRegGetLanguage(*store), 1);
    EXPECT_EQ(store->openKey(platform::Hive::Machine, platform::kProgramSettingsKey).readDword("Language"), 1u);
    store->openKey(platform::Hive::Machine, platform::kProgramSettingsKey).writeDword("Language", 6);
    EXPECT_EQ(audRegGetLanguage(*store), 6);
}

}  // namespace
}  // namespace qvp3
