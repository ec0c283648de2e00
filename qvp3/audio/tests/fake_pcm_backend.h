// A PCM backend for tests: a ring that drains at the sample rate of a fake
// clock, logs every write with its time, and fails on request. With the gate
// shut, every wait for a period blocks until the test lets one more through,
// so a test can act between two halves.
#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform_testing/fake_clock.h"
#include "qvp3_audio/pcm_backend.h"

namespace qvp3::testing {

class FakePcmBackend : public PcmBackend {
public:
    struct Opened {
        std::string name;
        unsigned rate = 0, channels = 0, periods = 0;
        std::uint32_t periodFrames = 0;
    };
    struct Written {
        std::int64_t atNs = 0;  // on the fake clock
        std::vector<std::int16_t> samples;
    };

    explicit FakePcmBackend(platform::testing::FakeClock& clock) : clock_(clock) {}

    // --- the script ---
    void setOpenError(int error) { script([&] { openError_ = error; }); }
    void failNextWait(int error) { script([&] { waitError_ = error; }); }
    void failNextWrite(int error) { script([&] { writeError_ = error; }); }
    void setRecoverResult(int result) { script([&] { recoverResult_ = result; }); }
    // A stalled device takes no more frames.
    void setStalled(bool stalled) { script([&] { stalled_ = stalled; }); }
    void shutGate() { script([&] { gated_ = true; }); }
    void allow(int periods) { script([&] { allowance_ += periods; }); }
    // Waits until the device has entered its n-th wait (counted from the open).
    bool waitForWaits(std::uint64_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return waits_ >= n; });
    }

    // --- what happened ---
    Opened opened() const { return locked([&] { return opened_; }); }
    std::vector<Written> writes() const { return locked([&] { return writes_; }); }
    std::uint64_t waits() const { return locked([&] { return waits_; }); }
    int recovers() const { return locked([&] { return recovers_; }); }
    bool isOpen() const { return locked([&] { return open_; }); }

    // --- PcmBackend ---
    int open(const std::string& name, unsigned rate, unsigned channels, std::uint32_t periodFrames,
             unsigned periods) override {
        return locked([&] {
            if (openError_ != 0) return openError_;
            opened_ = {name, rate, channels, periods, periodFrames};
            open_ = true;
            state_ = PcmState::Prepared;
            queued_ = 0;
            return 0;
        });
    }

    PcmWaitResult waitPeriod(TimePoint deadline) override {
        std::unique_lock lock(mutex_);
        ++waits_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return !gated_ || allowance_ > 0 || interrupted_ || waitError_ != 0; });
        if (interrupted_) {
            interrupted_ = false;
            return {PcmWait::Interrupted, 0};
        }
        if (waitError_ != 0) return {PcmWait::Failed, std::exchange(waitError_, 0)};
        if (gated_) --allowance_;
        const TimePoint roomAt = timeOfRoom(opened_.periodFrames);
        if (roomAt > deadline) {
            clock_.sleepUntil(deadline);
            return {PcmWait::TimedOut, 0};
        }
        clock_.sleepUntil(roomAt);
        return {PcmWait::Ready, 0};
    }

    void interrupt() override {
        script([&] { interrupted_ = true; });
    }

    long write(const std::int16_t* interleaved, std::uint32_t frames) override {
        return locked([&]() -> long {
            if (!open_) return -EBADFD;
            if (writeError_ != 0) return std::exchange(writeError_, 0);
            const auto count = static_cast<std::uint32_t>(std::min<std::int64_t>(room(), frames));
            if (count == 0) return 0;
            writes_.push_back({clock_.elapsedNs(), {interleaved, interleaved + std::size_t{count} * opened_.channels}});
            queued_ += count;
            if (state_ == PcmState::Prepared && queued_ >= ringFrames()) {
                state_ = PcmState::Running;
                startNs_ = clock_.elapsedNs();
            }
            return count;
        });
    }

    int recover(int) override {
        return locked([&] {
            ++recovers_;
            if (recoverResult_ == 0) restart();
            return recoverResult_;
        });
    }
    int drop() override {
        return locked([&] {
            if (!open_) return -EBADFD;
            restart();
            return 0;
        });
    }
    PcmState state() const override { return locked([&] { return state_; }); }
    void close() override {
        locked([&] {
            open_ = false;
            state_ = PcmState::Closed;
        });
    }

private:
    // Changes the script and wakes a device waiting at the gate.
    template <typename F>
    void script(F f) {
        locked(f);
        changed_.notify_all();
    }
    template <typename F>
    std::invoke_result_t<F> locked(F f) const {
        std::lock_guard lock(mutex_);
        return f();
    }
    std::int64_t ringFrames() const { return std::int64_t{opened_.periodFrames} * opened_.periods; }
    std::int64_t played(std::int64_t ns) const {
        if (state_ != PcmState::Running) return 0;
        return std::min<std::int64_t>(queued_, (ns - startNs_) * opened_.rate / 1'000'000'000);
    }
    std::int64_t room() const { return ringFrames() - (queued_ - played(clock_.elapsedNs())); }
    // When `frames` frames will fit: never while stalled or before the start.
    TimePoint timeOfRoom(std::uint32_t frames) const {
        if (room() >= frames) return clock_.now();
        if (stalled_ || state_ != PcmState::Running) return TimePoint::max();
        const std::int64_t needed = queued_ + frames - ringFrames();
        const std::int64_t ns = (needed * 1'000'000'000 + opened_.rate - 1) / opened_.rate;
        return TimePoint(std::chrono::nanoseconds(startNs_ + ns));
    }
    void restart() {
        state_ = PcmState::Prepared;
        queued_ = 0;
    }

    platform::testing::FakeClock& clock_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Opened opened_;
    std::vector<Written> writes_;
    PcmState state_ = PcmState::Closed;
    bool open_ = false;
    std::int64_t queued_ = 0;
    std::int64_t startNs_ = 0;
    std::uint64_t waits_ = 0;
    int recovers_ = 0;
    int openError_ = 0, waitError_ = 0, writeError_ = 0, recoverResult_ = 0;
    bool stalled_ = false, gated_ = false, interrupted_ = false;
    int allowance_ = 0;
};

}  // namespace qvp3::testing
