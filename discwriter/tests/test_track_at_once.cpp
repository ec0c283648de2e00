// Audio CDs written track at once to the simulated recorder: the image and cue
// sheet, the progress messages in order, refused WAV files, simulation, and
// ripping the tracks back.
#include <gtest/gtest.h>

#include "cue_sheet.h"
#include "disc_test_support.h"
#include "platform/text.h"

namespace discwriter::testing {
namespace {

using platform::testing::readBytes;

constexpr int kSector = DISCWRITER_SECTOR_BYTES;

class TrackAtOnceTest : public SimulatedDriveTest {
protected:
    // Three tracks: whole sectors, one frame past a sector, and 30 seconds (progress in pieces).
    void writeThreeTracks() {
        wavs_ = {makeWav(588 * 100, 1), makeWav(588 * 40 + 1, 2), makeWav(588 * 75 * 30, 3)};
        for (std::size_t i = 0; i < wavs_.size(); ++i) {
            const auto path = writeWav("track" + std::to_string(i + 1) + ".wav", wavs_[i]);
            ASSERT_EQ(cdInsertTrack(path.c_str()), DISCWRITER_S_OK);
        }
        ASSERT_EQ(cdPrepareMediaTAO("qvp3"), DISCWRITER_S_OK);
        char fits = 0;
        ASSERT_EQ(cdWriteDisc(&fits), DISCWRITER_S_OK) << cdGetLastErrorText();
        EXPECT_EQ(fits, 1);
    }
    std::vector<std::string> wavs_;
};

TEST_F(TrackAtOnceTest, ThreeWavFilesBecomeThreeTracksWithTwoSecondGaps) {
    SetUpDrive(medium("cd-r"));
    writeThreeTracks();
    const std::vector<int> sectors = {100, 41, 75 * 30};  // the second one padded to whole sectors
    std::string why;
    const auto cue = parseCueSheet(readBytes(folder_.path() / "disc.cue"), why);
    ASSERT_TRUE(cue) << why;
    ASSERT_EQ(cue->tracks.size(), 3u);
    EXPECT_EQ(cue->file, "disc.bin");
    EXPECT_EQ(cue->tracks[0].index0, -1);
    EXPECT_EQ(cue->tracks[0].index1, 0);
    EXPECT_EQ(cue->tracks[1].index0, 100);
    EXPECT_EQ(cue->tracks[1].index1, 100 + 150);
    EXPECT_EQ(cue->tracks[2].index0, 250 + 41);
    EXPECT_EQ(cue->tracks[2].index1, 250 + 41 + 150);

    const std::string image = readBytes(folder_.path() / "disc.bin");
    ASSERT_EQ(image.size(), static_cast<std::size_t>(100 + 150 + 41 + 150 + 75 * 30) * kSector);
    for (std::size_t t = 0; t < 3; ++t) {
        const std::string data = wavData(wavs_[t]);
        const auto start = static_cast<std::size_t>(cue->tracks[t].index1) * kSector;
        EXPECT_EQ(image.substr(start, data.size()), data) << "track " << t + 1;
        const std::size_t padEnd = start + static_cast<std::size_t>(sectors[t]) * kSector;
        EXPECT_EQ(image.substr(start + data.size(), padEnd - start - data.size()),
                  std::string(padEnd - start - data.size(), '\0'));
    }
    EXPECT_EQ(image.substr(100 * kSector, 150 * kSector), std::string(150 * kSector, '\0')) << "the gap is silence";
    std::int32_t count = 0;
    EXPECT_EQ(cdGetExistingTrackNumber(&count), DISCWRITER_S_OK);
    EXPECT_EQ(count, 3);
}

// Per track: begin, times, done; the finishing message once; write done last.
TEST_F(TrackAtOnceTest, ProgressMessagesComeInTheWritersOrder) {
    SetUpDrive(medium("cd-r"));
    writeThreeTracks();
    std::vector<std::pair<std::uint32_t, std::uintptr_t>> events;
    int track = 0;
    int lastTotal = -1;
    for (const auto& m : messages()) {
        EXPECT_EQ(m.delivery, platform::Delivery::Posted);
        if (m.msg == DISCWRITER_WM_CD_TIME_TOTAL || m.msg == DISCWRITER_WM_CD_TIME_ELAPSED) {
            EXPECT_GT(track, 0) << "times come inside a track";
            if (m.msg == DISCWRITER_WM_CD_TIME_TOTAL && track == 3) {
                EXPECT_TRUE(lastTotal == -1 || static_cast<int>(m.wParam) == lastTotal) << "a steady total";
                lastTotal = static_cast<int>(m.wParam);
            }
            continue;
        }
        if (m.msg == DISCWRITER_WM_CD_TRACK_BEGIN) track = static_cast<int>(m.wParam);
        events.emplace_back(m.msg, m.wParam);
    }
    const std::vector<std::pair<std::uint32_t, std::uintptr_t>> expected = {
        {DISCWRITER_WM_CD_TRACK_BEGIN, 1}, {DISCWRITER_WM_CD_TRACK_DONE, 1}, {DISCWRITER_WM_CD_TRACK_BEGIN, 2},
        {DISCWRITER_WM_CD_TRACK_DONE, 2},  {DISCWRITER_WM_CD_TRACK_BEGIN, 3}, {DISCWRITER_WM_CD_TRACK_DONE, 3},
        {DISCWRITER_WM_CD_FINISHING, 0},   {DISCWRITER_WM_CD_WRITE_DONE, 0}};
    EXPECT_EQ(events, expected);
    EXPECT_EQ(lastTotal, 30);
}

TEST_F(TrackAtOnceTest, AnEmptyListPostsOnlyWriteDone) {
    SetUpDrive(medium("cd-r"));
    ASSERT_EQ(cdPrepareMediaTAO("qvp3"), DISCWRITER_S_OK);
    EXPECT_EQ(cdWriteDisc(nullptr), DISCWRITER_S_OK);
    const auto all = messages();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].msg, DISCWRITER_WM_CD_WRITE_DONE);
    EXPECT_EQ(cdIsDiscEmpty(), 1);
}

