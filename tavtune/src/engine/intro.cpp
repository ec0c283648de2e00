// The intro of a score.
#include "engine/intro.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <limits>
#include <utility>

#include "engine/engine.h"
#include "engine/time_map.h"
#include "play/play_model.h"
#include "play/render_output.h"
#include "scorecore/player_items.h"

namespace tavtune {
namespace {

constexpr std::int64_t kHeld = -1;  // a held note's end before its release
constexpr double kReportEveryMs = 100.0;

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}
std::int64_t ceilDiv(std::int64_t a, std::int64_t b) { return -floorDiv(-a, b); }

std::int64_t clampTicks(std::int64_t ticks) { return std::clamp<std::int64_t>(ticks, 0, kMaxIntroTicks); }

std::int32_t readInt32(const std::uint8_t* b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                                     static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24);
}

// The MIDI key of a diatonic step from C of octave 5 (key 60) with an alteration; -1 outside 0..127.
int spelledKey(std::int8_t step, std::int8_t alter) {
    static constexpr int kSemitones[7] = {0, 2, 4, 5, 7, 9, 11};
    const std::int64_t octave = floorDiv(step, 7);
    const std::int64_t key = 60 + 12 * octave + kSemitones[step - octave * 7] + alter;
    return key >= 0 && key <= 127 ? static_cast<int>(key) : -1;
}

// Reads the lanes of a list; one lane is open at a time.
class LaneReader {
public:
    ItemLanes read(std::span<const std::uint8_t> bytes) {
        const std::size_t count = bytes.size() / 8;
        for (std::size_t i = 0; i < count; ++i) item(bytes.data() + 8 * i);
        if (open_) close();
        return std::move(out_);
    }

private:
    void item(const std::uint8_t* b) {
        const std::uint8_t kind = b[0];
        const std::int32_t value = readInt32(b + 4);
        if (kind == scorecore::kItemMarker) {
            if (open_) close();
            if (b[1] == scorecore::kMarkerEnd) return;
            open_ = true;
            lane_ = Lane{};
            lane_.type = b[1];
            lane_.program = static_cast<std::uint8_t>(b[2] & 0x7F);
            lane_.hasProgram = (b[3] & scorecore::kMarkerHasProgram) != 0;
            lane_.start = clampTicks(value);
            cursor_ = lane_.start;
            return;
        }
        if (!open_) return;
        // Byte 3 of note-on and note-off items is not read: the host links the
        // note-ons of a joined list there.
        if (kind == scorecore::kItemNoteOn) {
            if (b[2] != 0) start(b[1], b[2], kHeld);
            moveOn(value);
        } else if (kind == scorecore::kItemNoteOff) {
            if (b[2] == 0) release(b[1]);
            moveOn(value);
        } else {
            noteItem(b);
        }
    }

    void noteItem(const std::uint8_t* b) {
        const std::uint8_t behaviour = b[0] & 0xF0;
        const std::uint8_t type = b[0] & 0x0F;
        if (behaviour != scorecore::kNoteTimed && behaviour != scorecore::kNoteHeld) return;
        const auto ticks = static_cast<std::int16_t>(static_cast<std::uint16_t>(b[6] | b[7] << 8));
        int key = -1;
        if (type == scorecore::kNotePlain) key = b[3];
        if (type == scorecore::kNoteSpelled)
            key = spelledKey(static_cast<std::int8_t>(b[3]), static_cast<std::int8_t>(b[5]));
        if (key >= 0 && b[1] != 0) {
            const std::int64_t end =
                behaviour == scorecore::kNoteTimed ? clampTicks(cursor_ + std::max<std::int16_t>(ticks, 0)) : kHeld;
            start(static_cast<std::uint8_t>(key), b[1], end);
        }
        moveOn(ticks);
    }

    void start(std::uint8_t key, std::uint8_t velocity, std::int64_t off) {
        lane_.notes.push_back({cursor_, off, key, static_cast<std::uint8_t>(std::min<std::uint8_t>(velocity, 127))});
        if (off == kHeld) held_.push_back(lane_.notes.size() - 1);
    }

    void release(std::uint8_t key) {
        std::erase_if(held_, [&](std::size_t i) {
            if (lane_.notes[i].key != key) return false;
            lane_.notes[i].off = cursor_;
            return true;
        });
    }

    void moveOn(std::int64_t ticks) { cursor_ = clampTicks(cursor_ + clampTicks(ticks)); }

    // The lane ends at the cursor, and every note it still holds with it.
    void close() {
        for (std::size_t i : held_) lane_.notes[i].off = cursor_;
        held_.clear();
        std::erase_if(lane_.notes, [](const LaneNote& n) { return n.off <= n.on; });
        lane_.end = cursor_;
        out_.length = std::max(out_.length, lane_.end);
        out_.lanes.push_back(std::move(lane_));
        open_ = false;
    }

