#include "scorecore/metronome.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "platform/midi_out.h"
#include "scorecore/meter.h"
#include "scorecore/midi_stream.h"
#include "scorecore/player_items.h"
#include "test_support.h"

using namespace scorecore;
using scorecore::testing::bytesOf;

namespace {

using Message = std::vector<uint8_t>;  // status and data bytes as they go out

CMeter meterOf(int beats, int unitIndex) {
    CMeter m;
    m.init(384, beats, unitIndex);
    return m;
}

std::vector<int32_t> beatsWhere(int32_t beats, bool (CMetronom::*rule)(int32_t, int32_t) const, const CMetronom& m) {
    std::vector<int32_t> out;
    for (int32_t c = 0; c <= beats + 1; ++c)
        if ((m.*rule)(beats, c)) out.push_back(c);
    return out;
}

std::vector<Message> captured(const platform::CaptureMidiOut& device) {
    std::vector<Message> out;
    for (const auto& m : device.messages()) {
        const auto status = static_cast<uint8_t>(m.packed);
        Message msg{status, static_cast<uint8_t>(m.packed >> 8)};
        if (status < 0xC0 || status > 0xDF) msg.push_back(static_cast<uint8_t>(m.packed >> 16));
        out.push_back(msg);
    }
    return out;
}

// The stream bytes of the messages, the first after the delta 300 and the others
// after a delta of 0.
std::vector<uint8_t> streamed(const std::vector<Message>& messages) {
    std::vector<uint8_t> out;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        if (i == 0) {
            out.insert(out.end(), {0x82, 0x2C});
        } else {
            out.push_back(0);
        }
        out.insert(out.end(), messages[i].begin(), messages[i].end());
    }
    return out;
}

}  // namespace

TEST(MetronomeTest, ClickPatternsLiveAndInBarLists) {
    struct Case {
        int32_t frequency, beats, lastBeat;
        std::vector<int32_t> live, list;
    };
    const Case cases[] = {
        {1, 4, 1, {1, 3, 4}, {1, 3, 4}},
        {1, 4, 0, {1, 3}, {1, 3}},
        {0, 3, 0, {1, 2}, {1, 2, 3}},
        {0, 3, 1, {1, 2, 3}, {1, 2, 3}},
        {4, 12, 1, {1, 5, 9, 12}, {1, 5, 9, 12}},
        {4, 12, 0, {1, 5, 9}, {1, 5, 9}},
        {2, 5, 0, {1, 3}, {1, 3, 5}},
        {3, 7, 0, {1, 4}, {1, 4, 7}},
        {1, 5, 0, {1, 3}, {1, 3}},
        {0, 1, 0, {1}, {1}},
        {9, 4, 0, {1}, {1}},  // unknown pattern from a file: only beat 1
        {-1, 4, 1, {1, 4}, {1, 4}},
        {0, 0, 1, {}, {}},
    };
    for (const Case& c : cases) {
        CMetronom m;
        m.Frequency = c.frequency;
        m.LastBeat = c.lastBeat;
        EXPECT_EQ(beatsWhere(c.beats, &CMetronom::clicksLive, m), c.live)
            << c.frequency << " " << c.beats << " " << c.lastBeat;
        EXPECT_EQ(beatsWhere(c.beats, &CMetronom::isClickBeat, m), c.list)
            << c.frequency << " " << c.beats << " " << c.lastBeat;
        EXPECT_EQ(m.countClicks(c.beats), static_cast<int32_t>(c.live.size()));
    }
    CMetronom m;
    EXPECT_EQ(m.countClicks(64), 64);
    EXPECT_EQ(m.countClicks(65), 0);
    EXPECT_EQ(m.countClicks(2147483647), 0);
    EXPECT_EQ(m.countClicks(-3), 0);
}

