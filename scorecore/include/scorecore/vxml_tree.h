// The records a TvrXML document keeps beside its DOM: one staff layout per
// "staffLayout", and the tree of systems (CDomNodeGroup) with their staves
// (CDomNodeItem) and voices (CVxmlVoice). The MusicXML writer keeps its parts and
// measures in the same two record types.
//
// Element pointers in these records point into the document (or at elements
// built for it and not attached yet, which the document holds); the records never
// own them, and "releasing" an element clears the pointer.
#pragma once

#include "scorecore/meter.h"
#include "scorecore/score_event.h"

#include <libxml/tree.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scorecore {

inline constexpr int kDefaultTicksPerQuarter = 480;

struct CDrumMapEntry {
    std::uint8_t sourceKey = 0;
    std::uint8_t targetKey = 0;
};

// One "staffLayout" of the layout.
struct CVxmlStaffLayout {
    std::string description;
    std::string defaultClef;
    std::string notelines = "5";
    std::string barlineMode = "full";
    std::int32_t barlineFrom = 3;
    std::int32_t barlineTo = 7;
    std::string instrumentName;
    std::u16string instrumentNameW;
    std::string abbreviation;
    std::string pairName;
    std::string pairAbbreviation;
    std::vector<CDrumMapEntry> drumMap;
    std::uint8_t percussion = 0;
    std::uint8_t program = 0;
    std::uint8_t volume = 74;
    std::int32_t transpose = 0;
    std::int32_t preferredChannel = 0;

    // Back to the defaults above, drum map freed.
    void reset() { *this = CVxmlStaffLayout(); }
    // Appends {source, target}; keys outside 0..127 are clamped. False when
    // memory runs out.
    bool addDrumMapEntry(int sourceKey, int targetKey);
    int drumMapCount() const { return static_cast<int>(drumMap.size()); }
};

// Bar numbering of a system ("barCount").
struct CBarNumbering {
    std::int32_t nAdd = 0;
    std::int32_t reset = 0;
    std::int32_t continuation = 0;
};

// An object of a voice recorded to be written as text later, on the writer's
// helper thread (CVxmlFile::deferObjectText), with what of the staff it
// depends on as it stood when it was recorded.
struct CVxmlPendingObject {
    enum class Kind : std::uint8_t { Chord, Rest, Sign, Barline };
    Kind kind = Kind::Chord;
    std::uint8_t charset = 0;       // XmlCharset of the document (xml_text.h)
    int convProps = -1;             // the file's ConvProps
    std::int8_t key = 0;            // chord: the staff's key, for the alterations
    std::optional<CScoreClef> clef; // chord, rest: the staff's clef, for the marks' places
    int code = 0;                   // barline: its code
    std::string_view signName;      // sign: element and attribute names (static texts)
    std::string_view signAttribute;
    std::string signValue;
    CScoreEvent event;              // chord, rest
};

// One voice of a staff.
struct CVxmlVoice {
    // Rows 0-8 are octaves, row 9 applies to every octave; columns are the steps
    // c d e f g a b. Values: 0 none, 3 sharp and -4 flat from the key, else the
    // alteration last seen.
    static constexpr int kAccidentalRows = 10;
    static constexpr int kSteps = 7;
    using AccidentalTable = std::array<std::array<std::int32_t, kSteps>, kAccidentalRows>;

    xmlNodePtr voiceNode = nullptr;
    xmlNodePtr noteObjectsNode = nullptr;
    // What the writer puts into "noteObjects", written as text at once
    // (XmlTextOut: UTF-8, markup escaped); the noteObjects element itself stays
    // empty until the voice is put together.
    std::string objectsText;
    // Where the last object starts in objectsText when it is a "repEnd"
    // barline (a "repBegin" then joins it); npos otherwise.
    std::size_t repEndAt = std::string::npos;
    // Objects recorded, not yet written (CVxmlFile::deferObjectText).
    std::vector<CVxmlPendingObject> pending;
    // The voice's objects are being written out: it takes no more.
    bool sealed = false;
    AccidentalTable accidentals{};
    std::int32_t tick = 0;
    std::int32_t stemDir = 0;  // 0 none, 1 up, 2 down

    void clearAccidentals() { accidentals = AccidentalTable{}; }
    // Releases the elements and zeroes everything.
    void clear() { *this = CVxmlVoice(); }
};

// One staff of a system (or one measure of a MusicXML part).
struct CDomNodeItem {
    CDomNodeItem() = default;
    explicit CDomNodeItem(int ticksPerQuarter);

    xmlNodePtr node = nullptr;        // "staff"
    xmlNodePtr voicesNode = nullptr;  // its "voices"
    std::vector<CVxmlVoice> voices;
    CScoreClef clef{0, 0, 0};         // the staff's current clef (zeroed: none)
    std::int8_t key = 0;              // its current key, in fifths
    CMeter timeSig;                   // its time signature
    std::string layoutName;           // the "layout" it names (reader)
    std::int32_t valid = 0;           // 1 once added (the MusicXML writer's measure number)
    bool sealed = false;              // handed over to be written out: takes no more voices
    CEventBarline barline;
    // Six slots; the last two are the MusicXML writer's pending ending and slur.
    std::array<std::int32_t, 6> slots{};

    int voiceCount() const { return static_cast<int>(voices.size()); }
    // Appends a zeroed voice record; false when memory runs out.
    bool addVoice();
    // Frees the voice records, releases the elements and resets the barline.
    void clear();
};

// One system (or one MusicXML part).
struct CDomNodeGroup {
    xmlNodePtr node = nullptr;        // "system"
    xmlNodePtr stavesNode = nullptr;  // its "staves"
    std::vector<CDomNodeItem> items;  // the staves
    std::int32_t firstBar = 0;
    std::int32_t lastBar = 0;
    std::int32_t tempo = 120;
    std::int32_t beamGrouping = 3;
    CBarNumbering barNumbering;
    std::int32_t systemInt = 0;       // kept for the conversion

    int itemCount() const { return static_cast<int>(items.size()); }
    // Appends a zeroed staff record at ticksPerQuarter, marked valid; false when
    // memory runs out.
    bool addItem(int ticksPerQuarter = kDefaultTicksPerQuarter);
    // Frees the staff records, releases both elements, zeroes the bar range and
    // sets the tempo back to 120.
    void clear();
};

}  // namespace scorecore