// A file that is not CD audio stops the write before a sector is written, and the text names it.
TEST_F(TrackAtOnceTest, WavFilesThatAreNotCdAudioAreRefusedBeforeWriting) {
    struct Case {
        const char* what;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"mono", makeWav(588, 1, 1)},
        {"22050 Hz", makeWav(588, 1, 2, 22050)},
        {"8-bit", makeWav(588, 1, 2, 44100, 8)},
        {"not a WAV file", std::string("MThd") + std::string(40, 'x')},
        {"empty", std::string()},
    };
    SetUpDrive(medium("cd-r"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cdRemoveTracks();
        const auto good = writeWav("good.wav", makeWav(588 * 10, 7));
        const auto bad = writeWav("bad wav.wav", c.bytes);
        ASSERT_EQ(cdInsertTrack(good.c_str()), DISCWRITER_S_OK);
        ASSERT_EQ(cdInsertTrack(bad.c_str()), DISCWRITER_S_OK);
        ASSERT_EQ(cdPrepareMediaTAO("qvp3"), DISCWRITER_S_OK);
        EXPECT_EQ(cdWriteDisc(nullptr), DISCWRITER_E_NOT_CD_AUDIO);
        EXPECT_NE(std::string(cdGetLastErrorText()).find(bad.string()), std::string::npos) << cdGetLastErrorText();
        EXPECT_EQ(cdIsDiscEmpty(), 1) << "nothing written";
        EXPECT_FALSE(std::filesystem::exists(folder_.path() / "disc.bin"));
    }
    const auto all = messages();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back().msg, DISCWRITER_WM_CD_WRITE_DONE);
    for (const auto& m : all) EXPECT_NE(m.msg, DISCWRITER_WM_CD_TRACK_BEGIN);
}

TEST_F(TrackAtOnceTest, ASimulatedWriteReportsProgressAndLeavesTheMediumBlank) {
    SetUpDrive(medium("cd-r"));
    cdSetSimulate(1);
    EXPECT_EQ(cdGetSimulate(), 1);
    const auto path = writeWav("one.wav", makeWav(588 * 20, 5));
    ASSERT_EQ(cdInsertTrack(path.c_str()), DISCWRITER_S_OK);
    ASSERT_EQ(cdPrepareMediaTAO("qvp3"), DISCWRITER_S_OK);
    EXPECT_EQ(cdWriteDisc(nullptr), DISCWRITER_S_OK);
    EXPECT_EQ(cdIsDiscEmpty(), 1);
    EXPECT_FALSE(std::filesystem::exists(folder_.path() / "disc.bin"));
    EXPECT_EQ(messages().back().msg, DISCWRITER_WM_CD_WRITE_DONE);
    EXPECT_GE(messages().size(), 5u);
    cdSetSimulate(0);
}

