#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <random>
#include <sys/resource.h>

#include "platform/ini_file.h"
#include "platform/text.h"
#include "platform_testing/temp_folder.h"
#include "platform_testing/file_bytes.h"

namespace platform {
namespace {

using platform::testing::readBytes;
using platform::testing::writeBytes;

namespace fs = std::filesystem;
using testing::TempFolder;

IniDocument parsed(std::string_view text) {
    IniDocument doc;
    doc.parse(text);
    return doc;
}

TEST(IniRead, NamesValuesAndDuplicatesFollowTheProfileRules) {
    const IniDocument doc = parsed(
        "top=before any section\n"
        "[Main]\n"
        "Title =  Sonata in C  \n"
        "Quoted=\"  kept spaces \"\n"
        "Single='x'\n"
        "Inner=a \"b\" c\n"
        "Half=\"open\n"
        "Empty=\n"
        "title=second spelling loses\n"
        "; comment=not a key\n"
        "garbage line without equals\n"
        "[ main ]\n"
        "Extra=from the duplicate section\n"
        "[Other]\r\n"
        "Key=crlf\r\n");
    struct Case {
        const char* section;
        const char* key;
        std::optional<std::string> value;
    } cases[] = {
        {"main", "TITLE", "Sonata in C"},
        {"MAIN", "quoted", "  kept spaces "},
        {"Main", "Single", "x"},
        {"Main", "Inner", "a \"b\" c"},
        {"Main", "Half", "\"open"},
        {"Main", "Empty", ""},
        {"Main", "; comment", std::nullopt},
        {"Main", "Extra", std::nullopt},  // the first section of a name wins
        {"Other", "key", "crlf"},
        {"Missing", "Key", std::nullopt},
        {"", "top", std::nullopt},  // lines before the first header belong to no section
    };
    for (const auto& c : cases) {
        EXPECT_EQ(doc.getString(c.section, c.key), c.value) << c.section << "/" << c.key;
    }
    EXPECT_EQ(doc.sectionNames(), (std::vector<std::string>{"Main", "Other"}));
    EXPECT_EQ(doc.keyNames("main"), (std::vector<std::string>{"Title", "Quoted", "Single", "Inner", "Half", "Empty"}));
    EXPECT_EQ(doc.getString("main", "Missing", "default"), "default");
}

TEST(IniRead, IntegersFollowTheWindowsConversion) {
    const IniDocument doc = parsed(
        "[S]\nplain=42\nneg=-1\ntrail=12abc\nword=abc\nempty=\nspaces=  7  \nhex=0x1F\n"
        "plus=+5\nquoted=\"9\"\nhuge=4294967297\nminus0=-0\n");
    struct Case {
        const char* key;
        int expected;
    } cases[] = {
        {"plain", 42}, {"neg", -1}, {"trail", 12}, {"word", 0}, {"empty", -7}, {"spaces", 7},
        {"hex", 31}, {"plus", 5}, {"quoted", 9}, {"huge", 1}, {"minus0", 0}, {"missing", -7},
    };
    for (const auto& c : cases) EXPECT_EQ(doc.getInt("S", c.key, -7), c.expected) << c.key;
}

TEST(IniStruct, StoresUpperCaseHexWithAChecksumByte) {
    const std::uint8_t data[] = {0x00, 0x7F, 0xAB, 0xFF};
    EXPECT_EQ(encodeIniStruct(data), "007FABFF29");  // 0x7F+0xAB+0xFF = 0x229
    EXPECT_EQ(encodeIniStruct({}), "00");

    IniDocument doc;
    doc.setStruct("S", "Blob", data);
    std::uint8_t out[4] = {};
    ASSERT_TRUE(doc.getStruct("S", "Blob", out));
    EXPECT_TRUE(std::equal(std::begin(out), std::end(out), std::begin(data)));
    EXPECT_EQ(doc.structSize("S", "Blob"), 4u);
    EXPECT_FALSE(parsed("[S]\nv=ZZZZ\n").structSize("S", "v"));
}

TEST(IniStruct, RefusesValuesThatDoNotMatch) {
    struct Case {
        const char* stored;
        std::size_t requested;
        const char* why;
    } cases[] = {
        {"007FABFF28", 4, "checksum off by one"},
        {"107FABFF29", 4, "one data digit flipped"},
        {"007FABFF29", 3, "shorter request"},
        {"007FABFF29", 5, "longer request"},
        {"007FABFG29", 4, "not a hex digit"},
        {"007FABFF2", 4, "odd length"},
        {"", 0, "empty value"},
    };
    for (const auto& c : cases) {
        const IniDocument doc = parsed(std::string("[S]\nBlob=") + c.stored + "\n");
        std::vector<std::uint8_t> out(c.requested, 0xEE);
        EXPECT_FALSE(doc.getStruct("S", "Blob", out)) << c.why;
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](auto b) { return b == 0xEE; })) << c.why;
    }
    std::uint8_t lower[4];
    EXPECT_TRUE(parsed("[S]\nBlob=007fabff29\n").getStruct("S", "Blob", lower));
}

