// The own sequencer of MIDI entries.
#include "qvp3_pipeline/sequencer.h"

#include <algorithm>
#include <atomic>
#include <tuple>
#include <cmath>
#include <functional>
#include <limits>
#include <new>
#include <vector>

#include "platform/midi_devices.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/intro_player.h"
#include "qvp3_pipeline/midi_read.h"
#include "qvp3_pipeline/midi_write.h"
#include "qvp3_project/project.h"

namespace qvp3 {
namespace {

using scorecore::CScoreEvent;

constexpr double kDefaultTempo = 120.0;
constexpr double kMinTempo = 1.0;
constexpr double kMaxTempo = 1000.0;
constexpr int kTicksPerQuarter = 480;

const std::vector<CScoreEvent>* conductorList(const ProjectEntry& entry) {
    const PipelineEntryModel* model = cnvEntryModelIf(entry);
    return model != nullptr ? model->list(0, 0) : nullptr;
}

// Beats per minute of a tempo event: the exact microseconds where the
// reader kept them, else the rounded tempo.
double tempoOf(const CScoreEvent& e) {
    if (e.midi[1] != 0) return 60'000'000.0 / e.midi[1];
    return e.midi[0] != 0 ? static_cast<double>(e.midi[0]) : kDefaultTempo;
}

// Index of the last tempo event at or before ticks in the sorted conductor list; -1 none.
int tempoIndexAt(const std::vector<CScoreEvent>& list, std::int64_t ticks) {
    int found = -1;
    auto it = std::upper_bound(list.begin(), list.end(), ticks,
                               [](std::int64_t t, const CScoreEvent& e) { return t < e.start; });
    for (auto i = it; i != list.begin();) {
        --i;
        if (i->isKind(scorecore::kKindTempo)) {
            found = static_cast<int>(i - list.begin());
            break;
        }
    }
    return found;
}

double firstFileTempo(const ProjectEntry& entry) {
    const auto* list = conductorList(entry);
    if (list != nullptr) {
        for (const CScoreEvent& e : *list) {
            if (e.isKind(scorecore::kKindTempo)) return e.start == 0 ? tempoOf(e) : kDefaultTempo;
        }
    }
    return kDefaultTempo;
}

// The factor of the entry's relative or absolute tempo over the file's.
double tempoScale(const ProjectEntry& entry) {
    if (entry.TempoIsRelative != 0 || entry.TempoAbsolute <= 0) {
        return std::pow(10.0, (std::clamp(entry.TempoRelative, 0, 2000) - 1000) / 1000.0);
    }
    return entry.TempoAbsolute / firstFileTempo(entry);
}

int staffCount(const ProjectEntry& entry) { return static_cast<int>(entry.voiceCounts.size()); }

const std::vector<CScoreEvent>* voiceList(const ProjectEntry& entry, int staff, int voice) {
    const PipelineEntryModel* model = cnvEntryModelIf(entry);
    return model != nullptr ? model->list(staff + 1, voice) : nullptr;
}

// One message of a step, at its exact tick.
struct StepMessage {
    std::int64_t tick;
    int order;  // note-offs before everything else at one tick
    int track;
    std::uint8_t status, data1, data2;
};

class Sequencer {
public:
    explicit Sequencer(ProjectEntry& entry) : entry_(entry), p_(plyEntryPlayer(entry)) {}
    int run();

private:
    bool stopRequested(int& result) const;
    void start(double tempo);
    void takeMeter(const CScoreEvent& e);
    void findNextMeter(int from);
    void collectVoice(int staff, int voice, VoiceCursor& cursor);
    void collectNote(int staff, int voice, const CScoreEvent& e, int head);
    void collectMessage(int staff, int voice, const CScoreEvent& e, int head);
    std::uint8_t withChannel(int staff, int voice, std::uint8_t status) const;
    void collectOffs();
    void emit();
    bool allFinished() const;
    // Every voice has played its last note to its end.
    bool musicDone() const;
    // Steps up to the next thing to do (1 while playing in real time).
    std::int64_t stepsToSkip(int stepTicks) const;
    void click(std::int64_t at);
    void silence();
    // Writes the track's pending delta up to `at` (at most the step's position).
    int writeAt(int track, std::int64_t at, const std::function<int()>& write);
    std::int64_t musicTicks() const { return p_.positionTicks - p_.leadTicks; }
    bool metronomeOn() const;
    int metronomeTrack() const { return metronomeTrack_; }

