// The render host: the program's one VST 2 host, which turns the MIDI
// performance of the current entry into audio through VST instruments, in
// real time (a device asks for one block at a time through the render worker)
// or offline into a WAV file as fast as the plug-ins allow.
//
// Events due in a block are pulled from the note tracker's tracks, queued
// with their time in milliseconds, and handed to each instrument as one
// event list per block at their sample offsets; the instruments' outputs are
// mixed with their panorama and the master volume, then the master effect
// runs on the mix.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/message_target.h"
#include "qvp3_audio/asio_host.h"
#include "qvp3_audio/block_output.h"
#include "qvp3_audio/instrument_table.h"
#include "qvp3_audio/pcm_output.h"
#include "qvp3_audio/render_worker.h"
#include "qvp3_audio/vst_events.h"
#include "qvp3_audio/vst_host.h"
#include "qvp3_pipeline/midi_tracks.h"
#include "qvp3_pipeline/note_tracker.h"

namespace qvp3 {

inline constexpr std::uint32_t kRenderSilenceFrames = 44100;
inline constexpr std::uint32_t kRenderMixFrames = kVstMaxBlockFrames;
inline constexpr std::uint32_t kRenderQueueEvents = 2000;  // 6000 words of three
inline constexpr platform::MessageId WM_PLAYBACK_ENDED = 1025;
// The start of an output name that names the low-latency server's driver.
inline constexpr const char* kAsioNamePrefix = "ASIO: ";

inline constexpr std::int32_t kRenderStateIdle = 0;
inline constexpr std::int32_t kRenderStateRealTime = 2;
inline constexpr std::int32_t kRenderStateOffline = kOutputModeRenderToFile;

// RenderToWave's results.
inline constexpr int kRenderNoMemory = -2;
inline constexpr int kRenderCancelled = -5;
inline constexpr int kRenderFailed = -6;
inline constexpr int kRenderShortWrite = -101;
inline constexpr int kRenderNoFile = -106;
// The caller's state that cancels a render to a file.
inline constexpr int kRenderCancelState = 7;

// What the render host keeps of each track besides its events.
struct VstTrack {
    std::int32_t slot = -1;  // the instrument's slot (per-track mode)
    std::uint8_t program = 0;
    std::int32_t kind = 0;  // 1 and 3: percussion
    std::uint8_t percussion = 0;
    bool locked = false;
    std::int32_t instrument = -1;
};

class CMyVSTHost : public CVSTHost, public CRenderTarget {
public:
    CMyVSTHost();
    // With a PCM device of the caller's (tests give one over a fake backend).
    explicit CMyVSTHost(std::unique_ptr<CSpecDSoundOutDevice> device);
    ~CMyVSTHost() override;

    std::unique_ptr<CEffect> CreateEffect() override;

    // --- set by the catalogue and the sample player
    std::uint32_t renderBlockSize = 4096;  // frames of an offline block
    float blockMs = 4096.0f * 1000.0f / 44100.0f;
    float masterVolume = 1.9f;
    CNoteTracker* tracks = nullptr;
    std::vector<VstTrack> trackInfo;          // one per track of `tracks`
    std::vector<PlyTimedValue> tempoList;     // from tick `time`, `value` hundredths of a quarter per minute
    std::int32_t tickResolution = 480;
    bool perTrackMode = false;  // the sample library plays: each track has its instrument
    // Every track from 1 has its instance of the sample library and an instrument.
    bool instrumentsReady = false;
    std::int32_t currentSlot = -1;
    std::int32_t masterEffectSlot = -1;
    CQvoInstrumentTable instrumentTable;
    CWorkThread worker{this};
    // The PCM device, its worker set to `worker`.
    std::unique_ptr<CSpecDSoundOutDevice> dsound;
    // The low-latency server's host; owned by the output-device model.
    CSpecAsioHost* asioHost = nullptr;
    // Where real-time blocks go when the low-latency server does not play
    // them: the chosen PCM device, or one a test sets.
    CBlockOutput* output = nullptr;
    bool outputRunning = false;
    std::int32_t outputKind = 0;  // 1 the low-latency server, 2 the PCM device

    // --- outputs
    // Stops the output; unless rendering to a file, opens the named device and starts it.
    void SelectOutput(const std::string& deviceName, std::uint32_t blockFrames);
    // A name with "ASIO: " selects the low-latency server, any other the PCM
    // device of that name; the host's block size follows what it opened with.
    bool OpenOutput(std::uint32_t& blockFrames, const std::string& deviceName);
    void StartOutput();
    void StopOutput();

