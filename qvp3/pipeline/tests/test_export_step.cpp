// The export step on its thread against the disc writer loaded from the
// program folder, with its simulated recorder on a medium of the test's
// choice: three WAV files written as three tracks (cue sheet and image), the
// status lines in order, a second copy cancelled, a written, a missing and a
// too small disc, a cancel that stops the write, no library at all, and the
// MP3 branch.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/export_step.h"
#include "qvp3_pipeline/sequencer.h"

// libburn, a system library not built for the thread sanitizer, looks for
// drives on a thread of its own that the disc writer waits for by polling;
// the sanitizer cannot see that hand-over. Read by the sanitizer's runtime.
extern "C" const char* __tsan_default_suppressions();
extern "C" const char* __tsan_default_suppressions() { return "race:libburn.so\n"; }

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::testing::readBytes;
using platform::testing::writeBytes;

constexpr auto kRunTimeout = 60s;
constexpr std::uint32_t kFramesPerSector = 588;  // 2352 bytes of 16-bit stereo

void put16(std::string& s, std::uint32_t v) { s.append({static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}); }
void put32(std::string& s, std::uint32_t v) {
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
}

// CD audio of frames frames, the samples following seed.
std::string cdWave(std::uint32_t frames, std::uint32_t seed) {
    std::string data;
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::uint32_t i = 0; i < frames * 4; ++i) {
        x = x * 1103515245u + 12345u;
        data.push_back(static_cast<char>(x >> 16));
    }
    std::string body = "WAVEfmt ";
    put32(body, 16);
    put16(body, 1);
    put16(body, 2);
    put32(body, 44100);
    put32(body, 44100 * 4);
    put16(body, 4);
    put16(body, 16);
    body += "data";
    put32(body, static_cast<std::uint32_t>(data.size()));
    body += data;
    std::string file = "RIFF";
    put32(file, static_cast<std::uint32_t>(body.size()));
    return file + body;
}

std::string medium(const std::string& type, int capacity = 359847) {
    return "[Medium]\r\nType=" + type + "\r\nCapacity=" + std::to_string(capacity) + "\r\nTray=closed\r\n";
}

// Questions answered from a list (Cancel once it is empty); every box kept.
class AnsweringShell : public BasicShell {
public:
    int appTextBox(std::string_view text, int kind, int buttons) override {
        std::function<void()> hook;
        int answer = kIdOk;
        {
            std::lock_guard lock(mutex_);
            boxes_.push_back({std::string(text), kind});
            if (kind == kBoxQuestion) {
                EXPECT_EQ(buttons, kMbOkCancel);
                answer = kIdCancel;
                if (!answers.empty()) {
                    answer = answers.front();
                    answers.pop_front();
                }
                hook = onQuestion;
            }
        }
        if (hook && answer == kIdOk) hook();
        return answer;
    }
    std::vector<std::string> boxes(int kind) const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (const auto& [text, k] : boxes_) {
            if (k == kind) out.push_back(text);
        }
        return out;
    }
    void reset(std::deque<int> list, std::function<void()> hook) {
        std::lock_guard lock(mutex_);
        boxes_.clear();
        answers = std::move(list);
        onQuestion = std::move(hook);
    }
    std::deque<int> answers;
    // Runs when a question is answered OK: the user changes the disc.
    std::function<void()> onQuestion;

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, int>> boxes_;
};

class LinesView : public ExportStepView {
public:
    void clearStatusList() override {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }
    void addStatusLine(std::string_view text, bool replaceLast) override {
        std::function<void(std::string_view)> hook;
        {
            std::lock_guard lock(mutex_);
            if (replaceLast && !lines_.empty()) lines_.pop_back();
            lines_.emplace_back(text);
            hook = onLine;
        }
        if (hook) hook(text);
    }
    void enableRunButton(bool enabled) override {
        std::lock_guard lock(mutex_);
        runButton_.push_back(enabled);
    }
    void showProgress(const ConversionStepBar& total, const ConversionStepBar&) override {
        std::lock_guard lock(mutex_);
        totalMaximum_ = std::max(totalMaximum_, total.maximum);
        totalPosition_ = std::max(totalPosition_, total.position);
    }
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::vector<bool> runButton() const {
        std::lock_guard lock(mutex_);
        return runButton_;
    }
    std::pair<int, int> totalBar() const {
        std::lock_guard lock(mutex_);
        return {totalPosition_, totalMaximum_};
    }
    std::function<void(std::string_view)> onLine;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::vector<bool> runButton_;
    int totalMaximum_ = 0;
    int totalPosition_ = 0;
};

