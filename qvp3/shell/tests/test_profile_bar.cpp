// The profile bar's commands: save the page as a profile, refuse an empty or
// a taken name, apply the selected profile to the current file, delete it.
#include <QComboBox>
#include <QLineEdit>

#include <gtest/gtest.h>

#include "qvp3_project/profile_context.h"
#include "qvp3_project/project.h"
#include "qvp3_shell/main_window.h"
#include "shell_fixture.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;

TEST_F(ShellFixture, ProfilesAreSavedAppliedAndDeleted) {
    app().profiles->profileFolder = home / "profiles";
    fs::create_directories(app().profiles->profileFolder);
    newProject("Profiles");
    addFiles({fixtureFiles()[2]});
    StepPage* page = stpGetPage(*app().project, 0);
    ASSERT_NE(page, nullptr);
    int written = 0;
    std::vector<ProjectEntry*> applied;
    page->writeProfile = [&](StepPage&, const fs::path&, std::int32_t, ProjectEntry*) { return ++written > 0; };
    page->readProfile = [&](StepPage&, const fs::path&, std::int32_t, std::int32_t, ProjectEntry* entry) {
        applied.push_back(entry);
        return true;
    };
    QComboBox* combo = window().profileList();

    combo->setEditText("");
    window().runCommand(cmd::kSaveProfile);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].stringId, 349);

    combo->setEditText("Soft start");
    window().runCommand(cmd::kSaveProfile);
    EXPECT_EQ(written, 1);
    ASSERT_EQ(combo->count(), 1);
    EXPECT_EQ(combo->itemText(0), "Soft start");
    const fs::path file = combo->itemData(0).toString().toStdString();
    EXPECT_TRUE(fs::exists(file));

    combo->setEditText("SOFT START");  // names compare without regard to case
    window().runCommand(cmd::kSaveProfile);
    EXPECT_EQ(boxes.back().stringId, 348);
    EXPECT_EQ(written, 1);

    combo->setCurrentIndex(0);
    nextAnswer = kIdYes;
    window().runCommand(cmd::kApplyProfile);
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_EQ(applied[0], &app().project->entries[0]);

    nextAnswer = kIdNo;
    window().runCommand(cmd::kDeleteProfile);
    EXPECT_TRUE(fs::exists(file));
    nextAnswer = kIdYes;
    window().runCommand(cmd::kDeleteProfile);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(combo->count(), 0);
    EXPECT_EQ(app().profiles->selectedIndex, -1);
}

}  // namespace
}  // namespace qvp3
