// The main window's command table: every command enabled or greyed in the
// project's states, and what the commands do.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include "qvp3_project/project.h"
#include "qvp3_shell/app_state.h"
#include "qvp3_shell/commands.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_shell/menus.h"
#include "qvp3_shell/recent_files.h"
#include "shell_fixture.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;

// The states a row is checked in.
enum State { Closed, OpenEmpty, FirstOfTwo, LastOfTwo, StateCount };

struct EnabledRow {
    int id;
    bool enabled[StateCount];  // Closed, OpenEmpty, FirstOfTwo (step 0), LastOfTwo (step 17)
};

constexpr bool T = true, F = false;

const EnabledRow kEnabled[] = {
    {cmd::kApplyProfile, {F, T, T, T}},  {cmd::kSaveProfile, {F, T, T, T}},
    {cmd::kDeleteProfile, {F, T, T, T}}, {cmd::kProfileEntries, {F, T, T, T}},
    {cmd::kHelp, {T, T, T, T}},          {cmd::kAddFiles, {F, T, T, T}},
    {cmd::kAbout, {T, T, T, T}},         {cmd::kSearch, {F, T, T, T}},
    {cmd::kExit, {T, T, T, T}},          {cmd::kNewProject, {T, T, T, T}},
    {cmd::kOpenProject, {T, T, T, T}},   {cmd::kSave, {F, T, T, T}},
    {cmd::kSaveAs, {F, T, T, T}},        {cmd::kShowProjectData, {F, T, T, T}},
    {cmd::kCloseProject, {F, T, T, T}},  {cmd::kCategories, {F, T, T, T}},
    {cmd::kContextHelp, {T, T, T, T}},   {cmd::kProjectData, {F, T, T, T}},
    {cmd::kSettings, {T, T, T, T}},      {cmd::kRemoveFile, {F, F, T, T}},
    {cmd::kFileUp, {F, F, F, T}},        {cmd::kFileDown, {F, F, T, F}},
    {cmd::kStop, {F, F, T, T}},          {cmd::kPlay, {F, F, T, T}},
    {cmd::kToStart, {F, F, T, T}},       {cmd::kBack, {T, T, T, T}},
    {cmd::kForward, {T, T, T, T}},       {cmd::kToggle, {F, T, T, T}},
    {cmd::kRun, {T, T, T, T}},           {cmd::kExternalEditor, {F, F, T, T}},
    {cmd::kNextStep, {F, T, T, F}},      {cmd::kPreviousStep, {F, F, F, T}},
    {cmd::kFirstStepTab, {T, T, T, T}},  {cmd::kLastStepTab, {T, T, T, T}},
    {cmd::kHelpKeyboard, {T, T, T, T}},  {cmd::kHelpGlossary, {T, T, T, T}},
    {cmd::kHelpManaging, {T, T, T, T}},  {cmd::kHelpIncluded, {T, T, T, T}},
    {cmd::kUpdateSettings, {T, T, T, T}},
};

class CommandTest : public ShellFixture {
protected:
    void enter(State state) {
        if (state == Closed) return;
        newProject("Etudes");
        if (state == OpenEmpty) return;
        std::vector<fs::path> files = fixtureFiles();
        addFiles({files[0], files[2]});
        ASSERT_EQ(app().project->fileNum(), 2);
        Project& p = *app().project;
        p.currentEntry = state == FirstOfTwo ? 0 : 1;
        p.currentStep = state == FirstOfTwo ? 0 : 17;
        window().refreshAll();
        window().show();
        window().activateWindow();
        window().fileList()->setFocus();
        QApplication::processEvents();
    }
};

TEST_F(CommandTest, EveryCommandIsEnabledInThePartsStates) {
    for (int s = 0; s < StateCount; ++s) {
        makeApp(6);
        enter(static_cast<State>(s));
        window().updateCommands();
        for (const EnabledRow& row : kEnabled) {
            QAction* action = window().action(row.id);
            ASSERT_NE(action, nullptr) << row.id;
            EXPECT_EQ(action->isEnabled(), row.enabled[s]) << "command " << row.id << " in state " << s;
        }
    }
}

