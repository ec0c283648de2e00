#include "platform/midi_out.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;
using Kind = CaptureMidiOut::Message::Kind;

namespace {

// A clock that moves only when the test says so.
struct FakeClock {
    std::chrono::steady_clock::time_point now{};
    CaptureMidiOut::Clock function() {
        return [this] { return now; };
    }
};

}  // namespace

TEST(PackShortMessageTest, PlacesStatusAndDataBytes) {
    EXPECT_EQ(packShortMessage(0x90, 60, 100), 0x643C90u);
    EXPECT_EQ(packShortMessage(0xC5, 12, 0), 0x000CC5u);
    EXPECT_EQ(packShortMessage(0xFF, 0xFF, 0xFF), 0xFFFFFFu);
}

TEST(DecodeShortMessageTest, GivesTheWireBytesOfEachKind) {
    struct Case {
        const char* name;
        std::uint32_t packed;
        std::vector<std::uint8_t> bytes;  // empty: malformed
    };
    const Case cases[] = {
        {"note-on", packShortMessage(0x93, 60, 100), {0x93, 60, 100}},
        {"note-off", packShortMessage(0x80, 60, 0), {0x80, 60, 0}},
        {"key pressure", packShortMessage(0xA1, 61, 5), {0xA1, 61, 5}},
        {"controller", packShortMessage(0xBF, 7, 127), {0xBF, 7, 127}},
        {"pitch bend", packShortMessage(0xE0, 0x7F, 0x7F), {0xE0, 0x7F, 0x7F}},
        {"program ignores its third byte", packShortMessage(0xC9, 0, 0xFF), {0xC9, 0}},
        {"channel pressure", packShortMessage(0xD2, 64, 0), {0xD2, 64}},
        {"song position", packShortMessage(0xF2, 1, 2), {0xF2, 1, 2}},
        {"song select", packShortMessage(0xF3, 4, 0x99), {0xF3, 4}},
        {"time code", packShortMessage(0xF1, 0x10, 0), {0xF1, 0x10}},
        {"clock has no data", packShortMessage(0xF8, 0xFF, 0xFF), {0xF8}},
        {"system reset", packShortMessage(0xFF, 0, 0), {0xFF}},
        {"high byte ignored", 0xFF000000u | packShortMessage(0x90, 1, 2), {0x90, 1, 2}},
        {"no status byte", packShortMessage(0x3C, 100, 0), {}},
        {"zero", 0, {}},
        {"key out of range", packShortMessage(0x90, 0x80, 1), {}},
        {"velocity out of range", packShortMessage(0x90, 60, 0xC0), {}},
        {"program out of range", packShortMessage(0xC0, 0x80, 0), {}},
        {"sysex start belongs to longMessage", packShortMessage(0xF0, 0x7E, 0x7F), {}},
        {"sysex end belongs to longMessage", packShortMessage(0xF7, 0, 0), {}},
    };
    for (const Case& c : cases) {
        const ShortMessageBytes decoded = decodeShortMessage(c.packed);
        const std::span<const std::uint8_t> view = decoded.view();
        EXPECT_EQ(std::vector<std::uint8_t>(view.begin(), view.end()), c.bytes) << c.name;
    }
}

TEST(CaptureMidiOutTest, RecordsMessagesInOrderWithClockTimes) {
    FakeClock clock;
    CaptureMidiOut device(clock.function());
    const std::array<std::uint8_t, 6> sysex{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};

    EXPECT_TRUE(device.shortMessage(packShortMessage(0x90, 60, 100)));
    clock.now += 250ms;
    EXPECT_TRUE(device.longMessage(sysex));
    clock.now += 250ms;
    EXPECT_TRUE(device.shortMessage(0xAB000000u | packShortMessage(0x80, 60, 0)));  // high byte dropped
    clock.now += 1ms;
    EXPECT_TRUE(device.reset());

    const std::vector<CaptureMidiOut::Message> log = device.messages();
    ASSERT_EQ(log.size(), 4u);
    const auto start = std::chrono::steady_clock::time_point{};
    EXPECT_EQ(log[0].kind, Kind::Short);
    EXPECT_EQ(log[0].packed, 0x643C90u);
    EXPECT_EQ(log[0].time, start);
    EXPECT_EQ(log[1].kind, Kind::Long);
    EXPECT_EQ(log[1].bytes, std::vector<std::uint8_t>(sysex.begin(), sysex.end()));
    EXPECT_EQ(log[1].time, start + 250ms);
    EXPECT_EQ(log[2].kind, Kind::Short);
    EXPECT_EQ(log[2].packed, 0x003C80u);
    EXPECT_EQ(log[2].time, start + 500ms);
    EXPECT_EQ(log[3].kind, Kind::Reset);
    EXPECT_EQ(log[3].time, start + 501ms);
}

TEST(CaptureMidiOutTest, RefusesEmptySystemExclusiveAndClears) {
    CaptureMidiOut device;
    EXPECT_FALSE(device.longMessage({}));
    EXPECT_EQ(device.count(), 0u);

    device.shortMessage(packShortMessage(0xB0, 123, 0));
    EXPECT_EQ(device.count(), 1u);
    device.clear();
    EXPECT_EQ(device.count(), 0u);
}

TEST(CaptureMidiOutTest, DefaultClockStampsInArrivalOrder) {
    CaptureMidiOut device;
    const auto before = std::chrono::steady_clock::now();
    device.shortMessage(1);
    device.shortMessage(2);
    const auto after = std::chrono::steady_clock::now();

    const auto log = device.messages();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_LE(before, log[0].time);
    EXPECT_LE(log[0].time, log[1].time);
    EXPECT_LE(log[1].time, after);
}

TEST(CaptureMidiOutTest, KeepsEveryMessageFromConcurrentSenders) {
    CaptureMidiOut device;
    constexpr int kThreads = 4;
    constexpr int kPerThread = 500;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&device, t] {
            for (int i = 0; i < kPerThread; ++i)
                device.shortMessage(packShortMessage(static_cast<std::uint8_t>(0x90 + t), static_cast<std::uint8_t>(i % 128),
                                                     static_cast<std::uint8_t>(i / 128)));
        });
    }
    for (auto& sender : senders) sender.join();

    const auto log = device.messages();
    ASSERT_EQ(log.size(), static_cast<std::size_t>(kThreads * kPerThread));
    // Each sender's messages keep their order, and times never go back.
    std::array<int, kThreads> next{};
    for (std::size_t i = 0; i < log.size(); ++i) {
        const int t = static_cast<int>(log[i].packed & 0xFF) - 0x90;
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        const int index = static_cast<int>((log[i].packed >> 8) & 0x7F) + 128 * static_cast<int>(log[i].packed >> 16);
        EXPECT_EQ(index, next[static_cast<std::size_t>(t)]++);
        if (i > 0) {
            EXPECT_LE(log[i - 1].time, log[i].time);
        }
    }
}
