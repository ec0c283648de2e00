// The PCM output device.
#include "qvp3_audio/pcm_output.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <system_error>

#include "platform/threads.h"
#include "qvp3_audio/render_worker.h"

namespace qvp3 {

namespace {

constexpr unsigned kChannels = 2;
constexpr unsigned kRate = 44100;
constexpr unsigned kHalves = 2;
// The loop's "stopped on request" result, apart from every errno.
constexpr int kStopped = 1;

}  // namespace

std::int16_t audFloatToPcm16(float x) {
    if (!std::isfinite(x)) return 0;  // the cast below would be undefined
    // Equal to (|x + 1| - |x - 1|) / 2, which stops clipping once x +- 1
    // rounds to x (about 1e16 here, 1e8 in single precision).
    const double c = std::clamp(static_cast<double>(x), -1.0, 1.0);
    return static_cast<std::int16_t>(std::trunc(c * 32767.505859375 - 0.5));
}

// --- the hand-over of rendered blocks ---

void CSpecDSoundOutDevice::BlockExchange::reset(std::size_t samples) {
    for (auto& block : blocks_) block.assign(samples, 0);
    back_ = 0;
    middle_.store(1);
    front_ = 2;
}

void CSpecDSoundOutDevice::BlockExchange::publish() {
    back_ = middle_.exchange(static_cast<std::uint8_t>(back_ | kFresh), std::memory_order_acq_rel) & 3;
}

const std::int16_t* CSpecDSoundOutDevice::BlockExchange::takeFresh() {
    if ((middle_.load(std::memory_order_acquire) & kFresh) == 0) return nullptr;
    front_ = middle_.exchange(front_, std::memory_order_acq_rel) & 3;
    return blocks_[front_].data();
}

// --- opening and closing ---

CSpecDSoundOutDevice::CSpecDSoundOutDevice() : CSpecDSoundOutDevice(audMakeAlsaPcmBackend()) {}

CSpecDSoundOutDevice::CSpecDSoundOutDevice(std::unique_ptr<PcmBackend> backend, const platform::RealTimeClock& clock)
    : backend_(std::move(backend)), clock_(clock) {}

// The worker may be gone by now (its owner may delete it first), so only the
// device's own writers are waited for; a stopped worker renders nothing.
CSpecDSoundOutDevice::~CSpecDSoundOutDevice() {
    Stop();
    while (writers_.load() != 0) std::this_thread::yield();
    if (open_) backend_->close();
}

bool CSpecDSoundOutDevice::Open(const std::string& deviceName, std::uint32_t blockFrames, int* errorOut) {
    Close();
    int err = 0;
    if (blockFrames == 0 || blockFrames > kPcmMaxBlockFrames)
        err = -EINVAL;
    else
        err = backend_->open(deviceName, kRate, kChannels, blockFrames, kHalves);
    if (err < 0) {
        backend_->close();
        if (errorOut != nullptr) *errorOut = err;
        return false;
    }
    name_ = deviceName;
    blockFrames_ = blockFrames;
    lastError_ = 0;
    open_ = true;
    return true;
}

bool CSpecDSoundOutDevice::OpenByName(const std::string& deviceName, std::uint32_t blockFrames, int* errorOut) {
    return Open(deviceName, blockFrames, errorOut) && Prepare();
}

void CSpecDSoundOutDevice::Close() {
    Stop();
    QuiesceRender();
    if (open_) backend_->close();
    open_ = false;
    prepared_ = false;
    name_.clear();
}

void CSpecDSoundOutDevice::SetNotifyTarget(platform::MessageTarget* target, platform::MessageId msg) {
    notifyTarget_ = target;
    notifyMsg_ = msg;
}

bool CSpecDSoundOutDevice::GetFormat(PcmWaveFormat& out) const {
    if (!open_) return false;
    out = format_;
    return true;
}

// Blocks may move only when no render uses them: neither the worker's inputs
// nor a WriteRenderedBlock in progress.
void CSpecDSoundOutDevice::QuiesceRender() const {
    const CWorkThread* worker = worker_.load();
    while (writers_.load() != 0 || (worker != nullptr && worker->busy())) std::this_thread::yield();
}

bool CSpecDSoundOutDevice::Prepare() {
    if (!open_ || playing_.load()) return false;
    JoinDeviceThread();
    QuiesceRender();
    const std::size_t samples = std::size_t{blockFrames_} * kChannels;
    floatLeft_.assign(blockFrames_, 0.0f);
    floatRight_.assign(blockFrames_, 0.0f);
    floatBlocks_ = {floatLeft_.data(), floatRight_.data()};
    exchange_.reset(samples);
    halves_.assign(samples * kHalves, 0);
    nextHalf_ = 0;
    nextHalfIsNew_ = false;
    prepared_ = true;
    halvesPlayed_ = 0;
    halvesReplayed_ = 0;
    underruns_ = 0;
    startTime_ = clock_.now();
    return true;
}

bool CSpecDSoundOutDevice::WriteHalf(std::uint32_t half, const std::int16_t* data, std::uint32_t bytes,
                                     std::uint32_t* framesWritten) {
    if (half >= kHalves || !prepared_ || data == nullptr || playing_.load()) return false;
    const std::uint32_t frames = std::min(bytes, HalfBytes()) / kPcmBytesPerFrame;
    std::copy_n(data, std::size_t{frames} * kChannels, HalfData(half));
    if (framesWritten != nullptr) *framesWritten = frames;
    return true;
}

// --- playing ---

bool CSpecDSoundOutDevice::Play() {
    if (!prepared_) return false;
    if (playing_.load()) return true;
    JoinDeviceThread();  // one that ended when the device went away
    int err = backend_->state() == PcmState::Prepared ? 0 : backend_->drop();
    // The ring starts when both halves are in it.
    if (err == 0) err = WriteFrames(HalfData(nextHalf_), blockFrames_);
    if (err == 0) err = WriteFrames(HalfData(1 - nextHalf_), blockFrames_);
    if (err != 0) {
        lastError_ = err < 0 ? err : -EIO;
        backend_->drop();
        return false;
    }
    lastError_ = 0;
    stopFlag_ = false;
    playing_ = true;
    try {
        thread_ = std::thread([this] { DeviceThreadProc(); });
    } catch (const std::system_error&) {
        playing_ = false;
        backend_->drop();
        return false;
    }
    return true;
}

bool CSpecDSoundOutDevice::Stop() {
    const bool wasPlaying = playing_.exchange(false);
    JoinDeviceThread();
    if (!open_) return true;
    const int err = backend_->drop();
    return !wasPlaying || err == 0;
}

void CSpecDSoundOutDevice::JoinDeviceThread() {
    if (!thread_.joinable()) return;
    stopFlag_ = true;
    backend_->interrupt();
    thread_.join();
    stopFlag_ = false;
}

void CSpecDSoundOutDevice::BufferDone() {
    CWorkThread* worker = worker_.load();
    if (worker == nullptr) return;
    const double elapsedMs = std::chrono::duration<double, std::milli>(clock_.now() - startTime_).count();
    worker->Trigger(floatBlocks_.data(), blockFrames_, elapsedMs);
}

bool CSpecDSoundOutDevice::WriteRenderedBlock(std::uint32_t frames, const float* left, const float* right) {
    writers_.fetch_add(1);
    const bool playing = playing_.load();
    if (playing && left != nullptr && right != nullptr) {
        std::int16_t* out = exchange_.back();
        // Frames, not bytes: a block never holds more than its frames.
        const std::uint32_t n = std::min(frames, blockFrames_);
        for (std::uint32_t i = 0; i < n; ++i) {
            out[2 * i] = audFloatToPcm16(left[i]);
            out[2 * i + 1] = audFloatToPcm16(right[i]);
        }
        std::fill(out + std::size_t{n} * kChannels, out + std::size_t{blockFrames_} * kChannels, std::int16_t{0});
        exchange_.publish();
    }
    writers_.fetch_sub(1);
    return playing;
}

// --- the device thread ---

// A device that frees no period for this long has stopped playing.
PcmBackend::TimePoint CSpecDSoundOutDevice::WaitDeadline() const {
    const auto buffer = std::chrono::nanoseconds(std::int64_t{blockFrames_} * kHalves * 1'000'000'000 / kRate);
    return clock_.now() + std::max<std::chrono::nanoseconds>(std::chrono::seconds(1), 4 * buffer);
}

void CSpecDSoundOutDevice::DeviceThreadProc() {
    platform::setCurrentThreadPriority(platform::ThreadPriority::Highest);
    BufferDone();  // the first block renders while the two halves from Play sound
    while (!stopFlag_.load()) {
        const int err = ServiceOneHalf();
        if (err == kStopped) break;
        if (err < 0 && !Recover(err)) {
            Lose(err);
            break;
        }
    }
}

// Waits until a half has finished playing, fills its place and asks for the
// next block. 0, kStopped or a negative errno.
int CSpecDSoundOutDevice::ServiceOneHalf() {
    const int err = WaitForRoom();
    if (err != 0) return err;
    const int written = PlayNextHalf();
    if (written == 0) BufferDone();
    return written;
}

int CSpecDSoundOutDevice::WaitForRoom() {
    for (;;) {
        const PcmWaitResult wait = backend_->waitPeriod(WaitDeadline());
        if (stopFlag_.load()) return kStopped;
        switch (wait.what) {
            case PcmWait::Ready: return 0;
            case PcmWait::Interrupted: continue;  // only a stop request counts
            case PcmWait::TimedOut: return -ETIMEDOUT;
            case PcmWait::Failed: return wait.error < 0 ? wait.error : -EIO;
        }
    }
}

int CSpecDSoundOutDevice::PlayNextHalf() {
    const std::uint32_t half = nextHalf_;
    if (const std::int16_t* fresh = exchange_.takeFresh()) {
        std::copy_n(fresh, std::size_t{blockFrames_} * kChannels, HalfData(half));
        nextHalfIsNew_ = true;
    }
    const int err = WriteFrames(HalfData(half), blockFrames_);
    if (err != 0) return err;
    if (!nextHalfIsNew_) halvesReplayed_.fetch_add(1);  // the late render's place: the old half again
    nextHalfIsNew_ = false;
    nextHalf_ = 1 - half;
    halvesPlayed_.fetch_add(1);
    return 0;
}

// Writes all frames, waiting for room when the ring is full.
int CSpecDSoundOutDevice::WriteFrames(const std::int16_t* data, std::uint32_t frames) {
    while (frames > 0) {
        const long n = backend_->write(data, frames);
        if (n < 0) return static_cast<int>(n);
        if (n == 0) {
            const int err = WaitForRoom();
            if (err != 0) return err;
            continue;
        }
        const auto done = static_cast<std::uint32_t>(std::min<long>(n, frames));
        data += std::size_t{done} * kChannels;
        frames -= done;
    }
    return 0;
}

// An underrun or a suspend the device comes back from; anything else, and a
// recovery that fails, means the device is gone.
bool CSpecDSoundOutDevice::Recover(int error) {
    if (error != -EPIPE && error != -ESTRPIPE) return false;
    if (backend_->recover(error) != 0) return false;
    underruns_.fetch_add(1);
    return true;
}

void CSpecDSoundOutDevice::Lose(int error) {
    lastError_ = error;
    playing_ = false;
    if (notifyTarget_ != nullptr)
        notifyTarget_->post(notifyMsg_, kPcmOutputLost, static_cast<platform::LParam>(error));
}

std::string CSpecDSoundOutDevice::LastErrorText() const {
    const int err = lastError_.load();
    if (err == 0) return {};
    const std::string reason =
        err == -ETIMEDOUT ? "it stopped taking sound" : std::generic_category().message(-err);
    return "The audio output \"" + name_ + "\" stopped playing: " + reason + ".";
}

}  // namespace qvp3
