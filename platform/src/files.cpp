// Folders, temporary names, file times, copying and moving (see files.h).
#include "platform/files.h"
#include "platform/atomic_file.h"
#include "home_folder.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <limits>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

void setError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

std::string quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

std::string errnoText(const std::string& what, const std::filesystem::path& path, int err) {
    return what + " " + quoted(path) + ": " + std::strerror(err);
}

// "$HOME/yyy" is yyy below home; "/yyy" stays; anything else is taken below home.
std::filesystem::path expandHome(const std::string& text, const std::filesystem::path& home) {
    if (text.empty()) return {};
    constexpr std::string_view kHome = "$HOME";
    if (text.compare(0, kHome.size(), kHome) == 0 &&
        (text.size() == kHome.size() || text[kHome.size()] == '/')) {
        return home / text.substr(std::min(text.size(), kHome.size() + 1));
    }
    if (text.front() == '/') return text;
    return home / text;
}

// A value of user-dirs.dirs: in double quotes with backslash escapes inside
// them, or (leniently) bare up to a blank or comment.
std::string unquoteUserDir(std::string_view value) {
    std::string text;
    if (!value.empty() && value.front() == '"') {
        for (std::size_t i = 1; i < value.size() && value[i] != '"'; ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) ++i;
            text.push_back(value[i]);
        }
    } else {
        text = std::string(value.substr(0, value.find_first_of(" \t#")));
    }
    return text;
}

// The XDG_DOCUMENTS_DIR line of user-dirs.dirs; like the shell, the last one wins.
std::filesystem::path documentsFromUserDirs(const std::filesystem::path& file,
                                            const std::filesystem::path& home) {
    std::ifstream in(file);
    std::filesystem::path result;
    constexpr std::string_view kKey = "XDG_DOCUMENTS_DIR";
    for (std::string line; std::getline(in, line);) {
        std::string_view rest(line);
        rest.remove_prefix(std::min(rest.find_first_not_of(" \t"), rest.size()));
        if (rest.substr(0, kKey.size()) != kKey) continue;
        rest.remove_prefix(kKey.size());
        rest.remove_prefix(std::min(rest.find_first_not_of(" \t"), rest.size()));
        if (rest.empty() || rest.front() != '=') continue;
        rest.remove_prefix(1);
        rest.remove_prefix(std::min(rest.find_first_not_of(" \t"), rest.size()));
        if (auto folder = expandHome(unquoteUserDir(rest), home); !folder.empty()) result = std::move(folder);
    }
    return result;
}

// The first three characters (not bytes) of a temporary-file prefix.
std::string_view tempPrefix(std::string_view prefix) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if ((static_cast<unsigned char>(prefix[i]) & 0xC0) == 0x80) continue;
        if (++chars > 3) return prefix.substr(0, i);
    }
    return prefix;
}

// Windows' read-only attribute: nobody may write, not even the owner.
bool isReadOnlyFile(const struct stat& st) { return (st.st_mode & S_IWUSR) == 0; }

bool setLastWriteTime(const std::filesystem::path& path, const struct timespec& mtime) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, mtime};
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

// Streams from into the writer in blocks; large WAV files never sit in memory whole.
bool copyBytes(int fd, AtomicFileWriter& writer, const std::filesystem::path& from, std::string* error) {
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            setError(error, errnoText("cannot read", from, errno));
            return false;
        }
        if (!writer.write(buffer.data(), static_cast<std::size_t>(n))) {
            setError(error, writer.error());
            return false;
        }
    }
}

// Checks of the target that copying and moving share.
bool targetAllowed(const std::filesystem::path& to, bool overwrite, std::string* error) {
    struct stat st {};
    if (::stat(to.c_str(), &st) != 0) return true;
    if (!overwrite) {
        setError(error, "the target " + quoted(to) + " exists");
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        setError(error, "the target " + quoted(to) + " is a folder");
        return false;
    }
    if (isReadOnlyFile(st)) {
        setError(error, "the target " + quoted(to) + " is read-only");
        return false;
    }
    return true;
}

}  // namespace

std::filesystem::path detail::homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    struct passwd entry {};
    struct passwd* result = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &result) == 0 && result &&
        result->pw_dir && *result->pw_dir) {
        return result->pw_dir;
    }
    return {};
}

std::filesystem::path programFolder() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec && exe.has_parent_path()) return exe.parent_path();
    return std::filesystem::current_path(ec);
}

std::filesystem::path documentsFolder() {
    const std::filesystem::path home = detail::homeFolder();
    if (const char* env = std::getenv("XDG_DOCUMENTS_DIR"); env && *env) {
        return expandHome(env, home);
    }
    std::filesystem::path config;
    // Relative values are invalid by the XDG rules and are ignored.
    if (const char* env = std::getenv("XDG_CONFIG_HOME"); env && *env == '/') {
        config = env;
    } else if (!home.empty()) {
        config = home / ".config";
    }
    if (!config.empty()) {
        if (auto folder = documentsFromUserDirs(config / "user-dirs.dirs", home); !folder.empty()) {
            return folder;
        }
    }
    if (home.empty()) return {};
    return home / "Documents";
}

