#include <gtest/gtest.h>

#include <map>

#include "platform_testing/file_bytes.h"
#include "profile_support.h"
#include "qvp3_project/step_changes.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using testing::ProfileStudio;
using Shape = testing::FakePipeline::Shape;

// Measures what the test says: sources by file name, converted files by path.
class TimedPipeline : public testing::FakePipeline {
public:
    std::map<std::string, std::pair<int, std::int32_t>> sources;  // code, ms
    std::map<fs::path, std::int64_t> files;                       // 100-ns units

    int cnvMeasureSourceTime(ProjectEntry& entry, std::int32_t& ms) override {
        const auto it = sources.find(entry.Filename.filename().string());
        if (it == sources.end()) return BasicPipeline::cnvMeasureSourceTime(entry, ms);
        ms = it->second.second;
        return it->second.first;
    }
    std::optional<std::int64_t> cnvFileDuration(const fs::path& file) override {
        const auto it = files.find(file);
        if (it == files.end()) return std::nullopt;
        return it->second;
    }
};

struct Sequence {
    TimedPipeline pipeline;
    testing::FakeAudioEngine audio;
    testing::ProfileShell shell;
    testing::FakeStepPages pages;
    Project project{Neighbours{&pipeline, &audio, &shell, &pages}};

    ProjectEntry& add(const std::string& name, EntryKind kind = EntryKind::TvrXml) {
        ProjectEntry entry;
        entry.Filename = fs::path("/music") / name;
        testing::FakePipeline::build(entry, Shape{kind, {1, 2}, {}, 0});
        entry.project = &project;
        project.entries.push_back(std::move(entry));
        return project.entries.back();
    }
    void report(int step, int state, std::string text = {}, int stringId = 0) {
        project.stepPages[static_cast<std::size_t>(step)]->getStatus = [=](StepPage&, Project&, StepStatus& status) {
            status.state = state;
            status.text = text;
            status.stringId = stringId;
        };
    }
    StepPage& page(int step) { return *project.stepPages[static_cast<std::size_t>(step)]; }
};

