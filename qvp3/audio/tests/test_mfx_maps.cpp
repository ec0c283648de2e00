// The tempo, meter and key maps, the time converter and the host site,
// against values worked out by hand at 120 ticks per quarter and 44100 Hz.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qvp3_audio/mfx_host_site.h"

namespace qvp3 {
namespace {

// 120 BPM for two quarters (1 s each 240 ticks), 60 BPM for four quarters
// (ticks 480-960, 2 s to 6 s), then 240 BPM. Bars: 4/4 for bars 1-2, 3/4
// from bar 3 (tick 960), 6/8 from bar 5 (tick 1680).
void shape(CMfxSeq& seq) {
    seq.tempoMap.SetTempo(480, 6000);
    seq.tempoMap.SetTempo(960, 24000);
    seq.meterMap.SetMeter(3, 3, 2);
    seq.meterMap.SetMeter(5, 6, 3);
}

TEST(MfxTempoMap, TicksMillisecondsAndSamplesAcrossTempoChanges) {
    CMfxSeq seq;
    shape(seq);
    struct Row {
        std::int32_t tick;
        std::int32_t ms;
        std::int64_t samples;
    };
    const Row rows[] = {
        {0, 0, 0},          {240, 1000, 44100},   {480, 2000, 88200},   {600, 3000, 132300},
        {960, 6000, 264600}, {1080, 6250, 275625}, {1200, 6500, 286650},
    };
    const CMfxTempoMap& map = seq.tempoMap;
    for (const Row& r : rows) {
        EXPECT_EQ(map.TicksToMsecs(r.tick), r.ms) << r.tick;
        EXPECT_EQ(map.MsecsToTicks(r.ms), r.tick) << r.ms;
        EXPECT_EQ(map.TicksToSamples(std::int64_t{r.tick} * 65536), r.samples) << r.tick;
        EXPECT_EQ(map.SamplesToTicks(r.samples), std::int64_t{r.tick} * 65536) << r.samples;
    }
    ASSERT_EQ(map.entries().size(), 3u);
    EXPECT_EQ(map.entries()[1].time, 240000000);  // 2 s in microseconds x 120
    EXPECT_EQ(map.entries()[2].time, 720000000);
    EXPECT_EQ(map.IndexForTick(959), 1);
    EXPECT_EQ(map.IndexForTick(-5), 0);

    // Values between whole units round to nearest.
    EXPECT_EQ(map.TicksToMsecs(1), 4);                                   // 4.17 ms
    EXPECT_EQ(map.MsecsToTicks(1999), 480);                              // 479.76 ticks
    EXPECT_EQ(map.TicksToSamples(std::int64_t{240} * 65536 + 32768), 44192);  // 44191.875
    EXPECT_EQ(map.SamplesToTicks(1), 357);                               // 0.0054 ticks
}

TEST(MfxTempoMap, LongPiecesStayIn64Bits) {
    CMfxSeq seq;
    // Ten hours at 120 BPM: more samples and tick fractions than 32 bits hold.
    const std::int64_t samples = std::int64_t{36000} * 44100;
    const std::int64_t ticks = std::int64_t{36000} * 2 * 120 * 65536;
    EXPECT_EQ(seq.tempoMap.SamplesToTicks(samples), ticks);
    EXPECT_EQ(seq.tempoMap.TicksToSamples(ticks), samples);
    EXPECT_EQ(seq.tempoMap.TicksToMsecs(8640000), 36000000);
    // The slowest tempo there is: products beyond 64 bits still come out whole.
    seq.tempoMap.SetTempo(480, 1);
    EXPECT_EQ(seq.tempoMap.TicksToSamples(std::int64_t{9600} * 65536), std::int64_t{456002} * 44100);
    EXPECT_EQ(seq.tempoMap.TicksToMsecs(96000), 0x7FFFFFFF);  // 4.8e9 ms
}

TEST(MfxMeterMap, MeasuresBeatsAndTicksAcrossMeterChanges) {
    CMfxSeq seq;
    shape(seq);
    const CMfxMeterMap& map = seq.meterMap;
    ASSERT_EQ(map.entries().size(), 3u);
    const std::int32_t starts[] = {0, 960, 1680};
    const std::int32_t perBeat[] = {120, 120, 60};
    const std::int32_t perMeasure[] = {480, 360, 360};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(map.entries()[i].startTick, starts[i]);
        EXPECT_EQ(map.entries()[i].ticksPerBeat, perBeat[i]);
        EXPECT_EQ(map.entries()[i].ticksPerMeasure, perMeasure[i]);
    }
    struct Row {
        std::int32_t tick;
        MfxMbt mbt;
    };
    const Row rows[] = {
        {0, {1, 1, 0}},    {479, {1, 4, 119}}, {480, {2, 1, 0}},  {960, {3, 1, 0}},
        {1400, {4, 1, 80}}, {1680, {5, 1, 0}},  {1800, {5, 3, 0}}, {2100, {6, 2, 0}},
    };
    for (const Row& r : rows) {
        const MfxMbt at = map.TicksToMBT(r.tick);
        EXPECT_EQ(at.measure, r.mbt.measure) << r.tick;
        EXPECT_EQ(at.beat, r.mbt.beat) << r.tick;
        EXPECT_EQ(at.tick, r.mbt.tick) << r.tick;
        EXPECT_EQ(map.MBTToTicks(r.mbt.measure, r.mbt.beat, r.mbt.tick), r.tick) << r.tick;
    }
    EXPECT_EQ(map.MeasureFrom(960), 3);
    EXPECT_EQ(map.MeasureFrom(961), 4);
}

TEST(MfxMeterMap, KeySignaturesAndDamagedMetersKeepWholeTicks) {
    CMfxSeq seq;
    shape(seq);
    seq.meterMap.SetKey(3, -2);
    seq.meterMap.SetKey(4, 3);  // inside the 3/4: a new entry with that meter
    const auto& entries = seq.meterMap.entries();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[1].key, -2);
    EXPECT_EQ(entries[2].measure, 4);
    EXPECT_EQ(entries[2].beats, 3);
    EXPECT_EQ(entries[2].startTick, 1320);
    EXPECT_EQ(entries[2].key, 3);
    EXPECT_EQ(entries[3].startTick, 1680);
    EXPECT_EQ(entries[3].key, 3);  // the later meter carries the key on

