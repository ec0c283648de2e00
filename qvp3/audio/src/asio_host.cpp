// The driver list, driver loading and the host's open, start and close; the
// driver's callbacks, forwarded to the host that owns the driver.
#include "qvp3_audio/asio_host.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <utility>

namespace qvp3 {
namespace {

std::atomic<CAsioHost*> g_owner{nullptr};

std::string cutDriverName(std::string name) {
    if (name.size() > kAsioMaxDriverName) name = name.substr(0, 28) + "...";
    return name;
}

bool validRate(double rate) { return rate > 0.0 && rate <= 96000.0; }

}  // namespace

// ---- AsioDriverList, AsioDrivers ----

AsioDriverList::AsioDriverList(std::vector<AsioDriverSource> drivers) {
    int number = 0;
    for (auto& d : drivers) entries_.push_back({number++, cutDriverName(std::move(d.name)), std::move(d.create), {}});
}

AsioDriverList::~AsioDriverList() = default;

AsioError AsioDriverList::DriverName(int number, std::string& name) const {
    if (number < 0 || number >= DriverCount()) return kAsioNoSuchDriver;
    name = entries_[static_cast<std::size_t>(number)].name;
    return kAsioOk;
}

AsioDrivers::AsioDrivers(std::vector<AsioDriverSource> drivers) : AsioDriverList(std::move(drivers)) {}

AsioDrivers::~AsioDrivers() { removeCurrentDriver(); }

bool AsioDrivers::loadDriver(const std::string& name) {
    const auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.name == name; });
    if (it == entries_.end()) return false;
    const int previous = current_;
    removeCurrentDriver();
    auto create = [this](int number) {
        Entry& e = entries_[static_cast<std::size_t>(number)];
        try {
            if (e.create) e.driver = e.create();
        } catch (const std::exception&) {
            e.driver.reset();
        }
        if (e.driver) current_ = number;
        return e.driver != nullptr;
    };
    if (create(it->number)) return true;
    if (previous >= 0) create(previous);
    return false;
}

void AsioDrivers::removeCurrentDriver() {
    if (current_ < 0) return;
    entries_[static_cast<std::size_t>(current_)].driver.reset();
    current_ = -1;
}

IAsioDriver* AsioDrivers::currentDriver() const {
    return current_ < 0 ? nullptr : entries_[static_cast<std::size_t>(current_)].driver.get();
}

// ---- the driver's callbacks ----

const AsioCallbacks CAsioHost::kCallbacks = {&CAsioHost::onBufferSwitch, &CAsioHost::onSampleRateDidChange,
                                             &CAsioHost::onAsioMessage, &CAsioHost::onBufferSwitchTimeInfo,
                                             &CAsioHost::onOutputLost};

void CAsioHost::onBufferSwitch(std::int32_t index, bool directProcess) {
    CAsioHost* host = g_owner.load(std::memory_order_acquire);
    if (host == nullptr || host->currentDriver() == nullptr) return;
    AsioTime time{};
    std::int64_t position = 0, systemNs = 0;
    if (asioSucceeded(host->currentDriver()->getSamplePosition(position, systemNs))) {
        time.timeInfo.samplePosition = position;
        time.timeInfo.systemTimeNs = systemNs;
        time.timeInfo.flags = kAsioSystemTimeValid | kAsioSamplePositionValid;
    }
    host->BufferSwitchTimeInfo(&time, index, directProcess);
}

void CAsioHost::onSampleRateDidChange(double rate) {
    if (CAsioHost* host = g_owner.load(std::memory_order_acquire)) host->SampleRateDidChange(rate);
}

std::int32_t CAsioHost::onAsioMessage(std::int32_t selector, std::int32_t value, void* message, double* opt) {
    CAsioHost* host = g_owner.load(std::memory_order_acquire);
    return host == nullptr ? 0 : host->AsioMessage(selector, value, message, opt);
}

AsioTime* CAsioHost::onBufferSwitchTimeInfo(AsioTime* time, std::int32_t index, bool directProcess) {
    CAsioHost* host = g_owner.load(std::memory_order_acquire);
    return host == nullptr ? nullptr : host->BufferSwitchTimeInfo(time, index, directProcess);
}

void CAsioHost::onOutputLost(const char* reason) {
    if (CAsioHost* host = g_owner.load(std::memory_order_acquire)) host->OutputLost(reason ? reason : "");
}

CAsioHost* CAsioHost::Owner() { return g_owner.load(); }

// ---- CAsioHost ----

CAsioHost::CAsioHost(std::vector<AsioDriverSource> drivers) : AsioDrivers(std::move(drivers)) {}