TEST(StepChanges, TheCurrentPageIsAskedWhenMovingOnAndJumpsWaitForPendingWork) {
    struct Case {
        const char* why;
        int from;
        int to;
        int state;
        const char* text;
        int pendingStep;  // -1 none
        int answer;
        bool allowed;
        std::vector<std::string> shown;
        std::vector<std::string> asked;
    } cases[] = {
        {"next step, nothing to report", 3, 4, 0, "", -1, kIdNo, true, {}, {}},
        {"next step, blocked", 3, 4, 5, "fix it first", -1, kIdNo, false, {"fix it first"}, {}},
        {"next step, language string", 3, 4, 5, "", -1, kIdNo, false, {"S77"}, {}},
        {"next step, question Yes", 3, 4, -2, "go on?", -1, kIdYes, true, {}, {"go on?"}},
        {"next step, question No", 3, 4, -2, "go on?", -1, kIdNo, false, {}, {"go on?"}},
        {"back, blocked page says nothing", 5, 2, 5, "fix it first", -1, kIdNo, true, {}, {}},
        {"back, always-report", 5, 2, 3, "note this", -1, kIdNo, false, {"note this"}, {}},
        {"jump over pending work", 2, 9, 0, "", 4, kIdNo, false, {"S417"}, {}},
        {"jump, nothing pending, page not heard", 2, 9, 5, "fix it first", -1, kIdNo, true, {}, {}},
        {"jump to before the pending step", 2, 9, 0, "", 10, kIdNo, true, {}, {}},
        {"same step", 6, 6, 5, "fix it first", 4, kIdNo, true, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Sequence seq;
        seq.add("a.tvrx");
        seq.project.currentStep = c.from;
        seq.report(c.from, c.state, c.text, 77);
        if (c.pendingStep >= 0) seq.page(c.pendingStep).pending = true;
        seq.shell.textAnswer = c.answer;
        EXPECT_EQ(prjCanChangeStep(c.to, seq.project), c.allowed);
        EXPECT_EQ(seq.shell.shown, c.shown);
        EXPECT_EQ(seq.shell.asked, c.asked);
        if (c.state == -2) {
            EXPECT_EQ(seq.page(c.from).pending, c.answer == kIdNo);
        }
        const bool levelApplied = c.allowed && c.from != c.to && c.state != -2;
        EXPECT_EQ(seq.shell.menuSteps, levelApplied ? std::vector<int>{c.to} : std::vector<int>{});
    }
}

TEST(StepChanges, LeavingTheConversionStepsTakesWhatTheyLeft) {
    Sequence seq;
    ProjectEntry& entry = seq.add("a.mid", EntryKind::Midi);
    entry.convertedMidiPath = "/p/a_qvpcnv.mid";
    seq.pipeline.files[entry.convertedMidiPath] = 615'000'000;
    seq.project.convertedMidiCount = 1;
    seq.project.currentStep = kStepMdc;
    seq.report(kStepMdc, -2, "all converted?");
    seq.shell.textAnswer = kIdYes;
    EXPECT_TRUE(prjCanChangeStep(kStepPwc, seq.project));
    EXPECT_EQ(entry.convertedMidiMs, 61500);

    seq.project.currentStep = kStepPwc;
    seq.project.currentEntry = 0;
    seq.audio.samplerSetup = {1, 2, 3};
    EXPECT_TRUE(prjCanChangeStep(kStepWvc, seq.project));
    EXPECT_EQ(entry.samplerSetup, (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(StepChanges, StatusAndPendingWorkAreFoundByStep) {
    Sequence seq;
    ProjectEntry& entry = seq.add("a.tvrx");
    seq.report(1, -2, "question");
    seq.report(2, 5, "blocked");
    seq.report(3, 3, "note");
    seq.project.currentStep = 4;
    StepStatus status;
    EXPECT_EQ(prjFindStepWithStatus(seq.project, -1, &status), 2);
    EXPECT_EQ(status.text, "blocked");
    EXPECT_EQ(prjFindStepWithStatus(seq.project, 2, nullptr), -1);

    int last = 99;
    EXPECT_EQ(prjLastPendingStep(seq.project, &last), 0);
    EXPECT_EQ(last, -1);
    seq.page(3).pending = true;
    entry.pending[7] = 1;
    EXPECT_EQ(prjLastPendingStep(seq.project, &last), 2);
    EXPECT_EQ(last, 7);
}

TEST(StepChanges, SilentVoicesAreFound) {
    struct Case {
        std::vector<std::vector<int>> volumes;  // per entry, its three voices
        std::vector<int> offVoices;             // voices of entry 0 switched off (staff 1)
        int result;
        int entryIndex;
        int count;
    } cases[] = {
        {{{80, 80, 80}}, {}, 0, -1, 0},
        {{{80, 0, 80}}, {}, 1, -1, 1},
        {{{0, 0, 0}}, {}, 2, 0, 0},
        {{{80, 80, 80}, {0, 0, 0}}, {}, 2, 1, 0},
        {{{80, 0, 0}, {0, 90, 90}}, {}, 1, -1, 2},
        {{{80, 0, 0}}, {0, 1}, 0, -1, 0},  // silent but switched off: not counted
    };
    for (const Case& c : cases) {
        Sequence seq;
        for (std::size_t e = 0; e < c.volumes.size(); ++e) seq.add("e" + std::to_string(e) + ".tvrx");
        for (std::size_t e = 0; e < c.volumes.size(); ++e) {
            for (std::size_t v = 0; v < 3; ++v) {
                seq.project.entries[e].voices[v].volume = static_cast<std::int8_t>(c.volumes[e][v]);
            }
        }
        for (const int v : c.offVoices) seq.project.entries[0].states.setVoiceOnOff(1, v, scorecore::kStateOff);
        int entryIndex = 42;
        int count = 42;
        EXPECT_EQ(prjCheckVoiceSettings(seq.project, entryIndex, count), c.result);
        EXPECT_EQ(entryIndex, c.entryIndex);
        if (c.result != 2) {
            EXPECT_EQ(count, c.count);
        }
    }
    Sequence empty;
    int entryIndex = 42;
    int count = 42;
    EXPECT_EQ(prjCheckVoiceSettings(empty.project, entryIndex, count), 0);
}

TEST(StepChanges, PlayingTimesFollowTheStepAndMeetTheDisc) {
    Sequence seq;
    ProjectEntry& a = seq.add("a.mid", EntryKind::Midi);
    a.convertedMidiMs = 61500;
    a.Pause = 2;
    seq.project.data.CDSpace = 4800;
    seq.project.currentStep = kStepWvc;
    EXPECT_TRUE(prjComputePlayTimes(seq.project));
    EXPECT_EQ(seq.project.totalMs, 63500);

    // The disc: at its capacity it fits, a millisecond more does not.
    struct Case {
        std::int32_t ms;
        bool fits;
    } cases[] = {{4'800'000 - 2000, true}, {4'800'000 - 1999, false}};
    for (const Case& c : cases) {
        a.convertedMidiMs = c.ms;
        EXPECT_EQ(prjComputePlayTimes(seq.project), c.fits) << c.ms;
    }
    EXPECT_EQ(seq.project.totalMs, 4'800'001);
}

TEST(StepChanges, TimesThatCannotBeMeasuredAddNothing) {
    Sequence seq;
    seq.add("ok.tvrx");
    seq.add("gone.tvrx");
    seq.add("unknown.tvrx");
    seq.add("broken.mid", EntryKind::Midi);
    seq.pipeline.sources["ok.tvrx"] = {0, 30000};
    seq.pipeline.sources["gone.tvrx"] = {-103, 0};
    seq.pipeline.sources["broken.mid"] = {-100, 0};
    seq.project.data.CDSpace = 60;
    seq.project.currentStep = 3;
    EXPECT_TRUE(prjComputePlayTimes(seq.project));
    EXPECT_EQ(seq.project.totalMs, 30000);
    EXPECT_EQ(seq.project.entries[0].durationMs, 30000);
    EXPECT_EQ(seq.shell.shown, (std::vector<std::string>{"S212", "S187"}));
    EXPECT_EQ(seq.shell.statusTexts.size(), 4u);

    // From the export step on: the WAV files, measured when not yet known.
    ProjectEntry& ok = seq.project.entries[0];
    ok.convertedWavePath = "/p/ok_qvpcnv.wav";
    seq.pipeline.files[ok.convertedWavePath] = 300'000'000;
    seq.project.entries[1].convertedWaveMs = 1000;
    seq.project.currentStep = kStepBrn;
    seq.shell.shown.clear();
    EXPECT_TRUE(prjComputePlayTimes(seq.project));
    EXPECT_EQ(ok.convertedWaveMs, 30001);
    EXPECT_EQ(seq.project.totalMs, 31001);
    EXPECT_TRUE(seq.shell.shown.empty());
}

// A file list that records its rows.
class ListDouble : public FileListView {
public:
    int rowCount() const override { return static_cast<int>(rows.size()); }
    void clear() override {
        rows.clear();
        checks.clear();
        ++clears;
    }
    bool showPauseColumn(bool show) override {
        const bool changed = show != pauseColumn;
        pauseColumn = show;
        return changed;
    }
    void setCheckBoxes(std::string_view header) override { checkHeader = header; }
    void appendRow(const FileListRow& row) override {
        rows.push_back(row);
        checks.push_back(true);  // a list may start with every box set
    }
    bool isChecked(int row) const override { return checks.at(static_cast<std::size_t>(row)); }
    void setChecked(int row, bool checked) override { checks.at(static_cast<std::size_t>(row)) = checked; }
    void selectRow(int row) override { selected = row; }

    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const FileListRow& r : rows) out.push_back(r.name + " " + r.time + (r.pause ? " +" + *r.pause : ""));
        return out;
    }

    std::vector<FileListRow> rows;
    std::vector<bool> checks;
    bool pauseColumn = false;
    std::string checkHeader;
    int selected = -1;
    int clears = 0;
};

TEST(StepChanges, TheFileListShowsNamesTimesAndTheStepsColumns) {
    Sequence seq;
    seq.add("Song.xml.tvrx");
    seq.add("Dance.mid", EntryKind::Midi);
    ProjectEntry& song = seq.project.entries[0];
    ProjectEntry& midi = seq.project.entries[1];
    song.FilenameOrig = "C:\\Noten\\Song.xml";
    song.durationMs = 125000;
    song.ConvertForQvo = 1;
    midi.durationMs = 59999;
    midi.ConvertForQvo = 1;
    midi.Pause = 3;
    seq.project.currentEntry = 7;

    struct Case {
        int step;
        std::vector<std::string> rows;
        bool pauseColumn;
    } cases[] = {
        {2, {"Song.xml 2:05", "Dance.mid 0:59"}, false},
        {kStepWvc, {"Song.xml 2:05 +2", "Dance.mid 0:59 +3"}, true},
        {kStepBrn, {"Song.xml 2:07", "Dance.mid 1:02"}, false},
    };
    for (const Case& c : cases) {
        ListDouble list;
        list.pauseColumn = true;
        seq.project.currentStep = c.step;
        prjFillFileList(seq.project, list, false, kFileListSources);
        EXPECT_EQ(list.texts(), c.rows) << c.step;
        EXPECT_EQ(list.pauseColumn, c.pauseColumn);
        EXPECT_EQ(list.selected, 0);  // a current entry out of range became the first
    }
    EXPECT_EQ(seq.project.currentEntry, 0);

    // Conversion step: only scores may be converted for the sample library.
    ListDouble list;
    seq.project.currentStep = kStepMdc;
    seq.project.currentEntry = 1;
    prjFillFileList(seq.project, list, true, kFileListSources);
    EXPECT_EQ(list.checkHeader, "S475");
    EXPECT_EQ(list.checks, (std::vector<bool>{true, false}));
    EXPECT_EQ(list.selected, 1);

    // The converted files.
    song.convertedMidiPath = "/p/Song_qvpcnv.mid";
    seq.project.convertedMidiCount = 1;
    prjFillFileList(seq.project, list, false, kFileListMidi);
    ASSERT_EQ(list.rows.size(), 1u);
    EXPECT_EQ(list.rows[0].name, "Song_qvpcnv.mid");
    EXPECT_EQ(list.rows[0].image, kImageMidiFile);
    seq.project.convertedWaveCount = 0;
    prjFillFileList(seq.project, list, false, kFileListWaves);
    EXPECT_TRUE(list.rows.empty());
}

TEST(StepChanges, ATrackVelocityIsReadFromTheProjectFile) {
    platform::testing::TempFolder dir;
    Sequence seq;
    seq.project.filePath = dir.path() / "p.c-1";
    platform::testing::writeBytes(seq.project.filePath,
                                  "[Project File 01]\r\nFilename=/music/a.mid\r\nTrack0002_Velocity=-12\r\n"
                                  "[Project File 02]\r\nFilename=/music/B.MID\r\nTrack0001_Velocity=7\r\n"
                                  "Track0001_VelocityRelativ=1\r\n"
                                  "[Project File 03]\r\nPause=2\r\n"
                                  "[Project File 04]\r\nFilename=/music/c.mid\r\nTrack0001_Velocity=9\r\n");
    struct Case {
        const char* source;
        int track;
        int kind;
        bool found;
        int value;
    } cases[] = {
        {"/music/a.mid", 1, 0, true, -12},
        {"/music/b.mid", 0, 0, true, 7},   // names compare without regard to case
        {"/music/b.mid", 0, 1, true, 1},
        {"/music/a.mid", 0, 0, false, 0},  // no such key
        {"/music/a.mid", -1, 0, false, 0},
        {"/music/c.mid", 0, 0, false, 0},  // after a section without a file: not looked at
    };
    for (const Case& c : cases) {
        int value = 0;
        EXPECT_EQ(prjReadTrackVelocity(seq.project, c.source, c.track, c.kind, value), c.found) << c.source;
        EXPECT_EQ(value, c.value) << c.source;
    }
}

}  // namespace
}  // namespace qvp3
