// The loaded score as the play model holds it: per row and per voice an array
// of events in time order. Rows 0 to count-2 are the staves; the last row (the
// score-wide row) has one voice that holds the tempo marks, time and key
// signatures, repeat and ending marks.
//
// Arrays grow geometrically, so loading a large score appends in amortised
// constant time. Rows, voices and event indexes come from files and callers:
// an unknown one reads as "none" (-1, 0 or null) and a write to it is refused
// with kErrIndex, never stored out of bounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "scorecore/meter.h"
#include "scorecore/score_event.h"

namespace scoreconv {

using scorecore::CScoreEvent;

// Kind bits of the play model (besides those of the event record).
inline constexpr uint32_t kKindForwardRepeat = 0x80;
inline constexpr uint32_t kKindBackwardRepeat = 0x100;
inline constexpr uint32_t kKindEndingEnd = 0x200;
inline constexpr uint32_t kKindFirstEnding = 0x400;
inline constexpr uint32_t kKindRamp = 0x800;          // dynamic ramp or wedge mark
inline constexpr uint32_t kKindDynamicMark = 0x1000;  // accent release and level marks
inline constexpr uint32_t kKindSelfTimed = 0x2000;
inline constexpr uint32_t kKindRepeatMark = 0x200000;

// Wedge codes given as words ("cresc.", "dim.").
inline constexpr int32_t kWedgeWordCrescendo = -13;
inline constexpr int32_t kWedgeWordDiminuendo = -12;

// Score-wide events keep their value in the event itself: the tempo in the
// first message slot, the time signature in meterBeats and meterUnit (the
// power of two of the beat unit, 2 for quarters), the key in the first slot
// (fifths in its low byte, 1 for major in the next).
void makeTempoEvent(CScoreEvent& event, int32_t tick, int32_t tempo);
int32_t eventTempo(const CScoreEvent& event);
// False (event unchanged) for beats outside 1..255 or a unit index outside 0..12.
bool makeTimeSigEvent(CScoreEvent& event, int32_t tick, int32_t beats, int32_t unitIndex);
// The meter of a time-signature event at ticksPerQuarter; false when the
// event holds no valid one.
bool eventMeter(const CScoreEvent& event, int32_t ticksPerQuarter, scorecore::CMeter& meter);
void makeKeySigEvent(CScoreEvent& event, int32_t tick, int32_t fifths, bool major);
int32_t eventKeyFifths(const CScoreEvent& event);  // -7..7
bool eventKeyMajor(const CScoreEvent& event);
// A backward repeat keeps how often its section plays in the first message
// slot; 0 when the score does not say (times below 0 count as 0).
void setRepeatTimes(CScoreEvent& event, int32_t times);
int32_t eventRepeatTimes(const CScoreEvent& event);
// The passes an ending's number text names, as bits (bit n-1 for pass n,
// passes 1 to 32): "1", "1.", "1, 2", "1. 2. 3.", "1.-3." or "1-3". Other
// numbers are left out; 0 when it names none.
uint32_t endingPasses(std::string_view numbers);

// In a voice in time order, the latest event at or before the tick that fits
// (the first of several at that tick); -1 when none does. Only the events
// from that tick back are looked at.
template <class Fits>
int32_t latestFittingAtOrBefore(std::span<const CScoreEvent> list, int64_t tick, Fits&& fits) {
    std::size_t split = 0;
    for (std::size_t count = list.size(); count > 0;) {  // the first event after the tick
        const std::size_t half = count / 2;
        if (list[split + half].start <= tick) {
            split += half + 1;
            count -= half + 1;
        } else {
            count = half;
        }
    }
    int32_t found = -1;
    for (std::size_t i = split; i-- > 0;) {
        if (found >= 0 && list[i].start < list[static_cast<std::size_t>(found)].start) break;
        if (fits(list[i])) found = static_cast<int32_t>(i);
    }
    return found;
}

class CEventArrays {
public:
    enum class Nearest {
        BeforeWithDynamic,  // at or before the tick, carrying a dynamic
        AfterWithDynamic,   // at or after the tick, carrying a dynamic
        Either,             // on either side, any note
    };

    // rows rows without voices; false (unchanged) for rows < 0 or without memory.
    bool allocRows(int32_t rows);
    // Gives the row `voices` empty voices; false for an unknown row,
    // voices < 0 or without memory.
    bool allocVoices(int32_t row, int32_t voices);
    // Inserts count rows without voices before row `before` (the rows from
    // there on move up); false (unchanged) for a row outside 0..rowCount(),
    // count < 0 or without memory.
    bool insertRows(int32_t before, int32_t count);
    void clear();

