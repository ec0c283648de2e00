// The MIDI conversion step on its thread: a project of two ".tvrx" scores, a
// MusicXML source converted on opening and a MIDI file, converted through our
// engine and the own sequencer and read back with an independent reader; the
// run command's cancel, failing entries, the overwrite question, closing while
// it runs, and the completion notifier.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../../../scoreconv/tests/mido_support.h"
#include "engine_test_support.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/midi_read.h"
#include "qvp3_pipeline/midi_step.h"
#include "qvp3_pipeline/sequencer.h"
#include "qvp3_project/project_folder.h"
#include "smf_bytes.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using scoreconv::testing::MidoFile;

constexpr auto kRunTimeout = 180s;

fs::path sharedFile(const std::string& folder, const std::string& name) {
    return fs::path(QVP3_SHARED_TESTDATA_DIR) / folder / name;
}

// A piano (channel 1: 60 62 64 65) and a bass (channel 2: 36 43) under a
// conductor at 120; `bars` repeats the piano's bar.
std::string pianoAndBass(int bars = 1) {
    using namespace testing;
    const std::string conductor = name("Song") + meter(0, 4, 2) + tempo(0, 500000) + endOfTrack();
    std::string piano = name("Piano") + ev(0, {0xC0, 0});
    for (int bar = 0; bar < bars; ++bar) {
        for (const int key : {60, 62, 64, 65}) piano += ev(0, {0x90, key, 90}) + ev(480, {0x80, key, 0});
    }
    const std::string bass =
        name("Bass") + ev(0, {0xC1, 32}) + ev(0, {0x91, 36, 100}) + ev(960, {0x81, 36, 0}) + ev(0, {0x91, 43, 100}) +
        ev(960, {0x81, 43, 0}) + endOfTrack();
    return smf(1, 480, {conductor, piano + endOfTrack(), bass});
}

// Answers questions as told and keeps every box it showed.
class RecordingShell : public BasicShell {
public:
    struct Box {
        std::string text;
        int kind;
        int buttons;
    };
    int appTextBox(std::string_view text, int kind, int buttons) override {
        std::lock_guard lock(mutex_);
        boxes_.push_back({std::string(text), kind, buttons});
        return kind == kBoxQuestion ? answer.load() : kIdOk;
    }
    std::vector<Box> boxes(int kind) const {
        std::lock_guard lock(mutex_);
        std::vector<Box> out;
        for (const Box& b : boxes_) {
            if (b.kind == kind) out.push_back(b);
        }
        return out;
    }
    std::atomic<int> answer{kIdYes};

private:
    mutable std::mutex mutex_;
    std::vector<Box> boxes_;
};

// Keeps what the worker shows; onRows runs on the worker's thread at every list change.
class RecordingView : public MidiStepView {
public:
    void showRows(const std::vector<MidiStepRow>& rows) override {
        std::function<void(const std::vector<MidiStepRow>&)> hook;
        {
            std::lock_guard lock(mutex_);
            hook = onRows;
        }
        if (hook) hook(rows);
    }
    void showProgress(const MidiStepBar&, const MidiStepBar& file) override {
        std::lock_guard lock(mutex_);
        fileBars_.push_back(file);
    }
    void enableMainWindow(bool enabled) override {
        std::lock_guard lock(mutex_);
        mainWindow_.push_back(enabled);
    }
    void reportNothingToConvert() override { ++nothingToConvert; }
    void setOnRows(std::function<void(const std::vector<MidiStepRow>&)> hook) {
        std::lock_guard lock(mutex_);
        onRows = std::move(hook);
    }
    void clearFileBars() {
        std::lock_guard lock(mutex_);
        fileBars_.clear();
    }
    std::vector<MidiStepBar> fileBars() const {
        std::lock_guard lock(mutex_);
        return fileBars_;
    }
    std::vector<bool> mainWindow() const {
        std::lock_guard lock(mutex_);
        return mainWindow_;
    }
    std::atomic<int> nothingToConvert{0};

private:
    mutable std::mutex mutex_;
    std::function<void(const std::vector<MidiStepRow>&)> onRows;
    std::vector<MidiStepBar> fileBars_;
    std::vector<bool> mainWindow_;
};

