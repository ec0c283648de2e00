// The walk over a whole binary score file with the field readers: the header
// check, the document head, and the body of sections and elements, giving a
// small summary of what the body holds.
//
// The file, in the order the walk reads it:
//
//   header          "tvr3", version word 30253 ("-v"), 2 bytes       (else -104)
//   document head   3 counted strings, a pair record, packed integers, an object header,
//                   a text pair, a counted block, a pair list, a typed list, an item
//                   section, a chord list (scBinReadCheckedLists), a sized block and
//                   five compact counts. The order is the loader's; how many object
//                   headers, text pairs and counted blocks it holds is not settled and
//                   is read as one each.
//   body            one 'S' section (its offset is the data offset), then until the end
//                   of the image: a 'V' section followed by any number of 'C' sections,
//                   each 'C' section followed by the elements it counts. Any other byte
//                   where a section tag belongs is invalid.
//   element         element kind (scBinReadObjectKind); a kind above 7 ends the 'C'
//                   section's elements early. Otherwise an attachment, the value flags,
//                   and by kind: 0 rest body (element flags, duration, drawing object
//                   list); 1 and 7 chord (rest body, chord attributes, entry list when
//                   asked, compact head count >= 1, heads); 2 clef byte; 3 key byte;
//                   4 meter; 5 one nibble byte (0..5); 6 nothing further.
//
// A 'V' section is read as a stave entry and a 'C' section as one voice of it:
// the clef starts as type 0, octave 1 in every 'V' section and the key as 0
// fifths in every 'C' section; a head's MIDI key is scBinMidiPitch under them
// plus the head's alteration, clamped to 0..127. Durations are in ticks at
// 480 per quarter (a whole rest is 4 quarters: the walk does not fill bars).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "scorecore/bin_fields.h"
#include "scorecore/bin_reader.h"

namespace scorecore {

// Files above this size are refused (-104) before anything is read: no
// binary score comes near it, and the image and its summary are held in
// memory whole.
inline constexpr std::uintmax_t kBinScoreMaxFileSize = 16u * 1024u * 1024u;

inline constexpr std::int32_t kBinTicksPerQuarter = 480;

struct BinScoreHead {
    std::int32_t step = 0;
    std::int32_t alteration = 0;
    std::int32_t midiKey = 0;
    bool operator==(const BinScoreHead&) const = default;
};

// One element. Fields that its kind does not carry keep their defaults.
struct BinScoreElement {
    std::uint8_t kind = 0;
    std::int32_t ticks = 0;         // rest, chord
    std::int32_t dynamic = 0;       // rest, chord: from the drawing object list
    std::int32_t articulation = 0;  // rest, chord: from the drawing object list
    std::vector<BinScoreHead> heads;  // chord
    BinClef clef;                   // clef (kind 2)
    std::int32_t fifths = 0;        // key (kind 3)
    BinMeter meter;                 // meter (kind 4)
    std::int32_t nibble = 0;        // small value (kind 5)
};

struct BinScoreCSection {
    BinTagC tag;
    std::vector<BinScoreElement> elements;  // fewer than tag.count when a kind above 7 ended them
};

struct BinScoreVSection {
    BinTagV tag;
    std::vector<BinScoreCSection> cSections;
};

struct BinScoreSummary {
    std::size_t dataOffset = 0;  // offset of the 'S' section
    BinTagS section;             // its 32-bit count is section.count
    std::vector<BinScoreVSection> vSections;
};

// Reads the 8-byte header at the reader's position: kOk (positioned after it)
// or kErrUnknownFormat for another magic or version or fewer than 8 bytes
// (position unchanged).
int scBinCheckHeader(BinReader& r);

// Walks a whole file image. kOk with the summary filled, or kErrUnknownFormat
// when the header or any field is invalid (the summary is then left as it was).
int scBinWalkScore(std::span<const std::uint8_t> image, BinScoreSummary* summary);

// The same for a file: kErrCannotOpen when it cannot be opened or read,
// kErrUnknownFormat when it is larger than kBinScoreMaxFileSize or its
// contents are not a binary score.
int scBinWalkScoreFile(const std::filesystem::path& path, BinScoreSummary* summary);

}  // namespace scorecore
