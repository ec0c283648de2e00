// Raw drive commands: answered by the simulated recorder from its disc, and
// the commands themselves as a drive receives them (a recorder that records).
#include <gtest/gtest.h>

#include <cstring>

#include "disc_test_support.h"
#include "library_state.h"

namespace discwriter::testing {
namespace {

using platform::testing::readBytes;

class RawCommandTest : public SimulatedDriveTest {
protected:
    // Tracks of 100, 41 and 2250 sectors, written track at once.
    void writeDisc() {
        const std::vector<std::uint32_t> frames = {588 * 100, 588 * 41, 588 * 2250};
        for (std::size_t i = 0; i < frames.size(); ++i)
            ASSERT_EQ(cdInsertTrack(writeWav("t" + std::to_string(i) + ".wav", makeWav(frames[i], 9)).c_str()),
                      DISCWRITER_S_OK);
        ASSERT_EQ(cdPrepareMediaTAO("qvp3"), DISCWRITER_S_OK);
        ASSERT_EQ(cdWriteDisc(nullptr), DISCWRITER_S_OK);
    }
};

TEST_F(RawCommandTest, DiscAndTrackInformationDescribeTheWrittenDisc) {
    SetUpDrive(medium("cd-r"));
    writeDisc();
    EXPECT_EQ(cdGetTrackNumber(), 3);
    std::uint8_t info[40];
    std::memset(info, 0xEE, sizeof info);
    ASSERT_EQ(cdGetDiskInfo(info, 8), DISCWRITER_S_OK);
    EXPECT_EQ(info[6], 3);
    EXPECT_EQ(info[8], 0xEE) << "no byte past the size given";
    ASSERT_EQ(cdGetTrackInfo(2, info, sizeof info), DISCWRITER_S_OK);
    EXPECT_EQ((info[8] << 24 | info[9] << 16 | info[10] << 8 | info[11]), 250);
    EXPECT_EQ((info[24] << 24 | info[25] << 16 | info[26] << 8 | info[27]), 41);
    EXPECT_EQ(cdGetTrackInfo(4, info, sizeof info), DISCWRITER_E_UNEXPECTED);
    EXPECT_EQ(cdGetTrackInfo(0, info, sizeof info), DISCWRITER_E_UNEXPECTED);

    std::int32_t lastLba = 0;
    std::int32_t block = 0;
    EXPECT_DOUBLE_EQ(cdGetUsedSpace(&lastLba, &block), 2690.0 * 2048 / 1024 / 1024);
    EXPECT_EQ(lastLba, 2690);
    EXPECT_EQ(block, 2048);
    char isrc[DISCWRITER_ISRC_BYTES];
    std::memset(isrc, 'z', sizeof isrc);
    EXPECT_EQ(cdReadIsrcA(1, isrc), DISCWRITER_S_OK);
    EXPECT_EQ(std::string(isrc, sizeof isrc), std::string(16, 'z')) << "no ISRC on the disc: untouched";
}

TEST_F(RawCommandTest, PregapsAreFoundByPlayingIntoTheGap) {
    SetUpDrive(medium("cd-r"));
    writeDisc();
    std::int32_t sectors = -1;
    for (const auto& [track, pregap] : std::vector<std::pair<int, int>>{{1, 0}, {2, 150}, {3, 150}}) {
        EXPECT_EQ(cdGetPregap(track, &sectors), DISCWRITER_S_OK);
        EXPECT_EQ(sectors, pregap) << "track " << track;
    }
    EXPECT_EQ(cdGetPregap(4, &sectors), DISCWRITER_E_FAIL);
}

TEST_F(RawCommandTest, SectorsAreReadIntoBuffersLargeEnough) {
    SetUpDrive(medium("cd-r"));
    writeDisc();
    std::vector<std::uint8_t> buffer(2 * DISCWRITER_SECTOR_BYTES);
    ASSERT_EQ(cdReadTrackSector(buffer.data(), static_cast<std::int32_t>(buffer.size()), 250, 2), DISCWRITER_S_OK);
    const std::string image = readBytes(folder_.path() / "disc.bin");
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), image.substr(250 * DISCWRITER_SECTOR_BYTES, buffer.size()));
    EXPECT_EQ(cdReadTrackSector(buffer.data(), static_cast<std::int32_t>(buffer.size()), 250, 3),
              DISCWRITER_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(cdReadTrackSector(buffer.data(), static_cast<std::int32_t>(buffer.size()), 2690, 2), DISCWRITER_E_FAIL);
    EXPECT_EQ(cdReadTrackSector(nullptr, 0, 0, 1), DISCWRITER_E_INSUFFICIENT_BUFFER);
}

TEST_F(RawCommandTest, TheReadyTestTellsAMissingMediumFromOneBecomingReady) {
    SetUpDrive(medium("cd-r", "BecomingReady=1\r\n"));
    EXPECT_EQ(cdTestUnitReady(), 2);
    EXPECT_EQ(cdTestUnitReady(), 0);
    EXPECT_EQ(cdEject(), DISCWRITER_S_OK);
    EXPECT_EQ(cdTestUnitReady(), 4);
    std::int32_t loaded = 9;
    EXPECT_EQ(cdIsMediaLoaded(&loaded), DISCWRITER_S_OK);
    EXPECT_EQ(loaded, -1);
    EXPECT_EQ(cdCloseTray(), DISCWRITER_S_OK);
    EXPECT_EQ(cdTestUnitReady(), 0);
    // The audio control page is one only a real drive has.
    EXPECT_EQ(cdMuteDrive(1), DISCWRITER_E_FAIL);
}

// A recorder that keeps every command it receives and answers from a script.
class CommandRecorder : public Recorder {
public:
    DriveIdentity identity() const override { return {}; }
    HResult mediaType(int&) override { return DISCWRITER_E_FAIL; }
    bool mediaBlank() override { return false; }
    HResult freeSectors(WriteMode, int&) override { return DISCWRITER_E_FAIL; }
    HResult existingTracks(int&) override { return DISCWRITER_E_FAIL; }
    HResult prepare(WriteMode, const WriteOptions&) override { return DISCWRITER_E_FAIL; }
    HResult release(WriteMode, WriteEvents*) override { return DISCWRITER_S_OK; }
    std::vector<int> writeSpeeds(WriteMode) override { return {150, 1800}; }
    HResult writeTrackAtOnce(const std::vector<AudioTrack>&, const WriteOptions&, WriteEvents&) override {
        return DISCWRITER_E_FAIL;
    }
    HResult writeDiscAtOnce(const RawLayout&, const WriteOptions&, WriteEvents&) override { return DISCWRITER_E_FAIL; }
    HResult writeData(burn::burn_source*, std::int64_t, const WriteOptions&, WriteEvents&) override {
        return DISCWRITER_E_FAIL;
    }
    HResult erase(bool, const std::function<void(int, int)>&, const std::atomic<bool>&) override {
        return DISCWRITER_E_FAIL;
    }
    HResult eject() override { return DISCWRITER_S_OK; }
    HResult closeTray() override { return DISCWRITER_S_OK; }
    HResult lock(const std::string&) override { return DISCWRITER_S_OK; }
    HResult unlock() override { return DISCWRITER_S_OK; }
    HResult command(const std::uint8_t* cdb, std::size_t cdbLength, Direction, std::uint8_t* buffer,
                    std::size_t length, Sense& s) override {
        cdbs.emplace_back(cdb, cdb + cdbLength);
        s = sense;
        if (cdb[0] == 0x55) written.assign(buffer, buffer + length);
        if (cdb[0] == 0x5A && buffer != nullptr) {
            std::vector<std::uint8_t> answer(8, 0);
            answer.insert(answer.end(), page.begin(), page.end());
            std::memcpy(buffer, answer.data(), std::min(length, answer.size()));
        }
        return s.key == 0 ? DISCWRITER_S_OK : DISCWRITER_E_FAIL;
    }

