// The MFX sequence: a loaded MIDI performance as tracks of MFX events, with
// its tempo map, meter map (which also carries the key signatures) and
// markers, from which the host site answers a plug-in's questions about
// musical time. Every sample conversion runs at 44100 Hz.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "qvp3_audio/mfx_event.h"

namespace qvp3 {

inline constexpr std::int32_t kMfxDefaultPpq = 120;
inline constexpr std::int32_t kMfxDefaultTempo = 12000;  // hundredths of a beat per minute
inline constexpr std::int64_t kMfxSampleRate = 44100;

struct MfxTempoEntry {
    std::int32_t tick = 0;
    std::int32_t tempo = kMfxDefaultTempo;  // hundredths of a beat per minute
    std::int64_t time = 0;                  // start, in microseconds x PPQ
};

class CMfxTempoMap {
public:
    CMfxTempoMap() { Recompute(); }
    virtual ~CMfxTempoMap() = default;

    // Replaces the entries (any order; one per tick, the last given wins) and recomputes.
    void SetEntries(std::vector<MfxTempoEntry> entries);
    // Adds or replaces the tempo from `tick` on and recomputes.
    void SetTempo(std::int32_t tick, std::int32_t tempo);
    void SetPPQ(std::int32_t ppq);
    std::int32_t ppq() const { return ppq_; }
    const std::vector<MfxTempoEntry>& entries() const { return entries_; }

    // Last entry starting at or before the tick / the time (microseconds x PPQ); 0 before the first.
    int IndexForTick(std::int32_t tick) const;
    int IndexForTime(std::int64_t time) const;

    std::int32_t TicksToMsecs(std::int32_t tick) const;
    std::int32_t MsecsToTicks(std::int32_t ms) const;
    // Ticks x 65536 at a sample position, and back; rounded to nearest.
    std::int64_t SamplesToTicks(std::int64_t samples) const;
    std::int64_t TicksToSamples(std::int64_t ticks65536) const;

    // Microseconds per quarter at an entry's tempo, rounded.
    static std::int64_t MicrosPerQuarter(std::int32_t tempo);

private:
    void Recompute();

    std::vector<MfxTempoEntry> entries_;
    std::int32_t ppq_ = kMfxDefaultPpq;
};

struct MfxMeterEntry {
    std::int32_t measure = 1;  // first measure 1
    std::int32_t beats = 4;
    std::int32_t unit = 2;     // beat unit as a power of two: 2 quarter, 3 eighth
    std::int32_t key = 0;      // key signature: sharps above 0, flats below
    std::int32_t startTick = 0;
    std::int32_t ticksPerBeat = 0;
    std::int32_t ticksPerMeasure = 0;
};

struct MfxMbt {
    std::int32_t measure = 1;
    std::int32_t beat = 1;
    std::int32_t tick = 0;
};

class CMfxMeterMap {
public:
    CMfxMeterMap() { Recompute(); }

    // Adds or replaces the meter from `measure` on (its key kept from the
    // meter in force there) and recomputes.
    void SetMeter(std::int32_t measure, std::int32_t beats, std::int32_t unit);
    // Sets the key from `measure` on (a new entry with the meter in force
    // there when needed), up to the next entry with a key of its own.
    void SetKey(std::int32_t measure, std::int32_t key);
    void SetPPQ(std::int32_t ppq);
    const std::vector<MfxMeterEntry>& entries() const { return entries_; }

    int IndexForTick(std::int32_t tick) const;
    int IndexForMeasure(std::int32_t measure) const;
    MfxMbt TicksToMBT(std::int32_t tick) const;
    std::int32_t MBTToTicks(std::int32_t measure, std::int32_t beat, std::int32_t tick) const;
    // The measure that starts at the tick, or the next one when the tick falls inside a measure.
    std::int32_t MeasureFrom(std::int32_t tick) const;

private:
    MfxMeterEntry& EntryFor(std::int32_t measure);
    void Recompute();

    std::vector<MfxMeterEntry> entries_;
    std::int32_t ppq_ = kMfxDefaultPpq;
};

class CMfxTrack {
public:
    CMfxTrack() = default;
    virtual ~CMfxTrack() = default;

    std::vector<CMfxEvent> events;  // sorted by time
    std::int32_t key = 0;           // its key in the sequence
    std::int32_t channelOverride = -1;
    std::uint8_t port = 0;
    std::string name;               // up to 127 characters
    std::int32_t keyOffset = 0;
    std::int32_t velocityOffset = 0;
    std::int32_t cursor = -1;       // next event; -1 while the track is empty

    void SetName(const std::string& text) { name = text.substr(0, 127); }
    // The track's settings on a short message: a channel message gets the
    // channel override; a note's key and velocity get the offsets, within
    // 0..127. A note-on of velocity 0 stays one (it ends a note).
    std::uint32_t ApplyToMessage(std::uint32_t message) const;
    // First event at or after the tick; events.size() when there is none.
    std::size_t FindFirstAt(std::int32_t tick) const;
};

struct MfxMarker {
    std::string name;  // ANSI (Windows-1252), up to 63 characters
    std::int32_t tick = 0;
};

class CMfxSeq {
public:
    CMfxSeq();
    virtual ~CMfxSeq() = default;

    // Back to a new sequence.
    void Reset();
    // Sets the PPQ of the sequence and both maps; a PPQ below 1 is refused (false).
    bool SetPPQ(std::int32_t ppq);
    std::int32_t ppq() const { return ppq_; }
    // The track of the key; created when asked, else null.
    CMfxTrack* GetTrack(std::int32_t key, bool create);
    // Every track's cursor to its first event at or after the tick.
    void Seek(std::int32_t tick);
    void AddMarker(const std::string& name, std::int32_t tick);

    std::vector<MfxMarker> markers;  // in tick order
    CMfxMeterMap meterMap;
    CMfxTempoMap tempoMap;
    std::map<std::int32_t, CMfxTrack> tracks;

private:
    std::int32_t ppq_ = kMfxDefaultPpq;
};

inline constexpr std::int32_t kMfxPlayThroughKey = -1;

}  // namespace qvp3
