// The walk of a binary score through time and the play model it fills.
#include "engine/binary_model.h"

#include <algorithm>
#include <limits>
#include <map>
#include <new>
#include <string>
#include <utility>

#include "platform/midi_out.h"
#include "scorecore/result_codes.h"

namespace tavtune {

using scorecore::CScoreEvent;
using scorecore::kErrOutOfMemory;
using scorecore::kOk;

namespace {

constexpr std::int32_t kNoKey = 127;
constexpr std::int32_t kDefaultVelocity = 80;
constexpr std::int32_t kWholeTicks = 1920;
constexpr std::int32_t kUnitTableSize = 13;

struct Meter {
    std::int32_t beats = 4;
    std::int32_t unit = 2;
    std::int32_t ticksPerBeat = 480;
    std::int32_t ticksPerBar = 1920;
    bool operator==(const Meter&) const = default;
};

// False for a meter that cannot count bars: no beats, a unit outside the
// table, or a unit so small that a beat has no ticks (the bar arithmetic
// divides by both).
bool makeMeter(const scorecore::BinMeter& m, Meter* out) {
    if (m.beats < 1 || m.beats > 255 || m.unit < 0 || m.unit >= kUnitTableSize) return false;
    const std::int32_t perBeat = kWholeTicks >> m.unit;
    if (perBeat < 1) return false;
    *out = {m.beats, m.unit, perBeat, perBeat * m.beats};
    return true;
}

bool validClef(const scorecore::BinClef& c) { return c.type >= 0 && c.type <= 4 && c.octave >= 0 && c.octave <= 2; }

// What a repeat jumps back to: where each voice reads next and the
// notation in force there. Time is not part of it: a jump goes on playing
// forward from the tick it was taken at.
struct Position {
    std::vector<std::vector<std::size_t>> next;  // per stave entry and voice
    std::vector<std::vector<std::int32_t>> keys;
    std::vector<scorecore::BinClef> clefs;  // per model row
    Meter meter;
};

struct Voice {
    const BinVoice* voice = nullptr;
    std::size_t entry = 0;  // stave entry in the section
    std::size_t index = 0;  // voice in the entry
    std::int32_t row = 0;
    std::int64_t due = 0;
};

class Walker {
public:
    Walker(const BinMusic& music, std::int64_t budget) : music_(music), budget_(budget) {}

    int run();

    std::vector<std::int32_t> staveNumbers;                     // per model row
    std::vector<std::int32_t> voiceCounts;                      // per model row
    std::vector<std::vector<std::vector<CScoreEvent>>> events;  // per row and voice
    std::vector<CScoreEvent> global;
    BinModelInfo info;

private:
    int startSection(const BinSection& section);
    int walkSection();
    int controlRecord(Voice& v, const BinRecord& r);
    int timedRecord(Voice& v, const BinRecord& r);
    void afterRound();
    void advanceTo(std::int64_t tick);
    void checkPickup();
    void emitMeter();
    void emitKey(std::int32_t fifths);

