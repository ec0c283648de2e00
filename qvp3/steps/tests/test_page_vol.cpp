#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QSlider>
#include <QTableView>

#include <chrono>
#include <thread>

#include "../../pipeline/tests/smf_bytes.h"
#include "platform/files.h"
#include "platform/midi_out.h"
#include "platform_testing/file_bytes.h"
#include "qvp3_pipeline/playback.h"
#include "qvp3_project/profile_file.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui_testing.h"
#include "../src/pages/vol_pan_grid.h"
#include "../src/pages/vol_profile_slots.h"
#include "vol_page_fixture.h"

namespace qvp3 {
namespace {

using testing::PageStudio;
using testing::PipelineProject;

QTableView& listOf(QWidget& window, int step) {
    QTableView* list = qvp3ui::findControl<QTableView>(window, step == kStepPan ? kPanList : kVolList);
    EXPECT_NE(list, nullptr);
    return *list;
}

QSlider* sliderOf(QTableView& list, int row) {
    return qobject_cast<QSlider*>(list.indexWidget(list.model()->index(row, VolPanModel::kSliderColumn)));
}

QString cell(QTableView& list, int row, int column) { return list.model()->index(row, column).data().toString(); }

// Moves a slider as the user does: the slider reports to the page itself.
void moveSlider(QSlider& slider, int position) { slider.setValue(position); }

// Shift held or let go, as the pages ask for it.
bool gShift = false;
void holdShift(bool down) {
    gShift = down;
    stpShiftHeld = [] { return gShift; };
}

struct VolPanStudio : PageStudio {
    VolPanStudio() { EXPECT_EQ(files.open(testing::sampleMidiFile()), 0); }
};

TEST(VolumePanoramaPages, ListEveryVisibleVoiceWithItsValueAndASlider) {
    for (int step : {kStepVol, kStepPan}) {
        SCOPED_TRACE(std::string(stpCategoryCode(step)));
        VolPanStudio s;
        ProjectEntry& entry = s.current();
        ASSERT_GE(entry.voices.size(), 2u);
        entry.voices[0].volume = 90;
        entry.voices[0].panorama = 20;
        QWidget& window = s.show(step);
        QTableView& list = listOf(window, step);
        const int voices = static_cast<int>(entry.voices.size());
        ASSERT_EQ(list.model()->rowCount(), voices);
        EXPECT_EQ(cell(list, 0, 0).toStdString(), "1: " + cnvEntryStaveName(entry, 0));
        EXPECT_EQ(cell(list, 0, 1), step == kStepVol ? "90" : "-44");
        EXPECT_EQ(list.model()->headerData(0, Qt::Horizontal).toString(), "S321") << "a MIDI file lists tracks";
        EXPECT_EQ(list.model()->headerData(1, Qt::Horizontal).toString(), step == kStepVol ? "S339" : "S340");
        QSlider* first = sliderOf(list, 0);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(first->value(), step == kStepVol ? 90 : -44);
        EXPECT_EQ(first->minimum(), step == kStepVol ? 0 : -64);
        EXPECT_EQ(first->maximum(), step == kStepVol ? 127 : 63);
        EXPECT_EQ(first->objectName(), "0") << "voice 0 of stave 0";
        EXPECT_EQ(sliderOf(list, 1)->objectName(), QString::number(1));
        EXPECT_TRUE(list.selectionModel()->isRowSelected(0, {}));

        // A hidden voice gets neither a row nor a slider.
        entry.states.setVoiceOnOff(0, 0, scorecore::kStateHidden);
        s.page(step).onPartChanged(s.page(step), 0);
        ASSERT_EQ(list.model()->rowCount(), voices - 1);
        EXPECT_EQ(sliderOf(list, 0)->objectName(), "1");
        EXPECT_EQ(sliderOf(list, voices - 1), nullptr);
    }
}

TEST(VolumePanoramaPages, ASliderStoresItsValueInTheVoiceAndMarksTheProjectChanged) {
    struct Case {
        int step;
        int position;
        int stored;      // the voice record's byte
        const char* shown;
    } cases[] = {
        {kStepVol, 0, 0, "0"},       {kStepVol, 127, 127, "127"}, {kStepVol, 64, 64, "64"},
        {kStepPan, -64, 0, "-64"},   {kStepPan, 10, 74, "10"},    {kStepPan, 63, 127, "63"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(stpCategoryCode(c.step)) + " " + std::to_string(c.position));
        VolPanStudio s;
        QTableView& list = listOf(s.show(c.step), c.step);
        s.project().saved = 1;
        s.project().dirty = 0;
        moveSlider(*sliderOf(list, 1), c.position);
        const VoicePlayRecord& voice = s.current().voices[1];
        EXPECT_EQ(static_cast<std::uint8_t>(c.step == kStepVol ? voice.volume : voice.panorama), c.stored);
        EXPECT_EQ(cell(list, 1, 1), c.shown);
        EXPECT_EQ(s.project().saved, 0);
        EXPECT_NE(s.project().dirty & (1u << c.step), 0u);
        EXPECT_GE(s.host.commandRefreshes, 1);
    }
}

TEST(VolumePanoramaPages, SelectedRowsOrShiftMoveTheirSlidersTogether) {
    VolPanStudio s;
    QWidget& window = s.show(kStepVol);
    QTableView& list = listOf(window, kStepVol);
    const int rows = list.model()->rowCount();
    ASSERT_GE(rows, 2);
    for (int r = 0; r < rows; ++r) s.current().voices[static_cast<std::size_t>(r)].volume = 100;

    // Row 0 is selected; moving row 1's slider changes both.
    moveSlider(*sliderOf(list, 1), 30);
    EXPECT_EQ(s.current().voices[0].volume, 30);
    EXPECT_EQ(sliderOf(list, 0)->value(), 30);
    EXPECT_EQ(cell(list, 0, 1), "30");

    // Only the moved row while nothing else is selected.
    list.clearSelection();
    moveSlider(*sliderOf(list, 0), 50);
    EXPECT_EQ(s.current().voices[0].volume, 50);
    EXPECT_EQ(s.current().voices[1].volume, 30);

    // With Shift held every slider of the page follows.
    list.clearSelection();
    holdShift(true);
    moveSlider(*sliderOf(list, 0), 10);
    holdShift(false);
    for (int r = 0; r < rows; ++r) {
        EXPECT_EQ(s.current().voices[static_cast<std::size_t>(r)].volume, 10) << r;
        EXPECT_EQ(sliderOf(list, r)->value(), 10) << r;
    }
}

TEST(VolumePanoramaPages, PositionQueriesAndUnknownScrollCodesChangeNothing) {
    VolPanStudio s;
    QTableView& list = listOf(s.show(kStepVol), kStepVol);
    QSlider* slider = sliderOf(list, 0);
    s.project().saved = 1;
    {
        const QSignalBlocker quiet(slider);
        slider->setValue(12);
    }
    const int before = s.current().voices[0].volume;
    for (int code : {4, 6, 7, 9}) s.page(kStepVol).onHScroll(s.page(kStepVol), slider, code, 12);
    EXPECT_EQ(s.current().voices[0].volume, before);
    EXPECT_EQ(s.project().saved, 1);
    s.page(kStepVol).onHScroll(s.page(kStepVol), slider, 8, 12);
    EXPECT_EQ(s.current().voices[0].volume, 12);
}

TEST(VolumePanoramaPages, AProjectFileWithMoreVoicesThanTheEntryHasListsOnlyItsVoices) {
    VolPanStudio s;
    ProjectEntry& entry = s.current();
    const std::size_t voices = entry.voices.size();
    entry.voiceCounts[0] = 40;  // as a damaged project file might claim
    entry.states.create(static_cast<std::int32_t>(entry.voiceCounts.size()), entry.voiceCounts);
    QTableView& list = listOf(s.show(kStepPan), kStepPan);
    EXPECT_LE(static_cast<std::size_t>(list.model()->rowCount()), voices);
    for (int r = 0; r < list.model()->rowCount(); ++r) moveSlider(*sliderOf(list, r), -10);
    EXPECT_EQ(entry.voices.size(), voices);
}

TEST(VolumePanoramaPages, ScrollingTheListTakesTheSlidersOfRowsOutOfViewWithThem) {
    PageStudio s;
    ProjectEntry entry;
    entry.Filename = "/music/choir.mid";
    entry.kind = EntryKind::Midi;
    entry.voiceCounts.assign(40, 1);
    entry.voices.resize(40);
    entry.trackCount = 41;
    entry.states.create(40, entry.voiceCounts);
    entry.project = &s.project();
    s.project().entries.push_back(std::move(entry));
    s.project().currentEntry = 0;
    QTableView& list = listOf(s.show(kStepVol, {700, 360}), kStepVol);
    ASSERT_EQ(list.model()->rowCount(), 40);
    const auto inView = [&list](int row) {
        QSlider* slider = sliderOf(list, row);
        return slider != nullptr && slider->isVisibleTo(&list) && list.viewport()->rect().intersects(slider->geometry());
    };
    EXPECT_TRUE(inView(0));
    EXPECT_FALSE(inView(39));
    list.scrollToBottom();
    qvp3ui::testing::processEventsFor(10);
    EXPECT_FALSE(inView(0));
    EXPECT_TRUE(inView(39));
}

TEST(VolumePanoramaPages, SettingsSurviveSavingAndReopeningTheProject) {
    VolPanStudio s;
    QTableView& volumes = listOf(s.show(kStepVol), kStepVol);
    moveSlider(*sliderOf(volumes, 1), 77);
    QTableView& panorama = listOf(s.show(kStepPan), kStepPan);
    panorama.clearSelection();
    moveSlider(*sliderOf(panorama, 1), -30);
    const std::filesystem::path file = s.files.dir.path() / "Stage.c-1";
    ASSERT_TRUE(prjWriteFile(s.project(), &file));

    PipelineProject reopened;
    std::vector<std::int32_t> codes;
    std::vector<std::string> names;
    ASSERT_TRUE(prjReadFile(reopened.project, file, false, codes, names)) << ::testing::PrintToString(codes);
    ASSERT_EQ(reopened.project.fileNum(), 1);
    const ProjectEntry& again = reopened.project.entries[0];
    EXPECT_EQ(again.voices[1].volume, 77);
    EXPECT_EQ(again.voices[1].panorama, 34);
    EXPECT_EQ(again.voices[0].panorama, 64);
}

TEST(VolumePanoramaPages, AProfileGivesAnotherEntryTheSameSettingsOnThePage) {
    for (int step : {kStepVol, kStepPan}) {
        SCOPED_TRACE(std::string(stpCategoryCode(step)));
        VolPanStudio s;
        ASSERT_EQ(s.files.open(testing::sampleMidiFile()), 0);  // a second entry, now the current one
        s.project().currentEntry = 0;
        QTableView& list = listOf(s.show(step), step);
        list.clearSelection();
        const int second = step == kStepVol ? 5 : -5;
        moveSlider(*sliderOf(list, 0), 21);
        moveSlider(*sliderOf(list, 1), second);
        StepPage& page = s.page(step);
        ASSERT_TRUE(prfWriteNewProfile(&s.project().entries[0], s.host.profiles, "two hands", page, s.files.shell));
        const auto profiles = platform::listFiles(s.host.profiles.profileFolder, kProfilePattern);
        ASSERT_EQ(profiles.size(), 1u);

        s.project().currentEntry = 1;
        ASSERT_TRUE(stpLoadProfile(s.host.profiles, page, profiles[0], page.profileDataNum, step, nullptr));
        s.files.pages.stpRefreshAfterProfile(page, nullptr);
        EXPECT_EQ(cell(list, 0, 1), "21");
        EXPECT_EQ(cell(list, 1, 1), QString::number(second));
        EXPECT_EQ(sliderOf(list, 0)->value(), 21);
    }
}

// Two tracks, on channels 1 and 2, that each hold one note for five minutes:
// the music still plays whenever the test looks.
std::string longHeldNotes() {
    using namespace testing;
    std::string tracks[2];
    for (int channel = 0; channel < 2; ++channel) {
        tracks[channel] = name(channel == 0 ? "Upper" : "Lower") + ev(0, {0xC0 | channel, 0}) +
                          ev(0, {0x90 | channel, 60 - 12 * channel, 80}) +
                          ev(480 * 600, {0x80 | channel, 60 - 12 * channel, 0}) + endOfTrack();
    }
    return smf(1, 480, {tempo(0, 500000) + endOfTrack(), tracks[0], tracks[1]});
}

// Waits (up to a generous limit) until the output holds a note-on: the
// player then plays to it.
bool playerSounds(const platform::CaptureMidiOut& out) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < limit) {
        for (const auto& m : out.messages()) {
            if ((m.packed & 0xF0) == 0x90 && ((m.packed >> 16) & 0x7F) != 0) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

TEST(VolumePanoramaPages, APlayingMidiFileHearsAMovedSliderAtOnce) {
    PageStudio s;
    const std::filesystem::path file = s.files.dir.path() / "held.mid";
    platform::testing::writeBytes(file, longHeldNotes());
    ASSERT_EQ(s.files.open(file), 0);
    platform::CaptureMidiOut out;
    PlaybackControl transport(s.project(), s.files.engine);
    transport.outputForTests = &out;
    s.host.transport = &transport;
    ProjectEntry& entry = s.current();
    QTableView& volumes = listOf(s.show(kStepVol), kStepVol);
    QTableView& panorama = listOf(s.show(kStepPan), kStepPan);
    volumes.clearSelection();
    panorama.clearSelection();
    moveSlider(*sliderOf(volumes, 1), 20);
    EXPECT_EQ(out.count(), 0u) << "nothing is sent while the entry does not play";

    ASSERT_EQ(transport.plyStart(entry), 0);
    ASSERT_TRUE(playerSounds(out));
    out.clear();
    moveSlider(*sliderOf(volumes, 1), 90);
    moveSlider(*sliderOf(panorama, 1), -64);
    moveSlider(*sliderOf(panorama, 0), 63);
    std::vector<std::uint32_t> controllers;
    for (const auto& m : out.messages()) {
        if ((m.packed & 0xF0) == 0xB0) controllers.push_back(m.packed);
    }
    EXPECT_EQ(controllers, (std::vector<std::uint32_t>{
                               platform::packShortMessage(0xB1, 7, 90),    // the lower track's volume
                               platform::packShortMessage(0xB1, 10, 0),    // its panorama byte at the left end
                               platform::packShortMessage(0xB0, 10, 127),  // the upper track at the right end
                           }));
    transport.plyStop(entry);
    s.host.transport = nullptr;
}

TEST(VolumePanoramaPages, APlayingScoreTakesTheNewValuesInTheEngine) {
    testing::PlayingScoreStudio s;
    s.project().playFeatures = kPlayVolume | kPlayPanorama;
    QTableView& volumes = listOf(s.show(kStepVol), kStepVol);
    QTableView& panorama = listOf(s.show(kStepPan), kStepPan);
    ASSERT_GE(volumes.model()->rowCount(), 1);
    const VolPanModel& rows = *stpVolPanModel(s.page(kStepVol));
    const int stave = rows.stave(0);
    const int voice = rows.voice(0);

    ASSERT_EQ(s.transport.plyStart(s.current()), 0);
    moveSlider(*sliderOf(volumes, 0), 33);
    moveSlider(*sliderOf(panorama, 0), -20);
    EXPECT_EQ(s.engineVoice(stave, voice).volume, 33);
    EXPECT_EQ(static_cast<std::int8_t>(s.engineVoice(stave, voice).panorama), -20);

    // Stopped, the engine keeps what it played with until the next start.
    s.transport.plyStop(s.current());
    moveSlider(*sliderOf(volumes, 0), 70);
    EXPECT_EQ(s.engineVoice(stave, voice).volume, 33);
    EXPECT_EQ(s.current().voiceRecord(stave, voice)->volume, 70);
}

TEST(VolumePanoramaPages, Screenshots) {
    for (int step : {kStepVol, kStepPan}) {
        VolPanStudio s;
        s.useEnglish();
        s.current().voices[0].volume = 96;
        s.current().voices[1].panorama = 40;
        QWidget& window = s.show(step);
        qvp3ui::testing::processEventsFor(20);
        EXPECT_FALSE(qvp3ui::testing::saveScreenshot(window, "page_" + std::string(stpCategoryCode(step))).empty());
    }
}

}  // namespace
}  // namespace qvp3
