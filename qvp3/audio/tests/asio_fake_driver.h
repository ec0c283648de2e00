// A driver for the ASIO host's tests: channels, sizes, rate and sample type as
// configured, double buffers in memory, and the buffer switch called by the
// test. What the host did to it stays readable after the host released it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "qvp3_audio/asio_driver.h"

namespace qvp3::testing {

struct FakeDriverState {
    // Configuration.
    std::int32_t inputs = 1, outputs = 2;
    std::int32_t minSize = 64, maxSize = 8192, preferred = 1024, granularity = -1;
    double rate = 44100.0;
    bool rateSettable = true;
    bool outputReadySupported = false;
    AsioSampleType type = AsioSampleType::Int32LE;
    std::string failAt;  // "init", "channels", "sizes", "rate", "setRate", "buffers"
    // What happened.
    bool alive = false;
    int created = 0, starts = 0, stops = 0, outputReadies = 0;
    std::vector<double> ratesSet;
    std::int32_t bufferSize = 0;
    AsioBufferInfo* infos = nullptr;
    std::int32_t infoCount = 0;
    const AsioCallbacks* callbacks = nullptr;
    // memory[record][half]: the double buffers.
    std::vector<std::vector<std::vector<unsigned char>>> memory;

    std::size_t bytesPerBuffer() const { return static_cast<std::size_t>(bufferSize) * asioSampleBytes(type); }
    unsigned char* buffer(std::int32_t record, int half) { return memory.at(record).at(half).data(); }
    // One buffer switch as the driver's thread would call it; whether a host took it.
    bool bufferSwitch(int half, bool directProcess, std::int64_t systemTimeNs = 0) {
        AsioTime time{};
        time.timeInfo.systemTimeNs = systemTimeNs;
        time.timeInfo.flags = systemTimeNs != 0 ? kAsioSystemTimeValid : 0;
        return callbacks != nullptr && callbacks->bufferSwitchTimeInfo(&time, half, directProcess) == &time;
    }
};

class FakeDriver : public IAsioDriver {
public:
    explicit FakeDriver(std::shared_ptr<FakeDriverState> state) : s_(std::move(state)) {
        s_->alive = true;
        ++s_->created;
    }
    ~FakeDriver() override {
        s_->alive = false;
        s_->callbacks = nullptr;
    }

    bool init(void*) override { return s_->failAt != "init"; }
    std::string getDriverName() const override { return "Fake"; }
    std::int32_t getDriverVersion() const override { return 7; }
    std::string getErrorMessage() const override { return "the fake device is unplugged"; }
    AsioError start() override { return ++s_->starts, kAsioOk; }
    AsioError stop() override { return ++s_->stops, kAsioOk; }
    AsioError getChannels(std::int32_t& in, std::int32_t& out) override {
        in = s_->inputs;
        out = s_->outputs;
        return fails("channels");
    }
    AsioError getLatencies(std::int32_t& in, std::int32_t& out) override {
        in = 11;
        out = 22;
        return kAsioOk;
    }
    AsioError getBufferSize(std::int32_t& mn, std::int32_t& mx, std::int32_t& pref, std::int32_t& gran) override {
        mn = s_->minSize;
        mx = s_->maxSize;
        pref = s_->preferred;
        gran = s_->granularity;
        return fails("sizes");
    }
    AsioError getSampleRate(double& rate) override {
        rate = s_->rate;
        return fails("rate");
    }
    AsioError setSampleRate(double rate) override {
        s_->ratesSet.push_back(rate);
        if (!s_->rateSettable) return kAsioNoClock;
        s_->rate = rate;
        return kAsioOk;
    }
    AsioError getChannelInfo(AsioChannelInfo& info) override {
        info.active = true;
        info.type = s_->type;
        return kAsioOk;
    }
    AsioError createBuffers(AsioBufferInfo* infos, std::int32_t count, std::int32_t size,
                            const AsioCallbacks* callbacks) override {
        if (s_->failAt == "buffers") return kAsioNoMemory;
        s_->bufferSize = size;
        s_->infos = infos;
        s_->infoCount = count;
        s_->callbacks = callbacks;
        s_->memory.assign(static_cast<std::size_t>(count), {});
        for (std::int32_t i = 0; i < count; ++i) {
            auto& halves = s_->memory[static_cast<std::size_t>(i)];
            halves.assign(2, std::vector<unsigned char>(s_->bytesPerBuffer()));
            infos[i].buffers[0] = halves[0].data();
            infos[i].buffers[1] = halves[1].data();
        }
        return kAsioOk;
    }
    AsioError disposeBuffers() override {
        s_->callbacks = nullptr;
        return kAsioOk;
    }
    AsioError getSamplePosition(std::int64_t& pos, std::int64_t& ns) override {
        pos = 0;
        ns = 0;
        return kAsioOk;
    }
    AsioError outputReady() override {
        if (!s_->outputReadySupported) return kAsioNotPresent;
        ++s_->outputReadies;
        return kAsioOk;
    }

private:
    AsioError fails(const char* step) const { return s_->failAt == step ? kAsioHwMalfunction : kAsioOk; }
    std::shared_ptr<FakeDriverState> s_;
};

inline AsioDriverSource fakeDriverSource(const std::string& name, std::shared_ptr<FakeDriverState> state) {
    return {name, [state] { return std::make_unique<FakeDriver>(state); }};
}

}  // namespace qvp3::testing
