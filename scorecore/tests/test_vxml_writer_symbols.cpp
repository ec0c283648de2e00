// The TvrXML writer's chords and the symbols attached to them.
#include "scorecore/tvrxml_vocab.h"
#include "scorecore/vxml_writer.h"
#include "vxml_writer_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace scorecore;
using namespace scorecore::testing;

TEST_F(VxmlWriterTest, ChordStemBeamAndDisplayFollowTheEventWords) {
    addSystem();
    const struct {
        uint32_t kind;
        uint32_t stem;
        int32_t beam;
        int32_t notationStaff;
        const char* dir;
        const char* tremolo;
        const char* group;
        const char* small;
        const char* notation;
    } cases[] = {
        {0, 0, 0, 0, "(none)", "(none)", "(none)", "(none)", "(none)"},
        {0, 1, 1, 0, "up", "(none)", "force", "(none)", "(none)"},
        {0, 2 | 8, 4, 1, "down", "2", "split", "(none)", "up"},
        {0, 4, 2, 2, "(none)", "1", "force", "(none)", "down"},
        {0, 64, 16, 0, "(none)", "5", "force", "(none)", "(none)"},
        {kKindGrace, 1 | 4, 0, 0, "up", "(none)", "split", "true", "(none)"},  // slashed grace
        {kKindGrace, 16, 1, 0, "(none)", "3", "force", "true", "(none)"},
        {kKindSmall, 0, 0, 0, "(none)", "(none)", "(none)", "true", "(none)"},
    };
    for (const auto& c : cases) {
        CScoreEvent event = note("eighth", 240, {{"C5"}});
        if (c.kind != 0) event.setKind(c.kind);
        event.stem = c.stem;
        event.beam = c.beam;
        event.notationStaff = c.notationStaff;
        ASSERT_EQ(file.appendChord(event), kOk);
    }
    ASSERT_EQ(file.appendChord(note("", 240, {{"C5"}})), kOk);  // no type: nothing
    ASSERT_EQ(file.appendChord(note("quarter", 480, {})), kOk);  // no heads: nothing
    finish();
    const std::vector<xmlNodePtr> chords = select(file, "//chord");
    ASSERT_EQ(chords.size(), std::size(cases));
    for (std::size_t i = 0; i < chords.size(); ++i) {
        const auto& c = cases[i];
        const auto child = [&](const char* name) {
            xmlNodePtr node = nullptr;
            return xmldomGetChild(chords[i], name, &node) == kOk ? node : nullptr;
        };
        const auto attrOrNone = [&](const char* element, const char* name) {
            xmlNodePtr node = child(element);
            return node != nullptr ? attrOf(node, name) : std::string("(none)");
        };
        EXPECT_EQ(attrOrNone("stem", "dir"), c.dir) << i;
        EXPECT_EQ(attrOrNone("stem", "tremoloBars"), c.tremolo) << i;
        EXPECT_EQ(attrOrNone("beam", "group"), c.group) << i;
        EXPECT_EQ(attrOrNone("display", "small"), c.small) << i;
        EXPECT_EQ(attrOrNone("display", "notationStaff"), c.notation) << i;
        EXPECT_EQ(attrOrNone("duration", "noDuration"), c.kind == kKindGrace ? "true" : "(none)") << i;
    }
}

TEST_F(VxmlWriterTest, HeadAlterShowsWhatTheStaffKeyDoesNotSay) {
    addSystem();
    ASSERT_EQ(file.appendKeySign(-2, true), kOk);  // B and E flat
    CScoreEvent chord = note("quarter", 480, {
                                                 {"B4", "-1", -1},  // flat the key gives: forced
                                                 {"A4", "-1", -1},  // flat of its own: step only
                                                 {"E5", "**", 0},   // natural: shown
                                                 {"F5", "+1", 0},   // natural on an altered head: no alter
                                                 {"C5", "**", -3},  // nothing
                                                 {"G5", "+1", 1},   // sharp the key does not give
                                             });
    chord.accidentals[0].editorial = 1;
    chord.setTie(kTieStart | kTieEnd);
    ASSERT_TRUE(chord.appendHead(8) && chord.appendPitch("D5") && chord.appendAlter("**"));
    ++chord.headCount;  // a triangle head
    ASSERT_EQ(file.appendChord(chord), kOk);
    finish();
    EXPECT_EQ(attrs(file, "//head", "pitch"), (Texts{"B5", "A5", "E6", "F6", "C6", "G6", "D6"}));
    EXPECT_EQ(attrs(file, "//head", "shape"),
              (Texts{"(none)", "(none)", "(none)", "(none)", "(none)", "(none)", "triangle"}));
    EXPECT_EQ(attrs(file, "//head/alter", "step"), (Texts{"-1", "-1", "(none)", "1"}));
    EXPECT_EQ(attrs(file, "//head/alter", "display"), (Texts{"parenth", "(none)", "force", "(none)"}));
    EXPECT_EQ(attrs(file, "//head[alter]", "pitch"), (Texts{"B5", "A5", "E6", "G6"}));
    EXPECT_EQ(attrs(file, "//head/tie", "begin").size(), 7u);
    EXPECT_EQ(attrs(file, "//head/tie", "end"), Texts(7, "true"));
}

