#include "scorecore/vxml_file.h"

#include "platform/message_target.h"
#include "platform_testing/temp_folder.h"
#include "scorecore/result_codes.h"
#include "scorecore/score_log.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>
#include "platform_testing/file_bytes.h"

using namespace scorecore;
namespace fs = std::filesystem;

namespace {

using platform::testing::readBytes;
using platform::testing::writeBytes;
using scorecore::testing::entityBomb;

const fs::path kData = QVP3_TEST_DATA_DIR;

fs::path writeText(const fs::path& folder, const std::string& name, const std::string& text) {
    const fs::path file = folder / name;
    writeBytes(file, text);
    return file;
}

// Collects log lines in memory.
struct LogLines {
    std::vector<std::string> lines;
    CScoreLog log{[this](std::string_view line) { lines.emplace_back(line); }};
};

void setModified(const fs::path& file, std::chrono::sys_seconds when) {
    fs::last_write_time(file, std::chrono::file_clock::from_sys(when));
}

// A new TvrXML document in file, with an "info" holding the given children.
void buildInfo(CVxmlFile& file, const std::vector<std::pair<std::string, std::string>>& children) {
    xmlNodePtr root = nullptr;
    ASSERT_EQ(xmldomCreateFile({}, file.document, root, kXmlDocNewTvrxml), kOk);
    file.root = root;
    xmlNodePtr info = nullptr;
    ASSERT_EQ(xmldomAppendElement(XmlElementArgs(file.document, nullptr, "info").out(&info)), kOk);
    for (const auto& [name, text] : children) {
        ASSERT_EQ(xmldomAppendElement(
                      XmlElementArgs(file.document, info, name).depth(2).text(text).indent()),
                  kOk);
    }
    ASSERT_EQ(xmldomAppendChild(file.document, root, info, 1, true, true), kOk);
    ASSERT_EQ(xmldomAppendIndent(file.document, root, 0), kOk);
}

}  // namespace

TEST(VxmlFileVersionTest, OnlyTvrxmlScoresWithTheirNamespaceFirstAreAccepted) {
    const std::string decl = "<?xml version='1.0' encoding='ISO-8859-1' standalone='yes'?>\n";
    const struct {
        const char* name;
        std::string xml;
        int rc;
    } cases[] = {
        {"format 1.0", decl + "<score xmlns=\"http://www.tavrena.com/TvrXML/1.0\"><info/></score>",
         kOk},
        {"format 2.0, other host", decl + "<score xmlns=\"http://www.example.org/TvrXML/2.0\"/>",
         kOk},
        {"namespace in capitals", "<score xmlns=\"HTTP://WWW.TAVRENA.COM/TVRXML/1.0\"/>", kOk},
        {"attributes after it", "<score xmlns=\"http://x/TvrXML/1.0\" a=\"1\"/>", kOk},
        {"namespace not first", "<score xmlns:t=\"urn:other\" xmlns=\"http://x/TvrXML/1.0\"/>",
         kErrUnknownFormat},
        {"prefixed namespace only", "<score xmlns:t=\"http://x/TvrXML/1.0\"/>", kErrUnknownFormat},
        {"prefixed root", "<t:score xmlns:t=\"http://x/TvrXML/1.0\"/>", kErrUnknownFormat},
        {"no namespace", "<score version=\"1.0\"/>", kErrUnknownFormat},
        {"format 3.0", "<score xmlns=\"http://x/TvrXML/3.0\"/>", kErrUnknownFormat},
        {"wrong root", "<Score xmlns=\"http://x/TvrXML/1.0\"/>", kErrUnknownFormat},
        {"MusicXML", "<score-partwise version=\"3.0\"/>", kErrUnknownFormat},
        {"not well-formed", "<score xmlns=\"http://x/TvrXML/1.0\">", kErrCannotOpen},
        {"empty file", "", kErrCannotOpen},
        {"entity bomb", entityBomb(), kErrCannotOpen},
    };
    platform::testing::TempFolder folder;
    for (const auto& c : cases) {
        CVxmlFile file;
        const int rc = file.getVersion(writeText(folder.path(), "score.xml", c.xml));
        EXPECT_EQ(rc, c.rc) << c.name;
        // The document stays loaded exactly when it is accepted.
        EXPECT_EQ(file.root != nullptr, rc == kOk) << c.name;
        EXPECT_EQ(static_cast<bool>(file.document), rc == kOk) << c.name;
    }
    CVxmlFile file;
    EXPECT_EQ(file.getVersion(folder.path() / "missing.xml"), kErrCannotOpen);
}

