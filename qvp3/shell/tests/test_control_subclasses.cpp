// Controls that do more than their kind: the scrolling panel, transport
// buttons held as keys, buttons that repeat while held, number edits that
// select their row, page backgrounds; and the combo-box and list helpers.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTest>
#include <QTreeView>

#include <vector>

#include "qvp3_shell/control_subclasses.h"
#include "qvp3_shell/list_helpers.h"
#include "qvp3_shell/scroll_panel.h"
#include "qvp3_ui/ui_utils.h"
#include "qvp3_ui_testing.h"

namespace qvp3 {
namespace {

TEST(ScrollPanel, ScrollsItsContentWithinTheRangeAndByPagesThatKeepALineInSight) {
    ScrollPanel panel;
    panel.resize(300, 200);
    auto* content = new QWidget;
    content->resize(900, 700);
    content->setStyleSheet("background: rgb(216,177,134)");
    panel.setContent(content);
    panel.show();
    QScrollBar& bar = *panel.verticalScrollBar();
    const int client = panel.viewport()->height();
    const int last = 700 - client;
    ASSERT_EQ(bar.maximum(), last);
    EXPECT_EQ(bar.pageStep(), client - 1);

    struct Step {
        QAbstractSlider::SliderAction action;
        int expected;
    };
    for (const Step& s : {Step{QAbstractSlider::SliderSingleStepAdd, 1},
                          Step{QAbstractSlider::SliderPageStepAdd, client},
                          Step{QAbstractSlider::SliderSingleStepSub, client - 1},
                          Step{QAbstractSlider::SliderToMaximum, last},
                          // A page down on the last page stays there.
                          Step{QAbstractSlider::SliderPageStepAdd, last}, Step{QAbstractSlider::SliderToMinimum, 0},
                          Step{QAbstractSlider::SliderPageStepSub, 0}}) {
        bar.triggerAction(s.action);
        EXPECT_EQ(bar.value(), s.expected) << s.action;
        EXPECT_EQ(content->pos().y(), -s.expected);
    }
    // The content keeps its size; once it fits, there is nothing to scroll.
    panel.horizontalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(content->pos().x(), -(900 - panel.viewport()->width()));
    EXPECT_EQ(content->size(), QSize(900, 700));
    qvp3ui::testing::saveScreenshot(panel, "scroll_panel");
    content->resize(100, 100);
    EXPECT_EQ(bar.maximum(), 0);
    EXPECT_EQ(content->pos(), QPoint(0, 0));
}

TEST(TransportKeyButtons, HoldingAButtonIsHoldingItsKeyWhileTheProjectHasFiles) {
    platform::RecordingMessageTarget target;
    QWidget window;
    bool files = true;
    TransportKeyButtons keys(target, [&files] { return files; });
    QPushButton back(&window);
    QPushButton forward(&window);
    int clicks = 0;
    QObject::connect(&back, &QPushButton::clicked, [&clicks] { ++clicks; });
    keys.attach(back, Qt::Key_F5);
    keys.attach(forward, Qt::Key_F7);
    window.show();

    QTest::mousePress(&back, Qt::LeftButton);
    QTest::mouseRelease(&back, Qt::LeftButton);
    back.setFocus();
    QTest::keyPress(&forward, Qt::Key_Space);
    QTest::keyRelease(&forward, Qt::Key_Space);
    QTest::mouseClick(&forward, Qt::RightButton);
    using M = std::pair<platform::MessageId, platform::WParam>;
    std::vector<M> seen;
    for (const platform::RecordedMessage& m : target.messages()) {
        EXPECT_EQ(m.lParam, 1);
        seen.emplace_back(m.msg, m.wParam);
    }
    EXPECT_EQ(seen, (std::vector<M>{{WM_KEYDOWN, Qt::Key_F5}, {WM_KEYUP, Qt::Key_F5},
                                    {WM_KEYDOWN, Qt::Key_F7}, {WM_KEYUP, Qt::Key_F7}}));
    EXPECT_EQ(clicks, 1);  // the button's own work is done as well

    // Without files the buttons are plain buttons.
    files = false;
    QTest::mouseClick(&back, Qt::LeftButton);
    EXPECT_EQ(target.count(), 4u);
    EXPECT_EQ(clicks, 2);
}

TEST(HoldRepeatButton, StepsWhileHeldAndStopsAtTheEndOfTheRange) {
    HoldRepeatButton button;
    button.setRepeatInterval(5);
    int value = 0;
    int maximum = 4;
    button.setStep([&value, &maximum] {
        if (value >= maximum) return false;
        ++value;
        return value < maximum;
    });
    std::vector<std::string> events;
    QObject::connect(&button, &HoldRepeatButton::holdStarted, [&events] { events.push_back("start"); });
    QObject::connect(&button, &HoldRepeatButton::holdEnded, [&events] { events.push_back("end"); });
    button.show();

    QTest::mousePress(&button, Qt::LeftButton);
    qvp3ui::testing::processEventsFor(100);
    EXPECT_EQ(value, 4);
    EXPECT_FALSE(button.repeating());
    QTest::mouseRelease(&button, Qt::LeftButton);
    EXPECT_EQ(events, (std::vector<std::string>{"start", "end"}));

    // At the maximum the first step ends the repeat.
    QTest::mousePress(&button, Qt::LeftButton);
    EXPECT_FALSE(button.repeating());
    QTest::mouseRelease(&button, Qt::LeftButton);
    EXPECT_EQ(value, 4);

    // Released early, the steps stop where they are.
    maximum = 1000;
    QTest::mousePress(&button, Qt::LeftButton);
    EXPECT_TRUE(button.repeating());
    QTest::mouseRelease(&button, Qt::LeftButton);
    const int released = value;
    qvp3ui::testing::processEventsFor(30);
    EXPECT_EQ(value, released);

    // Without files it is a plain button.
    button.setActiveTest([] { return false; });
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(value, released);
}

TEST(NumberEditRows, AnEditTakingTheFocusSelectsItsRowAlone) {
    QWidget page;
    QStandardItemModel model(5, 1);
    QTreeView list(&page);
    list.setModel(&model);
    list.setSelectionMode(QAbstractItemView::ExtendedSelection);
    QLineEdit first(&page);
    QLineEdit edit(&page);
    NumberEditRows rows(list, [] { return true; });
    rows.attach(edit, 3);
    page.show();
    page.activateWindow();
    list.selectionModel()->select(model.index(0, 0), QItemSelectionModel::Select);
    list.selectionModel()->select(model.index(1, 0), QItemSelectionModel::Select);

    first.setFocus();
    edit.setFocus();
    qvp3ui::testing::processEventsFor(10);
    ASSERT_TRUE(edit.hasFocus());
    EXPECT_EQ(edit.property(kNumberRowProperty).toInt(), 3);
    const QModelIndexList selected = list.selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.first().row(), 3);
    EXPECT_EQ(list.currentIndex().row(), 3);
}

TEST(PageBackground, PaintsItsBrushOnlyWhileItsPageIsShown) {
    QWidget holder;
    holder.setStyleSheet("background: white");
    holder.resize(40, 40);
    PageBackground background(&holder);
    background.resize(40, 40);
    background.setBrush(QColor(0x86, 0xB1, 0xD8));
    bool current = true;
    background.setCurrentTest([&current] { return current; });
    holder.show();
    EXPECT_EQ(holder.grab().toImage().pixelColor(20, 20), QColor(0x86, 0xB1, 0xD8));
    current = false;
    background.update();
    EXPECT_EQ(holder.grab().toImage().pixelColor(20, 20), QColor(Qt::white));
}

TEST(ListHelpers, ItemsCarryTheirNumbersAndAreFoundByText) {
    QComboBox combo;
    const QIcon icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    qvp3ui::scComboExInsertItem(combo, -1, "Strings", icon, 7);
    combo.insertItem(0, "Brass");  // an item without a number
    qvp3ui::scComboExInsertItem(combo, -1, "Winds", {}, 0);
    struct Case {
        int index;
        std::int64_t data;
    };
    for (const Case& c : {Case{0, -1}, Case{1, 7}, Case{2, 0}, Case{3, -1}, Case{-1, -1}}) {
        EXPECT_EQ(scComboExGetItemData(combo, c.index), c.data) << c.index;
    }
    EXPECT_TRUE(scComboExSetItem(combo, 0, "Horns", &icon, 12));
    EXPECT_EQ(combo.itemText(0), "Horns");
    EXPECT_EQ(scComboExGetItemData(combo, 0), 12);
    EXPECT_FALSE(combo.itemIcon(0).isNull());
    EXPECT_FALSE(scComboExSetItem(combo, 3, "x", nullptr, 1));

    QStandardItemModel list;
    for (const char* text : {"Allegro.mid", "Adagio.xml", "allegretto.tvr"}) list.appendRow(new QStandardItem(text));
    list.setData(list.index(1, 0), 42, kItemDataRole);
    EXPECT_EQ(scListViewGetItemData(list, 1), 42);
    EXPECT_EQ(scListViewGetItemData(list, 0), -1);
    EXPECT_EQ(scListViewGetItemData(list, -1), -1);
    EXPECT_EQ(scListViewGetItemData(list, 3), -1);
    struct Find {
        const char* text;
        bool partial;
        int row;
    };
    for (const Find& f : {Find{"adagio.XML", false, 1}, Find{"Adagio", false, -1}, Find{"Adagio", true, 1},
                          Find{"allegr", true, 0}, Find{"Allegretto.tvr", false, 2}, Find{"Largo", true, -1}}) {
        EXPECT_EQ(scListViewFindItem(list, f.text, f.partial), f.row) << f.text;
    }
}

}  // namespace
}  // namespace qvp3
