#include <gtest/gtest.h>

#include <QStandardItemModel>
#include <QTreeView>

#include "../src/pages/page_sls.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/controls.h"
#include "voice_page_support.h"

namespace qvp3 {
namespace {

using scorecore::kStateOff;
using scorecore::kStateOn;
using testing::VoicePageFixture;

// A score whose third staff has no voices (a staff of text only).
testing::ShapePipeline::Shape scoreWithEmptyStaff() {
    return {EntryKind::TvrXml, {2, 1, 0, 1}, {"Soprano", "Alto", "Text", "Organ"}, {}};
}

struct SlsPage {
    SlsPage() {
        f.add("choir.tvrx", scoreWithEmptyStaff());
        f.add("band.mid", testing::bandMidi());
        f.add("choir2.tvrx", scoreWithEmptyStaff());
    }
    QTreeView& tree() { return *qvp3ui::findControl<QTreeView>(frame, kSlsTree); }
    QStandardItemModel& model() { return *qobject_cast<QStandardItemModel*>(tree().model()); }
    QStandardItem& root() { return *model().item(0); }
    QStandardItem& stave(int s) { return *root().child(s); }
    ProjectEntry& entry(int i) { return f.project.entries[static_cast<std::size_t>(i)]; }
    static void check(QStandardItem& item, bool on) { item.setCheckState(on ? Qt::Checked : Qt::Unchecked); }
    static bool checked(QStandardItem& item) { return item.checkState() == Qt::Checked; }

