// The part list of a MusicXML score turned into the staff layout of the whole
// file: how many staves each part has, which voices live on which staff, the
// staff names, clefs, staff lines, transpositions, lyric verses, staff groups
// and MIDI instruments. Staves are numbered across the file: the first part's
// staves first, then the next part's, and so on.
//
// Everything here comes from files written by many programs: attributes are
// read by name, optional elements may be missing, and no number from the file
// indexes a table unchecked.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "musicxml/clef_reader.h"
#include "musicxml/mxml_file.h"
#include "scorecore/score_event.h"

namespace scoreconv {

// A part has at most this many staves; a larger <staves> value is cut.
inline constexpr int32_t kMaxStavesPerPart = 32;
// Group symbol codes ("group-symbol"): absent 0, brace 2, line 3, any other 1.
inline constexpr int32_t kGroupSymbolNone = 0;
inline constexpr int32_t kGroupSymbolOther = 1;
inline constexpr int32_t kGroupSymbolBrace = 2;
inline constexpr int32_t kGroupSymbolLine = 3;
// The percussion set a drum part without MIDI instruments gets on each staff.
inline constexpr int32_t kPercussionKeys = 128;

// What one <part> element tells about its staves, read in one pass over it.
struct CPartHeader {
    int32_t tempo = -1;   // first <sound tempo>, rounded; -1 none
    int32_t staves = 1;   // largest <staves>, 1..kMaxStavesPerPart
    // Per staff of the part (staves entries each):
    std::vector<scorecore::CScoreClef> clefs;  // first clef of the staff
    std::vector<uint8_t> hasClef;
    std::vector<int32_t> transposition;  // in force before the part's first note
    std::vector<int32_t> staffLines;     // first staff-details, default 5
    // Distinct lyric numbers of the part (a lyric without number is "1"),
    // at least the highest numeric one.
    int32_t lyricVerses = 0;
    // The (<voice> text, staff index) pairs of the part's notes, each once,
    // in the order they are first met. Staff -1: beyond the part's staves or
    // not a number. Notes without <voice> have an empty text (voice 1), notes
    // without <staff> staff 0.
    std::vector<std::pair<std::string, int32_t>> noteVoices;
    // Instrument ids referenced by unpitched notes, with the display key of
    // the first such note (-1 when it has no display pitch).
    std::vector<std::pair<std::string, int32_t>> displayKeys;
};

// Reads a part element (null: a part without contents). hiddenNotesCount is
// false in the TvrXML mode, where hidden notes that are neither rests nor cue
// notes do not make voices; lyrics are counted only when countLyrics is set.
// False when memory runs out.
bool readPartHeader(const xmlNode* part, bool hiddenNotesCount, bool countLyrics, CPartHeader& out);
// The same as the part list reads it for a file in that play mode.
bool readPartHeaderInMode(const xmlNode* part, int32_t mode, CPartHeader& out);

// The display key of an instrument id: among the notes of the part that name
// the instrument, the first one's unpitched display pitch (octave x 12 +
// semitone + 12, 0..127). kOk; kErrNotPresent when no note names the
// instrument, or the note has no display pitch.
int percussionDisplayKey(const CPartHeader& header, std::string_view instrumentId, int32_t& key);

// Walks the "part-list" element: part groups and score-parts, in order. Fills
// the file's part table (one entry per score-part, matched to the <part>
// element of its id), voice tables, staff tables, instruments, groups and,
// when unset, its tempo; then the group-end flags. Does not add the conductor
// entry (finishPartTable does). 0, kErrOutOfMemory, or kErrStopped when the
// host's signal is set between two children.
int readPartList(CMxmlFile& file, const xmlNode* partList);

// The part list read while the <part> elements arrive one at a time, in
// document order, as a streamed load meets them (each element is valid only
// during its call). This serves the documents whose parts follow the part
// list one for one with the ids as written; for any other the calls answer
// kErrNotPresent and the caller reads the whole document instead. The file's
// groups and tables grow as readPartList would grow them.
class CPartListStream {
public:
    CPartListStream(CMxmlFile& file, const xmlNode* partList);
    ~CPartListStream();
    CPartListStream(const CPartListStream&) = delete;
    CPartListStream& operator=(const CPartListStream&) = delete;

    // The part groups before the element's score-part, then its entry, voices
    // and staves, the staves without an instrument given the default one;
    // header: what readPartHeaderInMode read of the element already (null:
    // it is read here). kOk; kErrNotPresent (see above); kErrOutOfMemory;
    // kErrStopped.
    int part(xmlNodePtr element, const CPartHeader* header = nullptr);
    // The groups after the last part and the group-end flags. kOk;
    // kErrNotPresent when a score-part is left without element;
    // kErrOutOfMemory; kErrStopped.
    int finish();

private:
    struct Reader;
    std::unique_ptr<Reader> reader_;
};

// Gives every staff from fromStaff on that has no instrument the default one.
// False when memory runs out.
bool giveDefaultInstruments(CMxmlFile& file, int32_t fromStaff);

// After the part list: reads every <part> that no score-part claimed as a
// part of its own (entry, staves and voices from its contents, no names,
// logged), appends the conductor entry (one staff, voice 1), gives every
// staff without an instrument a default one and sets the row count (staves +
// 1). False when memory runs out.
bool finishPartTable(CMxmlFile& file);

// The <part> elements of the node's document (children of its root), in
// document order. kOk (the list may be empty), or kErrDom without document.
int GetPartlistFromNode(const xmlNode* node, std::vector<xmlNodePtr>& parts);

// The part-table index of a <part> element of the loaded document; -1 when
// no entry holds it (after finishPartTable every element has one).
int32_t partIndexOfElement(const CMxmlFile& file, const xmlNode* part);

// The same for each of a list of <part> elements, in one pass over the part
// table (a score of thousands of parts would otherwise search it for each).
// Throws bad_alloc.
std::vector<int32_t> partIndexesOfElements(const CMxmlFile& file, std::span<const xmlNodePtr> parts);

// Number of score-parts in the part table (the entries before the conductor).
int32_t scorePartCount(const CMxmlFile& file);

}  // namespace scoreconv
