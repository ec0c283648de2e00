// What the project store asks of its neighbours: the conversion and playback
// pipeline, the audio engine, the application shell and the step pages. Each
// is one abstract interface, so the project code never depends on how (or
// whether yet) a neighbour is built. A Project takes its neighbours when it is
// made; for every one it is not given it uses the Basic* stand-in below, which
// does what can be done on the records alone and answers "nothing there" for
// what needs the real neighbour (no score engine, no plug-ins, no windows).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class IniDocument;
}

class QPainter;
class QPalette;
class QRect;
class QWidget;

namespace qvp3 {

class Project;
struct ProjectEntry;
struct TempoCurve;
enum class StepCategory : std::int32_t;  // project.h

// The 18 steps of the sequence, one step page each.
inline constexpr int kStepCount = 18;

// The MP3 encoder settings, kept as the 331 stored bytes (a little-endian
// 32-bit version field first, 256 for the layout the program writes).
inline constexpr std::size_t kMp3ConfigSize = 331;
using Mp3Config = std::array<std::uint8_t, kMp3ConfigSize>;

// The pipeline's own play model of an entry (player, engine handles, event
// lists): owned by the entry, opaque to the project store.
class EntryPlayModel {
public:
    virtual ~EntryPlayModel() = default;
};

// --- conversion and playback pipeline -------------------------------------

class PipelineServices {
public:
    virtual ~PipelineServices() = default;

    // Prepares an entry for loading: tempo defaults (relative 1000, relative
    // in use, absolute unset), fresh tune-up, tempo curve and metronome, and
    // the link to its project.
    virtual void cnvEntryInit(ProjectEntry& entry, Project& project) = 0;
    // Frees the entry's play model, voice records and sampler setup block.
    virtual void cnvEntryFreeModel(ProjectEntry& entry) = 0;
    // Opens the entry's Filename and builds its play model; on success (0) the
    // entry is moved to the end of the project's entries. A negative code
    // (-2, -100, -103, -104, ...) leaves the project's entries unchanged.
    virtual int cnvOpenEntry(ProjectEntry& entry, int fileNumber, Project& project) = 0;
    // For an entry converted from MusicXML: deletes the converted file and
    // makes FilenameOrig the file to open (and convert) again.
    virtual void cnvRestoreOriginalSource(ProjectEntry& entry) = 0;
    // Applies the stored sampler (method 1) by name, the entry's own name when
    // name is null; the sampler's catalogue index, or -1. Without a present
    // instrument the entry's instrument and effect are emptied.
    virtual int cnvApplyEntrySampler(ProjectEntry& entry, const std::string* name) = 0;
    // Selects the reverb effect by name (the entry's own when null); its index or -1.
    virtual int cnvSelectEntryReverb(const std::string* name, ProjectEntry& entry) = 0;
    // Points every entry's player (and project link) back at its entry after
    // the entry array moved.
    virtual void cnvRelinkEntryPlayers(Project& project) = 0;
    // Fills the encoder defaults of the member the first field names (256
    // the LAME member, 0 the plain MP3 member; mp3_config.h).
    virtual void cnvDefaultMp3Config(Mp3Config& config) = 0;

    virtual int cnvEntryStaveCount(const ProjectEntry& entry) = 0;
    virtual bool cnvEntryIsPercussionStave(const ProjectEntry& entry, int stave) = 0;

    // Setters of the play model (each marks the project changed).
    virtual void cnvEntrySetVoiceVolume(ProjectEntry& entry, int value, int stave, int voice) = 0;
    virtual void cnvEntrySetVoicePanorama(ProjectEntry& entry, int value, int stave, int voice) = 0;
    // State into the staff/voice store; the muted bit unless the state is 2.
    virtual void cnvEntrySetVoiceOnOff(ProjectEntry& entry, int stave, int voice, int state) = 0;
    virtual void cnvEntrySetVoiceChannel(ProjectEntry& entry, int voice, int channel, int stave) = 0;
    virtual void cnvEntrySetVoiceSound(ProjectEntry& entry, int sound, int stave, int voice) = 0;
    // Every voice record; for scores also the score engine.
    virtual void cnvEntrySetTranspose(ProjectEntry& entry, int semitones) = 0;
    virtual void cnvEntrySetInstrumentName(ProjectEntry& entry, int voice, std::string_view name, int stave) = 0;
    virtual void cnvEntrySetTrackName(ProjectEntry& entry, int track, std::string_view name) = 0;

