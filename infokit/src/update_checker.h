// The update check: whether a newer build of the host is on the update
// server, at most as often as the user allows; with the user's consent the
// archive is downloaded, unpacked into the private update folder and the
// updater `uplift` is started from there to install it once the host ended.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "downloader.h"
#include "reg_writer.h"
#include "update_files.h"
#include "update_settings.h"
#include "update_ui.h"

namespace infokit {

inline constexpr std::string_view kDefaultUpdateServer = "https://www.tavrena-software.example/download/uplift";
inline constexpr std::string_view kBackupFolderName = "-Backup-";
inline constexpr std::string_view kBackupIniName = "Tavrena-software-Backup.ini";

// Who asks: the host as the library knows it.
struct UpdateHost {
    std::string displayName;
    std::string versionText;  // "M.m" of the product row
    std::string productCode;
    int productIndex = -1;
    int language = 0;
    std::filesystem::path hostPath;
    unsigned hostProcessId = 0;
    std::string programKey;
    std::uintptr_t window = 0;
};

using ProgramStarter = std::function<bool(const std::filesystem::path& program, const std::vector<std::string>& args)>;

// Starts a program with these arguments (no shell), without waiting for it.
bool startProgram(const std::filesystem::path& program, const std::vector<std::string>& args);

struct UpdateEnvironment {
    platform::SettingsStore* store = nullptr;
    RegistryWriter* registryWriter = nullptr;
    std::filesystem::path updateFolder = defaultUpdateFolder();
    std::string serverUrl;  // the whole base address when the host set one
    std::function<std::chrono::system_clock::time_point()> now = [] { return std::chrono::system_clock::now(); };
    ProgramStarter start = startProgram;
    std::function<void(const std::string&)> log;
    std::chrono::seconds iniTimeout{30};
    std::chrono::seconds archiveTimeout{1800};
};

class UpdateChecker {
public:
    UpdateChecker(UpdateHost host, UpdateEnvironment env, UpdateUi& ui);

    // The check at start-up: the update folder is emptied, and nothing is
    // looked for twice a day or more often than the frequency allows.
    bool checkFromExport(int build);
    // The check the settings dialog asks for: no question first, and every
    // failure is told.
    bool checkForced(int build) { return run(build, true); }
    // Starts the updater of the backup folder to bring the previous version back.
    bool restorePrevious(int build);
    // Switches the backup on or off; switched on, the backup folder is made.
    bool setBackup(bool on);

    std::string baseUrl() const;
    std::filesystem::path backupFolder() const { return host_.hostPath.parent_path() / kBackupFolderName; }

private:
    bool run(int build, bool forced);
    bool dueForCheck() const;
    bool askFirst();
    std::optional<UpdateDescription> fetchDescription(bool forced);
    bool offer(const UpdateDescription& description, int build);
    bool downloadAndUnpack(const UpdateDescription& description);
    bool downloadJob(const UpdateDescription& description, DownloadSink& sink, std::string& error);
    bool backUp(int build);
    bool startUpdater(const std::filesystem::path& folder, std::vector<std::string> extra);
    void fail(bool forced, int number, const std::string& reason);
    void note(const std::string& text) const;
    std::string t(int number) const;
    void rememberCheck();

    UpdateHost host_;
    UpdateEnvironment env_;
    UpdateUi& ui_;
    UpdateSettings settings_;
    bool silenced_ = false;
};

}  // namespace infokit
