#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>

#include <chrono>
#include <set>
#include <thread>

#include "page_entry_fixture.h"
#include "qvp3_steps/page_workers.h"
#include "qvp3_steps/step_table.h"

namespace qvp3 {
namespace {

using namespace std::chrono_literals;
using testing::PageEntryFixture;

struct EinFixture : PageEntryFixture {
    EinFixture() : PageEntryFixture(kStepEin) {}

    QListView* voices() { return find<QListView>(1300); }
    void chooseVoices(std::initializer_list<int> rows) {
        QItemSelectionModel* selection = voices()->selectionModel();
        selection->clearSelection();
        for (int row : rows) {
            selection->select(voices()->model()->index(row, 0), QItemSelectionModel::Select);
        }
    }
    bool enabled(int id) { return find<QWidget>(id)->isEnabled(); }
};

TEST(TuneUpPage, AChordTuneUpIsEditedOnThePageAndSurvivesASaveAndReopen) {
    EinFixture f;
    f.addEntry();
    f.open();
    scorecore::CEinstimmung& t = f.project.entries[0].tuneUp;
    ASSERT_EQ(t.Type, 0);
    EXPECT_FALSE(f.enabled(15016)) << "an unused tune-up has nothing to choose";
    EXPECT_TRUE(f.find<QComboBox>(1305)->isVisible()) << "an unused tune-up shows the chord";
    f.project.saved = 1;

    f.find<QCheckBox>(15000)->click();
    EXPECT_EQ(t.Type, 2) << "the chord tab was shown";
    EXPECT_EQ(t.Instrument, 0) << "a chord cannot take the voices' own instrument";
    EXPECT_EQ(f.project.saved, 0);
    EXPECT_TRUE(f.enabled(15016));
    f.find<QComboBox>(1305)->setCurrentIndex(7);
    f.find<QComboBox>(1307)->setCurrentIndex(3);
    f.find<QRadioButton>(1309)->click();
    EXPECT_EQ(t.ChordGrundton, 7);
    EXPECT_EQ(t.ChordOctave, 3);
    EXPECT_EQ(t.ChordDurMoll, 0);

    EXPECT_TRUE(f.find<QCheckBox>(15006)->isChecked());
    EXPECT_FALSE(f.enabled(15003)) << "a broken chord times itself";
    f.find<QCheckBox>(15006)->click();
    EXPECT_EQ(t.Zerlegt, 0);
    EXPECT_TRUE(f.enabled(15003));
    EXPECT_FALSE(f.enabled(15007));
    f.find<QSpinBox>(kEinDurationUpDown)->setValue(23);
    EXPECT_EQ(t.Duration, 2300);
    EXPECT_EQ(f.find<QLineEdit>(15003)->text(), "2,3");
    f.find<QSpinBox>(kEinDurationUpDown)->setValue(125);
    EXPECT_EQ(f.find<QLineEdit>(15003)->text(), "12,5") << "every digit of the seconds is shown";
    f.find<QCheckBox>(15006)->click();
    f.find<QComboBox>(15007)->setCurrentIndex(2);
    EXPECT_EQ(t.Tempo, 3);
    f.find<QCheckBox>(15009)->click();
    EXPECT_EQ(t.Sounding, 0);
    f.find<QSlider>(15012)->setValue(3);
    EXPECT_EQ(t.Volume, 10) << "the volume stops at 10";
    f.find<QSlider>(15012)->setValue(90);
    EXPECT_EQ(f.find<QLabel>(15013)->text(), "90");
    f.find<QComboBox>(15015)->setCurrentIndex(40);
    EXPECT_EQ(t.Instrument, 40);

    Project reopened(Neighbours{&f.pipeline, nullptr, &f.shell, &f.pages});
    ASSERT_NO_FATAL_FAILURE(f.saveAndReopen(reopened));
    const scorecore::CEinstimmung& r = reopened.entries[0].tuneUp;
    EXPECT_EQ(r.Type, 2);
    EXPECT_EQ(r.ChordGrundton, 7);
    EXPECT_EQ(r.ChordOctave, 3);
    EXPECT_EQ(r.ChordDurMoll, 0);
    EXPECT_EQ(r.Duration, 12500);
    EXPECT_EQ(r.Zerlegt, 1);
    EXPECT_EQ(r.Tempo, 3);
    EXPECT_EQ(r.Sounding, 0);
    EXPECT_EQ(r.Volume, 90);
    EXPECT_EQ(r.Instrument, 40);
}

TEST(TuneUpPage, FirstNotesTakeTheChosenVoicesAndTheirOwnInstruments) {
    EinFixture f;
    f.addEntry();
    scorecore::CEinstimmung& t = f.project.entries[0].tuneUp;
    t.Type = 1;
    t.Instrument = 5;
    f.open();
    auto* instruments = f.find<QComboBox>(15015);
    EXPECT_EQ(instruments->count(), 129);
    EXPECT_EQ(instruments->itemText(0), QString::fromStdString(f.language.string(415)));
    EXPECT_EQ(instruments->currentIndex(), 6) << "after the own-instrument item";
    EXPECT_EQ(f.find<QTabWidget>(15016)->currentIndex(), 0);
    ASSERT_GE(f.voices()->model()->rowCount(), 2);
    EXPECT_EQ(f.voices()->model()->index(0, 0).data().toString().left(3), "1: ");

    f.chooseVoices({1});
    EXPECT_EQ(t.voices, std::vector<std::int32_t>{1}) << "stave 1, voice 0";
    EXPECT_EQ(t.Zerlegt, 0);
    EXPECT_FALSE(f.enabled(15006)) << "one voice has nothing to break up";
    f.chooseVoices({0, 1});
    EXPECT_EQ(t.voices, (std::vector<std::int32_t>{0, 1}));
    EXPECT_TRUE(f.enabled(15006));
    EXPECT_FALSE(f.enabled(1302)) << "the order counts only for broken notes";
    f.find<QCheckBox>(15006)->click();
    EXPECT_TRUE(f.enabled(1302));
    f.find<QRadioButton>(1302)->click();
    EXPECT_EQ(t.FirstNotesFromTop, 1);
    instruments->setCurrentIndex(0);
    EXPECT_EQ(t.Instrument, -1);

    // Showing the values again selects the record's voices, and changes none.
    stpNotifyPartChanged(f.page(), 0);
    EXPECT_EQ(f.voices()->selectionModel()->selectedRows().size(), 2);
    EXPECT_EQ(t.voices, (std::vector<std::int32_t>{0, 1}));

    // The chord tab: no own instrument; the first notes tab again lists it.
    f.find<QTabWidget>(15016)->setCurrentIndex(1);
    EXPECT_EQ(t.Type, 2);
    EXPECT_EQ(t.Instrument, 0);
    EXPECT_EQ(instruments->count(), 128);
    f.find<QTabWidget>(15016)->setCurrentIndex(0);
    EXPECT_EQ(t.Type, 1);
    EXPECT_EQ(instruments->currentIndex(), 1);
}

TEST(TuneUpPage, FirstNotesWithoutAVoiceLeaveTheStepUnfinished) {
    struct Case {
        std::vector<std::pair<int, int>> entries;  // kind, voices chosen
        int state, stringId, pendingEntry;
    } cases[] = {
        {{{2, 0}, {0, 0}, {1, 1}}, 0, 0, -1},
        {{{2, 0}, {1, 0}, {1, 0}}, -1, 416, 1},
        {{{1, 0}}, -1, 416, 0},
        {{}, 0, 0, -1},
    };
    for (const Case& c : cases) {
        testing::StepFixture f;
        for (auto [kind, voices] : c.entries) {
            ProjectEntry& entry = f.addEntry(EntryKind::Midi, {2});
            entry.tuneUp.Type = kind;
            for (int v = 0; v < voices; ++v) scorecore::einAddVoice(entry.tuneUp, v << 16);
            entry.pending[kStepEin] = 1;
        }
        StepPage& page = f.page(kStepEin);
        page.pending = true;
        StepStatus status;
        page.getStatus(page, f.project, status);
        EXPECT_EQ(status.state, c.state);
        EXPECT_EQ(status.stringId, c.stringId);
        EXPECT_EQ(page.pending, c.state != 0);
        for (int i = 0; i < static_cast<int>(c.entries.size()); ++i) {
            const int expected = i == c.pendingEntry || (c.pendingEntry >= 0 && i > c.pendingEntry) ? 1 : 0;
            EXPECT_EQ(f.project.entries[static_cast<std::size_t>(i)].pending[kStepEin], expected) << i;
        }
    }
}

TEST(TuneUpPage, ThePreviewPlaysTheChordIntoTheOutputAndEndsByItself) {
    EinFixture f;
    f.addEntry();
    scorecore::CEinstimmung& t = f.project.entries[0].tuneUp;
    t.Type = 2;
    t.Zerlegt = 0;
    t.Duration = 300;
    t.ChordGrundton = 2;  // D minor in octave 5
    t.ChordDurMoll = 0;
    t.ChordOctave = 5;
    f.project.playFeatures |= 0x8000;  // the tune-up step is reached: tune-ups play
    f.open();
    StepPage& page = f.page();
    page.onCommand(page, kCmdToggle, nullptr, 0);
    auto* data = stpData<PreviewData>(page);
    ASSERT_NE(data->preview, nullptr);
    EXPECT_FALSE(f.host.fileListsEnabled);
    EXPECT_FALSE(f.enabled(15000)) << "nothing changes while it sounds";
    qvp3ui::testing::saveScreenshot(*f.window, "step_ein_preview");
    for (int i = 0; i < 300 && data->preview; ++i) qvp3ui::testing::processEventsFor(10);
    EXPECT_EQ(data->preview, nullptr) << "the end of the tune-up frees the preview";
    EXPECT_TRUE(f.host.fileListsEnabled);
    EXPECT_TRUE(f.enabled(15000));
    std::set<int> keys;
    for (const auto& m : f.host.captured.messages()) {
        if ((m.packed & 0xF0) == 0x90 && ((m.packed >> 16) & 0x7F) != 0) keys.insert((m.packed >> 8) & 0x7F);
    }
    EXPECT_EQ(keys, (std::set<int>{62, 65, 69}));

    // Stopped by hand, a later report of its end starts nothing and stops nothing.
    t.Duration = 5000;
    page.onToggle(page);
    ASSERT_NE(data->preview, nullptr);
    page.onToggle(page);
    EXPECT_EQ(data->preview, nullptr);
    qvp3ui::testing::processEventsFor(50);
    EXPECT_EQ(data->preview, nullptr);

    f.host.previewOutputs = false;
    page.onToggle(page);
    EXPECT_EQ(f.warnings, std::vector<int>{278});
}

TEST(TuneUpPage, AProfileGivesAnotherEntryTheSameSettings) {
    EinFixture f;
    f.addEntry();
    f.addEntry();
    f.open();
    f.find<QCheckBox>(15000)->click();
    f.find<QComboBox>(1305)->setCurrentIndex(9);
    f.find<QRadioButton>(1309)->click();
    f.find<QSlider>(15012)->setValue(64);
    f.find<QComboBox>(15007)->setCurrentIndex(0);

    f.copyByProfile(1);
    const scorecore::CEinstimmung& b = f.project.entries[1].tuneUp;
    EXPECT_EQ(b.Type, 2);
    EXPECT_EQ(b.ChordGrundton, 9);
    EXPECT_EQ(b.ChordDurMoll, 0);
    EXPECT_EQ(b.Volume, 64);
    EXPECT_EQ(b.Tempo, 1);
    EXPECT_TRUE(f.find<QCheckBox>(15000)->isChecked());
    EXPECT_EQ(f.find<QComboBox>(1305)->currentIndex(), 9);
    EXPECT_TRUE(f.find<QRadioButton>(1309)->isChecked());
    EXPECT_EQ(f.find<QLabel>(15013)->text(), "64");
    EXPECT_EQ(f.find<QComboBox>(15007)->currentIndex(), 0);
}

TEST(TuneUpPage, Screenshots) {
    EinFixture f;
    f.addEntry();
    scorecore::CEinstimmung& t = f.project.entries[0].tuneUp;
    t.Type = 1;
    scorecore::einAddVoice(t, 0);
    scorecore::einAddVoice(t, 1);
    testing::PageWindow& window = f.open();
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(window, "step_ein_first_notes").empty());
    f.find<QTabWidget>(15016)->setCurrentIndex(1);
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(window, "step_ein_chord").empty());
}

}  // namespace
}  // namespace qvp3
