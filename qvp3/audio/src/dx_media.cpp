// The instrument graph's media type, samples and allocator.
#include "qvp3_audio/dx_media.h"

#include <algorithm>
#include <new>

namespace qvp3 {

DxMediaType audDxBuildMediaType(std::uint16_t channels, std::uint32_t rate) {
    DxMediaType type;
    type.format.wFormatTag = kWaveFormatIeeeFloat;
    type.format.nChannels = channels;
    type.format.nSamplesPerSec = rate;
    type.format.nBlockAlign = static_cast<std::uint16_t>(channels * 4);
    type.format.nAvgBytesPerSec = type.format.nBlockAlign * rate;
    type.format.wBitsPerSample = 32;
    type.format.cbSize = 0;
    type.sampleSize = type.format.nBlockAlign;
    return type;
}

HRESULT audDxCheckMediaType(const DxMediaType& type, bool checkFormat) {
    if (!type.majorAudio || (checkFormat && !type.formatWaveEx)) return E_INVALIDARG;
    if (!type.fixedSizeSamples || type.temporalCompression) return E_INVALIDARG;
    const WaveFormatEx& f = type.format;
    if (f.wFormatTag != kWaveFormatIeeeFloat || f.wBitsPerSample != 32) return E_INVALIDARG;
    return f.nChannels == 1 || f.nChannels == 2 ? S_OK : E_INVALIDARG;
}

// --- samples ---------------------------------------------------------------------

float* CDeferZeroFillMediaSample::GetPointer() {
    if (needsFill) {
        const std::uint32_t bytes = actualLength_ > size_ ? size_ : actualLength_;
        std::fill_n(data_, (bytes == 0 ? size_ : bytes) / sizeof(float), kDxFillValue);
        needsFill = false;
    }
    return data_;
}

HRESULT CDeferZeroFillMediaSample::SetActualDataLength(std::uint32_t length) {
    if (length > size_) return E_INVALIDARG;
    actualLength_ = length;
    return S_OK;
}

void CDeferZeroFillMediaSample::Release() {
    if (refs_ > 0 && --refs_ == 0 && owner_ != nullptr) owner_->Return(this);
}

// --- the allocator -------------------------------------------------------------

HRESULT CDxAllocator::SetProperties(std::uint32_t count, std::uint32_t size, std::uint32_t& countOut,
                                    std::uint32_t& sizeOut) {
    if (committed_) return E_INVALIDARG;
    count_ = std::min(count, kDxMaxBuffers);
    size_ = (size + kDxBufferAlign - 1) / kDxBufferAlign * kDxBufferAlign;
    countOut = count_;
    sizeOut = size_;
    return S_OK;
}

void CDxAllocator::GetProperties(std::uint32_t& count, std::uint32_t& size) const {
    count = count_;
    size = size_;
}

HRESULT CDxAllocator::Commit() {
    if (committed_) return S_OK;
    if (count_ == 0 || size_ == 0) return VFW_E_NOT_COMMITTED;
    try {
        block_.assign(static_cast<std::size_t>(count_) * size_ / sizeof(float), 0.0f);
        samples_ = std::vector<CDeferZeroFillMediaSample>(count_);
        free_.clear();
        free_.reserve(count_);
    } catch (const std::bad_alloc&) {
        block_.clear();
        samples_.clear();
        return E_OUTOFMEMORY;
    }
    for (std::uint32_t i = 0; i < count_; ++i) {
        CDeferZeroFillMediaSample& s = samples_[i];
        s.owner_ = this;
        s.data_ = block_.data() + static_cast<std::size_t>(i) * size_ / sizeof(float);
        s.size_ = size_;
        free_.push_back(&s);
    }
    committed_ = true;
    return S_OK;
}

void CDxAllocator::Decommit() {
    committed_ = false;
    free_.clear();
    samples_.clear();
    block_.clear();
}

HRESULT CDxAllocator::GetBuffer(CDeferZeroFillMediaSample*& sample) {
    sample = nullptr;
    if (!committed_) return VFW_E_NOT_COMMITTED;
    if (free_.empty()) return VFW_E_TIMEOUT;
    sample = free_.back();
    free_.pop_back();
    sample->refs_ = 1;
    sample->needsFill = true;
    sample->actualLength_ = 0;
    sample->startTime = 0;
    sample->discontinuity = false;
    return S_OK;
}

void CDxAllocator::Return(CDeferZeroFillMediaSample* sample) {
    if (committed_) free_.push_back(sample);  // capacity reserved for every sample
}

}  // namespace qvp3
