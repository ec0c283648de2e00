// The binding's operations on the open score, its time and tempo, the play
// switches and the options: against the partial engine, which logs every call
// and answers what the test puts into its log, and against our engine with
// scores converted from MusicXML.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "partial_engine.h"
#include "platform/ini_file.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/tavtune_lib.h"
#include "qvp3_project/project_entry.h"
#include "scoreconv/scoreconv.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using platform::testing::TempFolder;

const fs::path kProgramDir = QVP3_PROGRAM_DIR;
const fs::path kPartialDir = QVP3_PARTIAL_ENGINE_DIR;
const TavInfoLabels kLabels = {"Author: ", "Keywords: ", "Comment: "};

// The partial engine loaded into a binding, its log handed over; the log
// outlives the binding.
struct PartialEngine {
    PartialEngineLog log{};
    CTavtuneLib lib;

    PartialEngine() { lib.Init(reinterpret_cast<tvWord>(&log), kPartialDir); }
    // Opens a score (the partial engine answers C176 with 0); the log's call
    // count from then on.
    int open(const fs::path& path = "/music/score.tvrx") {
        EXPECT_EQ(lib.OpenScore(path, 0), kTavtuneOk);
        EXPECT_TRUE(lib.scoreOpen);
        return log.count;
    }
    // The entry points called since the log's count was start.
    std::vector<int> callsSince(int start) const {
        std::vector<int> out;
        for (int i = start; i < log.count && i < PARTIAL_ENGINE_LOG_SIZE; ++i) out.push_back(log.entry[i]);
        return out;
    }
    const tvWord* args(int i) const { return log.args[i]; }
    const tvWord* lastArgs() const { return log.args[log.count - 1]; }
};

// TMPDIR set to a folder of the test's while the object lives.
class TempDirOverride {
public:
    TempDirOverride() {
        if (const char* old = getenv("TMPDIR")) old_ = old;
        setenv("TMPDIR", folder_.path().c_str(), 1);
    }
    ~TempDirOverride() {
        if (old_) {
            setenv("TMPDIR", old_->c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }
    TempDirOverride(const TempDirOverride&) = delete;
    TempDirOverride& operator=(const TempDirOverride&) = delete;
    const fs::path& path() const { return folder_.path(); }
    // The names in the folder.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder_.path())) names.push_back(e.path().filename().string());
        return names;
    }

private:
    TempFolder folder_;
    std::optional<std::string> old_;
};

template <class T>
T readAt(const void* record, std::size_t offset) {
    T value;
    std::memcpy(&value, static_cast<const unsigned char*>(record) + offset, sizeof value);
    return value;
}

// --- staves, voices, description ------------------------------------------------

TEST(TavtuneOps, CountStavesAsksUntilTheFirstNone) {
    const struct {
        int staves;
        int expected;
        int calls;
    } cases[] = {{0, 0, 1}, {1, 1, 2}, {3, 3, 4}, {TAVTUNE_MAX_STAVES, TAVTUNE_MAX_STAVES, TAVTUNE_MAX_STAVES}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.staves);
        PartialEngine engine;
        engine.log.staveCount = c.staves;
        const int start = engine.open();
        EXPECT_EQ(engine.lib.CountStaves(), c.expected);
        EXPECT_EQ(engine.log.calls[145], c.calls);
        for (int i = 0; i < c.calls && start + i < PARTIAL_ENGINE_LOG_SIZE; ++i) {
            EXPECT_EQ(engine.log.entry[start + i], 145);
            EXPECT_EQ(engine.args(start + i)[0], i);
        }
    }
}

TEST(TavtuneOps, CountStaffItemsStopsAtNullOrAfterAMarkerZero) {
    const struct {
        const char* what;
        std::vector<std::int32_t> markers;
        int expected;
        int calls;
    } cases[] = {
        {"no voice", {}, 0, 1},
        {"three voices, then null", {1, 2, 3}, 3, 4},
        {"a marker 0 ends the list and is counted", {1, 0, 3}, 2, 2},
        {"a first marker 0", {0, 5}, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PartialEngine engine;
        engine.log.voiceCount = static_cast<int>(c.markers.size());
        for (std::size_t i = 0; i < c.markers.size(); ++i) engine.log.voiceMarkers[i] = c.markers[i];
        const int start = engine.open();
        EXPECT_EQ(engine.lib.CountStaffItems(7), c.expected);
        ASSERT_EQ(engine.callsSince(start), std::vector<int>(static_cast<std::size_t>(c.calls), 131));
        for (int i = 0; i < c.calls; ++i) {
            EXPECT_EQ(engine.args(start + i)[0], 7);
            EXPECT_EQ(engine.args(start + i)[1], i);
        }
    }
}

TEST(TavtuneOps, ScoreInfoTextPutsEachLabelBeforeItsText) {
    PartialEngine engine;
    engine.open();
    engine.log.hasDescription = 1;
    engine.log.description[0] = "Anna Müller";
    engine.log.description[1] = "Etüde, Klavier";
    engine.log.description[2] = "Zweite Fassung";
    std::string text = "old";
    ASSERT_EQ(engine.lib.GetScoreInfoText(kLabels, text), kTavtuneOk);
    EXPECT_EQ(text, "Author: Anna Müller\nKeywords: Etüde, Klavier\nComment: Zweite Fassung");
    EXPECT_EQ(engine.callsSince(engine.log.count - 1), std::vector<int>{143});

    // A text the engine leaves out is empty.
    engine.log.description[1] = nullptr;
    ASSERT_EQ(engine.lib.GetScoreInfoText({"a", "b", "c"}, text), kTavtuneOk);
    EXPECT_EQ(text, "aAnna Müller\nb\ncZweite Fassung");

    // No description: a failure, the text untouched.
    engine.log.hasDescription = 0;
    EXPECT_EQ(engine.lib.GetScoreInfoText(kLabels, text), kTavtuneNoScore);
    EXPECT_EQ(text, "aAnna Müller\nb\ncZweite Fassung");
}

// --- time --------------------------------------------------------------------------

TEST(TavtuneOps, PlayTimeRoundsHalvesAwayFromZero) {
    const struct {
        double engineMs;
        int expected;
        std::int32_t ms;
    } cases[] = {
        {1234.5, kTavtuneOk, 1235},
        {1234.4, kTavtuneOk, 1234},
        {1234.6, kTavtuneOk, 1235},
        {0.5, kTavtuneOk, 1},
        {0.0, kTavtuneOk, 0},
        {0.4, kTavtuneOk, 0},
        {-1.0, kTavtuneNoScore, 77},  // the engine's "no time" while its player holds the score
        {-0.5, kTavtuneNoScore, 77},
        {2147483647.0, kTavtuneOk, 2147483647},
        // No time that fits: a failure, never a made-up number.
        {2147483647.5, kTavtuneNoScore, 77},
        {1e12, kTavtuneNoScore, 77},
        {std::numeric_limits<double>::quiet_NaN(), kTavtuneNoScore, 77},
        {std::numeric_limits<double>::infinity(), kTavtuneNoScore, 77},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.engineMs);
        PartialEngine engine;
        const int start = engine.open();
        engine.log.playTimeMs = c.engineMs;
        std::int32_t ms = 77;
        EXPECT_EQ(engine.lib.GetPlayTime(ms), c.expected);
        EXPECT_EQ(ms, c.ms);
        ASSERT_EQ(engine.callsSince(start), std::vector<int>{55});
        EXPECT_EQ(engine.lastArgs()[1], TAVTUNE_REQUEST_PLAY_TIME);
        EXPECT_EQ(engine.log.receivedMarker, -1);
    }
}

