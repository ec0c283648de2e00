// A large orchestral score (over 10 MB) is converted to ".tvrx" and rendered
// to a standard MIDI file in well under a minute, also in the sanitizer build,
// where slow paths that grow badly with the score show first.
#include "scoreconv/scoreconv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "scoreconv_testing/score_generator.h"

namespace {

using platform::testing::readBytes;
using platform::testing::TempFolder;

TEST(LargeScores, ATenMegabyteScoreConvertsAndRendersWithinAMinute) {
    TempFolder temp;
    const std::filesystem::path source = temp.path() / "orchestra.xml";
    scoreconv::testing::ScoreOptions options;
    options.measures = 88;
    ASSERT_GE(scoreconv::testing::writeOrchestralScore(source, options), 10'000'000u);
    const auto started = std::chrono::steady_clock::now();

    // Conversion to ".tvrx".
    scMxmlFile* converter = mxmlNewFile(nullptr, SCORECONV_MODE_TVRXML, nullptr, 480, "large", nullptr);
    scVxmlFile* vxml = vxmlNewFile(nullptr);
    ASSERT_NE(converter, nullptr);
    ASSERT_NE(vxml, nullptr);
    const std::string tvrx = (temp.path() / "orchestra.tvrx").string();
    CThreadProcParams convert{};
    int converted = 1;
    convert.file = converter;
    convert.vxml = vxml;
    convert.sourcePath = source.c_str();
    convert.targetPath = tvrx.c_str();
    convert.result = &converted;
    EXPECT_EQ(mxmlConvertProc(&convert), 0);
    EXPECT_EQ(readBytes(tvrx).substr(0, 2), "PK");
    vxmlFreeFile(&vxml);
    mxmlFreeFile(&converter);

    // Loading and rendering.
    scMxmlFile* file = mxmlNewFile(nullptr, SCORECONV_MODE_REAL_TIME, nullptr, 480, "large", nullptr);
    ASSERT_NE(file, nullptr);
    int64_t playTime = 0;
    int loaded = 1;
    CThreadProcParams load{};
    load.file = file;
    load.sourcePath = source.c_str();
    load.playTime = &playTime;
    load.result = &loaded;
    ASSERT_EQ(mxmlConvertProc(&load), 0);
    EXPECT_GT(playTime, 0);
    const std::string midi = (temp.path() / "orchestra.mid").string();
    mxmlSetPlaymode(file, SCORECONV_MODE_RENDER);
    int rendered = 1;
    int state = -1;
    CThreadProcParams render{};
    render.file = file;
    render.sourcePath = midi.c_str();
    render.playTime = &playTime;
    render.state = &state;
    render.result = &rendered;
    EXPECT_EQ(mxmlPlayProc(&render), 0);
    EXPECT_EQ(readBytes(midi).substr(0, 4), "MThd");
    mxmlFreeFile(&file);

    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LT(seconds, 60);
}

}  // namespace
