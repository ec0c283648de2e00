// The low-latency driver as the ASIO host drives it: our own declaration of
// what the host asks of a driver (channels, buffer sizes, sample rate, the
// double buffers and the buffer-switch callbacks). On this system the JACK
// backend implements it, one driver per JACK server; tests use a fake.
//
// Result codes, selectors, flags and sample types keep the numbers the
// drivers' published interface gives them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qvp3_audio/asio_samples.h"

namespace qvp3 {

using AsioError = std::int32_t;
inline constexpr AsioError kAsioOk = 0;
inline constexpr AsioError kAsioSuccess = 0x3f4847a0;  // "supported" answer of a few queries
inline constexpr AsioError kAsioNotPresent = -1000;
inline constexpr AsioError kAsioHwMalfunction = -999;
inline constexpr AsioError kAsioInvalidParameter = -998;
inline constexpr AsioError kAsioInvalidMode = -997;
inline constexpr AsioError kAsioNoClock = -995;
inline constexpr AsioError kAsioNoMemory = -994;

inline bool asioSucceeded(AsioError e) { return e == kAsioOk || e == kAsioSuccess; }

// The selectors of the driver's message callback.
enum class AsioMessageSelector : std::int32_t {
    SelectorSupported = 1,
    EngineVersion = 2,
    ResetRequest = 3,
    BufferSizeChange = 4,
    ResyncRequest = 5,
    LatenciesChanged = 6,
    SupportsTimeInfo = 7,
    SupportsTimeCode = 8,
};

// Flags of AsioTimeInfo and AsioTimeCode.
inline constexpr std::uint32_t kAsioSystemTimeValid = 1;
inline constexpr std::uint32_t kAsioSamplePositionValid = 2;
inline constexpr std::uint32_t kAsioSampleRateValid = 4;
inline constexpr std::uint32_t kAsioTimeCodeValid = 1;

struct AsioTimeInfo {
    double speed = 0.0;
    std::int64_t systemTimeNs = 0;
    std::int64_t samplePosition = 0;
    double sampleRate = 0.0;
    std::uint32_t flags = 0;
};

struct AsioTimeCode {
    double speed = 0.0;
    std::int64_t timeCodeSamples = 0;
    std::uint32_t flags = 0;
};

// The time record of one buffer switch.
struct AsioTime {
    AsioTimeInfo timeInfo;
    AsioTimeCode timeCode;
};

// One channel's double buffer: the driver fills in the two halves. A driver
// whose buffers move (the JACK backend) stores the current half's pointer
// before each buffer switch.
struct AsioBufferInfo {
    bool isInput = false;
    std::int32_t channel = 0;
    void* buffers[2] = {nullptr, nullptr};
};

struct AsioChannelInfo {
    std::int32_t channel = 0;  // in: which channel
    bool isInput = false;      // in: of which direction
    bool active = false;
    std::int32_t group = 0;
    AsioSampleType type = AsioSampleType::Float32LE;
    std::string name;
};

// What the driver calls. The buffer switch runs on the driver's audio thread;
// outputLost on a thread of the driver's that is not its audio thread.
struct AsioCallbacks {
    void (*bufferSwitch)(std::int32_t index, bool directProcess) = nullptr;
    void (*sampleRateDidChange)(double rate) = nullptr;
    std::int32_t (*asioMessage)(std::int32_t selector, std::int32_t value, void* message, double* opt) = nullptr;
    AsioTime* (*bufferSwitchTimeInfo)(AsioTime* time, std::int32_t index, bool directProcess) = nullptr;
    // The device went away while the driver was loaded (the JACK server
    // stopped); reason is the driver's text. No buffer switch follows.
    void (*outputLost)(const char* reason) = nullptr;
};

class IAsioDriver {
public:
    virtual ~IAsioDriver() = default;

    // sysRef is the host's notification target (may be null). False on
    // failure, with getErrorMessage() telling why.
    virtual bool init(void* sysRef) = 0;
    virtual std::string getDriverName() const = 0;
    virtual std::int32_t getDriverVersion() const = 0;
    virtual std::string getErrorMessage() const = 0;
    virtual AsioError start() = 0;
    virtual AsioError stop() = 0;
    virtual AsioError getChannels(std::int32_t& inputs, std::int32_t& outputs) = 0;
    virtual AsioError getLatencies(std::int32_t& input, std::int32_t& output) = 0;
    virtual AsioError getBufferSize(std::int32_t& minSize, std::int32_t& maxSize, std::int32_t& preferred,
                                    std::int32_t& granularity) = 0;
    virtual AsioError getSampleRate(double& rate) = 0;
    virtual AsioError setSampleRate(double rate) = 0;
    // Fills the record whose channel and isInput are set.
    virtual AsioError getChannelInfo(AsioChannelInfo& info) = 0;
    // infos stays the host's and must live until disposeBuffers; every buffer
    // holds bufferSize frames (or the size a later BufferSizeChange message
    // announced and the host accepted).
    virtual AsioError createBuffers(AsioBufferInfo* infos, std::int32_t count, std::int32_t bufferSize,
                                    const AsioCallbacks* callbacks) = 0;
    virtual AsioError disposeBuffers() = 0;
    virtual AsioError getSamplePosition(std::int64_t& samplePosition, std::int64_t& systemTimeNs) = 0;
    virtual AsioError outputReady() = 0;
};

// One row of the driver list: a name and how to make the driver.
struct AsioDriverSource {
    std::string name;
    std::function<std::unique_ptr<IAsioDriver>()> create;
};

// The drivers of this system: the default JACK server, and the server named
// by $JACK_DEFAULT_SERVER when that is set and not the default.
std::vector<AsioDriverSource> systemAsioDrivers();

}  // namespace qvp3
