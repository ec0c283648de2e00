// The software synthesizer: its configuration file, the set-up with its one
// rewrite per run, and renders of small generated MIDI files through the real
// synthesizer program with the sound set that ships beside the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/soft_synth.h"
#include "qvp3_pipeline/wave_file.h"
#include "smf_bytes.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using platform::testing::readBytes;
using platform::testing::TempFolder;
using platform::testing::writeBytes;
namespace smf = qvp3::testing;

constexpr std::uint32_t kQuarterFrames = 22050;  // a quarter at 120 beats a minute

// A track of quarter notes on the piano at 120 beats a minute, then a rest of
// restQuarters; no notes at all for an empty list.
std::string quarterNotes(const std::vector<int>& keys, std::uint32_t restQuarters) {
    std::string events = smf::tempo(0, 500000) + smf::ev(0, {0xC0, 0});
    for (int key : keys) events += smf::ev(0, {0x90, key, 100}) + smf::ev(480, {0x80, key, 64});
    events += smf::endOfTrack(480 * restQuarters);
    return smf::smf(0, 480, {events});
}

const std::vector<int> kCMajorScale = {60, 62, 64, 65, 67, 69, 71, 72};

// A state whose configuration lives in folder, written for the program folder
// of this build, where the sound set is copied.
SoftSynthState preparedState(const fs::path& folder) {
    SoftSynthState state;
    state.dataFolder = folder;
    cnvWriteTimidityConfig(state, QVP3_PROGRAM_DIR, false);
    return state;
}

struct Samples {
    WaveFormatEx format;
    std::vector<std::int16_t> data;
};

Samples readSamples(const fs::path& path) {
    Samples s;
    CWaveFile wave;
    EXPECT_EQ(wave.Open(path, &s.format, CWaveFile::kModeRead), S_OK);
    s.data.resize(wave.DataSize() / 2);
    std::uint32_t read = 0;
    EXPECT_EQ(wave.Read(s.data.data(), static_cast<std::uint32_t>(s.data.size() * 2), &read), S_OK);
    return s;
}

double rms(const std::vector<std::int16_t>& data, std::size_t firstFrame, std::size_t frames) {
    double sum = 0;
    std::size_t n = 0;
    for (std::size_t i = firstFrame * 2; i < (firstFrame + frames) * 2 && i < data.size(); ++i, ++n) {
        sum += static_cast<double>(data[i]) * data[i];
    }
    return n == 0 ? 0.0 : std::sqrt(sum / static_cast<double>(n));
}

bool leftoverPart(const fs::path& folder) {
    for (const auto& e : fs::directory_iterator(folder)) {
        if (e.path().extension() == ".part") return true;
    }
    return false;
}

// --- configuration ---------------------------------------------------------------

TEST(SoftSynthConfig, SixLinesNameThePatchFolderAndTheSoundSetByAbsolutePaths) {
    TempFolder tmp;
    SoftSynthState state;
    state.dataFolder = tmp.path();
    const fs::path folder = "/opt/my synth";
    cnvWriteTimidityConfig(state, folder, false);
    EXPECT_EQ(readBytes(tmp.path() / "timidity.cfg"),
              "dir \"/opt/my synth\"\n"
              "dir \"/opt/my synth/voxpack\"\n"
              "source \"/opt/my synth/voxpack/gravis.cfg\"\n"
              "source \"/opt/my synth/voxpack/gsdrums.cfg\"\n"
              "source \"/opt/my synth/voxpack/gssfx.cfg\"\n"
              "source \"/opt/my synth/voxpack/xgmap2.cfg\"\n");
    EXPECT_EQ(state.patchFolder, folder);
}