    // A beat unit of 2^200 or 0 beats (a damaged file) must not divide by zero.
    seq.meterMap.SetMeter(2, 0, 200);
    EXPECT_GE(seq.meterMap.entries()[1].ticksPerBeat, 1);
    EXPECT_GE(seq.meterMap.TicksToMBT(100000).measure, 2);

    CMfxSeq other;
    ASSERT_TRUE(other.SetPPQ(480));
    EXPECT_FALSE(other.SetPPQ(0));
    EXPECT_EQ(other.ppq(), 480);
    EXPECT_EQ(other.meterMap.entries()[0].ticksPerMeasure, 1920);
    EXPECT_EQ(other.tempoMap.TicksToMsecs(480), 500);
}

TEST(MfxSeq, NewSequenceAndItsTracks) {
    CMfxSeq seq;
    EXPECT_EQ(seq.ppq(), 120);
    EXPECT_EQ(seq.tempoMap.TicksToMsecs(240), 1000);
    EXPECT_EQ(seq.tempoMap.TicksToSamples(std::int64_t{240} * 65536), 44100);
    EXPECT_EQ(seq.tempoMap.MsecsToTicks(500), 120);
    EXPECT_EQ(seq.meterMap.TicksToMBT(480).measure, 2);
    ASSERT_EQ(seq.tracks.size(), 1u);
    const CMfxTrack* through = seq.GetTrack(kMfxPlayThroughKey, false);
    ASSERT_NE(through, nullptr);
    EXPECT_EQ(through->name, "[Play Through]");
    EXPECT_EQ(through->channelOverride, -1);
    EXPECT_EQ(seq.GetTrack(4, false), nullptr);

    CMfxTrack* track = seq.GetTrack(4, true);
    for (std::int32_t t : {0, 10, 10, 20}) {
        CMfxEvent e(kMfxControl);
        e.time = t;
        track->events.push_back(e);
    }
    seq.Seek(10);
    EXPECT_EQ(track->cursor, 1);
    EXPECT_EQ(through->cursor, -1);
    seq.Seek(25);
    EXPECT_EQ(track->cursor, 4);
}