TEST(VxmlFileVersionTest, StepsAreLoggedToTheDocumentsOwnLog) {
    platform::testing::TempFolder folder;
    LogLines accepted;
    LogLines refused;
    CVxmlFile good(&accepted.log);
    CVxmlFile bad(&refused.log);  // a later document does not take the first one's log
    EXPECT_EQ(good.getVersion(
                  writeText(folder.path(), "a.xml", "<score xmlns=\"http://x/TvrXML/1.0\"/>")),
              kOk);
    EXPECT_EQ(bad.getVersion(writeText(folder.path(), "b.xml", "<partwise/>")), kErrUnknownFormat);

    const std::vector<std::string> okLines = {
        "\tscoreconv|getVersion:1\r\n", "\tscoreconv|getVersion:2\r\n",
        "\tscoreconv|getVersion:3\r\n", "\tscoreconv|getVersion:4\r\n",
        "\tscoreconv|getVersion:5\r\n", "\tscoreconv|getVersion:6\r\n",
        "\tscoreconv|getVersion:7\r\n", "\tscoreconv|getVersion:Ende\r\n"};
    EXPECT_EQ(accepted.lines, okLines);
    const std::vector<std::string> refusedLines = {
        "\tscoreconv|getVersion:1\r\n", "\tscoreconv|getVersion:2\r\n",
        "\tscoreconv|getVersion:3\r\n", "\tscoreconv|getVersion:4\r\n",
        "\tscoreconv|getVersion:Ende\r\n"};
    EXPECT_EQ(refused.lines, refusedLines);
}

TEST(VxmlFilePropsTest, DescriptionAndDateAreReadFromTheContainer) {
    platform::testing::TempFolder folder;
    const fs::path copy = folder.path() / "score10.tvrx";
    fs::copy_file(kData / "score10.tvrx", copy);
    using namespace std::chrono;
    setModified(copy, sys_days{2021y / March / 4} + 23h + 59min);

    LogLines log;
    CVxmlFile file(&log.log);
    ASSERT_EQ(file.getProps(copy), kOk);
    EXPECT_EQ(file.path, copy);
    EXPECT_EQ(file.author, "Anna M\xC3\xBCller");
    EXPECT_EQ(file.keywords, "Choral; Bach");
    EXPECT_EQ(file.comment, "First line\r\nSecond line");
    EXPECT_EQ(file.engine, kVxmlEngineText);
    EXPECT_EQ(file.fileDate, "04-03-2021");
    EXPECT_EQ(file.modTime, platform::fileTimeOf(copy).value());
    EXPECT_NE(file.root, nullptr);

    std::vector<std::string> expected;
    for (const char* step : {"1", "2", "3", "4"})
        expected.push_back(std::string("\tscoreconv|getProps:") + step + "\r\n");
    for (const char* step : {"1", "2", "3", "4", "5", "6", "7", "Ende"}) {
        expected.push_back(std::string("\tscoreconv|getVersion:") + step + "\r\n");
    }
    for (const char* step : {"5", "6", "7", "Ende"})
        expected.push_back(std::string("\tscoreconv|getProps:") + step + "\r\n");
    EXPECT_EQ(log.lines, expected);
}

