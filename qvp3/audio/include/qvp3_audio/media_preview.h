// The player of the conversion pages' preview: plays one converted MIDI file
// to a MIDI output, or one WAV file to a PCM device, on a thread of its own
// and reports the file's end through a callback (the caller posts it on;
// nothing here waits for a page).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/midi_out.h"
#include "qvp3_audio/pcm_backend.h"

namespace qvp3 {

// The pending event of a preview graph.
inline constexpr int kPreviewNoEvent = 0;
inline constexpr int kPreviewComplete = 1;
inline constexpr int kPreviewUserAbort = 2;
inline constexpr int kPreviewError = 3;

class CMediaPreview {
public:
    // Called once on the player thread when the file has played to its end
    // or the output refused it, with the event that is then pending.
    using EndReport = std::function<void(int event)>;

    CMediaPreview() = default;
    ~CMediaPreview();
    CMediaPreview(const CMediaPreview&) = delete;
    CMediaPreview& operator=(const CMediaPreview&) = delete;

    // Reads the MIDI file and starts playing it to out, which must outlive
    // the play (Stop or the destructor). False when the file does not read
    // as a MIDI file; nothing plays then.
    bool PlayMidi(const std::filesystem::path& path, platform::MidiOutDevice& out, EndReport onEnd);
    // Opens the device for the file's format and plays a 16-bit PCM WAV file
    // into it; the device closes when the play ends. False when the file is
    // no such WAV file or the device does not open.
    bool PlayWave(const std::filesystem::path& path, std::unique_ptr<PcmBackend> device, const std::string& deviceName,
                  EndReport onEnd);
    // Ends the play, waits for the thread and silences the output.
    void Stop();
    int PendingEvent() const { return event_.load(); }
    bool IsPlaying() const { return thread_.joinable() && event_.load() == kPreviewNoEvent; }

private:
    struct TimedMessage {
        std::int64_t us = 0;  // from the start
        std::uint32_t packed = 0;
    };
    void run(platform::MidiOutDevice& out, EndReport onEnd);
    void runWave(EndReport onEnd);
    bool stopRequested();

    std::vector<TimedMessage> messages_;
    std::vector<std::int16_t> samples_;  // interleaved
    unsigned channels_ = 0;
    unsigned rate_ = 0;
    std::unique_ptr<PcmBackend> device_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::atomic<int> event_{kPreviewNoEvent};
};

// The channel messages of a MIDI file with their times in microseconds from
// the start, after the file's tempo changes, in time order. False when the
// file does not read.
bool audReadMidiTimeline(const std::filesystem::path& path,
                         std::vector<std::pair<std::int64_t, std::uint32_t>>& timeline);

}  // namespace qvp3