TEST(IniWrite, KeepsCommentsUnknownLinesAndOrderWhenRewriting) {
    IniDocument doc = parsed(
        "; header comment\n[Main]\nA=1\n# other comment\nB=2\nnot a key\n\n[Next]\nC=3\n");
    doc.setString("main", "b", "20");  // existing key keeps its spelling and place
    doc.setString("Main", "New", "x");
    doc.setInt("Fresh", "N", -5);
    EXPECT_TRUE(doc.deleteKey("next", "c"));
    EXPECT_FALSE(doc.deleteKey("next", "c"));
    EXPECT_EQ(doc.serialize(),
              "; header comment\r\n[Main]\r\nA=1\r\n# other comment\r\nB=20\r\nNew=x\r\nnot a key\r\n\r\n"
              "[Next]\r\n[Fresh]\r\nN=-5\r\n");
    EXPECT_TRUE(doc.deleteSection("NEXT"));
    EXPECT_FALSE(doc.hasSection("Next"));
    EXPECT_TRUE(doc.dirty());
}

TEST(IniWrite, DeletingRemovesDuplicatesThatWouldOtherwiseSurface) {
    IniDocument doc = parsed("[S]\nK=1\nk=2\n[s]\nK=3\n");
    doc.deleteKey("S", "K");
    EXPECT_FALSE(doc.getString("S", "K"));
    doc.deleteSection("S");
    EXPECT_TRUE(doc.sectionNames().empty());
}

// A value taken from a file (a track name, a file name) may hold line breaks;
// written as they are, the rest of the value would become keys and sections.
TEST(IniWrite, LineBreaksInAValueNeverSplitTheEntry) {
    IniDocument doc = parsed("[S]\nA=1\n");
    doc.setString("S", "A", "x\r\n[Evil]\r\nA=2");
    doc.setString("S", "New\nKey", "y\rz");
    doc.writeSection("T", {{"K", "1\n[S]\nA=3"}});
    const IniDocument again = parsed(doc.serialize());
    EXPECT_EQ(again.sectionNames(), (std::vector<std::string>{"S", "T"}));
    EXPECT_EQ(again.getString("S", "A"), "x  [Evil]  A=2");
    EXPECT_EQ(again.getString("S", "New Key"), "y z");
    EXPECT_EQ(again.getString("T", "K"), "1 [S] A=3");
}

TEST(IniWrite, WholeSectionReadAndWrite) {
    IniDocument doc = parsed("[S]\nA=\"1\"\n; note\nB=2\n[T]\nC=3\n");
    EXPECT_EQ(doc.readSection("s"), (std::vector<std::pair<std::string, std::string>>{{"A", "\"1\""}, {"B", "2"}}));
    doc.writeSection("S", {{"X", "9"}, {"Y", "8"}});
    EXPECT_EQ(doc.serialize(), "[S]\r\nX=9\r\nY=8\r\n[T]\r\nC=3\r\n");
}

TEST(IniEncoding, TheSameContentReadsTheSameInEveryEncoding) {
    const fs::path data = QVP3_TEST_DATA_DIR;
    const struct {
        const char* file;
        IniEncoding encoding;
    } files[] = {
        {"latin1_project.ini", IniEncoding::Cp1252},
        {"utf16le_project.ini", IniEncoding::Utf16Le},
        {"utf8bom_project.ini", IniEncoding::Utf8Bom},
        {"utf8_project.ini", IniEncoding::Utf8},
    };
    for (const auto& f : files) {
        IniDocument doc;
        ASSERT_EQ(doc.load(data / f.file), IniStatus::Ok) << f.file;
        EXPECT_EQ(doc.sourceEncoding(), f.encoding) << f.file;
        EXPECT_EQ(doc.getString("ZQ1 PROJECT FILE", "ProjectTitle"), "Klänge – Etude") << f.file;
        EXPECT_EQ(doc.getInt("zq1 Project File", "FileNum", -1), 2) << f.file;
        EXPECT_EQ(doc.getString("Project File 01", "Filename"), "C:\\Users\\Anna\\Music\\Sonate.xml") << f.file;
        EXPECT_EQ(doc.getString("Project File 01", "ProjectDescription"), "  spaced  ") << f.file;
    }
}

