// The tune-up record: what is played before the music starts so that players can
// tune - a chord on a chosen root, or the first notes of chosen voices, together or
// broken up (arpeggiated) - with the small engines that turn it into notes and into
// the player items of the tune-up player (player_items.h).
//
// The settings are public fields that project and profile files fill directly, so
// every operation treats them as untrusted: out-of-range values are clamped where
// they are used and never index anything.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "scorecore/player_items.h"
#include "scorecore/score_event.h"

namespace scorecore {

// Resolution of the timing values and item lists the tune-up player plays.
inline constexpr int32_t kTuneUpTicksPerQuarter = 384;
// Velocity byte of the note-on slots the record builds; the players set their own.
inline constexpr uint8_t kTuneUpSlotVelocity = 100;

class CEinstimmung {
public:
    explicit CEinstimmung(int32_t ticksPerQuarterValue = 480);

    // True for a chord (Type 2), and for another non-zero Type with an Instrument of
    // its own (0 or more); false for Type 0.
    bool needsOwnTrack() const;

    // --- the selected voices. A key holds the staff in its low 16 bits and the voice
    // in its high 16 bits. FirstNotesVoiceNum follows the list's length through every
    // operation here; the list itself is what counts.
    // Appends the key unless present (true when present); false when memory fails.
    bool addSelectedVoice(int32_t key);
    void deleteVoiceList();
    // False only for first notes (Type 1) with no voice selected.
    bool firstNotesVoicesSelected() const;
    // Empties the list, then reads up to n decimal keys (n < 0: all) separated by
    // blanks (spaces or tabs, any number). Reading stops at the first token that is
    // not a number in -2^31..2^32-1 (values above 2^31-1 are kept as their 32-bit
    // pattern); the keys before it stay. kOk, kErrUnknownFormat after a bad token,
    // kErrOutOfMemory (keeping the keys read so far).
    int buildVoicesFromString(std::string_view text, int32_t n = -1);
    // The list as signed decimal keys separated by single blanks, kept in voicesText
    // (the previous text replaced) and valid until the next call or clear(); null
    // when the list is empty or memory fails.
    const char* createVoicesString();
    // The key at index, split into staff (low 16 bits) and voice (high 16 bits);
    // -1 for both (outputs may be null) and as the answer for an index out of range.
    int32_t getFirstNotesStaffVoice(int32_t index, int32_t* staff, int32_t* voice) const;

    // --- notes for the live and export players. Each note is a CScoreEvent of kind
    // kKindNote whose slots are note-ons (status 0x90 | channel, key,
    // kTuneUpSlotVelocity).
    // Replaces events with the chord: root = 12 x ChordOctave + ChordGrundton (both
    // clamped, to 0..10 and 0..11), third 4 (major, ChordDurMoll not 0) or 3 above,
    // fifth 7 above, in that order, each shifted by transpose and kept in 0..127,
    // channel 0. count becomes 3; false (count 0) when memory fails.
    bool createChord(std::vector<CScoreEvent>& events, int32_t& count, int32_t transpose) const;
    // Copies one voice's first note into the next slot of the block. With count 0
    // the block is (re)made with one event per selected voice. Slots are filled from
    // the first when FirstNotesFromTop is set, else from the last. The slot gets the
    // first `heads` heads of source (negative: all of them), each key = source key +
    // transposeA + transposeB kept in 0..127 (a key byte with bit 7 set is a
    // percussion marker and is copied as it is), status 0x90 | channel (channel
    // clamped to 0..15), and introStaff/introVoice = staff/voice. count is raised
    // and the slot's index returned; -1 when every slot is taken or memory fails.
    int32_t getFirstNotesNote(std::vector<CScoreEvent>& events, int32_t& count, int32_t heads,
                              const CScoreEvent& source, int32_t channel, int32_t transposeA,
                              int32_t transposeB, int32_t staff, int32_t voice) const;

    // Arpeggio step: Tempo 1 -> 500 ms, 2 -> 1000 ms, any other value 1500 ms; in
    // ticks arpeggioTicks[0], [1], [2] likewise.
    int32_t getZerlegtTime() const;
    int32_t getZerlegtTicks() const;

