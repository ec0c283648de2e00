// The real program under a virtual X display: it starts with the sample
// project, shows its main window (a screenshot is kept) and ends with exit
// code 0 when Exit is chosen in its File menu. Skipped, with the reason,
// where xvfb-run or xdotool is missing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/settings_store.h"

namespace {

namespace fs = std::filesystem;

bool onPath(const char* program) {
    const std::string command = std::string("command -v ") + program + " > /dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    std::array<char, 512> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe)) out += buffer.data();
    ::pclose(pipe);
    return out;
}

TEST(RealProgram, StartsShowsItsWindowAndQuitsThroughTheMenu) {
    for (const char* tool : {"xvfb-run", "xdotool"}) {
        if (!onPath(tool)) GTEST_SKIP() << tool << " is not installed: the real program is not started";
    }
    const fs::path home = fs::temp_directory_path() / ("qvp3-xvfb-" + std::to_string(::getpid()));
    fs::remove_all(home);
    fs::create_directories(home / "Documents");
    fs::permissions(home, fs::perms::owner_all, fs::perm_options::replace);
    // English, in a settings store and a documents folder of the test's own.
    platform::SettingsStore store(home / "config");
    store.createKey(platform::Hive::Machine, platform::kProgramSettingsKey).writeDword("Language", 6);
    const fs::path project = home / "Sample" / "Sample.c-1";
    fs::copy(fs::path(QVP3_PROGRAM_DIR) / "data" / "projects" / "Sample", home / "Sample");
    const fs::path shot = fs::path(QVP3_SCREENSHOT_DIR) / "real_program.png";
    fs::create_directories(shot.parent_path());
    fs::remove(shot);
    const std::string env = "QVP3_CONFIG_HOME='" + (home / "config").string() + "' XDG_DOCUMENTS_DIR='" +
                            (home / "Documents").string() + "' XDG_RUNTIME_DIR='" + home.string() +
                            "' QT_QPA_PLATFORM=xcb ";
    const std::string command = env + "xvfb-run -a -s '-screen 0 1280x1024x24' '" + QVP3_XVFB_SCRIPT + "' '" +
                                QVP3_PROGRAM + "' '" + project.string() + "' '" + QVP3_SCREEN_GRAB + "' '" +
                                shot.string() + "' 2>&1";
    const std::string out = run(command);
    EXPECT_NE(out.find("exit=0"), std::string::npos) << out;
    ASSERT_TRUE(fs::exists(shot)) << out;
    EXPECT_GT(fs::file_size(shot), 10000u);
    EXPECT_TRUE(fs::exists(project));
    fs::remove_all(home);
}

}  // namespace