    std::vector<std::vector<std::uint8_t>> cdbs;
    std::vector<std::uint8_t> written;
    std::vector<std::uint8_t> page;
    Sense sense;
};

class DriveCommandTest : public ::testing::Test {
protected:
    void SetUp() override { state().current = recorder_; }
    void TearDown() override { state().current.reset(); }
    std::shared_ptr<CommandRecorder> recorder_ = std::make_shared<CommandRecorder>();
};

TEST_F(DriveCommandTest, SpeedsAreSentInKilobytesAndZeroMeansTheMaximum) {
    ASSERT_EQ(cdSelectSpeed(0, 0), DISCWRITER_S_OK);
    ASSERT_EQ(cdSelectSpeed(8, 4), DISCWRITER_S_OK);
    ASSERT_EQ(recorder_->cdbs.size(), 2u);
    const std::vector<std::uint8_t> maximum = {0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(recorder_->cdbs[0], maximum);
    const std::vector<std::uint8_t> chosen = {0xBB, 0, 0x05, 0x88, 0x02, 0xC4, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(recorder_->cdbs[1], chosen);
    // Write speeds of 150 and 1800 sectors a second are offered as 2x and 24x.
    std::int32_t* list = nullptr;
    std::int32_t count = 0;
    ASSERT_EQ(cdGetSuppWriteSpeeds(&list, &count), DISCWRITER_S_OK);
    EXPECT_EQ(std::vector<std::int32_t>(list, list + count), (std::vector<std::int32_t>{2, 24}));
    std::free(list);
}

TEST_F(DriveCommandTest, MutingSilencesThePortsAndUnmutingRestoresThem) {
    // Page 0Eh: ports 0-3 select channels 1, 2, 0, 0 at full volume (high bits kept).
    recorder_->page = {0x0E, 14, 0x04, 0, 0, 0, 0, 0, 0x41, 255, 0x42, 255, 0x00, 255, 0x00, 255};
    // An unmute with nothing muted keeps the channel selections.
    ASSERT_EQ(cdMuteDrive(0), DISCWRITER_S_OK);
    ASSERT_EQ(recorder_->written.size(), 8u + 16u);
    EXPECT_EQ(std::vector<std::uint8_t>(recorder_->written.begin() + 16, recorder_->written.end()),
              (std::vector<std::uint8_t>{0x41, 255, 0x42, 255, 0x00, 255, 0x00, 255}));
    ASSERT_EQ(cdMuteDrive(1), DISCWRITER_S_OK);
    EXPECT_EQ(std::vector<std::uint8_t>(recorder_->written.begin() + 16, recorder_->written.end()),
              (std::vector<std::uint8_t>{0x40, 0, 0x40, 0, 0, 0, 0, 0}));
    recorder_->page = std::vector<std::uint8_t>(recorder_->written.begin() + 8, recorder_->written.end());
    ASSERT_EQ(cdMuteDrive(0), DISCWRITER_S_OK);
    EXPECT_EQ(std::vector<std::uint8_t>(recorder_->written.begin() + 16, recorder_->written.end()),
              (std::vector<std::uint8_t>{0x41, 255, 0x42, 255, 0x00, 255, 0x00, 255}));
}

TEST_F(DriveCommandTest, TheReadyTestReadsTheSenseData) {
    struct Case {
        int key;
        int asc;
        std::int32_t result;
    };
    for (const Case& c : {Case{0, 0, 0}, Case{2, 0x3A, 4}, Case{2, 0x04, 2}, Case{6, 0x28, 2}, Case{3, 0x11, 1}}) {
        recorder_->sense = Sense{c.key, c.asc, 0};
        EXPECT_EQ(cdTestUnitReady(), c.result) << c.key << "/" << c.asc;
    }
    recorder_->sense = Sense{5, 0x20, 0};
    EXPECT_EQ(cdGetCDMaxWriteSpeed(), 4) << "unknown when the page cannot be read";
}

}  // namespace
}  // namespace discwriter::testing