TEST(MfxTrack, AppliesItsChannelAndOffsetsToMessages) {
    struct Row {
        std::int32_t channel;
        std::int32_t keyOffset;
        std::int32_t velocityOffset;
        std::uint32_t in;
        std::uint32_t out;
    };
    const Row rows[] = {
        {-1, 0, 0, 0x643C90, 0x643C90},
        {5, 0, 0, 0x643C90, 0x643C95},
        {5, 0, 0, 0x4007B1, 0x4007B5},   // any channel message
        {3, 0, 0, 0x0000F0, 0x0000F0},   // not a channel message
        {-1, 12, 0, 0x647890, 0x647F90}, // key within 0..127
        {-1, -70, 0, 0x643C90, 0x640090},
        {-1, 0, 50, 0x643C90, 0x7F3C90},
        {-1, 0, -100, 0x403C80, 0x003C80},
        {-1, 0, 20, 0x003C90, 0x003C90}, // the note-on that ends a note stays one
        {-1, 5, 5, 0x4007B0, 0x4007B0},  // offsets are for notes only
    };
    for (const Row& r : rows) {
        CMfxTrack track;
        track.channelOverride = r.channel;
        track.keyOffset = r.keyOffset;
        track.velocityOffset = r.velocityOffset;
        EXPECT_EQ(track.ApplyToMessage(r.in), r.out) << std::hex << r.in;
    }
}

MfxTime at(MfxTimeFormat format, double value, MfxMbt mbt = {}) {
    MfxTime t;
    t.format = format;
    t.seconds = value;
    t.samples = static_cast<std::int64_t>(value);
    t.ticks = static_cast<std::int32_t>(value);
    t.ticks65536 = static_cast<std::int64_t>(value);
    t.mbt = mbt;
    return t;
}

// A site over the shaped sequence; every interface asked for is released at
// the end, and the site must then go with its last reference.
class MfxSiteTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CreateHostSite(&site), S_OK);
        shape(seq);
        site->SetSequence(&seq);
    }
    void TearDown() override {
        for (IMfxUnknown* itf : given) itf->Release();
        EXPECT_EQ(site->Release(), 0u);  // freed; the sanitizer build reports a leak otherwise
    }
    template <class Interface>
    Interface* get(MfxIid iid) {
        Interface* itf = nullptr;
        EXPECT_EQ(site->QueryInterface(iid, reinterpret_cast<void**>(&itf)), S_OK);
        if (itf != nullptr) given.push_back(itf);
        return itf;
    }

    CMfxHostSite* site = nullptr;
    CMfxSeq seq;
    std::vector<IMfxUnknown*> given;
};

