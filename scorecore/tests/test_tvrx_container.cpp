#include "scorecore/tvrx_container.h"

#include "platform_testing/temp_folder.h"
#include "scorecore/result_codes.h"
#include "scorecore/vxml_file.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>
#include "platform_testing/file_bytes.h"

using namespace scorecore;
namespace fs = std::filesystem;

namespace {

using platform::testing::readBytes;
using platform::testing::writeBytes;

const fs::path kData = QVP3_TEST_DATA_DIR;

std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder))
        files.push_back(entry.path().filename());
    return files;
}

// Sets the uncompressed size that the local header and the central directory of
// a one-entry archive claim.
void patchClaimedSize(std::string& zip, std::uint32_t size) {
    const auto put = [&zip, size](std::size_t at) {
        for (int i = 0; i < 4; ++i)
            zip[at + static_cast<std::size_t>(i)] = static_cast<char>((size >> (8 * i)) & 0xFF);
    };
    const std::size_t local = zip.find("PK\x03\x04");
    const std::size_t central = zip.find("PK\x01\x02");
    ASSERT_NE(local, std::string::npos);
    ASSERT_NE(central, std::string::npos);
    put(local + 22);
    put(central + 24);
}

std::string sampleXml(const std::string& marker) {
    std::string xml = "<?xml version='1.0' encoding='ISO-8859-1' standalone='yes'?>\n<score>";
    for (int i = 0; i < 2000; ++i) xml += "<m>" + marker + "</m>";
    return xml + "</score>\n";
}

}  // namespace

TEST(TvrxContainerTest, WrittenContainerHoldsOneDeflatedScoreXml) {
    platform::testing::TempFolder folder;
    const fs::path target = folder.path() / "out.tvrx";
    const std::string xml = sampleXml("written");
    ASSERT_EQ(writeTvrxContainer(target, xml), kOk);

    int error = 0;
    zip_t* archive = zip_open(target.c_str(), ZIP_RDONLY, &error);
    ASSERT_NE(archive, nullptr);
    EXPECT_EQ(zip_get_num_entries(archive, 0), 1);
    zip_stat_t st;
    zip_stat_init(&st);
    ASSERT_EQ(zip_stat_index(archive, 0, 0, &st), 0);
    EXPECT_STREQ(st.name, "score.xml");
    EXPECT_EQ(st.comp_method, ZIP_CM_DEFLATE);
    EXPECT_EQ(st.size, xml.size());
    EXPECT_LT(st.comp_size, st.size);
    zip_discard(archive);

    std::string back;
    ASSERT_EQ(readTvrxContainer(target, back), kOk);
    EXPECT_EQ(back, xml);
    // Nothing but the target is left in the folder.
    EXPECT_EQ(filesIn(folder.path()), std::vector<fs::path>{"out.tvrx"});
}

TEST(TvrxContainerTest, ReadingPicksScoreXmlOrTheOnlyEntry) {
    const struct {
        const char* file;
        int rc;
        const char* contains;
    } cases[] = {
        {"score10.tvrx", kOk, "TvrXML/1.0"},
        {"score20.tvrx", kOk, "TvrXML/2.0"},
        {"two_entries.tvrx", kOk, "TvrXML/1.0"},     // "score.xml" beside another entry
        {"evil_entry.tvrx", kOk, "TvrXML/1.0"},      // the only entry, whatever its name
        {"not_tvrxml.tvrx", kOk, "score-partwise"},  // a zip; what it holds is checked later
        {"two_other_entries.tvrx", kErrCannotOpen, ""},
        {"not_a_zip.tvrx", kErrCannotOpen, ""},
        {"missing.tvrx", kErrCannotOpen, ""},
    };
    for (const auto& c : cases) {
        std::string xml = "stale";
        EXPECT_EQ(readTvrxContainer(kData / c.file, xml), c.rc) << c.file;
        if (c.rc == kOk) {
            EXPECT_NE(xml.find(c.contains), std::string::npos) << c.file;
        } else {
            EXPECT_TRUE(xml.empty()) << c.file;
        }
    }
    platform::testing::TempFolder folder;
    std::string xml;
    EXPECT_EQ(readTvrxContainer(folder.path(), xml), kErrCannotOpen);  // a folder
    writeBytes(folder.path() / "empty.tvrx", "");
    EXPECT_EQ(readTvrxContainer(folder.path() / "empty.tvrx", xml), kErrCannotOpen);
}

