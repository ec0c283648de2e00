#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include "../src/pages/page_trp.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/controls.h"
#include "voice_page_support.h"

namespace qvp3 {
namespace {

using testing::VoicePageFixture;

struct TrpPage {
    VoicePageFixture f;
    testing::PageWindow frame{f.page(kStepTrp), QSize(900, 620), testing::PageWindow::Messages::None};
    QSpinBox& value() { return *qvp3ui::findControl<QSpinBox>(frame, kTrpUpDown); }
    QLabel& caption() { return *qvp3ui::findControl<QLabel>(frame, kTrpCaption); }
    QCheckBox& percussion() { return *qvp3ui::findControl<QCheckBox>(frame, kTrpPercussionBox); }
};

TEST(TransposePage, TheValueStaysWithinAnOctaveAndTheCaptionNamesTheDirection) {
    TrpPage t;
    ProjectEntry& score = t.f.add("quartet.tvrx", testing::quartetScore());
    t.f.show(kStepTrp, 0);
    t.f.project.saved = 1;
    t.f.project.dirty = 0;
    ASSERT_NE(qvp3ui::findControl<QLineEdit>(t.frame, kTrpEdit), nullptr);
    struct Case {
        int typed;
        int kept;
        const char* caption;
    } cases[] = {{-3, -3, "semitones lower"}, {0, 0, "semitones (original key)"}, {5, 5, "semitones higher"},
                 {12, 12, "semitones higher"}, {13, 12, "semitones higher"}, {-40, -12, "semitones lower"}};
    for (const Case& c : cases) {
        t.value().setValue(c.typed);
        EXPECT_EQ(stpTrpTransposition(score), c.kept) << c.typed;
        EXPECT_EQ(t.value().value(), c.kept) << c.typed;
        EXPECT_EQ(t.caption().text().toStdString(), c.caption) << c.typed;
    }
    for (const VoicePlayRecord& voice : score.voices) EXPECT_EQ(voice.transposition, -12) << "every voice moves";
    EXPECT_EQ(t.f.project.dirty, 1u << kStepTrp);
    EXPECT_EQ(t.f.project.saved, 0);
    EXPECT_EQ(t.value().text(), "-12");

    // The arrows step it too, and stop at the top.
    t.value().setValue(11);
    t.value().stepUp();
    t.value().stepUp();
    EXPECT_EQ(stpTrpTransposition(score), 12);
    EXPECT_EQ(t.value().text(), "+12");
}

TEST(TransposePage, PercussionCanOnlyBeChosenForAMidiFile) {
    TrpPage t;
    t.f.add("quartet.tvrx", testing::quartetScore());
    t.f.add("band.mid", testing::bandMidi());
    ProjectEntry& midi = t.f.project.entries[1];
    t.f.project.entries[0].TransposePercussion = 1;
    t.f.show(kStepTrp, 0);
    EXPECT_FALSE(t.percussion().isEnabled()) << "a score's percussion is never transposed here";
    EXPECT_TRUE(t.percussion().isChecked()) << "but the flag stays shown";

    t.f.show(kStepTrp, 1);
    ASSERT_TRUE(t.percussion().isEnabled());
    t.f.project.dirty = 0;
    t.percussion().click();
    EXPECT_EQ(midi.TransposePercussion, 1);
    EXPECT_TRUE(t.percussion().isChecked());
    EXPECT_EQ(t.f.project.dirty, 1u << kStepTrp);
    t.percussion().click();
    EXPECT_EQ(midi.TransposePercussion, 0);

    // Without a current entry nothing can be changed and the value reads 0.
    t.f.project.currentEntry = -1;
    stpTrpShowValues(t.f.page(kStepTrp));
    EXPECT_FALSE(t.value().isEnabled());
    EXPECT_FALSE(t.percussion().isEnabled());
    EXPECT_EQ(t.value().value(), 0);
    EXPECT_EQ(t.caption().text().toStdString(), "semitones (original key)");
}

TEST(TransposePage, TheSettingsReachTheProjectFileAndTravelByProfile) {
    TrpPage t;
    t.f.add("band.mid", testing::bandMidi());
    t.f.add("other.mid", testing::bandMidi());
    ProjectEntry& other = t.f.project.entries[1];
    t.f.show(kStepTrp, 0);
    t.value().setValue(-5);
    t.percussion().click();

    const auto reopened = t.f.saveAndReopen();
    EXPECT_EQ(stpTrpTransposition(reopened->entries[0]), -5);
    EXPECT_EQ(reopened->entries[0].TransposePercussion, 1);
    EXPECT_EQ(stpTrpTransposition(reopened->entries[1]), 0);

    ASSERT_TRUE(t.f.profileFromTo(t.f.page(kStepTrp), t.f.project.entries[0], other));
    t.f.show(kStepTrp, 1);
    EXPECT_EQ(t.value().value(), -5);
    EXPECT_TRUE(t.percussion().isChecked());
    EXPECT_EQ(other.TransposePercussion, 1);

    // A profile of another step is not this page's.
    EXPECT_FALSE(t.f.page(kStepTrp).readProfile(t.f.page(kStepTrp), {}, 2, kStepTmp, &other));
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(t.frame, "page_trp_midi").empty());
}

TEST(TransposePage, TheSampleProjectsMidiFileMovesAsAWhole) {
    testing::SampleMidiFixture f;
    ASSERT_EQ(f.opened, 0);
    testing::PageWindow frame(f.page(kStepTrp), QSize(900, 620), testing::PageWindow::Messages::None);
    f.show(kStepTrp);
    auto& value = *qvp3ui::findControl<QSpinBox>(frame, kTrpUpDown);
    value.setValue(7);
    for (const VoicePlayRecord& voice : f.project.entries[0].voices) EXPECT_EQ(voice.transposition, 7);
    EXPECT_TRUE(qvp3ui::findControl<QCheckBox>(frame, kTrpPercussionBox)->isEnabled());
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(frame, "page_trp_sample_midi").empty());
}

}  // namespace
}  // namespace qvp3
