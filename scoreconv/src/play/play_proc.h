// The play procedure: walks the loaded score of a PlayScore step by step and,
// by the file's mode, measures its playing time (1), plays it in real time
// through the file's MIDI output (2, and 7 after a load-and-play load),
// renders it into one MIDI track per voice and writes a standard MIDI file
// (3), or runs silently to the file's play position and plays on from there
// in real time (4). The metronome with its count-in, the tune-up before the
// music, repeats and endings, dynamics, tempo changes and swing come along.
//
// A pass reports to the host through WM_MXML_PROGRESS (the tempo in real
// time, the elapsed seconds, the position in real time) and polls the host's
// stop word once per step: 1 ends it with kErrStopped, 3 to 6 end it at once
// (3 with the state kPlayStateSignalled). However a pass ends, no note it
// started keeps sounding. It plays on to the end of the score's last measure
// when the score says where that is (PlayScore::scoreLength).
//
// A pass always ends: each repeated section plays its passes once (an outer
// repeat does not play an inner one's passes again), and a step budget from
// the score's length and repeats cuts off anything longer with a log line.
#pragma once

#include <chrono>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include <string>

#include "platform/midi_out.h"
#include "platform/threads.h"
#include "play/play_score.h"
#include "play/voice_setup.h"

namespace scoreconv {

// --- the state word ----------------------------------------------------------------------
inline constexpr int kPlayStateFileWritten = 0;  // a render pass wrote (or tried to write) its file
inline constexpr int kPlayStateEnded = 2;        // also the value while a pass runs
inline constexpr int kPlayStateSignalled = 5;    // left on stop word 3
inline constexpr int kPlayStateRepeat = 10;      // left inside a later pass of a repeat

// --- stop word values read by a pass -----------------------------------------------------
inline constexpr int kSignalStop = 1;        // result kErrStopped
inline constexpr int kSignalLeave = 3;       // state kPlayStateSignalled
inline constexpr int kSignalLeaveLast = 6;   // 4 to 6 leave as well

// The tempo of a mark of -1 (none) or of a tempo that cannot be played (0 or less).
inline constexpr int32_t kFallbackTempo = 120;

// What a host plays along with a pass besides the score: an intro before the
// music, and notes of its own as the music moves on. It sends through the
// render output on `track` (renderPutShort): a render pass gives it a track of
// its own (before the tune-up's, which stays the last), any other pass sends
// to the score's MIDI output. It is not called in a play-time pass.
class CPassCompanion {
public:
    virtual ~CPassCompanion() = default;
    // After the tune-up, before the voices' set-up. False ends the pass before
    // the music: the host stopped it, or a render stream could not grow.
    virtual bool beforeMusic(PlayScore& score, int32_t track, const CRealTimeClock& clock,
                             platform::WorkerContext* worker) = 0;
    // Each step of the music after its voices (not the step at the score's
    // end): the step's tick and length, and whether it sounds (not while a
    // fast-forward runs). False when a render stream could not grow.
    virtual bool atStep(PlayScore& score, int32_t track, int32_t tick, int32_t ticks, bool sounding) = 0;
    // The pass ends (a render before its file is written) or is left: what
    // it started ends. False as atStep.
    virtual bool atEnd(PlayScore& score, int32_t track) = 0;
};

// What a pass runs with besides its parameter block.
struct CPlayEnvironment {
    // Real-time waits (null: the machine's steady clock). It must outlive the pass.
    const CRealTimeClock* clock = nullptr;
    // The worker the pass runs on (null: the caller's thread). Its stop request
    // ends the pass as stop word 3 does, at the next step.
    platform::WorkerContext* worker = nullptr;
    // Steps after which a pass is cut off; 0: from the score's length and repeats.
    int64_t stepLimit = 0;
    // What plays along (null: nothing). It must outlive the pass.
    CPassCompanion* companion = nullptr;
};

// The slots a pass reports through, and the file a render writes.
struct CPlayParams {
    std::string targetPath;       // UTF-8: the MIDI file a render pass writes
    int64_t* playTime = nullptr;  // a play-time pass stores the time (100-ns units)
    int* state = nullptr;         // the end state (kPlayState*)
    int* result = nullptr;        // the result code, may be null
};

// One pass over `score` in its play mode; the result also goes to
// *params.result, the state to *params.state; a play-time pass stores the
// time in *params.playTime and the length in score.playLength; a render pass
// writes the MIDI file at params.targetPath. Returns the result: 0,
// kErrOutOfMemory, kErrStopped (stop word 1), kErrCreate or kErrWrite (the
// MIDI file).
int runPlayPass(PlayScore& score, CPlayParams& params, const CPlayEnvironment& env = {});

// Starts a pass of the score on its worker thread at
// time-critical priority (best effort) with `device` as the file's MIDI
// output, and returns at once:
// 0; kErrNotPresent without a block; kErrStopped while another procedure runs
// on the file; kErrOutOfMemory when no thread can be had. The worker plays
// with a copy of the block: the slots it points to, the device and the clock
// must stay valid until the worker has ended (file.worker.running() turns
// false). The host stops the pass with its stop word, or with
// file.worker.stop(timeout).
int playOnWorker(PlayScore& score, const CPlayParams* params, platform::MidiOutDevice* device,
                 const CRealTimeClock* clock = nullptr);

// A play-time pass on the caller's thread (the file's mode reads 1 meanwhile
// and is restored): *playTime in 100-ns units, file.playLength the length.
// The pass's result; kErrStopped while a worker of the file runs.
int measurePlayTime(PlayScore& score, int64_t* playTime);

// One pass. Its parts live in play_proc.cpp (start, loop, end), play_step.cpp
// (one step of the voices, dynamics, notes, metronome) and play_repeats.cpp
// (the score-wide row: tempo, time and key marks, repeats and endings).
class CPlayPass {
public:
    CPlayPass(PlayScore& score, CPlayParams& params, const CPlayEnvironment& env);
    CPlayPass(const CPlayPass&) = delete;
    CPlayPass& operator=(const CPlayPass&) = delete;

