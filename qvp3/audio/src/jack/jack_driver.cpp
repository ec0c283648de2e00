// The low-latency driver on this system: a JACK server. One client with two
// output ports (32-bit float); each process callback is one buffer switch
// with direct processing, since the port buffers are the server's again when
// the callback returns; they are the current half of that switch. The
// server's block size and sample rate are the driver's only ones.
//
// A server that goes away is reported from a thread of our own: JACK's
// shutdown callback may do no more than a signal handler may.
#include <jack/jack.h>
#include <semaphore.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "qvp3_audio/asio_driver.h"

namespace qvp3 {
namespace {

constexpr std::int32_t kJackOutputs = 2;
constexpr const char* kClientName = "qvp3";

// libjack's own complaints (no server running, for one) would go to stderr.
void quietJack() {
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function([](const char*) {});
        jack_set_info_function([](const char*) {});
    });
}

class CJackDriver final : public IAsioDriver {
public:
    explicit CJackDriver(std::string serverName) : server_(std::move(serverName)) { sem_init(&lostSignal_, 0, 0); }
    ~CJackDriver() override;
    CJackDriver(const CJackDriver&) = delete;
    CJackDriver& operator=(const CJackDriver&) = delete;

    bool init(void* sysRef) override;
    std::string getDriverName() const override { return "JACK"; }
    std::int32_t getDriverVersion() const override { return 1; }
    std::string getErrorMessage() const override { return error_; }
    AsioError start() override;
    AsioError stop() override;
    AsioError getChannels(std::int32_t& inputs, std::int32_t& outputs) override;
    AsioError getLatencies(std::int32_t& input, std::int32_t& output) override;
    AsioError getBufferSize(std::int32_t& minSize, std::int32_t& maxSize, std::int32_t& preferred,
                            std::int32_t& granularity) override;
    AsioError getSampleRate(double& rate) override;
    AsioError setSampleRate(double rate) override;
    AsioError getChannelInfo(AsioChannelInfo& info) override;
    AsioError createBuffers(AsioBufferInfo* infos, std::int32_t count, std::int32_t bufferSize,
                            const AsioCallbacks* callbacks) override;
    AsioError disposeBuffers() override;
    AsioError getSamplePosition(std::int64_t& samplePosition, std::int64_t& systemTimeNs) override;
    // JACK takes the port buffers when the callback returns.
    AsioError outputReady() override { return kAsioNotPresent; }

private:
    static int onProcess(jack_nframes_t frames, void* self);
    static int onBufferSize(jack_nframes_t frames, void* self);
    static int onSampleRate(jack_nframes_t rate, void* self);
    static void onShutdown(jack_status_t code, const char* reason, void* self);
    void process(jack_nframes_t frames);
    void bufferSizeChanged(jack_nframes_t frames);
    void signalLost(const char* reason);
    void watchServer();
    void connectToPlayback();

    const std::string server_;
    std::string error_;
    jack_client_t* client_ = nullptr;
    std::array<jack_port_t*, kJackOutputs> ports_{};
    AsioBufferInfo* infos_ = nullptr;  // the host's records
    std::int32_t infoCount_ = 0;
    std::atomic<const AsioCallbacks*> callbacks_{nullptr};
    std::atomic<std::int32_t> hostSize_{0};  // the block size the host's buffers take
    std::atomic<bool> active_{false};
    // Audio thread only, then published for getSamplePosition.
    std::int32_t half_ = 0;
    std::int64_t position_ = 0;
    std::atomic<std::int64_t> lastPosition_{0};
    std::atomic<std::int64_t> lastSystemNs_{0};
    // The lost-server report: written by signalLost, read by the watcher after the semaphore.
    sem_t lostSignal_;
    std::atomic<bool> lost_{false};
    std::atomic<bool> closing_{false};
    std::array<char, 256> reason_{};
    std::thread watcher_;
};

CJackDriver::~CJackDriver() {
    closing_ = true;
    sem_post(&lostSignal_);
    if (watcher_.joinable()) watcher_.join();
    if (client_ != nullptr) jack_client_close(client_);
    sem_destroy(&lostSignal_);
}

bool CJackDriver::init(void*) {
    if (client_ != nullptr) return true;
    quietJack();
    jack_status_t status{};
    client_ = jack_client_open(kClientName, static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
                               server_.c_str());
    if (client_ == nullptr) {
        error_ = "The JACK server \"" + server_ + "\" is not running";
        return false;
    }
    jack_set_process_callback(client_, &CJackDriver::onProcess, this);
    jack_set_buffer_size_callback(client_, &CJackDriver::onBufferSize, this);
    jack_set_sample_rate_callback(client_, &CJackDriver::onSampleRate, this);
    jack_on_info_shutdown(client_, &CJackDriver::onShutdown, this);
    try {
        watcher_ = std::thread([this] { watchServer(); });
    } catch (const std::system_error&) {
        error_ = "No thread to watch the JACK server";
        jack_client_close(client_);
        client_ = nullptr;
        return false;
    }
    return true;
}