    const BinMusic& music_;
    std::int64_t budget_;
    std::map<std::int32_t, std::int32_t> rowOf_;
    std::vector<Voice> voices_;
    Position pos_;
    Position saved_;
    std::int64_t tick_ = 0;
    std::int64_t bar_ = 0;
    std::int64_t tickInBar_ = 0;
    std::int32_t tempo_ = 0;
    bool secondPass_ = false;
    int ending_ = 0;
    bool repeatStart_ = false;
    bool repeatEnd_ = false;
    std::int32_t lastKey_ = kNoKey;
};

int Walker::run() {
    for (const BinSection& s : music_.sections) {
        for (const BinStaveEntry& e : s.staves) rowOf_[e.stave] = 0;
    }
    if (rowOf_.empty()) return kErrBadScore;
    for (auto& [stave, row] : rowOf_) {
        row = static_cast<std::int32_t>(staveNumbers.size());
        staveNumbers.push_back(stave);
    }
    voiceCounts.assign(staveNumbers.size(), 0);
    events.resize(staveNumbers.size());
    pos_.clefs.assign(staveNumbers.size(), scorecore::BinClef{});
    emitMeter();
    for (const BinSection& s : music_.sections) {
        if (const int rc = startSection(s); rc != kOk) return rc;
        if (const int rc = walkSection(); rc != kOk) return rc;
    }
    info.endTick = static_cast<std::int32_t>(tick_);
    return kOk;
}

// Reads the section's header: every voice starts at its first rest, chord or
// barline, and the clefs, keys and meter before it are taken on the way.
int Walker::startSection(const BinSection& section) {
    const std::int32_t tempo = section.tempo > 0 ? section.tempo : kBinDefaultTempo;
    if (info.tempo == 0) info.tempo = tempo;
    if (tempo != tempo_) {
        tempo_ = tempo;
        CScoreEvent e;
        scoreconv::makeTempoEvent(e, static_cast<std::int32_t>(tick_), tempo);
        global.push_back(e);
    }
    voices_.clear();
    pos_.next.assign(section.staves.size(), {});
    pos_.keys.assign(section.staves.size(), {});
    for (std::size_t i = 0; i < section.staves.size(); ++i) {
        const BinStaveEntry& entry = section.staves[i];
        if (entry.voices.size() > static_cast<std::size_t>(kBinMaxVoices)) return kErrBadScore;
        const std::int32_t row = rowOf_.at(entry.stave);
        auto& count = voiceCounts[static_cast<std::size_t>(row)];
        count = std::max(count, static_cast<std::int32_t>(entry.voices.size()));
        events[static_cast<std::size_t>(row)].resize(static_cast<std::size_t>(count));
        Meter m;
        if (i == 0 && makeMeter(entry.meter, &m)) pos_.meter = m;
        pos_.next[i].assign(entry.voices.size(), 0);
        pos_.keys[i].assign(entry.voices.size(), kNoKey);
        for (std::size_t v = 0; v < entry.voices.size(); ++v) {
            const auto& records = entry.voices[v].records;
            std::size_t& n = pos_.next[i][v];
            for (; n < records.size(); ++n) {
                const BinRecord& r = records[n];
                if (r.kind == kBinRest || r.kind == kBinChord || r.kind == kBinBarline) break;
                if (r.kind == kBinClef) {
                    if (!validClef(r.clef)) return kErrBadScore;
                    pos_.clefs[static_cast<std::size_t>(row)] = r.clef;
                } else if (r.kind == kBinKey) {
                    pos_.keys[i][v] = std::clamp(r.fifths, -7, 7);
                } else if (r.kind == kBinTime && i == 0 && makeMeter(r.meter, &m)) {
                    pos_.meter = m;
                }
            }
            voices_.push_back({&entry.voices[v], i, v, row, tick_});
        }
    }
    emitMeter();
    if (!pos_.keys.empty() && !pos_.keys[0].empty() && pos_.keys[0][0] != kNoKey) emitKey(pos_.keys[0][0]);
    // A repeat end without a start in this section goes back to its start.
    saved_ = pos_;
    secondPass_ = false;
    ending_ = 0;
    return kOk;
}

// Rounds over the voices: in each, every voice that is due reads one record;
// marks (clefs, keys, meters, barlines) at a tick are read before the notes
// at that tick, so that a repeat jumps before any voice has gone past it.
int Walker::walkSection() {
    for (;;) {
        if (++info.steps > budget_) return kErrBadScore;
        bool anyLeft = false;
        bool marks = false;
        for (Voice& v : voices_) {
            const std::size_t n = pos_.next[v.entry][v.index];
            if (n >= v.voice->records.size()) continue;
            anyLeft = true;
            const BinRecord& r = v.voice->records[n];
            if (v.due > tick_ || r.kind == kBinRest || r.kind == kBinChord || r.kind == kBinOtherNote) continue;
            if (const int rc = controlRecord(v, r); rc != kOk) return rc;
            ++pos_.next[v.entry][v.index];
            marks = true;
        }
        if (!anyLeft) break;
        if (!marks) {
            for (Voice& v : voices_) {
                const std::size_t n = pos_.next[v.entry][v.index];
                if (n >= v.voice->records.size() || v.due > tick_) continue;
                if (const int rc = timedRecord(v, v.voice->records[n]); rc != kOk) return rc;
                ++pos_.next[v.entry][v.index];
            }
        }
        afterRound();
        std::int64_t next = std::numeric_limits<std::int64_t>::max();
        for (const Voice& v : voices_) {
            if (pos_.next[v.entry][v.index] < v.voice->records.size()) next = std::min(next, v.due);
        }
        if (next != std::numeric_limits<std::int64_t>::max() && next > tick_) advanceTo(next);
    }
    // All voices go on together into the next section.
    std::int64_t latest = tick_;
    for (const Voice& v : voices_) latest = std::max(latest, v.due);
    advanceTo(latest);
    return kOk;
}

int Walker::controlRecord(Voice& v, const BinRecord& r) {
    switch (r.kind) {
    case kBinClef:
        if (!validClef(r.clef)) return kErrBadScore;
        pos_.clefs[static_cast<std::size_t>(v.row)] = r.clef;
        return kOk;
    case kBinKey:
        pos_.keys[v.entry][v.index] = std::clamp(r.fifths, -7, 7);
        if (v.entry == 0 && v.index == 0) emitKey(pos_.keys[v.entry][v.index]);
        return kOk;
    case kBinTime: {
        checkPickup();
        Meter m;
        if (v.entry == 0 && makeMeter(r.meter, &m) && !(m == pos_.meter)) {
            pos_.meter = m;
            emitMeter();
        }
        return kOk;
    }
    case kBinBarline:
        if (r.barline < 0 || r.barline > 5) return kErrBadScore;
        if (r.barline == 0 || r.barline == 2 || r.barline == kBinRepeatStart) checkPickup();
        if (r.barline == kBinRepeatStart) repeatStart_ = true;
        if (r.barline == kBinRepeatEnd || r.barline == kBinRepeatEndStart) repeatEnd_ = true;
        return kOk;
    default:
        return r.kind > kBinOtherNote ? kErrBadScore : kOk;
    }
}

// A rest only takes time; a chord becomes a note event. On the second pass
// of a repeat the first ending is left out, and takes no time. Event ticks
// are 32-bit: music that would play past that is refused.
int Walker::timedRecord(Voice& v, const BinRecord& r) {
    if (secondPass_ && r.ending == 1) ending_ = 1;
    if (ending_ == 1) return kOk;
    const std::int32_t ticks = std::max(r.ticks, 0);
    if (v.due + ticks > std::numeric_limits<std::int32_t>::max()) return kErrBadScore;
    if (r.kind != kBinRest && ticks > 0 && !r.heads.empty()) {
        const scorecore::BinClef& clef = pos_.clefs[static_cast<std::size_t>(v.row)];
        const std::int32_t key = pos_.keys[v.entry][v.index];
        const std::int32_t fifths = key == kNoKey ? 0 : key;
        const auto velocity =
            static_cast<std::uint8_t>(r.velocity >= 1 && r.velocity <= 127 ? r.velocity : kDefaultVelocity);
        CScoreEvent e;
        e.kind = scorecore::kKindNote;
        e.start = static_cast<std::int32_t>(v.due);
        e.duration = ticks;
        for (const scorecore::BinScoreHead& h : r.heads) {
            if (e.headCount >= scorecore::kMaxHeads) break;
            const std::int32_t pitch =
                std::clamp(scorecore::scBinMidiPitch(clef.type, clef.octave, fifths, h.step) + h.alteration, 0, 127);
            e.midi[static_cast<std::size_t>(e.headCount++)] =
                platform::packShortMessage(0x90, static_cast<std::uint8_t>(pitch), velocity);
        }
        events[static_cast<std::size_t>(v.row)][v.index].push_back(std::move(e));
    }
    v.due += ticks;
    return kOk;
}

void Walker::afterRound() {
    bool jumped = false;
    if (repeatStart_) {
        saved_ = pos_;
        jumped = true;
    }
    if (repeatEnd_) {
        if (!secondPass_) std::swap(pos_, saved_);
        secondPass_ = !secondPass_;
        jumped = true;
    }
    if (ending_ == 1) {
        pos_ = saved_;
        ending_ = 2;
        jumped = true;
    } else if (ending_ == 2) {
        secondPass_ = false;
        ending_ = 0;
        jumped = true;
    }
    repeatStart_ = repeatEnd_ = false;
    if (!jumped) return;
    std::int64_t latest = tick_;
    for (const Voice& v : voices_) latest = std::max(latest, v.due);
    for (Voice& v : voices_) v.due = latest;
}

void Walker::advanceTo(std::int64_t tick) {
    tickInBar_ += tick - tick_;
    tick_ = tick;
    if (tickInBar_ >= pos_.meter.ticksPerBar) {
        bar_ += tickInBar_ / pos_.meter.ticksPerBar;
        tickInBar_ %= pos_.meter.ticksPerBar;
    }
}

void Walker::checkPickup() {
    if (info.pickup || bar_ != 0 || tickInBar_ <= 0 || tickInBar_ >= pos_.meter.ticksPerBar) return;
    info.pickup = true;
    info.missingTicks = pos_.meter.ticksPerBar - static_cast<std::int32_t>(tickInBar_);
    info.missingBeats = info.missingTicks / pos_.meter.ticksPerBeat;
}

// One time signature per tick: a later one at the same tick replaces it.
void Walker::emitMeter() {
    CScoreEvent e;
    if (!scoreconv::makeTimeSigEvent(e, static_cast<std::int32_t>(tick_), pos_.meter.beats, pos_.meter.unit)) return;
    for (auto it = global.rbegin(); it != global.rend(); ++it) {
        if (!it->isKind(scorecore::kKindTimeSig)) continue;
        if (it->start == e.start) {
            *it = e;
            return;
        }
        if (it->meterBeats == e.meterBeats && it->meterUnit == e.meterUnit) return;
        break;
    }
    global.push_back(std::move(e));
}

void Walker::emitKey(std::int32_t fifths) {
    if (fifths == lastKey_) return;
    lastKey_ = fifths;
    CScoreEvent e;
    scoreconv::makeKeySigEvent(e, static_cast<std::int32_t>(tick_), fifths, true);
    global.push_back(std::move(e));
}

// Enough rounds for a well-formed score: each round reads a record or moves
// time on to the next one, and each repeat barline can at most replay the
// records of its section once more.
std::int64_t defaultBudget(const BinMusic& music) {
    std::int64_t records = 0;
    std::int64_t repeats = 0;
    for (const BinSection& s : music.sections) {
        for (const BinStaveEntry& e : s.staves) {
            for (const BinVoice& v : e.voices) {
                records += static_cast<std::int64_t>(v.records.size());
                for (const BinRecord& r : v.records) repeats += r.kind == kBinBarline || r.ending != 0 ? 1 : 0;
            }
        }
    }
    constexpr std::int64_t kCap = std::int64_t{1} << 40;
    return std::min(kCap, 2 * (records + static_cast<std::int64_t>(music.sections.size()) + 1) * (repeats + 2) + 64);
}

// Moves the walk's result into the score: one instrument per voice, channels
// from the plan, the play state for the voice counts.
int fillScore(Walker& w, scoreconv::PlayScore& score) {
    const auto staves = static_cast<std::int32_t>(w.staveNumbers.size());
    score.clearScore();
    score.staffNames.resize(static_cast<std::size_t>(staves));
    score.voiceCounts = w.voiceCounts;
    if (!score.instruments.addStaves(staves) || !score.events.allocRows(staves + 1)) return kErrOutOfMemory;
    std::vector<std::uint8_t> counts;
    for (std::int32_t s = 0; s < staves; ++s) {
        const std::int32_t voices = w.voiceCounts[static_cast<std::size_t>(s)];
        counts.push_back(static_cast<std::uint8_t>(voices));
        score.staffNames[static_cast<std::size_t>(s)].name =
            "Stave " + std::to_string(w.staveNumbers[static_cast<std::size_t>(s)] + 1);
        if (!score.events.allocVoices(s, voices)) return kErrOutOfMemory;
        for (std::int32_t v = 0; v < std::max(voices, 1); ++v) {
            if (!score.instruments.append(s, scorecore::CMidiInstr{})) return kErrOutOfMemory;
        }
    }
    score.instruments.planChannels(false);
    for (std::int32_t s = 0; s < staves; ++s) {
        auto& row = w.events[static_cast<std::size_t>(s)];
        for (std::size_t v = 0; v < row.size(); ++v) {
            const auto voice = static_cast<std::int32_t>(v);
            const std::uint8_t channel = score.instruments.midiChannel(s, voice);
            for (CScoreEvent& e : row[v]) {
                for (std::int32_t h = 0; h < e.headCount; ++h) {
                    std::uint32_t& message = e.midi[static_cast<std::size_t>(h)];
                    message = (message & ~0xFFu) | (0x90u | channel);
                }
                if (score.events.append(s, voice, e) != kOk) return kErrOutOfMemory;
            }
        }
    }
    if (!score.events.allocVoices(staves, 1)) return kErrOutOfMemory;
    for (const CScoreEvent& e : w.global) {
        if (score.events.insertInOrder(staves, 0, e) != kOk) return kErrOutOfMemory;
    }
    if (!score.quantize.create(staves)) return kErrOutOfMemory;
    for (std::int32_t s = 0; s < staves; ++s) {
        if (!score.quantize.allocVoices(s, w.voiceCounts[static_cast<std::size_t>(s)])) return kErrOutOfMemory;
    }
    if (!score.onOff.create(staves, counts) || !score.voiceMix.resize(score.voiceCounts)) return kErrOutOfMemory;
    score.initialTempo = w.info.tempo;
    score.scoreLength = w.info.endTick;
    return score.allocatePlayState() ? kOk : kErrOutOfMemory;
}

}  // namespace

BinMusic binMusicFromSummary(const scorecore::BinScoreSummary& summary) {
    BinMusic music;
    std::int32_t previous = -1;
    for (const scorecore::BinScoreVSection& v : summary.vSections) {
        const std::int32_t stave = v.tag.byteValue;
        if (music.sections.empty() || stave <= previous) {
            music.sections.push_back({summary.section.value, {}});
        }
        previous = stave;
        BinStaveEntry& entry = music.sections.back().staves.emplace_back();
        entry.stave = stave;
        entry.meter = v.tag.meter;
        for (const scorecore::BinScoreCSection& c : v.cSections) {
            BinVoice& voice = entry.voices.emplace_back();
            for (const scorecore::BinScoreElement& el : c.elements) {
                BinRecord& r = voice.records.emplace_back();
                r.kind = el.kind;
                r.ticks = el.ticks;
                r.velocity = el.dynamic;
                r.heads = el.heads;
                r.clef = el.clef;
                r.fifths = el.fifths;
                r.meter = el.meter;
                r.barline = el.nibble;
            }
        }
    }
    return music;
}

int buildBinaryModel(const BinMusic& music, scoreconv::PlayScore& score, BinModelInfo* info,
                     const BinModelOptions& options) {
    try {
        Walker walker(music, options.stepBudget > 0 ? options.stepBudget : defaultBudget(music));
        const int rc = walker.run();
        if (info) *info = walker.info;
        if (rc != kOk) return rc;
        // The score is touched only once the walk has succeeded; from here
        // only memory can fail, and then the score is emptied, not left half full.
        const int filled = fillScore(walker, score);
        if (filled != kOk) score.clearScore();
        return filled;
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
}

int buildBinaryModel(std::span<const std::uint8_t> image, scoreconv::PlayScore& score, BinModelInfo* info,
                     const BinModelOptions& options) {
    scorecore::BinScoreSummary summary;
    try {
        if (const int rc = scorecore::scBinWalkScore(image, &summary); rc != kOk) return rc;
        return buildBinaryModel(binMusicFromSummary(summary), score, info, options);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
}

int buildBinaryModelFile(const std::filesystem::path& path, scoreconv::PlayScore& score, BinModelInfo* info,
                         const BinModelOptions& options) {
    scorecore::BinScoreSummary summary;
    try {
        if (const int rc = scorecore::scBinWalkScoreFile(path, &summary); rc != kOk) return rc;
        const int rc = buildBinaryModel(binMusicFromSummary(summary), score, info, options);
        if (rc == kOk) score.fnScanned = path.string();
        return rc;
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
}

}  // namespace tavtune