TEST(TavtuneOps, PlayTimeEngineFailureIsNoSuccess) {
    for (tvWord answer : {tvWord{-1}, tvWord{-2}, tvWord{1}}) {
        PartialEngine engine;
        engine.open();
        engine.log.playTimeMs = 5000.0;
        engine.log.timeAnswer = answer;
        std::int32_t ms = 77;
        EXPECT_EQ(engine.lib.GetPlayTime(ms), kTavtuneNoScore) << answer;
        EXPECT_EQ(ms, 77);
    }
}

TEST(TavtuneOps, PositionInfoAsksForTheGivenPosition) {
    const struct {
        std::int32_t result, result2;
        TavPositionInfo expected;
    } cases[] = {{0, 7, {1, -1, 7, 0}}, {3, 240, {1, 3, 240, 0}}, {12, 0, {1, 12, 0, 0}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        PartialEngine engine;
        const int start = engine.open();
        engine.log.positionResult = c.result;
        engine.log.positionResult2 = c.result2;
        TavPositionInfo info{9, 9, 9, 9};
        ASSERT_EQ(engine.lib.GetPositionInfo(1500, info), kTavtuneOk);
        EXPECT_EQ(engine.callsSince(start), std::vector<int>{55});
        EXPECT_EQ(engine.lastArgs()[1], TAVTUNE_REQUEST_POSITION);
        EXPECT_EQ(engine.log.receivedPositionMs, 1500.0);
        EXPECT_EQ(info.valid, c.expected.valid);
        EXPECT_EQ(info.result, c.expected.result);
        EXPECT_EQ(info.result2, c.expected.result2);
        EXPECT_EQ(info.reserved, 0);
    }
    PartialEngine engine;
    engine.open();
    engine.log.timeAnswer = -1;
    TavPositionInfo info{9, 9, 9, 9};
    EXPECT_EQ(engine.lib.GetPositionInfo(1500, info), kTavtuneNoScore);
    EXPECT_EQ(info.valid, 9);
}

TEST(TavtuneOps, SetPositionGoesThroughTheRequestRecord) {
    PartialEngine engine;
    const int start = engine.open();
    ASSERT_EQ(engine.lib.SetPosition(61250), kTavtuneOk);
    EXPECT_EQ(engine.callsSince(start), std::vector<int>{93});
    EXPECT_EQ(engine.lastArgs()[1], TAVTUNE_REQUEST_POSITION);
    EXPECT_EQ(engine.log.setPositionMs, 61250.0);

    engine.log.positionAnswer = -1;
    EXPECT_EQ(engine.lib.SetPosition(0), kTavtuneNoScore);
}

TEST(TavtuneOps, SetPositionPreparesTheCurrentEntryFirst) {
    // No hook: nothing to prepare, nothing asked of the engine.
    {
        PartialEngine engine;
        const int start = engine.log.count;
        EXPECT_EQ(engine.lib.SetPosition(100), kTavtuneNoScore);
        EXPECT_EQ(engine.log.count, start);
    }
    const struct {
        const char* what;
        int prepared;
        bool opens;
        int expected;
        bool positioned;
    } cases[] = {
        {"preparation opens the score", 0, true, kTavtuneOk, true},
        {"preparation fails", -103, false, -103, false},
        {"preparation succeeds without a score", 0, false, kTavtuneNoScore, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PartialEngine engine;
        int prepares = 0;
        engine.lib.prepareCurrentEntry = [&] {
            ++prepares;
            if (c.opens) engine.lib.OpenScore("/music/current.tvrx", 0);
            return c.prepared;
        };
        EXPECT_EQ(engine.lib.SetPosition(100), c.expected);
        EXPECT_EQ(prepares, 1);
        EXPECT_EQ(engine.log.calls[93], c.positioned ? 1 : 0);
        // With the score open the entry is not prepared again.
        if (c.opens) {
            EXPECT_EQ(engine.lib.SetPosition(200), kTavtuneOk);
            EXPECT_EQ(prepares, 1);
        }
    }
}

TEST(TavtuneOps, TempoRoundsTheScoresOrThePlayedTempo) {
    const struct {
        double written, played;
        bool askPlayed;
        std::int32_t expected;
    } cases[] = {
        {120.5, 95.4, false, 121}, {120.5, 95.4, true, 95}, {119.49, 80.5, false, 119},
        {119.49, 80.5, true, 81},  {60.0, 0.0, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        PartialEngine engine;
        const int start = engine.open();
        engine.log.tempos[0] = c.written;
        engine.log.tempos[1] = 4321.0;
        engine.log.tempos[2] = c.played;
        std::int32_t tempo = -5;
        ASSERT_EQ(engine.lib.GetTempo(kTavtuneNoPosition, tempo, c.askPlayed), kTavtuneOk);
        EXPECT_EQ(tempo, c.expected);
        // No position: no move, no tempo request counted.
        EXPECT_EQ(engine.callsSince(start), std::vector<int>{98});
        EXPECT_EQ(engine.lib.tempoRequests, 0);
        // Three doubles of the binding's, never words.
        const tvWord* a = engine.lastArgs();
        EXPECT_NE(a[0], 0);
        EXPECT_NE(a[1], 0);
        EXPECT_NE(a[2], 0);
        EXPECT_EQ(std::set<tvWord>({a[0], a[1], a[2]}).size(), 3u);
    }
}

TEST(TavtuneOps, TempoAtAPositionMovesThereFirst) {
    PartialEngine engine;
    const int start = engine.open();
    engine.log.tempos[0] = 100.0;
    std::int32_t tempo = 0;
    ASSERT_EQ(engine.lib.GetTempo(2000, tempo, false), kTavtuneOk);
    EXPECT_EQ(tempo, 100);
    EXPECT_EQ(engine.callsSince(start), (std::vector<int>{93, 98}));
    EXPECT_EQ(engine.log.setPositionMs, 2000.0);
    EXPECT_EQ(engine.lib.tempoRequests, 1);

    // The move fails: its failure, no tempo asked, the request still counted.
    engine.log.positionAnswer = -1;
    tempo = 7;
    EXPECT_EQ(engine.lib.GetTempo(3000, tempo, false), kTavtuneNoScore);
    EXPECT_EQ(tempo, 7);
    EXPECT_EQ(engine.log.calls[98], 1);
    EXPECT_EQ(engine.lib.tempoRequests, 2);

    // The tempo query fails.
    engine.log.positionAnswer = 0;
    engine.log.tempoAnswer = -1;
    EXPECT_EQ(engine.lib.GetTempo(kTavtuneNoPosition, tempo, true), kTavtuneNoScore);
    EXPECT_EQ(tempo, 7);
}

TEST(TavtuneOps, TempoOpensTheCurrentEntrysScore) {
    // No hook, or a hook without an entry: nothing asked of the engine.
    {
        PartialEngine engine;
        const int start = engine.log.count;
        std::int32_t tempo = 7;
        EXPECT_EQ(engine.lib.GetTempo(kTavtuneNoPosition, tempo, false), kTavtuneNoScore);
        engine.lib.currentEntryPath = [] { return fs::path(); };
        EXPECT_EQ(engine.lib.GetTempo(kTavtuneNoPosition, tempo, false), kTavtuneNoScore);
        EXPECT_EQ(engine.log.count, start);
        EXPECT_EQ(tempo, 7);
    }
    {
        PartialEngine engine;
        engine.lib.currentEntryPath = [] { return fs::path("/music/current.tvrx"); };
        engine.log.tempos[0] = 88.0;
        const int start = engine.log.count;
        std::int32_t tempo = 0;
        ASSERT_EQ(engine.lib.GetTempo(500, tempo, false), kTavtuneOk);
        EXPECT_EQ(tempo, 88);
        EXPECT_EQ(engine.callsSince(start), (std::vector<int>{176, 93, 98}));
        EXPECT_STREQ(engine.log.openedPath, "/music/current.tvrx");
        EXPECT_EQ(engine.args(start)[5], 0);
        EXPECT_TRUE(engine.lib.IsScoreOpen("/music/current.tvrx"));
    }
    // The score cannot be opened: OpenScore's failure.
    {
        PartialEngine engine;
        engine.lib.currentEntryPath = [] { return fs::path("/music/current.tvrx"); };
        engine.log.openAnswer = TAVTUNE_OPEN_REJECTED;
        std::int32_t tempo = 7;
        EXPECT_EQ(engine.lib.GetTempo(500, tempo, false), kTavtuneScoreRejected);
        EXPECT_EQ(engine.log.calls[93] + engine.log.calls[98], 0);
        EXPECT_EQ(tempo, 7);
    }
}

// --- tempo curve -----------------------------------------------------------------

// A curve point from its 40 stored bytes, as the project keeps it.
TempoPoint storedPoint(std::uint32_t position, double tempo, double time, double extra, std::int32_t kind,
                       std::int32_t tag) {
    std::array<std::uint8_t, TempoPoint::kStoredSize> bytes{};
    std::memcpy(bytes.data() + 0, &position, 4);
    std::memcpy(bytes.data() + 8, &tempo, 8);
    std::memcpy(bytes.data() + 16, &time, 8);
    std::memcpy(bytes.data() + 24, &extra, 8);
    std::memcpy(bytes.data() + 32, &kind, 4);
    std::memcpy(bytes.data() + 36, &tag, 4);
    return TempoPoint::fromBytes(bytes);
}

TEST(TavtuneOps, TempoCurveWithoutPointsCallsNothing) {
    PartialEngine engine;
    const int start = engine.open();
    engine.lib.enginePointCount = 4;
    EXPECT_EQ(engine.lib.SetTempoCurve({}), kTavtuneOk);
    EXPECT_EQ(engine.log.count, start);
    EXPECT_EQ(engine.lib.enginePointCount, 4);
}

TEST(TavtuneOps, TempoCurveHandsEveryPointOver) {
    PartialEngine engine;
    const int start = engine.open();
    engine.log.pointCountAnswer = 5;
    const std::vector<TempoPoint> points = {storedPoint(0, 120.0, 0.0, 1.0, 3, 11),
                                            storedPoint(1920, 90.0, 2000.0, 1.5, 4, -2)};
    ASSERT_EQ(engine.lib.SetTempoCurve(points), kTavtuneOk);
    EXPECT_EQ(engine.callsSince(start), (std::vector<int>{99, 99, 99, 99, 99, 100}));
    // C99(0, 0) after each point and once more; C100(0, 0).
    for (int i : {1, 3, 4, 5}) {
        EXPECT_EQ(engine.args(start + i)[0], 0) << i;
        EXPECT_EQ(engine.args(start + i)[1], 0) << i;
    }
    EXPECT_EQ(engine.lib.enginePointCount, 5);

    ASSERT_EQ(engine.log.pointCount, 2);
    const struct {
        std::int32_t position, tag, kind;
        double tempo, time;
    } expected[] = {{0, 11, 3, 120.0, 0.0}, {1920, -2, 4, 135.0, 2000.0}};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const tvTempoPoint& p = engine.log.points[i];
        EXPECT_EQ(engine.log.pointCodes[i], TAVTUNE_REQUEST_TEMPO_POINT);
        // By offset, as the engine reads the 88-byte record.
        EXPECT_EQ(readAt<std::int32_t>(&p, 0), expected[i].position);
        EXPECT_EQ(readAt<std::int32_t>(&p, 32), expected[i].tag);
        EXPECT_EQ(readAt<std::int32_t>(&p, 40), expected[i].kind);
        EXPECT_EQ(readAt<double>(&p, 60), expected[i].tempo);
        EXPECT_EQ(readAt<double>(&p, 68), 1.0);
        EXPECT_EQ(readAt<double>(&p, 76), expected[i].time);
        // Everything else is zero.
        for (std::size_t offset : {4u, 8u, 12u, 16u, 20u, 24u, 28u, 36u, 44u, 48u, 52u, 56u, 84u}) {
            EXPECT_EQ(readAt<std::int32_t>(&p, offset), 0) << "offset " << offset;
        }
    }
}

TEST(TavtuneOps, TempoCurveRefusedPointsLeaveTheListUnfinished) {
    const struct {
        const char* what;
        int failingPoint;
        tvWord answer;
        tvWord endAnswer;
        int expected;
        std::vector<int> calls;
    } cases[] = {
        {"first point refused", 0, -2, 0, kTavtunePointRefused, {99}},
        {"second point refused", 1, -2, 0, kTavtunePointRefused, {99, 99, 99}},
        {"second point fails", 1, -1, 0, kTavtuneNoScore, {99, 99, 99}},
        {"another negative answer", 0, -7, 0, kTavtuneNoScore, {99}},
        {"a positive answer is no failure", 0, 1, 0, kTavtuneOk, {99, 99, 99, 99, 99, 99, 99, 100}},
        {"ending a point fails", 5, 0, -1, kTavtuneNoScore, {99, 99}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PartialEngine engine;
        const int start = engine.open();
        engine.log.pointAnswers[c.failingPoint] = c.answer;
        engine.log.endAnswer = c.endAnswer;
        engine.log.pointCountAnswer = 9;
        engine.lib.enginePointCount = 2;
        const std::vector<TempoPoint> points(3, storedPoint(0, 100.0, 0.0, 1.0, 0, 0));
        EXPECT_EQ(engine.lib.SetTempoCurve(points), c.expected);
        EXPECT_EQ(engine.callsSince(start), c.calls);
        EXPECT_EQ(engine.lib.enginePointCount, c.expected == kTavtuneOk ? 9 : 2);
    }
}

TEST(TavtuneOps, UpdateStateReadsThePointCount) {
    PartialEngine engine;
    engine.log.pointCountAnswer = 7;
    engine.lib.enginePointCount = 3;
    int start = engine.log.count;
    EXPECT_EQ(engine.lib.UpdateState(), -1);
    EXPECT_EQ(engine.lib.enginePointCount, -1);
    EXPECT_EQ(engine.log.count, start);

    start = engine.open();
    EXPECT_EQ(engine.lib.UpdateState(), 7);
    EXPECT_EQ(engine.lib.enginePointCount, 7);
    EXPECT_EQ(engine.callsSince(start), std::vector<int>{100});
    EXPECT_EQ(engine.lastArgs()[0], 0);
    EXPECT_EQ(engine.lastArgs()[1], 0);

    // Closing clears it.
    engine.lib.CloseScore();
    EXPECT_EQ(engine.lib.enginePointCount, 0);
}

// --- play switches and options ----------------------------------------------------

const char* const kDynamicLines = "Forte=110\r\nPiano=45\r\nCrescendo=größer\r\n";
const char* const kArticLines = "Staccato=50\r\n";
const char* const kTrillLines = "Trill=\"on\"\r\nSpeed = 8 \r\n";

void programSwitches(PartialEngineLog& log) {
    log.switchLines[0] = kDynamicLines;
    log.switchLines[1] = kArticLines;
    log.switchLines[2] = kTrillLines;
}

const IniSectionLines kDynamic = {{"Forte", "110"}, {"Piano", "45"}, {"Crescendo", "größer"}};
const IniSectionLines kArtic = {{"Staccato", "50"}};
const IniSectionLines kTrills = {{"Trill", "\"on\""}, {"Speed", "8"}};

TEST(TavtuneOps, GetSectionsReadsTheEnginesSwitchesBack) {
    TempDirOverride temp;
    PartialEngine engine;
    programSwitches(engine.log);
    engine.log.options = TAVTUNE_OPTION_DYNAMICS | TAVTUNE_OPTION_TRILLS | TAVTUNE_OPTION_OFF;
    TuneSectionSet set;
    set.dynamic = {{"old", "1"}};
    const int start = engine.log.count;
    ASSERT_EQ(engine.lib.GetSections(set, true), kTavtuneOk);
    EXPECT_EQ(set.dynamic, kDynamic);
    EXPECT_EQ(set.artic, kArtic);
    EXPECT_EQ(set.trills, kTrills);
    EXPECT_EQ(set.UseDynamic, 1);
    EXPECT_EQ(set.UseSwing, 0);
    EXPECT_EQ(set.UseTrills, 1);

    // C169 for kind 4, 2 and 5 with their sections, into one file; then C63.
    EXPECT_EQ(engine.callsSince(start), (std::vector<int>{169, 169, 169, 63}));
    const tvWord kinds[] = {4, 2, 5};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(engine.args(start + i)[0], kinds[i]);
        EXPECT_STREQ(reinterpret_cast<const char*>(engine.args(start + i)[2]), kTavSwitchSections[i].section);
        EXPECT_EQ(engine.args(start + i)[1], engine.args(start)[1]);
    }
    // The file was the system temp folder's, named "qvt...", and is gone.
    const fs::path used = engine.log.iniPath;
    EXPECT_EQ(used.parent_path(), temp.path());
    EXPECT_EQ(used.filename().string().rfind("qvt", 0), 0u) << used;
    EXPECT_FALSE(fs::exists(used));
    EXPECT_TRUE(temp.entries().empty());

    // Without asking for the options the switch bytes stay.
    engine.log.options = TAVTUNE_OPTION_SWING;
    ASSERT_EQ(engine.lib.GetSections(set, false), kTavtuneOk);
    EXPECT_EQ(engine.log.calls[63], 1);
    EXPECT_EQ(set.UseDynamic, 1);
    EXPECT_EQ(set.UseSwing, 0);
    ASSERT_EQ(engine.lib.GetSections(set, true), kTavtuneOk);
    EXPECT_EQ(set.UseDynamic, 0);
    EXPECT_EQ(set.UseSwing, 1);
    EXPECT_EQ(set.UseTrills, 0);
    EXPECT_TRUE(temp.entries().empty());
}

TEST(TavtuneOps, GetSectionsFailsWhenTheEngineFailsASection) {
    for (int failing = 0; failing < 3; ++failing) {
        SCOPED_TRACE(failing);
        TempDirOverride temp;
        PartialEngine engine;
        programSwitches(engine.log);
        engine.log.switchAnswers[failing] = -1;
        TuneSectionSet set;
        set.dynamic = kDynamic;
        set.trills = kTrills;
        set.UseDynamic = 1;
        const int start = engine.log.count;
        EXPECT_EQ(engine.lib.GetSections(set, true), kTavtuneNoScore);
        // The engine is asked no further; the set's texts are gone, its switches stay.
        EXPECT_EQ(engine.callsSince(start), std::vector<int>(static_cast<std::size_t>(failing + 1), 169));
        EXPECT_TRUE(set.dynamic.empty());
        EXPECT_TRUE(set.artic.empty());
        EXPECT_TRUE(set.trills.empty());
        EXPECT_EQ(set.UseDynamic, 1);
        EXPECT_TRUE(temp.entries().empty());
    }
    // A success without the section written is none either.
    TempDirOverride temp;
    PartialEngine engine;
    programSwitches(engine.log);
    engine.log.switchSilent = 1;
    TuneSectionSet set;
    EXPECT_EQ(engine.lib.GetSections(set, true), kTavtuneNoScore);
    EXPECT_EQ(engine.log.calls[169], 3);
    EXPECT_EQ(engine.log.calls[63], 0);
    EXPECT_TRUE(temp.entries().empty());
}

TEST(TavtuneOps, PutSectionsHandsTheSetsSwitchesOver) {
    TempDirOverride temp;
    PartialEngine engine;
    TuneSectionSet set;
    set.dynamic = kDynamic;
    set.artic = kArtic;
    set.trills = kTrills;
    set.UseDynamic = 1;
    set.UseSwing = 0;
    set.UseTrills = 1;
    const int start = engine.log.count;
    ASSERT_EQ(engine.lib.PutSections(set), kTavtuneOk);
    EXPECT_EQ(engine.callsSince(start), (std::vector<int>{168, 168, 168, 63, 92, 63, 92, 63, 92}));
    const tvWord kinds[] = {4, 2, 5};
    const IniSectionLines* lines[] = {&kDynamic, &kArtic, &kTrills};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(engine.args(start + i)[0], kinds[i]);
        EXPECT_STREQ(engine.log.handedSection[i], kTavSwitchSections[i].section);
        platform::IniDocument handed;
        handed.parse(engine.log.handedIni[i]);
        EXPECT_EQ(handed.readSection(kTavSwitchSections[i].section), *lines[i]);
    }
    // Option 0x40 (dynamics) first, then 0x20 (trills), then 8 (swing).
    const tvWord options[][2] = {{0x40, 0x40}, {0x20, 0x20}, {8, TAVTUNE_OPTION_OFF}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(engine.args(start + 4 + 2 * i)[0], options[i][0]);
        EXPECT_EQ(engine.args(start + 4 + 2 * i)[1], options[i][1]);
    }
    const fs::path used = engine.log.iniPath;
    EXPECT_EQ(used.parent_path(), temp.path());
    EXPECT_EQ(used.filename().string().rfind("qvt", 0), 0u) << used;
    EXPECT_TRUE(temp.entries().empty());
}

TEST(TavtuneOps, PutSectionsWithoutDynamicsDoesNothing) {
    TempDirOverride temp;
    PartialEngine engine;
    TuneSectionSet set;
    set.artic = kArtic;
    set.UseSwing = 1;
    const int start = engine.log.count;
    EXPECT_EQ(engine.lib.PutSections(set), kTavtuneOk);
    EXPECT_EQ(engine.log.count, start);
    EXPECT_TRUE(temp.entries().empty());
}

TEST(TavtuneOps, PutSectionsReportsARefusedSection) {
    TempDirOverride temp;
    PartialEngine engine;
    engine.log.handedAnswers[1] = -1;
    TuneSectionSet set;
    set.dynamic = kDynamic;
    set.UseSwing = 1;
    const int start = engine.log.count;
    EXPECT_EQ(engine.lib.PutSections(set), kTavtuneNoScore);
    // Every section and option is handed over all the same.
    EXPECT_EQ(engine.callsSince(start), (std::vector<int>{168, 168, 168, 63, 92, 63, 92, 63, 92}));
    EXPECT_EQ(engine.log.options & TAVTUNE_OPTION_SWING, TAVTUNE_OPTION_SWING);
    EXPECT_TRUE(temp.entries().empty());
}

TEST(TavtuneOps, SectionsAndOptionsMakeTheRoundTrip) {
    TempDirOverride temp;
    PartialEngine engine;
    programSwitches(engine.log);
    TuneSectionSet read;
    ASSERT_EQ(engine.lib.GetSections(read, true), kTavtuneOk);
    read.UseDynamic = 1;
    read.UseSwing = 1;
    read.UseTrills = 0;
    ASSERT_EQ(engine.lib.PutSections(read), kTavtuneOk);

    // What the engine was handed is what it gave: written back by the engine
    // from those files, the sections read again are the same.
    for (int i = 0; i < 3; ++i) {
        platform::IniDocument handed;
        handed.parse(engine.log.handedIni[i]);
        const IniSectionLines lines = handed.readSection(kTavSwitchSections[i].section);
        EXPECT_EQ(lines, i == 0 ? read.dynamic : i == 1 ? read.artic : read.trills) << i;
    }
    std::string again[3];
    for (int i = 0; i < 3; ++i) {
        platform::IniDocument handed;
        handed.parse(engine.log.handedIni[i]);
        for (const auto& [key, value] : handed.readSection(kTavSwitchSections[i].section)) {
            again[i] += key + "=" + value + "\r\n";
        }
        engine.log.switchLines[i] = again[i].c_str();
    }
    TuneSectionSet back;
    ASSERT_EQ(engine.lib.GetSections(back, true), kTavtuneOk);
    EXPECT_EQ(back.dynamic, read.dynamic);
    EXPECT_EQ(back.artic, read.artic);
    EXPECT_EQ(back.trills, read.trills);
    EXPECT_EQ(back.UseDynamic, 1);
    EXPECT_EQ(back.UseSwing, 1);
    EXPECT_EQ(back.UseTrills, 0);
    EXPECT_TRUE(temp.entries().empty());
}

TEST(TavtuneOps, SetOptionReadsTheOptionsThenSwitches) {
    const struct {
        std::uint32_t option;
        bool on;
        tvWord value;
    } cases[] = {{0x40, true, 0x40}, {0x20, false, TAVTUNE_OPTION_OFF}, {0x2000, true, 0x2000}, {8, false, 0x80000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        PartialEngine engine;
        const int start = engine.log.count;
        engine.lib.SetOption(c.option, c.on);
        ASSERT_EQ(engine.callsSince(start), (std::vector<int>{63, 92}));
        EXPECT_EQ(engine.lastArgs()[0], static_cast<tvWord>(c.option));
        EXPECT_EQ(engine.lastArgs()[1], c.value);
        EXPECT_EQ((engine.log.options & static_cast<tvWord>(c.option)) != 0, c.on);
    }
}

// --- staff keys --------------------------------------------------------------------

TEST(TavtuneOps, CollectStaffKeysMarksOrListsTheNotes) {
    PartialEngine engine;
    const int start = engine.open();
    const tvNote notes[] = {{0, 480, 36, 100, {0, 0}},  {480, 480, 38, 90, {0, 0}}, {480, 480, 36, 90, {0, 0}},
                            {960, 240, 127, 80, {0, 0}}, {960, 240, 0, 80, {0, 0}},   {990, 10, 200, 1, {0, 0}}};
    engine.log.noteCount = 6;
    std::memcpy(engine.log.notes, notes, sizeof notes);

    TavKeyTable keys;
    keys.fill(0xEE);
    ASSERT_EQ(engine.lib.CollectStaffKeys(1, -1, &keys, nullptr), kTavtuneOk);
    EXPECT_EQ(engine.callsSince(start), std::vector<int>{146});
    EXPECT_EQ(engine.lastArgs()[0], 1);
    EXPECT_EQ(engine.lastArgs()[1], -1);
    for (int k = 0; k < kTavtuneKeyCount; ++k) {
        const bool marked = k == 0 || k == 36 || k == 38 || k == 127;
        EXPECT_EQ(keys[static_cast<std::size_t>(k)], marked ? 1 : 0) << k;  // a key beyond 127 marks nothing
    }

    // The list: appended to what it holds, every note as the engine gave it.
    std::vector<tvNote> list(1, tvNote{1, 2, 3, 4, {0, 0}});
    ASSERT_EQ(engine.lib.CollectStaffKeys(0, 2, nullptr, &list), kTavtuneOk);
    EXPECT_EQ(engine.lastArgs()[0], 0);
    EXPECT_EQ(engine.lastArgs()[1], 2);
    ASSERT_EQ(list.size(), 7u);
    EXPECT_EQ(list[0].key, 3);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(list[i + 1].tick, notes[i].tick);
        EXPECT_EQ(list[i + 1].length, notes[i].length);
        EXPECT_EQ(list[i + 1].key, notes[i].key);
        EXPECT_EQ(list[i + 1].velocity, notes[i].velocity);
    }

    // Both at once, and neither.
    list.clear();
    ASSERT_EQ(engine.lib.CollectStaffKeys(0, 0, &keys, &list), kTavtuneOk);
    EXPECT_EQ(list.size(), 6u);
    EXPECT_EQ(keys[36], 1);
    EXPECT_EQ(engine.lib.CollectStaffKeys(0, 0, nullptr, nullptr), kTavtuneOk);

    // No list from the engine, or a list that holds no notes where it says so.
    engine.log.noNoteList = 1;
    keys.fill(0xEE);
    EXPECT_EQ(engine.lib.CollectStaffKeys(0, 0, &keys, &list), kTavtuneNoScore);
    EXPECT_EQ(keys[36], 0);
    EXPECT_EQ(list.size(), 6u);
    engine.log.noNoteList = 0;
    engine.log.noteCount = -3;
    EXPECT_EQ(engine.lib.CollectStaffKeys(0, 0, &keys, &list), kTavtuneNoScore);
    engine.log.noteCount = 0;
    EXPECT_EQ(engine.lib.CollectStaffKeys(0, 0, &keys, &list), kTavtuneOk);
    EXPECT_EQ(keys, TavKeyTable{});
}

// --- without a score ------------------------------------------------------------------

struct Operation {
    const char* name;
    std::function<int(CTavtuneLib&)> run;
    int expected;
};

std::vector<Operation> scoreOperations() {
    static const std::vector<TempoPoint> points(2, TempoPoint{});
    return {
        {"CountStaves", [](CTavtuneLib& l) { return l.CountStaves(); }, kTavtuneNoCount},
        {"CountStaffItems", [](CTavtuneLib& l) { return l.CountStaffItems(0); }, kTavtuneNoCount},
        {"GetScoreInfoText", [](CTavtuneLib& l) { std::string t; return l.GetScoreInfoText(kLabels, t); },
         kTavtuneNoScore},
        {"GetPlayTime", [](CTavtuneLib& l) { std::int32_t ms = 0; return l.GetPlayTime(ms); }, kTavtuneNoScore},
        {"GetPositionInfo", [](CTavtuneLib& l) { TavPositionInfo i; return l.GetPositionInfo(10, i); },
         kTavtuneNoScore},
        {"SetPosition", [](CTavtuneLib& l) { return l.SetPosition(10); }, kTavtuneNoScore},
        {"GetTempo", [](CTavtuneLib& l) { std::int32_t t = 0; return l.GetTempo(10, t, false); }, kTavtuneNoScore},
        {"GetTempo without a position",
         [](CTavtuneLib& l) { std::int32_t t = 0; return l.GetTempo(kTavtuneNoPosition, t, true); }, kTavtuneNoScore},
        {"SetTempoCurve", [](CTavtuneLib& l) { return l.SetTempoCurve(points); }, kTavtuneNoScore},
        {"SetTempoCurve without points", [](CTavtuneLib& l) { return l.SetTempoCurve({}); }, kTavtuneNoScore},
        {"UpdateState", [](CTavtuneLib& l) { return static_cast<int>(l.UpdateState()); }, -1},
        {"CollectStaffKeys",
         [](CTavtuneLib& l) {
             TavKeyTable keys;
             keys.fill(9);
             std::vector<tvNote> notes;
             const int rc = l.CollectStaffKeys(0, -1, &keys, &notes);
             EXPECT_EQ(keys[0], 9);
             EXPECT_TRUE(notes.empty());
             return rc;
         },
         kTavtuneNoScore},
    };
}

TEST(TavtuneOps, WithoutAScoreEveryOperationFailsAndAsksNothing) {
    PartialEngine engine;
    engine.log.staveCount = 3;
    engine.log.playTimeMs = 1000.0;
    for (const Operation& op : scoreOperations()) {
        SCOPED_TRACE(op.name);
        const int start = engine.log.count;
        EXPECT_EQ(op.run(engine.lib), op.expected);
        EXPECT_EQ(engine.log.count, start);
    }
    // And once a score was open and is closed again.
    engine.open();
    engine.lib.CloseScore();
    for (const Operation& op : scoreOperations()) {
        SCOPED_TRACE(op.name);
        const int start = engine.log.count;
        EXPECT_EQ(op.run(engine.lib), op.expected);
        EXPECT_EQ(engine.log.count, start);
    }
}

// With every slot a stub (no library), even a binding that believes a score
// is open sees every operation fail and never a success made up.
TEST(TavtuneOps, WithStubsEveryOperationFails) {
    TempFolder empty;
    TempDirOverride temp;
    CTavtuneLib lib;
    lib.Init(0, empty.path());
    ASSERT_FALSE(lib.isLoaded());
    lib.scoreOpen = true;
    lib.scorePath = "/music/a.tvrx";
    EXPECT_EQ(lib.CountStaves(), 0);
    EXPECT_EQ(lib.CountStaffItems(0), 0);
    std::string text = "x";
    EXPECT_EQ(lib.GetScoreInfoText(kLabels, text), kTavtuneNoScore);
    EXPECT_EQ(text, "x");
    std::int32_t value = 5;
    EXPECT_EQ(lib.GetPlayTime(value), kTavtuneNoScore);
    TavPositionInfo info{};
    EXPECT_EQ(lib.GetPositionInfo(0, info), kTavtuneNoScore);
    EXPECT_EQ(info.valid, 0);
    EXPECT_EQ(lib.SetPosition(0), kTavtuneNoScore);
    EXPECT_EQ(lib.GetTempo(kTavtuneNoPosition, value, false), kTavtuneNoScore);
    EXPECT_EQ(value, 5);
    const std::vector<TempoPoint> points(1);
    EXPECT_EQ(lib.SetTempoCurve(points), kTavtuneNoScore);
    EXPECT_EQ(lib.UpdateState(), -1);
    TuneSectionSet set;
    set.dynamic = kDynamic;
    EXPECT_EQ(lib.GetSections(set, true), kTavtuneNoScore);
    EXPECT_TRUE(set.dynamic.empty());
    set.dynamic = kDynamic;
    EXPECT_EQ(lib.PutSections(set), kTavtuneNoScore);
    TavKeyTable keys{};
    EXPECT_EQ(lib.CollectStaffKeys(0, -1, &keys, nullptr), kTavtuneNoScore);
    lib.SetOption(8, true);
    EXPECT_TRUE(temp.entries().empty());
}

// --- our engine ------------------------------------------------------------------------

fs::path sharedScore(const std::string& name) { return fs::path(QVP3_SHARED_TESTDATA_DIR) / "musicxml" / name; }
fs::path scoreconvData(const std::string& name) {
    return (fs::path(QVP3_TEST_DATA_DIR) / ".." / ".." / ".." / ".." / "scoreconv" / "tests" / "data" / name)
        .lexically_normal();
}

using testing::convertToTvrx;

// The description of a ".tvrx" as the score library reads it.
std::array<std::string, 3> descriptionOf(const fs::path& tvrx) {
    scVxmlFile* vxml = vxmlNewFile(nullptr);
    std::array<std::string, 3> texts;
    EXPECT_EQ(vxmlGetProps(vxml, tvrx.string().c_str()), 0);
    const char* parts[] = {vxmlGetDescAuthorP(vxml), vxmlGetDescKeywordsP(vxml), vxmlGetDescCommentP(vxml)};
    for (int i = 0; i < 3; ++i) texts[static_cast<std::size_t>(i)] = parts[i] != nullptr ? parts[i] : "";
    vxmlFreeFile(&vxml);
    return texts;
}

std::set<int> markedKeys(const TavKeyTable& keys) {
    std::set<int> out;
    for (int k = 0; k < kTavtuneKeyCount; ++k) {
        if (keys[static_cast<std::size_t>(k)] != 0) out.insert(k);
    }
    return out;
}

using testing::keepEngineRuntimeLoaded;

struct EngineScore {
    explicit EngineScore(const fs::path& musicXml) : tvrx(dir.path() / "score.tvrx") {
        keepEngineRuntimeLoaded();
        EXPECT_EQ(convertToTvrx(musicXml, tvrx), 0) << musicXml;
        lib.Init(0, kProgramDir);
        EXPECT_TRUE(lib.isLoaded()) << lib.loadError();
        EXPECT_EQ(lib.OpenScore(tvrx, 0), kTavtuneOk);
    }
    ~EngineScore() {
        lib.CloseScore();
        lib.Release();
    }
    EngineScore(const EngineScore&) = delete;
    EngineScore& operator=(const EngineScore&) = delete;
    TempFolder dir;
    fs::path tvrx;
    CTavtuneLib lib;
};

TEST(TavtuneOpsEngine, PianoStaffHasTwoStavesOfOneVoice) {
    EngineScore score(sharedScore("43a-PianoStaff.xml"));
    ASSERT_TRUE(score.lib.scoreOpen);
    EXPECT_EQ(score.lib.CountStaves(), 2);
    EXPECT_EQ(score.lib.CountStaffItems(0), 1);
    EXPECT_EQ(score.lib.CountStaffItems(1), 1);
    EXPECT_EQ(score.lib.CountStaffItems(2), 0);

    // F4 on the upper staff, B2 on the lower, each a whole note.
    TavKeyTable keys{};
    ASSERT_EQ(score.lib.CollectStaffKeys(0, -1, &keys, nullptr), kTavtuneOk);
    EXPECT_EQ(markedKeys(keys), std::set<int>{65});
    ASSERT_EQ(score.lib.CollectStaffKeys(1, 0, &keys, nullptr), kTavtuneOk);
    EXPECT_EQ(markedKeys(keys), std::set<int>{47});
    std::vector<tvNote> notes;
    ASSERT_EQ(score.lib.CollectStaffKeys(1, -1, nullptr, &notes), kTavtuneOk);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].key, 47);
    EXPECT_EQ(notes[0].tick, 0);
    EXPECT_EQ(notes[0].length, 4 * 480);
    // A stave the score does not have holds no notes.
    ASSERT_EQ(score.lib.CollectStaffKeys(5, -1, &keys, nullptr), kTavtuneOk);
    EXPECT_TRUE(markedKeys(keys).empty());

    // The description as the score library reads the file.
    const std::array<std::string, 3> description = descriptionOf(score.tvrx);
    EXPECT_NE(description[2].find("A simple piano staff"), std::string::npos) << description[2];
    std::string text;
    ASSERT_EQ(score.lib.GetScoreInfoText(kLabels, text), kTavtuneOk);
    // No author and no keywords; the part's description is in the comment.
    EXPECT_EQ(text.rfind("Author: \nKeywords: \nComment: ", 0), 0u) << text;
    EXPECT_NE(text.find("A simple piano staff"), std::string::npos) << text;
    EXPECT_EQ(text, "Author: " + description[0] + "\nKeywords: " + description[1] + "\nComment: " + description[2]);
}

