// Time in a score: milliseconds to ticks through the score's tempo marks (or
// the tempo the host made it play at), ticks to bars through its time
// signatures, the play time, and the tempo points. Positions count the
// score as it is written, once through: repeats are not unrolled (a binary
// score's model has them unrolled already).
#pragma once

#include <cstdint>
#include <vector>

#include "engine/engine.h"
#include "scorecore/meter.h"

namespace tavtune {

struct BarPosition {
    std::int32_t bar = 1;   // from 1
    std::int32_t tick = 0;  // from the start, 480 per quarter
};

class TimeMap {
public:
    explicit TimeMap(const OpenScore& score);

    std::int64_t tickAt(double ms) const;
    double msAt(std::int64_t tick) const;
    double writtenTempoAt(std::int64_t tick) const;
    BarPosition barAt(std::int64_t tick) const;
    scorecore::CMeter meterAt(std::int64_t tick) const;

private:
    struct Tempo {
        std::int64_t tick;
        double bpm;
    };
    struct Meter {
        std::int64_t tick;
        scorecore::CMeter meter;
    };
    double msPerTick(double bpm) const { return 60000.0 / (bpm * ticksPerQuarter_); }
    double playedBpm(double written) const { return played_ > 0.0 ? played_ : written; }

    int ticksPerQuarter_ = 480;
    double played_ = -1.0;
    std::vector<Tempo> tempos_;  // in tick order, the first at tick 0
    std::vector<Meter> meters_;  // in tick order, the first at tick 0
};

// The score's play time in milliseconds (the player's play-time pass); -1 when it cannot be measured.
double scorePlayTimeMs(OpenScore& score);

// The tempo points: the score's own tempo marks until points are handed over.
const std::vector<tvTempoPoint>& tempoPointsOf(OpenScore& score);
// Adds a point (one at the same position is replaced) and a tempo mark for it
// in the score, so that playing and rendering follow the curve. False when
// memory runs out.
bool addTempoPoint(OpenScore& score, const tvTempoPoint& point, double tempo);

}  // namespace tavtune
