// The note reader: one MusicXML "note" element into the heads, timing and
// marks of the current event, several notes of a chord into one event. Beside
// it the readers of "backup" and "forward", the measure-length scan and small
// predicates on note elements.
//
// The reader fills the event and tells its caller, through CNoteInfo, what the
// event itself does not hold: the staff and voice the note names, its raw
// duration, its instrument reference and the state of its tuplet. Every number
// from the file is checked: an octave, alteration, tuplet count or duration
// that makes no sense is kept within what the event can hold or read as
// "none", never used to index anything.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "musicxml/read_context.h"
#include "scorecore/score_event.h"

namespace scoreconv {

using scorecore::CScoreEvent;

// What a note element says beside the event it fills.
struct CNoteInfo {
    // <staff> minus 1; 0 when missing; -1 when it names no staff (0, negative
    // or not a number).
    int32_t staff = 0;
    std::string voice;          // the <voice> text as written; empty when missing
    double duration = 0;        // <duration> in divisions; 0 when missing or not positive
    std::string instrumentId;   // the id of <instrument>, empty when none
    bool chord = false;         // a continuation of the chord before it
    bool grace = false;
    bool cue = false;
    bool rest = false;
    bool measureRest = false;   // <rest measure="yes">
    bool hidden = false;        // print-object="no"
    int32_t tupletState = 0;    // 1 a tuplet starts here, 2 it stops here
    int32_t tie = 0;            // kTieStart, kTieEnd: the ties of this note alone (<tie> and <tied>)
    int32_t headsBefore = 0;    // heads the event held before this note
};

// Results beside kOk and the usual failures.
inline constexpr int kNoteStartsNewEvent = -7;  // nothing read: flush the event, read again

// Reads the note into the event. kOk; kNoteStartsNewEvent when the event
// already holds a note or rest and this note does not continue it as a chord
// (nothing is read); kErrNoteSkipped when the note is to be skipped (a hidden
// note in mode 5, a hidden note without duration), with info filled so that
// the caller can still keep time; kErrOutOfMemory when the event refuses an
// entry. With context.spanMarksOnly the event takes only the note's slurs
// and tuplet marks (the info is filled all the same).
int readNote(const xmlNode* note, const CReadContext& context, CScoreEvent& event, CNoteInfo& info);

// Reads "pitch" (or, with unpitched, the display step and octave of
// "unpitched") of a note into a new head of the event: its key in the slot's
// key byte (octave x 12 + semitone + alteration + 12, kept within 0..127), its
// pitch text and its alteration text. The head is counted when the event takes
// it. kOk, kErrDom when the note has no such element, kErrOutOfMemory.
int readPitch(const xmlNode* note, bool unpitched, CScoreEvent& event);
// The key an "unpitched" element's display position stands for (the middle
// line without one); -1 for a display step that is no letter of the scale.
int32_t unpitchedDisplayKey(const xmlNode* unpitched);

// The divisions per quarter an "attributes" element sets: nothing when it has
// no "divisions"; 1 when its value is not a positive number.
std::optional<double> divisionsOf(const xmlNode* attributes);

// "backup": its duration in divisions (0 when missing or not positive).
double readBackup(const xmlNode* backup);
// "forward": its duration, and its staff and voice as a note gives them.
double readForward(const xmlNode* forward, int32_t& staff, std::string& voice);

// The length of a measure in ticks: the furthest position its notes, backups
// and forwards reach, with the divisions in force at its start and every
// change of divisions inside it, at most the measure's reach. Chord
// continuations and grace notes take no time. Always ends: it walks the
// measure's children once. Throws bad_alloc.
int64_t scanMeasureLength(const xmlNode* measure, double divisionsAtStart, int32_t ticksPerQuarter,
                          int64_t reach = kMaxTicks);

// The same in two steps, so that the reading of the elements can be made
// where a part is parsed (on another thread) and the length counted later,
// once the divisions and the reach at the measure's start are known.
struct CTimingStep {
    enum class Kind : uint8_t { Advance, BackUp, Divisions };
    Kind kind = Kind::Advance;
    double value = 0;  // divisions (Divisions: the new divisions per quarter)
};
// The steps of every measure of a part, in order.
class CPartTimings {
public:
    // Reads every "measure" child of the part. Throws bad_alloc.
    explicit CPartTimings(const xmlNode* part);
    std::size_t measureCount() const { return ends_.size(); }
    std::span<const CTimingStep> measure(std::size_t index) const;

private:
    std::vector<CTimingStep> steps_;
    std::vector<std::size_t> ends_;  // where each measure's steps end
};
// Appends the steps of one measure. Throws bad_alloc.
void readMeasureTiming(const xmlNode* measure, std::vector<CTimingStep>& steps);
int64_t measureLength(std::span<const CTimingStep> steps, double divisionsAtStart, int32_t ticksPerQuarter,
                      int64_t reach = kMaxTicks);

// Small predicates on a note element.
bool noteIsCue(const xmlNode* note);
bool noteIsChord(const xmlNode* note);
bool noteIsGrace(const xmlNode* note);
bool noteIsRest(const xmlNode* note);
bool noteIsHidden(const xmlNode* note);

// --- parts of the reader, by concept (used by readNote) ---------------------------------

// The staff number of a note or forward: number - 1, 0 when missing, -1 when
// it is no staff number.
int32_t readStaffNumber(const xmlNode* parent);
// "notations" of a note into the event.
int readNotations(const xmlNode* notations, const CReadContext& context, CScoreEvent& event, CNoteInfo& info);
// Every "lyric" child of the note appended to the event in document order.
int readLyrics(const xmlNode* note, CScoreEvent& event);

// Vocabulary of the note reader.
int32_t accidentalCode(std::string_view word);     // natural 0 .. any other -3
int32_t ornamentCode(std::string_view word);       // trill-mark 1 .. turn 4, else 0
int32_t accidentalMarkCode(std::string_view word); // natural 5, sharp 6, flat 7, else 0
// Placement of most marks: "below" 2, anything else 1.
int32_t placementCode(const xmlNode* element);
// Placement of articulations and technical marks: "above" 1, anything else 2.
int32_t articulationPlacement(const xmlNode* element);

}  // namespace scoreconv
