// The welcome dialog, the profile-entries dialog, the overwrite question,
// the progress and wait windows and the splash window.
#include <QCheckBox>
#include <QLabel>
#include <QListView>
#include <QProgressBar>
#include <QStandardItemModel>
#include <thread>

#include "dialog_fixture.h"
#include "qvp3_dialogs/small_dialogs.h"
#include "qvp3_dialogs/welcome_dialog.h"
#include "qvp3_project/project_entry.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;

class WelcomeTest : public testing::DialogTest {
protected:
    platform::testing::TempFolder dir;
    platform::SettingsStore store{dir.path()};
    int howToStart = kStartWelcome;
    std::vector<int> posted;
    int openedLast = 0;

    WelcomeContext context() {
        return {howToStart, store, [this](int command) { posted.push_back(command); }, [this] { ++openedLast; }};
    }
    std::optional<std::uint32_t> stored() const {
        return store.openKey(platform::Hive::User, platform::kProgramSettingsKey).readDword("HowToStart");
    }
};

TEST_F(WelcomeTest, OkWritesTheStartBehaviourTheBoxesStandFor) {
    struct Case {
        bool openLast;
        bool alwaysShow;
        int value;
    };
    for (const Case c : {Case{false, true, kStartWelcome}, Case{true, false, kStartLastProject},
                         Case{false, false, kStartEmpty}}) {
        openedLast = 0;
        WelcomeDialog dialog(context());
        EXPECT_TRUE(control<QCheckBox>(dialog, 407)->isChecked());
        control<QCheckBox>(dialog, 1001)->setChecked(c.openLast);
        if (!c.openLast) control<QCheckBox>(dialog, 407)->setChecked(c.alwaysShow);
        EXPECT_FALSE(control<QCheckBox>(dialog, 1001)->isChecked() && control<QCheckBox>(dialog, 407)->isChecked());
        click(dialog, 1);
        EXPECT_EQ(dialog.result(), 1);
        EXPECT_EQ(howToStart, c.value);
        EXPECT_EQ(stored(), static_cast<std::uint32_t>(c.value));
        EXPECT_EQ(openedLast, c.value == kStartLastProject ? 1 : 0);
    }
    EXPECT_TRUE(posted.empty());
}

TEST_F(WelcomeTest, ToolbarButtonsPostTheirCommandAndEscapeChangesNothing) {
    {
        WelcomeDialog dialog(context());
        control<QCheckBox>(dialog, 407)->setChecked(false);
        click(dialog, 411);
        EXPECT_EQ(dialog.result(), 1);
    }
    {
        WelcomeDialog dialog(context());
        click(dialog, 410);
    }
    EXPECT_EQ(posted, (std::vector<int>{kCmdNewProject, kCmdOpenProject}));
    EXPECT_EQ(stored(), static_cast<std::uint32_t>(kStartWelcome));
    store.createKey(platform::Hive::User, platform::kProgramSettingsKey).writeDword("HowToStart", 2);
    howToStart = 2;
    WelcomeDialog dialog(context());
    dialog.reject();
    EXPECT_EQ(dialog.result(), 0);
    EXPECT_EQ(howToStart, 2);
    EXPECT_EQ(stored(), 2u);
}

TEST_F(WelcomeTest, AnActiveDialogIsMadeKnownToTheShell) {
    std::vector<QWidget*> heard;
    dlg::setActivationHandler([&](QWidget* dialog) { heard.push_back(dialog); });
    {
        WelcomeDialog dialog(context());
        dialog.show();
        dialog.activateWindow();
        for (int waited = 0; dlg::activeDialog() != &dialog && waited < 2000; waited += 10) {
            qvp3ui::testing::processEventsFor(10);
        }
        EXPECT_EQ(dlg::activeDialog(), &dialog);
        ASSERT_FALSE(heard.empty());
        EXPECT_EQ(heard.back(), &dialog);
    }
    EXPECT_EQ(dlg::activeDialog(), nullptr) << "a closed dialog is no longer active";
    dlg::setActivationHandler({});
}

class ProfileEntriesTest : public testing::DialogTest {
protected:
    Project project;
    ProfileContext profiles;
    ProfileEntriesTest() {
        for (const char* name : {"/music/a.mid", "/music/b.xml.tvrx", "/music/c.mid"}) {
            project.entries.emplace_back();
            project.entries.back().Filename = name;
        }
        project.currentEntry = 1;
        project.currentStep = 4;
    }
    static std::vector<bool> checks(ProfileEntriesDialog& dialog) {
        auto* model = static_cast<QStandardItemModel*>(control<QListView>(dialog, 226)->model());
        std::vector<bool> result;
        for (int row = 0; row < model->rowCount(); ++row) result.push_back(model->item(row)->checkState() == Qt::Checked);
        return result;
    }
};

