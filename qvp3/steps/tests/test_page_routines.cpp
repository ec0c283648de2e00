#include <gtest/gtest.h>

#include <QComboBox>
#include <QStandardItemModel>
#include <QWidget>

#include "qvp3_steps/page_look.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_steps/tempo_curve_view.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/message_box.h"
#include "step_test_support.h"

namespace qvp3 {
namespace {

using testing::StepFixture;

// The test table ("S<N>") as the program's language for the test's life.
struct TestLanguage {
    TestLanguage() { qvp3ui::setLanguage(&table); }
    ~TestLanguage() { qvp3ui::setLanguage(nullptr); }
    qvp3ui::LanguageModule table = qvp3ui::LanguageModule::testTable();
};

TEST(PageRoutines, InstrumentListHoldsTheGeneralMidiSoundsNumberedFromOne) {
    TestLanguage language;
    QComboBox combo;
    stpFillInstrumentCombo(combo, 0);
    ASSERT_EQ(combo.count(), 128);
    EXPECT_EQ(combo.currentText(), "1: S32000");
    EXPECT_EQ(combo.itemText(127), "128: S32127");
}

TEST(PageRoutines, VoiceRowsOnlyForVoicesTheEntryHasAndShows) {
    TestLanguage language;
    StepFixture f;
    ProjectEntry& score = f.addEntry(EntryKind::TvrXml, {2, 1});
    score.states.setVoiceOnOff(0, 1, scorecore::kStateHidden);
    struct Case {
        const char* what;
        int stave, voice;
        bool listed;
        const char* text;
    } cases[] = {
        {"a voice of the first stave", 0, 0, true, "1: /1"},
        {"a hidden voice", 0, 1, false, ""},
        {"the voice of the second stave", 1, 0, true, "2: /1"},
        {"a voice past the stave's voices", 1, 1, false, ""},
        {"a voice far past them", 1, 40, false, ""},
        {"a stave past the entry's", 2, 0, false, ""},
        {"negative indices", -1, -1, false, ""},
    };
    for (const Case& c : cases) {
        QStandardItemModel list;
        EXPECT_EQ(cnvFillVoiceList(score, c.stave, c.voice, list, 0), c.listed) << c.what;
        ASSERT_EQ(list.rowCount(), c.listed ? 1 : 0) << c.what;
        if (!c.listed) continue;
        const QStandardItem* row = list.item(0);
        EXPECT_EQ(row->text().toStdString(), c.text) << c.what;
        EXPECT_EQ(row->data(kVoiceRowDataRole).toInt(), (c.voice << 16) | c.stave) << c.what;
        EXPECT_EQ(row->data(kVoiceRowImageRole).toInt(), kImageVoiceRow) << c.what;
    }
}

TEST(PageRoutines, MidiRowsCarryNoVoiceNumberAndTheirColumnIsTracks) {
    TestLanguage language;
    StepFixture f;
    ProjectEntry& midi = f.addEntry(EntryKind::Midi, {1, 1});
    midi.trackNames = {"", "", "Flute"};
    QStandardItemModel list;
    ASSERT_TRUE(cnvFillVoiceList(midi, 1, 0, list, 5));
    EXPECT_EQ(list.item(0)->text(), "2: Flute");
    EXPECT_EQ(list.item(0)->data(kVoiceRowImageRole).toInt(), kImageTrackRow);
    cnvSetListColumnTitle(midi, list);
    EXPECT_EQ(list.horizontalHeaderItem(0)->text(), "S321");
    ProjectEntry& score = f.addEntry(EntryKind::TvrXml, {1});
    cnvSetListColumnTitle(score, list);
    EXPECT_EQ(list.horizontalHeaderItem(0)->text(), "S333");
}

TEST(PageRoutines, ControlsStartUnderTheDescriptionOrUnderTheStepsNote) {
    TestLanguage language;
    StepFixture f;
    QWidget sls, tpp;
    sls.resize(800, 600);
    tpp.resize(800, 600);
    f.page(kStepSls).window = &sls;
    f.page(kStepTpp).window = &tpp;
    f.page(kStepSls).headerImage = stpStepInfo(kStepSls)->headerImage;
    f.page(kStepTpp).headerImage = stpStepInfo(kStepTpp)->headerImage;
    f.page(kStepSls).description = f.page(kStepTpp).description = "A description of the step.";
    QRect content, description;
    stpLayoutDescription(f.page(kStepSls), &content, &description);
    EXPECT_EQ(content.top(), description.bottom() + 1);
    EXPECT_EQ(content.left(), description.left());
    EXPECT_EQ(content.right(), 800 - 1 - 10);
    EXPECT_GT(description.height(), 0);

    QRect tppContent, tppDescription;
    stpLayoutDescription(f.page(kStepTpp), &tppContent, &tppDescription);
    EXPECT_EQ(tppDescription, description);
    const PageHeader header = stpMeasureHeader(f.page(kStepTpp), tpp.rect(), nullptr);
    EXPECT_EQ(header.noteText, "S29");
    EXPECT_EQ(header.note.top(), description.bottom() + 1 + 20);
    EXPECT_EQ(tppContent.top(), header.note.bottom() + 1);
    f.page(kStepSls).window = f.page(kStepTpp).window = nullptr;
}

TEST(PageRoutines, TheAlternativeDescriptionIsForMidiEntries) {
    StepFixture f;
    StepPage& dyn = f.page(kStepDyn);
    dyn.description = "score text";
    dyn.altDescription = "midi text";
    ProjectEntry& midi = f.addEntry(EntryKind::Midi);
    EXPECT_EQ(stpShownDescription(dyn, &midi), "midi text");
    EXPECT_EQ(stpShownDescription(dyn, nullptr), "score text");
    EXPECT_EQ(stpShownDescription(f.page(kStepSls), &f.project.entries[0]), "");
}

TEST(TempoCurveView, SpeedTextShowsBeatsASecondToOneDecimal) {
    const auto table = qvp3ui::LanguageModule::fromText("28\t%i per minute, %s.%s a second\n");
    struct Case {
        int speed;
        const char* text;
    } cases[] = {{1000, "1000 per minute, 16.7 a second"},
                 {300, "300 per minute, 5.0 a second"},
                 {59, "59 per minute, 1.0 a second"},
                 {1, "1 per minute, 0.0 a second"}};
    for (const Case& c : cases) {
        TempoCurve curve;
        curve.speed = c.speed;
        EXPECT_EQ(stpTempoCurveSpeedText(curve, table), c.text);
    }
}

TEST(TempoCurveView, NewPointsOfAMidiEntryAreADifferenceInLength) {
    StepFixture f;
    EXPECT_FALSE(stpTempoCurveHasNewPoints(f.project, nullptr)) << "no current entry";
    ProjectEntry& midi = f.addEntry(EntryKind::Midi);
    f.project.currentEntry = 0;
    EXPECT_FALSE(stpTempoCurveHasNewPoints(f.project, nullptr));
    midi.tempoCurve.points[TempoCurve::kRecordedList].push_back(TempoPoint{});
    EXPECT_TRUE(stpTempoCurveHasNewPoints(f.project, nullptr));
    midi.kind = EntryKind::TvrXml;
    EXPECT_FALSE(stpTempoCurveHasNewPoints(f.project, nullptr)) << "a score without its engine";
}

}  // namespace
}  // namespace qvp3
