// The sample player's second kind: an LV2 instrument in the instrument graph
// plays the MFX sequence one block at a time, into the player's PCM output
// (the render worker is its position thread) or into its WAV writer.
#include <algorithm>
#include <cmath>
#include <new>

#include "qvp3_audio/mfx_loader.h"
#include "qvp3_audio/sample_player.h"
#include "qvp3_audio/vst_render_host.h"

namespace qvp3 {
namespace {

constexpr std::uint32_t shortMessage(int status, int data1, int data2) {
    return static_cast<std::uint32_t>(status & 0xFF) | static_cast<std::uint32_t>(data1 & 0x7F) << 8 |
           static_cast<std::uint32_t>(data2 & 0x7F) << 16;
}

// The MIDI messages an MFX event stands for, each at a tick.
template <typename Emit>
void eventMessages(const CMfxEvent& e, Emit&& emit) {
    const int ch = e.channel & 0x0F;
    switch (e.type) {
        case kMfxNote:
            emit(e.time, shortMessage(0x90 | ch, e.key(), std::max<int>(e.velocity(), 1)));
            emit(static_cast<std::int32_t>(std::min<std::int64_t>(std::int64_t{e.time} + e.duration(), INT32_MAX)),
                 shortMessage(0x80 | ch, e.key(), e.releaseVelocity()));
            break;
        case kMfxKeyAft: emit(e.time, shortMessage(0xA0 | ch, e.key(), e.velocity())); break;
        case kMfxControl: emit(e.time, shortMessage(0xB0 | ch, e.GetNumber(), e.GetValue())); break;
        case kMfxPatch:
            if (e.bank() >= 0 && e.bankMethod() != kBankSelectCc32) {
                emit(e.time, shortMessage(0xB0 | ch, 0, e.bankMethod() == kBankSelectCc0 ? e.bank() : e.bank() >> 7));
            }
            if (e.bank() >= 0 && e.bankMethod() != kBankSelectCc0) emit(e.time, shortMessage(0xB0 | ch, 32, e.bank()));
            emit(e.time, shortMessage(0xC0 | ch, e.program(), 0));
            break;
        case kMfxChanAft: emit(e.time, shortMessage(0xD0 | ch, e.byteAt(0), 0)); break;
        case kMfxWheel: {
            const int value = std::clamp(e.wheel() + 8192, 0, 16383);
            emit(e.time, shortMessage(0xE0 | ch, value & 0x7F, value >> 7));
            break;
        }
        case kMfxRpn:
        case kMfxNrpn: {
            const bool rpn = e.type == kMfxRpn;
            emit(e.time, shortMessage(0xB0 | ch, rpn ? 101 : 99, e.GetNumber() >> 7));
            emit(e.time, shortMessage(0xB0 | ch, rpn ? 100 : 98, e.GetNumber()));
            emit(e.time, shortMessage(0xB0 | ch, 6, e.GetValue() >> 7));
            emit(e.time, shortMessage(0xB0 | ch, 38, e.GetValue()));
            break;
        }
        case kMfxShortMsg: emit(e.time, e.dword()); break;
        default: break;  // system-exclusive, texts and the track settings reach no instrument here
    }
}

std::uint32_t messageSize(std::uint8_t status) {
    const std::uint8_t command = status & 0xF0;
    return command == 0xC0 || command == 0xD0 ? 2 : 3;
}

}  // namespace

int CSamplePlayer::CreateDxInstrument(PlugInEntry& e) {
    // An instance of the player's own: each selection starts from the
    // instrument's defaults, and only the entry's setup changes them.
    std::shared_ptr<CDxLv2Filter> filter;
    std::string problem;
    try {
        filter = CDxLv2Filter::Create(catalog_.lv2World, e.uri, problem);
    } catch (const std::bad_alloc&) {
        problem = "out of memory";
    }
    if (filter == nullptr) {
        return SelectFailed(kSelectCreateFailed, e.name + ": " + (problem.empty() ? "cannot be made" : problem));
    }
    HRESULT hr = E_FAIL;
    auto graph = std::make_unique<CDxFilterGraph>(hr);
    if (hr != S_OK || graph->SetFilter(filter) != S_OK) {
        return SelectFailed(kSelectGraphFailed, e.name + ": the instrument cannot be connected");
    }
    instrument_ = std::move(filter);
    graph_ = std::move(graph);
    return kSelectOk;
}

void CSamplePlayer::PreparePerformance() {
    std::lock_guard lock(lock_);
    performance_.clear();
    std::int64_t lastSample = 0;
    const CMfxTempoMap& tempo = sequence_.tempoMap;
    for (const auto& [key, track] : sequence_.tracks) {
        for (const CMfxEvent& e : track.events) {
            if (((channelMask_ >> (e.channel & 0x0F)) & 1) == 0 && e.type != kMfxShortMsg) continue;
            eventMessages(e, [&](std::int32_t tick, std::uint32_t message) {
                message = track.ApplyToMessage(message);
                TimedMidi m;
                m.sample = tempo.TicksToSamples(std::int64_t{std::max(tick, 0)} << 16);
                m.bytes[0] = static_cast<std::uint8_t>(message);
                m.bytes[1] = static_cast<std::uint8_t>(message >> 8);
                m.bytes[2] = static_cast<std::uint8_t>(message >> 16);
                m.size = static_cast<std::uint8_t>(messageSize(m.bytes[0]));
                if (m.bytes[0] < 0x80 || m.bytes[0] >= 0xF0) return;
                lastSample = std::max(lastSample, m.sample);
                performance_.push_back(m);
            });
        }
    }
    // Stable: messages of one sample keep the order of their tracks and events.
    std::stable_sort(performance_.begin(), performance_.end(),
                     [](const TimedMidi& a, const TimedMidi& b) { return a.sample < b.sample; });
    nextMidi_ = 0;
    sample_ = 0;
    position_ = 0.0;
    endTold_ = false;
    endPosition_ = static_cast<std::uint32_t>(lastSample / kMfxSampleRate);
}

bool CSamplePlayer::RenderDxBlock(float* left, float* right, std::uint32_t frames, bool& ended) {
    // The sequence is not waited for: a block that finds it held (a setup
    // being saved or loaded) is silence, and the performance waits with it.
    std::unique_lock lock(lock_, std::try_to_lock);
    ended = false;
    if (!lock.owns_lock() || graph_ == nullptr || instrument_ == nullptr) {
        std::fill(left, left + frames, 0.0f);
        std::fill(right, right + frames, 0.0f);
        return false;
    }
    bool whole = true;
    for (std::uint32_t done = 0; done < frames;) {
        const std::uint32_t n = std::min(frames - done, graph_->blockFrames());
        for (; nextMidi_ < performance_.size() && performance_[nextMidi_].sample < sample_ + n; ++nextMidi_) {
            const TimedMidi& m = performance_[nextMidi_];
            const auto frame = static_cast<std::uint32_t>(std::max<std::int64_t>(m.sample - sample_, 0));
            instrument_->QueueMidi(frame, std::span<const std::uint8_t>(m.bytes, m.size));
        }
        const float* data = nullptr;
        std::uint32_t got = 0;
        // A block the graph could not render (it is being rebuilt) is silence.
        if (graph_->RenderBlock(n, data, got) != S_OK) data = nullptr;
        whole = whole && data != nullptr;
        const std::uint16_t channels = data != nullptr ? graph_->outputChannels() : 0;
        for (std::uint32_t i = 0; i < n; ++i) {
            const bool have = data != nullptr && i < got;
            left[done + i] = have ? data[i * channels] : 0.0f;
            right[done + i] = have ? data[i * channels + (channels == 2 ? 1 : 0)] : 0.0f;
        }
        done += n;
        sample_ += n;
    }
    position_ = static_cast<double>(sample_) / kMfxSampleRate;
    ended = static_cast<std::uint32_t>(position_.load()) > endPosition_ && nextMidi_ >= performance_.size();
    return whole;
}

HRESULT CSamplePlayer::StartDx() {
    if (graph_ == nullptr || playing_.load()) return E_FAIL;
    if (!midiFile_.empty() && LoadEntryMidi(midiFile_) != 0) {
        message_ = "the MIDI file cannot be read";
        return E_FAIL;
    }
    PreparePerformance();
    // Within the blocks the master effect takes.
    const std::uint32_t frames = std::clamp<std::uint32_t>(catalog_.blockSize, 1, kRenderMixFrames);
    try {
        left_.assign(frames, 0.0f);
        right_.assign(frames, 0.0f);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (graph_->Run() != S_OK) return E_FAIL;
    playing_ = true;
    if (renderingToFile_) return S_OK;
    // The device wakes the worker at every half played; the worker renders the next block.
    if (!pcm_->OpenByName(outputName_, frames) && !pcm_->OpenByName("default", frames)) {
        message_ = pcm_->LastErrorText();
        StopDx();
        return E_FAIL;
    }
    if (!worker_.Start() || !pcm_->Play()) {
        StopDx();
        return E_FAIL;
    }
    return S_OK;
}

void CSamplePlayer::StopDx() {
    if (pcm_->IsPlaying()) pcm_->Stop();
    worker_.Stop();
    pcm_->Close();
    if (graph_ != nullptr) graph_->Stop();
    playing_ = false;
}

void CSamplePlayer::RenderBlock(float**, std::uint32_t frames, std::uint32_t, double) {
    if (!playing_.load() || renderingToFile_ || left_.empty()) return;
    frames = std::min<std::uint32_t>(frames, static_cast<std::uint32_t>(left_.size()));
    bool ended = false;
    RenderDxBlock(left_.data(), right_.data(), frames, ended);
    float* channels[2] = {left_.data(), right_.data()};
    float* const* out = catalog_.vstHost->RunMasterEffect(channels, frames);
    const float gain = catalog_.vstVolume;
    for (std::uint32_t i = 0; i < frames; ++i) {
        out[0][i] *= gain;
        out[1][i] *= gain;
    }
    pcm_->WriteRenderedBlock(frames, out[0], out[1]);
    // The end is told once; the main window stops the player.
    if (ended && !endTold_.exchange(true) && mainWindow_ != nullptr) mainWindow_->post(WM_PLAYBACK_ENDED, 0, 0);
}

int CSamplePlayer::RenderToWave(const std::function<void(std::uint32_t)>& progress, const std::atomic<int>& state) {
    if (waveOut_ == nullptr || graph_ == nullptr || !playing_.load()) return kRenderFailed;
    const std::uint32_t frames = graph_->blockFrames();
    std::vector<float> left(frames), right(frames);
    std::vector<std::int16_t> block(std::size_t{frames} * 2);
    const float gain = catalog_.vstVolume;
    auto toPcm = [gain](float x) {
        // A faulty instrument's NaN would have no 16-bit value: silence.
        if (std::isnan(x)) return std::int16_t{0};
        const double v = std::trunc(static_cast<double>(x) * gain * 32767.0);
        return static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0));
    };
    for (;;) {
        bool ended = false;
        RenderDxBlock(left.data(), right.data(), frames, ended);
        float* channels[2] = {left.data(), right.data()};
        float* const* out = catalog_.vstHost->RunMasterEffect(channels, frames);
        for (std::uint32_t i = 0; i < frames; ++i) {
            block[2 * i] = toPcm(out[0][i]);
            block[2 * i + 1] = toPcm(out[1][i]);
        }
        std::uint32_t written = 0;
        const auto bytes = static_cast<std::uint32_t>(block.size() * 2);
        if (waveOut_->Write(bytes, block.data(), &written) != S_OK || written != bytes) {
            Stop();
            return kRenderShortWrite;
        }
        if (state.load() == kRenderCancelState) {
            Stop();
            return kRenderCancelled;
        }
        if (ended) break;
        if (progress) progress(static_cast<std::uint32_t>(position_.load() * 1000.0));
    }
    Stop();
    return 0;
}

}  // namespace qvp3
