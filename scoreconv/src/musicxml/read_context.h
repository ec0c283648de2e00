// What the MusicXML readers share while they read one part: the mode they
// read in, the resolution, the look-ahead that finds where spanning marks end,
// and the clock that turns durations in divisions into ticks.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <string>

namespace scoreconv {

// Kinds of marks that span several notes, by the code their search has.
enum class SpanKind : int32_t {
    Ending = 8,
    Tuplet = 9,
    Slur = 10,
    Wedge = 11,
    SlashStyle = 12,
    RepeatStyle = 13,
};

// Where a spanning mark ends, as a look-ahead found it.
struct CSpanResult {
    bool found = false;
    int32_t span = -1;          // notes (measures for the styles) the mark covers
    double endOffset = 0;       // wedges: the stop's offset in divisions
    std::string endingNumber;   // endings: the number text of the stop
};

// Looks past a starting mark for its end. The play model pairs starts and
// stops itself and needs none; a writer that stores spans on the first note
// plugs one in. kOk (result.found false for a mark never closed), kErrDom, or
// kErrStopped when the host's stop word is set.
class CSpanFinder {
public:
    virtual ~CSpanFinder() = default;
    // number: the slur or wedge number to match; staffOrVoice: 0-based, or -1.
    virtual int find(const xmlNode* start, SpanKind kind, int32_t staffOrVoice, int32_t number,
                     CSpanResult& result) = 0;
};

// Positions are kept below this many ticks (about 2.2 million quarters at
// 480), so that nothing a file says can overflow a tick.
inline constexpr int64_t kMaxTicks = int64_t{1} << 30;

// How far a measure may reach past its start: this many bars of its meter,
// and at least as many whole notes. A duration, forward or offset that would
// go further is cut there (the walk logs it), so that one number of a file
// cannot make a score last for days; real measures, cadenzas included, stay
// far within it.
inline constexpr int64_t kMaxBarsPerMeasure = 64;
// The reach of a measure whose bar is barTicks long, at most kMaxTicks.
int64_t measureReach(int64_t barTicks, int32_t ticksPerQuarter);

struct CReadContext {
    int32_t mode = 1;               // the file's mode; 5 skips hidden notes, 6 is a look-ahead
    int32_t ticksPerQuarter = 480;
    double divisions = 1;           // per quarter, as the clock holds them
    CSpanFinder* spans = nullptr;   // null: spans stay unknown (-1)
    int64_t reach = kMaxTicks;      // the measure's reach (measureReach)
    // Ticks a direction's offset may move its mark back and on: to the
    // measure's start and to its reach (the walk sets them for each one).
    int64_t offsetBack = kMaxTicks;
    int64_t offsetOn = kMaxTicks;
    // Notes are read only as far as a span search counts them: their timing,
    // staff, voice and chord, and their tuplet and slur marks (readNote then
    // answers as for the whole note).
    bool spanMarksOnly = false;

    // The look-ahead scans read without starting scans of their own.
    bool lookAhead() const { return mode == 6; }
    // The TvrXML conversion draws no note that is hidden.
    bool skipsHiddenNotes() const { return mode == 5; }
    // Ticks of a length in divisions, rounded (halves away from zero) and
    // kept within 0..kMaxTicks.
    int32_t ticksOf(double length) const;
    // Keeps an offset in divisions within offsetBack and offsetOn. True when
    // the offset was cut.
    bool keepInMeasure(double& offset) const;
};

// Time inside one measure. Positions are kept in divisions since the last
// change of divisions and turned into ticks only when asked, so that rounding
// never accumulates: seven sevenths of a quarter are exactly 480 ticks. The
// position never goes back before the measure's start and never beyond the
// measure's reach; the clock notes when it had to cut a length for either.
class CMeasureClock {
public:
    explicit CMeasureClock(int32_t ticksPerQuarter = 480);

    // A number of divisions per quarter that is not positive (or not finite)
    // counts as 1. The position stays where it is.
    void setDivisions(double divisions);
    double divisions() const { return divisions_; }
    int32_t ticksPerQuarter() const { return ticksPerQuarter_; }

    // Back to the measure's start (position and furthest position 0), with
    // the reach kMaxTicks and nothing cut.
    void restart();
    // The reach of the measure (at most kMaxTicks); the position stays.
    void setReach(int64_t ticks);
    int64_t reach() const { return reach_; }
    // Whether a length moved (or would have moved) the position beyond the
    // reach or before the start since the restart.
    bool cut() const { return cut_; }
    // Moves on by a length in divisions (negative lengths count as 0), at
    // most to the reach.
    void advance(double length);
    // Moves back, at most to the measure's start.
    void backUp(double length);

    // Ticks from the measure's start.
    int64_t tick() const;
    // The furthest position reached in this measure.
    int64_t furthest() const { return furthest_; }
    // Ticks that a length in divisions takes from the current position, up
    // to the reach (a length beyond it counts as cut).
    int64_t lengthTicks(double length);

private:
    double exactAt(double offset) const;
    int64_t at(double offset) const;

    int32_t ticksPerQuarter_;
    double divisions_ = 1;
    int64_t baseTick_ = 0;  // where the current divisions took over
    double offset_ = 0;     // divisions since then
    int64_t furthest_ = 0;
    int64_t reach_ = kMaxTicks;
    bool cut_ = false;
};

}  // namespace scoreconv
