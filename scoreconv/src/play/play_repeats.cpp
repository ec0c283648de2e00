// The score-wide row during a pass: tempo marks, time and key signatures,
// repeats and endings, the tempo in force with each step's length, and the
// score-wide meta events of a render pass.
//
// Repeats play as written. Before a pass the marks are grouped into
// sections: a backward repeat belongs to the innermost forward repeat still
// open before it, or, when none is, to the start of the pass; a backward
// repeat right after an ending of the section closed last (1 :| 2 :| 3)
// belongs to that section too. An ending belongs to the section whose
// backward repeat it starts at, else to the innermost open one.
//
// A forward repeat keeps a copy of the play cursor; a backward repeat that
// plays its section again puts the copy back (state kPlayStateRepeat). Its
// section plays again while the mark's times say so; without times, while
// one of its endings names the next pass, and twice when it has no endings.
// An ending that does not name the pass being played is skipped: playing
// goes on at the section's next ending, or after its last backward repeat.
// A section's passes are played once: a section that an outer repeat plays
// again goes straight to the ending of its last pass.
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

namespace {

uint32_t passBit(int64_t pass) { return pass >= 1 && pass <= 32 ? 1u << (pass - 1) : 0u; }

int32_t highestPass(uint32_t passes) {
    int32_t highest = 0;
    for (int32_t pass = 1; pass <= 32; ++pass) {
        if ((passes & passBit(pass)) != 0) highest = pass;
    }
    return highest;
}

bool isBackward(const CScoreEvent& e) {
    return e.isKind(kKindRepeatMark) && e.isKind(kKindBackwardRepeat | kKindEndingEnd);
}
bool isForward(const CScoreEvent& e) { return e.isKind(kKindRepeatMark) && e.isKind(kKindForwardRepeat); }

}  // namespace

void CPlayPass::planRepeats() {
    sections_.clear();
    roles_.assign(global_.size(), RepeatRole{});
    std::vector<int32_t> open;  // sections whose backward repeat is still to come, innermost last
    int32_t closed = -1;        // the section whose backward repeat came last
    const auto newSection = [this](int32_t target) {
        sections_.emplace_back();
        sections_.back().target = target;
        return static_cast<int32_t>(sections_.size()) - 1;
    };
    const auto section = [this](int32_t s) -> RepeatSection& { return sections_[static_cast<std::size_t>(s)]; };
    for (std::size_t i = 0; i < global_.size(); ++i) {
        const CScoreEvent& e = global_[i];
        const auto index = static_cast<int32_t>(i);
        RepeatRole& role = roles_[i];
        if (isBackward(e)) {
            // An ending began after the last backward repeat of the section
            // closed last: this one ends it.
            const bool groupGoesOn = closed >= 0 && !section(closed).endings.empty() &&
                                     section(closed).endings.back() > section(closed).lastBackward;
            int32_t s = closed;
            if (!groupGoesOn && !open.empty()) {
                s = open.back();
                open.pop_back();
            } else if (!groupGoesOn) {
                s = newSection(-1);
            }
            RepeatSection& r = section(s);
            r.lastBackward = index;
            ++r.backwardMarks;
            r.mostPasses = std::max<int64_t>(r.mostPasses, eventRepeatTimes(e));
            role.backward = s;
            closed = s;
        }
        if (isForward(e)) {
            role.forward = newSection(index);
            open.push_back(role.forward);
            closed = -1;
        }
        if (e.isKind(kKindFirstEnding)) {
            int32_t s = -1;
            if (closed >= 0 && global_[static_cast<std::size_t>(section(closed).lastBackward)].start == e.start) {
                s = closed;
            } else if (!open.empty()) {
                s = open.back();
            } else {
                s = newSection(-1);
                open.push_back(s);
            }
            // An ending without a number is a first ending.
            const uint32_t passes = endingPasses(e.barline.endingLabel);
            role.passes = passes != 0 ? passes : passBit(1);
            role.ending = s;
            RepeatSection& r = section(s);
            r.endings.push_back(index);
            r.namedPasses |= role.passes;
            r.mostPasses = std::max<int64_t>(r.mostPasses, highestPass(r.namedPasses) + 1);
        }
    }
}

void CPlayPass::repeatMark(int32_t index, const CScoreEvent& event) {
    if (f_.PlayRepeats == 0 || index < 0 || index >= static_cast<int32_t>(roles_.size())) return;
    const RepeatRole& role = roles_[static_cast<std::size_t>(index)];
    // One mark may close a section, open the next and start its ending (:|: or :|2).
    if (role.backward >= 0 && backwardMark(index, event)) return;
    if (role.forward >= 0) {
        RepeatSection& s = sections_[static_cast<std::size_t>(role.forward)];
        s.targetCursor.copyFrom(f_.cursor, true);
        s.targetSaved = true;
    }
    if (role.ending >= 0) endingMark(index);
}

// True when playing went back.
bool CPlayPass::backwardMark(int32_t index, const CScoreEvent& event) {
    const RepeatRole& role = roles_[static_cast<std::size_t>(index)];
    RepeatSection& s = sections_[static_cast<std::size_t>(role.backward)];
    const int32_t times = eventRepeatTimes(event);
    const uint32_t next = passBit(int64_t{s.pass} + 1);
    bool again = s.pass < 2;
    if (times > 0) {
        again = s.pass < times;
    } else if (!s.endings.empty()) {
        // A lone first ending before the one backward repeat: what follows
        // it is the ending of the pass after.
        const bool openEnd = s.backwardMarks == 1 && s.endings.back() < s.lastBackward;
        again = (s.namedPasses & next) != 0 || (openEnd && s.pass == highestPass(s.namedPasses));
    }
    if (!again) {
        state_ = kPlayStateEnded;
        return false;
    }
    ++s.pass;
    endAllSounding();
    f_.cursor.copyFrom(s.targetSaved ? s.targetCursor : f_.savedCursor, f_.IgnoreTempo == 0);
    state_ = kPlayStateRepeat;
    jumped();
    return true;
}

void CPlayPass::endingMark(int32_t index) {
    const RepeatRole& role = roles_[static_cast<std::size_t>(index)];
    const RepeatSection& s = sections_[static_cast<std::size_t>(role.ending)];
    if ((role.passes & passBit(s.pass)) != 0) return;
    const auto later = std::upper_bound(s.endings.begin(), s.endings.end(), index);
    if (later != s.endings.end()) {
        seekTo(*later, global_[static_cast<std::size_t>(*later)].start);
    } else if (s.lastBackward > index) {
        seekTo(s.lastBackward + 1, global_[static_cast<std::size_t>(s.lastBackward)].start);
    } else {
        return;  // the last ending, after every backward repeat, closes the section whatever it names
    }
    state_ = kPlayStateEnded;
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
