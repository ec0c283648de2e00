// The conversion pages (MIDI and WAV share one design): the step status,
// what the refresh offers, the option boxes into the project and its file,
// and the job's reports arriving on the page.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QProgressBar>
#include <QStandardItemModel>
#include <QTreeView>

#include <string>
#include <thread>
#include <vector>

#include "../src/pages/page_conversion.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_project/project_file.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_table.h"
#include "shown_page_support.h"
#include "step_test_support.h"

namespace qvp3 {
namespace {

using namespace std::chrono_literals;
using testing::ShownPage;
using testing::StepFixture;

void addEntries(StepFixture& f, int count) {
    for (int i = 0; i < count; ++i) f.addEntry(EntryKind::Midi);
}

TEST(ConversionPages, StatusFollowsTheConvertedCountThenTheEarlierSteps) {
    struct Case {
        int step;
        int files;
        int converted;
        ProjectDirty dirty;
        int state;
        int stringId;
        int show;
    } cases[] = {
        {kStepMdc, 0, 0, 0, 0, 0, 0},             // no files: nothing to convert
        {kStepMdc, 0, 0, 0x4, -2, 55, 1},         // no files, but an earlier step changed
        {kStepMdc, 2, 1, 0, -1, 52, 1},           // one file not converted
        {kStepMdc, 2, 2, 0, 0, 0, 0},             // all converted, nothing changed
        {kStepMdc, 2, 2, 0x1000, -2, 55, 1},      // EIN (12) changed since
        {kStepMdc, 2, 2, 0x2000, 0, 0, 0},        // MDC's own bit is not an earlier step
        {kStepWvc, 2, 1, 0, -1, 289, 1},
        {kStepWvc, 2, 2, 0x4000, -2, 55, 1},      // PWC (14) changed since
        {kStepWvc, 2, 2, kDirtyWaveDone, 0, 0, 0},
    };
    for (const Case& c : cases) {
        StepFixture f;
        addEntries(f, c.files);
        (c.step == kStepMdc ? f.project.convertedMidiCount : f.project.convertedWaveCount) = c.converted;
        f.project.dirty = c.dirty;
        StepStatus status;
        StepPage& page = f.page(c.step);
        page.getStatus(page, f.project, status);
        EXPECT_EQ(status.state, c.state) << c.step << " " << c.converted << " " << c.dirty;
        EXPECT_EQ(status.stringId, c.stringId) << c.step << " " << c.converted << " " << c.dirty;
        EXPECT_EQ(status.show, c.show) << c.step << " " << c.converted << " " << c.dirty;
    }
}

TEST(ConversionPages, AStepWhoseJobRunsReportsItselfBusy) {
    StepFixture f;
    StepPage& page = f.page(kStepMdc);
    MidiStepPage& job = stpData<MdcData>(page)->job;
    {
        std::lock_guard lock(job.mutex);
        job.worker = std::make_unique<WorkerThreadRec>();
        ASSERT_NE(stpStartWorker(job.worker.get(), [](WorkerThreadRec& r) { r.event.wait(); }, true,
                                 platform::ThreadPriority::Normal, 0, &job),
                  nullptr);
    }
    StepStatus status;
    page.getStatus(page, f.project, status);
    EXPECT_EQ(status.state, -1);
    EXPECT_EQ(status.stringId, kStrStepBusy);
    EXPECT_EQ(status.show, 3);
    job.worker->event.set();
    stpStopWorker(job.worker.get());
    job.worker.reset();
}

TEST(ConversionPages, TheRefreshForcesConvertAllUntilEveryFileIsConverted) {
    struct Case {
        ConversionPageKind kind;
        int files, midi, wave, items;
        bool entryPlaying;
        bool allChecked, allEnabled, overwriteEnabled, run, preview;
    } cases[] = {
        // MIDI: one file missing forces ConvertAll on and locks its box.
        {ConversionPageKind::Midi, 2, 1, 0, 1, false, true, false, true, true, true},
        // Everything converted: the box is free and keeps the user's choice (off).
        {ConversionPageKind::Midi, 2, 2, 0, 1, false, false, true, true, true, true},
        // No selection in the main list: nothing to run.
        {ConversionPageKind::Midi, 2, 2, 0, 0, false, false, false, false, false, true},
        // The current entry plays: neither run nor preview.
        {ConversionPageKind::Midi, 2, 2, 0, 1, true, false, true, true, false, false},
        // WAV: fewer WAV than MIDI files forces ConvertAll on.
        {ConversionPageKind::Wave, 2, 2, 1, 0, false, true, false, true, true, true},
        // WAV: all rendered, no selection and ConvertAll off: run waits for a selection.
        {ConversionPageKind::Wave, 2, 2, 2, 0, false, false, true, true, false, true},
        {ConversionPageKind::Wave, 2, 2, 2, 1, false, false, true, true, true, true},
    };
    for (const Case& c : cases) {
        StepFixture f;
        addEntries(f, c.files);
        f.project.currentEntry = 0;
        f.project.entries[0].entryState = c.entryPlaying ? kEntryPlaying : 0;
        f.project.convertedMidiCount = c.midi;
        f.project.convertedWaveCount = c.wave;
        f.project.midiConvertAll = 0;
        f.project.waveConvertAll = 0;
        const ConversionPageLook look = stpConversionLook(f.project, c.kind, c.items);
        const int row = static_cast<int>(&c - cases);
        EXPECT_EQ(look.convertAllChecked, c.allChecked) << row;
        EXPECT_EQ(look.convertAllEnabled, c.allEnabled) << row;
        EXPECT_EQ(look.overwriteEnabled, c.overwriteEnabled) << row;
        EXPECT_EQ(look.runEnabled, c.run) << row;
        EXPECT_EQ(look.previewEnabled, c.preview) << row;
        const std::uint8_t forced = c.kind == ConversionPageKind::Midi ? f.project.midiConvertAll : f.project.waveConvertAll;
        EXPECT_EQ(forced != 0, c.allChecked) << row << ": the project's flag follows the box";
    }
}

// The boxes on a fixture entry: the project's flags, the dirty mark of the
// step, and the project file written and read again.
TEST(ConversionPages, OptionBoxesSetTheProjectFlagsAndSurviveSaveAndReopen) {
    struct Case {
        int step, overwriteBox, allBox;
        std::uint8_t Project::*overwrite;
        std::uint8_t Project::*all;
    } cases[] = {
        {kStepMdc, kMdcOverwriteBox, kMdcConvertAllBox, &Project::midiOverwrite, &Project::midiConvertAll},
        {kStepWvc, kWvcOverwriteBox, kWvcConvertAllBox, &Project::waveOverwrite, &Project::waveConvertAll},
    };
    testing::EnglishTexts texts;
    for (const Case& c : cases) {
        StepFixture f;
        platform::testing::TempFolder dir;
        f.project.data.ProjectFolder = dir.path();
        f.project.data.ProjectTitle = "Options";
        f.project.data.CDSpace = 4800;
        addEntries(f, 1);
        f.project.currentEntry = 0;
        f.project.currentStep = c.step;
        f.project.convertedMidiCount = 1;
        f.project.convertedWaveCount = 1;
        f.project.saved = 1;
        f.project.dirty = 0;
        ShownPage shown(f.page(c.step));
        stpShowPage(shown.page, true);
        ASSERT_TRUE(shown.find<QCheckBox>(c.overwriteBox)->isEnabled());
        ASSERT_TRUE(shown.find<QCheckBox>(c.allBox)->isEnabled());
        shown.click(c.overwriteBox);
        shown.click(c.allBox);
        EXPECT_EQ(f.project.*c.overwrite, 1);
        EXPECT_EQ(f.project.*c.all, 0);
        EXPECT_EQ(f.project.saved, 0) << "a changed option marks the project changed";
        EXPECT_EQ(f.project.dirty, ProjectDirty{1} << c.step);
        EXPECT_GE(f.host.commandRefreshes, 2);

        const std::filesystem::path file = dir.path() / "options.c-1";
        ASSERT_TRUE(prjWriteFile(f.project, &file));
        Project reopened;
        std::vector<std::int32_t> codes;
        std::vector<std::string> names;
        ASSERT_TRUE(prjReadFile(reopened, file, false, codes, names)) << (codes.empty() ? 0 : codes[0]);
        EXPECT_EQ(reopened.*c.overwrite, 1) << c.step;
        EXPECT_EQ(reopened.*c.all, 0) << c.step;
        stpShowPage(shown.page, false);
    }
}

// The job's reports are posted: they reach the page's controls only when the
// page's thread runs its events, and the view may be driven from any thread.
TEST(ConversionPages, TheJobsReportsArriveThroughTheWindowsEvents) {
    testing::EnglishTexts texts;
    StepFixture f;
    ShownPage shown(f.page(kStepMdc));
    ConversionStepView* view = stpData<MdcData>(shown.page)->job.view;
    ASSERT_NE(view, nullptr) << "the page gives its job a view";
    std::thread worker([view] {
        view->showProgress({4, 3}, {100, 40});
        view->showRows({{0, "a.mid", 11, false}, {1, "Converting b.mid", 11, true}});
        view->showRunButton(kStrCancelButton, kImageCancelButton, kStrCancelMenu, false);
    });
    worker.join();
    auto* total = shown.find<QProgressBar>(kConvTotalBar);
    EXPECT_NE(total->value(), 3) << "nothing is shown before the events run";
    qvp3ui::testing::processEventsFor(30);
    EXPECT_EQ(total->maximum(), 4);
    EXPECT_EQ(total->value(), 3);
    EXPECT_EQ(shown.find<QProgressBar>(kConvFileBar)->value(), 40);
    auto* model = qobject_cast<QStandardItemModel*>(shown.find<QTreeView>(kConvFileList)->model());
    ASSERT_EQ(model->rowCount(), 2);
    EXPECT_EQ(model->item(1)->text(), "Converting b.mid");
    EXPECT_EQ(shown.button(kCmdRun)->text(), "Cancel");
    EXPECT_FALSE(shown.button(kCmdToggle)->isEnabled());
}

// A report posted after the page's window is gone is dropped.
TEST(ConversionPages, AReportAfterTheWindowHasGoneIsDropped) {
    StepFixture f;
    ConversionStepView* view = nullptr;
    {
        ShownPage shown(f.page(kStepWvc));
        view = stpData<WvcData>(shown.page)->job.view;
    }
    view->showProgress({1, 1}, {1, 1});
    view->stepEnded();
    qvp3ui::testing::processEventsFor(20);
    SUCCEED();
}

TEST(ConversionPages, PreviewOfAnEmptyListDoesNothingElseItSaysItCannotPlay) {
    StepFixture f;
    addEntries(f, 1);
    f.project.currentEntry = 0;
    ShownPage shown(f.page(kStepMdc));
    shown.page.onToggle(shown.page);
    EXPECT_TRUE(f.shell.boxes.empty());
    auto* model = qobject_cast<QStandardItemModel*>(shown.find<QTreeView>(kConvFileList)->model());
    model->appendRow(new QStandardItem("piece0.mid"));
    shown.page.onToggle(shown.page);
    ASSERT_EQ(f.shell.boxes.size(), 1u);
    EXPECT_EQ(f.shell.boxes[0], std::make_pair(kBoxWarning, std::string("S300")));
}

// A one-note MIDI file: the key sounds from the start for `ticks` ticks at
// 120 quarters a minute and 480 ticks a quarter (480 ticks: half a second).
std::string oneNoteMidi(std::uint8_t key, std::uint32_t ticks) {
    std::string track{'\x00', '\x90', static_cast<char>(key), '\x40'};
    std::string delta;
    for (std::uint32_t v = ticks; ; v >>= 7) {
        delta.insert(delta.begin(), static_cast<char>((v & 0x7F) | (delta.empty() ? 0 : 0x80)));
        if (v < 0x80) break;
    }
    track += delta + std::string{'\x80', static_cast<char>(key), '\x00', '\x00', '\xFF', '\x2F', '\x00'};
    std::string file{"MThd\0\0\0\x06\0\0\0\x01\x01\xE0MTrk", 18};
    for (int shift = 24; shift >= 0; shift -= 8) file += static_cast<char>((track.size() >> shift) & 0xFF);
    return file + track;
}

// The keys whose note-on reached the output, in order.
std::vector<int> playedKeys(const platform::MidiOutDevice* out) {
    std::vector<int> keys;
    const auto* capture = dynamic_cast<const platform::CaptureMidiOut*>(out);
    if (capture == nullptr) return keys;
    for (const auto& m : capture->messages()) {
        if (m.kind == platform::CaptureMidiOut::Message::Kind::Short && (m.packed & 0xF0) == 0x90 &&
            ((m.packed >> 16) & 0x7F) != 0) {
            keys.push_back(static_cast<int>((m.packed >> 8) & 0x7F));
        }
    }
    return keys;
}

template <class Condition>
bool waitFor(Condition done, std::chrono::seconds timeout = 20s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done() && std::chrono::steady_clock::now() < end) qvp3ui::testing::processEventsFor(10);
    return done();
}

// Two converted files of different keys; the first plays `firstTicks`.
struct PreviewFixture {
    explicit PreviewFixture(std::uint32_t firstTicks) {
        for (int i = 0; i < 2; ++i) {
            ProjectEntry& entry = f.addEntry(EntryKind::Midi);
            entry.convertedMidiPath = dir.path() / ("piece" + std::to_string(i) + "_qvpcnv.mid");
            platform::testing::writeBytes(entry.convertedMidiPath, oneNoteMidi(60 + i, i == 0 ? firstTicks : 48));
        }
        f.project.convertedMidiCount = 2;
        f.project.currentEntry = 0;
    }
    void selectBoth(ShownPage& shown) {
        auto* list = shown.find<QTreeView>(kConvFileList);
        list->selectAll();
    }
    std::int32_t state(int i) const { return f.project.entries[static_cast<std::size_t>(i)].entryState; }

