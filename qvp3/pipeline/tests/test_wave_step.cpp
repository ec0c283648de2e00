// The WAV step on its thread with renderers that write known WAV files: the
// pause as trailing silence, the rewrite through the temporary twin, counts
// and the dirty bit, the overwrite question, cancel during a render, a
// failing renderer with the clean-up, the normaliser's calls, and which
// entries a run renders.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/sequencer.h"
#include "qvp3_pipeline/wave_file.h"
#include "qvp3_pipeline/wave_step.h"
#include "smf_bytes.h"
#include "qvp3_project/project_folder.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kRunTimeout = 60s;
constexpr std::uint32_t kRenderFrames = 4410;  // 100 ms
constexpr std::uint32_t kRate = 44100;

void put16(std::string& s, std::uint32_t v) { s.append({static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}); }
void put32(std::string& s, std::uint32_t v) {
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
}

// A 44.1 kHz 16-bit stereo WAV file of frames frames (left = level, right =
// -level), written by hand with a "LIST" chunk after the data as some
// renderers write it, so that a file our writer made is told apart from it.
std::string renderedWave(std::int16_t level, std::uint32_t frames) {
    std::string data;
    for (std::uint32_t i = 0; i < frames; ++i) {
        put16(data, static_cast<std::uint16_t>(level));
        put16(data, static_cast<std::uint16_t>(-level));
    }
    std::string body = "WAVEfmt ";
    put32(body, 16);
    put16(body, 1);
    put16(body, 2);
    put32(body, kRate);
    put32(body, kRate * 4);
    put16(body, 4);
    put16(body, 16);
    body += "data";
    put32(body, static_cast<std::uint32_t>(data.size()));
    body += data + "LIST";
    put32(body, 4);
    body += "INFO";
    std::string file = "RIFF";
    put32(file, static_cast<std::uint32_t>(body.size()));
    return file + body;
}

std::vector<std::int16_t> samples(const fs::path& file, WaveFormatEx* format = nullptr) {
    CWaveFile wave;
    WaveFormatEx f;
    if (wave.Open(file, &f, CWaveFile::kModeRead) != S_OK) return {};
    std::vector<std::int16_t> out(wave.DataSize() / 2);
    std::uint32_t read = 0;
    wave.Read(out.data(), static_cast<std::uint32_t>(out.size() * 2), &read);
    if (format != nullptr) *format = f;
    return out;
}

// Writes renderedWave with the entry's level; fails or waits for a cancel where told.
class FakeRenderer : public WaveRenderer {
public:
    struct Call {
        int entry;
        fs::path wavPath;
    };
    int render(ProjectEntry& entry, const fs::path& midiPath, const fs::path& wavPath,
               const std::function<void(std::uint32_t)>& progress, const std::atomic<int>& cancelWord) override {
        const int index = indexOf(entry);
        {
            std::lock_guard lock(mutex_);
            calls_.push_back({index, wavPath});
        }
        const Active active(*this);
        EXPECT_EQ(midiPath, entry.convertedMidiPath);
        const std::string bytes = renderedWave(static_cast<std::int16_t>(level * (index + 1)), kRenderFrames);
        if (during) {
            if (const int result = during(index, cancelWord); result != 0) {
                platform::testing::writeBytes(wavPath, bytes.substr(0, bytes.size() / 2));
                return result;
            }
        }
        if (index == waitAt) {
            // Half a file, as a renderer leaves it when it is stopped.
            platform::testing::writeBytes(wavPath, bytes.substr(0, bytes.size() / 2));
            if (onWait) onWait();
            while (cancelWord.load() != kEntryStopRequested) std::this_thread::sleep_for(1ms);
            return kWaveCancelled;
        }
        if (index == failAt) return failure;
        for (std::uint32_t ms = 0; ms <= 100; ms += 50) progress(ms);
        platform::testing::writeBytes(wavPath, bytes);
        return 0;
    }
    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::vector<int> entries() const {
        std::vector<int> out;
        for (const Call& c : calls()) out.push_back(c.entry);
        return out;
    }
    bool rendersInParallel() const override { return parallel; }
    // The most renders that ran at once.
    int mostAtOnce() const { return mostActive_.load(); }
    Project* project = nullptr;
    std::int16_t level = 1000;
    int failAt = -1;
    int failure = kWaveSynthRenderFailed;
    int waitAt = -1;
    std::function<void()> onWait;
    bool parallel = false;
    // Runs inside each render before its file is written (half a file
    // instead, and that result, when it answers non-zero).
    std::function<int(int entry, const std::atomic<int>& cancelWord)> during;

private:
    // Counts the renders running at once.
    struct Active {
        explicit Active(FakeRenderer& r) : r_(r) {
            const int now = ++r_.active_;
            int most = r_.mostActive_.load();
            while (now > most && !r_.mostActive_.compare_exchange_weak(most, now)) {
            }
        }
        ~Active() { --r_.active_; }
        FakeRenderer& r_;
    };
    std::atomic<int> active_{0};
    std::atomic<int> mostActive_{0};
    int indexOf(const ProjectEntry& entry) const {
        for (int i = 0; i < project->fileNum(); ++i) {
            if (&project->entries[static_cast<std::size_t>(i)] == &entry) return i;
        }
        return -1;
    }
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};

