#include "scorecore/tune_up.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "scorecore/player_items.h"
#include "scorecore/result_codes.h"
#include "test_support.h"

using namespace scorecore;
using scorecore::testing::bytesOf;

namespace {

// One sounded note as the documented lane rules play it.
struct Sounded {
    int32_t key;  // MIDI key (a spelled note's step and alteration resolved)
    int64_t start;
    int64_t end;
    bool operator==(const Sounded&) const = default;
};

int32_t keyOfItem(const CPlayerItem& item) {
    if ((item.kind & 0x0F) != kNoteSpelled) return item.data3;
    static constexpr int32_t kSemitones[7] = {0, 2, 4, 5, 7, 9, 11};
    const int32_t step = static_cast<int8_t>(item.data3);
    const int32_t octave = (step + 700) / 7 - 100;
    return 60 + 12 * octave + kSemitones[step - 7 * octave] + static_cast<int8_t>(item.noteExtra());
}

// A small reference player for the lane rules of player_items.h.
std::vector<Sounded> play(const std::vector<CPlayerItem>& items) {
    std::vector<Sounded> out;
    std::map<int32_t, int64_t> held;
    int64_t cursor = 0;
    auto closeAll = [&] {
        for (const auto& [key, start] : held) out.push_back({key, start, cursor});
        held.clear();
    };
    for (const CPlayerItem& item : items) {
        if (item.kind == kItemMarker) {
            if (item.data1 == kMarkerEnd) closeAll();
            else cursor = item.value;
        } else if (item.kind == kItemNoteOn) {
            if (item.data2 != 0) held[item.data1] = cursor;
            cursor += item.value;
        } else if (item.kind == kItemNoteOff) {
            if (item.data2 == 0 && held.count(item.data1)) {
                out.push_back({item.data1, held[item.data1], cursor});
                held.erase(item.data1);
            }
            cursor += item.value;
        } else {
            const int32_t key = keyOfItem(item);
            if ((item.kind & 0xF0) == kNoteTimed) out.push_back({key, cursor, cursor + item.noteTicks()});
            else held[key] = cursor;
            cursor += item.noteTicks();
        }
    }
    std::sort(out.begin(), out.end(), [](const Sounded& a, const Sounded& b) {
        return a.start != b.start ? a.start < b.start : a.key < b.key;
    });
    return out;
}

CScoreEvent noteWithKeys(std::vector<uint8_t> keys) {
    CScoreEvent e;
    e.setKind(kKindNote);
    e.headCount = static_cast<int32_t>(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) e.midi[i] = 0x92u | static_cast<uint32_t>(keys[i]) << 8 | 80u << 16;
    return e;
}

std::vector<int32_t> chordKeys(const std::vector<CScoreEvent>& events) {
    std::vector<int32_t> keys;
    for (const CScoreEvent& e : events) keys.push_back(static_cast<int32_t>((e.midi[0] >> 8) & 0xFF));
    return keys;
}

}  // namespace

TEST(TuneUpChordTest, ChordKeysAreClampedToMidiRange) {
    struct Case {
        int32_t root, durMoll, octave, transpose;
        std::vector<int32_t> keys;
    };
    const Case cases[] = {
        {0, 0, 5, 0, {60, 63, 67}},     // C minor
        {0, 1, 5, 0, {60, 64, 67}},     // C major
        {0, 0, 5, 70, {127, 127, 127}},
        {0, 1, 5, -70, {0, 0, 0}},
        {9, 0, 4, 2, {59, 62, 66}},     // A minor, up a tone
        {0, 1, 10, 0, {120, 124, 127}}, // the fifth of the top octave clamps
        {15, 1, 5, 0, {71, 75, 78}},    // root from a file: clamped to B
        {-3, 1, 5, 0, {60, 64, 67}},
        {0, 1, 99, 0, {120, 124, 127}}, // octave clamped to 10
        {0, 1, -4, 0, {0, 4, 7}},
        {0, 7, 5, 0, {60, 64, 67}},     // any non-zero major flag is major
        {0, 1, 5, 2147483647, {127, 127, 127}},
    };
    for (const Case& c : cases) {
        CEinstimmung t;
        t.ChordGrundton = c.root;
        t.ChordDurMoll = c.durMoll;
        t.ChordOctave = c.octave;
        std::vector<CScoreEvent> events;
        int32_t count = -1;
        ASSERT_TRUE(t.createChord(events, count, c.transpose));
        EXPECT_EQ(count, 3);
        ASSERT_EQ(events.size(), 3u);
        EXPECT_EQ(chordKeys(events), c.keys) << c.root << " " << c.octave << " " << c.transpose;
        for (const CScoreEvent& e : events) {
            EXPECT_TRUE(e.isKind(kKindNote));
            EXPECT_EQ(e.headCount, 1);
            EXPECT_EQ(e.midi[0] & 0xFF, 0x90u);
            EXPECT_EQ(e.midi[0] >> 16, kTuneUpSlotVelocity);
        }
    }
}

