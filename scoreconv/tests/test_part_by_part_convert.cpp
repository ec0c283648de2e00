// The conversion to TvrXML that reads a partwise score one part at a time
// must write the file the whole-document conversion writes, on every score
// the tests know and on a large orchestral one - also where it hands over to
// the whole-document reading (parts out of part-list order, undeclared parts,
// timewise files) - and must fail as that conversion does on a file that
// breaks off in a later part. The documents it writes for the shared test
// scores are pinned byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
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
// parsed on worker threads and the document deflated in several blocks at
// once (the sanitizer build for threads runs this one).
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

// Length and FNV-1a digest of the document a conversion wrote.
struct Pinned {
    const char* name;
    std::size_t length;
    std::uint64_t digest;
};

std::uint64_t fnv1a(const std::string& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3u;
    }
    return hash;
}

// The documents as the writer wrote them when it still built every element
// and saved the tree: writing the voices as text must not change a byte.
TEST(PartByPartConvert, WritesThePinnedDocumentOfEverySharedScore) {
    const Pinned pinned[] = {
        {"musicxml/01a-Pitches-Pitches.xml", 22331, 0xb3ef81084801cd4bu},
        {"musicxml/02a-Rests-Durations.xml", 5642, 0x448d871210bed93bu},
        {"musicxml/03a-Rhythm-Durations.xml", 9635, 0xbd0333b6807fee38u},
        {"musicxml/03b-Rhythm-Backup.xml", 2934, 0xb8df1afbf559774cu},
        {"musicxml/03c-Rhythm-DivisionChange.xml", 2723, 0x2bf6cf8716b93b40u},
        {"musicxml/11a-TimeSignatures.xml", 4551, 0x268af3ccca5e88efu},
        {"musicxml/12a-Clefs.xml", 6588, 0x584fa77b53957bd4u},
        {"musicxml/13a-KeySignatures.xml", 13287, 0x7f07b6123aa61786u},
        {"musicxml/21a-Chord-Basic.xml", 1915, 0x4e6c089c6fc169bau},
        {"musicxml/21c-Chords-ThreeNotesDuration.xml", 3024, 0x345228cc1e844c6du},
        {"musicxml/23a-Tuplets.xml", 8429, 0x856c7944a5a1f055u},
        {"musicxml/24a-GraceNotes.xml", 7791, 0xb4552baac42f0314u},
        {"musicxml/31a-Directions.xml", 21662, 0xeab8812062aa81e4u},
        {"musicxml/32a-Notations.xml", 31726, 0x554f0ab60a919547u},
        {"musicxml/33b-Spanners-Tie.xml", 2044, 0x7a297fde30ae134cu},
        {"musicxml/33c-Spanners-Slurs.xml", 5262, 0x14a2af51b56154b2u},
        {"musicxml/41a-MultiParts-Partorder.xml", 4833, 0xd5dda45aab7bec84u},
        {"musicxml/42a-MultiVoice-TwoVoicesOnStaff-Lyrics.xml", 6576, 0x6155196db37af3fbu},
        {"musicxml/43a-PianoStaff.xml", 2707, 0xe83a50ede54ea7c4u},
        {"musicxml/45a-SimpleRepeat.xml", 1960, 0xcd393a10eed28b86u},
        {"musicxml/45b-RepeatWithAlternatives.xml", 2664, 0x04234f509b63b5e8u},
        {"musicxml/46a-Barlines.xml", 4008, 0x7eedcaa71458e47cu},
        {"musicxml/61a-Lyrics.xml", 4199, 0xc0db15879c7f7df2u},
        {"musicxml/72a-TransposingInstruments.xml", 6601, 0xcace18b935f7039fu},
        {"musicxml-constructs/playtime-trailing-rests.musicxml", 2194, 0xdcf10271c5ed56f3u},
        {"musicxml-constructs/repeat-endings-multiple-numbers.musicxml", 2439, 0x266f170ce2c328f8u},
        {"musicxml-constructs/repeat-times.musicxml", 1880, 0x12e09a38944ca163u},
        {"musicxml-constructs/tempo-two-sounds-same-moment.musicxml", 2433, 0x6b8a6c08087b77ceu},
        {"musicxml-constructs/tie-chord-partial.musicxml", 2903, 0xcf7ec36a9286ec73u},
    };
    platform::testing::TempFolder temp;
    for (const Pinned& p : pinned) {
        SCOPED_TRACE(p.name);
        const Converted converted = convert(fs::path(QVP3_SHARED_TESTDATA_DIR) / p.name, false, temp.path() / "x.tvrx");
        ASSERT_EQ(converted.result, kOk);
        EXPECT_EQ(converted.document.size(), p.length);
        EXPECT_EQ(fnv1a(converted.document), p.digest);
    }
}

// Chords, ties, tuplets, wedges, lyrics, words, repeats and systems across 36
// parts, pinned the same way.
TEST(PartByPartConvert, WritesThePinnedDocumentOfAnOrchestralScore) {
    platform::testing::TempFolder temp;
    const fs::path orchestral = temp.path() / "orchestral.xml";
    scoreconv::testing::writeOrchestralScore(orchestral, {12, 1});
    const Converted converted = convert(orchestral, false, temp.path() / "x.tvrx");
    ASSERT_EQ(converted.result, kOk);
    EXPECT_EQ(converted.document.size(), 951455u);
    EXPECT_EQ(fnv1a(converted.document), 0xc673e2b43123a995u);
}

}  // namespace
}  // namespace scoreconv::testing
