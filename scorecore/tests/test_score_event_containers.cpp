#include <gtest/gtest.h>

#include "scorecore/score_event.h"

#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace scorecore {
namespace {

using MidiSlots = CHeadSlots<uint32_t, 4>;
using AccidentalSlots = CHeadSlots<CEventAccidental, 4>;

// Every slot as read through the const interface.
std::vector<uint32_t> readAll(const MidiSlots& slots) {
    std::vector<uint32_t> values;
    for (std::size_t i = 0; i < slots.size(); ++i) values.push_back(slots[i]);
    return values;
}

std::vector<std::string> textsOf(const CLazyList<CScoreText>& list) {
    std::vector<std::string> out;
    for (const CScoreText& t : list) out.push_back(t.text);
    return out;
}

CScoreText textOf(const std::string& text) {
    CScoreText t;
    t.text = text;
    return t;
}

CLazyList<CScoreText> listOf(std::initializer_list<const char*> texts) {
    CLazyList<CScoreText> list;
    for (const char* t : texts) list.push_back(textOf(t));
    return list;
}

// --- head slots ----------------------------------------------------------------------

TEST(ScoreEventHeadSlots, SlotsReadBackWhereWrittenAndDefaultElsewhere) {
    // Inline slots, the first and last overflow slot, and a chord spread over both.
    const std::vector<std::vector<std::size_t>> cases = {
        {0}, {3}, {4}, {31}, {0, 1, 2, 3, 4, 5}, {2, 17, 31},
    };
    for (const auto& written : cases) {
        MidiSlots midi;
        AccidentalSlots accidentals;
        std::vector<uint32_t> expected(kMaxHeads, 0u);
        for (std::size_t head : written) {
            midi[head] = 0x90u | static_cast<uint32_t>(head + 1) << 8;
            accidentals[head] = {static_cast<int8_t>(head % 2 ? -1 : 1), 1};
            expected[head] = midi[head];
        }
        const MidiSlots& constMidi = midi;
        const AccidentalSlots& constAccidentals = accidentals;
        EXPECT_EQ(readAll(constMidi), expected) << "first written " << written[0];
        for (std::size_t head = 0; head < static_cast<std::size_t>(kMaxHeads); ++head) {
            const bool isWritten = expected[head] != 0;
            EXPECT_EQ(constAccidentals[head].shown, isWritten ? (head % 2 ? -1 : 1) : -3) << head;
            EXPECT_EQ(constAccidentals[head].editorial, isWritten ? 1 : 0) << head;
        }
    }
}

TEST(ScoreEventHeadSlots, IndicesPastTheSlotsReachNoSlot) {
    MidiSlots midi;
    midi[0] = 7;
    midi[31] = 9;
    for (std::size_t bad : {std::size_t{32}, std::size_t{1000}, static_cast<std::size_t>(-1),
                            std::numeric_limits<std::size_t>::max() / 2}) {
        midi[bad] = 0xDEADu;
        EXPECT_EQ(midi[bad], 0u) << bad;  // a write there is not kept
        EXPECT_EQ(std::as_const(midi)[bad], 0u) << bad;
    }
    std::vector<uint32_t> expected(kMaxHeads, 0u);
    expected[0] = 7;
    expected[31] = 9;
    EXPECT_EQ(readAll(midi), expected);

    AccidentalSlots accidentals;
    accidentals[kMaxHeads].shown = 2;
    EXPECT_EQ(std::as_const(accidentals)[kMaxHeads].shown, -3);
}

TEST(ScoreEventHeadSlots, CopiesAreDeepAndReplaceTheTarget) {
    struct Case {
        const char* name;
        std::vector<std::size_t> sourceHeads;
        std::vector<std::size_t> targetHeads;
    };
    const Case cases[] = {
        {"inline over overflow", {0}, {0, 6, 20}},
        {"overflow over inline", {1, 9, 31}, {2}},
        {"overflow over overflow", {5}, {30}},
        {"nothing over overflow", {}, {12}},
    };
    for (const Case& c : cases) {
        MidiSlots source;
        for (std::size_t h : c.sourceHeads) source[h] = static_cast<uint32_t>(100 + h);
        const std::vector<uint32_t> sourceValues = readAll(source);

        MidiSlots assigned;
        for (std::size_t h : c.targetHeads) assigned[h] = 1;
        assigned = source;
        MidiSlots constructed(source);
        EXPECT_EQ(readAll(assigned), sourceValues) << c.name;
        EXPECT_EQ(readAll(constructed), sourceValues) << c.name;

        // Later writes on either side stay on that side.
        source[0] = 0xAAu;
        source[10] = 0xBBu;
        assigned[11] = 0xCCu;
        EXPECT_EQ(readAll(constructed), sourceValues) << c.name;
        EXPECT_EQ(std::as_const(source)[11], sourceValues[11]) << c.name;

        MidiSlots moved(std::move(constructed));
        EXPECT_EQ(readAll(moved), sourceValues) << c.name;
        MidiSlots moveAssigned;
        moveAssigned[25] = 3;
        moveAssigned = std::move(moved);
        EXPECT_EQ(readAll(moveAssigned), sourceValues) << c.name;
    }

    MidiSlots self;
    self[20] = 4;
    const MidiSlots& alias = self;
    self = alias;
    EXPECT_EQ(std::as_const(self)[20], 4u);
}

TEST(ScoreEventHeadSlots, IterationVisitsEveryHead) {
    MidiSlots midi;
    uint32_t n = 0;
    for (uint32_t& slot : midi) slot = ++n;
    EXPECT_EQ(n, static_cast<uint32_t>(kMaxHeads));
    const MidiSlots& constMidi = midi;
    EXPECT_EQ(std::distance(constMidi.begin(), constMidi.end()), kMaxHeads);
    uint32_t expected = 0;
    for (uint32_t value : constMidi) EXPECT_EQ(value, ++expected);

    const AccidentalSlots fresh;
    for (const CEventAccidental& slot : fresh) EXPECT_EQ(slot.shown, -3);
}

// --- lazy lists ----------------------------------------------------------------------

TEST(ScoreEventLazyList, EmptyListHoldsOnlyAPointer) {
    static_assert(sizeof(CLazyList<CScoreText>) == sizeof(void*));
    const CLazyList<CScoreText> list;
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(list.size(), 0u);
    EXPECT_EQ(list.begin(), list.end());
    EXPECT_THROW((void)list.at(0), std::out_of_range);
    std::size_t visited = 0;
    for (const CScoreText& t : list) visited += t.text.size() + 1;
    EXPECT_EQ(visited, 0u);
}

TEST(ScoreEventLazyList, InsertsPlaceEntriesAsAVectorWould) {
    struct Case {
        std::vector<const char*> start;
        std::ptrdiff_t at;
        std::vector<const char*> inserted;  // one entry goes in alone, more as a range
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {{}, 0, {"x"}, {"x"}},
        {{}, 0, {"x", "y"}, {"x", "y"}},
        {{}, 0, {}, {}},
        {{"a", "b"}, 0, {"x"}, {"x", "a", "b"}},
        {{"a", "b"}, 1, {"x", "y"}, {"a", "x", "y", "b"}},
        {{"a", "b"}, 2, {"x"}, {"a", "b", "x"}},
        {{"a", "b"}, 2, {}, {"a", "b"}},
    };
    for (const Case& c : cases) {
        CLazyList<CScoreText> list;
        for (const char* t : c.start) list.push_back(textOf(t));
        std::vector<CScoreText> entries;
        for (const char* t : c.inserted) entries.push_back(textOf(t));

        CLazyList<CScoreText>::iterator placed;
        if (entries.size() == 1) {
            placed = list.insert(list.begin() + c.at, entries[0]);
        } else {
            // Moved in, as a reader hands over the marks it collected.
            placed = list.insert(list.begin() + c.at, std::make_move_iterator(entries.begin()),
                                 std::make_move_iterator(entries.end()));
        }
        EXPECT_EQ(textsOf(list), c.expected) << "at " << c.at;
        EXPECT_EQ(placed - list.begin(), list.empty() ? 0 : c.at);
        EXPECT_EQ(list.empty(), c.expected.empty());
    }
}

TEST(ScoreEventLazyList, FillingAndEmptyingWays) {
    const std::vector<CScoreText> two = {textOf("p"), textOf("q")};
    struct Case {
        const char* name;
        void (*change)(CLazyList<CScoreText>&, const std::vector<CScoreText>&);
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"assign a range", [](auto& l, const auto& v) { l.assign(v.begin(), v.end()); }, {"p", "q"}},
        {"assign part of a range", [](auto& l, const auto& v) { l.assign(v.begin() + 1, v.end()); }, {"q"}},
        {"assign nothing", [](auto& l, const auto& v) { l.assign(v.end(), v.end()); }, {}},
        {"take a vector", [](auto& l, const auto& v) { l = std::vector<CScoreText>(v); }, {"p", "q"}},
        {"take an empty vector", [](auto& l, const auto&) { l = std::vector<CScoreText>(); }, {}},
        {"clear", [](auto& l, const auto&) { l.clear(); }, {}},
        {"emplace", [](auto& l, const auto&) { l.emplace_back().text = "e"; }, {"a", "b", "e"}},
        {"clear and refill", [](auto& l, const auto& v) { l.clear(); l.push_back(v[1]); }, {"q"}},
    };
    for (const Case& c : cases) {
        CLazyList<CScoreText> list = listOf({"a", "b"});
        c.change(list, two);
        EXPECT_EQ(textsOf(list), c.expected) << c.name;
        EXPECT_EQ(list.size(), c.expected.size()) << c.name;
        EXPECT_EQ(list.empty(), c.expected.empty()) << c.name;
        if (!list.empty()) {
            EXPECT_EQ(list.back().text, c.expected.back()) << c.name;
        }
    }
}

