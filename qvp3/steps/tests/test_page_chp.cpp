#include <gtest/gtest.h>

#include <QComboBox>
#include <QItemSelectionModel>
#include <QTableView>

#include "../src/pages/page_chp.h"
#include "platform/midi_out.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/controls.h"
#include "voice_page_support.h"
#include "vol_page_fixture.h"

namespace qvp3 {
namespace {

using testing::VoicePageFixture;

// The page over a quartet score (entry 0) and a band's MIDI file (entry 1).
struct ChpPage {
    ChpPage() {
        f.add("quartet.tvrx", testing::quartetScore());
        f.add("band.mid", testing::bandMidi());
        stpChpShiftHeld = [this] { return shift; };
        qvp3ui::setBoxResponder([this](const qvp3ui::BoxRequest& box) {
            warnings.push_back(box.stringId);
            return kIdOk;
        });
    }
    ~ChpPage() {
        qvp3ui::setBoxResponder({});
        stpChpShiftHeld = [] { return false; };
    }
    QComboBox& channel() { return *qvp3ui::findControl<QComboBox>(frame, kChpChannelCombo); }
    QComboBox& instrument() { return *qvp3ui::findControl<QComboBox>(frame, kChpInstrumentCombo); }
    QTableView& list() { return *qvp3ui::findControl<QTableView>(frame, kChpVoiceList); }
    QString cell(int row, int column) { return list().model()->index(row, column).data().toString(); }
    void select(std::initializer_list<int> rows) {
        list().clearSelection();
        for (int row : rows) {
            list().selectionModel()->select(list().model()->index(row, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
    // The user picks an item of a list.
    void choose(QComboBox& combo, int index) {
        combo.setCurrentIndex(index);
        emit combo.activated(index);
    }
    ProjectEntry& entry(int i) { return f.project.entries[static_cast<std::size_t>(i)]; }

    VoicePageFixture f;
    testing::PageWindow frame{f.page(kStepChp), QSize(900, 620), testing::PageWindow::Messages::None};
    bool shift = false;
    std::vector<int> warnings;
};

TEST(ChannelPage, ListsEveryVoiceWithItsChannelAndInstrument) {
    ChpPage t;
    t.f.show(kStepChp, 0);
    ASSERT_EQ(t.list().model()->rowCount(), 6) << "two voices of the first staff, one of each other";
    EXPECT_EQ(t.list().model()->headerData(0, Qt::Horizontal).toString(), "Staff / voice");
    EXPECT_EQ(t.cell(0, 0), "1: Violin I/1");
    EXPECT_EQ(t.cell(1, 0), "1: Violin I/2");
    EXPECT_EQ(t.cell(4, 0), "4: Cello/1");
    EXPECT_EQ(t.cell(2, 1), "2");
    EXPECT_EQ(t.cell(0, 2), "Violin");
    EXPECT_EQ(t.cell(5, 1), "10");
    EXPECT_EQ(t.cell(5, 2), "Percussion");
    EXPECT_EQ(t.channel().currentText(), "1") << "the first row is chosen";
    EXPECT_EQ(t.instrument().currentText(), "41: Violin");

    t.f.show(kStepChp, 1);
    ASSERT_EQ(t.list().model()->rowCount(), 3);
    EXPECT_EQ(t.list().model()->headerData(0, Qt::Horizontal).toString(), "Track");
    EXPECT_EQ(t.cell(1, 0), "2: Bass") << "a track's row has no voice number";
}

TEST(ChannelPage, ChangesReachTheChosenRowsOrEveryRowWithShift) {
    ChpPage t;
    t.f.show(kStepChp, 0);
    t.f.project.dirty = 0;
    t.select({2});
    t.choose(t.instrument(), 73);  // flute
    EXPECT_EQ(stpChpVoiceProgram(t.entry(0), 1, 0), 73);
    EXPECT_EQ(t.entry(0).voiceInstrument(1, 0)->UserProgram, 73);
    EXPECT_EQ(t.cell(2, 2), "Flute");
    EXPECT_EQ(stpChpVoiceProgram(t.entry(0), 2, 0), 42) << "a row not chosen keeps its sound";
    EXPECT_EQ(t.f.project.dirty, 1u << kStepChp);

    t.select({0, 1});
    t.choose(t.channel(), 3);
    EXPECT_EQ(stpChpVoiceChannel(t.entry(0), 0, 0), 3);
    EXPECT_EQ(stpChpVoiceChannel(t.entry(0), 0, 1), 3);
    EXPECT_EQ(t.cell(1, 1), "4");

    // Shift: every row, chosen or not; the drums keep their sounds.
    t.shift = true;
    t.choose(t.instrument(), 0);
    for (int s = 0; s < 4; ++s) EXPECT_EQ(stpChpVoiceProgram(t.entry(0), s, 0), 0) << s;
    EXPECT_EQ(stpChpVoiceProgram(t.entry(0), 4, 0), 128 + 35);
    EXPECT_EQ(t.cell(5, 2), "Percussion");
}

TEST(ChannelPage, TheListsShowWhatTheChosenRowsShare) {
    ChpPage t;
    t.f.show(kStepChp, 0);
    t.select({0, 1});
    EXPECT_EQ(t.channel().currentIndex(), 0) << "both voices of the first staff are on channel 1";
    t.select({0, 2});
    EXPECT_EQ(t.channel().currentIndex(), -1) << "channels 1 and 2 differ";
    EXPECT_EQ(t.instrument().currentIndex(), -1);
    EXPECT_TRUE(t.channel().isEnabled());

    t.select({5});
    EXPECT_FALSE(t.channel().isEnabled()) << "a score's drum staff keeps its channel and sounds";
    EXPECT_FALSE(t.instrument().isEnabled());
    t.list().clearSelection();
    EXPECT_FALSE(t.channel().isEnabled());

    t.f.show(kStepChp, 1);
    t.select({2});
    EXPECT_TRUE(t.channel().isEnabled());
    EXPECT_FALSE(t.instrument().isEnabled()) << "a MIDI voice on channel 10 plays drum keys";
}

TEST(ChannelPage, ChannelTenBelongsToPercussion) {
    ChpPage t;
    t.f.show(kStepChp, 0);
    t.f.project.dirty = 0;
    t.select({2, 5});
    t.choose(t.channel(), kChpPercussionChannel);
    EXPECT_EQ(t.warnings, std::vector<int>{337});
    EXPECT_EQ(stpChpVoiceChannel(t.entry(0), 1, 0), 1) << "the melodic staff keeps its channel";
    EXPECT_EQ(t.f.project.dirty, 0u);
    EXPECT_EQ(t.channel().currentIndex(), -1) << "the list shows the rows again";

    // A MIDI track moved onto channel 10 becomes a drum track, and back.
    t.f.show(kStepChp, 1);
    t.select({0});
    t.choose(t.channel(), kChpPercussionChannel);
    EXPECT_EQ(stpChpVoiceProgram(t.entry(1), 0, 0), kChpPercussionProgram);
    EXPECT_TRUE(t.entry(1).isPercussionStave(0));
    EXPECT_EQ(t.cell(0, 2), "Percussion");
    t.choose(t.channel(), 4);
    EXPECT_EQ(stpChpVoiceProgram(t.entry(1), 0, 0), 0);
    EXPECT_FALSE(t.entry(1).isPercussionStave(0));
    EXPECT_EQ(t.cell(0, 1), "5");
}

TEST(ChannelPage, APlayingMidiFileHearsTheChangeAtOnce) {
    ChpPage t;
    platform::CaptureMidiOut out;
    t.entry(1).entryState = kEntryPlaying;
    cnvEntryModel(t.entry(1)).player.midiOut = &out;
    t.f.show(kStepChp, 1);
    t.select({1});  // the bass, on channel 2
    t.choose(t.instrument(), 32);
    t.choose(t.channel(), 5);
    std::vector<std::uint32_t> sent;
    for (const auto& message : out.messages()) sent.push_back(message.packed);
    const VoicePlayRecord& bass = *t.entry(1).voiceRecord(1, 0);
    EXPECT_EQ(sent, (std::vector<std::uint32_t>{
                        0x20C1u,                                                  // program 33 on channel 2
                        0xB5u | 7u << 8 | static_cast<std::uint32_t>(bass.volume) << 16,  // then on channel 6:
                        0xB5u | 10u << 8 | static_cast<std::uint32_t>(bass.panorama) << 16,
                        0x20C5u}));
    cnvEntryModel(t.entry(1)).player.midiOut = nullptr;
}

TEST(ChannelPage, APlayingScoreTakesTheNewSoundAndChannelInTheEngine) {
    testing::PlayingScoreStudio s;
    s.project().playFeatures = kPlayChosenSounds | kPlayChannels;
    QWidget& window = s.show(kStepChp);
    auto& channel = *qvp3ui::findControl<QComboBox>(window, kChpChannelCombo);
    auto& instrument = *qvp3ui::findControl<QComboBox>(window, kChpInstrumentCombo);
    ASSERT_FALSE(s.current().isPercussionStave(0));
    const auto choose = [](QComboBox& combo, int index) {
        combo.setCurrentIndex(index);
        emit combo.activated(index);
    };

    ASSERT_EQ(s.transport.plyStart(s.current()), 0);
    choose(instrument, 73);  // the first row, the first staff's voice, is chosen
    choose(channel, 4);
    EXPECT_EQ(s.engineVoice(0, 0).sound, 73);
    EXPECT_EQ(s.engineVoice(0, 0).channel, 4);
    EXPECT_EQ(stpChpVoiceProgram(s.current(), 0, 0), 73);
}

TEST(ChannelPage, CountsFromADamagedProjectFileNeverReachPastTheEntrysVoices) {
    ChpPage t;
    t.entry(0).staveCount = 40;
    t.f.show(kStepChp, 0);
    EXPECT_EQ(t.list().model()->rowCount(), 6) << "only the staves the entry has";

    // A first staff said to hold nine voices pushes the later staves past
    // the voice records: only voices with records are listed and changed.
    t.entry(0).voiceCounts[0] = 9;
    t.f.show(kStepChp, 0);
    EXPECT_EQ(t.list().model()->rowCount(), 2);
    t.shift = true;
    t.choose(t.channel(), 6);
    EXPECT_EQ(t.entry(0).voices[0].channel(), 6);
    EXPECT_EQ(t.entry(0).voices[1].channel(), 6);
    EXPECT_EQ(t.entry(0).voices[2].channel(), 1) << "a record the list does not show is untouched";
}

TEST(ChannelPage, TheSettingsReachTheProjectFileAndTravelByProfile) {
    ChpPage t;
    t.f.add("quartet2.tvrx", testing::quartetScore());
    t.f.show(kStepChp, 0);
    t.select({4});
    t.choose(t.instrument(), 70);  // bassoon for the cello
    t.choose(t.channel(), 11);

    const auto reopened = t.f.saveAndReopen();
    EXPECT_EQ(stpChpVoiceProgram(reopened->entries[0], 3, 0), 70);
    EXPECT_EQ(stpChpVoiceChannel(reopened->entries[0], 3, 0), 11);
    EXPECT_EQ(stpChpVoiceProgram(reopened->entries[0], 2, 0), 42);

    ASSERT_TRUE(t.f.profileFromTo(t.f.page(kStepChp), t.entry(0), t.entry(2)));
    t.f.show(kStepChp, 2);
    t.select({4});
    EXPECT_EQ(t.instrument().currentIndex(), 70);
    EXPECT_EQ(t.channel().currentIndex(), 11);
    EXPECT_EQ(t.cell(4, 2), "Bassoon");
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(t.frame, "page_chp_score").empty());
    t.f.show(kStepChp, 1);
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(t.frame, "page_chp_midi").empty());
}

TEST(ChannelPage, TheSampleProjectsMidiFileListsItsTracks) {
    testing::SampleMidiFixture f;
    ASSERT_EQ(f.opened, 0);
    testing::PageWindow frame(f.page(kStepChp), QSize(900, 620), testing::PageWindow::Messages::None);
    f.show(kStepChp);
    auto& list = *qvp3ui::findControl<QTableView>(frame, kChpVoiceList);
    const ProjectEntry& entry = f.project.entries[0];
    ASSERT_EQ(list.model()->rowCount(), cnvEntryVoiceCount(entry));
    for (int row = 0; row < list.model()->rowCount(); ++row) {
        EXPECT_EQ(list.model()->index(row, 1).data().toInt(), stpChpVoiceChannel(entry, row, 0) + 1) << row;
    }
    EXPECT_FALSE(qvp3ui::testing::saveScreenshot(frame, "page_chp_sample_midi").empty());
}

}  // namespace
}  // namespace qvp3