    // --- player items (kTuneUpTicksPerQuarter; the layout is in player_items.h).
    // Prepares the tune-up player for `notes` note groups (the chord counts as one)
    // at `tempo` quarters per minute: empties the item list, fills the timing list
    // and resets the play state (playState 0, lastIndex -1). A step is
    // getZerlegtTime() ms, and all values are scMsToTicks() rounded.
    //   Chord (Type 2): broken and Sounding: 3, 2 and 1 steps; otherwise one value,
    //   one step when broken, else Duration (negative counts as 0).
    //   First notes (other Types), n groups: broken and Sounding: value i is n - i
    //   steps; otherwise one value as for the chord.
    // False when memory fails or notes is above 65536.
    bool buildEvents(int32_t notes, int32_t tempo);
    // Makes the chord's timing values at `tempo` (as buildEvents does for Type 2)
    // and writes its items, replacing both lists; the play state is left alone.
    // Notes are spelled (kNoteSpelled): the root by a table of the 12 semitones
    // (major with sharps, minor with flats), third and fifth by the same table and
    // placed above the root, and every step shifted by ChordOctave x 7 - 35; a note
    // that would lie above key 127 (top octave) is written octaves lower. Velocities
    // are Volume. Lanes (tune-up markers, start 0):
    //   not broken, 7 items: marker, anchor, root, third and fifth held, rest of
    //     Duration, end;
    //   broken, not Sounding, 7 items: marker, anchor, root and third timed one step
    //     each, fifth held, rest of one step, end;
    //   broken and Sounding, 17 items: one lane per note, lane i (0..2) = marker,
    //     anchor, [rest of i steps], the note held, rest of timing value i, end -
    //     so all three end together.
    // False when memory fails.
    bool buildChordItems(int32_t tempo);
    // Appends the lane of the next voice's first note (i = lanes appended since
    // buildEvents, n = its note groups); each head of the note is one held plain
    // note item with the slot's key and velocity Volume:
    //   not broken: marker, anchor, heads, rest of Duration, end (5 items for a
    //     single head);
    //   broken and Sounding: marker, anchor, [rest of i steps], heads, rest of
    //     timing value i, end (5 for the first lane, 6 for the others);
    //   broken, not Sounding: marker, anchor, [rest of i steps], heads, rest of one
    //     step, [a release (0x80, key, 0) per head, the last one carrying the
    //     (n - 1 - i) steps to the end of the tune-up, unless this is the last
    //     lane], end (5 for a single group; else 6 for the first and last lane, 7
    //     for each other).
    // A note without heads adds nothing (true). False, with nothing appended, when
    // buildEvents was not made for another group, and when memory fails.
    bool appendNoteItems(const CScoreEvent& firstNote);

    // Frees the string form, the item and timing lists and the voice list.
    void clear();

    // --- fields, in stored order.
    int32_t Type = 0;        // 0 off, 1 first notes of the selected voices, 2 chord
    int32_t Duration = 1000; // milliseconds
    uint8_t Zerlegt = 1;     // break the chord up (arpeggio)
    int32_t Tempo = 2;       // arpeggio speed, stored 0..3: 1 fast, 2 medium, any other slow
    // Broken notes keep sounding until the whole arpeggio ends (the held flag of the
    // profile files, "ProfileEinZerlegtLiegen"); clear, each ends after its step.
    uint8_t Sounding = 1;
    uint8_t Volume = 100;    // velocity of the items (kept in 0..127 on use)
    int32_t Instrument = -1; // own program of the tune-up, negative: the voices' own
    int32_t ChordGrundton = 0;  // root 0 (C) .. 11
    int32_t ChordDurMoll = 1;   // not 0 major, 0 minor
    int32_t ChordOctave = 5;    // octave of the root, 0..10
    std::vector<int32_t> voices;  // selected voice keys
    int32_t FirstNotesVoiceNum = 0;  // voices.size()
    uint8_t FirstNotesFromTop = 0;   // slot order of the first notes
    std::array<int32_t, 7> PlayParams{};
    std::array<int32_t, 3> playState{};
    int32_t lastIndex = -1;
    std::string voicesText;           // string form; empty stands for none
    std::vector<CPlayerItem> eventList;
    std::vector<int32_t> timingList;  // ticks at kTuneUpTicksPerQuarter
    int32_t ticksPerQuarter;
    std::array<int32_t, 3> arpeggioTicks;  // step ticks for the fast, medium and slow speed

    // Copies the host's play parameters in whole; null zeroes them.
    void setPlayParams(const std::array<int32_t, 7>* params);

private:
    int32_t tempoIndex() const;   // 0, 1 or 2 for arpeggioTicks
    uint8_t velocity() const;     // Volume kept in 0..127
    bool brokenSounding() const { return Zerlegt != 0 && Sounding != 0; }
    // Timing values of the chord, or of `notes` first-note groups, at `tempo`.
    std::vector<int32_t> makeTiming(bool chord, int32_t notes, int32_t tempo) const;
    // Replaces the item list with the chord's lanes (timingList holds the chord's).
    void writeChordLanes();

    int32_t noteGroups_ = 0;     // groups buildEvents prepared for
    int32_t lanesAppended_ = 0;  // first-note lanes appended since then
};

// Empties the voice list; its count becomes 0.
void einClearVoices(CEinstimmung& record);
// Appends a voice key (also one already present) and counts it; false when memory
// fails.
bool einAddVoice(CEinstimmung& record, int32_t key);

}  // namespace scorecore
