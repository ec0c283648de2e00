// Player items: the 8-byte timed items of the tune-up and count-in lists that the
// program hands to the score engine as one block of bytes.
//
// A list is a run of lanes. Every lane opens with a marker item and an anchor item
// and closes with an end item; lanes do not follow one another in time, they all
// start at the time their marker names (relative to the start of the list) and
// play side by side. Inside a lane a time cursor starts at the lane's start; each
// item happens at the cursor, and the cursor then moves on by the item's time.
//
// Byte layout (multi-byte values little-endian):
//
//   note item      kind, velocity, second velocity, key or step, length code,
//                  extra, int16 ticks
//       kind = behaviour | type. Behaviour 0x10 (kNoteTimed): the note sounds for
//       its ticks, and the cursor moves on by them (a click, a step of a broken
//       chord). Behaviour 0x20 (kNoteHeld): the note starts at the cursor and sounds
//       until a release of its key in the lane or the lane's end; the cursor moves
//       on by its ticks (the lists write 0).
//       Type 2 (kNotePlain, kinds 18 and 34): byte 3 is a MIDI key, copied as it
//       came (a key byte with bit 7 set is a percussion marker of the source);
//       extra is 0. Type 3 (kNoteSpelled, kinds 19 and 35): byte 3 is a diatonic
//       step counted from C of octave 5 (MIDI key 60) as a signed byte, extra the
//       alteration in semitones as a signed byte (-1 flat, 0 none, 1 sharp).
//       The length code is the written note value as a fraction denominator; the
//       lists write 4 (a quarter).
//   note-on item   0x90, key, velocity, 0, int32 time
//       Starts the key; a velocity of 0 starts nothing. Every lane's second item is
//       the anchor (0x90, 7, 0, time 0): it sounds nothing and marks the lane for
//       the program, which links the note-on items of a joined list.
//   note-off item  0x80, key, velocity, 0, int32 time
//       Velocity 0: a release, ending the held note of that key in the lane.
//       Any other velocity: only a wait of `time` ticks; the lists write the rest
//       item (0x80, 100, 100, time) for that.
//   marker item    0xFF, type, program, flags, int32 start
//       Opens a lane. Type 0 (kMarkerTuneUp) a tune-up lane, type 5 (kMarkerStart)
//       a click lane. Start is the lane's start in ticks. Flags bit 0
//       (kMarkerHasProgram): the lane's notes want `program` set first.
//   end item       0xFF, 0xFF, 0, 0, 0 - ends the lane and every note still held.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace scorecore {

inline constexpr std::uint8_t kItemNoteOn = 0x90;
inline constexpr std::uint8_t kItemNoteOff = 0x80;
inline constexpr std::uint8_t kItemMarker = 0xFF;  // marker and end items

inline constexpr std::uint8_t kNoteTimed = 0x10;
inline constexpr std::uint8_t kNoteHeld = 0x20;
inline constexpr std::uint8_t kNotePlain = 2;
inline constexpr std::uint8_t kNoteSpelled = 3;
inline constexpr std::uint8_t kNoteLengthQuarter = 4;

inline constexpr std::uint8_t kMarkerTuneUp = 0;
inline constexpr std::uint8_t kMarkerStart = 5;
inline constexpr std::uint8_t kMarkerEnd = 0xFF;  // type byte of the end item
inline constexpr std::uint8_t kMarkerHasProgram = 0x01;

inline constexpr std::uint8_t kAnchorKey = 7;
inline constexpr std::uint8_t kRestKey = 100;
inline constexpr std::uint8_t kRestVelocity = 100;

// Largest tick count a note item holds.
inline constexpr std::int32_t kNoteItemMaxTicks = 0x7FFF;

struct CPlayerItem {
    std::uint8_t kind = 0;   // byte 0: note kind, 0x90, 0x80 or 0xFF
    std::uint8_t data1 = 0;  // byte 1: velocity (note item), key (0x90/0x80), type (0xFF)
    std::uint8_t data2 = 0;  // byte 2: second velocity, velocity, program
    std::uint8_t data3 = 0;  // byte 3: key or step (note item), flags (marker), else 0
    // Bytes 4-7. Note items: length code | extra << 8 | ticks << 16; other items
    // their time or start.
    std::int32_t value = 0;

    bool isNote() const { return kind != kItemNoteOn && kind != kItemNoteOff && kind != kItemMarker; }
    std::uint8_t noteLengthCode() const { return static_cast<std::uint8_t>(raw() & 0xFF); }
    std::uint8_t noteExtra() const { return static_cast<std::uint8_t>((raw() >> 8) & 0xFF); }
    std::int16_t noteTicks() const { return static_cast<std::int16_t>(raw() >> 16); }

    // The 8 stored bytes.
    std::array<std::uint8_t, 8> bytes() const {
        const std::uint32_t v = raw();
        return {kind,
                data1,
                data2,
                data3,
                static_cast<std::uint8_t>(v),
                static_cast<std::uint8_t>(v >> 8),
                static_cast<std::uint8_t>(v >> 16),
                static_cast<std::uint8_t>(v >> 24)};
    }

    bool operator==(const CPlayerItem&) const = default;

private:
    std::uint32_t raw() const { return static_cast<std::uint32_t>(value); }
};

// A note item; ticks are kept within 0..kNoteItemMaxTicks.
inline CPlayerItem makeNoteItem(std::uint8_t kind, std::uint8_t velocity, std::uint8_t velocity2,
                                std::uint8_t keyOrStep, std::uint8_t lengthCode, std::uint8_t extra,
                                std::int32_t ticks) {
    const auto t = static_cast<std::uint32_t>(std::clamp(ticks, 0, kNoteItemMaxTicks));
    const std::uint32_t tail = lengthCode | static_cast<std::uint32_t>(extra) << 8 | t << 16;
    return {kind, velocity, velocity2, keyOrStep, static_cast<std::int32_t>(tail)};
}

inline CPlayerItem makeNoteOnItem(std::uint8_t key, std::uint8_t velocity, std::int32_t time) {
    return {kItemNoteOn, key, velocity, 0, time};
}

inline CPlayerItem makeNoteOffItem(std::uint8_t key, std::uint8_t velocity, std::int32_t time) {
    return {kItemNoteOff, key, velocity, 0, time};
}

inline CPlayerItem makeRestItem(std::int32_t time) { return makeNoteOffItem(kRestKey, kRestVelocity, time); }

inline CPlayerItem makeAnchorItem() { return makeNoteOnItem(kAnchorKey, 0, 0); }

inline CPlayerItem makeMarkerItem(std::uint8_t type, std::int32_t start, std::uint8_t program = 0,
                                  std::uint8_t flags = 0) {
    return {kItemMarker, type, program, flags, start};
}

inline CPlayerItem makeEndItem() { return {kItemMarker, kMarkerEnd, 0, 0, 0}; }

// The bytes of a list, 8 per item, as the engine takes them.
inline std::vector<std::uint8_t> playerItemBytes(std::span<const CPlayerItem> items) {
    std::vector<std::uint8_t> out;
    out.reserve(items.size() * 8);
    for (const CPlayerItem& item : items) {
        const auto b = item.bytes();
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

}  // namespace scorecore
