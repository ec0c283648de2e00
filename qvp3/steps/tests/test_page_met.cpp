#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>

#include <chrono>
#include <thread>

#include "page_entry_fixture.h"
#include "qvp3_steps/page_workers.h"
#include "qvp3_steps/step_table.h"

namespace qvp3 {
namespace {

using namespace std::chrono_literals;
using testing::PageEntryFixture;

struct MetFixture : PageEntryFixture {
    MetFixture() : PageEntryFixture(kStepMet) {}
};

TEST(MetronomePage, ControlsEditTheEntryMarkTheProjectAndSurviveASaveAndReopen) {
    MetFixture f;
    f.addEntry();
    f.open();
    scorecore::CMetronom& m = f.project.entries[0].metronome;
    f.project.saved = 1;
    f.project.dirty = 0;

    f.find<QSpinBox>(kMetCountInUpDown)->setValue(3);
    EXPECT_EQ(m.CountIn, 3);
    EXPECT_EQ(f.project.saved, 0) << "a change marks the project";
    EXPECT_NE(f.project.dirty & (1u << kStepMet), 0u);

    f.find<QCheckBox>(14005)->click();  // the metronome is used by default: now off
    EXPECT_EQ(m.Use, 0);
    EXPECT_FALSE(f.find<QComboBox>(14014)->isEnabled()) << "the beats follow the used box";
    f.find<QCheckBox>(14005)->click();
    EXPECT_EQ(m.Use, 1);
    f.find<QComboBox>(14007)->setCurrentIndex(0);
    EXPECT_EQ(m.Instrument, 27) << "the first item is key 27";
    f.find<QComboBox>(14007)->setCurrentIndex(60);
    EXPECT_EQ(m.Instrument, 87) << "the last item is key 87";
    EXPECT_EQ(f.find<QComboBox>(14007)->count(), 61);
    f.find<QSpinBox>(kMetVelocityUpDown)->setValue(90);
    EXPECT_EQ(m.Velocity, 90);
    f.find<QComboBox>(14014)->setCurrentIndex(3);
    EXPECT_EQ(m.Frequency, 3);
    f.find<QCheckBox>(14008)->click();
    EXPECT_EQ(m.FirstBeat, 0);
    f.find<QCheckBox>(14013)->click();
    EXPECT_EQ(m.LastBeat, 0);
    f.find<QSlider>(14016)->setValue(100);
    EXPECT_EQ(m.Volume, 100);
    EXPECT_EQ(f.find<QLabel>(14017)->text(), "100");
    f.find<QCheckBox>(14018)->click();
    EXPECT_NE(f.project.playFeatures & 0x2000, 0u);
    f.find<QCheckBox>(14018)->click();
    EXPECT_EQ(f.project.playFeatures & 0x2000, 0u);

    Project reopened(Neighbours{&f.pipeline, nullptr, &f.shell, &f.pages});
    ASSERT_NO_FATAL_FAILURE(f.saveAndReopen(reopened));
    const scorecore::CMetronom& r = reopened.entries[0].metronome;
    EXPECT_EQ(r.CountIn, 3);
    EXPECT_EQ(r.Use, 1);
    EXPECT_EQ(r.Instrument, 87);
    EXPECT_EQ(r.Velocity, 90);
    EXPECT_EQ(r.Frequency, 3);
    EXPECT_EQ(r.FirstBeat, 0);
    EXPECT_EQ(r.LastBeat, 0);
    EXPECT_EQ(r.Volume, 100);
}

TEST(MetronomePage, EveryBeatTicksAndLocksTheLastBeat) {
    MetFixture f;
    f.addEntry();
    f.open();
    scorecore::CMetronom& m = f.project.entries[0].metronome;
    auto* frequency = f.find<QComboBox>(14014);
    auto* lastBeat = f.find<QCheckBox>(14013);
    frequency->setCurrentIndex(2);
    EXPECT_TRUE(lastBeat->isEnabled());
    lastBeat->click();
    EXPECT_EQ(m.LastBeat, 0);

    frequency->setCurrentIndex(0);
    EXPECT_EQ(m.Frequency, 0);
    EXPECT_EQ(m.LastBeat, 1);
    EXPECT_TRUE(lastBeat->isChecked());
    EXPECT_FALSE(lastBeat->isEnabled());

    frequency->setCurrentIndex(4);
    EXPECT_TRUE(lastBeat->isEnabled());
    f.find<QCheckBox>(14005)->click();
    EXPECT_FALSE(lastBeat->isEnabled()) << "an unused metronome has no last beat to choose";
}

TEST(MetronomePage, ShowsEachEntrysValuesAndNothingWithoutAnEntry) {
    MetFixture f;
    f.open();
    for (int id : {14005, 14007, 14013, 14014, 14016, 14018}) {
        EXPECT_FALSE(f.find<QWidget>(id)->isEnabled()) << id << ": no entry, nothing to edit";
    }
    EXPECT_EQ(f.host.profileBarModes.back(), kProfileBarDisabled);
    f.find<QCheckBox>(14005)->click();  // must not reach a record
    f.addEntry();
    f.addEntry().metronome.Instrument = 20;  // outside the list, from an older file
    f.project.entries[0].metronome.CountIn = 5;
    stpNotifyPartChanged(f.page(), 0);
    EXPECT_TRUE(f.find<QCheckBox>(14005)->isEnabled());
    EXPECT_EQ(f.find<QSpinBox>(kMetCountInUpDown)->value(), 5);
    EXPECT_EQ(f.find<QLineEdit>(14002)->text(), "5");
    f.project.currentEntry = 1;
    stpNotifyPartChanged(f.page(), 1);
    EXPECT_EQ(f.find<QSpinBox>(kMetCountInUpDown)->value(), 2);
    EXPECT_EQ(f.find<QComboBox>(14007)->currentIndex(), -1);
    EXPECT_EQ(f.project.entries[1].metronome.Instrument, 20) << "showing changes nothing";
}

TEST(MetronomePage, AProfileGivesAnotherEntryTheSameSettings) {
    MetFixture f;
    f.addEntry();
    f.addEntry();
    f.open();
    f.find<QSpinBox>(kMetCountInUpDown)->setValue(4);
    f.find<QComboBox>(14007)->setCurrentIndex(10);
    f.find<QComboBox>(14014)->setCurrentIndex(2);
    f.find<QSlider>(14016)->setValue(77);
    f.find<QCheckBox>(14008)->click();

    f.copyByProfile(1);
    const scorecore::CMetronom& a = f.project.entries[0].metronome;
    const scorecore::CMetronom& b = f.project.entries[1].metronome;
    EXPECT_EQ(b.CountIn, a.CountIn);
    EXPECT_EQ(b.Instrument, a.Instrument);
    EXPECT_EQ(b.Frequency, a.Frequency);
    EXPECT_EQ(b.Volume, a.Volume);
    EXPECT_EQ(b.FirstBeat, a.FirstBeat);
    EXPECT_EQ(f.find<QSpinBox>(kMetCountInUpDown)->value(), 4);
    EXPECT_EQ(f.find<QComboBox>(14007)->currentIndex(), 10);
    EXPECT_EQ(f.find<QComboBox>(14014)->currentIndex(), 2);
    EXPECT_EQ(f.find<QLabel>(14017)->text(), "77");
    EXPECT_FALSE(f.find<QCheckBox>(14008)->isChecked());
}

TEST(MetronomePage, ThePreviewClicksTheChosenKeyIntoTheOutputAndLocksTheCountIn) {
    MetFixture f;
    f.addEntry();
    f.open();
    f.find<QComboBox>(14007)->setCurrentIndex(76 - 27);  // Hi Wood Block
    StepPage& page = f.page();
    page.onCommand(page, kCmdToggle, nullptr, 0);
    auto* data = stpData<PreviewData>(page);
    ASSERT_NE(data->preview, nullptr);
    EXPECT_FALSE(f.find<QSpinBox>(kMetCountInUpDown)->isEnabled());
    EXPECT_FALSE(f.host.fileListsEnabled);
    platform::CaptureMidiOut* out = &f.host.captured;
    bool clicked = false;
    for (int i = 0; i < 200 && !clicked; ++i) {
        for (const auto& message : out->messages()) {
            clicked = clicked || ((message.packed & 0xF0) == 0x90 && ((message.packed >> 8) & 0x7F) == 76);
        }
        if (!clicked) std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(clicked) << "a note-on of key 76 reaches the preview output";
    qvp3ui::testing::saveScreenshot(*f.window, "step_met_preview");

    page.onToggle(page);
    EXPECT_EQ(data->preview, nullptr);
    EXPECT_TRUE(f.find<QSpinBox>(kMetCountInUpDown)->isEnabled());
    EXPECT_TRUE(f.host.fileListsEnabled);

    f.host.previewOutputs = false;
    page.onToggle(page);
    EXPECT_EQ(f.warnings, std::vector<int>{278});
}

TEST(MetronomePage, Screenshot) {
    MetFixture f;
    f.addEntry();
    f.project.entries[0].metronome.Frequency = 2;
    testing::PageWindow& window = f.open();
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(window, "step_met").empty());
}

}  // namespace
}  // namespace qvp3
