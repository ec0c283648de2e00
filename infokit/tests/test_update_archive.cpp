// Unpacking update archives: the listed files arrive, hostile archives leave nothing.
#include <gtest/gtest.h>

#include <random>

#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "update_archive.h"
#include "zip_fixture.h"

namespace infokit {
namespace {

using testing::ZipEntry;

const std::vector<std::string> kNames{"uplift", "libinfokit.so", "infokitreg", "data.txt", "sub/notes.txt"};

std::vector<ZipEntry> goodEntries() {
    return {{"uplift", "#!updater", S_IFREG | 0755}, {"libinfokit.so", "lib"}, {"infokitreg", "reg", S_IFREG | 0755},
            {"data.txt", "new data"}, {"sub/", "", S_IFDIR | 0755}, {"sub/notes.txt", "notes"}};
}

std::size_t filesIn(const std::filesystem::path& folder) {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        count += entry.is_directory() ? 0 : 1;
    }
    return count;
}

TEST(InfoKitUpdateArchive, ListedFilesArriveInOrderWithTheirModes) {
    platform::testing::TempFolder temp;
    ASSERT_TRUE(testing::writeZip(temp.path() / "uplift.zip", goodEntries()));
    const auto out = temp.path() / "out";
    std::filesystem::create_directory(out);
    std::vector<std::size_t> steps;
    const UnpackResult result =
        unpackUpdateArchive(temp.path() / "uplift.zip", kNames, out, [&](std::size_t i) { steps.push_back(i); });
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(steps, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(platform::testing::readBytes(out / "sub" / "notes.txt"), "notes");
    EXPECT_EQ(platform::testing::readBytes(out / "data.txt"), "new data");
    EXPECT_EQ(std::filesystem::status(out / "uplift").permissions() & std::filesystem::perms::owner_exec,
              std::filesystem::perms::owner_exec);
    EXPECT_EQ(filesIn(out), 5u);
}

TEST(InfoKitUpdateArchive, HostileArchivesInstallNothing) {
    struct Row {
        const char* what;
        std::vector<ZipEntry> entries;
        ArchiveLimits limits;
        const char* reason;  // part of the error
    };
    auto with = [](ZipEntry extra) {
        auto entries = goodEntries();
        entries.push_back(std::move(extra));
        return entries;
    };
    std::vector<ZipEntry> many = goodEntries();
    for (int i = 0; i < 300; ++i) many.push_back({"extra" + std::to_string(i), "x"});
    auto linked = goodEntries();
    linked[3] = {"data.txt", "/etc/passwd", S_IFLNK | 0777};
    auto missing = goodEntries();
    missing.pop_back();
    const Row rows[] = {
        {"zip-slip", with({"../escaped.txt", "x"}), {}, "not a listed file"},
        {"zip-slip in a folder", with({"sub/../../escaped.txt", "x"}), {}, "not a listed file"},
        {"absolute path", with({"/tmp/absolute.txt", "x"}), {}, "not a listed file"},
        {"unlisted name", with({"other.txt", "x"}), {}, "not a listed file"},
        {"too many files", many, {}, "too many files"},
        {"oversize", goodEntries(), {20, 4, 1024}, "too large"},
        {"oversize together", goodEntries(), {20, 1024, 16}, "too large together"},
        {"symbolic link", linked, {}, "link"},
        {"listed file missing", missing, {}, "lacks"},
        {"device", with({"sub/dev", "", S_IFCHR | 0644}), {}, "device"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        platform::testing::TempFolder temp;
        ASSERT_TRUE(testing::writeZip(temp.path() / "uplift.zip", row.entries));
        const auto out = temp.path() / "out";
        std::filesystem::create_directory(out);
        const UnpackResult result = unpackUpdateArchive(temp.path() / "uplift.zip", kNames, out, {}, row.limits);
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.error.find(row.reason), std::string::npos) << result.error;
        EXPECT_EQ(filesIn(out), 0u);
        EXPECT_FALSE(std::filesystem::exists(temp.path() / "escaped.txt"));
    }
}

TEST(InfoKitUpdateArchive, UnsafeListedNamesAreRefusedBeforeTheArchiveIsRead) {
    platform::testing::TempFolder temp;
    const UnpackResult result = unpackUpdateArchive(temp.path() / "none.zip", {"../x"}, temp.path(), {});
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("unsafe"), std::string::npos);
}

// Damaged archives (bytes changed or cut) are refused or unpacked whole,
// never read out of bounds (the sanitizer build watches), and a refused one
// leaves nothing behind.
TEST(InfoKitUpdateArchive, MutatedArchivesAreRefusedOrWhole) {
    platform::testing::TempFolder temp;
    ASSERT_TRUE(testing::writeZip(temp.path() / "good.zip", goodEntries()));
    const std::string original = platform::testing::readBytes(temp.path() / "good.zip");
    std::mt19937 random(9104);
    for (int round = 0; round < 300; ++round) {
        std::string bytes = original;
        for (int i = 0; i < 4; ++i) bytes[random() % bytes.size()] = static_cast<char>(random() % 256);
        if (round % 4 == 0) bytes.resize(random() % bytes.size());
        platform::testing::writeBytes(temp.path() / "bad.zip", bytes);
        const auto out = temp.path() / ("out" + std::to_string(round));
        std::filesystem::create_directory(out);
        const UnpackResult result = unpackUpdateArchive(temp.path() / "bad.zip", kNames, out, {});
        EXPECT_EQ(filesIn(out), result.ok ? kNames.size() : 0u);
        std::filesystem::remove_all(out);
    }
}

}  // namespace
}  // namespace infokit
