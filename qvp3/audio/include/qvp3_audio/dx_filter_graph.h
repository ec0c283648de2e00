// The host graph of the second standard's instruments. One instrument filter
// runs between a source of our own, which delivers time-stamped blocks of
// near-silence, and a sink of our own, which keeps the block the instrument
// made; the sample player pulls audio out of the instrument one block at a
// time with RenderBlock. On this system the instruments are LV2 plug-ins
// (CDxLv2Filter, lv2_instrument.h); the graph knows them only as a CDxFilter.
//
// All work, the instrument's included, runs on the caller's thread. The graph
// lock serialises building, tearing down and the transport against a block;
// a block that finds the graph being changed is not waited for: it fails
// with VFW_E_WRONG_STATE and the caller plays silence for it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "qvp3_audio/dx_media.h"

namespace qvp3 {

inline constexpr std::uint32_t kDxDefaultBlockFrames = 441;
inline constexpr std::uint32_t kDxDefaultSampleRate = 44100;

class CDxBufRendererInputPin;

// What the graph needs of an instrument filter: its first input and first
// output pin, the transport, and the delivery of one sample.
class CDxFilter {
public:
    virtual ~CDxFilter() = default;
    virtual std::string Name() const = 0;
    // The first input pin connected from the source with this type.
    virtual HRESULT ConnectInput(const DxMediaType& type) = 0;
    // The first output pin connected to the renderer with this type; its
    // output samples come from allocator.
    virtual HRESULT ConnectOutput(const DxMediaType& type, CDxBufRendererInputPin& downstream,
                                  CDxAllocator& allocator) = 0;
    virtual void Disconnect() = 0;
    // A block from upstream: processed and delivered downstream before it returns.
    virtual HRESULT Receive(CDeferZeroFillMediaSample& sample) = 0;
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Stop() = 0;
};

// The source's output pin ("Plug-in src"): the wave format, its buffer size
// in bytes and the allocator it was given.
class CDxNullSourceStream {
public:
    CDxNullSourceStream(const DxMediaType& type, std::uint32_t bufferBytes) : type_(type), bufferBytes_(bufferBytes) {}
    // Position 0: the stored type; any other: VFW_S_NO_MORE_ITEMS.
    HRESULT GetMediaType(int position, DxMediaType& type) const;
    HRESULT CheckMediaType(const DxMediaType& type) const { return audDxCheckMediaType(type, false); }
    // Two buffers of the stored size; E_FAIL when the allocator grants less.
    HRESULT DecideBufferSize(CDxAllocator& allocator) const;
    void SetAllocator(CDxAllocator* allocator) { allocator_ = allocator; }
    // One block of frames: a buffer filled with kDxFillValue, stamped and
    // handed to the connected filter.
    HRESULT DeliverBlock(CDxFilter& downstream, std::uint32_t frames, std::int64_t startTime, bool discontinuity);

private:
    DxMediaType type_;
    std::uint32_t bufferBytes_ = 0;
    CDxAllocator* allocator_ = nullptr;
};

class CDxNullSource {
public:
    CDxNullSource(const DxMediaType& type, std::uint32_t bufferBytes) : stream(type, bufferBytes) {}
    static constexpr const char* kName = "Plug-in src";
    CDxNullSourceStream stream;
};

// The renderer's input pin "In": the connected format, the graph's
// allocator, and the last sample received (kept until the next one).
class CDxBufRendererInputPin {
public:
    HRESULT CheckMediaType(const DxMediaType& type) const { return audDxCheckMediaType(type); }
    HRESULT SetMediaType(const DxMediaType& type);
    void SetAllocator(CDxAllocator* allocator) { allocator_ = allocator; }
    CDxAllocator* GetAllocator() const { return allocator_; }
    HRESULT Receive(CDeferZeroFillMediaSample& sample);
    HRESULT EndOfStream() { return S_OK; }
    HRESULT CompleteConnect() { return S_OK; }
    void DropSample();
    CDeferZeroFillMediaSample* kept() const { return kept_; }
    const DxMediaType& connected() const { return connected_; }
    static constexpr const char* kName = "In";

private:
    DxMediaType connected_;
    CDxAllocator* allocator_ = nullptr;
    CDeferZeroFillMediaSample* kept_ = nullptr;
};

class CDxBufRenderer {
public:
    explicit CDxBufRenderer(const DxMediaType& type) { pin.SetMediaType(type); }
    CDxBufRendererInputPin pin;
};

class CDxFilterGraph {
public:
    // hr: S_OK, or E_OUTOFMEMORY when the graph's parts cannot be made.
    explicit CDxFilterGraph(HRESULT& hr);
    virtual ~CDxFilterGraph();
    CDxFilterGraph(const CDxFilterGraph&) = delete;
    CDxFilterGraph& operator=(const CDxFilterGraph&) = delete;

    static DxMediaType BuildMediaType(std::uint16_t channels, std::uint32_t rate = kDxDefaultSampleRate) {
        return audDxBuildMediaType(channels, rate);
    }

    // Each of these rebuilds the graph around the (new) instrument, block
    // size or rate; nothing when unchanged. A failed build leaves the graph
    // torn down and returns its error.
    HRESULT SetFilter(std::shared_ptr<CDxFilter> filter);
    HRESULT SetBlockFrames(std::uint32_t frames);  // E_INVALIDARG below 1
    HRESULT SetSampleRate(std::uint32_t rate);     // E_INVALIDARG for 0

    // The transport. Run also marks the next block a discontinuity.
    HRESULT Run();
    HRESULT Pause();
    HRESULT Stop();

    // One block of frames (1..block frames, else E_INVALIDARG) through the
    // instrument: dataOut points at its interleaved floats (valid until the
    // next block or change of the graph), framesOut is its length in frames.
    // E_FAIL when not built.
    HRESULT RenderBlock(std::uint32_t frames, const float*& dataOut, std::uint32_t& framesOut);

    bool built() const { return built_; }
    std::uint32_t blockFrames() const { return blockFrames_; }
    std::uint32_t sampleRate() const { return sampleRate_; }
    std::uint64_t nextSamplePosition() const { return nextSample_; }
    // Channels of the instrument's output connection (2, or 1 for a mono instrument); 0 when not built.
    std::uint16_t outputChannels() const;
    // The sample the renderer keeps: the last block's stamp and flags.
    const CDeferZeroFillMediaSample* keptSample() const;

private:
    HRESULT Rebuild();
    HRESULT Build();
    void TearDown();
    HRESULT ConnectOutput();

    mutable std::mutex lock_;
    bool built_ = false;
    std::shared_ptr<CDxFilter> filter_;
    std::uint32_t blockFrames_ = kDxDefaultBlockFrames;
    std::uint32_t sampleRate_ = kDxDefaultSampleRate;
    std::unique_ptr<CDxNullSource> source_;
    std::unique_ptr<CDxBufRenderer> renderer_;
    std::unique_ptr<CDxAllocator> allocator_;
    std::uint64_t nextSample_ = 0;
    bool discontinuity_ = false;
    bool running_ = false;
};

}  // namespace qvp3
