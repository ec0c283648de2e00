// The conversion to TvrXML that reads a partwise score one part at a time
// must write the file the whole-document conversion writes, on every score
// the tests know and on a large orchestral one - also where it hands over to
// the whole-document reading (parts out of part-list order, undeclared parts,
// timewise files) - and must fail as that conversion does on a file that
// breaks off in a later part.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "musicxml/convert_proc.h"
#include "mxml_load_support.h"
#include "platform_testing/temp_folder.h"
#include "scorecore/result_codes.h"
#include "scorecore/tvrx_container.h"
#include "scorecore/vxml_file.h"
#include "scoreconv_testing/score_generator.h"

namespace scoreconv::testing {
namespace {

namespace fs = std::filesystem;
using scorecore::kOk;

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// What a conversion leaves: its result, its log and the document it wrote.
struct Converted {
    int result = 0;
    std::vector<std::string> log;
    bool written = false;
    std::string document;
    int32_t staves = 0;
};

Converted convert(const fs::path& score, bool wholeDocument, const fs::path& target) {
    LoggedFile f(kModeTvrxml);
    scorecore::CVxmlFile vxml;
    fs::remove(target);
    Converted out;
    CConvertParams params;
    params.file = f.file.get();
    params.vxml = &vxml;
    params.sourcePath = score.string();
    params.targetPath = target.string();
    params.result = &out.result;
    params.wholeDocument = wholeDocument;
    mxmlConvertProc(&params);
    out.log = f.lines;
    out.staves = f.file->staffCount();
    out.written = fs::exists(target);
    if (out.written) {
        EXPECT_EQ(scorecore::readTvrxContainer(target, out.document), kOk);
    }
    return out;
}

void expectSameConversion(const fs::path& score, const fs::path& folder) {
    SCOPED_TRACE(score.filename().string());
    const Converted parts = convert(score, false, folder / "parts.tvrx");
    const Converted whole = convert(score, true, folder / "whole.tvrx");
    EXPECT_EQ(parts.result, whole.result);
    EXPECT_EQ(parts.log, whole.log);
    EXPECT_EQ(parts.staves, whole.staves);
    EXPECT_EQ(parts.written, whole.written);
    EXPECT_EQ(parts.document.size(), whole.document.size());
    EXPECT_TRUE(parts.document == whole.document) << "the documents differ";
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

TEST(PartByPartConvert, WritesTheFileOfTheWholeDocumentOnEveryKnownScore) {
    const CurrentFolder current(styleSheetFolder());
    platform::testing::TempFolder temp;
    const fs::path shared(QVP3_SHARED_TESTDATA_DIR);
    std::vector<fs::path> scores = scoresIn(shared / "musicxml");
    for (const fs::path& folder : {shared / "musicxml-constructs", fs::path(QVP3_TEST_DATA_DIR)}) {
        const std::vector<fs::path> more = scoresIn(folder);
        scores.insert(scores.end(), more.begin(), more.end());
    }
    ASSERT_GT(scores.size(), 60u);
    for (const fs::path& score : scores) expectSameConversion(score, temp.path());
}

// Several systems, repeats, wedges and tuplets across 36 parts: the parts are
// parsed on worker threads, the voices written out on a thread of their own
// and the document deflated in several blocks at once (the sanitizer build
// for threads runs this one).
TEST(PartByPartConvertThreads, AnOrchestralScoreWritesTheFileOfTheWholeDocument) {
    platform::testing::TempFolder temp;
    const fs::path orchestral = temp.path() / "orchestral.xml";
    scoreconv::testing::writeOrchestralScore(orchestral, {12, 1});
    expectSameConversion(orchestral, temp.path());
}

// Files cut inside a later part and files whose text goes wrong there: the
// conversion fails as the whole-document one does and writes nothing.
TEST(PartByPartConvert, AFileThatBreaksOffInALaterPartFailsAndWritesNothing) {
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
        const Converted parts = convert(broken, false, temp.path() / "parts.tvrx");
        EXPECT_EQ(parts.result, scorecore::kErrCannotOpen);
        EXPECT_FALSE(parts.written);
        EXPECT_EQ(parts.staves, 0);
        EXPECT_EQ(parts.result, convert(broken, true, temp.path() / "whole.tvrx").result);
    }
}

}  // namespace
}  // namespace scoreconv::testing