TEST_F(CommandTest, ProfileCommandsFollowTheProfileBarsMode) {
    enter(FirstOfTwo);
    const struct {
        int mode, step;
        bool apply, save, remove;
    } cases[] = {
        {1, 0, T, T, T}, {3, 1, T, T, T}, {2, 0, F, F, F}, {2, 1, F, T, F}, {4, 1, F, T, F}, {5, 1, F, F, F},
    };
    for (const auto& c : cases) {
        app().project->currentStep = c.step;
        window().layoutProfileBar(c.mode);
        EXPECT_EQ(window().action(cmd::kApplyProfile)->isEnabled(), c.apply) << c.mode << "/" << c.step;
        EXPECT_EQ(window().action(cmd::kSaveProfile)->isEnabled(), c.save) << c.mode << "/" << c.step;
        EXPECT_EQ(window().action(cmd::kDeleteProfile)->isEnabled(), c.remove) << c.mode << "/" << c.step;
    }
    // While a file plays the bar is mode 5, whatever is asked.
    app().project->entries[0].entryState = kEntryPlaying;
    window().layoutProfileBar(1);
    EXPECT_EQ(app().profileBarMode, 5);
    EXPECT_FALSE(window().action(cmd::kSaveProfile)->isEnabled());
    app().project->entries[0].entryState = 0;
}

TEST_F(CommandTest, EveryRowOfTheTableHasAnActionAndEveryMenuItemARow) {
    for (const CommandRow& row : commandTable()) EXPECT_NE(window().action(row.id), nullptr) << row.id;
    for (int i = 0; i < kSubmenuCount; ++i) {
        for (QAction* item : window().submenu(static_cast<Submenu>(i))->actions()) {
            if (item->isSeparator()) continue;
            EXPECT_NE(findCommand(item->objectName().toInt()), nullptr) << item->objectName().toStdString();
        }
    }
    // The update settings sit in the help menu before its last item.
    const QList<QAction*> help = window().submenu(Submenu::Help)->actions();
    EXPECT_EQ(help.back(), window().action(cmd::kAbout));
    EXPECT_TRUE(help[help.size() - 2]->isSeparator());
    EXPECT_EQ(help[help.size() - 3]->objectName(), "40112");
}

TEST_F(CommandTest, RemovingNeedsTheFocusOnTheFileList) {
    enter(FirstOfTwo);
    window().stepTab()->setFocus();
    QApplication::processEvents();
    window().runCommand(cmd::kRemoveFile);
    EXPECT_EQ(app().project->fileNum(), 2);
    EXPECT_TRUE(boxes.empty());
    window().fileList()->setFocus();
    QApplication::processEvents();
    nextAnswer = kIdNo;
    window().runCommand(cmd::kRemoveFile);
    EXPECT_EQ(app().project->fileNum(), 2);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].checkKey, "{3D6D0D9D-201E-436e-9DBB-795AC0FDDE5B}");
    nextAnswer = kIdYes;
    window().runCommand(cmd::kRemoveFile);
    ASSERT_EQ(app().project->fileNum(), 1);
    EXPECT_EQ(app().project->entries[0].Filename.filename(), "two_hands.mid");
}

TEST_F(CommandTest, MovingExchangesTheCurrentFileWithItsNeighbour) {
    enter(FirstOfTwo);
    window().runCommand(cmd::kFileDown);
    Project& p = *app().project;
    EXPECT_EQ(p.currentEntry, 1);
    EXPECT_EQ(p.entries[0].Filename.filename(), "two_hands.mid");
    window().runCommand(cmd::kFileDown);  // greyed on the last file
    EXPECT_EQ(p.entries[1].Filename.filename(), "piano.xml.tvrx");
    window().runCommand(cmd::kFileUp);
    EXPECT_EQ(p.entries[0].Filename.filename(), "piano.xml.tvrx");
    EXPECT_EQ(p.currentEntry, 0);
}