    // The whole procedure; the result.
    int run();

private:
    enum class Leave { No, Stopped };

    // --- play_proc.cpp
    bool prepare();
    bool startRender();
    void startVoices();
    void startScoreWide();
    void startPosition();
    int64_t stepBudget() const;
    void loop();
    void seekTo(int32_t index, int32_t tick);
    bool endReached() const;
    void finish();
    Leave pollStop();
    void leaveSilent();
    void afterVoices();
    void reportTime();
    void advance();
    void waitForStep();
    void cleanup();
    bool realTime() const { return mode_ == kModeRealTime && !fastForward_; }
    bool rendering() const { return mode_ == kModeRender; }

    // --- play_step.cpp
    void stepVoices();
    void voiceEvents(int32_t staff, int32_t voice);
    void handleEvent(int32_t staff, int32_t voice, const CScoreEvent& event);
    void applyDynamics(int32_t staff, int32_t voice, const CScoreEvent& event);
    void setLevel(int32_t staff, int32_t voice, int32_t level);
    bool sounds(int32_t staff, int32_t voice, const CScoreEvent& event) const;
    void playNote(int32_t staff, int32_t voice, const CScoreEvent& event);
    int64_t noteEnd(int32_t staff, const CScoreEvent& event) const;
    void noteOffs(int32_t staff, int32_t voice);
    void endAllSounding();
    int32_t trackFor(int32_t staff, int32_t voice, uint8_t key) const;
    void put(int32_t track, uint8_t status, uint8_t data1, uint8_t data2);
    void metronomeBeat();
    void clickOff();
    int64_t swingTick(int32_t staff, int64_t tick) const;

    // --- play_repeats.cpp
    void planRepeats();
    void scoreWideEvents();
    void repeatMark(int32_t index, const CScoreEvent& event);
    bool backwardMark(int32_t index, const CScoreEvent& event);
    void endingMark(int32_t index);
    void jumped();
    int32_t tempoInForce();
    void stepLength();
    void writeScoreWide();
    // The first tick at which a voice has a note to end or an event to play.
    int32_t nextWake() const;

    PlayScore& f_;
    CPlayParams& p_;
    // The host's controls as read at the start of this step.
    CPlayControlValues ctl_;
    const CRealTimeClock& clock_;
    platform::WorkerContext* worker_;
    int64_t stepLimit_;
    CPassCompanion* companion_;
    int32_t companionTrack_ = -1;

    int32_t mode_ = kModePlayTime;  // 1, 2 (also for 7), 3 or 4
    bool fastForward_ = false;      // mode 4 before the play position
    int32_t step_ = 15;             // ticks per step
    int32_t half_ = 7;              // score-wide marks count within half a step
    int32_t staves_ = 0;
    std::span<const CScoreEvent> global_;
    // Before this tick no voice has anything to do (see stepVoices).
    int32_t wake_ = std::numeric_limits<int32_t>::min();

    int state_ = kPlayStateEnded;
    int result_ = 0;
    bool failed_ = false;  // a render stream could not grow

    // time
    int64_t steps_ = 0;
    int64_t elapsedMs_ = 0;
    double carryMs_ = 0.0;
    double exactStepMs_ = 0.0;
    int64_t stepMs_ = 0;
    int64_t lastSeconds_ = 0;
    int64_t lastTenths_ = 0;
    int64_t fastForward100ns_ = 0;
    int64_t position100ns_ = 0;  // the position reported in real time and render passes
    CRealTimeClock::TimePoint realTimeBase_{};
    bool justSwitched_ = false;  // fast-forward ended: the next step is due at once
    double realTimeMs_ = 0.0;
    int32_t reportedTempo_ = -1;
    int32_t currentTempo_ = 120;

    // what track 0 of a render pass holds now
    int32_t writtenTempo_ = -1;
    bool meterWritten_ = false;
    scorecore::CMeter writtenMeter_;
    int32_t writtenKey_ = -1000;  // fifths x 2 + major; none yet

    // music, count-in and metronome
    int32_t musicStart_ = 0;
    bool countIn_ = false;
    bool metronome_ = false;
    CTrackLayout layout_;
    uint8_t lastProgram_ = 255;
    uint16_t usedChannels_ = 0;

    bool previewOver_ = false;  // the preview's time is up: the pass ends at once

    // repeats. A section of the score-wide row: a jump back from one of its
    // backward marks lands at its forward repeat (or at the start of the
    // pass); its endings choose what each pass plays.
    struct RepeatSection {
        int32_t target = -1;           // its forward-repeat mark; -1 the start of the pass
        int32_t lastBackward = -1;     // its last backward mark so far
        int32_t backwardMarks = 0;
        std::vector<int32_t> endings;  // its ending starts, in row order
        uint32_t namedPasses = 0;      // the passes its endings name, as bits
        int32_t pass = 1;              // the pass being played
        int64_t mostPasses = 2;        // for the step budget
        bool targetSaved = false;
        CPlayCursor targetCursor;  // the cursor as it passed the forward repeat
    };
    // What a mark of the score-wide row is to the repeats: the sections of
    // its backward, forward and ending parts (-1 none) and the passes an
    // ending plays on.
    struct RepeatRole {
        int32_t backward = -1;
        int32_t forward = -1;
        int32_t ending = -1;
        uint32_t passes = 0;
    };
    std::vector<RepeatSection> sections_;
    std::vector<RepeatRole> roles_;
};

}  // namespace scoreconv
