// MIDI message holders, the SysEx release table and the note tracker.
#include "qvp3_pipeline/note_tracker.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>
#include <utility>

namespace qvp3 {
namespace {

std::uint8_t statusOf(std::uint32_t message) { return static_cast<std::uint8_t>(message & 0xFF); }
std::uint8_t data1Of(std::uint32_t message) { return static_cast<std::uint8_t>(message >> 8 & 0xFF); }
std::uint8_t data2Of(std::uint32_t message) { return static_cast<std::uint8_t>(message >> 16 & 0xFF); }

// A note-on of velocity 0 becomes the note-off it means, so that the players
// and plug-ins see one kind of note-off only.
std::uint32_t normaliseShortMessage(std::uint32_t message) {
    const std::uint8_t status = statusOf(message);
    if ((status & 0xF0) == 0x90 && data2Of(message) == 0)
        return platform::packShortMessage(static_cast<std::uint8_t>(0x80 | (status & 0x0F)), data1Of(message), 0x40);
    return message;
}

SysexBlock allocateSysex(std::size_t length) {
    if (length > std::numeric_limits<std::size_t>::max() - sizeof(MidiSysexHeader)) return {};
    void* raw = ::operator new(sizeof(MidiSysexHeader) + length, std::nothrow);
    if (raw == nullptr) return {};
    auto* header = new (raw) MidiSysexHeader;
    header->data = static_cast<std::uint8_t*>(raw) + sizeof(MidiSysexHeader);
    header->bufferLength = length;
    header->bytesRecorded = length;
    return SysexBlock(header);
}

bool heldByDevice(const MidiSysexHeader& header) {
    const std::uint32_t flags = header.flags.load(std::memory_order_acquire);
    return (flags & kSysexPrepared) != 0 && (flags & kSysexDone) == 0;
}

// Headers whose devices have not finished with them yet. Players on several
// threads free SysEx messages, hence the lock.
class SysexReleaseTable {
public:
    static constexpr std::size_t kSlots = 1024;

    std::mutex mutex;

    // Under the lock.
    std::size_t sweep() {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < used_; ++i) {
            if (heldByDevice(*slots_[i]))
                slots_[kept++] = slots_[i];
            else
                unprepareAndFree(slots_[i]);
        }
        for (std::size_t i = kept; i < used_; ++i) slots_[i] = nullptr;
        used_ = kept;
        for (MidiSysexHeader** link = &overflow_; *link != nullptr;) {
            MidiSysexHeader* header = *link;
            if (heldByDevice(*header)) {
                link = &header->next;
            } else {
                *link = header->next;
                unprepareAndFree(header);
                --overflowCount_;
            }
        }
        return used_ + overflowCount_;
    }

    // Under the lock. A header still held when every slot is taken goes on an
    // overflow list that sweeps free as well: dropping it would leak the
    // block, freeing it would pull the bytes from under the device.
    void park(MidiSysexHeader* header) {
        if (used_ < kSlots) {
            slots_[used_++] = header;
            return;
        }
        header->next = overflow_;
        overflow_ = header;
        ++overflowCount_;
    }

private:
    // Our devices need no unprepare call: the header only loses its flag.
    static void unprepareAndFree(MidiSysexHeader* header) {
        header->flags.fetch_and(~kSysexPrepared, std::memory_order_relaxed);
        SysexBlockDeleter{}(header);
    }

    std::array<MidiSysexHeader*, kSlots> slots_{};
    std::size_t used_ = 0;
    MidiSysexHeader* overflow_ = nullptr;
    std::size_t overflowCount_ = 0;
};

// Never destroyed: messages freed while the program exits still park here.
SysexReleaseTable& releaseTable() {
    static auto* const table = new SysexReleaseTable;
    return *table;
}

void markSounding(TrackNoteState& track, const CMidiMessage& event) {
    if (event.kind != kMidiMessageShort) return;
    const std::uint8_t key = data1Of(event.shortMessage);
    if (key > 0x7F) return;  // not a note: its key would index past the table
    const std::size_t index = static_cast<std::size_t>(statusOf(event.shortMessage) & 0x0F) * 128 + key;
    if (midiIsNoteOn(event.shortMessage))
        track.sounding[index] = 1;
    else if (midiIsNoteOff(event.shortMessage))
        track.sounding[index] = 0;
}

}  // namespace

void SysexBlockDeleter::operator()(MidiSysexHeader* header) const noexcept {
    header->~MidiSysexHeader();
    ::operator delete(static_cast<void*>(header));
}

CMidiMessage::CMidiMessage(const CMidiMessage& other) { *this = other; }

CMidiMessage& CMidiMessage::operator=(const CMidiMessage& other) {
    if (this == &other) return *this;
    Free();
    if (other.header) {
        Set({other.header->data, other.header->bytesRecorded});
    } else {
        kind = other.kind;
        shortMessage = other.shortMessage;
    }
    time = other.time;
    sequence = other.sequence;
    return *this;
}

CMidiMessage::CMidiMessage(CMidiMessage&& other) noexcept { *this = std::move(other); }