TEST_F(TrackAtOnceTest, TheCancelSettingStopsTheWriteAtItsNextProgress) {
    SetUpDrive(medium("cd-r"));
    const auto path = writeWav("one.wav", makeWav(588 * 75 * 30, 5));
    ASSERT_EQ(cdInsertTrack(path.c_str()), DISCWRITER_S_OK);
    ASSERT_EQ(cdPrepareMediaTAO("qvp3"), DISCWRITER_S_OK);
    cdSetCancel(1);
    EXPECT_EQ(cdWriteDisc(nullptr), DISCWRITER_E_CANCELLED);
    const auto all = messages();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].msg, DISCWRITER_WM_CD_TRACK_BEGIN);
    EXPECT_EQ(all[1].msg, DISCWRITER_WM_CD_TRACK_DONE);
    EXPECT_EQ(all[2].msg, DISCWRITER_WM_CD_WRITE_DONE);
}

// Each track read back is the written WAV, sample for sample (the padding of a
// track that ended inside a sector comes back as silence).
TEST_F(TrackAtOnceTest, RippingGivesBackTheWrittenSamples) {
    SetUpDrive(medium("cd-r"));
    writeThreeTracks();
    target_.close();
    platform::RecordingMessageTarget ripTarget;
    cdSetEventWindow(&ripTarget);
    for (int t = 1; t <= 3; ++t) {
        const auto out = folder_.path() / ("rip" + std::to_string(t) + ".wav");
        const std::u16string wide = platform::utf8ToUtf16(out.string());
        ASSERT_EQ(cdReadTrack(t, wide.c_str()), DISCWRITER_S_OK) << t;
        const std::string ripped = readBytes(out);
        const std::string original = wavData(wavs_[static_cast<std::size_t>(t - 1)]);
        const std::string data = wavData(ripped);
        ASSERT_GE(data.size(), original.size());
        EXPECT_EQ(data.substr(0, original.size()), original);
        EXPECT_EQ(data.substr(original.size()), std::string(data.size() - original.size(), '\0'));
        EXPECT_EQ(data.size() % kSector, 0u);
        EXPECT_EQ(ripped.substr(20, 16), makeWav(1, 0).substr(20, 16)) << "CD-audio format";
    }
    // The first track: 100 sectors read in pieces of 26.
    const auto all = ripTarget.messages();
    std::vector<std::pair<std::uint32_t, std::uintptr_t>> first;
    for (const auto& m : all) {
        first.emplace_back(m.msg, m.wParam);
        if (m.msg == DISCWRITER_WM_CD_READ_END) break;
    }
    const std::vector<std::pair<std::uint32_t, std::uintptr_t>> expected = {
        {DISCWRITER_WM_CD_READ_START, 1},     {DISCWRITER_WM_CD_READ_TOTAL, 100},
        {DISCWRITER_WM_CD_READ_PROGRESS, 26}, {DISCWRITER_WM_CD_READ_PROGRESS, 52},
        {DISCWRITER_WM_CD_READ_PROGRESS, 78}, {DISCWRITER_WM_CD_READ_PROGRESS, 100},
        {DISCWRITER_WM_CD_READ_END, 1}};
    EXPECT_EQ(first, expected);
    cdSetEventWindow(nullptr);
}

TEST_F(TrackAtOnceTest, ACancelledOrFailedRipLeavesNoFileBehind) {
    SetUpDrive(medium("cd-r"));
    writeThreeTracks();
    const auto out = folder_.path() / "rip.wav";
    platform::testing::writeBytes(out, "old");
    const std::u16string wide = platform::utf8ToUtf16(out.string());
    cdSetCancel(1);
    EXPECT_EQ(cdReadTrack(1, wide.c_str()), DISCWRITER_E_UNEXPECTED);
    cdSetCancel(0);
    EXPECT_EQ(cdReadTrack(9, wide.c_str()), DISCWRITER_E_RIP_TRACK_INFO);
    EXPECT_EQ(readBytes(out), "old") << "the old file stays as it was";
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder_.path())) files += entry.path().filename().string().rfind("rip", 0) == 0 ? 1 : 0;
    EXPECT_EQ(files, 1u) << "no temporary file left";
}

}  // namespace
}  // namespace discwriter::testing
