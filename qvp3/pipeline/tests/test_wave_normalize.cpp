// The WAV normaliser: each file on its own, the project with one gain, files
// that must stay as they are (silent, at full scale, damaged), and the
// warnings of its results.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/wave_normalize.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using platform::testing::readBytes;
using platform::testing::TempFolder;
using platform::testing::writeBytes;

using Samples = std::vector<std::int16_t>;

void writeWave(const fs::path& path, const Samples& samples, WaveFormatEx format = WaveFormatEx::pcm(44100, 2, 16)) {
    CWaveFile wave;
    ASSERT_EQ(wave.Open(path, &format, CWaveFile::kModeWrite), S_OK);
    std::uint32_t written = 0;
    ASSERT_EQ(wave.Write(static_cast<std::uint32_t>(samples.size() * 2), samples.data(), &written), S_OK);
    ASSERT_EQ(wave.Close(), S_OK);
}

Samples readWave(const fs::path& path) {
    CWaveFile wave;
    EXPECT_EQ(wave.Open(path, nullptr, CWaveFile::kModeRead), S_OK);
    Samples s(wave.DataSize() / 2);
    std::uint32_t read = 0;
    EXPECT_EQ(wave.Read(s.data(), static_cast<std::uint32_t>(s.size() * 2), &read), S_OK);
    return s;
}

// A file's identity: a rewritten file is a new one, even with equal bytes.
ino_t inode(const fs::path& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_ino;
}

// Two and a half seconds of stereo frames (more than one block of a second)
// whose loudest samples are high and low, the rest a quiet ramp.
Samples shaped(std::int16_t high, std::int16_t low) {
    Samples s(44100 * 5);
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::int16_t>(static_cast<int>(i % 200) - 100);
    s[1000] = high;
    s[200001] = low;
    return s;
}

// Every sample is the original times one gain, within half a step.
void expectScaledBy(const Samples& before, const Samples& after, double gain) {
    ASSERT_EQ(before.size(), after.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        ASSERT_NEAR(after[i], before[i] * gain, 0.5) << "sample " << i;
    }
}

class ProjectFiles {
public:
    explicit ProjectFiles(const std::vector<Samples>& files) {
        for (std::size_t i = 0; i < files.size(); ++i) {
            ProjectEntry& e = project.entries.emplace_back();
            e.convertedWavePath = tmp.path() / ("song" + std::to_string(i) + "_qvpcnv.wav");
            writeWave(e.convertedWavePath, files[i]);
        }
        project.convertedWaveCount = static_cast<std::int32_t>(files.size());
    }
    const fs::path& path(std::size_t i) const { return project.entries[i].convertedWavePath; }
    bool onlyWaveFiles() const {
        for (const auto& e : fs::directory_iterator(tmp.path())) {
            if (e.path().extension() != ".wav") return false;
        }
        return true;
    }

    TempFolder tmp;
    Project project;
};

struct RecordingBar : WaveProgressBar {
    void setRange(int maximum) override { range = maximum; }
    void setPosition(int p) override {
        pos = p;
        highest = std::max(highest, p);
    }
    int position() const override { return pos; }
    int range = -1;
    int pos = 0;
    int highest = 0;
};

// --- each file on its own ------------------------------------------------------------