CAsioHost::~CAsioHost() { Close(); }

bool CAsioHost::claimOwnership() {
    CAsioHost* expected = nullptr;
    return g_owner.compare_exchange_strong(expected, this) || expected == this;
}

void CAsioHost::releaseOwnership() {
    CAsioHost* self = this;
    g_owner.compare_exchange_strong(self, nullptr);
}

std::int32_t CAsioHost::ChooseBufferSize(std::int32_t request, std::int32_t minSize, std::int32_t maxSize,
                                         std::int32_t preferred, std::int32_t granularity) {
    std::int32_t size = request;
    if (granularity == -1) {
        // The highest set bit among bits 18..0, doubled when lower bits are set too.
        const std::int32_t bits = request & 0x7FFFF;
        size = 4;
        for (int bit = 18; bit >= 0; --bit) {
            if (bits & (1 << bit)) {
                size = 1 << bit;
                if (bits > size) size <<= 1;
                break;
            }
        }
    } else if (granularity == 0) {
        size = preferred;
    } else if (granularity > 1) {
        const std::int64_t g = granularity;
        const std::int64_t rounded = request <= 0 ? 0 : (request + g - 1) / g * g;
        size = static_cast<std::int32_t>(std::min<std::int64_t>(rounded, INT32_MAX));
    }
    if (size < minSize) size = minSize;
    if (size > maxSize) size = maxSize;
    return size;
}

bool CAsioHost::Open(const std::string& driverName, std::int32_t& bufferSizeInOut) {
    if (!claimOwnership()) return false;
    Close();
    if (!claimOwnership()) return false;  // Close gave it up; another host may have taken it since
    if (!loadDriver(driverName)) {
        setErrorMessage("No ASIO Driver");
        return failOpen();
    }
    if (initDriver() != kAsioOk) return failOpen();
    if (!readChannelsAndSizes(bufferSizeInOut)) return failOpen();
    if (!readSampleRate()) return failOpen();
    postOutput_ = asioSucceeded(currentDriver()->outputReady());
    if (!createBuffers()) return failOpen();
    loaded_ = true;
    return true;
}

bool CAsioHost::failOpen() {
    Close();
    return false;
}

AsioError CAsioHost::initDriver() {
    asioVersion_ = 2;
    driverVersion_ = 0;
    driverName_.clear();
    sysRef_ = GetSysRef();
    setErrorMessage("No ASIO Driver Error");
    IAsioDriver* driver = currentDriver();
    if (driver == nullptr) {
        setErrorMessage("No ASIO Driver");
        return kAsioNotPresent;
    }
    if (!driver->init(sysRef_)) {
        setErrorMessage(driver->getErrorMessage());
        removeCurrentDriver();
        return kAsioNotPresent;
    }
    driverName_ = driver->getDriverName();
    driverVersion_ = driver->getDriverVersion();
    return kAsioOk;
}

bool CAsioHost::readChannelsAndSizes(std::int32_t& bufferSizeInOut) {
    IAsioDriver* driver = currentDriver();
    if (!asioSucceeded(driver->getChannels(inputChannels_, outputChannels_))) return false;
    if (!asioSucceeded(driver->getBufferSize(minSize_, maxSize_, preferredSize_, granularity_))) return false;
    bufferSizeInOut = ChooseBufferSize(bufferSizeInOut, minSize_, maxSize_, preferredSize_, granularity_);
    bufferSize_ = bufferSizeInOut;
    return true;
}

bool CAsioHost::readSampleRate() {
    auto query = [this](double& rate) {
        IAsioDriver* driver = currentDriver();
        return driver != nullptr && driver->getSampleRate(rate) == kAsioOk;
    };
    double rate = 0.0;
    if (!query(rate)) return false;
    if (!validRate(rate)) {
        if (!asioSucceeded(currentDriver()->setSampleRate(44100.0)) || !query(rate)) return false;
        // A driver that still reports no usable rate would have the plug-ins run at it.
        if (!validRate(rate)) return false;
    }
    sampleRate_ = rate;
    return true;
}

