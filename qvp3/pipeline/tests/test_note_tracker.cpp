// MIDI message holders, the SysEx release table shared by the players, and
// the note tracker that merges tracks and silences sounding notes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <iterator>
#include <thread>
#include <utility>
#include <vector>

#include "qvp3_pipeline/note_tracker.h"

namespace qvp3 {
namespace {

using platform::packShortMessage;

std::vector<std::uint8_t> sysexBytes(std::size_t payload, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes{0xF0};
    for (std::size_t i = 0; i < payload; ++i) bytes.push_back(static_cast<std::uint8_t>((seed + i) & 0x7F));
    bytes.push_back(0xF7);
    return bytes;
}

std::vector<std::uint8_t> bytesOf(const MidiSysexHeader& header) {
    return {header.data, header.data + header.bytesRecorded};
}

// A device that finishes with a SysEx header some time after the player handed
// it over. Whatever is still held when a test ends is finished then, so that
// every test leaves the program's release table empty.
class LateDevice {
public:
    MidiSysexHeader* hand(CMidiMessage& message) {
        MidiSysexHeader* header = message.header.get();
        header->device = &out_;
        out_.longMessage({header->data, header->bytesRecorded});
        header->flags.fetch_or(kSysexPrepared);
        held_.push_back(header);
        return header;
    }
    // The header must not be touched afterwards: a sweep may free it.
    void finish(MidiSysexHeader* header) {
        std::erase(held_, header);
        header->flags.fetch_or(kSysexDone, std::memory_order_release);
    }
    void finishAll() {
        while (!held_.empty()) finish(held_.back());
    }

private:
    platform::CaptureMidiOut out_;
    std::vector<MidiSysexHeader*> held_;
};

class MidiMessageRelease : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(midiSweepSysexHeaders(), 0u); }
    void TearDown() override {
        device.finishAll();
        EXPECT_EQ(midiSweepSysexHeaders(), 0u);
    }

    // A message whose header the device still holds.
    CMidiMessage sent(std::uint8_t seed, MidiSysexHeader** header = nullptr) {
        CMidiMessage message;
        EXPECT_TRUE(message.Set(sysexBytes(8, seed)));
        MidiSysexHeader* h = device.hand(message);
        if (header != nullptr) *header = h;
        return message;
    }

    LateDevice device;
};

// --- storing messages --------------------------------------------------------

TEST(MidiMessage, StoresShortMessagesNormalised) {
    struct Case {
        std::vector<std::uint8_t> bytes;
        std::uint32_t stored;
    };
    const Case cases[] = {
        {{0x90, 0x3C, 0x00}, packShortMessage(0x80, 0x3C, 0x40)},  // note-on of velocity 0 is a note-off
        {{0x9F, 0x7F, 0x00}, packShortMessage(0x8F, 0x7F, 0x40)},
        {{0x90, 0x3C, 0x64}, packShortMessage(0x90, 0x3C, 0x64)},
        {{0x80, 0x3C, 0x00}, packShortMessage(0x80, 0x3C, 0x00)},  // a real note-off keeps its velocity
        {{0xC5, 0x10}, packShortMessage(0xC5, 0x10, 0)},
        {{0xF8}, packShortMessage(0xF8, 0, 0)},
        {{}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "stored " << std::hex << c.stored);
        CMidiMessage message;
        message.time = 99;
        ASSERT_TRUE(message.Set(c.bytes));
        EXPECT_EQ(message.kind, kMidiMessageShort);
        EXPECT_EQ(message.shortMessage, c.stored);
        EXPECT_EQ(message.header, nullptr);
        EXPECT_EQ(message.time, 0u);
    }
}

