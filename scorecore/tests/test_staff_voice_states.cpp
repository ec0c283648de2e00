#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "scorecore/staff_voice_states.h"

namespace scorecore {
namespace {

CStaffVoiceStates makeStates(std::vector<uint8_t> voiceCounts) {
    CStaffVoiceStates states;
    EXPECT_TRUE(states.create(static_cast<int32_t>(voiceCounts.size()), voiceCounts));
    return states;
}

TEST(StaffVoiceStates, CreateTurnsStavesWithVoicesOnAndOthersOff) {
    const CStaffVoiceStates states = makeStates({0, 3});
    ASSERT_EQ(states.staffCount(), 2);
    EXPECT_EQ(states.getStaffOnOff(0), kStateOff);
    for (int32_t v : {0, 1, 5, 100}) {
        EXPECT_EQ(states.getVoiceOnOff(0, v), kStateOff) << v;  // answered by the staff
        EXPECT_TRUE(states.isVoiceOff(0, v)) << v;
    }
    EXPECT_EQ(states.getStaffOnOff(1), kStateOn);
    for (int32_t v = 0; v < 3; ++v) EXPECT_TRUE(states.isVoiceOn(1, v)) << v;
    EXPECT_TRUE(states.anyStaffOn());
}

TEST(StaffVoiceStates, CreateWithoutVoiceCountsLeavesEveryStaffOff) {
    CStaffVoiceStates states;
    ASSERT_TRUE(states.create(3));
    for (int32_t s = 0; s < 3; ++s) EXPECT_TRUE(states.isVoiceOff(s, 0)) << s;
    EXPECT_FALSE(states.anyStaffOn());
}

TEST(StaffVoiceStates, CreateRefusesBadShapesAndKeepsTheOldMatrix) {
    CStaffVoiceStates states = makeStates({2});
    const std::vector<uint8_t> tooShort = {1, 1};
    EXPECT_FALSE(states.create(0));
    EXPECT_FALSE(states.create(-4));
    EXPECT_FALSE(states.create(3, tooShort));  // would read past the counts
    EXPECT_EQ(states.staffCount(), 1);
    EXPECT_TRUE(states.isVoiceOn(0, 1));
}

TEST(StaffVoiceStates, VoiceMasks) {
    CStaffVoiceStates states = makeStates({3, 3, 3, 0, 0});
    states.setVoiceOnOff(0, 1, kStateOff);            // {2, 1, 2}
    states.setStaffOnOff(2, kStateOff, true);         // a staff switched off
    states.setStaffOnOff(4, kStateHidden, false);     // hidden, no voices, not off
    EXPECT_EQ(states.getVoiceMasks(), (std::vector<uint8_t>{133, 1, 0, 0, 1}));
}

TEST(StaffVoiceStates, VoiceMasksLeaveOutVoicesBeyondTheEighth) {
    CStaffVoiceStates states = makeStates({12, 12});
    for (int32_t v = 0; v < 12; ++v) states.setVoiceOnOff(0, v, kStateOff);
    states.setVoiceOnOff(0, 7, kStateOn);   // shares the 0x80 marker bit
    states.setVoiceOnOff(0, 11, kStateOn);  // no room in the byte
    states.setVoiceOnOff(1, 10, kStateOff);  // all but one on: the "all on" form no longer holds
    EXPECT_EQ(states.getVoiceMasks(), (std::vector<uint8_t>{0x80, 0xFF}));
}

TEST(StaffVoiceStates, SetStaffOnOffTouchesVoicesOnlyWhenTheStateChanges) {
    CStaffVoiceStates states = makeStates({3});
    states.setStaffOnOff(0, kStateOff, false);
    states.setVoiceOnOff(0, 2, kStateHidden);
    states.setStaffOnOff(0, kStateOff, true);  // already off: voices stay as they are
    EXPECT_EQ(states.getVoiceOnOff(0, 0), kStateOn);
    EXPECT_EQ(states.getVoiceOnOff(0, 2), kStateHidden);

    states.setStaffOnOff(0, kStateOn, true);
    for (int32_t v = 0; v < 3; ++v) EXPECT_EQ(states.getVoiceOnOff(0, v), kStateOn) << v;
}

TEST(StaffVoiceStates, SetAllCannotTurnOnAStaffWithoutVoices) {
    CStaffVoiceStates states = makeStates({2, 0});
    states.setAll(false);
    EXPECT_FALSE(states.anyStaffOn());
    EXPECT_TRUE(states.isVoiceOff(0, 1));
    states.setAll(true);
    EXPECT_TRUE(states.isStaffOn(0));
    EXPECT_TRUE(states.isVoiceOn(0, 1));
    EXPECT_TRUE(states.isStaffOff(1));
}

TEST(StaffVoiceStates, CopyStatesOfTheSameShape) {
    CStaffVoiceStates source = makeStates({2, 0, 3});
    source.setVoiceOnOff(0, 1, kStateHidden);
    source.setStaffOnOff(1, kStateOn, false);
    source.setStaffOnOff(2, kStateOff, true);
    source.setVoiceOnOff(2, 0, kStateOn);

    CStaffVoiceStates target = makeStates({2, 0, 3});
    target.copyStates(source);
    for (int32_t s = 0; s < 3; ++s) {
        EXPECT_EQ(target.getStaffOnOff(s), source.getStaffOnOff(s)) << s;
        for (int32_t v = 0; v < 3; ++v) {
            EXPECT_EQ(target.getVoiceOnOff(s, v), source.getVoiceOnOff(s, v)) << s << ',' << v;
        }
    }
}

TEST(StaffVoiceStates, CopyStatesOfAnotherShapeCoversTheCommonPartOnly) {
    CStaffVoiceStates source = makeStates({4, 1, 0});
    source.setVoiceOnOff(0, 0, kStateOff);
    source.setVoiceOnOff(0, 3, kStateOff);  // beyond the target's voices
    source.setStaffOnOff(2, kStateHidden, false);

    CStaffVoiceStates target = makeStates({2, 3, 2, 5});
    target.setVoiceOnOff(3, 4, kStateHidden);
    target.copyStates(source);
    EXPECT_EQ(target.voiceCount(0), 2);
    EXPECT_EQ(target.getVoiceOnOff(0, 0), kStateOff);
    EXPECT_EQ(target.getVoiceOnOff(0, 1), kStateOn);
    EXPECT_EQ(target.getVoiceOnOff(1, 0), kStateOn);
    EXPECT_EQ(target.getVoiceOnOff(1, 2), kStateOn);        // the source has one voice there
    EXPECT_EQ(target.getStaffOnOff(2), kStateHidden);        // a source staff without voices
    EXPECT_EQ(target.getVoiceOnOff(2, 1), kStateHidden);     // lends its state to every voice
    EXPECT_EQ(target.getVoiceOnOff(3, 4), kStateHidden);     // no such staff in the source

    CStaffVoiceStates small = makeStates({1});
    small.copyStates(target);  // a larger source: only its first staff is read
    EXPECT_EQ(small.staffCount(), 1);
    EXPECT_EQ(small.getVoiceOnOff(0, 0), kStateOff);
}

TEST(StaffVoiceStates, UnknownIndicesReadInvalidInEveryQuery) {
    const CStaffVoiceStates states = makeStates({2, 0});
    struct Case {
        int32_t staff;
        int32_t voice;
    } const cases[] = {{-1, 0}, {2, 0}, {INT32_MAX, 0}, {0, 2}, {0, -1}, {1, -1}, {INT32_MIN, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.staff << ',' << c.voice);
        EXPECT_EQ(states.getVoiceOnOff(c.staff, c.voice), kStateInvalid);
        EXPECT_TRUE(states.isVoiceInvalid(c.staff, c.voice));
        EXPECT_FALSE(states.isVoiceVisible(c.staff, c.voice));
        EXPECT_FALSE(states.isVoiceOn(c.staff, c.voice));
        EXPECT_FALSE(states.isVoiceOff(c.staff, c.voice));
    }
    for (int32_t staff : {-1, 2, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(staff);
        EXPECT_EQ(states.getStaffOnOff(staff), kStateInvalid);
        EXPECT_TRUE(states.isStaffInvalid(staff));
        EXPECT_FALSE(states.isStaffVisible(staff));
        EXPECT_FALSE(states.isStaffOn(staff));
        EXPECT_FALSE(states.isStaffOff(staff));
    }
}

TEST(StaffVoiceStates, SettersIgnoreUnknownIndicesAndStavesWithoutVoices) {
    CStaffVoiceStates states = makeStates({2, 0});
    const CStaffVoiceStates before = states;
    struct Case {
        int32_t staff;
        int32_t voice;
    } const cases[] = {{-1, 0}, {2, 0}, {0, 2}, {0, -1}, {1, 0}};  // last: a staff without voices
    for (const Case& c : cases) {
        EXPECT_EQ(states.setVoiceOnOff(c.staff, c.voice, kStateOff), kStateInvalid)
            << c.staff << ',' << c.voice;
    }
    for (int32_t staff : {-1, 2, INT32_MAX}) {
        states.setStaffOnOff(staff, kStateHidden, true);
        states.setStaffAll(staff, false);
    }
    EXPECT_EQ(states.getVoiceMasks(), before.getVoiceMasks());
    EXPECT_EQ(states.getStaffOnOff(1), kStateOff);
    EXPECT_EQ(states.setVoiceOnOff(0, 1, kStateOff), kStateOff);  // a valid one still works
}

TEST(StaffVoiceStates, FreeLeavesNoStaves) {
    CStaffVoiceStates states = makeStates({2, 2});
    states.free();
    EXPECT_EQ(states.staffCount(), 0);
    EXPECT_TRUE(states.getVoiceMasks().empty());
    EXPECT_TRUE(states.isVoiceInvalid(0, 0));
}

}  // namespace
}  // namespace scorecore