// What a test drives the step with: the page with its view and window, the
// engine's tables in a program folder of its own, and a temporary folder
// that must be empty again after every run.
struct Harness {
    Harness(Project& p, CTavtuneLib* e, PlaybackControl* pc) : project(p), engine(e), playback(pc) {
        fs::create_directories(programDir.path() / "tavtune");
        std::ofstream(programDir.path() / "tavtune" / "MidiTabDef.ini") << "[Tables]\r\nDefault=General MIDI\r\n";
    }
    ~Harness() { page.reset(); }

    MidiStepSetup setup() {
        MidiStepSetup s;
        s.project = &project;
        s.engine = engine;
        s.playback = playback;
        s.selected = selected;
        s.programFolder = programDir.path();
        s.tempFolder = tempDir.path();
        s.pauseAfterFile = 0ms;
        s.workerDone = [this](MidiStepPage&) {
            ++doneCalls;
            return true;
        };
        return s;
    }
    MidiStepRun run() {
        const MidiStepRun r = cnvMidiStepRun(*page, setup());
        if (r == MidiStepRun::Started) ++started;
        return r;
    }
    // Waits for the done message of every run started and answers it as the page does.
    bool waitForEnd() {
        const bool arrived = window.waitForCount(started, kRunTimeout);
        cnvMidiStepWorkerDone(*page);
        return arrived && !page->busy();
    }
    void convert() {
        ASSERT_EQ(run(), MidiStepRun::Started);
        ASSERT_TRUE(waitForEnd());
    }
    fs::path converted(int index) {
        fs::path path;
        EXPECT_TRUE(prjConvertedMidiPath(project, index, &path));
        return path;
    }
    std::vector<std::string> tempLeftovers() const {
        std::vector<std::string> names;
        for (const auto& f : fs::directory_iterator(tempDir.path())) names.push_back(f.path().filename().string());
        return names;
    }
    // Files of the project folder that are neither a source nor a converted file.
    std::vector<std::string> folderLeftovers() const {
        std::set<fs::path> sources;
        for (const ProjectEntry& e : project.entries) {
            sources.insert(e.Filename);
            if (!e.FilenameOrig.empty()) sources.insert(e.FilenameOrig);
        }
        std::vector<std::string> names;
        for (const auto& f : fs::directory_iterator(project.data.ProjectFolder)) {
            const std::string name = f.path().filename().string();
            if (sources.count(f.path()) == 0 && !name.ends_with("_qvpcnv.mid")) names.push_back(name);
        }
        return names;
    }

    Project& project;
    CTavtuneLib* engine;
    PlaybackControl* playback;
    std::vector<int> selected;
    platform::testing::TempFolder programDir;
    platform::testing::TempFolder tempDir;
    RecordingView view;
    platform::RecordingMessageTarget window;
    std::unique_ptr<MidiStepPage> page = std::make_unique<MidiStepPage>(&view, &window);
    std::atomic<int> doneCalls{0};
    std::size_t started = 0;
};

// A complete MIDI file: our reader takes it whole.
bool readsWhole(const fs::path& file) {
    ProjectEntry e;
    e.Filename = file;
    return cnvReadMidiEntry(e) == 0;
}

// The four-entry project, opened through our engine.
class MidiStep : public ::testing::Test {
protected:
    static constexpr int kMulti = 0;  // four parts
    static constexpr int kScale = 1;  // a scale
    static constexpr int kTempo = 2;  // from MusicXML, at 60
    static constexpr int kSong = 3;   // the MIDI file