TEST(VxmlFilePropsTest, ContainersThatAreNotTvrxmlScoresAreRefused) {
    const struct {
        const char* file;
        int rc;
    } cases[] = {
        {"score20.tvrx", kOk},
        {"two_entries.tvrx", kOk},
        {"not_tvrxml.tvrx", kErrUnknownFormat},
        {"not_a_zip.tvrx", kErrCannotOpen},
        {"two_other_entries.tvrx", kErrCannotOpen},
        {"missing.tvrx", kErrCannotOpen},
    };
    for (const auto& c : cases) {
        CVxmlFile file;
        EXPECT_EQ(file.getProps(kData / c.file), c.rc) << c.file;
    }
    CVxmlFile file;
    ASSERT_EQ(file.getProps(kData / "score20.tvrx"), kOk);
    EXPECT_EQ(file.comment, "Version 2");
    EXPECT_EQ(file.author, "");
}

TEST(VxmlFilePropsTest, DescriptionRoundTripsThroughAWrittenContainer) {
    platform::testing::TempFolder folder;
    const fs::path target = folder.path() / "round.tvrx";
    {
        CVxmlFile writer;
        buildInfo(writer, {{"author", "Zo\xC3\xAB \xE2\x82\xAC"},
                           {"keywords", "one, two"},
                           {"comment", "line one\nline two\n\nline four"}});
        ASSERT_EQ(writer.writeFile(target), kOk);
    }
    CVxmlFile reader;
    ASSERT_EQ(reader.getProps(target), kOk);
    EXPECT_EQ(reader.author, "Zo\xC3\xAB \xE2\x82\xAC");
    EXPECT_EQ(reader.keywords, "one, two");
    EXPECT_EQ(reader.comment, "line one\r\nline two\r\n\r\nline four");
    const auto today = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
    const std::chrono::year_month_day ymd(today);
    char date[16];
    std::snprintf(date, sizeof date, "%02u-%02u-%04i", static_cast<unsigned>(ymd.day()),
                  static_cast<unsigned>(ymd.month()), static_cast<int>(ymd.year()));
    // The file was written a moment ago (allow for midnight passing meanwhile).
    EXPECT_EQ(reader.fileDate.size(), 10u);
    if (std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now()) == today) {
        EXPECT_EQ(reader.fileDate, date);
    }
}

TEST(VxmlFilePropsTest, EmptyAuthorOrKeywordsKeepWhatWasThere) {
    platform::testing::TempFolder folder;
    const fs::path target = folder.path() / "empty.tvrx";
    {
        CVxmlFile writer;
        buildInfo(writer, {{"author", ""}, {"keywords", ""}, {"comment", "c"}});
        ASSERT_EQ(writer.writeFile(target), kOk);
    }
    CVxmlFile reader;
    reader.author = "kept";
    reader.keywords = "kept too";
    ASSERT_EQ(reader.getProps(target), kOk);
    EXPECT_EQ(reader.author, "kept");
    EXPECT_EQ(reader.keywords, "kept too");
    EXPECT_EQ(reader.comment, "c");
}

TEST(ScoreLogTest, LinesAreCutAt255CharactersAndAlwaysEnded) {
    const struct {
        std::string text;
        std::string line;
    } cases[] = {
        {"short", "short\r\n"},
        {std::string(253, 'a'), std::string(253, 'a') + "\r\n"},
        {std::string(255, 'b'), std::string(255, 'b') + "\r\n"},
        {std::string(300, 'c'), std::string(255, 'c') + "\r\n"},
        // A character is never split: the cut falls before it.
        {std::string(254, 'd') + "\xC3\xA9" + "tail", std::string(254, 'd') + "\r\n"},
    };
    for (const auto& c : cases) {
        LogLines log;
        log.log.writeLine(c.text);
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_EQ(log.lines[0], c.line) << c.text.size();
    }
    LogLines log;
    log.log.writeLineF("\tscoreconv|getVersion:%X", 0x80004005u);
    log.log.writeLineF("%s", std::string(400, 'x').c_str());
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], "\tscoreconv|getVersion:80004005\r\n");
    EXPECT_EQ(log.lines[1], std::string(255, 'x') + "\r\n");
}