class RecordingShell : public BasicShell {
public:
    int appTextBox(std::string_view text, int kind, int) override {
        std::lock_guard lock(mutex_);
        (kind == kBoxQuestion ? questions_ : warnings_).emplace_back(text);
        return kind == kBoxQuestion ? answer.load() : kIdOk;
    }
    std::vector<std::string> warnings() const {
        std::lock_guard lock(mutex_);
        return warnings_;
    }
    std::vector<std::string> questions() const {
        std::lock_guard lock(mutex_);
        return questions_;
    }
    std::atomic<int> answer{kIdYes};

private:
    mutable std::mutex mutex_;
    std::vector<std::string> warnings_;
    std::vector<std::string> questions_;
};

class BarView : public WaveStepView {
public:
    void showProgress(const WaveStepBar& total, const WaveStepBar& file) override {
        std::lock_guard lock(mutex_);
        totalBars_.push_back(total);
        fileBars_.push_back(file);
    }
    std::vector<WaveStepBar> fileBars() const {
        std::lock_guard lock(mutex_);
        return fileBars_;
    }
    std::vector<WaveStepBar> totalBars() const {
        std::lock_guard lock(mutex_);
        return totalBars_;
    }
    void reportNothingToConvert() override { ++nothingToConvert; }
    std::atomic<int> nothingToConvert{0};

private:
    mutable std::mutex mutex_;
    std::vector<WaveStepBar> totalBars_;
    std::vector<WaveStepBar> fileBars_;
};

// A project of entries whose converted MIDI files exist, the page, and the fakes.
struct WaveProject {
    explicit WaveProject(int files) {
        project.data.ProjectFolder = dir.path();
        for (int i = 0; i < files; ++i) {
            ProjectEntry e;
            e.Filename = dir.path() / ("song" + std::to_string(i) + ".mid");
            platform::testing::writeBytes(e.Filename, "MThd source");
            e.convertedMidiPath = dir.path() / ("song" + std::to_string(i) + "_qvpcnv.mid");
            platform::testing::writeBytes(e.convertedMidiPath, "MThd converted");
            e.convertedMidiMs = 100;
            e.Pause = 0;
            e.project = &project;
            project.entries.push_back(std::move(e));
        }
        project.convertedMidiCount = files;
        project.waveOverwrite = 1;
        project.normalize = 0;
        synth.project = &project;
        plugIn.project = &project;
    }
    ~WaveProject() { page.reset(); }

    WaveStepSetup setup() {
        WaveStepSetup s;
        s.project = &project;
        s.synthesizer = &synth;
        s.plugIn = &plugIn;
        s.normalizer = normalizer;
        s.selected = selected;
        s.tempFolder = tempDir.path();
        s.pauseAfterFile = 0ms;
        s.parallelRenders = renders;
        return s;
    }
    WaveStepRun run() {
        const WaveStepRun r = cnvWaveStepRun(*page, setup());
        if (r == WaveStepRun::Started) ++started;
        return r;
    }
    void render() {
        ASSERT_EQ(run(), WaveStepRun::Started);
        ASSERT_TRUE(window.waitForCount(started, kRunTimeout));
        cnvWaveStepWorkerDone(*page);
        ASSERT_FALSE(page->busy());
    }
    fs::path wave(int index) {
        fs::path path;
        EXPECT_TRUE(prjConvertedWavePath(project, index, &path));
        return path;
    }
    // Files that are neither a source, nor a converted MIDI or WAV file of an entry.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (const auto& f : fs::directory_iterator(tempDir.path())) names.push_back(f.path().filename().string());
        for (const auto& f : fs::directory_iterator(dir.path())) {
            const std::string name = f.path().filename().string();
            if (!name.starts_with("song") || !(name.ends_with(".mid") || name.ends_with("_qvpcnv.wav"))) {
                names.push_back(name);
            }
        }
        return names;
    }

    platform::testing::TempFolder dir;
    platform::testing::TempFolder tempDir;
    RecordingShell shell;
    Neighbours neighbours{nullptr, nullptr, &shell};
    Project project{neighbours};
    FakeRenderer synth;
    FakeRenderer plugIn;
    WaveNormalizer normalizer;
    std::vector<int> selected;
    int renders = 0;
    BarView view;
    platform::RecordingMessageTarget window;
    std::unique_ptr<WaveStepPage> page = std::make_unique<WaveStepPage>(&view, &window);
    std::size_t started = 0;
};

