// The MFX sequence with its tempo and meter maps. Intermediate products of
// the time conversions (ticks x microseconds per quarter x 1000 and more) do
// not fit 64 bits for long pieces or slow tempos, so they run in 128 bits and
// the results saturate.
#include "qvp3_audio/mfx_seq.h"

#include <algorithm>
#include <limits>

namespace qvp3 {
namespace {

__extension__ using Int128 = __int128;

constexpr std::int64_t kMicrosPerMinuteX100 = 6000000000LL;

// num / den rounded half away from zero; den > 0.
Int128 divRound(Int128 num, Int128 den) {
    return num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den);
}

// num / den rounded toward minus infinity; den > 0.
Int128 divFloor(Int128 num, Int128 den) {
    Int128 q = num / den;
    if (num % den != 0 && num < 0) --q;
    return q;
}

std::int64_t saturate64(Int128 v) {
    if (v > std::numeric_limits<std::int64_t>::max()) return std::numeric_limits<std::int64_t>::max();
    if (v < std::numeric_limits<std::int64_t>::min()) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(v);
}

std::int32_t saturate32(Int128 v) {
    if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

}  // namespace

// ---- CMfxTempoMap

std::int64_t CMfxTempoMap::MicrosPerQuarter(std::int32_t tempo) {
    // A tempo of 0 or below (a damaged file) plays as the slowest there is
    // rather than dividing by zero.
    const std::int64_t t = std::max<std::int32_t>(tempo, 1);
    return (kMicrosPerMinuteX100 + t / 2) / t;
}

void CMfxTempoMap::SetEntries(std::vector<MfxTempoEntry> entries) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const MfxTempoEntry& a, const MfxTempoEntry& b) { return a.tick < b.tick; });
    entries_.clear();
    for (const MfxTempoEntry& e : entries) {
        if (!entries_.empty() && entries_.back().tick == e.tick)
            entries_.back() = e;
        else
            entries_.push_back(e);
    }
    Recompute();
}

void CMfxTempoMap::SetTempo(std::int32_t tick, std::int32_t tempo) {
    std::vector<MfxTempoEntry> entries = entries_;
    entries.push_back({tick, tempo, 0});
    SetEntries(std::move(entries));
}

void CMfxTempoMap::SetPPQ(std::int32_t ppq) {
    if (ppq < 1) return;
    ppq_ = ppq;
    Recompute();
}

void CMfxTempoMap::Recompute() {
    if (entries_.empty() || entries_.front().tick > 0) entries_.insert(entries_.begin(), MfxTempoEntry{});
    entries_.front().tick = 0;
    entries_.front().time = 0;
    for (std::size_t i = 1; i < entries_.size(); ++i) {
        const MfxTempoEntry& prev = entries_[i - 1];
        const Int128 span = Int128{entries_[i].tick} - prev.tick;
        entries_[i].time = saturate64(prev.time + MicrosPerQuarter(prev.tempo) * span);
    }
}

int CMfxTempoMap::IndexForTick(std::int32_t tick) const {
    const auto it = std::upper_bound(entries_.begin(), entries_.end(), tick,
                                     [](std::int32_t t, const MfxTempoEntry& e) { return t < e.tick; });
    return it == entries_.begin() ? 0 : static_cast<int>(it - entries_.begin()) - 1;
}

int CMfxTempoMap::IndexForTime(std::int64_t time) const {
    const auto it = std::upper_bound(entries_.begin(), entries_.end(), time,
                                     [](std::int64_t t, const MfxTempoEntry& e) { return t < e.time; });
    return it == entries_.begin() ? 0 : static_cast<int>(it - entries_.begin()) - 1;
}

std::int32_t CMfxTempoMap::TicksToMsecs(std::int32_t tick) const {
    const MfxTempoEntry& e = entries_[static_cast<std::size_t>(IndexForTick(tick))];
    const Int128 q = MicrosPerQuarter(e.tempo);
    const Int128 num = (q * (Int128{tick} - e.tick) + e.time) * 1000 + Int128{ppq_} * 500000;
    const Int128 ms = num / (Int128{ppq_} * 1000000);
    if (num < 0 || ms > std::numeric_limits<std::int32_t>::max()) return 0x7FFFFFFF;
    return static_cast<std::int32_t>(ms);
}