TEST_F(MfxSiteTest, TimeConverterGoesBetweenClockAndMusicalFormats) {
    auto* converter = get<IMfxTimeConverter>(MfxIid::TimeConverter);
    ASSERT_NE(converter, nullptr);
    using F = MfxTimeFormat;
    struct Row {
        MfxTime in;
        F to;
        MfxTime expected;
    };
    const Row rows[] = {
        {at(F::Ticks, 240), F::Seconds, at(F::Seconds, 1.0)},
        {at(F::Ticks, 600), F::Samples, at(F::Samples, 132300)},
        {at(F::Seconds, 3.0), F::Ticks, at(F::Ticks, 600)},
        {at(F::Seconds, 2.5), F::Mbt, at(F::Mbt, 0, {2, 1, 60})},
        {at(F::Mbt, 0, {3, 1, 0}), F::Samples, at(F::Samples, 264600)},
        {at(F::Mbt, 0, {5, 3, 0}), F::Ticks, at(F::Ticks, 1800)},
        {at(F::Samples, 22050), F::Ticks65536, at(F::Ticks65536, 120 * 65536)},
        {at(F::Ticks65536, 600 * 65536 + 32768), F::Ticks, at(F::Ticks, 600)},
        {at(F::Ticks, 1400), F::Mbt, at(F::Mbt, 0, {4, 1, 80})},
        {at(F::Samples, 286650), F::Mbt, at(F::Mbt, 0, {3, 3, 0})},
        {at(F::Seconds, 6.5), F::Samples, at(F::Samples, 286650)},
        {at(F::Samples, 275625), F::Seconds, at(F::Seconds, 6.25)},
    };
    for (const Row& r : rows) {
        MfxTime t = r.in;
        ASSERT_EQ(converter->ConvertMfxTime(&t, r.to), S_OK);
        EXPECT_EQ(t.format, r.to);
        const auto row = static_cast<int>(&r - rows);
        switch (r.to) {
        case F::Seconds: EXPECT_DOUBLE_EQ(t.seconds, r.expected.seconds) << row; break;
        case F::Samples: EXPECT_EQ(t.samples, r.expected.samples) << row; break;
        case F::Ticks: EXPECT_EQ(t.ticks, r.expected.ticks) << row; break;
        case F::Ticks65536: EXPECT_EQ(t.ticks65536, r.expected.ticks65536) << row; break;
        default:
            EXPECT_EQ(t.mbt.measure, r.expected.mbt.measure) << row;
            EXPECT_EQ(t.mbt.beat, r.expected.mbt.beat) << row;
            EXPECT_EQ(t.mbt.tick, r.expected.mbt.tick) << row;
            break;
        }
    }
}

TEST_F(MfxSiteTest, TimeConverterRefusesFramesAndValuesItCannotHold) {
    using F = MfxTimeFormat;
    auto* converter = get<IMfxTimeConverter>(MfxIid::TimeConverter);
    ASSERT_NE(converter, nullptr);
    MfxTime same = at(F::Seconds, 6.5);
    same.samples = 12345;  // untouched: the same format returns at once
    ASSERT_EQ(converter->ConvertMfxTime(&same, F::Seconds), S_OK);
    EXPECT_EQ(same.samples, 12345);
    MfxTime frames = at(F::Frames25, 10);
    EXPECT_EQ(converter->ConvertMfxTime(&frames, F::Ticks), E_NOTIMPL);
    MfxTime ticks = at(F::Ticks, 10);
    EXPECT_EQ(converter->ConvertMfxTime(&ticks, F::Frames2997), E_NOTIMPL);
    EXPECT_EQ(converter->ConvertMfxTime(&ticks, static_cast<F>(42)), E_INVALIDARG);
    EXPECT_EQ(converter->ConvertMfxTime(nullptr, F::Ticks), E_POINTER);
    MfxTime huge = at(F::Seconds, 1e300);
    EXPECT_EQ(converter->ConvertMfxTime(&huge, F::Samples), E_INVALIDARG);
}

TEST_F(MfxSiteTest, TempoMeterAndKeyMapsAnswerFromTheSequence) {
    seq.meterMap.SetKey(4, 3);
    auto* tempo = get<IMfxTempoMap>(MfxIid::TempoMap);
    auto* meter = get<IMfxMeterMap>(MfxIid::MeterMap);
    auto* keys = get<IMfxKeySigMap>(MfxIid::KeySigMap);
    ASSERT_TRUE(tempo != nullptr && meter != nullptr && keys != nullptr);
    EXPECT_EQ(tempo->GetTicksPerQuarterNote(), 120);
    EXPECT_EQ(tempo->GetTempoCount(), 3);
    EXPECT_EQ(tempo->IndexForTime(1000), 2);
    std::int32_t a = 0;
    std::int32_t b = 0;
    std::int32_t c = 0;
    ASSERT_EQ(tempo->GetTempoAt(1, &a, &b), S_OK);
    EXPECT_EQ(a, 480);
    EXPECT_EQ(b, 6000);
    EXPECT_EQ(tempo->GetTempoAt(3, &a, &b), E_INVALIDARG);
    EXPECT_EQ(tempo->GetTempoAt(0, nullptr, &b), E_POINTER);
    EXPECT_EQ(tempo->TicksToMsecs(600), 3000);

    ASSERT_EQ(meter->TicksToMBT(1800, &a, &b, &c), S_OK);
    EXPECT_EQ(a * 100 + b * 10 + c, 530);
    EXPECT_EQ(meter->TicksToMBT(0, &a, nullptr, &c), E_POINTER);
    EXPECT_EQ(meter->GetMeterCount(), 4);
    ASSERT_EQ(meter->GetMeterAt(3, &a, &b, &c), S_OK);
    EXPECT_EQ(a * 100 + b * 10 + c, 168063);  // tick 1680, 6 beats, unit 2^3
    EXPECT_EQ(meter->GetMeterAt(-1, &a, &b, &c), E_INVALIDARG);
    EXPECT_EQ(keys->GetKeySigCount(), 4);
    EXPECT_EQ(keys->IndexForTime(1400), 2);
    ASSERT_EQ(keys->GetKeySigAt(2, &a, &b), S_OK);
    EXPECT_EQ(a, 1320);
    EXPECT_EQ(b, 3);
}

