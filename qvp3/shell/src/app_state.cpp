#include "qvp3_shell/app_state.h"

#include "platform/files.h"
#include "qvp3_audio/audio_services.h"
#include "qvp3_audio/output_device_model.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_shell/recent_files.h"
#include "qvp3_shell/shell_neighbour.h"
#include "qvp3_shell/step_tab_install.h"

namespace qvp3 {

AppState* g_appState = nullptr;

AppState::AppState(std::filesystem::path folder, int lang, platform::SettingsStore* store)
    : programFolder(std::move(folder)), language(lang) {
    if (!store) ownSettings_ = std::make_unique<platform::SettingsStore>();
    settings_ = store ? store : ownSettings_.get();
    outputDevices = std::make_unique<COutputDeviceModel>(*settings_, programFolder);
    audioServices = std::make_unique<CatalogAudioServices>(*outputDevices);
    discwriter = std::make_unique<CDiscWriterLib>();
    tavtune = std::make_unique<CTavtuneLib>();
    // Without the engine library every call fails cleanly; scores cannot open then.
    tavtune->Init(static_cast<tvWord>(language), programFolder);
    pipeline = std::make_unique<Pipeline>(*tavtune, &mainTarget);
    shellServices = std::make_unique<ShellNeighbour>(*this);
    profiles = std::make_unique<ProfileContext>();
    stepPageServices = appMakeStepPageServices();
    Neighbours neighbours;
    neighbours.pipeline = pipeline.get();
    neighbours.audio = audioServices.get();
    neighbours.shell = shellServices.get();
    neighbours.stepPages = stepPageServices.get();
    project = std::make_unique<Project>(neighbours);
    playback = std::make_unique<PlaybackControl>(*project, *tavtune, shellServices.get());
}

AppState::~AppState() {
    stopAllThreads();
    playback.reset();
    prjRelease(*project);
    project.reset();
    profiles.reset();
    tavtune->Release();
}

void AppState::stopAllThreads() {
    if (project) {
        for (ProjectEntry& entry : project->entries) {
            if (playback) {
                playback->plyStopPositionThread(entry);
                if (entry.entryState != 0) playback->plyStop(entry);
            }
        }
    }
    if (playback) playback->waitForPlayer();
    // The step pages' workers (MIDI, WAV, export) are asked to stop and waited for.
    if (mainWindow) mainWindow->stepHost().stopAllWorkers();
    if (stopStepWorkers) stopStepWorkers();
}

}  // namespace qvp3