TEST(IniEncoding, FilesAreWrittenBackInTheirOwnEncoding) {
    TempFolder tmp;
    const fs::path data = QVP3_TEST_DATA_DIR;
    for (const char* name : {"latin1_project.ini", "utf16le_project.ini", "utf8bom_project.ini"}) {
        const fs::path copy = tmp.path() / name;
        fs::copy_file(data / name, copy);
        IniDocument doc;
        ASSERT_EQ(doc.load(copy), IniStatus::Ok);
        doc.setString("Project File 01", "Filename", "C:\\Musik\\Übung.xml");
        ASSERT_EQ(doc.save(copy), IniStatus::Ok);
        IniDocument again;
        ASSERT_EQ(again.load(copy), IniStatus::Ok);
        EXPECT_EQ(again.sourceEncoding(), doc.sourceEncoding()) << name;
        EXPECT_EQ(again.getString("Project File 01", "Filename"), "C:\\Musik\\Übung.xml") << name;
    }
    // A file written unchanged keeps its bytes when it was CRLF already.
    IniDocument doc;
    ASSERT_EQ(doc.load(data / "utf16le_project.ini"), IniStatus::Ok);
    EXPECT_EQ(doc.serialize(), readBytes(data / "utf16le_project.ini"));
}

TEST(IniEncoding, NewFilesAreWindows1252WhenTheyFitElseUtf16) {
    TempFolder tmp;
    IniDocument latin;
    latin.setString("Project", "Title", "Für Elise");
    ASSERT_EQ(latin.save(tmp.path() / "latin.ini"), IniStatus::Ok);
    EXPECT_EQ(readBytes(tmp.path() / "latin.ini"), "[Project]\r\nTitle=F\xFCr Elise\r\n");

    IniDocument cyrillic;
    cyrillic.setString("Project", "Title", "Щелкунчик");
    ASSERT_EQ(cyrillic.save(tmp.path() / "cyr.ini"), IniStatus::Ok);
    const std::string bytes = readBytes(tmp.path() / "cyr.ini");
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(utf16ToUtf8(utf16leBytesToString(bytes.substr(2))), "[Project]\r\nTitle=Щелкунчик\r\n");

    // A Windows-1252 file that is given such a value moves to UTF-16 rather than lose it.
    IniDocument upgraded;
    ASSERT_EQ(upgraded.load(tmp.path() / "latin.ini"), IniStatus::Ok);
    upgraded.setString("Project", "Composer", "Чайковский");
    EXPECT_EQ(upgraded.saveEncoding(), IniEncoding::Utf16Le);
}

TEST(IniFile, MissingFileIsAnEmptyDocumentAndAnUnreadableOneIsNeverOverwritten) {
    TempFolder tmp;
    IniDocument doc;
    EXPECT_EQ(doc.load(tmp.path() / "none.ini"), IniStatus::NotFound);
    EXPECT_EQ(iniGetInt(tmp.path() / "none.ini", "S", "K", 1000), 1000);

    fs::create_directory(tmp.path() / "dir.ini");
    EXPECT_EQ(doc.load(tmp.path() / "dir.ini"), IniStatus::ReadError);
    doc.setString("S", "K", "v");
    EXPECT_EQ(doc.save(tmp.path() / "dir.ini"), IniStatus::WriteError);
    EXPECT_FALSE(iniWriteString(tmp.path() / "dir.ini", "S", "K", "v"));
}

TEST(IniFile, OneShotWritersChangeOneValueAndDeleteKeys) {
    TempFolder tmp;
    const fs::path file = tmp.path() / "p.ini";
    ASSERT_TRUE(iniWriteString(file, "S", "A", "1"));
    ASSERT_TRUE(iniWriteString(file, "S", "B", "two"));
    const std::uint8_t bytes[] = {1, 2, 3};
    ASSERT_TRUE(iniWriteStruct(file, "S", "C", bytes));
    ASSERT_TRUE(iniWriteString(file, "S", "A", std::nullopt));
    EXPECT_EQ(readBytes(file), "[S]\r\nB=two\r\nC=01020306\r\n");
    EXPECT_EQ(iniGetString(file, "s", "b", ""), "two");
    std::uint8_t out[3];
    EXPECT_TRUE(iniGetStruct(file, "S", "C", out));
    ASSERT_TRUE(iniDeleteSection(file, "S"));
    EXPECT_EQ(readBytes(file), "");
}

