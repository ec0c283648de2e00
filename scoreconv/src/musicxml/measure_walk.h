// The walk over every part and measure of a loaded MusicXML document.
//
// The walk reads the measures in document order: it keeps each part's time
// (bar starts in ticks, the position inside the measure in divisions), reads
// notes, chords, rests, backups, forwards, attributes, directions, sounds and
// barlines with the readers, builds one event per note or chord and hands
// everything to a receiver. What becomes of it is the receiver's business: the
// play model's receiver (play_model_builder.h) stores events per (staff,
// voice) and score-wide; a writer of another format can be another receiver
// on the same walk.
//
// Time: a part starts at tick 0; an incomplete first measure is an upbeat and
// starts before 0, so that the first full bar starts at 0. Every later measure
// moves the bar start on by its own length (the furthest position its notes
// reach), or by its bar when it holds nothing. Nothing a file says makes the
// walk loop: it visits each element once.
//
// Bounds: no position inside a measure lies beyond the measure's reach
// (kMaxBarsPerMeasure bars of its meter, read_context.h) or before its start;
// a duration, backup, forward or direction offset that would go there is cut,
// with one log line for the measure. A score whose parts, read so, take
// longer than kMaxPlaySeconds to play once through at its tempo marks
// (repeats not counted) is refused.
//
// Staves and voices: a note goes to the staff that holds its voice in the
// part's voice table (the part-list reader fills it); a voice id that is not a
// number maps to a free voice number of the part; a note whose voice or staff
// is not in the part is not stored, but still keeps time.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "musicxml/measure_reader.h"
#include "musicxml/note_reader.h"
#include "musicxml/read_context.h"
#include "scorecore/score_event.h"

namespace scoreconv {

class CMxmlFile;

// The longest score the walk accepts: 24 hours of playing.
inline constexpr int64_t kMaxPlaySeconds = int64_t{24} * 3600;

// A tempo mark as the walk read it.
struct CTempoMark {
    int64_t tick = 0;
    int32_t tempo = 0;
    int32_t part = 0;  // the part that gave it
};
// Seconds from tick `from` to tick `to` at the tempo marks, in the order
// they were read: for a tick, the first part to give a mark there holds it,
// with the last mark it gave; `initial` before the first mark.
double playSeconds(std::vector<CTempoMark> marks, int32_t initial, int64_t from, int64_t to,
                   int32_t ticksPerQuarter);

// Where a note, chord or rest goes.
struct CWalkTarget {
    int32_t part = -1;
    int32_t staff = -1;      // the file's staff (its event row)
    int32_t partStaff = -1;  // the staff within the part
    int32_t voice = -1;      // the voice within the staff
};

// A measure as the walk has read its header.
struct CWalkMeasure {
    int32_t part = 0;
    int32_t index = 0;           // within the part
    int32_t firstStaff = 0;      // the part's first staff in the file
    int32_t staffCount = 0;      // the part's staves
    const xmlNode* node = nullptr;
    const CMeasureHeader* header = nullptr;
    const CPartState* state = nullptr;
    int64_t barStart = 0;        // tick of the measure's start
    int64_t length = 0;          // ticks the measure takes
    bool upbeat = false;         // an incomplete first measure, placed before tick 0
    int32_t repeatBars = 0;      // a measure-repeat group starts here: bars it repeats
    bool repeatGroupEnd = false; // the last measure of a measure-repeat group
};

// Receives what the walk reads. Each call returns kOk or a code that ends the
// walk with it.
class CWalkReceiver {
public:
    virtual ~CWalkReceiver() = default;

