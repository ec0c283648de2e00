// The media of the instrument graph (dx_filter_graph.h): the one media type
// of its connections (interleaved 32-bit float audio at the graph's rate),
// the media samples that carry a block, and the allocator that owns their
// buffers. Everything is made when the graph is built; a block only takes a
// free sample and gives it back, so rendering never allocates.
#pragma once

#include <cstdint>
#include <vector>

#include "qvp3_pipeline/wave_file.h"

namespace qvp3 {

inline constexpr HRESULT VFW_S_NO_MORE_ITEMS = 0x00040103;
inline constexpr HRESULT VFW_E_NOT_COMMITTED = static_cast<HRESULT>(0x80040211u);
inline constexpr HRESULT VFW_E_NOT_RUNNING = static_cast<HRESULT>(0x80040226u);
inline constexpr HRESULT VFW_E_WRONG_STATE = static_cast<HRESULT>(0x80040227u);
inline constexpr HRESULT VFW_E_TIMEOUT = static_cast<HRESULT>(0x8004022Eu);

inline constexpr std::uint16_t kWaveFormatIeeeFloat = 3;
// What a deferred fill writes: a float so small that it is silence, and that
// keeps instruments that test their input for zero from going idle.
inline constexpr float kDxFillValue = 1e-30f;
inline constexpr std::uint32_t kDxMaxBuffers = 2;
inline constexpr std::uint32_t kDxBufferAlign = 16;

struct DxMediaType {
    bool majorAudio = true;
    bool formatWaveEx = true;
    bool fixedSizeSamples = true;
    bool temporalCompression = false;
    std::uint32_t sampleSize = 0;
    WaveFormatEx format;  // 18 bytes, no extra
};

// The graph's type: IEEE float, channels, rate, 32 bits, block align channels x 4.
DxMediaType audDxBuildMediaType(std::uint16_t channels, std::uint32_t rate);
// What the graph's own pins take: audio, fixed-size, uncompressed, float of
// 32 bits, one or two channels; checkFormat as well for the wave format
// (the source pin leaves that out). S_OK or E_INVALIDARG.
HRESULT audDxCheckMediaType(const DxMediaType& type, bool checkFormat = true);

class CDxAllocator;

// One buffer of the allocator. GetPointer on a sample marked for the
// deferred fill first fills its actual length (all of it when the length is
// out of range) with kDxFillValue.
class CDeferZeroFillMediaSample {
public:
    float* GetPointer();
    std::uint32_t GetSize() const { return size_; }
    std::uint32_t GetActualDataLength() const { return actualLength_; }
    HRESULT SetActualDataLength(std::uint32_t length);
    void AddRef() { ++refs_; }
    // The last release gives the sample back to its allocator.
    void Release();

    std::int64_t startTime = 0;  // 100-ns units
    bool discontinuity = false;
    bool needsFill = false;

private:
    friend class CDxAllocator;
    CDxAllocator* owner_ = nullptr;
    float* data_ = nullptr;
    std::uint32_t size_ = 0;
    std::uint32_t actualLength_ = 0;
    int refs_ = 0;
};

// All buffers in one block, taken and given back through a free list.
class CDxAllocator {
public:
    // Asks for count buffers of size bytes; grants at most kDxMaxBuffers, the
    // size rounded up to kDxBufferAlign. E_INVALIDARG while committed.
    HRESULT SetProperties(std::uint32_t count, std::uint32_t size, std::uint32_t& countOut, std::uint32_t& sizeOut);
    void GetProperties(std::uint32_t& count, std::uint32_t& size) const;
    HRESULT Commit();  // E_OUTOFMEMORY when the block cannot be had
    void Decommit();
    bool committed() const { return committed_; }
    // A free sample marked for the deferred fill, with one reference;
    // VFW_E_NOT_COMMITTED, or VFW_E_TIMEOUT when every buffer is in use.
    HRESULT GetBuffer(CDeferZeroFillMediaSample*& sample);
    std::size_t freeCount() const { return free_.size(); }

private:
    friend class CDeferZeroFillMediaSample;
    void Return(CDeferZeroFillMediaSample* sample);

    std::uint32_t count_ = 0;
    std::uint32_t size_ = 0;
    bool committed_ = false;
    std::vector<float> block_;
    std::vector<CDeferZeroFillMediaSample> samples_;
    std::vector<CDeferZeroFillMediaSample*> free_;
};

}  // namespace qvp3