// The tracks of the simulated disc's cue sheet: their INDEX 01 in sectors.
std::vector<int> cueTrackStarts(const fs::path& cue) {
    std::vector<int> starts;
    const std::string text = readBytes(cue);
    const std::regex index(R"(INDEX 01 (\d\d):(\d\d):(\d\d))");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), index); it != std::sregex_iterator(); ++it) {
        starts.push_back((std::stoi((*it)[1]) * 60 + std::stoi((*it)[2])) * 75 + std::stoi((*it)[3]));
    }
    return starts;
}

// A project of WAV files in one folder, the page, and the disc writer with
// the simulated recorder on the medium the test describes.
class ExportStepThreads : public ::testing::Test {
protected:
    void TearDown() override {
        page.reset();
        lib.Release();
        unsetenv("QVP3_SIMULATED_RECORDER");
    }
    void addWave(const std::string& name, std::uint32_t frames, std::int32_t ms = 0) {
        ProjectEntry e;
        e.Filename = dir.path() / (name + ".mid");
        e.convertedWavePath = dir.path() / (name + "_qvpcnv.wav");
        writeBytes(e.convertedWavePath, cdWave(frames, static_cast<std::uint32_t>(project.entries.size() + 1)));
        e.convertedWaveMs = ms;
        e.project = &project;
        project.entries.push_back(std::move(e));
        project.convertedWaveCount = project.fileNum();
    }
    // The recorder on medium (after any disc of the test is in place), the project's burn method its writer.
    void loadDrive(const std::string& mediumIni) {
        writeBytes(drive.path() / "medium.ini", mediumIni);
        setenv("QVP3_SIMULATED_RECORDER", drive.path().c_str(), 1);
        ASSERT_EQ(cnvCdInit(lib, QVP3_PROGRAM_DIR), DISCWRITER_S_OK);
        std::int32_t writers = 0;
        lib.cdGetDriveNumber(&writers);
        ASSERT_GE(writers, 1);
        project.burnMethod = writers - 1;  // the simulated one is listed last
    }
    ExportStepSetup setup() {
        ExportStepSetup s;
        s.project = &project;
        s.discWriter = &lib;
        s.insertWait = 0ms;
        s.trayWait = 0ms;
        return s;
    }
    // One run to its end: the step's result.
    int run() {
        EXPECT_EQ(cnvExportStepRun(*page, setup()), ConversionStepRun::Started);
        ++runs;
        const auto deadline = std::chrono::steady_clock::now() + kRunTimeout;
        while (!done() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
        EXPECT_TRUE(done()) << "the step ends";
        cnvExportStepWorkerDone(*page);
        EXPECT_FALSE(page->busy());
        std::lock_guard lock(page->mutex);
        return page->result;
    }
    bool done() const { return count(platform::WM_STEP_WORKER_DONE) >= runs; }
    int count(std::uint32_t message) const {
        int n = 0;
        for (const auto& m : window.messages()) n += m.msg == message ? 1 : 0;
        return n;
    }
    void wipeDisc() {
        fs::remove(drive.path() / "disc.cue");
        fs::remove(drive.path() / "disc.bin");
    }

    platform::testing::TempFolder dir;
    platform::testing::TempFolder drive;
    AnsweringShell shell;
    Neighbours neighbours{nullptr, nullptr, &shell};
    Project project{neighbours};
    CDiscWriterLib lib;
    LinesView view;
    platform::RecordingMessageTarget window;
    std::unique_ptr<ExportStepPage> page = std::make_unique<ExportStepPage>(&view, &window);
    int runs = 0;
};

TEST_F(ExportStepThreads, ThreeWavFilesBecomeThreeTracksWithTheStatusLinesInOrder) {
    // Whole sectors, one frame past a sector (padded), and one second.
    addWave("song1", kFramesPerSector * 100);
    addWave("song2", kFramesPerSector * 40 + 1);
    addWave("song3", kFramesPerSector * 75);
    project.dirty = 0x5;
    loadDrive(medium("cd-r"));

    EXPECT_EQ(run(), 0);
    EXPECT_EQ(cueTrackStarts(drive.path() / "disc.cue"), (std::vector<int>{0, 100 + 150, 250 + 41 + 150}))
        << "three tracks, 2 s before each after the first";
    EXPECT_EQ(fs::file_size(drive.path() / "disc.bin"), std::uintmax_t{100 + 150 + 41 + 150 + 75} * kCdSectorBytes);
    const std::string image = readBytes(drive.path() / "disc.bin");
    const std::string third = readBytes(project.entries[2].convertedWavePath);
    EXPECT_EQ(image.substr(441 * kCdSectorBytes), third.substr(44)) << "the last track is the third file's data";

    EXPECT_EQ(view.lines(), (std::vector<std::string>{"Preparing the CD recorder ...", "Collecting the tracks ...",
                                                      "Setting up the recorder ...", "Writing copy 1 ...",
                                                      "The CD is written.", "The CD writing has ended.",
                                                      "The CD has been written."}));
    EXPECT_EQ(view.runButton(), (std::vector<bool>{false, true}));
    EXPECT_EQ(view.totalBar().second, 3) << "the total bar counts the tracks";
    EXPECT_EQ(count(DISCWRITER_WM_CD_TRACK_BEGIN), 3) << "the writer reports to the page's window";
    EXPECT_EQ(count(DISCWRITER_WM_CD_WRITE_DONE), 1);
    EXPECT_TRUE(shell.boxes(kBoxQuestion).empty());
    EXPECT_TRUE(shell.boxes(kBoxWarning).empty());
    EXPECT_EQ(project.dirty, 0u);
    for (const ProjectEntry& e : project.entries) EXPECT_GT(e.convertedWaveMs, 0) << "lengths measured";
    EXPECT_EQ(plyEntryState(project.entries.front()), kEntryIdle);
    // Ejected as the project asks, and the drive closed.
    EXPECT_NE(readBytes(drive.path() / "medium.ini").find("Tray=open"), std::string::npos);
    EXPECT_EQ(lib.burnDriveOpen, -1);
    EXPECT_EQ(lib.cdEject(), DISCWRITER_E_NO_DRIVE);
}

// Runs that end at a question: the questions asked, the disc after, the last lines.
TEST_F(ExportStepThreads, QuestionsAboutTheDiscRepeatUntilCancelAndTheDriveIsClosed) {
    const std::string insert = "Please insert a blank CD-R or CD-RW into the recorder.";
    const std::string nextCopy =
        "Please take the written CD out of the recorder and insert a blank one for the next copy.";
    const std::string tooSmall =
        "The disc in the recorder has not enough room for the project. Please insert a larger blank disc.";
    struct Case {
        const char* name;
        std::string medium;
        bool writtenBefore;
        int copies;
        bool simulate;
        std::deque<int> answers;  // Cancel follows
        bool newDiscOnOk;         // OK puts a blank disc in
        int result;
        std::vector<std::string> questions;
        int tracksAfter;  // on the disc at the end, 0 blank
        std::string secondLastLine;
    };
    const Case cases[] = {
        {"two copies, Cancel before the second", medium("cd-r"), false, 2, false, {}, false, kCdCancelled, {nextCopy}, 1,
         "The CD is written."},
        {"two copies, OK with a fresh disc", medium("cd-r"), false, 2, false, {kIdOk}, true, 0, {nextCopy}, 1,
         "The CD writing has ended."},
        {"a written disc asks until Cancel", medium("cd-r"), true, 1, false, {kIdOk, kIdOk}, false, kCdCancelled,
         {insert, insert, insert}, 1, "There is no usable disc in the recorder."},
        {"no disc asks until Cancel", medium("none"), false, 1, false, {kIdOk}, false, kCdCancelled, {insert, insert}, 0,
         "There is no usable disc in the recorder."},
        {"a disc exactly as large as needed is refused", medium("cd-r", 75), false, 1, false, {}, false, kCdCancelled,
         {tooSmall}, 0, "There is no usable disc in the recorder."},
        {"one sector more is enough", medium("cd-r", 76), false, 1, false, {}, false, 0, {}, 1,
         "The CD writing has ended."},
        {"a simulated write leaves the disc blank", medium("cd-r"), false, 1, true, {}, false, 0, {}, 0,
         "The CD writing has ended."},
    };
    addWave("song", kFramesPerSector * 75, 1000);  // 176400 bytes: 75 sectors
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        wipeDisc();
        if (c.writtenBefore) {
            writeBytes(drive.path() / "disc.cue", "FILE \"disc.bin\" BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n");
            writeBytes(drive.path() / "disc.bin", std::string(10 * kCdSectorBytes, '\x11'));
        }
        shell.reset(c.answers, c.newDiscOnOk ? std::function<void()>([this] { wipeDisc(); }) : nullptr);
        project.cdCopies = c.copies;
        project.burnSimulate = c.simulate ? 1 : 0;
        project.openTray = 0;
        project.dirty = 0x5;
        loadDrive(c.medium);
        page = std::make_unique<ExportStepPage>(&view, &window);

        EXPECT_EQ(run(), c.result);
        EXPECT_EQ(shell.boxes(kBoxQuestion), c.questions);
        const bool written = fs::exists(drive.path() / "disc.cue");
        EXPECT_EQ(written ? cueTrackStarts(drive.path() / "disc.cue").size() : 0u,
                  static_cast<std::size_t>(c.tracksAfter));
        const std::vector<std::string> lines = view.lines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], c.secondLastLine);
        if (c.result == kCdCancelled) {
            EXPECT_EQ(lines.back(), "The CD writing was cancelled.");
            EXPECT_EQ(shell.boxes(kBoxInformation), std::vector<std::string>{"The CD writing was cancelled."});
            EXPECT_EQ(shell.boxes(kBoxWarning),
                      std::vector<std::string>{"The export did not finish:\nthe export was cancelled"});
        } else {
            EXPECT_EQ(lines.back(), "The CD has been written.");
            EXPECT_EQ(project.dirty, c.simulate ? 0x5u : 0u) << "only a real write finishes the project";
        }
        const std::vector<bool> button = view.runButton();
        ASSERT_FALSE(button.empty());
        EXPECT_TRUE(button.back()) << "the run button is enabled again";
        EXPECT_EQ(lib.cdEject(), DISCWRITER_E_NO_DRIVE) << "the drive is closed";
        EXPECT_EQ(lib.burnDriveOpen, -1);
        page.reset();
        lib.Release();
    }
}