AsioError CJackDriver::start() {
    if (client_ == nullptr || lost_.load()) return kAsioNotPresent;
    if (active_.load()) return kAsioOk;
    half_ = 0;
    position_ = 0;
    if (jack_activate(client_) != 0) return kAsioHwMalfunction;
    active_ = true;
    connectToPlayback();
    return kAsioOk;
}

AsioError CJackDriver::stop() {
    if (client_ == nullptr) return kAsioNotPresent;
    // A server that is gone has nothing left to deactivate.
    if (!active_.exchange(false) || lost_.load()) return kAsioOk;
    jack_deactivate(client_);
    return kAsioOk;
}

// Our outputs go to the server's playback ports, where it has any.
void CJackDriver::connectToPlayback() {
    const char** playback =
        jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
    if (playback == nullptr) return;
    for (std::size_t k = 0; k < ports_.size() && playback[k] != nullptr; ++k) {
        if (ports_[k] != nullptr) jack_connect(client_, jack_port_name(ports_[k]), playback[k]);
    }
    jack_free(playback);
}

AsioError CJackDriver::getChannels(std::int32_t& inputs, std::int32_t& outputs) {
    if (client_ == nullptr) return kAsioNotPresent;
    inputs = 0;
    outputs = kJackOutputs;
    return kAsioOk;
}

AsioError CJackDriver::getLatencies(std::int32_t& input, std::int32_t& output) {
    if (client_ == nullptr) return kAsioNotPresent;
    input = 0;
    output = static_cast<std::int32_t>(jack_get_buffer_size(client_));
    if (ports_[0] != nullptr) {
        jack_latency_range_t range{};
        jack_port_get_latency_range(ports_[0], JackPlaybackLatency, &range);
        if (range.max > 0) output = static_cast<std::int32_t>(range.max);
    }
    return kAsioOk;
}

AsioError CJackDriver::getBufferSize(std::int32_t& minSize, std::int32_t& maxSize, std::int32_t& preferred,
                                     std::int32_t& granularity) {
    if (client_ == nullptr) return kAsioNotPresent;
    minSize = maxSize = preferred = static_cast<std::int32_t>(jack_get_buffer_size(client_));
    granularity = 0;
    return kAsioOk;
}

AsioError CJackDriver::getSampleRate(double& rate) {
    if (client_ == nullptr) return kAsioNotPresent;
    rate = jack_get_sample_rate(client_);
    return kAsioOk;
}

// The server's rate is set when it starts.
AsioError CJackDriver::setSampleRate(double rate) {
    if (client_ == nullptr) return kAsioNotPresent;
    return rate == static_cast<double>(jack_get_sample_rate(client_)) ? kAsioOk : kAsioNoClock;
}

AsioError CJackDriver::getChannelInfo(AsioChannelInfo& info) {
    if (client_ == nullptr) return kAsioNotPresent;
    if (info.isInput || info.channel < 0 || info.channel >= kJackOutputs) return kAsioInvalidParameter;
    const jack_port_t* port = ports_[static_cast<std::size_t>(info.channel)];
    info.active = port != nullptr;
    info.group = 0;
    info.type = AsioSampleType::Float32LE;
    info.name = "out_" + std::to_string(info.channel + 1);
    return kAsioOk;
}