TEST(ScoreLogTest, FileLogAppendsWholeLinesFromSeveralThreads) {
    platform::testing::TempFolder folder;
    const fs::path file = folder.path() / "scoreconv.log";
    writeText(folder.path(), "scoreconv.log", "earlier\r\n");
    {
        CScoreLog log(file);
        ASSERT_TRUE(log.isOpen());
        const auto write = [&log](char c) {
            for (int i = 0; i < 200; ++i) log.writeLine(std::string(300, c));
        };
        std::thread a(write, 'a');
        std::thread b(write, 'b');
        a.join();
        b.join();
    }
    const std::string text = readBytes(file);
    ASSERT_EQ(text.rfind("earlier\r\n", 0), 0u);
    std::size_t pos = 9;
    int lines = 0;
    while (pos < text.size()) {
        const std::size_t end = text.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        const std::string line = text.substr(pos, end - pos);
        ASSERT_EQ(line.size(), 255u);
        EXPECT_EQ(line.find_first_not_of(line[0]), std::string::npos);
        pos = end + 2;
        ++lines;
    }
    EXPECT_EQ(lines, 400);

    CScoreLog closed(folder.path() / "no" / "such" / "folder.log");
    EXPECT_FALSE(closed.isOpen());
    closed.writeLine("dropped");
}

TEST(VxmlFileTreeTest, NewObjectAndNewRecordsHaveTheirDefaults) {
    CVxmlFile file;
    EXPECT_EQ(file.getCurrentSystem(), -1);
    EXPECT_EQ(file.getCurrentStaff(), -1);
    EXPECT_EQ(file.getCurrentVoice(), -1);
    EXPECT_EQ(file.convProps, -1);
    EXPECT_EQ(file.playmode, 5);
    EXPECT_EQ(file.beamTicks, 0);
    EXPECT_EQ(file.beamState, kBeamNone);
    EXPECT_EQ(file.layoutScale, 1.0);
    EXPECT_EQ(file.staffLayoutName(3), "Stv3");
    EXPECT_EQ(file.getSystemCount(), 0);
    EXPECT_EQ(file.getSystemStaffCount(), 0);
    EXPECT_EQ(file.getStaffVoiceCount(), 0);

    ASSERT_TRUE(file.addSystem());
    CDomNodeGroup& system = file.systems[0];
    EXPECT_EQ(system.tempo, 120);
    EXPECT_EQ(system.beamGrouping, 3);
    ASSERT_TRUE(system.addItem(240));
    const CDomNodeItem& staff = system.items[0];
    EXPECT_EQ(staff.valid, 1);
    EXPECT_EQ(staff.clef.kind, 0);
    EXPECT_EQ(staff.clef.line, 0);
    EXPECT_EQ(staff.key, 0);
    EXPECT_EQ(staff.timeSig.ticksPerBar, 960);  // 4/4 at the given resolution
    EXPECT_EQ(staff.barline.type, -1);

    CVxmlStaffLayout layout;
    layout.description = "Stv1";
    ASSERT_TRUE(layout.addDrumMapEntry(-5, 300));
    EXPECT_EQ(layout.drumMap[0].sourceKey, 0);
    EXPECT_EQ(layout.drumMap[0].targetKey, 127);
    layout.reset();
    EXPECT_EQ(layout.drumMapCount(), 0);
    EXPECT_EQ(layout.description, "");
    EXPECT_EQ(layout.notelines, "5");
    EXPECT_EQ(layout.barlineMode, "full");
    EXPECT_EQ(layout.barlineFrom, 3);
    EXPECT_EQ(layout.barlineTo, 7);
    EXPECT_EQ(layout.volume, 74);
}

