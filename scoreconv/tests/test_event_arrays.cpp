// The event arrays and their searches and passes, the voice bit tables with
// their voice-id mapping, the done matrix, the play cursor and the sounding
// notes.
#include "play/event_arrays.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>
#include <vector>

#include "musicxml/voice_tables.h"
#include "play/play_cursor.h"
#include "scorecore/result_codes.h"

namespace scoreconv {
namespace {

using scorecore::kErrDom;
using scorecore::kErrIndex;
using scorecore::kErrNotPresent;
using scorecore::kOk;

CScoreEvent note(int32_t start, int32_t duration = 480, int32_t dynamic = 0) {
    CScoreEvent e;
    e.start = start;
    e.duration = duration;
    e.kind = scorecore::kKindNote;
    e.headCount = 1;
    e.midi[0] = 0x90u | (60u << 8) | (90u << 16);
    e.dynamic.code = dynamic;
    return e;
}

CScoreEvent withKind(int32_t start, uint32_t kind) {
    CScoreEvent e;
    e.start = start;
    e.kind = kind;
    return e;
}

CScoreEvent wedgeMark(int32_t start, int32_t code, int32_t number) {
    CScoreEvent e = withKind(start, kKindRamp);
    scorecore::CScoreWedge w;
    w.code = code;
    w.number = number;
    e.wedges.push_back(w);
    return e;
}

CScoreEvent slurNote(int32_t start, int32_t number, int32_t flags) {
    CScoreEvent e = note(start);
    scorecore::CScoreEventItem item;
    item.number = number;
    item.flags = flags;
    e.items.push_back(item);
    return e;
}

// Rows: two staves of two voices and the score-wide row.
CEventArrays makeArrays() {
    CEventArrays a;
    EXPECT_TRUE(a.allocRows(3));
    EXPECT_TRUE(a.allocVoices(0, 2));
    EXPECT_TRUE(a.allocVoices(1, 2));
    EXPECT_TRUE(a.allocVoices(2, 1));
    return a;
}

std::vector<int32_t> starts(const CEventArrays& a, int32_t row, int32_t voice) {
    std::vector<int32_t> out;
    for (const CScoreEvent& e : a.events(row, voice)) out.push_back(e.start);
    return out;
}

// --- storage ----------------------------------------------------------------------------

TEST(EventArrays, AppendCopiesDeeplyAndQuietsProgramMessagesOfNotes) {
    CEventArrays a = makeArrays();
    struct Case {
        uint32_t kind;
        uint32_t status;
        uint32_t expected;
    };
    const uint32_t program = 0xC3u | (41u << 8) | (0x55u << 16);
    const Case cases[] = {
        {scorecore::kKindChord, program, 0xC3u | (41u << 8)},
        {scorecore::kKindNote, 0xD0u | (7u << 8) | (9u << 16), 0xD0u | (7u << 8)},
        {scorecore::kKindGrace, program, 0xC3u | (41u << 8)},
        {scorecore::kKindNote, 0x91u | (60u << 8) | (90u << 16), 0x91u | (60u << 8) | (90u << 16)},
        {scorecore::kKindTempo, program, program},  // not a note: left alone
    };
    for (const Case& c : cases) {
        CScoreEvent e = withKind(0, c.kind);
        e.headCount = 2;
        e.midi[1] = c.status;
        e.lyrics.push_back({1, "la"});
        ASSERT_EQ(a.append(0, 0, e), kOk);
        const CScoreEvent* stored = a.event(0, 0, a.eventCount(0, 0) - 1);
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(stored->midi[1], c.expected) << c.kind;
        e.lyrics[0].text = "changed";
        EXPECT_EQ(stored->lyrics[0].text, "la");
    }
}

TEST(EventArrays, UnknownRowsAndVoicesReadAsNoneAndRefuseWrites) {
    CEventArrays a = makeArrays();
    ASSERT_EQ(a.append(0, 0, note(0)), kOk);
    struct Case {
        int32_t row, voice;
    };
    for (const Case c : {Case{3, 0}, Case{-1, 0}, Case{0, 2}, Case{0, -1}, Case{2, 1}, Case{INT_MAX, INT_MAX}}) {
        EXPECT_EQ(a.append(c.row, c.voice, note(0)), kErrIndex) << c.row << "/" << c.voice;
        EXPECT_EQ(a.insertInOrder(c.row, c.voice, note(0)), kErrIndex);
        EXPECT_EQ(a.remove(c.row, c.voice, 0), kErrIndex);
        EXPECT_EQ(a.eventCount(c.row, c.voice), 0);
        EXPECT_EQ(a.event(c.row, c.voice, 0), nullptr);
        EXPECT_TRUE(a.events(c.row, c.voice).empty());
        EXPECT_EQ(a.findAtTick(0, 0, c.row, c.voice, 0), -1);
        EXPECT_EQ(a.voiceChannel(c.row, c.voice), 255);
        EXPECT_EQ(a.slurContinuation(c.row, c.voice), kErrIndex);
    }
    for (int32_t index : {-1, 1, INT_MAX}) EXPECT_EQ(a.event(0, 0, index), nullptr);
    EXPECT_FALSE(a.allocRows(-1));
    EXPECT_FALSE(a.allocVoices(3, 1));
    EXPECT_FALSE(a.allocVoices(0, -1));
    EXPECT_EQ(a.voiceCount(0), 2);
    EXPECT_EQ(a.globalRow(), 2);
    EXPECT_EQ(CEventArrays().globalRow(), -1);
}

TEST(EventArrays, GrowthIsAmortisedAtScale) {
    constexpr int32_t kEvents = 100000;
    {
        CEventArrays a = makeArrays();
        std::set<const CScoreEvent*> blocks;
        for (int32_t i = 0; i < kEvents; ++i) {
            ASSERT_EQ(a.append(0, 0, note(i * 10)), kOk);
            blocks.insert(a.event(0, 0, 0));
        }
        // Geometric growth moves the array a few dozen times, not once per event.
        EXPECT_LT(blocks.size(), 64u);
        EXPECT_EQ(a.eventCount(0, 0), kEvents);
        EXPECT_EQ(a.event(0, 0, kEvents - 1)->start, (kEvents - 1) * 10);
        EXPECT_EQ(a.nextOfKind(scorecore::kKindNote, 0, 0, kEvents - 2), kEvents - 1);
        EXPECT_EQ(a.findAtTick(0, (kEvents - 1) * 10, 0, 0, 0), kEvents - 1);
    }
    // Inserting in time order at the end finds its place without a scan.
    CEventArrays a = makeArrays();
    for (int32_t i = 0; i < kEvents; ++i) ASSERT_EQ(a.insertInOrder(0, 1, note(i)), kOk);
    ASSERT_EQ(a.insertInOrder(0, 1, note(500, 1)), kOk);
    EXPECT_EQ(a.eventCount(0, 1), kEvents + 1);
    EXPECT_EQ(a.event(0, 1, 501)->duration, 1);  // after the event of the same start
    EXPECT_EQ(a.event(0, 1, kEvents)->start, kEvents - 1);
}

TEST(EventArrays, InsertGoesAfterEqualStartsAndBeforeLaterOnes) {
    CEventArrays a = makeArrays();
    for (int32_t start : {0, 480, 480, 960}) ASSERT_EQ(a.append(0, 0, note(start)), kOk);
    CScoreEvent mark = withKind(480, kKindDynamicMark);
    ASSERT_EQ(a.insertInOrder(0, 0, mark), kOk);
    ASSERT_EQ(a.insertInOrder(0, 0, note(-240)), kOk);
    ASSERT_EQ(a.insertInOrder(0, 0, note(2000)), kOk);
    EXPECT_EQ(starts(a, 0, 0), (std::vector<int32_t>{-240, 0, 480, 480, 480, 960, 2000}));
    EXPECT_TRUE(a.event(0, 0, 4)->isKind(kKindDynamicMark));
}

TEST(EventArrays, AppendingAnEventOfTheSameArrayIsSafe) {
    CEventArrays a = makeArrays();
    ASSERT_EQ(a.append(0, 0, note(0)), kOk);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(a.append(0, 0, *a.event(0, 0, 0)), kOk);
    ASSERT_EQ(a.insertInOrder(0, 0, *a.event(0, 0, 50)), kOk);
    EXPECT_EQ(a.eventCount(0, 0), 102);
}

TEST(EventArrays, RemoveMovesTheRestDown) {
    CEventArrays a = makeArrays();
    EXPECT_EQ(a.remove(0, 0, 0), kErrNotPresent);
    for (int32_t start : {0, 480, 960}) ASSERT_EQ(a.append(0, 0, note(start)), kOk);
    EXPECT_EQ(a.remove(0, 0, 3), kErrIndex);
    EXPECT_EQ(a.remove(0, 0, -1), kErrIndex);
    EXPECT_EQ(a.remove(0, 0, 1), kOk);
    EXPECT_EQ(starts(a, 0, 0), (std::vector<int32_t>{0, 960}));
    EXPECT_EQ(a.remove(0, 0, 0), kOk);
    EXPECT_EQ(a.remove(0, 0, 0), kOk);
    EXPECT_EQ(a.remove(0, 0, 0), kErrNotPresent);
}

// Events told apart by their durations, which the merge leaves alone.
std::vector<int32_t> durations(const CEventArrays& a, int32_t row, int32_t voice) {
    std::vector<int32_t> out;
    for (const CScoreEvent& e : a.events(row, voice)) out.push_back(e.duration);
    return out;
}

TEST(EventArrays, MergeKeepsOrderDropsMarkedEventsAndPutsAddedOnesAfterEqualStarts) {
    struct Case {
        const char* name;
        std::vector<int32_t> old;       // starts; durations 1, 2, 3 ...
        std::vector<bool> dropped;
        std::vector<int32_t> added;     // starts; durations 101, 102 ...
        std::vector<int32_t> expected;  // durations
    };
    const Case cases[] = {
        {"between and after", {0, 480, 480, 960}, {}, {480, 1440}, {1, 2, 3, 101, 4, 102}},
        {"unsorted added, stable", {0, 480, 480, 960}, {false, true}, {480, 0, 1440, 480}, {1, 102, 3, 101, 104, 4, 103}},
        {"into an empty voice", {}, {}, {960, 0}, {102, 101}},
        {"everything dropped", {0, 480}, {true, true}, {240}, {101}},
        {"dropped only", {0, 480, 960}, {false, true, false}, {}, {1, 3}},
        {"before the first", {480, 960}, {}, {0, 0}, {101, 102, 1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CEventArrays a = makeArrays();
        for (std::size_t i = 0; i < c.old.size(); ++i) {
            ASSERT_EQ(a.append(0, 1, note(c.old[i], static_cast<int32_t>(i) + 1)), kOk);
        }
        std::vector<CScoreEvent> added;
        for (std::size_t i = 0; i < c.added.size(); ++i) {
            CScoreEvent e = note(c.added[i], static_cast<int32_t>(i) + 101);
            e.midi[0] = 0xC0u | (5u << 8) | (9u << 16);  // a program change on a note sends no second byte
            added.push_back(e);
        }
        ASSERT_EQ(a.merge(0, 1, c.dropped, added), kOk);
        EXPECT_EQ(durations(a, 0, 1), c.expected);
        EXPECT_TRUE(added.empty());
        for (const CScoreEvent& e : a.events(0, 1)) {
            if (e.duration > 100) {
                EXPECT_EQ(e.midi[0], 0xC0u | (5u << 8));
            }
        }
    }
    CEventArrays a = makeArrays();
    std::vector<CScoreEvent> none;
    EXPECT_EQ(a.merge(7, 0, {}, none), kErrIndex);
}

// --- searches ---------------------------------------------------------------------------

TEST(EventArrays, SearchesByTickWindowAndKind) {
    CEventArrays a = makeArrays();
    const CScoreEvent list[] = {note(0), withKind(0, scorecore::kKindTempo), note(480),
                                withKind(960, scorecore::kKindTimeSig), note(960)};
    for (const CScoreEvent& e : list) ASSERT_EQ(a.append(0, 0, e), kOk);
    const uint32_t kNote = scorecore::kKindNote;
    const uint32_t kTempo = scorecore::kKindTempo;
    struct Case {
        const char* what;
        int32_t got, expected;
    };
    const Case cases[] = {
        {"at tick, any kind", a.findAtTick(0, 960, 0, 0, 0), 3},
        {"at tick, kind", a.findAtTick(kNote, 960, 0, 0, 0), 4},
        {"at tick, from past it", a.findAtTick(kTempo, 0, 0, 0, 2), -1},
        {"at tick, negative from", a.findAtTick(kTempo, 0, 0, 0, -5), 1},
        {"at tick, none", a.findAtTick(0, 100, 0, 0, 0), -1},
        {"window", a.findInWindow(kNote, 100, 960, 0, 0, 0), 2},
        {"window, reversed", a.findInWindow(0, 960, 0, 0, 0, 0), -1},
        {"window, bounds included", a.findInWindow(scorecore::kKindTimeSig, 960, 960, 0, 0, 0), 3},
        {"next of kind", a.nextOfKind(kNote, 0, 0, 0), 2},
        {"next from -1 is the first", a.nextOfKind(kTempo, 0, 0, -1), 1},
        {"next past the end", a.nextOfKind(0, 0, 0, INT_MAX), -1},
        {"previous of kind", a.previousOfKind(kNote, 0, 0, 4), 2},
        {"previous before 0", a.previousOfKind(0, 0, 0, 0), -1},
        {"previous from far beyond", a.previousOfKind(kTempo, 0, 0, INT_MAX), 1},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;
}

TEST(EventArrays, ScoreWideSearchMovesThePosition) {
    CEventArrays a = makeArrays();
    for (uint32_t kind : {scorecore::kKindTempo, kKindRepeatMark, scorecore::kKindTempo}) {
        ASSERT_EQ(a.append(2, 0, withKind(0, kind)), kOk);
    }
    int32_t position = -1;
    EXPECT_EQ(a.nextGlobalOfKind(position, scorecore::kKindTempo), 0);
    EXPECT_EQ(a.nextGlobalOfKind(position, scorecore::kKindTempo), 2);
    EXPECT_EQ(a.nextGlobalOfKind(position, scorecore::kKindTempo), -1);
    EXPECT_EQ(position, -1);
}

TEST(EventArrays, NearestNoteInThreeForms) {
    CEventArrays a = makeArrays();
    ASSERT_EQ(a.append(0, 0, note(0, 480, 44)), kOk);
    ASSERT_EQ(a.append(0, 0, note(960)), kOk);
    ASSERT_EQ(a.append(0, 0, withKind(1000, kKindRamp)), kOk);  // not a note: never the nearest
    ASSERT_EQ(a.append(0, 1, note(1200, 480, 90)), kOk);
    struct Case {
        CEventArrays::Nearest form;
        int32_t tick, index, voice;
    };
    const Case cases[] = {
        {CEventArrays::Nearest::BeforeWithDynamic, 1000, 0, 0},
        {CEventArrays::Nearest::AfterWithDynamic, 1000, 0, 1},
        {CEventArrays::Nearest::Either, 1000, 1, 0},
        {CEventArrays::Nearest::Either, 1150, 0, 1},
        {CEventArrays::Nearest::AfterWithDynamic, 1300, -1, -1},
        {CEventArrays::Nearest::BeforeWithDynamic, -10, -1, -1},
    };
    for (const Case& c : cases) {
        int32_t voice = 99;
        EXPECT_EQ(a.nearestNote(0, c.tick, c.form, voice), c.index) << c.tick;
        EXPECT_EQ(voice, c.voice) << c.tick;
    }
    int32_t voice = 0;
    EXPECT_EQ(a.nearestNote(7, 0, CEventArrays::Nearest::Either, voice), -1);
    EXPECT_EQ(voice, -1);
}

TEST(EventArrays, WedgeStopsAndStartsMatchTheirNumber) {
    CEventArrays a = makeArrays();
    const CScoreEvent list[] = {
        wedgeMark(0, scorecore::kWedgeCrescendo, 0), wedgeMark(240, scorecore::kWedgeDiminuendo, 1),
        wedgeMark(480, scorecore::kWedgeStop, 1),    note(600),
        wedgeMark(960, scorecore::kWedgeStop, 0),
    };
    for (const CScoreEvent& e : list) ASSERT_EQ(a.append(0, 0, e), kOk);
    EXPECT_EQ(a.wedgeStopOf(0, 0, 0), 4);
    EXPECT_EQ(a.wedgeStopOf(0, 1, 1), 2);
    EXPECT_EQ(a.wedgeStopOf(0, 2, 1), -1);
    EXPECT_EQ(a.wedgeStopOf(0, -9, 0), 4);
    EXPECT_EQ(a.wedgeStartBefore(0, 4, 0), 0);
    EXPECT_EQ(a.wedgeStartBefore(0, 4, 1), 1);
    EXPECT_EQ(a.wedgeStartBefore(0, 1, 1), 1);
    EXPECT_EQ(a.wedgeStartBefore(0, 0, 1), -1);
    EXPECT_EQ(a.wedgeStartBefore(0, INT_MAX, 0), 0);
    EXPECT_EQ(a.wedgeStartBefore(0, -1, 0), -1);
}

TEST(EventArrays, VoiceChannelIsThatOfTheFirstChannelMessage) {
    CEventArrays a = makeArrays();
    EXPECT_EQ(a.voiceChannel(0, 0), 255);
    ASSERT_EQ(a.append(0, 0, wedgeMark(0, scorecore::kWedgeCrescendo, 0)), kOk);
    CScoreEvent n = note(0);
    n.midi[0] = 0x93u | (60u << 8);
    ASSERT_EQ(a.append(0, 0, n), kOk);
    EXPECT_EQ(a.voiceChannel(0, 0), 3);
}

// --- passes -----------------------------------------------------------------------------

TEST(EventArrays, SlurContinuationMarksTheNotesBetween) {
    CEventArrays a = makeArrays();
    const CScoreEvent list[] = {
        slurNote(0, 1, scorecore::kItemSlurStart), note(480), withKind(600, kKindRamp), note(960),
        slurNote(1440, 1, scorecore::kItemSlurStop), note(1920), slurNote(2400, 2, scorecore::kItemSlurStart),
        note(2880),
    };
    for (const CScoreEvent& e : list) ASSERT_EQ(a.append(0, 0, e), kOk);
    ASSERT_EQ(a.slurContinuation(0, 0), kOk);
    const auto events = a.events(0, 0);
    const bool slurred[] = {false, true, false, true, false, false, false, false};
    for (std::size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].hasItemFlag(scorecore::kItemSlurred), slurred[i]) << i;
    }
    EXPECT_EQ(events[1].items.at(0).number, 1);
}

TEST(EventArrays, RepeatPreviousBarsCopiesTheBarsBeforeTheTick) {
    CEventArrays a = makeArrays();
    int32_t tick = 3840;
    EXPECT_EQ(a.repeatPreviousBars(1, 0, 2, 480, tick), kErrDom);  // no time signature yet
    CScoreEvent time;
    ASSERT_TRUE(makeTimeSigEvent(time, 0, 4, 2));
    ASSERT_EQ(a.append(2, 0, time), kOk);
    for (int32_t start : {0, 960, 1920, 2880}) ASSERT_EQ(a.append(0, 0, note(start, 960)), kOk);
    ASSERT_EQ(a.append(0, 1, note(1920, 1920)), kOk);

    tick = 3840;
    EXPECT_EQ(a.repeatPreviousBars(2, 0, 2, 480, tick), kErrNotPresent);  // voice 2 starts in bar 2
    EXPECT_EQ(a.eventCount(0, 0), 4);
    EXPECT_EQ(tick, 3840);
    EXPECT_EQ(a.repeatPreviousBars(1, 0, 2, 480, tick), kOk);
    EXPECT_EQ(tick, 1920);
    EXPECT_EQ(starts(a, 0, 0), (std::vector<int32_t>{0, 960, 1920, 2880, 3840, 4800}));
    EXPECT_EQ(starts(a, 0, 1), (std::vector<int32_t>{1920, 3840}));
    EXPECT_EQ(a.repeatPreviousBars(1, 5, 2, 480, tick), kErrIndex);
}

TEST(EventArrays, ScoreWideEventsKeepTheirValues) {
    CScoreEvent e;
    makeTempoEvent(e, 0, 132);
    EXPECT_TRUE(e.isKind(scorecore::kKindTempo));
    EXPECT_EQ(eventTempo(e), 132);
    makeTempoEvent(e, 0, -1);
    EXPECT_EQ(eventTempo(e), -1);

    ASSERT_TRUE(makeTimeSigEvent(e, 1920, 6, 3));
    scorecore::CMeter meter;
    ASSERT_TRUE(eventMeter(e, 480, meter));
    EXPECT_EQ(meter.ticksPerBar, 1440);
    EXPECT_FALSE(makeTimeSigEvent(e, 0, 0, 2));
    EXPECT_FALSE(makeTimeSigEvent(e, 0, 300, 2));
    EXPECT_FALSE(makeTimeSigEvent(e, 0, 4, 13));
    EXPECT_EQ(e.start, 1920);  // refused: unchanged
    EXPECT_FALSE(eventMeter(note(0), 480, meter));

    makeKeySigEvent(e, 0, -3, false);
    EXPECT_EQ(eventKeyFifths(e), -3);
    EXPECT_FALSE(eventKeyMajor(e));
    makeKeySigEvent(e, 0, 12, true);
    EXPECT_EQ(eventKeyFifths(e), 7);
    EXPECT_TRUE(eventKeyMajor(e));
}

// --- voice bit tables -------------------------------------------------------------------

TEST(VoiceBitTables, VoiceIdsMapToNumbersOfThePart) {
    CVoiceBitTables t;
    ASSERT_TRUE(t.appendPart());
    ASSERT_TRUE(t.appendPart());
    for (const char* id : {"1", "2", "X", "Y", "X", "5"}) t.noteVoiceText(0, id);
    struct Case {
        int32_t part;
        const char* id;
        int32_t number;
    };
    const Case cases[] = {
        {0, "1", 1},  {0, "2", 2},   {0, "X", 3},   {0, "Y", 4},  {0, "X", 3},    // the same again
        {0, "Z", 6},  {0, " 2 ", 2}, {0, "", 1},    {0, "32", 32}, {0, "0", -1},
        {0, "33", -1}, {0, "-1", -1}, {0, "99999999999", -1},
        {1, "X", 1},  // another part has its own numbers
        {2, "1", -1}, {-1, "X", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(t.voiceNumber(c.part, c.id), c.number) << c.part << "/" << c.id;

    // Once every number is taken, further ids have none.
    for (int i = 0; i < 40; ++i) t.voiceNumber(1, "v" + std::to_string(i));
    EXPECT_EQ(t.voiceNumber(1, "late"), -1);
    EXPECT_EQ(t.voiceNumber(1, "v0"), 2);
}

TEST(VoiceBitTables, VoicesStayOnTheFirstStaffMet) {
    CVoiceBitTables t;
    ASSERT_TRUE(t.appendPart());
    ASSERT_TRUE(t.growStaves(0, 2));
    t.assignVoice(0, 1, 1);  // voice 1 first seen on staff 2
    t.assignVoice(0, 0, 1);
    t.assignVoice(0, 0, 2);
    t.assignVoice(0, 0, 5);
    t.assignVoice(0, 2, 3);   // staff beyond the part: ignored
    t.assignVoice(0, 0, 33);  // voice beyond the range: ignored
    t.assignVoice(0, 0, 0);
    t.assignVoice(3, 0, 1);
    EXPECT_EQ(t.staffMask(0, 0), 0b10010u);
    EXPECT_EQ(t.staffMask(0, 1), 0b1u);
    EXPECT_EQ(t.partMask(0), 0b10011u);
    EXPECT_EQ(t.staffOfVoice(0, 0), 1);
    EXPECT_EQ(t.staffOfVoice(0, 2), -1);
    EXPECT_EQ(t.staffOfVoice(0, 32), -1);
    EXPECT_EQ(t.staffMask(0, 2), 0u);
    EXPECT_EQ(t.staffMask(5, 0), 0u);
}

TEST(VoiceBitTables, RanksAndFlatIndexes) {
    CVoiceBitTables t;
    ASSERT_TRUE(t.appendPart());
    ASSERT_TRUE(t.growStaves(0, 3));
    t.setStaffMask(0, 0, 0b1010);  // voices 2 and 4
    t.setStaffMask(0, 1, 0);       // stored as voice 1
    t.setStaffMask(0, 2, 0b1100000);
    EXPECT_EQ(t.staffMask(0, 1), 1u);
    struct Case {
        int32_t staff, bit, rank;
    };
    for (const Case c : {Case{0, 1, 0}, Case{0, 3, 1}, Case{0, 2, -1}, Case{0, 40, -1}, Case{2, 6, 1}, Case{9, 0, -1}}) {
        EXPECT_EQ(t.voiceRank(0, c.staff, c.bit), c.rank) << c.staff << "/" << c.bit;
    }
    EXPECT_EQ(t.nthVoiceBit(0, 0, 1), 3);
    EXPECT_EQ(t.nthVoiceBit(0, 0, 2), -1);
    EXPECT_EQ(t.voiceCount(0, 2), 2);
    EXPECT_EQ(t.flatIndex(0, 2, 1), 4);
    EXPECT_EQ(t.flatIndex(0, 1, 1), -1);
    EXPECT_EQ(t.flatIndex(0, 3, 0), -1);
    for (int32_t flat = 0; flat < 5; ++flat) {
        int32_t staff = -1;
        int32_t voice = -1;
        ASSERT_TRUE(t.fromFlatIndex(0, flat, staff, voice));
        EXPECT_EQ(t.flatIndex(0, staff, voice), flat);
    }
    int32_t staff = 0;
    int32_t voice = 0;
    EXPECT_FALSE(t.fromFlatIndex(0, 5, staff, voice));
    EXPECT_FALSE(t.fromFlatIndex(0, -1, staff, voice));

    ASSERT_TRUE(t.appendPart());
    ASSERT_TRUE(t.growStaves(1, 2));
    t.fillEmptyStaves(1);
    EXPECT_EQ(t.staffMask(1, 1), 1u);
    EXPECT_EQ(t.firstStaffOfPart(1), 3);
    EXPECT_EQ(t.firstStaffOfPart(2), -1);
    EXPECT_FALSE(t.growStaves(1, -1));
    EXPECT_FALSE(t.growStaves(4, 1));
}

// --- done matrix, cursor, sounding notes ------------------------------------------------

TEST(VoiceFlags, StavesWithoutVoicesAreDoneFromTheStart) {
    CVoiceFlags flags;
    const std::vector<int32_t> counts = {2, 0, 1};
    ASSERT_TRUE(flags.create(3, counts));
    EXPECT_EQ(flags.doneStaves(), 1);
    EXPECT_TRUE(flags.isStaffDone(1));
    flags.setDone(0, 0);
    flags.setDone(0, 1);
    EXPECT_EQ(flags.doneStaves(), 2);
    flags.setDone(0, 1, false);
    EXPECT_EQ(flags.doneStaves(), 1);
    flags.setAll();
    EXPECT_TRUE(flags.allDone());
    flags.clearAll();
    EXPECT_EQ(flags.doneStaves(), 1);
    // Unknown voices have nothing to play; writes to them are ignored.
    EXPECT_TRUE(flags.isDone(0, 2));
    EXPECT_TRUE(flags.isDone(7, 0));
    flags.setDone(7, 0);
    flags.setDone(2, -1);
    EXPECT_EQ(flags.doneStaves(), 1);

    ASSERT_TRUE(flags.create(2));
    EXPECT_EQ(flags.voiceCount(1), CVoiceFlags::kDefaultVoices);
    ASSERT_TRUE(flags.create(2, std::vector<int32_t>{-3}));
    EXPECT_EQ(flags.voiceCount(0), 0);
    EXPECT_EQ(flags.voiceCount(1), 0);
    EXPECT_FALSE(flags.create(-1));
    EXPECT_EQ(flags.staffCount(), 2);
}

TEST(PlayCursor, ExchangeTwiceRestoresAndTempoFollowsTheFlag) {
    const std::vector<int32_t> counts = {2, 1};
    CPlayCursor live;
    CPlayCursor saved;
    ASSERT_TRUE(live.allocate(counts));
    ASSERT_TRUE(saved.allocate(counts));
    live.tempo = 90;
    live.currentTick = 960;
    live.tempoIndex = 3;
    live.eventIndex.set(1, 0, 7);
    live.levels.set(0, 1, {80, 100, 0, 0});
    live.done.setDone(1, 0);
    saved.copyFrom(live, true);
    EXPECT_EQ(saved.tempo, 90);
    EXPECT_EQ(*saved.eventIndex.at(1, 0), 7);
    EXPECT_EQ(saved.levels.at(0, 1)->level, 80);
    EXPECT_TRUE(saved.done.isDone(1, 0));

    live.tempo = 140;
    live.currentTick = 4000;
    live.eventIndex.set(1, 0, 12);
    live.swapWith(saved, false);
    EXPECT_EQ(live.currentTick, 960);
    EXPECT_EQ(saved.currentTick, 4000);
    EXPECT_EQ(live.tempo, 140);
    EXPECT_EQ(saved.tempo, 90);
    live.swapWith(saved, false);
    EXPECT_EQ(live.currentTick, 4000);
    EXPECT_EQ(*live.eventIndex.at(1, 0), 12);
    EXPECT_EQ(live.tempo, 140);
    live.swapWith(saved, true);
    EXPECT_EQ(live.tempo, 90);

    live.free();
    EXPECT_EQ(live.eventIndex.at(1, 0), nullptr);
    EXPECT_EQ(live.position.bar, 1);
    EXPECT_EQ(live.tempoIndex, -1);
}

TEST(SoundingNotes, AnyTellsWhetherAVoiceHoldsNoteOffs) {
    CSoundingNotes notes;
    ASSERT_TRUE(notes.allocate(std::vector<int32_t>{1, 2}));
    EXPECT_FALSE(notes.any());
    notes.at(1, 1)->headCount = 2;
    EXPECT_TRUE(notes.any());
    notes.silence();
    EXPECT_FALSE(notes.any());
    EXPECT_EQ(notes.at(1, 2), nullptr);
    EXPECT_EQ(notes.at(-1, 0), nullptr);
}

}  // namespace
}  // namespace scoreconv
