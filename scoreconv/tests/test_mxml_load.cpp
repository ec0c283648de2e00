// Loading MusicXML: which files count as MusicXML, the timewise transform and
// its locked-down style sheet run, the description and date, and that broken
// or hostile files end in a result code, never in a crash or a leak.
#include "musicxml/mxml_load.h"

#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "musicxml/part_list.h"
#include "mxml_load_support.h"
#include "platform/files.h"
#include "platform_testing/temp_folder.h"
#include "scorecore/result_codes.h"

namespace scoreconv {
namespace {

using platform::testing::TempFolder;
using scoreconv::testing::CurrentFolder;
using scoreconv::testing::fixture;
using scoreconv::testing::readBytes;
using scoreconv::testing::LoggedFile;
using scoreconv::testing::styleSheetFolder;
using scoreconv::testing::suiteFile;
using scoreconv::testing::writeBytes;
namespace fs = std::filesystem;
using namespace scorecore;

std::string dumpNode(const XmlDocument& doc, xmlNodePtr node) {
    xmlBufferPtr buffer = xmlBufferCreate();
    xmlNodeDump(buffer, doc.get(), node, 0, 0);
    std::string text(reinterpret_cast<const char*>(xmlBufferContent(buffer)));
    xmlBufferFree(buffer);
    return text;
}

std::string dateLine(const fs::path& source) {
    return std::string("Zuletzt geändert: ") + formatModDate(platform::fileTimeOf(source).value_or(0));
}

// --- which files are MusicXML ---------------------------------------------------------------

TEST(MxmlGetVersion, ClassifiesByRootDoctypeAndTopLevelComment) {
    constexpr const char* kDoctype =
        "<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 3.1 Partwise//EN\" "
        "\"http://www.musicxml.org/dtds/partwise.dtd\">";
    struct Case {
        const char* name;
        std::string text;
        int rc;
    };
    const Case cases[] = {
        {"partwise with DOCTYPE", std::string(kDoctype) + "<score-partwise version='3.1'/>", kOk},
        {"partwise bare (4.0)", "<?xml version='1.0'?><score-partwise version='4.0'/>", kOk},
        {"timewise bare", "<score-timewise/>", kOk},
        {"opus with MusicXML DOCTYPE",
         "<!DOCTYPE opus PUBLIC \"-//Recordare//DTD MusicXML 3.0 Opus//EN\" \"opus.dtd\"><opus/>", kOk},
        {"comment before another root", "<!-- MusicXML 2.0 export --><score/>", kOk},
        {"comment after the root", "<score/><!--Converted to MusicXML-->", kOk},
        {"comment inside the root only", "<score><!-- MusicXML --></score>", kErrUnknownFormat},
        {"lower-case comment", "<!-- musicxml --><score/>", kErrUnknownFormat},
        {"neither DOCTYPE nor comment", "<score/>", kErrUnknownFormat},
        {"root in another case", "<Score-Partwise/>", kErrUnknownFormat},
        {"foreign DOCTYPE decides over comment",
         "<!DOCTYPE html SYSTEM \"about:legacy-compat\"><!-- MusicXML --><html/>", kErrUnknownFormat},
        {"not well-formed", "<score-partwise><part-list></score-partwise>", kErrCannotOpen},
        {"empty file", "", kErrCannotOpen},
        {"binary", std::string("\x00\x01\xff\xfe<", 5), kErrCannotOpen},
    };
    TempFolder temp;
    for (const Case& c : cases) {
        const fs::path path = temp.path() / "case.xml";
        writeBytes(path, c.text);
        XmlDocument doc;
        EXPECT_EQ(getVersion(path, &doc), c.rc) << c.name;
        EXPECT_EQ(static_cast<bool>(doc), c.rc == kOk) << c.name << ": the document is handed out on success only";
    }
}

TEST(MxmlGetVersion, FilesThatAreNotReadableMusicXmlGiveTheirCodes) {
    TempFolder temp;
    EXPECT_EQ(getVersion(fixture("header_full.xml")), kOk);
    EXPECT_EQ(getVersion(fixture("not_musicxml.xml")), kErrUnknownFormat);
    EXPECT_EQ(getVersion(fixture("malformed.xml")), kErrCannotOpen);
    EXPECT_EQ(getVersion(temp.path() / "missing.xml"), kErrCannotOpen);
    EXPECT_EQ(getVersion(temp.path()), kErrCannotOpen);

    LoggedFile loaded;
    EXPECT_EQ(loaded.load(fixture("not_musicxml.xml")), kErrUnknownFormat);
    EXPECT_EQ(loaded.load(fixture("malformed.xml")), kErrCannotOpen);
    EXPECT_EQ(loaded.load(temp.path() / "missing.xml"), kErrCannotOpen);
}

// --- the real test suite ------------------------------------------------------------------

TEST(MxmlGetProps, EveryFileOfTheTestSuiteLoads) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(suiteFile(""))) {
        if (entry.path().extension() == ".xml") files.push_back(entry.path());
    }
    ASSERT_EQ(files.size(), 24u);
    for (const fs::path& path : files) {
        for (int32_t mode : {kModeRealTime, kModeTvrxml}) {
            LoggedFile loaded(mode);
            ASSERT_EQ(loaded.load(path), kOk) << path.filename();
            const CMxmlFile& f = *loaded.file;
            EXPECT_GE(scorePartCount(f), 1) << path.filename();
            EXPECT_GE(f.staffCount(), scorePartCount(f)) << path.filename();
            EXPECT_EQ(f.rowCount, f.staffCount() + 1) << path.filename();
            EXPECT_EQ(f.voiceTables.partCount(), scorePartCount(f) + 1) << path.filename();
            EXPECT_TRUE(f.description.ends_with(dateLine(path))) << path.filename();
            EXPECT_TRUE(loaded.lines.empty()) << path.filename() << ": " << loaded.lines.front();
        }
    }
}

