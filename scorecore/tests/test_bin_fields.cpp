#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bin_bytes.h"
#include "scorecore/bin_fields.h"
#include "scorecore/bin_reader.h"
#include "scorecore/bin_score.h"
#include "scorecore/result_codes.h"

using namespace scorecore;
using bintest::Bytes;

namespace {

// A type-5 record of the element kind buffer: one 4-byte colour entry.
const std::string_view kColourRecord("\x05\x01\xFF\x00\x00\x00", 6);

// Runs a reader over bytes; checks that a refused field leaves the position alone.
template <class Read>
std::size_t readAll(const Bytes& bytes, Read read) {
    BinReader r(bytes.span());
    const std::size_t n = read(r);
    EXPECT_EQ(r.position(), n);
    return n;
}

// The same for a reader with one output.
template <class T>
std::size_t readInto(const Bytes& bytes, std::size_t (*read)(BinReader&, T*), T* out) {
    return readAll(bytes, [&](BinReader& r) { return read(r, out); });
}

}  // namespace

TEST(BinReaderTest, ReadsLittleEndianAndNeverRunsPastTheEnd) {
    const Bytes bytes{0x01, 0x02, 0x03, 0x04, 0x05};
    BinReader r(bytes.span());
    std::uint32_t v32 = 0;
    ASSERT_TRUE(r.readU32(&v32));
    EXPECT_EQ(v32, 0x04030201u);
    EXPECT_FALSE(r.readU32(&v32));
    EXPECT_FALSE(r.readU16(nullptr));
    EXPECT_FALSE(r.skip(2));
    std::span<const std::uint8_t> view;
    EXPECT_FALSE(r.take(2, &view));
    EXPECT_EQ(r.position(), 4u);
    std::uint8_t v8 = 0;
    EXPECT_TRUE(r.readU8(&v8));
    EXPECT_EQ(v8, 5);
    EXPECT_TRUE(r.atEnd());
    EXPECT_FALSE(r.readU8(&v8));
    EXPECT_FALSE(r.peek(&v8));
    EXPECT_FALSE(r.seek(6));
    EXPECT_TRUE(r.seek(1));
    std::uint16_t v16 = 0;
    EXPECT_TRUE(r.readU16(&v16));
    EXPECT_EQ(v16, 0x0302);
}

using FieldRead = std::function<std::size_t(BinReader&, bool)>;

// A reader called with an output (true) or with null (false).
template <class T>
FieldRead withOutput(std::size_t (*read)(BinReader&, T*)) {
    return [read](BinReader& r, bool output) {
        T value{};
        return read(r, output ? &value : nullptr);
    };
}

FieldRead withoutOutput(std::size_t (*read)(BinReader&)) {
    return [read](BinReader& r, bool) { return read(r); };
}

