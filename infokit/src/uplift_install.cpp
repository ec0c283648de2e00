#include "uplift_install.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/files.h"
#include "platform/ini_file.h"
#include "string_table.h"
#include "update_checker.h"
#include "update_files.h"

namespace infokit {
namespace {

// Copies source to a new temporary file beside target; its path, or empty.
std::string stageCopy(const std::filesystem::path& source, const std::filesystem::path& target) {
    struct stat st {};
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0 || ::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (in >= 0) ::close(in);
        return {};
    }
    std::string temp = target.string() + ".uplift-XXXXXX";
    const int out = ::mkstemp(temp.data());
    bool ok = out >= 0;
    char buffer[65536];
    while (ok) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        ok = ::write(out, buffer, static_cast<std::size_t>(n)) == n;
    }
    ok = ok && ::fchmod(out, (st.st_mode & 0111) != 0 ? 0755 : 0644) == 0 && ::fsync(out) == 0;
    ::close(in);
    if (out >= 0) ::close(out);
    if (!ok && out >= 0) ::unlink(temp.c_str());
    return ok ? temp : std::string();
}

}  // namespace

bool replaceFiles(const std::filesystem::path& source, const std::vector<std::string>& names,
                  const std::filesystem::path& target, int language, const Say& say) {
    std::vector<std::pair<std::string, std::filesystem::path>> staged;
    auto dropStaged = [&] {
        for (const auto& [temp, final] : staged) ::unlink(temp.c_str());
    };
    for (const std::string& name : names) {
        say(formatText(language, txt::kProcessing, {name}));
        const auto safe = safeRelativeName(name);
        const std::filesystem::path final = target / (safe ? *safe : std::string());
        std::error_code ec;
        if (safe) std::filesystem::create_directories(final.parent_path(), ec);
        const std::string temp = safe && platform::isPathInside(final.parent_path(), target)
                                     ? stageCopy(source / *safe, final)
                                     : std::string();
        if (temp.empty()) {
            say(formatText(language, txt::kCouldNotCopy, {name}));
            dropStaged();
            return false;
        }
        staged.emplace_back(temp, final);
    }
    for (std::size_t i = 0; i < staged.size(); ++i) {
        if (::rename(staged[i].first.c_str(), staged[i].second.c_str()) != 0) {
            say(formatText(language, txt::kCouldNotCopy, {names[i]}));
            staged.erase(staged.begin(), staged.begin() + static_cast<std::ptrdiff_t>(i));
            dropStaged();
            return false;
        }
        say(formatText(language, txt::kInstalledFile, {names[i]}));
    }
    return true;
}

bool installUpdate(const std::filesystem::path& source, const std::filesystem::path& programFolder, int language,
                   const Say& say) {
    say(text(language, txt::kInstallStart));
    std::string error;
    const auto description = readUpdateDescription(source / kUpdateIniName, &error);
    if (!description || description->files.empty() || !std::filesystem::is_directory(programFolder)) {
        say(description ? description->filesError : error);
        say(text(language, txt::kInstallIncomplete));
        return false;
    }
    if (!replaceFiles(source, description->files, programFolder, language, say)) {
        say(text(language, txt::kInstallIncomplete));
        return false;
    }
    say(text(language, txt::kInstallComplete));
    return true;
}

bool restoreBackup(const std::filesystem::path& backup, const std::filesystem::path& programFolder, int installedBuild,
                   int language, const Say& say) {
    const std::string version = platform::iniGetString(backup / kBackupIniName, "Backup", "Version", "");
    const std::size_t dash = version.rfind('-');
    const int backupBuild = dash == std::string::npos ? -1 : std::atoi(version.c_str() + dash + 1);
    if (backupBuild < 0 || backupBuild > installedBuild) {
        say(text(language, 1552));
        return false;
    }
    std::vector<std::string> names;
    for (const auto& file : platform::listFiles(backup, "*")) {
        if (!platform::fileNamesEqual(file.filename().string(), kBackupIniName)) names.push_back(file.filename().string());
    }
    if (names.empty() || !replaceFiles(backup, names, programFolder, language, say)) {
        say(text(language, txt::kReactivateFailed));
        return false;
    }
    say(text(language, txt::kReactivated));
    return true;
}

bool waitForProcessEnd(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

}  // namespace infokit