    void SetUp() override {
        testing::keepEngineRuntimeLoaded();
        engine_.Init(0, QVP3_PROGRAM_DIR);
        const fs::path dir = dir_.path();
        project_.data.ProjectFolder = dir;
        ASSERT_EQ(testing::convertToTvrx(sharedFile("musicxml", "41a-MultiParts-Partorder.xml"), dir / "multi.tvrx"), 0);
        ASSERT_EQ(testing::convertToTvrx(sharedFile("musicxml", "01a-Pitches-Pitches.xml"), dir / "scale.tvrx"), 0);
        fs::copy_file(sharedFile("musicxml-constructs", "tempo-two-sounds-same-moment.musicxml"), dir / "tempo.xml");
        platform::testing::writeBytes(dir / "song.mid", pianoAndBass());
        for (const char* file : {"multi.tvrx", "scale.tvrx", "tempo.xml", "song.mid"}) ASSERT_EQ(open(dir / file), 0) << file;
        ASSERT_EQ(project_.entries[kTempo].Filename, dir / "tempo.xml.tvrx");
        ASSERT_EQ(project_.entries[kSong].kind, EntryKind::Midi);
        project_.midiOverwrite = 1;
    }
    void TearDown() override {
        h_.page.reset();
        engine_.Release();
    }
    int open(const fs::path& file) {
        ProjectEntry entry;
        entry.Filename = file;
        pipeline_.cnvEntryInit(entry, project_);
        return pipeline_.openEntry(entry, project_, false, false);
    }
    MidoFile mido(int index) { return scoreconv::testing::readWithMido(h_.converted(index), h_.programDir.path()); }
    // Blocks the worker when the row of entry `index` reads `converting` (or
    // not), until the test has pressed the run command again.
    void cancelAtRow(int index, bool converting) {
        h_.view.setOnRows([this, index, converting, done = false](const std::vector<MidiStepRow>& rows) mutable {
            for (const MidiStepRow& row : rows) {
                if (done || row.entry != index || row.text.starts_with("Converting") != converting) continue;
                done = true;
                EXPECT_EQ(cnvMidiStepRun(*h_.page, h_.setup()), MidiStepRun::Cancelling);
            }
        });
    }

    platform::testing::TempFolder dir_;
    CTavtuneLib engine_;
    platform::MessageTarget* mainWindow_ = nullptr;
    Pipeline pipeline_{engine_, &mainWindow_};
    RecordingShell shell_;
    Neighbours neighbours_{&pipeline_, nullptr, &shell_};
    Project project_{neighbours_};
    PlaybackControl playback_{project_, engine_};
    Harness h_{project_, &engine_, &playback_};
};

using Notes = std::multiset<std::pair<std::int64_t, int>>;  // (tick, key) of every note-on

Notes notes(const MidoFile& file, int track = -1) {
    Notes out;
    for (const auto& e : file.notesOn(track)) out.insert({e.tick, e.number("note")});
    return out;
}

std::vector<int> tempos(const MidoFile& file) {
    std::vector<int> out;
    for (const auto& e : file.of("set_tempo")) out.push_back(e.number("tempo"));
    return out;
}

TEST_F(MidiStep, EveryEntrysFileFollowsItsSettings) {
    if (!scoreconv::testing::midoAvailable()) GTEST_SKIP() << "python3-mido is not installed";
    h_.convert();
    std::vector<MidoFile> plain;
    for (int i = 0; i < 4; ++i) {
        plain.push_back(mido(i));
        ASSERT_TRUE(plain.back().read) << i;
        ASSERT_FALSE(notes(plain.back()).empty()) << i;
    }

    project_.playFeatures = kPlayVoiceMasks | kPlayTranspose | kPlayRelativeTempo;
    project_.entries[kMulti].states.setVoiceOnOff(1, 0, scorecore::kStateOff);
    project_.entries[kScale].voices.front().transposition = 3;
    project_.entries[kTempo].TempoRelative = 1301;  // about twice the tempo
    project_.entries[kSong].states.setVoiceOnOff(1, 0, scorecore::kStateOff);
    h_.convert();

    // The second part's notes are gone, every other note stays.
    const MidoFile multi = mido(kMulti);
    Notes expected = notes(plain[kMulti]);
    const Notes muted = notes(plain[kMulti], 2);  // the conductor, then one track per part
    ASSERT_FALSE(muted.empty());
    for (const auto& n : muted) expected.erase(expected.find(n));
    EXPECT_EQ(notes(multi), expected);

    Notes shifted;
    for (const auto& [tick, key] : notes(plain[kScale])) shifted.insert({tick, key + 3});
    EXPECT_EQ(notes(mido(kScale)), shifted);

    const MidoFile fast = mido(kTempo);
    EXPECT_EQ(notes(fast), notes(plain[kTempo]));
    const std::vector<int> slow = tempos(plain[kTempo]);
    ASSERT_EQ(tempos(fast).size(), slow.size());
    for (std::size_t i = 0; i < slow.size(); ++i) EXPECT_NEAR(tempos(fast)[i], slow[i] / 2.0, slow[i] / 100.0) << i;

    const MidoFile song = mido(kSong);
    EXPECT_EQ(notes(song), (Notes{{0, 60}, {480, 62}, {960, 64}, {1440, 65}})) << "the bass is muted";
    EXPECT_EQ(tempos(song), tempos(plain[kSong]));

    EXPECT_EQ(project_.convertedMidiCount, 4);
    EXPECT_NE(project_.dirty & kDirtyMidiDone, 0u);
    const MidiStepPageState state = h_.page->snapshot();
    EXPECT_FALSE(state.notComplete);
    std::vector<std::string> rows;
    for (const MidiStepRow& row : state.rows) rows.push_back(row.text);
    EXPECT_EQ(rows, (std::vector<std::string>{"multi.mid", "scale.mid", "tempo.xml.mid", "song.mid"}));
    for (const ProjectEntry& e : project_.entries) EXPECT_GT(e.convertedMidiMs, 0) << e.Filename;
    EXPECT_NEAR(project_.entries[kSong].convertedMidiMs, 2000, 20);
    EXPECT_TRUE(shell_.boxes(kBoxWarning).empty());
    EXPECT_EQ(h_.doneCalls, 2);
    EXPECT_EQ(h_.view.mainWindow(), (std::vector<bool>{false, true, false, true}));
    for (const auto& m : h_.window.messages()) {
        EXPECT_EQ(m.msg, platform::WM_STEP_WORKER_DONE);
        EXPECT_EQ(m.wParam, 0u);
        EXPECT_EQ(m.lParam, 0);
        EXPECT_EQ(m.delivery, platform::Delivery::Posted);
    }
    EXPECT_TRUE(h_.tempLeftovers().empty());
    EXPECT_TRUE(h_.folderLeftovers().empty());
}

