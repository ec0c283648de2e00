#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "bin_bytes.h"
#include "platform_testing/temp_folder.h"
#include "scorecore/bin_fields.h"
#include "scorecore/bin_score.h"
#include "scorecore/result_codes.h"

using namespace scorecore;
using namespace bintest;

namespace {

struct Fixture {
    Bytes image;
    std::size_t dataOffset = 0;
    std::vector<std::size_t> validEnds;  // lengths at which the image may end
};

// Attachment with colour, value, byte and a drawing object list; element
// flags with a colour; a half rest with an "fp" sign and valued objects.
Bytes fullRest() {
    return elementKind(0)
        .u8(0x40)
        .u8(3)
        .u8(0x70)
        .small(-300)
        .u8(7)
        .add(itemList({textObject("mf")}))
        .u8(0x5A)
        .u8(0x41)
        .u8(2)
        .u8(0x01)
        .add(itemList({textObject("fp"), Bytes().u8(11).add(objectHeader()).u8(9).u8(0x80),
                       Bytes().u8(12).add(objectHeader(-200, 0, 70000)).u8(0x44)}));
}

// A small score: the document head, one 'S', two 'V' sections with 'C'
// sections holding every element kind.
Fixture buildScore() {
    Fixture f;
    f.image = fileHeader().add(documentHead());
    f.dataOffset = f.image.size();
    const auto mark = [&f] { f.validEnds.push_back(f.image.size()); };
    f.image.add(tagS(120, 3, 2));  // its second count (2) needs bytes after it: no end here
    f.image.add(tagV(4, 0x03, 1));
    mark();
    f.image.add(tagC(8))
        .add(simpleElement(2, 0x59))  // clef type 1, line 2, octave 1
        .add(simpleElement(3, 8))     // G major
        .add(elementStart(4).u8(3).u8(0x03))
        .add(rest(Bytes{0x02}, itemList({textObject("p")})))
        .add(chord(1, Bytes{0x12, 1}, {head(0, 0)}, itemList({textObject("ff"), textObject("\xC8")})))
        .add(chord(7, Bytes{0x23, 0x03}, {head(0, 0), head(2, 1), head(4, -1)}))
        .add(simpleElement(5, 3))
        .add(elementStart(6));
    mark();
    f.image.add(tagC(4)).add(chord(1, Bytes{0x00}, {head(-1, 0)})).add(fullRest()).add(elementKind(9));
    mark();
    f.image.add(tagV(6, 0x04, 2));
    mark();
    f.image.add(tagC(4))
        .add(simpleElement(2, 0x8A))  // clef type 2, line 4, octave down
        .add(chord(1, Bytes{0x14, 2}, {head(0, 0)}))
        .add(simpleElement(3, 0))  // seven flats
        .add(chord(1, Bytes{0x22, 0x12}, {head(0, 0)}));
    mark();
    f.image.add(tagC(0));
    mark();
    return f;
}

std::string describe(const BinScoreElement& e) {
    std::string text;
    switch (e.kind) {
    case 2:
        return "clef" + std::to_string(e.clef.type) + "." + std::to_string(e.clef.octave) + "." +
               std::to_string(e.clef.line);
    case 3:
        return "key" + std::to_string(e.fifths);
    case 4:
        return "meter" + std::to_string(e.meter.beats) + "/" + std::to_string(e.meter.unit);
    case 5:
        return "nibble" + std::to_string(e.nibble);
    case 6:
        return "none";
    default:
        break;
    }
    text = (e.kind == 0 ? "rest" : "chord" + std::to_string(e.kind) + ":") + std::to_string(e.ticks);
    if (e.dynamic != 0) {
        text += "d" + std::to_string(e.dynamic);
    }
    if (e.articulation != 0) {
        text += "a" + std::to_string(e.articulation);
    }
    if (!e.heads.empty()) {
        text += "(";
        for (const BinScoreHead& h : e.heads) {
            text += (text.back() == '(' ? "" : ",") + std::to_string(h.step) + (h.alteration >= 0 ? "+" : "") +
                    std::to_string(h.alteration) + "=" + std::to_string(h.midiKey);
        }
        text += ")";
    }
    return text;
}

std::string describe(const BinScoreSummary& s) {
    std::string text = "S" + std::to_string(s.section.value) + "/" + std::to_string(s.section.count) + "/" +
                       std::to_string(s.section.count2);
    for (const BinScoreVSection& v : s.vSections) {
        text += " V" + std::to_string(v.tag.meter.beats) + "/" + std::to_string(v.tag.meter.unit) + "#" +
                std::to_string(v.tag.byteValue);
        for (const BinScoreCSection& c : v.cSections) {
            text += " C" + std::to_string(c.tag.count) + "[";
            for (const BinScoreElement& e : c.elements) {
                text += (text.back() == '[' ? "" : " ") + describe(e);
            }
            text += "]";
        }
    }
    return text;
}

int walk(const Bytes& image, BinScoreSummary* summary = nullptr) {
    return scBinWalkScore(image.span(), summary);
}

}  // namespace

