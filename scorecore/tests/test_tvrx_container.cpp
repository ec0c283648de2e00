#include "scorecore/tvrx_container.h"

#include "platform_testing/temp_folder.h"
#include "scorecore/result_codes.h"
#include "scorecore/vxml_file.h"

#include <gtest/gtest.h>
#include <zip.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <string>
#include <thread>
#include <utility>
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

// The bytes of a zip archive that libzip writes with these entries (name, data).
std::string zipImage(const fs::path& scratch,
                     const std::vector<std::pair<std::string, std::string>>& entries) {
    int error = 0;
    zip_t* archive = zip_open(scratch.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive == nullptr) return {};
    for (const auto& [name, data] : entries) {
        zip_source_t* source = zip_source_buffer(archive, data.data(), data.size(), 0);
        if (source == nullptr || zip_file_add(archive, name.c_str(), source, 0) < 0) {
            zip_source_free(source);
            zip_discard(archive);
            return {};
        }
    }
    if (zip_close(archive) < 0) {
        zip_discard(archive);
        return {};
    }
    return readBytes(scratch);
}

// Renames every entry called from (in the local headers and the central
// directory alike) to the name of the same length to, which libzip would
// refuse to write.
void renameEntries(std::string& zip, const std::string& from, const std::string& to) {
    ASSERT_EQ(from.size(), to.size());
    for (std::size_t at = zip.find(from); at != std::string::npos; at = zip.find(from, at))
        zip.replace(at, from.size(), to);
}

std::string sampleXml(const std::string& marker) {
    std::string xml = "<?xml version='1.0' encoding='ISO-8859-1' standalone='yes'?>\n<score>";
    for (int i = 0; i < 2000; ++i) xml += "<m>" + marker + "</m>";
    return xml + "</score>\n";
}

}  // namespace

// One block, and several deflated apart: the entry's header holds the text's
// size and CRC and says "strongest level", as any zip reader expects.
TEST(TvrxContainerTest, WrittenContainerHoldsOneDeflatedScoreXml) {
    platform::testing::TempFolder folder;
    std::string large;
    while (large.size() < 5 * 262144) large += sampleXml(std::to_string(large.size()));
    for (const std::string& xml : {sampleXml("written"), large}) {
        SCOPED_TRACE(xml.size());
        const fs::path target = folder.path() / "out.tvrx";
        ASSERT_EQ(writeTvrxContainer(target, xml), kOk);

        int error = 0;
        zip_t* archive = zip_open(target.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
        ASSERT_NE(archive, nullptr);
        EXPECT_EQ(zip_get_num_entries(archive, 0), 1);
        zip_stat_t st;
        zip_stat_init(&st);
        ASSERT_EQ(zip_stat_index(archive, 0, 0, &st), 0);
        EXPECT_STREQ(st.name, "score.xml");
        EXPECT_EQ(st.comp_method, ZIP_CM_DEFLATE);
        EXPECT_EQ(st.size, xml.size());
        EXPECT_LT(st.comp_size, st.size);
        EXPECT_EQ(st.crc, crc32(0, reinterpret_cast<const Bytef*>(xml.data()), static_cast<uInt>(xml.size())));
        zip_discard(archive);
        const std::string image = readBytes(target);
        ASSERT_EQ(image.compare(0, 4, "PK\x03\x04"), 0);
        EXPECT_EQ(image[6] & 0x06, 0x02) << "the level flags of the local header";

        std::string back;
        ASSERT_EQ(readTvrxContainer(target, back), kOk);
        EXPECT_EQ(back, xml);
        // Nothing but the target is left in the folder.
        EXPECT_EQ(filesIn(folder.path()), std::vector<fs::path>{"out.tvrx"});
    }
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

TEST(TvrxContainerTest, ReadingStopsOneBytePastTheClaimedSize) {
    platform::testing::TempFolder folder;
    const fs::path honest = folder.path() / "honest.tvrx";
    const std::string xml(4u << 20, ' ');
    ASSERT_EQ(writeTvrxContainer(honest, xml), kOk);
    const std::string image = readBytes(honest);

    const std::uint32_t claims[] = {0, 100, static_cast<std::uint32_t>(xml.size() - 1),
                                    static_cast<std::uint32_t>(xml.size() + 1)};
    for (const std::uint32_t claim : claims) {
        SCOPED_TRACE(claim);
        std::string zip = image;
        patchClaimedSize(zip, claim);
        const fs::path liar = folder.path() / "liar.tvrx";
        writeBytes(liar, zip);
        std::string out;
        EXPECT_EQ(readTvrxContainer(liar, out), kErrCannotOpen);
        EXPECT_TRUE(out.empty());
        // The output only ever held what the claim allows, not the whole entry.
        if (claim < 1000) {
            EXPECT_LT(out.capacity(), 1u << 20);
        }
    }
}

TEST(TvrxContainerTest, EntriesReadWholeAtEverySize) {
    platform::testing::TempFolder folder;
    // Around libzip's buffers and the 256 KB blocks that are deflated apart.
    const std::size_t sizes[] = {0, 1, 65535, 65536, 65537, 3 * 65536, 262143, 262144, 262145, 4 * 262144 + 7};
    for (const std::size_t size : sizes) {
        SCOPED_TRACE(size);
        std::string xml(size, 'x');
        for (std::size_t i = 0; i < size; i += 7) xml[i] = static_cast<char>('a' + i % 26);
        const fs::path target = folder.path() / "sized.tvrx";
        ASSERT_EQ(writeTvrxContainer(target, xml), kOk);
        std::string back = "stale";
        EXPECT_EQ(readTvrxContainer(target, back), kOk);
        EXPECT_EQ(back, xml);
        EXPECT_EQ(readTvrxContainer(target, back, size), kOk);
        EXPECT_EQ(back, xml);
    }
}

// Two entries named "score.xml": neither can be told to be the document.
TEST(TvrxContainerTest, TwoEntriesNamedScoreXmlAreRefused) {
    platform::testing::TempFolder folder;
    const std::string first = "<score>first</score>";
    const std::string second = "<score>second</score>";
    const struct {
        const char* what;
        std::vector<std::pair<std::string, std::string>> entries;
    } cases[] = {
        {"only the two", {{"score.xml", first}, {"score.xm_", second}}},
        {"beside another entry", {{"notes.txt", "n"}, {"score.xm_", first}, {"score.xml", second}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string zip = zipImage(folder.path() / "scratch.zip", c.entries);
        ASSERT_FALSE(zip.empty());
        renameEntries(zip, "score.xm_", "score.xml");
        const fs::path twice = folder.path() / "twice.tvrx";
        writeBytes(twice, zip);
        int error = 0;
        zip_t* archive = zip_open(twice.c_str(), ZIP_RDONLY, &error);
        ASSERT_NE(archive, nullptr) << "the patched archive must still open";
        zip_discard(archive);

        std::string xml = "stale";
        EXPECT_EQ(readTvrxContainer(twice, xml), kErrUnknownFormat);
        EXPECT_TRUE(xml.empty());
    }
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
