// The play procedure's running state: the play cursor (tempo, meter, position,
// per-voice event indexes, next-event ticks and levels, the done matrix and
// the indexes into the score-wide row), which the file keeps twice so that a
// repeat can jump back; the sounding-note records that hold the note-offs of
// each voice; and the render tracks of a pass that writes a MIDI file.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "play/voice_flags.h"
#include "play/voice_table.h"
#include "scorecore/meter.h"
#include "scorecore/midi_stream.h"
#include "scorecore/score_event.h"

namespace scoreconv {

// The level a voice's dynamics set (volume controller), with its ramp target.
struct CVoiceLevel {
    uint8_t level = 0;
    uint8_t target = 0;
    uint8_t spare1 = 0;
    uint8_t spare2 = 0;
    bool operator==(const CVoiceLevel&) const = default;
};

class CPlayCursor {
public:
    CPlayCursor();

    // Sizes the per-voice tables and the done matrix for the staves' voice
    // counts (indexes 0, ticks 0, levels 0, nothing done); false, with the
    // cursor as it was, without memory.
    bool allocate(std::span<const int32_t> staffVoiceCounts);
    // Drops the per-voice tables and puts every index and the position back
    // to the start (the tempo is the caller's).
    void free();
    // Back to the start of the score: position (1, 1, 0), tick 0, the
    // score-wide indexes -1 (the current one 0), every voice index and tick 0.
    void rewind();

    // Takes over other's state; its tempo only with withTempo.
    void copyFrom(const CPlayCursor& other, bool withTempo);
    // Swaps the states; the tempos only with withTempo.
    void swapWith(CPlayCursor& other, bool withTempo);

    int32_t tempo = -1;  // in force; -1 unset (stands for 120)
    CVoiceTable<CVoiceLevel> levels;
    CVoiceFlags done;
    scorecore::CMeter meter;
    CVoiceTable<int32_t> nextTick;    // per voice: tick of its next event
    int32_t currentTick = 0;
    scorecore::CMeasurePos position;  // (1, 1, 0)
    CVoiceTable<int32_t> eventIndex;  // per voice: its current event
    int32_t globalIndex = 0;          // current event of the score-wide row
    int32_t lastRepeatIndex = -1;
    int32_t lastFirstEndingIndex = -1;
    int32_t keyIndex = -1;
    int32_t nextKeyIndex = -1;
    int32_t tempoIndex = -1;
    int32_t nextTempoIndex = -1;
    int32_t timeIndex = -1;
    int32_t nextTimeIndex = -1;
    std::vector<int32_t> voiceCounts;  // per staff
};

// Head flags of the play model's events (CScoreEvent::headFlags, beside the
// notehead shapes) for ties, which belong to single notes of a chord: a head
// tied on, and a head that continues the held note of its key from the
// voice's previous chord (it is not struck again).
inline constexpr int32_t kHeadTiedOn = 0x10000;
inline constexpr int32_t kHeadTiedOver = 0x20000;

// A note of a voice that a tie holds over the voice's next chords: it ends at
// its own tick, not when the voice strikes again.
struct CHeldNote {
    uint32_t off = 0;     // status (note-on, channel) | key << 8
    int32_t end = 0;      // the tick it ends at
    bool silent = false;  // struck by a pass that sends nothing
};

class CHeldNotes {
public:
    // False, with nothing kept, when kMaxHeads notes are held already.
    bool add(const CHeldNote& note);
    // Whether a note of the channel and key is held (with audible, one that was sent).
    bool holds(uint8_t channel, uint8_t key, bool audible) const;
    // Takes out the note of the channel and key into out; false when none is held.
    bool take(uint8_t channel, uint8_t key, CHeldNote& out);
    // Takes out every note that ends at or before tick, calling ended(note) for each.
    template <class F>
    void takeEnded(int64_t tick, F&& ended) {
        for (int32_t i = count_; i-- > 0;) {
            if (notes_[static_cast<std::size_t>(i)].end > tick) continue;
            const CHeldNote note = removeAt(i);
            ended(note);
        }
    }
    // Every note ends now: the next takeEnded takes them all.
    void endAll() {
        for (int32_t i = 0; i < count_; ++i) {
            notes_[static_cast<std::size_t>(i)].end = std::numeric_limits<int32_t>::min();
        }
    }
    int32_t count() const { return count_; }
    void clear() { count_ = 0; }
    // The tick the first of the held notes ends at; the largest tick when none is held.
    int32_t earliestEnd() const {
        int32_t end = std::numeric_limits<int32_t>::max();
        for (int32_t i = 0; i < count_; ++i) end = std::min(end, notes_[static_cast<std::size_t>(i)].end);
        return end;
    }

private:
    CHeldNote removeAt(int32_t i);

    // The count first: the player reads it every step of every voice, and
    // mostly nothing is held.
    int32_t count_ = 0;
    std::array<CHeldNote, scorecore::kMaxHeads> notes_{};
};

// Per (staff, voice) the notes that sound now, as a record of note-offs:
// start = the tick they end at, headCount = the messages, midi = the messages
// (status, key, velocity 0); beside it the notes a tie holds.
class CSoundingNotes {
public:
    bool allocate(std::span<const int32_t> staffVoiceCounts);
    void clear();
    // Null for an unknown (staff, voice). Inline: the player asks every step.
    scorecore::CScoreEvent* at(int32_t staff, int32_t voice) { return records_.at(staff, voice); }
    const scorecore::CScoreEvent* at(int32_t staff, int32_t voice) const { return records_.at(staff, voice); }
    // The notes a tie holds; null for an unknown (staff, voice).
    CHeldNotes* held(int32_t staff, int32_t voice) { return held_.at(staff, voice); }
    const CHeldNotes* held(int32_t staff, int32_t voice) const { return held_.at(staff, voice); }
    // Whether some voice holds a note-off.
    bool any() const;
    // Every voice holds none.
    void silence();

private:
    CVoiceTable<scorecore::CScoreEvent> records_;
    CVoiceTable<CHeldNotes> held_;
};

// The tracks of a render pass: per track its byte stream, the bytes written
// before the music starts and its pending delta ticks.
struct CRenderTracks {
    // count tracks, each empty with header size 0 and delta 0; false without memory.
    bool allocate(int32_t count);
    void clear();
    int32_t count() const { return static_cast<int32_t>(streams.size()); }
    // Whether every table has the track.
    bool has(int32_t track) const;

    // Every track's pending delta grows by ticks (a count of 0 or below
    // changes nothing), kept at most INT_MAX. A render steps one tick at a
    // time over tracks that mostly wait, so a track's delta is brought up to
    // date only when it is asked for.
    void advance(int64_t ticks);
    // The pending delta of a track has() knows, for reading and writing; a
    // negative one counts as 0 when the next ticks are added.
    int& delta(int32_t track);
    // Every track's pending delta.
    std::vector<int> deltas();

    std::vector<scorecore::CMidiTrackStream> streams;
    std::vector<int32_t> headerSizes;

private:
    std::vector<int> pendingDelta_;  // as of syncedAt_
    std::vector<int64_t> syncedAt_;
    int64_t now_ = 0;  // ticks advanced since allocate()
};

}  // namespace scoreconv