TEST(SoftSynthConfig, ForceReplacesAnExistingFileAndWithoutForceItStays) {
    struct Case {
        const char* name;
        bool existing;
        bool force;
        bool folderMissing;
        bool expectNewText;
        bool expectPatchFolder;
    };
    const Case cases[] = {
        {"no file, no force", false, false, false, true, true},
        {"existing file, no force", true, false, false, false, true},
        {"existing file, force", true, true, false, true, true},
        {"data folder missing", false, true, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder tmp;
        SoftSynthState state;
        state.dataFolder = c.folderMissing ? tmp.path() / "missing" : tmp.path();
        const fs::path cfg = state.dataFolder / "timidity.cfg";
        if (c.existing) writeBytes(cfg, "old\n");
        cnvWriteTimidityConfig(state, "/patches", c.force);
        if (c.expectNewText) {
            EXPECT_EQ(readBytes(cfg), cnvTimidityConfigText("/patches"));
        } else if (c.existing) {
            EXPECT_EQ(readBytes(cfg), "old\n");
        } else {
            EXPECT_FALSE(fs::exists(cfg));
        }
        EXPECT_EQ(state.patchFolder, c.expectPatchFolder ? fs::path("/patches") : fs::path());
        EXPECT_FALSE(leftoverPart(tmp.path()));
    }
}

// --- set-up ------------------------------------------------------------------------

TEST(SoftSynthSetup, AProgramThatCannotBeRunGivesMinus9AndRendersNothing) {
    TempFolder tmp;
    writeBytes(tmp.path() / "not-executable", "#!/bin/sh\n");
    writeBytes(tmp.path() / "song.mid", quarterNotes(kCMajorScale, 1));
    const fs::path programs[] = {tmp.path() / "no-such-program", "qvp3-no-such-synthesizer",
                                 tmp.path() / "not-executable", ""};
    for (const fs::path& program : programs) {
        SCOPED_TRACE(program.string());
        SoftSynthState state = preparedState(tmp.path());
        state.program = program;
        EXPECT_EQ(cnvInitTimidity(state, nullptr), kSynthNotFound);
        EXPECT_FALSE(state.configRewritten);
        EXPECT_FALSE(cnvTimidityRender(state, tmp.path() / "song.mid", tmp.path() / "song.wav", 5000, {}, nullptr));
        EXPECT_FALSE(fs::exists(tmp.path() / "song.wav"));
    }
}

TEST(SoftSynthSetup, ABrokenConfigurationIsRewrittenOnTheFirstSetUpAndTriedAgain) {
    struct Case {
        const char* name;
        const char* text;  // null: no file
    };
    const Case cases[] = {
        {"damaged", "dir \"/nowhere\nthis is no configuration\n"},
        {"missing", nullptr},
        {"names a sound set file that is not there", "source \"/nonexistent/gravis.cfg\"\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder tmp;
        SoftSynthState state = preparedState(tmp.path());
        const fs::path cfg = tmp.path() / "timidity.cfg";
        fs::remove(cfg);
        if (c.text != nullptr) writeBytes(cfg, c.text);
        EXPECT_EQ(cnvInitTimidity(state, nullptr), 0);
        EXPECT_TRUE(state.configRewritten);
        EXPECT_EQ(readBytes(cfg), cnvTimidityConfigText(QVP3_PROGRAM_DIR));
        EXPECT_EQ(cnvInitTimidity(state, nullptr), 0);
    }
}

TEST(SoftSynthSetup, ASecondFailureInTheSameRunGivesMinus1100WithoutAnotherRewrite) {
    TempFolder tmp;
    SoftSynthState state = preparedState(tmp.path());
    const fs::path cfg = tmp.path() / "timidity.cfg";
    writeBytes(cfg, "damaged\n");
    ASSERT_EQ(cnvInitTimidity(state, nullptr), 0);

    writeBytes(cfg, "damaged again\n");
    EXPECT_EQ(cnvInitTimidity(state, nullptr), kSynthSetupFailed);
    EXPECT_EQ(readBytes(cfg), "damaged again\n");
    EXPECT_EQ(cnvInitTimidity(state, nullptr), kSynthSetupFailed);

    // A new run may rewrite it once more.
    state.configRewritten = false;
    EXPECT_EQ(cnvInitTimidity(state, nullptr), 0);
}

TEST(SoftSynthSetup, ACancelDuringTheSetUpIsNoFailureOfTheConfiguration) {
    TempFolder tmp;
    SoftSynthState state = preparedState(tmp.path());
    const std::string written = readBytes(tmp.path() / "timidity.cfg");
    std::atomic<int> word{kSynthCancelWord};
    EXPECT_EQ(cnvInitTimidity(state, &word), kSynthSetupCancelled);
    EXPECT_FALSE(state.configRewritten);
    EXPECT_EQ(readBytes(tmp.path() / "timidity.cfg"), written);
    word = 0;
    EXPECT_EQ(cnvInitTimidity(state, &word), 0);
    EXPECT_FALSE(state.configRewritten);
}

// --- rendering --------------------------------------------------------------------

TEST(SoftSynthRender, AScaleSoundsOnEachQuarterAndIsSilentAfterItsRelease) {
    TempFolder tmp;
    SoftSynthState state = preparedState(tmp.path());
    ASSERT_EQ(cnvInitTimidity(state, nullptr), 0);
    writeBytes(tmp.path() / "scale.mid", quarterNotes(kCMajorScale, 6));
    const std::uint32_t expectedMs = 7000;
    std::vector<std::uint32_t> progress;
    ASSERT_TRUE(cnvTimidityRender(state, tmp.path() / "scale.mid", tmp.path() / "scale.wav", expectedMs,
                                  [&](std::uint32_t ms) { progress.push_back(ms); }, nullptr));

    const Samples s = readSamples(tmp.path() / "scale.wav");
    EXPECT_EQ(s.format, WaveFormatEx::pcm(44100, 2, 16));
    // The synthesizer ends a little after the last sound, not at the end of
    // the track: the pause after a file is the WAV step's.
    const std::size_t frames = s.data.size() / 2;
    ASSERT_GE(frames, 11 * kQuarterFrames);
    for (std::size_t q = 0; q < kCMajorScale.size(); ++q) {
        EXPECT_GT(rms(s.data, q * kQuarterFrames, kQuarterFrames), 100.0) << "quarter " << q;
    }
    // Two quarters after the last note the piano has died away.
    EXPECT_LT(rms(s.data, 10 * kQuarterFrames, frames - 10 * kQuarterFrames), 10.0);
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), expectedMs);
    EXPECT_FALSE(leftoverPart(tmp.path()));
}

