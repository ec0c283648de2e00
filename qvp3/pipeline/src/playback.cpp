// The transport: start, pause, stop, rewind, wind and seek of an entry.
#include "qvp3_pipeline/playback.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "platform/midi_devices.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/intro_player.h"
#include "qvp3_pipeline/midi_read.h"
#include "qvp3_pipeline/midi_write.h"
#include "qvp3_pipeline/sequencer.h"

namespace qvp3 {
namespace {

constexpr int kStartEngine = 89;
constexpr int kEngineCommand = 51;
constexpr int kStrPause = 418;
constexpr int kStrContinue = 419;
constexpr int kWindPeriodMs = 100;
constexpr int kAfterMusicMs = 500;

bool busy(std::int32_t state) { return state == kEntryPlaying || state == kEntryPlayingAlt; }


}  // namespace

// --- meters and tempo ------------------------------------------------------------

void plyInitMeter(PlyMeter& meter, int division, int numerator, int power) {
    power = std::clamp(power, 0, 7);
    numerator = std::max(numerator, 1);
    meter.beats = numerator;
    meter.ticksPerBeat = division * 4 / (1 << power);
    meter.ticksPerBar = meter.ticksPerBeat * numerator;
    meter.midiData = {static_cast<std::uint8_t>(std::min(numerator, 255)), static_cast<std::uint8_t>(power),
                      static_cast<std::uint8_t>(96 >> power), 8};
}

void plyTicksToBarBeat(const PlyMeter& meter, std::int64_t position, int& bar, int& beat, int& tick) {
    if (meter.ticksPerBar <= 0 || meter.ticksPerBeat <= 0) {
        bar = beat = 1;
        tick = 0;
        return;
    }
    const std::int64_t a = position < 0 ? -position : position;
    const std::int64_t inBar = a % meter.ticksPerBar;
    if (position >= 0) {
        bar = static_cast<int>(position / meter.ticksPerBar + 1);
        beat = static_cast<int>(inBar / meter.ticksPerBeat + 1);
    } else {
        // The count-in counts back from the bar before the first.
        bar = static_cast<int>(position / meter.ticksPerBar - (inBar != 0 ? 1 : 0));
        if (inBar == 0) {
            beat = 1;
        } else {
            beat = static_cast<int>(meter.beats - inBar / meter.ticksPerBeat + (a % meter.ticksPerBeat == 0 ? 1 : 0));
        }
    }
    tick = static_cast<int>(a % meter.ticksPerBeat);
}

double TempoFactor(const ProjectEntry& entry) {
    const bool relative = entry.project != nullptr && (entry.project->playFeatures & kPlayRelativeTempo) != 0;
    if (!relative || entry.TempoIsRelative == 0) return 1.0;
    return std::pow(10.0, (std::clamp(entry.TempoRelative, 0, 2000) - 1000) / 1000.0);
}

std::int32_t plyScaleByTempo(const ProjectEntry& entry, std::uint32_t value) {
    return static_cast<std::int32_t>(
        std::lround(value * std::pow(10.0, (std::clamp(entry.TempoRelative, 0, 2000) - 1000) / 1000.0)));
}

// --- the control ------------------------------------------------------------------

PlaybackControl::PlaybackControl(Project& project, CTavtuneLib& engine, PlaybackHost* host)
    : project_(project), engine_(engine), host_(host != nullptr ? host : &noHost_) {}

PlaybackControl::~PlaybackControl() {
    for (ProjectEntry& entry : project_.entries) {
        if (cnvEntryModelIf(entry) != nullptr) plyStopPositionThread(entry);
    }
    if (playing_ != nullptr) {
        plyRequestStop(*playing_, kEntryStopRequested);
        plyEntryPlayer(*playing_).wake->set();
    }
    if (player_ != nullptr) player_->event.set();
    waitForPlayer();
}

void PlaybackControl::waitForPlayer() {
    if (player_ != nullptr) stpFreeWorker(player_);
}

double PlaybackControl::plyEntryTempoAt(ProjectEntry& entry, std::int64_t ticks, bool* fromCurve) {
    if (fromCurve != nullptr) *fromCurve = false;
    EntryPlayer& p = plyEntryPlayer(entry);
    double base = 120.0;
    if (isScoreKind(entry.kind)) {
        std::int32_t tempo = 0;
        if (engine_.GetTempo(-1, tempo, false) == 0 && tempo > 0) base = tempo;
    } else {
        base = plyFileTempo(entry, ticks);
    }
    double answer = base;
    if ((features() & kPlayRelativeTempo) != 0) {
        answer = entry.TempoIsRelative != 0 || entry.TempoAbsolute <= 0 ? std::round(base * TempoFactor(entry))
                                                                         : entry.TempoAbsolute;
    }
    if (entry.kind == EntryKind::Midi && (features() & kPlayTempoCurve) != 0) {
        const auto& points = entry.tempoCurve.points[TempoCurve::kRecordedList];
        const TempoPoint* last = nullptr;
        for (const TempoPoint& point : points) {
            if (point.position <= ticks) last = &point;
        }
        if (last != nullptr && last->tempo > 0.0) {
            answer = std::round(last->tempo);
            if (fromCurve != nullptr) *fromCurve = true;
        }
    }
    p.tempo = answer;
    return answer;
}

std::int32_t PlaybackControl::plyEntryPosition(const ProjectEntry& entry) const {
    if (isScoreKind(entry.kind)) {
        double tempo = 0.0;
        double position = 0.0;
        double played = 0.0;
        if (engine_.scoreOpen && engine_.call(98, &tempo, &position, &played) == 0) {
            return static_cast<std::int32_t>(std::lround(position));
        }
        return 0;
    }
    const PipelineEntryModel* model = cnvEntryModelIf(entry);
    return model != nullptr ? static_cast<std::int32_t>(model->player.publishedMs.load(std::memory_order_relaxed)) : 0;
}

int PlaybackControl::plyStart(ProjectEntry& entry) {
    EntryPlayer& p = plyEntryPlayer(entry);
    // Play while winding: the wind ends where it is, and the music goes on from there.
    if (p.wind != nullptr) {
        const bool resumes = p.rememberedState == kEntryPlaying;
        plyStopPositionThread(entry);
        if (resumes) return 0;
    }
    const std::int32_t state = plyEntryState(entry);
    if (busy(state)) return 0;
    if (state == kEntryPaused) {
        if (entry.kind == EntryKind::Midi && player_ != nullptr && player_->running()) {
            plyRequestStop(entry, kEntryPlaying);
            p.wake->set();
        } else if (isScoreKind(entry.kind)) {
            engine_.SetPosition(plyEntryPosition(entry));
            engine_.call(kEngineCommand, TAVTUNE_PLAYER_RESUME);
            plyRequestStop(entry, kEntryPlaying);
        } else {
            plyRequestStop(entry, kEntryPlaying);
            if (const int r = startMidi(entry); r != 0) return r;
        }
        host_->updateTransportControls();
        host_->setPauseMenuText(kStrPause);
        return 0;
    }
    if (p.mode != kPlayerMeasure && entry.durationMs <= 0) return kPlayNoLength;
    plyRequestStop(entry, kEntryPlaying);
    if (p.mode == kPlayerSeek) {
        p.mode = kPlayerPlay;
    } else {
        host_->updateTransportControls();
        host_->layoutProfileBar(5);
    }
    const int result = entry.kind == EntryKind::Midi ? startMidi(entry) : startScore(entry);
    if (result != 0) {
        plyRequestStop(entry, kEntryIdle);
        host_->setPauseMenuText(kStrContinue);
    }
    return result;
}

int PlaybackControl::startMidi(ProjectEntry& entry) {
    waitForPlayer();  // a player that has ended is joined first
    // What the player thread reads of its entry is set here, before it runs.
    EntryPlayer& p = plyEntryPlayer(entry);
    p.clock = clockForTests != nullptr ? clockForTests : &platform::RealTimeClock::steady();
    p.mode = kPlayerPlay;
    plyApplyEntryOptions(entry);
    p.tempoFunction = [this](ProjectEntry& e, std::int64_t ticks) { return plyEntryTempoAt(e, ticks); };
    player_ = std::make_unique<WorkerThreadRec>();
    playing_ = &entry;
    ProjectEntry* target = &entry;
    if (stpStartWorker(player_.get(), [this, target](WorkerThreadRec& record) { playerThread(*target, record); },
                       true, platform::ThreadPriority::TimeCritical, 0, &entry) == nullptr) {
        player_.reset();
        playing_ = nullptr;
        return kMidiOutOfMemory;
    }
    return 0;
}

void PlaybackControl::playerThread(ProjectEntry& entry, WorkerThreadRec& record) {
    EntryPlayer& p = plyEntryPlayer(entry);
    const platform::RealTimeClock& clock = *p.clock;
    int result = 0;
    platform::MidiOutDevice* out = outputForTests;
    if (out == nullptr) {
        if (!output_) {
            platform::MidiOutOpenResult opened = platform::openMidiOutNamed(midiOutputName);
            if (opened) output_ = std::move(opened.device);
        }
        out = output_.get();
    }
    plyLiveOutput(p).store(out);
    if (out == nullptr) {
        result = kPlayNoOutput;
    } else {
        if (p.positionMs == 0 && !plyPlayIntro(&record.event, entry, out)) result = kPlayIntroFailed;
        if (result == 0) {
            plySendChannelSetup(entry);
            result = plySequencerLoop(entry);
        }
    }
    if (result != kSeqCancelled && plyEntryState(entry) != kEntryStopRequested) {
        const auto end = clock.now() + std::chrono::milliseconds(kAfterMusicMs);
        clock.waitUntil(record.event, end);
    }
    plyLiveOutput(p).store(nullptr);  // the mode stays kPlayerPlay: ended
    if (out != nullptr) out->reset();
    if (result != kSeqCancelled && plyEntryState(entry) != kEntryStopRequested) host_->postStop();
}

int PlaybackControl::startScore(ProjectEntry& entry) {
    const std::string table = "MIDI: " + midiOutputName;
    engine_.call(178, table.c_str());
    if (const int r = plyPrepareEntry(entry, false); r != 0) return r;
    plyApplyVoiceSettings(entry);
    if (engine_.call(kStartEngine, 0) != 0) return kTavtuneEngineFailed;
    return 0;
}

void PlaybackControl::plyPause(ProjectEntry& entry) {
    if (!busy(plyEntryState(entry))) return;
    if (isScoreKind(entry.kind)) engine_.call(kEngineCommand, TAVTUNE_PLAYER_PAUSE);
    // A MIDI entry's loop sees the state, silences its output and waits.
    plyRequestStop(entry, kEntryPaused);
    host_->updateTransportControls();
    host_->setPauseMenuText(kStrContinue);
}

void PlaybackControl::plyStop(ProjectEntry& entry) {
    EntryPlayer& p = plyEntryPlayer(entry);
    if (p.wind != nullptr) {
        // Stop while winding: the wind ends and the entry goes back to the start.
        stpKillWorker(p.wind.get());
        p.wind.reset();
        p.rememberedState = 0;
        p.mode = 0;
        plyRequestStop(entry, kEntryIdle);
        seekMidi(entry, 0);
        if (isScoreKind(entry.kind) && engine_.scoreOpen) engine_.SetPosition(0);
        host_->updateTransportControls();
        return;
    }
    const std::int32_t state = plyEntryState(entry);
    if (!busy(state) && state != kEntryPaused) return;
    if (isScoreKind(entry.kind)) {
        engine_.call(kEngineCommand, TAVTUNE_PLAYER_STOP);
        if (project_.currentStep == kStepTempoCurve) takeOverRecordedTempos(entry);
    } else {
        stopPlayer(entry);
    }
    plyRequestStop(entry, kEntryIdle);
    if (p.mode == kPlayerSeek) {
        plyRequestStop(entry, p.rememberedState == kEntryPlaying ? kEntryWindingPlaying : kEntryWindingPaused);
        return;
    }
    // Back to the start, silently.
    seekMidi(entry, 0);
    if (isScoreKind(entry.kind) && engine_.scoreOpen) engine_.SetPosition(0);
    p.rememberedState = 0;
    host_->setTempoTrackbar(0);
    host_->updateTransportControls();
    host_->layoutProfileBar(1);
    p.mode = 0;
    host_->setPauseMenuText(kStrContinue);
}

// What the engine recorded while the score played in the tempo-curve step
// becomes the entry's curve once the music stops; the page shows it, and the
// playing time follows the new tempos.
void PlaybackControl::takeOverRecordedTempos(ProjectEntry& entry) {
    if (engine_.scoreOpen) engine_.SetPosition(0);
    plySetEngineOption200(entry, false, true);
    plySetEngineOption100(entry, false, true);
    plyLoadEngineTempoCurve(entry);
    if (StepPage* page = stpGetPage(project_, kStepTempoCurve)) {
        project_.stepPageServices().stpRefreshAfterProfile(*page, &entry);
    }
    std::int32_t ms = 0;
    if (engine_.GetPlayTime(ms) == kTavtuneOk) entry.durationMs = ms;
}

void PlaybackControl::plyRewind(ProjectEntry& entry) {
    if (plyEntryPlayer(entry).wind != nullptr) plyStopPositionThread(entry);
    const std::int32_t state = plyEntryState(entry);
    if (entry.kind == EntryKind::Midi && (busy(state) || state == kEntryPaused)) {
        // The player is not moved under its feet: it stops, and goes on from the start.
        plyBeginSeek(entry);
        plySeek(entry, 0, true);
        return;
    }
    if (isScoreKind(entry.kind)) {
        if (engine_.scoreOpen) engine_.SetPosition(0);
        host_->showPlayPosition(plyEntryPosition(entry), 2);
        return;
    }
    seekMidi(entry, 0);
    host_->showPlayPosition(0, 2);
}

void PlaybackControl::plyBeginSeek(ProjectEntry& entry) {
    EntryPlayer& p = plyEntryPlayer(entry);
    if (p.mode == kPlayerSeek) return;
    const std::int32_t state = plyEntryState(entry);
    if (busy(state) || state == kEntryPaused) {
        p.rememberedState = state == kEntryPaused ? kEntryPaused : kEntryPlaying;
        if (entry.kind == EntryKind::Midi) {
            // The player ends first: the seek then has the entry to itself.
            stopPlayer(entry);
            plyRequestStop(entry, p.rememberedState == kEntryPlaying ? kEntryWindingPlaying : kEntryWindingPaused);
        } else if (busy(state)) {
            engine_.call(kEngineCommand, TAVTUNE_PLAYER_PAUSE);
        }
    }
    p.mode = kPlayerSeek;
}

void PlaybackControl::stopPlayer(ProjectEntry& entry) {
    plyRequestStop(entry, kEntryStopRequested);
    plyEntryPlayer(entry).wake->set();
    if (player_ != nullptr) player_->event.set();
    waitForPlayer();
    playing_ = nullptr;
}

void PlaybackControl::seekMidi(ProjectEntry& entry, std::int32_t ms) {
    if (entry.kind != EntryKind::Midi) return;
    EntryPlayer& p = plyEntryPlayer(entry);
    const int mode = p.mode;
    plyResetChannels(entry);
    plyResetVoiceCursors(entry);
    if (ms > 0) {
        p.mode = kPlayerSeek;
        p.seekTargetMs = std::min(ms, std::max(entry.durationMs, 0));
        plySequencerLoop(entry);
    }
    p.mode = mode;
}

void PlaybackControl::plySeek(ProjectEntry& entry, std::int32_t ms, bool final) {
    EntryPlayer& p = plyEntryPlayer(entry);
    // A seek of the user's ends a wind first: one thread moves the entry at a time.
    if (p.wind != nullptr) {
        stpKillWorker(p.wind.get());
        p.wind.reset();
    }
    moveTo(entry, ms, final);
}

void PlaybackControl::moveTo(ProjectEntry& entry, std::int32_t ms, bool final) {
    ms = std::clamp(ms, 0, std::max(entry.durationMs, 0));
    EntryPlayer& p = plyEntryPlayer(entry);
    const std::int32_t state = plyEntryState(entry);
    if (entry.kind == EntryKind::Midi && p.mode != kPlayerSeek && (busy(state) || state == kEntryPaused)) {
        plyBeginSeek(entry);
    }
    if (isScoreKind(entry.kind)) {
        if (engine_.scoreOpen) engine_.SetPosition(ms);
    } else {
        seekMidi(entry, ms);
    }
    host_->showPlayPosition(plyEntryPosition(entry), 2);
    if (!final) return;
    // The transport goes on as it was when the seek began.
    const std::int32_t remembered = p.rememberedState;
    p.rememberedState = 0;
    p.mode = 0;
    const std::int32_t now = plyEntryState(entry);
    if (now == kEntryWindingPlaying || now == kEntryWindingPaused || now == kEntryWindingIdle) {
        plyRequestStop(entry, kEntryIdle);
    }
    if (remembered == kEntryPlaying) {
        if (isScoreKind(entry.kind) && plyEntryState(entry) == kEntryPlaying) {
            engine_.call(kEngineCommand, TAVTUNE_PLAYER_RESUME);
        } else {
            plyRequestStop(entry, kEntryIdle);
            plyStart(entry);
        }
    } else if (remembered == kEntryPaused) {
        plyRequestStop(entry, kEntryPaused);
    }
}

bool PlaybackControl::plyStartPositionThread(ProjectEntry& entry, std::int32_t step) {
    EntryPlayer& p = plyEntryPlayer(entry);
    plyStopPositionThread(entry);
    plyBeginSeek(entry);
    const std::int32_t state = plyEntryState(entry);
    plyRequestStop(entry, p.rememberedState == kEntryPlaying  ? kEntryWindingPlaying
                          : p.rememberedState == kEntryPaused ? kEntryWindingPaused
                          : (state == kEntryIdle ? kEntryWindingIdle : state));
    p.wind = std::make_unique<WorkerThreadRec>();
    ProjectEntry* target = &entry;
    return stpStartWorker(p.wind.get(), [this, target](WorkerThreadRec& record) { windThread(*target, record); },
                          true, platform::ThreadPriority::Normal, step, &entry) != nullptr;
}

void PlaybackControl::windThread(ProjectEntry& entry, WorkerThreadRec& record) {
    const platform::RealTimeClock& clock =
        clockForTests != nullptr ? *clockForTests : platform::RealTimeClock::steady();
    std::int32_t position = plyEntryPosition(entry);
    auto deadline = clock.now();
    while (true) {
        deadline += std::chrono::milliseconds(kWindPeriodMs);
        if (clock.waitUntil(record.event, deadline) || record.stopRequested()) return;
        const std::int32_t next = position + record.userValue;
        const std::int32_t end = std::max(entry.durationMs, 0);
        position = std::clamp(next, 0, end);
        moveTo(entry, position, false);
        if (next <= 0 || next >= end) return;  // the start or the end reached
    }
}

void PlaybackControl::plyStopPositionThread(ProjectEntry& entry) {
    EntryPlayer& p = plyEntryPlayer(entry);
    if (p.wind == nullptr) return;
    stpKillWorker(p.wind.get());
    p.wind.reset();
    moveTo(entry, plyEntryPosition(entry), true);
}

}  // namespace qvp3
