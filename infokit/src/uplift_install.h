// The updater's work: once the host has ended, the files of an unpacked
// update (or of the backup) replace those of the program folder. Each file is
// first copied beside its target and only renamed over it when every copy
// succeeded, so a failure leaves the installed program as it was.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace infokit {

using Say = std::function<void(const std::string&)>;

// Installs the files that "uplift.ini" in source lists (with the updater's
// own) into programFolder.
bool installUpdate(const std::filesystem::path& source, const std::filesystem::path& programFolder, int language,
                   const Say& say);
// Brings back the files of the backup folder, unless the backup is of a
// newer build than the installed one.
bool restoreBackup(const std::filesystem::path& backup, const std::filesystem::path& programFolder, int installedBuild,
                   int language, const Say& say);
// Copies the files (relative names) from source into target, all or none.
bool replaceFiles(const std::filesystem::path& source, const std::vector<std::string>& names,
                  const std::filesystem::path& target, int language, const Say& say);
// Waits until the process has ended; false when it still runs after the limit.
bool waitForProcessEnd(pid_t pid, std::chrono::milliseconds limit);

}  // namespace infokit