    ProjectEntry& entry_;
    EntryPlayer& p_;
    const std::vector<CScoreEvent>* conductor_ = nullptr;
    std::vector<StepMessage> step_;
    int metronomeTrack_ = -1;
    std::int64_t musicEnd_ = 0;  // the end of the last note, in music ticks
    bool firstBeat_ = false;
    bool barStarts_ = false;
};

bool Sequencer::metronomeOn() const {
    if ((p_.options & kSeqMetronome) == 0 || (p_.mode != kPlayerPlay && p_.mode != kPlayerExport)) return false;
    return musicTicks() < 0 || (p_.clicks && entry_.metronome.Use != 0);
}

bool Sequencer::stopRequested(int& result) const {
    if (p_.mode == kPlayerMeasure) return false;
    const std::int32_t state = plyEntryState(entry_);
    if (state == kEntryStopRequested) {
        result = kSeqCancelled;
        return true;
    }
    if (state == kEntryStoppedInTuneUp) {
        result = 0;
        return true;
    }
    return false;
}

void Sequencer::takeMeter(const CScoreEvent& e) {
    const int unit = std::clamp<int>(e.meterUnit, 0, scorecore::kBeatUnitCount - 1);
    p_.meter.init(kTicksPerQuarter, std::max<int>(1, e.meterBeats), unit);
}

void Sequencer::findNextMeter(int from) {
    p_.nextMeter = -1;
    if (conductor_ == nullptr) return;
    for (std::size_t i = static_cast<std::size_t>(std::max(from, 0)); i < conductor_->size(); ++i) {
        if ((*conductor_)[i].isKind(scorecore::kKindTimeSig)) {
            p_.nextMeter = static_cast<int>(i);
            return;
        }
    }
}

void Sequencer::start(double tempo) {
    p_.cursors.assign(static_cast<std::size_t>(staffCount(entry_)), {});
    for (int s = 0; s < staffCount(entry_); ++s) {
        auto& row = p_.cursors[static_cast<std::size_t>(s)];
        row.assign(entry_.voiceCounts[static_cast<std::size_t>(s)], VoiceCursor{});
        for (int v = 0; v < static_cast<int>(row.size()); ++v) {
            const auto* list = voiceList(entry_, s, v);
            VoiceCursor& c = row[static_cast<std::size_t>(v)];
            c.finished = list == nullptr || list->empty();
            if (!c.finished) c.nextTime = list->front().start;
        }
    }
    p_.sounding.clear();
    p_.meter.init(kTicksPerQuarter, 4, 2);
    p_.currentMeter = -1;
    findNextMeter(0);
    if (p_.nextMeter >= 0 && (*conductor_)[static_cast<std::size_t>(p_.nextMeter)].start == 0) {
        p_.currentMeter = p_.nextMeter;
        takeMeter((*conductor_)[static_cast<std::size_t>(p_.currentMeter)]);
        findNextMeter(p_.currentMeter + 1);
    }
    scorecore::CMeasurePos pos;
    pos.bar = std::max(1, p_.startBar);
    pos.beat = std::max(1, p_.startBeat);
    pos.tick = std::max(0, p_.startTick);
    const std::int64_t startTicks = pos.toTick(p_.meter.ticksPerBeat, p_.meter.ticksPerBar);
    // Voices start at the start position; what lies before it is not played.
    for (int s = 0; s < staffCount(entry_); ++s) {
        auto& row = p_.cursors[static_cast<std::size_t>(s)];
        for (int v = 0; v < static_cast<int>(row.size()); ++v) {
            VoiceCursor& c = row[static_cast<std::size_t>(v)];
            const auto* list = voiceList(entry_, s, v);
            while (!c.finished && c.nextTime < startTicks) {
                if (++c.index >= list->size()) {
                    c.finished = true;
                } else {
                    c.nextTime = (*list)[c.index].start;
                }
            }
        }
    }
    // The count-in bars come first: the music's ticks lie that much later.
    p_.leadTicks = 0;
    int countInBars = 0;
    if ((p_.options & kSeqMetronome) != 0 && p_.countIn && (p_.mode == kPlayerPlay || p_.mode == kPlayerExport)) {
        countInBars = std::clamp(entry_.metronome.CountIn, 0, scorecore::kMetronomeMaxCountIn);
    }
    p_.leadTicks = std::int64_t{countInBars} * p_.meter.ticksPerBar;
    p_.positionTicks = startTicks;
    p_.musicStartTicks = startTicks;
    p_.bar = pos.bar - countInBars;
    p_.beat = pos.beat;
    p_.tickInBeat = pos.tick;
    p_.nextBeatAt = p_.positionTicks;
    firstBeat_ = true;
    if (p_.mode == kPlayerPlay && p_.view != nullptr) {
        const double countInMs = static_cast<double>(p_.leadTicks) * 60000.0 / (kTicksPerQuarter * tempo);
        p_.view->setPositionRange(entry_.durationMs + static_cast<std::int32_t>(std::lround(countInMs)));
    }
    if (p_.exporting()) {
        plyEmitTempo(p_, 0, tempo);
        plyEmitTimeSignature(p_, 0, p_.meter.beats, p_.meter.unitIndex);
    }
    p_.tempo = tempo;
}

int Sequencer::writeAt(int track, std::int64_t at, const std::function<int()>& write) {
    if (!p_.exporting() || track < 0 || static_cast<std::size_t>(track) >= p_.pending.size()) return write();
    int& pending = p_.pending[static_cast<std::size_t>(track)];
    // pending reaches the step's position; the event lies `back` ticks before it.
    const int back = static_cast<int>(std::clamp<std::int64_t>(p_.positionTicks - at, 0, pending));
    pending -= back;
    const int result = write();
    pending = back;
    return result;
}

void Sequencer::collectNote(int staff, int voice, const CScoreEvent& e, int head) {
    const std::uint32_t m = e.midi[head];
    std::uint8_t status = static_cast<std::uint8_t>(m & 0xFF);
    std::uint8_t key = static_cast<std::uint8_t>(m >> 8 & 0x7F);
    int velocity = static_cast<int>(m >> 16 & 0x7F);
    if ((status & 0xF0) != 0x90 || velocity == 0) return;
    musicEnd_ = std::max<std::int64_t>(musicEnd_, std::int64_t{e.start} + std::max(e.duration, 0));
    const bool percussion = plyIsPercussionStaff(entry_, staff);
    if ((p_.options & kSeqVoiceMuting) != 0 && !entry_.states.isVoiceOn(staff, voice)) return;
    if ((p_.options & kSeqPercussionOnly) != 0 && !percussion) return;
    const int track =
        percussion ? plyPercussionKeyTrack(entry_, staff, key) : plyVoiceTrack(entry_, staff, voice);
    if ((p_.options & kSeqTranspose) != 0 && (!percussion || entry_.TransposePercussion != 0)) {
        const int transpose = entry_.voices.empty() ? 0 : entry_.voices.front().transposition;
        key = static_cast<std::uint8_t>(std::clamp(key + transpose, 0, 127));
    }
    status = withChannel(staff, voice, status);
    if ((p_.options & kSeqVolume) != 0 && static_cast<std::size_t>(staff) < entry_.staffVelocity.size()) {
        const int volume = entry_.staffVelocity[static_cast<std::size_t>(staff)];
        const bool relative = static_cast<std::size_t>(staff) < entry_.staffVelocityRelative.size() &&
                              entry_.staffVelocityRelative[static_cast<std::size_t>(staff)] != 0;
        velocity = std::clamp(relative ? velocity + volume : volume, 10, 127);
    }
    // A key without a track of its own (a stave's records changed) stays on the stave's first.
    const int out = track >= 0 ? track : plyVoiceTrack(entry_, staff, 0);
    const std::int64_t at = e.start + p_.leadTicks;
    step_.push_back({at, 1, out, status, key, static_cast<std::uint8_t>(velocity)});
    if (p_.mode == kPlayerPlay || p_.mode == kPlayerExport) {
        p_.sounding.push_back({at + std::max(e.duration, 0), out, static_cast<std::uint8_t>(status & 0x0F), key});
        std::push_heap(p_.sounding.begin(), p_.sounding.end(), std::greater<>());
    }
}

std::uint8_t Sequencer::withChannel(int staff, int voice, std::uint8_t status) const {
    if ((p_.options & kSeqStaveChannel) == 0) return status;
    const bool percussion = plyIsPercussionStaff(entry_, staff);
    const scorecore::CMidiInstr* instrument = entry_.voiceInstrument(staff, percussion ? 0 : voice);
    if (instrument == nullptr || instrument->Channel > 15) return status;
    return static_cast<std::uint8_t>((status & 0xF0) | instrument->Channel);
}

void Sequencer::collectMessage(int staff, int voice, const CScoreEvent& e, int head) {
    const std::uint32_t m = e.midi[head];
    const auto status = static_cast<std::uint8_t>(m & 0xFF);
    const auto data1 = static_cast<std::uint8_t>(m >> 8 & 0x7F);
    if (status < 0x80 || status >= 0xF0 || (status & 0xF0) == 0x90 || (status & 0xF0) == 0x80) return;
    const bool percussion = plyIsPercussionStaff(entry_, staff);
    if ((p_.options & kSeqPercussionOnly) != 0 && !percussion) return;
    // What the user chose for the voice stands over the file's own changes.
    const std::uint64_t features = entry_.project != nullptr ? entry_.project->playFeatures : 0;
    const int command = status & 0xF0;
    if (command == 0xC0 && (features & kPlayChosenSounds) != 0) return;
    if (command == 0xB0 && data1 == 7 && (features & kPlayVolume) != 0) return;
    if (command == 0xB0 && data1 == 10 && (features & kPlayPanorama) != 0) return;
    const int track = plyVoiceTrack(entry_, staff, percussion ? 0 : voice);
    step_.push_back({e.start + p_.leadTicks, 2, track, withChannel(staff, voice, status), data1,
                     static_cast<std::uint8_t>(m >> 16 & 0x7F)});
}

void Sequencer::collectVoice(int staff, int voice, VoiceCursor& cursor) {
    const auto* list = voiceList(entry_, staff, voice);
    while (!cursor.finished && cursor.nextTime + p_.leadTicks <= p_.positionTicks) {
        const CScoreEvent& e = (*list)[cursor.index];
        if (e.isKind(scorecore::kKindNote)) {
            for (int h = 0; h < std::clamp(e.headCount, 0, scorecore::kMaxHeads); ++h) collectNote(staff, voice, e, h);
        } else if (e.kind == 0) {
            // A plain MIDI message of the voice (controllers, programs, pitch bend).
            for (int h = 0; h < std::clamp(e.headCount, 0, scorecore::kMaxHeads); ++h) collectMessage(staff, voice, e, h);
        }
        if (++cursor.index >= list->size()) {
            cursor.finished = true;
        } else {
            cursor.nextTime = (*list)[cursor.index].start;
        }
    }
}

void Sequencer::collectOffs() {
    while (!p_.sounding.empty() && p_.sounding.front().offTime <= p_.positionTicks) {
        std::pop_heap(p_.sounding.begin(), p_.sounding.end(), std::greater<>());
        const SoundingNote n = p_.sounding.back();
        p_.sounding.pop_back();
        step_.push_back({n.offTime, 0, n.track, static_cast<std::uint8_t>(0x80 | n.channel), n.key, 0x40});
    }
}

void Sequencer::emit() {
    std::stable_sort(step_.begin(), step_.end(), [](const StepMessage& a, const StepMessage& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });
    for (const StepMessage& m : step_) {
        if (p_.mode == kPlayerPlay) {
            scorecore::scMidiSendShort(m.status, m.data1, m.data2, p_.midiOut);
        } else if (p_.exporting()) {
            writeAt(m.track, m.tick, [&] { return plyEmitChannelEvent(p_, m.track, m.status, m.data1, m.data2, nullptr); });
        }
    }
    step_.clear();
}

std::int64_t Sequencer::stepsToSkip(int stepTicks) const {
    if (p_.mode == kPlayerPlay || p_.tempoFunction) return 1;
    const std::int64_t at = p_.positionTicks;
    std::int64_t next = std::numeric_limits<std::int64_t>::max();
    const auto bound = [&](std::int64_t tick) {
        if (tick > at) next = std::min(next, tick);
    };
    bound(musicEnd_ + p_.leadTicks);
    for (std::size_t s = 0; s < p_.cursors.size(); ++s) {
        for (const VoiceCursor& c : p_.cursors[s]) {
            if (!c.finished) bound(c.nextTime + p_.leadTicks);
        }
    }
    if (!p_.sounding.empty()) bound(p_.sounding.front().offTime);
    if (p_.nextMeter >= 0) bound((*conductor_)[static_cast<std::size_t>(p_.nextMeter)].start + p_.leadTicks);
    if (conductor_ != nullptr) {
        const int last = tempoIndexAt(*conductor_, std::max<std::int64_t>(musicTicks(), 0));
        for (std::size_t i = static_cast<std::size_t>(last + 1); i < conductor_->size(); ++i) {
            if ((*conductor_)[i].isKind(scorecore::kKindTempo) && (*conductor_)[i].start > musicTicks()) {
                bound((*conductor_)[i].start + p_.leadTicks);
                break;
            }
        }
    }
    if (metronomeOn()) bound(p_.nextBeatAt);
    if (next <= at + stepTicks) return 1;
    std::int64_t steps = (next - at + stepTicks - 1) / stepTicks;
    if (p_.mode == kPlayerSeek) {
        // Stop short of the target; the last steps decide which lies nearest.
        const double stepMs = stepTicks * 60000.0 / (kTicksPerQuarter * p_.tempo);
        const auto before = static_cast<std::int64_t>((p_.seekTargetMs - p_.positionMs) / stepMs) - 1;
        steps = std::min(steps, before);
    }
    return std::max<std::int64_t>(steps, 1);
}

bool Sequencer::musicDone() const {
    for (const auto& row : p_.cursors) {
        for (const VoiceCursor& c : row) {
            if (!c.finished) return false;
        }
    }
    return p_.nextMeter < 0 && musicTicks() >= musicEnd_;
}

bool Sequencer::allFinished() const { return musicDone() && p_.sounding.empty(); }

void Sequencer::click(std::int64_t at) {
    const int track = p_.exporting() ? metronomeTrack() : -1;
    scorecore::CMidiTrackStream* stream = p_.stream(track);
    platform::MidiOutDevice* out = p_.mode == kPlayerPlay ? p_.midiOut : nullptr;
    if (stream == nullptr && out == nullptr) return;
    int scratch = 0;
    int& delta = stream != nullptr ? p_.pending[static_cast<std::size_t>(track)] : scratch;
    writeAt(track, at, [&] {
        // The count-in clicks whether or not the metronome plays through the piece.
        return entry_.metronome.clickFreq(out, at < p_.leadTicks + p_.musicStartTicks, p_.meter.beats, p_.beat, &p_.clickVolume, &p_.clickPan, stream,
                                          delta, &p_.clickProgram);
    });
}

// Ends every note the loop started and the click.
void Sequencer::silence() {
    if (p_.mode == kPlayerPlay) {
        for (const SoundingNote& n : p_.sounding) {
            scorecore::scMidiSendShort(static_cast<std::uint8_t>(0x80 | n.channel), n.key, 0x40, p_.midiOut);
        }
        p_.sounding.clear();
    }
    if (p_.mode == kPlayerPlay || p_.exporting()) {
        const int track = p_.exporting() ? metronomeTrack() : -1;
        scorecore::CMidiTrackStream* stream = p_.stream(track);
        int scratch = 0;
        int& delta = stream != nullptr ? p_.pending[static_cast<std::size_t>(track)] : scratch;
        entry_.metronome.clickOff(p_.mode == kPlayerPlay ? p_.midiOut : nullptr, stream, delta);
    }
}

int Sequencer::run() {
    int result = 0;
    if (stopRequested(result)) return result;
    conductor_ = conductorList(entry_);
    // A tempo or meter after the last note still belongs to the music.
    if (conductor_ != nullptr && !conductor_->empty()) musicEnd_ = std::max<std::int64_t>(0, conductor_->back().start);
    if (p_.exporting()) plyCountOutputTracks(entry_, &metronomeTrack_, nullptr, false);
    // The entry's tempo setting may change while it plays; its factor is
    // worked out again only when it did.
    std::tuple<std::int32_t, std::int32_t, std::uint8_t> setting{-2, -2, 2};
    double scale = 1.0;
    const auto tempoAt = [&](std::int64_t ticks) {
        if (p_.tempoFunction) return p_.tempoFunction(entry_, ticks);
        const std::tuple<std::int32_t, std::int32_t, std::uint8_t> now{
            std::atomic_ref(entry_.TempoRelative).load(std::memory_order_relaxed),
            std::atomic_ref(entry_.TempoAbsolute).load(std::memory_order_relaxed),
            std::atomic_ref(entry_.TempoIsRelative).load(std::memory_order_relaxed)};
        if (now != setting) {
            setting = now;
            scale = tempoScale(entry_);
        }
        return std::clamp(plyFileTempo(entry_, ticks) * scale, kMinTempo, kMaxTempo);
    };
    double tempo = tempoAt(0);
    if (p_.positionMs == 0) {
        if (p_.mode == kPlayerSeek && p_.seekTargetMs <= 0) {
            p_.tempo = tempo;
            return 0;
        }
        start(tempo);
        if (p_.exporting()) plyWriteMetronomeSetup(entry_);
    }
    const platform::RealTimeClock& clock = p_.clock != nullptr ? *p_.clock : platform::RealTimeClock::steady();
    auto startTime = clock.now();
    const std::int64_t startMs = p_.positionMs;
    const int stepTicks = p_.mode == kPlayerPlay || p_.mode == kPlayerSeek ? kSeqStepLive : kSeqStepExact;
    std::int64_t shownTenths = -1;
    while (true) {
        if (stopRequested(result)) break;
        if (p_.mode == kPlayerPlay && plyEntryState(entry_) == kEntryPaused) {
            // Paused: silent until the state changes; the clock then goes on from here.
            silence();
            if (p_.midiOut != nullptr) p_.midiOut->reset();
            while (plyEntryState(entry_) == kEntryPaused) p_.wake->wait(std::chrono::milliseconds(50));
            startTime = clock.now() - std::chrono::milliseconds(p_.positionMs - startMs);
            continue;
        }
        // Meter changes of the conductor track; a new meter starts a bar.
        while (p_.nextMeter >= 0 &&
               (*conductor_)[static_cast<std::size_t>(p_.nextMeter)].start + p_.leadTicks <= p_.positionTicks) {
            const CScoreEvent& e = (*conductor_)[static_cast<std::size_t>(p_.nextMeter)];
            const std::int64_t at = e.start + p_.leadTicks;
            p_.currentMeter = p_.nextMeter;
            takeMeter(e);
            findNextMeter(p_.currentMeter + 1);
            p_.nextBeatAt = at;
            barStarts_ = true;
            if (p_.exporting()) {
                writeAt(0, at, [&] { return plyEmitTimeSignature(p_, 0, p_.meter.beats, p_.meter.unitIndex); });
            }
        }
        // Beats and bars; the boundary at the loop's start is the start position's beat.
        bool clicked = false;
        while (p_.meter.ticksPerBeat > 0 && p_.positionTicks >= p_.nextBeatAt) {
            const std::int64_t at = p_.nextBeatAt;
            p_.nextBeatAt += p_.meter.ticksPerBeat;
            if (!firstBeat_) {
                if (barStarts_ || ++p_.beat > p_.meter.beats) {
                    p_.beat = 1;
                    ++p_.bar;
                }
            }
            firstBeat_ = false;
            barStarts_ = false;
            if (metronomeOn() && !musicDone()) {
                click(at);
                clicked = true;
            }
        }
        p_.tickInBeat = static_cast<std::int32_t>(p_.meter.ticksPerBeat - (p_.nextBeatAt - p_.positionTicks));
        // Tempo.
        const double now = tempoAt(std::max<std::int64_t>(musicTicks(), 0));
        if (now != p_.tempo) {
            p_.tempo = now;
            if (p_.mode == kPlayerPlay && p_.view != nullptr) p_.view->showTempo(now);
            if (p_.exporting()) {
                std::int64_t at = p_.positionTicks;
                if (!p_.tempoFunction && conductor_ != nullptr) {
                    const int i = tempoIndexAt(*conductor_, std::max<std::int64_t>(musicTicks(), 0));
                    if (i >= 0) at = (*conductor_)[static_cast<std::size_t>(i)].start + p_.leadTicks;
                }
                writeAt(0, at, [&] { return plyEmitTempo(p_, 0, now); });
            }
        }
        if (p_.mode == kPlayerSeek) {
            // Ends at the step whose position lies nearest to the target,
            // before its events: they are the first the player then plays.
            const double next = kSeqStepLive * 60000.0 / (kTicksPerQuarter * p_.tempo) + p_.msCarry;
            if (p_.positionMs >= p_.seekTargetMs ||
                p_.seekTargetMs - p_.positionMs <= p_.positionMs + std::llround(next) - p_.seekTargetMs) {
                break;
            }
        }
        // The step's events.
        collectOffs();
        for (int s = 0; s < static_cast<int>(p_.cursors.size()); ++s) {
            auto& row = p_.cursors[static_cast<std::size_t>(s)];
            for (int v = 0; v < static_cast<int>(row.size()); ++v) collectVoice(s, v, row[static_cast<std::size_t>(v)]);
        }
        emit();
        const bool done = allFinished();
        if (done && p_.mode == kPlayerMeasure) {
            // The playing time ends where the music ends, not at the step after it.
            const double over = static_cast<double>(musicTicks() - musicEnd_) * 60000.0 / (kTicksPerQuarter * p_.tempo);
            p_.positionMs = std::max<std::int64_t>(0, std::llround(static_cast<double>(p_.positionMs) + p_.msCarry - over));
        }
        // Where nothing sounds nor waits, a stretch without events passes in one go.
        const std::int64_t steps = done ? 1 : stepsToSkip(stepTicks);
        const std::int64_t ticks = steps * stepTicks;
        // The steps' milliseconds; the rounding's rest goes to the next step.
        const double exact = static_cast<double>(ticks) * 60000.0 / (kTicksPerQuarter * p_.tempo) + p_.msCarry;
        const auto stepMs = static_cast<std::int64_t>(std::llround(exact));
        if (done) break;
        p_.msCarry = exact - static_cast<double>(stepMs);
        p_.positionMs += stepMs;
        p_.publishedMs.store(p_.positionMs, std::memory_order_relaxed);
        if (p_.mode != kPlayerMeasure && p_.view != nullptr && (p_.positionMs / 100 != shownTenths || clicked)) {
            shownTenths = p_.positionMs / 100;
            p_.view->showPosition(static_cast<std::int32_t>(p_.positionMs), std::max(p_.bar, 0), p_.beat);
        }
        p_.positionTicks += ticks;
        if (p_.exporting()) {
            for (int& pending : p_.pending) pending = static_cast<int>(std::min<std::int64_t>(pending + ticks, INT32_MAX));
        }
        if (p_.mode == kPlayerPlay) {
            clock.sleepUntil(startTime + std::chrono::milliseconds(p_.positionMs - startMs));
        }
    }
    p_.publishedMs.store(p_.positionMs, std::memory_order_relaxed);
    if (p_.mode != kPlayerMeasure && p_.mode != kPlayerSeek) silence();
    if (p_.mode == kPlayerExport) {
        plyRequestStop(entry_, kEntryIdle);
        if (result == 0 && !p_.streams.empty()) {
            result = midiWriteSmf(entry_, {}, true, -1, kTicksPerQuarter);
        }
        plyFreeExportStreams(entry_);
    } else if (p_.mode == kPlayerMeasure) {
        entry_.durationMs = static_cast<std::int32_t>(std::min<std::int64_t>(p_.positionMs, INT32_MAX));
    } else if (p_.view != nullptr) {
        p_.view->showPosition(static_cast<std::int32_t>(p_.positionMs), std::max(p_.bar, 0), p_.beat);
    }
    return result;
}

}  // namespace

double plyFileTempo(const ProjectEntry& entry, std::int64_t ticks) {
    const auto* list = conductorList(entry);
    if (list == nullptr) return kDefaultTempo;
    const int i = tempoIndexAt(*list, ticks);
    return i >= 0 ? tempoOf((*list)[static_cast<std::size_t>(i)]) : kDefaultTempo;
}

double plyEffectiveTempo(const ProjectEntry& entry, std::int64_t ticks) {
    return std::clamp(plyFileTempo(entry, ticks) * tempoScale(entry), kMinTempo, kMaxTempo);
}

int plySequencerLoop(ProjectEntry& entry) {
    try {
        return Sequencer(entry).run();
    } catch (const std::bad_alloc&) {
        return kMidiOutOfMemory;
    }
}

int plyMeasureMidiEntry(ProjectEntry& entry, std::int32_t* lengthMs) {
    if (entry.kind != EntryKind::Midi) return kTimeNotMeasurable;
    EntryPlayer& p = plyEntryPlayer(entry);
    const int mode = p.mode;
    const std::int64_t ticks = p.positionTicks;
    const std::int64_t ms = p.positionMs;
    p.mode = kPlayerMeasure;
    p.positionMs = 0;
    const int result = plySequencerLoop(entry);
    plyResetChannels(entry);
    plyResetVoiceCursors(entry);
    p.mode = mode;
    p.positionTicks = ticks;
    p.positionMs = ms;
    p.publishedMs.store(ms, std::memory_order_relaxed);
    if (lengthMs != nullptr) *lengthMs = entry.durationMs;
    return result;
}

int plyExportMidiEntry(ProjectEntry& entry, std::uint32_t options) {
    EntryPlayer& p = plyEntryPlayer(entry);
    plyResetChannels(entry);
    p.mode = kPlayerExport;
    p.options = options;
    p.tempoFunction = nullptr;  // the file's tempo with the entry's setting
    // Without a project the options alone decide (count-in and clicks with the metronome).
    p.countIn = entry.project == nullptr || (entry.project->playFeatures & kPlayCountIn) != 0;
    p.clicks = entry.project == nullptr || (entry.project->playFeatures & kPlayMetronome) != 0;
    const int tracks = plyCountOutputTracks(entry, nullptr, nullptr, false);
    if (const int r = plyAllocExportStreams(entry, tracks); r != 0) return r;
    plyWriteConductorHeader(entry, plyLanguageText(entry, kStrSmfCopyright, "Converted by qvp3"));
    midiWriteTrackNames(entry);
    plyPlayIntro(nullptr, entry, nullptr);
    plySendChannelSetup(entry);
    const int result = plySequencerLoop(entry);
    plyFreeExportStreams(entry);
    plyResetChannels(entry);
    plyResetVoiceCursors(entry);
    p.mode = 0;
    return result;
}

std::uint32_t plyEntryOptions(const ProjectEntry& entry) {
    if (entry.project == nullptr) return 0;
    const std::uint64_t features = entry.project->playFeatures;
    std::uint32_t options = 0;
    if ((features & kPlayVoiceMasks) != 0) options |= kSeqVoiceMuting;
    if ((features & kPlayTranspose) != 0) options |= kSeqTranspose;
    if ((features & kPlayChannels) != 0) options |= kSeqStaveChannel;
    if ((features & (kPlayCountIn | kPlayMetronome)) != 0) options |= kSeqMetronome;
    return options;
}

void plyApplyEntryOptions(ProjectEntry& entry) {
    EntryPlayer& p = plyEntryPlayer(entry);
    p.options = plyEntryOptions(entry);
    const std::uint64_t features = entry.project != nullptr ? entry.project->playFeatures : 0;
    p.countIn = (features & kPlayCountIn) != 0;
    p.clicks = (features & kPlayMetronome) != 0;
}

void plyResetVoiceCursors(ProjectEntry& entry) {
    EntryPlayer& p = plyEntryPlayer(entry);
    for (auto& row : p.cursors) {
        for (VoiceCursor& c : row) c = VoiceCursor{};
    }
    p.sounding.clear();
    if (p.mode == kPlayerExport) std::fill(p.pending.begin(), p.pending.end(), 0);
}

void plyResetChannels(ProjectEntry& entry) {
    EntryPlayer& p = plyEntryPlayer(entry);
    p.channels.fill(ChannelState{});
    p.positionTicks = 0;
    p.positionMs = 0;
    p.publishedMs.store(0, std::memory_order_relaxed);
    p.msCarry = 0.0;
    p.leadTicks = 0;
    p.nextBeatAt = 0;
    p.bar = 1;
    p.beat = 1;
    p.tickInBeat = 0;
    p.currentMeter = -1;
    p.nextMeter = -1;
    p.meter.init(kTicksPerQuarter, 4, 2);
}

}  // namespace qvp3
