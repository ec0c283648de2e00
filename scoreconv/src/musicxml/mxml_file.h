// The object behind every MusicXML handle of the library: one loaded score
// with everything needed to play or render it - file names, per-staff tables,
// the per-(staff, voice) event arrays, the instruments and channel plan, the
// play settings the host changes through the setters, the play cursors, the
// tune-up, metronome and swing settings, the progress receiver and the host's
// stop signal.
//
// Lifecycle: newFile() builds it empty; the convert procedure loads it; the
// play procedure plays or renders it any number of times; destroy() empties
// it (the settings stay); reset() also puts the settings back to their
// defaults; freeFile() deletes it. Every owned table is a member, so deleting
// the object releases everything it still holds, the document included.
//
// The readers and the play procedure work on the fields directly. Tables
// indexed by staff or voice answer unknown indexes with "none".
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "musicxml/voice_tables.h"
#include "platform/files.h"
#include "platform/message_target.h"
#include "platform/midi_out.h"
#include "platform/threads.h"
#include "play/event_arrays.h"
#include "play/play_cursor.h"
#include "play/play_model.h"
#include "scorecore/meter.h"
#include "scorecore/metronome.h"
#include "scorecore/part_groups.h"
#include "scorecore/quantize.h"
#include "scorecore/score_event.h"
#include "scorecore/score_log.h"
#include "scorecore/staff_voice_states.h"
#include "scorecore/tune_up.h"
#include "scorecore/xml_dom.h"

namespace scoreconv {

// --- file modes -------------------------------------------------------------------------
inline constexpr int32_t kModePlayTime = 1;     // measure the playing time
inline constexpr int32_t kModeRealTime = 2;     // play through a MIDI output
inline constexpr int32_t kModeRender = 3;       // render to a standard MIDI file
inline constexpr int32_t kModeFastForward = 4;  // run to the play position, then real time
inline constexpr int32_t kModeTvrxml = 5;       // convert to TvrXML
inline constexpr int32_t kModeLookAhead = 6;    // the readers' own scans
inline constexpr int32_t kModeLoadAndPlay = 7;

// --- WM_MXML_PROGRESS wParam codes ------------------------------------------------------
inline constexpr platform::WParam kProgressTempo = 0;    // lParam: the tempo itself
inline constexpr platform::WParam kProgressSeconds = 2;  // lParam: elapsed whole seconds
inline constexpr platform::WParam kProgressDone = 3;     // lParam: units done
inline constexpr platform::WParam kProgressTotal = 4;    // lParam: units in all
inline constexpr platform::WParam kProgressLoadAndPlay = 5;  // lParam -1

// A position report: wParam ((bar - 1) << 16) + 1, lParam (tick << 16) |
// (beat - 1), every value in 16 bits.
platform::WParam positionWParam(int32_t bar);
platform::LParam positionLParam(int32_t tick, int32_t beat);

inline constexpr std::size_t kMaxProgramNameChars = 62;
inline constexpr std::size_t kMaxLineEndChars = 2;
inline constexpr std::string_view kDefaultModifiedLabel = "Zuletzt geändert: ";
inline constexpr std::string_view kDefaultLineLabel = "[Zeile %i]";

// The host's hold on a tune-up (set through the library's setter; all null
// when none was given).
struct CTuneUpPlayParams {
    platform::MidiOutDevice* device = nullptr;  // null: the file's output
    // Manual-reset. The host sets it to stop a running tune-up; the tune-up
    // sets it when it ends, so that the host can wait for that, and the host
    // resets it before the next one. Null: the tune-up waits on an event of
    // its own.
    platform::Event* event = nullptr;
    int* stopWord = nullptr;  // becomes kTuneUpStopped when the host stopped it
};
inline constexpr int kTuneUpStopped = 8;

// What the host hands over at creation.
struct CMxmlInit {
    std::string_view programName;
    // The host's variable holding the progress receiver (read at every report).
    platform::MessageTarget** progressWindow = nullptr;
    std::string_view lineEnd = "\r\n";
    std::optional<std::string_view> modifiedLabel;  // none: kDefaultModifiedLabel
    int32_t mode = kModeRealTime;
    int* signal = nullptr;                          // the host's stop word
    int32_t ticksPerQuarter = 480;                  // below 1: 480
    std::optional<std::string_view> lineLabel;      // none: kDefaultLineLabel
    scorecore::CScoreLog* log = nullptr;            // the host's; may be null
};

struct CStaffName {
    std::string name;
    std::string abbreviation;
    std::u16string wideName;  // made on demand
};

// One entry of the part table: the part's measures while it is read.
// The part list fills one entry per score-part, in its order, with the id it
// declares and the <part> element of that id (null when the document has
// none); the last entry is the conductor part (no id, no element).
struct CMxmlPart {
    std::string id;
    xmlNodePtr node = nullptr;  // element of the loaded document
    bool conductor = false;
    int32_t tempo = 120;
    std::vector<xmlNodePtr> measures;  // nodes of the loaded document
};

class CMxmlFile {
public:
    explicit CMxmlFile(const CMxmlInit& init);
    ~CMxmlFile();
    CMxmlFile(const CMxmlFile&) = delete;
    CMxmlFile& operator=(const CMxmlFile&) = delete;

