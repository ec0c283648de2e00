// The non-note content of a MusicXML measure: its header with the
// "attributes" (divisions, time, key, clefs, transposition, measure style),
// the "direction" element (dynamics, wedges, words, pedal, segno, coda, and a
// tempo given by its "sound") and the "barline" element (repeats, endings,
// bar styles).
//
// What holds from one measure of a part to the next (meter, key, clefs, the
// transposition in force, a running measure style, the divisions) lives in a
// CPartState that the caller keeps for the part. Attributes are read by
// name, never by position; numbers from the file are checked before they
// divide or index (a staff number beyond the part's staves is ignored).
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "musicxml/clef_reader.h"
#include "musicxml/note_reader.h"
#include "musicxml/read_context.h"
#include "scorecore/meter.h"
#include "scorecore/score_event.h"

namespace scoreconv {

using scorecore::CKeySig;
using scorecore::CMeter;
using scorecore::CScoreClef;
using scorecore::CScoreEvent;

// A measure repeat or slash region.
struct CMeasureStyle {
    static constexpr int32_t kNone = 0;
    static constexpr int32_t kMeasureRepeat = 1;
    static constexpr int32_t kSlash = 2;
    static constexpr int32_t kStateRunning = 3;

    int32_t kind = kNone;
    int32_t count = 0;   // measures repeated (1 for slashes)
    int32_t left = 0;    // measures of the current repeat still to come
    int32_t state = 0;   // 0 none, 3 running
    int32_t span = -1;   // measures, when a look-ahead found the end
    int32_t staff = -1;  // 0-based staff of the part, -1 all

    bool isRunning() const { return state == kStateRunning && kind != kNone; }
};

// Largest measure-repeat count taken from a file.
inline constexpr int32_t kMaxRepeatCount = 64;

// What the readers carry through the measures of one part.
struct CPartState {
    explicit CPartState(int32_t ticksPerQuarter = 480, int32_t staves = 1);

    int32_t ticksPerQuarter = 480;
    int32_t staffCount = 1;               // staves of the part
    CMeasureClock clock;                  // holds the divisions in force
    CMeter meter;                         // flag set: changed by the last header
    bool noTimeSignature = false;         // the part gave no time signature yet
    CKeySig key;
    std::vector<CScoreClef> clefs;        // per staff of the part
    std::vector<int32_t> transposition;   // per staff: semitones in force
    CMeasureStyle style;
};

struct CMeasureHeader {
    int32_t number = 0;                     // leading number of "number", 0 when none
    bool implicit = false;                  // implicit="yes"
    const xmlNode* attributes = nullptr;    // the first "attributes", read with the header
    int64_t length = 0;                     // ticks its notes reach
    int32_t multipleRest = 0;               // measures of a multiple rest starting here
    bool timeChanged = false;
    bool keyChanged = false;
};

// Reads the measure's header: number, the first "attributes" (searched up to
// the first note, backup or forward), the measure's reach (set on the clock,
// from the meter in force) and the measure's length within it. With
// firstOfPart, a part without time or key gets "no time signature" and C
// major. Without a time signature, the measure's own length is its bar (and
// whole quarters make that many quarter beats). timing: the measure's
// timing steps read beforehand (CPartTimings), else they are read here. kOk;
// a failed look-ahead passes its code up.
int readMeasureHeader(const xmlNode* measure, bool firstOfPart, CPartState& state, const CReadContext& context,
                      CMeasureHeader& out, std::optional<std::span<const CTimingStep>> timing = std::nullopt);

// One "attributes" element at any place of a measure: divisions (the clock
// takes them at its position), time, key, clefs, transposition, measure style.
struct CAttributesRead {
    bool time = false;
    bool key = false;
    bool transposition = false;
    int32_t multipleRest = 0;
};
int readAttributes(const xmlNode* attributes, CPartState& state, const CReadContext& context,
                   CAttributesRead& out);

// "time" into the meter (flag set); kErrNotPresent when the element is null,
// has "senza-misura", or gives no usable beats or beat type (beats 1..255, a
// beat type that is a power of two up to 4096). Beats such as "3+2" add up.
int readTime(const xmlNode* time, int32_t ticksPerQuarter, CMeter& meter);
// "key" into the key signature (changed set); kErrNotPresent when null.
int readKey(const xmlNode* key, CKeySig& out);
// Every "clef" of the attributes (readClef) into the clef of its staff
// ("number", 1-based, default the first); clefs of unknown staves are ignored.
void readClefs(const xmlNode* attributes, std::vector<CScoreClef>& clefs);

// --- directions ------------------------------------------------------------------------

// What a direction says beside the marks it adds to the event.
struct CDirectionInfo {
    int32_t staff = 0;          // <staff> - 1; 0 when missing, -1 when no staff
    int32_t firstWedge = 0;     // wedges this direction appended: [firstWedge, event.wedgeCount())
    double offset = 0;          // <offset> in divisions, kept within the measure (keepInMeasure)
    bool offsetCut = false;     // the offset reached out of the measure and was cut
    int32_t tempo = -1;         // a <sound tempo> inside it, rounded; -1 none
};

// Reads the direction's marks into the event: dynamics, wedges, words,
// pedal, segno and coda, at its offset (kept within the context's offsetBack
// and offsetOn). kOk; kErrDom without a "direction-type"; kErrOutOfMemory
// when the event refuses an entry.
int readDirection(const xmlNode* direction, const CReadContext& context, CScoreEvent& event, CDirectionInfo& info);
// The "offset" child in divisions; kErrNotPresent when missing or no number.
int readOffset(const xmlNode* node, double& out);
// The "words" child: its text (at most 256 bytes) with bold and italic.
int readWords(const xmlNode* node, scorecore::CScoreText& out);
// The tempo of a "sound" element, rounded ("96.5" is 97); -1 when it has
// none or it is not above 0. Kept at most kMaxTempo.
int32_t soundTempo(const xmlNode* sound);
inline constexpr int32_t kMaxTempo = 10000;

// --- barlines --------------------------------------------------------------------------

struct CBarlineInfo {
    enum class Location { Left, Right, Middle };
    Location location = Location::Right;
    bool forwardRepeat = false;
    bool backwardRepeat = false;
    bool endingStart = false;
    int32_t repeatTimes = 0;    // a backward repeat's "times" (1..kMaxRepeatTimes); 0 not given
    std::string endingNumbers;  // an ending start's whole number text ("1, 2"), for the player
};

// Largest "times" of a backward repeat taken from a file.
inline constexpr int32_t kMaxRepeatTimes = 65535;

// Barline kinds.
inline constexpr int32_t kBarlineNone = -1;
inline constexpr int32_t kBarlineLightLight = 1;
inline constexpr int32_t kBarlineLightHeavy = 2;
inline constexpr int32_t kBarlineBackwardRepeat = 3;
inline constexpr int32_t kBarlineForwardRepeat = 4;
inline constexpr int32_t kBarlineEndingStart = 6;

// Reads the barline: a repeat gives its kind whatever else the barline holds,
// then an ending start, then the bar style. An ending start takes its number
// text (3 characters) and, with a look-ahead, its span; a look-ahead that
// finds no stop clears the number. The info gets the whole number text and
// a backward repeat's times. kOk or the look-ahead's code.
int readBarline(const xmlNode* barline, const CReadContext& context, scorecore::CEventBarline& out,
                CBarlineInfo& info);

}  // namespace scoreconv
