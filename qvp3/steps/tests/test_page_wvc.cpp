// The WAV conversion page beyond what it shares with the MIDI page: its two
// lists, what their selections offer, and a run of only the selected files.
#include <gtest/gtest.h>

#include <QAction>
#include <QItemSelectionModel>
#include <QStandardItemModel>
#include <QTreeView>

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

class WaveHost : public testing::RecordingPageHost {
public:
    WaveHost(Project& project, WaveRenderer& renderer) : RecordingPageHost(project), renderer_(renderer) {}
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

}  // namespace
}  // namespace qvp3
