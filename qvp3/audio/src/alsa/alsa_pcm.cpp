// The ALSA PCM backend and the list of ALSA playback devices.
//
// The device is opened non-blocking; waits poll its descriptors together with
// an eventfd that interrupt() writes, so that a stop never waits for the card.
// ALSA's "null" and "file" plug-ins take frames as fast as they come, so for
// them the backend plays the card itself: frames drain at the sample rate of
// the steady clock from the moment the ring started, and a ring that ran dry
// is an underrun, as on a card.
#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <vector>

#include "qvp3_audio/pcm_backend.h"

namespace qvp3 {

namespace {

using Clock = std::chrono::steady_clock;

class AlsaPcmBackend final : public PcmBackend {
public:
    AlsaPcmBackend() : wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~AlsaPcmBackend() override {
        close();
        if (wakeFd_ >= 0) ::close(wakeFd_);
    }

    int open(const std::string& name, unsigned rate, unsigned channels, std::uint32_t periodFrames,
             unsigned periods) override;
    PcmWaitResult waitPeriod(TimePoint deadline) override;
    void interrupt() override;
    long write(const std::int16_t* interleaved, std::uint32_t frames) override;
    int recover(int error) override;
    int drop() override;
    PcmState state() const override;
    void close() override;

private:
    int setHardware(unsigned rate, unsigned channels);
    int setSoftware();
    long available();
    // What a poll error means: an underrun, a suspend, or a device gone.
    int errorOfState() const {
        switch (snd_pcm_state(pcm_)) {
            case SND_PCM_STATE_XRUN: return -EPIPE;
            case SND_PCM_STATE_SUSPENDED: return -ESTRPIPE;
            default: return -ENODEV;
        }
    }
    bool takeInterrupt();
    void resetPacing() {
        queued_ = 0;
        started_ = false;
        dry_ = false;
    }
    // Paced devices: the frames played by now, and when `frames` more will be.
    long pacedPlayed(Clock::time_point now) const;
    Clock::time_point pacedTimeOfRoom(std::uint32_t frames) const;