TEST_F(ProfileEntriesTest, TheCurrentFileIsCheckedUntilFlagsAreSetAndOkSetsExactlyTheChecked) {
    {
        ProfileEntriesDialog dialog(project, profiles);
        EXPECT_EQ(checks(dialog), (std::vector<bool>{false, true, false}));
        EXPECT_EQ(control<QListView>(dialog, 226)->model()->index(0, 0).data().toString(), "a.mid");
        click(dialog, 227);
        EXPECT_EQ(checks(dialog), (std::vector<bool>{true, true, true}));
        click(dialog, 228);
        click(dialog, 229);
        EXPECT_EQ(checks(dialog), (std::vector<bool>{false, true, false}));
        static_cast<QStandardItemModel*>(control<QListView>(dialog, 226)->model())->item(2)->setCheckState(Qt::Checked);
        profiles.entriesChanged = true;
        click(dialog, 1);
        EXPECT_EQ(dialog.result(), 1);
    }
    EXPECT_EQ(profiles.applyFlags[0], 0);
    EXPECT_EQ(profiles.applyFlags[1], 1);
    EXPECT_EQ(profiles.applyFlags[2], 1);
    EXPECT_FALSE(profiles.entriesChanged);
    ProfileEntriesDialog again(project, profiles);
    EXPECT_EQ(checks(again), (std::vector<bool>{false, true, true})) << "the flags decide now";
    click(again, 228);
    click(again, 2);
    EXPECT_EQ(profiles.applyFlags[2], 1) << "Cancel keeps the flags";
}

TEST_F(ProfileEntriesTest, InTheExportStepOnlyCancelAndHelpWork) {
    project.currentStep = 16;
    ProfileEntriesDialog dialog(project, profiles);
    EXPECT_EQ(control<QListView>(dialog, 226)->model()->rowCount(), 1);
    EXPECT_EQ(control<QListView>(dialog, 226)->model()->index(0, 0).data().toString(), "S451");
    for (const int id : {226, 227, 228, 229, 1}) EXPECT_FALSE(control(dialog, id)->isEnabled()) << id;
    for (const int id : {2, 9}) EXPECT_TRUE(control(dialog, id)->isEnabled()) << id;
    click(dialog, 9);
    EXPECT_EQ(helpTopics, std::vector<std::string>{"profile"});
}

TEST_F(ProfileEntriesTest, OverwriteQuestionAnswersWithTheButtonAndTheBox) {
    struct Case {
        int button;
        bool dontAsk;
        int result;
    };
    for (const Case c : {Case{kIdYes, false, 6}, Case{kIdNo, true, 17}, Case{kIdCancel, true, 12}}) {
        OverwriteDialog dialog("song.mid exists");
        EXPECT_EQ(control<QLabel>(dialog, 1056)->text(), "song.mid exists");
        control<QCheckBox>(dialog, 1057)->setChecked(c.dontAsk);
        click(dialog, c.button);
        EXPECT_EQ(dialog.result(), c.result);
    }
}

TEST_F(ProfileEntriesTest, ProgressAndWaitWindowsKeepTheUserInterfaceRunning) {
    FileTimeProgressWindow progress;
    PlayTimeProgressView& view = progress;
    view.open(3);
    view.setText("Measuring a.mid");
    view.setPosition(2);
    EXPECT_TRUE(progress.isVisible());
    EXPECT_FALSE(progress.isModal());
    EXPECT_EQ(control<QProgressBar>(progress, 1200)->maximum(), 3);
    EXPECT_EQ(control<QProgressBar>(progress, 1200)->value(), 2);
    view.close();
    EXPECT_FALSE(progress.isVisible());

    WaitDialog copying;
    EXPECT_EQ(control<QLabel>(copying, 284)->text(), "S141");
    EXPECT_TRUE(control<QLabel>(copying, 284)->isHidden());

    WaitWindow wait;
    wait.show();
    EXPECT_EQ(control<QLabel>(wait, 284)->text(), "S112");
    // A text from another thread, longer than the window keeps and never terminated within it.
    std::string text(300, 'x');
    std::thread sender([&] { wait.target().send(platform::WM_WAITDLG_TEXT, 0, reinterpret_cast<platform::LParam>(text.c_str())); });
    while (wait.keptText().empty()) qvp3ui::testing::processEventsFor(10);
    sender.join();
    EXPECT_EQ(wait.keptText(), std::string(255, 'x'));
    EXPECT_EQ(control<QLabel>(wait, 284)->text().size(), 255);
    wait.target().send(platform::WM_WAITDLG_DONE, 0, 0);
    EXPECT_TRUE(wait.keptText().empty());
}

TEST_F(ProfileEntriesTest, SplashWithoutItsPictureShowsTheStepText) {
    platform::testing::TempFolder dir;
    std::string step = "S456";
    SplashWindow splash(dir.path(), &step);
    EXPECT_FALSE(splash.hasPicture());
    splash.show();
    step = "S457";
    splash.update();
    EXPECT_EQ(splash.size(), QSize(400, 120));
}

}  // namespace
}  // namespace qvp3
