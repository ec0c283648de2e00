// Passes over the events of a loaded staff that make the play model sound as
// written: grace notes get their time, wedges become volume ramps, and the
// level falls back after an accent.
//
// Each pass works on one row (and voice) of the event arrays, in time; events
// it adds or moves keep every voice in time order.
#pragma once

#include <cstdint>

#include "play/event_arrays.h"

namespace scoreconv {

// Grace notes (kind 8) read with no duration take time from the ordinary
// note after them: that note starts later and is shorter by the graces' time,
// and the graces sound one after another in the time freed before it. Each
// grace lasts a 32nd (at 480 per quarter: 30 ticks) after a slashed first
// grace, else half the value of the first grace's type (a value below a 32nd
// as it is; an unknown type counts as an eighth, an empty one as nothing),
// halved again while the graces would take more than half of the note.
// Unslashed graces then count as ordinary notes (grace and cue-size bits
// cleared). Graces with no ordinary note after them stay as they are.
// kOk or kErrIndex.
int fixGraceTiming(CEventArrays& events, int32_t row, int32_t voice, int32_t ticksPerQuarter);

// One step of a volume ramp: kind kKindRamp, one controller-7 message whose
// value is the start level; the target level (or -5 double, -6 half) in the
// dynamic code; the step count and this step's number are kept here.
struct CRampStep {
    int32_t startLevel = 0;
    int32_t steps = 1;
    int32_t target = 0;
    int32_t step = 0;
};
void makeRampStep(CScoreEvent& event, int32_t tick, const CRampStep& step);
// False when the event is no ramp step.
bool rampStepOf(const CScoreEvent& event, CRampStep& step);

// Turns the wedge marks of the staff's first voice (kind kKindRamp with the
// codes -9 crescendo and -8 diminuendo ended by a -10 of the same number, and
// -13 and -12 given as words) into ramp steps of a sixteenth each (at most
// 4096 a ramp, 65536 for all ramps of the voice, one step each beyond), from
// the level before the wedge to the level after it. Marks without an end or
// without the dynamics they need are dropped. kOk, kErrOutOfMemory, kErrIndex.
int wedgesToRamps(CEventArrays& events, int32_t row, int32_t ticksPerQuarter);

// After every note whose dynamic is an accent (-4 to -1) an event of kind
// kKindDynamicMark brings the level back: dynamic 44 after "fp", -7 after the
// others; at the next note of the voice when it starts within 24 time steps
// (a 32nd of a quarter each), else 24 steps after the accented note.
// kOk, kErrOutOfMemory, kErrIndex.
int releaseAccents(CEventArrays& events, int32_t row, int32_t voice, int32_t ticksPerQuarter);

}  // namespace scoreconv
