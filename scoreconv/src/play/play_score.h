// The format-neutral play model: everything the one player needs to play,
// measure or render a score, whatever file it came from. A reader fills the
// score part (staves, instruments and channel plan, voices, event arrays,
// tune-up, metronome and quantize records); the host sets the settings and,
// while a play runs, the controls; the player keeps its state here and
// reports through the report record, the progress target and the log.
//
// It knows nothing of MusicXML: the MusicXML file object is a play score
// with its document and reading tables added, and other readers fill one the
// same way.
//
// One procedure at a time: a load, conversion, play or destroy holds the
// score while it runs (BusyScope), and a second is refused.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/message_target.h"
#include "platform/midi_out.h"
#include "platform/threads.h"
#include "play/event_arrays.h"
#include "play/play_controls.h"
#include "play/play_cursor.h"
#include "play/play_model.h"
#include "scorecore/meter.h"
#include "scorecore/metronome.h"
#include "scorecore/quantize.h"
#include "scorecore/score_event.h"
#include "scorecore/score_log.h"
#include "scorecore/staff_voice_states.h"
#include "scorecore/tune_up.h"

namespace scoreconv {

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

// The host's hold on a tune-up (set through the library's setter; all null
// when none was given).
struct CTuneUpPlayParams {
    platform::MidiOutDevice* device = nullptr;  // null: the score's output
    // Manual-reset. The host sets it to stop a running tune-up; the tune-up
    // sets it when it ends, so that the host can wait for that, and the host
    // resets it before the next one. Null: the tune-up waits on an event of
    // its own.
    platform::Event* event = nullptr;
    int* stopWord = nullptr;  // becomes kTuneUpStopped when the host stopped it
};
inline constexpr int kTuneUpStopped = 8;

struct CStaffName {
    std::string name;
    std::string abbreviation;
    std::u16string wideName;  // made on demand
};

class PlayScore {
public:
    explicit PlayScore(int32_t ticksPerQuarter);
    virtual ~PlayScore();
    PlayScore(const PlayScore&) = delete;
    PlayScore& operator=(const PlayScore&) = delete;

    // Empties the score; the settings stay.
    void clearScore();
    // Every setting back to its default (fresh quantize and tune-up records).
    void setPlayDefaults();

    // --- the host link
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
    // The host's stop word, or the score being freed.
    bool stopRequested() const { return closing() || signalValue() != 0; }
    bool closing() const { return closing_.load(std::memory_order_acquire); }
    // The one form of a step line: "\t<function>|<step>" to the host's log,
    // when there is one.
    void logStep(std::string_view function, std::string_view step) const;
    // A step that failed with rc: its line ends in "|errorcode Unexpected"
    // for a failed DOM operation, else in "|errorcode other".
    void logFailedStep(std::string_view function, std::string_view step, int rc) const;

    // --- controls and report
    // The play mode in force: the host's, or the player's once it switched
    // (a fast-forward that reached its position plays on in real time).
    int32_t playModeNow() const { return report.mode(controls); }
    // The position: the host's seek target, or the player's once it played.
    int64_t playPositionNow() const { return report.position(controls); }
    // Runs a stretch in another mode and puts the saved mode back at its end.
    class ModeScope {
    public:
        ModeScope(PlayScore& score, int32_t mode) : score_(score), saved_(score.controls.playMode()) {
            score.controls.setPlayMode(mode);
        }
        ~ModeScope() { score_.controls.setPlayMode(saved_); }
        ModeScope(const ModeScope&) = delete;
        ModeScope& operator=(const ModeScope&) = delete;

    private:
        PlayScore& score_;
        int32_t saved_;
    };

