// Every dialog in English, as a musician sees it, saved under
// build/screenshots/ for review.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QTabWidget>
#include <QTreeView>
#include <fstream>
#include <sstream>

#include "qvp3_dialogs/category_dialogs.h"
#include "qvp3_dialogs/project_data_dialog.h"
#include "qvp3_dialogs/small_dialogs.h"
#include "qvp3_dialogs/welcome_dialog.h"
#include "settings_fixture.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using qvp3ui::testing::saveScreenshot;

qvp3ui::LanguageModule english() {
    std::ifstream in(fs::path(QVP3_LANG_DIR) / "str_en.lang");
    std::stringstream text;
    text << in.rdbuf();
    return qvp3ui::LanguageModule::fromText(text.str());
}

class Screenshots : public testing::SettingsTest {
protected:
    qvp3ui::LanguageModule language = english();
    testing::ProjectOnDisk disk;
    void SetUp() override {
        SettingsTest::SetUp();
        qvp3ui::setLanguage(&language);
    }
    // Saved, and the file is there.
    static void shoot(QWidget& widget, std::string_view name) {
        const fs::path file = saveScreenshot(widget, name);
        EXPECT_TRUE(!file.empty() && fs::exists(file)) << name;
    }
};

TEST_F(Screenshots, ProjectDialogs) {
    ProjectData fresh = disk.project.data;
    fresh.ProjectDataMode = ProjectData::kModeNew;
    ProjectDataDialog create({.project = disk.project, .record = fresh});
    create.findChild<QLineEdit*>("1155")->setText("Bach: Cantata 140");
    create.findChild<QLineEdit*>("1160")->setText("Wachet auf, for the Sunday choir");
    shoot(create, "project_data_new");
    disk.project.data.ProjectDataMode = ProjectData::kModeEdit;
    ProjectDataDialog edit({.project = disk.project, .record = disk.project.data});
    shoot(edit, "project_data_edit");

    disk.project.CatEnsemble = "Choir";
    disk.project.CatInstrument = "109;112;113";
    CategoriesDialog categories(disk.project);
    shoot(categories, "categories");
    testing::catalogued(disk.root, "Cantata 140", "Choir", "109;112", "Wachet auf, for the Sunday choir");
    testing::catalogued(disk.root, "Fanfares", "Brass", "29;37", "Three fanfares for the opening");
    OpenCategoryDialog open(disk.project.shell());
    open.findChild<QTreeView*>("1022")->expandAll();
    shoot(open, "open_by_category");
}

TEST_F(Screenshots, WelcomeAndSmallDialogs) {
    int howToStart = kStartWelcome;
    WelcomeDialog welcome({howToStart, store, {}, {}});
    shoot(welcome, "welcome");

    Project project;
    ProfileContext profiles;
    for (const char* name : {"/music/Kyrie.mid", "/music/Gloria.xml.tvrx", "/music/Credo.mid"}) {
        project.entries.emplace_back();
        project.entries.back().Filename = name;
    }
    project.currentEntry = 0;
    ProfileEntriesDialog entries(project, profiles);
    shoot(entries, "profile_entries");
    OverwriteDialog overwrite("The file \"Kyrie.mid\" is in the project folder already. Replace it?");
    shoot(overwrite, "overwrite");
    FileTimeProgressWindow progress;
    progress.open(3);
    progress.setText("Measuring Gloria.xml.tvrx");
    progress.setPosition(1);
    shoot(progress, "file_time_progress");
    WaitDialog copying;
    copying.textLabel()->show();
    shoot(copying, "wait_copying");
    WaitWindow wait;
    shoot(wait, "wait_window");
    const std::string step = "Loading the instruments ...";
    SplashWindow splash(dir.path(), &step);
    shoot(splash, "splash");
}

TEST_F(Screenshots, SettingsPages) {
    ASSERT_EQ(catalog().AddInstrument(fs::path(QVP3_TEST_PLUGIN_DIR) / "synth.so", true, "[VST]qvp3 tests: qvp3 synth"), 0u);
    ASSERT_EQ(catalog().AddInstrument(dir.path() / "strings.so", false, "[VST]Maker: Strings"), 0u);
    store.createKey(platform::Hive::User, platform::kProgramSettingsKey)
        .writeString("SamplePlayerVSTFolder", std::string(QVP3_TEST_PLUGIN_DIR));
    SettingsDialog dialog(context());
    shoot(dialog, "settings_general");
    dialog.tabs()->setCurrentIndex(1);
    shoot(dialog, "settings_plugins");
    dialog.tabs()->setCurrentIndex(2);
    shoot(dialog, "settings_outputs");
}

}  // namespace
}  // namespace qvp3