TEST(MetronomeTest, EmitClickToStreamAndDevice) {
    struct Case {
        const char* name;
        uint8_t channel, program, use, firstBeat, instrument, volume, sounding;
        bool force, accent, stopOnly;
        std::array<uint8_t, 3> last;  // volume, pan, program the caller last sent
        std::vector<Message> messages;
    };
    const Case cases[] = {
        {"first accented click", 9, 0, 1, 1, 42, 127, 255, false, true, false, {0, 0, 0},
         {{0xB9, 7, 127}, {0xB9, 10, 64}, {0x99, 42, 127}}},
        {"levels already sent", 9, 0, 1, 1, 42, 127, 255, false, false, false, {127, 64, 0}, {{0x99, 42, 50}}},
        {"no accent without FirstBeat", 9, 0, 1, 0, 42, 127, 255, false, true, false, {127, 64, 0},
         {{0x99, 42, 50}}},
        {"program off channel 10", 2, 5, 1, 1, 42, 127, 255, false, true, false, {0, 64, 0},
         {{0xC2, 5}, {0xB2, 7, 127}, {0x92, 42, 127}}},
        {"program already sent", 2, 5, 1, 1, 42, 127, 255, false, false, false, {127, 64, 5}, {{0x92, 42, 50}}},
        {"never a program on channel 10", 9, 5, 1, 1, 42, 127, 255, false, false, false, {127, 64, 0},
         {{0x99, 42, 50}}},
        {"metronome off", 9, 0, 0, 1, 42, 127, 255, false, false, false, {0, 0, 0}, {}},
        {"forced while off", 9, 0, 0, 1, 42, 127, 255, true, false, false, {127, 64, 0}, {{0x99, 42, 50}}},
        {"ends the sounding click first", 9, 0, 1, 1, 42, 127, 40, false, false, false, {127, 64, 0},
         {{0x99, 40, 0}, {0x99, 42, 50}}},
        {"stop only", 9, 0, 1, 1, 42, 127, 40, true, true, true, {0, 0, 0}, {{0x99, 40, 0}}},
        {"values from a file", 30, 200, 1, 1, 200, 255, 255, false, true, false, {0, 64, 0},
         {{0xCF, 127}, {0xBF, 7, 127}, {0x9F, 127, 127}}},
    };
    for (const Case& c : cases) {
        auto setUp = [&c] {
            CMetronom m;
            m.Channel = c.channel;
            m.Program = c.program;
            m.Use = c.use;
            m.FirstBeat = c.firstBeat;
            m.Instrument = c.instrument;
            m.Volume = c.volume;
            m.sounding = c.sounding;
            return m;
        };
        const uint8_t expectedSounding =
            c.messages.empty() || c.stopOnly ? 255 : (c.instrument > 127 ? 127 : c.instrument);

        CMetronom toStream = setUp();
        CMidiTrackStream stream;
        std::array<uint8_t, 3> last = c.last;
        int delta = 300;
        const int added = toStream.emitClick(nullptr, c.force, c.accent, c.stopOnly, &last[0], &last[1], &stream, delta,
                                             &last[2]);
        const std::vector<uint8_t> bytes = streamed(c.messages);
        EXPECT_EQ(std::vector<uint8_t>(stream.bytes().begin(), stream.bytes().end()), bytes) << c.name;
        EXPECT_EQ(added, static_cast<int>(bytes.size())) << c.name;
        EXPECT_EQ(delta, c.messages.empty() ? 300 : 0) << c.name;
        EXPECT_EQ(toStream.sounding, expectedSounding) << c.name;

        CMetronom live = setUp();
        platform::CaptureMidiOut device;
        std::array<uint8_t, 3> liveLast = c.last;
        int liveDelta = 300;
        EXPECT_EQ(live.emitClick(&device, c.force, c.accent, c.stopOnly, &liveLast[0], &liveLast[1], nullptr,
                                 liveDelta, &liveLast[2]),
                  0)
            << c.name;
        EXPECT_EQ(captured(device), c.messages) << c.name;
        EXPECT_EQ(liveDelta, 300) << c.name;
        EXPECT_EQ(liveLast, last) << c.name;
        EXPECT_EQ(live.sounding, expectedSounding) << c.name;
    }
}

TEST(MetronomeTest, EmitClickRemembersWhatItSent) {
    CMetronom m;
    m.Channel = 0;
    m.Program = 12;
    platform::CaptureMidiOut device;
    uint8_t volume = 0, pan = 0, program = 0;
    int delta = 0;
    m.emitClick(&device, false, true, false, &volume, &pan, nullptr, delta, &program);
    EXPECT_EQ(volume, 127);
    EXPECT_EQ(pan, 64);
    EXPECT_EQ(program, 12);
    device.clear();
    m.emitClick(&device, false, false, false, &volume, &pan, nullptr, delta, &program);
    EXPECT_EQ(captured(device), (std::vector<Message>{{0x90, 42, 0}, {0x90, 42, 50}}));

    // Without the caller's memory every setting goes out.
    device.clear();
    m.emitClick(&device, false, false, false, nullptr, nullptr, nullptr, delta, nullptr);
    EXPECT_EQ(captured(device), (std::vector<Message>{{0x90, 42, 0}, {0xC0, 12}, {0xB0, 7, 127}, {0xB0, 10, 64},
                                                      {0x90, 42, 50}}));
}