TEST(BinScoreTest, WalksASmallScoreToItsSummary) {
    const Fixture f = buildScore();
    BinScoreSummary summary;
    ASSERT_EQ(walk(f.image, &summary), kOk);
    EXPECT_EQ(summary.dataOffset, f.dataOffset);
    EXPECT_EQ(describe(summary),
              "S120/3/2"
              " V4/2#1"
              " C8[clef1.1.2 key1 meter3/2 rest480d44 chord1:720d110a2(0+0=67)"
              " chord7:160(0+0=67,2+1=72,4-1=73) nibble3 none]"
              " C4[chord1:1920(-1+0=59) rest960d-1]"
              " V6/3#2"
              " C4[clef2.2.4 chord1:210(0+0=36) key-7 chord1:360(0+0=47)]"
              " C0[]");
}

// The image may end only after a whole section: every other cut is refused.
TEST(BinScoreTest, OnlyWholeSectionsMakeAValidFile) {
    const Fixture f = buildScore();
    for (std::size_t length = 0; length <= f.image.size(); ++length) {
        const bool valid = std::find(f.validEnds.begin(), f.validEnds.end(), length) != f.validEnds.end();
        EXPECT_EQ(scBinWalkScore(f.image.span().first(length), nullptr), valid ? kOk : kErrUnknownFormat)
            << "length " << length;
    }
}

TEST(BinScoreTest, AnyInvalidFieldRefusesTheFile) {
    struct Row {
        const char* name;
        Bytes body;  // after the 'S' section
        int result;
    };
    const Bytes quarter{0x02};
    const Row rows[] = {
        {"key byte 14", tagV(4, 3, 0).add(tagC(1)).add(simpleElement(3, 14)), kOk},
        {"key byte 15", tagV(4, 3, 0).add(tagC(1)).add(simpleElement(3, 15)), kErrUnknownFormat},
        {"clef code 5", tagV(4, 3, 0).add(tagC(1)).add(simpleElement(2, 0x28)), kErrUnknownFormat},
        {"nibble 6", tagV(4, 3, 0).add(tagC(1)).add(simpleElement(5, 6)), kErrUnknownFormat},
        {"chord without heads", tagV(4, 3, 0).add(tagC(1)).add(chord(1, quarter, {})), kErrUnknownFormat},
        {"nine dots", tagV(4, 3, 0).add(tagC(1)).add(rest(Bytes{0x12, 9})), kErrUnknownFormat},
        {"tuplet count 0", tagV(4, 3, 0).add(tagC(1)).add(rest(Bytes{0x22, 0x10})), kErrUnknownFormat},
        {"element flags bit 7", tagV(4, 3, 0).add(tagC(1)).add(elementStart(0).u8(0x80).add(quarter).count(0)),
         kErrUnknownFormat},
        {"alteration +3", tagV(4, 3, 0).add(tagC(1)).add(chord(1, quarter, {Bytes{0, 0x28}})), kErrUnknownFormat},
        {"fewer elements than counted", tagV(4, 3, 0).add(tagC(2)).add(rest(quarter)), kErrUnknownFormat},
        {"kind 8 ends the elements early", tagV(4, 3, 0).add(tagC(5)).add(rest(quarter)).add(elementKind(8)), kOk},
        {"stray byte after the last section", tagV(4, 3, 0).add(tagC(0)).u8('X'), kErrUnknownFormat},
        {"'C' before any 'V'", tagC(0), kErrUnknownFormat},
        {"a second 'S'", tagS(1, 1, 0), kErrUnknownFormat},
        {"huge element count", tagV(4, 3, 0).add(Bytes().raw("C").zeros(2).count(1).u8(0).sized("").u8(255).u32(0xFFFFFFF0)),
         kErrUnknownFormat},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(walk(minimalScore().add(row.body)), row.result);
    }
    BinScoreSummary summary;
    ASSERT_EQ(walk(minimalScore(), &summary), kOk);
    EXPECT_TRUE(summary.vSections.empty());
    EXPECT_EQ(walk(fileHeader(30254).add(documentHead()).add(tagS(100, 1, 0))), kErrUnknownFormat);
    EXPECT_EQ(walk(Bytes().raw("tvr3-v")), kErrUnknownFormat);
}