TEST(WaveStep, ThreeEntriesRenderWithTheirPausesThroughTheTemporaryTwin) {
    const int pauses[] = {0, 1, 2};
    WaveProject w(3);
    for (int i = 0; i < 3; ++i) w.project.entries[static_cast<std::size_t>(i)].Pause = pauses[i];
    w.project.entries[1].MWConversionMethod = 1;
    w.project.dirty = 0x5;
    w.render();

    EXPECT_EQ(w.synth.entries(), (std::vector<int>{0, 2}));
    EXPECT_EQ(w.plugIn.entries(), (std::vector<int>{1}));
    for (const auto& calls : {w.synth.calls(), w.plugIn.calls()}) {
        for (const FakeRenderer::Call& c : calls) {
            EXPECT_EQ(c.wavPath.parent_path(), w.tempDir.path()) << "renders go to a temporary file first";
        }
    }
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const ProjectEntry& e = w.project.entries[static_cast<std::size_t>(i)];
        EXPECT_EQ(e.convertedWavePath, w.wave(i));
        WaveFormatEx format;
        const std::vector<std::int16_t> s = samples(w.wave(i), &format);
        EXPECT_EQ(format, WaveFormatEx::pcm(kRate, 2, 16));
        const std::size_t pauseFrames = static_cast<std::size_t>(pauses[i]) * kRate;
        ASSERT_EQ(s.size(), 2 * (kRenderFrames + pauseFrames));
        const auto level = static_cast<std::int16_t>(1000 * (i + 1));
        for (std::size_t f = 0; f < kRenderFrames; ++f) {
            ASSERT_EQ(s[2 * f], level) << f;
            ASSERT_EQ(s[2 * f + 1], -level) << f;
        }
        EXPECT_TRUE(std::all_of(s.begin() + 2 * kRenderFrames, s.end(), [](std::int16_t v) { return v == 0; }));
        // Our writer's layout (RIFF, fmt, fact, data): the renderer's LIST chunk is gone, also with no pause.
        EXPECT_EQ(fs::file_size(w.wave(i)), 56 + s.size() * 2);
        EXPECT_EQ(e.convertedWaveMs, static_cast<std::int32_t>((kRenderFrames + pauseFrames) * 1000 / kRate + 1));
    }
    EXPECT_EQ(w.project.convertedWaveCount, 3);
    EXPECT_EQ(w.project.dirty, kDirtyWaveDone) << "a run of all clears the mask first";
    const WaveStepPageState state = w.page->snapshot();
    EXPECT_FALSE(state.notComplete);
    EXPECT_EQ(state.convertAll, (WaveStepCheckBox{true, true}));
    std::vector<std::string> rows;
    for (const WaveStepRow& row : state.rows) rows.push_back(row.text);
    EXPECT_EQ(rows, (std::vector<std::string>{"song0.wav", "song1.wav", "song2.wav"}));
    const auto bars = w.view.fileBars();
    EXPECT_TRUE(std::any_of(bars.begin(), bars.end(), [](const WaveStepBar& b) {
        return b.maximum == 100 && b.position == 100;
    })) << "the render's progress moves the file's bar";
    EXPECT_TRUE(w.shell.warnings().empty());
    EXPECT_TRUE(w.leftovers().empty());
    for (const auto& m : w.window.messages()) EXPECT_EQ(m.msg, platform::WM_STEP_WORKER_DONE);
}