// ---------------------------------------------------------------------------------------
// Attached symbols

TEST_F(VxmlWriterTest, EachConvPropsBitGatesItsSymbols) {
    CScoreEvent event = note("quarter", 480, {{"E5"}});
    event.articulation = {5, 1};
    event.dynamic.code = 90;
    ASSERT_TRUE(event.appendWedge(crescendo(3, 1, 0)));
    ASSERT_TRUE(event.appendItem(CScoreEventItem{1, 1, 4, -1, kItemSlurStart}));
    ASSERT_TRUE(event.appendOrnament(ornament(4, 1)));
    CScoreLyric lyric;
    lyric.number = 1;
    lyric.text = "sing";
    ASSERT_TRUE(event.appendLyric(lyric));
    CScoreText words;
    words.text = "cresc.";
    ASSERT_TRUE(event.appendText(words));
    const struct {
        int bit;
        const char* xpath;
    } symbols[] = {
        {kConvArticulations, "chord/articulation[@type='normalAccent']"},
        {kConvDynamics, "chord/drawObjects/drawObj/text[content='f']"},
        {kConvWedges, "chord/drawObjects/drawObj/wedge"},
        {kConvSlurs, "chord/drawObjects/drawObj/slur"},
        {kConvTechnical, "chord/drawObjects/drawObj/text[content='w']"},
        {kConvLyrics, "chord/lyric/verse[@text='sing']"},
        {kConvWords, "chord/drawObjects/drawObj/text[content='cresc.']"},
    };
    file.setConvProps(-1);
    addSystem();
    ASSERT_EQ(file.appendChord(event), kOk);
    for (const auto& s : symbols) {
        file.setConvProps(-1 & ~s.bit);
        addSystem();
        ASSERT_EQ(file.appendChord(event), kOk);
    }
    file.setConvProps(0);
    addSystem();
    ASSERT_EQ(file.appendChord(event), kOk);
    finish();
    for (std::size_t off = 0; off < std::size(symbols); ++off) {
        for (const auto& s : symbols) {
            const std::string all = "//system[1]//" + std::string(s.xpath);
            const std::string without = "//system[" + std::to_string(off + 2) + "]//" + s.xpath;
            EXPECT_EQ(select(file, all).size(), 1u) << s.xpath;
            EXPECT_EQ(select(file, without).size(), s.bit == symbols[off].bit ? 0u : 1u)
                << "bit " << symbols[off].bit << " off: " << s.xpath;
        }
    }
    EXPECT_TRUE(select(file, "//system[9]//drawObjects").empty());
    EXPECT_TRUE(select(file, "//system[9]//lyric").empty());
    EXPECT_EQ(select(file, "//system[9]//chord/heads/head").size(), 1u);
}