AsioError CJackDriver::createBuffers(AsioBufferInfo* infos, std::int32_t count, std::int32_t bufferSize,
                                     const AsioCallbacks* callbacks) {
    if (client_ == nullptr) return kAsioNotPresent;
    if (active_.load()) return kAsioInvalidMode;
    if (infos == nullptr || count < 0 || callbacks == nullptr) return kAsioInvalidParameter;
    if (bufferSize != static_cast<std::int32_t>(jack_get_buffer_size(client_))) return kAsioInvalidMode;
    for (std::int32_t i = 0; i < count; ++i) {
        if (infos[i].isInput || infos[i].channel < 0 || infos[i].channel >= kJackOutputs) return kAsioInvalidParameter;
    }
    for (std::int32_t i = 0; i < count; ++i) {
        auto& port = ports_[static_cast<std::size_t>(infos[i].channel)];
        const std::string name = "out_" + std::to_string(infos[i].channel + 1);
        if (port == nullptr) port = jack_port_register(client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        if (port == nullptr) {
            disposeBuffers();
            return kAsioNoMemory;
        }
        infos[i].buffers[0] = infos[i].buffers[1] = nullptr;  // set per callback
    }
    infos_ = infos;
    infoCount_ = count;
    hostSize_ = bufferSize;
    callbacks_ = callbacks;
    return kAsioOk;
}

AsioError CJackDriver::disposeBuffers() {
    if (client_ == nullptr) return kAsioNotPresent;
    stop();
    callbacks_ = nullptr;
    for (auto& port : ports_) {
        if (port != nullptr && !lost_.load()) jack_port_unregister(client_, port);
        port = nullptr;
    }
    infos_ = nullptr;
    infoCount_ = 0;
    return kAsioOk;
}

AsioError CJackDriver::getSamplePosition(std::int64_t& samplePosition, std::int64_t& systemTimeNs) {
    if (client_ == nullptr) return kAsioNotPresent;
    samplePosition = lastPosition_.load();
    systemTimeNs = lastSystemNs_.load();
    return kAsioOk;
}

int CJackDriver::onProcess(jack_nframes_t frames, void* self) {
    static_cast<CJackDriver*>(self)->process(frames);
    return 0;
}

// The audio thread: no lock, no allocation. The ports start each block
// silent, since JACK does not keep what a port held: a block the host skips
// (a render that was refused) is heard as silence.
void CJackDriver::process(jack_nframes_t frames) {
    std::array<float*, kJackOutputs> out{};
    for (std::size_t k = 0; k < ports_.size(); ++k) {
        if (ports_[k] == nullptr) continue;
        out[k] = static_cast<float*>(jack_port_get_buffer(ports_[k], frames));
        std::memset(out[k], 0, frames * sizeof(float));
    }
    const AsioCallbacks* callbacks = callbacks_.load(std::memory_order_acquire);
    // The host's buffers hold hostSize_ frames; a block of another size would overrun them.
    if (callbacks == nullptr || static_cast<std::int32_t>(frames) != hostSize_.load()) return;
    for (std::int32_t i = 0; i < infoCount_; ++i) infos_[i].buffers[half_] = out[static_cast<std::size_t>(infos_[i].channel)];
    AsioTime time{};
    time.timeInfo.speed = 1.0;
    time.timeInfo.samplePosition = position_;
    time.timeInfo.sampleRate = jack_get_sample_rate(client_);
    time.timeInfo.flags = kAsioSamplePositionValid | kAsioSampleRateValid;
    jack_nframes_t cycleFrames = 0;
    jack_time_t cycleUs = 0, nextUs = 0;
    float periodUs = 0.0f;
    if (jack_get_cycle_times(client_, &cycleFrames, &cycleUs, &nextUs, &periodUs) == 0) {
        time.timeInfo.systemTimeNs = static_cast<std::int64_t>(cycleUs) * 1000;
        time.timeInfo.flags |= kAsioSystemTimeValid;
    }
    lastPosition_.store(position_, std::memory_order_relaxed);
    lastSystemNs_.store(time.timeInfo.systemTimeNs, std::memory_order_relaxed);
    callbacks->bufferSwitchTimeInfo(&time, half_, true);
    half_ ^= 1;
    position_ += frames;
}

int CJackDriver::onBufferSize(jack_nframes_t frames, void* self) {
    static_cast<CJackDriver*>(self)->bufferSizeChanged(frames);
    return 0;
}

// The host reallocates for the new size; one that cannot leaves the driver unusable.
void CJackDriver::bufferSizeChanged(jack_nframes_t frames) {
    const AsioCallbacks* callbacks = callbacks_.load(std::memory_order_acquire);
    const auto size = static_cast<std::int32_t>(frames);
    if (callbacks == nullptr || size == hostSize_.load()) return;
    if (callbacks->asioMessage(static_cast<std::int32_t>(AsioMessageSelector::BufferSizeChange), size, nullptr,
                               nullptr) != 0) {
        hostSize_ = size;
    } else {
        signalLost("the JACK server changed its block size to one the program cannot take");
    }
}

int CJackDriver::onSampleRate(jack_nframes_t rate, void* self) {
    const AsioCallbacks* callbacks = static_cast<CJackDriver*>(self)->callbacks_.load(std::memory_order_acquire);
    if (callbacks != nullptr) callbacks->sampleRateDidChange(static_cast<double>(rate));
    return 0;
}

void CJackDriver::onShutdown(jack_status_t, const char* reason, void* self) {
    static_cast<CJackDriver*>(self)->signalLost(reason);
}

// Signal-handler safe: a bounded copy, atomics and sem_post.
void CJackDriver::signalLost(const char* reason) {
    if (lost_.exchange(true)) return;
    std::size_t n = 0;
    for (; reason != nullptr && reason[n] != '\0' && n + 1 < reason_.size(); ++n) reason_[n] = reason[n];
    reason_[n] = '\0';
    sem_post(&lostSignal_);
}

void CJackDriver::watchServer() {
    while (sem_wait(&lostSignal_) != 0 && errno == EINTR) {
    }
    if (closing_.load() || !lost_.load()) return;
    active_ = false;
    std::string text = "The JACK server \"" + server_ + "\" has stopped";
    if (reason_[0] != '\0') text += std::string(": ") + reason_.data();
    const AsioCallbacks* callbacks = callbacks_.load(std::memory_order_acquire);
    if (callbacks != nullptr && callbacks->outputLost != nullptr) callbacks->outputLost(text.c_str());
}

}  // namespace

std::vector<AsioDriverSource> systemAsioDrivers() {
    std::vector<std::string> servers{"default"};
    const char* named = std::getenv("JACK_DEFAULT_SERVER");
    if (named != nullptr && *named != '\0' && std::strcmp(named, "default") != 0) servers.emplace_back(named);
    std::vector<AsioDriverSource> drivers;
    for (const auto& server : servers) {
        drivers.push_back({"JACK (" + server + ")", [server] { return std::make_unique<CJackDriver>(server); }});
    }
    return drivers;
}

}  // namespace qvp3
