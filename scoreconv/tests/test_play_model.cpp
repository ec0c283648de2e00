// The play model's tables: instruments and channels, tracks, dynamics,
// articulations, percussion keys, volumes and the tempo rule.
#include "play/play_model.h"

#include "musicxml/mxml_words.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace scoreconv {
namespace {

CMidiInstr melodic(uint8_t program, uint8_t srcChannel = CMidiInstr::kUnset) {
    CMidiInstr r;
    r.SrcProgPercId = program;
    r.SrcChannel = srcChannel;
    return r;
}

CMidiInstr drum(std::string id, uint8_t key, uint8_t percId, uint8_t srcChannel = 9) {
    CMidiInstr r;
    r.InstrumentId = std::move(id);
    r.PercNote = key;
    r.SrcProgPercId = percId;
    r.SrcChannel = srcChannel;
    return r;
}

// --- instruments and channels -----------------------------------------------------------

TEST(PlayModelChannels, NewInstrumentSharesOrMovesItsChannel) {
    struct Case {
        const char* name;
        CMidiInstr incoming;
        uint8_t srcChannel;
        uint8_t channel;
        CStaffInstruments::NewChannel answer;
    };
    // The staff holds program 0 on channel 0 and program 40 on channel 1.
    const Case cases[] = {
        {"free channel kept", melodic(5, 3), 3, CMidiInstr::kUnset, CStaffInstruments::NewChannel::Own},
        {"same channel, same program shares", melodic(0, 0), 0, 0, CStaffInstruments::NewChannel::Shared},
        {"same channel, program of another record", melodic(40, 0), 1, 1, CStaffInstruments::NewChannel::Shared},
        {"same channel, other program moves", melodic(70, 0), 2, 2, CStaffInstruments::NewChannel::Own},
        {"no channel is left to the plan", melodic(70), CMidiInstr::kUnset, CMidiInstr::kUnset,
         CStaffInstruments::NewChannel::Own},
        {"channel out of range is unset", melodic(70, 16), CMidiInstr::kUnset, CMidiInstr::kUnset,
         CStaffInstruments::NewChannel::Own},
        {"percussion keeps its channel", drum("36", 35, 128, 0), 0, CMidiInstr::kUnset,
         CStaffInstruments::NewChannel::Own},
    };
    for (const Case& c : cases) {
        CStaffInstruments table;
        ASSERT_TRUE(table.addStaves(1));
        ASSERT_TRUE(table.append(0, melodic(0, 0)));
        ASSERT_TRUE(table.append(0, melodic(40, 1)));
        CMidiInstr r = c.incoming;
        EXPECT_EQ(table.channelForNew(0, r), c.answer) << c.name;
        EXPECT_EQ(r.SrcChannel, c.srcChannel) << c.name;
        EXPECT_EQ(r.Channel, c.channel) << c.name;
    }
}

TEST(PlayModelChannels, MovedInstrumentNeverTakesTheDrumChannel) {
    CStaffInstruments table;
    ASSERT_TRUE(table.addStaves(1));
    // Channels 0..8 used once, 9 unused: the least used is still not 9.
    for (uint8_t c = 0; c < 9; ++c) ASSERT_TRUE(table.append(0, melodic(c, c)));
    for (uint8_t c = 10; c < 16; ++c) ASSERT_TRUE(table.append(0, melodic(c, c)));
    CMidiInstr r = melodic(100, 3);
    table.channelForNew(0, r);
    EXPECT_EQ(r.SrcChannel, 0);
}

TEST(PlayModelChannels, PlanGivesFreeChannelsThenTheLeastUsed) {
    // 20 melodic staves of one instrument each: the first 15 get 0..8 and
    // 10..15, then the least used again from the lowest, never channel 10.
    CStaffInstruments table;
    ASSERT_TRUE(table.addStaves(20));
    for (int32_t s = 0; s < 20; ++s) ASSERT_TRUE(table.append(s, melodic(0)));
    table.planChannels(false);
    const std::vector<uint8_t> expected = {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4};
    for (int32_t s = 0; s < 20; ++s) EXPECT_EQ(table.at(s, 0)->Channel, expected[static_cast<std::size_t>(s)]) << s;
}

TEST(PlayModelChannels, PlanPutsPercussionStavesOnChannel10AndKeepsPlannedOnes) {
    CStaffInstruments table;
    ASSERT_TRUE(table.addStaves(3));
    CMidiInstr planned = melodic(0, 0);
    planned.Channel = 0;
    ASSERT_TRUE(table.append(0, planned));
    // A drum staff: its first record is percussion, so all its records go to 10.
    ASSERT_TRUE(table.append(1, drum("36", 35, 128)));
    ASSERT_TRUE(table.append(1, melodic(0)));
    CMidiInstr wild = melodic(0);
    wild.Channel = 200;  // set from outside: not a channel
    ASSERT_TRUE(table.append(2, wild));

    table.planChannels(false);
    EXPECT_EQ(table.at(0, 0)->Channel, 0);
    EXPECT_EQ(table.at(1, 0)->Channel, kDrumChannel);
    EXPECT_EQ(table.at(1, 1)->Channel, kDrumChannel);
    EXPECT_EQ(table.at(2, 0)->Channel, 1);

    table.at(0, 0)->Channel = 7;
    table.planChannels(true);  // renew: planned ones are planned again
    EXPECT_EQ(table.at(0, 0)->Channel, 0);
}

TEST(PlayModelChannels, NoUnsetByteReachesAMessage) {
    CStaffInstruments table;
    ASSERT_TRUE(table.addStaves(2));
    CMidiInstr unset;  // every byte 255 but the program
    unset.SrcProgPercId = 255;
    ASSERT_TRUE(table.append(0, unset));
    ASSERT_TRUE(table.append(1, drum("35", 34, 200)));
    struct Case {
        int32_t staff, index;
        bool user;
        uint8_t channel, program;
    };
    const Case cases[] = {
        {0, 0, false, 0, 0},
        {0, 0, true, 0, 0},
        {1, 0, false, kDrumChannel, 0},
        {5, 0, true, 0, 0},   // unknown staff
        {0, 3, true, 0, 0},   // unknown record
        {-1, 0, false, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(table.midiChannel(c.staff, c.index), c.channel) << c.staff << "/" << c.index;
        EXPECT_EQ(table.midiProgram(c.staff, c.index, c.user), c.program) << c.staff << "/" << c.index;
    }
    table.at(0, 0)->SrcProgPercId = 40;
    EXPECT_EQ(table.midiProgram(0, 0, true), 40);  // user program unset: the source's
    table.at(0, 0)->UserProgram = 12;
    EXPECT_EQ(table.midiProgram(0, 0, true), 12);
    EXPECT_EQ(table.midiProgram(0, 0, false), 40);
}

TEST(PlayModelInstruments, ListsRefuseUnknownStavesAndIgnoreUnknownRecords) {
    CStaffInstruments table;
    ASSERT_TRUE(table.addStaves(1));
    EXPECT_FALSE(table.addStaves(-1));
    EXPECT_FALSE(table.append(1, melodic(0)));
    EXPECT_FALSE(table.append(-1, melodic(0)));
    ASSERT_TRUE(table.append(0, melodic(1)));
    ASSERT_TRUE(table.append(0, melodic(2)));
    ASSERT_TRUE(table.append(0, melodic(3)));
    EXPECT_TRUE(table.remove(0, 5));
    EXPECT_TRUE(table.remove(3, 0));
    EXPECT_EQ(table.count(0), 3);
    EXPECT_TRUE(table.remove(0, 1));
    ASSERT_EQ(table.count(0), 2);
    EXPECT_EQ(table.at(0, 1)->SrcProgPercId, 3);
    EXPECT_EQ(table.at(0, 2), nullptr);
    EXPECT_EQ(table.count(7), 0);
    EXPECT_FALSE(table.isPercussionStaff(7));
}

TEST(PlayModelInstruments, PercussionIdsStopAt255) {
    CStaffInstruments table;
    EXPECT_EQ(table.nextPercussionId(), 128);
    EXPECT_EQ(table.nextPercussionId(), 129);
    for (int i = 0; i < 200; ++i) table.nextPercussionId();
    EXPECT_EQ(table.nextPercussionId(), 255);
    table.clear();
    EXPECT_EQ(table.nextPercussionId(), 128);
}

TEST(PlayModelInstruments, PercussionKeyLookup) {
    CStaffInstruments table;
    ASSERT_TRUE(table.addStaves(2));
    ASSERT_TRUE(table.append(0, drum("P1-I36", 35, 128)));
    ASSERT_TRUE(table.append(0, drum("42", 41, 129)));
    ASSERT_TRUE(table.append(0, drum("38snare", 37, 130)));
    ASSERT_TRUE(table.append(1, melodic(0)));
    struct Case {
        int32_t staff, key;
        uint8_t played;
    };
    const Case cases[] = {
        {0, 128, 35},      // bit 7: the percussion id
        {0, 130, 37},
        {0, 131, kNoKey},
        {0, 42, 41},       // the number an id begins with
        {0, 38, 37},
        {0, 36, kNoKey},   // "P1-I36" begins with no number
        {0, 0, kNoKey},
        {0, 256, kNoKey},
        {0, -1, kNoKey},
        {1, 0, kNoKey},
        {9, 42, kNoKey},
    };
    for (const Case& c : cases) EXPECT_EQ(table.percussionKey(c.staff, c.key), c.played) << c.staff << "/" << c.key;
}

// --- tracks -----------------------------------------------------------------------------

TEST(PlayModelTracks, NumbersStavesVoicesAndExtraTracks) {
    CStaffInstruments table;
    ASSERT_TRUE(table.addStaves(3));
    ASSERT_TRUE(table.append(0, melodic(0)));
    ASSERT_TRUE(table.append(1, drum("36", 35, 128)));
    ASSERT_TRUE(table.append(1, drum("38", 37, 129)));
    ASSERT_TRUE(table.append(1, drum("42", 41, 130)));
    ASSERT_TRUE(table.append(2, melodic(0)));
    const std::vector<int32_t> voices = {2, 1, 0};

    const CTrackLayout plain = planTracks(table, voices, 0, false, false);
    EXPECT_EQ(plain.count, 5);  // 0, piano 1-2, drums 3, empty staff 4
    EXPECT_EQ(plain.metronomeTrack, -1);
    const CTrackLayout drums = planTracks(table, voices, kCondPercussionTracks, true, true);
    EXPECT_EQ(drums.voiceTracks, 6);
    EXPECT_EQ(drums.metronomeTrack, 7);
    EXPECT_EQ(drums.tuneUpTrack, 8);
    EXPECT_EQ(drums.count, 9);

    struct Case {
        uint64_t conditions;
        int32_t staff, voice, track;
    };
    const Case cases[] = {
        {0, 0, 0, 1}, {0, 0, 1, 2}, {0, 1, 0, 3}, {kCondPercussionTracks, 1, 0, 3},
        {0, 0, 2, -1}, {0, 2, 0, -1}, {0, 3, 0, -1}, {0, -1, 0, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(trackOfVoice(table, voices, c.conditions, c.staff, c.voice), c.track) << c.staff << "/" << c.voice;
    }
    // Every track handed out lies below the count.
    for (uint64_t conditions : {uint64_t{0}, kCondPercussionTracks}) {
        const int32_t count = planTracks(table, voices, conditions, false, false).count;
        for (int32_t s = 0; s < 3; ++s) {
            for (int32_t v = 0; v < voices[static_cast<std::size_t>(s)]; ++v) {
                EXPECT_LT(trackOfVoice(table, voices, conditions, s, v), count);
            }
        }
    }

    EXPECT_EQ(trackOfPercussionKey(table, voices, kCondPercussionTracks, 1, 35), 3);
    EXPECT_EQ(trackOfPercussionKey(table, voices, kCondPercussionTracks, 1, 41), 5);
    EXPECT_EQ(trackOfPercussionKey(table, voices, kCondPercussionTracks, 1, 60), -1);
    EXPECT_EQ(trackOfPercussionKey(table, voices, 0, 1, 35), -1);
    EXPECT_EQ(trackOfPercussionKey(table, voices, kCondPercussionTracks, 0, 35), -1);
}

// --- dynamics ---------------------------------------------------------------------------

TEST(PlayModelDynamics, WordsMapToCodes) {
    struct Case {
        const char* word;
        int32_t code;
    };
    const Case cases[] = {
        {"f", 90},    {"ff", 110}, {"FF", 110}, {"fff", 127}, {"ffff", 127}, {"mf", 74},  {"mp", 62},
        {"p", 44},    {"pp", 22},  {"ppp", 10}, {"pppp", 10}, {"fp", -1},    {"fz", -2},  {"sfz", -3},
        {"sffz", -3}, {"sfp", -4}, {"SFFF", -4}, {"rf", 0},   {"", 0},       {"fffff", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(dynamicCodeOfWord(c.word), c.code) << c.word;
}

TEST(PlayModelDynamics, LevelsComeFromTheTableScaledByTheVolume) {
    CDynamik table;
    table.rows[2].velocity = 100;  // the host's "f"
    struct Case {
        int32_t code, volume, lastVolume, level;
    };
    const Case cases[] = {
        {90, 74, 0, 100},    // f through the table
        {44, 74, 0, 44},
        {44, 148, 0, 88},    // scaled by volume / 74
        {127, 148, 0, 127},  // kept within 127
        {44, 0, 0, 0},
        {50, 74, 0, 50},     // no table level: the code itself
        {-1, 74, 0, 100},    // fp plays f
        {-2, 74, 80, 120},   // accents: 1.5 x the channel's last volume
        {-3, 74, 100, 127},
        {-4, 74, 33, 50},
        {-5, 74, 90, 127},   // double
        {-6, 74, 90, 45},    // half
        {-6, 74, 12, 10},    // at least 10
        {-7, 74, 90, 60},    // divided by 1.5
        {-7, 74, 9, 10},
        {0, 74, 90, -1},     // no dynamic
        {-8, 74, 90, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(dynamicVoiceLevel(table, c.code, c.volume, c.lastVolume), c.level) << c.code << "/" << c.volume;
    }
    EXPECT_EQ(dynamikLevel(table, 127), 127);
    EXPECT_EQ(dynamikLevel(table, 90), 100);
    EXPECT_EQ(dynamikLevel(table, 91), -1);
}

TEST(PlayModelDynamics, CopyAndPresentFlagsTouchOnlyTheirFields) {
    CDynamik from;
    from.rows[0].velocity = 120;
    from.rows[0].presentInFile = 1;
    from.DynamicUse = 0;
    CDynamik to;
    copyDynamikValues(to, from);
    EXPECT_EQ(to.rows[0].velocity, 120);
    EXPECT_EQ(to.rows[0].presentInFile, 0);
    EXPECT_EQ(to.DynamicUse, 1);

    markDynamicPresent(to, -1);  // fp: f and p
    markDynamicPresent(to, 22);
    markDynamicPresent(to, -3);
    markDynamicPresent(to, 55);
    const int expected[] = {0, 0, 1, 0, 0, 1, 1, 0};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(to.rows[static_cast<std::size_t>(i)].presentInFile, expected[i]) << i;
    clearDynamikPresent(to);
    EXPECT_EQ(to.rows[2].presentInFile, 0);
}

// --- articulations ----------------------------------------------------------------------

TEST(PlayModelArticulations, WordsAndNoteheadsMapToCodes) {
    struct Case {
        const char* word;
        int32_t code;
    };
    for (const Case c : {Case{"staccato", 1}, Case{"Tenuto", 2}, Case{"detached-legato", 3},
                         Case{"staccatissimo", 4}, Case{"accent", 5}, Case{"strong-accent", 6},
                         Case{"spiccato", 0}, Case{"", 0}}) {
        EXPECT_EQ(articulationCodeOfWord(c.word), c.code) << c.word;
    }
    for (const Case c : {Case{"diamond", 1}, Case{"x", 2}, Case{"circle-x", 2}, Case{"cross", 2},
                         Case{"triangle", 8}, Case{"square", 16}, Case{"slash", 16}, Case{"none", 32},
                         Case{"normal", 0}}) {
        EXPECT_EQ(noteheadFlagsOfWord(c.word), c.code) << c.word;
    }
}

TEST(PlayModelArticulations, Velocities) {
    const uint64_t on = kCondArticulations;
    struct Case {
        int32_t code;
        uint64_t conditions;
        int32_t base;
        int32_t velocity;
    };
    const Case cases[] = {
        {0, on, 60, 90},                         // plain note: 90 ...
        {0, on | kCondBaseVelocity, 60, 60},     // ... or the base velocity
        {0, on | kCondBaseVelocity, 0, 1},       // never a note-off
        {0, on | kCondBaseVelocity, 300, 127},
        {5, on, 90, 110},                        // accent: the row's velocity
        {6, on, 90, 118},
        {8, on, 90, 127},
        {7, on, 90, 102},
        {1, on, 90, 90},                         // staccato: +0 %
        {4, on, 90, 99},                         // staccatissimo: +10 % of 90
        {4, on | kCondBaseVelocity, 120, 127},   // kept within 127
        {3, on, 90, 90},                         // detached legato has no row
        {5, 0, 90, 90},                          // articulations off
    };
    CArticulation table;
    for (const Case& c : cases) {
        EXPECT_EQ(noteOnVelocity(table, c.code, c.conditions, c.base), c.velocity) << c.code << "/" << c.base;
    }
    table.ArticulationUse = 0;
    EXPECT_EQ(noteOnVelocity(table, 5, on, 90), 90);
    table.ArticulationUse = 1;
    table.rows[4].velocity = 0;  // an accent row without velocity raises by 0 %
    EXPECT_EQ(noteOnVelocity(table, 5, on | kCondBaseVelocity, 70), 70);
}

TEST(PlayModelArticulations, SoundingLengths) {
    const uint64_t shorten = kCondShorten | kCondArticulations;
    struct Case {
        int32_t code, duration;
        bool tied;
        uint64_t conditions;
        int32_t shortening, length;
    };
    const Case cases[] = {
        {0, 480, false, 0, 95, 480},              // not shortened
        {0, 480, false, shorten, 95, 456},        // 95 % of a quarter
        {0, 60, false, shorten, 95, 57},          // and of a 32nd
        {0, 480, true, shorten, 95, 480},         // tied on: whole
        {1, 480, false, shorten, 95, 228},        // staccato cuts 50 %
        {2, 480, false, shorten, 100, 480},       // tenuto +10 % stays within the duration
        {1, 480, false, kCondShorten, 95, 456},   // articulations off
        {4, 20, false, shorten, 95, 15},          // at least one step
        {0, 480, false, shorten, 0, 15},
    };
    CArticulation table;
    for (const Case& c : cases) {
        EXPECT_EQ(soundingLength(table, c.code, c.duration, c.tied, c.conditions, c.shortening, 15), c.length)
            << c.code << "/" << c.duration;
    }
}

TEST(PlayModelArticulations, CopyAndPresentFlags) {
    CArticulation from;
    from.rows[1] = {-20, 30, 1};
    from.ArticulationUse = 0;
    CArticulation to;
    to.copyValues(from);
    EXPECT_EQ(to.rows[1].noteCut, -20);
    EXPECT_EQ(to.rows[1].velocity, 30);
    EXPECT_EQ(to.rows[1].presentInFile, 0);
    EXPECT_EQ(to.ArticulationUse, 1);
    markArticulationPresent(to, 4);
    markArticulationPresent(to, 3);
    EXPECT_EQ(to.rows[1].presentInFile, 1);
    EXPECT_EQ(to.row(7), nullptr);
    EXPECT_EQ(to.row(-1), nullptr);
}

TEST(PlayModelNoteTypes, TicksOfTypesDotsAndTuplets) {
    struct Case {
        const char* word;
        int32_t dots, actual, normal, tpq, ticks;
    };
    const Case cases[] = {
        {"breve", 0, 0, 0, 480, 3840}, {"whole", 0, 0, 0, 480, 1920}, {"quarter", 0, 0, 0, 480, 480},
        {"16th", 0, 0, 0, 480, 120},   {"128th", 0, 0, 0, 480, 15},   {"256th", 0, 0, 0, 480, 7},
        {"Eighth", 0, 0, 0, 480, 240}, {"quarter", 1, 0, 0, 480, 720}, {"quarter", 2, 0, 0, 480, 840},
        {"eighth", 0, 3, 2, 480, 160}, {"2", 0, 0, 0, 480, 3840},    {"quarter", 0, 0, 0, 960, 960},
        {"long", 0, 0, 0, 480, 0},     {"", 0, 0, 0, 480, 0},        {"quarter", 0, 0, 0, 0, 0},
        {"99999999", 0, 0, 0, 480, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(noteTypeTicks(c.word, c.dots, c.actual, c.normal, c.tpq), c.ticks) << c.word << "/" << c.dots;
    }
}

// --- volumes, pans and tempo ------------------------------------------------------------

TEST(PlayModelMix, StavesWithoutVoicesReadDefaultsAndIgnoreWrites) {
    CVoiceMix mix;
    const std::vector<int32_t> voices = {2, 0};
    ASSERT_TRUE(mix.resize(voices));
    mix.setUserVolume(0, 1, 100);
    mix.setUserPan(0, 1, 10);
    mix.setUserVolume(1, 0, 100);
    mix.setUserPan(1, 0, 10);
    mix.setUserVolume(0, 2, 100);
    mix.setSourceVolume(1, 50);
    mix.setSourceVolume(4, 50);
    EXPECT_EQ(mix.userVolume(0, 1), 100);
    EXPECT_EQ(mix.userPan(0, 1), 10);
    EXPECT_EQ(mix.userVolume(1, 0), kDefaultVolume);
    EXPECT_EQ(mix.userPan(1, 0), kDefaultPan);
    EXPECT_EQ(mix.userVolume(0, 2), kDefaultVolume);
    EXPECT_EQ(mix.userVolume(-1, 0), kDefaultVolume);
    EXPECT_EQ(mix.sourceVolume(1), 50);
    EXPECT_EQ(mix.sourceVolume(4), kDefaultVolume);
    // Values become controller data bytes: kept within 0..127.
    mix.setUserPan(0, 0, 300);
    mix.setUserVolume(0, 0, -4);
    EXPECT_EQ(mix.userPan(0, 0), 127);
    EXPECT_EQ(mix.userVolume(0, 0), 0);
}

TEST(PlayModelTempo, RuleAppliesOnlyWhenAsked) {
    struct Case {
        int32_t value;
        CTempoSettings settings;
        uint64_t conditions;
        bool ignore, playTime;
        int32_t tempo;
    };
    const CTempoSettings add50{1, 50, -1, 10, 720};
    const Case cases[] = {
        {700, add50, kCondTempoRule, false, false, 720},   // clamped to the range
        {100, add50, kCondTempoRule, false, false, 150},
        {-1, add50, kCondTempoRule, false, false, 170},    // -1 counts as 120
        {100, add50, 0, false, false, 100},                 // rule off
        {100, add50, kCondTempoRule, true, false, 100},     // ignored while playing
        {100, add50, kCondTempoRule, true, true, 150},      // but not in a play-time pass
        {100, {0, 50, -1, 10, 720}, kCondTempoRule, false, false, 120},
        {100, {0, 50, 88, 10, 720}, kCondTempoRule, false, false, 88},
        {5, {1, -20, -1, 10, 720}, kCondTempoRule, false, false, 10},
        {100, {1, 0, -1, 300, 200}, kCondTempoRule, false, false, 200},  // a reversed range
        {100, {1, INT32_MAX, -1, 10, 720}, kCondTempoRule, false, false, 720},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(applyTempoRule(c.value, c.settings, c.conditions, c.ignore, c.playTime), c.tempo) << c.value;
    }
}

}  // namespace
}  // namespace scoreconv
