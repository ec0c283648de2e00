// Time in a score.
#include "engine/time_map.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "play/event_arrays.h"
#include "play/play_proc.h"

namespace tavtune {
namespace {

constexpr double kDefaultBpm = 120.0;

}  // namespace

TimeMap::TimeMap(const OpenScore& score) {
    const scoreconv::PlayScore& m = score.model();
    ticksPerQuarter_ = m.ticksPerQuarter > 0 ? m.ticksPerQuarter : 480;
    played_ = score.playedTempo;
    scorecore::CMeter standard;
    standard.init(ticksPerQuarter_, 4, 2);
    tempos_.push_back({0, m.initialTempo > 0 ? static_cast<double>(m.initialTempo) : kDefaultBpm});
    meters_.push_back({0, standard});
    const int row = m.events.globalRow();
    for (int v = 0; row >= 0 && v < m.events.voiceCount(row); ++v) {
        for (const scorecore::CScoreEvent& e : m.events.events(row, v)) {
            const std::int64_t tick = std::max(e.start, 0);
            if (e.isKind(scorecore::kKindTempo)) {
                const int bpm = scoreconv::eventTempo(e);
                if (bpm > 0) tempos_.push_back({tick, static_cast<double>(bpm)});
            }
            scorecore::CMeter meter;
            if (e.isKind(scorecore::kKindTimeSig) && scoreconv::eventMeter(e, ticksPerQuarter_, meter) &&
                meter.ticksPerBar > 0) {
                meters_.push_back({tick, meter});
            }
        }
    }
    // The last mark at a tick holds.
    const auto byTick = [](const auto& a, const auto& b) { return a.tick < b.tick; };
    std::stable_sort(tempos_.begin(), tempos_.end(), byTick);
    std::stable_sort(meters_.begin(), meters_.end(), byTick);
}

std::int64_t TimeMap::tickAt(double ms) const {
    if (!(ms > 0.0)) return 0;
    double at = 0.0;
    for (std::size_t i = 0; i < tempos_.size(); ++i) {
        const double perTick = msPerTick(playedBpm(tempos_[i].bpm));
        const bool last = i + 1 == tempos_.size();
        const double span = last ? 0.0 : static_cast<double>(tempos_[i + 1].tick - tempos_[i].tick) * perTick;
        // A whole tick is not lost to the rounding of the division.
        if (last || at + span > ms) return tempos_[i].tick + static_cast<std::int64_t>(std::floor((ms - at) / perTick + 1e-6));
        at += span;
    }
    return 0;
}

double TimeMap::msAt(std::int64_t tick) const {
    double at = 0.0;
    for (std::size_t i = 0; i < tempos_.size(); ++i) {
        const double perTick = msPerTick(playedBpm(tempos_[i].bpm));
        const std::int64_t end = i + 1 < tempos_.size() ? tempos_[i + 1].tick : tick;
        if (tick <= end) return at + static_cast<double>(tick - tempos_[i].tick) * perTick;
        at += static_cast<double>(end - tempos_[i].tick) * perTick;
    }
    return at;
}

double TimeMap::writtenTempoAt(std::int64_t tick) const {
    double bpm = tempos_.front().bpm;
    for (const Tempo& t : tempos_) {
        if (t.tick > tick) break;
        bpm = t.bpm;
    }
    return bpm;
}

scorecore::CMeter TimeMap::meterAt(std::int64_t tick) const {
    scorecore::CMeter meter = meters_.front().meter;
    for (const Meter& m : meters_) {
        if (m.tick > tick) break;
        meter = m.meter;
    }
    return meter;
}

BarPosition TimeMap::barAt(std::int64_t tick) const {
    BarPosition out;
    out.tick = static_cast<std::int32_t>(std::clamp<std::int64_t>(tick, 0, INT32_MAX));
    std::int64_t bars = 0;
    for (std::size_t i = 0; i < meters_.size(); ++i) {
        const std::int64_t from = meters_[i].tick;
        const std::int64_t until = i + 1 < meters_.size() ? std::min(meters_[i + 1].tick, tick) : tick;
        if (until <= from) continue;
        const std::int64_t perBar = meters_[i].meter.ticksPerBar;
        // A meter that starts inside a bar counts from where it starts.
        bars += (until - from) / perBar + (i + 1 < meters_.size() && until < tick && (until - from) % perBar != 0);
    }
    out.bar = static_cast<std::int32_t>(std::min<std::int64_t>(bars + 1, INT32_MAX));
    return out;
}

double scorePlayTimeMs(OpenScore& score) {
    std::int64_t time = 0;
    if (scoreconv::measurePlayTime(score.model(), &time) != 0) return -1.0;
    return static_cast<double>(time) / 10000.0;
}

const std::vector<tvTempoPoint>& tempoPointsOf(OpenScore& score) {
    if (!score.pointsTaken) {
        score.pointsTaken = true;
        const TimeMap map(score);
        const scoreconv::PlayScore& m = score.model();
        const int row = m.events.globalRow();
        for (int v = 0; row >= 0 && v < m.events.voiceCount(row); ++v) {
            for (const scorecore::CScoreEvent& e : m.events.events(row, v)) {
                const int bpm = e.isKind(scorecore::kKindTempo) ? scoreconv::eventTempo(e) : 0;
                if (bpm <= 0) continue;
                tvTempoPoint p{};
                p.position = std::max(e.start, 0);
                p.tempo = bpm;
                p.factor = 1.0;
                p.time = map.msAt(p.position);
                score.tempoPoints.push_back(p);
            }
        }
    }
    return score.tempoPoints;
}

bool addTempoPoint(OpenScore& score, const tvTempoPoint& point, double tempo) {
    tempoPointsOf(score);
    try {
        tvTempoPoint p = point;
        p.tempo = tempo;
        p.factor = 1.0;
        auto& points = score.tempoPoints;
        const auto at = std::find_if(points.begin(), points.end(),
                                     [&](const tvTempoPoint& q) { return q.position >= p.position; });
        if (at != points.end() && at->position == p.position) {
            *at = p;
        } else {
            points.insert(at, p);
        }
        scoreconv::PlayScore& m = score.model();
        const int row = m.events.globalRow();
        if (row < 0) return true;
        scorecore::CScoreEvent mark;
        scoreconv::makeTempoEvent(mark, p.position, static_cast<std::int32_t>(std::lround(tempo)));
        // After the score's own marks at that tick: the later mark holds.
        return m.events.insertInOrder(row, 0, mark) == 0;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace tavtune