TEST(VxmlFileTreeTest, AccessorsFollowTheCursorAndIgnoreIndicesOutsideTheTree) {
    CVxmlFile file;
    for (int s = 0; s < 2; ++s) {
        ASSERT_TRUE(file.addSystem());
        file.systems[static_cast<std::size_t>(s)].tempo = 100 + s;
        file.systems[static_cast<std::size_t>(s)].lastBar = 10 + s;
        for (int st = 0; st <= s; ++st) {
            ASSERT_TRUE(file.systems[static_cast<std::size_t>(s)].addItem());
            CDomNodeItem& item = file.systems[static_cast<std::size_t>(s)].items.back();
            for (int v = 0; v < 2; ++v) ASSERT_TRUE(item.addVoice());
            item.voices[1].stemDir = 2;
        }
    }
    file.setCursor(1, 1, 1);
    EXPECT_EQ(file.getSystemStaffCount(), 2);
    EXPECT_EQ(file.getStaffVoiceCount(), 2);
    EXPECT_EQ(file.getSystemLastBar(), 11);
    EXPECT_EQ(file.getSystemTempo(), 101);
    EXPECT_EQ(file.getSystemTempo(0), 100);
    EXPECT_EQ(file.getVoiceCount(0, 0), 2);
    EXPECT_EQ(file.getVoiceStemDir(), 2);
    file.setVoiceTick(480);
    file.addVoiceTick(240);
    EXPECT_EQ(file.getVoiceTick(), 720);
    EXPECT_EQ(file.getVoiceTick(1, 1, 1), 720);
    EXPECT_EQ(file.getVoiceTick(1, 1, 0), 0);
    file.setSystemInt(7);
    EXPECT_EQ(file.getSystemInt(1), 7);
    ASSERT_NE(file.getSystemBarNumbering(), nullptr);
    ASSERT_NE(file.getStaffClef(0, 0), nullptr);
    ASSERT_NE(file.getStaffKey(), nullptr);
    ASSERT_NE(file.getStaffTimeSig(), nullptr);

    // Outside the tree: neutral answers, setters do nothing.
    const int bad[][3] = {{2, 0, 0}, {0, 1, 0}, {0, 0, 2}, {-2, 0, 0}, {0, -5, 0}, {1, 1, 9}};
    for (const auto& b : bad) {
        EXPECT_EQ(file.getVoiceTick(b[0], b[1], b[2]), 0);
        EXPECT_EQ(file.getVoiceStemDir(b[0], b[1], b[2]), 0);
        EXPECT_EQ(file.getNoteObjectsNode(b[0], b[1], b[2]), nullptr);
        file.resetAccidentals(3, b[0], b[1], b[2]);
    }
    EXPECT_EQ(file.getVoiceCount(0, 1), 0);
    EXPECT_EQ(file.getStaffNodeChecked(0, 1), nullptr);
    EXPECT_EQ(file.getStaffClef(5, 0), nullptr);
    EXPECT_EQ(file.getSystemBarNumbering(2), nullptr);
    EXPECT_EQ(file.getSystemTempo(2), 0);
    file.setSystemInt(9, 2);
    file.nextSystem();
    EXPECT_EQ(file.getSystemStaffCount(), 0);
    file.addVoiceTick(5);  // cursor outside: nothing happens
    xmlNodePtr first = nullptr;
    EXPECT_EQ(file.getFirstNoteObject(&first), kErrNotPresent);
    file.resetCursor();
    EXPECT_EQ(file.getCurrentSystem(), -1);

    file.systems[1].clear();
    EXPECT_EQ(file.systems[1].itemCount(), 0);
    EXPECT_EQ(file.systems[1].tempo, 120);
    EXPECT_EQ(file.systems[1].lastBar, 0);
}

