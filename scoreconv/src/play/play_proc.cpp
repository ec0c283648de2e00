#include "play/play_proc.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "play/play_model.h"
#include "play/render_output.h"
#include "play/track_names.h"
#include "scorecore/metronome.h"
#include "scorecore/result_codes.h"
#include "scorecore/sc_util.h"

namespace scoreconv {

using scorecore::kErrCreate;
using scorecore::kErrNotPresent;
using scorecore::kErrOutOfMemory;
using scorecore::kErrStopped;
using scorecore::kOk;

namespace {

constexpr std::string_view kFunction = "mxmlPlayProc";

// The pass a file's mode asks for: 7 (load and play) and anything unknown
// play in real time.
int32_t passMode(int32_t mode) {
    return mode == kModePlayTime || mode == kModeRender || mode == kModeFastForward ? mode : kModeRealTime;
}

bool fromTop(const scorecore::CMeasurePos& start) { return start.bar <= 1 && start.beat <= 1 && start.tick <= 0; }

int32_t toTick(int64_t tick) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(tick, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// The next beat of a position that moved on by `ticks` inside the meter.
void advancePosition(scorecore::CMeasurePos& pos, const scorecore::CMeter& meter, int32_t ticks) {
    if (meter.ticksPerBeat <= 0 || meter.beats < 1) return;
    pos.tick += ticks;
    while (pos.tick >= meter.ticksPerBeat) {
        pos.tick -= meter.ticksPerBeat;
        if (++pos.beat > meter.beats) {
            pos.beat = 1;
            ++pos.bar;
        }
    }
}

}  // namespace

// --- entry points -----------------------------------------------------------------------

int runPlayPass(PlayScore& file, CPlayParams& params, const CPlayEnvironment& env) {
    // The pass is a thread's body: nothing may escape it, not even what a
    // host's own output throws. Any failure reads as the exports read it.
    try {
        CPlayPass pass(file, params, env);
        return pass.run();
    } catch (...) {
        if (params.result != nullptr) std::atomic_ref<int>(*params.result).store(kErrOutOfMemory);
        return kErrOutOfMemory;
    }
}

int playOnWorker(PlayScore& file, const CPlayParams* params, platform::MidiOutDevice* device,
                 const CRealTimeClock* clock) {
    if (params == nullptr) return kErrNotPresent;
    PlayScore::BusyScope hold(file);
    if (!hold.held() || file.worker.running()) return kErrStopped;
    file.worker.stop(std::chrono::milliseconds(0));  // joins an earlier run that has ended
    file.midiOut = device;
    PlayScore* target = &file;
    // The worker keeps a copy of the block: only the slots it points to must
    // outlive the pass. It holds the file until the pass has ended.
    const bool started = file.worker.start(
        [target, block = *params, clock](platform::WorkerContext& context) mutable {
            CPlayEnvironment env;
            env.clock = clock;
            env.worker = &context;
            runPlayPass(*target, block, env);
            target->leaveBusy();
        },
        platform::ThreadPriority::TimeCritical);
    if (!started) return kErrOutOfMemory;
    hold.detach();
    return kOk;
}

int measurePlayTime(PlayScore& file, int64_t* playTime) {
    if (file.worker.running()) return kErrStopped;
    int result = kOk;
    CPlayParams params;
    params.playTime = playTime;
    params.result = &result;
    const PlayScore::ModeScope mode(file, kModePlayTime);
    return runPlayPass(file, params);
}

// --- the pass ---------------------------------------------------------------------------

CPlayPass::CPlayPass(PlayScore& file, CPlayParams& params, const CPlayEnvironment& env)
    : f_(file),
      p_(params),
      clock_(env.clock != nullptr ? *env.clock : CRealTimeClock::steady()),
      worker_(env.worker),
      stepLimit_(env.stepLimit),
      companion_(env.companion) {}

int CPlayPass::run() {
    f_.logStep(kFunction, "Start");
    if (p_.state != nullptr) std::atomic_ref<int>(*p_.state).store(kPlayStateEnded);
    if (prepare()) loop();
    cleanup();
    return result_;
}

bool CPlayPass::prepare() {
    ctl_ = f_.controls.snapshot();
    mode_ = passMode(f_.playModeNow());
    // A seek target the host set since the last pass is where the position
    // starts; otherwise the pass starts it at the beginning.
    position100ns_ = f_.report.seekIsNewer(ctl_) ? ctl_.seekTarget : 0;
    fastForward_ = mode_ == kModeFastForward;
    if (fastForward_) mode_ = kModeRealTime;
    if (mode_ == kModePlayTime) companion_ = nullptr;
    step_ = rendering() ? 1 : std::max(f_.ticksPerQuarter >> 5, 1);
    half_ = step_ / 2;
    if (!f_.allocatePlayState()) {
        result_ = kErrOutOfMemory;
        return false;
    }
    staves_ = std::min(static_cast<int32_t>(f_.voiceCounts.size()), std::max(f_.events.rowCount() - 1, 0));
    const int32_t globalRow = f_.events.globalRow();
    if (globalRow >= 0) global_ = f_.events.events(globalRow, 0);
    planRepeats();

    const uint64_t conds = ctl_.playConditions;
    const scorecore::CMetronom& m = f_.metronom;
    metronome_ = mode_ != kModePlayTime && (conds & kCondMetronome) != 0 && (m.Use != 0 || m.CountIn > 0);
    const scorecore::CEinstimmung& e = f_.einstimmung;
    const bool tuneUpTrack = (conds & kCondTuneUp) != 0 && e.Type != 0 && e.needsOwnTrack();
    layout_ = planTracks(f_.instruments, f_.voiceCounts, conds, metronome_ && rendering(),
                         tuneUpTrack && rendering());
    if (companion_ != nullptr && rendering()) {
        // The tune-up writes to the last track: the companion's comes before it.
        companionTrack_ = layout_.tuneUpTrack >= 0 ? layout_.tuneUpTrack++ : layout_.count;
        ++layout_.count;
    }
    f_.logStep(kFunction, "1");
    if (rendering() && !startRender()) return false;
    if (rendering()) renderReserveTracks(f_, conds);
    f_.logStep(kFunction, "2");
    f_.logStep(kFunction, "3");

    // A tune-up the host stopped stops the pass before the music.
    playEinstimmung(f_, clock_);
    int* stopWord = f_.tuneUpParams.stopWord;
    if (stopWord != nullptr && std::atomic_ref<int>(*stopWord).load() == kTuneUpStopped) return false;
    if (companion_ != nullptr && !companion_->beforeMusic(f_, companionTrack_, clock_, worker_)) {
        if (rendering()) result_ = kErrOutOfMemory;
        return false;
    }
    f_.logStep(kFunction, "4");
    if (mode_ != kModePlayTime && setUpVoices(f_) != kOk) failed_ = true;
    if (rendering()) {
        if (writeTrackNames(f_) != kOk) failed_ = true;
        if (metronome_ && renderMetronomeTrack(f_, layout_.metronomeTrack) != kOk) failed_ = true;
    }
    if (failed_) {
        result_ = kErrOutOfMemory;
        return false;
    }
    f_.logStep(kFunction, "5");
    startScoreWide();
    f_.logStep(kFunction, "6");
    startVoices();
    f_.logStep(kFunction, "7");
    startPosition();
    f_.logStep(kFunction, "8");
    if (!countIn_) f_.saveCursor();
    f_.logStep(kFunction, "9");
    return true;
}

bool CPlayPass::startRender() {
    // Refused before any work: the target would replace the score itself.
    if (renderTargetIsSource(f_, std::filesystem::path(p_.targetPath))) {
        f_.logStep(kFunction, "target is the source file|errorcode fail");
        result_ = kErrCreate;
        return false;
    }
    f_.logStep(kFunction, "FileMode 1");
    if (!f_.render.allocate(layout_.count)) {
        result_ = kErrOutOfMemory;
        return false;
    }
    f_.logStep(kFunction, "FileMode 2");
    if (renderTrackZeroHeader(f_) != kOk) {
        result_ = kErrOutOfMemory;
        return false;
    }
    f_.logStep(kFunction, "FileMode 3");
    return true;
}

// Tempo, meter and key in force where the pass begins: the first marks of
// the score, or the last ones before a start position inside it.
void CPlayPass::startScoreWide() {
    CPlayCursor& c = f_.cursor;
    c.rewind();
    c.meter.init(f_.ticksPerQuarter, 4, 2);
    c.tempoIndex = c.timeIndex = c.keyIndex = -1;
    const auto take = [&](std::size_t i, bool first) {
        const CScoreEvent& e = global_[i];
        const auto index = static_cast<int32_t>(i);
        if (e.isKind(scorecore::kKindTempo) && (!first || c.tempoIndex < 0)) c.tempoIndex = index;
        if (e.isKind(scorecore::kKindKeySig) && (!first || c.keyIndex < 0)) c.keyIndex = index;
        if (e.isKind(scorecore::kKindTimeSig) && (!first || c.timeIndex < 0) &&
            eventMeter(e, f_.ticksPerQuarter, c.meter)) {
            c.timeIndex = index;
        }
    };
    for (std::size_t i = 0; i < global_.size(); ++i) take(i, true);
    musicStart_ = 0;
    if (!fromTop(f_.startPos)) {
        musicStart_ = toTick(f_.startPos.toTick(c.meter.ticksPerBeat, c.meter.ticksPerBar));
        for (std::size_t i = 0; i < global_.size() && global_[i].start <= musicStart_; ++i) take(i, false);
        // Marks before the start position are passed.
        while (c.globalIndex < static_cast<int32_t>(global_.size()) &&
               global_[static_cast<std::size_t>(c.globalIndex)].start < int64_t{musicStart_} - half_) {
            ++c.globalIndex;
        }
    }
    const int32_t first = c.tempoIndex >= 0 ? eventTempo(global_[static_cast<std::size_t>(c.tempoIndex)]) : -1;
    const int32_t initial = applyTempoRule(first, ctl_.tempo, ctl_.playConditions,
                                           f_.IgnoreTempo != 0, mode_ == kModePlayTime);
    f_.initialTempo = initial > 0 ? initial : kFallbackTempo;
    currentTempo_ = tempoInForce();
}

// Every voice begins at its first event (at the start position); the music
// begins at the earliest of them when that lies before bar 1 (an upbeat).
void CPlayPass::startVoices() {
    CPlayCursor& c = f_.cursor;
    wake_ = std::numeric_limits<int32_t>::min();
    c.done.clearAll();
    const bool top = fromTop(f_.startPos);
    int64_t earliest = 0;
    for (int32_t s = 0; s < c.done.staffCount(); ++s) {
        for (int32_t v = 0; v < c.done.voiceCount(s); ++v) {
            const auto list = s < staves_ ? f_.events.events(s, v) : std::span<const CScoreEvent>();
            std::size_t index = 0;
            while (!top && index < list.size() && list[index].start < musicStart_) ++index;
            if (index >= list.size()) {
                c.done.setDone(s, v);
                continue;
            }
            const int64_t tick = swingTick(s, list[index].start);
            c.eventIndex.set(s, v, static_cast<int32_t>(index));
            c.nextTick.set(s, v, toTick(tick));
            earliest = std::min(earliest, tick);
        }
    }
    if (top) musicStart_ = toTick(earliest);
}

// The count-in runs the bars before the music's first bar; it ends where the
// music begins (an upbeat plays in the last count-in bar).
void CPlayPass::startPosition() {
    CPlayCursor& c = f_.cursor;
    const bool top = fromTop(f_.startPos);
    c.currentTick = musicStart_;
    if (top) {
        c.meter.tickToPos(c.currentTick, c.position);
    } else {
        c.position.bar = f_.startPos.bar;
        c.position.beat = f_.startPos.beat;
        c.position.tick = f_.startPos.tick;
    }
    const int32_t bars = std::min(f_.metronom.CountIn, scorecore::kMetronomeMaxCountIn);
    if (mode_ == kModePlayTime || (ctl_.playConditions & kCondMetronome) == 0 || bars <= 0) return;
    const int64_t barStart = top ? 0 : int64_t{f_.startPos.bar - 1} * c.meter.ticksPerBar;
    const int64_t countInStart = barStart - int64_t{bars} * c.meter.ticksPerBar;
    if (countInStart >= musicStart_) return;
    countIn_ = true;
    c.currentTick = toTick(countInStart);
    c.meter.tickToPos(c.currentTick, c.position);
}

// Each pass of a repeated section plays at most the score's span again, so
// the ticks played are at most the span once more per pass after the first;
// anything beyond that, or beyond kMostPlays spans, is a fault.
int64_t CPlayPass::stepBudget() const {
    constexpr int64_t kMostPlays = 64;
    const int64_t first = std::min<int64_t>(f_.cursor.currentTick, musicStart_);
    int64_t last = std::max<int64_t>(first, f_.scoreLength);
    int64_t plays = 1;
    for (const CScoreEvent& e : global_) last = std::max<int64_t>(last, e.start);
    if (f_.PlayRepeats != 0) {
        for (const RepeatSection& s : sections_) plays = std::min(plays + s.mostPasses - 1, kMostPlays);
    }
    for (int32_t s = 0; s < staves_; ++s) {
        for (int32_t v = 0; v < f_.events.voiceCount(s); ++v) {
            for (const CScoreEvent& e : f_.events.events(s, v)) {
                last = std::max<int64_t>(last, int64_t{e.start} + std::max(e.duration, 0));
            }
        }
    }
    const int64_t span = last - first + 4 * int64_t{f_.ticksPerQuarter} + 1;
    return (plays + 1) * (span / step_ + 2);
}

// --- the loop ---------------------------------------------------------------------------

void CPlayPass::loop() {
    const int64_t budget = stepLimit_ > 0 ? stepLimit_ : stepBudget();
    realTimeBase_ = clock_.now();
    f_.logStep(kFunction, "10");
    while (!failed_) {
        if (endReached()) {
            finish();
            return;
        }
        if (steps_ >= budget) {
            f_.logStep(kFunction, "step budget used up: pass cut off");
            endAllSounding();
            finish();
            return;
        }
        ++steps_;
        ctl_ = f_.controls.snapshot();
        if (pollStop() == Leave::Stopped) {
            leaveSilent();
            return;
        }
        scoreWideEvents();
        stepLength();
        if (rendering()) writeScoreWide();
        stepVoices();
        if (failed_) break;
        // The step at the score's end plays its marks and note-offs and
        // takes no time: the score ends on its last bar line.
        if (f_.scoreLength > 0 && endReached()) {
            finish();
            return;
        }
        if (companion_ != nullptr &&
            !companion_->atStep(f_, companionTrack_, f_.cursor.currentTick, step_, !fastForward_)) {
            break;
        }
        afterVoices();
        advance();
    }
    result_ = kErrOutOfMemory;
}

// Everything is played. When the score's length is known, the rests after
// the last note are played out too, to the end of the last measure.
bool CPlayPass::endReached() const {
    const CPlayCursor& c = f_.cursor;
    if (!c.done.allDone() || f_.sounding.any() || c.globalIndex < static_cast<int32_t>(global_.size())) return false;
    return previewOver_ || f_.scoreLength <= 0 || int64_t{c.currentTick} + half_ >= f_.scoreLength;
}

void CPlayPass::finish() {
    f_.logStep(kFunction, "11");
    if (metronome_) clickOff();
    if (companion_ != nullptr && !companion_->atEnd(f_, companionTrack_) && rendering()) {
        result_ = kErrOutOfMemory;
        return;
    }
    if (rendering()) {
        state_ = kPlayStateFileWritten;
        result_ = renderWriteMidiFile(f_, p_.targetPath);
        if (result_ != kOk) f_.logStep(kFunction, "MIDI file not written");
        f_.logStep(kFunction, "12");
    }
    if (mode_ == kModePlayTime) {
        if (p_.playTime != nullptr) std::atomic_ref<int64_t>(*p_.playTime).store(elapsedMs_ * 10000);
        const scorecore::CMeasurePos& pos = f_.cursor.position;
        f_.playLength.bar = pos.bar - 1;
        f_.playLength.beat = pos.beat - 1;
        f_.playLength.tick = pos.tick;
        f_.logStep(kFunction, "13");
    }
    f_.logStep(kFunction, "14");
}

CPlayPass::Leave CPlayPass::pollStop() {
    int signal = f_.signalValue();
    // A file being freed, or a worker asked to stop, leaves as stop word 3 does.
    if (signal != kSignalStop && (signal < kSignalLeave || signal > kSignalLeaveLast) &&
        (f_.closing() || (worker_ != nullptr && worker_->stopRequested()))) {
        signal = kSignalLeave;
    }
    if (signal == kSignalStop) {
        result_ = kErrStopped;
        return Leave::Stopped;
    }
    if (signal < kSignalLeave || signal > kSignalLeaveLast) return Leave::No;
    if (signal == kSignalLeave) state_ = kPlayStateSignalled;
    return Leave::Stopped;
}

// A pass left early ends what it started: every sounding note, the click, and
// an all-notes-off on each channel it played on. A render pass writes nothing.
void CPlayPass::leaveSilent() {
    if (rendering()) return;
    endAllSounding();
    if (metronome_) clickOff();
    if (companion_ != nullptr) companion_->atEnd(f_, companionTrack_);
    constexpr uint8_t kAllNotesOff = 123;
    for (uint8_t channel = 0; channel < kChannels; ++channel) {
        if ((usedChannels_ & (1u << channel)) != 0) put(0, static_cast<uint8_t>(0xB0 | channel), kAllNotesOff, 0);
    }
}

void CPlayPass::afterVoices() {
    CPlayCursor& c = f_.cursor;
    elapsedMs_ += stepMs_;
    // No click once the music is over: the next step ends the pass.
    if (metronome_ && !fastForward_ && c.position.tick == 0 && !endReached()) metronomeBeat();
    if (fastForward_) {
        fastForward100ns_ += stepMs_ * 10000;
        if (fastForward100ns_ >= ctl_.seekTarget) {
            fastForward_ = false;
            position100ns_ = ctl_.seekTarget;
            f_.report.setMode(kModeRealTime, ctl_.modeSerial);
            realTimeBase_ = clock_.now();
            realTimeMs_ = 0.0;
            reportedTempo_ = -1;
            justSwitched_ = true;
        }
    } else if (mode_ == kModeRealTime || mode_ == kModeRender) {
        position100ns_ += stepMs_ * 10000;
        f_.report.setPosition(position100ns_, ctl_.seekSerial);
        const int64_t tenths = elapsedMs_ / 100;
        if (realTime() && (c.position.tick == 0 || tenths > lastTenths_)) {
            lastTenths_ = std::max(lastTenths_, tenths);
            f_.reportPosition(c.position.bar, c.position.beat, c.position.tick);
        }
    }
    reportTime();
}

void CPlayPass::reportTime() {
    const int64_t seconds = scorecore::scDivRound64(elapsedMs_, 1000);
    if (seconds > lastSeconds_) {
        lastSeconds_ = seconds;
        f_.reportProgress(kProgressSeconds, static_cast<platform::LParam>(seconds));
    }
    if (!realTime() || f_.PreviewDo == 0 || seconds < f_.PreviewSec) return;
    // The preview is over: the next step ends the pass.
    endAllSounding();
    f_.cursor.done.setAll();
    f_.cursor.globalIndex = static_cast<int32_t>(global_.size());
    previewOver_ = true;
}

void CPlayPass::advance() {
    CPlayCursor& c = f_.cursor;
    const int32_t previous = c.currentTick;
    c.currentTick = toTick(int64_t{previous} + step_);
    if (c.currentTick <= 0 || previous <= 0) {
        c.meter.tickToPos(c.currentTick, c.position);
    } else {
        advancePosition(c.position, c.meter, step_);
    }
    if (countIn_ && c.currentTick >= musicStart_) {
        countIn_ = false;
        f_.saveCursor();  // a repeat back to the beginning lands after the count-in
    }
    if (rendering()) renderAdvance(f_, step_);
    if (realTime() && !std::exchange(justSwitched_, false)) waitForStep();
}

// Moves playing on to the score-wide mark `index` at `tick` (an ending to
// play): what sounds ends, the marks passed over still set the tempo, meter
// and key, the position moves on through the meters they set, and each voice
// goes on with its first event from the tick on.
void CPlayPass::seekTo(int32_t index, int32_t tick) {
    CPlayCursor& c = f_.cursor;
    endAllSounding();
    const int32_t to = std::max(tick, c.currentTick);
    int64_t at = c.currentTick;
    const auto moveTo = [&](int64_t target) {
        if (target > at) advancePosition(c.position, c.meter, toTick(target - at));
        at = std::max(at, target);
    };
    const int32_t end = std::min(index, static_cast<int32_t>(global_.size()));
    for (int32_t i = std::max(c.globalIndex, 0); i < end; ++i) {
        const CScoreEvent& e = global_[static_cast<std::size_t>(i)];
        if (e.isKind(scorecore::kKindTempo)) c.tempoIndex = i;
        if (e.isKind(scorecore::kKindKeySig)) c.keyIndex = i;
        scorecore::CMeter meter;
        if (e.isKind(scorecore::kKindTimeSig) && eventMeter(e, f_.ticksPerQuarter, meter)) {
            moveTo(std::min<int64_t>(e.start, to));
            c.meter = meter;
            c.timeIndex = i;
        }
    }
    moveTo(to);
    c.currentTick = to;
    c.globalIndex = index;
    for (int32_t s = 0; s < c.done.staffCount(); ++s) {
        for (int32_t v = 0; v < c.done.voiceCount(s); ++v) {
            const auto list = s < staves_ ? f_.events.events(s, v) : std::span<const CScoreEvent>();
            const auto next = std::partition_point(list.begin(), list.end(),
                                                   [tick](const CScoreEvent& e) { return e.start < tick; });
            c.done.setDone(s, v, next == list.end());
            if (next == list.end()) continue;
            c.eventIndex.set(s, v, static_cast<int32_t>(next - list.begin()));
            c.nextTick.set(s, v, toTick(swingTick(s, next->start)));
        }
    }
}

// Deadlines are absolute: each step's exact length (fractions of a
// millisecond included) is added to the time the music began, so that the
// overshoot of one wait is not carried into the next.
void CPlayPass::waitForStep() {
    realTimeMs_ += exactStepMs_;
    const auto offset = std::chrono::duration_cast<CRealTimeClock::TimePoint::duration>(
        std::chrono::duration<double, std::milli>(realTimeMs_));
    clock_.sleepUntil(realTimeBase_ + offset);
}

void CPlayPass::cleanup() {
    f_.logStep(kFunction, "15");
    if (rendering()) f_.render.clear();
    f_.logStep(kFunction, "16");
    if (p_.state != nullptr) std::atomic_ref<int>(*p_.state).store(state_);
    if (p_.result != nullptr) std::atomic_ref<int>(*p_.result).store(result_);
    f_.logStep(kFunction, "End");
}

}  // namespace scoreconv