TEST(TuneUpVoicesTest, VoiceListRoundTripsThroughItsStringForm) {
    CEinstimmung t;
    ASSERT_TRUE(t.addSelectedVoice(1));
    ASSERT_TRUE(t.addSelectedVoice(65538));
    ASSERT_TRUE(t.addSelectedVoice(1));  // already there
    EXPECT_EQ(t.FirstNotesVoiceNum, 2);
    const char* text = t.createVoicesString();
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "1 65538");

    CEinstimmung back;
    EXPECT_EQ(back.buildVoicesFromString(text), kOk);
    ASSERT_EQ(back.FirstNotesVoiceNum, 2);
    int32_t staff = 0, voice = 0;
    EXPECT_EQ(back.getFirstNotesStaffVoice(0, &staff, &voice), 1);
    EXPECT_EQ(staff, 1);
    EXPECT_EQ(voice, 0);
    EXPECT_EQ(back.getFirstNotesStaffVoice(1, &staff, &voice), 65538);
    EXPECT_EQ(staff, 2);
    EXPECT_EQ(voice, 1);
    for (const int32_t bad : {-1, 2, 1000}) {
        EXPECT_EQ(back.getFirstNotesStaffVoice(bad, &staff, &voice), -1);
        EXPECT_EQ(staff, -1);
        EXPECT_EQ(voice, -1);
    }
    EXPECT_EQ(back.getFirstNotesStaffVoice(1, nullptr, nullptr), 65538);

    // A voice in the upper half of the 16 bits makes a negative key; it survives too.
    CEinstimmung high;
    ASSERT_TRUE(high.addSelectedVoice(static_cast<int32_t>(0xFFFF0003u)));
    EXPECT_STREQ(high.createVoicesString(), "-65533");
    EXPECT_EQ(back.buildVoicesFromString(high.voicesText), kOk);
    EXPECT_EQ(back.getFirstNotesStaffVoice(0, &staff, &voice), static_cast<int32_t>(0xFFFF0003u));
    EXPECT_EQ(staff, 3);
    EXPECT_EQ(voice, 65535);

    back.deleteVoiceList();
    EXPECT_EQ(back.FirstNotesVoiceNum, 0);
    EXPECT_EQ(back.createVoicesString(), nullptr);
    EXPECT_TRUE(back.voicesText.empty());
}

TEST(TuneUpVoicesTest, BuildVoicesFromStringReadsOnlyNumbers) {
    struct Case {
        const char* text;
        int32_t n;
        int result;
        std::vector<int32_t> keys;
    };
    const Case cases[] = {
        {"1 2 3", -1, kOk, {1, 2, 3}},
        {"  1   2\t3  ", -1, kOk, {1, 2, 3}},
        {"1 2 3", 2, kOk, {1, 2}},
        {"1 2 3", 0, kOk, {}},
        {"1 2 3", -7, kOk, {1, 2, 3}},
        {"", -1, kOk, {}},
        {"   ", -1, kOk, {}},
        {"0", -1, kOk, {0}},
        {"-1", -1, kOk, {-1}},
        {"4294967295", -1, kOk, {-1}},       // written unsigned by an older program
        {"-2147483648", -1, kOk, {-2147483647 - 1}},
        {"1 x 3", -1, kErrUnknownFormat, {1}},
        {"1 2a", -1, kErrUnknownFormat, {1}},
        {"1,2", -1, kErrUnknownFormat, {}},
        {"+5", -1, kErrUnknownFormat, {}},
        {"4294967296", -1, kErrUnknownFormat, {}},
        {"-2147483649", -1, kErrUnknownFormat, {}},
        {"7 99999999999999999999999999", -1, kErrUnknownFormat, {7}},
        {"1 2 x", 2, kOk, {1, 2}},  // the limit is reached before the bad token
    };
    for (const Case& c : cases) {
        CEinstimmung t;
        t.voices = {42, 43};
        EXPECT_EQ(t.buildVoicesFromString(c.text, c.n), c.result) << '"' << c.text << '"';
        EXPECT_EQ(t.voices, c.keys) << '"' << c.text << '"';
        EXPECT_EQ(t.FirstNotesVoiceNum, static_cast<int32_t>(c.keys.size())) << '"' << c.text << '"';
    }
}

