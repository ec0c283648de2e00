// What the commands that hand over to the dialogs and to the step pages do,
// one table row each, against recording stand-ins of both.
#include <QAction>

#include <gtest/gtest.h>

#include <functional>

#include "qvp3_project/project.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_shell/recent_files.h"
#include "shell_fixture.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;

struct Calls {
    std::vector<std::string> log;
};

class RecordingDialogs : public ShellDialogs {
public:
    explicit RecordingDialogs(Calls& calls) : calls_(calls) {}
    bool projectData(ProjectData& data, int mode) override {
        calls_.log.push_back("projectData " + std::to_string(mode));
        data.ProjectDescription = "changed in the dialog";
        return true;
    }
    bool categories(std::string& text) override {
        calls_.log.push_back("categories");
        text = "3;7";
        return true;
    }
    int settings() override {
        calls_.log.push_back("settings");
        return 0;
    }
    bool profileEntries() override {
        calls_.log.push_back("profileEntries");
        return true;
    }

private:
    Calls& calls_;
};

class RecordingSteps : public StepHost {
public:
    explicit RecordingSteps(Calls& calls) : calls_(calls) {}
    void selectStep(int step) override { g_appState->project->currentStep = step; }
    void forwardCommand(int id, int code) override {
        calls_.log.push_back("forward " + std::to_string(id) + " " + std::to_string(code));
    }
    void updateStepMenuItems(int) override {}

private:
    Calls& calls_;
};

TEST_F(ShellFixture, CommandsHandOverToTheDialogsAndThePages) {
    newProject("Effects");
    window().runCommand(cmd::kSave);
    Calls calls;
    window().setDialogs(std::make_unique<RecordingDialogs>(calls));
    window().setStepHost(std::make_unique<RecordingSteps>(calls));
    window().updateCommands();
    Project& p = *app().project;
    const struct {
        int id;
        const char* call;
        std::function<void()> check;
    } rows[] = {
        {cmd::kShowProjectData, "projectData 0", [&] { EXPECT_EQ(p.data.ProjectDescription, ""); }},  // a copy only
        {cmd::kProjectData, "projectData 0",
         [&] {
             EXPECT_EQ(p.data.ProjectDescription, "changed in the dialog");
             EXPECT_FALSE(p.saved);
         }},
        {cmd::kCategories, "categories", [&] { EXPECT_EQ(p.CatInstrument, "3;7"); }},
        {cmd::kSettings, "settings", [] {}},
        {cmd::kProfileEntries, "profileEntries", [] {}},
        {cmd::kToggle, "forward 40073 65535", [] {}},
        {cmd::kRun, "forward 40077 65535", [] {}},
        {cmd::kTempoCurveA, "forward 40075 65535", [] {}},
        {cmd::kPwcB, "forward 40079 65535", [] {}},
    };
    for (const auto& row : rows) {
        calls.log.clear();
        window().runCommand(row.id);
        ASSERT_EQ(calls.log.size(), 1u) << row.id;
        EXPECT_EQ(calls.log[0], row.call) << row.id;
        row.check();
    }
}

TEST_F(ShellFixture, OpenProjectCommandOpensTheChosenFile) {
    newProject("First");
    addFiles({fixtureFiles()[2]});
    window().runCommand(cmd::kSave);
    const fs::path first = app().project->filePath;
    newProject("Second");  // asks whether to close the first project, which has files
    ASSERT_EQ(boxes.size(), 1u);  // the saved first project closes without a question
    EXPECT_EQ(boxes.back().stringId, 153);
    EXPECT_EQ(app().project->data.ProjectTitle, "Second");
    chooserAnswer = {first};
    nextAnswer = kIdNo;  // the second project is not saved on closing
    window().runCommand(cmd::kOpenProject);
    ASSERT_GE(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].stringId, 128);
    EXPECT_EQ(choosers.back().purpose, cmd::kOpenProject);
    EXPECT_EQ(choosers.back().defaultExtension, "c-1");
    EXPECT_EQ(app().project->data.ProjectTitle, "First");
    EXPECT_EQ(app().project->fileNum(), 1);
    EXPECT_EQ(app().lastProject, first);
    // The never-saved second project left nothing in the recent list.
    EXPECT_EQ(app().recentFiles->count(), 1u);
}

TEST_F(ShellFixture, EngineChangesMarkTheStepChanged) {
    newProject("Engine");
    window().runCommand(cmd::kSave);
    ASSERT_TRUE(app().project->saved);
    window().target().send(platform::WM_ENGINE_MODIFIED, 0, 0);
    EXPECT_FALSE(app().project->saved);
    EXPECT_NE(app().project->dirty & 1u, 0u);
    EXPECT_TRUE(window().action(cmd::kSave)->isEnabled());
}

}  // namespace
}  // namespace qvp3
