// The event and data queues of the MFX host.
#include "qvp3_audio/mfx_queues.h"

#include <algorithm>
#include <new>

namespace qvp3 {

CMfxEventQueue::CMfxEventQueue(const CMfxTrack& track, std::size_t first, std::size_t last)
    : track_(track), first_(std::min(first, track.events.size())), last_(std::min(last, track.events.size())) {
    if (last_ < first_) last_ = first_;
}

HRESULT CMfxEventQueue::QueryInterface(MfxIid iid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid == MfxIid::Unknown || iid == MfxIid::EventQueue)
        *out = static_cast<IMfxEventQueue*>(this);
    else if (iid == MfxIid::EventQueue2)
        *out = static_cast<IMfxEventQueue2*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

HRESULT CMfxEventQueue::Add(const MfxEvent&) { return E_FAIL; }

HRESULT CMfxEventQueue::GetCount(int* count) {
    if (count == nullptr) return E_POINTER;
    *count = static_cast<int>(last_ - first_);
    return S_OK;
}

HRESULT CMfxEventQueue::GetAt(int index, MfxEvent* event) {
    if (event == nullptr) return E_POINTER;
    // The track may have shrunk since the window was made.
    const std::size_t last = std::min(last_, track_.events.size());
    if (index < 0 || first_ + static_cast<std::size_t>(index) >= last) return E_INVALIDARG;
    *event = track_.events[first_ + static_cast<std::size_t>(index)];
    if (track_.channelOverride != -1) event->channel = static_cast<std::uint8_t>(track_.channelOverride & 0x0F);
    return S_OK;
}

HRESULT CMfxEventQueue::GetBufferFactory(IMfxBufferFactory** factory) {
    if (factory == nullptr) return E_POINTER;
    CMfxBufferFactory& f = CMfxBufferFactory::instance();
    f.AddRef();
    *factory = &f;
    return S_OK;
}

// ---- CMfxDataQueue

HRESULT CMfxDataQueue::QueryInterface(MfxIid iid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid != MfxIid::Unknown && iid != MfxIid::DataQueue) return E_NOINTERFACE;
    *out = static_cast<IMfxDataQueue*>(this);
    AddRef();
    return S_OK;
}

std::uint32_t CMfxDataQueue::Release() {
    const std::uint32_t left = --refs_;
    if (left == 0) delete this;
    return left;
}

HRESULT CMfxDataQueue::Add(const MfxDataEntry& entry) {
    if (count_ >= kMfxDataQueueCapacity) return E_FAIL;
    entries_[static_cast<std::size_t>(count_++)] = entry;
    return S_OK;
}

HRESULT CMfxDataQueue::GetCount(int* count) {
    if (count == nullptr) return E_POINTER;
    *count = count_;
    return S_OK;
}

HRESULT CMfxDataQueue::GetAt(int index, MfxDataEntry* entry) {
    if (entry == nullptr) return E_POINTER;
    if (index < 0 || index >= count_) return E_INVALIDARG;
    *entry = entries_[static_cast<std::size_t>(index)];
    return S_OK;
}

HRESULT CreateDataQueue(IMfxDataQueue** out) {
    if (out == nullptr) return E_POINTER;
    *out = new (std::nothrow) CMfxDataQueue();
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

}  // namespace qvp3
