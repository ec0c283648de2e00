// What the recorder says about the medium in it: the documented codes for a
// missing, written, pressed or unsuitable medium, the bounded wait for one that
// is becoming ready, and erasing.
#include <gtest/gtest.h>

#include <thread>

#include "disc_test_support.h"
#include "disc_writing.h"
#include "simulated/simulated_recorder.h"

namespace discwriter::testing {
namespace {

// A medium with one written track of 10 sectors.
void writeOneTrackDisc(const std::filesystem::path& folder) {
    platform::testing::writeBytes(folder / "disc.cue", "FILE \"disc.bin\" BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n");
    platform::testing::writeBytes(folder / "disc.bin", std::string(10 * DISCWRITER_SECTOR_BYTES, '\x11'));
}

struct MediumCase {
    const char* what;
    std::string ini;
    bool written;
    std::int32_t prepareTao;
    std::int32_t loadedTao;
    std::int32_t loadedData;
};

void PrintTo(const MediumCase& c, std::ostream* os) { *os << c.what; }

class MediumTest : public SimulatedDriveTest, public ::testing::WithParamInterface<MediumCase> {};

TEST_P(MediumTest, PreparingAndAskingForTheMediumGiveTheDocumentedCodes) {
    const MediumCase& c = GetParam();
    if (c.written) writeOneTrackDisc(folder_.path());
    SetUpDrive(c.ini);
    EXPECT_EQ(cdPrepareMediaTAO("qvp3"), c.prepareTao);
    EXPECT_EQ(cdPrepareMediaDAO("qvp3"), c.prepareTao);
    std::int32_t loaded = 99;
    EXPECT_EQ(cdIsMediaLoaded(&loaded), DISCWRITER_S_OK);
    EXPECT_EQ(loaded, c.loadedTao);
    cdSetDataMode(DISCWRITER_MODE_DATA);
    loaded = 99;
    EXPECT_EQ(cdIsMediaLoaded(&loaded), DISCWRITER_S_OK);
    EXPECT_EQ(loaded, c.loadedData);
    cdSetDataMode(DISCWRITER_MODE_TRACK_AT_ONCE);
    // A write after a refused preparation is refused the same way.
    if (c.prepareTao != DISCWRITER_S_OK) {
        const auto wav = writeWav("a.wav", makeWav(588, 1));
        ASSERT_EQ(cdInsertTrack(wav.c_str()), DISCWRITER_S_OK);
        EXPECT_EQ(cdWriteDisc(nullptr), c.prepareTao);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Media, MediumTest,
    ::testing::Values(MediumCase{"blank CD-R", medium("cd-r"), false, DISCWRITER_S_OK, 0, 0},
                      MediumCase{"blank CD-RW", medium("cd-rw"), false, DISCWRITER_S_OK, 0, 0},
                      MediumCase{"no medium", medium("none"), false, DISCWRITER_E_MEDIA_NO_MEDIA, -1, -1},
                      MediumCase{"open tray", medium("cd-r", "Tray=open\r\n"), false, DISCWRITER_E_MEDIA_NO_MEDIA, -1, -1},
                      MediumCase{"written CD-R", medium("cd-r"), true, DISCWRITER_E_MEDIA_NOT_BLANK, 0, 0},
                      MediumCase{"pressed CD", medium("cd-rom"), true, DISCWRITER_E_MEDIA_NOT_SUPPORTED, 0, 0},
                      MediumCase{"DVD+R", medium("dvd+r"), false, DISCWRITER_E_MEDIA_NOT_SUPPORTED, -1, 1}),
    [](const ::testing::TestParamInfo<MediumCase>& param) {
        std::string name = param.param.what;
        for (char& ch : name) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name;
    });

class MediumWaitTest : public SimulatedDriveTest {};

TEST_F(MediumWaitTest, AMediumBecomingReadyIsAskedForAgainUntilItIsThere) {
    SetUpDrive(medium("cd-r", "BecomingReady=2\r\n"));
    std::int32_t loaded = 99;
    EXPECT_EQ(cdIsMediaLoaded(&loaded), DISCWRITER_S_OK);
    EXPECT_EQ(loaded, 0);
}

TEST_F(MediumWaitTest, TheWaitIsBoundedAndCancellable) {
    platform::testing::writeBytes(folder_.path() / "medium.ini", medium("cd-r", "BecomingReady=100000\r\n"));
    SimulatedRecorder recorder(folder_.path());
    std::atomic<bool> cancel{false};
    int type = 0;
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(waitForMedium(recorder, type, std::chrono::milliseconds(60), std::chrono::milliseconds(10), cancel),
              DISCWRITER_E_MEDIA_BECOMING_READY);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));

    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        cancel.store(true);
    });
    EXPECT_EQ(waitForMedium(recorder, type, std::chrono::hours(1), std::chrono::milliseconds(10), cancel),
              DISCWRITER_E_ABORT);
    canceller.join();
}

