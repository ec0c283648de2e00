// The MFX host site: its interfaces answered from the sequence it reports.
#include "qvp3_audio/mfx_host_site.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "platform/text.h"

namespace qvp3 {

char16_t* mfxTaskMemAlloc(std::size_t characters) {
    if (characters > std::numeric_limits<std::size_t>::max() / sizeof(char16_t)) return nullptr;
    return static_cast<char16_t*>(std::malloc(characters * sizeof(char16_t)));
}

void mfxTaskMemFree(void* memory) { std::free(memory); }

namespace {

bool validIndex(int index, std::size_t count) { return index >= 0 && static_cast<std::size_t>(index) < count; }

}  // namespace

class CMfxHostSite::TempoMap final : public Part<IMfxTempoMap> {
public:
    using Part::Part;
    std::int32_t TicksToMsecs(std::int32_t tick) override { return seq().tempoMap.TicksToMsecs(tick); }
    std::int32_t MsecsToTicks(std::int32_t ms) override { return seq().tempoMap.MsecsToTicks(ms); }
    int GetTicksPerQuarterNote() override { return seq().ppq(); }
    int IndexForTime(std::int32_t tick) override { return seq().tempoMap.IndexForTick(tick); }
    int GetTempoCount() override { return static_cast<int>(seq().tempoMap.entries().size()); }
    HRESULT GetTempoAt(int index, std::int32_t* tick, std::int32_t* tempo) override {
        if (tick == nullptr || tempo == nullptr) return E_POINTER;
        const auto& entries = seq().tempoMap.entries();
        if (!validIndex(index, entries.size())) return E_INVALIDARG;
        *tick = entries[static_cast<std::size_t>(index)].tick;
        *tempo = entries[static_cast<std::size_t>(index)].tempo;
        return S_OK;
    }
};

class CMfxHostSite::MeterMap final : public Part<IMfxMeterMap> {
public:
    using Part::Part;
    HRESULT TicksToMBT(std::int32_t tick, std::int32_t* measure, std::int32_t* beat,
                       std::int32_t* tickInBeat) override {
        if (measure == nullptr || beat == nullptr || tickInBeat == nullptr) return E_POINTER;
        const MfxMbt at = seq().meterMap.TicksToMBT(tick);
        *measure = at.measure;
        *beat = at.beat;
        *tickInBeat = at.tick;
        return S_OK;
    }
    std::int32_t MBTToTicks(std::int32_t measure, std::int32_t beat, std::int32_t tick) override {
        return seq().meterMap.MBTToTicks(measure, beat, tick);
    }
    int IndexForTime(std::int32_t tick) override { return seq().meterMap.IndexForTick(tick); }
    int GetMeterCount() override { return static_cast<int>(seq().meterMap.entries().size()); }
    HRESULT GetMeterAt(int index, std::int32_t* startTick, std::int32_t* beats, std::int32_t* unit) override {
        if (startTick == nullptr || beats == nullptr || unit == nullptr) return E_POINTER;
        const auto& entries = seq().meterMap.entries();
        if (!validIndex(index, entries.size())) return E_INVALIDARG;
        const MfxMeterEntry& e = entries[static_cast<std::size_t>(index)];
        *startTick = e.startTick;
        *beats = e.beats;
        *unit = e.unit;
        return S_OK;
    }
};

// The key signatures are those of the meter entries.
class CMfxHostSite::KeySigMap final : public Part<IMfxKeySigMap> {
public:
    using Part::Part;
    int IndexForTime(std::int32_t tick) override { return seq().meterMap.IndexForTick(tick); }
    int GetKeySigCount() override { return static_cast<int>(seq().meterMap.entries().size()); }
    HRESULT GetKeySigAt(int index, std::int32_t* startTick, std::int32_t* key) override {
        if (startTick == nullptr || key == nullptr) return E_POINTER;
        const auto& entries = seq().meterMap.entries();
        if (!validIndex(index, entries.size())) return E_INVALIDARG;
        *startTick = entries[static_cast<std::size_t>(index)].startTick;
        *key = entries[static_cast<std::size_t>(index)].key;
        return S_OK;
    }
};

class CMfxHostSite::MarkerMap final : public Part<IMfxMarkerMap> {
public:
    using Part::Part;
    int IndexForTime(std::int32_t tick) override {
        const auto& markers = seq().markers;
        int index = -1;
        for (std::size_t i = 0; i < markers.size() && markers[i].tick <= tick; ++i) index = static_cast<int>(i);
        return index;
    }
    int GetMarkerCount() override { return static_cast<int>(seq().markers.size()); }
    HRESULT GetMarkerAt(int index, std::int32_t* tick, std::uint32_t* flags, char16_t** name) override {
        if (tick == nullptr || flags == nullptr || name == nullptr) return E_POINTER;
        *name = nullptr;
        const auto& markers = seq().markers;
        if (!validIndex(index, markers.size())) return E_INVALIDARG;
        const MfxMarker& marker = markers[static_cast<std::size_t>(index)];
        std::u16string wide;
        try {
            wide = platform::utf8ToUtf16(platform::cp1252ToUtf8(marker.name));
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        char16_t* text = mfxTaskMemAlloc(wide.size() + 1);
        if (text == nullptr) return E_OUTOFMEMORY;
        std::memcpy(text, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
        *tick = marker.tick;
        *flags = 0;
        *name = text;
        return S_OK;
    }
};

class CMfxHostSite::InputPulse final : public Part<IMfxInputPulse> {
public:
    using Part::Part;
    HRESULT GetPulseInterval(std::int32_t* milliseconds) override {
        if (milliseconds == nullptr) return E_POINTER;
        *milliseconds = kMfxPulseIntervalMs;
        return S_OK;
    }
    HRESULT BeginPulse() override { return count(); }
    HRESULT EndPulse() override { return count(); }

private:
    HRESULT count() {
        ++site_.pulseRequests_;
        return E_NOTIMPL;
    }
};

class CMfxHostSite::NotifyHost final : public Part<IMfxNotifyHost> {
public:
    using Part::Part;
    HRESULT OnNotify(std::int32_t code) override { return code == 1 || code == 2 ? S_OK : E_FAIL; }
};

class CMfxHostSite::InputCallback final : public Part<IMfxInputCallback> {
public:
    using Part::Part;
    HRESULT OnEvent(const MfxEvent&) override { return S_OK; }
};

class CMfxHostSite::TimeConverter final : public Part<IMfxTimeConverter> {
public:
    using Part::Part;
    HRESULT ConvertMfxTime(MfxTime* time, MfxTimeFormat format) override { return site_.Convert(time, format); }
};

struct CMfxHostSite::Parts {
    explicit Parts(CMfxHostSite& site)
        : tempo(site), meter(site), keys(site), markers(site), pulse(site), notify(site), input(site),
          converter(site) {}
    TempoMap tempo;
    MeterMap meter;
    KeySigMap keys;
    MarkerMap markers;
    InputPulse pulse;
    NotifyHost notify;
    InputCallback input;
    TimeConverter converter;
};

CMfxHostSite::CMfxHostSite() : parts_(std::make_unique<Parts>(*this)) {}
CMfxHostSite::~CMfxHostSite() = default;

HRESULT CreateHostSite(CMfxHostSite** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    try {
        *out = new CMfxHostSite();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

std::uint32_t CMfxHostSite::Release() {
    const std::uint32_t left = --refs_;
    if (left == 0) delete this;
    return left;
}

void* CMfxHostSite::Find(MfxIid iid) {
    switch (iid) {
    case MfxIid::Unknown: return static_cast<IMfxUnknown*>(this);
    case MfxIid::TempoMap: return static_cast<IMfxTempoMap*>(&parts_->tempo);
    case MfxIid::MeterMap: return static_cast<IMfxMeterMap*>(&parts_->meter);
    case MfxIid::KeySigMap: return static_cast<IMfxKeySigMap*>(&parts_->keys);
    case MfxIid::MarkerMap: return static_cast<IMfxMarkerMap*>(&parts_->markers);
    case MfxIid::InputPulse: return static_cast<IMfxInputPulse*>(&parts_->pulse);
    case MfxIid::NotifyHost: return static_cast<IMfxNotifyHost*>(&parts_->notify);
    case MfxIid::InputCallback: return static_cast<IMfxInputCallback*>(&parts_->input);
    case MfxIid::TimeConverter: return static_cast<IMfxTimeConverter*>(&parts_->converter);
    default: return nullptr;
    }
}

HRESULT CMfxHostSite::QueryInterface(MfxIid iid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = Find(iid);
    if (*out == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

}  // namespace qvp3