TEST(MxmlGetProps, DescriptionListsTheHeaderInItsOrder) {
    LoggedFile loaded;
    const fs::path path = fixture("header_full.xml");
    ASSERT_EQ(loaded.load(path), kOk);
    EXPECT_EQ(loaded.file->description,
              "composer: J. S. Bach\r\n"
              "lyricist: Anon.\r\n"
              "work-number: BWV 999\r\n"
              "work-title: Präludium\r\n"
              "movement-title: Allegro\r\n"
              "movement-number: 2\r\n"
              "rights: © 2020 Test Edition\r\n"
              "source: Manuscript, Leipzig\r\n"
              "software: Notation Editor 4.2\r\n"
              "encoding-date: 2020-03-14\r\n"
              "difficulty: easy\r\n" +
                  dateLine(path));
    EXPECT_EQ(loaded.file->modTime, platform::fileTimeOf(path).value());
    EXPECT_EQ(loaded.file->cursor.tempo, 96);

    // A score without identification has the date line alone, with the
    // host's label and line end.
    LoggedFile own(kModeRealTime, std::nullopt, "Modified: ", "\n");
    ASSERT_EQ(own.load(fixture("voices_staves.xml")), kOk);
    EXPECT_EQ(own.file->description,
              "Modified: " + formatModDate(platform::fileTimeOf(fixture("voices_staves.xml")).value()));
}

TEST(MxmlGetProps, DateIsTheDayOfTheFileTimeInUtc) {
    struct Case {
        platform::FileTime time;
        const char* text;
    };
    const Case cases[] = {
        {0, "01-01-1601"},
        {platform::fileTimeFromUnix(0), "01-01-1970"},
        {platform::fileTimeFromUnix(86399), "01-01-1970"},
        {platform::fileTimeFromUnix(86400), "02-01-1970"},
        {platform::fileTimeFromUnix(1709251199), "29-02-2024"},
        {platform::fileTimeFromUnix(253402300799), "31-12-9999"},
    };
    for (const Case& c : cases) EXPECT_EQ(formatModDate(c.time), c.text) << c.time;
}

