#include <gtest/gtest.h>

#include <QCursor>

#include "../src/pages/page_slf.h"
#include "qvp3_steps/page_events.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_table.h"
#include "voice_page_support.h"

namespace qvp3 {
namespace {

using testing::VoicePageFixture;

struct SlfPage {
    SlfPage() {
        f.show(kStepSlf, -1);
        frame.show();
        frame.grab();  // the page paints, which places its items
    }
    SlfData& data() { return *stpData<SlfData>(f.page(kStepSlf)); }
    // The pointer moves to a point of the page, or the button goes down there.
    int pointer(QPoint at, platform::MessageId message = WM_MOUSEMOVE) {
        QCursor::setPos(frame.mapToGlobal(at));
        StepPage& page = f.page(kStepSlf);
        return page.onSetCursor(page, static_cast<int>(message));
    }
    std::vector<int> commandsAfterEvents() {
        qvp3ui::testing::processEventsFor(20);
        return f.host.commands;
    }

    VoicePageFixture f;
    testing::PageWindow frame{f.page(kStepSlf), QSize(900, 620), testing::PageWindow::Messages::None};
};

TEST(StartPage, TheItemsLightUpUnderThePointerAndPostTheirCommands) {
    SlfPage t;
    const QRect first = t.data().item1Rect;
    const QRect second = t.data().item2Rect;
    ASSERT_FALSE(first.isEmpty());
    EXPECT_EQ(second, first.translated(0, 40));
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(t.frame, "page_slf_start").empty());

    struct Case {
        const char* where;
        QPoint at;
        int result, hover;
    } cases[] = {
        {"the first item", first.center(), 1, kSlfHoverFirst},
        {"further along the first item", first.center() + QPoint(40, 0), 1, kSlfHoverFirst},
        {"the second item", second.center(), 1, kSlfHoverSecond},
        {"empty space", second.bottomLeft() + QPoint(0, 200), 0, kSlfHoverNone},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(t.pointer(c.at), c.result) << c.where;
        EXPECT_EQ(t.data().hover, c.hover) << c.where;
    }
    EXPECT_EQ(t.pointer({5, 5}, WM_LBUTTONDOWN), 0) << "a click beside the items does nothing";
    EXPECT_TRUE(t.commandsAfterEvents().empty());

    t.pointer(first.center());
    EXPECT_EQ(t.pointer(first.center(), WM_LBUTTONDOWN), 1);
    EXPECT_EQ(t.frame.cursor().shape(), Qt::PointingHandCursor);
    t.pointer(second.center());
    EXPECT_EQ(t.pointer(second.center(), WM_LBUTTONDOWN), 1);
    EXPECT_EQ(t.commandsAfterEvents(), (std::vector<int>{kSlfAddFilesCommand, kSlfFolderCommand}));
}

TEST(StartPage, WhileAFilePlaysTheItemsKeepTheArrowAndClicksDoNothing) {
    SlfPage t;
    t.f.add("band.mid", testing::bandMidi());
    t.f.project.entries[0].entryState = kEntryPlaying;
    stpShowPage(t.f.page(kStepSlf), true);
    EXPECT_TRUE(t.data().disabled);
    const QPoint first = t.data().item1Rect.center();
    EXPECT_EQ(t.pointer(first), 1) << "the page keeps the pointer to itself";
    EXPECT_EQ(t.data().hover, kSlfHoverNone);
    EXPECT_EQ(t.pointer(first, WM_LBUTTONDOWN), 1);
    EXPECT_TRUE(t.commandsAfterEvents().empty());
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(t.frame, "page_slf_disabled").empty());

    t.f.project.entries[0].entryState = 0;
    stpShowPage(t.f.page(kStepSlf), true);
    EXPECT_EQ(t.pointer(first), 1);
    EXPECT_EQ(t.data().hover, kSlfHoverFirst);
}

}  // namespace
}  // namespace qvp3
