// The WAV conversion page beyond what it shares with the MIDI page: its two
// lists, what their selections offer, a run of only the selected files, and
// the preview of the WAV files.
#include <gtest/gtest.h>

#include <QAction>
#include <QItemSelectionModel>
#include <QStandardItemModel>
#include <QTreeView>

#include <memory>
#include <mutex>
#include <set>

#include "../src/pages/page_conversion.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_table.h"
#include "shown_page_support.h"
#include "step_test_support.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using testing::ShownPage;

// Renders a tone for every file and remembers whose.
class ToneRenderer : public WaveRenderer {
public:
    int render(ProjectEntry& entry, const fs::path&, const fs::path& wavPath, const std::function<void(std::uint32_t)>&,
               const std::atomic<int>&) override {
        platform::testing::writeBytes(wavPath, testing::toneWave(4410));
        std::lock_guard lock(mutex);
        rendered.insert(entry.Filename.filename().string());
        return 0;
    }
    std::mutex mutex;
    std::set<std::string> rendered;
};

// A PCM device that takes every period at once and counts the frames.
struct PcmLog {
    std::mutex mutex;
    std::vector<std::string> opened;
    std::size_t frames = 0;
    int closes = 0;
};

class CountingPcm : public PcmBackend {
public:
    explicit CountingPcm(std::shared_ptr<PcmLog> log) : log_(std::move(log)) {}
    int open(const std::string& name, unsigned, unsigned, std::uint32_t, unsigned) override {
        std::lock_guard lock(log_->mutex);
        log_->opened.push_back(name);
        return 0;
    }
    PcmWaitResult waitPeriod(TimePoint) override { return {PcmWait::Ready, 0}; }
    void interrupt() override {}
    long write(const std::int16_t*, std::uint32_t frames) override {
        std::lock_guard lock(log_->mutex);
        log_->frames += frames;
        return frames;
    }
    int recover(int) override { return 0; }
    int drop() override { return 0; }
    PcmState state() const override { return PcmState::Running; }
    void close() override {
        std::lock_guard lock(log_->mutex);
        ++log_->closes;
    }

private:
    std::shared_ptr<PcmLog> log_;
};

class WaveHost : public testing::RecordingPageHost {
public:
    WaveHost(Project& project, WaveRenderer& renderer) : RecordingPageHost(project), renderer_(renderer) {}
    std::unique_ptr<PcmBackend> openPreviewAudio(std::string& deviceName) override {
        deviceName = "preview";
        return std::make_unique<CountingPcm>(pcm);
    }
    std::shared_ptr<PcmLog> pcm = std::make_shared<PcmLog>();
    std::optional<WaveStepSetup> waveStepSetup() override {
        WaveStepSetup setup;
        setup.project = &project();
        setup.synthesizer = &renderer_;
        setup.pauseAfterFile = std::chrono::milliseconds(0);
        return setup;
    }

private:
    WaveRenderer& renderer_;
};