TEST(MxmlGetProps, LoadingAgainStartsFromNothing) {
    LoggedFile loaded;
    ASSERT_EQ(loaded.load(fixture("part_groups.xml")), kOk);
    const std::string description = loaded.file->description;
    ASSERT_EQ(loaded.load(fixture("part_groups.xml")), kOk);
    EXPECT_EQ(loaded.file->staffCount(), 6);
    EXPECT_EQ(loaded.file->partGroups.count(), 4);
    EXPECT_EQ(loaded.file->parts.size(), 6u);
    EXPECT_EQ(loaded.file->midiInstrumentListCount, 0);
    EXPECT_EQ(loaded.file->description, description);
}

TEST(MxmlGetProps, SignalStopsTheLoad) {
    LoggedFile loaded;
    loaded.signal = 1;
    EXPECT_EQ(loaded.load(fixture("part_groups.xml")), kErrStopped);
}

// --- the timewise transform ----------------------------------------------------------------

TEST(MxmlGetProps, TimewiseScoreReadsLikeItsPartwiseTwin) {
    LoggedFile timewise;
    LoggedFile partwise;
    ASSERT_EQ(timewise.load(fixture("timewise.xml")), kOk);
    ASSERT_EQ(partwise.load(fixture("timewise_twin.xml")), kOk);
    const CMxmlFile& t = *timewise.file;
    const CMxmlFile& p = *partwise.file;
    ASSERT_NE(t.document.root(), nullptr);
    EXPECT_EQ(dumpNode(t.document, t.document.root()), dumpNode(p.document, p.document.root()));

    ASSERT_EQ(t.staffCount(), 3);
    ASSERT_EQ(t.staffCount(), p.staffCount());
    for (int32_t s = 0; s < t.staffCount(); ++s) {
        const auto i = static_cast<std::size_t>(s);
        EXPECT_EQ(t.staffNames[i].name, p.staffNames[i].name);
        EXPECT_TRUE(t.clefs[i].sameAs(p.clefs[i])) << s;
        EXPECT_EQ(t.groupEnd[i], p.groupEnd[i]) << s;
        EXPECT_EQ(t.instruments.count(s), p.instruments.count(s)) << s;
    }
    for (int32_t part = 0; part < 3; ++part) {
        for (int32_t s = 0; s < 2; ++s) EXPECT_EQ(t.voiceTables.staffMask(part, s), p.voiceTables.staffMask(part, s));
    }
    EXPECT_EQ(t.staffNames[1].name, "Piano");
    EXPECT_EQ(t.voiceTables.staffMask(1, 1), 0x10u);
    EXPECT_EQ(t.cursor.tempo, 88);
    ASSERT_EQ(t.partGroups.count(), 2);
    EXPECT_EQ(t.partGroups.item(0)->lastStaff, 2);
    // The description comes from the same header; only the file dates may differ.
    const auto withoutDate = [](const std::string& text) { return text.substr(0, text.rfind("\r\n")); };
    EXPECT_EQ(withoutDate(t.description), withoutDate(p.description));
    EXPECT_EQ(withoutDate(t.description), "composer: Anna Example\r\nwork-title: Duet\r\nsoftware: Timewise Writer 1.0");
}

