#include "scorecore/tvrxml_vocab.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace scorecore {
namespace {

CMeter meterOf(int beats, int unitIndex, int ticksPerQuarter = 480) {
    CMeter m;
    m.init(ticksPerQuarter, beats, unitIndex);
    return m;
}

CMeter unmetered() {
    CMeter m;
    EXPECT_EQ(readTimeText("infinite", m), kTimeUnmetered);
    return m;
}

// ---------------------------------------------------------------------------------------
// Clefs

TEST(TvrxmlClefTest, WritesNamesLettersLinesAndOctaveMarks) {
    struct Case {
        int32_t kind, line, octave;
        const char* text;
    };
    const Case cases[] = {
        {0, 2, 1, "treble"}, {1, 3, 1, "alto"},  {2, 4, 1, "bass"}, {1, 4, 1, "tenor"},
        {0, 2, 2, "G2-"},    {0, 2, 0, "G2+"},   {2, 4, 2, "F4-"},  {1, 3, 0, "C3+"},
        {0, 1, 1, "G1"},     {2, 3, 1, "F3"},    {2, 5, 1, "F5"},   {3, 3, 1, "P3"},
        {6, 1, 0, "N1+"},    // the record's defaults
        {0, 0, 1, "G3"},     {0, -4, 2, "G3-"},  // lines below 1 as "3"
        {0, 6, 1, "G"},      {2, 99, 0, "F+"},   // nothing above 5
        {0, 2, 7, "G2"},     // an unknown octave code marks nothing
        {4, 2, 1, ""},       {5, 2, 1, ""},      {-1, 2, 1, ""},   {99, 2, 1, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(clefText(CScoreClef{c.kind, c.line, c.octave}), c.text)
            << c.kind << " " << c.line << " " << c.octave;
    }
}

TEST(TvrxmlClefTest, ReadsNamesAndLettersKeepingAnUngivenLine) {
    struct Case {
        const char* text;
        bool ok;
        int32_t kind, line, octave;  // expected; line 9 is the caller's line kept
    };
    const Case cases[] = {
        {"treble", true, 0, 2, 1}, {"ALTO", true, 1, 3, 1},  {"Bass", true, 2, 4, 1},
        {"tenor", true, 1, 4, 1},  {"G2-", true, 0, 2, 2},   {"g2+", true, 0, 2, 0},
        {"C1", true, 1, 1, 1},     {"F4x", true, 2, 4, 1},   {"N5", true, 6, 5, 1},
        {"P", true, 3, 9, 1},      {"G6", true, 0, 9, 1},    {"G0-", true, 0, 9, 2},
        {"", false, 7, 9, 7},      {"X2", false, 7, 9, 7},   {"2G", false, 7, 9, 7},
        {"trebles", false, 7, 9, 7},
    };
    for (const Case& c : cases) {
        CScoreClef clef{7, 9, 7};
        EXPECT_EQ(readClefText(c.text, clef), c.ok) << c.text;
        EXPECT_EQ(clef.kind, c.kind) << c.text;
        EXPECT_EQ(clef.line, c.line) << c.text;
        EXPECT_EQ(clef.octaveChange, c.octave) << c.text;
    }
}

TEST(TvrxmlClefTest, EveryWritableClefReadsBackUnchanged) {
    for (const int32_t kind : {0, 1, 2, 3, 6}) {
        for (int32_t line = 1; line <= 5; ++line) {
            for (int32_t octave = 0; octave <= 2; ++octave) {
                const CScoreClef written{kind, line, octave};
                CScoreClef read{-1, -1, -1};
                ASSERT_TRUE(readClefText(clefText(written), read)) << clefText(written);
                EXPECT_TRUE(read.sameAs(written)) << clefText(written);
            }
        }
    }
}

// ---------------------------------------------------------------------------------------
// Time signatures

TEST(TvrxmlTimeTest, WritesNamedAndNumericTexts) {
    CMeter noSignature;
    noSignature.beats = -1;
    CMeter badUnit = meterOf(3, 2);
    badUnit.unitIndex = kBeatUnitInvalid;
    CMeter negativeUnit = meterOf(3, 2);
    negativeUnit.unitIndex = -1;
    struct Case {
        CMeter meter;
        const char* text;
    };
    const Case cases[] = {
        {meterOf(4, 2), "C"},
        {meterOf(4, 2, 960), "C"},  // whatever the resolution
        {meterOf(2, 1), "allaBreve"},
        {meterOf(2, 1, 384), "allaBreve"},
        {noSignature, "infinite"},
        {unmetered(), "infinite"},
        {meterOf(3, 2), "3/4"},
        {meterOf(6, 3), "6/8"},
        {meterOf(4, 1), "4/2"},
        {meterOf(2, 2), "2/4"},
        {meterOf(999, 9), "999/512"},
        {meterOf(1000, 2), ""},  // more than 3 digits
        {meterOf(3, 10), ""},    // unit 1024
        {meterOf(0, 2), ""},
        {meterOf(-2, 2), ""},
        {badUnit, ""},
        {negativeUnit, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(timeText(c.meter), c.text) << c.meter.beats << " " << c.meter.unitIndex;
    }
}

TEST(TvrxmlTimeTest, ReadsTextsIntoMeterAt480TicksPerQuarter) {
    struct Case {
        const char* text;
        int32_t kind;
        int32_t beats, unitIndex, ticksPerBar;
    };
    const Case cases[] = {
        {"C", kTimeCommon, 4, 2, 1920},
        {"c", kTimeCommon, 4, 2, 1920},
        {"allaBreve", kTimeAllaBreve, 2, 1, 1920},
        {"ALLABREVE", kTimeAllaBreve, 2, 1, 1920},
        {"infinite", kTimeUnmetered, kUnmeteredBeats, 2, kUnmeteredBeats * 480},
        {"3/4", kTimeNumeric, 3, 2, 1440},
        {"6/8", kTimeNumeric, 6, 3, 1440},
        {"4/4", kTimeNumeric, 4, 2, 1920},
        {"007/016", kTimeNumeric, 7, 4, 840},
        {"5/32768", kTimeUnmetered, kUnmeteredBeats, 2, kUnmeteredBeats * 480},
        {"1/1024", kTimeNumeric, 1, 10, 1},
    };
    for (const Case& c : cases) {
        CMeter m = meterOf(3, 3, 960);
        EXPECT_EQ(readTimeText(c.text, m), c.kind) << c.text;
        EXPECT_EQ(m.beats, c.beats) << c.text;
        EXPECT_EQ(m.unitIndex, c.unitIndex) << c.text;
        EXPECT_EQ(m.ticksPerBar, c.ticksPerBar) << c.text;
        EXPECT_EQ(m.ticksPerBeat, 1920 >> c.unitIndex) << c.text;
    }
}

TEST(TvrxmlTimeTest, RefusesMalformedHugeAndNonPowerOfTwoMetersLeavingMeterUnchanged) {
    const char* refused[] = {
        "",        "3",       "3/",        "/4",       "x/4",     "3/y",       "3/4/4",
        " 3/4",    "3/4 ",    "-3/4",      "+3/4",     "3/0",     "0/4",       "3/3",
        "5/6",     "3/8192",  "3/65536",   "99999/4",  "32769/4", "4294967300/4",
        "1/4096",  "32768/4096",  // a beat shorter than a tick
        "common",  "alla breve",
    };
    for (const char* text : refused) {
        CMeter m = meterOf(6, 3, 960);
        EXPECT_EQ(readTimeText(text, m), kTimeInvalid) << text;
        EXPECT_EQ(m.beats, 6) << text;
        EXPECT_EQ(m.unitIndex, 3) << text;
        EXPECT_EQ(m.ticksPerBeat, 480) << text;  // still at its own resolution
    }
}

TEST(TvrxmlTimeTest, NumericTextsRoundTrip) {
    for (const char* text :
         {"3/4", "6/8", "12/16", "5/1", "999/512", "C", "allaBreve", "infinite"}) {
        CMeter m;
        ASSERT_NE(readTimeText(text, m), kTimeInvalid) << text;
        EXPECT_EQ(timeText(m), text);
    }
}

// ---------------------------------------------------------------------------------------
// Barlines

TEST(TvrxmlBarlineTest, CodesToTexts) {
    struct Case {
        int32_t code;
        const char* text;
    };
    const Case cases[] = {
        {0, "single"},   {1, "double"},      {2, "end"}, {3, "repEnd"}, {7, "repEnd"},
        {4, "repBegin"}, {5, "repEndBegin"}, {-1, ""},   {6, ""},       {8, ""},
        {-2, ""},        {INT_MIN, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(barlineText(c.code), c.text) << c.code;
}

TEST(TvrxmlBarlineTest, TextsToCodes) {
    struct Case {
        const char* text;
        int32_t code;
    };
    const Case cases[] = {
        {"single", 0},   {"double", 1},      {"end", 2},       {"repEnd", 3}, {"REPEND", 3},
        {"repBegin", 4}, {"repEndBegin", 5}, {"repeat", -1},   {"", -1},      {"ends", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(readBarlineText(c.text), c.code) << c.text;
}

// ---------------------------------------------------------------------------------------
// Note values

TEST(TvrxmlNoteValueTest, TypeNamesToBasesAndRestCounts) {
    struct Case {
        const char* type;
        const char* base;
        int32_t bars;
    };
    const Case cases[] = {
        {"long", "4/1", 4},      {"breve", "2/1", 2},     {"whole", "1/1", 1},
        {"half", "1/2", 0},      {"quarter", "1/4", 0},   {"eighth", "1/8", 0},
        {"16th", "1/16", 0},     {"32nd", "1/32", 0},     {"64th", "1/64", 0},
        {"128th", "1/128", 0},   {"256th", "1/256", 0},
        {"2", "2", 2},           {"007", "007", 7},       {"0", "0", 0},
        {"2147483647", "2147483647", INT_MAX},
        {"2147483648", "", 0},   {"99999999999999999999", "", 0},
        {"Quarter", "", 0},      {"getit", "", 0},        {"", "", 0},
        {"-2", "", 0},           {"2a", "", 0},           {" 2", "", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(noteBaseText(c.type), c.base) << c.type;
        EXPECT_EQ(noteTypeBars(c.type), c.bars) << c.type;
    }
}

TEST(TvrxmlNoteValueTest, BasesToTicks) {
    const CMeter common = meterOf(4, 2);
    const CMeter threeFour = meterOf(3, 2);
    const CMeter broken = meterOf(0, 2);  // no tick lengths
    struct Case {
        const char* base;
        CMeter meter;
        int32_t ticks;
    };
    const Case cases[] = {
        {"4/1", common, 7680},  {"2/1", common, 3840},    {"1/1", common, 1920},
        {"1/2", common, 960},   {"1/4", common, 480},     {"1/8", common, 240},
        {"1/16", common, 120},  {"1/32", common, 60},     {"1/64", common, 30},
        {"1/128", common, 15},  {"1/256", common, 7},     {"1/1", threeFour, 1920},
        {"1", common, 1920},    {"2", threeFour, 2880},   {"2", unmetered(), 3840},
        {"3bars", common, 5760}, {"abc", common, 0},      {"", common, 0},
        {"2", broken, 0},       {"1118481", common, 2147483520},
        {"1118482", common, -1},  {"99999999999", common, -1},
        {"99999999999", broken, -1},
    };
    for (const Case& c : cases) EXPECT_EQ(noteBaseTicks(c.base, c.meter), c.ticks) << c.base;
}

TEST(TvrxmlNoteValueTest, DotsAddHalvesOfTheBase) {
    const CMeter common = meterOf(4, 2);
    struct Case {
        const char* base;
        int32_t dots;
        int32_t ticks;
    };
    const Case cases[] = {
        {"1/4", 1, 720},  {"1/4", 2, 840}, {"1/4", 3, 900}, {"1/128", 2, 25},
        {"1/4", 200, 956},  // halves run out
        {"1/4", -3, 480}, {"1118481", 1, -1},
    };
    for (const Case& c : cases) {
        TupletRounding rounding;
        EXPECT_EQ(noteDurationTicks({c.base, c.dots, 0, 0, false}, common, rounding), c.ticks)
            << c.base << " " << c.dots;
        EXPECT_FALSE(rounding.truncateNext) << "no tuplet, no flip";
    }
}

TEST(TvrxmlNoteValueTest, TupletsRoundAndTruncateInTurn) {
    const CMeter common = meterOf(4, 2);
    struct Step {
        NoteDurationText note;
        int32_t ticks;
        bool truncateAfter;
    };
    const Step steps[] = {
        {{"1/8", 0, 3, 2, false}, 160, true},    // exact: still flips
        {{"1/16", 0, 7, 4, false}, 68, false},   // 68.57 truncated
        {{"1/16", 0, 7, 4, false}, 69, true},    // rounded
        {{"1/4", 0, 0, 2, false}, 480, true},    // 0 actual notes: no tuplet, no flip
        {{"1/8", 0, 2, 3, false}, 360, false},   // prolonged duplet
        {{"1/8", 2, 3, 2, true}, 0, false},      // grace: no duration, no flip
        {{"1/16", 0, 9, 6, false}, 80, true},    // exact in integers: no 79.999 truncated
        {{"1/16", 0, 9, 6, false}, 80, false},
        {{"1/4", 1, 3, 2, false}, 480, true},    // dotted quarter in a triplet
        {{"1/4", 0, 3, -2, false}, -1, true},    // negative normal count refused
        {{"1118481", 0, 1, 255, false}, -1, false},  // beyond 32 bits
    };
    TupletRounding rounding;
    TupletRounding other;  // a second reader's switch is its own
    for (const Step& s : steps) {
        EXPECT_EQ(noteDurationTicks(s.note, common, rounding), s.ticks)
            << s.note.base << " " << s.note.tupletActual << ":" << s.note.tupletNormal;
        EXPECT_EQ(rounding.truncateNext, s.truncateAfter) << s.note.base;
    }
    EXPECT_FALSE(other.truncateNext);
    EXPECT_EQ(noteDurationTicks({"1/16", 0, 7, 4, false}, common, other), 69);
}

// ---------------------------------------------------------------------------------------
// Staff lines, noteheads, articulations

TEST(TvrxmlStaffLinesTest, PatternHoldsTheLineCountOtherwiseFive) {
    for (int32_t count = -1; count <= 10; ++count) {
        const std::string_view pattern = staffLinePattern(count);
        const bool listed = count >= 1 && count <= 8;
        EXPECT_EQ(pattern.size(), 11u) << count;
        EXPECT_EQ(std::count(pattern.begin(), pattern.end(), '|'), listed ? count : 5) << count;
        EXPECT_EQ(pattern.find_first_not_of("_|"), std::string_view::npos) << count;
        // One run of lines, with a line space left below for the lowest note.
        const auto first = pattern.find('|');
        const auto last = pattern.rfind('|');
        EXPECT_EQ(last - first + 1, static_cast<std::size_t>(listed ? count : 5)) << count;
        EXPECT_LE(last, 8u) << count;
    }
    EXPECT_EQ(staffLinePattern(5), kDefaultStaffLines);
    EXPECT_EQ(staffLinePattern(1), "_______|___");
    EXPECT_EQ(staffLinePattern(8), "_||||||||__");
}

TEST(TvrxmlNoteheadTest, ShapeBitsToTexts) {
    struct Case {
        int32_t bits;
        const char* text;
    };
    const Case cases[] = {
        {0x41, "diamond"},     {0x01, "crossDiamond"}, {0x03, "crossDiamond"},
        {0x02, "crossCircle"}, {0x06, "crossCircle"},  {0x04, "crossDiamond"},
        {0x08, "triangle"},    {0x18, "triangle"},     {0x10, "square"},
        {0x20, "none"},        {0x00, "auto"},         {0x40, "auto"},
        {0x80, "auto"},        {-0x80, "auto"},
    };
    for (const Case& c : cases) EXPECT_EQ(noteheadText(c.bits), c.text) << c.bits;
}

TEST(TvrxmlNoteheadTest, TextsToShapeBits) {
    struct Case {
        const char* text;
        int32_t bits;
    };
    const Case cases[] = {
        {"diamond", 1},   {"crossCircle", 2}, {"crossDiamond", 4}, {"triangle", 8},
        {"square", 16},   {"none", 32},       {"SQUARE", 16},      {"auto", 0},
        {"", 0},          {"cross", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(readNoteheadText(c.text), c.bits) << c.text;
    for (const int32_t bit : {0x02, 0x04, 0x08, 0x10, 0x20}) {
        EXPECT_EQ(readNoteheadText(noteheadText(bit)), bit) << bit;
    }
}

TEST(TvrxmlArticulationTest, CodesAndTextsBothWays) {
    struct Case {
        int32_t code;
        const char* text;
    };
    const Case written[] = {
        {1, "staccato"},     {2, "tenuto"},   {4, "staccatissimo"}, {5, "normalAccent"},
        {6, "strongAccent"}, {7, "weakBeat"}, {8, "strongBeat"},
    };
    for (const Case& c : written) {
        EXPECT_EQ(articulationText(c.code), c.text) << c.code;
        EXPECT_EQ(readArticulationText(c.text), c.code) << c.text;
    }
    for (const int32_t code : {0, 3, 9, -1, INT_MAX}) EXPECT_EQ(articulationText(code), "") << code;
    const Case read[] = {
        {3, "staccato tenuto"}, {3, "Staccato Tenuto"}, {1, "STACCATO"},
        {0, "accent"},          {0, ""},                {0, "staccato  tenuto"},
    };
    for (const Case& c : read) EXPECT_EQ(readArticulationText(c.text), c.code) << c.text;
}

TEST(TvrxmlArticulationTest, MusicFontGlyphs) {
    struct Case {
        int32_t glyph;
        int32_t code;
    };
    const Case cases[] = {
        {'.', 1}, {200, 2}, {201, 4}, {206, 4}, {202, 5}, {203, 6}, {204, 7}, {205, 8},
        {207, 8}, {199, 0}, {208, 0}, {0, 0},   {'t', 0}, {-46, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(articulationOfGlyph(c.glyph), c.code) << c.glyph;
}

// ---------------------------------------------------------------------------------------
// Dynamics, ornaments and the music font

TEST(TvrxmlDynamicsTest, CodesAndGlyphsBothWays) {
    struct Case {
        int32_t code;
        char glyph;
    };
    const Case cases[] = {
        {127, 'h'}, {110, 'g'}, {90, 'f'}, {74, 'j'}, {62, 'i'}, {44, 'p'},
        {22, 'q'},  {10, 'r'},  {-4, 's'}, {-3, 'z'}, {-2, '{'}, {-1, '|'},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(dynamicGlyph(c.code), c.glyph) << c.code;
        EXPECT_EQ(dynamicOfGlyph(c.glyph), c.code) << c.glyph;
    }
    for (const int32_t code : {0, 50, 128, -5, INT_MIN}) EXPECT_EQ(dynamicGlyph(code), 0) << code;
    for (const int32_t glyph : {0, int32_t{'a'}, int32_t{'t'}, int32_t{'F'}, 200}) {
        EXPECT_EQ(dynamicOfGlyph(glyph), 0) << glyph;
    }
    EXPECT_EQ(glyphText(dynamicGlyph(-1)), "|");  // fp
}

TEST(TvrxmlDynamicsTest, DynamikTableRowsFollowTheLevelOrder) {
    const CDynamik table;
    for (std::size_t row = 0; row < table.rows.size(); ++row) {
        const CEventDynamic level{table.rows[row].velocity, 2, 0.0f};
        EXPECT_EQ(level.levelIndex(), static_cast<int32_t>(row));
        EXPECT_NE(dynamicGlyph(level.code), 0) << level.code;
    }
}

TEST(TvrxmlOrnamentTest, CodesAndGlyphsBothWaysWithReadOnlyGlyphs) {
    struct Case {
        int32_t code;
        int32_t glyph;
    };
    const Case both[] = {
        {1, 't'},  {2, 'l'},  {3, 'x'},  {4, 'w'},  {5, 'R'},  {6, 'S'},  {7, 'Q'},
        {8, 'Z'},  {9, 'Y'},  {10, 'u'}, {11, 'k'}, {12, 173}, {13, 'a'}, {14, 'b'},
        {15, 'y'}, {16, 'n'}, {19, 'W'}, {20, 'X'}, {21, 'V'},
    };
    for (const Case& c : both) {
        EXPECT_EQ(ornamentGlyph(c.code), c.glyph) << c.code;
        EXPECT_EQ(ornamentOfGlyph(c.glyph), c.code) << c.glyph;
    }
    const Case readOnly[] = {{16, 'o'}, {kOrnamentDalSegno, 'e'}, {kOrnamentDaCapo, 'd'}};
    for (const Case& c : readOnly) EXPECT_EQ(ornamentOfGlyph(c.glyph), c.code) << c.glyph;
    for (const int32_t code : {0, 17, 18, 22, -1, 173}) EXPECT_EQ(ornamentGlyph(code), 0) << code;
    for (const int32_t glyph : {0, int32_t{'z'}, int32_t{'A'}, int32_t{'T'}, 172, 0x1AD}) {
        EXPECT_EQ(ornamentOfGlyph(glyph), 0) << glyph;
    }
}

TEST(TvrxmlGlyphTest, GlyphTextsAreOneLatin1CharacterInUtf8) {
    struct Case {
        int32_t glyph;
        const char* text;
    };
    const Case cases[] = {
        {'t', "t"}, {173, "\xC2\xAD"}, {200, "\xC3\x88"}, {255, "\xC3\xBF"},
        {0, ""},    {256, ""},         {-1, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(glyphText(c.glyph), c.text) << c.glyph;
        EXPECT_EQ(singleGlyph(c.text), c.glyph > 0 && c.glyph < 256 ? c.glyph : 0) << c.glyph;
    }
    for (const char* content : {"tr", "D.S.", "\xE2\x82\xAC", "\xFF", "\xC3", "f\xC3\x88"}) {
        EXPECT_EQ(singleGlyph(content), 0) << content;
    }
}

// ---------------------------------------------------------------------------------------
// Key signatures and the accidental display

TEST(TvrxmlKeyTest, StepsOfAKeyClampedAndUnsetAltersNone) {
    struct Case {
        int32_t fifths;
        const char* steps;
    };
    const Case cases[] = {
        {0, ""},          {1, "F"},      {2, "FC"},     {7, "FCGDAEB"}, {9, "FCGDAEB"},
        {INT_MAX, "FCGDAEB"}, {-1, "B"}, {-3, "BEA"},   {-7, "BEADGCF"}, {-100, "BEADGCF"},
        {INT_MIN, "BEADGCF"}, {CKeySig::kUnset, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(keySigSteps(c.fifths), c.steps) << c.fifths;
}

TEST(TvrxmlKeyTest, KeyAltersStep) {
    struct Case {
        int32_t fifths;
        char step;
        bool altered;
    };
    const Case cases[] = {
        {2, 'c', true},   {2, 'C', true},  {2, 'g', false}, {-1, 'b', true},
        {-1, 'B', true},  {-1, 'e', false}, {-2, 'e', true}, {0, 'f', false},
        {CKeySig::kUnset, 'f', false},     {1, '\0', false}, {1, 'x', false},
        {20, 'b', true},  {-20, 'f', true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(keyAltersStep(c.fifths, c.step), c.altered) << c.fifths << " " << c.step;
    }
}

TEST(TvrxmlKeyTest, AlterDisplayFollowsSlotAndKey) {
    struct Case {
        int32_t shown;
        uint8_t editorial;
        bool hasAlter;
        int32_t fifths;
        char step;
        AlterDisplay display;
    };
    const Case cases[] = {
        {0, 0, false, 0, 'c', AlterDisplay::Force},
        {0, 1, false, 3, 'c', AlterDisplay::Parenth},
        {0, 0, true, 0, 'c', AlterDisplay::Omit},
        {-1, 0, true, -2, 'e', AlterDisplay::Force},   // a flat key that flattens the step
        {-1, 1, true, -2, 'e', AlterDisplay::Parenth},
        {-1, 0, true, -2, 'a', AlterDisplay::None},
        {-1, 0, true, 2, 'c', AlterDisplay::Force},    // a sharp key that sharpens the step
        {-1, 0, true, 0, 'b', AlterDisplay::None},
        {-1, 0, true, CKeySig::kUnset, 'f', AlterDisplay::None},
        {1, 0, true, 2, 'f', AlterDisplay::Force},
        {1, 0, true, 2, 'g', AlterDisplay::None},
        {1, 0, true, -2, 'b', AlterDisplay::None},     // sharps only in sharp keys
        {1, 0, true, CKeySig::kUnset, 'f', AlterDisplay::None},
        {2, 0, true, 7, 'f', AlterDisplay::None},
        {-2, 0, true, -7, 'b', AlterDisplay::None},
        {-3, 0, false, 0, 'c', AlterDisplay::None},
    };
    for (const Case& c : cases) {
        const CEventAccidental slot{static_cast<int8_t>(c.shown), c.editorial};
        EXPECT_EQ(alterDisplay(slot, c.hasAlter, c.fifths, c.step), c.display)
            << c.shown << " " << c.fifths << " " << c.step;
    }
}

// ---------------------------------------------------------------------------------------
// Offsets and endings

TEST(TvrxmlOffsetTest, OffsetTexts) {
    struct Case {
        double offset;
        const char* text;
    };
    const Case cases[] = {
        {18.0, "0.100"},  {-9.0, "-0.050"}, {180.0, "1.000"}, {1.0, "0.006"},
        {-270.0, "-1.500"}, {0.0, ""},      {-0.0, ""},
        {std::nan(""), ""}, {std::numeric_limits<double>::infinity(), ""},
    };
    for (const Case& c : cases) EXPECT_EQ(offsetText(c.offset), c.text) << c.offset;
}

TEST(TvrxmlOffsetTest, OrnamentDefaultsByCode) {
    struct Case {
        int32_t code;
        float position;
        const char* text;
    };
    const Case cases[] = {
        {1, 0, "0"},     {8, 0, "0"},     {9, 0, "0"},     {5, 0, "0.5"},   {6, 0, "0.5"},
        {7, 0, "0.5"},   {12, 0, "-1"},   {13, 0, "-1"},   {15, 0, "-4"},   {16, 0, "-4"},
        {2, 0, "-0.5"},  {14, 0, "-0.5"}, {0, 0, "-0.5"},  {99, 0, "-0.5"},
        {1, 36, "0.200"}, {16, -18, "-0.100"},
        {5, std::numeric_limits<float>::quiet_NaN(), "0.5"},
    };
    for (const Case& c : cases) {
        CScoreOrnament ornament;
        ornament.code = c.code;
        ornament.position = c.position;
        EXPECT_EQ(ornamentOffsetText(ornament), c.text) << c.code << " " << c.position;
    }
}

TEST(TvrxmlEndingTest, FirstAndLastNumbers) {
    struct Case {
        const char* text;
        int32_t first, last;
    };
    const Case cases[] = {
        {"1, 2", 1, 2},          {"12", 12, 0},         {"1.-2.", 1, 2},
        {"1. 2. 3.", 1, 3},      {"1.", 1, 0},          {"", 0, 0},
        {"abc", 0, 0},           {"0", 0, 0},           {"0, 2", 0, 2},
        {"2, 0", 2, 0},          {"99999999999, 3", 0, 3},
        {"1.-99999999999", 1, 0}, {"2147483647-3", INT_MAX, 3},
    };
    for (const Case& c : cases) {
        const EndingNumbers numbers = endingNumbers(c.text);
        EXPECT_EQ(numbers.first, c.first) << c.text;
        EXPECT_EQ(numbers.last, c.last) << c.text;
    }
}

// ---------------------------------------------------------------------------------------
// Staff positions and vertical placement

TEST(TvrxmlPositionTest, HeadPositionsUnderClefs) {
    const CScoreClef treble{0, 2, 1};
    const CScoreClef bass{2, 4, 1};
    const CScoreClef alto{1, 3, 1};
    const CScoreClef tenor{1, 4, 1};
    const CScoreClef percussion{3, 3, 1};
    struct Case {
        CScoreClef clef;
        const char* pitch;  // TvrXML octaves: c5 is middle C
        std::optional<double> position;
    };
    const Case cases[] = {
        {treble, "e5", 1.0},     {treble, "E5", 1.0},  {treble, "f5", 1.5},  {treble, "b5", 3.0},
        {treble, "f6", 5.0},     {treble, "c5", 0.0},  {treble, "a6", 6.0},
        {bass, "g3", 1.0},       {bass, "a4", 5.0},    {bass, "c5", 6.0},
        {alto, "c5", 3.0},       {tenor, "c5", 4.0},   {percussion, "b5", 3.0},
        {CScoreClef{0, 1, 1}, "g5", 1.0},  // a French violin clef: G on the bottom line
        {CScoreClef{6, 2, 1}, "e5", std::nullopt},
        {CScoreClef{4, 2, 1}, "e5", std::nullopt},
        {CScoreClef{5, 2, 1}, "e5", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(headStaffPosition(c.clef, c.pitch), c.position)
            << c.clef.kind << c.clef.line << " " << c.pitch;
    }
}

TEST(TvrxmlPositionTest, SymbolYAboveAndBelowChordsAndRests) {
    struct Case {
        int32_t placement, kind;
        std::vector<double> positions;
        const char* y;
    };
    const Case cases[] = {
        // Rests.
        {1, kSymbolDynamic, {}, "-4.0"},
        {2, kSymbolDynamic, {}, "4.5"},
        {0, kSymbolDynamic, {}, "0.0"},
        {1, kSymbolWords, {}, "-4.0"},
        // Inside the staff the least distance wins.
        {1, kSymbolDynamic, {1.0, 3.5}, "-4.0"},
        {2, kSymbolDynamic, {2.0, 3.0}, "4.5"},
        {1, 1, {1.0, 2.0}, "-3.0"},
        {2, 8, {5.0}, "3.5"},
        {1, kSymbolWords, {1.0}, "-2.5"},
        // Beyond the staff the outermost head counts: the highest above, the lowest below.
        {1, kSymbolDynamic, {1.0, 6.0}, "-6.0"},
        {1, 1, {6.0, 1.0}, "-5.0"},
        {1, 11, {7.5}, "-6.5"},
        {2, kSymbolDynamic, {6.0, 1.0}, "5.0"},
        {2, 4, {-2.0, 5.0}, "7.0"},
        {2, 5, {0.5}, "5.5"},    // the other kinds keep a wider gap
        {2, 9, {0.5}, "4.5"},
        {2, kSymbolWords, {-1.0}, "6.0"},
        {1, 22, {8.0}, "-7.0"},
        // No placement.
        {0, 1, {1.0}, "0.0"},
        {3, 1, {1.0}, "0.0"},
        {-1, 1, {1.0}, "0.0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(symbolYText(c.placement, c.kind, c.positions), c.y)
            << c.placement << " " << c.kind;
    }
}

TEST(TvrxmlPositionTest, EventHeadsUnderTheStaffClef) {
    // MusicXML octaves in the record: E4 and A5 are the treble staff's bottom line and
    // the first ledger line above it.
    CScoreEvent chord;
    for (const char* pitch : {"E4", "A5"}) {
        ASSERT_TRUE(chord.appendHead(0));
        ASSERT_TRUE(chord.appendPitch(pitch));
        ASSERT_TRUE(chord.appendAlter("**"));
        ++chord.headCount;
    }
    const CScoreClef treble{0, 2, 1};
    const std::vector<double> positions = headStaffPositions(chord, treble);
    EXPECT_EQ(positions, (std::vector<double>{1.0, 6.0}));
    EXPECT_EQ(symbolYText(1, kSymbolDynamic, positions), "-6.0");
    EXPECT_EQ(symbolYText(2, kSymbolDynamic, positions), "5.0");

    // Under the bass clef both heads lie far above the staff.
    const std::vector<double> bassPositions = headStaffPositions(chord, CScoreClef{2, 4, 1});
    EXPECT_EQ(bassPositions, (std::vector<double>{7.0, 12.0}));
    EXPECT_EQ(symbolYText(2, 1, bassPositions), "3.5");

    // A clef without positions, and a head count beyond the heads held, give none.
    EXPECT_TRUE(headStaffPositions(chord, CScoreClef{6, 1, 1}).empty());
    chord.headCount = 1000;
    EXPECT_EQ(headStaffPositions(chord, treble).size(), 2u);
    chord.headCount = -1;
    EXPECT_TRUE(headStaffPositions(chord, treble).empty());
}

}  // namespace
}  // namespace scorecore