// Three entries with their converted MIDI files, two of them rendered before.
struct WvcFixture {
    WvcFixture() {
        project.data.ProjectFolder = dir.path();
        for (int i = 0; i < 3; ++i) {
            ProjectEntry entry;
            entry.Filename = dir.path() / ("piece" + std::to_string(i) + ".mid");
            entry.convertedMidiPath = dir.path() / ("piece" + std::to_string(i) + "_qvpcnv.mid");
            platform::testing::writeBytes(entry.convertedMidiPath, "MThd");
            entry.project = &project;
            project.entries.push_back(std::move(entry));
        }
        project.convertedMidiCount = 3;
        project.currentEntry = 0;
        project.normalize = 0;
        stpSetPageHost(&host);
    }
    ~WvcFixture() { stpSetPageHost(nullptr); }
    StepPage& page() { return *project.stepPages[kStepWvc]; }
    void select(ShownPage& shown, int listId, int row) {
        auto* list = shown.find<QTreeView>(listId);
        list->selectionModel()->select(list->model()->index(row, 0),
                                       QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }

    platform::testing::TempFolder dir;
    testing::TableShell shell;
    StepPages pages;
    Project project{Neighbours{nullptr, nullptr, &shell, &pages}};
    ToneRenderer renderer;
    WaveHost host{project, renderer};
};

TEST(WavePage, ShowingSelectsTheFirstMidiFileAndTheSelectionsChooseThePreview) {
    testing::EnglishTexts texts;
    WvcFixture f;
    f.project.waveConvertAll = 0;
    f.project.convertedWaveCount = 3;
    ShownPage wvc(f.page());
    stpShowPage(wvc.page, true);
    auto* midiList = wvc.find<QTreeView>(kConvFileList);
    ASSERT_EQ(midiList->model()->rowCount(), 3);
    EXPECT_EQ(midiList->selectionModel()->selectedRows().size(), 1) << "the first file, so that run has a choice";
    EXPECT_TRUE(wvc.button(kCmdRun)->isEnabled());

    int& target = stpData<WvcData>(wvc.page)->previewTarget;
    wvc.find<QTreeView>(kConvWaveList)->selectionModel()->clearSelection();
    midiList->selectionModel()->clearSelection();
    EXPECT_EQ(target, -1);
    EXPECT_FALSE(wvc.button(kCmdToggle)->isEnabled()) << "nothing chosen to play";
    f.select(wvc, kConvWaveList, 1);
    EXPECT_EQ(target, kPreviewWaveList);
    EXPECT_TRUE(wvc.button(kCmdToggle)->isEnabled());
    f.select(wvc, kConvFileList, 2);
    EXPECT_EQ(target, kPreviewMidiList);
    EXPECT_FALSE(wvc.screenshot("page_wvc").empty());
}

TEST(WavePage, WithoutConvertAllOnlyTheSelectedFilesRender) {
    WvcFixture f;
    f.project.waveConvertAll = 0;
    f.project.convertedWaveCount = 3;
    for (ProjectEntry& e : f.project.entries) {
        e.convertedWavePath = fs::path(e.convertedMidiPath).replace_extension(".wav");
        platform::testing::writeBytes(e.convertedWavePath, testing::toneWave(441));
    }
    f.project.waveOverwrite = 1;
    ShownPage wvc(f.page());
    stpShowPage(wvc.page, true);
    f.select(wvc, kConvFileList, 2);
    wvc.button(kCmdRun)->trigger();
    ASSERT_TRUE(wvc.waitForDone(1));
    EXPECT_EQ(f.renderer.rendered, std::set<std::string>{"piece2.mid"});
    EXPECT_EQ(f.project.convertedWaveCount, 3);
}

// The WAV list's selected files play one after another on the preview's
// PCM device, with both lists disabled while one plays.
TEST(WavePage, PreviewPlaysTheSelectedWavFilesOnThePcmDevice) {
    WvcFixture f;
    for (int i = 0; i < 3; ++i) {
        auto& entry = f.project.entries[static_cast<std::size_t>(i)];
        entry.convertedWavePath = f.dir.path() / ("piece" + std::to_string(i) + "_qvpcnv.wav");
        platform::testing::writeBytes(entry.convertedWavePath, testing::toneWave(44100 * (i + 1)));
    }
    f.project.convertedWaveCount = 3;
    ShownPage wvc(f.page());
    stpShowPage(wvc.page, true);
    auto* waveList = wvc.find<QTreeView>(kConvWaveList);
    waveList->clearSelection();
    f.select(wvc, kConvFileList, 0);
    wvc.find<QTreeView>(kConvFileList)->clearSelection();
    waveList->selectionModel()->select(waveList->model()->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    waveList->selectionModel()->select(waveList->model()->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    ASSERT_EQ(stpData<WvcData>(wvc.page)->previewTarget, kPreviewWaveList);

    wvc.page.onCommand(wvc.page, kCmdToggle, nullptr, 0);
    EXPECT_EQ(f.project.entries[0].entryState, kEntryPreviewing);
    EXPECT_FALSE(waveList->isEnabled());
    EXPECT_FALSE(wvc.find<QTreeView>(kConvFileList)->isEnabled());
    EXPECT_FALSE(wvc.button(kCmdRun)->isEnabled());

    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    auto done = [&] {
        std::lock_guard lock(f.host.pcm->mutex);
        return f.host.pcm->closes == 2 && f.project.entries[2].entryState == 0 && waveList->isEnabled();
    };
    while (!done() && std::chrono::steady_clock::now() < end) qvp3ui::testing::processEventsFor(10);
    ASSERT_TRUE(done());
    std::lock_guard lock(f.host.pcm->mutex);
    EXPECT_EQ(f.host.pcm->opened, (std::vector<std::string>{"preview", "preview"}));
    EXPECT_EQ(f.host.pcm->frames, std::size_t{44100 + 3 * 44100}) << "the first and the third file, whole";
    EXPECT_EQ(f.project.entries[1].entryState, 0);
    EXPECT_TRUE(wvc.button(kCmdRun)->isEnabled());
}

}  // namespace
}  // namespace qvp3
