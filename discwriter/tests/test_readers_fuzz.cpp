// The readers of outside bytes: WAV headers of the tracks, and the cue sheets
// of the simulated medium. Fixtures first, then mutated copies of them, which
// must be refused or read within their own bounds, never crash.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "cue_sheet.h"
#include "disc_test_support.h"
#include "ripping.h"
#include "simulated/simulated_recorder.h"
#include "wave_file.h"

namespace discwriter::testing {
namespace {

using platform::testing::readBytes;

std::string fixture(const char* name) { return readBytes(std::filesystem::path(QVP3_TEST_DATA_DIR) / name); }

std::optional<WaveInfo> parseBytes(const std::string& bytes, std::string& why) {
    const ReadAt readAt = [&bytes](std::uint64_t offset, void* buffer, std::size_t n) -> std::size_t {
        if (offset >= bytes.size()) return 0;
        const std::size_t got = std::min<std::uint64_t>(n, bytes.size() - offset);
        std::memcpy(buffer, bytes.data() + offset, got);
        return got;
    };
    return parseWave(readAt, bytes.size(), why);
}

TEST(WaveHeader, FixturesAreReadOrRefusedWithTheirReason) {
    std::string why;
    const std::string good = fixture("cd_audio_one_sector.wav");
    const auto info = parseBytes(good, why);
    ASSERT_TRUE(info) << why;
    EXPECT_TRUE(isCdAudio(info->format));
    EXPECT_EQ(info->dataOffset, 56u) << "past the LIST chunk";
    EXPECT_EQ(info->dataBytes, 2352u);

    const auto cut = parseBytes(good.substr(0, 1000), why);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->dataBytes, 1000u - 56u) << "a file cut short gives what it holds";

    EXPECT_FALSE(parseBytes(fixture("short_format_chunk.wav"), why));
    EXPECT_NE(why.find("shorter than 16"), std::string::npos) << why;
    EXPECT_FALSE(parseBytes(good.substr(0, 40), why));
    EXPECT_FALSE(parseBytes("RIFX" + good.substr(4), why));
}

std::string mutate(std::string bytes, std::mt19937& rng, std::size_t hotBytes) {
    std::uniform_int_distribution<int> kind(0, 3);
    const std::size_t span = std::min(hotBytes, bytes.size());
    switch (kind(rng)) {
        case 0:  // a few random bytes
            for (int i = 0; i < 4 && span > 0; ++i) bytes[rng() % span] = static_cast<char>(rng());
            break;
        case 1:  // cut short
            bytes.resize(rng() % (bytes.size() + 1));
            break;
        case 2:  // a huge size field
            if (span >= 4) std::memset(&bytes[(rng() % (span / 4)) * 4], 0xFF, 4);
            break;
        default:  // a stretch repeated
            if (!bytes.empty()) {
                const std::size_t at = rng() % bytes.size();
                bytes.insert(at, bytes.substr(at, rng() % 40));
            }
    }
    return bytes;
}

TEST(WaveHeader, MutatedHeadersStayInsideTheFile) {
    std::mt19937 rng(2024);
    const std::string good = fixture("cd_audio_one_sector.wav");
    for (int i = 0; i < 5000; ++i) {
        const std::string bytes = mutate(good, rng, 64);
        std::string why;
        const auto info = parseBytes(bytes, why);
        if (!info) {
            EXPECT_FALSE(why.empty());
            continue;
        }
        EXPECT_LE(info->dataOffset + info->dataBytes, bytes.size());
    }
}

TEST(CueSheet, TheFixtureReadsAndWritesBackTheSame) {
    const std::string text = fixture("three_tracks.cue");
    std::string why;
    const auto sheet = parseCueSheet(text, why);
    ASSERT_TRUE(sheet) << why;
    ASSERT_EQ(sheet->tracks.size(), 3u);
    EXPECT_EQ(sheet->tracks[1].index0, 100);
    EXPECT_EQ(sheet->tracks[1].index1, 250);
    EXPECT_TRUE(sheet->tracks[2].copyPermitted);
    EXPECT_TRUE(sheet->tracks[2].preemphasis);
    EXPECT_EQ(writeCueSheet(*sheet), text);
    EXPECT_EQ(formatMsf(75 * 60 * 79 + 75 * 59 + 74), "79:59:74");
}

// Mutated cue sheets as the simulated medium's: every track the reader accepts
// is asked for and ripped without reading outside the image.
TEST(CueSheet, MutatedSheetsAreRefusedOrServedWithinTheImage) {
    std::mt19937 rng(7);
    const std::string text = fixture("three_tracks.cue");
    platform::testing::TempFolder folder;
    platform::testing::writeBytes(folder.path() / "medium.ini", medium("cd-r"));
    platform::testing::writeBytes(folder.path() / "disc.bin", std::string(600 * DISCWRITER_SECTOR_BYTES, '\x5A'));
    SimulatedRecorder recorder(folder.path());
    std::atomic<bool> cancel{false};
    int accepted = 0;
    for (int i = 0; i < 400; ++i) {
        const std::string bytes = mutate(text, rng, text.size());
        std::string why;
        const auto sheet = parseCueSheet(bytes, why);
        if (sheet) {
            ++accepted;
            for (std::size_t t = 0; t < sheet->tracks.size(); ++t) {
                EXPECT_EQ(sheet->tracks[t].number, static_cast<int>(t) + 1);
                EXPECT_LE(sheet->tracks[t].index0, sheet->tracks[t].index1);
            }
        }
        platform::testing::writeBytes(folder.path() / "disc.cue", bytes);
        for (int track = 1; track <= 3; ++track) {
            const HResult hr = ripTrack(recorder, track, folder.path() / "rip.wav", cancel);
            EXPECT_TRUE(hr == DISCWRITER_S_OK || hr < 0) << hr;
        }
    }
    EXPECT_GT(accepted, 0) << "some mutations keep a valid sheet";
}

}  // namespace
}  // namespace discwriter::testing
