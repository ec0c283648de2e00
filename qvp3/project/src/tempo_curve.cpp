#include "qvp3_project/tempo_curve.h"

#include <algorithm>

namespace qvp3 {

namespace {

std::vector<TempoPoint>* pointList(TempoCurve& curve, int list) {
    if (list < 0 || list >= kTempoCurveLists) return nullptr;
    return &curve.points[static_cast<std::size_t>(list)];
}

}  // namespace

void stpTempoCurveInit(TempoCurve& curve) {
    curve = TempoCurve{};
    stpTempoCurveSetSpeed(curve, 1000);
}

void stpTempoCurveFree(TempoCurve& curve) {
    curve.points[TempoCurve::kFileList].clear();
    curve.points[TempoCurve::kRecordedList].clear();
}

bool stpTempoCurveSetSpeed(TempoCurve& curve, int speed) {
    // The divisor search ends only for a positive speed (speed 1 at 60000).
    if (speed <= 0) return false;
    int divisor = 100;
    int steps = speed / (60000 / divisor);
    while (steps == 0) {
        ++divisor;
        steps = speed / (60000 / divisor);
    }
    curve.speed = speed;
    curve.speedDivisor = divisor;
    curve.speedSteps = steps;
    return true;
}

bool stpTempoCurveRescale(TempoCurve& curve, double newBase) {
    if (!(newBase > 0.0)) return false;
    if (newBase == curve.baseTempo) return true;
    // Without a base the recorded tempos are not relative to anything yet:
    // scaling by a base of -1 would turn them negative.
    if (curve.baseTempo > 0.0) {
        const double factor = newBase / curve.baseTempo;
        for (TempoPoint& point : curve.points[TempoCurve::kRecordedList]) point.tempo *= factor;
    }
    curve.baseTempo = newBase;
    return true;
}

bool stpTempoCurveAddPoint(TempoCurve& curve, int list, std::uint32_t position, double tempo, double time,
                           double extra, std::int32_t kind, std::int32_t tag, std::uint32_t lengthTicks) {
    std::vector<TempoPoint>* points = pointList(curve, list);
    if (points == nullptr || position > lengthTicks) return false;
    const TempoPoint point{position, 0, tempo, time, extra, kind, tag};
    // A recording that goes on after a seek back arrives out of order: the
    // point goes where its position belongs, so the list stays sorted.
    const auto at = std::upper_bound(points->begin(), points->end(), position,
                                     [](std::uint32_t p, const TempoPoint& q) { return p < q.position; });
    points->insert(at, point);
    return true;
}

bool stpTempoCurveSetPoint(TempoCurve& curve, int list, const TempoPoint& point, std::uint32_t lengthTicks) {
    std::vector<TempoPoint>* points = pointList(curve, list);
    if (points == nullptr || point.position > lengthTicks) return false;
    for (TempoPoint& existing : *points) {
        if (existing.position == point.position && existing.tag == point.tag && existing.kind == point.kind) {
            const std::uint32_t spare = existing.spare;
            existing = point;
            existing.spare = spare;
            return true;
        }
    }
    if (!points->empty() && point.position < points->back().position) {
        const auto at = std::find_if(points->begin(), points->end(),
                                     [&](const TempoPoint& p) { return p.position >= point.position; });
        points->insert(at, point);
        return true;
    }
    points->push_back(point);
    return true;
}

bool stpTempoCurveCopyPoints(TempoCurve& curve, int target, int source, bool clear) {
    std::vector<TempoPoint>* to = pointList(curve, target);
    const std::vector<TempoPoint>* from = pointList(curve, source);
    if (to == nullptr || from == nullptr) return false;
    const std::vector<TempoPoint> copy = *from;  // source and target may be one list
    if (clear) to->clear();
    for (const TempoPoint& point : copy) stpTempoCurveSetPoint(curve, target, point);
    return true;
}

}  // namespace qvp3
