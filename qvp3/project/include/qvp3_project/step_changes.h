// Project-level operations around the 18-step sequence: whether the user may
// move to another step (with the step pages' status reports), which steps
// still hold unfinished work, the silent-voice check of the volume step, the
// playing times of the files against the disc capacity, the file lists, and
// one track velocity read back from the project file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "qvp3_project/project.h"

namespace qvp3 {

// Language strings of the step changes.
inline constexpr int kStrSkipPendingStep = 417;
inline constexpr int kStrMeasuringFile = 14;  // "%s": the file name
inline constexpr int kStrCannotOpenFile = 212;
inline constexpr int kStrCannotReadFile = 187;
inline constexpr int kStrOutOfMemory = 188;
inline constexpr int kStrConvertHeader = 475;

// The steps whose pages the check of the sequence treats specially.
inline constexpr int kStepMdc = 13;
inline constexpr int kStepPwc = 14;
inline constexpr int kStepWvc = 15;
inline constexpr int kStepBrn = 16;

// The first step before n (-1: the current step) whose page reports a state
// other than 0 and -2, with its status in out; -1 when none does.
int prjFindStepWithStatus(Project& project, int n, StepStatus* out);

// Whether the user may move from the current step to newStep: the current
// page's report is shown (and answered) when moving one step on or when it
// must always be shown; jumping further ahead is refused while work is
// pending before the target. On a move the new step level is applied.
bool prjCanChangeStep(int newStep, Project& project);

// Number of pending flags of the pages and pending bytes of the entries;
// last = the highest step that has one, -1 when none.
int prjLastPendingStep(const Project& project, int* last);

// The volume step's check for silent voices: 2 when an entry's playable
// voices are all silent (entryIndex = that entry), 1 when some entries have
// some silent voices (count = how many), else 0. Sets each entry's VOL
// pending byte as the check goes.
int prjCheckVoiceSettings(Project& project, int& entryIndex, int& count);

// Where prjComputePlayTimes shows its progress instead of the status bar.
class PlayTimeProgressView {
public:
    virtual ~PlayTimeProgressView() = default;
    virtual void open(int files) = 0;
    virtual void setText(std::string_view text) = 0;
    virtual void setPosition(int file) = 0;
    virtual void close() = 0;
};

// Recomputes every entry's playing time by the current step (the source
// from the score or MIDI file before step 14, the converted MIDI file plus
// the pause on 14 and 15, the converted WAV file from 16 on; converted times
// already known are used as stored) and totalMs. A time that cannot be
// measured adds nothing (a warning names why, where a reason is known).
// True when the total fits the disc (at most CDSpace seconds).
bool prjComputePlayTimes(Project& project, PlayTimeProgressView* window = nullptr);

// Converted MIDI times not yet known, taken from the files.
void prjFillMissingDurations(Project& project);

// One row of a file list.
struct FileListRow {
    std::string name;
    int image = 0;
    std::string time;                  // "m:ss"; empty for converted files
    std::optional<std::string> pause;  // the pause column (WVC step)
};

// A list view of files, as the window shows it.
class FileListView {
public:
    virtual ~FileListView() = default;
    virtual int rowCount() const = 0;
    virtual void clear() = 0;
    // Shows or hides the pause column; true when that changed.
    virtual bool showPauseColumn(bool show) = 0;
    virtual void setCheckBoxes(std::string_view firstHeader) = 0;
    virtual void appendRow(const FileListRow& row) = 0;
    virtual bool isChecked(int row) const = 0;
    virtual void setChecked(int row, bool checked) = 0;
    // Selects, focuses and shows a row.
    virtual void selectRow(int row) = 0;
};

inline constexpr int kFileListSources = 0;
inline constexpr int kFileListMidi = 1;
inline constexpr int kFileListWaves = 2;
inline constexpr int kImageMidiFile = 11;
inline constexpr int kImageWaveFile = 43;

// Fills a list with the project's files (mode 0), its converted MIDI files
// (1) or its converted WAV files (2).
void prjFillFileList(Project& project, FileListView& list, bool rebuild, int mode);

// "m:ss" of a time in milliseconds (whole seconds, rounded down).
std::string prjFormatPlayTime(std::int64_t ms);

// Reads one track's velocity setting of a source file from the project file:
// kind 0 the velocity, kind 1 whether it is relative (1 or 0). True when
// the file's section and the key were found.
bool prjReadTrackVelocity(const Project& project, std::string_view sourcePath, int track, int kind, int& out);

}  // namespace qvp3
