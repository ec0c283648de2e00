// What the project store and the transport ask of the shell, answered with
// the application record and the main window: language strings, message
// boxes, the status bar, the folders, the transport's displays.
#pragma once

#include "qvp3_pipeline/playback.h"
#include "qvp3_project/neighbours.h"

namespace qvp3 {

class AppState;

class ShellNeighbour : public BasicShell, public PlaybackHost {
public:
    explicit ShellNeighbour(AppState& app) : app_(app) {}

    // --- ShellServices
    std::string languageString(int id) override;
    int appQuestionBox(int stringId, int buttons) override;
    void closeProject() override;
    void appSetStatusParts(int parts) override;
    void appCreateStatusProgress(int maximum) override;
    void appDestroyStatusProgress() override;
    void setStatusText(int part, std::string_view text) override;
    bool templateKeysDown() override;
    bool appDeleteConvertedFiles(std::string_view extension, const std::filesystem::path& folder) override;
    std::filesystem::path projectsRoot() override;
    void setProjectFolder(const std::filesystem::path& folder) override;
    void setLastProject(const std::filesystem::path& projectFile) override;
    int appTextBox(std::string_view text, int kind, int buttons) override;
    void appUpdateStepMenuItems(int step) override;

    // --- PlaybackHost
    void updateTransportControls() override;
    void setPauseMenuText(int stringId) override;
    void layoutProfileBar(int mode) override;
    void showPlayPosition(std::int32_t ms, int mode) override;
    void setTempoTrackbar(int value) override;
    void postStop() override;

private:
    AppState& app_;
};

}  // namespace qvp3