    // Score engine: reads its current dynamics, articulation and trill switch
    // tables into the entry's TuneSectionSet.
    virtual void engineGetSections(ProjectEntry& entry) = 0;
    // Score engine: resets a switch group (4 dynamics, 2 articulation, 5 trills).
    virtual void engineResetSwitchGroup(int group) = 0;
    // Score engine: transposition of the open score in semitones.
    virtual void engineSetTranspose(int semitones) = 0;
    // Re-sends the entry's tempo to the score engine; -1.0 means the stored tempo.
    virtual int plySetEngineTempo(ProjectEntry& entry, double tempo) = 0;
    // Modification date (FILETIME) of an entry still held as MusicXML.
    virtual std::uint64_t mxmlGetModDate(const ProjectEntry& entry) = 0;

    // Score engine, on the entry's score: the play options (0x08 swing, 0x20
    // trills, 0x40 dynamics) and switching one of them (value = the option
    // bit to switch it on, kPlayOptionOff to switch it off).
    virtual std::uint32_t enginePlayOptions(ProjectEntry& entry) = 0;
    virtual void engineSetPlayOption(ProjectEntry& entry, std::uint32_t option, std::uint32_t value) = 0;
    // Score engine: writes its switch table of a group (4 dynamics, 2
    // articulation, 5 trills) into a section of an INI document, or loads it
    // from there.
    virtual void engineSaveSwitches(ProjectEntry& entry, int group, platform::IniDocument& document,
                                    std::string_view section) = 0;
    virtual void engineLoadSwitches(ProjectEntry& entry, int group, const platform::IniDocument& document,
                                    std::string_view section) = 0;