// A save that fails midway (here: the file size limit strikes while the
// temporary file is written) must leave the old file exactly as it was.
TEST(IniFile, AFailedSaveLeavesTheOldFileIntact) {
    TempFolder tmp;
    const fs::path file = tmp.path() / "project.c-1";
    const std::string old = "[zq1 Project File]\r\nFileNum=1\r\n";
    writeBytes(file, old);

    IniDocument doc;
    ASSERT_EQ(doc.load(file), IniStatus::Ok);
    for (int i = 0; i < 2000; ++i) doc.setString("Big", "Key" + std::to_string(i), std::string(64, 'x'));

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const IniStatus status = doc.save(file, &error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(status, IniStatus::WriteError);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readBytes(file), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 1)
        << "the temporary file was left behind";
    EXPECT_TRUE(doc.dirty());
}

TEST(IniFile, ThousandsOfKeysRoundTripInOneSave) {
    TempFolder tmp;
    IniDocument doc;
    for (int s = 0; s < 50; ++s) {
        for (int k = 0; k < 100; ++k) {
            doc.setInt("Project File " + std::to_string(s), "Track" + std::to_string(k) + "_Volume", s * 1000 + k);
        }
    }
    ASSERT_EQ(doc.save(tmp.path() / "big.c-1"), IniStatus::Ok);
    IniDocument again;
    ASSERT_EQ(again.load(tmp.path() / "big.c-1"), IniStatus::Ok);
    EXPECT_EQ(again.sectionNames().size(), 50u);
    EXPECT_EQ(again.getInt("PROJECT FILE 49", "track99_volume", -1), 49099);
    EXPECT_EQ(again.getInt("Project File 0", "Track0_Volume", -1), 0);
}

TEST(IniRobustness, DamagedFilesNeverCrash) {
    const std::string hugeLine = "[S]\nK=" + std::string(2 * 1024 * 1024, 'A') + "\n";
    const std::string cases[] = {
        std::string("\xFF\xFE[\0S\0]\0\n\0K", 11),       // UTF-16 cut inside a character
        std::string("\xFF\xFE\x00\xD8\x41\x00", 6),        // lone surrogate
        std::string("\0\0\0[S]\0K=\0v\n", 13),             // NUL bytes
        "[S\nK=v\n[]\n=v\n[\n]\n",                          // broken headers and keys
        "\r\r\r\n\n\r",
        hugeLine,
    };
    for (const auto& bytes : cases) {
        IniDocument doc;
        doc.parse(bytes);
        (void)doc.sectionNames();
        (void)doc.getInt("S", "K", 0);
        doc.setString("S", "New", "1");
        IniDocument again;
        again.parse(doc.serialize());
        EXPECT_EQ(again.getString("S", "New"), "1");
    }
    EXPECT_EQ(parsed(hugeLine).getString("S", "K")->size(), 2u * 1024 * 1024);
}

// Mutated copies of a real project file: parse, query, change and write
// again; under the sanitizer build this is the reader's fuzz test.
TEST(IniRobustness, MutatedFilesParseQueryAndRewrite) {
    const fs::path data = QVP3_TEST_DATA_DIR;
    const std::string seeds[] = {readBytes(data / "latin1_project.ini"), readBytes(data / "utf16le_project.ini")};
    std::mt19937 rng(1234);
    for (const auto& seed : seeds) {
        for (int round = 0; round < 3000; ++round) {
            std::string bytes = seed;
            const int edits = 1 + static_cast<int>(rng() % 8);
            for (int e = 0; e < edits && !bytes.empty(); ++e) {
                const std::size_t at = rng() % bytes.size();
                switch (rng() % 4) {
                case 0: bytes[at] = static_cast<char>(rng()); break;
                case 1: bytes.erase(at, 1 + rng() % 16); break;
                case 2: bytes.insert(at, std::string(1 + rng() % 4, "[]=\n\r;\"\0"[rng() % 8])); break;
                case 3: bytes.resize(at); break;
                }
            }
            IniDocument doc;
            doc.parse(bytes);
            for (const auto& section : doc.sectionNames()) {
                for (const auto& key : doc.keyNames(section)) {
                    (void)doc.getInt(section, key, 0);
                    std::uint8_t out[8];
                    (void)doc.getStruct(section, key, out);
                }
            }
            doc.setString("Project File 01", "Filename", "x");
            IniDocument again;
            again.parse(doc.serialize());
            ASSERT_EQ(again.getString("Project File 01", "Filename"), "x") << "round " << round;
        }
    }
}

}  // namespace
}  // namespace platform
