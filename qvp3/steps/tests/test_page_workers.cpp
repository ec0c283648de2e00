#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QWidget>

#include "platform/message_target.h"
#include "qvp3_steps/page_workers.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/controls.h"
#include "step_test_support.h"

namespace qvp3 {
namespace {

using namespace std::chrono_literals;
using testing::StepFixture;

// A page with a window and a recording target in place of the dialog.
struct AttachedPage {
    AttachedPage(StepPage& p) : page(p) { stpAttachWindow(page, &window, &target); }
    ~AttachedPage() { stpAttachWindow(page, nullptr, nullptr); }
    StepPage& page;
    QWidget window;
    platform::RecordingMessageTarget target;
};

TEST(PageWorkers, ANotifierStartedOnShowReportsToItsPage) {
    StepFixture f;
    AttachedPage tmp(f.page(kStepTmp));
    EXPECT_EQ(stpShowPage(tmp.page, true), 1);
    ASSERT_TRUE(tmp.target.waitForCount(1, 5s));
    const auto message = tmp.target.messages().front();
    EXPECT_EQ(message.msg, platform::WM_STEP_WORKER_DONE);
    EXPECT_EQ(message.delivery, platform::Delivery::Posted);
    EXPECT_EQ(f.host.workerDoneCalls, 1);
    EXPECT_EQ(f.host.fileListRefreshes, 1);
    EXPECT_EQ(f.host.profileBarModes.back(), kProfileBarEmpty) << "no profile folder: an empty list";
    // The page answers the message on its own thread by freeing the record.
    ASSERT_NE(stpData<StepDataBlock>(tmp.page)->worker, nullptr);
    tmp.page.stopWorker(tmp.page);
    EXPECT_EQ(stpData<StepDataBlock>(tmp.page)->worker, nullptr);
}

TEST(PageWorkers, ShowingWhileTheCurrentEntryPlaysStartsNoNotifier) {
    StepFixture f;
    f.addEntry(EntryKind::Midi).entryState = kEntryPlayingAlt;
    f.project.currentEntry = 0;
    AttachedPage sls(f.page(kStepSls));
    EXPECT_EQ(stpShowPage(sls.page, true), 1);
    EXPECT_EQ(stpData<StepDataBlock>(sls.page)->worker, nullptr);
    EXPECT_EQ(f.host.fileListRefreshes, 0);
}

TEST(PageWorkers, HidingAPageEndsItsNotifierWithoutAMessage) {
    StepFixture f;
    f.host.workerDoneDelay = 150ms;
    AttachedPage dyn(f.page(kStepDyn));
    stpShowPage(dyn.page, true);
    stpShowPage(dyn.page, false);
    EXPECT_EQ(stpData<StepDataBlock>(dyn.page)->worker, nullptr);
    EXPECT_FALSE(dyn.target.waitForCount(1, 100ms));
}

TEST(PageWorkers, AJobKeepsRunningWhenItsPageIsLeft) {
    StepFixture f;
    AttachedPage mdc(f.page(kStepMdc));
    MidiStepPage& job = stpData<MdcData>(mdc.page)->job;
    {
        std::lock_guard lock(job.mutex);
        job.worker = std::make_unique<WorkerThreadRec>();
        ASSERT_NE(stpStartWorker(job.worker.get(), [](WorkerThreadRec& r) { r.event.wait(); }, true,
                                 platform::ThreadPriority::Normal, 0, &job),
                  nullptr);
    }
    stpShowPage(mdc.page, true);
    stpShowPage(mdc.page, false);
    ASSERT_NE(job.worker, nullptr);
    EXPECT_TRUE(job.worker->running());
    job.worker->event.set();
    stpStopWorker(job.worker.get());
    job.worker.reset();
}

TEST(PageWorkers, TheDoneMessageGivesTheJobPagesTheirRunButtonBack) {
    StepFixture f;
    for (int step : {kStepMdc, kStepWvc, kStepBrn}) {
        AttachedPage attached(f.page(step));
        auto* run = new QAction(&attached.window);
        qvp3ui::setControlId(*run, kCmdRun);
        run->setEnabled(false);
        EXPECT_TRUE(stpRunButtonDisabled(attached.page));
        attached.page.stopWorker(attached.page);
        EXPECT_TRUE(run->isEnabled()) << step;
        EXPECT_FALSE(stpRunButtonDisabled(attached.page));
    }
}

TEST(PageWorkers, TheToggleGreysByTheLockOrByThePageButton) {
    StepFixture f;
    StepPage& prc = f.page(kStepPrc);
    EXPECT_FALSE(prc.isToggleDisabled(prc));
    stpData<StepDataBlock>(prc)->toggleDisabled = true;
    EXPECT_TRUE(prc.isToggleDisabled(prc));

    AttachedPage wvc(f.page(kStepWvc));
    EXPECT_FALSE(wvc.page.isToggleDisabled(wvc.page)) << "no button: not greyed";
    auto* toggle = new QAction(&wvc.window);
    qvp3ui::setControlId(*toggle, kCmdToggle);
    toggle->setEnabled(false);
    EXPECT_TRUE(wvc.page.isToggleDisabled(wvc.page));
}

TEST(PageWorkers, TheTempoPagesForgetTheirChangeWhenAWorkerReports) {
    StepFixture f;
    auto* tpp = stpData<TppData>(f.page(kStepTpp));
    for (int step : {kStepTpp, kStepDyn}) {
        tpp->changed = true;
        f.page(step).stopWorker(f.page(step));
        EXPECT_FALSE(tpp->changed) << step;
    }
}

TEST(PageWorkers, CleanUpDeletesWhatIsTickedAndAsksBeforeConvertedFiles) {
    struct Case {
        const char* what;
        bool midi, wave, mp3;
        int answer;
        std::vector<std::string> deleted;
        bool asked;
        std::vector<int> commands;
    } cases[] = {
        {"MP3 files only: no question", false, false, true, kIdYes, {"mp3"}, false, {}},
        {"nothing ticked", false, false, false, kIdYes, {}, false, {}},
        {"MIDI files, answer No", true, false, false, kIdNo, {}, true, {}},
        {"MIDI and WAV files, answer Yes", true, true, false, kIdYes, {"mid", "wav"}, true, {kCmdCloseFiles}},
        {"all three, answer No", true, true, true, kIdNo, {"mp3"}, true, {}},
    };
    for (const Case& c : cases) {
        StepFixture f;
        f.shell.answer = c.answer;
        AttachedPage cln(f.page(kStepCln));
        for (auto [id, ticked] : {std::pair{kClnMidiBox, c.midi}, {kClnWaveBox, c.wave}, {kClnMp3Box, c.mp3}}) {
            auto* box = new QCheckBox(&cln.window);
            qvp3ui::setControlId(*box, id);
            box->setChecked(ticked);
        }
        cln.page.onRun(cln.page);
        EXPECT_EQ(f.shell.deleted, c.deleted) << c.what;
        EXPECT_EQ(!f.shell.questions.empty(), c.asked) << c.what;
        EXPECT_EQ(f.host.commands, c.commands) << c.what;
        EXPECT_EQ(f.shell.boxes.size(), c.commands.empty() ? 0u : 1u) << c.what;
    }
}

TEST(PageWorkers, SoundConfigurationRunWarnsWhenTheInstrumentDoesNotLoad) {
    struct Case {
        int method, result;
        bool warned;
    } cases[] = {{1, 0, false}, {1, 2, false}, {1, -5, true}, {0, -5, false}};
    for (const Case& c : cases) {
        StepFixture f;
        f.addEntry(EntryKind::Midi).MWConversionMethod = c.method;
        f.project.currentEntry = 0;
        f.host.loadResult = c.result;
        f.page(kStepPwc).onRun(f.page(kStepPwc));
        ASSERT_EQ(f.shell.boxes.size(), c.warned ? 1u : 0u) << c.result;
        if (c.warned) {
            EXPECT_EQ(f.shell.boxes[0].second, "S116");
        }
    }
}

}  // namespace
}  // namespace qvp3

