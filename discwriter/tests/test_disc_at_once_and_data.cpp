// Disc-at-once images (gaps, flags, start LBAs, the raw-CD progress) and data
// discs (an ISO 9660 + Joliet image, fitting or not).
#include <gtest/gtest.h>

#include "cue_sheet.h"
#include "disc_test_support.h"

namespace discwriter::testing {
namespace {

using platform::testing::readBytes;

class DiscAtOnceTest : public SimulatedDriveTest {
protected:
    void writeTracks(const std::vector<std::uint32_t>& frames) {
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const auto path = writeWav("t" + std::to_string(i) + ".wav", makeWav(frames[i], static_cast<std::uint32_t>(i)));
            ASSERT_EQ(cdInsertTrack(path.c_str()), DISCWRITER_S_OK);
        }
        cdSetDataMode(DISCWRITER_MODE_DISC_AT_ONCE);
        ASSERT_EQ(cdPrepareMediaDAO("qvp3"), DISCWRITER_S_OK);
        ASSERT_EQ(cdWriteDisc(nullptr), DISCWRITER_S_OK) << cdGetLastErrorText();
    }
    CueSheet cue() {
        std::string why;
        const auto sheet = parseCueSheet(readBytes(folder_.path() / "disc.cue"), why);
        EXPECT_TRUE(sheet) << why;
        return sheet.value_or(CueSheet{});
    }
    void TearDown() override {
        cdSetDataMode(DISCWRITER_MODE_TRACK_AT_ONCE);
        cdSetGaplessAudio(0);
        SimulatedDriveTest::TearDown();
    }
};

TEST_F(DiscAtOnceTest, TracksFollowEachOtherAfterTwoSecondGaps) {
    SetUpDrive(medium("cd-rw"));
    writeTracks({588 * 100, 588 * 900, 588 * 10});
    EXPECT_EQ(cddaoGetTrackStartLba(1), 0);
    EXPECT_EQ(cddaoGetTrackStartLba(2), 250);
    EXPECT_EQ(cddaoGetTrackStartLba(3), 250 + 900 + 150);
    EXPECT_EQ(cddaoGetTrackStartLba(4), -1);
    EXPECT_EQ(cddaoGetTrackStartLba(0), -1);
    const CueSheet sheet = cue();
    ASSERT_EQ(sheet.tracks.size(), 3u);
    EXPECT_EQ(sheet.tracks[1].index0, 100);
    EXPECT_EQ(sheet.tracks[2].index1, 1300);
    for (const CueTrack& t : sheet.tracks) {
        EXPECT_TRUE(t.preemphasis);
        EXPECT_FALSE(t.copyPermitted) << "copy prohibited by default";
    }
    EXPECT_EQ(readBytes(folder_.path() / "disc.bin").size(), std::size_t(1310) * DISCWRITER_SECTOR_BYTES);
}

TEST_F(DiscAtOnceTest, GaplessAudioLeavesNoGaps) {
    SetUpDrive(medium("cd-r"));
    cdSetGaplessAudio(1);
    cdSetCopyright(0);
    cdSetPreemphasis(0);
    writeTracks({588 * 100, 588 * 50});
    cdSetCopyright(1);
    cdSetPreemphasis(1);
    EXPECT_EQ(cddaoGetTrackStartLba(2), 100);
    const CueSheet sheet = cue();
    ASSERT_EQ(sheet.tracks.size(), 2u);
    EXPECT_EQ(sheet.tracks[1].index0, -1);
    EXPECT_TRUE(sheet.tracks[1].copyPermitted);
    EXPECT_FALSE(sheet.tracks[1].preemphasis);
}

// Lead-in first (with the total, the lead-out LBA), then each track announced
// once as writing passes its start, then past the last track and finishing.
TEST_F(DiscAtOnceTest, ProgressFollowsTheLastWrittenLba) {
    SetUpDrive(medium("cd-r"));
    writeTracks({588 * 100, 588 * 900, 588 * 10});
    std::vector<std::pair<std::uint32_t, std::uintptr_t>> events;
    std::uintptr_t lastElapsed = 0;
    for (const auto& m : messages()) {
        if (m.msg == DISCWRITER_WM_CD_TIME_ELAPSED) {
            EXPECT_GT(m.wParam, lastElapsed);
            lastElapsed = m.wParam;
            continue;
        }
        events.emplace_back(m.msg, m.wParam);
    }
    const std::vector<std::pair<std::uint32_t, std::uintptr_t>> expected = {
        {DISCWRITER_WM_CD_TRACK_BEGIN, 1}, {DISCWRITER_WM_CD_TIME_TOTAL, 1310}, {DISCWRITER_WM_CD_LEADIN, 0},
        {DISCWRITER_WM_CD_TRACK_BEGIN, 2}, {DISCWRITER_WM_CD_TRACK_BEGIN, 3},   {DISCWRITER_WM_CD_PAST_LAST_TRACK, 0},
        {DISCWRITER_WM_CD_FINISHING, 0},   {DISCWRITER_WM_CD_WRITE_DONE, 0}};
    EXPECT_EQ(events, expected);
    EXPECT_EQ(lastElapsed, 1310u);
}

class DataDiscTest : public SimulatedDriveTest {
protected:
    void SetUp() override {
        cdSetDataMode(DISCWRITER_MODE_DATA);
    }
    void TearDown() override {
        cdSetDataMode(DISCWRITER_MODE_TRACK_AT_ONCE);
        SimulatedDriveTest::TearDown();
    }
    void listFiles() {
        ASSERT_EQ(cdInsertTrack(writeWav("notes.txt", "practice every day\n").c_str()), DISCWRITER_S_OK);
        ASSERT_EQ(cdInsertTrack(writeWav("song.wav", makeWav(588, 1)).c_str()), DISCWRITER_S_OK);
    }
};

TEST_F(DataDiscTest, TheListedFilesBecomeAnIsoImageNamedAfterTheClient) {
    SetUpDrive(medium("dvd+r"));
    listFiles();
    ASSERT_EQ(cdPrepareMediaForData("PRACTICE"), DISCWRITER_S_OK);
    char fits = 0;
    ASSERT_EQ(cdWriteDisc(&fits), DISCWRITER_S_OK) << cdGetLastErrorText();
    EXPECT_EQ(fits, 1);
    const std::string iso = readBytes(folder_.path() / "disc.iso");
    ASSERT_GT(iso.size(), 16u * 2048);
    EXPECT_EQ(iso.size() % 2048, 0u);
    EXPECT_EQ(iso.substr(16 * 2048 + 1, 5), "CD001");
    EXPECT_EQ(iso.substr(16 * 2048 + 40, 8), "PRACTICE");
    EXPECT_NE(iso.find("practice every day\n"), std::string::npos);
    EXPECT_NE(iso.find("NOTES.TXT"), std::string::npos);
    std::int32_t count = 0;
    EXPECT_EQ(cdGetExistingTrackNumber(&count), DISCWRITER_S_OK);
    EXPECT_EQ(count, 1);
    bool sawFinishing = false;
    for (const auto& m : messages()) sawFinishing = sawFinishing || m.msg == DISCWRITER_WM_CD_FINISHING;
    EXPECT_TRUE(sawFinishing);
}

TEST_F(DataDiscTest, AnImageLargerThanTheMediumIsNotWritten) {
    SetUpDrive(medium("cd-r", "Capacity=20\r\n"));
    listFiles();
    ASSERT_EQ(cdPrepareMediaForData("PRACTICE"), DISCWRITER_S_OK);
    char fits = 1;
    EXPECT_EQ(cdWriteDisc(&fits), DISCWRITER_S_OK);
    EXPECT_EQ(fits, 0);
    EXPECT_FALSE(std::filesystem::exists(folder_.path() / "disc.iso"));
    dwImageStream* image = reinterpret_cast<dwImageStream*>(1);
    EXPECT_FALSE(cdCreateMediaFileSystem(&image, &fits));
    EXPECT_EQ(image, nullptr);
    EXPECT_EQ(fits, 0);
}

TEST_F(DataDiscTest, TheImageIsHandedOutWhenItFits) {
    SetUpDrive(medium("cd-r"));
    listFiles();
    dwImageStream* image = nullptr;
    char fits = 0;
    ASSERT_TRUE(cdCreateMediaFileSystem(&image, &fits));
    EXPECT_NE(image, nullptr);
    EXPECT_EQ(fits, 1);
    cdReleaseStream(image);
    ASSERT_EQ(cdInsertTrack("/no/such/file.txt"), DISCWRITER_S_OK);
    EXPECT_FALSE(cdCreateMediaFileSystem(&image, &fits));
    EXPECT_NE(std::string(cdGetLastErrorText()).find("/no/such/file.txt"), std::string::npos);
}

}  // namespace
}  // namespace discwriter::testing