TEST(TavtuneOpsEngine, PercussionStrokesComeAsTheEngineKeysThem) {
    EngineScore score(scoreconvData("walk_percussion.xml"));
    ASSERT_TRUE(score.lib.scoreOpen);
    EXPECT_EQ(score.lib.CountStaves(), 2);
    EXPECT_EQ(score.lib.CountStaffItems(0), 1);
    EXPECT_EQ(score.lib.CountStaffItems(1), 1);

    // The drum set: bass drum, snare with the bass drum, then a stroke on an
    // instrument of its own; keys unchanged from the engine's list, one
    // mark per key.
    TavKeyTable keys{};
    std::vector<tvNote> notes;
    ASSERT_EQ(score.lib.CollectStaffKeys(0, -1, &keys, &notes), kTavtuneOk);
    ASSERT_EQ(notes.size(), 4u);
    const std::vector<std::int32_t> ticks = {notes[0].tick, notes[1].tick, notes[2].tick, notes[3].tick};
    EXPECT_EQ(ticks, (std::vector<std::int32_t>{0, 480, 480, 960}));
    EXPECT_EQ(notes[3].length, 960);
    EXPECT_NE(notes[0].key, notes[1].key);
    EXPECT_EQ(notes[0].key, notes[2].key);
    EXPECT_NE(notes[3].key, notes[0].key);
    EXPECT_NE(notes[3].key, notes[1].key);
    EXPECT_EQ(markedKeys(keys), (std::set<int>{notes[0].key, notes[1].key, notes[3].key}));
    const auto* list = score.lib.callForAddress<const tvNoteList>(146, 0, -1);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count, 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(list->notes[i].key, notes[static_cast<std::size_t>(i)].key) << i;

    // The bass: E2, a whole note.
    notes.clear();
    ASSERT_EQ(score.lib.CollectStaffKeys(1, -1, &keys, &notes), kTavtuneOk);
    EXPECT_EQ(markedKeys(keys), std::set<int>{40});
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].length, 4 * 480);
}

}  // namespace
}  // namespace qvp3