TEST(TvrxContainerTest, EntryNamesAreNeverUsedAsPaths) {
    platform::testing::TempFolder folder;
    const fs::path work = folder.path() / "work";
    fs::create_directories(work);
    fs::copy_file(kData / "evil_entry.tvrx", work / "evil_entry.tvrx");
    const auto previous = fs::current_path();
    fs::current_path(work);
    CVxmlFile file;
    const int rc = file.getProps(work / "evil_entry.tvrx");
    fs::current_path(previous);
    EXPECT_EQ(rc, kOk);
    EXPECT_FALSE(fs::exists(folder.path() / "evil"));
    EXPECT_EQ(filesIn(work), std::vector<fs::path>{"evil_entry.tvrx"});
}

TEST(TvrxContainerTest, EntrySizeIsCappedWhateverTheArchiveClaims) {
    platform::testing::TempFolder folder;
    const fs::path honest = folder.path() / "honest.tvrx";
    const std::string xml = sampleXml("size");
    ASSERT_EQ(writeTvrxContainer(honest, xml), kOk);
    std::string out;
    EXPECT_EQ(readTvrxContainer(honest, out, xml.size()), kOk);
    EXPECT_EQ(readTvrxContainer(honest, out, xml.size() - 1), kErrCannotOpen);

    // Claims a small size but inflates to more: reading stops at the cap.
    std::string zip = readBytes(honest);
    patchClaimedSize(zip, 100);
    const fs::path liar = folder.path() / "liar.tvrx";
    writeBytes(liar, zip);
    EXPECT_EQ(readTvrxContainer(liar, out, 200), kErrCannotOpen);
    EXPECT_EQ(readTvrxContainer(liar, out), kErrCannotOpen);

    // Claims more than the default cap.
    patchClaimedSize(zip, static_cast<std::uint32_t>(kMaxTvrxEntryBytes + 1));
    const fs::path huge = folder.path() / "huge.tvrx";
    writeBytes(huge, zip);
    EXPECT_EQ(readTvrxContainer(huge, out), kErrCannotOpen);
    EXPECT_TRUE(out.empty());
}

TEST(TvrxContainerTest, FailedWriteLeavesNoContainerAndKeepsTheOldOne) {
    platform::testing::TempFolder folder;
    // A folder that does not exist: nothing is created.
    EXPECT_EQ(writeTvrxContainer(folder.path() / "none" / "x.tvrx", "<score/>"), kErrWrite);
    EXPECT_FALSE(fs::exists(folder.path() / "none"));

    // A target that cannot be replaced (a folder) stays, and no temporary file remains.
    const fs::path blocked = folder.path() / "blocked.tvrx";
    fs::create_directories(blocked);
    EXPECT_EQ(writeTvrxContainer(blocked, "<score/>"), kErrWrite);
    EXPECT_TRUE(fs::is_directory(blocked));
    EXPECT_EQ(filesIn(folder.path()), std::vector<fs::path>{"blocked.tvrx"});

    // A document that cannot be written leaves an existing container as it was.
    const fs::path existing = folder.path() / "old.tvrx";
    writeBytes(existing, "old bytes");
    CVxmlFile empty;
    EXPECT_EQ(empty.writeFile(existing), kErrWrite);
    EXPECT_EQ(readBytes(existing), "old bytes");
}

TEST(TvrxContainerTest, ConversionsAtOnceNeverMixTheirOutput) {
    platform::testing::TempFolder folder;
    const auto convert = [&folder](const std::string& marker, int rounds) {
        for (int i = 0; i < rounds; ++i) {
            CVxmlFile file;
            xmlNodePtr root = nullptr;
            if (xmldomCreateFile({}, file.document, root, kXmlDocNewTvrxml) != kOk) return;
            file.root = root;
            for (int k = 0; k < 200; ++k) {
                xmldomAppendElement(
                    XmlElementArgs(file.document, root, "m").depth(1).text(marker).indent());
            }
            if (file.writeFile(folder.path() / (marker + ".tvrx")) != kOk) return;
        }
    };
    std::thread first(convert, "first", 25);
    std::thread second(convert, "second", 25);
    first.join();
    second.join();

    for (const std::string marker : {"first", "second"}) {
        const std::string other = marker == "first" ? "second" : "first";
        std::string xml;
        ASSERT_EQ(readTvrxContainer(folder.path() / (marker + ".tvrx"), xml), kOk);
        EXPECT_NE(xml.find("<m>" + marker + "</m>"), std::string::npos);
        EXPECT_EQ(xml.find("<m>" + other + "</m>"), std::string::npos);
    }
}
