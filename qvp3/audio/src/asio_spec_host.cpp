// The program's ASIO host: float channel buffers, the render hand-off in the
// driver's buffer switch, output conversion, display names and enabled flags.
#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "qvp3_audio/asio_host.h"

namespace qvp3 {

CSpecAsioHost::CSpecAsioHost() : CSpecAsioHost(systemAsioDrivers()) {}

CSpecAsioHost::CSpecAsioHost(std::vector<AsioDriverSource> drivers) : CAsioHost(std::move(drivers)) {
    for (auto& enabled : channelEnabled_) enabled.store(1);
    for (int i = 0; i < DriverCount() && i < kAsioMaxNames; ++i) {
        std::string name;
        DriverName(i, name);
        names_.push_back("ASIO: " + name);
    }
    driverEnabled_.assign(names_.size(), 1);
}

// Closed here, while the members the driver's callbacks reach still exist.
CSpecAsioHost::~CSpecAsioHost() { Close(); }

bool CSpecAsioHost::Open(const std::string& driverName, std::int32_t& bufferSizeInOut) {
    if (!CAsioHost::Open(driverName, bufferSizeInOut)) return false;
    if (BufferSize() <= 0 || !allocateFloatBuffers(static_cast<std::uint32_t>(BufferSize()))) {
        Close();
        return false;
    }
    return true;
}

// Grows both buffers or neither.
bool CSpecAsioHost::allocateFloatBuffers(std::uint32_t frames) {
    if (frames <= floatFrames_.load()) return true;
    try {
        std::vector<float> left(frames), right(frames);
        left_.swap(left);
        right_.swap(right);
    } catch (const std::bad_alloc&) {
        return false;
    }
    pair_[0] = left_.data();
    pair_[1] = right_.data();
    floatFrames_ = frames;
    return true;
}

// Runs on the driver's audio thread. JACK's process callback comes with
// directProcess set: the block is rendered here, through RenderNow, because
// the JACK port buffers are only valid until the callback returns and the
// server takes them then. Trigger would let the render finish after that,
// into buffers the server no longer reads, one block late or not at all.
// RenderNow takes no lock (the worker's busy flag is an atomic), so the
// callback stays real-time safe as far as the render routine itself is.
AsioTime* CSpecAsioHost::BufferSwitchTimeInfo(AsioTime* time, std::int32_t index, bool directProcess) {
    CAsioHost::BufferSwitchTimeInfo(time, index, directProcess);
    const std::int32_t half = index & 1;
    half_.store(half, std::memory_order_relaxed);
    const std::int32_t size = BufferSize();
    // A block larger than the float buffers would overrun them: skipped.
    if (size <= 0 || static_cast<std::uint32_t>(size) > floatFrames_.load()) return time;
    const auto frames = static_cast<std::uint32_t>(size);
    readInputs(half, frames);
    if (CWorkThread* worker = worker_.load()) {
        const double elapsedMs = systemTimeNs_ / 1000000.0;
        if (directProcess) {
            worker->RenderNow(pair_, frames, elapsedMs);
        } else {
            worker->Trigger(pair_, frames, elapsedMs);
        }
    } else {
        WriteOutputs();
    }
    return time;
}

// The enabled inputs, in channel order, into the two float buffers; a
// buffer that gets no input is silent.
void CSpecAsioHost::readInputs(std::int32_t half, std::uint32_t frames) {
    int k = 0;
    for (int i = 0; i < numInputBuffers_ && k < 2; ++i) {
        if (!ChannelEnabled(i)) continue;
        const void* source = bufferInfos_[static_cast<std::size_t>(i)].buffers[half];
        if (source == nullptr || !asioToFloat(SampleTypeOf(i), source, pair_[k], frames)) {
            std::fill(pair_[k], pair_[k] + frames, 0.0f);
        }
        ++k;
    }
    for (; k < 2; ++k) std::fill(pair_[k], pair_[k] + frames, 0.0f);
}

void CSpecAsioHost::WriteOutputs(float* const* channels, std::uint32_t frames) {
    const std::int32_t size = BufferSize();
    if (channels == nullptr || size <= 0 || numOutputBuffers_ == 0) return;
    const std::uint32_t n = std::min(frames, static_cast<std::uint32_t>(size));
    const std::int32_t half = half_.load(std::memory_order_relaxed);
    int k = 0;
    for (int j = 0; j < numOutputBuffers_ && k < 2; ++j) {
        const int record = numInputBuffers_ + j;
        if (!ChannelEnabled(record)) continue;
        void* target = bufferInfos_[static_cast<std::size_t>(record)].buffers[half];
        const float* source = channels[k++];
        if (target == nullptr || source == nullptr) continue;
        const AsioSampleType type = SampleTypeOf(record);
        if (!asioFromFloat(type, source, target, n)) continue;
        const std::size_t bytes = asioSampleBytes(type);
        std::memset(static_cast<char*>(target) + n * bytes, 0, (static_cast<std::uint32_t>(size) - n) * bytes);
    }
    if (postOutput_) {
        if (IAsioDriver* driver = currentDriver()) driver->outputReady();
    }
}

void CSpecAsioHost::WriteOutputs() {
    WriteOutputs(pair_, std::min(floatFrames_.load(), static_cast<std::uint32_t>(std::max(BufferSize(), 0))));
}

// The driver announces a new size (JACK: on its notification thread, while
// no process callback runs).
std::int32_t CSpecAsioHost::BufferSizeChange(std::int32_t size) {
    if (size <= 0 || !allocateFloatBuffers(static_cast<std::uint32_t>(size))) return 0;
    bufferSize_ = size;
    return 1;
}

std::int32_t CSpecAsioHost::ResyncRequest() {
    if (platform::MessageTarget* window = notifyWindow_.load()) window->post(platform::WM_COMMAND, ID_AUDIO_RESYNC, 0);
    return 1;
}

void CSpecAsioHost::OutputLost(const std::string& reason) {
    CAsioHost::OutputLost(reason);
    if (platform::MessageTarget* window = notifyWindow_.load()) {
        window->post(platform::WM_COMMAND, ID_AUDIO_OUTPUT_LOST, 0);
    }
}

bool CSpecAsioHost::DriverEnabled(int i) const {
    return i >= 0 && i < static_cast<int>(driverEnabled_.size()) && driverEnabled_[static_cast<std::size_t>(i)] != 0;
}

void CSpecAsioHost::SetDriverEnabled(int i, bool enabled) {
    if (i >= 0 && i < static_cast<int>(driverEnabled_.size())) driverEnabled_[static_cast<std::size_t>(i)] = enabled;
}

bool CSpecAsioHost::ChannelEnabled(int i) const {
    return i >= 0 && i < 2 * kAsioMaxChannels && channelEnabled_[static_cast<std::size_t>(i)].load() != 0;
}

void CSpecAsioHost::SetChannelEnabled(int i, bool enabled) {
    if (i >= 0 && i < 2 * kAsioMaxChannels) channelEnabled_[static_cast<std::size_t>(i)].store(enabled ? 1 : 0);
}

}  // namespace qvp3
