// "uplift.ini", the names it lists and the private update folder.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <random>

#include "platform_testing/temp_folder.h"
#include "update_files.h"

namespace infokit {
namespace {

TEST(InfoKitUpdateFiles, VersionText) {
    EXPECT_EQ(parseUpdateVersion("3.0-57")->build, 57);
    EXPECT_EQ(parseUpdateVersion("4.12-0")->minor, 12);
    for (const char* bad : {"", "3.0", "3-57", "3.0-", "3.0-57x", "a.0-1", "3.0--1", "3.0-99999999999"}) {
        EXPECT_FALSE(parseUpdateVersion(bad)) << bad;
    }
}

TEST(InfoKitUpdateFiles, NamesThatLeaveTheFolderAreRefused) {
    struct Row {
        const char* name;
        const char* expected;  // null: refused
    };
    const Row rows[] = {
        {"data.txt", "data.txt"},     {"sub\\x.ini", "sub/x.ini"}, {"a/b/c", "a/b/c"},
        {"..\\evil", nullptr},        {"a/../../x", nullptr},      {"/etc/passwd", nullptr},
        {"\\\\server\\x", nullptr},   {"C:\\Windows\\x", nullptr}, {"a//b", nullptr},
        {"./a", nullptr},             {"", nullptr},               {"a\nb", nullptr},
        {"a/", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto got = safeRelativeName(row.name);
        if (row.expected == nullptr) {
            EXPECT_FALSE(got);
        } else {
            EXPECT_EQ(got, row.expected);
        }
    }
}

TEST(InfoKitUpdateFiles, DescriptionListsTheUpdaterThenTheFiles) {
    const auto d = parseUpdateDescription(
        "[Uplift]\r\nAppName=Tavrena Orvendo\r\nVersion=3.0-58\r\nFileNum=4\r\nFile01=*data.txt\r\n"
        "File02=?optional.txt\r\nFile03=folder\\\r\nFile04=sub\\notes.txt\r\n",
        nullptr);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->appName, "Tavrena Orvendo");
    EXPECT_EQ(d->versionText, "3.0-58");
    EXPECT_EQ(d->files, (std::vector<std::string>{"uplift", "libinfokit.so", "infokitreg", "data.txt", "sub/notes.txt"}));
}

TEST(InfoKitUpdateFiles, BadFileListsLeaveNoFiles) {
    const char* cases[] = {
        "[Uplift]\nFileNum=0\n",
        "[Uplift]\nFile01=a\n",                    // no FileNum
        "[Uplift]\nFileNum=2\nFile01=a\n",         // File02 missing
        "[Uplift]\nFileNum=1\nFile01=..\\a\n",     // leaves the folder
        "[Uplift]\nFileNum=100\nFile01=a\n",       // more than two digits can number
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        const auto d = parseUpdateDescription(text, nullptr);
        ASSERT_TRUE(d);
        EXPECT_TRUE(d->files.empty());
        EXPECT_FALSE(d->filesError.empty());
    }
    std::string error;
    EXPECT_FALSE(parseUpdateDescription("<html>404</html>", &error));
    EXPECT_NE(error.find("[Uplift]"), std::string::npos);
}

// Mutated descriptions never crash the reader (the sanitizer build watches),
// and whatever it accepts names only safe files.
TEST(InfoKitUpdateFiles, MutatedDescriptionsAreReadSafely) {
    const std::string original =
        "[Uplift]\r\nAppName=Tavrena Orvendo\r\nVersion=3.0-58\r\nOnlyFull=0\r\nNewVersionHint=x\r\n"
        "FileNum=3\r\nFile01=data.txt\r\nFile02=sub\\a.ini\r\nFile03=b\r\n";
    std::mt19937 random(9103);
    for (int round = 0; round < 500; ++round) {
        std::string bytes = original;
        for (int i = 0; i < 8; ++i) bytes[random() % bytes.size()] = static_cast<char>(random() % 256);
        if (round % 3 == 0) bytes.resize(random() % bytes.size());
        const auto d = parseUpdateDescription(bytes, nullptr);
        if (!d) continue;
        for (const std::string& name : d->files) EXPECT_EQ(safeRelativeName(name), name);
        EXPECT_LE(d->files.size(), 3u + kMaxListedFiles);
    }
}

TEST(InfoKitUpdateFiles, PrivateFolderIsOursAndClosed) {
    platform::testing::TempFolder temp;
    const auto folder = temp.path() / "upd";
    ASSERT_TRUE(ensurePrivateFolder(folder, nullptr));
    struct stat st {};
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(ensurePrivateFolder(folder, nullptr));  // again: accepted

    std::filesystem::create_directory(temp.path() / "open");
    std::filesystem::permissions(temp.path() / "open", std::filesystem::perms::all);
    std::filesystem::create_directory_symlink(folder, temp.path() / "link");
    std::string error;
    EXPECT_FALSE(ensurePrivateFolder(temp.path() / "open", &error));
    EXPECT_FALSE(ensurePrivateFolder(temp.path() / "link", &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace infokit