    platform::testing::TempFolder dir;
    StepFixture f;
};

TEST(ConversionPages, PreviewPlaysTheSelectedFilesOneAfterAnotherWithThePageDisabled) {
    PreviewFixture p(480);
    ShownPage shown(p.f.page(kStepMdc));
    stpShowPage(shown.page, true);
    p.selectBoth(shown);
    shown.page.onCommand(shown.page, kCmdToggle, nullptr, 0);

    EXPECT_EQ(p.state(0), kEntryPreviewing);
    EXPECT_FALSE(shown.button(kCmdRun)->isEnabled());
    EXPECT_FALSE(shown.find<QTreeView>(kConvFileList)->isEnabled());
    EXPECT_TRUE(shown.button(kCmdToggle)->isEnabled()) << "it stops the preview";
    EXPECT_FALSE(p.f.host.fileListsEnabled);
    StepStatus status;
    shown.page.getStatus(shown.page, p.f.project, status);
    EXPECT_EQ(status.show, 3) << "busy while a file plays";

    ASSERT_TRUE(waitFor([&] { return p.state(1) == kEntryPreviewing || playedKeys(p.f.host.lastPreviewOutput).size() == 2; }))
        << "the second file follows the first";
    ASSERT_TRUE(waitFor([&] { return p.state(0) == 0 && p.state(1) == 0 && shown.button(kCmdRun)->isEnabled(); }));
    EXPECT_EQ(playedKeys(p.f.host.lastPreviewOutput), (std::vector<int>{60, 61}));
    EXPECT_TRUE(shown.find<QTreeView>(kConvFileList)->isEnabled());
    EXPECT_TRUE(p.f.host.fileListsEnabled);
    shown.page.getStatus(shown.page, p.f.project, status);
    EXPECT_NE(status.show, 3);
    EXPECT_TRUE(p.f.shell.boxes.empty());
}

TEST(ConversionPages, StoppingThePreviewSilencesItAndGivesThePageBack) {
    PreviewFixture p(480 * 60);  // half a minute: it plays until stopped
    ShownPage shown(p.f.page(kStepMdc));
    stpShowPage(shown.page, true);
    p.selectBoth(shown);
    shown.page.onCommand(shown.page, kCmdToggle, nullptr, 0);
    ASSERT_TRUE(waitFor([&] { return playedKeys(p.f.host.lastPreviewOutput).size() == 1; }));
    ASSERT_EQ(p.state(0), kEntryPreviewing);

    shown.page.onCommand(shown.page, kCmdToggle, nullptr, 0);
    EXPECT_EQ(p.state(0), 0);
    EXPECT_TRUE(shown.button(kCmdRun)->isEnabled());
    EXPECT_TRUE(shown.find<QTreeView>(kConvFileList)->isEnabled());
    EXPECT_TRUE(p.f.host.fileListsEnabled);
    const auto* capture = dynamic_cast<const platform::CaptureMidiOut*>(p.f.host.lastPreviewOutput);
    ASSERT_NE(capture, nullptr);
    EXPECT_EQ(capture->messages().back().kind, platform::CaptureMidiOut::Message::Kind::Reset) << "no note hangs";
    qvp3ui::testing::processEventsFor(100);
    EXPECT_EQ(p.state(1), 0) << "a stop does not go on to the next file";
    EXPECT_EQ(playedKeys(p.f.host.lastPreviewOutput), std::vector<int>{60});
}

}  // namespace
}  // namespace qvp3