    int32_t rowCount() const { return static_cast<int32_t>(rows_.size()); }
    // The score-wide row; -1 when there are no rows.
    int32_t globalRow() const { return rowCount() - 1; }
    int32_t voiceCount(int32_t row) const;
    int32_t eventCount(int32_t row, int32_t voice) const;
    // Null for an unknown (row, voice, index).
    CScoreEvent* event(int32_t row, int32_t voice, int32_t index);
    const CScoreEvent* event(int32_t row, int32_t voice, int32_t index) const;
    std::span<const CScoreEvent> events(int32_t row, int32_t voice) const;
    std::span<CScoreEvent> events(int32_t row, int32_t voice);

    // --- editing. Each stored copy is deep; in notes, grace notes and chords
    // (kinds 1, 8, 16) the second data byte of program-change and channel-
    // pressure messages is zeroed. 0, kErrOutOfMemory (nothing stored) or
    // kErrIndex for an unknown (row, voice).
    int append(int32_t row, int32_t voice, const CScoreEvent& event);
    // Before the first event that starts later (after those that start at the
    // same tick). The arrays are in time order; on one that is not, the event
    // still goes in at some position of the array.
    int insertInOrder(int32_t row, int32_t voice, const CScoreEvent& event);
    // kErrNotPresent when the voice has no events, kErrIndex for an unknown
    // row, voice or index.
    int remove(int32_t row, int32_t voice, int32_t index);
    // `added` goes into the voice's events by start, after the events that
    // start at the same tick as it (as insertInOrder would put it), in the
    // voice's own storage: no second array of the voice is made. The events
    // `dropped` marks leave the voice. The added events are moved in, their
    // messages made as append makes them. 0; kErrIndex for an unknown (row,
    // voice) and kErrOutOfMemory, nothing changed.
    int merge(int32_t row, int32_t voice, const std::vector<bool>& dropped, std::vector<CScoreEvent>& added);

    // --- searches; -1 when nothing matches. A kind mask of 0 matches every event.
    int32_t findAtTick(uint32_t kindMask, int32_t tick, int32_t row, int32_t voice, int32_t from) const;
    int32_t findInWindow(uint32_t kindMask, int32_t low, int32_t high, int32_t row, int32_t voice,
                         int32_t from) const;
    int32_t nextOfKind(uint32_t kindMask, int32_t row, int32_t voice, int32_t index) const;
    int32_t previousOfKind(uint32_t kindMask, int32_t row, int32_t voice, int32_t before) const;
    // From position + 1 in the score-wide row; position becomes the found index or -1.
    int32_t nextGlobalOfKind(int32_t& position, uint32_t kindMask) const;
    // Over every voice of the row, the note (kind 1) nearest to the tick; the
    // voice goes to voiceOut (-1 when none) and the index is returned.
    int32_t nearestNote(int32_t row, int32_t tick, Nearest form, int32_t& voiceOut) const;
    // The next wedge event (kind kKindRamp, voice 0) after the index with a
    // stop wedge of the number.
    int32_t wedgeStopOf(int32_t row, int32_t after, int32_t number) const;
    // The last wedge event at or before the index with a crescendo or
    // diminuendo start of the number.
    int32_t wedgeStartBefore(int32_t row, int32_t index, int32_t number) const;

    // MIDI channel (0..15) of the voice's first event that has a channel
    // message; 255 when it has none.
    uint8_t voiceChannel(int32_t staff, int32_t voice) const;

    // --- passes.
    // Every note between a slur start (item flag 8) of number n and the next
    // slur stop (flag 16) of number n gets an item of number n with flag 2.
    // A start without a stop marks nothing. 0, kErrOutOfMemory or kErrIndex.
    int slurContinuation(int32_t row, int32_t voice);
    // Appends to every voice of the row (up to voiceLimit voices) copies of
    // the events of the `bars` bars before `tick`, shifted on by those bars;
    // the bar is that of the last time signature of the score-wide row at or
    // before the tick. tick becomes bars x ticks per bar. 0; kErrDom (-6)
    // without a valid time signature; kErrNotPresent (nothing appended) when
    // a voice's events do not reach back that far (the caller retries with
    // fewer bars); kErrOutOfMemory; kErrIndex for an unknown row.
    int repeatPreviousBars(int32_t bars, int32_t row, int32_t voiceLimit, int32_t ticksPerQuarter,
                           int32_t& tick);

private:
    using Stream = std::vector<CScoreEvent>;
    Stream* stream(int32_t row, int32_t voice);
    const Stream* stream(int32_t row, int32_t voice) const;
    static int store(Stream& events, std::size_t at, const CScoreEvent& event);

    std::vector<std::vector<Stream>> rows_;
};

}  // namespace scoreconv