std::optional<std::filesystem::path> makeTempFileName(const std::filesystem::path& folder,
                                                      std::string_view prefix, std::string* error) {
    const std::string start(tempPrefix(prefix));
    // Like Windows, start from a changing number and count up to the first free name.
    const auto seed = static_cast<unsigned>(
        std::chrono::steady_clock::now().time_since_epoch().count() ^ (::getpid() << 8));
    for (unsigned i = 0; i < 0xFFFF; ++i) {
        const unsigned number = (seed + i) % 0xFFFF + 1;  // 1 .. 0xFFFF; 0 means "no name"
        char hex[8];
        std::snprintf(hex, sizeof hex, "%x", number);
        std::filesystem::path path = folder / (start + hex + ".tmp");
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST) {
            setError(error, errnoText("cannot create a temporary file in", folder, errno));
            return std::nullopt;
        }
    }
    setError(error, "no free temporary file name left in " + quoted(folder));
    return std::nullopt;
}

ScopedTempFile::ScopedTempFile(const std::filesystem::path& folder, std::string_view prefix) {
    if (std::optional<std::filesystem::path> made = makeTempFileName(folder, prefix)) path_ = std::move(*made);
}

ScopedTempFile::~ScopedTempFile() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove(path_, ec);
}

FileTime fileTimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds) {
    constexpr std::int64_t kTicksPerSecond = 10'000'000;
    constexpr std::int64_t kMaxSeconds = std::numeric_limits<std::int64_t>::max() / kTicksPerSecond;
    if (seconds < -kFileTimeUnixOffsetSeconds) return 0;
    if (seconds > kMaxSeconds - kFileTimeUnixOffsetSeconds) {
        return static_cast<FileTime>(std::numeric_limits<std::int64_t>::max());
    }
    const auto ticks = static_cast<FileTime>(seconds + kFileTimeUnixOffsetSeconds) * kTicksPerSecond;
    return ticks + nanoseconds / 100;
}

std::optional<FileTime> fileTimeOf(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return fileTimeFromUnix(st.st_mtim.tv_sec, static_cast<std::uint32_t>(st.st_mtim.tv_nsec));
}

FileTimePoint fileTimeToTimePoint(FileTime fileTime) {
    constexpr auto kMax = static_cast<FileTime>(std::numeric_limits<std::int64_t>::max());
    const auto ticks = static_cast<std::int64_t>(std::min(fileTime, kMax));
    return FileTimePoint(FileTimeTicks(ticks) - std::chrono::seconds(kFileTimeUnixOffsetSeconds));
}

FileTime fileTimeFromTimePoint(FileTimePoint point) {
    const FileTimeTicks sinceUnix = point.time_since_epoch();
    const std::int64_t offset = std::chrono::duration_cast<FileTimeTicks>(
                                    std::chrono::seconds(kFileTimeUnixOffsetSeconds)).count();
    if (sinceUnix.count() < -offset) return 0;
    if (sinceUnix.count() > std::numeric_limits<std::int64_t>::max() - offset) {
        return static_cast<FileTime>(std::numeric_limits<std::int64_t>::max());
    }
    return static_cast<FileTime>(sinceUnix.count() + offset);
}

bool copyFile(const std::filesystem::path& from, const std::filesystem::path& to, bool overwrite,
              std::string* error) {
    const int fd = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        setError(error, errnoText("cannot open", from, errno));
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        setError(error, quoted(from) + " is not a file");
        return false;
    }
    if (!targetAllowed(to, overwrite, error)) return false;

    AtomicFileWriter writer(to);
    if (!writer.open()) {
        setError(error, writer.error());
        return false;
    }
    if (!copyBytes(fd, writer, from, error)) return false;  // the writer drops its temporary file
    // The time goes on the temporary file, so the target never shows a wrong one.
    setLastWriteTime(writer.temporaryPath(), st.st_mtim);
    if (!writer.commit()) {
        setError(error, writer.error());
        return false;
    }
    return true;
}

bool moveFile(const std::filesystem::path& from, const std::filesystem::path& to, bool overwrite,
              std::string* error) {
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) {
        setError(error, errnoText("cannot move", from, errno));
        return false;
    }
    if (!targetAllowed(to, overwrite, error)) return false;
    // Without overwrite the kernel refuses an existing target itself, so a file
    // that appears in between is not replaced either.
    int rc = overwrite ? ::rename(from.c_str(), to.c_str())
                       : ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && !overwrite && errno == EINVAL) {  // file systems without RENAME_NOREPLACE
        rc = ::rename(from.c_str(), to.c_str());
    }
    if (rc == 0) return true;
    if (errno == EEXIST) {
        setError(error, "the target " + quoted(to) + " exists");
        return false;
    }
    if (errno != EXDEV || !S_ISREG(st.st_mode)) {
        setError(error, errnoText("cannot move " + quoted(from) + " to", to, errno));
        return false;
    }
    if (!copyFile(from, to, overwrite, error)) return false;
    if (::unlink(from.c_str()) != 0) {
        setError(error, errnoText("moved by copying, but cannot remove", from, errno));
        return false;
    }
    return true;
}

}  // namespace platform