// The page's cancel reaches the disc writer while it writes: the run ends as
// cancelled and the disc stays blank.
TEST_F(ExportStepThreads, ACancelDuringTheWriteStopsIt) {
    addWave("song", kFramesPerSector * 75 * 30);
    loadDrive(medium("cd-r"));
    ConversionStepRun cancel = ConversionStepRun::NotStarted;
    view.onLine = [&](std::string_view line) {
        if (line == "Writing the CD ...") cancel = cnvExportStepRun(*page, setup());
    };
    EXPECT_EQ(run(), kCdCancelled);
    EXPECT_EQ(cancel, ConversionStepRun::Cancelling);
    EXPECT_FALSE(fs::exists(drive.path() / "disc.cue")) << "nothing written";
    EXPECT_EQ(view.lines().back(), "The CD writing was cancelled.");
    EXPECT_EQ(lib.cdEject(), DISCWRITER_E_NO_DRIVE);
    EXPECT_EQ(plyEntryState(project.entries.front()), kEntryIdle);
}

// A file the writer refuses ends the run with the write failure and the
// writer's own words, which name the file.
TEST_F(ExportStepThreads, AWavFileThatIsNotCdAudioFailsTheWriteAndIsNamed) {
    addWave("song", kFramesPerSector * 10);
    std::string mono = cdWave(kFramesPerSector, 9);
    mono[22] = 1;  // one channel
    writeBytes(project.entries[0].convertedWavePath, mono);
    project.dirty = 0x5;
    loadDrive(medium("cd-r"));
    EXPECT_EQ(run(), kCdWriteFailed);
    EXPECT_FALSE(fs::exists(drive.path() / "disc.cue"));
    const std::vector<std::string> lines = view.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Writing the CD ...");
    EXPECT_EQ(lines.back(), "Writing the CD failed.");
    const std::vector<std::string> warnings = shell.boxes(kBoxWarning);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0], "Writing the CD failed (error -713).");
    EXPECT_TRUE(warnings[1].starts_with("The export did not finish:\nthe disc could not be written: ")) << warnings[1];
    EXPECT_NE(warnings[1].find("song_qvpcnv.wav"), std::string::npos) << warnings[1];
    EXPECT_EQ(project.dirty, 0x5u);
    EXPECT_TRUE(view.runButton().back());
    EXPECT_EQ(lib.cdEject(), DISCWRITER_E_NO_DRIVE);
}