TEST(MxmlGetProps, StyleSheetIsBuiltInUnlessFoldersAreGiven) {
    TempFolder first;
    TempFolder second;
    fs::copy_file(styleSheetFolder() / "timepart.xsl", second.path() / "timepart.xsl");
    const fs::path both[] = {first.path(), second.path()};
    EXPECT_EQ(findStyleSheet(both), second.path() / "timepart.xsl");
    fs::copy_file(styleSheetFolder() / "timepart.xsl", first.path() / "timepart.xsl");
    EXPECT_EQ(findStyleSheet(both), first.path() / "timepart.xsl");

    // Without folders given, no file is needed: not in the current folder,
    // not beside the program.
    TempFolder empty;
    CurrentFolder here(empty.path());
    LoggedFile loaded;
    EXPECT_EQ(getProps(*loaded.file, fixture("timewise.xml")), kOk);
    EXPECT_EQ(loaded.file->staffCount(), 3);
    EXPECT_TRUE(loaded.lines.empty());
}

TEST(MxmlGetProps, FailingTransformIsLoggedWithItsStep) {
    TempFolder temp;
    const fs::path written = temp.path() / "written.txt";
    const fs::path madeFolder = temp.path() / "made";
    struct Case {
        const char* name;
        std::string sheet;  // empty: no style sheet at all
        const char* step;
    };
    const std::string writer =
        "<xsl:stylesheet version='1.1' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
        "<xsl:template match='/'><xsl:document href='" +
        written.string() + "'><x/></xsl:document><score-partwise/></xsl:template></xsl:stylesheet>";
    const std::string folderMaker =
        "<xsl:stylesheet version='1.1' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
        "<xsl:template match='/'><xsl:document href='" +
        (madeFolder / "x.txt").string() + "'><x/></xsl:document><score-partwise/></xsl:template></xsl:stylesheet>";
    const Case cases[] = {
        {"missing", "", "pStyleSheet->load"},
        {"not well-formed", "<xsl:stylesheet", "pStyleSheet->load"},
        {"not a style sheet", "<notes><note/></notes>", "pIXSLTemplate->putref_stylesheet"},
        {"writes a file", writer, "pIXSLProcessor->transform"},
        {"creates a folder", folderMaker, "pIXSLProcessor->transform"},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        if (!c.sheet.empty()) writeBytes(folder.path() / "timepart.xsl", c.sheet);
        LoggedFile loaded;
        const fs::path folders[] = {folder.path()};
        EXPECT_EQ(getProps(*loaded.file, fixture("timewise.xml"), folders), kErrDom) << c.name;
        ASSERT_EQ(loaded.lines.size(), 1u) << c.name;
        EXPECT_EQ(loaded.lines[0], std::string("\tgetProps|") + c.step + "\r\n") << c.name;
    }
    EXPECT_FALSE(fs::exists(written));
    EXPECT_FALSE(fs::exists(madeFolder));
}

TEST(MxmlGetProps, OtherRootsLeaveNothingAfterTheTransform) {
    TempFolder temp;
    const fs::path path = temp.path() / "opus.xml";
    writeBytes(path, "<!DOCTYPE opus PUBLIC \"-//Recordare//DTD MusicXML 3.0 Opus//EN\" \"opus.dtd\">"
                    "<opus><score href='a.xml'/></opus>");
    LoggedFile loaded;
    EXPECT_EQ(loaded.load(path), kErrUnknownFormat);
}

// --- hostile and broken files ---------------------------------------------------------------

TEST(MxmlGetProps, ExternalEntitiesAreNeverRead) {
    const std::string passwd = readBytes("/etc/passwd");
    ASSERT_NE(passwd.find("root:"), std::string::npos);
    LoggedFile loaded;
    ASSERT_EQ(loaded.load(fixture("xxe.xml")), kOk);
    EXPECT_EQ(loaded.file->description.find("root:"), std::string::npos);
    EXPECT_NE(loaded.file->description.find("work-title: "), std::string::npos);
    ASSERT_EQ(loaded.file->staffCount(), 1);
    EXPECT_EQ(loaded.file->staffNames[0].name.find("root:"), std::string::npos);
    EXPECT_EQ(scorecore::xmldomNodeText(loaded.file->document.root()).find("root:"), std::string::npos);
}

