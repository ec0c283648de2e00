// The list area's texts and the file kinds the add command takes.
#include <gtest/gtest.h>

#include "file_list_support.h"
#include "qvp3_project/project_file.h"

namespace qvp3 {
namespace {

TEST(FileListTexts, TheAddCommandTakesFilesByTheirExtension) {
    struct Case {
        const char* file;
        int image;
        bool accepted;
    };
    for (const Case& c : {Case{"a.mid", 11, true}, Case{"a.RMI", 11, true}, Case{"a.zrv", 11, true},
                          Case{"a.xml", 13, true}, Case{"a.tvrx", 33, true}, Case{"a.tvr", 21, true},
                          Case{"a.exe", 19, true}, Case{"a.txt", 21, false}, Case{"mid", 21, false},
                          Case{"Op. 27 No 2", 21, false}}) {
        EXPECT_EQ(appFileListIcon(c.file), c.image) << c.file;
        EXPECT_EQ(appAcceptsFile(c.file), c.accepted) << c.file;
    }
}

TEST(FileListTexts, TitleDisplaysAndProblemReport) {
    testing::RecordingShell shell;
    Project project{Neighbours{nullptr, nullptr, &shell}};
    // Titles are never cut short.
    const std::string title(300, 'T');
    EXPECT_EQ(appWindowTitle("qvp3", true, title), "qvp3 - [" + title + "]");
    EXPECT_EQ(appWindowTitle("qvp3", false, title), "qvp3");

    struct Case {
        int totalMs;
        int capacity;
        const char* text;
        bool overfull;
    };
    for (const Case& c : {Case{0, 800, "Disc: 0:00", false}, Case{61999, 800, "Disc: 1:01", false},
                          Case{800000, 800, "Disc: 13:20", false}, Case{800001, 800, "Disc: 13:20", true}}) {
        project.totalMs = c.totalMs;
        project.data.CDSpace = c.capacity;
        const DiscUsage usage = appDiscUsage(project, shell);
        EXPECT_EQ(usage.text, c.text) << c.totalMs;
        EXPECT_EQ(usage.overfull, c.overfull) << c.totalMs;
        EXPECT_EQ(usage.seconds, c.totalMs / 1000);
        EXPECT_EQ(usage.capacity, c.capacity);
    }
    EXPECT_EQ(appFileCountText(project, shell), "Files: 0");

    // -103 and -104 carry a file name each, in the order of their codes.
    const std::string report =
        appProjectProblemsText(shell, {kPrjCannotOpenSource, kPrjNoPause, kPrjUnknownSourceFormat, -1306},
                               {"gone.mid", "odd.xml"});
    EXPECT_EQ(report, "S178\n\t- Cannot open gone.mid\n\t- S193\n\t- Unknown format: odd.xml\n\t- (-1306)");
}

}  // namespace
}  // namespace qvp3