TEST_F(CommandTest, StepsMoveOnlyWithinTheEighteen) {
    enter(FirstOfTwo);  // without files the start page keeps the project there
    Project& p = *app().project;
    window().runCommand(cmd::kPreviousStep);
    EXPECT_EQ(p.currentStep, 0);
    window().runCommand(cmd::kNextStep);
    EXPECT_EQ(p.currentStep, 1);
    EXPECT_EQ(window().stepTab()->currentIndex(), 1);
    window().runCommand(cmd::kPreviousStep);
    EXPECT_EQ(p.currentStep, 0);
}

TEST_F(CommandTest, SaveSaveAsAndCloseKeepTheProjectFile) {
    enter(FirstOfTwo);
    Project& p = *app().project;
    const fs::path file = p.filePath;
    EXPECT_EQ(file, app().projectsRoot / "Etudes" / "Etudes.c-1");
    window().runCommand(cmd::kSave);
    EXPECT_TRUE(fs::exists(file));
    EXPECT_TRUE(p.saved);
    EXPECT_FALSE(window().action(cmd::kSave)->isEnabled());

    chooserAnswer = {app().projectsRoot / "Etudes" / "Scales"};
    window().runCommand(cmd::kSaveAs);
    EXPECT_EQ(p.data.ProjectTitle, "Scales");
    EXPECT_TRUE(fs::exists(app().projectsRoot / "Etudes" / "Scales.c-1"));
    EXPECT_TRUE(fs::exists(file));
    EXPECT_NE(window().windowTitle().indexOf("[Scales]"), -1);

    // A close with the code 0xFFFF asks nothing and keeps no changes.
    p.saved = 0;
    boxes.clear();
    window().runCommand(cmd::kCloseProject, cmd::kCodeNoQuestion);
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(app().projectOpen);
    EXPECT_EQ(p.fileNum(), 0);
    EXPECT_EQ(app().recentFiles->path(0), app().projectsRoot / "Etudes" / "Scales.c-1");
}

TEST_F(CommandTest, CloseAsksAndCancelKeepsTheProject) {
    enter(FirstOfTwo);
    nextAnswer = kIdCancel;
    window().runCommand(cmd::kCloseProject);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].stringId, 128);
    EXPECT_TRUE(app().projectOpen);
    nextAnswer = kIdNo;
    window().runCommand(cmd::kCloseProject);
    EXPECT_FALSE(app().projectOpen);
}

TEST_F(CommandTest, HelpCommandsOpenTheirTopics) {
    const struct {
        int id;
        const char* opened;
    } cases[] = {
        {cmd::kHelp, "handbuch_qvp3_EN_UK.html#"},
        {cmd::kHelpKeyboard, "handbuch_qvp3_EN_UK.html#tastatur"},
        {cmd::kHelpGlossary, "handbuch_qvp3_EN_UK.html#glossar"},
        {cmd::kHelpManaging, "handbuch_qvp3_EN_UK.html#hilfe_verw"},
        {cmd::kHelpIncluded, "handbuch_qvp3_EN_UK.html#proj_mitgel"},
        {cmd::kContextHelp, "handbuch_qvp3_EN_UK.html#"},  // no project: the contents
    };
    for (const auto& c : cases) {
        helpOpened.clear();
        window().runCommand(c.id);
        ASSERT_EQ(helpOpened.size(), 1u) << c.id;
        EXPECT_EQ(helpOpened[0], c.opened) << c.id;
    }
    enter(FirstOfTwo);
    window().stepTab()->setFocus();
    helpOpened.clear();
    window().runCommand(cmd::kContextHelp);
    EXPECT_EQ(helpOpened.at(0), "handbuch_qvp3_EN_UK.html#abschnitt1");
    window().fileList()->setFocus();
    window().runCommand(cmd::kContextHelp);
    EXPECT_EQ(helpOpened.at(1), "handbuch_qvp3_EN_UK.html#quelldatei");
}

