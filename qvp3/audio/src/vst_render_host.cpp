// The render host: events into the instruments, their outputs mixed, blocks
// delivered to the output device or returned for a file.
#include "qvp3_audio/vst_render_host.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "scorecore/sc_util.h"

namespace qvp3 {
namespace {

using namespace qvp3::vst;

bool isPercussionKind(std::int32_t kind) { return kind == 1 || kind == 3; }

}  // namespace

CMyVSTHost::CMyVSTHost() : CMyVSTHost(std::make_unique<CSpecDSoundOutDevice>()) {}

CMyVSTHost::CMyVSTHost(std::unique_ptr<CSpecDSoundOutDevice> device) : dsound(std::move(device)) {
    if (dsound) dsound->SetRenderWorker(&worker);
    for (std::size_t c = 0; c < 2; ++c) {
        silence_[c].assign(kRenderSilenceFrames, 0.0f);
        silencePointers_[c] = silence_[c].data();
        mix_[c].assign(kRenderMixFrames, 0.0f);
        mixPointers_[c] = mix_[c].data();
    }
    queue_.resize(kRenderQueueEvents);
}

CMyVSTHost::~CMyVSTHost() {
    StopOutput();
    if (dsound) dsound->Close();
    worker.Stop();
    RemoveAll();
}

// --- outputs -----------------------------------------------------------------------

void CMyVSTHost::SelectOutput(const std::string& deviceName, std::uint32_t blockFrames) {
    StopOutput();
    if (state_.load() == kRenderStateOffline) return;
    if (OpenOutput(blockFrames, deviceName)) StartOutput();
}

bool CMyVSTHost::OpenOutput(std::uint32_t& blockFrames, const std::string& deviceName) {
    const std::size_t asio = deviceName.find(kAsioNamePrefix);
    if (asio != std::string::npos) {
        outputKind = 1;
        if (dsound) dsound->Close();
        output = nullptr;
        auto size = static_cast<std::int32_t>(blockFrames);
        if (asioHost == nullptr || !asioHost->Open(deviceName.substr(asio + std::string_view(kAsioNamePrefix).size()), size)) {
            return false;
        }
        SetSampleRate(static_cast<float>(asioHost->SampleRate()));
        blockFrames = static_cast<std::uint32_t>(size);
        return SetBlockSize(size);
    }
    outputKind = 2;
    if (asioHost != nullptr && asioHost->IsStarted()) asioHost->Stop();
    if (!dsound || !dsound->OpenByName(deviceName, blockFrames)) {
        output = nullptr;
        return false;
    }
    output = dsound.get();
    return SetBlockSize(static_cast<std::int32_t>(blockFrames));
}

void CMyVSTHost::StartOutput() {
    if (outputRunning) return;
    if (!worker.running()) worker.Start();
    if (outputKind == 1 && asioHost != nullptr && asioHost->IsOpen()) asioHost->Start();
    if (outputKind == 2 && dsound && dsound->IsOpen()) dsound->Play();
    outputRunning = true;
}

void CMyVSTHost::StopOutput() {
    if (!outputRunning) return;
    if (dsound) dsound->Stop();
    if (asioHost != nullptr) asioHost->Stop();
    outputRunning = false;
}

std::unique_ptr<CEffect> CMyVSTHost::CreateEffect() { return std::make_unique<CMyVSTEffect>(this); }

// --- playback ----------------------------------------------------------------

bool CMyVSTHost::StartPlayback(platform::MessageTarget* endWindow, bool offline) {
    if (playing_.load() || tracks == nullptr) return false;
    endWindow_ = offline ? nullptr : endWindow;
    endMessage_ = offline ? 0 : WM_PLAYBACK_ENDED;
    {
        std::lock_guard lock(trackLock_);
        for (TrackNoteState& t : tracks->tracks) t.queue.cursor = 0;
        tracks->currentTrack = 0;
        tracks->releaseTrack = 0;
    }
    restart_ = true;
    state_ = offline ? kRenderStateOffline : kRenderStateRealTime;
    processLevel = offline ? kVstProcessOffline : kVstProcessRealtime;
    playing_ = true;
    return true;
}

bool CMyVSTHost::StopPlayback() {
    if (!playing_.exchange(false)) return true;
    const bool toFile = state_.load() == kRenderStateOffline;
    state_ = kRenderStateIdle;
    if (!toFile && tracks != nullptr) {
        // Every sounding note ends; a drum track's notes end on the key they sounded on.
        std::lock_guard lock(trackLock_);
        tracks->releaseTrack = 0;
        CMidiMessage off;
        while (plyNoteTrackerReleaseAll(*tracks, off, 0xFF)) {
            std::uint32_t message = off.shortMessage;
            const std::uint32_t track = off.sequence;
            if (static_cast<std::int32_t>(track) == FirstDrumTrack()) {
                const auto key = PercussionKey(track, static_cast<std::uint8_t>((message >> 8) & 0x7F));
                message = (message & 0xFFFF00FFu) | (static_cast<std::uint32_t>(key) << 8);
            }
            QueueEvent(message, 0.0, track);
        }
    }
    endWindow_ = nullptr;
    endMessage_ = 0;
    return true;
}

void CMyVSTHost::QueueEvent(std::uint32_t message, double timeMs, std::uint32_t track) {
    if ((message & 0xFF) >= 0xF0) return;  // channel messages only; SysEx goes through QueueSysex
    std::lock_guard lock(queueLock_);
    if (queueCount_ >= queue_.size()) return;  // a full queue drops the event
    QueuedEvent& e = queue_[queueCount_++];
    e.message = message;
    e.timeMs = timeMs;
    e.track = track;
    e.sysex.clear();
}

void CMyVSTHost::QueueSysex(std::span<const std::uint8_t> bytes, double timeMs, std::uint32_t track) {
    if (bytes.empty() || bytes[0] != 0xF0) return;
    std::lock_guard lock(queueLock_);
    if (queueCount_ >= queue_.size()) return;
    QueuedEvent& e = queue_[queueCount_++];
    e.message = 0xF0;
    e.timeMs = timeMs;
    e.track = track;
    e.sysex.assign(bytes.begin(), bytes.end());
}

std::size_t CMyVSTHost::queuedEvents() {
    std::lock_guard lock(queueLock_);
    return queueCount_;
}

int CMyVSTHost::LoadMidi(const std::filesystem::path& path, const std::vector<std::uint8_t>& marks,
                         CNoteTracker& tracker) {
    MidiPlayerFile file;
    const int result = midiLoadPlayerFile(path, marks, tracker, file);
    if (result != 0) return result;
    tracks = &tracker;
    tickResolution = file.division;
    tempoList = std::move(file.tempos);
    trackInfo.assign(file.tracks.size(), VstTrack{});
    for (std::size_t t = 0; t < file.tracks.size(); ++t) {
        trackInfo[t].kind = file.tracks[t].kind;
        trackInfo[t].program = file.tracks[t].program;
        trackInfo[t].percussion = file.tracks[t].percussion == 0xFF ? 0 : file.tracks[t].percussion;
    }
    return 0;
}

// --- time ----------------------------------------------------------------------

double CMyVSTHost::TicksToMs(double ticks) const {
    // Segment by segment of the tempo list; 120 before its first entry.
    double ms = 0.0;
    double from = 0.0;
    int tempo = 120;
    for (const PlyTimedValue& t : tempoList) {
        const double at = t.time;
        if (at >= ticks) break;
        double exact = 0.0;
        scorecore::scTicksToMs(tickResolution, tempo, at - from, &exact);
        ms += exact;
        from = at;
        tempo = static_cast<int>(t.value / 100);
    }
    double exact = 0.0;
    scorecore::scTicksToMs(tickResolution, tempo, ticks - from, &exact);
    return ms + exact;
}

double CMyVSTHost::MsToTicks(double ms) const {
    double start = 0.0;  // ms where the segment starts
    double from = 0.0;   // its tick
    int tempo = 120;
    for (const PlyTimedValue& t : tempoList) {
        double exact = 0.0;
        scorecore::scTicksToMs(tickResolution, tempo, t.time - from, &exact);
        if (start + exact > ms) break;
        start += exact;
        from = t.time;
        tempo = static_cast<int>(t.value / 100);
    }
    // Truncated; the small allowance keeps a time that lands on a tick, less a
    // rounding error of the divisions, on that tick.
    return std::trunc(from + scorecore::scMsToTicks(ms - start, tickResolution, tempo) + 1e-7);
}

// --- pulling and building events ---------------------------------------------------

std::uint8_t CMyVSTHost::PercussionKey(std::uint32_t track, std::uint8_t key) const {
    if (track >= trackInfo.size()) return key;
    const int low = instrumentTable.ProgramLowKey(trackInfo[track].percussion + kQvoPercussionBase);
    return low < 0 ? key : static_cast<std::uint8_t>(low);
}

bool CMyVSTHost::PullEvents(double nowMs, double untilMs) {
    if (!playing_.load() || tracks == nullptr) return true;
    const bool offline = state_.load() == kRenderStateOffline;
    if (restart_.exchange(false)) {
        startMs_ = 0.0;
        samplePos_ = 0;
        timeInfo.samplePos = 0.0;
    }
    if (!offline && startMs_ == 0.0) startMs_ = nowMs;
    if (untilMs == -1.0) untilMs = nowMs + blockMs;
    const double ticks = std::max(MsToTicks(untilMs - startMs_), 0.0);
    const auto until = static_cast<std::uint32_t>(std::min(ticks, 4294967295.0));
    CMidiMessage event;
    int result = kTrackerNothingDue;
    while ((result = plyNoteTrackerNext(*tracks, until, event)) == kTrackerDelivered) {
        const std::uint32_t track = tracks->currentTrack;
        std::uint32_t message = event.shortMessage;
        const int status = static_cast<int>(message & 0xF0);
        if (track < trackInfo.size() && isPercussionKind(trackInfo[track].kind) && (status == 0x80 || status == 0x90)) {
            const auto key = PercussionKey(track, static_cast<std::uint8_t>((message >> 8) & 0x7F));
            message = (message & 0xFFFF00FFu) | (static_cast<std::uint32_t>(key) << 8);
        }
        const double timeMs = std::max(TicksToMs(event.time) + startMs_, nowMs);
        if (event.kind == kMidiMessageSysex && event.header) {
            QueueSysex({event.header->data, event.header->bytesRecorded}, timeMs, track);
        } else {
            QueueEvent(message, timeMs, track);
        }
    }
    if (result == kTrackerFinished) {
        // Told once per run.
        platform::MessageTarget* window = endWindow_.load();
        if (const platform::MessageId msg = endMessage_.exchange(0); window != nullptr && msg != 0) window->post(msg, 0, 0);
        return false;
    }
    return true;
}

std::uint32_t CMyVSTHost::BuildEventLists(std::uint32_t frames, double blockStartMs) {
    const std::size_t trackCount = perTrackMode && tracks != nullptr ? std::max<std::size_t>(tracks->tracks.size(), 1) : 1;
    if (eventLists_.size() < trackCount) {
        std::vector<CVstEventList> grown(trackCount);
        eventLists_.swap(grown);
    }
    for (CVstEventList& list : eventLists_) list.Clear();
    const bool live = playing_.load();
    std::lock_guard lock(queueLock_);
    for (std::size_t i = 0; i < queueCount_; ++i) {
        const QueuedEvent& e = queue_[i];
        CVstEventList& list = eventLists_[perTrackMode && e.track < trackCount ? e.track : 0];
        const std::int32_t delta = live ? audEventFrame(e.timeMs, blockStartMs, static_cast<std::int32_t>(frames)) : 0;
        if (e.sysex.empty()) list.AddMidi(e.message, delta);
        else list.AddSysex(e.sysex, delta);
    }
    return static_cast<std::uint32_t>(queueCount_);
}

void CMyVSTHost::ConsumeEvents(std::uint32_t count) {
    std::lock_guard lock(queueLock_);
    const std::size_t n = std::min<std::size_t>(count, queueCount_);
    // The events queued while the block rendered move to the front.
    std::rotate(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(n),
                queue_.begin() + static_cast<std::ptrdiff_t>(queueCount_));
    queueCount_ -= n;
}

// --- processing and mixing -------------------------------------------------------

CMyVSTEffect* CMyVSTHost::TrackEffect(std::uint32_t track) const {
    const std::int32_t slot = perTrackMode ? (track < trackInfo.size() ? trackInfo[track].slot : -1) : currentSlot;
    auto* effect = dynamic_cast<CMyVSTEffect*>(GetEffect(slot));
    return effect != nullptr && effect->loaded() ? effect : nullptr;
}

void CMyVSTHost::ProcessEffect(CMyVSTEffect& effect, float* const* inputs, std::uint32_t frames,
                               std::uint32_t inputCount, CVstEventList* events) {
    const std::uint16_t mask = effect.channelMask;
    std::lock_guard lock(effect.lock);
    if (effect.wantsMidi) {
        VstEvents* kept = events != nullptr
                              ? events->eventsWhere([mask](const VstEvent& e) { return audEventPassesChannelMask(e, mask); })
                              : nullptr;
        CVstEventList none;
        effect.EffProcessEvents(kept != nullptr ? kept : none.events());
    }
    effect.SetInputs(inputs, std::min<std::uint32_t>(inputCount, static_cast<std::uint32_t>(std::max(effect.aeffect()->numInputs, 0))),
                     silencePointers_[0]);
    const auto n = static_cast<VstInt32>(frames);
    effect.ClearOutputs(n);
    if (effect.aeffect()->flags & effFlagsCanReplacing) effect.ProcessReplacingOwnBuffers(n);
    else effect.ProcessOwnBuffers(n);
}

bool CMyVSTHost::MixTracks(std::uint32_t trackCount, std::uint32_t frames) {
    const std::size_t n = std::min<std::size_t>(frames, kRenderMixFrames);
    for (std::uint32_t t = 0; t < trackCount; ++t) {
        CMyVSTEffect* effect = TrackEffect(t);
        if (effect == nullptr) return false;
        const float gains[2] = {effect->leftGain * masterVolume, effect->rightGain * masterVolume};
        std::lock_guard lock(effect->lock);
        for (std::size_t c = 0; c < 2; ++c) {
            const float* out = effect->outputs()[c];
            float* mix = mixPointers_[c];
            if (t == 0) {
                for (std::size_t i = 0; i < n; ++i) mix[i] = out[i] * gains[c];
            } else {
                for (std::size_t i = 0; i < n; ++i) mix[i] += out[i] * gains[c];
            }
        }
    }
    return true;
}

float* const* CMyVSTHost::RenderInto(float* const* inputs, std::uint32_t frames, std::uint32_t inputCount,
                                     double nowMs, double untilMs, bool& ended) {
    {
        std::unique_lock lock(trackLock_, std::try_to_lock);
        ended = lock.owns_lock() && !PullEvents(nowMs, untilMs);
    }
    const std::uint32_t consumed = BuildEventLists(frames, nowMs);
    const std::uint32_t trackCount = perTrackMode && tracks != nullptr ? static_cast<std::uint32_t>(tracks->tracks.size()) : 1;
    bool complete = true;
    for (std::uint32_t t = 0; t < trackCount; ++t) {
        CMyVSTEffect* effect = TrackEffect(t);
        if (effect == nullptr) {
            complete = false;
            break;
        }
        ProcessEffect(*effect, inputs, frames, inputCount, &eventLists_[t]);
    }
    ConsumeEvents(consumed);
    if (!complete) return silencePointers_.data();
    if (!MixTracks(trackCount, frames)) return nullptr;
    return RunMasterEffect(mixPointers_.data(), frames);
}

float* const* CMyVSTHost::RunMasterEffect(float* const* inputs, std::uint32_t frames) {
    auto* master = dynamic_cast<CMyVSTEffect*>(GetEffect(masterEffectSlot));
    if (masterEffectSlot == -1 || master == nullptr || !master->loaded()) return inputs;
    ProcessEffect(*master, inputs, std::min(frames, kRenderMixFrames), 2, nullptr);
    return master->outputs().data();
}

void CMyVSTHost::RenderBlock(float** inputs, std::uint32_t frames, std::uint32_t inputCount, double nowMs) {
    if (tracks == nullptr) return;
    frames = std::min({frames, static_cast<std::uint32_t>(std::max(blockSize, 0)), kRenderMixFrames});
    const double seconds = timeInfo.samplePos / timeInfo.sampleRate;
    timeInfo.nanoSeconds = static_cast<double>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
    timeInfo.ppqPos = seconds * timeInfo.tempo / 60.0;
    static constexpr double kFps[] = {24.0, 25.0, 24.0, 30.0, 29.97, 30.0};
    const double fps = kFps[std::clamp(timeInfo.smpteFrameRate, 0, 5)];
    timeInfo.smpteOffset = static_cast<VstInt32>((seconds - std::floor(seconds)) * fps * 80.0);
    bool ended = false;
    float* const* out = RenderInto(inputs, frames, inputCount, nowMs, -1.0, ended);
    if (out != nullptr) {
        if (asioHost != nullptr && asioHost->IsStarted()) asioHost->WriteOutputs(out, frames);
        else if (output != nullptr) output->WriteRenderedBlock(frames, out[0], out[1]);
    }
    timeInfo.flags &= ~kVstTransportChanged;
    samplePos_ += frames;
    timeInfo.samplePos = static_cast<double>(samplePos_);
}

float* const* CMyVSTHost::RenderOfflineBlock(bool& ended, double nowMs) {
    const std::uint32_t frames = std::min(renderBlockSize, kRenderMixFrames);
    return RenderInto(silencePointers_.data(), frames, 2, nowMs, nowMs + blockMs, ended);
}

// --- tracks and instruments ------------------------------------------------------

std::int32_t CMyVSTHost::FirstDrumTrack() const {
    for (std::size_t t = 0; t < trackInfo.size(); ++t) {
        if (trackInfo[t].kind == 1) return static_cast<std::int32_t>(t);
    }
    return -1;
}

int CMyVSTHost::TrackInstrument(std::size_t track) const {
    if (track >= trackInfo.size()) return -1;
    const VstTrack& t = trackInfo[track];
    if (isPercussionKind(t.kind)) return instrumentTable.MapProgram(t.percussion + kQvoPercussionBase);
    return instrumentTable.MapProgram(t.program);
}

void CMyVSTHost::SendControllerDefaults([[maybe_unused]] int instrument, std::uint32_t track) {
    if (track >= trackInfo.size()) return;
    // The program the map names for the track's program byte.
    const QvoMapEntry& entry = instrumentTable.programMap()[trackInfo[track].program & 0x7F];
    const QvoInstrument* inst = instrumentTable.GetInstrument(entry.instrument);
    if (inst == nullptr || entry.program < 0 || static_cast<std::size_t>(entry.program) >= inst->programs.size()) return;
    const QvoProgram& program = inst->programs[static_cast<std::size_t>(entry.program)];
    for (std::uint32_t c = 0; c < 128; ++c) {
        const int value = program.controllers[c];
        if (value < 255) QueueEvent(0xB0u | (c << 8) | (static_cast<std::uint32_t>(value) << 16), 0.0, track);
    }
}

void CMyVSTHost::SendSwitchController(bool on, std::uint32_t track) {
    QueueEvent(0xB0u | (17u << 8) | ((on ? 127u : 0u) << 16), 0.0, track);
}

bool CMyVSTHost::SetEffectProgramFromTable(std::int32_t slot, int instrument) {
    if (slot == -1) return true;
    CEffect* effect = GetEffect(slot);
    const QvoInstrument* inst = instrumentTable.GetInstrument(instrument);
    if (effect == nullptr || !effect->loaded()) return false;
    if (inst != nullptr && inst->vstProgram >= 0) effect->EffSetProgram(inst->vstProgram);
    return true;
}

bool CMyVSTHost::AddTrackEvent(std::uint32_t track, std::uint32_t message, std::uint32_t time) {
    if (tracks == nullptr) return true;
    if (track >= tracks->tracks.size()) return false;
    return plyEventQueueAppend(tracks->tracks[track].queue, message, time);
}

}  // namespace qvp3
