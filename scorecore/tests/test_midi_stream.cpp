#include "scorecore/midi_stream.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/midi_out.h"

using namespace scorecore;
using Bytes = std::vector<std::uint8_t>;
using platform::CaptureMidiOut;

namespace {

Bytes bytesOf(const CMidiTrackStream& stream) { return Bytes(stream.bytes().begin(), stream.bytes().end()); }

Bytes putVarLen(std::int64_t value) {
    std::array<std::uint8_t, 4> buffer{};
    const int count = scMidiPutVarLen(buffer, value);
    return Bytes(buffer.begin(), buffer.begin() + count);
}

struct VarLenCase {
    std::int64_t value;
    Bytes coded;
};

const VarLenCase kVarLenCases[] = {
    {0, {0x00}},
    {0x40, {0x40}},
    {0x7F, {0x7F}},
    {0x80, {0x81, 0x00}},
    {0x2000, {0xC0, 0x00}},
    {0x3FFF, {0xFF, 0x7F}},
    {0x4000, {0x81, 0x80, 0x00}},
    {0x1FFFFF, {0xFF, 0xFF, 0x7F}},
    {0x200000, {0x81, 0x80, 0x80, 0x00}},
    {0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}},
};

}  // namespace

TEST(MidiVarLenTest, CodesMostSignificantGroupFirst) {
    for (const VarLenCase& c : kVarLenCases) {
        EXPECT_EQ(putVarLen(c.value), c.coded) << std::hex << c.value;
        std::uint32_t value = 0xDEADBEEF;
        EXPECT_EQ(scMidiGetVarLen(c.coded, &value), static_cast<int>(c.coded.size())) << std::hex << c.value;
        EXPECT_EQ(value, static_cast<std::uint32_t>(c.value));
    }
}

TEST(MidiVarLenTest, RefusesValuesItCannotHold) {
    for (const std::int64_t value : {std::int64_t{0x10000000}, std::int64_t{0xFFFFFFFF}, std::int64_t{-1},
                                     std::int64_t{INT64_MIN}, std::int64_t{INT64_MAX}}) {
        std::array<std::uint8_t, 4> buffer{0xAA, 0xAA, 0xAA, 0xAA};
        EXPECT_EQ(scMidiPutVarLen(buffer, value), 0) << value;
        EXPECT_EQ(buffer, (std::array<std::uint8_t, 4>{0xAA, 0xAA, 0xAA, 0xAA})) << value;
    }
}