    ItemLanes out_;
    Lane lane_;
    bool open_ = false;
    std::int64_t cursor_ = 0;
    std::vector<std::size_t> held_;  // notes of the lane without their end yet
};

// The key a percussion marker plays: the first percussion staff that knows it
// decides; without one its low bits are the key, so that the note still sounds.
std::uint8_t percussionKey(const scoreconv::PlayScore& model, std::uint8_t marker) {
    for (std::size_t s = 0; s < model.voiceCounts.size(); ++s) {
        const auto staff = static_cast<std::int32_t>(s);
        if (!model.instruments.isPercussionStaff(staff)) continue;
        const std::uint8_t key = model.instruments.percussionKey(staff, marker);
        if (key <= 127) return key;
    }
    return static_cast<std::uint8_t>(marker & 0x7F);
}

// What each channel got last, so that lanes on one channel set it up once.
class SetUpWriter {
public:
    explicit SetUpWriter(std::vector<SetUpMessage>& out) : out_(out) { last_.fill({-1, -1, -1}); }
    void program(std::int64_t tick, std::uint8_t channel, std::uint8_t program) {
        put(tick, channel, 0, static_cast<std::uint8_t>(0xC0 | channel), program, 0);
    }
    void controller(std::int64_t tick, std::uint8_t channel, std::uint8_t number, std::uint8_t value) {
        put(tick, channel, number == 7 ? 1 : 2, static_cast<std::uint8_t>(0xB0 | channel), number, value);
    }

private:
    void put(std::int64_t tick, std::uint8_t channel, int slot, std::uint8_t status, std::uint8_t d1, std::uint8_t d2) {
        const int value = slot == 0 ? d1 : d2;
        int& last = last_[channel][static_cast<std::size_t>(slot)];
        if (last == value) return;
        last = value;
        out_.push_back({tick, status, d1, d2});
    }
    std::vector<SetUpMessage>& out_;
    std::array<std::array<int, 3>, 16> last_{};  // program, volume, pan
};

}  // namespace

ItemLanes readItemLanes(std::span<const std::uint8_t> bytes) { return LaneReader().read(bytes); }

Sounds soundsOf(const ItemLanes& lanes, const TuneUpVoice& voice, const scoreconv::PlayScore& model) {
    Sounds out;
    out.length = lanes.length;
    SetUpWriter setUp(out.setUps);
    for (const Lane& lane : lanes.lanes) {
        const bool clicks = lane.type == scorecore::kMarkerStart;
        std::uint8_t channel = static_cast<std::uint8_t>(std::min<std::uint8_t>(voice.channel, 15));
        if (clicks) {
            channel = lane.hasProgram ? kPitchedClickChannel : kClickChannel;
            if (lane.hasProgram) setUp.program(lane.start, channel, lane.program);
        } else {
            if (lane.hasProgram) {
                setUp.program(lane.start, channel, lane.program);
            } else if (voice.sound < 128) {
                setUp.program(lane.start, channel, voice.sound);
            }
            setUp.controller(lane.start, channel, 7, std::min<std::uint8_t>(voice.volume, 127));
            setUp.controller(lane.start, channel, 10,
                             static_cast<std::uint8_t>(std::clamp(64 + voice.panorama, 0, 127)));
        }
        for (const LaneNote& n : lane.notes) {
            const std::uint8_t key = (n.key & 0x80) != 0 ? percussionKey(model, n.key) : n.key;
            out.notes.push_back({n.on, n.off, channel, key, n.velocity});
        }
    }
    return out;
}

IntroPlayer::Setting introSettingOf(const OpenScore& score) {
    const TimeMap map(score);
    IntroPlayer::Setting s;
    s.intro = soundsOf(score.intro.list, score.intro.tuneUpVoice, score.model());
    if (score.intro.clicks()) {
        s.bar = soundsOf(score.intro.bar, score.intro.tuneUpVoice, score.model());
        s.barFrom = score.intro.barFrom;
        s.barTo = score.intro.barTo;
    }
    s.openingTempo = map.openingTempo();
    return s;
}

// --- playing ------------------------------------------------------------------------------

IntroPlayer::IntroPlayer(Setting setting) : setting_(std::move(setting)) {
    setting_.introFrom = std::clamp<std::int64_t>(setting_.introFrom, 0, setting_.intro.length);
    if (!(setting_.openingTempo > 0.0)) setting_.openingTempo = scoreconv::kFallbackTempo;
    musicBegun_.store(setting_.introFrom >= setting_.intro.length);
    introPositionMs_.store(static_cast<double>(setting_.introFrom) * msPerTick());
    if (setting_.barFrom < setting_.barTo && setting_.bar.length > 0) {
        barNotes_ = setting_.bar.notes;
        std::stable_sort(barNotes_.begin(), barNotes_.end(),
                         [](const SoundNote& a, const SoundNote& b) { return a.on < b.on; });
    }
}

