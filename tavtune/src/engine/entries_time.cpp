// Entry points of time and tempo: the play time, positions in milliseconds
// and in bars, the tempo at the play position and the one the score plays
// at, and the tempo points.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "engine/engine.h"
#include "engine/entries.h"
#include "engine/player.h"
#include "engine/time_map.h"
#include "play/play_proc.h"

namespace tavtune {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr tvWord kRefused = -2;
constexpr int kMeterTicksPerQuarter = 384;

constexpr std::size_t kMaxTempoPoints = 16384;  // in one list

OpenScore* openScore() { return Engine::instance().score(); }

}  // namespace

// C94(request, size): a zeroed request record.
template <>
tvWord entry<94>(tvWord request, tvWord size, tvWord, tvWord, tvWord, tvWord) {
    void* record = pointerArg<void>(request);
    Lock lock(Engine::instance().mutex);
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

// C93(request, TAVTUNE_REQUEST_POSITION): the play position, within the play time.
template <>
tvWord entry<93>(tvWord request, tvWord code, tvWord, tvWord, tvWord, tvWord) {
    const auto* r = pointerArg<const tvRequest>(request);
    Lock lock(Engine::instance().mutex);
    OpenScore* s = openScore();
    if (s == nullptr || r == nullptr || code != TAVTUNE_REQUEST_POSITION) return TAVTUNE_NOT_HANDLED;
    const double wanted = r->positionMs;  // a packed field: read by value, never bound to a reference
    if (!std::isfinite(wanted)) return TAVTUNE_NOT_HANDLED;
    // While the real-time player holds the score its time cannot be measured:
    // then only the start bounds the position.
    const double end = scorePlayTimeMs(*s);
    s->positionMs = std::max(wanted, 0.0);
    if (end >= 0.0) s->positionMs = std::min(s->positionMs, end);
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
    const std::int64_t tick = map.tickAt(s->positionMs);
    *written = map.writtenTempoAt(tick);
    *position = s->positionMs;
    *played = map.playedTempoAt(tick);
    return 0;
}

// C97(tempo, factor): the score plays at tempo x factor from the play position on.
template <>
tvWord entry<97>(tvWord tempo, tvWord factor, tvWord, tvWord, tvWord, tvWord) {
    const auto* t = pointerArg<const double>(tempo);
    const auto* f = pointerArg<const double>(factor);
    Lock lock(Engine::instance().mutex);
    OpenScore* s = openScore();
    if (s == nullptr || t == nullptr || f == nullptr) return TAVTUNE_NOT_HANDLED;
    const double value = *t * *f;
    if (!std::isfinite(value) || value <= 0.0) return TAVTUNE_NOT_HANDLED;
    keepingThePlace(*s, [&] {
        const TimeMap map(*s);
        const double written = map.writtenTempoAt(map.tickAt(s->positionMs));
        s->playedTempo = std::clamp(value, 1.0, 10000.0);
        const auto target = static_cast<std::int32_t>(std::lround(s->playedTempo));
        // The library's rule of a tempo that follows the score: its tempos plus
        // an offset, within a range that holds the tempo asked for.
        scoreconv::CTempoSettings rule;
        rule.TempoMode = 1;
        rule.TempoAdd = target - static_cast<std::int32_t>(std::lround(written));
        rule.low = std::min(rule.low, target);
        rule.high = std::max(rule.high, target);
        s->model().controls.setTempo(rule);
        s->model().controls.addPlayConditions(scoreconv::kCondTempoRule);
    });
    return 0;
}

// C99(point, TAVTUNE_REQUEST_TEMPO_POINT) adds a point to the list being
// handed over; C99(0, 0) ends the point, and with no point open ends the list.
template <>
tvWord entry<99>(tvWord point, tvWord code, tvWord, tvWord, tvWord, tvWord) {
    Lock lock(Engine::instance().mutex);
    OpenScore* s = openScore();
    if (s == nullptr) return TAVTUNE_NOT_HANDLED;
    if (point == 0 && code == 0) {
        if (s->pointOpen) {
            s->pointOpen = false;
            return 0;
        }
        if (s->pendingPoints.empty()) return 0;
        // The points go into the rows the real-time player reads.
        bool taken = false;
        const auto commit = [&] { keepingThePlace(*s, [&] { taken = commitTempoPoints(*s); }); };
        if (s->player()) {
            playerOf(*s).pausedFor(commit, Engine::instance().tableName);
        } else {
            commit();
        }
        return taken ? 0 : TAVTUNE_NOT_HANDLED;
    }
    const auto* p = pointerArg<const tvTempoPoint>(point);
    if (p == nullptr || code != TAVTUNE_REQUEST_TEMPO_POINT) return TAVTUNE_NOT_HANDLED;
    // A refused point drops the unfinished list; the list in force stays.
    const auto refuse = [s] {
        s->pendingPoints.clear();
        s->pointOpen = false;
        return kRefused;
    };
    if (!tempoPointAcceptable(*p) || s->pendingPoints.size() >= kMaxTempoPoints) return refuse();
    try {
        s->pendingPoints.push_back(*p);
    } catch (const std::bad_alloc&) {
        return refuse();
    }
    s->pointOpen = true;
    return 0;
}

// C100(0, 0): the number of tempo points; C100(point, i): point i.
template <>
tvWord entry<100>(tvWord point, tvWord index, tvWord, tvWord, tvWord, tvWord) {
    Lock lock(Engine::instance().mutex);
    OpenScore* s = openScore();
    if (s == nullptr) return TAVTUNE_NOT_HANDLED;
    if (point == 0) return static_cast<tvWord>(tempoPointCount(*s));
    tvTempoPoint found{};
    if (index < 0 || !tempoPointAt(*s, static_cast<std::size_t>(index), found)) return TAVTUNE_NOT_HANDLED;
    *pointerArg<tvTempoPoint>(point) = found;
    return 0;
}

}  // namespace tavtune