CMidiMessage& CMidiMessage::operator=(CMidiMessage&& other) noexcept {
    if (this == &other) return *this;
    Free();
    kind = other.kind;
    shortMessage = other.shortMessage;
    header = std::move(other.header);
    time = other.time;
    sequence = other.sequence;
    other.kind = kMidiMessageShort;
    other.shortMessage = 0;
    other.time = 0;
    other.sequence = 0;
    return *this;
}

bool CMidiMessage::Set(std::span<const std::uint8_t> bytes) {
    Free();
    if (bytes.size() <= 3) {
        std::array<std::uint8_t, 3> b{};
        std::copy(bytes.begin(), bytes.end(), b.begin());
        shortMessage = normaliseShortMessage(platform::packShortMessage(b[0], b[1], b[2]));
        return true;
    }
    SysexBlock block = allocateSysex(bytes.size());
    if (!block) return false;
    std::memcpy(block->data, bytes.data(), bytes.size());
    header = std::move(block);
    kind = kMidiMessageSysex;
    shortMessage = kSysexShortMessage;
    return true;
}

void CMidiMessage::Free() noexcept {
    if (header) ReleaseHeader(std::move(header));
    kind = kMidiMessageShort;
    shortMessage = 0;
    time = 0;
    sequence = 0;
}

void CMidiMessage::ReleaseHeader(SysexBlock header) noexcept {
    if (!header || !heldByDevice(*header)) return;  // freed on return
    SysexReleaseTable& table = releaseTable();
    std::lock_guard lock(table.mutex);
    table.sweep();
    table.park(header.release());
}

std::size_t midiSweepSysexHeaders() {
    SysexReleaseTable& table = releaseTable();
    std::lock_guard lock(table.mutex);
    return table.sweep();
}

bool plyNoteTrackerAlloc(CNoteTracker& tracker, std::size_t trackCount) {
    plyNoteTrackerFree(tracker);
    try {
        tracker.tracks.resize(trackCount);
    } catch (const std::bad_alloc&) {
        plyNoteTrackerFree(tracker);
        return false;
    } catch (const std::length_error&) {
        plyNoteTrackerFree(tracker);
        return false;
    }
    return true;
}

void plyNoteTrackerFree(CNoteTracker& tracker) { tracker = CNoteTracker{}; }

int plyNoteTrackerNext(CNoteTracker& tracker, std::uint32_t time, CMidiMessage& out) {
    std::vector<TrackNoteState>& tracks = tracker.tracks;
    for (std::size_t t = tracker.currentTrack; t < tracks.size(); ++t) {
        PlyEventQueue& queue = tracks[t].queue;
        if (queue.cursor >= queue.events.size() || queue.events[queue.cursor].time > time) continue;
        const CMidiMessage& event = queue.events[queue.cursor++];
        out = event;
        markSounding(tracks[t], event);
        // Stay on this track: it delivers all its due events first.
        tracker.currentTrack = static_cast<std::uint32_t>(t);
        return kTrackerDelivered;
    }
    // Also after the last event, so that rewound tracks are asked from the
    // first again.
    tracker.currentTrack = 0;
    for (const TrackNoteState& track : tracks)
        if (track.queue.cursor < track.queue.events.size()) return kTrackerNothingDue;
    return kTrackerFinished;
}

bool plyNoteTrackerReleaseAll(CNoteTracker& tracker, CMidiMessage& out, std::uint8_t keyOverride) {
    std::vector<TrackNoteState>& tracks = tracker.tracks;
    for (; tracker.releaseTrack < tracks.size(); ++tracker.releaseTrack) {
        TrackNoteState& track = tracks[tracker.releaseTrack];
        for (; track.releaseChannel < 16; ++track.releaseChannel, track.releaseKey = 0) {
            for (; track.releaseKey < 128; ++track.releaseKey) {
                std::uint8_t& note = track.sounding[track.releaseChannel * 128 + track.releaseKey];
                if (note == 0) continue;
                note = 0;
                const auto key = track.mode == 1 && keyOverride != 0xFF ? keyOverride
                                                                        : static_cast<std::uint8_t>(track.releaseKey);
                out.Free();
                out.shortMessage =
                    platform::packShortMessage(static_cast<std::uint8_t>(0x80 | track.releaseChannel), key, 0);
                out.sequence = tracker.releaseTrack;
                return true;
            }
        }
        track.releaseChannel = 0;
        track.releaseKey = 0;
    }
    tracker.releaseTrack = 0;
    return false;
}

bool plyEventQueueAppend(PlyEventQueue& queue, std::uint32_t message, std::uint32_t time) {
    try {
        CMidiMessage& appended = queue.events.emplace_back();
        appended.shortMessage = normaliseShortMessage(message);
        appended.time = time;
        appended.sequence = queue.cursor;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool plyTimedValueAppend(std::vector<PlyTimedValue>& list, std::uint32_t value, std::uint32_t time) {
    try {
        list.push_back({time, value});
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool midiIsNoteOff(std::uint32_t message) {
    const std::uint8_t status = statusOf(message) & 0xF0;
    return status == 0x80 || (status == 0x90 && data2Of(message) == 0);
}

bool midiIsNoteOn(std::uint32_t message) { return (statusOf(message) & 0xF0) == 0x90 && data2Of(message) > 0; }

}  // namespace qvp3
