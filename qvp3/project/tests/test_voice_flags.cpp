#include <gtest/gtest.h>

#include <vector>

#include "qvp3_project/voice_flags.h"

namespace qvp3 {
namespace {

void setAllVoices(VoiceFlagMatrix& matrix) {
    for (int s = 0; s < matrix.staveCount(); ++s) {
        for (int v = 0; v < matrix.voiceCount(s); ++v) ASSERT_TRUE(matrix.setVoiceFlag(s, v, 1));
    }
}

TEST(VoiceFlagMatrix, AllocShapesTheStoreWithEveryFlagClear) {
    struct Case {
        int staves;
        std::vector<std::uint8_t> counts;
        bool ok;
        std::vector<int> shape;
    } cases[] = {
        {3, {}, true, {6, 6, 6}},
        {3, {4, 0, 1}, true, {4, 0, 1}},
        {2, {4, 1, 9}, true, {4, 1}},  // extra counts are not used
        {0, {}, true, {}},
        {3, {4, 1}, false, {}},        // fewer counts than staves
        {-1, {}, false, {}},
    };
    for (const Case& c : cases) {
        VoiceFlagMatrix matrix;
        ASSERT_TRUE(prjVoiceFlagsAlloc(matrix, 2, std::vector<std::uint8_t>{2, 2}));  // dropped by the next alloc
        EXPECT_EQ(prjVoiceFlagsAlloc(matrix, c.staves, c.counts), c.ok) << c.staves;
        ASSERT_EQ(matrix.staveCount(), static_cast<int>(c.shape.size()));
        for (int s = 0; s < matrix.staveCount(); ++s) {
            EXPECT_EQ(matrix.voiceCount(s), c.shape[static_cast<std::size_t>(s)]);
            EXPECT_EQ(matrix.staveFlag(s), 0);
            for (int v = 0; v < matrix.voiceCount(s); ++v) EXPECT_EQ(matrix.voiceFlag(s, v), 0);
        }
        EXPECT_EQ(matrix.fullStaves(), 0);
    }
}

TEST(VoiceFlagMatrix, RecountCountsStavesWithEveryVoiceSetAndEmptyStaves) {
    VoiceFlagMatrix matrix;
    ASSERT_TRUE(prjVoiceFlagsAlloc(matrix, 3, std::vector<std::uint8_t>{2, 0, 3}));
    prjVoiceFlagsClear(matrix);
    EXPECT_EQ(matrix.fullStaves(), 1);  // the staff without voices
    matrix.setVoiceFlag(0, 0, 1);
    matrix.setVoiceFlag(0, 1, 7);
    matrix.setVoiceFlag(2, 0, 1);
    matrix.setStaveFlag(2, 1);  // staff flags play no part
    prjVoiceFlagsCountFull(matrix);
    EXPECT_EQ(matrix.fullStaves(), 2);
    matrix.setVoiceFlag(2, 1, 1);
    matrix.setVoiceFlag(2, 2, 1);
    prjVoiceFlagsCountFull(matrix);
    EXPECT_EQ(matrix.fullStaves(), 3);
    prjVoiceFlagsClear(matrix);
    EXPECT_EQ(matrix.fullStaves(), 1);
    EXPECT_EQ(matrix.staveFlag(2), 0);
    EXPECT_EQ(matrix.voiceFlag(0, 1), 0);
}

TEST(VoiceFlagMatrix, SettingAFlagChangesThatFlagAloneAndChecksItsIndices) {
    VoiceFlagMatrix matrix;
    ASSERT_TRUE(prjVoiceFlagsAlloc(matrix, 2, std::vector<std::uint8_t>{3, 1}));
    EXPECT_TRUE(matrix.setVoiceFlag(0, 1, 1));
    EXPECT_TRUE(matrix.setStaveFlag(1, 1));
    struct Case {
        int staff, voice;
    } outOfRange[] = {{0, 3}, {1, 1}, {2, 0}, {-1, 0}, {0, -1}};
    for (const Case& c : outOfRange) {
        EXPECT_FALSE(matrix.setVoiceFlag(c.staff, c.voice, 1)) << c.staff << "/" << c.voice;
        EXPECT_EQ(matrix.voiceFlag(c.staff, c.voice), 0);
    }
    EXPECT_FALSE(matrix.setStaveFlag(2, 1));
    EXPECT_FALSE(matrix.setStaveFlag(-1, 1));
    const std::vector<std::uint8_t> expected{0, 1, 0};
    for (int v = 0; v < 3; ++v) EXPECT_EQ(matrix.voiceFlag(0, v), expected[static_cast<std::size_t>(v)]);
    EXPECT_EQ(matrix.staveFlag(0), 0);
    EXPECT_EQ(matrix.staveFlag(1), 1);
    EXPECT_TRUE(matrix.setVoiceFlag(0, 1, 0));
    EXPECT_EQ(matrix.voiceFlag(0, 1), 0);
}

TEST(VoiceFlagMatrix, CopyTakesShapeAndFlagsThenRecounts) {
    VoiceFlagMatrix source;
    ASSERT_TRUE(prjVoiceFlagsAlloc(source, 2, std::vector<std::uint8_t>{4, 1}));
    setAllVoices(source);
    source.setStaveFlag(0, 1);
    VoiceFlagMatrix dest;
    ASSERT_TRUE(prjVoiceFlagsAlloc(dest, 5));
    ASSERT_TRUE(prjVoiceFlagsCopy(dest, source));
    EXPECT_EQ(dest.fullStaves(), 2);
    EXPECT_EQ(dest.staveCount(), 2);
    EXPECT_EQ(dest.voiceCount(0), 4);
    EXPECT_EQ(dest.staveFlag(0), 1);
    // The two stores are independent afterwards: a repeat restores the saved state.
    source.setVoiceFlag(0, 3, 0);
    EXPECT_EQ(dest.voiceFlag(0, 3), 1);
    ASSERT_TRUE(prjVoiceFlagsCopy(source, dest));
    EXPECT_EQ(source.voiceFlag(0, 3), 1);
    ASSERT_TRUE(prjVoiceFlagsCopy(source, source));
    EXPECT_EQ(source.fullStaves(), 2);
}

TEST(VoiceFlagMatrix, FreeLeavesAnEmptyStore) {
    VoiceFlagMatrix matrix;
    ASSERT_TRUE(prjVoiceFlagsAlloc(matrix, 2, std::vector<std::uint8_t>{0, 0}));
    prjVoiceFlagsCountFull(matrix);
    EXPECT_EQ(matrix.fullStaves(), 2);
    prjVoiceFlagsFree(matrix);
    EXPECT_EQ(matrix.staveCount(), 0);
    EXPECT_EQ(matrix.fullStaves(), 0);
    EXPECT_EQ(matrix.voiceCount(0), 0);
    prjVoiceFlagsFree(matrix);
    prjVoiceFlagsClear(matrix);
    EXPECT_EQ(matrix.fullStaves(), 0);
}

}  // namespace
}  // namespace qvp3