TEST(MidiVarLenTest, ReaderStopsAtFourBytesAndAtTheEnd) {
    struct Case {
        Bytes data;
        int read;
        std::uint32_t value;
    };
    const Case cases[] = {
        {{0x81, 0x00, 0x55}, 2, 0x80},                  // reads one quantity, not what follows
        {{0x80, 0x80, 0x80, 0x00}, 4, 0},               // padded but ended within four bytes
        {{}, 0, 0},                                     // nothing to read
        {{0x81}, 0, 0},                                 // truncated
        {{0xFF, 0xFF, 0xFF}, 0, 0},                     // truncated
        {{0x80, 0x80, 0x80, 0x80, 0x00}, 0, 0},         // five bytes
        {{0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, 0, 0},         // would be 2^35 - 1
        {{0xFF, 0xFF, 0xFF, 0xFF}, 0, 0},               // no end in sight
    };
    for (const Case& c : cases) {
        std::uint32_t value = 0xDEADBEEF;
        EXPECT_EQ(scMidiGetVarLen(c.data, &value), c.read) << ::testing::PrintToString(c.data);
        EXPECT_EQ(value, c.read ? c.value : 0xDEADBEEF) << ::testing::PrintToString(c.data);
        EXPECT_EQ(scMidiGetVarLen(c.data, nullptr), c.read);
    }
    // The length given bounds the read even when more bytes follow in memory.
    const std::uint8_t memory[] = {0x81, 0x00};
    EXPECT_EQ(scMidiGetVarLen(std::span(memory, 1), nullptr), 0);
}

TEST(MidiVarLenTest, RoundTripsAcrossTheRange) {
    for (std::int64_t value = 0; value <= kMidiVarLenMax; value += 9973) {
        std::array<std::uint8_t, 4> buffer{};
        const int count = scMidiPutVarLen(buffer, value);
        std::uint32_t read = 0;
        ASSERT_EQ(scMidiGetVarLen(std::span(buffer.data(), static_cast<std::size_t>(count)), &read), count) << value;
        ASSERT_EQ(read, value);
    }
}

TEST(MidiTrackStreamTest, StartsEmptyAndClearsToEmpty) {
    CMidiTrackStream stream;
    EXPECT_EQ(stream.data(), nullptr);
    EXPECT_EQ(stream.length(), 0u);
    EXPECT_TRUE(stream.empty());

    const std::uint8_t head[] = {1, 2};
    const std::uint8_t tail[] = {3};
    ASSERT_TRUE(stream.append(head, tail));
    ASSERT_TRUE(stream.append(tail));
    EXPECT_NE(stream.data(), nullptr);
    EXPECT_EQ(stream.length(), 4u);
    EXPECT_EQ(bytesOf(stream), (Bytes{1, 2, 3, 3}));

    stream.clear();
    EXPECT_EQ(stream.data(), nullptr);
    EXPECT_EQ(stream.length(), 0u);
}

TEST(MidiTrackStreamTest, ReservedRoomTakesAppendsInPlaceAndTooMuchIsRefused) {
    CMidiTrackStream stream;
    const std::uint8_t first[] = {7};
    ASSERT_TRUE(stream.append(first));
    ASSERT_TRUE(stream.reserve(1000));
    const std::uint8_t* block = stream.data();
    const std::uint8_t event[] = {0, 0x90, 60, 100};
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(stream.append(event));
    EXPECT_EQ(stream.data(), block);  // never copied while it grew
    EXPECT_EQ(stream.length(), 801u);

    // More than a track chunk can say: refused, the bytes kept.
    EXPECT_FALSE(stream.reserve(std::size_t{1} << 33));
    EXPECT_EQ(stream.length(), 801u);
    EXPECT_EQ(bytesOf(stream).front(), 7);
    // Less than it holds leaves it as it is.
    EXPECT_TRUE(stream.reserve(1));
    EXPECT_EQ(stream.length(), 801u);
}

TEST(MidiPutShortTest, AppendsOneOrTwoDataBytesByStatus) {
    struct Case {
        std::uint8_t status, data1, data2;
        Bytes appended;
    };
    const Case cases[] = {
        {0x90, 60, 100, {0x90, 60, 100}},  // note on
        {0x80, 60, 0, {0x80, 60, 0}},      // note off
        {0xBF, 7, 90, {0xBF, 7, 90}},      // controller, last channel
        {0xC5, 12, 99, {0xC5, 12}},        // program change
        {0xC0, 0, 0, {0xC0, 0}},
        {0xDF, 40, 99, {0xDF, 40}},        // channel pressure
        {0xE0, 0, 64, {0xE0, 0, 64}},      // pitch bend
    };
    for (const Case& c : cases) {
        CaptureMidiOut device;
        CMidiTrackStream stream;
        EXPECT_EQ(scMidiPutShort(&stream, c.status, c.data1, c.data2, &device), static_cast<int>(c.appended.size()))
            << std::hex << int{c.status};
        EXPECT_EQ(bytesOf(stream), c.appended) << std::hex << int{c.status};
        EXPECT_EQ(device.count(), 0u);  // recorded, not sent
    }
}

TEST(MidiPutShortTest, WithoutStreamSendsAtOnce) {
    CaptureMidiOut device;
    EXPECT_EQ(scMidiPutShort(nullptr, 0x91, 64, 100, &device), 0);
    EXPECT_EQ(scMidiPutShort(nullptr, 0xC1, 12, 0, &device), 0);
    EXPECT_EQ(scMidiPutShort(nullptr, 0x91, 64, 0, nullptr), 0);  // no device either: nothing happens

    const auto log = device.messages();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].packed, 0x644091u);
    EXPECT_EQ(log[1].packed, 0x000CC1u);

    EXPECT_TRUE(scMidiSendShort(0xB0, 123, 0, &device));
    EXPECT_EQ(device.messages().back().packed, 0x007BB0u);
    EXPECT_FALSE(scMidiSendShort(0xB0, 123, 0, nullptr));
}

TEST(MidiPutDeltaTest, WritesPendingTicksAndZeroesThem) {
    struct Case {
        int pending;
        Bytes appended;
    };
    const Case cases[] = {{0, {0x00}}, {15, {0x0F}}, {480, {0x83, 0x60}}, {0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}}};
    for (const Case& c : cases) {
        CMidiTrackStream stream;
        int delta = c.pending;
        EXPECT_EQ(scMidiPutDelta(&stream, delta), static_cast<int>(c.appended.size())) << c.pending;
        EXPECT_EQ(bytesOf(stream), c.appended) << c.pending;
        EXPECT_EQ(delta, 0);
    }

    int delta = 480;
    EXPECT_EQ(scMidiPutDelta(nullptr, delta), 0);
    EXPECT_EQ(delta, 480);  // kept for the stream that is not there
}