    // The handle the host gets: a new object with line end "\r\n" and the
    // default labels, whose table flag bytes are cleared. Null when memory
    // runs out.
    static std::unique_ptr<CMxmlFile> newFile(platform::MessageTarget** progressWindow, int32_t mode, int* signal,
                                              int32_t ticksPerQuarter, std::string_view programName,
                                              scorecore::CScoreLog* log);
    // Deletes the object the handle variable holds and nulls the variable;
    // nothing happens for a null variable or handle. A procedure still
    // running on the file (a scan or play on another thread) is asked to stop
    // and waited for first.
    static void freeFile(CMxmlFile** handle) noexcept;

    // Empties the object of its score; the settings stay. Safe to call again.
    void destroy();
    // destroy(), then every setting back to its default (fresh quantize and
    // tune-up settings).
    void reset();

    // --- small operations
    bool isLoaded() const { return !fnScanned.empty(); }
    // Whether name is the original file name, or the scanned one when there
    // is no original.
    bool isThisFileRendered(std::string_view name) const;
    void setCallbackWindow(platform::MessageTarget** window, bool post);
    // WM_MXML_PROGRESS to the receiver the host's variable holds: posted when
    // progressPosted is set, else sent. False when there is no receiver or a
    // post was refused.
    bool reportProgress(platform::WParam wParam, platform::LParam lParam) const;
    // The tempo report carries the tempo itself, sent or posted, so that it
    // never points into memory that may change before it is read.
    bool reportTempo(int32_t value) const { return reportProgress(kProgressTempo, value); }
    bool reportPosition(int32_t bar, int32_t beat, int32_t tick) const {
        return reportProgress(positionWParam(bar), positionLParam(tick, beat));
    }
    // The host's stop word: 0 when there is none.
    int signalValue() const;
    // The host's stop word, or the file being freed.
    bool stopRequested() const { return closing() || signalValue() != 0; }
    bool closing() const { return closing_.load(std::memory_order_acquire); }

    // --- one procedure at a time
    // Convert, scan, properties, play and destroy each hold the file while
    // they run: a second one is refused, never run under the first.
    bool tryEnterBusy() noexcept {
        bool expected = false;
        return busy_.compare_exchange_strong(expected, true, std::memory_order_acq_rel);
    }
    // The store is the last touch of the object: a free waiting on another
    // thread may delete it right after.
    void leaveBusy() noexcept { busy_.store(false, std::memory_order_release); }
    bool busy() const noexcept { return busy_.load(std::memory_order_acquire); }
    // Holds the file for one procedure on the calling thread; detach() hands
    // the hold to a worker, which calls leaveBusy() when it ends.
    class BusyScope {
    public:
        explicit BusyScope(CMxmlFile& file) : file_(file), held_(file.tryEnterBusy()) {}
        ~BusyScope() {
            if (held_) file_.leaveBusy();
        }
        BusyScope(const BusyScope&) = delete;
        BusyScope& operator=(const BusyScope&) = delete;
        bool held() const { return held_; }
        void detach() { held_ = false; }

    private:
        CMxmlFile& file_;
        bool held_;
    };
    void setConvProps(int32_t mask) { convProps = mask; }
    bool testConvProps(int32_t bit) const { return (convProps & bit) != 0; }
    void setWriterCursor(int32_t part, int32_t measure, int32_t voice);
    // Appends a part entry (tempo 120); false when memory runs out.
    bool appendPart();
    // Appends n staves to every per-staff table (names, transpositions, 5
    // staff lines, lyric verses, clefs, group-end flags, instrument lists);
    // false, with nothing appended, for n < 0 or without memory.
    bool growStaffTables(int32_t n);
    int32_t staffCount() const { return static_cast<int32_t>(staffNames.size()); }
    // The play state of a loaded score for voiceCounts: both cursors and the
    // sounding-note records; false without memory.
    bool allocatePlayState();
    // The one form of a step line: "\t<function>|<step>" to the host's log,
    // when there is one.
    void logStep(std::string_view function, std::string_view step) const;
    // A step that failed with rc: its line ends in "|errorcode Unexpected"
    // for a failed DOM operation, else in "|errorcode other".
    void logFailedStep(std::string_view function, std::string_view step, int rc) const;

