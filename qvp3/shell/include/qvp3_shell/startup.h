// The program's start, message loop and end (the entry of qvp3).
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace qvp3 {

class AppState;
class MainWindow;

// Parts of the program built beside the shell (the project list, the step
// pages, the dialogs) hand their hosts to the main window here: every
// extension added before start-up is called with the new window, in the
// order added, before the start-up project opens.
using WindowExtension = std::function<void(MainWindow&)>;
void appAddWindowExtension(WindowExtension extension);

// Exit codes of a start that failed before the window could be used.
inline constexpr int kExitNoLanguage = 2;
inline constexpr int kExitNoWindow = 3;
inline constexpr int kExitNoMidiOutput = 4;

// What the command line asks for: one optional file to open.
struct CommandLine {
    std::filesystem::path startProject;
};
CommandLine appParseCommandLine(int argc, char** argv);

// Start-up up to the shown main window: language, data folders (the sample
// projects copied into a new projects folder), settings, devices, the main
// window. Nothing (and the exit code in exitCode) when start-up must end.
// The application record is g_appState afterwards.
std::unique_ptr<MainWindow> appStartUp(const CommandLine& line, const std::filesystem::path& programFolder,
                                       int& exitCode);
// After the window is shown: the start-up project (command line, welcome
// dialog or last project) and the update check.
void appOpenStartProject(MainWindow& window, const CommandLine& line);
// The end: every thread stopped and waited for, the disc writer closed, the
// application record destroyed (g_appState null again), the window
// extensions forgotten.
void appShutDown(std::unique_ptr<MainWindow> window);

// The whole program: start-up, message loop, end. The process's exit code.
int qvp3Main(int argc, char** argv);

}  // namespace qvp3
