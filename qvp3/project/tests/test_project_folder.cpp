#include <gtest/gtest.h>

#include <set>

#include "neighbour_doubles.h"
#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_project/project_folder.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using platform::testing::TempFolder;
using testing::FakeNeighbours;

void touch(const fs::path& path, std::string_view content = "x") { platform::testing::writeBytes(path, content); }

ProjectEntry& addEntry(Project& project, const fs::path& filename, const fs::path& orig = {}, int durationMs = 0) {
    ProjectEntry entry;
    project.pipeline().cnvEntryInit(entry, project);
    entry.Filename = filename;
    entry.FilenameOrig = orig;
    entry.durationMs = durationMs;
    project.totalMs += durationMs;
    project.entries.push_back(std::move(entry));
    return project.entries.back();
}

std::set<std::string> filesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        names.insert(item.path().lexically_relative(folder).generic_string());
    }
    return names;
}

TEST(ConvertedNames, NamesFollowTheSourceNameWithoutItsExtension) {
    struct Case {
        const char* filename;
        const char* midi;
        const char* wave;
    } cases[] = {
        {"/src/Song.tvrx", "Song_qvpcnv.mid", "Song_qvpcnv.wav"},
        {"C:\\Users\\x\\Op. 27 No 2.mid", "Op. 27 No 2_qvpcnv.mid", "Op. 27 No 2_qvpcnv.wav"},
        {"\\\\srv\\share\\Mix.MID", "Mix_qvpcnv.mid", "Mix_qvpcnv.wav"},
        {"/src/a.b.c.xml", "a.b.c_qvpcnv.mid", "a.b.c_qvpcnv.wav"},
        {"/src/README", "README_qvpcnv.mid", "README_qvpcnv.wav"},
        {"/src/Dotted. name", "Dotted. name_qvpcnv.mid", "Dotted. name_qvpcnv.wav"},
    };
    for (const Case& c : cases) {
        Project project;
        project.data.ProjectFolder = "/p/Proj";
        addEntry(project, c.filename);
        fs::path midi, wave;
        ASSERT_TRUE(prjConvertedMidiPath(project, 0, &midi)) << c.filename;
        ASSERT_TRUE(prjConvertedWavePath(project, 0, &wave)) << c.filename;
        EXPECT_EQ(midi, fs::path("/p/Proj") / c.midi);
        EXPECT_EQ(wave, fs::path("/p/Proj") / c.wave);
        EXPECT_TRUE(project.entries[0].convertedMidiPath.empty()) << "an out path leaves the entry alone";
        ASSERT_TRUE(prjConvertedMidiPath(project, 0, nullptr));
        ASSERT_TRUE(prjConvertedWavePath(project, 0, nullptr));
        EXPECT_EQ(project.entries[0].convertedMidiPath, midi);
        EXPECT_EQ(project.entries[0].convertedWavePath, wave);
    }
}

TEST(ConvertedNames, NoNameForAMissingEntrySourceOrFolder) {
    Project project;
    project.data.ProjectFolder = "/p/Proj";
    addEntry(project, "/src/a.mid");
    addEntry(project, "");
    fs::path out = "unchanged";
    for (int index : {2, -1, -5, 1}) {
        EXPECT_FALSE(prjConvertedMidiPath(project, index, &out)) << index;
        EXPECT_FALSE(prjConvertedWavePath(project, index, &out)) << index;
        if (index != 1) {
            EXPECT_FALSE(ConvertedMidiName(project, index, &out)) << index;
        }
    }
    EXPECT_EQ(out, "unchanged");
    project.data.ProjectFolder.clear();
    EXPECT_FALSE(prjConvertedMidiPath(project, 0, &out));
    EXPECT_FALSE(prjConvertedMidiPath(project, 0, nullptr));
    EXPECT_TRUE(project.entries[0].convertedMidiPath.empty());
}