TEST_F(MidiStep, CancelAfterTheSecondFileLeavesTwoCompleteFiles) {
    cancelAtRow(1, false);
    h_.convert();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(fs::exists(h_.converted(i)), i < 2) << i;
    EXPECT_TRUE(readsWhole(h_.converted(0)));
    EXPECT_TRUE(readsWhole(h_.converted(1)));
    EXPECT_EQ(project_.convertedMidiCount, 2);
    EXPECT_EQ(project_.dirty & kDirtyMidiDone, 0u);
    EXPECT_TRUE(h_.page->snapshot().notComplete);
    const auto warnings = shell_.boxes(kBoxWarning);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].text.find("cancelled"), std::string::npos) << warnings[0].text;
    for (const ProjectEntry& e : project_.entries) EXPECT_EQ(plyEntryState(e), kEntryIdle) << e.Filename;
    EXPECT_TRUE(h_.tempLeftovers().empty());
    EXPECT_TRUE(h_.folderLeftovers().empty());
}

// A cancel while an entry converts: its earlier file stays as it was and no
// entry after it is touched; an export stops at once, a render is let finish
// and then dropped.
TEST_F(MidiStep, CancelKeepsTheEarlierFileOfTheEntryBeingConverted) {
    const struct {
        const char* what;
        int entry;
        int transposition;  // new settings that change every file
    } cases[] = {{"a MIDI export", kSong, 5}, {"a score render", kScale, 7}};
    h_.convert();
    const int songMs = project_.entries[kSong].durationMs;
    const auto furthest = [&] {
        int at = -1;
        for (const MidiStepBar& b : h_.view.fileBars()) {
            if (b.maximum == songMs) at = std::max(at, b.position);
        }
        return at;
    };
    EXPECT_GT(furthest(), songMs / 2) << "a whole export moves the file's bar";
    project_.playFeatures = kPlayTranspose;
    for (const auto& c : cases) {
        for (ProjectEntry& e : project_.entries) e.voices.front().transposition = static_cast<std::int8_t>(c.transposition);
        std::vector<std::string> before;
        for (int i = 0; i < 4; ++i) before.push_back(platform::testing::readBytes(h_.converted(i)));
        h_.view.clearFileBars();
        cancelAtRow(c.entry, true);
        h_.convert();
        for (int i = 0; i < 4; ++i) {
            const bool kept = platform::testing::readBytes(h_.converted(i)) == before[static_cast<std::size_t>(i)];
            EXPECT_EQ(kept, i >= c.entry) << c.what << ": entry " << i;
        }
        EXPECT_TRUE(h_.page->snapshot().notComplete) << c.what;
        EXPECT_EQ(project_.convertedMidiCount, c.entry) << c.what;
        EXPECT_TRUE(h_.tempLeftovers().empty()) << c.what;
        EXPECT_TRUE(h_.folderLeftovers().empty()) << c.what;
        if (c.entry == kSong) {
            EXPECT_LT(furthest(), songMs / 4) << "the export stopped at once";
        }
    }
}