    // --- playback
    bool StartPlayback(platform::MessageTarget* endWindow, bool offline);
    bool StopPlayback();
    bool playing() const { return playing_.load(); }
    std::int32_t state() const { return state_.load(); }
    // A channel message or a SysEx message (bytes from F0) due at timeMs for a track.
    void QueueEvent(std::uint32_t message, double timeMs, std::uint32_t track);
    void QueueSysex(std::span<const std::uint8_t> bytes, double timeMs, std::uint32_t track);
    std::size_t queuedEvents();

    // --- rendering
    void RenderBlock(float** inputs, std::uint32_t frames, std::uint32_t inputCount, double nowMs) override;
    std::int32_t OutputMode() const override { return state_.load(); }
    // One offline block of renderBlockSize frames: the two output channels,
    // or nullptr when mixing failed. ended is set when the performance is over.
    float* const* RenderOfflineBlock(bool& ended, double nowMs);
    // The master effect on two channels of frames (at most kRenderMixFrames):
    // its output channels, or inputs themselves when none is set.
    float* const* RunMasterEffect(float* const* inputs, std::uint32_t frames);
    // The whole performance into a 44.1 kHz 16-bit stereo WAV file; progress
    // gets the position in ms; state equal to kRenderCancelState cancels.
    int RenderToWave(const std::filesystem::path& fileName, const std::function<void(std::uint32_t)>& progress,
                     const std::atomic<int>& state);

    // Reads a MIDI file into tracker and makes it this host's performance:
    // tracks, their kinds, drum keys and programs, the tempo list and the
    // tick resolution. marks: the kinds of the entry's staves by track.
    // 0 or the MIDI readers' codes.
    int LoadMidi(const std::filesystem::path& path, const std::vector<std::uint8_t>& marks, CNoteTracker& tracker);

    // --- time of the performance
    double TicksToMs(double ticks) const;
    double MsToTicks(double ms) const;

    // --- tracks and instruments
    std::int32_t FirstDrumTrack() const;
    // The sample library's instrument of a track (program map).
    int TrackInstrument(std::size_t track) const;
    void SendControllerDefaults(int instrument, std::uint32_t track);
    void SendSwitchController(bool on, std::uint32_t track);
    bool SetEffectProgramFromTable(std::int32_t slot, int instrument);
    bool AddTrackEvent(std::uint32_t track, std::uint32_t message, std::uint32_t time);

    // The block of silence instruments get as input offline, and that stands for a missing output.
    float* const* silence() { return silencePointers_.data(); }

private:
    struct QueuedEvent {
        std::uint32_t message = 0;
        double timeMs = 0.0;
        std::uint32_t track = 0;
        std::vector<std::uint8_t> sysex;  // empty for a short message
    };

    bool PullEvents(double nowMs, double untilMs);
    std::uint32_t BuildEventLists(std::uint32_t frames, double blockStartMs);
    void ConsumeEvents(std::uint32_t count);
    CMyVSTEffect* TrackEffect(std::uint32_t track) const;
    void ProcessEffect(CMyVSTEffect& effect, float* const* inputs, std::uint32_t frames, std::uint32_t inputCount,
                       CVstEventList* events);
    // False on a track without an instrument.
    bool MixTracks(std::uint32_t trackCount, std::uint32_t frames);
    // The rendered channels of a block after the master effect, or nullptr.
    float* const* RenderInto(float* const* inputs, std::uint32_t frames, std::uint32_t inputCount, double nowMs,
                             double untilMs, bool& ended);
    std::uint8_t PercussionKey(std::uint32_t track, std::uint8_t key) const;

    std::array<std::vector<float>, 2> silence_;
    std::array<float*, 2> silencePointers_{};
    std::array<std::vector<float>, 2> mix_;
    std::array<float*, 2> mixPointers_{};
    // The tracks' cursors and sounding notes: the render takes it without
    // waiting (a block that finds it held pulls no events), the user-interface
    // thread to rewind the tracks or to end their notes.
    std::mutex trackLock_;
    std::mutex queueLock_;
    std::vector<QueuedEvent> queue_;  // capacity kRenderQueueEvents, never more
    std::size_t queueCount_ = 0;
    std::vector<CVstEventList> eventLists_;
    std::atomic<bool> playing_{false};
    std::atomic<std::int32_t> state_{kRenderStateIdle};
    // Set on the user-interface thread, read by the render.
    std::atomic<platform::MessageTarget*> endWindow_{nullptr};
    std::atomic<platform::MessageId> endMessage_{0};
    // A new run: the render starts its clock and sample position afresh.
    std::atomic<bool> restart_{false};
    // The render's own.
    double startMs_ = 0.0;
    std::uint64_t samplePos_ = 0;
};

}  // namespace qvp3
