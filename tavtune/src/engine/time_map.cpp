// Time in a score.
#include "engine/time_map.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <span>

#include "play/event_arrays.h"
#include "play/play_model.h"
#include "play/play_proc.h"

namespace tavtune {
namespace {

// A tempo mark of the score-wide row that stands for a handed-over tempo
// point carries this word in its second message slot (the player reads only
// the first), so that the next list can take the old one's marks out again.
constexpr std::uint32_t kPointMarkTag = 0x54565450;  // "TVTP"

int resolution(const scoreconv::PlayScore& m) { return m.ticksPerQuarter > 0 ? m.ticksPerQuarter : kEngineTicksPerQuarter; }

bool isPointMark(const scorecore::CScoreEvent& e) {
    return e.isKind(scorecore::kKindTempo) && e.midi[1] == kPointMarkTag;
}

std::span<const scorecore::CScoreEvent> scoreWideRow(const scoreconv::PlayScore& m) {
    const int row = m.events.globalRow();
    return row >= 0 ? m.events.events(row, 0) : std::span<const scorecore::CScoreEvent>();
}

// The tempo the player takes for a mark's value: -1 (none) and values of 0
// or less play as 120.
double playableTempo(std::int32_t value) {
    return value > 0 ? static_cast<double>(value) : static_cast<double>(scoreconv::kFallbackTempo);
}

// The player's first tick: the earliest event of any voice when it lies before bar 1.
std::int64_t musicStartOf(const scoreconv::PlayScore& m) {
    std::int64_t start = 0;
    const int staves = std::min(static_cast<int>(m.voiceCounts.size()), std::max(m.events.rowCount() - 1, 0));
    for (int s = 0; s < staves; ++s) {
        for (int v = 0; v < m.events.voiceCount(s); ++v) {
            const auto list = m.events.events(s, v);
            if (!list.empty()) start = std::min<std::int64_t>(start, list.front().start);
        }
    }
    return start;
}

// The last tick of the score: its last bar line, note end or own score-wide mark.
std::int64_t scoreEndOf(const scoreconv::PlayScore& m) {
    std::int64_t end = std::max(m.scoreLength, 0);
    const int staves = std::max(m.events.rowCount() - 1, 0);
    for (int s = 0; s < staves; ++s) {
        for (int v = 0; v < m.events.voiceCount(s); ++v) {
            for (const scorecore::CScoreEvent& e : m.events.events(s, v)) {
                end = std::max<std::int64_t>(end, std::int64_t{e.start} + std::max(e.duration, 0));
            }
        }
    }
    for (const scorecore::CScoreEvent& e : scoreWideRow(m)) {
        if (!isPointMark(e)) end = std::max<std::int64_t>(end, e.start);
    }
    return end;
}

std::int32_t clampTo32(std::int64_t value) {
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// The tempo a point asks for: tempo x factor (a factor that is not above 0 counts as 1).
double pointTempo(const tvTempoPoint& p) {
    return p.tempo * (p.factor > 0.0 && std::isfinite(p.factor) ? p.factor : 1.0);
}

// The whole beats per minute a point's mark plays at.
std::int32_t markTempo(double tempo) {
    return static_cast<std::int32_t>(std::lround(std::clamp(tempo, 1.0, 10000.0)));
}

}  // namespace

std::int64_t toEngineTicks(const scoreconv::PlayScore& model, std::int64_t ticks) {
    return ticks * kEngineTicksPerQuarter / resolution(model);
}

std::int64_t fromEngineTicks(const scoreconv::PlayScore& model, std::int64_t ticks) {
    return ticks * resolution(model) / kEngineTicksPerQuarter;
}

TimeMap::TimeMap(const OpenScore& score) {
    const scoreconv::PlayScore& m = score.model();
    ticksPerQuarter_ = resolution(m);
    start_ = musicStartOf(m);
    const scoreconv::CTempoSettings rule = m.controls.tempo();
    const std::uint64_t conditions = m.controls.playConditions();
    const auto played = [&](std::int32_t value) {
        const std::int32_t t = scoreconv::applyTempoRule(value, rule, conditions, false, true);
        return playableTempo(t);
    };
    const auto row = scoreWideRow(m);
    // As the player begins: the row's first tempo mark and first time
    // signature hold from the start, wherever they stand.
    std::int32_t first = -1;
    scorecore::CMeter meter;
    meter.init(ticksPerQuarter_, 4, 2);
    bool meterFound = false;
    for (const scorecore::CScoreEvent& e : row) {
        if (e.isKind(scorecore::kKindTempo) && first == -1) first = scoreconv::eventTempo(e);
        scorecore::CMeter found;
        if (!meterFound && e.isKind(scorecore::kKindTimeSig) && scoreconv::eventMeter(e, ticksPerQuarter_, found) &&
            found.ticksPerBar > 0 && found.ticksPerBeat > 0) {
            meter = found;
            meterFound = true;
        }
    }
    tempos_.push_back({start_, playableTempo(first), played(first), 0.0});
    meters_.push_back({start_, meter});
    for (const scorecore::CScoreEvent& e : row) {
        const std::int64_t tick = std::max<std::int64_t>(e.start, start_);
        if (e.isKind(scorecore::kKindTempo)) {
            const std::int32_t value = scoreconv::eventTempo(e);
            tempos_.push_back({tick, playableTempo(value), played(value), 0.0});
        }
        scorecore::CMeter found;
        if (e.isKind(scorecore::kKindTimeSig) && scoreconv::eventMeter(e, ticksPerQuarter_, found) &&
            found.ticksPerBar > 0 && found.ticksPerBeat > 0) {
            meters_.push_back({tick, found});
        }
    }
    // The row is in time order; of several marks at one tick the last holds.
    const auto byTick = [](const auto& a, const auto& b) { return a.tick < b.tick; };
    std::stable_sort(tempos_.begin(), tempos_.end(), byTick);
    std::stable_sort(meters_.begin(), meters_.end(), byTick);
    for (std::size_t i = 1; i < tempos_.size(); ++i) {
        const Tempo& before = tempos_[i - 1];
        tempos_[i].ms = before.ms + static_cast<double>(tempos_[i].tick - before.tick) * msPerTick(before);
    }
    introMs_ = static_cast<double>(score.intro.list.length) * 60000.0 / (openingTempo() * kIntroTicksPerQuarter);
}

const TimeMap::Tempo& TimeMap::tempoAt(std::int64_t tick) const {
    const auto after = std::upper_bound(tempos_.begin(), tempos_.end(), tick,
                                        [](std::int64_t t, const Tempo& m) { return t < m.tick; });
    return after == tempos_.begin() ? tempos_.front() : *(after - 1);
}

std::int64_t TimeMap::tickAt(double ms) const {
    ms -= introMs_;
    if (!(ms > 0.0)) return start_;
    // The last tempo that begins at or before the time (of several at one tick, the last).
    const auto after = std::upper_bound(tempos_.begin(), tempos_.end(), ms,
                                        [](double t, const Tempo& m) { return t < m.ms; });
    const Tempo& t = *(after - 1);
    // A whole tick is not lost to the rounding of the division.
    const double ticks = std::floor((ms - t.ms) / msPerTick(t) + 1e-6);
    return t.tick + static_cast<std::int64_t>(std::min(ticks, 1e15));
}

double TimeMap::msAt(std::int64_t tick) const {
    if (tick <= start_) return introMs_;
    const Tempo& t = tempoAt(tick);
    return introMs_ + t.ms + static_cast<double>(tick - t.tick) * msPerTick(t);
}

double TimeMap::writtenTempoAt(std::int64_t tick) const { return tempoAt(tick).written; }

double TimeMap::playedTempoAt(std::int64_t tick) const { return tempoAt(tick).played; }

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
    out.tick = clampTo32(tick * kEngineTicksPerQuarter / ticksPerQuarter_);
    if (tick < 0) {
        // An upbeat: bar 0, as the player counts it.
        out.bar = 0;
        return out;
    }
    // Bars from tick 0 on; a meter that begins inside a bar ends that bar.
    std::int64_t bars = 0;
    for (std::size_t i = 0; i < meters_.size(); ++i) {
        const std::int64_t from = std::max<std::int64_t>(meters_[i].tick, 0);
        const bool closed = i + 1 < meters_.size() && meters_[i + 1].tick <= tick;
        const std::int64_t until = closed ? meters_[i + 1].tick : tick;
        if (until <= from) continue;
        const std::int64_t perBar = meters_[i].meter.ticksPerBar;
        bars += (until - from) / perBar + (closed && (until - from) % perBar != 0 ? 1 : 0);
        if (!closed) break;
    }
    out.bar = clampTo32(bars + 1);
    return out;
}

double scorePlayTimeMs(OpenScore& score) {
    std::int64_t time = 0;
    if (scoreconv::measurePlayTime(score.model(), &time) != 0) return -1.0;
    return static_cast<double>(time) / 10000.0 + TimeMap(score).introMs();
}

std::size_t tempoPointCount(const OpenScore& score) {
    std::size_t own = 0;
    for (const scorecore::CScoreEvent& e : scoreWideRow(score.model())) {
        if (e.isKind(scorecore::kKindTempo) && !isPointMark(e)) ++own;
    }
    return own + score.tempoPoints.size();
}

bool tempoPointAt(const OpenScore& score, std::size_t index, tvTempoPoint& out) {
    const scoreconv::PlayScore& m = score.model();
    // Own marks (in time order, an upbeat's at 0) and the handed-over list (in
    // position order) merged, own marks first at a position.
    std::size_t handed = 0;
    const auto row = scoreWideRow(m);
    std::size_t at = 0;
    const auto nextOwn = [&]() -> const scorecore::CScoreEvent* {
        for (; at < row.size(); ++at) {
            if (row[at].isKind(scorecore::kKindTempo) && !isPointMark(row[at])) return &row[at];
        }
        return nullptr;
    };
    const auto ownPosition = [&](const scorecore::CScoreEvent& e) {
        return clampTo32(std::max<std::int64_t>(toEngineTicks(m, e.start), 0));
    };
    for (std::size_t i = 0;; ++i) {
        const scorecore::CScoreEvent* e = nextOwn();
        const tvTempoPoint* p = handed < score.tempoPoints.size() ? &score.tempoPoints[handed] : nullptr;
        if (e == nullptr && p == nullptr) return false;
        const bool takeOwn = e != nullptr && (p == nullptr || ownPosition(*e) <= p->position);
        if (i == index) {
            const TimeMap map(score);
            if (takeOwn) {
                out = tvTempoPoint{};
                out.position = ownPosition(*e);
                out.tempo = playableTempo(scoreconv::eventTempo(*e));
                out.factor = 1.0;
                out.time = map.msAt(e->start);
            } else {
                out = *p;
                out.time = map.msAt(fromEngineTicks(m, p->position));
            }
            return true;
        }
        if (takeOwn) {
            ++at;
        } else {
            ++handed;
        }
    }
}

bool tempoPointAcceptable(const tvTempoPoint& point) {
    const double tempo = pointTempo(point);
    return std::isfinite(tempo) && tempo > 0.0 && point.position >= 0;
}

bool commitTempoPoints(OpenScore& score) {
    scoreconv::PlayScore& m = score.model();
    const int row = m.events.globalRow();
    try {
        std::vector<tvTempoPoint> list = score.pendingPoints;
        score.pendingPoints.clear();
        for (tvTempoPoint& p : list) {
            p.tempo = pointTempo(p);
            p.factor = 1.0;
        }
        // The list in force in position order; points at one position keep the order they came in.
        std::stable_sort(list.begin(), list.end(),
                         [](const tvTempoPoint& a, const tvTempoPoint& b) { return a.position < b.position; });
        if (row < 0) {
            score.tempoPoints = std::move(list);
            return true;
        }
        // The row is built again in one pass: its own events, and the marks of
        // the list merged in after the own events of their tick.
        std::vector<scorecore::CScoreEvent> own;
        for (const scorecore::CScoreEvent& e : scoreWideRow(m)) {
            if (isPointMark(e)) continue;
            own.emplace_back();
            if (!e.copyTo(own.back())) return false;
        }
        const std::int64_t end = scoreEndOf(m);
        const auto build = [&](const std::vector<tvTempoPoint>& points) {
            for (int i = m.events.eventCount(row, 0); i-- > 0;) m.events.remove(row, 0, i);
            std::size_t next = 0;
            for (const tvTempoPoint& p : points) {
                const std::int64_t tick = fromEngineTicks(m, p.position);
                if (tick > end) continue;
                for (; next < own.size() && own[next].start <= tick; ++next) {
                    if (m.events.append(row, 0, own[next]) != 0) return false;
                }
                scorecore::CScoreEvent mark;
                scoreconv::makeTempoEvent(mark, static_cast<std::int32_t>(tick), markTempo(pointTempo(p)));
                mark.midi[1] = kPointMarkTag;
                if (m.events.append(row, 0, mark) != 0) return false;
            }
            for (; next < own.size(); ++next) {
                if (m.events.append(row, 0, own[next]) != 0) return false;
            }
            return true;
        };
        if (!build(list)) {
            build(score.tempoPoints);
            return false;
        }
        score.tempoPoints = std::move(list);
        return true;
    } catch (const std::bad_alloc&) {
        score.pendingPoints.clear();
        return false;
    }
}

}  // namespace tavtune
