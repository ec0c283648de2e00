// Translation between the event records and the texts of a TvrXML document, in both
// directions: clef, time, barline, note-value, notehead, articulation, dynamics and
// ornament vocabularies, the music font, key-signature steps, and the placement rules
// (horizontal offsets, staff positions, vertical positions) of attached symbols.
//
// Everything here is a pure function of its arguments: no DOM, no library-wide state.
// Codes come from user files, so every lookup answers an unknown code with its neutral
// result ("" for a text, 0 for a code or glyph, -1 where 0 is a valid code).
//
// Glyphs of the music font are 8-bit character codes; inside the library they are the
// Unicode code points of the same value (U+0001..U+00FF), written out as UTF-8.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "scorecore/meter.h"
#include "scorecore/score_event.h"

namespace scorecore {

// --- music font -------------------------------------------------------------------------

inline constexpr std::string_view kMusicFontFace = "Tavrena3";
inline constexpr std::string_view kMusicFontCharSet = "2";
inline constexpr std::string_view kMusicFontPitchAndFamily = "2";
inline constexpr std::string_view kMusicFontHeight = "18";
inline constexpr std::string_view kMusicFontSecondHeight = "15";  // second glyph of an ornament

// The UTF-8 text of a glyph code 1..255; "" for any other value.
std::string glyphText(int32_t glyph);
// The glyph code of a content that is exactly one character in 1..255, else 0.
int32_t singleGlyph(std::string_view content);

// --- clefs --------------------------------------------------------------------------------
// CScoreClef kinds: 0 G, 1 C, 2 F, 3 percussion, 6 other; octave codes: 0 an octave up,
// 1 no change, 2 an octave down.

// "treble", "alto", "bass", "tenor" for those clefs without octave change; otherwise the
// kind letter, the line digit (lines 0 and below as "3", none above 5) and "+" / "-" for
// octave codes 0 / 2. "" for a kind without a letter (4, 5, anything unknown).
std::string clefText(const CScoreClef& clef);
// Sets kind and octave code from a clef text, and the line when the text gives one
// ("1".."5" as its second character); other fields keep their values. Names and letters
// are matched without regard to case. False (clef unchanged) for an empty text or an
// unknown first character.
bool readClefText(std::string_view text, CScoreClef& clef);

// --- time signatures ----------------------------------------------------------------------

// Beats of an unmetered bar as the reader keeps it (over a unit of 4).
inline constexpr int32_t kUnmeteredBeats = 0x8000;

// Kinds of a read time text.
inline constexpr int32_t kTimeInvalid = -1;  // not a valid meter; the meter is unchanged
inline constexpr int32_t kTimeNumeric = 0;
inline constexpr int32_t kTimeCommon = 1;     // "C"
inline constexpr int32_t kTimeAllaBreve = 2;  // "allaBreve"
inline constexpr int32_t kTimeUnmetered = 3;  // "infinite"

// "allaBreve" for 2/2, "C" for 4/4, "infinite" for beats -1 (no time signature) and for the
// reader's unmetered beats, else "beats/unit". Each number has at most 3 digits: a meter
// whose beats or unit do not fit in 1..999 (or whose unit index is invalid) gives "".
std::string timeText(const CMeter& meter);
// Reads a time text ("C", "allaBreve", "infinite" without regard to case, or two decimal
// numbers joined by "/") into `meter` at 480 ticks per quarter and returns its kind. A
// unit of 32768 reads as unmetered. Numbers must be plain digits of at most 32768; a unit
// of 0, a unit that is not a power of two up to 4096 and a bar beyond 32 bits of ticks are
// refused: kTimeInvalid, meter unchanged.
int32_t readTimeText(std::string_view text, CMeter& meter);
// Whether the meter is the reader's unmetered bar.
bool isUnmetered(const CMeter& meter);

// --- barlines -----------------------------------------------------------------------------

// 0 "single", 1 "double", 2 "end", 3 and 7 "repEnd", 4 "repBegin", 5 "repEndBegin";
// "" (nothing written) for -1, 6 and any other code.
std::string_view barlineText(int32_t code);
// The code of a barline type (without regard to case), -1 when unknown.
int32_t readBarlineText(std::string_view text);

// --- note values --------------------------------------------------------------------------

// The base of a MusicXML type name ("quarter" -> "1/4", "long" -> "4/1" ... "256th" ->
// "1/256"); a text of digits only (a multi-bar rest) as it stands when its value fits in
// 32 bits; "" for anything else.
std::string noteBaseText(std::string_view type);
// Bars (or whole notes) a rest type counts: "long" 4, "breve" 2, "whole" 1, a text of
// digits only its value; 0 for anything else and for digits beyond 32 bits.
int32_t noteTypeBars(std::string_view type);

// The alternating rounding of tuplet durations: the caller keeps one of these for the
// run of a reader (start: round to nearest) and passes it to every duration it reads.
struct TupletRounding {
    bool truncateNext = false;
};

// A "duration" element as read: base text, dot count, tuplet (actual over normal notes;
// actual 0 for none) and the no-duration (grace) flag.
struct NoteDurationText {
    std::string_view base;
    int32_t dots = 0;
    int32_t tupletActual = 0;
    int32_t tupletNormal = 0;
    bool grace = false;
};

// Ticks (480 per quarter) of a base: "4/1" 7680, "2/1" 3840 ... "1/128" 15, "1/256" 7;
// any other text its leading decimal number times the bar (1920 for an unmetered bar,
// else the meter's ticks per bar; 0 without a leading number). -1 when the ticks do not
// fit in 32 bits.
int32_t noteBaseTicks(std::string_view base, const CMeter& meter);
// Ticks of a whole duration: the base, plus base / 2^(i+1) for each dot i, then for a
// tuplet d - (a - n) x (d / a), rounded to nearest and truncated in turn (the switch flips
// after every tuplet note). Grace notes give 0. A tuplet of 0 actual notes leaves d as it
// is. -1 when the ticks do not fit in 32 bits.
int32_t noteDurationTicks(const NoteDurationText& duration, const CMeter& meter,
                          TupletRounding& rounding);

// --- staff lines --------------------------------------------------------------------------

// The 11-character "notelines" pattern of a line count ('|' a line); counts other than
// 1..8 give the 5-line pattern.
std::string_view staffLinePattern(int32_t lineCount);
inline constexpr std::string_view kDefaultStaffLines = "___|||||___";

// --- noteheads ----------------------------------------------------------------------------

// The shape text of a head's shape bits ("auto" when no shape bit is set).
std::string_view noteheadText(int32_t shapeBits);
// The shape bits of a shape text (without regard to case), 0 when unknown.
int32_t readNoteheadText(std::string_view text);

// --- articulations ------------------------------------------------------------------------

// The type text of a CEventArticulation code; "" for 3 and unknown codes.
std::string_view articulationText(int32_t code);
// The code of a type text (without regard to case); "staccato tenuto" gives 3; 0 when unknown.
int32_t readArticulationText(std::string_view text);
// The articulation code of a music-font glyph, 0 when the glyph is none.
int32_t articulationOfGlyph(int32_t glyph);

// --- dynamics -----------------------------------------------------------------------------

// The glyph of a CEventDynamic code (127 'h' .. -1 '|'), 0 when the code has none.
int32_t dynamicGlyph(int32_t code);
// The CEventDynamic code of a glyph, 0 when the glyph is none.
int32_t dynamicOfGlyph(int32_t glyph);

// --- ornaments and technical marks --------------------------------------------------------

inline constexpr int32_t kOrnamentDalSegno = 17;  // read only: the words "D.S."
inline constexpr int32_t kOrnamentDaCapo = 18;    // read only: the words "D.C."

// The glyph of an ornament code 1..21, 0 for 17, 18 and unknown codes.
int32_t ornamentGlyph(int32_t code);
// The ornament code of a glyph (also 'o' 16, 'e' 17, 'd' 18), 0 when the glyph is none.
int32_t ornamentOfGlyph(int32_t glyph);

// --- key signatures -----------------------------------------------------------------------

inline constexpr std::string_view kSharpOrder = "FCGDAEB";
inline constexpr std::string_view kFlatOrder = "BEADGCF";

// The steps a key alters, in signature order: the first |fifths| letters of the sharp or
// flat order. Fifths are clamped to -7..7; CKeySig::kUnset alters none.
std::string_view keySigSteps(int32_t fifths);
// Whether the key alters the step letter (either case).
bool keyAltersStep(int32_t fifths, char step);

// What a head's "alter" element shows.
enum class AlterDisplay {
    None,     // no display attribute
    Force,    // display="force"
    Parenth,  // display="parenth"
    Omit,     // no "alter" element at all
};
// The display of a head from its accidental slot: a natural shows on a head without
// alteration and leaves out the whole "alter" on one with it; a flat shows when the key
// alters the step, a sharp when a sharp key does; "parenth" for an editorial slot.
AlterDisplay alterDisplay(const CEventAccidental& slot, bool headHasAlteration, int32_t fifths,
                          char step);

// --- dynamics table of the play model -----------------------------------------------------

struct CDynamikRow {
    uint8_t velocity = 0;
    uint8_t presentInFile = 0;
};

// Rows in the order fff, ff, f, mf, mp, p, pp, ppp (CEventDynamic::levelIndex).
struct CDynamik {
    uint8_t flag = 1;
    uint8_t DynamicUse = 1;
    uint8_t UseAllVoicesForDyn = 1;
    uint8_t UseAllStavesForDyn = 0;
    std::array<CDynamikRow, 8> rows{{{127, 0}, {110, 0}, {90, 0}, {74, 0},
                                     {62, 0}, {44, 0}, {22, 0}, {10, 0}}};
};

// --- horizontal offsets -------------------------------------------------------------------

// A stored offset (tenths) as an "x" text: offset / 1.8 / 100 with 3 decimals; "" for 0
// and for values that are not finite.
std::string offsetText(double offset);
// The "x" of an ornament: its position by the rule above, else the default of its code
// (1, 8, 9 "0"; 5, 6, 7 "0.5"; 12, 13 "-1"; 15, 16 "-4"; others "-0.5").
std::string ornamentOffsetText(const CScoreOrnament& ornament);

// --- endings ------------------------------------------------------------------------------

// First and last number of an ending text ("1, 2" -> 1, 2; "12" -> 12, none). The last is
// taken only from a second or later run of digits; 0 means none (a run of 0 or one that
// does not fit in 32 bits counts as none).
struct EndingNumbers {
    int32_t first = 0;
    int32_t last = 0;
};
EndingNumbers endingNumbers(std::string_view text);

// --- vertical placement -------------------------------------------------------------------

// Symbol kinds for the vertical rule besides ornament codes (1..21).
inline constexpr int32_t kSymbolDynamic = 0;
inline constexpr int32_t kSymbolWords = 22;

// Staff position of a head (1 = bottom line .. 5 = top line of a G clef on line 2, in
// steps of 0.5) from its pitch text in TvrXML octaves ("c5" is middle C, as
// CScoreEvent::getPitchTextRaised gives it). None for clef kinds other than 0..3.
std::optional<double> headStaffPosition(const CScoreClef& clef, std::string_view pitch);
// The positions of every head of the event that has one.
std::vector<double> headStaffPositions(const CScoreEvent& event, const CScoreClef& clef);

// Vertical position of a symbol of `kind` with placement 1 (above), 2 (below) or other
// (none) over the heads' positions; a rest (no positions) gives -4 above, 4.5 below.
double symbolY(int32_t placement, int32_t kind, std::span<const double> headPositions);
// The same as a "y" text with 1 decimal.
std::string symbolYText(int32_t placement, int32_t kind, std::span<const double> headPositions);

}  // namespace scorecore
