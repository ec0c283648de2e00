// What the dialog tests share: the test language table, message boxes and
// choosers answered in place of a user (and recorded), buttons pressed by
// their ids, and a project on disk below a projects root of its own.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QWidget>
#include <deque>
#include <fstream>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/settings_store.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_dialogs/dialog_support.h"
#include "qvp3_project/project.h"
#include "qvp3_project/project_file.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/message_box.h"
#include "qvp3_ui_testing.h"

namespace qvp3::testing {

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        qvp3ui::setLanguage(&language_);
        qvp3ui::setBoxResponder([this](const qvp3ui::BoxRequest& box) {
            boxes.push_back(box);
            if (!answers.empty()) {
                const int answer = answers.front();
                answers.pop_front();
                return answer;
            }
            return box.buttons == kMbYesNo || box.buttons == kMbYesNoCancel ? kIdYes : kIdOk;
        });
        dlg::setFolderResponder([this](const QString&) { return folderAnswer; });
        dlg::setFileResponder([this](const QString&) { return fileAnswer; });
        dlg::setHelpHandler([this](std::string_view topic) { helpTopics.emplace_back(topic); });
    }
    void TearDown() override {
        // The table goes with the fixture: the next test's members are made before its SetUp.
        qvp3ui::setLanguage(nullptr);
        qvp3ui::setBoxResponder({});
        dlg::setFolderResponder({});
        dlg::setFileResponder({});
        dlg::setHelpHandler({});
    }

    // The string ids of the boxes shown so far (a literal text counts as 0).
    std::vector<int> boxIds() const {
        std::vector<int> ids;
        for (const auto& box : boxes) ids.push_back(box.stringId);
        return ids;
    }
    static void click(QWidget& root, int id) {
        auto* button = qvp3ui::findControl<QAbstractButton>(root, id);
        ASSERT_NE(button, nullptr) << "no button " << id;
        button->click();
    }
    template <typename T = QWidget>
    static T* control(QWidget& root, int id) {
        T* found = qvp3ui::findControl<T>(root, id);
        EXPECT_NE(found, nullptr) << "no control " << id;
        return found;
    }

    std::vector<qvp3ui::BoxRequest> boxes;
    std::deque<int> answers;
    std::optional<std::filesystem::path> folderAnswer;
    std::optional<std::filesystem::path> fileAnswer;
    std::vector<std::string> helpTopics;

private:
    qvp3ui::LanguageModule language_ = qvp3ui::LanguageModule::testTable();
};

// The shell's language strings come from the language module, as in the program.
class LanguageShell : public BasicShell {
public:
    std::string languageString(int id) override { return qvp3ui::uiString(id); }
};

// A saved project "Mass" with one file, in the folder Mass below the projects root.
struct ProjectOnDisk {
    platform::testing::TempFolder dir;
    std::filesystem::path root = dir.path() / "Projects";
    std::filesystem::path folder = root / "Mass";
    LanguageShell shell;
    Project project{Neighbours{.shell = &shell}};

    ProjectOnDisk() {
        std::filesystem::create_directories(folder);
        shell.projectsRootFolder = root;
        project.data.ProjectFolder = folder;
        project.data.ProjectTitle = "Mass";
        project.data.ProjectDescription = "Easter";
        project.data.CDSpace = 5153;
        project.filePath = folder / "Mass.c-1";
        project.mp3Folder = folder / "mp3";
        std::ofstream(folder / "a.mid") << "MThd";
        EXPECT_TRUE(prjWriteFile(project));
    }
};

// Writes a project of the catalogue: its folder below the root and its file.
inline void catalogued(const std::filesystem::path& root, const std::string& name, const std::string& ensemble,
                const std::optional<std::string>& instruments, const std::string& description) {
    Project project;
    static_cast<BasicShell&>(project.shell()).projectsRootFolder = root;
    project.data.ProjectFolder = root / name;
    project.data.ProjectTitle = name;
    project.data.ProjectDescription = description;
    project.CatEnsemble = ensemble;
    project.CatInstrument = instruments;
    project.filePath = root / name / (name + ".c-1");
    std::filesystem::create_directories(root / name);
    ASSERT_TRUE(prjWriteFile(project));
}

}  // namespace qvp3::testing