// An existing file without overwriting: no answer deletes it before its successor is complete.
TEST(WaveStep, TheOverwriteQuestionDecidesPerFile) {
    const struct {
        const char* what;
        int answer;
        bool replaced;
        bool second;  // the second entry was rendered
        bool complete;
    } cases[] = {
        {"Yes replaces it", kIdYes, true, true, true},
        {"No keeps it and goes on", kIdNo, false, true, true},
        {"Cancel ends the step without a warning", kIdCancel, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WaveProject w(2);
        const std::string earlier = renderedWave(77, 100);
        platform::testing::writeBytes(w.wave(0), earlier);
        w.project.waveOverwrite = 0;
        w.project.convertedWaveCount = 2;  // nothing is reset: the question comes
        w.shell.answer = c.answer;
        w.render();
        const auto questions = w.shell.questions();
        ASSERT_EQ(questions.size(), 1u);
        EXPECT_NE(questions[0].find("song0_qvpcnv.wav"), std::string::npos) << questions[0];
        EXPECT_EQ(platform::testing::readBytes(w.wave(0)) != earlier, c.replaced);
        EXPECT_EQ(fs::exists(w.wave(1)), c.second);
        EXPECT_EQ(w.page->snapshot().notComplete, !c.complete);
        EXPECT_EQ((w.project.dirty & kDirtyWaveDone) != 0, c.complete);
        EXPECT_TRUE(w.shell.warnings().empty());
        EXPECT_TRUE(w.leftovers().empty());
    }
}

TEST(WaveStepThreads, ACancelDuringARenderKeepsTheEarlierFile) {
    WaveProject w(3);
    w.render();
    std::vector<std::string> earlier;
    for (int i = 0; i < 3; ++i) earlier.push_back(platform::testing::readBytes(w.wave(i)));
    w.synth.level = 3000;
    w.synth.waitAt = 1;
    w.synth.onWait = [&] { EXPECT_EQ(cnvWaveStepRun(*w.page, w.setup()), WaveStepRun::Cancelling); };
    w.render();
    EXPECT_EQ(w.synth.entries(), (std::vector<int>{0, 1, 2, 0, 1}));
    EXPECT_NE(platform::testing::readBytes(w.wave(0)), earlier[0]) << "rendered before the cancel";
    EXPECT_EQ(platform::testing::readBytes(w.wave(1)), earlier[1]);
    EXPECT_EQ(platform::testing::readBytes(w.wave(2)), earlier[2]);
    EXPECT_TRUE(w.leftovers().empty()) << "no partial render, no temporary file";
    EXPECT_EQ(w.project.convertedWaveCount, 1);
    EXPECT_EQ(w.project.dirty & kDirtyWaveDone, 0u);
    EXPECT_TRUE(w.page->snapshot().notComplete);
    const auto warnings = w.shell.warnings();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("cancelled"), std::string::npos) << warnings[0];
    for (const ProjectEntry& e : w.project.entries) EXPECT_EQ(plyEntryState(e), kEntryIdle);
}

// The first failure ends the step with a warning naming the file and the
// cause; a run that leaves the project without every WAV file removes the
// project's own converted WAV files, and the next run must render all.
TEST(WaveStep, AFailingRendererEndsTheStepWithTheWarningAndTheCleanUp) {
    const struct {
        const char* what;
        bool convertAll;
        std::vector<int> selected;
        int countBefore;
        int method;
        int failure;  // 0: the converted MIDI file is gone
        const char* cause;
        bool cleanUp;
        bool folderWithSeparator;  // the project folder spelt with a trailing separator
    } cases[] = {
        {"the synthesizer fails in a run of all", true, {}, 3, 0, kWaveSynthRenderFailed,
         "the software synthesizer could not render the file", true, true},
        {"the plug-in host fails, selected only, files missing", false, {1}, 2, 1, kWavePlugInFailed,
         "the plug-in host could not render the file", true, false},
        {"the converted MIDI file is gone, selected only, all files there", false, {1, 2}, 3, 0, 0,
         "a file could not be opened", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WaveProject w(3);
        w.render();
        std::vector<std::string> earlier;
        for (int i = 0; i < 3; ++i) earlier.push_back(platform::testing::readBytes(w.wave(i)));
        const fs::path foreign = w.dir.path() / "other_qvpcnv.wav";  // not an entry's file
        platform::testing::writeBytes(foreign, earlier[0]);
        if (c.folderWithSeparator) w.project.data.ProjectFolder = w.dir.path() / "";
        w.project.waveConvertAll = c.convertAll ? 1 : 0;
        w.project.convertedWaveCount = c.countBefore;
        w.selected = c.selected;
        w.project.entries[1].MWConversionMethod = c.method;
        FakeRenderer& renderer = c.method == 1 ? w.plugIn : w.synth;
        renderer.failAt = 1;
        renderer.failure = c.failure;
        if (c.failure == 0) fs::remove(w.project.entries[1].convertedMidiPath);
        const std::size_t synthBefore = w.synth.calls().size();
        const std::size_t plugInBefore = w.plugIn.calls().size();
        w.render();

        const auto warnings = w.shell.warnings();
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_NE(warnings[0].find(std::string("song1.mid: ") + c.cause), std::string::npos) << warnings[0];
        std::vector<int> rendered = w.synth.entries();
        rendered.erase(rendered.begin(), rendered.begin() + static_cast<std::ptrdiff_t>(synthBefore));
        const std::vector<int> plugIn = w.plugIn.entries();
        rendered.insert(rendered.end(), plugIn.begin() + static_cast<std::ptrdiff_t>(plugInBefore), plugIn.end());
        EXPECT_EQ(std::count(rendered.begin(), rendered.end(), 2), 0) << "nothing after the failure";
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(fs::exists(w.wave(i)), !c.cleanUp) << i;
            if (!c.cleanUp) {
                EXPECT_EQ(platform::testing::readBytes(w.wave(i)), earlier[static_cast<std::size_t>(i)]) << i;
            }
        }
        EXPECT_EQ(platform::testing::readBytes(foreign), earlier[0]) << "only the project's own files go";
        const WaveStepPageState state = w.page->snapshot();
        EXPECT_TRUE(state.notComplete);
        EXPECT_EQ(w.project.dirty & kDirtyWaveDone, 0u);
        if (c.cleanUp) {
            EXPECT_EQ(w.project.waveConvertAll, 1);
            EXPECT_EQ(w.project.convertedWaveCount, 0);
            EXPECT_EQ(state.convertAll, (WaveStepCheckBox{true, false}));
            EXPECT_TRUE(state.rows.empty());
            for (const ProjectEntry& e : w.project.entries) EXPECT_TRUE(e.convertedWavePath.empty());
        }
        fs::remove(foreign);
        EXPECT_TRUE(w.leftovers().empty());
    }
}