    // Playing time of the entry's source in milliseconds at its current
    // tempo (scores through the score engine, MIDI files read): 0 with ms
    // set, or a negative code (-2, -100, -103; another code: not measurable).
    virtual int cnvMeasureSourceTime(ProjectEntry& entry, std::int32_t& ms) = 0;
    // Duration of a converted MIDI or WAV file in 100-ns units; nothing when
    // it cannot be measured.
    virtual std::optional<std::int64_t> cnvFileDuration(const std::filesystem::path& file) = 0;
    // Image of an entry in the file lists, and the name a converted file is
    // listed under.
    virtual int cnvEntryImage(const ProjectEntry& entry) = 0;
    virtual std::string cnvConvertedDisplayName(const std::filesystem::path& file) = 0;
};

// engineSetPlayOption's value that switches an option off.
inline constexpr std::uint32_t kPlayOptionOff = 0x80000;

// --- audio engine and plug-in hosting ----------------------------------------

class AudioEngineServices {
public:
    virtual ~AudioEngineServices() = default;
    // Index of an effect of the plug-in catalogue by name (no regard to case); -1 absent.
    virtual int findEffect(std::string_view name) = 0;
    // Number of instruments present in the catalogue.
    virtual int countPresentInstruments() = 0;
    // Whether the catalogue's instrument at index is the sample-library plug-in.
    virtual bool isQvoPlugIn(int catalogIndex) = 0;
    // The sample player's current setup as the bytes of a ".qvpp" setup;
    // nothing when there is no sampler to ask.
    virtual std::optional<std::vector<std::uint8_t>> saveSamplerSetup(int samplerIndex) = 0;
    // Keeps the sample player's current setup of the entry's sampler in the
    // entry: its bytes (saveSamplerSetup) and, where the engine knows them,
    // the instrument and kind it was saved for. Nothing changes when there is
    // no setup to take.
    virtual void captureSamplerSetup(ProjectEntry& entry);
    // Clears the in-use mark of a catalogue instrument.
    virtual void clearInstrumentUse(int catalogIndex) = 0;
    // The present instrument a project names (its catalogue name, or a name
    // stored without the catalogue's marks), marked used: its index and in
    // displayName its catalogue name; -1 when none is present.
    virtual int useInstrument(std::string_view name, std::string& displayName) = 0;
};

// --- application shell ------------------------------------------------------

// Buttons of appQuestionBox, and its answers.
inline constexpr int kMbYesNoCancel = 3;
inline constexpr int kMbYesNo = 4;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdOk = 1;
inline constexpr int kMbOk = 0;

// Kinds of appTextBox.
inline constexpr int kBoxInformation = 0;
inline constexpr int kBoxWarning = 1;
inline constexpr int kBoxQuestion = 2;

class ShellServices {
public:
    virtual ~ShellServices() = default;
    // A text of the language library; empty when the id is missing.
    virtual std::string languageString(int id) = 0;
    // A question box by language string id; the button pressed.
    virtual int appQuestionBox(int stringId, int buttons) = 0;
    // The main window's close-project command (40026).
    virtual void closeProject() = 0;
    virtual void appSetStatusParts(int parts) = 0;
    virtual void appCreateStatusProgress(int maximum) = 0;
    virtual void appDestroyStatusProgress() = 0;
    virtual void setStatusText(int part, std::string_view text) = 0;
    // Ctrl and Shift both held down: the project is saved in its template form.
    virtual bool templateKeysDown() = 0;
    // Takes a pending activation message for the main window off the queue
    // and posts it again.
    virtual void repostActivation() = 0;
    // Deletes the "*." + extension files of folder: all for "*", those holding
    // the project title for "mp3", those holding "_qvpcnv" for the others.
    // False when a deletion failed.
    virtual bool appDeleteConvertedFiles(std::string_view extension, const std::filesystem::path& folder) = 0;
    // Root folder of the project catalogue.
    virtual std::filesystem::path projectsRoot() = 0;
    // The program's default project folder setting and its last-project path.
    virtual void setProjectFolder(const std::filesystem::path& folder) = 0;
    virtual void setLastProject(const std::filesystem::path& projectFile) = 0;
    // A message box of a kind with a text of its own; the button pressed.
    virtual int appTextBox(std::string_view text, int kind, int buttons) = 0;
    // Brings the step-dependent menu items in line with a step.
    virtual void appUpdateStepMenuItems(int step) = 0;
    // One line of the diagnostic log.
    virtual void appLog(std::string_view line) = 0;
};

// --- step pages -----------------------------------------------------------------

// What a step reports when it is asked whether the user may go on.
struct StepStatus {
    std::int32_t state = 0;     // 0 nothing, -2 a question, 3 always report, other: blocking
    std::int32_t stringId = 0;
    std::string text;
    std::uint8_t show = 0;
};

// The data block of a step page: each step's record derives from it (the
// step pages define them).
struct StepPageData {
    virtual ~StepPageData() = default;
};

// Events of a page's controls that the toolkit hands to the slots; defined
// by the step pages, opaque here.
struct PageNotify;
struct PageDrawItem;

// The "ProfileDataNum" of each step: the layout of the profile data it writes.
inline constexpr std::array<std::int32_t, kStepCount> kStepProfileDataNums{
    0, 127, 2, 127, 127, 127, 127, 3, 72, 8, 127, 8, 13, 0, 4, 0, 336, 0,
};

// One step page: its texts, its window, its data block and 23 handler slots
// filled per step from one table; an empty slot means the page does not
// handle that event. The project owns the 18 records; the step pages build
// them, and the step tab, the main window and the project code call the slots.
// Arguments from the window toolkit (windows, painters, palettes) appear only
// as pointers or references here, so this header needs no toolkit.
struct StepPage {
    using Result = std::intptr_t;
    using VoidSlot = std::function<void(StepPage& page)>;
    using BoolSlot = std::function<bool(StepPage& page)>;
    using GetStatusSlot = std::function<void(StepPage& page, Project& project, StepStatus& status)>;
    using CommandSlot = std::function<Result(StepPage& page, int controlId, QWidget* control, int code)>;
    // The palette is the control's own; the page colours it and answers non-zero.
    using CtlColorSlot = std::function<Result(StepPage& page, QPalette& palette, QWidget* control)>;
    using DrawItemSlot = std::function<Result(StepPage& page, PageDrawItem& item)>;
    using EnableSlot = std::function<void(StepPage& page, bool enable)>;
    using PartChangedSlot = std::function<Result(StepPage& page, std::intptr_t value)>;
    using ScrollSlot = std::function<Result(StepPage& page, QWidget* bar, int code, int position)>;
    using InitDialogSlot = std::function<Result(StepPage& page, QWidget* dialog, StepPage* param)>;
    using ReadProfileSlot = std::function<bool(StepPage& page, const std::filesystem::path& path,
                                               std::int32_t dataNum, std::int32_t type, ProjectEntry* entry)>;
    using NotifySlot = std::function<Result(StepPage& page, PageNotify& notify)>;
    using PaintSlot = std::function<void(StepPage& page, QPainter& painter, const QRect& body)>;
    using WriteProfileSlot = std::function<bool(StepPage& page, const std::filesystem::path& path,
                                                std::int32_t type, ProjectEntry* entry)>;
    using SetCursorSlot = std::function<int(StepPage& page, int mouseMessage)>;
    using ShowSlot = std::function<Result(StepPage& page, bool shown)>;

