// The way a musician goes through the window: a new project, scores and a
// MIDI file added, a file played into the capture MIDI device and stopped,
// saved, closed and opened again from the recent list; and closing the
// window on a project that was never saved.
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QTabWidget>
#include <QTreeView>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "platform/midi_out.h"
#include "qvp3_project/project.h"
#include "qvp3_shell/app_state.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_shell/recent_files.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui_testing.h"
#include "shell_fixture.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        qvp3ui::testing::processEventsFor(10);
    }
    return true;
}

int noteOns(const platform::CaptureMidiOut& capture) {
    int n = 0;
    for (const auto& m : capture.messages()) {
        if (m.kind == platform::CaptureMidiOut::Message::Kind::Short && (m.packed & 0xF0) == 0x90 && (m.packed >> 16) != 0)
            ++n;
    }
    return n;
}

TEST_F(ShellFixture, NewProjectAddPlayStopSaveCloseAndReopen) {
    window().show();
    newProject("Practice");
    ASSERT_TRUE(app().projectOpen);
    const fs::path folder = app().projectsRoot / "Practice";
    EXPECT_TRUE(fs::is_directory(folder));
    std::vector<fs::path> files = fixtureFiles();
    addFiles(files);
    Project& p = *app().project;
    ASSERT_EQ(p.fileNum(), 3);
    EXPECT_EQ(window().fileList()->model()->rowCount(), 3);
    qvp3ui::testing::saveScreenshot(window(), "project_three_files");

    // The MIDI file plays into the capture device, and stops.
    platform::CaptureMidiOut capture;
    app().playback->outputForTests = &capture;
    // A click on the row makes its file the current one.
    window().fileList()->setCurrentIndex(window().fileList()->model()->index(2, 0));
    EXPECT_EQ(p.currentEntry, 2);
    ASSERT_TRUE(window().action(cmd::kPlay)->isEnabled());
    window().runCommand(cmd::kPlay);
    EXPECT_TRUE(p.entries[2].isBusy());
    ASSERT_TRUE(waitFor([&] { return noteOns(capture) >= 2; }, 5s)) << capture.count() << " messages";
    window().runCommand(cmd::kStop);
    EXPECT_FALSE(p.entries[2].isBusy());
    const std::size_t afterStop = capture.count();
    qvp3ui::testing::processEventsFor(200);
    EXPECT_LE(capture.count(), afterStop + 16);  // at most the silencing of the channels
    EXPECT_EQ(qvp3ui::findControl<QLabel>(window(), ctl::kTimeDisplay)->text(), "0:00:000");

    window().runCommand(cmd::kSave);
    ASSERT_TRUE(fs::exists(folder / "Practice.c-1"));
    window().runCommand(cmd::kCloseProject);
    EXPECT_FALSE(app().projectOpen);
    EXPECT_EQ(window().fileList()->model()->rowCount(), 0);
    EXPECT_EQ(window().windowTitle().toStdString(), app().programTitle);

    window().runCommand(cmd::kFirstRecent);
    ASSERT_TRUE(app().projectOpen);
    ASSERT_EQ(p.fileNum(), 3);
    EXPECT_EQ(p.entries[2].Filename, folder / "two_hands.mid");
    EXPECT_EQ(window().fileList()->model()->rowCount(), 3);
    EXPECT_NE(window().windowTitle().indexOf("[Practice]"), -1);
    qvp3ui::testing::saveScreenshot(window(), "project_reopened");
    app().playback->outputForTests = nullptr;
}

TEST_F(ShellFixture, DecliningToSaveANewProjectRemovesOnlyWhatItMade) {
    window().show();
    newProject("Draft");
    const fs::path folder = app().projectsRoot / "Draft";
    addFiles(fixtureFiles());
    std::ofstream(folder / "my notes.txt") << "keep me";
    ASSERT_TRUE(fs::exists(folder / "canon.xml.tvrx"));
    std::ofstream(folder / "canon_qvpcnv.mid") << "converted";
    nextAnswer = kIdNo;
    window().close();
    EXPECT_FALSE(window().isVisible());
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().stringId, 128);
    EXPECT_FALSE(fs::exists(folder / "canon.xml.tvrx"));
    EXPECT_FALSE(fs::exists(folder / "canon_qvpcnv.mid"));
    EXPECT_TRUE(fs::exists(folder / "my notes.txt"));
    EXPECT_TRUE(fs::exists(folder / "canon.xml"));
    EXPECT_EQ(app().howToStart, 1);
    EXPECT_EQ(app().projectFolder, app().projectsRoot);
    EXPECT_EQ(app().recentFiles->count(), 0u);  // no file to come back to
}