TEST(WaveStep, NormalizeOnePerFileTwoOnceAtTheEnd) {
    struct Call {
        int entry;
        bool withTotal;
        bool fileComplete;
    };
    const struct {
        const char* what;
        int normalize;
        int files;
        bool convertAll;
        std::vector<int> selected;
        std::vector<int> entries;  // the normaliser's calls
        bool withTotal;
    } cases[] = {
        {"1 normalises each file, the total bar kept", 1, 3, true, {}, {0, 1, 2}, false},
        {"1 with selected files gets the total bar", 1, 3, false, {0, 2}, {0, 2}, true},
        {"2 normalises the project at the end", 2, 3, true, {}, {-1}, true},
        {"2 selected only, several files: never", 2, 3, false, {0, 1}, {}, false},
        {"2 selected only, one file in the project", 2, 1, false, {0}, {-1}, true},
        {"0 never", 0, 3, true, {}, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WaveProject w(c.files);
        w.project.normalize = c.normalize;
        w.project.waveConvertAll = c.convertAll ? 1 : 0;
        w.project.convertedWaveCount = c.files;
        w.selected = c.selected;
        std::vector<Call> calls;
        std::vector<int> reported;
        w.normalizer.normalize = [&](Project& p, WaveProgressBar* total, WaveProgressBar& file, int entry) {
            EXPECT_EQ(&p, &w.project);
            file.setRange(10);
            file.setPosition(file.position() + 1);
            const bool complete = entry < 0 || samples(w.wave(entry)).size() == 2 * kRenderFrames;
            calls.push_back({entry, total != nullptr, complete});
            return -7;
        };
        w.normalizer.report = [&](Project&, int result) { reported.push_back(result); };
        w.render();
        std::vector<int> entries;
        for (const Call& call : calls) {
            entries.push_back(call.entry);
            EXPECT_EQ(call.withTotal, c.withTotal) << call.entry;
            EXPECT_TRUE(call.fileComplete) << "the file is normalised once it is in place";
        }
        EXPECT_EQ(entries, c.entries);
        EXPECT_EQ(reported, std::vector<int>(c.entries.size(), -7));
    }
}

TEST(WaveStep, ARunRendersTheChosenConvertedMidiFiles) {
    const struct {
        const char* what;
        bool convertAll;
        int midiCount;
        std::vector<int> selected;
        std::vector<int> rendered;  // empty: nothing to do
    } cases[] = {
        {"all: as many as there are converted MIDI files", true, 2, {}, {0, 1}},
        {"all, no converted MIDI file", true, 0, {}, {}},
        {"selected, from the top", false, 3, {2, 0, 2}, {0, 2}},
        {"selected past the converted MIDI files", false, 1, {1, 2}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WaveProject w(3);
        w.project.waveConvertAll = c.convertAll ? 1 : 0;
        w.project.convertedMidiCount = c.midiCount;
        w.project.convertedWaveCount = 3;
        w.selected = c.selected;
        if (c.rendered.empty()) {
            EXPECT_EQ(w.run(), WaveStepRun::NothingToDo);
            EXPECT_EQ(w.view.nothingToConvert, 1);
            EXPECT_FALSE(w.page->busy());
            continue;
        }
        w.render();
        EXPECT_EQ(w.synth.entries(), c.rendered);
        EXPECT_FALSE(w.page->snapshot().notComplete);
        if (c.convertAll) {
            EXPECT_EQ(w.project.convertedWaveCount, c.midiCount);
        }
    }
}

TEST(WaveStepThreads, StartingAndCancellingAHundredTimes) {
    WaveProject w(3);
    w.project.entries[2].Pause = 2;  // a longer write to cancel during
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(w.window.waitForCount(w.started, kRunTimeout)) << i;
        if (i % 10 == 9) cnvWaveStepWorkerDone(*w.page);
        ASSERT_EQ(w.run(), WaveStepRun::Started) << i;
        std::this_thread::sleep_for(std::chrono::microseconds(i % 5 * 300));
        ASSERT_NE(w.run(), WaveStepRun::NotStarted) << i;
    }
    ASSERT_TRUE(w.window.waitForCount(w.started, kRunTimeout));
    cnvWaveStepWorkerDone(*w.page);
    EXPECT_FALSE(w.page->busy());
    EXPECT_EQ(w.window.count(), w.started);
    for (int i = 0; i < 3; ++i) {
        const fs::path file = w.wave(i);
        EXPECT_TRUE(!fs::exists(file) || samples(file).size() >= 2 * kRenderFrames) << i;
    }
    for (const ProjectEntry& e : w.project.entries) EXPECT_EQ(plyEntryState(e), kEntryIdle);
    EXPECT_TRUE(w.leftovers().empty());
}

// Waits until done() holds, at most 10 s; false when it never did.
bool waitUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

bool rendering(const FakeRenderer& renderer, int entry) {
    const std::vector<int> e = renderer.entries();
    return std::find(e.begin(), e.end(), entry) != e.end();
}

// Six entries, two of them through a renderer that renders one file at a
// time, with pauses and each file normalised: rendered one file at a time,
// then several at once, with the first file's render outlasting the others.
// The files, their lengths, the rows and the counts come out the same, and
// the page's bars still run entry by entry.
TEST(WaveStepThreads, AParallelRunWritesWhatASerialRunWrites) {
    struct Run {
        std::vector<std::string> files;
        std::vector<std::int32_t> lengths;
        std::vector<std::string> rows;
        int count = 0;
    };
    const auto render = [](int renders, WaveProject& w) {
        for (int i = 0; i < 6; ++i) {
            ProjectEntry& e = w.project.entries[static_cast<std::size_t>(i)];
            e.Pause = i % 3;
            e.MWConversionMethod = i == 1 || i == 4 ? 1 : 0;
        }
        w.project.normalize = 1;
        w.normalizer = cnvProjectWaveNormalizer();
        w.synth.parallel = true;
        w.renders = renders;
        w.render();
        Run r;
        for (int i = 0; i < 6; ++i) {
            r.files.push_back(platform::testing::readBytes(w.wave(i)));
            r.lengths.push_back(w.project.entries[static_cast<std::size_t>(i)].convertedWaveMs);
        }
        for (const WaveStepRow& row : w.page->snapshot().rows) r.rows.push_back(row.text);
        r.count = w.project.convertedWaveCount;
        EXPECT_TRUE(w.shell.warnings().empty());
        EXPECT_TRUE(w.leftovers().empty());
        EXPECT_EQ(w.plugIn.mostAtOnce(), 1) << "the plug-in host renders one file at a time";
        return r;
    };
    WaveProject serial(6);
    const Run one = render(1, serial);
    EXPECT_EQ(serial.synth.mostAtOnce(), 1);

    WaveProject parallel(6);
    std::atomic<bool> overlapped{false};
    parallel.synth.during = [&](int entry, const std::atomic<int>&) {
        if (entry == 0) overlapped = waitUntil([&] { return rendering(parallel.synth, 3); });
        return 0;
    };
    const Run several = render(4, parallel);
    EXPECT_TRUE(overlapped) << "the first file was still rendering when the fourth began";
    EXPECT_GE(parallel.synth.mostAtOnce(), 2);

    EXPECT_TRUE(several.files == one.files) << "the same WAV files, byte for byte";
    EXPECT_EQ(several.lengths, one.lengths);
    EXPECT_EQ(several.rows, one.rows);
    EXPECT_EQ(several.count, 6);
    EXPECT_EQ(one.count, 6);
    // The total bar runs entry by entry, and each entry's file bar shows its whole render.
    const auto totals = parallel.view.totalBars();
    const auto files = parallel.view.fileBars();
    std::set<int> renderShown;
    for (std::size_t i = 0; i < totals.size(); ++i) {
        if (totals[i].maximum == 0) continue;  // before the run and after it
        if (i > 0 && totals[i - 1].maximum != 0) {
            ASSERT_GE(totals[i].position, totals[i - 1].position) << i;
        }
        if (files[i].maximum == 100 && files[i].position == 100) renderShown.insert(totals[i].position);
    }
    EXPECT_EQ(renderShown, (std::set<int>{1, 2, 3, 4, 5, 6}));
}

// A cancel while three files render at once stops all three; the file
// rendered before stays new, every later entry keeps its earlier file, also
// the one whose render was complete when the cancel came, and nothing
// partial or temporary is left.
TEST(WaveStepThreads, ACancelStopsEveryRunningRenderAndKeepsTheEarlierFiles) {
    WaveProject w(5);
    w.synth.parallel = true;
    w.renders = 4;
    w.render();
    std::vector<std::string> earlier;
    for (int i = 0; i < 5; ++i) earlier.push_back(platform::testing::readBytes(w.wave(i)));
    w.synth.level = 3000;
    std::atomic<int> waiting{0};
    w.synth.during = [&](int entry, const std::atomic<int>& cancelWord) {
        if (entry == 0 || entry == 4) return 0;
        ++waiting;
        while (cancelWord.load() != kEntryStopRequested) std::this_thread::sleep_for(1ms);
        return kWaveCancelled;
    };
    ASSERT_EQ(w.run(), WaveStepRun::Started);
    // The first entry is written and the step waits for the second.
    const auto atSecond = [&] {
        const WaveStepPageState state = w.page->snapshot();
        return std::any_of(state.rows.begin(), state.rows.end(), [](const WaveStepRow& row) {
            return row.entry == 1 && row.text.starts_with("Rendering");
        });
    };
    ASSERT_TRUE(waitUntil([&] { return waiting.load() == 3 && rendering(w.synth, 4) && atSecond(); }));
    EXPECT_EQ(cnvWaveStepRun(*w.page, w.setup()), WaveStepRun::Cancelling);
    ASSERT_TRUE(w.window.waitForCount(w.started, kRunTimeout));
    cnvWaveStepWorkerDone(*w.page);

    EXPECT_TRUE(platform::testing::readBytes(w.wave(0)) != earlier[0]) << "rendered before the cancel";
    for (int i = 1; i < 5; ++i) {
        EXPECT_TRUE(platform::testing::readBytes(w.wave(i)) == earlier[static_cast<std::size_t>(i)]) << i;
    }
    EXPECT_TRUE(w.leftovers().empty()) << "no partial render, no temporary file";
    EXPECT_EQ(w.project.convertedWaveCount, 1);
    EXPECT_EQ(w.project.dirty & kDirtyWaveDone, 0u);
    EXPECT_TRUE(w.page->snapshot().notComplete);
    const auto warnings = w.shell.warnings();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("cancelled"), std::string::npos) << warnings[0];
    for (const ProjectEntry& e : w.project.entries) EXPECT_EQ(plyEntryState(e), kEntryIdle);
}

