// The host site of MFX plug-ins: one object that answers, from a sequence,
// the host interfaces for tempo, meter, key signatures, markers, input pulse,
// notifications, input callbacks and time conversion. A plug-in asks the
// site for each interface by its id; all share one reference count.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "qvp3_audio/mfx_event.h"
#include "qvp3_audio/mfx_seq.h"

namespace qvp3 {

class IMfxTempoMap : public IMfxUnknown {
public:
    virtual std::int32_t TicksToMsecs(std::int32_t tick) = 0;
    virtual std::int32_t MsecsToTicks(std::int32_t ms) = 0;
    virtual int GetTicksPerQuarterNote() = 0;
    virtual int IndexForTime(std::int32_t tick) = 0;
    virtual int GetTempoCount() = 0;
    virtual HRESULT GetTempoAt(int index, std::int32_t* tick, std::int32_t* tempo) = 0;

protected:
    ~IMfxTempoMap() = default;
};

class IMfxMeterMap : public IMfxUnknown {
public:
    virtual HRESULT TicksToMBT(std::int32_t tick, std::int32_t* measure, std::int32_t* beat,
                               std::int32_t* tickInBeat) = 0;
    virtual std::int32_t MBTToTicks(std::int32_t measure, std::int32_t beat, std::int32_t tick) = 0;
    virtual int IndexForTime(std::int32_t tick) = 0;
    virtual int GetMeterCount() = 0;
    virtual HRESULT GetMeterAt(int index, std::int32_t* startTick, std::int32_t* beats, std::int32_t* unit) = 0;

protected:
    ~IMfxMeterMap() = default;
};

class IMfxKeySigMap : public IMfxUnknown {
public:
    virtual int IndexForTime(std::int32_t tick) = 0;
    virtual int GetKeySigCount() = 0;
    virtual HRESULT GetKeySigAt(int index, std::int32_t* startTick, std::int32_t* key) = 0;

protected:
    ~IMfxKeySigMap() = default;
};

class IMfxMarkerMap : public IMfxUnknown {
public:
    virtual int IndexForTime(std::int32_t tick) = 0;
    virtual int GetMarkerCount() = 0;
    // name: a new string in task memory, freed by the caller with mfxTaskMemFree.
    virtual HRESULT GetMarkerAt(int index, std::int32_t* tick, std::uint32_t* flags, char16_t** name) = 0;

protected:
    ~IMfxMarkerMap() = default;
};

class IMfxInputPulse : public IMfxUnknown {
public:
    virtual HRESULT GetPulseInterval(std::int32_t* milliseconds) = 0;
    virtual HRESULT BeginPulse() = 0;
    virtual HRESULT EndPulse() = 0;

protected:
    ~IMfxInputPulse() = default;
};

class IMfxNotifyHost : public IMfxUnknown {
public:
    virtual HRESULT OnNotify(std::int32_t code) = 0;

protected:
    ~IMfxNotifyHost() = default;
};

class IMfxInputCallback : public IMfxUnknown {
public:
    virtual HRESULT OnEvent(const MfxEvent& event) = 0;

protected:
    ~IMfxInputCallback() = default;
};

enum class MfxTimeFormat : std::int32_t {
    Seconds = 1,     // seconds
    Samples = 2,     // samples
    Ticks = 3,       // ticks
    Ticks65536 = 4,  // ticks65536
    Mbt = 5,         // mbt
    Frames24 = 6,    // frame formats: not converted
    Frames25 = 7,
    Frames2997 = 8,
    Frames30 = 9,
};

struct MfxTime {
    MfxTimeFormat format = MfxTimeFormat::Ticks;
    double seconds = 0.0;
    std::int64_t samples = 0;
    std::int32_t ticks = 0;
    std::int64_t ticks65536 = 0;
    MfxMbt mbt;
};

class IMfxTimeConverter : public IMfxUnknown {
public:
    // Converts the time in place into `format`: S_OK, E_POINTER, E_NOTIMPL
    // for frame formats, E_INVALIDARG for a format that is none of these.
    virtual HRESULT ConvertMfxTime(MfxTime* time, MfxTimeFormat format) = 0;

protected:
    ~IMfxTimeConverter() = default;
};

char16_t* mfxTaskMemAlloc(std::size_t characters);
void mfxTaskMemFree(void* memory);

inline constexpr std::int32_t kMfxPulseIntervalMs = 100;

class CMfxHostSite;

// Creates a site with one reference, reporting an empty new sequence until
// one is set: S_OK, E_POINTER, E_OUTOFMEMORY.
HRESULT CreateHostSite(CMfxHostSite** out);

class CMfxHostSite final : public IMfxUnknown {
public:
    HRESULT QueryInterface(MfxIid iid, void** out) override;
    std::uint32_t AddRef() override { return ++refs_; }
    std::uint32_t Release() override;

    // The sequence reported from now on (not owned); null: the site's own empty one.
    void SetSequence(CMfxSeq* seq) { seq_ = seq != nullptr ? seq : &empty_; }
    CMfxSeq& sequence() { return *seq_; }
    int pulseRequests() const { return pulseRequests_; }

    HRESULT Convert(MfxTime* time, MfxTimeFormat format);

private:
    friend HRESULT CreateHostSite(CMfxHostSite** out);
    CMfxHostSite();
    ~CMfxHostSite();

    template <class Interface>
    class Part : public Interface {
    public:
        explicit Part(CMfxHostSite& site) : site_(site) {}
        HRESULT QueryInterface(MfxIid iid, void** out) override { return site_.QueryInterface(iid, out); }
        std::uint32_t AddRef() override { return site_.AddRef(); }
        std::uint32_t Release() override { return site_.Release(); }

    protected:
        ~Part() = default;
        CMfxSeq& seq() { return site_.sequence(); }
        CMfxHostSite& site_;
    };
    class TempoMap;
    class MeterMap;
    class KeySigMap;
    class MarkerMap;
    class InputPulse;
    class NotifyHost;
    class InputCallback;
    class TimeConverter;

    void* Find(MfxIid iid);

    std::atomic<std::uint32_t> refs_{1};
    CMfxSeq empty_;
    CMfxSeq* seq_ = &empty_;
    std::atomic<int> pulseRequests_{0};
    // The parts live as long as the site; built in the source, where they are whole.
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

}  // namespace qvp3
