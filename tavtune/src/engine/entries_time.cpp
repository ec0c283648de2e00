// Entry points of time and tempo: the play time, positions in milliseconds
// and in bars, the tempo at the play position and the one the score plays
// at, and the tempo points.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include "engine/engine.h"
#include "engine/entries.h"
#include "engine/time_map.h"
#include "play/play_proc.h"

namespace tavtune {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr tvWord kRefused = -2;
constexpr int kMeterTicksPerQuarter = 384;

OpenScore* openScore() { return Engine::instance().score(); }

}  // namespace

// C94(request, size): a zeroed request record.
template <>
tvWord entry<94>(tvWord request, tvWord size, tvWord, tvWord, tvWord, tvWord) {
    void* record = pointerArg<void>(request);
    if (record == nullptr || size <= 0 || size > 4096) return TAVTUNE_NOT_HANDLED;
    std::memset(record, 0, static_cast<std::size_t>(size));
    return 0;
}

// C55(request, code): play time, a position's bar and tick, the opening meter.
template <>
tvWord entry<55>(tvWord request, tvWord code, tvWord, tvWord, tvWord, tvWord) {
    auto* r = pointerArg<tvRequest>(request);
    Lock lock(Engine::instance().mutex);
    OpenScore* s = openScore();
    if (s == nullptr || r == nullptr) return TAVTUNE_NOT_HANDLED;
    switch (code) {
        case TAVTUNE_REQUEST_PLAY_TIME: {
            const double ms = scorePlayTimeMs(*s);
            if (ms < 0.0) return TAVTUNE_NOT_HANDLED;
            r->playTimeMs = ms;
            return 0;
        }
        case TAVTUNE_REQUEST_POSITION: {
            const TimeMap map(*s);
            const BarPosition at = map.barAt(map.tickAt(r->positionMs));
            r->result = at.bar;
            r->result2 = at.tick;
            return 0;
        }
        case TAVTUNE_REQUEST_METER: {
            const TimeMap map(*s);
            const scorecore::CMeter meter = map.meterAt(0);
            const int perQuarter = s->model().ticksPerQuarter > 0 ? s->model().ticksPerQuarter : 480;
            const auto scale = [perQuarter](std::int64_t ticks) {
                return static_cast<std::int32_t>(ticks * kMeterTicksPerQuarter / perQuarter);
            };
            r->reserved1[0] = scale(meter.ticksPerBeat);
            r->reserved1[1] = scale(meter.ticksPerBar);
            return 0;
        }
        default:
            return TAVTUNE_NOT_HANDLED;
    }
}

// C93(request, TAVTUNE_REQUEST_POSITION): the play position.
template <>
tvWord entry<93>(tvWord request, tvWord code, tvWord, tvWord, tvWord, tvWord) {
    const auto* r = pointerArg<const tvRequest>(request);
    Lock lock(Engine::instance().mutex);
    OpenScore* s = openScore();
    if (s == nullptr || r == nullptr || code != TAVTUNE_REQUEST_POSITION || !std::isfinite(r->positionMs)) {
        return TAVTUNE_NOT_HANDLED;
    }
    const double end = scorePlayTimeMs(*s);
    s->positionMs = std::clamp(r->positionMs, 0.0, std::max(end, 0.0));
    return 0;
}

// C98(a, b, c): the score's tempo at the play position, the position, and the tempo played.
template <>
tvWord entry<98>(tvWord a, tvWord b, tvWord c, tvWord, tvWord, tvWord) {
    auto* written = pointerArg<double>(a);
    auto* position = pointerArg<double>(b);
    auto* played = pointerArg<double>(c);
    Lock lock(Engine::instance().mutex);
    OpenScore* s = openScore();
    if (s == nullptr || written == nullptr || position == nullptr || played == nullptr) return TAVTUNE_NOT_HANDLED;
    const TimeMap map(*s);
    *written = map.writtenTempoAt(map.tickAt(s->positionMs));
    *position = s->positionMs;
    *played = s->playedTempo > 0.0 ? s->playedTempo : *written;
    return 0;
}

// C97(tempo, factor): the score plays at tempo x factor from now on.
template <>
tvWord entry<97>(tvWord tempo, tvWord factor, tvWord, tvWord, tvWord, tvWord) {
    const auto* t = pointerArg<const double>(tempo);
    const auto* f = pointerArg<const double>(factor);
    Lock lock(Engine::instance().mutex);
    OpenScore* s = openScore();
    if (s == nullptr || t == nullptr || f == nullptr) return TAVTUNE_NOT_HANDLED;
    const double value = *t * *f;
    if (!std::isfinite(value) || value <= 0.0) return TAVTUNE_NOT_HANDLED;
    s->playedTempo = std::clamp(value, 1.0, 10000.0);
    scoreconv::CTempoSettings rule = s->model().controls.tempo();
    rule.TempoMode = 0;
    rule.TempoAbs = static_cast<std::int32_t>(std::lround(s->playedTempo));
    rule.low = std::min(rule.low, rule.TempoAbs);
    rule.high = std::max(rule.high, rule.TempoAbs);
    s->model().controls.setTempo(rule);
    s->model().controls.addPlayConditions(scoreconv::kCondTempoRule);
    return 0;
}

// C99(point, TAVTUNE_REQUEST_TEMPO_POINT) adds a tempo point; C99(0, 0) ends it.
template <>
tvWord entry<99>(tvWord point, tvWord code, tvWord, tvWord, tvWord, tvWord) {
    Lock lock(Engine::instance().mutex);
    OpenScore* s = openScore();
    if (s == nullptr) return TAVTUNE_NOT_HANDLED;
    if (point == 0 && code == 0) {
        s->pointOpen = false;
        return 0;
    }
    const auto* p = pointerArg<const tvTempoPoint>(point);
    if (p == nullptr || code != TAVTUNE_REQUEST_TEMPO_POINT) return TAVTUNE_NOT_HANDLED;
    const double tempo = p->tempo * (p->factor > 0.0 ? p->factor : 1.0);
    if (!std::isfinite(tempo) || tempo <= 0.0 || p->position < 0) return kRefused;
    return addTempoPoint(*s, *p, tempo) ? 0 : kRefused;
}

// C100(0, 0): the number of tempo points; C100(point, i): point i.
template <>
tvWord entry<100>(tvWord point, tvWord index, tvWord, tvWord, tvWord, tvWord) {
    Lock lock(Engine::instance().mutex);
    OpenScore* s = openScore();
    if (s == nullptr) return TAVTUNE_NOT_HANDLED;
    const std::vector<tvTempoPoint>& points = tempoPointsOf(*s);
    if (point == 0) return static_cast<tvWord>(points.size());
    auto* out = pointerArg<tvTempoPoint>(point);
    if (index < 0 || static_cast<std::size_t>(index) >= points.size()) return TAVTUNE_NOT_HANDLED;
    *out = points[static_cast<std::size_t>(index)];
    return 0;
}

}  // namespace tavtune
