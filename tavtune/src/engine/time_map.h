// Time in a score: milliseconds to ticks through the tempo marks of the
// score-wide row (the score's own and those of the tempo points) played
// through the host's tempo rule, ticks to bars through its time signatures,
// the play time, and the tempo points.
//
// The walk starts where the player starts: at the music's first tick (an
// upbeat's, below 0) with the row's first tempo mark and first time
// signature, and takes each later mark at its tick. It goes through the
// score as it is written, once: repeats are not played again (a binary
// score's model has them unrolled already), so a time inside a repeated pass
// falls that much further on, and a time after the last mark goes on at the
// last tempo and meter. No tempo, meter or resolution of 0 is divided by: a
// tempo of 0 or less plays as 120, as in the player, a resolution of 0 counts
// as 480 and a time signature without tick lengths is passed over.
//
// Milliseconds count from the start of the intro (intro.h), which plays at
// the score's opening tempo as it plays now: the music begins at the intro's
// length, and every time of the music lies that much later.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/engine.h"
#include "scorecore/meter.h"

namespace tavtune {

// Ticks of the entry points (bars, tempo points): 480 per quarter.
inline constexpr int kEngineTicksPerQuarter = 480;

struct BarPosition {
    std::int32_t bar = 1;   // from 1; 0 inside an upbeat
    std::int32_t tick = 0;  // from the first full bar, 480 per quarter; below 0 inside an upbeat
};

class TimeMap {
public:
    explicit TimeMap(const OpenScore& score);

    // Ticks are the model's. A time inside the intro is the music's first tick.
    std::int64_t tickAt(double ms) const;
    double msAt(std::int64_t tick) const;
    // The tempo the marks give (what the score says) and the one played (through the tempo rule).
    double writtenTempoAt(std::int64_t tick) const;
    double playedTempoAt(std::int64_t tick) const;
    BarPosition barAt(std::int64_t tick) const;
    scorecore::CMeter meterAt(std::int64_t tick) const;
    int ticksPerQuarter() const { return ticksPerQuarter_; }
    std::int64_t musicStart() const { return start_; }
    // The tempo played where the music begins, and the intro's length at it.
    double openingTempo() const { return playedTempoAt(start_); }
    double introMs() const { return introMs_; }

private:
    struct Tempo {
        std::int64_t tick;
        double written;
        double played;
        double ms;  // where it begins
    };
    struct Meter {
        std::int64_t tick;
        scorecore::CMeter meter;
    };
    const Tempo& tempoAt(std::int64_t tick) const;
    double msPerTick(const Tempo& t) const { return 60000.0 / (t.played * ticksPerQuarter_); }

    int ticksPerQuarter_ = kEngineTicksPerQuarter;
    std::int64_t start_ = 0;
    double introMs_ = 0.0;
    std::vector<Tempo> tempos_;  // in tick order, the first at the music start
    std::vector<Meter> meters_;  // in tick order, the first at the music start
};

// Model ticks to the entry points' 480 per quarter and back.
std::int64_t toEngineTicks(const scoreconv::PlayScore& model, std::int64_t ticks);
std::int64_t fromEngineTicks(const scoreconv::PlayScore& model, std::int64_t ticks);

// The score's play time in milliseconds (the player's play-time pass, repeats
// played) after its intro; -1 when it cannot be measured (the real-time player
// holds the score).
double scorePlayTimeMs(OpenScore& score);

// A change of the tempos or of the intro keeps the play position where it is:
// in the score, its time becomes that of the same tick afterwards; inside the
// intro, it keeps its share of the intro.
template <class Change>
void keepingThePlace(OpenScore& s, Change&& change) {
    const TimeMap before(s);
    const double intro = before.introMs();
    const double share = s.positionMs < intro ? s.positionMs / intro : -1.0;
    const std::int64_t tick = before.tickAt(s.positionMs);
    change();
    if (share >= 0.0) {
        s.positionMs = share * TimeMap(s).introMs();
    } else if (s.positionMs > 0.0) {
        s.positionMs = TimeMap(s).msAt(tick);
    }
}

// --- tempo points -------------------------------------------------------------------------
// The points are the score's own tempo marks followed by the handed-over list
// in force. A handed-over point plays as a tempo mark of the score-wide row
// from its position on (after an own mark at the same tick, so it holds
// there), until the next mark; a point after the score's end keeps its place
// in the list but gets no mark, since the score would play on to it.

// How many points there are, and point i in position order (own marks first
// at a position) with its time from the walk as the score plays now; false
// past the last.
std::size_t tempoPointCount(const OpenScore& score);
bool tempoPointAt(const OpenScore& score, std::size_t index, tvTempoPoint& out);
// Whether a point is taken (a tempo above 0 that is finite, a position of 0 or more).
bool tempoPointAcceptable(const tvTempoPoint& point);
// Makes the pending list the list in force: the marks of the old list leave the
// score-wide row and those of the new one come in. False when memory runs out
// (the old list stays in force).
bool commitTempoPoints(OpenScore& score);

}  // namespace tavtune