TEST(ScoreEventLazyList, CopiesAreDeepAndMovesEmptyTheSource) {
    struct Case {
        std::vector<const char*> source;
        std::vector<const char*> target;
    };
    const Case cases[] = {{{"a", "b"}, {"old"}}, {{"a"}, {}}, {{}, {"old", "older"}}, {{}, {}}};
    for (const Case& c : cases) {
        CLazyList<CScoreText> source;
        for (const char* t : c.source) source.push_back(textOf(t));
        const std::vector<std::string> expected = textsOf(source);

        CLazyList<CScoreText> assigned;
        for (const char* t : c.target) assigned.push_back(textOf(t));
        assigned = source;
        CLazyList<CScoreText> constructed(source);
        EXPECT_EQ(textsOf(assigned), expected);
        EXPECT_EQ(textsOf(constructed), expected);

        if (!source.empty()) {
            source[0].text = "changed";
            source.push_back(textOf("more"));
            EXPECT_EQ(textsOf(constructed), expected);
            EXPECT_EQ(constructed.at(0).text, c.source[0]);
        }

        CLazyList<CScoreText> moved(std::move(constructed));
        EXPECT_EQ(textsOf(moved), expected);
        EXPECT_TRUE(constructed.empty());  // a moved-from list is empty, not dangling
        assigned = std::move(moved);
        EXPECT_EQ(textsOf(assigned), expected);
    }

    CLazyList<CScoreText> self = listOf({"s"});
    const CLazyList<CScoreText>& alias = self;
    self = alias;
    EXPECT_EQ(textsOf(self), std::vector<std::string>{"s"});
}

