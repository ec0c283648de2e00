#include "play/play_controls.h"

#include <thread>

namespace scoreconv {

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
}  // namespace

CPlayControlValues CPlayControls::snapshot() const {
    CPlayControlValues v;
    for (;;) {
        const uint32_t before = sequence_.load(std::memory_order_acquire);
        if ((before & 1u) != 0) {
            std::this_thread::yield();
            continue;
        }
        v.playMode = playMode_.load(kRelaxed);
        v.seekTarget = seekTarget_.load(kRelaxed);
        v.tempo.TempoMode = tempoMode_.load(kRelaxed);
        v.tempo.TempoAdd = tempoAdd_.load(kRelaxed);
        v.tempo.TempoAbs = tempoAbs_.load(kRelaxed);
        v.tempo.low = tempoLow_.load(kRelaxed);
        v.tempo.high = tempoHigh_.load(kRelaxed);
        v.playConditions = conditions_.load(kRelaxed);
        v.modeSerial = modeSerial_.load(kRelaxed);
        v.seekSerial = seekSerial_.load(kRelaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (sequence_.load(kRelaxed) == before) return v;
    }
}

template <class F>
void CPlayControls::change(F&& f) {
    const std::lock_guard lock(writers_);
    sequence_.fetch_add(1, std::memory_order_acq_rel);
    std::atomic_thread_fence(std::memory_order_release);
    f();
    sequence_.fetch_add(1, std::memory_order_release);
}

void CPlayControls::setPlayMode(int32_t mode) {
    change([&] {
        playMode_.store(mode, kRelaxed);
        modeSerial_.fetch_add(1, kRelaxed);
    });
}

void CPlayControls::setSeekTarget(int64_t position) {
    change([&] {
        seekTarget_.store(position, kRelaxed);
        seekSerial_.fetch_add(1, kRelaxed);
    });
}

void CPlayControls::setTempo(const CTempoSettings& tempo) {
    change([&] {
        tempoMode_.store(tempo.TempoMode, kRelaxed);
        tempoAdd_.store(tempo.TempoAdd, kRelaxed);
        tempoAbs_.store(tempo.TempoAbs, kRelaxed);
        tempoLow_.store(tempo.low, kRelaxed);
        tempoHigh_.store(tempo.high, kRelaxed);
    });
}

void CPlayControls::setTempoMode(uint8_t mode) {
    change([&] { tempoMode_.store(mode, kRelaxed); });
}

void CPlayControls::setTempoAdd(int32_t offset) {
    change([&] { tempoAdd_.store(offset, kRelaxed); });
}

void CPlayControls::setTempoAbs(int32_t tempo) {
    change([&] { tempoAbs_.store(tempo, kRelaxed); });
}

void CPlayControls::setPlayConditions(uint64_t conditions) {
    change([&] { conditions_.store(conditions, kRelaxed); });
}

void CPlayControls::addPlayConditions(uint64_t bits) {
    change([&] { conditions_.fetch_or(bits, kRelaxed); });
}

void CPlayControls::addPlayConditionsIfNone(uint64_t bits) {
    change([&] {
        if ((conditions_.load(kRelaxed) & bits) == 0) conditions_.fetch_or(bits, kRelaxed);
    });
}

void CPlayControls::flipPlayConditionsIfAny(uint64_t bits) {
    change([&] {
        if ((conditions_.load(kRelaxed) & bits) != 0) conditions_.fetch_xor(bits, kRelaxed);
    });
}

void CPlayControls::setTempoRange(int32_t low, int32_t high) {
    change([&] {
        tempoLow_.store(low, kRelaxed);
        tempoHigh_.store(high, kRelaxed);
    });
}

void CPlayControls::reset() {
    // The play mode is the host's choice at creation and stays.
    setSeekTarget(0);
    setTempo(CTempoSettings{});
}

int32_t CPlayReport::mode(const CPlayControls& controls) const {
    const CPlayControlValues v = controls.snapshot();
    return modeSerial_.load(std::memory_order_acquire) == v.modeSerial ? mode_.load(kRelaxed) : v.playMode;
}

int64_t CPlayReport::position(const CPlayControls& controls) const {
    const CPlayControlValues v = controls.snapshot();
    return positionSerial_.load(std::memory_order_acquire) == v.seekSerial ? position_.load(kRelaxed) : v.seekTarget;
}

bool CPlayReport::seekIsNewer(const CPlayControlValues& values) const {
    return positionSerial_.load(std::memory_order_acquire) != values.seekSerial;
}

void CPlayReport::reset() {
    modeSerial_.store(~0u, std::memory_order_release);
    positionSerial_.store(~0u, std::memory_order_release);
}

}  // namespace scoreconv