TEST(WaveNormalizeFile, AQuietFileIsRaisedToFullScaleAndOneAtFullScaleOrSilentStays) {
    struct Case {
        const char* name;
        Samples samples;
        bool rewritten;
        std::int16_t peakAfter;  // the loudest sample afterwards, with its sign
        std::size_t peakAt;
    };
    const Case cases[] = {
        {"loudest sample positive", shaped(8000, -4000), true, 32767, 1000},
        {"loudest sample negative", shaped(4000, -8000), true, -32768, 200001},
        {"already at 32767", shaped(32767, -100), false, 32767, 1000},
        {"already at -32768", shaped(100, -32768), false, -32768, 200001},
        {"silent", Samples(44100 * 2, 0), false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProjectFiles files({c.samples});
        const ino_t before = inode(files.path(0));
        RecordingBar total;
        RecordingBar file;
        EXPECT_EQ(cnvNormalizeWaveFiles(files.project, &total, &file, 0), 0);
        const Samples after = readWave(files.path(0));
        EXPECT_EQ(after[c.peakAt], c.peakAfter);
        if (c.rewritten) {
            expectScaledBy(c.samples, after, c.peakAfter / static_cast<double>(c.samples[c.peakAt]));
            EXPECT_NE(inode(files.path(0)), before);
            EXPECT_GE(file.highest, 2);  // blocks of a second: three of them
        } else {
            EXPECT_EQ(after, c.samples);
            EXPECT_EQ(inode(files.path(0)), before);
        }
        EXPECT_EQ(total.range, 1);
        EXPECT_EQ(total.highest, 1);
        EXPECT_EQ(total.pos, 0);
        EXPECT_EQ(file.pos, 0);
        EXPECT_TRUE(files.onlyWaveFiles());
    }
}

// --- the whole project ---------------------------------------------------------------

TEST(WaveNormalizeProject, TheLoudestFileReachesFullScaleAndTheOthersKeepTheirLevels) {
    const Samples loud = shaped(16000, -12000);
    const Samples quiet = shaped(3000, -8000);
    const Samples silent(44100 * 2, 0);
    ProjectFiles files({loud, quiet, silent});
    RecordingBar total;
    RecordingBar file;
    ASSERT_EQ(cnvNormalizeWaveFiles(files.project, &total, &file, -1), 0);

    const double gain = 32767.0 / 16000.0;
    const Samples loudAfter = readWave(files.path(0));
    EXPECT_EQ(loudAfter[1000], 32767);
    expectScaledBy(loud, loudAfter, gain);
    expectScaledBy(quiet, readWave(files.path(1)), gain);
    EXPECT_EQ(readWave(files.path(2)), silent);
    EXPECT_EQ(total.range, 3);
    EXPECT_EQ(total.highest, 3);
    EXPECT_EQ(total.pos, 0);
    EXPECT_EQ(file.pos, 0);
    EXPECT_TRUE(files.onlyWaveFiles());
}

TEST(WaveNormalizeProject, NothingChangesWhenTheGainWouldBeSmallOrThereIsOnlySilence) {
    struct Case {
        const char* name;
        std::vector<Samples> files;
        int result;
    };
    const Case cases[] = {
        // 32767 / 30000 is 1.092, below 1.1.
        {"loudest sample 30000", {shaped(30000, -1000), shaped(2000, -2000)}, kNormalizeGainTooSmall},
        {"loudest sample -30000", {shaped(100, -30000), shaped(2000, -2000)}, kNormalizeGainTooSmall},
        {"only silence", {Samples(1000, 0), Samples(2000, 0)}, 0},
        {"no converted files", {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProjectFiles files(c.files);
        std::vector<ino_t> before;
        for (std::size_t i = 0; i < c.files.size(); ++i) before.push_back(inode(files.path(i)));
        EXPECT_EQ(cnvNormalizeWaveFiles(files.project, nullptr, nullptr, -1), c.result);
        for (std::size_t i = 0; i < c.files.size(); ++i) {
            EXPECT_EQ(readWave(files.path(i)), c.files[i]);
            EXPECT_EQ(inode(files.path(i)), before[i]);
        }
    }
}

// --- damaged files and warnings --------------------------------------------------------

struct RecordingShell : BasicShell {
    std::string languageString(int id) override { return id == kStrNormalizeWarning ? "W:%s" : "S" + std::to_string(id); }
    int appTextBox(std::string_view text, int kind, int) override {
        boxes.push_back(std::string(text));
        kinds.push_back(kind);
        return kIdOk;
    }
    std::vector<std::string> boxes;
    std::vector<int> kinds;
};

TEST(WaveNormalizeErrors, ADamagedFileIsReportedAndEveryFileStaysAsItWas) {
    struct Case {
        const char* name;
        int entryIndex;
        std::string damagedBytes;  // what file 1 becomes; empty: removed
        bool eightBit;             // file 1 is an 8-bit WAV instead
        int result;
        const char* warning;
    };
    const Case cases[] = {
        {"not a WAV, on its own", 1, "this is no WAV file", false, kNormalizeCannotOpen, "W:S212"},
        {"not a WAV, across the project", -1, std::string("RIFF\x04\0\0\0WAVE", 12), false, kNormalizeCannotOpen, "W:S212"},
        {"missing, across the project", -1, "", false, kNormalizeCannotOpen, "W:S212"},
        {"8-bit, on its own", 1, "", true, kNormalizeUnknownFormat, "W:S314"},
        {"8-bit, across the project", -1, "", true, kNormalizeUnknownFormat, "W:S314"},
        {"no such entry", 5, "", false, kNormalizeCannotOpen, "W:S212"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Samples quiet = shaped(4000, -2000);
        ProjectFiles files({quiet, quiet});
        std::string damaged;
        if (c.eightBit) {
            writeWave(files.path(1), Samples(500, 0x2040), WaveFormatEx::pcm(22050, 1, 8));
        } else if (c.entryIndex != 5) {
            if (c.damagedBytes.empty()) fs::remove(files.path(1));
            else writeBytes(files.path(1), c.damagedBytes);
        }
        if (fs::exists(files.path(1))) damaged = readBytes(files.path(1));
        const ino_t first = inode(files.path(0));

        const int rc = cnvNormalizeWaveFiles(files.project, nullptr, nullptr, c.entryIndex);
        EXPECT_EQ(rc, c.result);
        EXPECT_EQ(inode(files.path(0)), first);  // across the project the peaks fail before any change
        if (!damaged.empty()) {
            EXPECT_EQ(readBytes(files.path(1)), damaged);
        }
        EXPECT_TRUE(files.onlyWaveFiles());

        RecordingShell shell;
        Project project(Neighbours{nullptr, nullptr, &shell, nullptr});
        cnvReportNormalizeError(project, rc);
        ASSERT_EQ(shell.boxes.size(), 1u);
        EXPECT_EQ(shell.boxes[0], c.warning);
        EXPECT_EQ(shell.kinds[0], kBoxWarning);
    }
}

TEST(WaveNormalizeErrors, OnlyResultsWithATextOfTheirOwnShowAWarning) {
    struct Case {
        int code;
        const char* warning;  // null: nothing shown
    };
    const Case cases[] = {
        {0, nullptr}, {kNormalizeGainTooSmall, nullptr}, {-1101, nullptr},
        {-106, "W:S501"}, {-300, "W:S213"}, {-104, "W:S314"}, {-103, "W:S212"},
        {-100, "W:S187"}, {-5, "W:S60232"}, {-2, "W:S188"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        RecordingShell shell;
        Project project(Neighbours{nullptr, nullptr, &shell, nullptr});
        cnvReportNormalizeError(project, c.code);
        if (c.warning == nullptr) {
            EXPECT_TRUE(shell.boxes.empty());
        } else {
            EXPECT_EQ(shell.boxes, std::vector<std::string>{c.warning});
        }
    }
}

}  // namespace
}  // namespace qvp3