// Every reader, given a complete field: the whole field is consumed, with
// and without outputs; every shorter piece of it is refused without moving.
TEST(BinFieldsTest, EveryReaderRefusesAFieldCutShortAndSkipsWithNullOutputs) {
    struct Row {
        const char* name;
        Bytes bytes;
        FieldRead read;
    };
    const Bytes text = bintest::textObject("p");
    const Bytes drawValue = Bytes().u8(11).add(bintest::objectHeader()).u8(4).u8(0x80);
    const Row rows[] = {
        {"Read32", {1, 2, 3, 4}, withOutput(scBinRead32)},
        {"Read16", {1, 2}, withOutput(scBinRead16)},
        {"Read8", {1}, withOutput(scBinRead8)},
        {"SmallInt", Bytes().small(INT32_MIN), withOutput(scBinReadSmallInt)},
        {"Count", {255, 0, 0, 0, 0}, withOutput(scBinReadCount)},
        {"FileHeader", bintest::fileHeader(), withOutput(scBinReadFileHeader)},
        {"Color", {0x10, 1, 2, 3}, withOutput(scBinReadColor)},
        {"Font", Bytes().count(0).zeros(28).u8(0x20).u8(1).u8(2).u8(3).sized("Arial"), withOutput(scBinReadFont)},
        {"ObjectHeader", Bytes().u8(0).u8(9).zeros(12).small(1).small(300).small(-70000).zeros(3),
         [](BinReader& r, bool output) {
             BinObjectHeader header;
             return scBinReadObjectHeader(r, output ? &header : nullptr, true);
         }},
        {"Clef", {0x59}, withOutput(scBinReadClef)},
        {"Nibble", {5}, withOutput(scBinReadNibble)},
        {"Key", {14}, withOutput(scBinReadKey)},
        {"Meter", {6, 0x84}, withOutput(scBinReadMeter)},
        {"Duration", {0x72, 2, 0x33}, withOutput(scBinReadDuration)},
        {"ChordAttrs", {0x7F, 0, 0xFF, 3, 0, 5, 8, 3, 0, 0}, withOutput(scBinReadChordAttrs)},
        {"Head", {0x05, 0x10}, withOutput(scBinReadHead)},
        {"EntryList", Bytes().count(2).u8(0).u8(1).u8(0x18).sized("ab").sized("c"), withOutput(scBinReadEntryList)},
        {"String", Bytes().sized("text"), withOutput(scBinReadString)},
        {"TextPair", {0x07, 1, 2, 'h', 'i', 2, 1, 'x'}, withOutput(scBinReadTextPair)},
        {"Bytes", {7, 8, 9},
         [](BinReader& r, bool output) {
             std::vector<std::uint8_t> bytes;
             return scBinReadBytes(r, 3, output ? &bytes : nullptr);
         }},
        {"PairRecord", Bytes().small(5).small(-1000), withOutput(scBinReadPairRecord)},
        {"PairList", Bytes().count(2).small(1).small(2).small(3).small(4), withoutOutput(scBinSkipPairList)},
        {"Skip4", {1, 2, 3, 4}, withoutOutput(scBinSkip4)},
        {"TypedList", Bytes().count(8).u8(2).u8(9).u16(0x1234).u8(7).u8(2).u8(0).u8(0), withOutput(scBinReadTypedList)},
        {"ObjectFlags", {0x41, 0x20, 1, 2, 3}, withOutput(scBinReadObjectFlags)},
        {"TagS", bintest::tagS(120, 3, 0), withOutput(scBinReadTagS)},
        {"TagV", bintest::tagV(4, 3, 1), withOutput(scBinReadTagV)},
        {"TagC", bintest::tagC(0), withOutput(scBinReadTagC)},
        {"ObjectKind", Bytes().u8(2).sized(kColourRecord).u8(9),
         [](BinReader& r, bool output) {
             BinObjectKind kind;
             std::vector<std::uint8_t> buffer;
             return scBinReadObjectKind(r, output ? &kind : nullptr, output ? &buffer : nullptr);
         }},
        {"ValueFlags", {0xFF}, withOutput(scBinReadValueFlags)},
        {"PackedInts", Bytes().count(2).small(1).small(70000), withOutput(scBinReadPackedInts)},
        {"SizedBlock", Bytes().sized("abc"), withoutOutput(scBinSkipSizedBlock)},
        {"ItemList", bintest::itemList({text, drawValue}), withOutput(scBinReadItemList)},
        {"Attachment", Bytes().u8(0x40).u8(3).u8(0x70).small(-3).u8(7).add(bintest::itemList({text})),
         withOutput(scBinReadAttachment)},
        {"CheckedLists",
         Bytes().u8(0x80).u8(0x40).count(1).u8(0).count(2).add(bintest::head(1, 0)).add(bintest::head(-3, 2)),
         withOutput(scBinReadCheckedLists)},
        {"ItemSection", Bytes().count(2).add(bintest::itemList({text})).add(bintest::itemList({})),
         withOutput(scBinReadItemSection)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        for (bool outputs : {true, false}) {
            BinReader r(row.bytes.span());
            EXPECT_EQ(row.read(r, outputs), row.bytes.size());
            EXPECT_TRUE(r.atEnd());
        }
        for (std::size_t cut = 0; cut < row.bytes.size(); ++cut) {
            BinReader r(row.bytes.span().first(cut));
            EXPECT_EQ(row.read(r, true), 0u) << "cut at " << cut;
            EXPECT_EQ(r.position(), 0u);
        }
    }
}

TEST(BinFieldsTest, CompactIntegersReadAllThreeForms) {
    struct Row {
        Bytes bytes;
        std::size_t consumed;
        std::int32_t value;
    };
    const Row rows[] = {
        {{0x05}, 1, 5},
        {{0xFB}, 1, -5},
        {{0x81}, 1, -127},
        {{0x80, 0x00, 0x80}, 3, -32768},
        {{0x80, 0x7F, 0x00}, 3, 127},
        {{0x7F, 0x00, 0x00, 0x00, 0x80}, 5, INT32_MIN},
        {{0x7F, 0xFF, 0xFF, 0xFF, 0x7F}, 5, INT32_MAX},
        {{}, 0, 0},
        {{0x80, 0x01}, 0, 0},
        {{0x7F, 1, 2, 3}, 0, 0},
    };
    for (const Row& row : rows) {
        std::int32_t value = 0;
        EXPECT_EQ(readInto(row.bytes, scBinReadSmallInt, &value), row.consumed);
        EXPECT_EQ(value, row.value);
    }
}

TEST(BinFieldsTest, CountsAboveTheBytesThatFollowAreRefused) {
    struct Row {
        Bytes bytes;
        std::size_t consumed;
        std::uint32_t value;
    };
    const Row rows[] = {
        {{0}, 1, 0},
        {Bytes().u8(253).zeros(253), 1, 253},
        {Bytes().u8(254).u16(300).zeros(300), 3, 300},
        {Bytes().u8(255).u32(16).zeros(16), 5, 16},
        {Bytes().u8(3).zeros(2), 0, 0},
        {Bytes().u8(254).u16(0xFFFF).zeros(10), 0, 0},
        {Bytes().u8(255).u32(0xFFFFFFFF).zeros(10), 0, 0},
        {Bytes().u8(255).u32(0x7FFFFFFF), 0, 0},
        {{254, 1}, 0, 0},
        {{255, 1, 0, 0}, 0, 0},
    };
    for (const Row& row : rows) {
        std::uint32_t value = 0;
        EXPECT_EQ(readInto(row.bytes, scBinReadCount, &value), row.consumed);
        EXPECT_EQ(value, row.value);
    }
}

// A huge count in any counted field is refused before anything is sized by it.
TEST(BinFieldsTest, HugeCountsInListsAreRefusedBeforeAllocating) {
    const Bytes huge = Bytes().u8(255).u32(0xFFFFFFFF).zeros(32);
    const Bytes big16 = Bytes().u8(254).u16(0xFFFE).zeros(32);
    for (const Bytes& bytes : {huge, big16}) {
        std::vector<BinEntry> entries;
        std::vector<BinTypedItem> items;
        std::vector<std::int32_t> ints;
        std::string text;
        BinItems drawn;
        BinCheckedChord chord;
        EXPECT_EQ(readInto(bytes, scBinReadEntryList, &entries), 0u);
        EXPECT_EQ(readInto(bytes, scBinReadTypedList, &items), 0u);
        EXPECT_EQ(readInto(bytes, scBinReadPackedInts, &ints), 0u);
        EXPECT_EQ(readInto(bytes, scBinReadString, &text), 0u);
        EXPECT_EQ(readAll(bytes, [&](BinReader& r) { return scBinSkipSizedBlock(r); }), 0u);
        EXPECT_EQ(readAll(bytes, [&](BinReader& r) { return scBinSkipPairList(r); }), 0u);
        EXPECT_EQ(readInto(bytes, scBinReadItemList, &drawn), 0u);
        EXPECT_EQ(readInto(bytes, scBinReadItemSection, &drawn), 0u);
        EXPECT_EQ(readAll(bytes, [&](BinReader& r) { return scBinReadObjectKind(r, nullptr, nullptr); }), 0u);
        const Bytes chordBytes = Bytes().u8(0x80).u8(0).add(bytes);
        EXPECT_EQ(readInto(chordBytes, scBinReadCheckedLists, &chord), 0u);
        EXPECT_TRUE(entries.empty() && items.empty() && ints.empty() && text.empty() && chord.heads.empty());
    }
}

TEST(BinFieldsTest, FileHeaderHandsOutMagicAndVersion) {
    BinFileHeader header;
    EXPECT_EQ(readInto(Bytes().raw("tvr3-v").u8(1).u8(2), scBinReadFileHeader, &header), 8u);
    EXPECT_EQ(header.version, kBinVersion);
    EXPECT_EQ(readInto(Bytes().raw("tvr2-v\1\2"), scBinReadFileHeader, &header), 4u);
    EXPECT_EQ(std::string(header.magic.data(), 4), "tvr2");

    struct Row {
        Bytes bytes;
        int result;
    };
    const Row rows[] = {
        {bintest::fileHeader(), kOk},
        {bintest::fileHeader(30254), kErrUnknownFormat},
        {Bytes().raw("tvr2-v").zeros(2), kErrUnknownFormat},
        {Bytes().raw("TVR3-v").zeros(2), kErrUnknownFormat},
        {Bytes().raw("tvr3-v").zeros(1), kErrUnknownFormat},
        {{}, kErrUnknownFormat},
    };
    for (const Row& row : rows) {
        BinReader r(row.bytes.span());
        EXPECT_EQ(scBinCheckHeader(r), row.result);
        EXPECT_EQ(r.position(), row.result == kOk ? 8u : 0u);
    }
}

TEST(BinFieldsTest, ColoursAndFonts) {
    struct Row {
        Bytes bytes;
        std::size_t consumed;
        std::uint32_t color;
    };
    const Row rows[] = {
        {{0}, 1, 0x000000},  {{3}, 1, 0x008080},      {{9}, 1, 0x0000FF},
        {{15}, 1, 0xFFFFFF}, {{16, 0x11, 0x22, 0x33}, 4, 0x332211},
        {{0xFF, 1, 2}, 0, 0},
    };
    for (const Row& row : rows) {
        std::uint32_t color = 0;
        EXPECT_EQ(readInto(row.bytes, scBinReadColor, &color), row.consumed);
        EXPECT_EQ(color, row.color);
    }

    BinFont font;
    // A reference to an earlier font is an index, not bounded by what follows.
    EXPECT_EQ(readInto(Bytes().count(10000), scBinReadFont, &font), 3u);
    EXPECT_EQ(font.index, 10000u);
    const Bytes defined = Bytes().count(0).zeros(28).u8(12).sized("Arial");
    EXPECT_EQ(readInto(defined, scBinReadFont, &font), defined.size());
    EXPECT_EQ(font.index, 0u);
    EXPECT_EQ(font.color, 0xFF0000u);
    EXPECT_EQ(font.face, "Arial");
    EXPECT_EQ(readInto(Bytes().count(0).zeros(28).u8(12).count(6).raw("Arial"), scBinReadFont, &font), 0u);
}

TEST(BinFieldsTest, ObjectHeaderShortAndLongForms) {
    BinObjectHeader header;
    const Bytes shortForm = bintest::objectHeader(5, -6, 7);
    EXPECT_EQ(readAll(shortForm, [&](BinReader& r) { return scBinReadObjectHeader(r, &header); }), 8u);
    EXPECT_EQ(header.type, 1);
    EXPECT_EQ(header.coords, (std::array<std::int32_t, 3>{{5, -6, 7}}));
    const Bytes withExtra = Bytes().add(shortForm).u8(0);
    EXPECT_EQ(readAll(withExtra, [&](BinReader& r) { return scBinReadObjectHeader(r, &header, true); }), 9u);
    const Bytes longForm = Bytes().u8(0).u8(0).zeros(11).u8(0).small(1).small(2).small(300).zeros(2);
    EXPECT_EQ(readAll(longForm, [&](BinReader& r) { return scBinReadObjectHeader(r, &header); }), 21u);
    EXPECT_EQ(header.type, 0);
    EXPECT_EQ(header.coords[2], 300);
}

TEST(BinFieldsTest, SmallFixedFields) {
    struct Row {
        const char* name;
        std::function<std::size_t(BinReader&, std::int32_t*)> read;
        int byte;
        std::size_t consumed;
        std::int32_t value;
    };
    const auto key = [](BinReader& r, std::int32_t* v) { return scBinReadKey(r, v); };
    const auto nibble = [](BinReader& r, std::int32_t* v) { return scBinReadNibble(r, v); };
    const Row rows[] = {
        {"key 0", key, 0, 1, -7},     {"key 7", key, 7, 1, 0},         {"key 14", key, 14, 1, 7},
        {"key 15", key, 15, 0, 99},   {"key 255", key, 255, 0, 99},    {"nibble 0", nibble, 0, 1, 0},
        {"nibble 5", nibble, 5, 1, 5}, {"nibble 6", nibble, 6, 0, 99}, {"nibble 0x15", nibble, 0x15, 0, 99},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::int32_t value = 99;
        EXPECT_EQ(readAll(Bytes{row.byte}, [&](BinReader& r) { return row.read(r, &value); }), row.consumed);
        EXPECT_EQ(value, row.value);
    }

    BinMeter meter;
    EXPECT_EQ(readInto(Bytes{3, 0x83}, scBinReadMeter, &meter), 2u);
    EXPECT_EQ(meter, (BinMeter{3, 2}));
    EXPECT_EQ(readInto(Bytes{6, 0x00}, scBinReadMeter, &meter), 2u);
    EXPECT_EQ(meter, (BinMeter{6, -1}));
}

TEST(BinFieldsTest, ClefBytes) {
    struct Row {
        int byte;
        bool valid;
        BinClef clef;
    };
    const Row rows[] = {
        {0x00, true, {0, 0, 5}},  {0x59, true, {1, 1, 2}},  {0x4C, true, {4, 1, 4}}, {0xA2, true, {2, 2, 1}},
        {0x05, false, {}},        {0x28, false, {}},        {0xC0, false, {}},       {0x3F, false, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.byte);
        BinClef clef{9, 9, 9};
        EXPECT_EQ(readInto(Bytes{row.byte}, scBinReadClef, &clef), row.valid ? 1u : 0u);
        EXPECT_EQ(clef, (row.valid ? row.clef : BinClef{9, 9, 9}));
    }
    // Every valid byte packs back to itself; out-of-range parts are clamped.
    for (int byte = 0; byte < 256; ++byte) {
        if ((byte & 7) <= 4 && ((byte >> 3) & 7) <= 4 && (byte >> 6) <= 2) {
            EXPECT_EQ(scBinClefToByte(scBinClefFromByte(static_cast<std::uint8_t>(byte))), byte);
        }
    }
    EXPECT_EQ(scBinClefToByte({9, -1, 7}), 4 | (4 << 3));
    EXPECT_EQ(scBinClefToByte({-3, 5, 5}), 2 << 6);
}

TEST(BinFieldsTest, DurationBytes) {
    struct Row {
        Bytes bytes;
        std::size_t consumed;
        int code, dots, tuplet;
        bool tupletFlag, tupletDouble, flag;
    };
    const Row rows[] = {
        {{0x02}, 1, 2, 0, 0, false, false, false},
        {{0x49}, 1, 9, 0, 0, false, false, true},
        {{0x12, 2}, 2, 2, 2, 0, false, false, false},
        {{0x12, 8}, 2, 2, 8, 0, false, false, false},
        {{0x23, 0x13}, 2, 3, 0, 3, true, false, false},
        {{0x33, 1, 0x25}, 3, 3, 1, 5, false, true, false},
        {{0x12, 255, 1, 0, 0, 0}, 6, 2, 1, 0, false, false, false},
        {{0x82}, 0, 0, 0, 0, false, false, false},
        {{0x12, 9}, 0, 0, 0, 0, false, false, false},
        {{0x12, 255, 0, 0, 0, 1}, 0, 0, 0, 0, false, false, false},
        {{0x22, 0x10}, 0, 0, 0, 0, false, false, false},
        {{0x22}, 0, 0, 0, 0, false, false, false},
    };
    for (const Row& row : rows) {
        BinDuration d;
        EXPECT_EQ(readInto(row.bytes, scBinReadDuration, &d), row.consumed);
        EXPECT_EQ(d.code, row.code);
        EXPECT_EQ(d.dots, row.dots);
        EXPECT_EQ(d.tupletCount, row.tuplet);
        EXPECT_EQ(d.tupletFlag, row.tupletFlag);
        EXPECT_EQ(d.tupletDouble, row.tupletDouble);
        EXPECT_EQ(d.flag, row.flag);
    }
}

TEST(BinFieldsTest, HeadsAndChordAttributes) {
    struct HeadRow {
        int position, form;
        bool valid;
        int step, shape, alteration;
    };
    const HeadRow heads[] = {
        {0x05, 0x10, true, 5, 0, 0},   {0x7F, 0x26, true, -1, 6, 2}, {0xC0, 0x00, true, -64, 0, -2},
        {0x3F, 0x08, true, 63, 0, -1}, {0x00, 0x17, false, 0, 0, 0}, {0x00, 0x28, false, 0, 0, 0},
    };
    for (const HeadRow& row : heads) {
        BinHead h;
        EXPECT_EQ(readInto(Bytes{row.position, row.form}, scBinReadHead, &h), row.valid ? 2u : 0u);
        EXPECT_EQ(h.step, row.step);
        EXPECT_EQ(h.shape, row.shape);
        EXPECT_EQ(h.alteration, row.alteration);
    }

    BinChordAttrs a;
    EXPECT_EQ(readInto(Bytes{0x7F, 0, 0xFF, 0xFF, 0, 5, 8, 0x02, 0, 0}, scBinReadChordAttrs, &a), 10u);
    EXPECT_EQ(a.direction, -1);
    EXPECT_EQ(a.beam, -1);
    EXPECT_EQ(a.valueA, 5);
    EXPECT_EQ(a.valueB, 8);
    EXPECT_FALSE(a.flagA);
    EXPECT_TRUE(a.flagB);
    EXPECT_TRUE(a.hasEntries());
    EXPECT_EQ(readInto(Bytes{0x00}, scBinReadChordAttrs, &a), 1u);
    EXPECT_FALSE(a.hasEntries());
    const Bytes bad[] = {{0x02, 2}, {0x02, 0xFE}, {0x04, 2, 0}, {0x04, 0xFD, 0}, {0x08, 6, 0}, {0x08, 0, 9}};
    for (const Bytes& bytes : bad) {
        EXPECT_EQ(readInto(bytes, scBinReadChordAttrs, &a), 0u);
    }
}

TEST(BinFieldsTest, EntryListsTextPairsAndTypedLists) {
    std::vector<BinEntry> entries;
    const Bytes entryBytes = Bytes().count(3).u8(0).u8(1).u8(0x18).sized("ab").sized("c").u8(2).u8(0x06);
    EXPECT_EQ(readInto(entryBytes, scBinReadEntryList, &entries), entryBytes.size());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].marker, 0);
    EXPECT_EQ(entries[1].block1, "ab");
    EXPECT_EQ(entries[1].block2, "c");
    EXPECT_EQ(entries[2].flags, 0x06);
    EXPECT_TRUE(entries[2].block1.empty());
    EXPECT_EQ(readInto(Bytes().count(1).u8(1).u8(0x08).count(5).raw("ab"), scBinReadEntryList, &entries), 0u);

    BinTextPair pair;
    EXPECT_EQ(readInto(Bytes{0x05, 4, 2, 'h', 'i'}, scBinReadTextPair, &pair), 5u);
    EXPECT_TRUE(pair.flag);
    EXPECT_FALSE(pair.hasFirst);
    EXPECT_TRUE(pair.hasSecond);
    EXPECT_EQ(pair.second.type, 4);
    EXPECT_EQ(pair.second.bytes, "hi");
    EXPECT_EQ(readInto(Bytes{0x02, 1, 3, 'h', 'i'}, scBinReadTextPair, &pair), 0u);

    std::vector<BinTypedItem> items;
    const Bytes items4 = Bytes()
                             .add(Bytes().u8(1).u8(2).raw("xy"))
                             .add(Bytes().u8(2).u8(9).u16(0x1234))
                             .add(Bytes().u8(3).zeros(6).raw("12345678"))
                             .add(Bytes().u8(7).u8(3).zeros(3));
    const Bytes typed = Bytes().count(static_cast<std::uint32_t>(items4.size())).add(items4);
    EXPECT_EQ(readInto(typed, scBinReadTypedList, &items), typed.size());
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].bytes, "xy");
    EXPECT_EQ(items[1].byteValue, 9);
    EXPECT_EQ(items[1].value, 0x1234);
    EXPECT_EQ(items[2].bytes, "12345678");
    EXPECT_EQ(items[3].type, 7);
    EXPECT_TRUE(items[3].bytes.empty());
    // An item that runs past the bytes the count covers is refused even
    // when the file goes on.
    const Bytes crossing = Bytes().count(3).u8(1).u8(2).raw("xy").zeros(4);
    EXPECT_EQ(readInto(crossing, scBinReadTypedList, &items), 0u);

    std::vector<std::int32_t> ints;
    const Bytes packed = Bytes().count(3).small(1).small(-128).small(70000);
    EXPECT_EQ(readInto(packed, scBinReadPackedInts, &ints), packed.size());
    EXPECT_EQ(ints, (std::vector<std::int32_t>{1, -128, 70000}));
}

