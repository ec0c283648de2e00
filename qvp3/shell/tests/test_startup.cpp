// Start-up and shutdown of the program in this process: the data folders and
// the sample projects on a first start, the start-up project of the command
// line, a program folder without language tables, and an orderly end.
#include <QApplication>
#include <QTreeView>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "platform/settings_store.h"
#include "qvp3_project/project.h"
#include "qvp3_shell/app_state.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_shell/startup.h"
#include "qvp3_ui/message_box.h"
#include "qvp3_ui_testing.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int n = 0;
        home = qvp3ui::testing::testHome() / ("start" + std::to_string(++n));
        fs::create_directories(home / "Documents");
        ::setenv("XDG_DOCUMENTS_DIR", (home / "Documents").c_str(), 1);
        ::setenv("QVP3_CONFIG_HOME", (home / "config").c_str(), 1);
        platform::SettingsStore store;
        store.createKey(platform::Hive::Machine, platform::kProgramSettingsKey).writeDword("Language", 6);
        qvp3ui::setBoxResponder([this](const qvp3ui::BoxRequest& r) {
            boxes.push_back(r);
            return kIdNo;
        });
    }
    void TearDown() override {
        qvp3ui::setBoxResponder({});
        ::setenv("XDG_DOCUMENTS_DIR", (qvp3ui::testing::testHome() / "Documents").c_str(), 1);
        ::setenv("QVP3_CONFIG_HOME", (qvp3ui::testing::testHome() / "config").c_str(), 1);
    }
    std::unique_ptr<MainWindow> start(const CommandLine& line, const fs::path& folder = QVP3_PROGRAM_DIR) {
        int code = -1;
        std::unique_ptr<MainWindow> window = appStartUp(line, folder, code);
        exitCode = code;
        return window;
    }
    fs::path home;
    int exitCode = 0;
    int welcomesSeen = 0;
    std::vector<qvp3ui::BoxRequest> boxes;
};

TEST_F(StartupTest, FirstStartCopiesTheSampleProjectsWhichOpenWithoutComplaint) {
    std::unique_ptr<MainWindow> window = start({});
    ASSERT_TRUE(window) << exitCode;
    ASSERT_NE(g_appState, nullptr);
    const fs::path root = home / "Documents" / "qvp3" / "Projects";
    EXPECT_EQ(g_appState->projectsRoot, root);
    EXPECT_TRUE(fs::is_directory(home / "Documents" / "qvp3" / "Profiles"));
    ASSERT_TRUE(fs::exists(root / "Sample" / "Sample.c-1"));
    EXPECT_EQ(g_appState->versionId, "3.0-57");
    EXPECT_TRUE(window->isMaximized());
    appShutDown(std::move(window));
    EXPECT_EQ(g_appState, nullptr);

    // A second start copies nothing again.
    fs::remove(root / "Sample" / "piano.xml");
    window = start({root / "Sample" / "Sample.c-1"});
    ASSERT_TRUE(window);
    EXPECT_FALSE(fs::exists(root / "Sample" / "piano.xml"));
    appOpenStartProject(*window, {root / "Sample" / "Sample.c-1"});
    EXPECT_TRUE(g_appState->projectOpen);
    EXPECT_EQ(g_appState->project->fileNum(), 3);
    EXPECT_TRUE(g_appState->openFileAtStart);
    for (const auto& b : boxes) ADD_FAILURE() << "box " << b.stringId << ": " << b.text;
    qvp3ui::testing::saveScreenshot(*window, "sample_project");
    appShutDown(std::move(window));
}

// Counts the welcome dialogs.
struct WelcomeCounter : ShellDialogs {
    int* shown;
    explicit WelcomeCounter(int* counter) : shown(counter) {}
    bool projectData(ProjectData&, int) override { return false; }
    void welcome() override { ++*shown; }
};

TEST_F(StartupTest, HowToStartChoosesWelcomeLastProjectOrNothing) {
    // A first start makes the sample project, which serves as the last project.
    std::unique_ptr<MainWindow> window = start({});
    ASSERT_TRUE(window);
    const fs::path sample = g_appState->projectsRoot / "Sample" / "Sample.c-1";
    appShutDown(std::move(window));
    const struct {
        std::optional<std::uint32_t> howToStart;
        int welcomes;
        bool open;
    } cases[] = {{std::nullopt, 1, false}, {1, 1, false}, {2, 0, true}, {0, 0, false}};
    for (const auto& c : cases) {
        platform::SettingsStore store;
        platform::SettingsKey key = store.createKey(platform::Hive::User, platform::kProgramSettingsKey);
        if (c.howToStart) {
            key.writeDword("HowToStart", *c.howToStart);
        } else {
            key.deleteValue("HowToStart");
        }
        key.writeString("LastLoadedProject", sample.string());
        window = start({});
        ASSERT_TRUE(window);
        int welcomes = 0;
        window->setDialogs(std::make_unique<WelcomeCounter>(&welcomes));
        appOpenStartProject(*window, {});
        EXPECT_EQ(welcomes, c.welcomes) << c.howToStart.value_or(99);
        EXPECT_EQ(g_appState->projectOpen, c.open) << c.howToStart.value_or(99);
        appShutDown(std::move(window));
    }
}

TEST_F(StartupTest, ExtensionsGetTheWindowBeforeTheStartProject) {
    std::vector<std::string> order;
    appAddWindowExtension([&](MainWindow& w) {
        order.push_back("extension");
        w.setDialogs(std::make_unique<WelcomeCounter>(&welcomesSeen));
    });
    std::unique_ptr<MainWindow> window = start({});
    ASSERT_TRUE(window);
    order.push_back("start project");
    appOpenStartProject(*window, {});
    EXPECT_EQ(order, (std::vector<std::string>{"extension", "start project"}));
    EXPECT_EQ(welcomesSeen, 1);  // the extension's dialogs showed the welcome
    appShutDown(std::move(window));
}

TEST_F(StartupTest, WithoutLanguageTablesTheProgramEndsWithAnErrorCode) {
    const fs::path empty = home / "program";
    fs::create_directories(empty);
    std::unique_ptr<MainWindow> window = start({}, empty);
    EXPECT_FALSE(window);
    EXPECT_EQ(exitCode, kExitNoLanguage);
    EXPECT_TRUE(boxes.empty());  // no texts to show one with
    appShutDown(nullptr);
    EXPECT_EQ(g_appState, nullptr);
}

TEST_F(StartupTest, CommandLineNamesTheFileToOpen) {
    const char* args[] = {"qvp3", "some/project.c-1", nullptr};
    CommandLine line = appParseCommandLine(2, const_cast<char**>(args));
    EXPECT_EQ(line.startProject, fs::absolute("some/project.c-1"));
    EXPECT_TRUE(appParseCommandLine(1, const_cast<char**>(args)).startProject.empty());
    // A long path is kept whole.
    const std::string longPath = "/music/" + std::string(300, 'p') + "/x.c-1";
    const char* longArgs[] = {"qvp3", longPath.c_str(), nullptr};
    EXPECT_EQ(appParseCommandLine(2, const_cast<char**>(longArgs)).startProject, longPath);
}

}  // namespace
}  // namespace qvp3