TEST_F(MfxSiteTest, MarkersComeAsNewWideStrings) {
    auto* markers = get<IMfxMarkerMap>(MfxIid::MarkerMap);
    ASSERT_NE(markers, nullptr);
    std::int32_t tick = 0;
    std::uint32_t flags = 7;
    char16_t* name = nullptr;
    EXPECT_EQ(markers->IndexForTime(100), -1);
    EXPECT_EQ(markers->GetMarkerAt(0, &tick, &flags, &name), E_INVALIDARG);
    seq.AddMarker("\xC9t\xE9", 960);  // Windows-1252
    seq.AddMarker("Intro", 0);
    EXPECT_EQ(markers->GetMarkerCount(), 2);
    EXPECT_EQ(markers->IndexForTime(959), 0);
    EXPECT_EQ(markers->IndexForTime(960), 1);
    ASSERT_EQ(markers->GetMarkerAt(1, &tick, &flags, &name), S_OK);
    EXPECT_EQ(std::u16string(name), u"\u00C9t\u00E9");
    EXPECT_EQ(tick, 960);
    EXPECT_EQ(flags, 0u);
    mfxTaskMemFree(name);
    EXPECT_EQ(markers->GetMarkerAt(1, &tick, &flags, nullptr), E_POINTER);
}

TEST_F(MfxSiteTest, OtherInterfacesShareTheOneReferenceCount) {
    EXPECT_EQ(CreateHostSite(nullptr), E_POINTER);
    void* none = nullptr;
    EXPECT_EQ(site->QueryInterface(MfxIid::DataQueue, &none), E_NOINTERFACE);
    EXPECT_EQ(site->QueryInterface(MfxIid::TempoMap, nullptr), E_POINTER);
    auto* pulse = get<IMfxInputPulse>(MfxIid::InputPulse);
    auto* notify = get<IMfxNotifyHost>(MfxIid::NotifyHost);
    auto* input = get<IMfxInputCallback>(MfxIid::InputCallback);
    ASSERT_TRUE(pulse != nullptr && notify != nullptr && input != nullptr);
    std::int32_t interval = 0;
    ASSERT_EQ(pulse->GetPulseInterval(&interval), S_OK);
    EXPECT_EQ(interval, 100);
    EXPECT_EQ(pulse->BeginPulse(), E_NOTIMPL);
    EXPECT_EQ(pulse->EndPulse(), E_NOTIMPL);
    EXPECT_EQ(site->pulseRequests(), 2);
    EXPECT_EQ(notify->OnNotify(1), S_OK);
    EXPECT_EQ(notify->OnNotify(2), S_OK);
    EXPECT_EQ(notify->OnNotify(3), E_FAIL);
    EXPECT_EQ(input->OnEvent(CMfxEvent(kMfxNote)), S_OK);

    // One count for all: an interface asked for through another adds to it.
    IMfxTempoMap* tempo = nullptr;
    ASSERT_EQ(input->QueryInterface(MfxIid::TempoMap, reinterpret_cast<void**>(&tempo)), S_OK);
    EXPECT_EQ(site->AddRef(), 6u);  // one held, three given, the tempo map, this one
    EXPECT_EQ(tempo->Release(), 5u);
    EXPECT_EQ(site->Release(), 4u);
}

}  // namespace
}  // namespace qvp3
