#include <gtest/gtest.h>

#include <random>

#include "platform/text.h"
#include "project_file_support.h"

namespace qvp3 {
namespace {

using platform::testing::TempFolder;
using namespace qvp3::testing;

std::string replaced(std::string text, std::string_view from, std::string_view to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// The n-th (0-based) place of a text, or the end.
std::size_t nthOffset(const std::string& text, std::string_view what, int n) {
    std::size_t at = 0;
    for (int i = 0; i <= n; ++i) {
        at = text.find(what, i == 0 ? 0 : at + 1);
        if (at == std::string::npos) return text.size();
    }
    return at;
}

struct Opened {
    bool ok;
    std::vector<std::int32_t> codes;
    int entries;
};

Opened openBytes(const fs::path& folder, const std::string& bytes) {
    writeBytes(folder / "p.c-1", bytes);
    Studio studio;
    shapeFixtureSources(studio);
    const bool ok = studio.read(folder / "p.c-1");
    if (!ok) {
        EXPECT_EQ(studio.codes.size(), 1u);
        EXPECT_TRUE(studio.names.empty());
    }
    return {ok, studio.codes, studio.project.fileNum()};
}

TEST(ProjectFileDamaged, BrokenFilesOpenWithTheirCodes) {
    const std::string ansi = readBytes(kProjectData / "windows_1252.c-1");
    const std::string wide = readBytes(kProjectData / "windows_utf16.c-1");
    std::mt19937 random(5);
    std::string garbage(4096, '\0');
    for (char& c : garbage) c = static_cast<char>(random());
    const std::size_t afterHeader = ansi.find("[Project File 01]");
    const std::size_t inSecondBlob = nthOffset(ansi, "qVoAssignment=", 1) + 100;
    const std::vector<std::int32_t> header{kPrjHeaderInvalid};
    const std::vector<std::int32_t> none;
    const std::vector<std::int32_t> sectionsMissing{kPrjNoFilename};
    struct Case {
        const char* what;
        std::string bytes;
        bool ok;
        std::vector<std::int32_t> codes;
        int entries;
    } cases[] = {
        {"empty", "", false, header, 0},
        {"cut in the header", ansi.substr(0, ansi.find("ProjectBurnMP3-Size")), false, header, 0},
        {"cut after the header", ansi.substr(0, afterHeader), true, sectionsMissing, 0},
        {"cut inside a blob", ansi.substr(0, inSecondBlob), true, sectionsMissing, 2},
        {"cut inside a UTF-16 character", wide.substr(0, wide.size() - 3), true, none, 4},
        {"binary garbage", garbage, false, header, 0},
        {"UTF-16 without its mark", wide.substr(2), false, header, 0},
        {"Windows-1252 taken for UTF-16", "\xFF\xFE" + ansi, false, header, 0},
        {"a NUL in the title", replaced(ansi, "ProjectTitle=", std::string("ProjectTitle=\0", 14)), false, header, 0},
        {"FileNum far too large", replaced(ansi, "FileNum=4", "FileNum=2147483647"), true, sectionsMissing, 4},
        {"FileNum negative", replaced(ansi, "FileNum=4", "FileNum=-5"), true, none, 0},
        {"FileNum beyond 32 bits", replaced(ansi, "FileNum=4", "FileNum=99999999999999999999"), true, sectionsMissing,
         4},
        {"step far too large", replaced(ansi, "ProjectLastStep=9", "ProjectLastStep=99999"), true, none, 4},
        {"category size absurd", replaced(ansi, "CatInstrumentSize=7", "CatInstrumentSize=2147483647"), true, none, 4},
        {"blob chunk count absurd", replaced(ansi, "ProjectBurnMP3-Size=1", "ProjectBurnMP3-Size=2147483647"), true,
         none, 4},
        {"blob byte count absurd", replaced(ansi, "ProjectBurnMP3-ByteSize=331", "ProjectBurnMP3-ByteSize=-1"), true,
         none, 4},
        {"reverb size absurd", replaced(ansi, "ReverbDataSize=64", "ReverbDataSize=2147483647"), true, none, 4},
        {"tempo points absurd", replaced(ansi, "TPPRecTempoNum=2", "TPPRecTempoNum=2147483647"), true, none, 4},
        {"point size absurd", replaced(ansi, "TPPTempoValSize=40", "TPPTempoValSize=-2147483648"), true, none, 4},
        {"percussion count absurd",
         replaced(ansi, "Stave_02_MidiInstrNum=2", "Stave_02_MidiInstrNum=2147483647"),
         true,
         {kPrjSourceChanged},
         4},
        {"transposition absurd", replaced(ansi, "Transpose=-2", "Transpose=2147483647"), true, {kPrjNoTranspose}, 4},
        {"volume, channel and state absurd",
         replaced(replaced(replaced(ansi, "Staff01_Voice1_Volume=110", "Staff01_Voice1_Volume=-99999"),
                           "Stave01_Voice1_Channel=0", "Stave01_Voice1_Channel=-2147483648"),
                  "Stave_01_Voice1_On/Off=2", "Stave_01_Voice1_On/Off=65538"),
         true, none, 4},
        {"tempo absurd",
         replaced(ansi, "TempoRelative=1100", "TempoRelative=-2147483648"),
         true,
         {kPrjTempoMissing},
         4},
    };
    TempFolder tmp;
    for (const char* source : kWindowsSources) writeBytes(tmp.path() / fs::u8path(source), "x");
    for (const Case& c : cases) {
        const Opened opened = openBytes(tmp.path(), c.bytes);
        EXPECT_EQ(opened.ok, c.ok) << c.what;
        EXPECT_EQ(opened.codes, c.codes) << c.what;
        EXPECT_EQ(opened.entries, c.entries) << c.what;
    }
}

TEST(ProjectFileDamaged, AbsurdNumbersAreNeverBelieved) {
    TempFolder tmp;
    for (const char* source : kWindowsSources) writeBytes(tmp.path() / fs::u8path(source), "x");
    std::string bytes = readBytes(kProjectData / "windows_1252.c-1");
    bytes = replaced(bytes, "ProjectLastStep=9", "ProjectLastStep=-2");
    bytes = replaced(bytes, "CatInstrumentSize=7", "CatInstrumentSize=2");
    bytes = replaced(bytes, "TPPRecTempoNum=2", "TPPRecTempoNum=2147483647");
    bytes = replaced(bytes, "Stave02_Voice1_Channel=1", "Stave02_Voice1_Channel=17");
    bytes = replaced(bytes, "Track0002_Velocity=96", "Track0002_Velocity=-96");
    bytes = replaced(bytes, "MetrVolume=110", "MetrVolume=300");
    writeBytes(tmp.path() / "p.c-1", bytes);
    Studio studio;
    shapeFixtureSources(studio);
    ASSERT_TRUE(studio.read(tmp.path() / "p.c-1"));
    EXPECT_EQ(studio.codes, std::vector<std::int32_t>{kPrjMetronomeMissing});
    const Project& p = studio.project;
    EXPECT_EQ(p.currentStep, 0);
    EXPECT_EQ(p.CatInstrument, "3;12;7") << "the size does not cut the list";
    const ProjectEntry& midi = p.entries[0];
    EXPECT_EQ(midi.voices[1].channel(), -1);
    EXPECT_EQ(midi.staffVelocity[1], 90) << "an absolute velocity below 0: the default";
    EXPECT_EQ(midi.metronome.Volume, 127);
    EXPECT_EQ(p.entries[2].tempoCurve.points[TempoCurve::kRecordedList].size(), 2u);
}

// Every round reads a whole project file, which the sanitizer build makes
// several times slower; there a thousand rounds keep the test to seconds.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kMutationRounds = 1000;
#else
constexpr int kMutationRounds = 3000;
#endif

// Copies of the fixtures with random damage: whatever they hold, reading ends
// with a result and touches nothing outside the project folder.
TEST(ProjectFileDamaged, MutatedCopiesReadWithoutHarm) {
    const std::string fixtures[] = {readBytes(kProjectData / "windows_1252.c-1"),
                                    readBytes(kProjectData / "older_format.c-1")};
    const std::string numbers[] = {"2147483647", "-2147483648", "99999999999999", "-1", "0", "255", "40", "32"};
    TempFolder tmp;
    const fs::path folder = tmp.path() / "Proj";
    const fs::path outside = tmp.path() / "outside.tvrx";
    writeBytes(outside, "must stay");
    std::mt19937 random(20240601);
    const auto pick = [&](std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(random() % n); };
    int opened = 0;
    for (int round = 0; round < kMutationRounds; ++round) {
        std::string bytes = fixtures[round % 2];
        const int mutations = 1 + static_cast<int>(pick(4));
        for (int m = 0; m < mutations; ++m) {
            const std::size_t at = pick(bytes.size());
            switch (pick(6)) {
                case 0:
                    bytes[at] = static_cast<char>(random());
                    break;
                case 1:
                    bytes.erase(at, pick(64));
                    break;
                case 2:
                    bytes.insert(at, std::string(1 + pick(8), static_cast<char>(random())));
                    break;
                case 3:
                    bytes.resize(at);
                    break;
                case 4: {  // a number replaced by an absurd one
                    const std::size_t digit = bytes.find_first_of("0123456789", at);
                    if (digit == std::string::npos) break;
                    const std::size_t end = bytes.find_first_not_of("0123456789", digit);
                    bytes.replace(digit, (end == std::string::npos ? bytes.size() : end) - digit,
                                  numbers[pick(std::size(numbers))]);
                    break;
                }
                default: {  // a path that points elsewhere
                    const std::size_t key = bytes.find("Filename", at);
                    const std::size_t value = key == std::string::npos ? key : bytes.find('=', key);
                    if (value == std::string::npos) break;
                    const std::size_t end = std::min(bytes.find_first_of("\r\n", value), bytes.size());
                    bytes.replace(value + 1, end - value - 1, platform::toStoredPath(outside));
                    break;
                }
            }
        }
        for (const char* source : {"Menuett.mid", "Präludium.tvr", "Sonate.tvrx", "Rhythmus.tvrx", "Messe.tvrx"}) {
            if (!fs::exists(folder / fs::u8path(source))) writeBytes(folder / fs::u8path(source), "x");
        }
        writeBytes(folder / "p.c-1", bytes);
        Studio studio;
        shapeFixtureSources(studio);
        const bool ok = studio.read(folder / "p.c-1", round % 3 == 0);
        if (ok) {
            ++opened;
            EXPECT_LE(studio.project.fileNum(), 4);
        } else {
            ASSERT_EQ(studio.codes.size(), 1u);
            EXPECT_TRUE(studio.names.empty());
            EXPECT_EQ(studio.shell.closeCount, 0);
        }
        ASSERT_EQ(readBytes(outside), "must stay");
    }
    EXPECT_GT(opened, kMutationRounds / 10) << "the damage should not refuse every file";
}

}  // namespace
}  // namespace qvp3
