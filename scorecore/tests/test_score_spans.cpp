#include <gtest/gtest.h>

#include "scorecore/score_spans.h"

#include <vector>

namespace scorecore {
namespace {

CScoreEventItem item(int32_t flags, int32_t span) {
    CScoreEventItem i;
    i.flags = flags;
    i.span = span;
    return i;
}

CScoreWedge wedge(int32_t code, int32_t span) {
    CScoreWedge w;
    w.code = code;
    w.span = span;
    return w;
}

// Runs a carrier over a voice the way a writer does: stops first, then new starts,
// with n = the number of events after each one.
template <class Carrier>
void carry(Carrier& carrier, std::vector<CScoreEvent>& voice) {
    for (size_t i = 0; i < voice.size(); ++i) {
        ASSERT_TRUE(carrier.closeDue(voice[i]));
        ASSERT_TRUE(carrier.take(voice[i], static_cast<int32_t>(voice.size() - 1 - i)));
    }
}

// (flags, number) of every item, or (code, number) of every wedge, of one event.
std::vector<std::pair<int32_t, int32_t>> itemsOf(const CScoreEvent& e) {
    std::vector<std::pair<int32_t, int32_t>> out;
    for (const auto& i : e.items) out.emplace_back(i.flags, i.number);
    return out;
}

std::vector<std::pair<int32_t, int32_t>> wedgesOf(const CScoreEvent& e) {
    std::vector<std::pair<int32_t, int32_t>> out;
    for (const auto& w : e.wedges) out.emplace_back(w.code, w.number);
    return out;
}

using Pairs = std::vector<std::pair<int32_t, int32_t>>;

TEST(ScoreSpans, SlurredEvent) {
    const std::pair<int32_t, bool> cases[] = {
        {kItemSlurStart, true}, {kItemSlurred, true},  {kItemSlurStop | kItemSlurred, true},
        {kItemSlurStop, false}, {kItemLineStart, false}, {kItemLineStop, false},
    };
    for (const auto& [flags, slurred] : cases) {
        CScoreEvent e;
        e.appendItem(item(kItemLineStop, -1));
        e.appendItem(item(flags, 2));
        EXPECT_EQ(scEventIsSlurred(e), slurred) << flags;
    }
    EXPECT_FALSE(scEventIsSlurred(CScoreEvent{}));
}

TEST(ScoreSpans, SlursAndLinesCloseOnTheEventTheirSpanCountsDownTo) {
    std::vector<CScoreEvent> voice(4);
    voice[0].appendItem(item(kItemSlurStart | kItemSlurred, 2));
    voice[0].appendItem(item(kItemLineStart, 1));
    voice[1].appendItem(item(kItemSlurStart, 1));  // starts where the line stops
    CPendingItems carrier;
    carry(carrier, voice);

    EXPECT_EQ(itemsOf(voice[0]),
              (Pairs{{kItemSlurStart | kItemSlurred, 1}, {kItemLineStart, 2}}));
    // Stops go in front of what starts on the same event.
    EXPECT_EQ(itemsOf(voice[1]), (Pairs{{kItemLineStop, 2}, {kItemSlurStart, 3}}));
    EXPECT_EQ(itemsOf(voice[2]), (Pairs{{kItemSlurStop, 1}, {kItemSlurStop, 3}}));
    EXPECT_TRUE(voice[3].items.empty());
    EXPECT_EQ(carrier.pendingCount(), 0);
}

TEST(ScoreSpans, SpanPastTheVoiceEndClosesOnTheLastEvent) {
    std::vector<CScoreEvent> voice(3);
    voice[0].appendItem(item(kItemSlurStart, 50));
    CPendingItems carrier;
    carry(carrier, voice);
    EXPECT_EQ(voice[0].items[0].span, 2);
    EXPECT_EQ(itemsOf(voice[2]), (Pairs{{kItemSlurStop, 1}}));
    EXPECT_EQ(carrier.pendingCount(), 0);
}

TEST(ScoreSpans, ItemsWithoutARemainingSpanOrNotStartsAreNotTaken) {
    CScoreEvent e;
    e.appendItem(item(kItemSlurStart, -1));
    e.appendItem(item(kItemSlurStart, 0));
    e.appendItem(item(kItemSlurStop, 3));
    e.appendItem(item(kItemSlurred, 3));
    CPendingItems carrier;
    ASSERT_TRUE(carrier.take(e, 10));
    EXPECT_EQ(carrier.pendingCount(), 0);
    for (const auto& i : e.items) EXPECT_EQ(i.number, 0);
}

TEST(ScoreSpans, ItemCarrierWithNoEventsLeftTakesNothingAndZeroesSpans) {
    CScoreEvent e;
    e.appendItem(item(kItemSlurStart, 3));
    e.appendItem(item(kItemLineStart, -1));
    e.appendItem(item(kItemSlurStop, 2));
    CPendingItems carrier;
    ASSERT_TRUE(carrier.take(e, 0));
    EXPECT_EQ(carrier.pendingCount(), 0);
    for (const auto& i : e.items) EXPECT_EQ(i.span, 0);
    EXPECT_EQ(e.items[0].number, 0);
}

TEST(ScoreSpans, WedgeWithSpanZeroClosesRightAfterItself) {
    CScoreEvent e;
    e.appendWedge(wedge(kWedgeCrescendo, 0));
    e.appendWedge(wedge(kWedgeDiminuendo, 2));
    e.appendWedge(wedge(kWedgeCrescendo, -1));  // no span known: left alone
    CPendingWedges carrier;
    ASSERT_TRUE(carrier.take(e, 5));
    EXPECT_EQ(wedgesOf(e), (Pairs{{kWedgeCrescendo, 1},
                                  {kWedgeStop, 1},
                                  {kWedgeDiminuendo, 2},
                                  {kWedgeCrescendo, 0}}));
    EXPECT_EQ(carrier.pendingCount(), 1);

    // With no events left every wedge closes on its own event.
    CScoreEvent last;
    last.appendWedge(wedge(kWedgeDiminuendo, 4));
    ASSERT_TRUE(carrier.take(last, 0));
    EXPECT_EQ(wedgesOf(last), (Pairs{{kWedgeDiminuendo, 3}, {kWedgeStop, 3}}));
    EXPECT_EQ(carrier.pendingCount(), 1);
}

TEST(ScoreSpans, WedgesCloseWithAStopCopyAndNumbersWrapAfterSix) {
    std::vector<CScoreEvent> voice(9);
    for (int i = 0; i < 7; ++i) voice[static_cast<size_t>(i)].appendWedge(wedge(kWedgeCrescendo, 2));
    CPendingWedges carrier;
    carry(carrier, voice);

    EXPECT_EQ(wedgesOf(voice[0]), (Pairs{{kWedgeCrescendo, 1}}));
    EXPECT_EQ(wedgesOf(voice[1]), (Pairs{{kWedgeCrescendo, 2}}));
    EXPECT_EQ(wedgesOf(voice[2]), (Pairs{{kWedgeStop, 1}, {kWedgeCrescendo, 3}}));
    EXPECT_EQ(wedgesOf(voice[6]), (Pairs{{kWedgeStop, 5}, {kWedgeCrescendo, 1}}));
    EXPECT_EQ(wedgesOf(voice[7]), (Pairs{{kWedgeStop, 6}}));
    EXPECT_EQ(wedgesOf(voice[8]), (Pairs{{kWedgeStop, 1}}));
    EXPECT_EQ(carrier.pendingCount(), 0);

    carrier.reset();
    CScoreEvent again;
    again.appendWedge(wedge(kWedgeDiminuendo, 1));
    ASSERT_TRUE(carrier.take(again, 1));
    EXPECT_EQ(again.wedges[0].number, 1);
}

TEST(ScoreItemList, CarriesDeepCopiesOfGraceNotes) {
    CScoreItemList list;
    CScoreEvent grace;
    grace.kind = kKindNote | kKindGrace;
    CScoreText text;
    text.text = "tr";
    grace.appendText(text);
    ASSERT_TRUE(list.appendEvent(grace, {1, 2, 3, 4, 5}));
    ASSERT_TRUE(list.appendInt(-7));
    ASSERT_TRUE(list.appendByte(200));
    ASSERT_TRUE(list.appendByte(9, CScoreListItem::kByte5));
    EXPECT_FALSE(list.appendByte(9, CScoreListItem::kInt));
    ASSERT_TRUE(list.appendTimeContext());
    ASSERT_TRUE(list.appendEvent(grace));
    grace.texts[0].text = "changed";

    EXPECT_EQ(list.size(), 6);
    EXPECT_EQ(list.countObjects(), 2);
    list.setDurations(60);
    ASSERT_NE(list.eventAt(0), nullptr);
    EXPECT_EQ(list.eventAt(0)->duration, 60);
    EXPECT_EQ(list.eventAt(0)->texts[0].text, "tr");
    EXPECT_EQ(list.eventAt(5)->duration, 60);
    EXPECT_EQ(list.at(0)->values[4], 5);
    EXPECT_EQ(list.at(1)->intValue, -7);
    EXPECT_EQ(list.at(2)->byteValue, 200);
    EXPECT_EQ(list.at(3)->type, CScoreListItem::kByte5);
    const CTimeContext& time = list.at(4)->time;
    EXPECT_EQ(time.ticksPerQuarter, 480);
    EXPECT_EQ(time.beats, 4);
    EXPECT_EQ(time.unitPower, 2);
    EXPECT_EQ(list.eventAt(1), nullptr);  // not an event
    EXPECT_EQ(list.eventAt(6), nullptr);
    EXPECT_EQ(list.at(-1), nullptr);

    list.flag = 3;
    list.clear();
    EXPECT_EQ(list.size(), 0);
    EXPECT_EQ(list.countObjects(), 0);
    EXPECT_EQ(list.flag, 127);
}

}  // namespace
}  // namespace scorecore