    // --- one procedure at a time
    bool tryEnterBusy() noexcept {
        bool expected = false;
        return busy_.compare_exchange_strong(expected, true, std::memory_order_acq_rel);
    }
    // The store is the last touch of the object: a free waiting on another
    // thread may delete it right after.
    void leaveBusy() noexcept { busy_.store(false, std::memory_order_release); }
    // Asks whatever runs on the score to stop and waits until it has let go;
    // afterwards the caller holds the score.
    void closeAndWait() noexcept;
    // Holds the score for one procedure on the calling thread; detach() hands
    // the hold to a worker, which calls leaveBusy() when it ends.
    class BusyScope {
    public:
        explicit BusyScope(PlayScore& score) : score_(score), held_(score.tryEnterBusy()) {}
        ~BusyScope() {
            if (held_) score_.leaveBusy();
        }
        BusyScope(const BusyScope&) = delete;
        BusyScope& operator=(const BusyScope&) = delete;
        bool held() const { return held_; }
        void detach() { held_ = false; }

    private:
        PlayScore& score_;
        bool held_;
    };

    // --- play state
    // Both cursors and the sounding-note records for voiceCounts; false
    // without memory.
    bool allocatePlayState();
    // Repeats jump back to the saved cursor; the tempos follow only while
    // IgnoreTempo is off.
    void saveCursor() { savedCursor.copyFrom(cursor, true); }
    void exchangeCursors() { cursor.swapWith(savedCursor, IgnoreTempo == 0); }
    void restoreCursor() { cursor.copyFrom(savedCursor, IgnoreTempo == 0); }

    // --- settings, set before a play
    int32_t TranspAdd = 0;
    uint8_t TranspAddToPerc = 0;
    CArticulation articulation;
    CDynamik dynamik;
    int32_t initialTempo = 120;
    scorecore::CMeasurePos startPos;    // where playing begins
    scorecore::CMeasurePos playLength;  // the score's length after a play-time pass
    scorecore::CMetronom metronom;
    scorecore::CQuantize quantize;
    scorecore::CEinstimmung einstimmung;
    scorecore::CStaffVoiceStates onOff;

    // --- changed while a play runs, and reported by the player
    CPlayControls controls;
    CPlayReport report;
    // Host settings the player reads while it runs; they live in the controls.
    std::atomic<uint8_t>& IgnoreTempo = controls.ignoreTempo;
    std::atomic<int32_t>& NoteShortening = controls.noteShortening;
    std::atomic<int32_t>& baseVelocity = controls.baseVelocity;
    std::atomic<uint8_t>& PlayRepeats = controls.playRepeats;
    std::atomic<uint8_t>& PreviewDo = controls.previewDo;
    std::atomic<int32_t>& PreviewSec = controls.previewSec;

    // --- the host's
    platform::MessageTarget** progressWindow = nullptr;
    uint8_t progressPosted = 1;  // 0: progress is sent
    int* signal = nullptr;
    scorecore::CScoreLog* log = nullptr;
    platform::MidiOutDevice* midiOut = nullptr;

    // --- the score
    int32_t ticksPerQuarter = 480;
    std::string fnOriginal;  // the name the score was known by before a conversion
    std::string fnScanned;   // the file it was loaded from; empty: nothing loaded
    std::vector<CStaffName> staffNames;
    CStaffInstruments instruments;
    std::vector<int32_t> voiceCounts;  // per staff: the voices that hold events
    CVoiceMix voiceMix;
    CEventArrays events;
    // Where the score's last measure ends (its closing rests included), in
    // ticks from the start of the first full bar: a pass plays on to there
    // after its last note. 0 when the reader did not say: the pass ends
    // after the last note and score-wide mark.
    int32_t scoreLength = 0;

    // --- play state
    CPlayCursor cursor;  // cursor.tempo is the current tempo
    CPlayCursor savedCursor;
    CSoundingNotes sounding;
    CRenderTracks render;
    std::array<uint8_t, kChannels> lastPan{};
    std::array<uint8_t, kChannels> lastVolume{};
    CTuneUpPlayParams tuneUpParams;
    std::atomic<bool> tuneUpActive{false};  // while a tune-up plays

    // The thread a play or a load runs on. A derived object stops it in its
    // own destructor, before anything of its own goes.
    platform::WorkerThread worker;

protected:
    std::atomic<bool> busy_{false};
    std::atomic<bool> closing_{false};
};

}  // namespace scoreconv