// The third of five files fails while the first two still render: the two
// before it are finished and written, the step ends at the failure with its
// warning, and the files after it, rendered or not, keep their earlier files.
TEST(WaveStepThreads, AFailureEndsTheRunAtItsFileWhileTheFilesBeforeItComplete) {
    WaveProject w(5);
    w.synth.parallel = true;
    w.renders = 5;
    w.render();
    std::vector<std::string> earlier;
    for (int i = 0; i < 5; ++i) earlier.push_back(platform::testing::readBytes(w.wave(i)));
    // Every file is there: a failure in a run of selected files removes none.
    w.project.waveConvertAll = 0;
    w.selected = {0, 1, 2, 3, 4};
    w.synth.level = 3000;
    std::atomic<bool> failed{false};
    w.synth.during = [&](int entry, const std::atomic<int>&) {
        if (entry == 2) {
            EXPECT_TRUE(waitUntil([&] { return rendering(w.synth, 0) && rendering(w.synth, 1); }));
            failed = true;
            return kWaveSynthRenderFailed;
        }
        if (entry < 2) {
            EXPECT_TRUE(waitUntil([&] { return failed.load(); }));
        }
        return 0;
    };
    w.render();

    const auto warnings = w.shell.warnings();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("song2.mid: the software synthesizer could not render the file"), std::string::npos)
        << warnings[0];
    for (int i = 0; i < 5; ++i) {
        const bool renewed = i < 2;
        EXPECT_EQ(platform::testing::readBytes(w.wave(i)) != earlier[static_cast<std::size_t>(i)], renewed) << i;
    }
    EXPECT_EQ(samples(w.wave(1))[0], 3000 * 2);
    EXPECT_TRUE(w.leftovers().empty());
    EXPECT_TRUE(w.page->snapshot().notComplete);
    EXPECT_EQ(w.project.dirty & kDirtyWaveDone, 0u);
}

}  // namespace
}  // namespace qvp3