TEST(MidiPutDeltaTest, RefusesDeltaOutsideTheCodingAndKeepsIt) {
    for (const int pending : {-1, -480, 0x10000000, INT32_MAX}) {
        CMidiTrackStream stream;
        int delta = pending;
        EXPECT_EQ(scMidiPutDelta(&stream, delta), -1) << pending;
        EXPECT_TRUE(stream.empty()) << pending;
        EXPECT_EQ(delta, pending);
    }
}

TEST(MidiPutMetaTest, AppendsTypeSizeAndData) {
    CMidiTrackStream stream;
    EXPECT_EQ(scMidiPutMeta(&stream, 0x2F, {}), 3);  // end of track
    EXPECT_EQ(bytesOf(stream), (Bytes{0xFF, 0x2F, 0x00}));

    const std::string name(200, 'x');  // 200 needs two bytes of size
    CMidiTrackStream named;
    const auto* text = reinterpret_cast<const std::uint8_t*>(name.data());
    EXPECT_EQ(scMidiPutMeta(&named, 0x03, std::span(text, name.size())), 204);
    const Bytes written = bytesOf(named);
    ASSERT_EQ(written.size(), 204u);
    EXPECT_EQ(Bytes(written.begin(), written.begin() + 4), (Bytes{0xFF, 0x03, 0x81, 0x48}));
    EXPECT_EQ(std::string(written.begin() + 4, written.end()), name);

    EXPECT_EQ(scMidiPutMeta(nullptr, 0x2F, {}), 0);
}

TEST(MidiPutMetaTest, WritesTempoKeyAndTimeSignatures) {
    struct Case {
        const char* what;
        int (*put)(CMidiTrackStream*);
        Bytes expected;
    };
    const Case cases[] = {
        {"tempo 120", [](CMidiTrackStream* s) { return scMidiPutTempo(s, 120); }, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}},
        {"tempo 60", [](CMidiTrackStream* s) { return scMidiPutTempo(s, 60); }, {0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40}},
        {"tempo 0", [](CMidiTrackStream* s) { return scMidiPutTempo(s, 0); }, {0xFF, 0x51, 0x03, 0xFF, 0xFF, 0xFF}},
        {"key -3 minor", [](CMidiTrackStream* s) { return scMidiPutKeySignature(s, -3, 0); }, {0xFF, 0x59, 0x02, 0xFD, 0x01}},
        {"key 2 major", [](CMidiTrackStream* s) { return scMidiPutKeySignature(s, 2, 1); }, {0xFF, 0x59, 0x02, 0x02, 0x00}},
        {"key unset", [](CMidiTrackStream* s) { return scMidiPutKeySignature(s, 127, 1); }, {0xFF, 0x59, 0x02, 0x07, 0x00}},
        {"key -20", [](CMidiTrackStream* s) { return scMidiPutKeySignature(s, -20, 2); }, {0xFF, 0x59, 0x02, 0xF9, 0x01}},
        {"time 6/8", [](CMidiTrackStream* s) { return scMidiPutTimeSignature(s, 6, 3); },
         {0xFF, 0x58, 0x04, 0x06, 0x03, 0x0C, 0x08}},
        {"time 4/4", [](CMidiTrackStream* s) { return scMidiPutTimeSignature(s, 4, 2); },
         {0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08}},
        {"time 3/2", [](CMidiTrackStream* s) { return scMidiPutTimeSignature(s, 3, 1); },
         {0xFF, 0x58, 0x04, 0x03, 0x01, 0x30, 0x08}},
        {"time 5/128", [](CMidiTrackStream* s) { return scMidiPutTimeSignature(s, 5, 7); },
         {0xFF, 0x58, 0x04, 0x05, 0x07, 0x00, 0x08}},
        {"time bad unit", [](CMidiTrackStream* s) { return scMidiPutTimeSignature(s, 4, 13); },
         {0xFF, 0x58, 0x04, 0x04, 0x0D, 0x00, 0x08}},
    };
    for (const Case& c : cases) {
        CMidiTrackStream stream;
        EXPECT_EQ(c.put(&stream), static_cast<int>(c.expected.size())) << c.what;
        EXPECT_EQ(bytesOf(stream), c.expected) << c.what;
        EXPECT_EQ(c.put(nullptr), 0) << c.what;
    }
}