    VoicePageFixture f;
    testing::PageWindow frame{f.page(kStepSls), QSize(900, 620), testing::PageWindow::Messages::None};
};

TEST(StavesPage, TheTreeShowsTheFileItsStavesAndTheirVoices) {
    SlsPage t;
    t.f.show(kStepSls, 0);
    EXPECT_EQ(t.root().text(), "Score");
    ASSERT_EQ(t.root().rowCount(), 4);
    EXPECT_EQ(t.stave(0).text(), "Soprano");
    ASSERT_EQ(t.stave(0).rowCount(), 2);
    EXPECT_EQ(t.stave(0).child(1)->text(), "Voice 2");
    EXPECT_EQ(t.stave(1).rowCount(), 0) << "one voice: no voice items";
    EXPECT_EQ(t.stave(2).text(), "Text (no voices)");
    EXPECT_FALSE(SlsPage::checked(t.stave(2)));
    EXPECT_TRUE(SlsPage::checked(t.stave(3)));
    EXPECT_FALSE(t.root().isEditable()) << "the file's item is never renamed";
    EXPECT_FALSE(t.stave(0).isEditable()) << "a score's staves keep their names";

    t.f.show(kStepSls, 1);
    EXPECT_EQ(t.root().text(), "Track");
    EXPECT_EQ(t.stave(2).text(), "Drums");
    EXPECT_TRUE(t.stave(2).isEditable());
}

TEST(StavesPage, MarksSwitchStavesAndVoices) {
    SlsPage t;
    t.f.show(kStepSls, 0);
    t.f.project.dirty = 0;
    ProjectEntry& e = t.entry(0);

    // The only voice of a staff off: the staff goes off.
    SlsPage::check(t.stave(1), false);
    EXPECT_EQ(e.states.getStaffOnOff(1), kStateOff);
    EXPECT_EQ(e.states.getVoiceOnOff(1, 0), kStateOff);
    EXPECT_TRUE(e.voiceRecord(1, 0)->muted());
    EXPECT_EQ(t.f.project.dirty, 1u << kStepSls);

    // A staff of several voices off: its voices follow.
    SlsPage::check(t.stave(0), false);
    EXPECT_EQ(e.states.getStaffOnOff(0), kStateOff);
    EXPECT_FALSE(SlsPage::checked(*t.stave(0).child(0)));
    EXPECT_TRUE(e.voiceRecord(0, 1)->muted());

    // One voice of that staff on again: the staff plays that voice only.
    SlsPage::check(*t.stave(0).child(1), true);
    EXPECT_EQ(e.states.getStaffOnOff(0), kStateOn);
    EXPECT_TRUE(SlsPage::checked(t.stave(0)));
    EXPECT_EQ(e.states.getVoiceOnOff(0, 1), kStateOn);
    EXPECT_EQ(e.states.getVoiceOnOff(0, 0), kStateOff) << "the voice left off stays off";
    EXPECT_FALSE(e.voiceRecord(0, 1)->muted());

    // A staff without voices takes no mark.
    SlsPage::check(t.stave(2), true);
    EXPECT_FALSE(SlsPage::checked(t.stave(2)));
    EXPECT_EQ(e.states.getStaffOnOff(2), kStateOff);

    // A change back and forth ends where it began: no edit.
    t.f.project.dirty = 0;
    SlsPage::check(t.stave(2), false);
    EXPECT_EQ(t.f.project.dirty, 0u);
}

TEST(StavesPage, TheFilesMarkSwitchesEverythingAndTheStepThenReportsIt) {
    SlsPage t;
    t.f.show(kStepSls, 0);
    t.f.project.dirty = 0;
    SlsPage::check(t.root(), false);
    EXPECT_FALSE(cnvEntryAnyStaveOn(t.entry(0)));
    for (int s = 0; s < 4; ++s) EXPECT_FALSE(SlsPage::checked(t.stave(s))) << s;
    EXPECT_EQ(t.f.project.dirty, 1u << kStepSls);
    StepStatus status;
    t.f.page(kStepSls).getStatus(t.f.page(kStepSls), t.f.project, status);
    EXPECT_EQ(status.state, -1);
    EXPECT_EQ(status.show, 1);

    SlsPage::check(t.root(), true);
    EXPECT_TRUE(t.entry(0).states.isVoiceOn(0, 1));
    EXPECT_TRUE(t.entry(0).states.isStaffOn(3));
    SlsPage::check(t.stave(0), false);
    SlsPage::check(t.stave(1), false);
    SlsPage::check(t.stave(3), false);
    EXPECT_FALSE(SlsPage::checked(t.root())) << "the file's mark follows its staves";
    SlsPage::check(t.stave(3), true);
    EXPECT_TRUE(SlsPage::checked(t.root()));
}

TEST(StavesPage, TracksOfAMidiFileAreRenamedInPlace) {
    SlsPage t;
    t.f.show(kStepSls, 1);
    t.f.project.dirty = 0;
    t.stave(0).setText("Grand piano");
    EXPECT_EQ(t.entry(1).trackNames[1], "Grand piano");
    EXPECT_EQ(t.f.project.dirty, 1u << kStepSls);
    t.stave(1).setText("  ");
    EXPECT_EQ(t.entry(1).trackNames[2], "Bass") << "an empty name is refused";
    EXPECT_EQ(t.stave(1).text(), "Bass");
}

TEST(StavesPage, TheSettingsReachTheProjectFileAndTravelByProfile) {
    SlsPage t;
    t.f.show(kStepSls, 0);
    SlsPage::check(*t.stave(0).child(0), false);
    SlsPage::check(t.stave(3), false);

    const auto reopened = t.f.saveAndReopen();
    const ProjectEntry& again = reopened->entries[0];
    EXPECT_EQ(again.states.getVoiceOnOff(0, 0), kStateOff);
    EXPECT_EQ(again.states.getVoiceOnOff(0, 1), kStateOn);
    EXPECT_EQ(again.states.getStaffOnOff(3), kStateOff);
    EXPECT_EQ(again.states.getStaffOnOff(1), kStateOn);

    ASSERT_TRUE(t.f.profileFromTo(t.f.page(kStepSls), t.entry(0), t.entry(2)));
    t.f.show(kStepSls, 2);
    EXPECT_FALSE(SlsPage::checked(*t.stave(0).child(0)));
    EXPECT_TRUE(SlsPage::checked(*t.stave(0).child(1)));
    EXPECT_FALSE(SlsPage::checked(t.stave(3)));
    EXPECT_TRUE(SlsPage::checked(t.stave(1)));
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(t.frame, "page_sls_score").empty());
    t.f.show(kStepSls, 1);
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(t.frame, "page_sls_midi").empty());
}

TEST(StavesPage, TheSampleProjectsMidiFileShowsItsTracks) {
    testing::SampleMidiFixture f;
    ASSERT_EQ(f.opened, 0);
    testing::PageWindow frame(f.page(kStepSls), QSize(900, 620), testing::PageWindow::Messages::None);
    f.show(kStepSls);
    auto& model = *qobject_cast<QStandardItemModel*>(qvp3ui::findControl<QTreeView>(frame, kSlsTree)->model());
    const ProjectEntry& entry = f.project.entries[0];
    ASSERT_EQ(model.item(0)->rowCount(), entry.trackCount - 1);
    EXPECT_EQ(model.item(0)->child(0)->text().toStdString(), entry.trackNames[1]);
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(frame, "page_sls_sample_midi").empty());
}

}  // namespace
}  // namespace qvp3