TEST(MetronomeTest, ClickOffEndsTheSoundingClick) {
    CMetronom m;
    m.sounding = 42;
    CMidiTrackStream stream;
    int delta = 5;
    EXPECT_EQ(m.clickOff(nullptr, &stream, delta), 4);
    EXPECT_EQ(std::vector<uint8_t>(stream.bytes().begin(), stream.bytes().end()),
              (std::vector<uint8_t>{5, 0x99, 42, 0}));
    EXPECT_EQ(m.sounding, kMetronomeSilent);
    EXPECT_EQ(delta, 0);
    EXPECT_EQ(m.clickOff(nullptr, &stream, delta), 0);
    EXPECT_EQ(stream.length(), 4u);

    platform::CaptureMidiOut device;
    m.sounding = 42;
    EXPECT_EQ(m.clickOff(&device, nullptr, delta), 0);
    EXPECT_EQ(captured(device), (std::vector<Message>{{0x99, 42, 0}}));

    // A delta the stream cannot take is refused and the click stays on.
    m.sounding = 42;
    int bad = -1;
    EXPECT_EQ(m.clickOff(nullptr, &stream, bad), -1);
    EXPECT_EQ(m.sounding, 42);
    EXPECT_EQ(stream.length(), 4u);
}

TEST(MetronomeTest, ClickFreqFollowsThePattern) {
    struct Case {
        int32_t frequency, lastBeat;
        bool force;
        std::vector<Message> messages;  // one 4/4 bar, levels already sent
    };
    const Case cases[] = {
        {1, 0, false, {{0x99, 42, 127}, {0x99, 42, 0}, {0x99, 42, 50}, {0x99, 42, 0}}},
        {1, 1, false, {{0x99, 42, 127}, {0x99, 42, 0}, {0x99, 42, 50}, {0x99, 42, 0}, {0x99, 42, 50}}},
        {9, 0, true,
         {{0x99, 42, 127}, {0x99, 42, 0}, {0x99, 42, 50}, {0x99, 42, 0}, {0x99, 42, 50}, {0x99, 42, 0},
          {0x99, 42, 50}}},
    };
    for (const Case& c : cases) {
        CMetronom m;
        m.Frequency = c.frequency;
        m.LastBeat = c.lastBeat;
        platform::CaptureMidiOut device;
        uint8_t volume = 127, pan = 64, program = 0;
        int delta = 0;
        for (int32_t beat = 1; beat <= 4; ++beat)
            EXPECT_EQ(m.clickFreq(&device, c.force, 4, beat, &volume, &pan, nullptr, delta, &program), 0);
        EXPECT_EQ(captured(device), c.messages) << c.frequency << " " << c.lastBeat;
    }
    // Beats outside the bar and absurd bars click nothing.
    CMetronom m;
    platform::CaptureMidiOut device;
    uint8_t volume = 127, pan = 64, program = 0;
    int delta = 0;
    m.clickFreq(&device, true, 4, 5, &volume, &pan, nullptr, delta, &program);
    m.clickFreq(&device, true, 1000, 1, &volume, &pan, nullptr, delta, &program);
    m.clickFreq(&device, false, 0, 0, &volume, &pan, nullptr, delta, &program);
    EXPECT_EQ(device.count(), 0u);
}