TEST(SoftSynthRender, ARenderWithoutSoundFailsAndKeepsTheOldFile) {
    struct Case {
        const char* name;
        std::string midi;  // empty: no file
    };
    const Case cases[] = {
        {"no notes", quarterNotes({}, 4)},
        {"not a MIDI file", "this is no MIDI file"},
        {"missing MIDI file", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder tmp;
        SoftSynthState state = preparedState(tmp.path());
        ASSERT_EQ(cnvInitTimidity(state, nullptr), 0);
        if (!c.midi.empty()) writeBytes(tmp.path() / "song.mid", c.midi);
        writeBytes(tmp.path() / "song.wav", "the old file");
        EXPECT_FALSE(cnvTimidityRender(state, tmp.path() / "song.mid", tmp.path() / "song.wav", 2000, {}, nullptr));
        EXPECT_EQ(readBytes(tmp.path() / "song.wav"), "the old file");
        EXPECT_FALSE(leftoverPart(tmp.path()));
    }
}

TEST(SoftSynthRender, ACancelStopsTheRenderAndKeepsTheOldFile) {
    TempFolder tmp;
    SoftSynthState state = preparedState(tmp.path());
    ASSERT_EQ(cnvInitTimidity(state, nullptr), 0);
    // Five minutes of notes: far longer than the wait for the first progress.
    std::vector<int> keys;
    for (int i = 0; i < 600; ++i) keys.push_back(kCMajorScale[static_cast<std::size_t>(i) % kCMajorScale.size()]);
    writeBytes(tmp.path() / "long.mid", quarterNotes(keys, 1));
    writeBytes(tmp.path() / "long.wav", "the old file");

    struct Case {
        const char* name;
        bool cancelBefore;
    };
    for (const Case& c : {Case{"during the render", false}, Case{"before the render", true}}) {
        SCOPED_TRACE(c.name);
        std::atomic<int> word{c.cancelBefore ? kSynthCancelWord : 0};
        std::uint32_t lastProgress = 0;
        auto progress = [&](std::uint32_t ms) {
            lastProgress = ms;
            word = kSynthCancelWord;
        };
        EXPECT_FALSE(cnvTimidityRender(state, tmp.path() / "long.mid", tmp.path() / "long.wav", 300500, progress, &word));
        if (!c.cancelBefore) {
            EXPECT_GT(lastProgress, 0u);
            EXPECT_LT(lastProgress, 300500u);
        }
        EXPECT_EQ(readBytes(tmp.path() / "long.wav"), "the old file");
        EXPECT_FALSE(leftoverPart(tmp.path()));
    }
}

}  // namespace
}  // namespace qvp3