TEST(TuneUpVoicesTest, ListOperationsKeepTheCountInStep) {
    CEinstimmung t;
    EXPECT_TRUE(einAddVoice(t, 5));
    EXPECT_TRUE(einAddVoice(t, 5));  // counted again, unlike addSelectedVoice
    EXPECT_EQ(t.voices, (std::vector<int32_t>{5, 5}));
    EXPECT_EQ(t.FirstNotesVoiceNum, 2);
    einClearVoices(t);
    EXPECT_TRUE(t.voices.empty());
    EXPECT_EQ(t.FirstNotesVoiceNum, 0);

    t.Type = 1;
    EXPECT_FALSE(t.firstNotesVoicesSelected());
    t.FirstNotesVoiceNum = 4;  // a stale count from a file does not stand for voices
    EXPECT_FALSE(t.firstNotesVoicesSelected());
    EXPECT_TRUE(t.addSelectedVoice(1));
    EXPECT_TRUE(t.firstNotesVoicesSelected());
    einClearVoices(t);
    for (const int32_t type : {0, 2, 3}) {
        t.Type = type;
        EXPECT_TRUE(t.firstNotesVoicesSelected()) << type;
    }

    ASSERT_TRUE(t.addSelectedVoice(9));
    t.voicesText = "9";
    t.eventList.push_back(makeEndItem());
    t.timingList.push_back(1);
    t.clear();
    EXPECT_TRUE(t.voices.empty());
    EXPECT_EQ(t.FirstNotesVoiceNum, 0);
    EXPECT_TRUE(t.voicesText.empty());
    EXPECT_TRUE(t.eventList.empty());
    EXPECT_TRUE(t.timingList.empty());
}

TEST(TuneUpRecordTest, NeedsOwnTrackForChordOrOwnInstrument) {
    struct Case {
        int32_t type, instrument;
        bool own;
    };
    const Case cases[] = {
        {0, -1, false}, {0, 5, false}, {1, -1, false}, {1, 0, true},  {1, 127, true},
        {2, -1, true},  {2, 5, true},  {3, 8, true},   {1, -7, false},  // any negative: the voices' own
    };
    for (const Case& c : cases) {
        CEinstimmung t;
        t.Type = c.type;
        t.Instrument = c.instrument;
        EXPECT_EQ(t.needsOwnTrack(), c.own) << c.type << " " << c.instrument;
    }
}

TEST(TuneUpRecordTest, ArpeggioStepByTempo) {
    struct Case {
        int32_t tempo, ms, ticks480, ticks384;
    };
    const Case cases[] = {
        {1, 500, 240, 192},   {2, 1000, 480, 384},  {3, 1500, 960, 768},
        {0, 1500, 960, 768},  // stored range 0..3: 0 is slow too
        {-5, 1500, 960, 768}, {99, 1500, 960, 768},
    };
    for (const Case& c : cases) {
        CEinstimmung t;
        CEinstimmung t384(384);
        t.Tempo = t384.Tempo = c.tempo;
        EXPECT_EQ(t.getZerlegtTime(), c.ms) << c.tempo;
        EXPECT_EQ(t.getZerlegtTicks(), c.ticks480) << c.tempo;
        EXPECT_EQ(t384.getZerlegtTicks(), c.ticks384) << c.tempo;
    }
    EXPECT_EQ(CEinstimmung(0).getZerlegtTicks(), 0);
    EXPECT_EQ(CEinstimmung(-480).arpeggioTicks, (std::array<int32_t, 3>{0, 0, 0}));
    EXPECT_EQ(CEinstimmung(2147483647).arpeggioTicks[2], 2147483647);
}