TEST(MidiMessage, StoresLongerMessagesAsSysexCopies) {
    const std::vector<std::uint8_t> bytes = sysexBytes(4, 0x10);
    CMidiMessage message;
    ASSERT_TRUE(message.Set(bytes));
    EXPECT_EQ(message.kind, kMidiMessageSysex);
    EXPECT_EQ(message.shortMessage, kSysexShortMessage);
    ASSERT_NE(message.header, nullptr);
    EXPECT_EQ(message.header->bufferLength, bytes.size());
    EXPECT_EQ(bytesOf(*message.header), bytes);
    EXPECT_EQ(message.header->flags.load(), 0u);

    // Storing again frees the old block; a short message drops it.
    ASSERT_TRUE(message.Set(sysexBytes(20, 0x30)));
    EXPECT_EQ(bytesOf(*message.header), sysexBytes(20, 0x30));
    ASSERT_TRUE(message.Set(std::vector<std::uint8_t>{0xB0, 7, 100}));
    EXPECT_EQ(message.header, nullptr);
    EXPECT_EQ(message.shortMessage, packShortMessage(0xB0, 7, 100));
}

TEST(MidiMessage, ClassifiesNoteEvents) {
    struct Case {
        std::uint32_t message;
        bool off, on;
    };
    const Case cases[] = {
        {packShortMessage(0x80, 60, 64), true, false}, {packShortMessage(0x8F, 60, 0), true, false},
        {packShortMessage(0x90, 60, 0), true, false},  {packShortMessage(0x9F, 60, 1), false, true},
        {packShortMessage(0x90, 0, 127), false, true}, {packShortMessage(0xA0, 60, 0), false, false},
        {packShortMessage(0x7F, 60, 0), false, false}, {kSysexShortMessage, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.message);
        EXPECT_EQ(midiIsNoteOff(c.message), c.off);
        EXPECT_EQ(midiIsNoteOn(c.message), c.on);
    }
}

TEST_F(MidiMessageRelease, CopiesHoldBytesOfTheirOwn) {
    MidiSysexHeader* original = nullptr;
    CMidiMessage message = sent(0x20, &original);
    message.time = 7;
    message.sequence = 3;

    CMidiMessage copy = message;
    ASSERT_NE(copy.header, nullptr);
    EXPECT_NE(copy.header->data, original->data);
    EXPECT_EQ(bytesOf(*copy.header), bytesOf(*original));
    EXPECT_EQ(copy.header->flags.load(), 0u);  // not handed to any device
    EXPECT_EQ(copy.header->device, nullptr);
    EXPECT_EQ(copy.time, 7u);
    EXPECT_EQ(copy.sequence, 3u);

    // Growing a list moves its messages: the held header stays where the
    // device expects it.
    std::vector<CMidiMessage> list;
    list.push_back(std::move(message));
    for (int i = 0; i < 100; ++i) list.push_back(copy);
    EXPECT_EQ(list.front().header.get(), original);
    EXPECT_EQ(message.header, nullptr);
    EXPECT_EQ(message.kind, kMidiMessageShort);
    EXPECT_EQ(bytesOf(*list.back().header), bytesOf(*original));

    // Copies are nobody's but ours: freed at once.
    list.resize(1);
    copy.Free();
    EXPECT_EQ(midiSweepSysexHeaders(), 0u);
}

// --- the release table -------------------------------------------------------

TEST_F(MidiMessageRelease, FreedWhileTheDeviceHoldsItIsParkedUntilDone) {
    MidiSysexHeader* header = nullptr;
    CMidiMessage message = sent(0x40, &header);
    message.time = 5;
    message.Free();
    EXPECT_EQ(message.kind, 0u);
    EXPECT_EQ(message.shortMessage, 0u);
    EXPECT_EQ(message.header, nullptr);
    EXPECT_EQ(message.time, 0u);
    EXPECT_EQ(midiSweepSysexHeaders(), 1u);
    EXPECT_EQ(bytesOf(*header), sysexBytes(8, 0x40));  // still there for the device

    // Parking another message sweeps the table first.
    MidiSysexHeader* second = nullptr;
    device.finish(header);
    { CMidiMessage other = sent(0x41, &second); }
    EXPECT_EQ(midiSweepSysexHeaders(), 1u);
    device.finish(second);
    EXPECT_EQ(midiSweepSysexHeaders(), 0u);

    // Never handed over, or done already: freed at once.
    CMidiMessage unsent;
    ASSERT_TRUE(unsent.Set(sysexBytes(8, 0x42)));
    unsent.Free();
    CMidiMessage done = sent(0x43, &header);
    device.finish(header);
    done.Free();
    EXPECT_EQ(midiSweepSysexHeaders(), 0u);
}