    std::string title;                // at most 256 characters
    std::string label;                // at most 12 characters
    std::string description;          // empty: none
    std::string altDescription;       // PRC, DYN and SHV only
    std::int32_t headerImage = 0;
    std::int32_t profileDataNum = 0;
    bool pending = false;
    QWidget* window = nullptr;        // the page's widget in the step tab
    bool usesProfiles = false;

    GetStatusSlot getStatus;          // 1
    CommandSlot onCommand;            // 2
    CtlColorSlot onCtlColor;          // 3
    DrawItemSlot onDrawItem;          // 4
    EnableSlot enableControls;        // 5
    PartChangedSlot onPartChanged;    // 6
    VoidSlot onToggle;                // 7
    ScrollSlot onHScroll;             // 8
    InitDialogSlot onInitDialog;      // 9
    BoolSlot isToggleDisabled;        // 10
    ReadProfileSlot readProfile;      // 11
    BoolSlot fillProfileList;         // 12
    NotifySlot onNotify;              // 13
    PaintSlot onPaint;                // 14
    WriteProfileSlot writeProfile;    // 15
    SetCursorSlot onSetCursor;        // 16
    VoidSlot onSetFocus;              // 17
    ShowSlot onShow;                  // 18
    VoidSlot onSize;                  // 19
    VoidSlot onRun;                   // 20
    VoidSlot stopWorker;              // 21
    ScrollSlot onVScroll;             // 22
    BoolSlot isRunDisabled;           // 23