TEST(MidiPutMetaTest, TempoIsTruncatedAndKeptInTwentyFourBits) {
    struct Case {
        int tempo;
        std::uint32_t microseconds;
    };
    const Case cases[] = {
        {120, 500000},  {60, 1000000},   {61, 983606},     {4, 15000000},     {3, 0xFFFFFF},
        {1, 0xFFFFFF},  {0, 0xFFFFFF},   {-60, 0xFFFFFF},  {60000000, 1},     {INT32_MAX, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(scMidiTempoMicroseconds(c.tempo), c.microseconds) << c.tempo;
}

TEST(MidiFileHeaderTest, WritesBigEndianFields) {
    const auto header = scMidiFillFileHeader({6, 1, 3, 480});
    const std::array<std::uint8_t, 14> expected{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 3, 0x01, 0xE0};
    EXPECT_EQ(header, expected);

    const auto high = scMidiFillFileHeader({0x01020304, 0xFFFE, 0x1234, 0x8000});
    EXPECT_EQ(Bytes(high.begin() + 4, high.end()), (Bytes{1, 2, 3, 4, 0xFF, 0xFE, 0x12, 0x34, 0x80, 0x00}));
}

TEST(MidiControllerNameTest, NamesKnownNumbersAndPrintsTheRest) {
    struct Case {
        int controller;
        const char* name;
    };
    const Case cases[] = {
        {0, "MSB"},   {1, "Mpd"},    {6, "DatEy"}, {7, "Vol"},   {10, "Pan"},  {11, "Exp"},
        {64, "DmpP"}, {67, "SfPed"}, {69, "Hld2"}, {91, "EEDep"}, {123, "ANOff"}, {127, "POn"},
        {3, "3"},     {68, "68"},    {121, "121"}, {128, "128"}, {1000, "1000"}, {-1, "-1"},
    };
    for (const Case& c : cases) EXPECT_EQ(scMidiControllerName(c.controller), c.name) << c.controller;
}

TEST(MidiInstrTest, DefaultsResetAndPercussion) {
    CMidiInstr instr;
    EXPECT_EQ(instr.InstrumentId, "");
    EXPECT_EQ(instr.PercNote, 255);
    EXPECT_EQ(instr.SrcProgPercId, 0);
    EXPECT_EQ(instr.UserProgram, 255);
    EXPECT_EQ(instr.SrcChannel, 255);
    EXPECT_EQ(instr.Channel, 255);
    EXPECT_FALSE(instr.hasPercNote());

    instr.InstrumentId = "P1-I36";
    instr.PercNote = 35;
    instr.SrcProgPercId = 5;
    instr.Channel = 9;
    EXPECT_TRUE(instr.hasPercNote());
    EXPECT_EQ(instr.reset(), 255);
    EXPECT_EQ(instr.InstrumentId, "");
    EXPECT_EQ(instr.SrcProgPercId, 0);
    EXPECT_EQ(instr.Channel, 255);
    EXPECT_FALSE(instr.hasPercNote());
}

// One voice, recorded and played live with the same calls: the track holds
// each event after the ticks since the previous one; live, the device gets
// the channel messages and nothing else.
TEST(MidiRecordingTest, SameCallsRecordOrSendAVoice) {
    const auto playVoice = [](CMidiTrackStream* stream, platform::MidiOutDevice* device) {
        int pending = 0;
        scMidiPutDelta(stream, pending);
        scMidiPutShort(stream, 0xC0, 40, 0, device);
        scMidiPutDelta(stream, pending);
        scMidiPutShort(stream, 0x90, 67, 90, device);
        pending += 480;
        scMidiPutDelta(stream, pending);
        scMidiPutShort(stream, 0x90, 67, 0, device);
        pending += 15;
        scMidiPutDelta(stream, pending);
        scMidiPutMeta(stream, 0x2F, {});
    };

    CMidiTrackStream stream;
    CaptureMidiOut unused;
    playVoice(&stream, &unused);
    EXPECT_EQ(bytesOf(stream),
              (Bytes{0x00, 0xC0, 40, 0x00, 0x90, 67, 90, 0x83, 0x60, 0x90, 67, 0, 0x0F, 0xFF, 0x2F, 0x00}));
    EXPECT_EQ(unused.count(), 0u);

    CaptureMidiOut device;
    playVoice(nullptr, &device);
    const auto log = device.messages();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].packed, 0x0028C0u);
    EXPECT_EQ(log[1].packed, 0x5A4390u);
    EXPECT_EQ(log[2].packed, 0x004390u);
}