namespace qvp3 {
namespace {

using namespace std::chrono_literals;
using testing::StepFixture;

TEST(PagePreviews, TheMetronomePreviewClicksUntilItIsStoppedOrItsPageIsLeft) {
    StepFixture f;
    StepPage& met = f.page(kStepMet);
    EXPECT_TRUE(stpStartPreviewThread(met)) << "no current entry: nothing to do";
    EXPECT_EQ(f.host.menuChecks, 0);
    f.addEntry(EntryKind::Midi);
    f.project.currentEntry = 0;

    ASSERT_TRUE(stpStartPreviewThread(met));
    auto* data = stpData<PreviewData>(met);
    ASSERT_NE(data->preview, nullptr);
    auto* out = static_cast<platform::CaptureMidiOut*>(f.host.lastPreviewOutput);
    for (int i = 0; i < 200 && out->messages().empty(); ++i) std::this_thread::sleep_for(5ms);
    EXPECT_FALSE(out->messages().empty()) << "the first beat clicks at once";
    EXPECT_EQ(f.project.entries[0].metronome.inUse, 1);

    ASSERT_TRUE(stpStartPreviewThread(met));  // the toggle again: stops it
    EXPECT_EQ(data->preview, nullptr);
    EXPECT_EQ(data->previewOut, nullptr);
    EXPECT_EQ(f.project.entries[0].metronome.inUse, 0);
    EXPECT_EQ(f.host.menuChecks, 2);

    ASSERT_TRUE(stpStartPreviewThread(met));
    stpShowPage(met, false);
    EXPECT_EQ(data->preview, nullptr) << "leaving the page ends the preview";

    f.host.previewOutputs = false;
    EXPECT_FALSE(stpStartPreviewThread(met)) << "no output: the page warns";
    EXPECT_EQ(data->preview, nullptr);
    f.project.entries[0].entryState = kEntryPlaying;
    EXPECT_TRUE(stpStartPreviewThread(met)) << "an entry plays: nothing to do";
    EXPECT_TRUE(stpStartPreviewThread(f.page(kStepEin))) << "only the metronome page previews here";
}

TEST(PagePreviews, UpDownsOfTheTuneUpAndMetronomePagesChangeTheEntry) {
    struct Case {
        const char* what;
        int step, control, code, position;
        int duration, countIn, velocity;
        bool dirty;
    } cases[] = {
        {"tune-up duration in tenths of a second", kStepEin, kEinDurationUpDown, 4, 25, 2500, 2, 50, true},
        {"tune-up: the end of a scroll changes nothing", kStepEin, kEinDurationUpDown, kScrollEnd, 25, 1000, 2, 50, false},
        {"tune-up: another control", kStepEin, 15003, 4, 25, 1000, 2, 50, false},
        {"tune-up: a negative duration is none", kStepEin, kEinDurationUpDown, 4, -3, 0, 2, 50, true},
        {"metronome count-in", kStepMet, kMetCountInUpDown, 4, 3, 1000, 3, 50, true},
        {"metronome velocity", kStepMet, kMetVelocityUpDown, 4, 90, 1000, 2, 90, true},
        {"metronome velocity stays a MIDI velocity", kStepMet, kMetVelocityUpDown, 4, 300, 1000, 2, 127, true},
    };
    for (const Case& c : cases) {
        StepFixture f;
        f.addEntry(EntryKind::Midi);
        f.project.currentEntry = 0;
        f.project.currentStep = c.step;
        f.project.saved = 1;
        QWidget upDown;
        qvp3ui::setControlId(upDown, c.control);
        StepPage& page = f.page(c.step);
        EXPECT_EQ(page.onVScroll(page, &upDown, c.code, c.position), 0) << c.what;
        const ProjectEntry& entry = f.project.entries[0];
        EXPECT_EQ(entry.tuneUp.Duration, c.duration) << c.what;
        EXPECT_EQ(entry.metronome.CountIn, c.countIn) << c.what;
        EXPECT_EQ(entry.metronome.Velocity, c.velocity) << c.what;
        EXPECT_EQ(f.project.saved == 0, c.dirty) << c.what;
        EXPECT_EQ(f.host.commandRefreshes, c.dirty ? 1 : 0) << c.what;
    }
}

}  // namespace
}  // namespace qvp3