    StepCategory category{};
    std::unique_ptr<StepPageData> data;
};

class StepPageServices {
public:
    virtual ~StepPageServices() = default;
    // Builds and releases the page of one category (the Project owns the record).
    virtual void stpInitPage(StepPage& page, StepCategory category) = 0;
    virtual void stpFreePage(StepPage& page) = 0;
    // Sets the curve's speed and its step divisor; false (curve unchanged) for
    // a speed the rule cannot use.
    virtual bool stpTempoCurveSetSpeed(TempoCurve& curve, int speed) = 0;
    // Copies every point of list source into list target (emptied first when
    // clear is set); false when a list number is not 0..2.
    virtual bool stpTempoCurveCopyPoints(TempoCurve& curve, int target, int source, bool clear) = 0;
    // Lets the TPP page take over or drop the recorded tempos.
    virtual void stpTppUseRecordedTempos(StepPage& page, bool force) = 0;
    // Sends the SLF page its refresh message (after a project was read).
    virtual void stpRefreshSlfPage() = 0;
    // Empties the file list of a conversion page (the MDC page).
    virtual void stpEmptyFileList(StepPage& page) = 0;
    // Shows the page's values again after entry changed outside the page: a
    // profile was applied (entry null for the export settings, which belong
    // to the project), or the transport took over recorded tempos.
    virtual void stpRefreshAfterProfile(StepPage& page, ProjectEntry* entry) = 0;
};

// The page of a step (0..17), or of the current step for -1; null for any
// other value, for -1 without a current step, and for a slot without a page.
StepPage* stpGetPage(Project& project, int step);

// --- the neighbours of one project ----------------------------------------------

struct Neighbours {
    PipelineServices* pipeline = nullptr;
    AudioEngineServices* audio = nullptr;
    ShellServices* shell = nullptr;
    StepPageServices* stepPages = nullptr;
};

// --- stand-ins until the real neighbours exist ---------------------------------

// Works on the entry records alone: the setters and counts are real, opening a
// file gives -104 (no loader), the score engine is absent.
class BasicPipeline : public PipelineServices {
public:
    void cnvEntryInit(ProjectEntry& entry, Project& project) override;
    void cnvEntryFreeModel(ProjectEntry& entry) override;
    int cnvOpenEntry(ProjectEntry& entry, int fileNumber, Project& project) override;
    void cnvRestoreOriginalSource(ProjectEntry& entry) override;
    int cnvApplyEntrySampler(ProjectEntry& entry, const std::string* name) override;
    int cnvSelectEntryReverb(const std::string* name, ProjectEntry& entry) override;
    void cnvRelinkEntryPlayers(Project& project) override;
    void cnvDefaultMp3Config(Mp3Config& config) override;
    int cnvEntryStaveCount(const ProjectEntry& entry) override;
    bool cnvEntryIsPercussionStave(const ProjectEntry& entry, int stave) override;
    void cnvEntrySetVoiceVolume(ProjectEntry& entry, int value, int stave, int voice) override;
    void cnvEntrySetVoicePanorama(ProjectEntry& entry, int value, int stave, int voice) override;
    void cnvEntrySetVoiceOnOff(ProjectEntry& entry, int stave, int voice, int state) override;
    void cnvEntrySetVoiceChannel(ProjectEntry& entry, int voice, int channel, int stave) override;
    void cnvEntrySetVoiceSound(ProjectEntry& entry, int sound, int stave, int voice) override;
    void cnvEntrySetTranspose(ProjectEntry& entry, int semitones) override;
    void cnvEntrySetInstrumentName(ProjectEntry& entry, int voice, std::string_view name, int stave) override;
    void cnvEntrySetTrackName(ProjectEntry& entry, int track, std::string_view name) override;
    void engineGetSections(ProjectEntry& entry) override;
    void engineResetSwitchGroup(int group) override;
    void engineSetTranspose(int semitones) override;
    int plySetEngineTempo(ProjectEntry& entry, double tempo) override;
    std::uint64_t mxmlGetModDate(const ProjectEntry& entry) override;
    // Without a score engine the entry's own switch record stands for the
    // engine's: options are its use flags, tables its switch sections.
    std::uint32_t enginePlayOptions(ProjectEntry& entry) override;
    void engineSetPlayOption(ProjectEntry& entry, std::uint32_t option, std::uint32_t value) override;
    void engineSaveSwitches(ProjectEntry& entry, int group, platform::IniDocument& document,
                            std::string_view section) override;
    void engineLoadSwitches(ProjectEntry& entry, int group, const platform::IniDocument& document,
                            std::string_view section) override;
    // Nothing is measured without the pipeline: the times stay unknown.
    int cnvMeasureSourceTime(ProjectEntry& entry, std::int32_t& ms) override;
    std::optional<std::int64_t> cnvFileDuration(const std::filesystem::path& file) override;
    int cnvEntryImage(const ProjectEntry& entry) override;
    std::string cnvConvertedDisplayName(const std::filesystem::path& file) override;
};

// What cnvMeasureSourceTime gives when nothing can measure the entry.
inline constexpr int kTimeNotMeasurable = -6;

// An empty plug-in catalogue.
class BasicAudioEngine : public AudioEngineServices {
public:
    int findEffect(std::string_view name) override;
    int countPresentInstruments() override;
    bool isQvoPlugIn(int catalogIndex) override;
    std::optional<std::vector<std::uint8_t>> saveSamplerSetup(int samplerIndex) override;
    void clearInstrumentUse(int catalogIndex) override;
    int useInstrument(std::string_view name, std::string& displayName) override;
};

// No windows: questions are answered No, status texts go nowhere. The folder
// settings are kept in the fields below, and converted files are deleted for real.
class BasicShell : public ShellServices {
public:
    std::string languageString(int id) override;
    int appQuestionBox(int stringId, int buttons) override;
    void closeProject() override;
    void appSetStatusParts(int parts) override;
    void appCreateStatusProgress(int maximum) override;
    void appDestroyStatusProgress() override;
    void setStatusText(int part, std::string_view text) override;
    bool templateKeysDown() override;
    void repostActivation() override;
    bool appDeleteConvertedFiles(std::string_view extension, const std::filesystem::path& folder) override;
    std::filesystem::path projectsRoot() override;
    void setProjectFolder(const std::filesystem::path& folder) override;
    void setLastProject(const std::filesystem::path& projectFile) override;
    int appTextBox(std::string_view text, int kind, int buttons) override;
    void appUpdateStepMenuItems(int step) override;
    void appLog(std::string_view line) override;

    std::filesystem::path projectsRootFolder;
    std::filesystem::path projectFolder;
    std::filesystem::path lastProject;
    std::string projectTitle;  // names the MP3 files of appDeleteConvertedFiles("mp3")
};

// Plain page records with empty slots; the tempo-curve rules are real.
class BasicStepPages : public StepPageServices {
public:
    void stpInitPage(StepPage& page, StepCategory category) override;
    void stpFreePage(StepPage& page) override;
    bool stpTempoCurveSetSpeed(TempoCurve& curve, int speed) override;
    bool stpTempoCurveCopyPoints(TempoCurve& curve, int target, int source, bool clear) override;
    void stpTppUseRecordedTempos(StepPage& page, bool force) override;
    void stpRefreshSlfPage() override;
    void stpEmptyFileList(StepPage& page) override;
    void stpRefreshAfterProfile(StepPage& page, ProjectEntry* entry) override;
};

}  // namespace qvp3
