// Field readers of binary score files (".tvr").
//
// Each reader reads one field, record or section at the position of a
// BinReader and returns the number of bytes the field occupies; 0 means the
// field is invalid at this place (a bad value, or the field runs past the end
// of the image). On 0 the reader's position is left where it was and the
// outputs are not touched. Every output may be null: the value is then
// skipped (and owned copies are not made).
//
// All numbers are little-endian. The codings:
//
//   compact signed int  int8; -128 -> an int16 follows, 127 -> an int32 follows (1, 3, 5 bytes)
//   compact count       uint8 below 254; 254 -> a uint16 follows, 255 -> a uint32 follows.
//                       A count is the number of things that follow, each at least one byte,
//                       so a count above the bytes left after it is invalid. Nothing is ever
//                       allocated before that check. (A dot count and a font index use the
//                       same coding but count nothing that follows: the dot count is capped
//                       at kBinMaxDots, the font index is the caller's to check.)
//   sized block         compact count n, then n bytes
//   colour              byte 0..15: palette index; above 15: three bytes R, G, B follow,
//                       giving 0x00BBGGRR (4 bytes in all)
//   font reference      compact index; not 0: an earlier font (not checked here: it
//                       is an index, not a count, and is not bounded by what follows);
//                       0: a new font: 28 bytes of metrics (skipped), a colour, the face name
//                       as a sized block
//
// Where the format leaves a choice open, these readers take the simplest
// reading consistent with the codings:
//   - counted string = sized block copied into a std::string;
//   - pair record = two compact signed ints; pair list = compact count of pair records;
//   - packed integers = compact count n, then n compact signed ints;
//   - value flags = one byte, any value;
//   - item section = compact count n, then n drawing object lists;
//   - drawing objects other than types 3, 11 and 12 are an object header alone; type 11 is
//     an object header, a value byte and a trailing flag byte; type 12 an object header and
//     one byte;
//   - chord attribute bit 6 ("a flag") asks for the entry list; bit 7 is ignored;
//   - tuplet byte bit 4 is the tuplet flag, bit 5 the flag that doubles the normal count;
//   - bits that no coding names (head bytes' top bits, meter unit bit 7, tuplet byte
//     bits 6-7, second attachment flags other than 0x10/0x20/0x40) are ignored;
//   - the element kind's record block is copied as it stands, not parsed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "scorecore/bin_reader.h"

