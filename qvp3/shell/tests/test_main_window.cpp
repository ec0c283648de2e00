// The main window as the program builds it: every control under its id, a
// screenshot, and the language tables' texts on every control.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeView>

#include <gtest/gtest.h>

#include "qvp3_shell/app_state.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_shell/recent_files.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/message_box.h"
#include "qvp3_ui_testing.h"
#include "shell_fixture.h"

namespace qvp3 {
namespace {

using qvp3ui::findControl;

TEST_F(ShellFixture, EveryControlOfTheWindowHasItsId) {
    MainWindow& w = window();
    const std::vector<int> ids{ctl::kRebar, ctl::kStatusBar, ctl::kFileList, ctl::kAddPathCheck, ctl::kListLabel,
                               ctl::kPlaceholderA, ctl::kPlaceholderB, ctl::kListProgressA, ctl::kListProgressB,
                               ctl::kTransportLabel, 40053, 40052, 40054, 40055, 40056, ctl::kPositionSlider,
                               ctl::kMidiOutList, ctl::kBarDisplay, ctl::kTimeDisplay, ctl::kProfileLabelA,
                               ctl::kProfileLabelB, ctl::kProfileList, ctl::kProfileToolbar};
    for (int id : ids) EXPECT_NE(findControl(w, id), nullptr) << id;
    EXPECT_NE(w.findChild<QTabWidget*>(kStepTabName), nullptr);
    EXPECT_EQ(w.stepTab()->count(), 18);
    EXPECT_NE(findControl<QTreeView>(w, ctl::kFileList), nullptr);
    EXPECT_EQ(findControl<QLabel>(w, ctl::kBarDisplay)->text(), "1 : 1");
    EXPECT_EQ(findControl<QLabel>(w, ctl::kTimeDisplay)->text(), "0:00:000");
    EXPECT_EQ(findControl<QProgressBar>(w, ctl::kListProgressA)->maximum(), 99);
    EXPECT_EQ(findControl<QComboBox>(w, ctl::kProfileList)->lineEdit()->maxLength(), 64);
    EXPECT_GE(w.minimumSize().width(), 1024);
    EXPECT_GE(w.minimumSize().height(), 768);
    qvp3ui::testing::saveScreenshot(w, "main_window");
}

}  // namespace
}  // namespace qvp3