// One entry fails: the warning names its file and the cause, its older file
// is removed and every other entry is converted.
TEST_F(MidiStep, AFailingEntryIsReportedAndTheOthersConvert) {
    const struct {
        const char* what;
        int entry;
        std::function<void(const fs::path& converted)> breakIt;
        std::function<void(const fs::path& converted)> repair;
        const char* file;
        const char* cause;
    } cases[] = {
        {"the score's source is gone", kScale, [this](const fs::path&) { fs::remove(dir_.path() / "scale.tvrx"); },
         [this](const fs::path&) {
             testing::convertToTvrx(sharedFile("musicxml", "01a-Pitches-Pitches.xml"), dir_.path() / "scale.tvrx");
         },
         "scale.tvrx", "the conversion failed"},
        {"a folder stands at the converted file's place", kSong,
         [](const fs::path& converted) {
             fs::remove(converted);
             fs::create_directory(converted);
         },
         [](const fs::path& converted) { fs::remove(converted); }, "song.mid",
         "the converted file could not be written completely"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        h_.convert();
        ASSERT_EQ(project_.convertedMidiCount, 4);
        const fs::path broken = h_.converted(c.entry);
        c.breakIt(broken);
        h_.convert();
        const auto warnings = shell_.boxes(kBoxWarning);
        ASSERT_FALSE(warnings.empty());
        EXPECT_NE(warnings.back().text.find(std::string(c.file) + ": " + c.cause), std::string::npos)
            << warnings.back().text;
        EXPECT_FALSE(fs::is_regular_file(broken));
        EXPECT_TRUE(project_.entries[static_cast<std::size_t>(c.entry)].convertedMidiPath.empty());
        for (int i = 0; i < 4; ++i) {
            EXPECT_TRUE(i == c.entry || readsWhole(h_.converted(i))) << i;
        }
        EXPECT_EQ(project_.convertedMidiCount, c.entry) << "the files from the first on that are all there";
        EXPECT_EQ(project_.dirty & kDirtyMidiDone, 0u);
        const MidiStepPageState state = h_.page->snapshot();
        EXPECT_TRUE(state.notComplete);
        EXPECT_EQ(state.rows.size(), 3u);
        EXPECT_TRUE(std::none_of(state.rows.begin(), state.rows.end(),
                                 [&](const MidiStepRow& r) { return r.entry == c.entry; }));
        EXPECT_TRUE(h_.tempLeftovers().empty());
        c.repair(broken);
    }
}

// --- without the engine: MIDI entries only ----------------------------------------

// A project of MIDI files read straight into its entries.
struct MidiProject {
    explicit MidiProject(int files, int bars = 1) {
        project.data.ProjectFolder = dir.path();
        for (int i = 0; i < files; ++i) add("song" + std::to_string(i) + ".mid", bars);
    }
    void add(const std::string& file, int bars = 1) {
        ProjectEntry e;
        e.Filename = dir.path() / file;
        platform::testing::writeBytes(e.Filename, pianoAndBass(bars));
        e.project = &project;
        EXPECT_EQ(cnvReadMidiEntry(e), 0);
        e.kind = EntryKind::Midi;
        project.entries.push_back(std::move(e));
    }
    platform::testing::TempFolder dir;
    RecordingShell shell;
    Neighbours neighbours{nullptr, nullptr, &shell};
    Project project{neighbours};
    Harness h{project, nullptr, nullptr};
};

TEST(MidiStepChoice, NothingChosenStartsNothingAndSaysSo) {
    const struct {
        const char* what;
        int files;
        bool convertAll;
        std::vector<int> selected;
    } cases[] = {
        {"no entries", 0, true, {}},
        {"selected only, none selected", 2, false, {}},
        {"selected only, a selection past the entries", 2, false, {2, -1}},
    };
    for (const auto& c : cases) {
        MidiProject m(c.files);
        m.project.midiConvertAll = c.convertAll ? 1 : 0;
        m.h.selected = c.selected;
        EXPECT_EQ(m.h.run(), MidiStepRun::NothingToDo) << c.what;
        EXPECT_EQ(m.h.view.nothingToConvert, 1) << c.what;
        EXPECT_FALSE(m.h.page->busy()) << c.what;
        EXPECT_EQ(m.h.window.count(), 0u) << c.what;
        for (int i = 0; i < c.files; ++i) EXPECT_FALSE(fs::exists(m.h.converted(i))) << c.what;
    }
}

TEST(MidiStepChoice, SelectedOnlyConvertsTheSelection) {
    MidiProject m(3);
    m.project.midiConvertAll = 0;
    m.h.selected = {2, 0, 2};
    m.h.convert();
    EXPECT_TRUE(readsWhole(m.h.converted(0)));
    EXPECT_FALSE(fs::exists(m.h.converted(1)));
    EXPECT_TRUE(readsWhole(m.h.converted(2)));
    const MidiStepPageState state = m.h.page->snapshot();
    ASSERT_EQ(state.rows.size(), 2u);
    EXPECT_TRUE(state.rows[1].selected) << "the last one converted";
    EXPECT_FALSE(state.notComplete);
    EXPECT_FALSE(state.convertAll.enabled) << "not every file has its converted file yet";
}

// An existing file without overwriting: the user decides, and no answer
// deletes the file before its successor is complete.
TEST(MidiStepChoice, TheOverwriteQuestionDecidesPerFile) {
    const struct {
        const char* what;
        int answer;
        bool replaced;   // the first file was written again
        bool second;     // the second entry was converted
        bool complete;
        std::size_t warnings;
    } cases[] = {
        {"Yes replaces it", kIdYes, true, true, true, 0},
        {"No keeps it and goes on", kIdNo, false, true, true, 0},
        {"Cancel ends the step without a warning", kIdCancel, false, false, false, 0},
    };
    for (const auto& c : cases) {
        MidiProject m(2);
        const fs::path first = m.h.converted(0);
        platform::testing::writeBytes(first, pianoAndBass(3));  // an earlier conversion
        const std::string earlier = platform::testing::readBytes(first);
        m.project.midiOverwrite = 0;
        m.project.convertedMidiCount = 2;  // nothing is reset: the question comes
        m.shell.answer = c.answer;
        m.h.convert();
        const auto questions = m.shell.boxes(kBoxQuestion);
        ASSERT_EQ(questions.size(), 1u) << c.what;
        EXPECT_NE(questions[0].text.find("song0_qvpcnv.mid"), std::string::npos) << c.what;
        EXPECT_EQ(questions[0].buttons, kMbYesNoCancel) << c.what;
        EXPECT_EQ(platform::testing::readBytes(first) != earlier, c.replaced) << c.what;
        EXPECT_TRUE(readsWhole(first)) << c.what;
        EXPECT_EQ(fs::exists(m.h.converted(1)), c.second) << c.what;
        EXPECT_EQ(m.h.page->snapshot().notComplete, !c.complete) << c.what;
        EXPECT_EQ(m.shell.boxes(kBoxWarning).size(), c.warnings) << c.what;
        EXPECT_EQ((m.project.dirty & kDirtyMidiDone) != 0, c.complete) << c.what;
    }
}

TEST(MidiStepChoice, ASourceNamedLikeAConvertedFileIsNeverWrittenOver) {
    MidiProject m(0);
    m.add("a.mid");
    m.add("a_qvpcnv.mid", 2);
    const std::string source = platform::testing::readBytes(m.dir.path() / "a_qvpcnv.mid");
    m.h.convert();
    EXPECT_EQ(platform::testing::readBytes(m.dir.path() / "a_qvpcnv.mid"), source);
    EXPECT_TRUE(readsWhole(m.dir.path() / "a_qvpcnv_qvpcnv.mid"));
    const auto warnings = m.shell.boxes(kBoxWarning);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].text.find("a.mid: "), std::string::npos) << warnings[0].text;
}