bool IntroPlayer::send(scoreconv::PlayScore& score, std::int32_t track, std::uint8_t status, std::uint8_t data1,
                       std::uint8_t data2) {
    if (scoreconv::renderPutShort(score, track, status, data1, data2) < 0) return false;
    const auto note = std::make_pair(static_cast<std::uint8_t>(status & 0x0F), data1);
    if ((status & 0xF0) == 0x90 && data2 != 0) introSounding_.push_back(note);
    if ((status & 0xF0) == 0x80) {
        const auto it = std::find(introSounding_.begin(), introSounding_.end(), note);
        if (it != introSounding_.end()) introSounding_.erase(it);
    }
    return true;
}

bool IntroPlayer::silenceIntro(scoreconv::PlayScore& score, std::int32_t track) {
    bool ok = true;
    while (!introSounding_.empty()) {
        const auto [channel, key] = introSounding_.back();
        introSounding_.pop_back();
        ok = scoreconv::renderPutShort(score, track, static_cast<std::uint8_t>(0x80 | channel), key, 0) >= 0 && ok;
    }
    return ok;
}

bool IntroPlayer::beforeMusic(scoreconv::PlayScore& score, std::int32_t track, const scoreconv::CRealTimeClock& clock,
                              platform::WorkerContext* worker) {
    const bool rendering = score.playModeNow() == scoreconv::kModeRender;
    const std::int64_t from = setting_.introFrom;
    const Sounds& intro = setting_.intro;
    if (from >= intro.length) {
        musicBegun_.store(true);
        return true;
    }
    // From where the intro begins: set-ups passed over come at once, notes
    // that sound there are struck again.
    std::vector<Timed> events;
    events.reserve(intro.setUps.size() + 2 * intro.notes.size());
    for (const SetUpMessage& m : intro.setUps)
        events.push_back({std::max(m.tick, from), 0, m.status, m.data1, m.data2});
    for (const SoundNote& n : intro.notes) {
        if (n.off <= from) continue;
        events.push_back({std::max(n.on, from), 2, static_cast<std::uint8_t>(0x90 | n.channel), n.key, n.velocity});
        events.push_back({n.off, 1, static_cast<std::uint8_t>(0x80 | n.channel), n.key, 0});
    }
    std::stable_sort(events.begin(), events.end(), [](const Timed& a, const Timed& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });
    const bool ok = rendering ? writeIntro(score, track, events) : playLive(score, track, clock, worker, events);
    if (ok) musicBegun_.store(true);
    return ok;
}

bool IntroPlayer::playLive(scoreconv::PlayScore& score, std::int32_t track, const scoreconv::CRealTimeClock& clock,
                           platform::WorkerContext* worker, const std::vector<Timed>& events) {
    using Ms = std::chrono::duration<double, std::milli>;
    const std::int64_t from = setting_.introFrom;
    const double fromMs = static_cast<double>(from) * msPerTick();
    const auto begin = clock.now();
    double nextReport = 0.0;
    const auto stopped = [&] { return score.stopRequested() || (worker != nullptr && worker->stopRequested()); };
    // Waits until `tick`, telling the host where the intro is on the way; false when stopped.
    const auto waitFor = [&](std::int64_t tick) {
        const double due = static_cast<double>(tick - from) * msPerTick();
        for (;;) {
            if (stopped()) return false;
            const double now = std::chrono::duration_cast<Ms>(clock.now() - begin).count();
            introPositionMs_.store(fromMs + std::min(now, due));
            if (now >= nextReport) {
                if (setting_.reportPosition) setting_.reportPosition(fromMs + std::min(now, due));
                nextReport = (std::floor(now / kReportEveryMs) + 1.0) * kReportEveryMs;
            }
            if (now >= due) return true;
            const auto until = begin + std::chrono::duration_cast<scoreconv::CRealTimeClock::TimePoint::duration>(
                                           Ms(std::min(due, nextReport)));
            // A stop request wakes the worker's event.
            if (worker != nullptr) {
                clock.waitUntil(worker->wakeEvent(), until);
            } else {
                clock.sleepUntil(until);
            }
        }
    };
    bool stop = false;
    for (const Timed& e : events) {
        if (!waitFor(e.tick)) {
            stop = true;
            break;
        }
        send(score, track, e.status, e.data1, e.data2);
    }
    stop = stop || !waitFor(setting_.intro.length);
    // A stop ends what sounds; at the intro's end nothing does.
    silenceIntro(score, track);
    if (stop) return false;
    introPositionMs_.store(static_cast<double>(setting_.intro.length) * msPerTick());
    return true;
}