    virtual int beginPart(int32_t /*part*/, const CPartState& /*state*/) { return 0; }
    // After the header (attributes, length) of a measure.
    virtual int beginMeasure(const CWalkMeasure& measure) = 0;
    // After each note element was read into its event: heads from
    // info.headsBefore on are this note's.
    virtual int noteRead(const CWalkTarget& /*target*/, CScoreEvent& /*event*/, const CNoteInfo& /*info*/,
                         const CPartState& /*state*/) {
        return 0;
    }
    // A complete note, chord or rest, with its start and duration in ticks.
    // The receiver may take what the event holds: the walk clears the record
    // before it reads a note into it again.
    virtual int event(const CWalkTarget& target, CScoreEvent& event) = 0;
    // A "forward" of a voice (target.voice -1 when it names none).
    virtual int forward(const CWalkTarget& /*target*/, int64_t /*tick*/, int64_t /*length*/) { return 0; }
    // Attributes inside a measure (after its first notes).
    virtual int attributes(const CWalkMeasure& /*measure*/, const CAttributesRead& /*read*/, int64_t /*tick*/) {
        return 0;
    }
    // A tempo from a "sound". A part may give two for one moment: the later holds.
    virtual int tempo(int64_t tick, int32_t tempo) = 0;
    // A direction's marks were added to `marks`; the wedges from firstWedge
    // on are this direction's. staff is the file's staff, -1 when unknown.
    virtual int direction(int32_t staff, int64_t tick, const CScoreEvent& marks, int32_t firstWedge) = 0;
    virtual int barline(const CWalkMeasure& measure, int64_t tick, const scorecore::CEventBarline& barline,
                        const CBarlineInfo& info) = 0;
    virtual int endMeasure(const CWalkMeasure& /*measure*/, int64_t /*nextBarStart*/) { return 0; }
    // After the part's last measure; partEnd is the tick where it ends.
    virtual int endPart(int32_t part, int32_t firstStaff, int32_t staffCount, int64_t partEnd) = 0;
    // Whether a rest takes the marks of the directions before it. When not,
    // they wait for the next note.
    virtual bool restsTakeMarks() const { return false; }
};

// The walk itself. It reads the document, the voice tables and the mode of
// the file; it writes the file's current part and measure, its current tempo
// (the last "sound" tempo) and the measure lists of the part table.
class CMeasureWalk {
public:
    CMeasureWalk(CMxmlFile& file, CWalkReceiver& receiver, CSpanFinder* spans = nullptr);

    // Walks every "part" of the document that the part table holds, in
    // document order. kOk; kErrStopped when the host's stop word is set;
    // kErrDom without a document; kErrUnknownFormat for a score that plays
    // longer than kMaxPlaySeconds (logged); a reader's or the receiver's
    // failure.
    int run();

    // The same walk for parts that arrive one at a time: begin with the count
    // of parts and the first one (for the progress total), each part with its
    // part-table index (one without entry is passed over) and its place in
    // the document, then finish. Each returns what run() would. timings: the
    // part's timing steps where they were read beforehand.
    void begin(int32_t partCount, const xmlNode* firstPart);
    int walkPartElement(const xmlNode* part, int32_t index, int32_t documentIndex,
                        const CPartTimings* timings = nullptr);
    int finish();

private:
    struct Pending {
        bool active = false;
        CScoreEvent event;
        CWalkTarget target;
    };

    int walkPart(const xmlNode* part, int32_t index, int32_t documentIndex, const CPartTimings* timings);
    int walkMeasure(const xmlNode* measure, int32_t index, std::optional<std::span<const CTimingStep>> timing,
                    CWalkMeasure& m);
    int walkChild(const xmlNode* child, CWalkMeasure& m);
    int readNoteElement(const xmlNode* note);
    int readDirectionElement(const xmlNode* direction);
    int readTempo(int32_t tempo);
    int flush();
    bool resolveTarget(const CNoteInfo& info, CWalkTarget& target);
    int64_t now() const { return barStart_ + state_.clock.tick(); }
    void logCuts(int32_t index);
    int checkPlayTime();

    CMxmlFile& file_;
    CWalkReceiver& receiver_;
    CReadContext context_;
    CPartState state_;
    int32_t part_ = 0;
    int32_t firstStaff_ = 0;
    int64_t barStart_ = 0;
    int64_t lastNoteStart_ = 0;  // where the last note that took time began
    Pending pending_;
    CScoreEvent carry_;          // marks of directions waiting for the next note
    CScoreEvent scratch_;
    bool offsetCut_ = false;     // a direction's offset of the measure was cut

    // For the play time: every tempo mark, and where the parts begin and end.
    int32_t initialTempo_ = 120;
    std::vector<CTempoMark> tempoMarks_;
    int64_t scoreStart_ = 0;
    int64_t scoreEnd_ = 0;
};

}  // namespace scoreconv