TEST(MidiStepNotifier, PostsStepWorkerDoneAfterTheShellsTimes) {
    for (const bool timesKnown : {true, false}) {
        platform::RecordingMessageTarget window;
        MidiStepPage page(nullptr, &window);
        std::atomic<int> calls{0};
        page.setup.workerDone = [&](MidiStepPage&) {
            ++calls;
            return timesKnown;
        };
        WorkerThreadRec record;
        ASSERT_NE(stpStartWorker(&record, cnvWorkerDoneThreadProc, true, platform::ThreadPriority::BelowNormal, 0, &page),
                  nullptr);
        ASSERT_TRUE(window.waitForCount(1, 10s));
        stpStopWorker(&record);
        const auto messages = window.messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].msg, 1125u);
        EXPECT_EQ(messages[0].wParam, 0u);
        EXPECT_EQ(messages[0].lParam, 0);
        EXPECT_EQ(messages[0].delivery, platform::Delivery::Posted);
        EXPECT_NE(messages[0].thread, std::this_thread::get_id());
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(page.snapshot().notComplete, !timesKnown) << "a failed time count leaves the step not complete";
    }
}

// --- threads ---------------------------------------------------------------------

TEST(MidiStepThreads, StartingAndCancellingTwoHundredTimes) {
    MidiProject m(3, 200);
    m.project.midiOverwrite = 1;
    for (int i = 0; i < 200; ++i) {
        // The last run's notifier has posted; its record is left to the next
        // run to free, but every tenth time the page answers the message first.
        ASSERT_TRUE(m.h.window.waitForCount(m.h.started, kRunTimeout)) << i;
        if (i % 10 == 9) cnvMidiStepWorkerDone(*m.h.page);
        ASSERT_EQ(m.h.run(), MidiStepRun::Started) << i;
        std::this_thread::sleep_for(std::chrono::microseconds(i % 5 * 300));
        // Cancels, or starts the next run when this one has ended already.
        ASSERT_NE(m.h.run(), MidiStepRun::NotStarted) << i;
    }
    ASSERT_TRUE(m.h.waitForEnd());
    EXPECT_EQ(m.h.window.count(), m.h.started);
    for (int i = 0; i < 3; ++i) {
        const fs::path file = m.h.converted(i);
        EXPECT_TRUE(!fs::exists(file) || readsWhole(file)) << i;
    }
    for (const ProjectEntry& e : m.project.entries) EXPECT_EQ(plyEntryState(e), kEntryIdle);
    EXPECT_TRUE(m.h.tempLeftovers().empty());
    EXPECT_TRUE(m.h.folderLeftovers().empty());
}

