// The ASIO host: drives one low-latency driver for the VST render host. It
// lists the drivers (on this system the JACK servers, see asio_driver.h),
// opens one with a chosen buffer size, converts the driver's input channels
// to float, has the render worker fill two float channels in the driver's
// buffer switch, and converts them back into the driver's sample type.
//
// Only one host owns the driver at a time, from its Open to its Close; the
// driver's callbacks reach that host and nobody else. Open, Start, Stop and
// Close run on the user-interface thread; the buffer switch on the driver's
// audio thread, where nothing locks or allocates.
//
// When the driver's device goes away while the host holds it (the JACK
// server stopped), the host marks itself closed and stopped, keeps the
// driver's text as its error message and posts WM_COMMAND ID_AUDIO_OUTPUT_LOST
// to its notification window; its owner then calls Close.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/message_target.h"
#include "qvp3_audio/asio_driver.h"
#include "qvp3_audio/render_worker.h"

namespace qvp3 {

// Commands posted as WM_COMMAND to the notification window.
inline constexpr std::uint32_t ID_AUDIO_RESYNC = 32920;
inline constexpr std::uint32_t ID_AUDIO_OUTPUT_LOST = 32921;

inline constexpr AsioError kAsioNoSuchDriver = -5003;
// Channels used per direction, display names kept, and the length of a
// driver name before it is cut to 28 characters and "...".
inline constexpr int kAsioMaxChannels = 32;
inline constexpr int kAsioMaxNames = 40;
inline constexpr std::size_t kAsioMaxDriverName = 31;

// The installed drivers, numbered from 0 in the order given, each loaded on
// demand.
class AsioDriverList {
public:
    explicit AsioDriverList(std::vector<AsioDriverSource> drivers);
    virtual ~AsioDriverList();
    AsioDriverList(const AsioDriverList&) = delete;
    AsioDriverList& operator=(const AsioDriverList&) = delete;

    int DriverCount() const { return static_cast<int>(entries_.size()); }
    // kAsioOk with the (cut) name, kAsioNoSuchDriver for a number outside the list.
    AsioError DriverName(int number, std::string& name) const;

protected:
    struct Entry {
        int number = 0;
        std::string name;
        std::function<std::unique_ptr<IAsioDriver>()> create;
        std::unique_ptr<IAsioDriver> driver;  // when loaded
    };
    std::vector<Entry> entries_;
};

// Loads and unloads the current driver.
class AsioDrivers : public AsioDriverList {
public:
    explicit AsioDrivers(std::vector<AsioDriverSource> drivers);
    ~AsioDrivers() override;

    // Releases the current driver and creates the named one; when that
    // fails, the previous driver is created again and the result is false.
    // False, nothing changed, when no driver has the name.
    bool loadDriver(const std::string& name);
    void removeCurrentDriver();
    IAsioDriver* currentDriver() const;

private:
    int current_ = -1;
};

class CAsioHost : public AsioDrivers {
public:
    explicit CAsioHost(std::vector<AsioDriverSource> drivers);
    ~CAsioHost() override;  // Close

    // Loads and initialises the named driver, chooses the buffer size from
    // the request (ChooseBufferSize; the choice is reported back), checks the
    // sample rate and creates the buffers. False at once when another host
    // owns the driver; any other failure unloads the driver again.
    virtual bool Open(const std::string& driverName, std::int32_t& bufferSizeInOut);
    // Stops and unloads the driver this host holds; nothing otherwise.
    virtual void Close();
    // The reference handed to the driver's init.
    virtual void* GetSysRef() { return nullptr; }
    virtual AsioTime* BufferSwitchTimeInfo(AsioTime* time, std::int32_t index, bool directProcess);
    virtual void SampleRateDidChange(double rate) { sampleRate_ = rate; }
    // Selectors 1..8 go to the operations below; others answer 0.
    virtual std::int32_t AsioMessage(std::int32_t selector, std::int32_t value, void* message, double* opt);
    virtual std::int32_t SelectorSupported(std::int32_t selector);
    virtual std::int32_t EngineVersion() { return 2; }
    virtual std::int32_t ResetRequest() { return 1; }
    virtual std::int32_t BufferSizeChange(std::int32_t) { return 0; }
    virtual std::int32_t ResyncRequest() { return 0; }
    virtual std::int32_t LatenciesChanged();
    virtual std::int32_t SupportsTimeInfo() { return 1; }
    virtual std::int32_t SupportsTimeCode() { return 1; }
    // The driver's device went away: closed and stopped, reason kept.
    virtual void OutputLost(const std::string& reason);

    // Starts the opened driver; refused when another host owns it.
    bool Start();
    // Stops the driver; the host stays open.
    bool Stop();

    // The buffer size for a request: granularity -1 rounds up to a power of
    // two, 0 takes the preferred size, 1 the request, more rounds up to a
    // multiple of it; then clamped to minSize..maxSize.
    static std::int32_t ChooseBufferSize(std::int32_t request, std::int32_t minSize, std::int32_t maxSize,
                                         std::int32_t preferred, std::int32_t granularity);
    // The host that owns the driver, if any.
    static CAsioHost* Owner();