TEST(VxmlFileTreeTest, ResetAccidentalsMarksTheKeyInEveryRow) {
    const struct {
        int fifths;
        const char* marked;  // steps "cdefgab" marked
        int mark;
    } cases[] = {
        {-2, "eb", -4},    {3, "cfg", 3},        {-7, "cdefgab", -4},
        {9, "cdefgab", 3}, {-12, "cdefgab", -4}, {0, "", 0},
    };
    for (const auto& c : cases) {
        CVxmlFile file;
        ASSERT_TRUE(file.addSystem());
        ASSERT_TRUE(file.systems[0].addItem());
        ASSERT_TRUE(file.systems[0].items[0].addVoice());
        CVxmlVoice& voice = file.systems[0].items[0].voices[0];
        voice.accidentals[4][2] = 1;  // an alteration seen earlier goes
        file.resetAccidentals(c.fifths, 0, 0, 0);
        for (int row = 0; row < CVxmlVoice::kAccidentalRows; ++row) {
            for (int step = 0; step < CVxmlVoice::kSteps; ++step) {
                const bool marked =
                    std::string_view(c.marked).find("cdefgab"[step]) != std::string_view::npos;
                EXPECT_EQ(voice.accidentals[static_cast<std::size_t>(row)]
                                           [static_cast<std::size_t>(step)],
                          marked ? c.mark : 0)
                    << "fifths " << c.fifths << " row " << row << " step "
                    << "cdefgab"[step];
            }
        }
    }
}

TEST(VxmlFileSignalTest, ConvPropsStopSignalBeamAndProgress) {
    CVxmlFile file;
    EXPECT_TRUE(file.testConvProps(kConvWords));
    file.setConvProps(kConvArticulations | kConvLyrics);
    EXPECT_TRUE(file.testConvProps(kConvLyrics));
    EXPECT_FALSE(file.testConvProps(kConvDynamics));

    int out = 0;
    EXPECT_FALSE(file.isStopRequested(&out));
    int signal = 0;
    file.signal = &signal;
    EXPECT_FALSE(file.isStopRequested(&out));
    signal = 1;
    EXPECT_TRUE(file.isStopRequested(&out));
    EXPECT_EQ(out, kErrStopped);
    EXPECT_TRUE(file.isStopRequested(nullptr));

    file.beamTicks = 300;
    file.beamState = kBeamContinue;
    file.resetBeam();
    EXPECT_EQ(file.beamTicks, 0);
    EXPECT_EQ(file.beamState, kBeamNone);

    EXPECT_FALSE(file.postProgress(3, 1));
    platform::MessageTarget* window = nullptr;
    file.setCallbackWindow(&window);
    EXPECT_FALSE(file.postProgress(3, 1));
    platform::RecordingMessageTarget first;
    platform::RecordingMessageTarget second;
    window = &first;
    EXPECT_TRUE(file.postProgress(4, 12));
    window = &second;  // the host switched windows
    EXPECT_TRUE(file.postProgress(3, 5));
    ASSERT_EQ(first.count(), 1u);
    ASSERT_EQ(second.count(), 1u);
    const platform::RecordedMessage m = first.messages()[0];
    EXPECT_EQ(m.msg, platform::WM_MXML_PROGRESS);
    EXPECT_EQ(m.wParam, 4u);
    EXPECT_EQ(m.lParam, 12);
    EXPECT_EQ(m.delivery, platform::Delivery::Posted);

    file.destroy();
    EXPECT_EQ(file.signal, nullptr);
    EXPECT_EQ(file.progressWindow, nullptr);
}