    // The mode a load runs in: 5 and 7 as they are, any other as 1.
    static int32_t loadMode(int32_t mode) {
        return mode == kModeTvrxml || mode == kModeLoadAndPlay ? mode : kModePlayTime;
    }
    // Runs a stretch in another mode and puts the saved mode back at its end.
    class ModeScope {
    public:
        ModeScope(CMxmlFile& file, int32_t mode) : file_(file), saved_(file.playMode) { file.playMode = mode; }
        ~ModeScope() { file_.playMode = saved_; }
        ModeScope(const ModeScope&) = delete;
        ModeScope& operator=(const ModeScope&) = delete;

    private:
        CMxmlFile& file_;
        int32_t saved_;
    };

    // --- play cursors (repeats jump back to the saved one)
    void saveCursor() { savedCursor.copyFrom(cursor, true); }
    // The tempos follow only while IgnoreTempo is off.
    void exchangeCursors() { cursor.swapWith(savedCursor, IgnoreTempo == 0); }
    void restoreCursor() { cursor.copyFrom(savedCursor, IgnoreTempo == 0); }

    // --- settings and transposition
    int32_t TranspAdd = 0;
    uint8_t TranspAddToPerc = 0;
    CArticulation articulation;
    CDynamik dynamik;
    uint8_t IgnoreTempo = 0;
    CTempoSettings tempoRule;
    int32_t initialTempo = 120;
    int32_t NoteShortening = 95;
    int32_t baseVelocity = 90;
    uint64_t playConditions = 0;
    int32_t playMode = kModeRealTime;
    int64_t playPosition = 0;  // 100-ns units
    uint8_t PlayRepeats = 1;
    uint8_t progressPosted = 1;  // 0: progress is sent
    uint8_t PreviewDo = 0;
    int32_t PreviewSec = 5;
    int32_t convProps = -1;
    scorecore::CMeasurePos startPos;    // where playing begins
    scorecore::CMeasurePos playLength;  // the score's length after a play-time pass

    // --- owned records the host reaches through the library
    scorecore::CMetronom metronom;
    scorecore::CQuantize quantize;
    scorecore::CEinstimmung einstimmung;
    scorecore::CStaffVoiceStates onOff;

    // --- the host's
    platform::MessageTarget** progressWindow = nullptr;
    int* signal = nullptr;
    scorecore::CScoreLog* log = nullptr;
    platform::MidiOutDevice* midiOut = nullptr;

    // --- given at creation
    int32_t ticksPerQuarter = 480;
    std::string programName;
    std::string lineEnd;
    std::string modifiedLabel;
    std::string lineLabel;

    // --- the loaded score
    std::string fnOriginal;
    std::string fnScanned;  // empty: nothing loaded
    platform::FileTime modTime = 0;
    std::string description;
    std::u16string descriptionW;  // made on demand
    scorecore::XmlDocument document;
    std::vector<CMxmlPart> parts;
    int32_t currentPart = 0;
    int32_t currentMeasure = 0;
    int32_t midiInstrumentListCount = 0;
    // Staves + 1: rows 0 to rowCount - 2 are the staves, the last one the
    // score-wide row.
    int32_t rowCount = 0;
    std::vector<CStaffName> staffNames;
    std::vector<int32_t> staffTransposition;  // semitones
    std::vector<int32_t> staffLines;
    std::vector<int32_t> lyricVerses;
    std::vector<scorecore::CScoreClef> clefs;
    std::vector<int32_t> groupEnd;
    scorecore::CScorePartGroupList partGroups;
    CStaffInstruments instruments;
    CVoiceBitTables voiceTables;
    std::vector<int32_t> voiceCounts;  // per staff: the voices that hold events
    CVoiceMix voiceMix;
    CEventArrays events;

    // --- play state
    CPlayCursor cursor;  // cursor.tempo is the file's current tempo
    CPlayCursor savedCursor;
    CSoundingNotes sounding;
    CRenderTracks render;
    std::array<uint8_t, kChannels> lastPan{};
    std::array<uint8_t, kChannels> lastVolume{};
    CTuneUpPlayParams tuneUpParams;
    std::atomic<bool> tuneUpActive{false};  // while a tune-up plays
    int32_t writerPart = -1;
    int32_t writerMeasure = -1;
    int32_t writerVoice = -1;

    // Declared last, so that it is stopped and joined before anything it may
    // use goes.
    platform::WorkerThread worker;

private:
    void setDefaults();

    std::atomic<bool> busy_{false};
    std::atomic<bool> closing_{false};
};

}  // namespace scoreconv
