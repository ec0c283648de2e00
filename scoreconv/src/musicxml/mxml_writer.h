// The MusicXML writer: builds a partwise MusicXML document in a CMxmlFile
// from plain records handed over by a converter walking another score.
//
// Order of calls: createOutputDocument; appendIdentification; the caller
// makes "part-list" (depth 1) under writer.root and fills it with
// appendPartGroup / appendScorePart; then per part appendPart and, measure by
// measure, the measure operations below and appendMeasure for the next one;
// at the end appendPartsToScore, then saveFile (output_elements.h).
//
// "part" and "measure" elements stay detached while the score is written, so
// that a converter may fill the parts system by system in any order; only
// appendPartsToScore attaches them. Part and measure arguments of -1 mean
// the writer's current ones (file.writerPart, file.writerMeasure,
// file.writerVoice; setWriterCursor sets them).
//
// Results: 0, kErrIndex (-300) when the part or measure does not exist,
// kErrXmlElement (-1402) when an element cannot be made or attached,
// kErrOutOfMemory (-2) when a table cannot grow. The first failure ends an
// operation; elements appended before it stay.
#pragma once

#include <libxml/tree.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scorecore/score_event.h"
#include "scorecore/vxml_tree.h"

namespace scoreconv {

class CMxmlFile;

// Bits of CMxmlFile::convProps: which kinds of marks are written.
inline constexpr int32_t kConvArticulations = 0x01;
inline constexpr int32_t kConvDynamics = 0x02;
inline constexpr int32_t kConvWedges = 0x04;
inline constexpr int32_t kConvSlurs = 0x08;  // and glissandos
inline constexpr int32_t kConvSymbols = 0x10;  // technical, fermata, ornaments, pedal, segno, coda
inline constexpr int32_t kConvLyrics = 0x20;
inline constexpr int32_t kConvWords = 0x40;

inline constexpr int32_t kSlurSlots = 6;
inline constexpr int32_t kSlotFree = 0;
inline constexpr int32_t kSlotInUse = 1;
inline constexpr int32_t kSlotEnded = 2;

// Barline kinds of appendBarline (CEventBarline::type).
inline constexpr int32_t kBarRegular = 0;
inline constexpr int32_t kBarLightLight = 1;
inline constexpr int32_t kBarFinal = 2;
inline constexpr int32_t kBarRepeatBackward = 3;
inline constexpr int32_t kBarRepeatForward = 4;
inline constexpr int32_t kBarRepeatBackwardEnd = 5;
inline constexpr int32_t kBarEnding = 6;
// Ending sides (CEventBarline::present).
inline constexpr int32_t kEndingStart = 1;
inline constexpr int32_t kEndingStop = 2;

// The score's description for "identification".
struct CMxmlDescription {
    std::string author;
    std::string keywords;
    std::string comment;
};

// A bracket of the layout: kind 0 none, 1 bracket, 2 brace, others a line.
// groupNumber is the number of groups open when it starts (0 for the outer).
struct CMxmlBracket {
    int32_t kind = 0;
    int32_t firstStaff = 0;
    int32_t lastStaff = 0;
    int32_t groupNumber = 0;
};

// Measure numbering of a part from a system on: restart at 1, then add
// offset. Used once: the writer sets applied.
struct CMeasureNumbering {
    bool restart = false;
    int32_t offset = 0;
    bool applied = false;
};

// A time signature: beat type 2^unitIndex (0..12); symbol 0 plain, 1 common,
// 2 cut, 3 hidden, others plain with the symbol spelled out.
struct CMxmlTime {
    int32_t beats = 4;
    int32_t unitIndex = 2;
    int32_t symbol = 0;
};

// A clef: sign 1 "C", 2 "F", 3 "percussion", other "G"; octave 0 one up,
// 1 none, 2 one down.
struct CMxmlClef {
    int32_t sign = 0;
    int32_t octave = 1;
    int32_t line = 2;
};

// Kind 3 is a multiple rest of `measures` measures; other kinds write nothing.
struct CMxmlMeasureStyle {
    int32_t kind = 0;
    int32_t measures = 0;
};

// One part being written. group.node is "part"; each item is a measure:
// node "measure", valid its number, barline the pending ending (type -1
// none), slots the six slur slots.
struct CMxmlWriterPart {
    scorecore::CDomNodeGroup group;
    bool percussion = false;
    // Per slur slot the measure where the slur now open in it started.
    std::array<int32_t, kSlurSlots> slurStart{};
};

// What the writer keeps between calls (held by CMxmlFile::writer).
struct CMxmlWriterState {
    xmlNodePtr root = nullptr;  // "score-partwise" of the template
    std::vector<CMxmlWriterPart> parts;
    // Instruments written per score part (numbers the ids across parts).
    std::vector<int32_t> instrumentsPerPart;