// --- the event -----------------------------------------------------------------------

TEST(ScoreEventStorage, ChordsPastTheInlineHeadsCopyAndClearLikeSmallOnes) {
    CScoreEvent chord;
    for (int32_t h = 0; h < 9; ++h) {
        chord.midi[static_cast<std::size_t>(h)] = 0x90u | static_cast<uint32_t>(60 + h) << 8;
        chord.accidentals[static_cast<std::size_t>(h)] = {static_cast<int8_t>(h % 3 - 1), 0};
    }
    chord.headCount = 9;
    CScoreText words;
    words.text = "dolce";
    ASSERT_TRUE(chord.appendText(words));

    CScoreEvent single;
    single.midi[0] = 0x90u | 72u << 8;
    single.headCount = 1;

    // A big chord over a single note and back: nothing of the old heads survives.
    CScoreEvent target = single;
    ASSERT_TRUE(chord.copyTo(target));
    EXPECT_EQ(target.midi[8], 0x90u | 68u << 8);
    EXPECT_EQ(target.accidentals[7].shown, 0);
    EXPECT_EQ(target.textCount(), 1);
    chord.midi[8] = 0;
    EXPECT_EQ(target.midi[8], 0x90u | 68u << 8);

    ASSERT_TRUE(single.copyTo(target));
    const CScoreEvent& read = target;
    EXPECT_EQ(read.midi[0], 0x90u | 72u << 8);
    EXPECT_EQ(read.midi[8], 0u);
    EXPECT_EQ(read.accidentals[7].shown, -3);
    EXPECT_EQ(read.textCount(), 0);

    chord.clear();
    const CScoreEvent& cleared = chord;
    for (int32_t h = 0; h < kMaxHeads; ++h) {
        EXPECT_EQ(cleared.midi[static_cast<std::size_t>(h)], 0u) << h;
        EXPECT_EQ(cleared.accidentals[static_cast<std::size_t>(h)].shown, -3) << h;
    }
    EXPECT_TRUE(cleared.texts.empty());
}

}  // namespace
}  // namespace scorecore