TEST(TuneUpFirstNotesTest, SlotsFillInOrderAndNeverPastTheBlock) {
    for (const bool fromTop : {false, true}) {
        CEinstimmung t;
        t.FirstNotesFromTop = fromTop ? 1 : 0;
        for (const int32_t key : {0x10001, 0x1, 0x2}) ASSERT_TRUE(t.addSelectedVoice(key));
        std::vector<CScoreEvent> events;
        int32_t count = 0;
        const CScoreEvent source = noteWithKeys({60});
        const std::vector<int32_t> expected = fromTop ? std::vector<int32_t>{0, 1, 2} : std::vector<int32_t>{2, 1, 0};
        for (int32_t i = 0; i < 3; ++i)
            EXPECT_EQ(t.getFirstNotesNote(events, count, -1, source, 0, 0, 0, i, 0), expected[static_cast<size_t>(i)]);
        EXPECT_EQ(count, 3);
        EXPECT_EQ(t.getFirstNotesNote(events, count, -1, source, 0, 0, 0, 9, 9), -1);
        EXPECT_EQ(count, 3);
        ASSERT_EQ(events.size(), 3u);
        EXPECT_EQ(events[static_cast<size_t>(expected[0])].introStaff, 0);

        // A block the caller shrank is not written past either.
        events.resize(1);
        count = 1;
        EXPECT_EQ(t.getFirstNotesNote(events, count, -1, source, 0, 0, 0, 0, 0), -1);
    }
    CEinstimmung none;
    std::vector<CScoreEvent> events;
    int32_t count = 0;
    EXPECT_EQ(none.getFirstNotesNote(events, count, -1, noteWithKeys({60}), 0, 0, 0, 0, 0), -1);
    EXPECT_TRUE(events.empty());
}

