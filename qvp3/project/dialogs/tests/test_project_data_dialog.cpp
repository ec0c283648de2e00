// The project data dialog in its three modes, against a project on disk.
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <fstream>

#include "dialog_fixture.h"
#include "qvp3_dialogs/dialog_strings.h"
#include "qvp3_dialogs/project_data_dialog.h"
#include "qvp3_project/project_folder.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using testing::ProjectOnDisk;

class ProjectDataDialogTest : public testing::DialogTest {
protected:
    ProjectOnDisk disk;

    ProjectData copyWithMode(int mode) {
        ProjectData record = disk.project.data;
        record.ProjectDataMode = mode;
        return record;
    }
    static void type(ProjectDataDialog& dialog, int id, const char* text) {
        control<QLineEdit>(dialog, id)->setText(QString::fromUtf8(text));
    }
    static QString shown(ProjectDataDialog& dialog, int id) { return control<QLineEdit>(dialog, id)->text(); }
};

TEST(ProjectDataCapacity, MegabytesAndSecondsConvertAsTheDiscHolds) {
    struct Case {
        int megabytes;
        int seconds;
    };
    for (const Case c : {Case{600, 3566}, Case{900, 5349}, Case{1000, 5944}}) {
        EXPECT_EQ(appBytesToSeconds(c.megabytes), c.seconds) << c.megabytes;
    }
    EXPECT_EQ(prjSecondsToMegabytes(kCdSpace80Minutes), 807);
    EXPECT_EQ(prjSecondsToMegabytes(kCdSpace90Minutes), 867);
}

TEST_F(ProjectDataDialogTest, NewProjectFolderFollowsTheCleanedTitleAndIsCreated) {
    ProjectData record = copyWithMode(ProjectData::kModeNew);
    int titles = 0;
    int normalize = -1;
    ProjectDataDialog dialog(
        {.project = disk.project, .record = record, .setWindowTitle = [&] { ++titles; }, .chosenNormalize = &normalize});
    EXPECT_TRUE(control<QRadioButton>(dialog, 1162)->isChecked());
    EXPECT_EQ(control<QSpinBox>(dialog, 1003)->value(), 900);
    EXPECT_TRUE(shown(dialog, 1155).isEmpty());
    type(dialog, 1155, "Bach|*? / Cantata");
    EXPECT_EQ(shown(dialog, 1157), "Bach  Cantata") << "cleaned as a file name";
    type(dialog, 1160, "");
    click(dialog, 1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(fs::is_directory(disk.root / "Bach  Cantata"));
    EXPECT_EQ(record.ProjectFolder, disk.root / "Bach  Cantata");
    EXPECT_EQ(record.ProjectTitle, "Bach|*? / Cantata");
    EXPECT_EQ(record.ProjectDescription, "S157") << "an empty description is never stored";
    EXPECT_EQ(record.CDSpace, kCdSpace80Minutes);
    EXPECT_EQ(titles, 1);
    EXPECT_EQ(normalize, 2) << "the open project's choice, for the new project to take";
    // The open project is the caller's to change.
    EXPECT_EQ(disk.project.data.ProjectFolder, disk.folder);
}

TEST_F(ProjectDataDialogTest, RefusalsKeepTheDialogOpenAndTheProjectAsItWas) {
    struct Case {
        const char* what;
        const char* title;
        const char* folder;
        int capacity;  // MB typed under "other"; 0 keeps the 90-minute disc
        int box;
        bool ownSubfolder = false;  // the folder: a folder inside the project's own
    };
    const Case cases[] = {
        {"no title", "", "New", 0, 257},
        {"no folder", "New", "", 0, 258},
        {"too small a disc", "New", "New", 599, 260},
        {"too large a disc", "New", "New", 1001, 260},
        {"a title naming no file", "..", "New", 0, kStrBadFileName},
        {"a folder naming the root", "New", ".", 0, kStrBadFileName},
        {"a folder above the root", "New", "..", 0, kStrBadFileName},
        {"a folder in use", "New", "Busy", 0, 76},
        {"the project's own subfolder", "New", "", 0, 199, true},
    };
    fs::create_directories(disk.root / "Busy");
    std::ofstream(disk.root / "Busy" / "x") << "x";
    fs::create_directories(disk.folder / "inside");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        boxes.clear();
        ProjectData record = copyWithMode(ProjectData::kModeSaveAs);
        const ProjectData before = record;
        ProjectDataDialog dialog({.project = disk.project, .record = record});
        type(dialog, 1155, c.title);
        type(dialog, 1160, "changed");
        type(dialog, 1157, c.ownSubfolder ? (disk.folder / "inside").c_str() : c.folder);
        if (c.capacity != 0) {
            click(dialog, 1164);
            control<QSpinBox>(dialog, 1003)->setValue(c.capacity);
        }
        click(dialog, 1);
        EXPECT_EQ(dialog.result(), QDialog::Rejected) << "still open";
        EXPECT_EQ(boxIds(), std::vector<int>{c.box == 260 ? 0 : c.box});
        if (c.box == 260) {
            EXPECT_EQ(boxes[0].text, "S260");
            EXPECT_EQ(control<QSpinBox>(dialog, 1003)->value(), 1000);
        }
        EXPECT_EQ(record.ProjectFolder, before.ProjectFolder);
        EXPECT_EQ(record.ProjectTitle, before.ProjectTitle);
        EXPECT_EQ(record.ProjectDescription, before.ProjectDescription);
        EXPECT_EQ(record.CDSpace, before.CDSpace);
    }
    EXPECT_TRUE(fs::exists(disk.folder / "Mass.c-1"));
    EXPECT_FALSE(fs::exists(disk.root / "New"));
}

