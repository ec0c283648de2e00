// The project choosers: the open chooser shows the chosen project's
// description and its two options, the save chooser its project-data
// button, both a help button for their topic. Screenshots of both.
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include "qvp3_project/project.h"
#include "qvp3_shell/choosers.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui_testing.h"
#include "shell_fixture.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using qvp3ui::findControl;

TEST_F(ShellFixture, OpenProjectChooserShowsTheDescriptionAndItsOptions) {
    newProject("Described");
    app().project->data.ProjectDescription = "Scales for the left hand";
    window().runCommand(cmd::kSave);
    const fs::path file = app().project->filePath;
    EXPECT_EQ(appProjectDescription(file), "Scales for the left hand");
    EXPECT_EQ(appProjectDescription(home / "none.c-1"), "");

    FileDialogRequest request{false, "qvp3 projects|*.c-1|", "Open project", file.parent_path(), "", "c-1", 40022, false};
    std::unique_ptr<QFileDialog> dialog = appMakeFileDialog(&window(), request);
    auto* description = findControl<QLabel>(*dialog, 1002);
    ASSERT_NE(description, nullptr);
    EXPECT_EQ(findControl<QLabel>(*dialog, 1001)->text().toStdString(), app().stringModule->string(158));
    EXPECT_EQ(findControl<QCheckBox>(*dialog, 1003)->text().toStdString(), app().stringModule->string(159));
    EXPECT_TRUE(findControl<QCheckBox>(*dialog, 1004)->isChecked());
    EXPECT_EQ(findControl<QPushButton>(*dialog, 1005)->text().toStdString(), app().stringModule->string(155));
    dialog->show();
    emit dialog->currentChanged(QString::fromStdString(file.string()));
    EXPECT_EQ(description->text(), "Scales for the left hand");
    findControl<QCheckBox>(*dialog, 1003)->setChecked(true);
    findControl<QCheckBox>(*dialog, 1004)->setChecked(false);
    qvp3ui::testing::saveScreenshot(*dialog, "open_project_chooser");
    emit dialog->accepted();
    EXPECT_TRUE(app().openOptionA);
    EXPECT_FALSE(app().openOptionB);

    findControl<QPushButton>(*dialog, 1038)->click();
    EXPECT_EQ(helpOpened.back(), "handbuch_qvp3_EN_UK.html#projekt_laden");
}

TEST_F(ShellFixture, SaveProjectChooserHasTheProjectDataButton) {
    newProject("Saved");
    FileDialogRequest request{true, "qvp3 projects|*.c-1|", "Save project as", app().projectsRoot / "Saved",
                              "Saved.c-1", "c-1", 40024, false};
    std::unique_ptr<QFileDialog> dialog = appMakeFileDialog(&window(), request);
    auto* data = findControl<QPushButton>(*dialog, 1001);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->text().toStdString(), app().stringModule->string(156));
    dialog->show();
    qvp3ui::testing::saveScreenshot(*dialog, "save_project_chooser");
    findControl<QPushButton>(*dialog, 1038)->click();
    EXPECT_EQ(helpOpened.back(), "handbuch_qvp3_EN_UK.html#projekt_speichern");
}

}  // namespace
}  // namespace qvp3