TEST(VxmlFileLayoutTest, StaffLayoutsAreFoundInReadAndInBuiltDocuments) {
    CVxmlFile read;
    ASSERT_EQ(read.getProps(kData / "score10.tvrx"), kOk);
    int count = 0;
    std::vector<xmlNodePtr> nodes;
    ASSERT_EQ(read.getLayoutStaffNum(&count, &nodes), kOk);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(read.staffLayoutCount, 2);
    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_EQ(xmldomAttribute(nodes[0], "description"), "Stv1");
    EXPECT_EQ(xmldomAttribute(nodes[1], "description"), "Stv2");
    EXPECT_EQ(xmldomNodeName(read.stavesNode), "staves");

    // Built in memory: the children of the root carry no namespace.
    CVxmlFile built;
    buildInfo(built, {});
    EXPECT_EQ(built.getLayoutStaffNum(&count, nullptr), kErrIndex);
    xmlNodePtr layout = nullptr;
    xmlNodePtr staves = nullptr;
    ASSERT_EQ(
        xmldomAppendElement(XmlElementArgs(built.document, built.root, "layout").out(&layout)),
        kOk);
    ASSERT_EQ(xmldomAppendChild(built.document, built.root, layout, 1, true, true), kOk);
    ASSERT_EQ(
        xmldomAppendElement(XmlElementArgs(built.document, layout, "staves").depth(2).indent()),
        kOk);
    staves = layout->last;
    EXPECT_EQ(built.getLayoutStaffNum(&count, nullptr), kErrIndex);  // no staff layout yet
    for (int i = 1; i <= 3; ++i) {
        ASSERT_EQ(xmldomAppendElement(XmlElementArgs(built.document, staves, "staffLayout")
                                          .attr("description", built.staffLayoutName(i))
                                          .depth(3)
                                          .indent()),
                  kOk);
    }
    ASSERT_EQ(built.getLayoutStaffNum(&count, nullptr), kOk);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(built.stavesNode, staves);

    CVxmlFile none;
    EXPECT_EQ(none.getLayoutStaffNum(&count, nullptr), kErrIndex);
    EXPECT_EQ(count, 0);

    none.staffLayouts.resize(3);
    none.staffLayouts[1].description = "Stv2";
    none.staffLayouts[2].description = "Stv2";
    EXPECT_EQ(none.getLayoutPosOfStaff("Stv2"), 1);
    EXPECT_EQ(none.getLayoutPosOfStaff("stv2"), -1);
    EXPECT_EQ(none.getLayoutPosOfStaff("Stv9"), -1);
}

TEST(VxmlFileLifecycleTest, DestroyReleasesADocumentThatStillHoldsContent) {
    // Run under the leak checker: detached elements held by the tree go too.
    const auto fill = [](CVxmlFile& file) {
        xmlNodePtr root = nullptr;
        ASSERT_EQ(xmldomCreateFile({}, file.document, root, kXmlDocNewTvrxml), kOk);
        file.root = root;
        ASSERT_EQ(xmldomAppendElement(
                      XmlElementArgs(file.document, nullptr, "systems").out(&file.systemsNode)),
                  kOk);
        ASSERT_TRUE(file.addSystem());
        CDomNodeGroup& system = file.systems[0];
        ASSERT_EQ(
            xmldomAppendElement(XmlElementArgs(file.document, nullptr, "system").out(&system.node)),
            kOk);
        ASSERT_EQ(xmldomAppendElement(
                      XmlElementArgs(file.document, nullptr, "staves").out(&system.stavesNode)),
                  kOk);
        ASSERT_TRUE(system.addItem());
        ASSERT_TRUE(system.items[0].addVoice());
        CVxmlVoice& voice = system.items[0].voices[0];
        ASSERT_EQ(xmldomAppendElement(
                      XmlElementArgs(file.document, nullptr, "voice").out(&voice.voiceNode)),
                  kOk);
        ASSERT_EQ(
            xmldomAppendElement(
                XmlElementArgs(file.document, nullptr, "noteObjects").out(&voice.noteObjectsNode)),
            kOk);
        // Half attached, as a failed build leaves it.
        ASSERT_EQ(
            xmldomAppendChild(file.document, voice.voiceNode, voice.noteObjectsNode, 7, true, true),
            kOk);
        ASSERT_EQ(xmldomAppendChild(file.document, system.node, system.stavesNode, 3, true, true),
                  kOk);
        file.staffLayouts.resize(2);
        file.staffLayoutCount = 2;
        file.setCursor(0, 0, 0);
        file.path = "x.tvrx";
    };
    CVxmlFile file;
    fill(file);
    file.destroy();
    EXPECT_FALSE(file.document);
    EXPECT_EQ(file.root, nullptr);
    EXPECT_EQ(file.systemsNode, nullptr);
    EXPECT_EQ(file.getSystemCount(), 0);
    EXPECT_TRUE(file.staffLayouts.empty());
    EXPECT_EQ(file.staffLayoutCount, 0);
    EXPECT_EQ(file.getCurrentSystem(), -1);
    EXPECT_TRUE(file.path.empty());

    CVxmlFile dropped;  // freed without destroy
    fill(dropped);
}