TEST_F(MidiMessageRelease, HeadersBeyondAFullTableAreKeptUntilDone) {
    constexpr std::size_t kSlots = 1024;
    std::vector<MidiSysexHeader*> headers;
    for (std::size_t i = 0; i < kSlots + 3; ++i) {
        MidiSysexHeader* header = nullptr;
        sent(static_cast<std::uint8_t>(i), &header).Free();
        headers.push_back(header);
    }
    EXPECT_EQ(midiSweepSysexHeaders(), kSlots + 3);

    // Those beyond the table are freed once done, in any order; the others
    // keep their bytes.
    device.finish(headers[kSlots + 1]);
    EXPECT_EQ(midiSweepSysexHeaders(), kSlots + 2);
    device.finish(headers[kSlots]);
    EXPECT_EQ(midiSweepSysexHeaders(), kSlots + 1);
    EXPECT_EQ(bytesOf(*headers[kSlots + 2]), sysexBytes(8, static_cast<std::uint8_t>(kSlots + 2)));

    // Done headers inside the table go too; a header parked then takes the
    // free slot, and the headers around it stay intact.
    device.finish(headers[500]);
    EXPECT_EQ(midiSweepSysexHeaders(), kSlots);
    sent(0x11).Free();
    EXPECT_EQ(midiSweepSysexHeaders(), kSlots + 1);
    for (std::size_t i : {std::size_t{0}, std::size_t{501}, kSlots - 1})
        EXPECT_EQ(bytesOf(*headers[i]), sysexBytes(8, static_cast<std::uint8_t>(i)));
}

// --- the note tracker ----------------------------------------------------------

struct Event {
    std::uint32_t time;
    std::uint32_t message;
};

// A tracker whose tracks hold the events and are rewound, as a player leaves
// them after loading a file.
CNoteTracker loadedTracker(const std::vector<std::vector<Event>>& tracks) {
    CNoteTracker tracker;
    EXPECT_TRUE(plyNoteTrackerAlloc(tracker, tracks.size()));
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        for (const Event& e : tracks[t]) EXPECT_TRUE(plyEventQueueAppend(tracker.tracks[t].queue, e.message, e.time));
        tracker.tracks[t].queue.cursor = 0;
    }
    return tracker;
}

std::uint32_t note(std::uint8_t key) { return packShortMessage(0x90, key, 100); }

TEST(NoteTracker, MergesTracksTrackByTrack) {
    CNoteTracker tracker = loadedTracker({
        {{0, note(1)}, {0, note(2)}, {10, note(3)}},
        {{0, note(11)}, {5, note(12)}},
        {},
    });
    struct Step {
        std::uint32_t time;
        int result;
        std::uint32_t message, eventTime;
    };
    const Step steps[] = {
        {0, kTrackerDelivered, note(1), 0},   {0, kTrackerDelivered, note(2), 0},
        {0, kTrackerDelivered, note(11), 0},  {0, kTrackerNothingDue, 0, 0},
        {4, kTrackerNothingDue, 0, 0},        {10, kTrackerDelivered, note(3), 10},
        {10, kTrackerDelivered, note(12), 5}, {10, kTrackerFinished, 0, 0},
        {20, kTrackerFinished, 0, 0},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(::testing::Message() << "step " << i);
        CMidiMessage out;
        ASSERT_EQ(plyNoteTrackerNext(tracker, steps[i].time, out), steps[i].result);
        if (steps[i].result != kTrackerDelivered) continue;
        EXPECT_EQ(out.shortMessage, steps[i].message);
        EXPECT_EQ(out.time, steps[i].eventTime);
    }
}

