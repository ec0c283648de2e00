// MIDI message holders and the note tracker of the plug-in and sample players.
//
// A CMidiMessage holds one short message or one SysEx copy. A SysEx header may
// still be owned by a MIDI out device when its message is freed; it is then
// parked in one release table for the whole program, and a later sweep frees
// it once the device has marked it done. The note tracker merges the event
// lists of a file's tracks in time order and remembers, per track, channel and
// key, which notes are sounding, so that a stopped player can silence them.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/midi_out.h"

namespace qvp3 {

// MidiSysexHeader::flags.
inline constexpr std::uint32_t kSysexDone = 0x1;      // the device has finished with the bytes
inline constexpr std::uint32_t kSysexPrepared = 0x2;  // the header was handed to a device

// The header of a SysEx message, at the start of the block that also holds
// the bytes. A player that hands it to a device sets `device` and
// kSysexPrepared; the device (or the player, after a synchronous send) sets
// kSysexDone from any thread, and only then may the block be freed.
struct MidiSysexHeader {
    std::uint8_t* data = nullptr;  // the bytes, right after this header
    std::size_t bufferLength = 0;
    std::size_t bytesRecorded = 0;
    std::atomic<std::uint32_t> flags{0};
    platform::MidiOutDevice* device = nullptr;
    MidiSysexHeader* next = nullptr;  // used by the release table only
};

struct SysexBlockDeleter {
    void operator()(MidiSysexHeader* header) const noexcept;
};
// One heap block: the header followed by the bytes.
using SysexBlock = std::unique_ptr<MidiSysexHeader, SysexBlockDeleter>;

inline constexpr std::uint32_t kMidiMessageShort = 0;
inline constexpr std::uint32_t kMidiMessageSysex = 1;
// CMidiMessage::shortMessage of a SysEx message.
inline constexpr std::uint32_t kSysexShortMessage = 0xFFFFFFFC;

class CMidiMessage {
public:
    std::uint32_t kind = kMidiMessageShort;
    // Status in bits 0-7, data 1 in bits 8-15, data 2 in bits 16-23
    // (platform::packShortMessage); kSysexShortMessage for SysEx. A note-on of
    // velocity 0 is always stored as a note-off of velocity 64.
    std::uint32_t shortMessage = 0;
    SysexBlock header;  // SysEx only
    std::uint32_t time = 0;
    std::uint32_t sequence = 0;  // track index or order number

    CMidiMessage() = default;
    // A copy of a SysEx message holds bytes of its own, not handed to any
    // device; when that block cannot be allocated the copy's content is empty.
    CMidiMessage(const CMidiMessage& other);
    CMidiMessage& operator=(const CMidiMessage& other);
    CMidiMessage(CMidiMessage&& other) noexcept;
    CMidiMessage& operator=(CMidiMessage&& other) noexcept;
    ~CMidiMessage() { Free(); }

    // Frees the old content, then stores the bytes: up to 3 bytes as a short
    // message (missing data bytes are 0), more as a SysEx copy. False, with
    // the message empty, when the block cannot be allocated.
    bool Set(std::span<const std::uint8_t> bytes);
    // Empties the message; a SysEx header still prepared goes to
    // ReleaseHeader. Every field becomes 0.
    void Free() noexcept;
    // Takes a SysEx block off a message: freed at once when no device holds
    // it (not prepared, or done); otherwise parked in the release table until
    // a sweep finds it done.
    static void ReleaseHeader(SysexBlock header) noexcept;
};

// Frees every parked header that its device has marked done; the table stays
// filled from the front. Returns the number of headers still parked. Safe to
// call from any thread.
std::size_t midiSweepSysexHeaders();

// A growable list of messages: a track's events or a player's held queue.
inline constexpr std::uint32_t kNoCursor = 0xFFFFFFFF;
struct PlyEventQueue {
    std::vector<CMidiMessage> events;
    // A track's next event to deliver; kNoCursor until the player rewinds the
    // track, and a track without a valid cursor delivers nothing and counts as
    // finished. Messages appended to the list carry it as their sequence.
    std::uint32_t cursor = kNoCursor;
};

struct TrackNoteState {
    PlyEventQueue queue;
    std::array<std::uint8_t, 16 * 128> sounding{};  // channel * 128 + key; 1 = sounding
    std::uint32_t releaseChannel = 0;
    std::uint32_t releaseKey = 0;
    // 1: the note-offs of plyNoteTrackerReleaseAll take the caller's key.
    std::uint32_t mode = 0;
    // Kept for the players, which give them their meaning.
    std::int32_t playerValue = -1;
    std::uint8_t playerByte = 0xFF;
    std::uint8_t playerFlag = 1;
};

// One player thread's tracker.
struct CNoteTracker {
    std::vector<TrackNoteState> tracks;
    PlyEventQueue held;
    std::uint32_t currentTrack = 0;
    std::uint32_t releaseTrack = 0;
};

// Replaces the tracker's content with trackCount tracks (no events, no
// sounding notes) and an empty held queue. False, with the tracker empty, when
// memory runs out; 0 tracks: true.
bool plyNoteTrackerAlloc(CNoteTracker& tracker, std::size_t trackCount);
void plyNoteTrackerFree(CNoteTracker& tracker);

inline constexpr int kTrackerNothingDue = 0;
inline constexpr int kTrackerDelivered = 1;
inline constexpr int kTrackerFinished = 2;
// Copies the next event due at or before `time` into `out`: every due event of
// a track comes before those of the tracks after it. kTrackerDelivered,
// kTrackerNothingDue, or kTrackerFinished when every track is exhausted.
int plyNoteTrackerNext(CNoteTracker& tracker, std::uint32_t time, CMidiMessage& out);

// Puts one note-off (velocity 0, sequence = its track) for the next sounding
// note into `out` and clears that note; a track in mode 1 takes keyOverride as
// the key unless it is 0xFF. False when no note is sounding.
bool plyNoteTrackerReleaseAll(CNoteTracker& tracker, CMidiMessage& out, std::uint8_t keyOverride);

// Appends a short message (normalised) with the time and the queue's cursor
// as its sequence. False when memory runs out.
bool plyEventQueueAppend(PlyEventQueue& queue, std::uint32_t message, std::uint32_t time);

struct PlyTimedValue {
    std::uint32_t time = 0;
    std::uint32_t value = 0;
};
bool plyTimedValueAppend(std::vector<PlyTimedValue>& list, std::uint32_t value, std::uint32_t time);

// Note classification of a packed short message.
bool midiIsNoteOff(std::uint32_t message);  // 0x8n, or 0x9n with velocity 0
bool midiIsNoteOn(std::uint32_t message);   // 0x9n with velocity above 0

}  // namespace qvp3
