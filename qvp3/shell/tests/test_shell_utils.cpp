// The shell's small services: deleting what a project made (and nothing
// else), read-only trees, step selection, text helpers, help addresses and
// chooser filters.
#include <QUrl>

#include <gtest/gtest.h>

#include <fstream>

#include "qvp3_shell/choosers.h"
#include "qvp3_shell/help.h"
#include "qvp3_shell/menus.h"
#include "qvp3_shell/shell_utils.h"
#include "qvp3_ui_testing.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;

fs::path freshFolder(const std::string& name) {
    const fs::path folder = qvp3ui::testing::testHome() / "utils" / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

void touch(const fs::path& file) { std::ofstream(file) << "x"; }

TEST(DeleteConvertedFiles, DeletesOnlyWhatTheProjectMade) {
    const fs::path folder = freshFolder("convert");
    for (const char* f : {"song_qvpcnv.mid", "song.mid", "song_qvpcnv.wav", "notes.wav", "01-Etudes-song.mp3",
                          "mine.mp3", "Song_QVPCNV.MID"})
        touch(folder / f);
    EXPECT_TRUE(appDeleteConvertedFiles("mid", folder, "Etudes"));
    EXPECT_FALSE(fs::exists(folder / "song_qvpcnv.mid"));
    EXPECT_TRUE(fs::exists(folder / "song.mid"));
    EXPECT_TRUE(fs::exists(folder / "song_qvpcnv.wav"));
    EXPECT_TRUE(appDeleteConvertedFiles("mp3", folder, "etudes"));
    EXPECT_FALSE(fs::exists(folder / "01-Etudes-song.mp3"));
    EXPECT_TRUE(fs::exists(folder / "mine.mp3"));
}

TEST(DeleteConvertedFiles, AnEmptyTitleDeletesNoMp3) {
    const fs::path folder = freshFolder("emptytitle");
    touch(folder / "a.mp3");
    touch(folder / "b.mp3");
    EXPECT_TRUE(appDeleteConvertedFiles("mp3", folder, ""));
    EXPECT_TRUE(fs::exists(folder / "a.mp3"));
    EXPECT_TRUE(fs::exists(folder / "b.mp3"));
}

TEST(DeleteConvertedFiles, ALinkOutOfTheFolderIsNotFollowed) {
    const fs::path outside = freshFolder("outside");
    const fs::path folder = freshFolder("linked");
    touch(outside / "precious_qvpcnv.mid");
    fs::create_symlink(outside / "precious_qvpcnv.mid", folder / "link_qvpcnv.mid");
    EXPECT_TRUE(appDeleteConvertedFiles("mid", folder, "T"));
    EXPECT_TRUE(fs::exists(outside / "precious_qvpcnv.mid"));
    EXPECT_FALSE(appPathInside(folder / "link_qvpcnv.mid", folder));
    EXPECT_TRUE(appPathInside(folder / "x", folder));
    EXPECT_FALSE(appPathInside(folder / ".." / "linked2" / "x", folder));
    EXPECT_FALSE(appPathInside(folder, folder));
}

TEST(DeleteProjectOutput, LeavesSourcesAndTheUsersFiles) {
    const fs::path folder = freshFolder("output");
    for (const char* f : {"tune.xml", "tune.xml.tvrx", "lonely.xml.tvrx", "tune_qvpcnv.mid", "tune_qvpcnv.wav",
                          "01-Tune-tune.mp3", "letter.txt", "song.mid"})
        touch(folder / f);
    EXPECT_TRUE(appDeleteProjectOutput(folder, "Tune"));
    for (const char* gone : {"tune.xml.tvrx", "tune_qvpcnv.mid", "tune_qvpcnv.wav", "01-Tune-tune.mp3"})
        EXPECT_FALSE(fs::exists(folder / gone)) << gone;
    // A ".tvrx" whose source is not there may be the user's own score.
    for (const char* kept : {"tune.xml", "lonely.xml.tvrx", "letter.txt", "song.mid"})
        EXPECT_TRUE(fs::exists(folder / kept)) << kept;
}

TEST(ClearReadOnlyTree, LeavesNoReadOnlyFileBelowTheFolder) {
    const fs::path folder = freshFolder("readonly");
    fs::create_directories(folder / "sub" / "deeper");
    for (const fs::path& f : {folder / "a", folder / "sub" / "b", folder / "sub" / "deeper" / "c"}) {
        touch(f);
        fs::permissions(f, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }
    EXPECT_TRUE(appClearReadOnlyTree(folder));
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        EXPECT_NE(entry.status().permissions() & fs::perms::owner_write, fs::perms::none) << entry.path();
}

TEST(RecycleBin, MovesTheFileIntoTheTrashWithItsInformation) {
    const fs::path folder = freshFolder("trash");
    const fs::path trash = qvp3ui::testing::testHome() / "share" / "Trash";
    for (int round = 0; round < 2; ++round) {
        touch(folder / "old take.mid");
        if (!scDeleteToRecycleBin(folder / "old take.mid")) GTEST_SKIP() << "the trash is on another file system";
        EXPECT_FALSE(fs::exists(folder / "old take.mid"));
    }
    // The second file of the same name gets a name of its own.
    EXPECT_TRUE(fs::exists(trash / "files" / "old take.mid"));
    EXPECT_TRUE(fs::exists(trash / "files" / "old take.mid.2"));
    std::ifstream info(trash / "info" / "old take.mid.trashinfo");
    std::string head, pathLine;
    std::getline(info, head);
    std::getline(info, pathLine);
    EXPECT_EQ(head, "[Trash Info]");
    EXPECT_EQ(pathLine, "Path=" + QUrl::toPercentEncoding(QString::fromStdString((folder / "old take.mid").string()), "/").toStdString());
    EXPECT_FALSE(scDeleteToRecycleBin(folder / "old take.mid"));  // gone already
}

TEST(SelectStep, StopsBeforeAnUnavailableStepAndStaysInRange) {
    const struct {
        int from, to, unavailable, expected;
    } cases[] = {
        {3, 9, 6, 5}, {3, 9, -1, 9}, {9, 3, 6, 3}, {4, 4, -1, 4}, {17, 18, -1, 17}, {0, -1, -1, 0}, {3, 4, 4, 3},
    };
    for (const auto& c : cases) {
        int selected = -1;
        const int result = appSelectStep(
            c.from, c.to, [&](int step) { return step != c.unavailable; }, [&](int step) { selected = step; });
        EXPECT_EQ(result, c.expected) << c.from << "->" << c.to;
        EXPECT_EQ(selected, c.expected == c.from ? -1 : c.expected) << c.from << "->" << c.to;
    }
}

TEST(TextHelpers, ParsePairCleanNamesAndFormatPositions) {
    const struct {
        const char* text;
        int first, second;
    } pairs[] = {{"0 12", 0, 12}, {"ab 12", -1, 12}, {"3 4", 3, 4}, {"7", 7, -1}, {"5 x", 5, -1}};
    for (const auto& p : pairs) {
        int a = 9, b = 9;
        appParseIntPair(p.text, a, b);
        EXPECT_EQ(a, p.first) << p.text;
        EXPECT_EQ(b, p.second) << p.text;
    }
    const struct {
        int pause;
        bool raise;
        int next;
    } pauses[] = {{10, true, 0}, {0, false, 10}, {2, true, 3}, {2, false, 1}};
    for (const auto& p : pauses) EXPECT_EQ(appNextPause(p.pause, p.raise), p.next) << p.pause;
    std::string name = "ab|c*d?e\\f";
    appCleanFileName(name);
    EXPECT_EQ(name, "abcdef");
    EXPECT_EQ(appFormatPlayTime(0), "0:00:000");
    EXPECT_EQ(appFormatPlayTime(3'723'456), "2:03:456");  // minutes are shown modulo 60
    EXPECT_EQ(appFormatBarBeat(12, 3), "12 : 3");
    EXPECT_DOUBLE_EQ(appBytesToSeconds(176400 * 3), 3.0);
    std::string n, e;
    appSplitFileName("/a/b/song.final.mid", n, e);
    EXPECT_EQ(n, "song.final");
    EXPECT_EQ(e, "mid");
    appSplitFileName("/a/README", n, e);
    EXPECT_EQ(n, "README");
    EXPECT_EQ(e, "");
    EXPECT_LT(appCompareFileNames("/x/alpha.mid", "/a/Beta.mid"), 0);
    EXPECT_EQ(appCompareFileNames("/x/SONG.mid", "/y/song.mid"), 0);
}

TEST(Help, PagePerLanguageAtTheTopicsAnchor) {
    const fs::path folder = freshFolder("help");
    fs::create_directories(folder / "help");
    for (const char* page : {"handbuch_qvp3.html", "handbuch_qvp3_EN_UK.html"}) touch(folder / "help" / page);
    EXPECT_EQ(appHelpUrl(folder, 6, "glossar").fileName(), "handbuch_qvp3_EN_UK.html");
    EXPECT_EQ(appHelpUrl(folder, 6, "glossar").fragment(), "glossar");
    EXPECT_EQ(appHelpUrl(folder, 1, "").fileName(), "handbuch_qvp3.html");
    EXPECT_TRUE(appHelpUrl(folder, 1, "").fragment().isEmpty());
    EXPECT_TRUE(appHelpUrl(folder, 7, "tastatur").isEmpty());  // no Dutch page here
    EXPECT_EQ(appHelpPage(5), "handbuch_qvp3_EN_US.html");
    EXPECT_EQ(appHelpPage(10), "handbuch_qvp3_EN_UN.html");
    EXPECT_EQ(appHelpPage(7), "handboek_qvp3.html");
    // Every topic the program opens has its anchor in the shipped pages.
    for (const char* page : {"handbuch_qvp3.html", "handbuch_qvp3_EN_UK.html"}) {
        std::ifstream in(fs::path(QVP3_PROGRAM_DIR) / "help" / page);
        const std::string html((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<std::string> topics{"tastatur", "glossar", "hilfe_verw", "proj_mitgel", "quelldatei", "playback",
                                        "profile", "projekt_laden", "Datei_hinzufügen", "projekt_speichern",
                                        "einst_allg", "hall"};
        for (int i = 1; i <= 18; ++i) topics.push_back("abschnitt" + std::to_string(i));
        for (const std::string& t : topics) EXPECT_NE(html.find("id=\"" + t + "\""), std::string::npos) << page << " " << t;
    }
}

TEST(FileChooser, FilterPairsAndHelpTopics) {
    EXPECT_EQ(appFilterList("Projects|*.c-1|"), std::vector<std::string>{"Projects (*.c-1)"});
    EXPECT_EQ(appFilterList("Scores|*.tvr;*.xml|MIDI|*.mid|"),
              (std::vector<std::string>{"Scores (*.tvr *.xml)", "MIDI (*.mid)"}));
    EXPECT_TRUE(appFilterList("Lonely description|").empty());
    EXPECT_EQ(appFileDialogHelpTopic(40022), "projekt_laden");
    EXPECT_EQ(appFileDialogHelpTopic(40009), "Datei_hinzufügen");
    EXPECT_EQ(appFileDialogHelpTopic(40024), "projekt_speichern");
    EXPECT_EQ(appFileDialogHelpTopic(1022), "einst_allg");
    EXPECT_EQ(appFileDialogHelpTopic(5), "hall");
}

}  // namespace
}  // namespace qvp3
