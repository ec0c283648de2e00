// The load that reads a partwise score one part at a time must give the play
// model the whole-document load gives, on every score the tests know - also
// where it hands over to the whole-document load (parts out of part-list
// order, undeclared parts, timewise files) - and must fail as that load does
// on a file that breaks off in a later part.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform_testing/temp_folder.h"
#include "play_test_support.h"
#include "scoreconv_testing/score_generator.h"

namespace scoreconv {
namespace {

namespace fs = std::filesystem;
using scorecore::kOk;
using testing::PlayHarness;

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// What a load leaves that a host or a player can see.
struct Loaded {
    int result = 0;
    std::vector<std::string> log;
    std::string description;
    std::vector<std::string> partIds;
    std::vector<int32_t> groupEnd;
    int32_t groups = 0;
    int32_t rowCount = 0;
    int64_t playTime = 0;
    std::string midi;  // the rendered file
};

Loaded load(const fs::path& score, LoadRoute route, const fs::path& midi) {
    PlayHarness h(kModeRender);
    Loaded out;
    out.result = h.tryLoad(score, route);
    out.log = h.lines;
    out.description = h.file->description;
    for (const CMxmlPart& part : h.file->parts) out.partIds.push_back(part.id);
    out.groupEnd = h.file->groupEnd;
    out.groups = h.file->partGroups.count();
    out.rowCount = h.file->rowCount;
    if (out.result != kOk || h.file->rowCount == 0) return out;
    EXPECT_EQ(h.play(kModePlayTime), kOk);
    out.playTime = h.playTime;
    h.midiPath = midi;
    EXPECT_EQ(h.play(kModeRender), kOk);
    out.midi = fileBytes(midi);
    return out;
}

void expectSameLoad(const fs::path& score, const fs::path& folder) {
    SCOPED_TRACE(score.filename().string());
    const Loaded parts = load(score, LoadRoute::PartByPart, folder / "parts.mid");
    const Loaded whole = load(score, LoadRoute::WholeDocument, folder / "whole.mid");
    EXPECT_EQ(parts.result, whole.result);
    EXPECT_EQ(parts.log, whole.log);
    EXPECT_EQ(parts.description, whole.description);
    EXPECT_EQ(parts.partIds, whole.partIds);
    EXPECT_EQ(parts.groupEnd, whole.groupEnd);
    EXPECT_EQ(parts.groups, whole.groups);
    EXPECT_EQ(parts.rowCount, whole.rowCount);
    EXPECT_EQ(parts.playTime, whole.playTime);
    EXPECT_EQ(parts.midi.size(), whole.midi.size());
    EXPECT_TRUE(parts.midi == whole.midi) << "the rendered files differ";
}

std::vector<fs::path> scoresIn(const fs::path& folder) {
    std::vector<fs::path> scores;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        const std::string extension = entry.path().extension().string();
        if (extension == ".xml" || extension == ".musicxml") scores.push_back(entry.path());
    }
    std::sort(scores.begin(), scores.end());
    return scores;
}

TEST(PartByPartLoad, GivesTheModelOfTheWholeDocumentOnEveryKnownScore) {
    platform::testing::TempFolder temp;
    const fs::path shared(QVP3_SHARED_TESTDATA_DIR);
    std::vector<fs::path> scores = scoresIn(shared / "musicxml");
    for (const fs::path& folder : {shared / "musicxml-constructs", fs::path(QVP3_TEST_DATA_DIR)}) {
        const std::vector<fs::path> more = scoresIn(folder);
        scores.insert(scores.end(), more.begin(), more.end());
    }
    const fs::path orchestral = temp.path() / "orchestral.xml";
    scoreconv::testing::writeOrchestralScore(orchestral, {4, 2});
    scores.push_back(orchestral);
    ASSERT_GT(scores.size(), 60u);
    for (const fs::path& score : scores) expectSameLoad(score, temp.path());
}

// Files cut inside a later part (as a copy that broke off does) and files
// whose text goes wrong there: the whole load fails as the document load
// does and leaves the file empty.
TEST(PartByPartLoad, AFileThatBreaksOffInALaterPartFailsAndLeavesNothing) {
    platform::testing::TempFolder temp;
    const std::string text = fileBytes(fs::path(QVP3_TEST_DATA_DIR) / "walk_parts.xml");
    const std::size_t secondPart = text.find("<part ", text.find("<part ") + 1);
    ASSERT_NE(secondPart, std::string::npos);
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"cut inside the second part", text.substr(0, secondPart + (text.size() - secondPart) / 2)},
        {"cut after the last part", text.substr(0, text.rfind("</score-partwise>"))},
        {"an element left open in the second part",
         text.substr(0, secondPart) + "<part id=\"P2\"><measure number=\"1\"><note></measure></part></score-partwise>"},
        {"text after the root", text + "<extra/>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path broken = temp.path() / "broken.xml";
        writeBytes(broken, c.bytes);
        PlayHarness parts(kModeRender);
        PlayHarness whole(kModeRender);
        const int rc = parts.tryLoad(broken, LoadRoute::PartByPart);
        EXPECT_EQ(rc, scorecore::kErrCannotOpen);
        EXPECT_EQ(rc, whole.tryLoad(broken, LoadRoute::WholeDocument));
        EXPECT_EQ(parts.file->rowCount, 0);
        EXPECT_TRUE(parts.file->parts.empty());
        EXPECT_EQ(parts.file->events.rowCount(), 0);
        EXPECT_FALSE(parts.file->isLoaded());
    }
}

}  // namespace
}  // namespace scoreconv