namespace scorecore {

// The magic and the only version the loader accepts (version word 30253 is
// the bytes "-v").
inline constexpr std::array<char, 4> kBinMagic = {'t', 'v', 'r', '3'};
inline constexpr std::uint16_t kBinVersion = 30253;

// The 16-colour palette of colour bytes 0..15, as 0x00BBGGRR.
inline constexpr std::array<std::uint32_t, 16> kBinPalette = {
    0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000, 0x808080,
    0xC0C0C0, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};

// More dots than this are read as invalid: no note value has them, and the
// dot sum must stay far from overflow.
inline constexpr std::int32_t kBinMaxDots = 8;

struct BinFileHeader {
    std::array<char, 4> magic{};
    std::uint16_t version = 0;  // only read after the magic "tvr3"
};

struct BinFont {
    std::uint32_t index = 0;  // 0: a new font defined here
    std::uint32_t color = 0;  // new fonts only
    std::string face;         // new fonts only
};

struct BinObjectHeader {
    std::uint8_t type = 0;                  // 1 or 2 short form, else long form
    std::array<std::int32_t, 3> coords{};  // the three compact coordinates
};

// The clef byte unpacked: bits 0-2 type (0..4), bits 6-7 octave flag (0..2;
// 1 is the written octave, 0 one up, 2 one down), and line = 5 - code for the
// code in bits 3-5 (codes 0..3), 1 for code 4.
struct BinClef {
    std::int32_t type = 0;
    std::int32_t octave = 1;
    std::int32_t line = 1;
    bool operator==(const BinClef&) const = default;
};

struct BinMeter {
    std::int32_t beats = 0;  // first byte as is
    std::int32_t unit = 0;   // low 7 bits of the second byte minus 1: -1..126, not checked here
    bool operator==(const BinMeter&) const = default;
};

struct BinDuration {
    std::uint8_t code = 0;          // low nibble: base note value (see scBinDurationTicks)
    std::int32_t dots = 0;          // bit 4: a compact dot count follows (at most kBinMaxDots)
    std::int32_t tupletCount = 0;   // bit 5: a tuplet byte follows; its low nibble, 1..15; 0 none
    bool tupletFlag = false;        // tuplet byte bit 4
    bool tupletDouble = false;      // tuplet byte bit 5: doubles the normal count
    bool flag = false;              // duration byte bit 6
};

struct BinHead {
    std::int32_t step = 0;        // staff position: signed 7-bit value of the first byte
    std::int32_t shape = 0;       // bits 0-2 of the second byte, 0..6
    std::int32_t alteration = 0;  // bits 3-5 of the second byte minus 2, -2..2
};

// Flag byte bits: 0 one skipped byte; 1 direction byte (-1..1); 2 beam byte
// (0, 1, 3 or -1) and a skipped byte; 3 two bytes valueA (0..5) and valueB
// (0..8); 4 a byte whose bits 0 and 1 are flagA and flagB; 5 two skipped
// bytes; 6 an entry list follows the block (the block does not read it).
struct BinChordAttrs {
    std::uint8_t flags = 0;
    std::int32_t direction = 0;
    std::int32_t beam = 0;
    std::int32_t valueA = 0;
    std::int32_t valueB = 0;
    bool flagA = false;
    bool flagB = false;
    bool hasEntries() const { return (flags & 0x40) != 0; }
};

// One entry of an entry list: marker 0 is an empty entry (nothing more);
// otherwise flags bit 1 and bit 2 are flags, bit 3 block1 follows, bit 4
// block2 follows (both sized blocks).
struct BinEntry {
    std::uint8_t marker = 0;
    std::uint8_t flags = 0;
    std::string block1;
    std::string block2;
};

struct BinTextField {
    std::uint8_t type = 0;
    std::string bytes;
};

// Flag byte: bit 0 flag, bit 1 first field present, bit 2 second field
// present; a field is a type byte, a length byte and that many bytes.
struct BinTextPair {
    bool flag = false;
    bool hasFirst = false;
    bool hasSecond = false;
    BinTextField first;
    BinTextField second;
};

struct BinPair {
    std::int32_t first = 0;
    std::int32_t second = 0;
};

// One item of a typed list: type 1 a length byte and that many bytes (copied
// to bytes); 2 a byte (byteValue) and a 16-bit value; 3 six skipped bytes and
// 8 bytes copied to bytes; other types a length byte and that many skipped bytes.
struct BinTypedItem {
    std::uint8_t type = 0;
    std::uint8_t byteValue = 0;
    std::uint16_t value = 0;
    std::string bytes;
};

// Element flags byte: bits 0-1 value, bits 2-6 flags (kept in bits), bit 6
// also says a colour follows; bit 7 set means no element (invalid).
struct BinObjectFlags {
    std::uint8_t bits = 0;
    std::int32_t value = 0;
    bool hasColor = false;
    std::uint32_t color = 0;
};

// 'S': compact value, 3 skipped bytes, a 32-bit count, a colour, a sized
// block (skipped), one skipped byte, a compact count.
struct BinTagS {
    std::int32_t value = 0;
    std::uint32_t count = 0;
    std::uint32_t color = 0;
    std::uint32_t count2 = 0;
};

// 'V': meter, a byte, two compact values, a colour, a sized block (skipped),
// a 32-bit value.
struct BinTagV {
    BinMeter meter;
    std::uint8_t byteValue = 0;
    std::int32_t value1 = 0;
    std::int32_t value2 = 0;
    std::uint32_t color = 0;
    std::uint32_t value32 = 0;
};

// 'C': 2 skipped bytes, a font reference, one skipped byte, a sized block
// (skipped), a compact count: the number of elements that follow.
struct BinTagC {
    BinFont font;
    std::uint32_t count = 0;
};

struct BinObjectKind {
    std::uint8_t kind = 0;
    bool hasColor = false;  // kinds other than 0, 1 and 7
    std::uint32_t color = 0;
};

// What a drawing object list yields. Several objects of one sort: the last wins.
struct BinItems {
    std::int32_t dynamic = 0;          // velocity or accent code of a dynamic sign, 0 none
    std::int32_t articulation = 0;     // articulation code of a sign, 0 none
    bool flag = false;                 // a "k" or "u" sign was met
    std::int32_t drawValue = 0;        // signed value of a type-11 object, 0 none
    std::int32_t drawSmallValue = -1;  // small value of a type-12 object, -1 none
};

// First flags byte: bit 7 end (no attachment, one byte), bit 6 a colour
// follows; then a second flags byte: 0x10 a compact signed value follows,
// 0x20 one byte follows, 0x40 a drawing object list follows (in that order).
struct BinAttachment {
    bool present = false;
    bool hasColor = false;
    std::uint32_t color = 0;
    std::uint8_t flags2 = 0;
    std::int32_t value = 0;
    std::uint8_t byteValue = 0;
    BinItems items;
};

// A chord as the chord list of the document head holds it: an attachment,
// the chord attribute block, the entry list when the block asks for it, a
// compact head count (at least 1) and that many heads.
struct BinCheckedChord {
    BinAttachment attachment;
    BinChordAttrs attrs;
    std::vector<BinEntry> entries;
    std::vector<BinHead> heads;
};

// A dynamic or articulation sign read from a short text object.
struct BinSign {
    std::int32_t dynamic = 0;
    std::int32_t articulation = 0;
    bool flag = false;
};

// --- primitive and compact readers --------------------------------------------------

std::size_t scBinRead32(BinReader& r, std::uint32_t* value);
std::size_t scBinRead16(BinReader& r, std::uint16_t* value);
std::size_t scBinRead8(BinReader& r, std::uint8_t* value);
std::size_t scBinReadSmallInt(BinReader& r, std::int32_t* value);
std::size_t scBinReadCount(BinReader& r, std::uint32_t* count);

// n raw bytes, copied when out is given; 0 when fewer remain (and for n = 0).
std::size_t scBinReadBytes(BinReader& r, std::size_t n, std::vector<std::uint8_t>* out);
std::size_t scBinSkip4(BinReader& r);
// Sized block, skipped.
std::size_t scBinSkipSizedBlock(BinReader& r);
// Counted string: a sized block copied into text.
std::size_t scBinReadString(BinReader& r, std::string* text);

// --- field readers ----------------------------------------------------------------

// 4 bytes of magic; after "tvr3" a 16-bit version and 2 skipped bytes (8 in
// all). Any other magic consumes 4 bytes; the check is the caller's.
std::size_t scBinReadFileHeader(BinReader& r, BinFileHeader* header);
std::size_t scBinReadColor(BinReader& r, std::uint32_t* color);
std::size_t scBinReadFont(BinReader& r, BinFont* font);
// A skipped byte, the type byte (types other than 1 and 2: 11 more skipped
// bytes), a skipped byte, three compact coordinates, two skipped bytes, and
// one more skipped byte when extraByte is set.
std::size_t scBinReadObjectHeader(BinReader& r, BinObjectHeader* header, bool extraByte = false);
std::size_t scBinReadClef(BinReader& r, BinClef* clef);
// One byte, at most 5.
std::size_t scBinReadNibble(BinReader& r, std::int32_t* value);
// One byte 0..14, giving fifths -7..7.
std::size_t scBinReadKey(BinReader& r, std::int32_t* fifths);
std::size_t scBinReadMeter(BinReader& r, BinMeter* meter);
// Duration byte (bit 7 invalid), then the dot count and the tuplet byte when
// flagged. A tuplet count of 0 and more than kBinMaxDots dots are invalid.
std::size_t scBinReadDuration(BinReader& r, BinDuration* duration);
std::size_t scBinReadChordAttrs(BinReader& r, BinChordAttrs* attrs);
std::size_t scBinReadHead(BinReader& r, BinHead* head);
std::size_t scBinReadEntryList(BinReader& r, std::vector<BinEntry>* entries);
std::size_t scBinReadTextPair(BinReader& r, BinTextPair* pair);
std::size_t scBinReadPairRecord(BinReader& r, BinPair* pair);
std::size_t scBinSkipPairList(BinReader& r);
// Compact count of the bytes the items cover (not of items); an item that
// runs past that count is invalid.
std::size_t scBinReadTypedList(BinReader& r, std::vector<BinTypedItem>* items);
std::size_t scBinReadObjectFlags(BinReader& r, BinObjectFlags* flags);
std::size_t scBinReadValueFlags(BinReader& r, std::uint8_t* flags);
std::size_t scBinReadPackedInts(BinReader& r, std::vector<std::int32_t>* values);

// Tagged sections; a different tag byte reads as 0.
std::size_t scBinReadTagS(BinReader& r, BinTagS* section);
std::size_t scBinReadTagV(BinReader& r, BinTagV* section);
std::size_t scBinReadTagC(BinReader& r, BinTagC* section);

// The kind byte, a sized block of records (type byte, length byte; type 5
// records carry 4-byte colour entries) copied into the caller's buffer, then
// a colour unless the kind is 0, 1 or 7. The buffer belongs to the caller, so
// readers on different threads never share one; null skips the records.
std::size_t scBinReadObjectKind(BinReader& r, BinObjectKind* kind, std::vector<std::uint8_t>* buffer);

// Drawing object list: compact item count, each item a type byte 0..15 and
// the object of that type. Type 3 is a text object (object header, font
// reference, text as a sized block) whose text of 1..3 characters is read as
// a sign (scBinTextSign).
std::size_t scBinReadItemList(BinReader& r, BinItems* items);
std::size_t scBinReadAttachment(BinReader& r, BinAttachment* attachment);
std::size_t scBinReadCheckedLists(BinReader& r, BinCheckedChord* chord);
std::size_t scBinReadItemSection(BinReader& r, BinItems* items);

// --- helpers ----------------------------------------------------------------------

// The sign of a short text object (bytes, not UTF-8: 0xC8..0xCF are single
// characters), whatever its font. False (sign untouched) for other texts.
bool scBinTextSign(std::string_view text, BinSign* sign);

// The normal and actual counts of a tuplet of count 1..15: with tupletFlag
// counts 2..5 -> 3, 6..11 -> 6, 12..15 -> 12 (count 2 then taken as 4);
// without it 2 -> 1, 3 -> 2, 4..7 -> 4, 8..15 -> 8; count 1 plays as
// written (1:1); doubleFlag doubles normal. False for any other count.
bool scBinTupletRatio(std::int32_t count, bool tupletFlag, bool doubleFlag, std::int32_t* normal,
                      std::int32_t* actual);

// Ticks of a duration at ticksPerQuarter (q). Base codes: 1 2q, 2 q, 3 q/2,
// 4 q/4, 5 q/8, 6 q/16, 7 q/32, 8 q/64, 9 8q, 0 4q, above 9 nothing (0).
// Code 0 with a negative ratio is |ratio| x 4q / tableValue x factor (a whole
// bar). Dot k adds the undotted value / 2^k; a tuplet scales by normal /
// actual, truncated (exact integer arithmetic). Returns 0 for anything that
// cannot be a duration: q, tableValue or factor not positive (for the bar
// form), a bad tuplet, more than kBinMaxDots dots, or a result beyond int32.
std::int32_t scBinDurationTicks(const BinDuration& duration, std::int32_t ticksPerQuarter, std::int32_t ratio = 0,
                                std::int32_t tableValue = 1, std::int32_t factor = 1);

// The MIDI key of staff position step under a clef and key signature:
// e = step + 35 (clef type 1), 28 (type 2) or 42 (other), + 7 for octave
// flag 0, - 7 for flag 2; key = (fifths x 7 + 60) mod 12 + {0,2,4,5,7,9,11}[e mod 7]
// + 12 x (e div 7), with floor division and a non-negative modulo (e is
// negative for low positions). fifths is clamped to -7..7, the result to 0..127.
std::int32_t scBinMidiPitch(std::int32_t clefType, std::int32_t octaveFlag, std::int32_t fifths, std::int32_t step);

// The inverse for the written octave: the scale step of a MIDI key (clamped
// to 0..127) in a key signature (fifths clamped), counted from the reference
// octave 60, 48 or 72 for clef types 1, 2 and others, or from the key's own
// octave for clef types above 3; a key between two scale degrees is the upper
// one with alteration -1.
void scBinPitchToStep(std::int32_t midiKey, std::int32_t clefType, std::int32_t fifths, std::int32_t* step,
                      std::int32_t* alteration);

// The clef byte, unpacked without checking (scBinReadClef checks), and packed
// back: type and octave are clamped to 0..4 and 0..2; line 5, 4, 3, 2 become
// codes 0..3, any other line code 4.
BinClef scBinClefFromByte(std::uint8_t byte);
std::uint8_t scBinClefToByte(const BinClef& clef);

}  // namespace scorecore