    int wakeFd_;
    snd_pcm_t* pcm_ = nullptr;
    unsigned rate_ = 0;
    unsigned channels_ = 0;
    snd_pcm_uframes_t period_ = 0;  // what the caller asked for: one half
    snd_pcm_uframes_t buffer_ = 0;  // what the device gave
    snd_pcm_uframes_t startAt_ = 0;
    bool paced_ = false;
    // Paced devices only.
    std::uint64_t queued_ = 0;  // frames written since the start
    bool started_ = false;
    bool dry_ = false;
    Clock::time_point startTime_{};
};

int AlsaPcmBackend::open(const std::string& name, unsigned rate, unsigned channels, std::uint32_t periodFrames,
                         unsigned periods) {
    close();
    if (wakeFd_ < 0) return -EMFILE;
    if (periodFrames == 0 || periods < 2) return -EINVAL;
    int err = snd_pcm_open(&pcm_, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) {
        pcm_ = nullptr;
        return err;
    }
    period_ = periodFrames;
    buffer_ = snd_pcm_uframes_t{periodFrames} * periods;
    err = setHardware(rate, channels);
    if (err == 0) err = setSoftware();
    if (err < 0) {
        close();
        return err;
    }
    const snd_pcm_type_t type = snd_pcm_type(pcm_);
    paced_ = type == SND_PCM_TYPE_NULL || type == SND_PCM_TYPE_FILE;
    rate_ = rate;
    channels_ = channels;
    resetPacing();
    takeInterrupt();
    return 0;
}

int AlsaPcmBackend::setHardware(unsigned rate, unsigned channels) {
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    int err = snd_pcm_hw_params_any(pcm_, hw);
    if (err >= 0) err = snd_pcm_hw_params_set_rate_resample(pcm_, hw, 1);
    if (err >= 0) err = snd_pcm_hw_params_set_access(pcm_, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
    if (err >= 0) err = snd_pcm_hw_params_set_format(pcm_, hw, SND_PCM_FORMAT_S16_LE);
    if (err >= 0) err = snd_pcm_hw_params_set_channels(pcm_, hw, channels);
    if (err >= 0) err = snd_pcm_hw_params_set_rate(pcm_, hw, rate, 0);
    snd_pcm_uframes_t period = period_;
    int dir = 0;
    if (err >= 0) err = snd_pcm_hw_params_set_period_size_near(pcm_, hw, &period, &dir);
    snd_pcm_uframes_t buffer = buffer_;
    if (err >= 0) err = snd_pcm_hw_params_set_buffer_size_near(pcm_, hw, &buffer);
    if (err >= 0) err = snd_pcm_hw_params(pcm_, hw);
    if (err < 0) return err;
    // A card may round the sizes; the halves stay as asked, the ring must hold two.
    if (buffer < 2 * period_) return -EINVAL;
    buffer_ = buffer;
    return 0;
}

int AlsaPcmBackend::setSoftware() {
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    // Woken when a whole half fits; started once two halves are queued.
    startAt_ = std::min<snd_pcm_uframes_t>(2 * period_, buffer_);
    int err = snd_pcm_sw_params_current(pcm_, sw);
    if (err >= 0) err = snd_pcm_sw_params_set_avail_min(pcm_, sw, period_);
    if (err >= 0) err = snd_pcm_sw_params_set_start_threshold(pcm_, sw, startAt_);
    if (err >= 0) err = snd_pcm_sw_params(pcm_, sw);
    return err < 0 ? err : 0;
}

void AlsaPcmBackend::close() {
    if (pcm_ != nullptr) snd_pcm_close(pcm_);
    pcm_ = nullptr;
    paced_ = false;
}

void AlsaPcmBackend::interrupt() {
    const std::uint64_t one = 1;
    if (wakeFd_ >= 0 && ::write(wakeFd_, &one, sizeof one) < 0) {
        // Only a full counter refuses, and then a wake is pending anyway.
    }
}

bool AlsaPcmBackend::takeInterrupt() {
    std::uint64_t count = 0;
    return wakeFd_ >= 0 && ::read(wakeFd_, &count, sizeof count) == static_cast<ssize_t>(sizeof count);
}

long AlsaPcmBackend::pacedPlayed(Clock::time_point now) const {
    if (!started_) return 0;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now - startTime_).count();
    return static_cast<long>(std::max<std::int64_t>(0, ns) * rate_ / 1'000'000'000);
}

Clock::time_point AlsaPcmBackend::pacedTimeOfRoom(std::uint32_t frames) const {
    if (!started_) return Clock::time_point::max();  // nothing drains before the start
    const auto needed = static_cast<std::int64_t>(queued_ + frames) - static_cast<std::int64_t>(buffer_);
    const std::int64_t ns = (needed * 1'000'000'000 + rate_ - 1) / rate_;
    return startTime_ + std::chrono::nanoseconds(ns);
}

// Frames that can be written now, or a negative errno.
long AlsaPcmBackend::available() {
    if (pcm_ == nullptr) return -EBADFD;
    if (!paced_) return snd_pcm_avail(pcm_);
    const long played = pacedPlayed(Clock::now());
    if (started_ && static_cast<std::uint64_t>(played) > queued_) {
        dry_ = true;
        return -EPIPE;
    }
    return static_cast<long>(buffer_) - static_cast<long>(queued_ - static_cast<std::uint64_t>(played));
}

PcmWaitResult AlsaPcmBackend::waitPeriod(TimePoint deadline) {
    std::vector<pollfd> fds(1);
    fds[0] = {wakeFd_, POLLIN, 0};
    for (;;) {
        if (takeInterrupt()) return {PcmWait::Interrupted, 0};
        const long avail = available();
        if (avail < 0) return {PcmWait::Failed, static_cast<int>(avail)};
        if (avail >= static_cast<long>(period_)) return {PcmWait::Ready, 0};
        const auto now = Clock::now();
        if (now >= deadline) return {PcmWait::TimedOut, 0};
        const auto wakeAt = paced_ ? std::min(deadline, pacedTimeOfRoom(static_cast<std::uint32_t>(period_))) : deadline;
        fds.resize(1);
        if (!paced_) {
            const int count = snd_pcm_poll_descriptors_count(pcm_);
            if (count > 0) {
                fds.resize(1 + static_cast<std::size_t>(count));
                snd_pcm_poll_descriptors(pcm_, fds.data() + 1, static_cast<unsigned>(count));
            }
        }
        const auto wait = std::max(Clock::duration::zero(), wakeAt - now);
        const auto sec = std::chrono::duration_cast<std::chrono::seconds>(wait);
        const timespec timeout{static_cast<time_t>(sec.count()),
                               static_cast<long>(std::chrono::nanoseconds(wait - sec).count())};
        if (ppoll(fds.data(), fds.size(), &timeout, nullptr) < 0 && errno != EINTR) return {PcmWait::Failed, -errno};
        if (!paced_ && fds.size() > 1) {
            unsigned short revents = 0;
            snd_pcm_poll_descriptors_revents(pcm_, fds.data() + 1, static_cast<unsigned>(fds.size() - 1), &revents);
            if ((revents & (POLLERR | POLLNVAL)) != 0) return {PcmWait::Failed, errorOfState()};
        }
    }
}

long AlsaPcmBackend::write(const std::int16_t* interleaved, std::uint32_t frames) {
    if (pcm_ == nullptr) return -EBADFD;
    std::uint32_t count = frames;
    if (paced_) {
        const long avail = available();
        if (avail < 0) return avail;
        count = static_cast<std::uint32_t>(std::min<long>(avail, frames));
        if (count == 0) return 0;
    }
    const snd_pcm_sframes_t n = snd_pcm_writei(pcm_, interleaved, count);
    if (n == -EAGAIN) return 0;
    if (n < 0) return static_cast<long>(n);
    if (paced_) {
        queued_ += static_cast<std::uint64_t>(n);
        if (!started_ && queued_ >= startAt_) {
            started_ = true;
            startTime_ = Clock::now();
        }
    }
    return static_cast<long>(n);
}

int AlsaPcmBackend::recover(int error) {
    if (pcm_ == nullptr) return -EBADFD;
    resetPacing();
    return snd_pcm_recover(pcm_, error, 1);
}

int AlsaPcmBackend::drop() {
    if (pcm_ == nullptr) return -EBADFD;
    resetPacing();
    const int err = snd_pcm_drop(pcm_);
    return err < 0 ? err : snd_pcm_prepare(pcm_);
}

PcmState AlsaPcmBackend::state() const {
    if (pcm_ == nullptr) return PcmState::Closed;
    if (dry_) return PcmState::XRun;
    switch (snd_pcm_state(pcm_)) {
        case SND_PCM_STATE_PREPARED: return PcmState::Prepared;
        case SND_PCM_STATE_RUNNING: return PcmState::Running;
        case SND_PCM_STATE_XRUN: return PcmState::XRun;
        case SND_PCM_STATE_SUSPENDED: return PcmState::Suspended;
        case SND_PCM_STATE_DISCONNECTED: return PcmState::Disconnected;
        default: return PcmState::Other;
    }
}

// One line of a hint's description (ALSA's may hold several).
std::string oneLine(const char* text) {
    std::string line = text != nullptr ? text : "";
    for (std::size_t at = line.find('\n'); at != std::string::npos; at = line.find('\n', at))
        line.replace(at, 1, ", ");
    return line;
}

std::string hintField(const void* hint, const char* field) {
    char* value = snd_device_name_get_hint(hint, field);
    std::string text = value != nullptr ? value : "";
    free(value);  // NOLINT: ALSA allocates the hint's strings with malloc
    return text;
}

}  // namespace

std::unique_ptr<PcmBackend> audMakeAlsaPcmBackend() { return std::make_unique<AlsaPcmBackend>(); }

std::vector<PcmDeviceInfo> audEnumPcmDevices() {
    std::vector<PcmDeviceInfo> devices{{"default", "Default output", true}};
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0 || hints == nullptr) return devices;
    for (void** hint = hints; *hint != nullptr; ++hint) {
        const std::string name = hintField(*hint, "NAME");
        const std::string io = hintField(*hint, "IOID");  // empty for devices that do both
        if (name.empty() || io == "Input") continue;
        const std::string description = oneLine(hintField(*hint, "DESC").c_str());
        if (name == "default") {
            if (!description.empty()) devices.front().description = description;
            continue;
        }
        devices.push_back({name, description.empty() ? name : description, false});
    }
    snd_device_name_free_hint(hints);
    return devices;
}

}  // namespace qvp3