bool IntroPlayer::writeIntro(scoreconv::PlayScore& score, std::int32_t track, const std::vector<Timed>& events) {
    // The render's ticks run at the same opening tempo: only the resolution differs.
    const std::int64_t perQuarter = std::max(score.ticksPerQuarter, 1);
    const auto modelTicks = [&](std::int64_t ticks) {
        return (ticks * perQuarter + kIntroTicksPerQuarter / 2) / kIntroTicksPerQuarter;
    };
    const auto grow = [](int* delta, std::int64_t by) {
        if (delta != nullptr) {
            *delta = static_cast<int>(std::clamp<std::int64_t>(*delta + by, 0, std::numeric_limits<int>::max()));
        }
    };
    const scoreconv::CRenderTrackSlot own = scoreconv::renderTrackSlot(score, track);
    std::int64_t last = 0;
    for (const Timed& e : events) {
        const std::int64_t at = modelTicks(e.tick);
        grow(own.delta, at - last);
        last = at;
        if (!send(score, track, e.status, e.data1, e.data2)) return false;
    }
    // The music starts after the intro on every track; track 0 keeps its
    // opening tempo and meter at the start (they come with the first step).
    const std::int64_t length = modelTicks(setting_.intro.length);
    grow(own.delta, length - last);
    for (std::int32_t t = 1; t < score.render.count(); ++t) {
        if (t != track) grow(scoreconv::renderTrackSlot(score, t).delta, length);
    }
    deferredConductorTicks_ = length;
    return true;
}

bool IntroPlayer::atStep(scoreconv::PlayScore& score, std::int32_t track, std::int32_t tick, std::int32_t ticks,
                         bool sounding) {
    const std::int64_t perQuarter = std::max(score.ticksPerQuarter, 1);
    const std::int64_t barLength = setting_.bar.length;
    if (!stepped_) {
        stepped_ = true;
        played_ = tick;
        if (deferredConductorTicks_ > 0) {
            if (int* delta = scoreconv::renderTrackSlot(score, 0).delta) {
                *delta = static_cast<int>(
                    std::clamp<std::int64_t>(*delta + deferredConductorTicks_, 0, std::numeric_limits<int>::max()));
            }
            deferredConductorTicks_ = 0;
        }
        if (!barNotes_.empty()) {
            // The first click at or after where the music begins.
            const std::int64_t at = ceilDiv(played_ * kIntroTicksPerQuarter, perQuarter);
            barIndex_ = floorDiv(at, barLength);
            const auto first = std::lower_bound(barNotes_.begin(), barNotes_.end(), at - barIndex_ * barLength,
                                                [](const SoundNote& n, std::int64_t on) { return n.on < on; });
            barNote_ = static_cast<std::size_t>(first - barNotes_.begin());
            if (barNote_ == barNotes_.size()) {
                barNote_ = 0;
                ++barIndex_;
            }
        }
    }
    played_ += std::max(ticks, 0);
    if (barNotes_.empty()) return true;
    // The clicks due before the end of this step, in the list's ticks.
    const std::int64_t until = ceilDiv(played_ * kIntroTicksPerQuarter, perQuarter);
    bool ok = true;
    std::erase_if(clicking_, [&](const Sounding& c) {
        if (c.off >= until) return false;
        ok = scoreconv::renderPutShort(score, track, static_cast<std::uint8_t>(0x80 | c.channel), c.key, 0) >= 0 && ok;
        return true;
    });
    for (;;) {
        const SoundNote& n = barNotes_[barNote_];
        const std::int64_t barStart = barIndex_ * barLength;
        const std::int64_t at = barStart + n.on;
        if (at >= until) break;
        if (sounding && at >= setting_.barFrom && at < setting_.barTo) {
            if (!barSetUp_) {
                barSetUp_ = true;
                for (const SetUpMessage& m : setting_.bar.setUps) {
                    ok = scoreconv::renderPutShort(score, track, m.status, m.data1, m.data2) >= 0 && ok;
                }
            }
            ok = scoreconv::renderPutShort(score, track, static_cast<std::uint8_t>(0x90 | n.channel), n.key,
                                           n.velocity) >= 0 &&
                 ok;
            clicking_.push_back({barStart + n.off, n.channel, n.key});
        }
        if (++barNote_ == barNotes_.size()) {
            barNote_ = 0;
            ++barIndex_;
        }
    }
    return ok;
}

bool IntroPlayer::atEnd(scoreconv::PlayScore& score, std::int32_t track) {
    bool ok = silenceIntro(score, track);
    for (const Sounding& c : clicking_) {
        ok = scoreconv::renderPutShort(score, track, static_cast<std::uint8_t>(0x80 | c.channel), c.key, 0) >= 0 && ok;
    }
    clicking_.clear();
    return ok;
}

}  // namespace tavtune