TEST(NoteTracker, TracksNotRewoundOrEmptyAreFinished) {
    CNoteTracker none;
    ASSERT_TRUE(plyNoteTrackerAlloc(none, 0));
    CMidiMessage out;
    EXPECT_EQ(plyNoteTrackerNext(none, 0, out), kTrackerFinished);

    CNoteTracker fresh;
    ASSERT_TRUE(plyNoteTrackerAlloc(fresh, 2));
    ASSERT_TRUE(plyEventQueueAppend(fresh.tracks[1].queue, note(60), 0));
    EXPECT_EQ(plyNoteTrackerNext(fresh, 100, out), kTrackerFinished);
    fresh.tracks[1].queue.cursor = 0;
    EXPECT_EQ(plyNoteTrackerNext(fresh, 100, out), kTrackerDelivered);
}

TEST(NoteTracker, RewoundAfterTheEndStartsAgainAtTheFirstTrack) {
    CNoteTracker tracker = loadedTracker({{{0, note(1)}}, {{0, note(2)}}});
    CMidiMessage out;
    while (plyNoteTrackerNext(tracker, 0, out) == kTrackerDelivered) {
    }
    // The last delivery came from track 1; a replay must still begin with
    // track 0's event of the same time.
    for (TrackNoteState& track : tracker.tracks) track.queue.cursor = 0;
    ASSERT_EQ(plyNoteTrackerNext(tracker, 0, out), kTrackerDelivered);
    EXPECT_EQ(out.shortMessage, note(1));
}