TEST_F(VxmlWriterTest, EndingLabelsGiveTheirFirstAndLastNumber) {
    addSystem();
    const struct {
        const char* label;
        bool leftDown;
        bool rightDown;
        const char* first;
        const char* last;
    } cases[] = {
        {"1.", true, true, "1", "(none)"},  {"1.-2.", true, false, "1", "2"},
        {"1, 2", false, true, "1", "2"},    {"1. 2. 3.", true, true, "1", "3"},
        {"12", true, true, "12", "(none)"}, {"", true, true, "(none)", "(none)"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(file.appendChord(withEnding(note("quarter", 480, {{"C5"}}), c.label, 3, c.leftDown, c.rightDown)),
                  kOk);
    }
    finish();
    std::vector<xmlNodePtr> voltas = select(file, "//drawObj/volta");
    ASSERT_EQ(voltas.size(), std::size(cases));
    for (std::size_t i = 0; i < voltas.size(); ++i) {
        const auto& c = cases[i];
        EXPECT_EQ(attrOf(voltas[i], "firstNumber"), c.first) << c.label;
        EXPECT_EQ(attrOf(voltas[i], "lastNumber"), c.last) << c.label;
        EXPECT_EQ(attrOf(voltas[i], "leftBent"), c.leftDown ? "(none)" : "false") << c.label;
        EXPECT_EQ(attrOf(voltas[i], "rightBent"), c.rightDown ? "(none)" : "false") << c.label;
        EXPECT_EQ(attrOf(voltas[i], "x1"), "-1.5");
    }
    EXPECT_EQ(attrs(file, "//drawObj[volta]/basic", "noteRange"), Texts(std::size(cases), "3"));
}

TEST_F(VxmlWriterTest, OrnamentsWordsAndWedgesArePlacedByTheirRules) {
    addSystem();
    ASSERT_EQ(file.appendClefSign(kTreble, true), kOk);
    CScoreEvent event = note("quarter", 480, {{"B4"}});  // the middle line
    ASSERT_TRUE(event.appendOrnament(ornament(1, 1, 6)));  // trill with a sharp below it
    ASSERT_TRUE(event.appendOrnament(ornament(23, 1)));    // a wavy line has no glyph
    CScoreOrnament shifted = ornament(2, 2);
    shifted.position = 90;
    ASSERT_TRUE(event.appendOrnament(shifted));
    CScoreText placed;
    placed.text = "p dolce";
    placed.bold = 1;
    placed.height = 12;
    CScoreText positioned;
    positioned.text = "x";
    positioned.offsetX = -180;
    positioned.face = std::string(kMusicFontFace);
    ASSERT_TRUE(event.appendText(placed) && event.appendText(positioned));
    CScoreWedge diminuendo = crescendo(5, 1, 360);
    diminuendo.code = kWedgeDiminuendo;
    diminuendo.startOffset = 18;
    CScoreWedge stop = crescendo(0, 1, 0);
    stop.code = kWedgeStop;
    ASSERT_TRUE(event.appendWedge(diminuendo) && event.appendWedge(stop));
    event.dynamic = {-4, 1, 0.0f};  // sf above
    ASSERT_EQ(file.appendChord(event), kOk);
    ASSERT_EQ(file.appendRest(rest("quarter", 480)), kOk);
    finish();
    std::vector<std::string> contents;
    for (xmlNodePtr node : select(file, "//chord//drawObj/text/content")) contents.push_back(xmldomNodeText(node));
    EXPECT_EQ(contents, (Texts{"s", "t", "S", "l", "p dolce", "x"}));
    EXPECT_EQ(attrs(file, "//chord//drawObj/text", "x"), (Texts{"0", "0", "0", "0.500", "-8", "-1.000"}));
    EXPECT_EQ(attrs(file, "//chord//drawObj/text", "y"), (Texts{"-4.0", "-3.0", "4.5", "3.5", "-2.5", "-2.5"}));
    EXPECT_EQ(attrs(file, "//chord//drawObj/text/font", "height"), (Texts{"18", "18", "15", "18", "12", "10"}));
    EXPECT_EQ(attrs(file, "//chord//drawObj/text/font", "weight"),
              (Texts{"(none)", "(none)", "(none)", "(none)", "700", "(none)"}));
    EXPECT_EQ(attrs(file, "//chord//drawObj/text/font", "charSet"), (Texts{"2", "2", "2", "2", "(none)", "2"}));
    EXPECT_EQ(attrs(file, "//wedge", "x1"), Texts{"0.100"});
    EXPECT_EQ(attrs(file, "//wedge", "x2"), Texts{"2.000"});
    EXPECT_EQ(attrs(file, "//wedge", "y1"), Texts{"-4.5"});
    EXPECT_EQ(attrs(file, "//wedge", "decrescendo"), Texts{"true"});
    EXPECT_EQ(attrs(file, "//drawObj[wedge]/basic", "noteRange"), Texts{"5"});
    EXPECT_TRUE(select(file, "//rest/drawObjects").empty());
}
