// The round trip to the outside MIDI editor: the project is copied before
// the editor starts; back in the program, an unchanged file ends the watch
// quietly, a changed one reloads the project and offers to save it.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "platform/files.h"
#include "qvp3_project/project.h"
#include "qvp3_shell/app_state.h"
#include "qvp3_shell/main_commands.h"
#include "qvp3_shell/main_window.h"
#include "shell_fixture.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;

class EditorTest : public ShellFixture {
protected:
    void SetUp() override {
        ShellFixture::SetUp();
        newProject("Edit");
        addFiles({fixtureFiles()[2]});
        window().runCommand(cmd::kSave);
        app().project->currentEntry = 0;
        window().updateCommands();
    }
};

TEST_F(EditorTest, WithoutAnEditorTheUserIsTold) {
    window().runCommand(cmd::kExternalEditor);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].stringId, 125);
    EXPECT_FALSE(app().editorWatchActive);
}

TEST_F(EditorTest, AMissingEditorProgramIsNotInstalled) {
    app().midiEditor = {"/nowhere/midi-editor", 3, ""};
    window().runCommand(cmd::kExternalEditor);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("midi-editor"), std::string::npos);
    EXPECT_FALSE(app().editorWatchActive);
    EXPECT_TRUE(app().editorProjectCopy.empty());
    EXPECT_EQ(platform::listFiles(app().projectsRoot / "Edit", "qvp*.tmp").size(), 0u);
}

TEST_F(EditorTest, ComingBackUnchangedClearsTheWatchAndTheCopy) {
    app().midiEditor = {"/bin/true", 3, ""};
    window().runCommand(cmd::kExternalEditor);
    ASSERT_TRUE(app().editorWatchActive);
    const fs::path copy = app().editorProjectCopy;
    EXPECT_TRUE(fs::exists(copy));
    MainCommands(window()).onActivateApp(true);
    EXPECT_FALSE(app().editorWatchActive);
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(EditorTest, AChangedFileReloadsTheProjectAndOffersToSave) {
    app().midiEditor = {"/bin/true", 3, ""};
    window().runCommand(cmd::kExternalEditor);
    const fs::path file = app().project->entries[0].Filename;
    const fs::path projectFile = app().project->filePath;
    fs::last_write_time(file, fs::last_write_time(file) + std::chrono::seconds(5));
    nextAnswer = kIdYes;
    MainCommands(window()).onActivateApp(true);
    // The question, the reader's note on the changed file, the offer to save.
    ASSERT_GE(boxes.size(), 2u);
    EXPECT_EQ(boxes.front().stringId, 130);
    EXPECT_EQ(boxes.back().stringId, 132);
    EXPECT_EQ(app().project->filePath, projectFile);  // never the temporary copy
    EXPECT_EQ(app().project->fileNum(), 1);
    EXPECT_TRUE(app().project->saved);
    EXPECT_FALSE(app().editorWatchActive);
    EXPECT_EQ(platform::listFiles(projectFile.parent_path(), "qvp*.tmp").size(), 0u);
}

}  // namespace
}  // namespace qvp3
