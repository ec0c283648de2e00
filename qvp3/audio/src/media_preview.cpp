#include "qvp3_audio/media_preview.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <map>

#include "qvp3_pipeline/midi_smf.h"
#include "qvp3_pipeline/wave_file.h"

namespace qvp3 {

namespace {

constexpr std::uint32_t kWavePeriodFrames = 1024;
constexpr unsigned kWavePeriods = 4;

struct TickEvent {
    std::int64_t tick = 0;
    std::uint32_t usPerQuarter = 0;  // a tempo change when not 0
    std::uint32_t packed = 0;
};

std::uint32_t tempoMicroseconds(std::span<const std::uint8_t> data) {
    if (data.size() < 3) return 0;
    return (std::uint32_t{data[0]} << 16) | (std::uint32_t{data[1]} << 8) | data[2];
}

}  // namespace

bool audReadMidiTimeline(const std::filesystem::path& path,
                         std::vector<std::pair<std::int64_t, std::uint32_t>>& timeline) {
    timeline.clear();
    smf::SmfFile file;
    if (file.open(path) != smf::kOk) return false;
    const int division = file.header().division > 0 ? file.header().division : smf::kModelDivision;
    std::vector<TickEvent> events;
    std::vector<std::uint8_t> body;
    for (int track = 0; track < file.header().trackCount; ++track) {
        if (file.readTrack(body) != smf::kOk) return false;
        smf::SmfTrackCursor cursor(body);
        smf::SmfEvent event;
        std::int64_t tick = 0;
        int result = 0;
        while ((result = cursor.next(event)) == 1) {
            tick += event.delta;
            if (event.isChannel()) {
                events.push_back({tick, 0, platform::packShortMessage(event.status, event.data1, event.data2)});
            } else if (event.isMeta(smf::kMetaTempo)) {
                if (const std::uint32_t us = tempoMicroseconds(event.data); us > 0) events.push_back({tick, us, 0});
            }
        }
        if (result < 0) return false;
    }
    // Tempo changes before the messages of the same tick.
    std::stable_sort(events.begin(), events.end(), [](const TickEvent& a, const TickEvent& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.usPerQuarter > b.usPerQuarter;
    });
    std::int64_t lastTick = 0;
    double us = 0;
    std::uint32_t usPerQuarter = 500000;
    for (const TickEvent& event : events) {
        us += static_cast<double>(event.tick - lastTick) * usPerQuarter / division;
        lastTick = event.tick;
        if (event.usPerQuarter != 0) {
            usPerQuarter = event.usPerQuarter;
        } else {
            timeline.emplace_back(static_cast<std::int64_t>(us), event.packed);
        }
    }
    return true;
}

CMediaPreview::~CMediaPreview() { Stop(); }

bool CMediaPreview::PlayMidi(const std::filesystem::path& path, platform::MidiOutDevice& out, EndReport onEnd) {
    Stop();
    std::vector<std::pair<std::int64_t, std::uint32_t>> timeline;
    if (!audReadMidiTimeline(path, timeline)) return false;
    messages_.clear();
    for (const auto& [us, packed] : timeline) messages_.push_back({us, packed});
    stop_ = false;
    event_ = kPreviewNoEvent;
    thread_ = std::thread([this, &out, onEnd = std::move(onEnd)]() mutable { run(out, std::move(onEnd)); });
    return true;
}

bool CMediaPreview::PlayWave(const std::filesystem::path& path, std::unique_ptr<PcmBackend> device,
                             const std::string& deviceName, EndReport onEnd) {
    Stop();
    if (device == nullptr) return false;
    CWaveFile file;
    WaveFormatEx format;
    if (file.Open(path, &format, CWaveFile::kModeRead) != S_OK || format.wFormatTag != 1 ||
        format.wBitsPerSample != 16 || format.nChannels == 0 || format.nSamplesPerSec == 0) {
        return false;
    }
    std::vector<std::int16_t> samples(file.DataSize() / 2);
    std::uint32_t read = 0;
    file.Read(samples.data(), static_cast<std::uint32_t>(samples.size() * 2), &read);
    samples.resize(read / 2 / format.nChannels * format.nChannels);
    if (device->open(deviceName, format.nSamplesPerSec, format.nChannels, kWavePeriodFrames, kWavePeriods) != 0) {
        return false;
    }
    samples_ = std::move(samples);
    channels_ = format.nChannels;
    rate_ = format.nSamplesPerSec;
    device_ = std::move(device);
    stop_ = false;
    event_ = kPreviewNoEvent;
    thread_ = std::thread([this, onEnd = std::move(onEnd)]() mutable { runWave(std::move(onEnd)); });
    return true;
}

void CMediaPreview::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (device_ != nullptr) device_->interrupt();
    if (thread_.joinable()) thread_.join();
    if (device_ != nullptr) {
        device_->drop();
        device_->close();
        device_.reset();
    }
}

bool CMediaPreview::stopRequested() {
    std::lock_guard lock(mutex_);
    return stop_;
}

// Writes a period whenever the device has room; after the last one waits for
// what is queued to play out before the end is reported.
void CMediaPreview::runWave(EndReport onEnd) {
    int result = kPreviewComplete;
    const std::size_t frames = samples_.size() / channels_;
    std::size_t at = 0;
    while (at < frames && result == kPreviewComplete) {
        if (stopRequested()) {
            result = kPreviewUserAbort;
            break;
        }
        const PcmWaitResult wait = device_->waitPeriod(std::chrono::steady_clock::now() + std::chrono::seconds(1));
        if (wait.what == PcmWait::Interrupted) continue;
        if (wait.what == PcmWait::TimedOut) continue;
        if (wait.what == PcmWait::Failed && device_->recover(wait.error) != 0) {
            result = kPreviewError;
            break;
        }
        const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(kWavePeriodFrames, frames - at));
        const long written = device_->write(samples_.data() + at * channels_, count);
        if (written == -EPIPE) {
            if (device_->recover(static_cast<int>(written)) != 0) result = kPreviewError;
        } else if (written < 0) {
            result = kPreviewError;
        } else {
            at += static_cast<std::size_t>(written);
        }
    }
    if (result == kPreviewComplete) {
        const auto queued = std::chrono::microseconds(std::int64_t{kWavePeriodFrames} * kWavePeriods * 1000000 / rate_);
        std::unique_lock lock(mutex_);
        if (wake_.wait_for(lock, queued, [this] { return stop_; })) result = kPreviewUserAbort;
    }
    event_ = result;
    if (result != kPreviewUserAbort && onEnd) onEnd(result);
}

// Sleeps to each message's absolute time, so that a slow send does not
// shift the rest of the file.
void CMediaPreview::run(platform::MidiOutDevice& out, EndReport onEnd) {
    const auto start = std::chrono::steady_clock::now();
    int result = kPreviewComplete;
    for (const TimedMessage& message : messages_) {
        std::unique_lock lock(mutex_);
        if (wake_.wait_until(lock, start + std::chrono::microseconds(message.us), [this] { return stop_; })) {
            result = kPreviewUserAbort;
            break;
        }
        lock.unlock();
        if (!out.shortMessage(message.packed)) {
            result = kPreviewError;
            break;
        }
    }
    out.reset();
    event_ = result;
    if (result != kPreviewUserAbort && onEnd) onEnd(result);
}

}  // namespace qvp3
