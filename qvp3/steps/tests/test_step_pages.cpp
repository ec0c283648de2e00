#include <gtest/gtest.h>

#include "qvp3_steps/step_cursor.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_table.h"
#include "step_test_support.h"

namespace qvp3 {
namespace {

using testing::StepFixture;

TEST(StepPageRecords, EveryStepGetsItsBlockProfilesAndFrameworkSlots) {
    struct Row {
        int dataNum;
        bool profiles;
        bool listProfiles;   // stpFillProfileList, else stpNoProfileList
        bool focusFirst, paintNothing, toggleSlot, runDisabledSlot, run, stopWorker;
    } rows[kStepCount] = {
        // dataNum profiles list  focus  paint0 toggle runDis run    stop
        {0, false, false, false, false, false, false, false, true},      // SLF (paints itself)
        {127, true, true, true, false, false, false, false, true},       // SLS (paints itself)
        {2, true, true, true, false, false, false, false, true},         // TRP (paints itself)
        {127, true, true, true, false, false, false, false, true},      // CHP
        {127, true, true, true, true, false, false, false, true},       // VOL
        {127, true, true, true, false, false, false, false, true},      // PAN
        {127, true, true, false, false, true, false, false, true},      // PRC
        {3, true, true, false, false, true, false, false, true},        // TMP
        {72, true, true, false, false, true, false, false, true},       // TPP
        {8, true, true, false, false, false, false, false, true},       // DYN
        {127, true, true, false, false, false, false, false, true},     // SHV
        {8, true, true, false, false, true, false, false, true},        // MET
        {13, true, true, false, false, true, false, false, true},       // EIN
        {0, false, false, false, false, true, true, true, true},        // MDC
        {4, true, true, false, true, false, false, true, true},         // PWC
        {0, false, false, false, false, true, true, true, true},        // WVC
        {336, true, true, false, false, false, false, true, true},      // BRN
        {0, false, false, false, false, false, false, true, false},     // CLN
    };
    StepFixture f;
    for (int step = 0; step < kStepCount; ++step) {
        const Row& r = rows[step];
        StepPage& page = f.page(step);
        SCOPED_TRACE(std::string(stpCategoryCode(step)));
        EXPECT_EQ(static_cast<int>(page.category), step);
        EXPECT_EQ(page.profileDataNum, r.dataNum);
        EXPECT_EQ(page.usesProfiles, r.profiles);
        ASSERT_NE(page.data, nullptr);
        EXPECT_EQ(stpWorkerSlot(page) != nullptr, step != kStepCln);
        // The profile list: a filled list needs a profile folder, so only its kind shows.
        EXPECT_EQ(page.fillProfileList.target<bool (*)(StepPage&)>() != nullptr &&
                      *page.fillProfileList.target<bool (*)(StepPage&)>() == &stpFillProfileList,
                  r.listProfiles);
        EXPECT_EQ(static_cast<bool>(page.onSetFocus), r.focusFirst);
        // Pages paint with their own handlers; the framework only gives the empty one.
        using PaintFn = void (*)(StepPage&, QPainter&, const QRect&);
        EXPECT_EQ(page.onPaint.target<PaintFn>() != nullptr && *page.onPaint.target<PaintFn>() == &stpPaintNothing,
                  r.paintNothing);
        EXPECT_EQ(static_cast<bool>(page.isToggleDisabled), r.toggleSlot);
        EXPECT_EQ(static_cast<bool>(page.isRunDisabled), r.runDisabledSlot);
        EXPECT_EQ(static_cast<bool>(page.onRun), r.run);
        EXPECT_EQ(static_cast<bool>(page.stopWorker), r.stopWorker);
        EXPECT_TRUE(page.onShow);
        EXPECT_FALSE(page.pending);
        EXPECT_EQ(page.window, nullptr);
    }
    EXPECT_TRUE(stpData<SlsData>(f.page(kStepSls))->rootChecked);
    EXPECT_EQ(stpData<TppData>(f.page(kStepTpp))->tipTempo, -1);
    EXPECT_TRUE(stpData<PwcData>(f.page(kStepPwc))->reopenSetup);
    EXPECT_NE(stpData<MdcData>(f.page(kStepMdc)), nullptr);
    EXPECT_NE(stpData<BrnData>(f.page(kStepBrn)), nullptr);
}

TEST(StepPageRecords, AStepOutsideTheSequenceGetsNothingAndAFreedPageKeepsNothing) {
    StepPage page;
    stpInitPage(page, 18);
    EXPECT_EQ(page.data, nullptr);
    EXPECT_FALSE(page.onShow);
    EXPECT_FALSE(page.fillProfileList);

    stpInitPage(page, kStepPrc);
    page.description = "text";
    page.altDescription = "alternative";
    stpFreePage(page);
    EXPECT_EQ(page.data, nullptr);
    EXPECT_TRUE(page.description.empty());
    EXPECT_TRUE(page.altDescription.empty());
}

TEST(StepPageFramework, ShowingWhileAnEntryPlaysDisablesTheWindowAndTheProfileBar) {
    StepFixture f;
    f.addEntry(EntryKind::Midi).entryState = kEntryPlaying;
    StepPage& page = f.page(kStepTrp);
    bool controls = true;
    page.enableControls = [&](StepPage&, bool enable) { controls = enable; };
    page.onShow = [](StepPage&, bool) { return StepPage::Result{7}; };

    EXPECT_EQ(stpShowPage(page, true), 7);
    EXPECT_FALSE(f.host.fileListsEnabled);
    EXPECT_FALSE(f.host.entryCommandsEnabled);
    EXPECT_FALSE(f.host.projectCommandsEnabled);
    EXPECT_EQ(f.host.profileBarModes, std::vector<int>{kProfileBarDisabled});
    EXPECT_FALSE(controls);

    f.project.entries[0].entryState = 0;
    stpShowPage(page, true);
    EXPECT_TRUE(f.host.fileListsEnabled);
    EXPECT_TRUE(controls);
    // Hiding enables nothing and asks only the page.
    f.host.profileBarModes.clear();
    stpShowPage(page, false);
    EXPECT_TRUE(f.host.profileBarModes.empty());
}

TEST(StepPageFramework, StepsWithoutProfilesShowAnEmptyList) {
    StepFixture f;
    f.host.profiles.profileFolder = "/nonexistent/profiles";
    for (int step : {kStepSlf, kStepMdc, kStepWvc, kStepCln}) {
        f.host.profileBarModes.clear();
        stpEnablePage(f.page(step), true);
        EXPECT_EQ(f.host.profileBarModes, std::vector<int>{kProfileBarEmpty}) << step;
        EXPECT_FALSE(stpPageFillProfileList(f.page(step)));
    }
    StepPage bare;
    EXPECT_FALSE(stpPageFillProfileList(bare));
}

TEST(StepPageFramework, AChangedEntryResetsThePositionOnlyWhenThereIsOne) {
    StepFixture f;
    StepPage& page = f.page(kStepChp);
    std::intptr_t seen = -1;
    page.onPartChanged = [&](StepPage&, std::intptr_t value) {
        seen = value;
        return StepPage::Result{3};
    };
    EXPECT_EQ(stpNotifyPartChanged(page, 9), 3);
    EXPECT_EQ(f.host.positionResets, 0);
    EXPECT_EQ(seen, 9);
    f.addEntry(EntryKind::Midi);
    f.project.currentEntry = 0;
    stpNotifyPartChanged(page, 1);
    EXPECT_EQ(f.host.positionResets, 1);
    EXPECT_EQ(stpNotifyPartChanged(f.page(kStepCln), 1), 0);
}

TEST(StepPageFramework, StatusChecksOfTheFirstSteps) {
    StepFixture f;
    StepStatus status;
    stpSlfGetStatus(f.page(kStepSlf), f.project, status);
    EXPECT_EQ(status.state, -1);
    EXPECT_EQ(status.stringId, kStrNoFiles);
    EXPECT_TRUE(f.page(kStepSlf).pending);

    f.addEntry(EntryKind::TvrXml, {2});
    f.addEntry(EntryKind::TvrXml, {1}).states.setAll(false);
    status = {};
    stpSlfGetStatus(f.page(kStepSlf), f.project, status);
    EXPECT_EQ(status.state, 0);
    EXPECT_FALSE(f.page(kStepSlf).pending);

    status = {};
    f.page(kStepSls).pending = true;
    stpSlsGetStatus(f.page(kStepSls), f.project, status);
    EXPECT_EQ(status.state, -1);
    EXPECT_EQ(status.text, "S328");  // the shell's table has no "%s" to fill
    EXPECT_EQ(f.project.entries[0].pending[kStepSls], 0);
    EXPECT_EQ(f.project.entries[1].pending[kStepSls], 1);
    EXPECT_TRUE(f.page(kStepSls).pending) << "a failing entry leaves the page's flag as it was";

    f.project.entries[1].states.setAll(true);
    status = {};
    stpSlsGetStatus(f.page(kStepSls), f.project, status);
    EXPECT_EQ(status.state, 0);
    EXPECT_FALSE(f.page(kStepSls).pending);

    // The tempo check does nothing while the step is not pending.
    status = {};
    stpTmpGetStatus(f.page(kStepTmp), f.project, status);
    EXPECT_EQ(status.state, 0);
    EXPECT_EQ(status.stringId, 0);
}

TEST(StepCursors, ReachThePagesOfTheProject) {
    StepFixture f;
    struct Case {
        int current, asked, expected;
    } cases[] = {{5, -1, 5}, {-1, -1, 0}, {3, 16, 16}, {3, 18, -1}, {3, -2, -1}};
    for (const Case& c : cases) {
        f.project.currentStep = c.current;
        StepCursor cursor{&f.page(1), 1, nullptr};
        EXPECT_EQ(stpGetPage(cursor, f.project, c.asked), c.expected >= 0) << c.asked;
        EXPECT_EQ(cursor.category, c.expected) << c.asked;
        if (c.expected >= 0) {
            EXPECT_EQ(cursor.page, &f.page(c.expected));
            EXPECT_EQ(cursor.data, f.page(c.expected).data.get());
        } else {
            EXPECT_EQ(cursor.page, nullptr);
        }
    }
    StepCursor cursor;
    EXPECT_TRUE(stpGetBrnPage(cursor, f.project));
    EXPECT_EQ(cursor.category, kStepBrn);
    EXPECT_TRUE(stpGetSlfPage(cursor, f.project));
    EXPECT_EQ(cursor.category, kStepSlf);
}

}  // namespace
}  // namespace qvp3