TEST_F(ProjectDataDialogTest, SaveAsCopiesAndNeverTouchesTheOldProject) {
    ProjectData record = copyWithMode(ProjectData::kModeSaveAs);
    ProjectDataDialog dialog({.project = disk.project, .record = record});
    EXPECT_EQ(shown(dialog, 1157), "Mass") << "a folder below the root shows by its name";
    EXPECT_TRUE(control<QRadioButton>(dialog, 1163)->isChecked());
    EXPECT_EQ(control<QSpinBox>(dialog, 1003)->value(), 867);
    type(dialog, 1155, "Mass II");
    EXPECT_EQ(shown(dialog, 1157), "Mass II");
    click(dialog, 1166);
    click(dialog, 1);
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(fs::exists(disk.root / "Mass II" / "Mass II.c-1"));
    EXPECT_TRUE(fs::exists(disk.root / "Mass II" / "a.mid"));
    // The old project stays whole, and the open project keeps its own record.
    EXPECT_TRUE(fs::exists(disk.folder / "Mass.c-1"));
    EXPECT_TRUE(fs::exists(disk.folder / "a.mid"));
    EXPECT_EQ(disk.project.data.ProjectFolder, disk.folder);
    EXPECT_EQ(disk.project.normalize, 2) << "save as leaves the open project's choice alone";
}

TEST_F(ProjectDataDialogTest, EditRenamesTheOpenProjectAndTakesTheNormalisation) {
    disk.project.data.ProjectDataMode = ProjectData::kModeEdit;
    disk.project.data.CDSpace = 4000;
    ProjectDataDialog dialog({.project = disk.project, .record = disk.project.data});
    EXPECT_FALSE(control(dialog, 1157)->isEnabled());
    EXPECT_FALSE(control(dialog, 4)->isEnabled());
    EXPECT_TRUE(control(dialog, 1158)->isHidden());
    EXPECT_TRUE(control<QRadioButton>(dialog, 1164)->isChecked());
    EXPECT_EQ(control<QSpinBox>(dialog, 1003)->value(), prjSecondsToMegabytes(4000));
    type(dialog, 1155, "Requiem");
    click(dialog, 1168);
    click(dialog, 1162);
    click(dialog, 1);
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(disk.project.data.ProjectFolder, disk.root / "Requiem");
    EXPECT_EQ(disk.project.data.CDSpace, kCdSpace80Minutes);
    EXPECT_EQ(disk.project.normalize, 0);
    EXPECT_TRUE(fs::exists(disk.root / "Requiem" / "Requiem.c-1"));
    EXPECT_FALSE(fs::exists(disk.folder));
}

TEST_F(ProjectDataDialogTest, EditRefusedThenCancelledLeavesTheOpenProjectWhole) {
    disk.project.data.ProjectDataMode = ProjectData::kModeEdit;
    const ProjectData before = disk.project.data;
    ProjectDataDialog dialog({.project = disk.project, .record = disk.project.data});
    type(dialog, 1155, "Requiem");
    type(dialog, 1160, "Changed");
    click(dialog, 1164);
    control<QSpinBox>(dialog, 1003)->setValue(599);
    click(dialog, 1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "S260");
    click(dialog, 2);
    EXPECT_EQ(disk.project.data.ProjectDescription, before.ProjectDescription);
    EXPECT_EQ(disk.project.data.CDSpace, before.CDSpace);
    EXPECT_EQ(disk.project.data.ProjectTitle, before.ProjectTitle);
    EXPECT_TRUE(fs::exists(disk.folder / "Mass.c-1"));
}

TEST_F(ProjectDataDialogTest, AFolderOutsideTheRootShowsWholeAndStaysPut) {
    const fs::path elsewhere = disk.dir.path() / "Elsewhere";
    disk.project.data.ProjectFolder = elsewhere;
    ProjectData record = copyWithMode(ProjectData::kModeSaveAs);
    ProjectDataDialog dialog({.project = disk.project, .record = record});
    EXPECT_EQ(shown(dialog, 1157).toStdString(), elsewhere.string());
    type(dialog, 1155, "Other");
    EXPECT_EQ(shown(dialog, 1157).toStdString(), elsewhere.string()) << "does not follow the title";
}

TEST_F(ProjectDataDialogTest, CancelAndTheFolderChooser) {
    ProjectData record = copyWithMode(ProjectData::kModeNew);
    const ProjectData before = record;
    ProjectDataDialog dialog({.project = disk.project, .record = record});
    folderAnswer = disk.folder;  // not empty: asked first
    answers = {kIdNo};
    click(dialog, 4);
    EXPECT_EQ(boxIds(), std::vector<int>{62});
    EXPECT_TRUE(shown(dialog, 1157).isEmpty()) << "No keeps the field";
    answers = {kIdYes};
    click(dialog, 4);
    EXPECT_EQ(shown(dialog, 1157), "Mass");
    folderAnswer = fs::path();
    click(dialog, 4);
    EXPECT_EQ(boxIds().back(), 61);
    click(dialog, 9);
    EXPECT_EQ(helpTopics, std::vector<std::string>{"projekt_neu"});
    click(dialog, 2);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(record.ProjectFolder, before.ProjectFolder);
    EXPECT_EQ(record.ProjectDescription, before.ProjectDescription);
}

}  // namespace
}  // namespace qvp3