TEST_F(ShellFixture, DecliningToSaveAnEmptyNewProjectRemovesItsFolder) {
    window().show();
    newProject("Empty");
    const fs::path folder = app().projectsRoot / "Empty";
    ASSERT_TRUE(fs::is_directory(folder));
    nextAnswer = kIdNo;
    window().close();
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_TRUE(fs::is_directory(app().projectsRoot));
}

TEST_F(ShellFixture, CancelOnCloseKeepsTheWindowAndYesSaves) {
    window().show();
    newProject("Kept");
    nextAnswer = kIdCancel;
    window().close();
    EXPECT_TRUE(window().isVisible());
    nextAnswer = kIdYes;
    window().close();
    EXPECT_FALSE(window().isVisible());
    EXPECT_TRUE(fs::exists(app().projectsRoot / "Kept" / "Kept.c-1"));
    EXPECT_EQ(app().recentFiles->path(0), app().projectsRoot / "Kept" / "Kept.c-1");
}

TEST_F(ShellFixture, AFailedSaveIsReportedAndKeepsTheWindowAndTheWork) {
    window().show();
    newProject("Unwritable");
    addFiles({fixtureFiles()[2]});
    // The project file's folder is gone: the save cannot succeed.
    app().project->filePath = home / "gone" / "Unwritable.c-1";
    nextAnswer = kIdYes;
    window().close();
    EXPECT_TRUE(window().isVisible());
    ASSERT_GE(boxes.size(), 2u);
    EXPECT_EQ(boxes[boxes.size() - 2].stringId, 128);
    EXPECT_EQ(boxes.back().stringId, 221);
    EXPECT_FALSE(app().project->saved);
    EXPECT_EQ(app().project->fileNum(), 1);
    EXPECT_TRUE(fs::exists(app().projectsRoot / "Unwritable" / "two_hands.mid"));
}

TEST_F(ShellFixture, ConversionProgressShowsInTheStatusBarAndGoesAtTheEnd) {
    window().show();
    QProgressBar* bar = window().statusProgress();
    platform::MessageTarget& target = window().target();
    target.post(platform::WM_MXML_PROGRESS, 4, 12);  // twelve units in all
    target.post(platform::WM_MXML_PROGRESS, 0, 96);  // a tempo: not progress
    target.post(platform::WM_MXML_PROGRESS, 3, 6);
    QApplication::processEvents();
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->maximum(), 12);
    EXPECT_EQ(bar->value(), 6);
    target.post(platform::WM_MXML_PROGRESS, 3, 12);
    QApplication::processEvents();
    EXPECT_FALSE(bar->isVisible());
    // Adding files never leaves the bar behind.
    newProject("Progress");
    addFiles({fixtureFiles()[1]});
    EXPECT_FALSE(bar->isVisible());
}

TEST_F(ShellFixture, AStepWithUnfinishedWorkHoldsTheTabs) {
    newProject("Steps");
    addFiles({fixtureFiles()[2]});  // without files the start page holds the tabs itself
    StepPage* second = stpGetPage(*app().project, 2);
    ASSERT_NE(second, nullptr);
    second->getStatus = [](StepPage&, Project&, StepStatus& status) {
        status.state = 1;
        status.stringId = 97;
    };
    window().runCommand(cmd::kFirstStepTab + 5);
    EXPECT_EQ(app().project->currentStep, 2);
    EXPECT_EQ(window().stepTab()->currentIndex(), 2);
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().stringId, 97);
}

}  // namespace
}  // namespace qvp3
