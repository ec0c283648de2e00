// The score-wide row during a pass: tempo marks, time and key signatures,
// repeats and endings, the tempo in force with each step's length, and the
// score-wide meta events of a render pass.
//
// Repeats: a forward repeat saves the play cursor; a backward repeat swaps
// the live cursor with the saved one, so that playing goes back while the
// saved cursor keeps the place after the repeat (state kPlayStateRepeat). In
// that second pass the next backward repeat only saves and goes on, and a
// first-ending mark takes the saved cursor back: the first ending is skipped.
#include <algorithm>
#include <atomic>
#include <cmath>

#include "play/play_model.h"
#include "play/play_proc.h"
#include "play/render_output.h"
#include "scorecore/sc_util.h"

namespace scoreconv {

void CPlayPass::scoreWideEvents() {
    CPlayCursor& c = f_.cursor;
    const auto count = static_cast<int32_t>(global_.size());
    // Each mark is taken once; a jump changes the cursor and the marks due at
    // its tick are taken from there.
    while (c.globalIndex >= 0 && c.globalIndex < count &&
           global_[static_cast<std::size_t>(c.globalIndex)].start <= int64_t{c.currentTick} + half_) {
        const int32_t index = c.globalIndex++;
        const CScoreEvent& e = global_[static_cast<std::size_t>(index)];
        if (e.isKind(scorecore::kKindTempo)) c.tempoIndex = index;
        if (e.isKind(scorecore::kKindTimeSig) && eventMeter(e, f_.ticksPerQuarter, c.meter)) c.timeIndex = index;
        if (e.isKind(scorecore::kKindKeySig)) c.keyIndex = index;
        repeatMark(index, e);
    }
}

void CPlayPass::repeatMark(int32_t index, const CScoreEvent& event) {
    const bool mark = event.isKind(kKindRepeatMark);
    if (mark && event.isKind(kKindForwardRepeat) && state_ != kPlayStateRepeat) f_.saveCursor();
    if (mark && event.isKind(kKindBackwardRepeat | kKindEndingEnd)) {
        if (state_ == kPlayStateRepeat) {
            f_.saveCursor();
            state_ = kPlayStateEnded;
        } else if (f_.PlayRepeats != 0) {
            uint8_t& taken = jumpedFrom_[static_cast<std::size_t>(index)];
            if (taken == 0) {
                taken = 1;
                endAllSounding();
                f_.exchangeCursors();
                state_ = kPlayStateRepeat;
                jumped();
                return;
            }
            // A second jump from the same mark could repeat for ever.
            if (!cutOffLogged_) f_.logStep("mxmlPlayProc", "repeat taken twice: played on");
            cutOffLogged_ = true;
        }
    }
    if (event.isKind(kKindFirstEnding) && state_ == kPlayStateRepeat) {
        endAllSounding();
        f_.restoreCursor();
        state_ = kPlayStateEnded;
        jumped();
    }
}

// The cursor came back with the levels of its place; channels that got other
// volumes meanwhile get the voice's level again.
void CPlayPass::jumped() {
    if (mode_ == kModePlayTime || (ctl_.playConditions & kCondDynamics) == 0 || f_.dynamik.DynamicUse == 0) return;
    for (int32_t s = 0; s < staves_; ++s) {
        for (int32_t v = 0; v < f_.events.voiceCount(s); ++v) {
            const CVoiceLevel* level = f_.cursor.levels.at(s, v);
            if (level != nullptr && level->level > 0 && sendVoiceVolume(f_, s, v) < 0) failed_ = true;
        }
    }
}

// The tempo of the current mark through the host's tempo rule, read every
// step so that the host's changes apply at once. While IgnoreTempo is set (and
// not in a play-time pass) the cursor's tempo, which the host sets, holds.
int32_t CPlayPass::tempoInForce() {
    CPlayCursor& c = f_.cursor;
    std::atomic_ref<int32_t> cursorTempo(c.tempo);
    const bool followMarks = mode_ == kModePlayTime || f_.IgnoreTempo == 0;
    if (!followMarks) {
        const int32_t held = cursorTempo.load();
        if (held > 0) return held;
    }
    const bool known = c.tempoIndex >= 0 && c.tempoIndex < static_cast<int32_t>(global_.size());
    const int32_t mark = known ? eventTempo(global_[static_cast<std::size_t>(c.tempoIndex)]) : -1;
    int32_t tempo = applyTempoRule(mark, ctl_.tempo, ctl_.playConditions, f_.IgnoreTempo != 0,
                                   mode_ == kModePlayTime);
    if (tempo <= 0) tempo = kFallbackTempo;  // -1 stands for 120; 0 would never move on
    cursorTempo.store(tempo);
    return tempo;
}

// The exact length of a step at the tempo in force plus what the earlier
// steps' rounding left over, rounded half away from zero; the rest is carried.
void CPlayPass::stepLength() {
    currentTempo_ = tempoInForce();
    double exact = 0.0;
    scorecore::scTicksToMs(f_.ticksPerQuarter, currentTempo_, step_, &exact);
    exactStepMs_ = exact;
    const double wanted = exact + carryMs_;
    stepMs_ = std::llround(wanted);
    carryMs_ = wanted - static_cast<double>(stepMs_);
    if (realTime() && currentTempo_ != reportedTempo_) {
        reportedTempo_ = currentTempo_;
        f_.reportTempo(currentTempo_);
    }
}

// Track 0 follows the tempo, meter and key in force, also after a jump back
// to where others were in force.
void CPlayPass::writeScoreWide() {
    const CPlayCursor& c = f_.cursor;
    if (currentTempo_ != writtenTempo_) {
        if (renderPutTempo(f_, currentTempo_) < 0) failed_ = true;
        writtenTempo_ = currentTempo_;
    }
    if (!meterWritten_ || !c.meter.isEqual(writtenMeter_)) {
        if (renderPutTimeSignature(f_, c.meter) < 0) failed_ = true;
        writtenMeter_ = c.meter;
        meterWritten_ = true;
    }
    if (c.keyIndex >= 0 && c.keyIndex < static_cast<int32_t>(global_.size())) {
        const CScoreEvent& key = global_[static_cast<std::size_t>(c.keyIndex)];
        const int32_t code = eventKeyFifths(key) * 2 + (eventKeyMajor(key) ? 1 : 0);
        if (code != writtenKey_) {
            if (renderPutKeySignature(f_, eventKeyFifths(key), eventKeyMajor(key) ? 1 : 0) < 0) failed_ = true;
            writtenKey_ = code;
        }
    }
}

}  // namespace scoreconv