    void clear() { *this = CMxmlWriterState(); }
};

// --- frame ----------------------------------------------------------------------------

// Makes the file's document from the "start.xml" template (its document
// element is the score root) and empties the writer. 0 or kErrXmlDocument.
int createOutputDocument(CMxmlFile& file);

int appendIdentification(CMxmlFile& file, const CMxmlDescription& description);
// A part-group start or stop under partList. On a start, layout (may be null)
// gives the group name and abbreviation.
int appendPartGroup(CMxmlFile& file, xmlNodePtr partList, bool start, const CMxmlBracket& bracket,
                    const scorecore::CVxmlStaffLayout* layout);
// The next score-part (ids P1, P2 ... in call order) with its instruments;
// the file's staff and instrument tables grow by this staff.
int appendScorePart(CMxmlFile& file, xmlNodePtr partList, const scorecore::CVxmlStaffLayout& layout);
// Adds part record partIndex (the next one; ids follow the index) and its
// first measure, and makes it the current part with measure 0.
int appendPart(CMxmlFile& file, int32_t partIndex, const scorecore::CVxmlStaffLayout& layout,
               CMeasureNumbering* numbering);
// The next measure of a part, numbered one on from the last one unless
// numbering (not yet applied) says otherwise. Moves the current measure to
// it when the part is the current one.
int appendMeasure(CMxmlFile& file, CMeasureNumbering* numbering, int32_t partIndex = -1);
// Attaches every part and its measures to the root and empties the part
// records (their number stays).
int appendPartsToScore(CMxmlFile& file);

// --- measure contents -------------------------------------------------------------------

int appendAttributes(CMxmlFile& file, int32_t partIndex, int32_t divisions, const CMxmlMeasureStyle* style,
                     const CMxmlClef* clef, std::optional<int8_t> fifths, const CMxmlTime* time,
                     std::optional<std::string_view> staffLines, int32_t transposition);
int appendSoundTempo(CMxmlFile& file, int32_t tempo, int32_t partIndex = -1);
// Kind, ending text, the two closed flags and the side come from the record
// (type, endingLabel, leftDown, rightDown, present).
int appendBarline(CMxmlFile& file, int32_t partIndex, const scorecore::CEventBarline& barline);
// Pedal, segno, coda, dynamics, wedges and words of an event.
int appendDirection(CMxmlFile& file, const scorecore::CScoreEvent& event, int32_t partIndex = -1);
// The event's notes (one per head) or rests; the voice is written 1-based.
// A rest whose duration text is a measure count ("4", "2/1", "3") becomes
// that many whole-measure rests, opening the measures after the current one.
// Slur starts get their number (1..6) in the item's line field; a stop is
// written with the number found there, so the caller hands it on from the
// start. A tuplet start is an event with bracketPresent 1 (placement from the
// orientation, bracket "yes" when it has a note range), a stop one with 2.
// A lyric whose number is 2 is a syllable that begins a word.
int appendNote(CMxmlFile& file, scorecore::CScoreEvent& event, int32_t voice = -1, int32_t partIndex = -1);
// Rests filling ticks in the current measure, cut into note values from the
// whole note down (a remainder of two thirds of a value is a triplet). With
// measures of 2 or more, ticks is the length of that many whole-measure rests,
// written as one multi-measure rest (opening the measures it needs).
int appendRests(CMxmlFile& file, int32_t ticks, int32_t measures, int32_t voice = -1);

// Slur slots in use in a measure stay taken in the following one.
void carryOpenFlags(CMxmlFile& file, int32_t partIndex = -1, int32_t measureIndex = -1);
// The pending ending of the current measure. get leaves out untouched when
// none is pending.
int setMeasureAttributes(CMxmlFile& file, const scorecore::CEventBarline& barline, int32_t partIndex = -1);
int getMeasureAttributes(CMxmlFile& file, scorecore::CEventBarline& barline, int32_t partIndex = -1);

// --- tables ---------------------------------------------------------------------------

// The General MIDI name of a program (0..127); empty for others.
std::string_view midiProgramName(int32_t program);
// The note type of a duration text ("1/4" "quarter"); empty when none.
std::string_view noteTypeOfDuration(std::string_view duration);
// The multi-measure count of a duration text ("4" 4, "2/1" 2, "7" 7); 0 when none.
int32_t restCountOfDuration(std::string_view duration);

}  // namespace scoreconv
