// The texts of the window: with the "S<N>" table every control shows the
// string it is given; with the English table none shows an empty text or a
// bare number. Screenshots of both.
#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeView>

#include <gtest/gtest.h>

#include "qvp3_shell/main_window.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/string_ids.h"
#include "qvp3_ui_testing.h"
#include "shell_fixture.h"

namespace qvp3 {
namespace {

using qvp3ui::findControl;

QString s(int id) { return QStringLiteral("S%1").arg(id); }

TEST_F(ShellFixture, EveryControlShowsItsStringOfTheTestTable) {
    makeApp(-1);
    MainWindow& w = window();
    const struct {
        int control;
        int string;
    } labels[] = {
        {ctl::kListLabel, qvp3ui::kStrListCaption},        {ctl::kTransportLabel, qvp3ui::kStrTransportCaption},
        {ctl::kProfileLabelA, qvp3ui::kStrProfileCaption}, {ctl::kProfileLabelB, qvp3ui::kStrProfileStep},
    };
    for (const auto& l : labels) EXPECT_EQ(findControl<QLabel>(w, l.control)->text(), s(l.string)) << l.control;
    EXPECT_EQ(findControl<QCheckBox>(w, ctl::kAddPathCheck)->text(), s(qvp3ui::kStrAddPath));
    for (int i = 0; i < kSubmenuCount; ++i)
        EXPECT_EQ(w.submenu(static_cast<Submenu>(i))->title(), s(qvp3ui::kSubmenuTitleBase + i));
    for (const CommandRow& row : commandTable()) {
        QAction* a = w.action(row.id);
        const int text = row.id == cmd::kUpdateSettings ? 472 : qvp3ui::kMenuTextBase + row.id;
        EXPECT_EQ(a->text(), s(text)) << row.id;
        if (row.tooltipId != 0) {
            EXPECT_EQ(a->toolTip(), s(row.tooltipId)) << row.id;
        }
    }
    // The tooltips of the toolbar buttons the Part names.
    const std::pair<int, int> tips[] = {{16, 293},    {17, 294},    {18, 295},    {296, 60211}, {40004, 134},
                                        {40009, 137}, {40019, 224}, {40020, 133}, {40021, 138}, {40022, 223},
                                        {40023, 136}, {40026, 135}, {40029, 259}, {40030, 266}, {40031, 269},
                                        {40034, 270}, {40035, 271}, {40084, 123}, {40087, 454}, {40088, 32}};
    for (auto [command, tip] : tips) EXPECT_EQ(w.action(command)->toolTip(), s(tip)) << command;
    for (int step = 0; step < 18; ++step) EXPECT_EQ(w.stepTab()->tabText(step), s(qvp3ui::kStrStepTabBase + step));
    qvp3ui::testing::saveScreenshot(w, "main_window_test_table");
}

// A text a musician can read: not empty, not a bare number or string id.
bool readable(const QString& text) {
    static const QRegularExpression bare("^[&S]?\\d+$");
    const QString t = QString(text).remove('&').trimmed();
    return !t.isEmpty() && !bare.match(t).hasMatch();
}

TEST_F(ShellFixture, EnglishShowsNoEmptyTextOrNumberOnAnyControl) {
    for (int language : {6, 1}) {  // English, then German
        makeApp(language);
        MainWindow& w = window();
        w.show();
        for (QLabel* label : w.findChildren<QLabel*>()) {
            if (label->isVisible()) {
                EXPECT_TRUE(readable(label->text())) << label->objectName().toStdString();
            }
        }
        for (QAbstractButton* button : w.findChildren<QAbstractButton*>()) {
            // Our own buttons (Qt's inner ones, such as the tab bar's arrows, have no id).
            if (!button->isVisible() || qvp3ui::controlId(*button) < 0) continue;
            EXPECT_TRUE(readable(button->text()) || readable(button->toolTip())) << button->objectName().toStdString();
        }
        for (int i = 0; i < kSubmenuCount; ++i) {
            QMenu* menu = w.submenu(static_cast<Submenu>(i));
            EXPECT_TRUE(readable(menu->title()));
            for (QAction* a : menu->actions()) {
                if (!a->isSeparator()) {
                    EXPECT_TRUE(readable(a->text())) << a->objectName().toStdString();
                }
            }
        }
        for (QToolBar* bar : w.findChildren<QToolBar*>()) {
            for (QAction* a : bar->actions()) {
                if (!a->isSeparator()) {
                    EXPECT_TRUE(readable(a->toolTip())) << a->objectName().toStdString();
                }
            }
        }
        for (int step = 0; step < 18; ++step) EXPECT_TRUE(readable(w.stepTab()->tabText(step)));
        qvp3ui::testing::saveScreenshot(w, language == 6 ? "main_window_english" : "main_window_german");
    }
}

}  // namespace
}  // namespace qvp3