bool CAsioHost::createBuffers() {
    IAsioDriver* driver = currentDriver();
    if (buffersCreated_) {
        driver->disposeBuffers();
        buffersCreated_ = false;
    }
    numInputBuffers_ = std::clamp(inputChannels_, 0, kAsioMaxChannels);
    numOutputBuffers_ = std::clamp(outputChannels_, 0, kAsioMaxChannels);
    const std::int32_t count = numInputBuffers_ + numOutputBuffers_;
    for (std::int32_t i = 0; i < count; ++i) {
        const bool input = i < numInputBuffers_;
        bufferInfos_[static_cast<std::size_t>(i)] = {input, input ? i : i - numInputBuffers_, {nullptr, nullptr}};
    }
    if (!asioSucceeded(driver->createBuffers(bufferInfos_.data(), count, bufferSize_.load(), &kCallbacks))) {
        return false;
    }
    buffersCreated_ = true;
    for (std::int32_t i = 0; i < count; ++i) {
        auto& info = channelInfos_[static_cast<std::size_t>(i)];
        info = {};
        info.channel = bufferInfos_[static_cast<std::size_t>(i)].channel;
        info.isInput = bufferInfos_[static_cast<std::size_t>(i)].isInput;
        if (!asioSucceeded(driver->getChannelInfo(info))) return false;
    }
    std::int32_t in = 0, out = 0;
    if (!asioSucceeded(driver->getLatencies(in, out))) return false;
    inputLatency_ = in;
    outputLatency_ = out;
    return true;
}

bool CAsioHost::Start() {
    IAsioDriver* driver = currentDriver();
    if (driver == nullptr || !loaded_.load() || !claimOwnership()) return false;
    if (!asioSucceeded(driver->start())) return false;
    started_ = true;
    return true;
}

bool CAsioHost::Stop() {
    IAsioDriver* driver = currentDriver();
    if (driver == nullptr || g_owner.load() != this) return false;
    started_ = false;
    return asioSucceeded(driver->stop());
}

void CAsioHost::Close() {
    // Another host's driver is never this host's to stop.
    if (IAsioDriver* driver = currentDriver(); driver != nullptr && g_owner.load() == this) {
        driver->stop();  // no buffer switch after this
        if (buffersCreated_) driver->disposeBuffers();
    }
    started_ = false;
    loaded_ = false;
    buffersCreated_ = false;
    numInputBuffers_ = numOutputBuffers_ = 0;
    bufferInfos_ = {};
    releaseOwnership();
    removeCurrentDriver();  // ends the driver's own threads
}

AsioTime* CAsioHost::BufferSwitchTimeInfo(AsioTime* time, std::int32_t, bool) {
    if (time == nullptr) return nullptr;
    time_ = *time;
    const AsioTimeInfo& info = time->timeInfo;
    systemTimeNs_ = (info.flags & kAsioSystemTimeValid) ? static_cast<double>(info.systemTimeNs) : 0.0;
    samplePosition_ = (info.flags & kAsioSamplePositionValid) ? static_cast<double>(info.samplePosition) : 0.0;
    timeCodeSamples_ =
        (time->timeCode.flags & kAsioTimeCodeValid) ? static_cast<double>(time->timeCode.timeCodeSamples) : 0.0;
    lastSwitchMs_ = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count();
    return time;
}

std::int32_t CAsioHost::AsioMessage(std::int32_t selector, std::int32_t value, void*, double*) {
    using S = AsioMessageSelector;
    switch (static_cast<S>(selector)) {
        case S::SelectorSupported: return SelectorSupported(value);
        case S::EngineVersion: return EngineVersion();
        case S::ResetRequest: return ResetRequest();
        case S::BufferSizeChange: return BufferSizeChange(value);
        case S::ResyncRequest: return ResyncRequest();
        case S::LatenciesChanged: return LatenciesChanged();
        case S::SupportsTimeInfo: return SupportsTimeInfo();
        case S::SupportsTimeCode: return SupportsTimeCode();
    }
    return 0;
}

std::int32_t CAsioHost::SelectorSupported(std::int32_t selector) { return selector >= 1 && selector <= 8 ? 1 : 0; }

std::int32_t CAsioHost::LatenciesChanged() {
    if (IAsioDriver* driver = currentDriver()) {
        std::int32_t in = 0, out = 0;
        if (asioSucceeded(driver->getLatencies(in, out))) {
            inputLatency_ = in;
            outputLatency_ = out;
        }
    }
    return 1;
}

void CAsioHost::OutputLost(const std::string& reason) {
    started_ = false;
    loaded_ = false;
    setErrorMessage(reason);
}

std::string CAsioHost::LoadedDriverName() const { return driverName_; }

std::string CAsioHost::ErrorMessage() const {
    std::lock_guard lock(errorLock_);
    return errorMessage_;
}

void CAsioHost::setErrorMessage(std::string text) {
    std::lock_guard lock(errorLock_);
    errorMessage_ = std::move(text);
}

}  // namespace qvp3