TEST(MetronomeTest, BarClicksOfFourFour) {
    CMetronom m;
    m.Frequency = 1;
    ASSERT_TRUE(m.buildBarClicks(meterOf(4, 2)));
    const std::vector<std::vector<uint8_t>> expected = {
        {0xFF, 5, 0, 0, 0, 0, 0, 0},             // marker, start 0
        {0x90, 7, 0, 0, 0, 0, 0, 0},             // anchor
        {18, 127, 127, 42, 4, 0, 0x80, 0x01},    // beat 1, accented with Volume, 384 ticks
        {0x80, 100, 100, 0, 0x80, 0x01, 0, 0},   // beat 2 silent
        {18, 50, 50, 42, 4, 0, 0x80, 0x01},      // beat 3
        {18, 50, 50, 42, 4, 0, 0x80, 0x01},      // beat 4, LastBeat
        {0xFF, 0xFF, 0, 0, 0, 0, 0, 0},          // end
    };
    ASSERT_EQ(m.barClickItems.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(bytesOf(m.barClickItems[i]), expected[i]) << i;

    // Without FirstBeat the first click is an ordinary one; keys from a file stay keys.
    m.FirstBeat = 0;
    m.Instrument = 200;
    m.Velocity = 255;
    ASSERT_TRUE(m.buildBarClicks(meterOf(6, 3)));
    ASSERT_EQ(m.barClickItems.size(), 9u);
    EXPECT_EQ(bytesOf(m.barClickItems[2]), (std::vector<uint8_t>{18, 127, 127, 127, 4, 0, 0xC0, 0x00}));
}

TEST(MetronomeTest, BarClicksOfImpossibleBarsClickNothing) {
    CMeter noTicks = meterOf(4, 2);
    noTicks.ticksPerBeat = 0;
    CMeter negative = meterOf(4, 2);
    negative.ticksPerBeat = -384;
    for (const CMeter& meter : {meterOf(0, 2), meterOf(65, 2), meterOf(2000000, 2), noTicks, negative}) {
        CMetronom m;
        ASSERT_TRUE(m.buildBarClicks(meter)) << meter.beats;
        ASSERT_EQ(m.barClickItems.size(), 3u) << meter.beats;
        EXPECT_EQ(m.barClickItems[1], makeAnchorItem());
        EXPECT_EQ(m.barClickItems[2], makeEndItem());
    }
    CMetronom m;
    ASSERT_TRUE(m.buildBarClicks(meterOf(64, 2)));
    EXPECT_EQ(m.barClickItems.size(), 67u);
}

TEST(MetronomeTest, CountInItems) {
    struct Case {
        int32_t countIn, beats, frequency, lastBeat;
        uint8_t channel;
        std::size_t items;
        int32_t clicks;
    };
    const Case cases[] = {
        {2, 3, 0, 0, 9, 15, 6},    // every beat: a note-on and its release
        {1, 4, 1, 0, 9, 9, 2},     // beats 2 and 4 are rests
        {0, 4, 0, 1, 9, 3, 0},
        {-3, 4, 0, 1, 9, 3, 0},
        {1000, 1, 0, 1, 9, 131, 64},  // cut to 64 bars
        {1, 4, 0, 1, 2, 11, 4},
    };
    for (const Case& c : cases) {
        CMetronom m;
        m.CountIn = c.countIn;
        m.Frequency = c.frequency;
        m.LastBeat = c.lastBeat;
        m.Channel = c.channel;
        m.Program = 33;
        ASSERT_TRUE(m.buildCountIn(meterOf(c.beats, 2), 1536));
        const auto& items = m.countInItems;
        ASSERT_EQ(items.size(), c.items) << c.countIn << " " << c.beats;
        const uint8_t program = c.channel == 9 ? 0 : 33;
        const uint8_t flags = c.channel == 9 ? 0 : kMarkerHasProgram;
        EXPECT_EQ(items.front(), makeMarkerItem(kMarkerStart, 1536, program, flags));
        EXPECT_EQ(items[1], makeAnchorItem());
        EXPECT_EQ(items.back(), makeEndItem());
        int32_t clicks = 0;
        for (const CPlayerItem& item : items)
            if (item.kind == kItemNoteOn && item.data2 != 0) ++clicks;
        EXPECT_EQ(clicks, c.clicks) << c.countIn << " " << c.beats;
    }
    CMetronom m;
    m.CountIn = 1;
    m.Frequency = 1;
    m.LastBeat = 0;
    ASSERT_TRUE(m.buildCountIn(meterOf(4, 2), 0));
    const std::vector<CPlayerItem> expected = {
        makeMarkerItem(kMarkerStart, 0), makeAnchorItem(),
        makeNoteOnItem(42, 127, 384),    makeNoteOffItem(42, 0, 0),  // accented with Volume
        makeRestItem(384),
        makeNoteOnItem(42, 50, 384),     makeNoteOffItem(42, 0, 0),
        makeRestItem(384),               makeEndItem(),
    };
    EXPECT_EQ(m.countInItems, expected);

    m.clear();
    EXPECT_TRUE(m.countInItems.empty());
    EXPECT_TRUE(m.barClickItems.empty());
}

TEST(PlayerItemTest, BytesAreLittleEndian) {
    EXPECT_EQ(bytesOf(makeNoteItem(0x13, 1, 2, 0xF9, 8, 0xFF, 0x1234)),
              (std::vector<uint8_t>{0x13, 1, 2, 0xF9, 8, 0xFF, 0x34, 0x12}));
    EXPECT_EQ(makeNoteItem(0x12, 0, 0, 0, 4, 0, 40000).noteTicks(), kNoteItemMaxTicks);
    EXPECT_EQ(makeNoteItem(0x12, 0, 0, 0, 4, 0, -5).noteTicks(), 0);
    EXPECT_EQ(bytesOf(makeNoteOnItem(60, 90, -1)), (std::vector<uint8_t>{0x90, 60, 90, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(bytesOf(makeMarkerItem(5, 0x01020304, 7, 1)), (std::vector<uint8_t>{0xFF, 5, 7, 1, 4, 3, 2, 1}));
    const CPlayerItem list[] = {makeRestItem(2), makeEndItem()};
    EXPECT_EQ(playerItemBytes(list),
              (std::vector<uint8_t>{0x80, 100, 100, 0, 2, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}));
}
