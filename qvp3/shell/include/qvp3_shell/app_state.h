// The program's one application record: the language module, the settings
// kept in the settings store, the folders the program works in, the main
// window, and the objects the program owns for its whole life (the project,
// the profile context, the device model, the score engine's binding, the
// transport, the recent-projects list). Reached through g_appState, which is
// null before the record is made and after it is gone.
#pragma once

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/message_target.h"
#include "platform/settings_store.h"
#include "qvp3_audio/sample_player.h"
#include "qvp3_pipeline/disc_writer_lib.h"
#include "qvp3_pipeline/pipeline.h"
#include "qvp3_pipeline/soft_synth.h"
#include "qvp3_pipeline/playback.h"
#include "qvp3_pipeline/tavtune_lib.h"
#include "qvp3_project/profile_context.h"
#include "qvp3_project/project.h"
#include "qvp3_ui/language.h"

namespace qvp3 {

class COutputDeviceModel;
class CatalogAudioServices;
class RecentFileList;
class MainWindow;
class ShellNeighbour;

// The outside MIDI editor: kind 0 none, 1 and 2 the two versions of the
// older sequencer program (found through their installation keys), 3 a
// program the user chose by its path.
struct MidiEditorRecord {
    std::string path;
    int kind = 0;
    std::string wndClass;
};

// The build's version text.
inline constexpr std::string_view kVersionId = "3.0-57";

class AppState {
public:
    // store: the settings store the record reads and writes (the program's
    // own one when null).
    AppState(std::filesystem::path programFolder, int language, platform::SettingsStore* store = nullptr);
    ~AppState();
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;

    platform::SettingsStore& settings() { return *settings_; }

    // Stops the transport and every step worker and waits for them; called
    // before the main window and the record go away.
    void stopAllThreads();
    // Set by the step pages: stops their workers and waits for them.
    std::function<void()> stopStepWorkers;

    // --- folders and settings
    std::filesystem::path programFolder;
    int language = 1;
    std::filesystem::path dataFolder;
    std::filesystem::path projectsRoot;
    std::filesystem::path tavrenaFolder;
    std::filesystem::path scoreFolder;
    std::filesystem::path projectFolder;
    std::filesystem::path lastProject;
    int howToStart = 1;
    bool copySourceFiles = true;
    bool overwriteSourceFiles = true;
    bool loadQvoInstruments = false;
    int waveConvPriority = 15;
    MidiEditorRecord midiEditor;
    std::string programTitle;
    std::string versionId;
    bool openFileAtStart = false;
    // The project is open (made new or read); closed by the close command.
    bool projectOpen = false;
    // The two options of the open-project chooser's check boxes.
    bool openOptionA = false;
    bool openOptionB = true;
    int burnDriveOpen = -1;
    // The profile bar's mode (1 .. 5, see MainWindow::layoutProfileBar).
    int profileBarMode = 1;

    // External-editor watch.
    std::uint64_t editorThreadId = 0;
    bool editorWatchActive = false;
    std::filesystem::path editorProjectCopy;
    // The entries' files and their times when the editor was started.
    std::vector<std::pair<std::filesystem::path, std::uint64_t>> editorFileTimes;

    // --- windows and modules
    std::unique_ptr<qvp3ui::LanguageModule> stringModule;
    QPointer<MainWindow> mainWindow;
    // The main window's message target (null without a window); the
    // pipeline and the engine report through it.
    platform::MessageTarget* mainTarget = nullptr;
    QPointer<QWidget> modelessDialog;
    QPointer<QWidget> splashWindow;

    // --- owned objects (declared in the reverse of their destruction)
private:
    std::unique_ptr<platform::SettingsStore> ownSettings_;
    platform::SettingsStore* settings_;

public:
    std::unique_ptr<RecentFileList> recentFiles;
    std::unique_ptr<CDiscWriterLib> discwriter;
    SoftSynthState timidity;
    std::unique_ptr<COutputDeviceModel> outputDevices;
    // The catalogue and the sample player as the project sees them.
    std::unique_ptr<CatalogAudioServices> audioServices;
    // Plays and renders through the catalogue's instruments; made with the
    // main window it reports to, gone before it and before the catalogue.
    std::unique_ptr<CSamplePlayer> samplePlayer;
    std::unique_ptr<CTavtuneLib> tavtune;
    std::unique_ptr<Pipeline> pipeline;
    std::unique_ptr<ShellNeighbour> shellServices;
    std::unique_ptr<ProfileContext> profiles;
    // The step pages the project is made with; they outlive it.
    std::unique_ptr<StepPageServices> stepPageServices;
    std::unique_ptr<Project> project;
    std::unique_ptr<PlaybackControl> playback;
};

// The one application record.
extern AppState* g_appState;

// Settings under the program's key in the user hive (created when missing).
bool LoadRegistrySettings(AppState& app);
void SaveRegistrySettings(AppState& app);
// Finds the older sequencer's installation of the editor record's kind (1
// or 2); other kinds are found at once. On failure the record is cleared.
bool appFindRondaloInstall(AppState& app);
// Number of "*.qvpprof" files in the folder.
int appCountProfileFiles(const std::filesystem::path& folder);
// The machine hive's "Language", written back as 1 when missing.
int audRegGetLanguage(platform::SettingsStore& store);

}  // namespace qvp3