    bool IsOpen() const { return loaded_.load(); }
    bool IsStarted() const { return started_.load(); }
    std::int32_t BufferSize() const { return bufferSize_.load(); }
    double SampleRate() const { return sampleRate_.load(); }
    std::int32_t InputChannels() const { return inputChannels_; }
    std::int32_t OutputChannels() const { return outputChannels_; }
    std::int32_t InputBuffers() const { return numInputBuffers_; }
    std::int32_t OutputBuffers() const { return numOutputBuffers_; }
    std::int32_t InputLatency() const { return inputLatency_.load(); }
    std::int32_t OutputLatency() const { return outputLatency_.load(); }
    bool OutputReadySupported() const { return postOutput_; }
    std::string LoadedDriverName() const;
    // The driver information record's error message.
    std::string ErrorMessage() const;

protected:
    // The channel's sample type, as the driver reported it (record index:
    // inputs first, then outputs).
    AsioSampleType SampleTypeOf(int record) const { return channelInfos_[record].type; }
    std::array<AsioBufferInfo, 2 * kAsioMaxChannels> bufferInfos_{};
    std::int32_t numInputBuffers_ = 0;
    std::int32_t numOutputBuffers_ = 0;
    bool postOutput_ = false;
    std::atomic<std::int32_t> bufferSize_{0};
    // Of the last buffer switch (audio thread only).
    AsioTime time_{};
    double systemTimeNs_ = 0.0;
    double samplePosition_ = 0.0;
    double timeCodeSamples_ = 0.0;
    std::int64_t lastSwitchMs_ = 0;

private:
    bool claimOwnership();
    void releaseOwnership();
    bool failOpen();
    AsioError initDriver();
    bool readChannelsAndSizes(std::int32_t& bufferSizeInOut);
    bool readSampleRate();
    bool createBuffers();
    void setErrorMessage(std::string text);

    static void onBufferSwitch(std::int32_t index, bool directProcess);
    static void onSampleRateDidChange(double rate);
    static std::int32_t onAsioMessage(std::int32_t selector, std::int32_t value, void* message, double* opt);
    static AsioTime* onBufferSwitchTimeInfo(AsioTime* time, std::int32_t index, bool directProcess);
    static void onOutputLost(const char* reason);
    static const AsioCallbacks kCallbacks;

    std::atomic<bool> loaded_{false};
    std::atomic<bool> started_{false};
    bool buffersCreated_ = false;
    // The driver information record.
    std::int32_t asioVersion_ = 2;
    std::int32_t driverVersion_ = 0;
    std::string driverName_;
    mutable std::mutex errorLock_;  // the message changes on the driver's thread when its device goes
    std::string errorMessage_;
    void* sysRef_ = nullptr;
    std::int32_t inputChannels_ = 0;
    std::int32_t outputChannels_ = 0;
    std::int32_t minSize_ = 0;
    std::int32_t maxSize_ = 0;
    std::int32_t preferredSize_ = 0;
    std::int32_t granularity_ = 0;
    std::atomic<double> sampleRate_{0.0};
    std::atomic<std::int32_t> inputLatency_{0};
    std::atomic<std::int32_t> outputLatency_{0};
    std::array<AsioChannelInfo, 2 * kAsioMaxChannels> channelInfos_{};
};

class CSpecAsioHost : public CAsioHost {
public:
    // Reads the system's drivers (the JACK servers).
    CSpecAsioHost();
    explicit CSpecAsioHost(std::vector<AsioDriverSource> drivers);
    ~CSpecAsioHost() override;  // Close

    // The base Open, then float buffers of the chosen size.
    bool Open(const std::string& driverName, std::int32_t& bufferSizeInOut) override;
    void* GetSysRef() override { return notifyWindow_.load(); }
    // Inputs to float, the render hand-off (RenderNow when directProcess,
    // else Trigger; without a worker the input passes through).
    AsioTime* BufferSwitchTimeInfo(AsioTime* time, std::int32_t index, bool directProcess) override;
    std::int32_t BufferSizeChange(std::int32_t size) override;
    std::int32_t ResyncRequest() override;
    void OutputLost(const std::string& reason) override;

    // Converts the two channels into the enabled output channels of the
    // current half, at most BufferSize() frames (the rest of a shorter block
    // is silence), then tells the driver when it wants to know. Called by the
    // render routine during the buffer switch; does nothing when the host has
    // no buffers.
    void WriteOutputs(float* const* channels, std::uint32_t frames);
    // The host's own float buffers (the pass-through).
    void WriteOutputs();

    // Not owned; the worker must outlive the host's open state.
    void SetRenderWorker(CWorkThread* worker) { worker_.store(worker); }
    void SetNotificationWindow(platform::MessageTarget* window) { notifyWindow_.store(window); }

    // Display names "ASIO: " + driver name, for the first kAsioMaxNames drivers.
    int NameCount() const { return static_cast<int>(names_.size()); }
    const std::string& DisplayName(int i) const { return names_.at(static_cast<std::size_t>(i)); }
    // The sound page's choice per driver (enabled at construction).
    bool DriverEnabled(int i) const;
    void SetDriverEnabled(int i, bool enabled);
    // Per channel, inputs first, then outputs; all enabled at construction.
    bool ChannelEnabled(int i) const;
    void SetChannelEnabled(int i, bool enabled);

    // The float buffers' length in frames.
    std::uint32_t FloatBufferFrames() const { return floatFrames_.load(); }

private:
    bool allocateFloatBuffers(std::uint32_t frames);
    void readInputs(std::int32_t index, std::uint32_t frames);

    std::atomic<platform::MessageTarget*> notifyWindow_{nullptr};
    std::atomic<CWorkThread*> worker_{nullptr};
    std::atomic<std::uint32_t> floatFrames_{0};
    std::vector<float> left_;
    std::vector<float> right_;
    float* pair_[2] = {nullptr, nullptr};
    std::atomic<std::int32_t> half_{0};
    std::array<std::atomic<std::uint8_t>, 2 * kAsioMaxChannels> channelEnabled_;
    std::vector<std::string> names_;
    std::vector<std::uint8_t> driverEnabled_;
};

}  // namespace qvp3