TEST(BinScoreTest, FilesAreReadWholeWithinTheSizeLimit) {
    const platform::testing::TempFolder folder;
    const auto write = [&folder](const char* name, const Bytes& bytes) {
        const std::filesystem::path path = folder.path() / name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data().data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    };
    const Fixture f = buildScore();
    BinScoreSummary summary;
    EXPECT_EQ(scBinWalkScoreFile(write("score.tvr", f.image), &summary), kOk);
    EXPECT_EQ(summary.vSections.size(), 2u);
    EXPECT_EQ(scBinWalkScoreFile(folder.path() / "missing.tvr", &summary), kErrCannotOpen);
    EXPECT_EQ(scBinWalkScoreFile(folder.path(), &summary), kErrCannotOpen);
    EXPECT_EQ(scBinWalkScoreFile(write("empty.tvr", Bytes()), &summary), kErrUnknownFormat);
    EXPECT_EQ(scBinWalkScoreFile(write("short.tvr", Bytes().raw("tvr3-v").u8(0)), &summary), kErrUnknownFormat);
    EXPECT_EQ(scBinWalkScoreFile(write("version.tvr", fileHeader(1).add(documentHead())), &summary),
              kErrUnknownFormat);
    // A valid start with a (sparse) tail beyond the limit is refused unread.
    const std::filesystem::path big = write("big.tvr", f.image);
    std::filesystem::resize_file(big, kBinScoreMaxFileSize + 1);
    EXPECT_EQ(scBinWalkScoreFile(big, &summary), kErrUnknownFormat);
    EXPECT_EQ(summary.vSections.size(), 2u);  // a refused file leaves the summary alone
}

namespace {

using Reader = std::function<std::size_t(BinReader&)>;

const std::vector<Reader>& everyReader() {
    static const std::vector<Reader> readers = {
        [](BinReader& r) { std::int32_t v; return scBinReadSmallInt(r, &v); },
        [](BinReader& r) { std::uint32_t v; return scBinReadCount(r, &v); },
        [](BinReader& r) { BinFileHeader v; return scBinReadFileHeader(r, &v); },
        [](BinReader& r) { std::uint32_t v; return scBinReadColor(r, &v); },
        [](BinReader& r) { BinFont v; return scBinReadFont(r, &v); },
        [](BinReader& r) { BinObjectHeader v; return scBinReadObjectHeader(r, &v, true); },
        [](BinReader& r) { BinClef v; return scBinReadClef(r, &v); },
        [](BinReader& r) { BinDuration v; return scBinReadDuration(r, &v); },
        [](BinReader& r) { BinChordAttrs v; return scBinReadChordAttrs(r, &v); },
        [](BinReader& r) { std::vector<BinEntry> v; return scBinReadEntryList(r, &v); },
        [](BinReader& r) { std::string v; return scBinReadString(r, &v); },
        [](BinReader& r) { BinTextPair v; return scBinReadTextPair(r, &v); },
        [](BinReader& r) { std::vector<std::uint8_t> v; return scBinReadBytes(r, 7, &v); },
        [](BinReader& r) { return scBinSkipPairList(r); },
        [](BinReader& r) { std::vector<BinTypedItem> v; return scBinReadTypedList(r, &v); },
        [](BinReader& r) { BinObjectFlags v; return scBinReadObjectFlags(r, &v); },
        [](BinReader& r) { BinTagS v; return scBinReadTagS(r, &v); },
        [](BinReader& r) { BinTagV v; return scBinReadTagV(r, &v); },
        [](BinReader& r) { BinTagC v; return scBinReadTagC(r, &v); },
        [](BinReader& r) { BinObjectKind v; std::vector<std::uint8_t> b; return scBinReadObjectKind(r, &v, &b); },
        [](BinReader& r) { std::vector<std::int32_t> v; return scBinReadPackedInts(r, &v); },
        [](BinReader& r) { BinItems v; return scBinReadItemList(r, &v); },
        [](BinReader& r) { BinAttachment v; return scBinReadAttachment(r, &v); },
        [](BinReader& r) { BinCheckedChord v; return scBinReadCheckedLists(r, &v); },
        [](BinReader& r) { BinItems v; return scBinReadItemSection(r, &v); },
    };
    return readers;
}

class Mutator {
public:
    explicit Mutator(std::uint32_t seed) : rng_(seed) {}

