// The open project: its files (entries), its folder, title and description,
// the export settings, the current step of the 18-step sequence with the mask
// of changed steps, the play features the step reached enables, and the 18
// step pages. The application keeps one Project for its whole life; opening or
// creating a project refills it.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qvp3_project/neighbours.h"
#include "qvp3_project/project_entry.h"

namespace qvp3 {

// The steps, in sequence order; the codes are also the profile type tags.
enum class StepCategory : std::int32_t {
    Slf = 0, Sls, Trp, Chp, Vol, Pan, Prc, Tmp, Tpp, Dyn, Shv, Met, Ein, Mdc, Pwc, Wvc, Brn, Cln,
};

// "SLF" .. "CLN"; empty for a value outside 0..17.
std::string_view stpCategoryCode(int category);
// The category of a 3-letter code (exact comparison); -1 for an unknown code.
int stpCategoryFromCode(std::string_view code);

// ProjectDirty: bits 0..16 mark changed steps; bit 30 MIDI conversion done,
// bit 31 WAV rendering done. Stored as signed decimal.
using ProjectDirty = std::uint32_t;
inline constexpr ProjectDirty kDirtyStepBits = 0x1FFFF;
inline constexpr ProjectDirty kDirtyMidiDone = 0x40000000u;
inline constexpr ProjectDirty kDirtyWaveDone = 0x80000000u;

// What the project-data dialog edits (through a copy in modes 1 and 2).
struct ProjectData {
    static constexpr std::int32_t kModeEdit = 0;
    static constexpr std::int32_t kModeNew = 1;
    static constexpr std::int32_t kModeSaveAs = 2;

    std::int32_t CDSpace = 0;  // capacity of the blank disc in seconds
    std::string ProjectDescription;
    std::string ProjectTitle;
    std::filesystem::path ProjectFolder;  // always the folder of the project file
    std::int32_t ProjectDataMode = kModeEdit;
};

class Project {
public:
    // Every field at its default, the MP3 settings filled by the pipeline, and
    // the 18 step pages built by the step pages in category order. Neighbours
    // not given are replaced by the Basic* stand-ins, owned by the project;
    // neighbours given must outlive the project (its destructor calls them).
    explicit Project(const Neighbours& neighbours = {});
    ~Project();  // prjRelease
    Project(const Project&) = delete;
    Project& operator=(const Project&) = delete;

    PipelineServices& pipeline() { return *neighbours_.pipeline; }
    AudioEngineServices& audio() { return *neighbours_.audio; }
    ShellServices& shell() { return *neighbours_.shell; }
    StepPageServices& stepPageServices() { return *neighbours_.stepPages; }

    std::int32_t fileNum() const { return static_cast<std::int32_t>(entries.size()); }
    // Characters of CatInstrument as stored (UTF-16 units and the terminating
    // zero); 0 when there is none.
    std::int32_t catInstrumentSize() const;

    std::int32_t currentStep = -1;  // StepCategory 0..17, -1 none
    std::int32_t cdCopies = 1;
    std::uint8_t openTray = 1;
    std::uint8_t burnProof = 0;
    std::uint8_t burnSimulate = 0;
    std::int32_t burningSpeed = 0;
    std::int32_t burnMethod = -1;  // -1 MP3, else the recorder index
    Mp3Config mp3Config{};
    std::string CatEnsemble;
    std::optional<std::string> CatInstrument;  // ";"-separated category numbers
    ProjectDirty dirty = 0;
    std::uint8_t addPath = 0;
    std::filesystem::path filePath;  // the project file last read or written
    std::int32_t currentEntry = -1;
    std::vector<ProjectEntry> entries;
    std::uint8_t saved = 1;
    std::uint8_t loadedFromFile = 0;
    std::uint8_t midiConvertAll = 1;
    std::uint8_t midiOverwrite = 0;
    std::uint8_t removeMidis = 0;
    std::filesystem::path mp3Folder;
    std::int32_t convertedMidiCount = 0;
    std::int32_t normalize = 2;
    std::int32_t convertedWaveCount = 0;
    std::uint8_t suspendDirty = 0;
    std::uint64_t playFeatures = 0;
    std::int32_t playOption = 7;
    std::int32_t totalMs = 0;
    std::int32_t previousStep = -1;
    ProjectData data;
    std::array<std::unique_ptr<StepPage>, kStepCount> stepPages;
    std::vector<std::uint8_t> playerBuffer;
    std::uint8_t waveConvertAll = 1;
    std::uint8_t waveOverwrite = 0;
    std::uint8_t removeWaves = 0;

private:
    Neighbours neighbours_;
    std::unique_ptr<BasicPipeline> ownPipeline_;
    std::unique_ptr<BasicAudioEngine> ownAudio_;
    std::unique_ptr<BasicShell> ownShell_;
    std::unique_ptr<BasicStepPages> ownStepPages_;
};

// Frees every entry's model and the entries, then releases and deletes every
// step page. Safe to call more than once.
void prjRelease(Project& project);

// Index of the first entry that is playing (state 2 or 10); -1 when none.
int prjFindBusyEntry(const Project& project);
// True when every entry's state is 0, or there are no entries.
bool prjAllEntriesIdle(const Project& project);

// Entry index of the project; -1 the current entry. Null when there is no
// such entry (an index out of range, or -1 without a current entry).
ProjectEntry* prjGetEntry(Project& project, int index);
// The entry itself, or for null the current entry (null when there is none).
ProjectEntry* prjGetEntryOrCurrent(Project& project, ProjectEntry* entry);

// Stores the sampler's name (whole) and its catalogue index (-1 none).
void prjSetEntrySampler(ProjectEntry& entry, std::string_view name, int index);

// Unless marking is suspended: clears saved and, for a current step 0..16,
// sets its bit in dirty.
void prjMarkStepDirty(Project& project);
// Whether a step before step has unfinished changes; false for a step
// outside 0..17.
bool prjAnyEarlierStepDirty(const Project& project, int step);
// Brings playFeatures in line with the step level and tells the score engine
// what follows from it (transposition, recorded tempos, the stored tempo).
void prjApplyStepLevel(Project& project, int level);

// Sets, or clears, exactly the bits of mask in flags.
void prjSetFlag(std::uint64_t mask, std::uint64_t& flags);
void prjClearFlag(std::uint64_t mask, std::uint64_t& flags);

// The play-feature bits and the step from which each is on.
struct PlayFeatureRow {
    int step;
    std::uint64_t mask;
};
inline constexpr std::array<PlayFeatureRow, 12> kPlayFeatureRows{{
    {1, 0x2},
    {2, 0x8},
    {3, 0x10 | 0x4000},
    {4, 0x400},
    {5, 0x200},
    {6, 0x20000},
    {7, 0x4},
    {8, 0x10000},
    {9, 0x20},
    {10, 0x800 | 0x80},
    {11, 0x1000},
    {12, 0x8000},
}};

}  // namespace qvp3