namespace qvp3 {
namespace {

// The step's method 0 for real: two converted MIDI files, one played softly
// and one loudly, rendered by the software synthesizer, each with its pause,
// then normalised across the project: the loud file peaks at full scale and
// the soft one keeps its distance below it.
TEST(WaveStepSynth, TwoFilesThroughTheSynthesizerNormalisedTogether) {
    WaveProject w(2);
    const int velocities[] = {40, 110};
    for (int i = 0; i < 2; ++i) {
        ProjectEntry& e = w.project.entries[static_cast<std::size_t>(i)];
        std::string events = testing::tempo(0, 500000) + testing::ev(0, {0xC0, 0});
        for (int key : {60, 64, 67}) events += testing::ev(0, {0x90, key, velocities[i]}) + testing::ev(480, {0x80, key, 64});
        platform::testing::writeBytes(e.convertedMidiPath, testing::smf(0, 480, {events + testing::endOfTrack(480)}));
        e.convertedMidiMs = 2000;
        e.Pause = 1;
    }
    platform::testing::TempFolder data;
    SoftSynthState state;
    state.dataFolder = data.path();
    cnvWriteTimidityConfig(state, QVP3_PROGRAM_DIR, false);
    SoftSynthWaveRenderer synthesizer(state);
    w.project.normalize = 2;
    WaveStepSetup s = w.setup();
    s.synthesizer = &synthesizer;
    s.normalizer = cnvProjectWaveNormalizer();
    ASSERT_EQ(cnvWaveStepRun(*w.page, s), WaveStepRun::Started);
    ASSERT_TRUE(w.window.waitForCount(1, kRunTimeout));
    cnvWaveStepWorkerDone(*w.page);
    EXPECT_TRUE(w.shell.warnings().empty()) << w.shell.warnings().front();
    EXPECT_EQ(w.project.convertedWaveCount, 2);

    int peaks[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        WaveFormatEx format;
        const std::vector<std::int16_t> pcm = samples(w.wave(i), &format);
        ASSERT_EQ(format, WaveFormatEx::pcm(44100, 2, 16));
        const std::size_t frames = pcm.size() / 2;
        ASSERT_GE(frames, std::size_t{3 * 22050 + 44100}) << "three quarters, then the pause";
        for (std::size_t n = 0; n < frames; ++n) {
            peaks[i] = std::max(peaks[i], std::abs(static_cast<int>(pcm[2 * n])));
            if (n >= frames - 44100) {
                ASSERT_LT(std::abs(pcm[2 * n]), 64) << "the pause is silent, frame " << n;
            }
        }
    }
    EXPECT_GE(peaks[1], 32766) << "the loudest file reaches full scale";
    EXPECT_LT(peaks[0], peaks[1] * 3 / 4) << "the soft file stays softer";
    EXPECT_TRUE(w.leftovers().empty());
}

// Three files at once through the synthesizer whose configuration is
// damaged: the first set-up rewrites it while the other renders wait for
// it, and every file renders.
TEST(WaveStepSynthThreads, ADamagedConfigurationIsRewrittenWhileTheFilesWaitAndAllRender) {
    WaveProject w(3);
    for (ProjectEntry& e : w.project.entries) {
        const std::string events = testing::tempo(0, 500000) + testing::ev(0, {0xC0, 0}) +
                                   testing::ev(0, {0x90, 60, 100}) + testing::ev(960, {0x80, 60, 64});
        platform::testing::writeBytes(e.convertedMidiPath, testing::smf(0, 480, {events + testing::endOfTrack(0)}));
        e.convertedMidiMs = 1000;
    }
    platform::testing::TempFolder data;
    SoftSynthState state;
    state.dataFolder = data.path();
    cnvWriteTimidityConfig(state, QVP3_PROGRAM_DIR, false);
    platform::testing::writeBytes(data.path() / kTimidityConfigName, "damaged\n");
    SoftSynthWaveRenderer synthesizer(state);
    WaveStepSetup s = w.setup();
    s.synthesizer = &synthesizer;
    s.parallelRenders = 3;
    ASSERT_EQ(cnvWaveStepRun(*w.page, s), WaveStepRun::Started);
    ASSERT_TRUE(w.window.waitForCount(1, kRunTimeout));
    cnvWaveStepWorkerDone(*w.page);

    EXPECT_TRUE(w.shell.warnings().empty()) << w.shell.warnings().front();
    EXPECT_EQ(w.project.convertedWaveCount, 3);
    for (int i = 0; i < 3; ++i) {
        const std::vector<std::int16_t> pcm = samples(w.wave(i));
        EXPECT_TRUE(std::any_of(pcm.begin(), pcm.end(), [](std::int16_t v) { return std::abs(v) > 1000; })) << i;
    }
    EXPECT_TRUE(state.configRewritten);
    EXPECT_EQ(platform::testing::readBytes(data.path() / kTimidityConfigName),
              cnvTimidityConfigText(QVP3_PROGRAM_DIR));
    EXPECT_TRUE(w.leftovers().empty());
}

}  // namespace
}  // namespace qvp3