TEST(BinFieldsTest, FlagsKindsAndTags) {
    BinObjectFlags flags;
    EXPECT_EQ(readInto(Bytes{0x07}, scBinReadObjectFlags, &flags), 1u);
    EXPECT_EQ(flags.value, 3);
    EXPECT_FALSE(flags.hasColor);
    EXPECT_EQ(readInto(Bytes{0x41, 2}, scBinReadObjectFlags, &flags), 2u);
    EXPECT_EQ(flags.color, 0x008000u);
    EXPECT_EQ(readInto(Bytes{0x80}, scBinReadObjectFlags, &flags), 0u);

    struct KindRow {
        int kind;
        bool colour;
    };
    const KindRow kinds[] = {{0, false}, {1, false}, {7, false}, {2, true}, {6, true}, {9, true}};
    for (const KindRow& row : kinds) {
        Bytes bytes = Bytes().u8(row.kind).sized(kColourRecord);
        if (row.colour) {
            bytes.u8(13);
        }
        BinObjectKind kind;
        std::vector<std::uint8_t> buffer;
        EXPECT_EQ(readAll(bytes, [&](BinReader& r) { return scBinReadObjectKind(r, &kind, &buffer); }), bytes.size());
        EXPECT_EQ(kind.kind, row.kind);
        EXPECT_EQ(kind.hasColor, row.colour);
        EXPECT_EQ(kind.color, row.colour ? 0xFF00FFu : 0u);
        EXPECT_EQ(buffer, (std::vector<std::uint8_t>{5, 1, 0xFF, 0, 0, 0}));
    }

    BinTagS s;
    EXPECT_EQ(readInto(bintest::tagS(120, 3, 0), scBinReadTagS, &s), bintest::tagS(120, 3, 0).size());
    EXPECT_EQ(s.value, 120);
    EXPECT_EQ(s.count, 3u);
    BinTagV v;
    EXPECT_EQ(readInto(bintest::tagV(6, 4, 2), scBinReadTagV, &v), bintest::tagV(6, 4, 2).size());
    EXPECT_EQ(v.meter, (BinMeter{6, 3}));
    EXPECT_EQ(v.byteValue, 2);
    // A tag reader meeting another tag reads nothing.
    EXPECT_EQ(readInto(bintest::tagV(6, 4, 2), scBinReadTagS, &s), 0u);
    EXPECT_EQ(readAll(bintest::tagS(1, 1, 0), [&](BinReader& r) { return scBinReadTagC(r, nullptr); }), 0u);
    EXPECT_EQ(readInto(bintest::tagC(0), scBinReadTagV, &v), 0u);
}

