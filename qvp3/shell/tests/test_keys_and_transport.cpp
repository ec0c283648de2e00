// Keys and the transport: holding F5 or F7 winds the playing file and
// letting go ends the wind; F1 reaches an open modeless dialog as its help
// command and goes no further; the position slider moves the play position.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <chrono>

#include "platform/midi_out.h"
#include "qvp3_pipeline/midi_write.h"
#include "qvp3_pipeline/sequencer.h"
#include "qvp3_project/project.h"
#include "qvp3_shell/app_state.h"
#include "qvp3_shell/keyboard_filter.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/qt_message_target.h"
#include "qvp3_ui_testing.h"
#include "shell_fixture.h"

namespace qvp3 {
namespace {

using namespace std::chrono_literals;

class TransportTest : public ShellFixture {
protected:
    void SetUp() override {
        ShellFixture::SetUp();
        installKeyboardFilter(window());
        window().show();
        window().activateWindow();
        QApplication::setActiveWindow(&window());
        newProject("Keys");
        addFiles({fixtureFiles()[2]});
        app().playback->outputForTests = &capture;
        app().project->currentEntry = 0;
        window().refreshAll();
    }
    void TearDown() override {
        app().stopAllThreads();
        app().playback->outputForTests = nullptr;
        ShellFixture::TearDown();
    }
    ProjectEntry& entry() { return app().project->entries[0]; }
    platform::CaptureMidiOut capture;
};

TEST_F(TransportTest, HoldingF7WindsAndLettingGoEndsIt) {
    window().runCommand(cmd::kPlay);
    ASSERT_TRUE(entry().isBusy());
    QWidget* focus = window().fileList();
    focus->setFocus();
    QTest::keyPress(focus, Qt::Key_F7);
    EXPECT_NE(plyEntryPlayer(entry()).wind, nullptr);
    qvp3ui::testing::processEventsFor(250);
    QTest::keyRelease(focus, Qt::Key_F7);
    EXPECT_EQ(plyEntryPlayer(entry()).wind, nullptr);
    EXPECT_GT(app().playback->plyEntryPosition(entry()), 0);
    window().runCommand(cmd::kStop);
    EXPECT_FALSE(entry().isBusy());
    // Without a playing file F5 does nothing.
    QTest::keyPress(focus, Qt::Key_F5);
    EXPECT_EQ(plyEntryPlayer(entry()).wind, nullptr);
    QTest::keyRelease(focus, Qt::Key_F5);
}

TEST_F(TransportTest, HoldingTheWindButtonWindsAsHoldingItsKeyDoes) {
    window().runCommand(cmd::kPlay);
    ASSERT_TRUE(entry().isBusy());
    auto* forward = qvp3ui::findControl<QPushButton>(window(), cmd::kForward);
    QTest::mousePress(forward, Qt::LeftButton);
    qvp3ui::testing::processEventsFor(250);
    EXPECT_NE(plyEntryPlayer(entry()).wind, nullptr);
    QTest::mouseRelease(forward, Qt::LeftButton);
    qvp3ui::testing::processEventsFor(20);
    EXPECT_EQ(plyEntryPlayer(entry()).wind, nullptr);
    EXPECT_GT(app().playback->plyEntryPosition(entry()), 0);
    window().runCommand(cmd::kStop);
}

TEST_F(TransportTest, ShutdownStopsThePlayerBeforeTheRecordGoes) {
    window().runCommand(cmd::kPlay);
    ASSERT_TRUE(entry().isBusy());
    ASSERT_TRUE(capture.count() > 0 || (qvp3ui::testing::processEventsFor(200), capture.count() > 0));
    app().stopAllThreads();
    EXPECT_FALSE(entry().isBusy());
    const std::size_t after = capture.count();
    qvp3ui::testing::processEventsFor(300);
    EXPECT_EQ(capture.count(), after);  // nothing plays on
}

struct HelpDialog : QDialog {
    int helpCommands = 0;
    bool event(QEvent* e) override {
        if (e->type() == qvp3ui::messageEventType(platform::WM_COMMAND) &&
            static_cast<qvp3ui::MessageEvent*>(e)->commandId() == 9) {
            ++helpCommands;
            return true;
        }
        return QDialog::event(e);
    }
};

TEST_F(TransportTest, F1GoesToTheModelessDialogAndNoFurther) {
    HelpDialog dialog;
    app().modelessDialog = &dialog;
    window().fileList()->setFocus();
    QTest::keyClick(window().fileList(), Qt::Key_F1);
    EXPECT_EQ(dialog.helpCommands, 1);
    EXPECT_TRUE(helpOpened.empty());
    app().modelessDialog = nullptr;
    QTest::keyClick(window().fileList(), Qt::Key_F1);
    EXPECT_EQ(dialog.helpCommands, 1);
    EXPECT_EQ(helpOpened.size(), 1u);  // the program's own help key
}

TEST_F(TransportTest, TheSliderMovesThePlayPosition) {
    auto* slider = qvp3ui::findControl<QSlider>(window(), ctl::kPositionSlider);
    ASSERT_GT(slider->maximum(), 0);
    const int target = slider->maximum() / 2;
    slider->setSliderPosition(target);
    slider->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QApplication::processEvents();
    EXPECT_NEAR(app().playback->plyEntryPosition(entry()), slider->sliderPosition(), 50);
    EXPECT_NE(qvp3ui::findControl<QLabel>(window(), ctl::kTimeDisplay)->text(), "0:00:000");
}

}  // namespace
}  // namespace qvp3
