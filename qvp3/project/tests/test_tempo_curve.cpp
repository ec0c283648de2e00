#include "qvp3_project/tempo_curve.h"

#include <gtest/gtest.h>

#include <vector>

namespace qvp3 {
namespace {

std::vector<std::uint32_t> positions(const std::vector<TempoPoint>& list) {
    std::vector<std::uint32_t> out;
    for (const TempoPoint& p : list) out.push_back(p.position);
    return out;
}

TempoPoint point(std::uint32_t position, double tempo, std::int32_t kind = 1, std::int32_t tag = 0) {
    return TempoPoint{position, 0, tempo, 0.0, 0.0, kind, tag};
}

TEST(TempoCurveEditing, NewCurveHasTheDisplayRangeAndSpeedOfTheStep) {
    TempoCurve curve;
    curve.points[1].push_back(point(5, 80));
    curve.speed = 7;
    stpTempoCurveInit(curve);
    EXPECT_EQ(curve.minimum, 10);
    EXPECT_EQ(curve.maximum, 720);
    EXPECT_EQ(curve.speed, 1000);
    EXPECT_EQ(curve.speedSteps, 1);
    EXPECT_EQ(curve.speedDivisor, 100);
    EXPECT_EQ(curve.baseTempo, -1.0);
    EXPECT_TRUE(curve.points[1].empty());
}

// Each row edits a list that starts as {100 (kind 1), 300 (kind 1)}.
TEST(TempoCurveEditing, PointEditsKeepTheListSortedAndWithinTheEntry) {
    struct Case {
        const char* what;
        bool add;  // stpTempoCurveAddPoint, else stpTempoCurveSetPoint
        int list;
        TempoPoint p;
        std::uint32_t length;
        bool ok;
        std::vector<std::uint32_t> expected;
        double tempoAt0;  // the tempo of the first point afterwards
    } cases[] = {
        {"set: same position and identifiers replaces", false, 1, point(100, 70), 1000, true, {100, 300}, 70},
        {"set: same position, other tag goes before", false, 1, point(100, 70, 1, 5), 1000, true, {100, 100, 300}, 70},
        {"set: between the points", false, 1, point(200, 70), 1000, true, {100, 200, 300}, 90},
        {"set: after the last is appended", false, 1, point(400, 70), 1000, true, {100, 300, 400}, 90},
        {"set: at the end of the entry", false, 1, point(1000, 70), 1000, true, {100, 300, 1000}, 90},
        {"set: past the end of the entry", false, 1, point(1001, 70), 1000, false, {100, 300}, 90},
        {"set: list 3 does not exist", false, 3, point(200, 70), 1000, false, {100, 300}, 90},
        {"add: recording after a seek back stays in order", true, 1, point(50, 70), 1000, true, {50, 100, 300}, 70},
        {"add: same position goes after it", true, 1, point(100, 70), 1000, true, {100, 100, 300}, 90},
        {"add: past the end of the entry", true, 1, point(5000, 70), 1000, false, {100, 300}, 90},
        {"add: negative list", true, -1, point(200, 70), 1000, false, {100, 300}, 90},
    };
    for (const Case& c : cases) {
        TempoCurve curve;
        curve.points[1] = {point(100, 90), point(300, 95)};
        const bool ok = c.add ? stpTempoCurveAddPoint(curve, c.list, c.p.position, c.p.tempo, 0.0, 0.0, c.p.kind,
                                                      c.p.tag, c.length)
                              : stpTempoCurveSetPoint(curve, c.list, c.p, c.length);
        EXPECT_EQ(ok, c.ok) << c.what;
        EXPECT_EQ(positions(curve.points[1]), c.expected) << c.what;
        EXPECT_EQ(curve.points[1][0].tempo, c.tempoAt0) << c.what;
    }
}

TEST(TempoCurveEditing, RescalingTouchesOnlyRecordedTemposAndNeedsTwoBases) {
    struct Case {
        const char* what;
        double base, newBase;
        bool ok;
        double recorded, file, baseAfter;
    } cases[] = {
        {"same base changes nothing", 100.0, 100.0, true, 80.0, 80.0, 100.0},
        {"half the base halves the recorded tempos", 100.0, 50.0, true, 40.0, 80.0, 50.0},
        {"no base yet: the new one is taken as it is", -1.0, 120.0, true, 80.0, 80.0, 120.0},
        {"a base of 0 is refused", 100.0, 0.0, false, 80.0, 80.0, 100.0},
        {"a negative base is refused", 100.0, -50.0, false, 80.0, 80.0, 100.0},
    };
    for (const Case& c : cases) {
        TempoCurve curve;
        curve.baseTempo = c.base;
        curve.points[0] = {point(0, 80)};
        curve.points[1] = {point(0, 80)};
        EXPECT_EQ(stpTempoCurveRescale(curve, c.newBase), c.ok) << c.what;
        EXPECT_EQ(curve.points[1][0].tempo, c.recorded) << c.what;
        EXPECT_EQ(curve.points[0][0].tempo, c.file) << c.what;
        EXPECT_EQ(curve.baseTempo, c.baseAfter) << c.what;
    }
}

TEST(TempoCurveEditing, CopyingAListOntoItselfKeepsEveryPoint) {
    TempoCurve curve;
    curve.points[1] = {point(100, 90), point(300, 95)};
    ASSERT_TRUE(stpTempoCurveCopyPoints(curve, 1, 1, true));
    EXPECT_EQ(positions(curve.points[1]), (std::vector<std::uint32_t>{100, 300}));
    stpTempoCurveFree(curve);
    EXPECT_TRUE(curve.points[0].empty());
    EXPECT_TRUE(curve.points[1].empty());
}

}  // namespace
}  // namespace qvp3