    // One to three damages: flipped, replaced or special bytes, a cut, an
    // insertion, a deletion, or a count made huge in its 32- or 16-bit form.
    void damage(std::vector<std::uint8_t>& m) {
        static constexpr std::uint8_t kSpecial[] = {0x00, 0x7F, 0x80, 0xFE, 0xFF, 'S', 'V', 'C', 0x40, 0x3F};
        const int ops = 1 + static_cast<int>(rng_() % 3);
        for (int op = 0; op < ops && !m.empty(); ++op) {
            const std::size_t at = below(m.size());
            const auto it = m.begin() + static_cast<std::ptrdiff_t>(at);
            switch (rng_() % 8) {
            case 0: m[at] ^= static_cast<std::uint8_t>(1u << (rng_() % 8)); break;
            case 1: m[at] = static_cast<std::uint8_t>(rng_()); break;
            case 2: m[at] = kSpecial[below(sizeof kSpecial)]; break;
            case 3: m.resize(at); break;
            case 4: m.insert(it, 1 + below(4), static_cast<std::uint8_t>(rng_())); break;
            case 5: m.erase(it, it + static_cast<std::ptrdiff_t>(std::min(m.size() - at, 1 + below(8)))); break;
            case 6: overwrite(m, at, {0xFF, 0xFF, 0xFF, 0xFF, static_cast<std::uint8_t>(rng_() % 2 ? 0xFF : 0x7F)}); break;
            default: overwrite(m, at, {0xFE, 0xFF, 0xFF}); break;
            }
        }
    }

    std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(rng_() % n); }

private:
    static void overwrite(std::vector<std::uint8_t>& m, std::size_t at, std::initializer_list<std::uint8_t> bytes) {
        std::copy_n(bytes.begin(), std::min(bytes.size(), m.size() - at), m.begin() + static_cast<std::ptrdiff_t>(at));
    }

    std::mt19937 rng_;
};

// What an accepted walk hands out is always in range.
void expectSane(const BinScoreSummary& s) {
    for (const BinScoreVSection& v : s.vSections) {
        for (const BinScoreCSection& c : v.cSections) {
            ASSERT_LE(c.elements.size(), c.tag.count);
            for (const BinScoreElement& e : c.elements) {
                ASSERT_LE(e.kind, 7);
                ASSERT_GE(e.ticks, 0);
                ASSERT_TRUE(e.fifths >= -7 && e.fifths <= 7);
                ASSERT_TRUE(e.clef.type >= 0 && e.clef.type <= 4 && e.clef.octave >= 0 && e.clef.octave <= 2);
                ASSERT_TRUE(e.nibble >= 0 && e.nibble <= 5);
                for (const BinScoreHead& h : e.heads) {
                    ASSERT_TRUE(h.midiKey >= 0 && h.midiKey <= 127);
                }
            }
        }
    }
}

}  // namespace

// Thousands of damaged copies of the score. None may crash or read outside
// the image (the sanitizer build checks); each walk gives 0 or -104, and an
// accepted one holds only values in range. Every field reader also runs at
// a random place of each copy.
TEST(BinScoreFuzzTest, MutatedScoresAreRefusedOrReadSafely) {
    const Fixture f = buildScore();
    Mutator mutator(0x7672u);
    int accepted = 0;
    int refused = 0;
    for (int i = 0; i < 20000; ++i) {
        SCOPED_TRACE(i);
        std::vector<std::uint8_t> m = f.image.data();
        mutator.damage(m);
        BinScoreSummary s;
        const int result = scBinWalkScore(m, &s);
        ASSERT_TRUE(result == kOk || result == kErrUnknownFormat);
        (result == kOk ? accepted : refused)++;
        expectSane(s);
        ASSERT_FALSE(HasFatalFailure());
        const std::size_t start = mutator.below(m.size() + 1);
        for (const Reader& read : everyReader()) {
            BinReader r(m, start);
            const std::size_t n = read(r);
            ASSERT_EQ(r.position(), start + n);
        }
    }
    // Both outcomes occur: the damage reaches the readers' checks and also
    // leaves walkable files.
    EXPECT_GT(accepted, 0);
    EXPECT_GT(refused, 0);
}