std::int32_t CMfxTempoMap::MsecsToTicks(std::int32_t ms) const {
    const Int128 x = Int128{ms} * ppq_ * 1000;
    const MfxTempoEntry& e = entries_[static_cast<std::size_t>(IndexForTime(saturate64(x)))];
    const Int128 q = MicrosPerQuarter(e.tempo);
    return saturate32(e.tick + ((x - e.time) * 1000 + q * 500) / (q * 1000));
}

std::int64_t CMfxTempoMap::SamplesToTicks(std::int64_t samples) const {
    const Int128 x = divRound(Int128{samples} * 1000000 * ppq_, kMfxSampleRate);
    const MfxTempoEntry& e = entries_[static_cast<std::size_t>(IndexForTime(saturate64(x)))];
    const Int128 q = MicrosPerQuarter(e.tempo);
    return saturate64(Int128{e.tick} * 65536 + divRound((x - e.time) * 65536, q));
}

std::int64_t CMfxTempoMap::TicksToSamples(std::int64_t ticks65536) const {
    const std::int32_t tick = saturate32(divRound(ticks65536, 65536));
    const MfxTempoEntry& e = entries_[static_cast<std::size_t>(IndexForTick(tick))];
    const Int128 q = MicrosPerQuarter(e.tempo);
    // Microseconds x PPQ x 65536, the fraction of a tick carried along.
    const Int128 scaled = Int128{e.time} * 65536 + q * (Int128{ticks65536} - Int128{e.tick} * 65536);
    return saturate64(divRound(scaled * kMfxSampleRate, Int128{65536} * ppq_ * 1000000));
}

// ---- CMfxMeterMap

MfxMeterEntry& CMfxMeterMap::EntryFor(std::int32_t measure) {
    const int index = IndexForMeasure(measure);
    if (entries_[static_cast<std::size_t>(index)].measure == measure) return entries_[static_cast<std::size_t>(index)];
    MfxMeterEntry copy = entries_[static_cast<std::size_t>(index)];
    copy.measure = measure;
    return *entries_.insert(entries_.begin() + index + 1, copy);
}

void CMfxMeterMap::SetMeter(std::int32_t measure, std::int32_t beats, std::int32_t unit) {
    MfxMeterEntry& e = EntryFor(std::max(measure, 1));
    e.beats = beats;
    e.unit = unit;
    Recompute();
}

void CMfxMeterMap::SetKey(std::int32_t measure, std::int32_t key) {
    MfxMeterEntry& at = EntryFor(std::max(measure, 1));
    const std::int32_t old = at.key;
    // Later meters that only carried the old key on carry the new one: a key
    // signature met after a later meter change (another track) still holds there.
    for (auto it = entries_.begin() + (&at - entries_.data()); it != entries_.end() && it->key == old; ++it)
        it->key = key;
    Recompute();
}

void CMfxMeterMap::SetPPQ(std::int32_t ppq) {
    if (ppq < 1) return;
    ppq_ = ppq;
    Recompute();
}

void CMfxMeterMap::Recompute() {
    if (entries_.empty()) entries_.push_back(MfxMeterEntry{});
    entries_.front().measure = 1;
    entries_.front().startTick = 0;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        MfxMeterEntry& e = entries_[i];
        // A beat unit or count out of range (from a damaged file) must still
        // leave whole ticks to divide by.
        e.beats = std::max(e.beats, 1);
        e.unit = std::clamp(e.unit, 0, 30);
        e.ticksPerBeat = std::max<std::int32_t>(static_cast<std::int32_t>((std::int64_t{4} * ppq_) >> e.unit), 1);
        e.ticksPerMeasure = saturate32(Int128{e.beats} * e.ticksPerBeat);
        if (i == 0) continue;
        const MfxMeterEntry& prev = entries_[i - 1];
        e.startTick = saturate32(prev.startTick + Int128{e.measure - prev.measure} * prev.ticksPerMeasure);
    }
}

int CMfxMeterMap::IndexForTick(std::int32_t tick) const {
    const auto it = std::upper_bound(entries_.begin(), entries_.end(), tick,
                                     [](std::int32_t t, const MfxMeterEntry& e) { return t < e.startTick; });
    return it == entries_.begin() ? 0 : static_cast<int>(it - entries_.begin()) - 1;
}

int CMfxMeterMap::IndexForMeasure(std::int32_t measure) const {
    const auto it = std::upper_bound(entries_.begin(), entries_.end(), measure,
                                     [](std::int32_t m, const MfxMeterEntry& e) { return m < e.measure; });
    return it == entries_.begin() ? 0 : static_cast<int>(it - entries_.begin()) - 1;
}