TEST_F(CommandTest, AddedFilesAreSortedByName) {
    newProject("Sorted");
    std::vector<fs::path> files = fixtureFiles();  // piano, canon, two_hands
    addFiles(files);
    Project& p = *app().project;
    ASSERT_EQ(p.fileNum(), 3);
    EXPECT_EQ(p.entries[0].Filename.filename(), "canon.xml.tvrx");
    EXPECT_EQ(p.entries[1].Filename.filename(), "piano.xml.tvrx");
    EXPECT_EQ(p.entries[2].Filename.filename(), "two_hands.mid");
    // Copied into the project's folder first.
    EXPECT_EQ(p.entries[2].Filename.parent_path(), app().projectsRoot / "Sorted");
    EXPECT_EQ(choosers.back().purpose, cmd::kAddFiles);
    EXPECT_TRUE(choosers.back().multiSelect);
}

TEST_F(CommandTest, ToggleAndRunMenuItemsFollowTheStep) {
    const struct {
        int step;
        bool toggle;
        int toggleText;
        bool run;
    } cases[] = {
        {0, false, 0, false},  {6, true, 421, false}, {7, true, 422, false}, {8, true, 422, false},
        {11, true, 421, false}, {12, true, 421, false}, {13, true, 46, true}, {14, false, 0, false},
    };
    for (const auto& c : cases) {
        // Twice: the items never double.
        appUpdateToggleMenuItem(window(), c.step);
        appUpdateToggleMenuItem(window(), c.step);
        appUpdateRunMenuItem(window(), c.step);
        appUpdateRunMenuItem(window(), c.step);
        const QMenu& playback = *window().submenu(Submenu::Playback);
        EXPECT_EQ(appMenuHasItem(playback, cmd::kToggle), c.toggle) << c.step;
        EXPECT_EQ(appMenuHasItem(*window().submenu(Submenu::Project), cmd::kRun), c.run) << c.step;
        int separators = 0;
        for (QAction* a : playback.actions()) separators += a->isSeparator() ? 1 : 0;
        EXPECT_EQ(separators, c.toggle ? 1 : 0) << c.step;
        if (c.toggle) {
            EXPECT_EQ(window().action(cmd::kToggle)->text().toStdString(), app().stringModule->string(c.toggleText));
        }
    }
}

TEST_F(CommandTest, RecentProjectOpensTheExpandedPath) {
    enter(FirstOfTwo);
    window().runCommand(cmd::kSave);
    window().runCommand(cmd::kCloseProject, cmd::kCodeNoQuestion);
    ASSERT_EQ(app().recentFiles->entry(0), "../Projects/Etudes/Etudes.c-1");
    window().runCommand(cmd::kFirstRecent);
    EXPECT_TRUE(app().projectOpen);
    EXPECT_EQ(app().project->fileNum(), 2);
    EXPECT_EQ(app().project->data.ProjectTitle, "Etudes");
}

TEST_F(CommandTest, ClicksOnThePauseCellChangeThePause) {
    enter(FirstOfTwo);
    QTreeView* list = window().fileList();
    Project& p = *app().project;
    p.entries[1].Pause = 10;
    list->setCurrentIndex(list->model()->index(1, 0));
    auto click = [&](int row, Qt::MouseButton button) {
        const QRect cell = list->visualRect(list->model()->index(row, kPauseColumn));
        QTest::mouseClick(list->viewport(), button, Qt::NoModifier, cell.center());
    };
    click(1, Qt::LeftButton);
    EXPECT_EQ(p.entries[1].Pause, 0);  // 10 wraps to 0
    EXPECT_EQ(list->model()->index(1, kPauseColumn).data().toString(), "0");
    click(1, Qt::RightButton);
    EXPECT_EQ(p.entries[1].Pause, 10);  // and 0 back to 10
    EXPECT_EQ(p.entries[0].Pause, 2);   // the other file keeps its pause
    EXPECT_FALSE(p.saved);
    // The column comes and goes as the steps need it.
    EXPECT_FALSE(window().appShowListColumn(true));
    EXPECT_TRUE(window().appShowListColumn(false));
    EXPECT_TRUE(list->isColumnHidden(kPauseColumn));
    EXPECT_TRUE(window().appShowListColumn(true));
}

TEST_F(CommandTest, ExitClosesTheWindow) {
    window().show();
    QApplication::processEvents();
    window().runCommand(cmd::kExit);
    QApplication::processEvents();
    EXPECT_FALSE(window().isVisible());
}

}  // namespace
}  // namespace qvp3