TEST(TuneUpFirstNotesTest, SlotTakesTransposedClampedKeysAndItsOrigin) {
    struct Case {
        std::vector<uint8_t> keys;
        int32_t heads, channel, transposeA, transposeB;
        std::vector<uint8_t> expectedKeys;
        uint8_t status;
    };
    const Case cases[] = {
        {{60, 64}, -1, 3, 2, -12, {50, 54}, 0x93},
        {{60, 64, 67}, 2, 0, 0, 0, {60, 64}, 0x90},  // only the heads asked for
        {{60}, 5, 0, 0, 0, {60}, 0x90},              // not more than the source has
        {{120}, -1, 0, 10, 5, {127}, 0x90},
        {{3}, -1, 0, -10, 0, {0}, 0x90},
        {{0x80 | 36}, -1, 9, 12, 0, {0x80 | 36}, 0x99},  // percussion marker copied
        {{60}, -1, 20, 0, 0, {60}, 0x9F},                // channel from a file
        {{60}, -1, -4, 0, 0, {60}, 0x90},
        {{60}, -1, 0, 2147483647, 2147483647, {127}, 0x90},
        {{60}, 0, 0, 0, 0, {}, 0x90},
    };
    for (const Case& c : cases) {
        CEinstimmung t;
        t.FirstNotesFromTop = 1;
        ASSERT_TRUE(t.addSelectedVoice(0x20003));
        std::vector<CScoreEvent> events;
        int32_t count = 0;
        ASSERT_EQ(t.getFirstNotesNote(events, count, c.heads, noteWithKeys(c.keys), c.channel, c.transposeA,
                                      c.transposeB, 3, 2),
                  0);
        const CScoreEvent& e = events[0];
        EXPECT_TRUE(e.isKind(kKindNote));
        EXPECT_EQ(e.introStaff, 3);
        EXPECT_EQ(e.introVoice, 2);
        ASSERT_EQ(e.headCount, static_cast<int32_t>(c.expectedKeys.size()));
        for (std::size_t h = 0; h < c.expectedKeys.size(); ++h) {
            EXPECT_EQ((e.midi[h] >> 8) & 0xFF, c.expectedKeys[h]) << h;
            EXPECT_EQ(e.midi[h] & 0xFF, c.status);
            EXPECT_EQ(e.midi[h] >> 16, kTuneUpSlotVelocity);
        }
    }
    // A source whose head count came from a broken file reads no more than its slots.
    CEinstimmung t;
    ASSERT_TRUE(t.addSelectedVoice(1));
    CScoreEvent broken = noteWithKeys({60});
    broken.headCount = 1000;
    std::vector<CScoreEvent> events;
    int32_t count = 0;
    ASSERT_EQ(t.getFirstNotesNote(events, count, -1, broken, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(events[0].headCount, kMaxHeads);
}

TEST(TuneUpItemsTest, TimingValuesAndPlayStateOfBuildEvents) {
    struct Case {
        int32_t type;
        uint8_t zerlegt, sounding;
        int32_t tempoStep, duration, notes, tempo;
        std::vector<int32_t> timing;
    };
    const Case cases[] = {
        // At 60 quarters per minute a second is 384 ticks.
        {2, 1, 1, 2, 1000, 1, 60, {1152, 768, 384}},
        {2, 1, 0, 2, 1000, 1, 60, {384}},
        {2, 0, 1, 2, 1000, 1, 120, {768}},
        {2, 0, 0, 2, -50, 1, 120, {0}},  // negative duration from a file
        {2, 1, 1, 1, 1000, 1, 60, {576, 384, 192}},
        {1, 1, 1, 1, 1000, 3, 60, {576, 384, 192}},
        {1, 1, 1, 3, 1000, 2, 60, {1152, 576}},
        {1, 1, 0, 1, 1000, 3, 60, {192}},
        {1, 0, 1, 1, 2500, 3, 60, {960}},
        {0, 0, 1, 1, 2500, 3, 60, {960}},  // any Type other than 2 is first notes
        {1, 1, 1, 2, 1000, 0, 60, {}},
        {1, 1, 1, 2, 1000, 2, 0, {0, 0}},  // tempo 0 never divides
    };
    for (const Case& c : cases) {
        CEinstimmung t;
        t.Type = c.type;
        t.Zerlegt = c.zerlegt;
        t.Sounding = c.sounding;
        t.Tempo = c.tempoStep;
        t.Duration = c.duration;
        t.playState = {4, 5, 6};
        t.lastIndex = 7;
        t.eventList.push_back(makeEndItem());
        ASSERT_TRUE(t.buildEvents(c.notes, c.tempo));
        EXPECT_EQ(t.timingList, c.timing) << c.type << " " << int{c.zerlegt} << int{c.sounding} << " " << c.notes;
        EXPECT_TRUE(t.eventList.empty());
        EXPECT_EQ(t.playState, (std::array<int32_t, 3>{0, 0, 0}));
        EXPECT_EQ(t.lastIndex, -1);
    }
    CEinstimmung t;
    t.Type = 1;
    EXPECT_FALSE(t.buildEvents(2147483647, 60));
}

TEST(TuneUpItemsTest, ChordItemBytes) {
    CEinstimmung t;
    t.Type = 2;
    t.Zerlegt = 0;
    t.ChordDurMoll = 0;  // C minor
    t.Duration = 1000;
    ASSERT_TRUE(t.buildEvents(1, 120));
    ASSERT_TRUE(t.buildChordItems(120));
    const std::vector<std::vector<uint8_t>> expected = {
        {0xFF, 0x00, 0, 0, 0, 0, 0, 0},            // tune-up marker, start 0
        {0x90, 7, 0, 0, 0, 0, 0, 0},               // anchor
        {0x23, 100, 100, 0, 4, 0, 0, 0},           // C held
        {0x23, 100, 100, 2, 4, 0xFF, 0, 0},        // E flat
        {0x23, 100, 100, 4, 4, 0, 0, 0},           // G
        {0x80, 100, 100, 0, 0x00, 0x03, 0, 0},     // rest of 768 ticks
        {0xFF, 0xFF, 0, 0, 0, 0, 0, 0},            // end
    };
    ASSERT_EQ(t.eventList.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(bytesOf(t.eventList[i]), expected[i]) << i;
    const std::vector<uint8_t> all = playerItemBytes(t.eventList);
    ASSERT_EQ(all.size(), 56u);
    EXPECT_EQ(std::vector<uint8_t>(all.begin() + 40, all.begin() + 48), expected[5]);
}

TEST(TuneUpItemsTest, ChordLanesPlayAsSpecified) {
    struct Case {
        uint8_t zerlegt, sounding;
        std::size_t items;
        std::vector<Sounded> notes;  // D major at 60 per minute, step 384, Duration 768
    };
    const Case cases[] = {
        {0, 1, 7, {{62, 0, 768}, {66, 0, 768}, {69, 0, 768}}},
        {0, 0, 7, {{62, 0, 768}, {66, 0, 768}, {69, 0, 768}}},
        {1, 0, 7, {{62, 0, 384}, {66, 384, 768}, {69, 768, 1152}}},
        {1, 1, 17, {{62, 0, 1152}, {66, 384, 1152}, {69, 768, 1152}}},
    };
    for (const Case& c : cases) {
        CEinstimmung t;
        t.Type = 2;
        t.ChordGrundton = 2;
        t.Zerlegt = c.zerlegt;
        t.Sounding = c.sounding;
        t.Duration = 2000;
        ASSERT_TRUE(t.buildEvents(1, 60));
        ASSERT_TRUE(t.buildChordItems(60));
        EXPECT_EQ(t.eventList.size(), c.items) << int{c.zerlegt} << int{c.sounding};
        EXPECT_EQ(play(t.eventList), c.notes) << int{c.zerlegt} << int{c.sounding};
    }
}

TEST(TuneUpItemsTest, ChordSpellingMatchesTheChordKeys) {
    for (const int32_t durMoll : {0, 1}) {
        for (int32_t root = 0; root < 12; ++root) {
            for (const int32_t octave : {0, 5, 10}) {
                CEinstimmung t;
                t.Type = 2;
                t.Zerlegt = 0;
                t.ChordGrundton = root;
                t.ChordDurMoll = durMoll;
                t.ChordOctave = octave;
                ASSERT_TRUE(t.buildChordItems(60));
                std::vector<CScoreEvent> events;
                int32_t count = 0;
                ASSERT_TRUE(t.createChord(events, count, 0));
                const CPlayerItem* notes = &t.eventList[2];
                int32_t previous = -1000;
                for (int32_t i = 0; i < 3; ++i) {
                    const CPlayerItem& n = notes[i];
                    const auto alter = static_cast<int8_t>(n.noteExtra());
                    EXPECT_EQ(n.kind, kNoteHeld | kNoteSpelled);
                    EXPECT_TRUE(durMoll ? alter >= 0 : alter <= 0) << "sharps for major, flats for minor";
                    const int32_t key = keyOfItem(n);
                    const int32_t interval = i == 0 ? 0 : i == 1 ? (durMoll ? 4 : 3) : 7;
                    const int32_t wanted = 12 * octave + root + interval;
                    if (wanted <= 127) {
                        EXPECT_EQ(key, wanted) << root << " " << i;
                        EXPECT_EQ(key, chordKeys(events)[static_cast<size_t>(i)]) << root << " " << i;
                        EXPECT_GT(static_cast<int8_t>(n.data3), previous) << "placed above the root";
                    } else {  // above the keyboard: the same note an octave down
                        EXPECT_EQ(key, wanted - 12) << root << " " << i;
                    }
                    previous = static_cast<int8_t>(n.data3);
                }
            }
        }
    }
    // Spellings: B flat minor is B flat, D flat, F; B major is B, D sharp, F sharp.
    struct Case {
        int32_t root, durMoll;
        std::array<std::pair<int, int>, 3> spelled;  // step from middle C, alteration
    };
    const Case cases[] = {
        {10, 0, {{{6, -1}, {8, -1}, {10, 0}}}},
        {11, 1, {{{6, 0}, {8, 1}, {10, 1}}}},
        {3, 1, {{{1, 1}, {4, 0}, {5, 1}}}},  // the sharps table spells E flat major as D sharp
        {0, 0, {{{0, 0}, {2, -1}, {4, 0}}}},
    };
    for (const Case& c : cases) {
        CEinstimmung t;
        t.Zerlegt = 0;
        t.ChordGrundton = c.root;
        t.ChordDurMoll = c.durMoll;
        ASSERT_TRUE(t.buildChordItems(60));
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(static_cast<int8_t>(t.eventList[2 + i].data3), c.spelled[i].first) << c.root << " " << i;
            EXPECT_EQ(static_cast<int8_t>(t.eventList[2 + i].noteExtra()), c.spelled[i].second) << c.root << " " << i;
        }
    }
}

TEST(TuneUpItemsTest, FirstNoteLanesHaveTheSpecifiedCountsAndTiming) {
    struct Case {
        uint8_t zerlegt, sounding;
        int32_t n;
        std::size_t items;
        std::vector<Sounded> notes;  // keys 60, 61, ... ; Tempo 1 at 60 per minute: step 192
    };
    const Case cases[] = {
        {0, 1, 1, 5, {{60, 0, 768}}},
        {0, 1, 3, 15, {{60, 0, 768}, {61, 0, 768}, {62, 0, 768}}},
        {1, 1, 1, 5, {{60, 0, 192}}},
        {1, 1, 2, 11, {{60, 0, 384}, {61, 192, 384}}},
        {1, 1, 3, 17, {{60, 0, 576}, {61, 192, 576}, {62, 384, 576}}},
        {1, 0, 1, 5, {{60, 0, 192}}},
        {1, 0, 2, 12, {{60, 0, 192}, {61, 192, 384}}},
        {1, 0, 3, 19, {{60, 0, 192}, {61, 192, 384}, {62, 384, 576}}},
        {1, 0, 4, 26, {{60, 0, 192}, {61, 192, 384}, {62, 384, 576}, {63, 576, 768}}},
    };
    for (const Case& c : cases) {
        CEinstimmung t;
        t.Type = 1;
        t.Tempo = 1;
        t.Duration = 2000;
        t.Zerlegt = c.zerlegt;
        t.Sounding = c.sounding;
        ASSERT_TRUE(t.buildEvents(c.n, 60));
        for (int32_t i = 0; i < c.n; ++i) ASSERT_TRUE(t.appendNoteItems(noteWithKeys({static_cast<uint8_t>(60 + i)})));
        EXPECT_FALSE(t.appendNoteItems(noteWithKeys({99}))) << "no group left";
        EXPECT_EQ(t.eventList.size(), c.items) << int{c.zerlegt} << int{c.sounding} << " n=" << c.n;
        EXPECT_EQ(play(t.eventList), c.notes) << int{c.zerlegt} << int{c.sounding} << " n=" << c.n;
        for (const CPlayerItem& item : t.eventList) {
            if (item.isNote()) {
                EXPECT_EQ(item.kind, kNoteHeld | kNotePlain);
            }
        }
    }
}

TEST(TuneUpItemsTest, FirstNoteOfSeveralHeadsAndRefusals) {
    CEinstimmung t;
    t.Type = 1;
    t.Zerlegt = 1;
    t.Sounding = 0;
    t.Tempo = 2;
    t.Volume = 200;  // from a file: velocities stay MIDI data bytes
    EXPECT_FALSE(t.appendNoteItems(noteWithKeys({60}))) << "not prepared";
    ASSERT_TRUE(t.buildEvents(2, 60));
    CScoreEvent empty;
    EXPECT_TRUE(t.appendNoteItems(empty));
    EXPECT_TRUE(t.eventList.empty());
    ASSERT_TRUE(t.appendNoteItems(noteWithKeys({60, 64, 0x80 | 38})));
    // marker, anchor, 3 heads, rest, 3 releases, end
    ASSERT_EQ(t.eventList.size(), 10u);
    EXPECT_EQ(t.eventList[2].data1, 127);
    EXPECT_EQ(t.eventList[4].data3, 0x80 | 38);
    EXPECT_EQ(bytesOf(t.eventList[6]), (std::vector<uint8_t>{0x80, 60, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(bytesOf(t.eventList[8]), (std::vector<uint8_t>{0x80, 0x80 | 38, 0, 0, 0x80, 0x01, 0, 0}));
    ASSERT_TRUE(t.appendNoteItems(noteWithKeys({67})));
    EXPECT_EQ(play(t.eventList),
              (std::vector<Sounded>{{60, 0, 384}, {64, 0, 384}, {0x80 | 38, 0, 384}, {67, 384, 768}}));

    // A record prepared for its chord takes no first notes.
    t.Type = 2;
    ASSERT_TRUE(t.buildEvents(1, 60));
    EXPECT_FALSE(t.appendNoteItems(noteWithKeys({60})));
    EXPECT_TRUE(t.eventList.empty());
}