MfxMbt CMfxMeterMap::TicksToMBT(std::int32_t tick) const {
    const MfxMeterEntry& e = entries_[static_cast<std::size_t>(IndexForTick(tick))];
    const Int128 d = Int128{tick} - e.startTick;
    const Int128 measures = divFloor(d, e.ticksPerMeasure);
    const Int128 inMeasure = d - measures * e.ticksPerMeasure;
    return {saturate32(e.measure + measures), static_cast<std::int32_t>(inMeasure / e.ticksPerBeat) + 1,
            static_cast<std::int32_t>(inMeasure % e.ticksPerBeat)};
}

std::int32_t CMfxMeterMap::MBTToTicks(std::int32_t measure, std::int32_t beat, std::int32_t tick) const {
    const MfxMeterEntry& e = entries_[static_cast<std::size_t>(IndexForMeasure(measure))];
    return saturate32(e.startTick + Int128{measure - Int128{e.measure}} * e.ticksPerMeasure +
                      (Int128{beat} - 1) * e.ticksPerBeat + tick);
}

std::int32_t CMfxMeterMap::MeasureFrom(std::int32_t tick) const {
    const MfxMbt at = TicksToMBT(tick);
    return at.beat == 1 && at.tick == 0 ? at.measure : at.measure + 1;
}

// ---- CMfxTrack

std::uint32_t CMfxTrack::ApplyToMessage(std::uint32_t message) const {
    std::uint32_t status = message & 0xFF;
    if (status < 0x80 || status >= 0xF0) return message;
    if (channelOverride >= 0) status = (status & 0xF0) | (static_cast<std::uint32_t>(channelOverride) & 0x0F);
    std::uint32_t data1 = message >> 8 & 0xFF;
    std::uint32_t data2 = message >> 16 & 0xFF;
    const std::uint32_t command = status & 0xF0;
    if (command == 0x80 || command == 0x90) {
        data1 = static_cast<std::uint32_t>(std::clamp<std::int32_t>(static_cast<std::int32_t>(data1) + keyOffset, 0, 127));
        // A velocity offset must not turn the note-on that ends a note into one that sounds.
        if (command == 0x80 || data2 != 0)
            data2 = static_cast<std::uint32_t>(
                std::clamp<std::int32_t>(static_cast<std::int32_t>(data2) + velocityOffset, 0, 127));
    }
    return (message & 0xFF000000u) | data2 << 16 | data1 << 8 | status;
}

std::size_t CMfxTrack::FindFirstAt(std::int32_t tick) const {
    const auto it = std::lower_bound(events.begin(), events.end(), tick,
                                     [](const CMfxEvent& e, std::int32_t t) { return e.time < t; });
    return static_cast<std::size_t>(it - events.begin());
}

// ---- CMfxSeq

CMfxSeq::CMfxSeq() { Reset(); }

void CMfxSeq::Reset() {
    markers.clear();
    meterMap = CMfxMeterMap();
    tempoMap = CMfxTempoMap();
    tracks.clear();
    ppq_ = kMfxDefaultPpq;
    CMfxTrack* through = GetTrack(kMfxPlayThroughKey, true);
    through->SetName("[Play Through]");
}

bool CMfxSeq::SetPPQ(std::int32_t ppq) {
    if (ppq < 1) return false;
    ppq_ = ppq;
    meterMap.SetPPQ(ppq);
    tempoMap.SetPPQ(ppq);
    return true;
}

CMfxTrack* CMfxSeq::GetTrack(std::int32_t key, bool create) {
    if (const auto it = tracks.find(key); it != tracks.end()) return &it->second;
    if (!create) return nullptr;
    CMfxTrack& track = tracks[key];
    track.key = key;
    return &track;
}

void CMfxSeq::Seek(std::int32_t tick) {
    for (auto& [key, track] : tracks)
        track.cursor = track.events.empty() ? -1 : static_cast<std::int32_t>(track.FindFirstAt(tick));
}

void CMfxSeq::AddMarker(const std::string& name, std::int32_t tick) {
    const auto at = std::upper_bound(markers.begin(), markers.end(), tick,
                                     [](std::int32_t t, const MfxMarker& m) { return t < m.tick; });
    markers.insert(at, MfxMarker{name.substr(0, 63), tick});
}

}  // namespace qvp3
