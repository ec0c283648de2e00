// The queues the MFX host hands to plug-ins: a read-only window onto one
// track's events, and a small fixed queue of data entries.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "qvp3_audio/mfx_event.h"
#include "qvp3_audio/mfx_seq.h"

namespace qvp3 {

class IMfxEventQueue : public IMfxUnknown {
public:
    virtual HRESULT Add(const MfxEvent& event) = 0;
    virtual HRESULT GetCount(int* count) = 0;
    virtual HRESULT GetAt(int index, MfxEvent* event) = 0;

protected:
    ~IMfxEventQueue() = default;
};

class IMfxEventQueue2 : public IMfxEventQueue {
public:
    virtual HRESULT GetBufferFactory(IMfxBufferFactory** factory) = 0;

protected:
    ~IMfxEventQueue2() = default;
};

// Events [first, last) of a track; the track's channel override applies on
// read. The queue neither owns the track nor frees itself: its owner keeps it
// for as long as a plug-in may ask.
class CMfxEventQueue final : public IMfxEventQueue2 {
public:
    CMfxEventQueue(const CMfxTrack& track, std::size_t first, std::size_t last);

    HRESULT QueryInterface(MfxIid iid, void** out) override;
    std::uint32_t AddRef() override { return ++refs_; }
    std::uint32_t Release() override { return refs_ > 0 ? --refs_ : 0; }
    HRESULT Add(const MfxEvent& event) override;
    HRESULT GetCount(int* count) override;
    HRESULT GetAt(int index, MfxEvent* event) override;
    HRESULT GetBufferFactory(IMfxBufferFactory** factory) override;

private:
    const CMfxTrack& track_;
    std::size_t first_;
    std::size_t last_;
    std::atomic<std::uint32_t> refs_{1};
};

struct MfxDataEntry {
    std::uint32_t first = 0;
    std::uint32_t second = 0;
};

class IMfxDataQueue : public IMfxUnknown {
public:
    virtual HRESULT Add(const MfxDataEntry& entry) = 0;
    virtual HRESULT GetCount(int* count) = 0;
    virtual HRESULT GetAt(int index, MfxDataEntry* entry) = 0;

protected:
    ~IMfxDataQueue() = default;
};

inline constexpr int kMfxDataQueueCapacity = 512;

// Frees itself when its last reference is released.
class CMfxDataQueue final : public IMfxDataQueue {
public:
    HRESULT QueryInterface(MfxIid iid, void** out) override;
    std::uint32_t AddRef() override { return ++refs_; }
    std::uint32_t Release() override;
    HRESULT Add(const MfxDataEntry& entry) override;
    HRESULT GetCount(int* count) override;
    HRESULT GetAt(int index, MfxDataEntry* entry) override;

private:
    friend HRESULT CreateDataQueue(IMfxDataQueue** out);
    CMfxDataQueue() = default;
    ~CMfxDataQueue() = default;

    std::array<MfxDataEntry, kMfxDataQueueCapacity> entries_{};
    int count_ = 0;
    std::atomic<std::uint32_t> refs_{1};
};

// A new empty data queue with one reference: S_OK, E_POINTER, E_OUTOFMEMORY.
HRESULT CreateDataQueue(IMfxDataQueue** out);

}  // namespace qvp3
