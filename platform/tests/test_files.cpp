#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"

#include <cstdlib>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>

namespace platform {
namespace {

namespace fs = std::filesystem;
using testing::readBytes;
using testing::TempFolder;
using testing::writeBytes;

void setMtime(const fs::path& path, time_t seconds, long nanoseconds) {
    const timespec times[2] = {{0, UTIME_OMIT}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// Sets or clears an environment variable for one test and puts it back after.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// --- names ---------------------------------------------------------------------------

TEST(Wildcard, MatchesLikeFindFirstFile) {
    const struct {
        const char* pattern;
        const char* name;
        bool match;
    } cases[] = {
        {"*.mid", "song.mid", true},
        {"*.mid", "SONG.MID", true},
        {"*.mid", ".mid", true},
        {"*.mid", "song.midi", false},
        {"*.mid", "song.mid.bak", false},
        {"*.mid", "mid", false},
        {"Profile?????.qvpprof", "Profile00001.qvpprof", true},
        {"Profile?????.qvpprof", "profile00042.QVPPROF", true},
        {"Profile?????.qvpprof", "Profile0001.qvpprof", false},
        {"Profile?????.qvpprof", "Profile000001.qvpprof", false},
        {"*.*", "song.mid", true},
        {"*.*", "README", true},  // names without a dot as well
        {"*.*", "a.b.c", true},
        {"a.*", "a", true},
        {"a.*", "ab", false},
        {"*", "anything at all", true},
        {"", "a", false},
        {"?", "\xC3\xA9", true},  // one character of two bytes
        {"?", "ab", false},
        {"*\xC3\x84*", "x\xC3\xA4y", true},  // Latin-1 letters without regard to case
        {"a*b*c", "axxbyyc", true},
        {"a*b*c", "axxcyyb", false},
        {"*_qvpcnv.wav", "Song_QVPCNV.WAV", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(wildcardMatch(c.pattern, c.name), c.match) << c.pattern << " vs " << c.name;
    }
}

TEST(Wildcard, LongNameAgainstManyStarsFinishes) {
    // Exponential backtracking would never return on this pair.
    const std::string name(20000, 'a');
    EXPECT_FALSE(wildcardMatch("*a*a*a*a*a*a*a*a*a*a*a*a*b", name));
    EXPECT_TRUE(wildcardMatch("*a*a*a*a*a*a*a*a*a*a*a*a*a", name));
}

TEST(FileNameCompare, IgnoresCaseLikeWindows) {
    EXPECT_TRUE(fileNamesEqual("Song.MID", "song.mid"));
    EXPECT_TRUE(fileNamesEqual("\xC3\x84RIA.mid", "\xC3\xA4ria.MID"));  // ÄRIA / äria
    EXPECT_FALSE(fileNamesEqual("\xC3\x96lkanne", "olkanne"));           // Ö is not O
    EXPECT_FALSE(fileNamesEqual("a.mid", "a.mid "));
    EXPECT_TRUE(fileNameContains("Song_QVPCNV.mid", "_qvpcnv"));
    EXPECT_FALSE(fileNameContains("Song.mid", "_qvpcnv"));
}

TEST(ListFiles, ReturnsMatchingRegularFilesSortedByName) {
    TempFolder tmp;
    for (const char* name : {"b.mid", "A.MID", "c.midi", "notes", "x_qvpcnv.mid"}) {
        writeBytes(tmp.path() / name, "x");
    }
    fs::create_directory(tmp.path() / "dir.mid");
    fs::create_symlink(tmp.path() / "missing", tmp.path() / "broken.mid");
    fs::create_symlink(tmp.path() / "b.mid", tmp.path() / "link.mid");

    auto names = [](const std::vector<fs::path>& paths) {
        std::vector<std::string> out;
        for (const auto& p : paths) out.push_back(p.filename().string());
        return out;
    };
    EXPECT_EQ(names(listFiles(tmp.path(), "*.mid")),
              (std::vector<std::string>{"A.MID", "b.mid", "link.mid", "x_qvpcnv.mid"}));
    EXPECT_EQ(names(listFiles(tmp.path(), "*.*")),
              (std::vector<std::string>{"A.MID", "b.mid", "c.midi", "link.mid", "notes", "x_qvpcnv.mid"}));
    EXPECT_EQ(listFiles(tmp.path(), "*.mid").front(), tmp.path() / "A.MID");
    EXPECT_TRUE(listFiles(tmp.path() / "no such folder", "*.*").empty());
}

// --- stored paths ----------------------------------------------------------------------

TEST(StoredPath, SplitsAtBothSeparators) {
    using Components = std::vector<std::string>;
    const struct {
        const char* text;
        Components components;
    } cases[] = {
        {"C:\\Users\\x\\Music\\a.mid", {"C:", "Users", "x", "Music", "a.mid"}},
        {"\\\\server\\share\\x.xml", {"server", "share", "x.xml"}},
        {"C:/Users\\x/a.mid", {"C:", "Users", "x", "a.mid"}},
        {"/home/u/a.mid", {"home", "u", "a.mid"}},
        {"C:\\dir\\\\sub\\", {"C:", "dir", "sub"}},
        {"a.mid", {"a.mid"}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(splitStoredPath(c.text), c.components) << c.text;
}

TEST(StoredPath, FileNameAndExtension) {
    const struct {
        const char* text;
        const char* name;
        const char* ext;
        const char* withoutExt;
    } cases[] = {
        {"C:\\Music\\a.mid", "a.mid", ".mid", "C:\\Music\\a"},
        {"/home/u/Song.v2.tvrx", "Song.v2.tvrx", ".tvrx", "/home/u/Song.v2"},
        {"C:\\P\\x/y.cnv", "y.cnv", ".cnv", "C:\\P\\x/y"},
        {"a.b\\c", "c", "", "a.b\\c"},  // the dot belongs to a folder
        {"a.b/c", "c", "", "a.b/c"},
        {".hidden", ".hidden", ".hidden", ""},  // as Windows sees it: all extension
        {"C:\\x\\.hidden", ".hidden", ".hidden", "C:\\x\\"},
        {"Op. 27 No 2", "Op. 27 No 2", "", "Op. 27 No 2"},  // a blank after the dot: no extension
        {"a.", "a.", ".", "a"},
        {"C:a.mid", "a.mid", ".mid", "C:a"},
        {"C:\\dir\\", "", "", "C:\\dir\\"},
        {"", "", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(storedFileName(c.text), c.name) << c.text;
        EXPECT_EQ(storedExtension(c.text), c.ext) << c.text;
        EXPECT_EQ(removeStoredExtension(c.text), c.withoutExt) << c.text;
    }
}

TEST(StoredPath, ReplacesOrAppendsExtension) {
    EXPECT_EQ(replaceStoredExtension("C:\\P\\qvx1a2.tmp", ".cnv"), "C:\\P\\qvx1a2.cnv");
    EXPECT_EQ(replaceStoredExtension("C:\\P.d\\x", ".tvrx"), "C:\\P.d\\x.tvrx");
    EXPECT_EQ(replaceStoredExtension("/p/song.wav", ".yyy"), "/p/song.yyy");
}

TEST(StoredPath, ConvertsToAndFromPathsOfThisMachine) {
    const fs::path drive = fromStoredPath("C:\\Users\\x\\Music\\a.mid");
    EXPECT_EQ(drive, fs::path("C:/Users/x/Music/a.mid"));
    EXPECT_TRUE(drive.is_relative());
    EXPECT_EQ(drive.filename(), "a.mid");
    EXPECT_EQ(fromStoredPath("\\\\srv\\share\\x.xml"), fs::path("//srv/share/x.xml"));
    EXPECT_EQ(fromStoredPath("C:/a\\b.mid"), fs::path("C:/a/b.mid"));

    const fs::path here = "/home/u/Documents/Choir/Song.tvrx";
    EXPECT_EQ(toStoredPath(here), "/home/u/Documents/Choir/Song.tvrx");
    EXPECT_EQ(fromStoredPath(toStoredPath(here)), here);
}

// --- paths of this machine ------------------------------------------------------------

TEST(PathInside, ComparesWholeComponents) {
    TempFolder tmp;
    const fs::path mass = tmp.path() / "Mass";
    fs::create_directories(mass / "sub");
    fs::create_directories(tmp.path() / "Mass Old");
    fs::create_directories(tmp.path() / "Massive");
    fs::create_directory_symlink(mass, tmp.path() / "link");

    const struct {
        fs::path child;
        fs::path folder;
        bool inside;
    } cases[] = {
        {mass / "x.mid", mass, true},
        {mass / "sub" / "deeper" / "x.mid", mass, true},  // need not exist
        {mass, mass, true},
        {mass / "x.mid", tmp.path() / "Mass/", true},
        {tmp.path() / "Mass Old" / "x.mid", mass, false},  // a prefix of the text only
        {tmp.path() / "Massive", mass, false},
        {mass / "sub" / ".." / "x.mid", mass, true},
        {mass / ".." / "Mass Old" / "x.mid", mass, false},
        {tmp.path() / "link" / "x.mid", mass, true},  // through a link
        {mass, mass / "sub", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isPathInside(c.child, c.folder), c.inside) << c.child << " in " << c.folder;
    }
}

// A derived file must never be written over its source, under any of its names.
TEST(SameFile, KnowsAFileUnderEveryName) {
    TempFolder tmp;
    const fs::path score = tmp.path() / "score.xml";
    const fs::path other = tmp.path() / "other.xml";
    writeBytes(score, "<score/>");
    writeBytes(other, "<score/>");
    fs::create_symlink(score, tmp.path() / "link.xml");
    fs::create_hard_link(score, tmp.path() / "hard.xml");
    const struct {
        fs::path a;
        fs::path b;
        bool same;
    } cases[] = {
        {score, score, true},
        {score, tmp.path() / "." / "score.xml", true},
        {score, tmp.path() / "link.xml", true},
        {score, tmp.path() / "hard.xml", true},
        {score, other, false},  // same bytes, another file
        {tmp.path() / "new.mid", tmp.path() / "sub" / ".." / "new.mid", true},  // neither exists yet
        {tmp.path() / "new.mid", tmp.path() / "new2.mid", false},
        {score, fs::path(), false},
    };
    for (const auto& c : cases) EXPECT_EQ(isSameFile(c.a, c.b), c.same) << c.a << " / " << c.b;
}

TEST(ProgramFolder, IsTheFolderOfTheRunningProgram) {
    const fs::path folder = programFolder();
    EXPECT_TRUE(folder.is_absolute());
    EXPECT_TRUE(fs::is_regular_file(folder / "platform_tests")) << folder;
}

TEST(DocumentsFolder, FollowsXdgUserDirs) {
    TempFolder tmp;
    const fs::path home = tmp.path() / "home";
    const fs::path config = tmp.path() / "config";
    fs::create_directories(config);
    ScopedEnv homeEnv("HOME", home.c_str());
    ScopedEnv configEnv("XDG_CONFIG_HOME", config.c_str());
    ScopedEnv docsEnv("XDG_DOCUMENTS_DIR", nullptr);

    const struct {
        const char* userDirs;  // null: no user-dirs.dirs at all
        fs::path expected;
    } cases[] = {
        {"XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n", home / "Dokumente"},
        {"# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
         "  XDG_DOCUMENTS_DIR = \"/data/docs\"\n",
         "/data/docs"},
        {"XDG_DOCUMENTS_DIR=\"$HOME/My \\\"Docs\\\"\"\n", home / "My \"Docs\""},
        {"XDG_DOCUMENTS_DIR=\"$HOME/A\"\nXDG_DOCUMENTS_DIR=\"$HOME/B\"\n", home / "B"},
        {"XDG_DOCUMENTS_DIR=$HOME/Bare # comment\n", home / "Bare"},
        {"XDG_DOCUMENTS_DIRX=\"/wrong\"\nXDG_MUSIC_DIR=\"$HOME/Music\"\n", home / "Documents"},
        {"XDG_DOCUMENTS_DIR=\"\"\n", home / "Documents"},
        {nullptr, home / "Documents"},
    };
    for (const auto& c : cases) {
        fs::remove(config / "user-dirs.dirs");
        if (c.userDirs) writeBytes(config / "user-dirs.dirs", c.userDirs);
        EXPECT_EQ(documentsFolder(), c.expected) << (c.userDirs ? c.userDirs : "(no file)");
    }
}

TEST(DocumentsFolder, EnvironmentWinsAndRelativeConfigHomeIsIgnored) {
    TempFolder tmp;
    const fs::path home = tmp.path() / "home";
    fs::create_directories(home / ".config");
    writeBytes(home / ".config" / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/FromHomeConfig\"\n");
    ScopedEnv homeEnv("HOME", home.c_str());
    ScopedEnv configEnv("XDG_CONFIG_HOME", "relative/config");
    {
        ScopedEnv docsEnv("XDG_DOCUMENTS_DIR", "$HOME/FromEnv");
        EXPECT_EQ(documentsFolder(), home / "FromEnv");
    }
    ScopedEnv docsEnv("XDG_DOCUMENTS_DIR", nullptr);
    EXPECT_EQ(documentsFolder(), home / "FromHomeConfig");
}

TEST(TempFileName, NamesAreUniqueAndCreated) {
    TempFolder tmp;
    std::set<fs::path> seen;
    for (int i = 0; i < 50; ++i) {
        std::string error;
        const auto path = makeTempFileName(tmp.path(), "qvp3", &error);
        ASSERT_TRUE(path) << error;
        EXPECT_EQ(path->parent_path(), tmp.path());
        EXPECT_TRUE(wildcardMatch("qvp?*.tmp", path->filename().string())) << *path;
        EXPECT_LE(path->filename().string().size(), std::string("qvpffff.tmp").size()) << *path;
        EXPECT_TRUE(fs::is_regular_file(*path));
        EXPECT_EQ(fs::file_size(*path), 0u);
        EXPECT_TRUE(seen.insert(*path).second) << "name given twice: " << *path;
    }
}

TEST(TempFileName, FolderThatCannotHoldItIsAnError) {
    TempFolder tmp;
    writeBytes(tmp.path() / "plain", "");
    for (const fs::path& folder : {tmp.path() / "missing", tmp.path() / "plain"}) {
        std::string error;
        EXPECT_FALSE(makeTempFileName(folder, "qvt", &error)) << folder;
        EXPECT_FALSE(error.empty());
    }
}

// --- file times --------------------------------------------------------------------

TEST(FileTime, ConvertsFromUnixTime) {
    const struct {
        std::int64_t seconds;
        std::uint32_t nanoseconds;
        FileTime expected;
    } cases[] = {
        {0, 0, 116444736000000000ull},            // 1970-01-01
        {946684800, 0, 125911584000000000ull},    // 2000-01-01
        {946684800, 123456789, 125911584001234567ull},  // below 100 ns is cut
        {-11644473600, 0, 0},                     // 1601-01-01
        {-11644473601, 0, 0},                     // before 1601: nothing earlier exists
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fileTimeFromUnix(c.seconds, c.nanoseconds), c.expected) << c.seconds;
    }
}

TEST(FileTime, ConvertsToAndFromTimePoints) {
    using namespace std::chrono;
    EXPECT_EQ(fileTimeToTimePoint(116444736000000000ull), FileTimePoint(sys_days(1970y / 1 / 1)));
    EXPECT_EQ(fileTimeToTimePoint(0), FileTimePoint(sys_days(1601y / 1 / 1)));
    EXPECT_EQ(fileTimeFromTimePoint(FileTimePoint(sys_days(2000y / 1 / 1))), 125911584000000000ull);
    EXPECT_EQ(fileTimeFromTimePoint(FileTimePoint(sys_days(1600y / 12 / 31))), 0u);
    const FileTime ft = 133000000000000001ull;
    EXPECT_EQ(fileTimeFromTimePoint(fileTimeToTimePoint(ft)), ft);
    // Days between two stored times, as the update check counts them.
    EXPECT_EQ(duration_cast<days>(fileTimeToTimePoint(125911584000000000ull) -
                                  fileTimeToTimePoint(116444736000000000ull)).count(),
              10957);
}

TEST(FileTime, ReadsTheLastWriteTimeOfAFile) {
    TempFolder tmp;
    const fs::path file = tmp.path() / "song.mid";
    writeBytes(file, "MThd");
    setMtime(file, 946684800, 123456789);
    EXPECT_EQ(fileTimeOf(file), std::optional<FileTime>(125911584001234567ull));
    EXPECT_EQ(fileTimeOf(tmp.path() / "missing.mid"), std::nullopt);
}

// --- copying and moving ----------------------------------------------------------------

TEST(CopyFile, CopiesContentAndLastWriteTime) {
    TempFolder tmp;
    const fs::path from = tmp.path() / "a.mid";
    const fs::path to = tmp.path() / "b.mid";
    const std::string content(3 << 20, 'x');  // more than one copy block
    writeBytes(from, content + "end");
    setMtime(from, 946684800, 0);
    writeBytes(to, "old");

    std::string error;
    ASSERT_TRUE(copyFile(from, to, true, &error)) << error;
    EXPECT_EQ(readBytes(to), content + "end");
    EXPECT_EQ(fileTimeOf(to), fileTimeOf(from));
    EXPECT_EQ(listFiles(tmp.path(), "*").size(), 2u);  // no temporary file left behind
}

TEST(CopyFile, RefusesAndKeepsTheTarget) {
    TempFolder tmp;
    const fs::path from = tmp.path() / "a.mid";
    const fs::path to = tmp.path() / "b.mid";
    const fs::path readOnly = tmp.path() / "ro.mid";
    writeBytes(from, "new");
    writeBytes(to, "old");
    writeBytes(readOnly, "old");
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read);
    fs::create_directory(tmp.path() / "folder");

    const struct {
        fs::path from;
        fs::path to;
        bool overwrite;
    } cases[] = {
        {from, to, false},                          // the target exists
        {from, readOnly, true},                     // read-only, as Windows refuses it
        {from, tmp.path() / "folder", true},        // a folder is no file to replace
        {tmp.path() / "missing.mid", to, true},     // no source
        {tmp.path() / "folder", to, true},          // a folder is no file to copy
        {from, tmp.path() / "no dir" / "x.mid", true},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(copyFile(c.from, c.to, c.overwrite, &error)) << c.from << " -> " << c.to;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(readBytes(to), "old");
    EXPECT_EQ(readBytes(readOnly), "old");
    EXPECT_EQ(listFiles(tmp.path(), "*").size(), 3u);
}

TEST(MoveFile, RenamesWithAndWithoutOverwrite) {
    TempFolder tmp;
    const fs::path from = tmp.path() / "x.convert";
    const fs::path to = tmp.path() / "x_qvpcnv.wav";
    writeBytes(from, "new");
    writeBytes(to, "old");

    std::string error;
    EXPECT_FALSE(moveFile(from, to, false, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readBytes(from), "new");
    EXPECT_EQ(readBytes(to), "old");

    ASSERT_TRUE(moveFile(from, to, true, &error)) << error;
    EXPECT_FALSE(fs::exists(from));
    EXPECT_EQ(readBytes(to), "new");

    EXPECT_FALSE(moveFile(from, tmp.path() / "y.wav", true, &error));  // source gone
}

TEST(MoveFile, CopiesAcrossFileSystems) {
    TempFolder tmp;
    const fs::path other = "/dev/shm";
    struct stat a {}, b {};
    if (::stat(tmp.path().c_str(), &a) != 0 || ::stat(other.c_str(), &b) != 0 || a.st_dev == b.st_dev ||
        ::access(other.c_str(), W_OK) != 0) {
        GTEST_SKIP() << "needs a writable /dev/shm on a file system other than " << tmp.path();
    }
    const fs::path from = tmp.path() / "a.wav";
    const fs::path to = other / ("qvp3-move-test-" + std::to_string(::getpid()) + ".wav");
    writeBytes(from, "RIFF");
    setMtime(from, 946684800, 0);

    std::string error;
    const bool moved = moveFile(from, to, false, &error);
    const auto content = readBytes(to);
    const auto time = fileTimeOf(to);
    fs::remove(to);
    ASSERT_TRUE(moved) << error;
    EXPECT_FALSE(fs::exists(from));
    EXPECT_EQ(content, "RIFF");
    EXPECT_EQ(time, std::optional<FileTime>(125911584000000000ull));
}

}  // namespace
}  // namespace platform