// The record buffer of an element kind belongs to the caller: readers on two
// threads fill their own buffers and never see each other's bytes.
TEST(BinFieldsTest, ElementKindBuffersAreTheCallers) {
    const auto run = [](std::uint8_t fill, bool* ok) {
        const Bytes bytes = Bytes().u8(0).count(40).raw(std::string(40, static_cast<char>(fill)));
        std::vector<std::uint8_t> buffer;
        for (int i = 0; i < 2000 && *ok; ++i) {
            BinReader r(bytes.span());
            *ok = scBinReadObjectKind(r, nullptr, &buffer) == bytes.size() &&
                  buffer == std::vector<std::uint8_t>(40, fill);
        }
    };
    bool okA = true;
    bool okB = true;
    std::thread a(run, std::uint8_t{0xAA}, &okA);
    std::thread b(run, std::uint8_t{0x55}, &okB);
    a.join();
    b.join();
    EXPECT_TRUE(okA);
    EXPECT_TRUE(okB);
}

TEST(BinObjectsTest, ShortTextsAreSigns) {
    struct Row {
        std::string text;
        bool sign;
        std::int32_t dynamic, articulation;
        bool flag;
    };
    const Row rows[] = {
        {"f", true, 90, 0, false},   {"h", true, 127, 0, false},     {"r", true, 10, 0, false},
        {"s", true, -4, 0, false},   {"|", true, -1, 0, false},      {"k", true, 0, 0, true},
        {"u", true, 0, 0, true},     {"Y", true, 0, 2, false},       {"\xC8", true, 0, 2, false},
        {"\xCE", true, 0, 4, false}, {"\xCF", true, 0, 8, false},    {"fp", true, -1, 0, false},
        {"gf", true, 127, 0, false}, {"pq", true, 10, 0, false},     {"fff", true, 127, 0, false},
        {"ppp", true, 10, 0, false}, {"ffff", false, 0, 0, false},   {"F", false, 0, 0, false},
        {"", false, 0, 0, false},    {"mf", false, 0, 0, false},     {std::string("\0", 1), false, 0, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        BinSign sign;
        EXPECT_EQ(scBinTextSign(row.text, &sign), row.sign);
        EXPECT_EQ(sign.dynamic, row.dynamic);
        EXPECT_EQ(sign.articulation, row.articulation);
        EXPECT_EQ(sign.flag, row.flag);
    }
}

TEST(BinObjectsTest, DrawingObjectListsYieldSignsAndValues) {
    using bintest::objectHeader;
    using bintest::textObject;
    const auto drawn = [](int type, const Bytes& body) { return Bytes().u8(type).add(objectHeader()).add(body); };
    struct Row {
        const char* name;
        Bytes list;
        bool valid;
        BinItems expected;
    };
    const Row rows[] = {
        {"empty", bintest::itemList({}), true, {}},
        {"dynamic and articulation", bintest::itemList({textObject("p"), textObject("Z"), textObject("k")}), true,
         {44, 5, true, 0, -1}},
        {"later sign wins", bintest::itemList({textObject("p"), textObject("ff")}), true, {110, 0, false, 0, -1}},
        {"long text is no sign", bintest::itemList({textObject("Allegro")}), true, {}},
        {"negative value", bintest::itemList({drawn(11, {4, 0x80})}), true, {0, 0, false, -4, -1}},
        {"positive value", bintest::itemList({drawn(11, {200, 0x7F})}), true, {0, 0, false, 200, -1}},
        {"small value", bintest::itemList({drawn(12, {0x53})}), true, {0, 0, false, 0, 3}},
        {"small value, smaller high nibble", bintest::itemList({drawn(12, {0x35})}), true, {0, 0, false, 0, 0}},
        {"other type", bintest::itemList({Bytes().u8(15).add(objectHeader())}), true, {}},
        {"type above 15", bintest::itemList({Bytes().u8(16).add(objectHeader())}), false, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        BinItems items;
        EXPECT_EQ(readInto(row.list, scBinReadItemList, &items), row.valid ? row.list.size() : 0u);
        EXPECT_EQ(items.dynamic, row.expected.dynamic);
        EXPECT_EQ(items.articulation, row.expected.articulation);
        EXPECT_EQ(items.flag, row.expected.flag);
        EXPECT_EQ(items.drawValue, row.expected.drawValue);
        EXPECT_EQ(items.drawSmallValue, row.expected.drawSmallValue);
    }
}

TEST(BinObjectsTest, AttachmentsAndCheckedChords) {
    BinAttachment a;
    EXPECT_EQ(readInto(Bytes{0x80}, scBinReadAttachment, &a), 1u);
    EXPECT_FALSE(a.present);
    const Bytes full =
        Bytes().u8(0x40).u8(3).u8(0x70).small(-300).u8(7).add(bintest::itemList({bintest::textObject("fp")}));
    EXPECT_EQ(readInto(full, scBinReadAttachment, &a), full.size());
    EXPECT_TRUE(a.present);
    EXPECT_EQ(a.color, 0x008080u);
    EXPECT_EQ(a.value, -300);
    EXPECT_EQ(a.byteValue, 7);
    EXPECT_EQ(a.items.dynamic, -1);
    EXPECT_EQ(readInto(Bytes{0x00, 0x10}, scBinReadAttachment, &a), 0u);

    BinCheckedChord chord;
    const Bytes chordBytes =
        Bytes().u8(0x80).u8(0x40).count(1).u8(0).count(2).add(bintest::head(1, 0)).add(bintest::head(-3, 2));
    EXPECT_EQ(readInto(chordBytes, scBinReadCheckedLists, &chord), chordBytes.size());
    ASSERT_EQ(chord.heads.size(), 2u);
    EXPECT_EQ(chord.heads[1].step, -3);
    EXPECT_EQ(chord.heads[1].alteration, 2);
    EXPECT_EQ(chord.entries.size(), 1u);
    const Bytes bad[] = {
        Bytes().u8(0x80).u8(0x00).count(0),                          // no head
        Bytes().u8(0x80).u8(0x00).count(1).u8(0).u8(0x38),           // alteration out of range
        Bytes().u8(0x80).u8(0x40).count(1).u8(1).u8(0x08).count(9),  // entry block past the end
    };
    for (const Bytes& bytes : bad) {
        EXPECT_EQ(readInto(bytes, scBinReadCheckedLists, &chord), 0u);
    }
}

TEST(BinMusicTest, DurationTicks) {
    struct Row {
        const char* name;
        BinDuration d;
        std::int32_t q, ratio, tableValue, factor;
        std::int32_t ticks;
    };
    const auto dur = [](int code, int dots = 0, int tuplet = 0, bool flag = false, bool twice = false) {
        BinDuration d;
        d.code = static_cast<std::uint8_t>(code);
        d.dots = dots;
        d.tupletCount = tuplet;
        d.tupletFlag = flag;
        d.tupletDouble = twice;
        return d;
    };
    const Row rows[] = {
        {"whole", dur(0), 480, 0, 1, 1, 1920},
        {"half", dur(1), 480, 0, 1, 1, 960},
        {"quarter", dur(2), 480, 0, 1, 1, 480},
        {"64th", dur(8), 480, 0, 1, 1, 7},
        {"breve", dur(9), 480, 0, 1, 1, 3840},
        {"code 10 has no value", dur(10), 480, 0, 1, 1, 0},
        {"dotted quarter", dur(2, 1), 480, 0, 1, 1, 720},
        {"double-dotted quarter", dur(2, 2), 480, 0, 1, 1, 840},
        {"eight dots", dur(2, 8), 480, 0, 1, 1, 956},
        {"nine dots", dur(2, 9), 480, 0, 1, 1, 0},
        {"negative dots", dur(2, -1), 480, 0, 1, 1, 0},
        {"triplet eighth", dur(3, 0, 3), 480, 0, 1, 1, 160},
        {"quintuplet sixteenth", dur(4, 0, 5), 480, 0, 1, 1, 96},
        {"dotted triplet quarter", dur(2, 1, 3), 480, 0, 1, 1, 480},
        {"flagged duplet is four in three", dur(2, 0, 2, true), 480, 0, 1, 1, 360},
        {"flagged sextuplet", dur(3, 0, 6, true), 480, 0, 1, 1, 240},
        {"doubled triplet", dur(2, 0, 3, false, true), 480, 0, 1, 1, 640},
        {"tuplet count 0 is no tuplet", dur(2, 0, 0), 480, 0, 1, 1, 480},
        {"tuplet 16", dur(2, 0, 16), 480, 0, 1, 1, 0},
        {"tuplet -3", dur(2, 0, -3), 480, 0, 1, 1, 0},
        {"no resolution", dur(2), 0, 0, 1, 1, 0},
        {"negative resolution", dur(2), -480, 0, 1, 1, 0},
        {"bar of 3/4", dur(0), 480, -3, 4, 1, 1440},
        {"bar of 6/8 with factor", dur(0), 480, -6, 8, 2, 2880},
        {"bar ratio ignored for a quarter", dur(2), 480, -3, 4, 1, 480},
        {"bar with table value 0", dur(0), 480, -3, 0, 1, 0},
        {"bar with factor 0", dur(0), 480, -3, 4, 0, 0},
        {"bar with negative table value", dur(0), 480, -3, -4, 1, 0},
        {"bar beyond int32", dur(0), INT32_MAX, INT32_MIN, 1, 1, 0},
        {"largest quarter", dur(2), INT32_MAX, 0, 1, 1, INT32_MAX},
        {"breve beyond int32", dur(9), INT32_MAX, 0, 1, 1, 0},
        {"dotted beyond int32", dur(2, 1), INT32_MAX, 0, 1, 1, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(scBinDurationTicks(row.d, row.q, row.ratio, row.tableValue, row.factor), row.ticks);
    }
}

TEST(BinMusicTest, TupletRatios) {
    struct Row {
        std::int32_t count;
        bool flag, twice, valid;
        std::int32_t normal, actual;
    };
    const Row rows[] = {
        {1, false, false, true, 1, 1},   {2, false, false, true, 1, 2},   {3, false, false, true, 2, 3},
        {7, false, false, true, 4, 7},   {8, false, false, true, 8, 8},   {15, false, false, true, 8, 15},
        {2, true, false, true, 3, 4},    {5, true, false, true, 3, 5},    {6, true, false, true, 6, 6},
        {11, true, false, true, 6, 11},  {12, true, false, true, 12, 12}, {3, false, true, true, 4, 3},
        {0, false, false, false, 0, 0},  {16, true, false, false, 0, 0},  {-1, false, false, false, 0, 0},
    };
    for (const Row& row : rows) {
        std::int32_t normal = 0;
        std::int32_t actual = 0;
        EXPECT_EQ(scBinTupletRatio(row.count, row.flag, row.twice, &normal, &actual), row.valid) << row.count;
        EXPECT_EQ(normal, row.normal) << row.count;
        EXPECT_EQ(actual, row.actual) << row.count;
    }
}

TEST(BinMusicTest, MidiPitchOfStaffPositions) {
    struct Row {
        std::int32_t clef, octave, fifths, step, key;
    };
    const Row rows[] = {
        {1, 1, 0, 0, 60},   {2, 1, 0, 0, 48},    {0, 1, 0, 0, 72},     {3, 1, 0, 0, 72},
        {1, 0, 0, 0, 72},   {1, 2, 0, 0, 48},    {1, 1, 0, 2, 64},     {1, 1, 0, 7, 72},
        {1, 1, 0, -1, 59},  {1, 1, 0, -8, 47},   {1, 1, 1, 0, 67},     {1, 1, -1, 0, 65},
        {2, 2, 5, -22, 10},  // e = -1: the degree below the tonic, an octave down
        {1, 1, 127, 0, 61},  // fifths clamped to 7
        {1, 1, -128, 0, 71}, {0, 0, 0, 63, 127},  {2, 2, 0, -64, 0},
        {1, 1, 0, INT32_MAX, 127}, {1, 1, 0, INT32_MIN, 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(scBinMidiPitch(row.clef, row.octave, row.fifths, row.step), row.key)
            << row.clef << " " << row.octave << " " << row.fifths << " " << row.step;
    }
    // Any inputs at all stay a MIDI key (UBSan reports an index outside the scale).
    for (std::int32_t clef : {INT32_MIN, -1, 0, 1, 2, 3, 4, 5, INT32_MAX}) {
        for (std::int32_t octave : {INT32_MIN, -1, 0, 1, 2, 3}) {
            for (std::int32_t fifths : {INT32_MIN, -8, -7, -3, 0, 4, 7, 8, 127, INT32_MAX}) {
                for (std::int32_t step = -200; step <= 200; ++step) {
                    const std::int32_t key = scBinMidiPitch(clef, octave, fifths, step);
                    ASSERT_TRUE(key >= 0 && key <= 127) << clef << " " << octave << " " << fifths << " " << step;
                }
            }
        }
    }
}

TEST(BinMusicTest, PitchToStepInvertsMidiPitch) {
    for (std::int32_t clef = 0; clef <= 3; ++clef) {
        for (std::int32_t fifths = -7; fifths <= 7; ++fifths) {
            for (std::int32_t step = -40; step <= 40; ++step) {
                const std::int32_t key = scBinMidiPitch(clef, 1, fifths, step);
                if (key <= 0 || key >= 127) {
                    continue;  // clamped
                }
                std::int32_t back = 99;
                std::int32_t alteration = 99;
                scBinPitchToStep(key, clef, fifths, &back, &alteration);
                ASSERT_EQ(back, step) << clef << " " << fifths;
                ASSERT_EQ(alteration, 0);
            }
        }
    }
    struct Row {
        std::int32_t key, clef, fifths, step, alteration;
    };
    const Row rows[] = {
        {61, 1, 0, 1, -1},    // C# / Db: the degree above, lowered
        {66, 1, 0, 4, -1},    // F# / Gb
        {66, 1, 1, -1, 0},    // G major: F# is the seventh degree, below the tonic
        {62, 4, 0, 1, 0},     // clef types above 3 count from the key's own octave
        {-5, 1, 0, -35, 0},   // keys clamped to 0..127
        {500, 2, 0, 46, 0},
    };
    for (const Row& row : rows) {
        std::int32_t step = 99;
        std::int32_t alteration = 99;
        scBinPitchToStep(row.key, row.clef, row.fifths, &step, &alteration);
        EXPECT_EQ(step, row.step) << row.key;
        EXPECT_EQ(alteration, row.alteration) << row.key;
    }
}
