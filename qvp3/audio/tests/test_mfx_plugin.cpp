// A MIDI-effect plug-in of our own that sees the host only through the MFX
// interfaces, as an outside plug-in would: it reads a block of events from an
// event queue, asks the host site for musical time, reads and duplicates
// SysEx data through the buffer factory, and answers an echo of each note.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qvp3_audio/mfx_host_site.h"
#include "qvp3_audio/mfx_queues.h"

namespace qvp3 {
namespace {

class EchoPlugIn {
public:
    explicit EchoPlugIn(IMfxUnknown& host) {
        EXPECT_EQ(host.QueryInterface(MfxIid::TimeConverter, reinterpret_cast<void**>(&converter_)), S_OK);
    }
    ~EchoPlugIn() {
        if (converter_ != nullptr) converter_->Release();
    }
    EchoPlugIn(const EchoPlugIn&) = delete;
    EchoPlugIn& operator=(const EchoPlugIn&) = delete;

    // Every event passes; each note also comes again half a second later at
    // half its velocity; SysEx data is copied into a block of the plug-in's own.
    HRESULT Process(IMfxEventQueue& in, std::vector<MfxEvent>& out) {
        IMfxEventQueue2* in2 = nullptr;
        if (const HRESULT hr = in.QueryInterface(MfxIid::EventQueue2, reinterpret_cast<void**>(&in2)); hr != S_OK)
            return hr;
        IMfxBufferFactory* factory = nullptr;
        HRESULT hr = in2->GetBufferFactory(&factory);
        int count = 0;
        if (hr == S_OK) hr = in.GetCount(&count);
        for (int i = 0; hr == S_OK && i < count; ++i) {
            MfxEvent e;
            hr = in.GetAt(i, &e);
            if (hr == S_OK && e.type == kMfxSysx) hr = copyBuffer(*factory, e);
            if (hr == S_OK) out.push_back(e);
            if (hr == S_OK && e.type == kMfxNote) hr = echo(e, out);
        }
        if (factory != nullptr) factory->Release();
        in2->Release();
        return hr;
    }

private:
    HRESULT echo(MfxEvent e, std::vector<MfxEvent>& out) {
        MfxTime t;
        t.format = MfxTimeFormat::Ticks;
        t.ticks = e.time;
        HRESULT hr = converter_->ConvertMfxTime(&t, MfxTimeFormat::Seconds);
        t.seconds += 0.5;
        if (hr == S_OK) hr = converter_->ConvertMfxTime(&t, MfxTimeFormat::Ticks);
        if (hr != S_OK) return hr;
        e.time = t.ticks;
        e.setVelocity(static_cast<std::uint8_t>(e.velocity() / 2));
        out.push_back(e);
        return S_OK;
    }
    static HRESULT copyBuffer(IMfxBufferFactory& factory, MfxEvent& e) {
        std::uint8_t* data = nullptr;
        std::uint32_t size = 0;
        MfxBufferHandle own = 0;
        HRESULT hr = factory.GetPointer(e.buffer(), &data, &size);
        if (hr == S_OK) hr = factory.Duplicate(e.buffer(), size, &own);
        if (hr == S_OK) e.setDwordAt(0, own);
        return hr;
    }

    IMfxTimeConverter* converter_ = nullptr;
};

TEST(MfxPlugIn, WorksThroughTheHostInterfacesAlone) {
    CMfxSeq seq;
    seq.tempoMap.SetTempo(480, 6000);  // 60 BPM from 2 s on
    CMfxTrack& track = *seq.GetTrack(1, true);
    track.channelOverride = 4;
    const auto note = [&track](std::int32_t time, std::uint8_t velocity) {
        CMfxEvent e(kMfxNote);
        e.time = time;
        e.setVelocity(velocity);
        track.events.push_back(e);
    };
    note(0, 100);
    CMfxEvent sysex(kMfxSysx);
    sysex.time = 100;
    const std::uint8_t gmOn[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    ASSERT_EQ(sysex.SetBuffer(gmOn, sizeof gmOn), S_OK);
    track.events.push_back(sysex);
    note(480, 80);

    CMfxHostSite* site = nullptr;
    ASSERT_EQ(CreateHostSite(&site), S_OK);
    site->SetSequence(&seq);
    std::vector<MfxEvent> out;
    {
        EchoPlugIn plugIn(*site);
        CMfxEventQueue queue(track, 0, track.events.size());
        ASSERT_EQ(plugIn.Process(queue, out), S_OK);
    }
    EXPECT_EQ(site->Release(), 0u);

    ASSERT_EQ(out.size(), 5u);
    // 0 s + 0.5 s at 120 BPM is tick 120; 2 s + 0.5 s at 60 BPM is tick 540.
    const std::int32_t times[] = {0, 120, 100, 480, 540};
    const int velocities[] = {100, 50, -1, 80, 40};
    for (std::size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i].time, times[i]) << i;
        EXPECT_EQ(out[i].channel, 4) << i;  // the track's override, applied by the queue
        if (velocities[i] >= 0) {
            EXPECT_EQ(out[i].velocity(), velocities[i]) << i;
        }
    }
    auto& factory = CMfxBufferFactory::instance();
    ASSERT_NE(out[2].buffer(), track.events[1].buffer());
    EXPECT_EQ(factory.rawBlock(out[2].buffer()), factory.rawBlock(track.events[1].buffer()));
    EXPECT_TRUE(factory.Free(out[2].buffer()));  // the plug-in's own block is the plug-in's to free
}

}  // namespace
}  // namespace qvp3