// Closing while the step runs stops it first: no message, no box, no half file.
TEST(MidiStepThreads, ClosingWhileConvertingStopsTheWorkerFirst) {
    const struct {
        const char* what;
        bool destroyPage;  // else the project is closed: stopped first, the page stays
    } cases[] = {{"the page is destroyed", true}, {"the project is closed", false}};
    for (const auto& c : cases) {
        auto m = std::make_unique<MidiProject>(3, 200);
        m->project.midiOverwrite = 1;
        std::promise<void> converting;
        MidiStepPage* const page = m->h.page.get();
        // The worker goes on only once the closing has begun, so it cannot end on its own first.
        m->h.view.setOnRows([&, page, once = false](const std::vector<MidiStepRow>& rows) mutable {
            if (once || rows.empty()) return;
            once = true;
            converting.set_value();
            for (bool closing = false; !closing; std::this_thread::sleep_for(1ms)) {
                std::lock_guard lock(page->mutex);
                closing = page->closing;
            }
        });
        ASSERT_EQ(m->h.run(), MidiStepRun::Started) << c.what;
        converting.get_future().wait();
        if (c.destroyPage) {
            m->h.page.reset();
        } else {
            cnvMidiStepStop(*m->h.page);
            EXPECT_FALSE(m->h.page->busy()) << c.what;
        }
        EXPECT_EQ(m->h.window.count(), 0u) << c.what;
        EXPECT_TRUE(m->shell.boxes(kBoxWarning).empty()) << c.what;
        for (int i = 0; i < 3; ++i) {
            const fs::path file = m->h.converted(i);
            EXPECT_TRUE(!fs::exists(file) || readsWhole(file)) << c.what << ": " << i;
        }
        EXPECT_TRUE(m->h.folderLeftovers().empty()) << c.what;
        m.reset();
    }
}

}  // namespace
}  // namespace qvp3
