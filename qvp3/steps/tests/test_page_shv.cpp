#include <gtest/gtest.h>

#include <QCursor>
#include <QTableView>

#include "platform/files.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_project/profile_file.h"
#include "qvp3_steps/page_events.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui_testing.h"
#include "../src/pages/shv_page.h"
#include "../src/pages/shv_staff_model.h"
#include "../src/pages/vol_profile_slots.h"
#include "vol_page_fixture.h"

namespace qvp3 {
namespace {

using testing::PageStudio;
using testing::PipelineProject;

bool gShift = false;

struct ShvStudio : PageStudio {
    ShvStudio() {
        stpShiftHeld = [] { return gShift; };
        gShift = false;
        EXPECT_EQ(files.open(testing::sampleMidiFile()), 0);
    }
    QTableView& list() { return *qvp3ui::findControl<QTableView>(*windows.at(kStepShv), kShvList); }
    QString value(int row) { return list().model()->index(row, ShvStaffModel::kValueColumn).data().toString(); }
    bool ticked(int row) {
        return list().model()->index(row, ShvStaffModel::kCheckColumn).data(Qt::CheckStateRole).toInt() == Qt::Checked;
    }
    void click(int row, int column, bool right = false) {
        PageNotify event{kShvList, right ? kNmRClick : kNmClick, &list(), (column << 16) | row};
        page(kStepShv).onNotify(page(kStepShv), event);
    }
    void tick(int row, bool on) {
        list().model()->setData(list().model()->index(row, ShvStaffModel::kCheckColumn), on ? Qt::Checked : Qt::Unchecked,
                                Qt::CheckStateRole);
    }
};

TEST(VelocityPage, ClicksStepTheVelocityWithinItsRangeAndWrapAtItsEnds) {
    struct Case {
        int value;
        bool relative, raise, shift;
        int expected;
    } cases[] = {
        {-100, true, false, false, 100},  // a right click at the minimum wraps
        {100, true, true, false, -100},   // a click at the maximum wraps
        {120, false, true, true, 127},    // a step past the end stops there
        {95, true, true, true, 100},
        {-95, true, false, true, -100},
        {0, false, false, false, 127},
        {3, false, false, true, 0},
        {126, false, true, false, 127},
        {127, false, true, false, 0},
        {5, true, false, false, 4},
        {-7, true, true, true, 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(stpShvStepVelocity(c.value, c.relative, c.raise, c.shift), c.expected)
            << c.value << (c.relative ? " relative" : " absolute") << (c.raise ? " +" : " -") << (c.shift ? "10" : "1");
    }
}

TEST(VelocityPage, AMidiFileListsItsStavesAndAClickOnAValueStoresIt) {
    ShvStudio s;
    ProjectEntry& entry = s.current();
    ASSERT_GE(entry.staffVelocity.size(), 2u);
    entry.staffVelocity = {-100, 120};
    entry.staffVelocityRelative = {1, 0};
    s.show(kStepShv);
    ASSERT_TRUE(s.list().isVisibleTo(s.windows.at(kStepShv).get()));
    ASSERT_EQ(s.list().model()->rowCount(), 2);
    EXPECT_TRUE(s.ticked(0));
    EXPECT_FALSE(s.ticked(1));
    EXPECT_EQ(s.list().model()->index(1, ShvStaffModel::kNameColumn).data().toString().toStdString(),
              "2: " + cnvEntryStaveName(entry, 1));
    EXPECT_EQ(s.value(0), "-100");

    s.project().saved = 1;
    s.project().currentStep = kStepShv;
    s.click(0, ShvStaffModel::kValueColumn, true);
    EXPECT_EQ(s.value(0), "100");
    EXPECT_EQ(entry.staffVelocity[0], 100);
    EXPECT_EQ(s.project().saved, 0);
    EXPECT_NE(s.project().dirty & (1u << kStepShv), 0u);

    gShift = true;
    s.click(1, ShvStaffModel::kValueColumn);
    EXPECT_EQ(entry.staffVelocity[1], 127);
    EXPECT_EQ(s.value(1), "127");

    // Only the value column takes clicks.
    s.click(1, ShvStaffModel::kNameColumn);
    EXPECT_EQ(entry.staffVelocity[1], 127);
}

TEST(VelocityPage, SwitchingBetweenRelativeAndAbsoluteTakesTheProjectFilesValues) {
    ShvStudio s;
    ProjectEntry& entry = s.current();
    entry.staffVelocity = {12, 70};
    entry.staffVelocityRelative = {1, 0};
    s.project().filePath = s.files.dir.path() / "Stage.c-1";
    ASSERT_TRUE(prjWriteFile(s.project()));
    entry.staffVelocity = {40, 33};  // changed since the save
    s.show(kStepShv);

    s.tick(0, false);  // stored relative: absolute starts at 90
    EXPECT_EQ(s.value(0), "90");
    EXPECT_EQ(entry.staffVelocityRelative[0], 0);
    EXPECT_EQ(entry.staffVelocity[0], 90);
    s.tick(0, true);  // back to the stored relative value
    EXPECT_EQ(s.value(0), "12");

    s.tick(1, true);  // stored absolute: relative starts at 0
    EXPECT_EQ(s.value(1), "0");
    EXPECT_EQ(entry.staffVelocityRelative[1], 1);
    s.tick(1, false);  // back to the stored absolute value
    EXPECT_EQ(s.value(1), "70");
    EXPECT_EQ(s.project().saved, 0);

    // Filling the list never counts as the user's tick.
    s.project().saved = 1;
    s.page(kStepShv).onPartChanged(s.page(kStepShv), 0);
    EXPECT_EQ(s.project().saved, 1);
}

TEST(VelocityPage, VelocitiesSurviveSavingAndReopeningTheProject) {
    ShvStudio s;
    s.current().staffVelocity = {0, 0};
    s.current().staffVelocityRelative = {1, 0};
    s.show(kStepShv);
    for (int i = 0; i < 3; ++i) s.click(0, ShvStaffModel::kValueColumn, true);
    s.tick(1, true);
    const std::filesystem::path file = s.files.dir.path() / "Stage.c-1";
    ASSERT_TRUE(prjWriteFile(s.project(), &file));

    PipelineProject reopened;
    std::vector<std::int32_t> codes;
    std::vector<std::string> names;
    ASSERT_TRUE(prjReadFile(reopened.project, file, false, codes, names));
    ASSERT_EQ(reopened.project.fileNum(), 1);
    EXPECT_EQ(reopened.project.entries[0].staffVelocity[0], -3);
    EXPECT_EQ(reopened.project.entries[0].staffVelocityRelative[1], 1);
}

TEST(VelocityPage, AProfileGivesAnotherEntryTheSameVelocities) {
    ShvStudio s;
    ASSERT_EQ(s.files.open(testing::sampleMidiFile()), 0);
    s.project().currentEntry = 0;
    s.project().entries[0].staffVelocity = {-20, 64};
    s.project().entries[0].staffVelocityRelative = {1, 0};
    s.show(kStepShv);
    StepPage& page = s.page(kStepShv);
    ASSERT_TRUE(prfWriteNewProfile(&s.project().entries[0], s.host.profiles, "soft left", page, s.files.shell));
    const auto profiles = platform::listFiles(s.host.profiles.profileFolder, kProfilePattern);
    ASSERT_EQ(profiles.size(), 1u);

    s.project().currentEntry = 1;
    ASSERT_TRUE(stpLoadProfile(s.host.profiles, page, profiles[0], page.profileDataNum, kStepShv, nullptr));
    s.files.pages.stpRefreshAfterProfile(page, nullptr);
    EXPECT_EQ(s.value(0), "-20");
    EXPECT_EQ(s.value(1), "64");
    EXPECT_TRUE(s.ticked(0));
    EXPECT_FALSE(s.ticked(1));
}

TEST(VelocityPage, AScoreShowsNoListAndItsLinkOpensTheInterpretationStep) {
    ShvStudio s;
    ProjectEntry score;
    score.Filename = "/music/piece.tvrx";
    score.kind = EntryKind::TvrXml;
    score.voiceCounts = {1};
    score.voices.resize(1);
    score.states.create(1, score.voiceCounts);
    score.project = &s.project();
    s.project().entries.push_back(std::move(score));
    s.project().currentEntry = 1;
    QWidget& window = s.show(kStepShv);
    EXPECT_FALSE(s.list().isVisibleTo(&window));

    const auto* block = stpData<StepDataBlock>(s.page(kStepShv));
    QCursor::setPos(window.mapToGlobal(QPoint(block->iconX + 16, block->iconY + 16)));
    StepPage& page = s.page(kStepShv);
    EXPECT_EQ(page.onSetCursor(page, static_cast<int>(WM_MOUSEMOVE)), 1);
    EXPECT_EQ(page.onSetCursor(page, static_cast<int>(WM_LBUTTONDOWN)), 1);
    EXPECT_EQ(s.host.commands, std::vector<int>{40089 + kStepDyn});

    QCursor::setPos(window.mapToGlobal(QPoint(2, 2)));
    EXPECT_EQ(page.onSetCursor(page, static_cast<int>(WM_MOUSEMOVE)), 0);
    EXPECT_EQ(page.onSetCursor(page, static_cast<int>(WM_LBUTTONDOWN)), 0);
    EXPECT_EQ(s.host.commands.size(), 1u);

    // Back on the MIDI file the link is gone.
    s.project().currentEntry = 0;
    page.onPartChanged(page, 0);
    EXPECT_TRUE(s.list().isVisibleTo(&window));
    EXPECT_EQ(page.onSetCursor(page, static_cast<int>(WM_LBUTTONDOWN)), 1);
    EXPECT_EQ(s.host.commands.size(), 1u);
}

TEST(VelocityPage, Screenshot) {
    ShvStudio s;
    s.useEnglish();
    s.current().staffVelocity = {-12, 96};
    s.current().staffVelocityRelative = {1, 0};
    QWidget& window = s.show(kStepShv);
    qvp3ui::testing::processEventsFor(20);
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(window, "page_SHV").empty());
}

}  // namespace
}  // namespace qvp3