class EraseTest : public SimulatedDriveTest {
protected:
    // Waits for the erase's end and gives its result.
    static std::uintptr_t eraseResult(platform::RecordingMessageTarget& target) {
        EXPECT_TRUE(target.waitForCount(1, std::chrono::seconds(10)));
        EXPECT_EQ(cdFinishEraseDisk(), DISCWRITER_S_OK);
        const auto all = target.messages();
        EXPECT_FALSE(all.empty());
        if (all.empty()) return 0;
        EXPECT_EQ(all.back().msg, DISCWRITER_WM_CD_ERASE_DONE);
        return all.back().wParam;
    }
};

TEST_F(EraseTest, ErasingARewritableMediumLeavesItBlank) {
    writeOneTrackDisc(folder_.path());
    SetUpDrive(medium("cd-rw"));
    ASSERT_EQ(cdPrepareMediaTAO("qvp3"), DISCWRITER_E_MEDIA_NOT_BLANK);
    cdSetCancel(1);  // an erase is not cancelled
    ASSERT_EQ(cdEraseDisk(1), DISCWRITER_S_OK);
    EXPECT_EQ(eraseResult(target_), 0u);
    cdSetCancel(0);
    std::vector<int> elapsed;
    for (const auto& m : messages())
        if (m.msg == DISCWRITER_WM_CD_ERASE_PROGRESS) elapsed.push_back(static_cast<int>(m.wParam));
    EXPECT_EQ(elapsed, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(cdPrepareMediaTAO("qvp3"), DISCWRITER_S_OK);
    EXPECT_EQ(cdIsDiscEmpty(), 1);
}

TEST_F(EraseTest, MediaThatCannotBeErasedEndWithTheirCode) {
    struct Case {
        std::string ini;
        std::int32_t code;
    };
    writeOneTrackDisc(folder_.path());
    SetUpDrive(medium("cd-r"));
    for (const Case& c : {Case{medium("cd-r"), DISCWRITER_E_MEDIA_NOT_SUPPORTED},
                          Case{medium("dvd-rom"), DISCWRITER_E_MEDIA_NOT_SUPPORTED},
                          Case{medium("none"), DISCWRITER_E_MEDIA_NO_MEDIA}}) {
        SCOPED_TRACE(c.ini);
        platform::testing::writeBytes(folder_.path() / "medium.ini", c.ini);
        platform::RecordingMessageTarget target;
        cdSetEventWindow(&target);
        ASSERT_EQ(cdEraseDisk(0), DISCWRITER_S_OK);
        EXPECT_EQ(eraseResult(target), static_cast<std::uint32_t>(c.code));
        EXPECT_TRUE(std::filesystem::exists(folder_.path() / "disc.cue")) << "nothing erased";
        cdSetEventWindow(nullptr);
    }
}

TEST_F(EraseTest, EraseWithoutAnOpenDriveIsRefused) {
    SetUpDrive(medium("cd-rw"));
    cdCloseDrive();
    EXPECT_EQ(cdEraseDisk(1), DISCWRITER_E_NO_DRIVE);
    EXPECT_EQ(cdFinishEraseDisk(), DISCWRITER_S_OK);
}

}  // namespace
}  // namespace discwriter::testing
