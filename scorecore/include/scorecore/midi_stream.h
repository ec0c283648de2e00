// MIDI byte streams: the body of a standard MIDI file track built one event
// at a time, or the same events sent live to a MIDI output. Every put
// operation takes an optional stream: with one it appends the bytes, without
// one it sends (channel messages) or does nothing (delta times, meta events).
//
// Recording a voice: the caller keeps per track a stream and a pending delta
// counter in ticks; time advances by adding to the counter, and each event is
// written as scMidiPutDelta() followed by one put operation.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/midi_out.h"

namespace scorecore {

// The bytes of one track body without its "MTrk" chunk header: delta times,
// channel messages with explicit status bytes (no running status) and meta
// events.
class CMidiTrackStream {
public:
    // The bytes held; null while the stream is empty.
    const std::uint8_t* data() const noexcept { return bytes_.empty() ? nullptr : bytes_.data(); }
    std::uint32_t length() const noexcept { return static_cast<std::uint32_t>(bytes_.size()); }
    std::span<const std::uint8_t> bytes() const noexcept { return bytes_; }
    bool empty() const noexcept { return bytes_.empty(); }

    // Appends `head` and then `tail` as one: false, with the stream unchanged,
    // when memory cannot be had or the track would outgrow the 32-bit chunk
    // length.
    bool append(std::span<const std::uint8_t> head, std::span<const std::uint8_t> tail = {});
    // Room for `bytes` in all, so that a stream of a known size is written
    // without being copied as it grows; false, with the stream unchanged, when
    // memory cannot be had (appending still works then).
    bool reserve(std::size_t bytes) noexcept;
    // Drops the bytes and frees the block.
    void clear() noexcept;

private:
    std::vector<std::uint8_t> bytes_;
};

// Largest value a variable-length quantity holds (four 7-bit groups).
inline constexpr std::int64_t kMidiVarLenMax = 0x0FFFFFFF;

// Codes `value` as a variable-length quantity into `buffer`, in file order
// (most significant group first, bit 7 set on every byte but the last), and
// returns the number of bytes used (1 to 4). Values below 0 or above
// kMidiVarLenMax are refused: 0, nothing written.
int scMidiPutVarLen(std::span<std::uint8_t, 4> buffer, std::int64_t value);

// Reads a variable-length quantity from the start of `data` and returns the
// number of bytes read (1 to 4), storing the value in `value` when given. A
// quantity that is not ended within four bytes or before the end of `data`
// gives 0 and leaves `value` untouched.
int scMidiGetVarLen(std::span<const std::uint8_t> data, std::uint32_t* value);

// Sends status | data1 << 8 | data2 << 16 to the device; false without a
// device or when the device refused it.
bool scMidiSendShort(std::uint8_t status, std::uint8_t data1, std::uint8_t data2, platform::MidiOutDevice* device);

// With a stream, appends the channel message (no second data byte for
// 0xC0-0xDF, program change and channel pressure) and returns the bytes added
// (2 or 3), -1 when memory cannot be had. Without a stream, sends it to the
// device (when there is one) and returns 0.
int scMidiPutShort(CMidiTrackStream* stream, std::uint8_t status, std::uint8_t data1, std::uint8_t data2,
                   platform::MidiOutDevice* device);

// Appends the pending delta time as a variable-length quantity, sets it to 0
// and returns the bytes added. Without a stream: 0, the counter kept. -1, with
// nothing written and the counter kept, when memory cannot be had or the delta
// is negative or above kMidiVarLenMax.
int scMidiPutDelta(CMidiTrackStream* stream, int& delta);

// Appends the meta event 0xFF, type, size of data (variable-length), data;
// returns the bytes added, 0 without a stream, -1 when memory cannot be had
// or the data is longer than kMidiVarLenMax.
int scMidiPutMeta(CMidiTrackStream* stream, std::uint8_t type, std::span<const std::uint8_t> data);

// Microseconds per quarter at `tempo` quarters per minute, as the tempo meta
// event holds them: 1000000 / (tempo / 60) truncated, kept within 1..0xFFFFFF.
// A tempo of 0 or below gives the slowest, 0xFFFFFF.
std::uint32_t scMidiTempoMicroseconds(int tempo);
// Meta event 0x51 with the three bytes of scMidiTempoMicroseconds(), big-endian.
int scMidiPutTempo(CMidiTrackStream* stream, int tempo);
// Meta event 0x59: fifths (signed, clamped to -7..7), then 0 for mode 1
// (major) and 1 for any other mode (minor).
int scMidiPutKeySignature(CMidiTrackStream* stream, int fifths, int mode);
// MIDI clocks per click of a beat unit given as its power of two: 96 / 2^index
// (truncated); 0 for an index outside 0..12.
std::uint8_t scMidiClocksPerClick(int unitIndex);
// Meta event 0x58: beats, unit index (power of two of the beat unit),
// scMidiClocksPerClick(unitIndex), 8 thirty-second notes per quarter.
int scMidiPutTimeSignature(CMidiTrackStream* stream, int beats, int unitIndex);

// Host-order values of a standard MIDI file header.
struct CMidiFileHeader {
    std::int32_t length = 6;
    std::uint16_t format = 1;
    std::uint16_t tracks = 0;
    std::uint16_t division = 480;
};
// The 14 header bytes: "MThd", length, format, tracks, division, big-endian.
std::array<std::uint8_t, 14> scMidiFillFileHeader(const CMidiFileHeader& values);

// Short display name of a controller number ("Vol", "Pan", ...); numbers
// without a name, negative ones and 128 and above give their decimal text.
std::string scMidiControllerName(int controller);

// The instrument of one (staff, voice). 255 means unset in every byte field.
struct CMidiInstr {
    static constexpr std::uint8_t kUnset = 255;

    std::string InstrumentId;              // the source's instrument id
    std::uint8_t PercNote = kUnset;        // percussion key ("midi-unpitched" - 1)
    std::uint8_t SrcProgPercId = 0;        // source program ("midi-program" - 1)
    std::uint8_t UserProgram = kUnset;     // program chosen by the user
    std::uint8_t SrcChannel = kUnset;      // source channel ("midi-channel" - 1)
    std::uint8_t Channel = kUnset;         // channel given by the channel plan

    // Back to the defaults; returns 255.
    int reset();
    bool hasPercNote() const { return PercNote != kUnset; }
};

}  // namespace scorecore
