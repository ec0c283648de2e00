#include <gtest/gtest.h>

#include "scorecore/result_codes.h"
#include "scorecore/score_event.h"

#include <climits>
#include <string>
#include <vector>

namespace scorecore {
namespace {

// One head per (pitch, alteration) pair, counted as the readers count them.
void addHeads(CScoreEvent& event, const std::vector<std::pair<std::string, std::string>>& heads) {
    for (const auto& [pitch, alter] : heads) {
        ASSERT_TRUE(event.appendHead(0));
        ASSERT_TRUE(event.appendPitch(pitch)) << pitch;
        ASSERT_TRUE(event.appendAlter(alter)) << alter;
        ++event.headCount;
    }
}

void expectFreshState(const CScoreEvent& e) {
    EXPECT_EQ(e.start, 0);
    EXPECT_EQ(e.duration, 0);
    EXPECT_EQ(e.kind, 0u);
    EXPECT_EQ(e.tie, 0);
    EXPECT_EQ(e.beam, 0);
    EXPECT_EQ(e.stem, 0u);
    EXPECT_EQ(e.headCount, 0);
    EXPECT_EQ(e.itemCount() + e.lyricCount() + e.ornamentCount() + e.textCount() + e.wedgeCount(),
              0);
    EXPECT_TRUE(e.pitches.empty() && e.alterations.empty() && e.headFlags.empty());
    for (int i = 0; i < kMaxHeads; ++i) {
        EXPECT_EQ(e.midi[i], 0u) << i;
        EXPECT_EQ(e.accidentals[i].shown, -3) << i;
        EXPECT_EQ(e.accidentals[i].editorial, 0) << i;
    }
    EXPECT_EQ(e.articulation.code, 0);
    EXPECT_EQ(e.articulation.placement, 2);
    EXPECT_EQ(e.dynamic.code, 0);
    EXPECT_EQ(e.dynamic.placement, 2);
    EXPECT_EQ(e.dynamic.offset, 0.0f);
    EXPECT_EQ(e.drawValue, 0);
    EXPECT_EQ(e.drawSmallValue, -1);
    EXPECT_EQ(e.notationStaff, 0);
    EXPECT_TRUE(e.baseText.empty());
    EXPECT_EQ(e.tupletCount, 0);
    EXPECT_EQ(e.tupletNormal, 0);
    EXPECT_EQ(e.bracketNumber, 0);
    EXPECT_EQ(e.bracketOrientation, 0);
    EXPECT_EQ(e.bracketHasOrientation, 0);
    EXPECT_EQ(e.bracketNoteRange, -1);
    EXPECT_EQ(e.bracketPresent, 0);
    EXPECT_EQ(e.barline.type, -1);
    EXPECT_TRUE(e.barline.endingLabel.empty());
    EXPECT_EQ(e.barline.endingSpan, -1);
    EXPECT_EQ(e.barline.leftDown, 1);
    EXPECT_EQ(e.barline.rightDown, 1);
    EXPECT_EQ(e.barline.present, 0);
    EXPECT_EQ(e.dots, 0);
    EXPECT_EQ(e.meterBeats, 0);
    EXPECT_EQ(e.meterUnit, 0);
    EXPECT_EQ(e.introStaff, -1);
    EXPECT_EQ(e.introVoice, -1);
    EXPECT_EQ(e.ending, 0);
}

// An event with something in every field and list.
CScoreEvent filledEvent() {
    CScoreEvent e;
    e.start = 960;
    e.duration = 480;
    e.kind = kKindNote | kKindChord;
    e.tie = kTieStart;
    e.beam = 1;
    e.stem = 2;
    addHeads(e, {{"C5", "**"}, {"E5", "-1"}});
    e.midi[0] = 0x00503C90;
    e.accidentals[1] = {-1, 1};
    e.articulation = {5, 1};
    e.dynamic = {90, 1, 12.5f};
    e.drawValue = 3;
    e.drawSmallValue = 7;
    e.barline.type = 6;
    e.barline.endingLabel = "1, 2";
    e.dots = 1;
    e.tupletCount = 3;
    e.tupletNormal = 2;
    e.bracketNoteRange = 3;
    e.baseText = "1/4";
    e.notationStaff = 1;
    e.meterBeats = 3;
    e.meterUnit = 2;
    e.introStaff = 1;
    e.introVoice = 2;
    e.ending = 1;
    CScoreEventItem slur;
    slur.flags = kItemSlurStart;
    slur.span = 2;
    EXPECT_TRUE(e.appendItem(slur));
    CScoreLyric lyric;
    lyric.number = 1;
    lyric.text = "la";
    EXPECT_TRUE(e.appendLyric(lyric));
    CScoreOrnament trill;
    trill.code = 1;
    EXPECT_TRUE(e.appendOrnament(trill));
    CScoreText words;
    words.text = "dolce";
    EXPECT_TRUE(e.appendText(words));
    words.text = "poco";
    EXPECT_TRUE(e.appendText(words));
    CScoreWedge wedge;
    wedge.code = kWedgeCrescendo;
    wedge.span = 3;
    EXPECT_TRUE(e.appendWedge(wedge));
    return e;
}

// --- lifecycle -----------------------------------------------------------------------

TEST(ScoreEvent, FreshRecordHasNoHeadsListsOrAccidentals) {
    const CScoreEvent e;
    expectFreshState(e);
}

TEST(ScoreEvent, ClearResetsEveryFieldAndList) {
    CScoreEvent e = filledEvent();
    e.clear();
    expectFreshState(e);
}

TEST(ScoreEvent, CopyToIsDeepAndReplacesTheTarget) {
    const CScoreEvent source = filledEvent();
    CScoreEvent copy;
    copy.appendText(CScoreText{});  // stale content of the target must not survive
    copy.headCount = 5;

    ASSERT_TRUE(source.copyTo(copy));
    EXPECT_EQ(copy.textCount(), 2);
    EXPECT_EQ(copy.texts[0].text, "dolce");
    EXPECT_EQ(copy.texts[1].text, "poco");
    EXPECT_EQ(copy.headCount, 2);
    EXPECT_EQ(copy.pitches, "C5E5");
    EXPECT_EQ(copy.alterations, "**-1");
    EXPECT_EQ(copy.headFlags.size(), 2u);
    EXPECT_EQ(copy.itemCount(), 1);
    EXPECT_EQ(copy.lyrics.at(0).text, "la");
    EXPECT_EQ(copy.ornamentCount(), 1);
    EXPECT_EQ(copy.wedgeCount(), 1);
    EXPECT_EQ(copy.midi[0], 0x00503C90u);
    EXPECT_EQ(copy.accidentals[1].shown, -1);
    EXPECT_EQ(copy.dynamic.offset, 12.5f);
    EXPECT_EQ(copy.barline.endingLabel, "1, 2");
    EXPECT_EQ(copy.introVoice, 2);
    EXPECT_EQ(copy.ending, 1);

    // Later changes to either side stay on that side.
    CScoreEvent source2 = source;
    source2.texts[0].text = "changed";
    source2.lyrics[0].text = "changed";
    ASSERT_TRUE(source2.copyTo(copy));
    source2.clear();
    EXPECT_EQ(copy.texts[0].text, "changed");
    EXPECT_EQ(copy.lyrics[0].text, "changed");

    EXPECT_TRUE(copy.copyTo(copy));
    EXPECT_EQ(copy.textCount(), 2);
}

// --- words ---------------------------------------------------------------------------

TEST(ScoreEventWords, SetHasAndClearFollowTheWordRules) {
    enum Op { Set, Clear };
    struct Case {
        uint32_t before;
        Op op;
        uint32_t bits;
        uint32_t after;
    };
    const Case cases[] = {
        {0x1, Set, 0x10, 0x11},
        {0x11, Set, 0, 0},        // 0 clears the word
        {0x11, Clear, 0x10, 0x1},
        {0x1, Clear, 0x4, 0x1},   // none of the bits set: unchanged
        {0x1, Clear, 0x3, 0x2},   // one of them set: the others are toggled on (XOR)
        {0x3, Clear, 0x3, 0x0},
    };
    for (const Case& c : cases) {
        CScoreEvent e;
        e.kind = c.before;
        e.tie = static_cast<int32_t>(c.before);
        if (c.op == Set) {
            e.setKind(c.bits);
            e.setTie(static_cast<int32_t>(c.bits));
        } else {
            e.clearKind(c.bits);
            e.clearTie(static_cast<int32_t>(c.bits));
        }
        EXPECT_EQ(e.kind, c.after) << c.before << " " << c.op << " " << c.bits;
        EXPECT_EQ(static_cast<uint32_t>(e.tie), c.after) << c.before << " " << c.op << " " << c.bits;
    }
}

TEST(ScoreEventWords, TestingWithZeroBitsAsksForAnEmptyWord) {
    struct Case {
        uint32_t word;
        uint32_t bits;
        bool expected;
    };
    const Case cases[] = {
        {0, 0, true}, {kKindNote, 0, false}, {kKindNote | kKindRest, kKindRest, true},
        {kKindNote, kKindRest, false}, {0, kKindRest, false},
    };
    for (const Case& c : cases) {
        CScoreEvent e;
        e.kind = c.word;
        e.beam = static_cast<int32_t>(c.word);
        e.stem = c.word;
        EXPECT_EQ(e.isKind(c.bits), c.expected) << c.word << " " << c.bits;
        EXPECT_EQ(e.hasBeam(static_cast<int32_t>(c.bits)), c.expected) << c.word << " " << c.bits;
        EXPECT_EQ(e.hasStem(c.bits), c.expected) << c.word << " " << c.bits;
    }
}

TEST(ScoreEventWords, TieFlagsAndTremolo) {
    CScoreEvent e;
    e.setTieFlags(true, true);
    EXPECT_EQ(e.tie, 5);
    e.setTieFlags(false, true);
    EXPECT_EQ(e.tie, 4);
    e.setTieFlags(false, false);
    EXPECT_EQ(e.tie, 0);

    for (uint32_t stem : {1u, 2u, 3u, 128u}) {
        e.stem = stem;
        EXPECT_FALSE(e.hasTremolo()) << stem;
    }
    for (uint32_t stem : {4u, 8u, 16u, 32u, 64u, 1u | 16u}) {
        e.stem = stem;
        EXPECT_TRUE(e.hasTremolo()) << stem;
    }
}

TEST(ScoreEventItem, AddFlagsAndHasFlag) {
    CScoreEventItem item;
    EXPECT_TRUE(item.hasFlag(0));  // both 0
    EXPECT_FALSE(item.hasFlag(kItemSlurStart));
    EXPECT_EQ(item.addFlags(kItemSlurStart), kItemSlurStart);
    EXPECT_EQ(item.addFlags(kItemSlurred), kItemSlurStart | kItemSlurred);
    EXPECT_TRUE(item.hasFlag(kItemSlurred | kItemLineStop));
    EXPECT_FALSE(item.hasFlag(kItemLineStop));
    EXPECT_FALSE(item.hasFlag(0));
    EXPECT_EQ(item.addFlags(0), 0);
}

// --- heads ---------------------------------------------------------------------------

TEST(ScoreEventHeads, AThirtyThirdHeadIsRefused) {
    CScoreEvent e;
    for (int i = 0; i < kMaxHeads; ++i) {
        ASSERT_TRUE(e.appendHead(i));
        ASSERT_TRUE(e.appendPitch("C5"));
        ASSERT_TRUE(e.appendAlter("**"));
        ++e.headCount;
    }
    EXPECT_FALSE(e.appendHead(99));
    EXPECT_FALSE(e.appendPitch("D5"));
    EXPECT_FALSE(e.appendAlter("+1"));
    EXPECT_EQ(e.headFlags.size(), 32u);
    EXPECT_EQ(e.pitches.size(), 64u);
    EXPECT_EQ(e.alterations.size(), 64u);

    // A head count from a broken file is never trusted past the slots.
    e.headCount = 1000;
    e.updateMidiKeys();
    EXPECT_EQ(e.getStep(40), 0);
    EXPECT_FALSE(e.appendHead(0));
    e.headCount = -3;
    EXPECT_FALSE(e.appendHead(0));

    // Pitches written directly past the slots are not keyed past them either: the
    // record's next field must survive.
    CScoreEvent direct;
    for (int i = 0; i < 40; ++i) direct.pitches += "B9";
    direct.headCount = 40;
    direct.articulation.code = 5;
    direct.updateMidiKeys();
    EXPECT_EQ((direct.midi[31] >> 8) & 0xFF, 119u);
    EXPECT_EQ(direct.articulation.code, 5);
}

TEST(ScoreEventHeads, MalformedPitchAndAlterationTextsAreRefused) {
    struct Case {
        const char* text;
        bool pitchOk;
        bool alterOk;
    };
    const Case cases[] = {
        {"C5", true, false}, {"A0", true, false},  {"B9", true, false},  {"+1", false, true},
        {"-1", false, true}, {"+2", false, true},  {"-2", false, true},  {"**", false, true},
        {"", false, false},  {"C", false, false},  {"H4", false, false}, {"c4", false, false},
        {"C10", false, false}, {"CX", false, false}, {"+3", false, false}, {"1", false, false},
        {"+1 ", false, false}, {"*", false, false}, {"++", false, false},
    };
    for (const Case& c : cases) {
        CScoreEvent e;
        EXPECT_EQ(e.appendPitch(c.text), c.pitchOk) << '"' << c.text << '"';
        EXPECT_EQ(e.appendAlter(c.text), c.alterOk) << '"' << c.text << '"';
        EXPECT_EQ(e.pitches.size(), c.pitchOk ? 2u : 0u) << c.text;
        EXPECT_EQ(e.alterations.size(), c.alterOk ? 2u : 0u) << c.text;
    }
}

TEST(ScoreEventHeads, UpdateMidiKeysSetsOnlyTheKeyByteWithinRange) {
    struct Case {
        const char* pitch;
        const char* alter;
        uint32_t key;
    };
    const Case cases[] = {
        {"C5", "**", 60}, {"F5", "+1", 66}, {"B4", "-2", 57}, {"A0", "+2", 11},
        {"C0", "-1", 0},  // below 0: clamped
        {"C0", "-2", 0},  {"B9", "+2", 121},
    };
    CScoreEvent e;
    for (const Case& c : cases) {
        ASSERT_TRUE(e.appendPitch(c.pitch));
        ASSERT_TRUE(e.appendAlter(c.alter));
        ++e.headCount;
    }
    for (auto& slot : e.midi) slot = 0x00FFFF90;  // status 0x90, velocity 0xFF
    e.updateMidiKeys();
    for (int i = 0; i < e.headCount; ++i) {
        const Case& c = cases[i];
        EXPECT_EQ((e.midi[i] >> 8) & 0xFF, c.key) << c.pitch << c.alter;
        EXPECT_EQ(e.midi[i] & 0xFFFF00FF, 0x00FF0090u) << c.pitch << c.alter;
    }
    EXPECT_EQ(e.midi[e.headCount], 0x00FFFF90u);  // past headCount: untouched
}

TEST(ScoreEventHeads, PitchTextsBetweenMusicXmlAndTvrXmlOctaves) {
    struct Case {
        const char* pitch;
        const char* raised;
        const char* lowered;
    };
    const Case cases[] = {
        {"C4", "C5", "C3"}, {"G7", "G8", "G6"},
        {"A8", "A8", "A7"},  // 9 would not be below 9
        {"B9", "B9", "B8"},
        {"D0", "D1", "D0"},  // nothing below octave 0
    };
    for (const Case& c : cases) {
        CScoreEvent e;
        addHeads(e, {{c.pitch, "**"}});
        std::string raised;
        std::string lowered;
        ASSERT_TRUE(e.getPitchTextRaised(0, raised));
        ASSERT_TRUE(e.getPitchText(0, lowered));
        EXPECT_EQ(raised, c.raised) << c.pitch;
        EXPECT_EQ(lowered, c.lowered) << c.pitch;
    }
}

TEST(ScoreEventHeads, LookupsIgnoreHeadsOutsideTheCount) {
    CScoreEvent e;
    addHeads(e, {{"D5", "+1"}, {"E5", "**"}});
    // A third head appended but not counted.
    ASSERT_TRUE(e.appendHead(7));
    ASSERT_TRUE(e.appendPitch("G5"));
    ASSERT_TRUE(e.appendAlter("-2"));

    EXPECT_EQ(e.getStep(0), 'D');
    EXPECT_TRUE(e.hasAlter(0));
    EXPECT_FALSE(e.hasAlter(1));  // "**"
    EXPECT_EQ(e.getAlterText(0), "1");
    EXPECT_EQ(e.getAlterText(1), "**");

    std::string text = "unchanged";
    int32_t flags = -1;
    for (int32_t head : {-1, 2, 32, INT_MIN, INT_MAX}) {
        EXPECT_EQ(e.getStep(head), 0) << head;
        EXPECT_FALSE(e.hasAlter(head)) << head;
        EXPECT_EQ(e.getAlterText(head), "") << head;
        EXPECT_FALSE(e.getPitchText(head, text)) << head;
        EXPECT_FALSE(e.getHeadFlags(head, flags)) << head;
        EXPECT_FALSE(e.hasHeadFlag(head, 0)) << head;
        e.setHeadFlags(head, 0x40);
    }
    EXPECT_EQ(text, "unchanged");
    EXPECT_EQ(e.headFlags[2], 7);  // the uncounted head was not touched

    // A counted head without pitch or flags (a reader that set the count directly).
    e.headCount = 3;
    e.pitches.resize(4);
    e.headFlags.resize(2);
    EXPECT_EQ(e.getStep(2), 0);
    e.setHeadFlags(2, 1);
    EXPECT_EQ(e.headFlags.size(), 2u);
}

// The first heads' flags live in the record, the later ones in a block of their
// own: both are copied, and flags cut off by a shrink do not come back.
TEST(ScoreEventHeads, FlagsOfManyHeadsCopyAndShrinkLikeAList) {
    CScoreEvent e;
    for (int32_t h = 0; h < 6; ++h) {
        ASSERT_TRUE(e.appendHead(h + 1));
        ++e.headCount;
    }
    CScoreEvent copy;
    ASSERT_TRUE(e.copyTo(copy));
    e.headFlags.resize(2);
    e.headFlags.resize(6);
    for (int32_t h = 0; h < 6; ++h) {
        int32_t flags = -1;
        ASSERT_TRUE(copy.getHeadFlags(h, flags));
        EXPECT_EQ(flags, h + 1) << h;
        ASSERT_TRUE(e.getHeadFlags(h, flags));
        EXPECT_EQ(flags, h < 2 ? h + 1 : 0) << h;
    }
}

TEST(ScoreEventHeads, HeadFlagsOrInAndZeroClears) {
    CScoreEvent e;
    addHeads(e, {{"C5", "**"}});
    EXPECT_TRUE(e.hasHeadFlag(0, 0));
    e.setHeadFlags(0, 2);
    e.setHeadFlags(0, 8);
    int32_t flags = 0;
    ASSERT_TRUE(e.getHeadFlags(0, flags));
    EXPECT_EQ(flags, 10);
    EXPECT_TRUE(e.hasHeadFlag(0, 8));
    EXPECT_FALSE(e.hasHeadFlag(0, 0));
    e.setHeadFlags(0, 0);
    EXPECT_TRUE(e.hasHeadFlag(0, 0));

    e.freeHeads();
    EXPECT_FALSE(e.getHeadFlags(0, flags));
    EXPECT_EQ(e.getStep(0), 'C');  // pitches stay
}

// --- lists ---------------------------------------------------------------------------

TEST(ScoreEventLists, EmptyEntriesAreSkippedButReportSuccess) {
    CScoreEvent e;
    EXPECT_TRUE(e.appendItem(CScoreEventItem{}));
    EXPECT_TRUE(e.appendLyric(CScoreLyric{}));
    EXPECT_TRUE(e.appendOrnament(CScoreOrnament{}));
    EXPECT_TRUE(e.appendWedge(CScoreWedge{}));
    EXPECT_EQ(e.itemCount() + e.lyricCount() + e.ornamentCount() + e.wedgeCount(), 0);
}

TEST(ScoreEventLists, InsertClampsToTheLastPosition) {
    struct Case {
        int32_t at;
        std::vector<int32_t> order;
    };
    const Case cases[] = {
        {0, {9, 1, 2, 3}}, {1, {1, 9, 2, 3}}, {2, {1, 2, 9, 3}},
        {3, {1, 2, 9, 3}}, {99, {1, 2, 9, 3}}, {-5, {9, 1, 2, 3}},
    };
    for (const Case& c : cases) {
        CScoreEvent e;
        for (int32_t n : {1, 2, 3}) {
            CScoreWedge w;
            w.code = kWedgeCrescendo;
            w.number = n;
            e.appendWedge(w);
            CScoreEventItem item;
            item.flags = kItemSlurStart;
            item.number = n;
            e.appendItem(item);
        }
        CScoreWedge w;
        w.code = kWedgeStop;
        w.number = 9;
        ASSERT_TRUE(e.insertWedge(w, c.at));
        CScoreEventItem item;
        item.flags = kItemSlurStop;
        item.number = 9;
        ASSERT_TRUE(e.insertItem(item, c.at));
        std::vector<int32_t> wedges;
        std::vector<int32_t> items;
        for (const auto& x : e.wedges) wedges.push_back(x.number);
        for (const auto& x : e.items) items.push_back(x.number);
        EXPECT_EQ(wedges, c.order) << "at " << c.at;
        EXPECT_EQ(items, c.order) << "at " << c.at;
    }

    CScoreEvent empty;
    ASSERT_TRUE(empty.insertWedge(CScoreWedge{}, 5));
    EXPECT_EQ(empty.wedgeCount(), 1);
}

TEST(ScoreEventLists, TextFaceIsCutToThirtyTwoCharacters) {
    struct Case {
        std::string face;
        std::string kept;
    };
    const std::string ascii40(40, 'a');
    std::string umlauts;  // 40 two-byte characters
    for (int i = 0; i < 40; ++i) umlauts += "\xC3\xA4";
    const Case cases[] = {
        {"Times New Roman", "Times New Roman"},
        {ascii40, std::string(32, 'a')},
        {umlauts, umlauts.substr(0, 64)},
        {std::string(31, 'a') + "\xE2\x82\xAC" + "b", std::string(31, 'a') + "\xE2\x82\xAC"},
    };
    for (const Case& c : cases) {
        CScoreEvent e;
        CScoreText t;
        t.face = c.face;
        t.text = std::string(300, 'x');  // the text itself is never cut
        ASSERT_TRUE(e.appendText(t));
        EXPECT_EQ(e.texts[0].face, c.kept);
        EXPECT_EQ(e.texts[0].text.size(), 300u);
    }
}

TEST(ScoreEventLists, SearchesOverItemsWedgesAndOrnaments) {
    CScoreEvent e;
    EXPECT_EQ(e.findWavyLineOrnament(), -1);
    for (auto [code, second] : {std::pair{1, 5}, std::pair{1, 23}, std::pair{23, 0}}) {
        CScoreOrnament o;
        o.code = code;
        o.secondCode = second;
        e.appendOrnament(o);
    }
    EXPECT_EQ(e.findWavyLineOrnament(), 1);

    CScoreWedge w;
    w.code = kWedgeDiminuendo;
    e.appendWedge(w);
    EXPECT_TRUE(e.isWedge(0, kWedgeDiminuendo));
    EXPECT_FALSE(e.isWedge(0, kWedgeCrescendo));
    EXPECT_FALSE(e.isWedge(1, kWedgeDiminuendo));
    EXPECT_FALSE(e.isWedge(-1, kWedgeDiminuendo));
    EXPECT_TRUE(e.hasWedge(kWedgeDiminuendo));
    EXPECT_FALSE(e.hasWedge(kWedgeStop));

    EXPECT_FALSE(e.hasItemFlag(kItemSlurStart));
    CScoreEventItem line;
    line.flags = kItemLineStart;
    line.span = 5;
    CScoreEventItem slur;
    slur.flags = kItemSlurStart | kItemSlurred;
    slur.span = 5;
    CScoreEventItem unsetSlur;
    unsetSlur.flags = kItemSlurStart;
    e.appendItem(line);
    e.appendItem(slur);
    e.appendItem(unsetSlur);
    EXPECT_TRUE(e.hasItemFlag(kItemSlurred));
    e.limitSlurSpan(2);
    EXPECT_EQ(e.items[0].span, 5);  // a line is not a slur
    EXPECT_EQ(e.items[1].span, 2);
    EXPECT_EQ(e.items[2].span, -1);

    e.freeItems();
    e.freeWedges();
    e.freeOrnaments();
    EXPECT_EQ(e.itemCount() + e.wedgeCount() + e.ornamentCount(), 0);
}

TEST(ScoreEventLists, LyricTextIsCopiedAndAnEmptyTextKeepsTheOld) {
    CScoreLyric lyric;
    lyric.number = 2;
    EXPECT_TRUE(lyric.setText("Ky"));
    EXPECT_TRUE(lyric.setText(""));
    EXPECT_EQ(lyric.text, "Ky");
    CScoreEvent e;
    ASSERT_TRUE(e.appendLyric(lyric));
    lyric.setText("ri");
    EXPECT_EQ(e.lyrics[0].text, "Ky");
}

// --- durations -----------------------------------------------------------------------

TEST(ScoreEventDurations, TypeNames) {
    struct Case {
        int32_t duration;
        bool addHalf;
        int result;
        const char* name;
    };
    const Case cases[] = {
        {7680, false, kOk, "long"},   {3840, false, kOk, "breve"},  {1920, false, kOk, "whole"},
        {960, false, kOk, "half"},    {480, false, kOk, "quarter"}, {240, false, kOk, "eighth"},
        {120, false, kOk, "16th"},    {60, false, kOk, "32nd"},     {30, false, kOk, "64th"},
        {15, false, kOk, "128th"},    {320, true, kOk, "quarter"},
        {720, false, kErrNotPresent, "quarter"},
        {480, true, kErrNotPresent, "quarter"},  // 720
        {1000, false, kErrNotPresent, "half"},
        {9000, false, kErrNotPresent, "long"},
        {INT_MAX, true, kErrNotPresent, "long"},
        {479, false, kErrNotPresent, "256th"},
        {0, false, kErrNotPresent, "256th"},
        {-480, false, kErrNotPresent, "256th"},
    };
    for (const Case& c : cases) {
        CScoreEvent e;
        e.duration = c.duration;
        std::string name;
        EXPECT_EQ(e.getTypeName(name, c.addHalf), c.result) << c.duration << " " << c.addHalf;
        EXPECT_EQ(name, c.name) << c.duration << " " << c.addHalf;
        EXPECT_EQ(e.getTypeName(nullptr, c.addHalf), c.result);
        EXPECT_EQ(e.baseText, c.name);
    }
}

TEST(ScoreEventDurations, BaseTexts) {
    struct Case {
        int32_t duration;
        bool addHalf;
        int result;
        const char* text;
    };
    const Case cases[] = {
        {3840, false, kOk, "2/1"},  {1920, false, kOk, "1/1"},  {960, false, kOk, "1/2"},
        {480, false, kOk, "1/4"},   {240, false, kOk, "1/8"},   {120, false, kOk, "1/16"},
        {60, false, kOk, "1/32"},   {30, false, kOk, "1/64"},   {15, false, kOk, "1/128"},
        {160, true, kOk, "1/8"},
        {7680, false, kErrNotPresent, "kept"},  // no base text for it
        {720, false, kErrNotPresent, "kept"},
        {480, true, kErrNotPresent, "kept"},
        {0, false, kErrNotPresent, "kept"},
    };
    for (const Case& c : cases) {
        CScoreEvent e;
        e.duration = c.duration;
        std::string text = "kept";
        EXPECT_EQ(e.getBaseText(text, c.addHalf), c.result) << c.duration;
        EXPECT_EQ(text, c.text) << c.duration;
        e.baseText = "kept";
        EXPECT_EQ(e.getBaseText(nullptr, c.addHalf), c.result) << c.duration;
        EXPECT_EQ(e.baseText, c.text) << c.duration;
    }
}

TEST(ScoreEventDurations, BeamCountFromTheBaseText) {
    const std::pair<const char*, int32_t> cases[] = {
        {"1/8", 1}, {"1/16", 2}, {"1/32", 3}, {"1/64", 4}, {"1/128", 5},
        {"1/4", 0}, {"", 0},     {"eighth", 0}, {"1/256", 0},
    };
    for (const auto& [text, beams] : cases) {
        CScoreEvent e;
        e.baseText = text;
        EXPECT_EQ(e.getBeamCount(), beams) << text;
    }
}

// --- sub-records ---------------------------------------------------------------------

TEST(ScoreEventSubRecords, ArticulationAndDynamicTableIndices) {
    const std::pair<int32_t, int32_t> articulations[] = {
        {1, 0}, {2, 2}, {4, 1}, {5, 4}, {6, 3}, {7, 6}, {8, 5}, {0, -1}, {3, -1}, {9, -1}, {-1, -1},
    };
    for (const auto& [code, index] : articulations) {
        EXPECT_EQ((CEventArticulation{code, 2}.tableIndex()), index) << code;
    }
    const std::pair<int32_t, int32_t> levels[] = {
        {127, 0}, {110, 1}, {90, 2}, {74, 3}, {62, 4}, {44, 5}, {22, 6}, {10, 7},
        {0, -1},  {-1, -1}, {100, -1},
    };
    for (const auto& [code, index] : levels) {
        EXPECT_EQ((CEventDynamic{code, 2, 0.0f}.levelIndex()), index) << code;
    }
}

TEST(ScoreEventSubRecords, ScaledVelocityStaysInRange) {
    struct Case {
        int32_t code;
        int32_t velocity;
        int32_t expected;
    };
    const Case cases[] = {
        {0, 100, 0},      {-2, 100, -2},     {-4, 20, -4},     {90, 74, 90},
        {74, 100, 100},   {44, 100, 59},     {127, 127, 127},  // 219 clamped
        {90, -50, 0},     {90, INT_MAX, 127}, {90, INT_MIN, 0}, {-7, 100, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ((CEventDynamic{c.code, 2, 0.0f}.scaledVelocity(c.velocity)), c.expected)
            << c.code << " at " << c.velocity;
    }
}

TEST(ScoreEventSubRecords, EndingLabelsAreKeptWhole) {
    struct Case {
        int32_t first;
        int32_t last;
        bool list;
        const char* label;
    };
    const Case cases[] = {
        {1, 0, false, "1."},
        {1, 2, false, "1.-2."},
        {1, 3, true, "1. 2. 3."},
        {2, 0, true, "2."},
        {0, 2, true, ""},
        {-1, 2, false, ""},
        {12, 14, true, "12. 13. 14."},
        {1000, 1001, false, "1000.-1001."},
        {3, 1, true, "3.-1."},                  // a backward list is written as given
        {1, 2000000000, true, "1.-2000000000."},  // too many to list
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CEventBarline::formEndingLabel(c.first, c.last, c.list), c.label)
            << c.first << " " << c.last << " " << c.list;
    }
    CEventBarline barline;
    barline.endingLabel = "1, 2";
    CScoreEvent e;
    e.barline = barline;
    CScoreEvent copy;
    ASSERT_TRUE(e.copyTo(copy));
    EXPECT_EQ(copy.barline.endingLabel, "1, 2");
}

TEST(ScoreEventSubRecords, KeyFifthsAreClampedBeforeUse) {
    struct Case {
        int32_t value;
        int8_t stored;
        int32_t safe;
    };
    const Case cases[] = {
        {0, 0, 0},   {-7, -7, -7}, {7, 7, 7},       {8, 7, 7},
        {-8, -7, -7}, {126, 7, 7}, {127, 127, 0},  // unset
        {128, 7, 7}, {-128, -7, -7}, {INT_MIN, -7, -7}, {INT_MAX, 7, 7},
    };
    for (const Case& c : cases) {
        CKeySig key;
        key.setFifths(c.value);
        key.setCancel(c.value);
        EXPECT_EQ(key.fifths, c.stored) << c.value;
        EXPECT_EQ(key.cancel, c.stored) << c.value;
        EXPECT_EQ(key.safeFifths(), c.safe) << c.value;
    }
    // Written directly, as a bytewise reader might.
    CKeySig raw;
    raw.fifths = -100;
    EXPECT_EQ(raw.safeFifths(), -7);
    raw.fifths = 100;
    EXPECT_EQ(raw.safeFifths(), 7);
    EXPECT_FALSE(CKeySig{}.isSet());
}

TEST(ScoreEventSubRecords, OrnamentNotationAndClefComparison) {
    for (int32_t code = 0; code <= 25; ++code) {
        CScoreOrnament o;
        o.code = code;
        const bool drawnApart = (code >= 13 && code <= 16) || (code >= 19 && code <= 22);
        EXPECT_EQ(o.isNotation(), !drawnApart) << code;
    }
    const CScoreClef treble;
    EXPECT_TRUE(treble.sameAs(CScoreClef{6, 1, 0}));
    EXPECT_FALSE(treble.sameAs(CScoreClef{7, 1, 0}));
    EXPECT_FALSE(treble.sameAs(CScoreClef{6, 2, 0}));
    EXPECT_FALSE(treble.sameAs(CScoreClef{6, 1, -1}));
}

}  // namespace
}  // namespace scorecore