TEST(NoteTracker, ReleaseAllSilencesEverySoundingNoteOnce) {
    const std::vector<std::vector<Event>> tracks = {
        {{0, packShortMessage(0xC0, 5, 0)},
         {0, note(60)},
         {0, note(64)},
         {1, packShortMessage(0x90, 64, 0)},  // released by velocity 0
         {1, packShortMessage(0x99, 36, 90)},
         {2, note(60)}},  // struck again: still one note
        {{0, packShortMessage(0x91, 50, 80)}, {0, packShortMessage(0x91, 52, 80)}, {3, packShortMessage(0x81, 52, 0)}},
    };
    struct Case {
        std::uint8_t keyOverride;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> offs;  // message, track
    };
    const Case cases[] = {
        {0xFF,
         {{packShortMessage(0x80, 60, 0), 0}, {packShortMessage(0x89, 36, 0), 0}, {packShortMessage(0x81, 50, 0), 1}}},
        // Only the track in mode 1 takes the caller's key.
        {0x2A,
         {{packShortMessage(0x80, 60, 0), 0}, {packShortMessage(0x89, 36, 0), 0}, {packShortMessage(0x81, 0x2A, 0), 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "key override " << int{c.keyOverride});
        CNoteTracker tracker = loadedTracker(tracks);
        tracker.tracks[1].mode = 1;
        CMidiMessage out;
        while (plyNoteTrackerNext(tracker, 10, out) == kTrackerDelivered) {
        }
        std::vector<std::pair<std::uint32_t, std::uint32_t>> offs;
        while (plyNoteTrackerReleaseAll(tracker, out, c.keyOverride)) offs.emplace_back(out.shortMessage, out.sequence);
        EXPECT_EQ(offs, c.offs);
        EXPECT_FALSE(plyNoteTrackerReleaseAll(tracker, out, c.keyOverride));  // all cleared
    }
}

TEST(NoteTracker, KeysOutsideTheNoteTableAreNotTracked) {
    CNoteTracker tracker = loadedTracker({{{0, packShortMessage(0x9F, 0xFF, 0x40)}}});
    CMidiMessage out;
    ASSERT_EQ(plyNoteTrackerNext(tracker, 0, out), kTrackerDelivered);
    EXPECT_FALSE(plyNoteTrackerReleaseAll(tracker, out, 0xFF));
}

TEST(NoteTracker, QueueAppendNormalisesAndStampsTimeAndCursor) {
    PlyEventQueue queue;
    ASSERT_TRUE(plyEventQueueAppend(queue, packShortMessage(0x93, 0x3C, 0), 5));
    queue.cursor = 0;
    ASSERT_TRUE(plyEventQueueAppend(queue, packShortMessage(0x93, 0x3C, 0x64), 9));
    ASSERT_EQ(queue.events.size(), 2u);
    EXPECT_EQ(queue.events[0].shortMessage, packShortMessage(0x83, 0x3C, 0x40));
    EXPECT_EQ(queue.events[0].time, 5u);
    EXPECT_EQ(queue.events[0].sequence, kNoCursor);
    EXPECT_EQ(queue.events[1].shortMessage, packShortMessage(0x93, 0x3C, 0x64));
    EXPECT_EQ(queue.events[1].time, 9u);
    EXPECT_EQ(queue.events[1].sequence, 0u);
}

using NoteTrackerSysex = MidiMessageRelease;

// The out message may still hold a SysEx its device has not finished with.
TEST_F(NoteTrackerSysex, DeliversCopiesAndParksWhatTheOutMessageHeld) {
    CNoteTracker tracker = loadedTracker({{}});
    CMidiMessage event;
    ASSERT_TRUE(event.Set(sysexBytes(8, 0x50)));
    tracker.tracks[0].queue.events.push_back(event);
    ASSERT_TRUE(plyEventQueueAppend(tracker.tracks[0].queue, note(60), 0));

    CMidiMessage out = sent(0x51);
    ASSERT_EQ(plyNoteTrackerNext(tracker, 0, out), kTrackerDelivered);
    ASSERT_NE(out.header, nullptr);
    EXPECT_NE(out.header.get(), tracker.tracks[0].queue.events[0].header.get());
    EXPECT_EQ(bytesOf(*out.header), sysexBytes(8, 0x50));
    EXPECT_EQ(midiSweepSysexHeaders(), 1u);

    device.hand(out);
    ASSERT_EQ(plyNoteTrackerNext(tracker, 0, out), kTrackerDelivered);
    EXPECT_EQ(out.shortMessage, note(60));
    EXPECT_EQ(midiSweepSysexHeaders(), 2u);

    out = sent(0x52);
    ASSERT_TRUE(plyNoteTrackerReleaseAll(tracker, out, 0xFF));
    EXPECT_EQ(out.shortMessage, packShortMessage(0x80, 60, 0));
    EXPECT_EQ(out.header, nullptr);
    EXPECT_EQ(midiSweepSysexHeaders(), 3u);
}

// --- threads -------------------------------------------------------------------

using NoteTrackerThreads = MidiMessageRelease;

// Players on several threads park more headers than the table has slots
// while they sweep; then the device finishes them while others sweep.
TEST_F(NoteTrackerThreads, PlayersShareTheReleaseTable) {
    constexpr std::size_t kPlayers = 4;
    constexpr std::size_t kMessages = 400;
    std::vector<std::vector<MidiSysexHeader*>> handed(kPlayers);
    {
        std::vector<std::jthread> players;
        for (std::size_t p = 0; p < kPlayers; ++p) {
            players.emplace_back([&handed, p] {
                for (std::size_t i = 0; i < kMessages; ++i) {
                    CMidiMessage message;
                    EXPECT_TRUE(message.Set(sysexBytes(8, static_cast<std::uint8_t>(i))));
                    message.header->flags.fetch_or(kSysexPrepared);
                    handed[p].push_back(message.header.get());
                    message.Free();
                    if (i % 50 == 0) midiSweepSysexHeaders();
                }
            });
        }
    }
    EXPECT_EQ(midiSweepSysexHeaders(), kPlayers * kMessages);

    std::atomic<bool> finished{false};
    {
        std::vector<std::jthread> sweepers;
        for (int s = 0; s < 3; ++s)
            sweepers.emplace_back([&finished] {
                while (!finished.load()) midiSweepSysexHeaders();
            });
        for (std::size_t i = kMessages; i-- > 0;) {
            for (std::size_t p = 0; p < kPlayers; ++p) {
                MidiSysexHeader* header = handed[p][i];
                EXPECT_EQ(header->data[1], static_cast<std::uint8_t>(i & 0x7F));
                header->flags.fetch_or(kSysexDone, std::memory_order_release);
            }
        }
        finished = true;
    }
    EXPECT_EQ(midiSweepSysexHeaders(), 0u);
}

}  // namespace
}  // namespace qvp3
