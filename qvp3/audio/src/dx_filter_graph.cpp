// The instrument graph: its own source and renderer around one instrument filter.
#include "qvp3_audio/dx_filter_graph.h"

#include <new>

namespace qvp3 {

// --- the source ------------------------------------------------------------------

HRESULT CDxNullSourceStream::GetMediaType(int position, DxMediaType& type) const {
    if (position != 0) return VFW_S_NO_MORE_ITEMS;
    type = type_;
    return S_OK;
}

HRESULT CDxNullSourceStream::DecideBufferSize(CDxAllocator& allocator) const {
    std::uint32_t count = 0;
    std::uint32_t size = 0;
    const HRESULT hr = allocator.SetProperties(kDxMaxBuffers, bufferBytes_, count, size);
    if (hr != S_OK) return hr;
    return count < kDxMaxBuffers || size < bufferBytes_ ? E_FAIL : S_OK;
}

HRESULT CDxNullSourceStream::DeliverBlock(CDxFilter& downstream, std::uint32_t frames, std::int64_t startTime,
                                          bool discontinuity) {
    if (allocator_ == nullptr) return VFW_E_NOT_COMMITTED;
    CDeferZeroFillMediaSample* sample = nullptr;
    HRESULT hr = allocator_->GetBuffer(sample);
    if (hr != S_OK) return hr;
    sample->startTime = startTime;
    sample->discontinuity = discontinuity;
    hr = sample->SetActualDataLength(frames * type_.format.nBlockAlign);
    if (hr == S_OK) {
        sample->GetPointer();  // the deferred fill: kDxFillValue over the block
        hr = downstream.Receive(*sample);
    }
    sample->Release();
    return hr;
}

// --- the renderer ------------------------------------------------------------------

HRESULT CDxBufRendererInputPin::SetMediaType(const DxMediaType& type) {
    // The fixed part of the wave format and the extra size; no extra bytes are kept.
    connected_ = type;
    connected_.format.extra.clear();
    return S_OK;
}

HRESULT CDxBufRendererInputPin::Receive(CDeferZeroFillMediaSample& sample) {
    sample.AddRef();
    DropSample();
    kept_ = &sample;
    return S_OK;
}

void CDxBufRendererInputPin::DropSample() {
    if (kept_ != nullptr) kept_->Release();
    kept_ = nullptr;
}

// --- the graph ---------------------------------------------------------------------

CDxFilterGraph::CDxFilterGraph(HRESULT& hr) {
    try {
        allocator_ = std::make_unique<CDxAllocator>();
        hr = S_OK;
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
}

CDxFilterGraph::~CDxFilterGraph() {
    Stop();
    std::lock_guard guard(lock_);
    TearDown();
}

HRESULT CDxFilterGraph::SetFilter(std::shared_ptr<CDxFilter> filter) {
    std::lock_guard guard(lock_);
    if (filter == filter_) return S_OK;
    TearDown();
    filter_ = std::move(filter);
    return Rebuild();
}

HRESULT CDxFilterGraph::SetBlockFrames(std::uint32_t frames) {
    if (frames < 1) return E_INVALIDARG;
    std::lock_guard guard(lock_);
    if (frames == blockFrames_) return S_OK;
    TearDown();
    blockFrames_ = frames;
    return Rebuild();
}

HRESULT CDxFilterGraph::SetSampleRate(std::uint32_t rate) {
    if (rate < 1) return E_INVALIDARG;
    std::lock_guard guard(lock_);
    if (rate == sampleRate_) return S_OK;
    TearDown();
    sampleRate_ = rate;
    return Rebuild();
}

HRESULT CDxFilterGraph::Rebuild() {
    const HRESULT hr = Build();
    if (hr != S_OK) TearDown();
    return hr;
}

HRESULT CDxFilterGraph::Build() {
    if (built_) return S_OK;
    if (!filter_ || !allocator_) return E_FAIL;
    const DxMediaType a = BuildMediaType(2, sampleRate_);
    try {
        renderer_ = std::make_unique<CDxBufRenderer>(a);
        source_ = std::make_unique<CDxNullSource>(a, blockFrames_ * 8);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    renderer_->pin.SetAllocator(allocator_.get());
    HRESULT hr = source_->stream.DecideBufferSize(*allocator_);
    if (hr != S_OK) return hr;
    source_->stream.SetAllocator(allocator_.get());
    hr = filter_->ConnectInput(a);
    if (hr != S_OK) return hr;
    if ((hr = ConnectOutput()) != S_OK) return hr;
    if ((hr = allocator_->Commit()) != S_OK) return hr;
    built_ = true;
    return running_ ? filter_->Run() : S_OK;
}

HRESULT CDxFilterGraph::ConnectOutput() {
    // Stereo first; an instrument that has only one output is taken in mono.
    HRESULT hr = E_FAIL;
    for (const std::uint16_t channels : {std::uint16_t{2}, std::uint16_t{1}}) {
        const DxMediaType type = BuildMediaType(channels, sampleRate_);
        if (renderer_->pin.CheckMediaType(type) != S_OK) continue;
        hr = filter_->ConnectOutput(type, renderer_->pin, *allocator_);
        if (hr == S_OK) return renderer_->pin.SetMediaType(type);
    }
    return hr;
}

void CDxFilterGraph::TearDown() {
    if (renderer_) renderer_->pin.DropSample();
    source_.reset();
    if (filter_) {
        filter_->Stop();
        filter_->Disconnect();
    }
    renderer_.reset();
    if (allocator_) allocator_->Decommit();
    built_ = false;
}

HRESULT CDxFilterGraph::Run() {
    std::lock_guard guard(lock_);
    discontinuity_ = true;
    running_ = true;
    return built_ ? filter_->Run() : S_OK;
}

HRESULT CDxFilterGraph::Pause() {
    std::lock_guard guard(lock_);
    return built_ ? filter_->Pause() : S_OK;
}

HRESULT CDxFilterGraph::Stop() {
    std::lock_guard guard(lock_);
    running_ = false;
    return built_ ? filter_->Stop() : S_OK;
}

HRESULT CDxFilterGraph::RenderBlock(std::uint32_t frames, const float*& dataOut, std::uint32_t& framesOut) {
    std::unique_lock guard(lock_, std::try_to_lock);
    if (!guard.owns_lock()) return VFW_E_WRONG_STATE;
    if (!built_) return E_FAIL;
    if (frames < 1 || frames > blockFrames_) return E_INVALIDARG;
    // The last block's buffer goes back first, so that two buffers serve the
    // instrument's input and its output.
    renderer_->pin.DropSample();
    const auto start = static_cast<std::int64_t>(nextSample_ * 10000000ull / sampleRate_);
    const HRESULT hr = source_->stream.DeliverBlock(*filter_, frames, start, discontinuity_);
    nextSample_ += frames;
    discontinuity_ = false;
    if (hr != S_OK) return hr;
    CDeferZeroFillMediaSample* kept = renderer_->pin.kept();
    if (kept == nullptr) return E_FAIL;
    dataOut = kept->GetPointer();
    framesOut = kept->GetActualDataLength() / renderer_->pin.connected().format.nBlockAlign;
    return S_OK;
}

std::uint16_t CDxFilterGraph::outputChannels() const {
    std::lock_guard guard(lock_);
    return built_ ? renderer_->pin.connected().format.nChannels : 0;
}

const CDeferZeroFillMediaSample* CDxFilterGraph::keptSample() const {
    std::lock_guard guard(lock_);
    return renderer_ ? renderer_->pin.kept() : nullptr;
}

}  // namespace qvp3
