// The main window's commands and message handlers (OnMainCommand and the
// handlers of MainWndProc). A MainCommands is made around the window for
// each call; it keeps no state of its own.
#pragma once

#include <cstdint>
#include <filesystem>

#include "platform/message_target.h"
#include "qvp3_shell/commands.h"

namespace qvp3 {

class AppState;
class MainWindow;
class Project;
struct ProjectEntry;
class ProjectListHost;
class StepHost;

class MainCommands {
public:
    explicit MainCommands(MainWindow& window);

    // Carries out a command (WM_COMMAND's id and notification code).
    void run(int id, int code);
    // Before a submenu opens: the items that depend on the state.
    void initMenuPopup(Submenu which);

    // --- window events
    bool onClose();    // false: the window stays
    void onDestroy();  // the window is going away
    void onActivateApp(bool active);
    void onSeekKey(int key, bool down);
    void onPositionScroll(int sliderAction);
    void onMidiOutChanged();
    void onPlaybackEnded();
    void onPlayPosition(platform::WParam code, platform::LParam ms);
    void selectStep(int step, bool fromClick);

    // The never-saved project's converted files and folder, removed when
    // the user declines to save it on closing.
    void discardUnsavedProject();

private:
    AppState& app();
    Project& project();
    ProjectEntry* currentEntry();
    ProjectListHost& list();
    StepHost& steps();

    bool runProjectCommand(int id, int code);
    bool runEntryCommand(int id);
    bool runTransportCommand(int id);
    bool runHelpCommand(int id);

    void newProject();
    void openProjectCommand();
    bool saveProject();
    void saveProjectAs();
    void closeProject(int code);
    void addFilesCommand();
    void removeFileCommand();
    void moveFile(int delta);
    void play();
    void stop();
    void toStart();
    void contextHelp();
    void openRecent(int index);
    void externalEditor();
    void about();
    void settingsCommand();
    void toggleAddPath();
    void afterEntryChange();

    MainWindow& window_;
};

}  // namespace qvp3