TEST(ConvertedNames, OlderNamesAreTitleAndFileNumber) {
    struct Case {
        const char* title;
        int number;
        const char* extension;
        std::optional<std::string> name;
    } cases[] = {
        {"Choir", 1, ".mid", "Choir01.mid"},
        {"Choir", 1, ".wav", "Choir01.wav"},
        {"Choir", 12, ".mid", "Choir12.mid"},
        {"Choir", 100, ".wav", "Choir100.wav"},
        {"", 3, ".mid", "03.mid"},
        {"..", 1, ".mid", "..01.mid"},  // a plain name, still in the folder
        {"a/b", 1, ".mid", std::nullopt},
        {"..\\up", 1, ".mid", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto path = prjLegacyConvertedName("/p/Proj", c.title, c.number, c.extension);
        ASSERT_EQ(path.has_value(), c.name.has_value()) << c.title;
        if (path) {
            EXPECT_EQ(*path, fs::path("/p/Proj") / *c.name);
        }
    }
    Project project;
    project.data.ProjectFolder = "/p/Proj";
    project.data.ProjectTitle = "Choir";
    addEntry(project, "/src/Song.tvrx");
    fs::path midi, wave;
    ASSERT_TRUE(ConvertedMidiName(project, 0, &midi));
    ASSERT_TRUE(ConvertedWaveName(project, 0, &wave));
    EXPECT_EQ(midi, "/p/Proj/Choir01.mid");
    EXPECT_EQ(wave, "/p/Proj/Choir01.wav");
}

TEST(ConvertedNames, LegacyFilesMoveToTheNewNamesWithoutOverwriting) {
    TempFolder dir;
    Project project;
    project.data.ProjectFolder = dir.path();
    project.data.ProjectTitle = "Choir";
    addEntry(project, dir.path() / "Intro.mid");
    addEntry(project, dir.path() / "Song.tvrx");
    // Entry 1 was read from section 3 (section 2 was skipped): its older files carry 03.
    touch(dir.path() / "Choir03.mid", "old midi");
    touch(dir.path() / "Choir03.wav", "old wave");
    touch(dir.path() / "Song_qvpcnv.wav", "present wave");
    touch(dir.path() / "Choir02.mid", "another entry's");
    EXPECT_TRUE(prjRenameLegacyConvertedFiles(project, 1, 3));
    EXPECT_EQ(filesIn(dir.path()), (std::set<std::string>{"Choir02.mid", "Choir03.wav", "Song_qvpcnv.mid",
                                                          "Song_qvpcnv.wav"}));
    EXPECT_EQ(platform::testing::readBytes(dir.path() / "Song_qvpcnv.wav"), "present wave");
    EXPECT_TRUE(prjRenameLegacyConvertedFiles(project, 5, 1)) << "no entry, nothing to do";
}

TEST(Mp3Names, NumberTitleAndSourceNameWithDotsReplaced) {
    const std::string longName(200, 'n');
    struct Case {
        const char* title;
        std::string filename;
        int index;
        std::string expected;
    } cases[] = {
        {"Choir", "/p/Song.tvrx", 0, "01-Choir-Song_tvrx.mp3"},
        {"Mass", "/p/Song.tvrx", 9, "10-Mass-Song_tvrx.mp3"},
        {"Mass", "C:\\M\\v1.2.final.mid", 99, "100-Mass-v1_2_final_mid.mp3"},
        {"AC/DC\\Live", "/p/a.mid", 0, "01-AC_DC_Live-a_mid.mp3"},
        {"T", "/p/" + longName + ".mid", 0, "01-T-" + longName.substr(0, 129) + ".mp3"},
    };
    for (const Case& c : cases) {
        Project project;
        project.mp3Folder = "/music/mp3";
        project.data.ProjectTitle = c.title;
        for (int i = 0; i <= c.index; ++i) addEntry(project, c.filename);
        fs::path out;
        ASSERT_TRUE(prjMp3Path(project, c.index, out)) << c.expected;
        EXPECT_EQ(out, fs::path("/music/mp3") / c.expected);
    }
    Project project;
    addEntry(project, "/p/a.mid");
    fs::path out;
    EXPECT_FALSE(prjMp3Path(project, 0, out)) << "no MP3 folder";
    project.mp3Folder = "/music/mp3";
    EXPECT_FALSE(prjMp3Path(project, 1, out));
    EXPECT_FALSE(prjMp3Path(project, -1, out));
}

TEST(UniqueNames, FirstFreeNumberBeforeTheExtension) {
    struct Case {
        std::vector<const char*> present;
        const char* wanted;
        const char* expected;
    } cases[] = {
        {{}, "a.mid", "a.mid"},
        {{"a.mid"}, "a.mid", "a001.mid"},
        {{"a.mid", "a001.mid"}, "a.mid", "a002.mid"},
        {{"a.mid", "a002.mid"}, "a.mid", "a001.mid"},
        {{"noext"}, "noext", "noext001"},
        {{"x.tar.gz"}, "x.tar.gz", "x.tar001.gz"},
        {{"A.mid"}, "a.mid", "a.mid"},  // another name on this file system
    };
    for (const Case& c : cases) {
        TempFolder dir;
        for (const char* name : c.present) touch(dir.path() / name);
        const auto name = prjUniqueNumberedName(dir.path() / c.wanted);
        ASSERT_TRUE(name.has_value()) << c.wanted;
        EXPECT_EQ(*name, dir.path() / c.expected);
    }
    TempFolder dir;
    fs::create_symlink(dir.path() / "gone", dir.path() / "link.mid");  // a dangling link takes its name too
    EXPECT_EQ(prjUniqueNumberedName(dir.path() / "link.mid"), dir.path() / "link001.mid");
}

TEST(ProjectEntries, FindByFileNameComparesNamePartsExactly) {
    Project project;
    addEntry(project, "C:\\Music\\Song.mid");
    addEntry(project, "/home/u/song.mid");
    addEntry(project, "/other/Song.mid");
    struct Case {
        const char* path;
        int index;
    } cases[] = {
        {"/x/Song.mid", 0}, {"Song.mid", 0}, {"D:\\y\\song.mid", 1}, {"/x/SONG.mid", -1}, {"/x/", -1}, {"", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(prjFindEntryByFileName(project, c.path), c.index) << c.path;
}

TEST(ProjectFolder, PrepareRefusesTheProjectFolderAndFoldersInUse) {
    TempFolder dir;
    Project project;
    project.data.ProjectFolder = dir.path() / "Mass";
    fs::create_directories(dir.path() / "Mass");
    fs::create_directories(dir.path() / "Empty");
    touch(dir.path() / "Used" / "a.mid");
    touch(dir.path() / "plain file");
    struct Case {
        fs::path folder;
        int result;
        bool existsAfter;
    } cases[] = {
        {dir.path() / "Mass", kFolderIsProjectFolder, true},
        {dir.path() / "Mass/", kFolderIsProjectFolder, true},
        {dir.path() / "Empty" / ".." / "Mass", kFolderIsProjectFolder, true},
        {dir.path() / "Mass Old", kFolderOk, true},
        {dir.path() / "Empty", kFolderOk, true},
        {dir.path() / "Used", kFolderNotEmpty, true},
        {dir.path() / "New" / "Deep", kFolderOk, true},
        {dir.path() / "plain file", kFolderCannotCreate, true},
        {dir.path() / "plain file" / "below", kFolderCannotCreate, false},
        {fs::path(), kFolderCannotCreate, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(prjPrepareFolder(project, &c.folder), c.result) << c.folder;
        if (!c.folder.empty()) {
            EXPECT_EQ(fs::exists(c.folder), c.existsAfter) << c.folder;
        }
    }
    EXPECT_TRUE(fs::is_empty(dir.path() / "Empty")) << "an existing empty folder is used as it is";
    EXPECT_EQ(prjPrepareFolder(project, nullptr), kFolderIsProjectFolder);
}

TEST(ProjectFolder, CleanTitleNeverNamesAnotherPlace) {
    struct Case {
        const char* title;
        std::optional<std::string> clean;
    } cases[] = {
        {"Mass in B", "Mass in B"}, {"a|b*c?d", "abcd"}, {"AC/DC", "ACDC"},  {"..\\..\\etc", "....etc"},
        {"../x", "..x"},            {"v1.2", "v1.2"},    {".", std::nullopt}, {"..", std::nullopt},
        {"", std::nullopt},         {"|*?/\\", std::nullopt}, {"./", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(prjCleanTitle(c.title), c.clean) << c.title;
}

// Removing with file deletion, for entries inside and outside the project
// folder ".../Mass"; ".../Mass Old" is a neighbour, not a part of it.
TEST(EntryRemoval, DeletesOnlyTheProjectsCopiesAndConvertedScores) {
    struct Case {
        const char* filename;
        const char* orig;
        bool deleteFiles;
        std::set<std::string> left;
    } cases[] = {
        {"Mass/a.mid", "", true, {}},
        {"Mass Old/a.mid", "", true, {"Mass Old/a.mid"}},
        {"Mass/../Mass/a.mid", "", true, {}},
        {"Mass/a.mid", "", false, {"Mass/a.mid"}},
        {"Mass/d.xml.tvrx", "Mass/d.xml", true, {}},
        {"Mass/d.xml.tvrx", "Elsewhere/d.xml", true, {"Elsewhere/d.xml"}},
        {"Mass/../Mass/d.xml.tvrx", "Mass/d.xml", true, {}},
        {"Mass/d.xml.tvrx", "Mass/d.xml", false, {"Mass/d.xml", "Mass/d.xml.tvrx"}},
        // A converted score outside the folder may be the user's: it stays, whatever FilenameOrig says.
        {"Elsewhere/c.xml.tvrx", "Elsewhere/c.xml", true, {"Elsewhere/c.xml", "Elsewhere/c.xml.tvrx"}},
        {"Elsewhere/x.tvrx", "Mass/x.xml", true, {"Elsewhere/x.tvrx"}},
        {"Mass Old/e.tvrx", "Mass Old/e.xml", true, {"Mass Old/e.tvrx", "Mass Old/e.xml"}},
        {"Mass/../Elsewhere/g.tvrx", "Mass/g.xml", true, {"Elsewhere/g.tvrx"}},
        {"Elsewhere/f.mid", "Elsewhere/f.xml", true, {"Elsewhere/f.mid", "Elsewhere/f.xml"}},  // no converted score
    };
    for (const Case& c : cases) {
        TempFolder dir;
        fs::create_directories(dir.path() / "Mass");
        Project project;
        project.data.ProjectFolder = dir.path() / "Mass";
        const fs::path filename = dir.path() / c.filename;
        const fs::path orig = *c.orig ? dir.path() / c.orig : fs::path();
        touch(filename);
        if (!orig.empty()) touch(orig);
        addEntry(project, filename, orig);
        ASSERT_TRUE(prjRemoveEntry(project, 0, c.deleteFiles));
        std::set<std::string> left;
        for (const std::string& name : filesIn(dir.path())) {
            if (fs::is_regular_file(dir.path() / name)) left.insert(name);
        }
        EXPECT_EQ(left, c.left) << c.filename << " / " << c.orig;
        EXPECT_EQ(project.fileNum(), 0);
    }
}

// Both routes that delete a converted score, where a path names the project
// folder only by its spelling: "Mass/linked" is a link to a folder elsewhere.
TEST(EntryRemoval, AConvertedScoreReachedThroughALinkOutOfTheFolderStays) {
    enum class Route { Remove, RestoreSource, RestoreWithoutProject };
    struct Case {
        Route route;
        const char* filename;
        bool deleted;
    } cases[] = {
        {Route::Remove, "Mass/linked/s.xml.tvrx", false},
        {Route::Remove, "Mass/s.xml.tvrx", true},
        {Route::RestoreSource, "Mass/linked/s.xml.tvrx", false},
        {Route::RestoreSource, "Elsewhere/s.xml.tvrx", false},
        {Route::RestoreSource, "Mass/s.xml.tvrx", true},
        {Route::RestoreSource, "Mass/linked/../s.xml.tvrx", false},  // ".." of the link's target
        {Route::RestoreWithoutProject, "Mass/s.xml.tvrx", false},
    };
    for (const Case& c : cases) {
        TempFolder dir;
        fs::create_directories(dir.path() / "Mass");
        fs::create_directories(dir.path() / "Elsewhere");
        fs::create_directory_symlink(dir.path() / "Elsewhere", dir.path() / "Mass" / "linked");
        touch(dir.path() / "Elsewhere" / "s.xml.tvrx");
        touch(dir.path() / "Mass" / "s.xml.tvrx");
        touch(dir.path() / "s.xml.tvrx");
        const fs::path filename = dir.path() / c.filename;
        const fs::path orig = dir.path() / "Elsewhere" / "s.xml";
        touch(orig);
        Project project;
        project.data.ProjectFolder = dir.path() / "Mass";
        ProjectEntry& entry = addEntry(project, filename, orig);
        if (c.route == Route::Remove) {
            ASSERT_TRUE(prjRemoveEntry(project, 0, true));
        } else {
            if (c.route == Route::RestoreWithoutProject) entry.project = nullptr;
            project.pipeline().cnvRestoreOriginalSource(entry);
            EXPECT_EQ(entry.Filename, orig);
            EXPECT_TRUE(entry.FilenameOrig.empty());
        }
        EXPECT_EQ(fs::exists(filename), !c.deleted) << c.filename << " route " << static_cast<int>(c.route);
        EXPECT_TRUE(fs::exists(orig)) << c.filename;
    }
}

TEST(EntryRemoval, ClosesTheGapAndKeepsTheCurrentEntry) {
    FakeNeighbours n;
    Project project(n.all());
    addEntry(project, "/p/a.mid", {}, 100);
    addEntry(project, "/p/b.mid", {}, 200);
    addEntry(project, "/p/c.mid", {}, 400);
    project.currentEntry = 2;
    ASSERT_TRUE(prjRemoveEntry(project, 1, false));
    ASSERT_EQ(project.fileNum(), 2);
    EXPECT_EQ(project.entries[0].Filename, "/p/a.mid");
    EXPECT_EQ(project.entries[1].Filename, "/p/c.mid");
    EXPECT_EQ(project.totalMs, 500);
    EXPECT_EQ(project.currentEntry, 1);
    for (const ProjectEntry& entry : project.entries) EXPECT_EQ(entry.project, &project);
    EXPECT_EQ(n.pipeline.calls, std::vector<std::string>{"free b.mid"});

    for (int bad : {2, -1, 99}) EXPECT_FALSE(prjRemoveEntry(project, bad, false)) << bad;
    EXPECT_EQ(project.fileNum(), 2);
    ASSERT_TRUE(prjRemoveEntry(project, 1, false));  // the current, last entry
    EXPECT_EQ(project.currentEntry, 0);
    ASSERT_TRUE(prjRemoveEntry(project, 0, false));
    EXPECT_EQ(project.currentEntry, -1);
    EXPECT_EQ(project.totalMs, 0);
    EXPECT_TRUE(prjRemoveEntry(project, 0, false)) << "no entries: nothing to do";
}

TEST(EntryRemoval, PurgeDeletesConvertedFilesAndResetsTheCounts) {
    TempFolder dir;
    FakeNeighbours n;
    Project project(n.all());
    project.data.ProjectFolder = dir.path();
    for (const char* name : {"a.mid", "b.mid", "a_qvpcnv.mid", "b_QVPCNV.WAV", "s_qvpcnv.qvpp", "take.wav",
                             "notes_qvpcnv.txt"}) {
        touch(dir.path() / name);
    }
    addEntry(project, dir.path() / "a.mid");
    addEntry(project, dir.path() / "b.mid");
    project.convertedMidiCount = 2;
    project.convertedWaveCount = 2;
    ASSERT_TRUE(prjRemoveEntryAndPurge(project, 0, true));
    EXPECT_EQ(project.fileNum(), 1);
    EXPECT_EQ(filesIn(dir.path()), (std::set<std::string>{"b.mid", "notes_qvpcnv.txt", "take.wav"}));
    EXPECT_EQ(project.convertedMidiCount, 0);
    EXPECT_EQ(project.convertedWaveCount, 0);
    EXPECT_EQ(n.pages.calls, std::vector<std::string>{"empty list MDC"});

    project.convertedMidiCount = 1;
    ASSERT_TRUE(prjRemoveEntryAndPurge(project, -1, false));
    EXPECT_EQ(project.fileNum(), 1);
    EXPECT_EQ(project.convertedMidiCount, 0);
    EXPECT_FALSE(prjRemoveEntryAndPurge(project, 4, true));
    EXPECT_TRUE(fs::exists(dir.path() / "b.mid"));

    ASSERT_TRUE(prjRemoveEntry(project, 0, false));
    project.convertedMidiCount = 3;
    EXPECT_TRUE(prjRemoveEntryAndPurge(project, -1, true));
    EXPECT_EQ(project.convertedMidiCount, 3) << "a project without entries is left alone";
}

// Only converted scores ("<source>.xml.tvrx") that nothing uses any more go;
// every file the user may have put into the folder stays.
TEST(UnreferencedFiles, OnlyStaleConvertedScoresGo) {
    TempFolder dir;
    const fs::path folder = dir.path() / "Mass";
    Project project;
    project.data.ProjectFolder = folder;
    for (const char* name : {"mine.mid", "notes.xml", "own.tvrx", "x.wav", "c.TVR", "d.rmi", "e.zrv",
                             "a001.mid", "z_qvpcnv.mid", "Mass.c-1", "notes.txt", "sub/deep.xml.tvrx",
                             "gone.xml.tvrx", "Gone2.XML.TVRX", "gone.xml", "a.xml.tvrx", "a.xml",
                             "b.xml.tvrx", "b.xml", "moved.xml.tvrx", "kept.xml.tvrx", ".xml.tvrx",
                             "song.mid.tvrx"}) {
        touch(folder / name);
    }
    fs::create_directories(folder / "folder.xml.tvrx");
    touch(dir.path() / "user.xml.tvrx");
    fs::create_symlink(dir.path() / "user.xml.tvrx", folder / "link.xml.tvrx");
    addEntry(project, folder / ".." / "Mass" / "a.xml.tvrx", folder / "a.xml");  // another spelling
    addEntry(project, dir.path() / "Elsewhere" / "b.xml");                       // its source in use
    addEntry(project, "C:\\Users\\old\\Mass\\moved.xml.tvrx");                   // stale stored path
    addEntry(project, "/old/place/k.tvrx", "/old/place/kept.xml");               // its source in use

    EXPECT_TRUE(prjDeleteUnreferencedFiles(project));
    EXPECT_EQ(filesIn(folder), (std::set<std::string>{"mine.mid", "notes.xml", "own.tvrx", "x.wav", "c.TVR",
                                                      "d.rmi", "e.zrv", "a001.mid", "z_qvpcnv.mid", "Mass.c-1",
                                                      "notes.txt", "sub", "sub/deep.xml.tvrx", "gone.xml",
                                                      "a.xml.tvrx", "a.xml", "b.xml.tvrx", "b.xml",
                                                      "moved.xml.tvrx", "kept.xml.tvrx", ".xml.tvrx",
                                                      "song.mid.tvrx", "folder.xml.tvrx", "link.xml.tvrx"}));
    EXPECT_TRUE(fs::exists(dir.path() / "user.xml.tvrx"));

    Project noFolder;
    EXPECT_TRUE(prjDeleteUnreferencedFiles(noFolder));
}

// A project "Mass" below the projects root, one entry inside its folder and one outside.
struct ProjectOnDisk {
    TempFolder dir;
    FakeNeighbours n;
    Project project{n.all()};
    fs::path root = dir.path() / "Projects";
    fs::path folder = root / "Mass";
    fs::file_time_type sourceTime = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);

    ProjectOnDisk() {
        n.shell.projectsRootFolder = root;
        touch(folder / "a.mid", "midi");
        fs::last_write_time(folder / "a.mid", sourceTime);
        touch(folder / "sub" / "take.wav");
        touch(dir.path() / "Elsewhere" / "b.mid");
        touch(folder / "Mass.c-1", "[zq1 Project File]\r\nProjectTitle=Mass\r\nNormalize=2\r\nFileNum=2\r\n"
                                   "ProjectBurnMP3Folder=" + (folder / "mp3").string() + "\r\n"
                                   "[Project File 01]\r\nFilename=" + (folder / "a.mid").string() + "\r\n"
                                   "[Project File 02]\r\nFilename=" + (dir.path() / "Elsewhere/b.mid").string() +
                                   "\r\n");
        project.data.ProjectFolder = folder;
        project.data.ProjectTitle = "Mass";
        project.data.ProjectDescription = "Easter";
        project.data.CDSpace = 4797;
        project.filePath = folder / "Mass.c-1";
        project.mp3Folder = folder / "mp3";
        addEntry(project, folder / "a.mid");
        addEntry(project, dir.path() / "Elsewhere" / "b.mid");
    }
    ProjectData copyOfData(int mode) {
        ProjectData record = project.data;
        record.ProjectDataMode = mode;
        return record;
    }
};

std::string iniValue(const fs::path& file, std::string_view section, std::string_view key) {
    platform::IniDocument document;
    EXPECT_EQ(document.load(file), platform::IniStatus::Ok) << file;
    return document.getString(section, key, "<missing>");
}

TEST(ProjectCopy, SaveAsCopiesTheFolderAndRewritesTheCopysFile) {
    ProjectOnDisk p;
    ProjectData record = p.copyOfData(ProjectData::kModeSaveAs);
    ASSERT_EQ(CopyProjectTo("Mass Old", p.project, record, "Mass II", 1), kFolderOk);
    const fs::path copy = p.root / "Mass Old";
    EXPECT_EQ(filesIn(copy), (std::set<std::string>{"a.mid", "sub", "sub/take.wav", "Mass II.c-1"}));
    EXPECT_EQ(fs::last_write_time(copy / "a.mid"), p.sourceTime) << "source times survive the copy";
    const fs::path file = copy / "Mass II.c-1";
    EXPECT_EQ(iniValue(file, "zq1 Project File", "ProjectTitle"), "Mass II");
    EXPECT_EQ(iniValue(file, "zq1 Project File", "ProjectFolder"), copy.string());
    EXPECT_EQ(iniValue(file, "zq1 Project File", "ProjectDescription"), "Easter");
    EXPECT_EQ(iniValue(file, "zq1 Project File", "CDSpace"), "4797");
    EXPECT_EQ(iniValue(file, "zq1 Project File", "Normalize"), "1");
    EXPECT_EQ(iniValue(file, "zq1 Project File", "ProjectBurnMP3Folder"), (copy / "mp3").string());
    EXPECT_EQ(iniValue(file, "Project File 01", "Filename"), (copy / "a.mid").string());
    EXPECT_EQ(iniValue(file, "Project File 02", "Filename"), (p.dir.path() / "Elsewhere/b.mid").string());
    EXPECT_EQ(record.ProjectFolder, copy);
    EXPECT_EQ(record.ProjectTitle, "Mass II");
    // The open project and its folder are as they were.
    EXPECT_EQ(p.project.filePath, p.folder / "Mass.c-1");
    EXPECT_EQ(p.project.entries[0].Filename, p.folder / "a.mid");
    EXPECT_EQ(filesIn(p.folder), (std::set<std::string>{"a.mid", "sub", "sub/take.wav", "Mass.c-1"}));
    EXPECT_EQ(iniValue(p.folder / "Mass.c-1", "zq1 Project File", "ProjectTitle"), "Mass");
}

TEST(ProjectCopy, MoveCarriesTheOpenProjectAlong) {
    ProjectOnDisk p;
    ASSERT_EQ(CopyProjectTo("Moved", p.project, p.project.data, "Mass", 2), kFolderOk);
    const fs::path moved = p.root / "Moved";
    EXPECT_FALSE(fs::exists(p.folder));
    EXPECT_EQ(filesIn(moved), (std::set<std::string>{"a.mid", "sub", "sub/take.wav", "Mass.c-1"}));
    EXPECT_EQ(p.project.filePath, moved / "Mass.c-1");
    EXPECT_EQ(p.project.data.ProjectFolder, moved);
    EXPECT_EQ(p.project.entries[0].Filename, moved / "a.mid");
    EXPECT_EQ(p.project.entries[1].Filename, p.dir.path() / "Elsewhere" / "b.mid");
    EXPECT_EQ(p.project.mp3Folder, moved / "mp3");
    EXPECT_EQ(iniValue(moved / "Mass.c-1", "zq1 Project File", "ProjectBurnMP3Folder"), (moved / "mp3").string());
    EXPECT_EQ(p.n.shell.projectFolder, moved);
    EXPECT_EQ(p.n.shell.lastProject, moved / "Mass.c-1");
}

TEST(ProjectCopy, RenameInTheSameFolderNeverReplacesAnotherFile) {
    ProjectOnDisk p;
    ASSERT_EQ(CopyProjectTo(p.folder.string(), p.project, p.project.data, "Requiem", 2), kFolderOk);
    EXPECT_EQ(p.project.filePath, p.folder / "Requiem.c-1");
    EXPECT_TRUE(fs::exists(p.folder / "Requiem.c-1"));
    EXPECT_FALSE(fs::exists(p.folder / "Mass.c-1"));
    EXPECT_EQ(p.project.data.ProjectTitle, "Requiem");

    touch(p.folder / "Other.c-1", "another project");
    EXPECT_EQ(CopyProjectTo("Mass", p.project, p.project.data, "Other", 2), kFolderCannotCreate);
    EXPECT_TRUE(fs::exists(p.folder / "Requiem.c-1"));
    EXPECT_EQ(platform::testing::readBytes(p.folder / "Other.c-1"), "another project");
    EXPECT_EQ(p.project.filePath, p.folder / "Requiem.c-1");
}

TEST(ProjectCopy, ACopyThatCannotBeFinishedIsTakenAwayAgain) {
    for (const int mode : {ProjectData::kModeSaveAs, ProjectData::kModeEdit}) {
        ProjectOnDisk p;
        touch(p.folder / "Other.c-1", "another project");
        ProjectData record = p.copyOfData(mode);
        EXPECT_EQ(CopyProjectTo("Copy", p.project, record, "Other", 2), kFolderCannotCreate) << mode;
        EXPECT_FALSE(fs::exists(p.root / "Copy"));
        EXPECT_EQ(filesIn(p.folder), (std::set<std::string>{"a.mid", "sub", "sub/take.wav", "Mass.c-1", "Other.c-1"}));
        EXPECT_EQ(record.ProjectFolder, p.folder);
        EXPECT_EQ(p.project.filePath, p.folder / "Mass.c-1");
        EXPECT_EQ(p.project.entries[0].Filename, p.folder / "a.mid");
        EXPECT_TRUE(p.n.shell.projectFolder.empty());
    }
}

TEST(ProjectCopy, RefusesTargetsAndTitlesThatLeaveTheirPlace) {
    struct Case {
        std::string name;
        const char* title;
        int mode;
        int result;
    } cases[] = {
        {"Mass/inner", "Mass", ProjectData::kModeSaveAs, kFolderIsProjectFolder},
        {"Mass/inner", "Mass", ProjectData::kModeEdit, kFolderIsProjectFolder},
        {"@folder/deeper/still", "Mass", ProjectData::kModeSaveAs, kFolderIsProjectFolder},
        {"Taken", "Mass", ProjectData::kModeSaveAs, kFolderNotEmpty},
        {"..", "Mass", ProjectData::kModeSaveAs, kFolderBadName},
        {"../Escaped", "Mass", ProjectData::kModeEdit, kFolderBadName},
        {".", "Mass", ProjectData::kModeSaveAs, kFolderBadName},
        {"", "Mass", ProjectData::kModeSaveAs, kFolderBadName},
        {"Fine", "..", ProjectData::kModeSaveAs, kFolderBadName},
        {"Fine", "|*?", ProjectData::kModeEdit, kFolderBadName},
        {"Fine", "/", ProjectData::kModeNew, kFolderBadName},
    };
    for (const Case& c : cases) {
        ProjectOnDisk p;
        fs::create_directories(p.root / "Taken");
        const std::string name = c.name.starts_with("@folder") ? (p.folder / c.name.substr(8)).string() : c.name;
        ProjectData record = p.copyOfData(c.mode);
        const auto before = filesIn(p.dir.path());
        EXPECT_EQ(CopyProjectTo(name, p.project, record, c.title, 2), c.result) << c.name << " " << c.title;
        EXPECT_EQ(filesIn(p.dir.path()), before) << c.name << " " << c.title;
        EXPECT_EQ(record.ProjectFolder, p.folder);
        EXPECT_EQ(p.project.filePath, p.folder / "Mass.c-1");
    }
}

TEST(ProjectCopy, MoveNeverDeletesAFolderHoldingTheProjectsRoot) {
    ProjectOnDisk p;
    p.n.shell.projectsRootFolder = p.folder / "sub";
    const fs::path target = p.dir.path() / "Away";
    EXPECT_EQ(CopyProjectTo(target.string(), p.project, p.project.data, "Mass", 2), kFolderBadName);
    EXPECT_TRUE(fs::exists(p.folder / "sub" / "take.wav"));
    EXPECT_FALSE(fs::exists(target));
}

TEST(ProjectCopy, NewProjectGetsAnEmptyFolderOrAsksFirst) {
    ProjectOnDisk p;
    ProjectData record = p.copyOfData(ProjectData::kModeNew);
    ASSERT_EQ(CopyProjectTo("Fresh", p.project, record, "Fresh", 2), kFolderOk);
    EXPECT_TRUE(fs::is_directory(p.root / "Fresh"));
    EXPECT_EQ(record.ProjectFolder, p.root / "Fresh");
    EXPECT_EQ(record.ProjectTitle, "Fresh");
    EXPECT_TRUE(p.n.shell.questions.empty());

    touch(p.root / "Used" / "keep.mid");
    record = p.copyOfData(ProjectData::kModeNew);
    EXPECT_EQ(CopyProjectTo("Used", p.project, record, "Used", 2), kFolderNotEmpty);
    EXPECT_EQ(p.n.shell.questions, std::vector<int>{59});
    EXPECT_TRUE(fs::exists(p.root / "Used" / "keep.mid"));
    EXPECT_EQ(record.ProjectFolder, p.folder);

    p.n.shell.answer = kIdYes;
    ASSERT_EQ(CopyProjectTo("Used", p.project, record, "Used", 2), kFolderOk);
    EXPECT_TRUE(fs::is_empty(p.root / "Used"));
    EXPECT_EQ(CopyProjectTo("Mass", p.project, record, "Mass", 2), kFolderIsProjectFolder);
}

}  // namespace
}  // namespace qvp3