TEST_F(ExportStepThreads, WithoutTheLibraryTheCdBranchReportsAndEverythingFails) {
    EXPECT_EQ(cnvCdInit(lib, dir.path()), DISCWRITER_E_FAIL);
    EXPECT_FALSE(lib.loaded());
    EXPECT_FALSE(lib.loadError().empty());
    std::int32_t state = 5;
    EXPECT_EQ(lib.cdIsMediaLoaded(&state), DISCWRITER_E_FAIL) << "a stub, not a crash";
    EXPECT_EQ(state, 5);
    EXPECT_STREQ(lib.cdGetLastErrorText(), "");
    addWave("song", kFramesPerSector);
    project.burnMethod = 0;
    EXPECT_EQ(run(), kCdOpenDriveFailed);
    EXPECT_EQ(view.lines(), (std::vector<std::string>{"The CD recorder could not be opened.", "Writing the CD failed."}));
    EXPECT_EQ(shell.boxes(kBoxWarning), std::vector<std::string>{"Writing the CD failed (error -714)."});
    EXPECT_EQ(view.runButton().size(), 0u);
}

TEST_F(ExportStepThreads, TheMp3BranchWritesAnMp3FilePerWavFileIntoTheChosenFolder) {
    for (const char* name : {"song1", "song2", "song3"}) addWave(name, 44100 / 5);
    project.data.ProjectTitle = "Mass";
    project.mp3Folder = dir.path() / "mp3";
    fs::create_directories(project.mp3Folder);
    project.dirty = 0x5;
    project.burnMethod = kBurnMethodMp3;
    EXPECT_EQ(run(), 0);
    std::vector<std::string> files;
    for (const auto& f : fs::directory_iterator(project.mp3Folder)) files.push_back(f.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"01-Mass-song1_mid.mp3", "02-Mass-song2_mid.mp3",
                                               "03-Mass-song3_mid.mp3"}));
    // Each decodes to its WAV file's length.
    for (const std::string& f : files) {
        const fs::path decoded = dir.path() / "decoded.wav";
        const std::string command = "mpg123 -q -w '" + decoded.string() + "' '" + (project.mp3Folder / f).string() + "'";
        if (std::system(command.c_str()) != 0) GTEST_SKIP() << "mpg123 cannot decode here";
        const std::string wav = readBytes(decoded);
        ASSERT_GE(wav.size(), 44u) << f;
        EXPECT_EQ(wav.size() - 44, std::size_t{44100 / 5 * 4}) << f;
    }
    EXPECT_EQ(view.lines(), (std::vector<std::string>{"song1.wav encoded", "song2.wav encoded", "song3.wav encoded",
                                                      "The MP3 files are written."}));
    EXPECT_EQ(view.totalBar(), std::make_pair(3, 3));
    EXPECT_TRUE(shell.boxes(kBoxWarning).empty());
    EXPECT_EQ(project.dirty, 0u);
}

}  // namespace
}  // namespace qvp3
