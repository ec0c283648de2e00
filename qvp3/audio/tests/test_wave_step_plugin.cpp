// The WAV step with the plug-in method: the render host plays each entry's
// converted MIDI file through the synth test plug-in (left = key / 128,
// right = velocity / 128 while a note sounds) into its WAV file, the pause
// after it as silence; and a cancel during a render keeps the earlier file.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/message_target.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_audio/wave_render_adapter.h"
#include "qvp3_pipeline/wave_file.h"
#include "qvp3_pipeline/wave_step.h"
#include "qvp3_project/project_folder.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::uint32_t kRate = 44100;
constexpr std::size_t kQuarter = 26460;  // 600 ms at 100 to the quarter
constexpr int kKeys[] = {60, 62, 64, 65, 67, 69, 71, 72};

std::vector<std::int16_t> samples(const fs::path& file) {
    CWaveFile wave;
    WaveFormatEx format;
    if (wave.Open(file, &format, CWaveFile::kModeRead) != S_OK || !(format == WaveFormatEx::pcm(kRate, 2, 16))) return {};
    std::vector<std::int16_t> out(wave.DataSize() / 2);
    std::uint32_t read = 0;
    wave.Read(out.data(), static_cast<std::uint32_t>(out.size() * 2), &read);
    return out;
}

std::int16_t level(int value) { return static_cast<std::int16_t>(std::trunc(value / 128.0 * 32767.0)); }

// Calls onProgress once, the first time the render moves the file's bar.
struct ProgressView : WaveStepView {
    void showProgress(const WaveStepBar&, const WaveStepBar& file) override {
        if (file.position > 0 && onProgress) std::exchange(onProgress, nullptr)();
    }
    std::function<void()> onProgress;
};

// Three entries whose converted MIDI file is the two hands' C D E F G A B C.
struct PlugInProject {
    PlugInProject() {
        project.data.ProjectFolder = dir.path();
        for (int i = 0; i < 3; ++i) {
            ProjectEntry e;
            e.Filename = dir.path() / ("piece" + std::to_string(i) + ".mid");
            e.convertedMidiPath = dir.path() / ("piece" + std::to_string(i) + "_qvpcnv.mid");
            fs::copy_file(fs::path(QVP3_TEST_DATA_DIR) / "two_hands.mid", e.Filename);
            fs::copy_file(e.Filename, e.convertedMidiPath);
            e.convertedMidiMs = 4800;
            e.Pause = i;
            e.MWConversionMethod = 1;
            e.project = &project;
            project.entries.push_back(std::move(e));
        }
        project.convertedMidiCount = 3;
        project.waveOverwrite = 1;
        project.normalize = 0;
        host.currentSlot = host.LoadPlugIn(fs::path(QVP3_TEST_PLUGIN_DIR) / "synth.so");
        host.masterVolume = 1.0f;
        host.renderBlockSize = 441;
        host.blockMs = 10.0f;
    }
    void render() {
        WaveStepSetup setup;
        setup.project = &project;
        setup.plugIn = &renderer;
        setup.pauseAfterFile = 0ms;
        ASSERT_EQ(cnvWaveStepRun(page, std::move(setup)), WaveStepRun::Started);
        ASSERT_TRUE(window.waitForCount(++runs, 120s));
        cnvWaveStepWorkerDone(page);
    }
    fs::path wave(int index) {
        fs::path path;
        EXPECT_TRUE(prjConvertedWavePath(project, index, &path));
        return path;
    }

    platform::testing::TempFolder dir;
    Project project;
    CMyVSTHost host;
    VstWaveRenderer renderer{host};
    platform::RecordingMessageTarget window;
    ProgressView view;
    WaveStepPage page{&view, &window};
    std::size_t runs = 0;
};

TEST(WaveStepPlugIn, ThreeEntriesSoundWhereTheirNotesAreAndEndWithTheirPause) {
    PlugInProject p;
    ASSERT_GE(p.host.currentSlot, 0);
    p.render();
    std::size_t musicFrames = 0;
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const std::vector<std::int16_t> s = samples(p.wave(i));
        const std::size_t pauseFrames = static_cast<std::size_t>(i) * kRate;
        ASSERT_GE(s.size() / 2, 8 * kQuarter - 441 + pauseFrames);
        const std::size_t music = s.size() / 2 - pauseFrames;
        EXPECT_LE(music, 8 * kQuarter + 2 * 441) << "the music and one silent block";
        if (i == 0) musicFrames = music;
        EXPECT_EQ(music, musicFrames) << "every entry renders the same music";
        for (int n = 0; n < 8; ++n) {
            const std::size_t middle = kQuarter * static_cast<std::size_t>(n) + kQuarter / 2;
            EXPECT_EQ(s[2 * middle], level(kKeys[n])) << "note " << n;
            EXPECT_EQ(s[2 * middle + 1], level(80)) << "note " << n;
        }
        EXPECT_TRUE(std::all_of(s.begin() + static_cast<std::ptrdiff_t>(2 * (music - 100)), s.end(),
                                [](std::int16_t v) { return v == 0; }))
            << "the pause is silent";
        EXPECT_EQ(p.project.entries[static_cast<std::size_t>(i)].convertedWaveMs,
                  static_cast<std::int32_t>(s.size() / 2 * 1000 / kRate + 1));
    }
    EXPECT_EQ(p.project.convertedWaveCount, 3);
    EXPECT_NE(p.project.dirty & kDirtyWaveDone, 0u);
    EXPECT_FALSE(p.page.snapshot().notComplete);
    EXPECT_EQ(p.host.tracks, nullptr) << "the host's own performance is given back";
}

// The run command's cancel reaches the render host through the page's cancel
// word: pressed as the first entry's render reports progress.
TEST(WaveStepPlugInThreads, ACancelDuringTheRenderKeepsTheEarlierFiles) {
    PlugInProject p;
    ASSERT_GE(p.host.currentSlot, 0);
    p.render();
    std::vector<std::vector<std::int16_t>> earlier;
    for (int i = 0; i < 3; ++i) earlier.push_back(samples(p.wave(i)));
    p.host.masterVolume = 0.5f;  // a new render would differ
    p.view.onProgress = [&p] { EXPECT_EQ(cnvWaveStepRun(p.page, {}), WaveStepRun::Cancelling); };
    p.render();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(samples(p.wave(i)), earlier[static_cast<std::size_t>(i)]) << i;
    EXPECT_TRUE(p.page.snapshot().notComplete);
    EXPECT_EQ(p.project.dirty & kDirtyWaveDone, 0u);
    for (const auto& f : fs::directory_iterator(p.dir.path())) {
        const std::string name = f.path().filename().string();
        EXPECT_TRUE(name.ends_with(".mid") || name.ends_with("_qvpcnv.wav")) << name << ": no partial or temporary file";
    }
}

}  // namespace
}  // namespace qvp3
