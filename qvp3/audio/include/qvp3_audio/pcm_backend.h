// The PCM playback device below the output device: a ring of a few periods of
// interleaved 16-bit frames. The output device speaks only to this interface;
// the ALSA backend plays into a real device, tests use a fake one driven by a
// fake clock. All sizes are in frames; only the output device deals in bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/real_time_clock.h"

namespace qvp3 {

enum class PcmState { Closed, Prepared, Running, XRun, Suspended, Disconnected, Other };

enum class PcmWait {
    Ready,        // at least one period can be written
    TimedOut,     // the deadline passed first
    Interrupted,  // interrupt() was called
    Failed,       // the device failed; error holds the negative errno
};

struct PcmWaitResult {
    PcmWait what = PcmWait::Failed;
    int error = 0;
};

class PcmBackend {
public:
    using TimePoint = platform::RealTimeClock::TimePoint;

    virtual ~PcmBackend() = default;

    // Opens the named device for interleaved signed 16-bit frames with a ring
    // of `periods` periods of `periodFrames` frames. It starts on its own once
    // the ring is full. 0 or a negative errno.
    virtual int open(const std::string& name, unsigned rate, unsigned channels, std::uint32_t periodFrames,
                     unsigned periods) = 0;
    // Waits until a whole period can be written.
    virtual PcmWaitResult waitPeriod(TimePoint deadline) = 0;
    // Ends a wait early; any thread may call it. A call while nobody waits
    // makes the next wait return Interrupted.
    virtual void interrupt() = 0;
    // Writes up to `frames` frames without blocking: the frames written
    // (0 when the ring is full) or a negative errno (-EPIPE after an underrun).
    virtual long write(const std::int16_t* interleaved, std::uint32_t frames) = 0;
    // Makes the device play on after `error` (an underrun or a suspend); the
    // ring is empty afterwards. 0 or a negative errno.
    virtual int recover(int error) = 0;
    // Discards what is queued and gets ready to start again. 0 or a negative errno.
    virtual int drop() = 0;
    virtual PcmState state() const = 0;
    virtual void close() = 0;
};

// The ALSA PCM backend. Devices that keep no time of their own (ALSA's
// "null" and "file" plug-ins) are paced by the steady clock, as a card would be.
std::unique_ptr<PcmBackend> audMakeAlsaPcmBackend();

struct PcmDeviceInfo {
    std::string name;         // what the device opens by ("default", "hw:CARD=PCH,DEV=0", ...)
    std::string description;  // for display, one line
    bool isDefault = false;   // the default device, always first; kept, never offered
};

// The PCM playback devices from the ALSA hints, the default device first.
std::vector<PcmDeviceInfo> audEnumPcmDevices();

}  // namespace qvp3
