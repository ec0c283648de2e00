// The second standard of software instruments on this system: LV2 instrument
// plug-ins, found through lilv (the folders of LV2_PATH, else the system's,
// and any bundle a caller adds) and run as the instrument filter of the
// instrument graph (dx_filter_graph.h). MIDI reaches an instrument as an atom
// sequence of MIDI events; the URIs it needs are mapped by our own map.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "qvp3_audio/dx_filter_graph.h"

struct LilvWorldImpl;
struct LilvPluginImpl;

namespace qvp3 {

// URIs to numbers and back, for every plug-in of the process; a number once
// given stays. Plug-ins call it while they are made, never while they run.
class CLv2UridMap {
public:
    CLv2UridMap();
    std::uint32_t Map(std::string_view uri);
    // nullptr for a number never given.
    const char* Unmap(std::uint32_t urid) const;
    // The features "urid:map" and "urid:unmap" hand out.
    void* mapFeatureData() { return mapData_.get(); }
    void* unmapFeatureData() { return unmapData_.get(); }

private:
    mutable std::mutex lock_;
    std::unordered_map<std::string, std::uint32_t> ids_;
    std::vector<std::unique_ptr<std::string>> uris_;  // by number - 1; stable addresses
    std::shared_ptr<void> mapData_;
    std::shared_ptr<void> unmapData_;
};

struct Lv2PluginInfo {
    std::string uri;
    std::string name;
    std::filesystem::path bundle;
};

class CLv2World {
public:
    // Loads every bundle lilv finds (unless systemBundles is false), then
    // each of extraBundles (folders ending in ".lv2/").
    explicit CLv2World(const std::vector<std::filesystem::path>& extraBundles = {}, bool systemBundles = true);
    ~CLv2World();
    CLv2World(const CLv2World&) = delete;
    CLv2World& operator=(const CLv2World&) = delete;

    // Every plug-in of the class lv2:InstrumentPlugin, in lilv's order (by URI).
    std::vector<Lv2PluginInfo> Instruments() const;
    const LilvPluginImpl* FindPlugin(std::string_view uri) const;
    LilvWorldImpl* world() const { return world_; }
    CLv2UridMap& urids() { return urids_; }

private:
    LilvWorldImpl* world_ = nullptr;
    CLv2UridMap urids_;
};

// An LV2 instrument as the graph's filter. It is made once to know that it
// loads, and again for another rate or longer blocks than it was made for;
// its control ports are set to their defaults; audio inputs get the source's channels; the first one or
// two audio outputs are its output connection.
// A control input as the instrument's pages show it.
struct Lv2ControlInput {
    std::string symbol;
    std::string name;
    float minimum = 0.0f;
    float maximum = 1.0f;
};

class CDxLv2Filter : public CDxFilter {
public:
    // The instrument of that URI; nullptr with the reason in `problem` when it
    // is not installed, is no instrument we can feed, or asks for features we lack.
    static std::shared_ptr<CDxLv2Filter> Create(std::shared_ptr<CLv2World> world, std::string_view uri,
                                                std::string& problem);
    ~CDxLv2Filter() override;

    std::string Name() const override { return name_; }
    const std::string& uri() const { return uri_; }
    std::uint32_t audioOutputs() const { return static_cast<std::uint32_t>(outputPorts_.size()); }

    // A MIDI message for the next block at its frame (frames count from the
    // block's start; a frame before an earlier event's is raised to it, one
    // beyond the block lands on its last frame). False when the block's
    // event buffer is full: the message is dropped.
    bool QueueMidi(std::uint32_t frame, std::span<const std::uint8_t> message);

    // The instrument's state: the values of its control inputs by port symbol
    // (little-endian "QVL2", a count, then per input the symbol's length, the
    // symbol and the value's float bits). LoadState reads the whole stream
    // before it applies it: a damaged one changes nothing (false); symbols
    // the instrument does not have are skipped. Not while a block renders.
    std::vector<std::uint8_t> SaveState() const;
    bool LoadState(std::span<const std::uint8_t> stream);
    // A control input by its symbol; false / none when it has no such input.
    bool SetControl(std::string_view symbol, float value);
    std::optional<float> Control(std::string_view symbol) const;
    // The control inputs in port order, with their names and ranges.
    std::vector<Lv2ControlInput> ControlInputs() const;

    HRESULT ConnectInput(const DxMediaType& type) override;
    HRESULT ConnectOutput(const DxMediaType& type, CDxBufRendererInputPin& downstream,
                          CDxAllocator& allocator) override;
    void Disconnect() override;
    HRESULT Receive(CDeferZeroFillMediaSample& sample) override;
    HRESULT Run() override;
    HRESULT Pause() override { return S_OK; }
    HRESULT Stop() override;

private:
    struct Impl;
    CDxLv2Filter() = default;
    // Sorts the ports by kind; false with the problem when it cannot be fed.
    bool ClassifyPorts(std::string& problem);
    bool Instantiate(std::uint32_t rate);
    void Release();
    void ConnectPorts(std::uint32_t maxFrames);
    void ResetEvents();

    std::shared_ptr<CLv2World> world_;
    std::unique_ptr<Impl> impl_;
    std::string uri_;
    std::string name_;
    std::vector<std::uint32_t> inputPorts_;
    std::vector<std::uint32_t> outputPorts_;
    std::uint32_t eventPort_ = 0;
    bool hasEventPort_ = false;
    std::uint32_t rate_ = 0;
    bool active_ = false;
    std::uint16_t outputChannels_ = 0;
    std::uint32_t inputBlockAlign_ = 0;
    CDxBufRendererInputPin* downstream_ = nullptr;
    CDxAllocator* allocator_ = nullptr;
};

}  // namespace qvp3