TEST(MxmlGetProps, NestedEntitiesAreNotExpanded) {
    std::string doc = "<!DOCTYPE score-partwise [<!ENTITY a0 'lol'>";
    for (int i = 1; i < 12; ++i) {
        doc += "<!ENTITY a" + std::to_string(i) + " '";
        for (int k = 0; k < 10; ++k) doc += "&a" + std::to_string(i - 1) + ";";
        doc += "'>";
    }
    doc += "]><score-partwise><work><work-title>&a11;</work-title></work><part-list>"
           "<score-part id='P1'><part-name>&a11;</part-name></score-part></part-list></score-partwise>";
    TempFolder temp;
    writeBytes(temp.path() / "laughs.xml", doc);
    LoggedFile loaded;
    const int rc = loaded.load(temp.path() / "laughs.xml");
    EXPECT_TRUE(rc == kOk || rc == kErrCannotOpen) << rc;
    EXPECT_LT(loaded.file->description.size(), 1000u);
}

// Mutated copies of real-looking scores: byte changes, cut-offs, duplicated
// stretches and hostile numbers. Each load ends in a code; a loaded one has
// tables that agree with each other.
TEST(MxmlGetProps, MutatedScoresNeverCrash) {
    const std::vector<std::string> bases = {readBytes(fixture("voices_staves.xml")), readBytes(fixture("percussion.xml")),
                                            readBytes(fixture("part_groups.xml")), readBytes(fixture("timewise.xml"))};
    const char* const numbers[] = {"0", "-1", "33", "255", "256", "99999999999", "-2147483648", "1e308",
                                   "nan", "", "X", "4.5", "-0", "0x10"};
    std::mt19937 random(20240229);
    TempFolder temp;
    const fs::path path = temp.path() / "mutant.xml";
    LoggedFile loaded(kModeTvrxml);
    int loadedCount = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string text = bases[static_cast<std::size_t>(round) % bases.size()];
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            const std::size_t at = random() % text.size();
            switch (random() % 4) {
                case 0:
                    text[at] = static_cast<char>(random() % 256);
                    break;
                case 1:
                    text.resize(at);
                    break;
                case 2: {
                    const std::size_t start = text.find('<', at);
                    const std::size_t end = start == std::string::npos ? start : text.find("</", start + 1);
                    if (end != std::string::npos) {
                        const std::size_t close = text.find('>', end);
                        if (close != std::string::npos) text.insert(start, text.substr(start, close + 1 - start));
                    }
                    break;
                }
                default: {
                    const std::size_t digit = text.find_first_of("0123456789", at);
                    if (digit == std::string::npos) break;
                    const std::size_t end = text.find_first_not_of("0123456789.", digit);
                    text.replace(digit, end - digit, numbers[random() % std::size(numbers)]);
                    break;
                }
            }
        }
        writeBytes(path, text);
        const int rc = loaded.load(path);
        ASSERT_TRUE(rc == kOk || rc == kErrCannotOpen || rc == kErrUnknownFormat || rc == kErrDom)
            << rc << " in round " << round;
        if (rc == kOk) {
            ++loadedCount;
            const CMxmlFile& f = *loaded.file;
            const auto staves = static_cast<std::size_t>(f.staffCount());
            ASSERT_EQ(f.rowCount, f.staffCount() + 1);
            ASSERT_EQ(f.clefs.size(), staves);
            ASSERT_EQ(f.groupEnd.size(), staves);
            ASSERT_EQ(f.instruments.staffCount(), f.staffCount());
            ASSERT_EQ(f.voiceTables.partCount(), static_cast<int32_t>(f.parts.size()));
            ASSERT_EQ(f.voiceTables.firstStaffOfPart(f.voiceTables.partCount() - 1), f.staffCount());
            for (int32_t s = 0; s < f.staffCount(); ++s) ASSERT_GE(f.instruments.count(s), 1);
        }
        loaded.file->reset();
    }
    EXPECT_GT(loadedCount, 300);
}

}  // namespace
}  // namespace scoreconv
