#include "diag_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "infokit_state.h"
#include "platform/files.h"
#include "platform/text.h"

namespace infokit {
namespace {

constexpr std::string_view kMarkerPrefix = "Tavrena_log_active_";
constexpr int kLogModuleVersion[3] = {1, 1, 2};
constexpr auto kSwitchCacheTime = std::chrono::milliseconds(1000);

static_assert(DiagLog::kFiller.size() == 66, "the filler lines up with the entry's text column");

// An open file descriptor, closed on every way out.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_;
};

bool lockFile(int fd, bool wait) {
    while (::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string utf16Bytes(std::string_view utf8) {
    return platform::utf16ToLeBytes(platform::utf8ToUtf16(utf8));
}

std::string operatingSystem() {
    struct utsname names {};
    if (::uname(&names) != 0) return "<unknown>";
    return std::string(names.sysname) + " " + names.release + " " + names.version + " (" + names.machine + ")";
}

std::filesystem::path privateTempFolder(std::string_view name) {
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
    if (ec) folder = "/tmp";
    return folder / (std::string(name) + "-" + std::to_string(::getuid()));
}

}  // namespace

LogConfig defaultLogConfig(const std::filesystem::path& hostPath) {
    LogConfig config;
    config.programName = hostPath.empty() ? "Tavrena_program" : hostPath.stem().string();
    config.logFolder = platform::documentsFolder();
    if (config.logFolder.empty()) config.logFolder = privateTempFolder("qvp3-documents");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    config.markerFolder = runtime != nullptr && *runtime == '/' ? std::filesystem::path(runtime)
                                                                 : privateTempFolder("qvp3-runtime");
    const std::string file = hostPath.empty() ? std::string() : hostPath.filename().string();
    config.versionText = [file] {
        const ProductRow& row = state().product();
        const auto version = parseVersionText(row.versionText);
        if (file.empty() || !version) return std::string("<unknown>");
        return file + "  " + std::to_string(version->first) + "." + std::to_string(version->second) + ".0.0";
    };
    return config;
}

DiagLog::DiagLog(LogConfig config) : config_(std::move(config)) {
    if (!config_.tick) config_.tick = [] { return std::chrono::steady_clock::now(); };
}

std::filesystem::path DiagLog::logFile() const {
    return config_.logFolder / (config_.programName + ".log");
}

std::filesystem::path DiagLog::markerFile() const {
    return config_.markerFolder / (std::string(kMarkerPrefix) + config_.programName);
}

bool DiagLog::markerExists() const {
    std::error_code ec;
    return std::filesystem::exists(markerFile(), ec);
}

bool DiagLog::isOn() {
    std::lock_guard lock(mutex_);
    const auto now = config_.tick();
    if (!lastLook_ || now - *lastLook_ >= kSwitchCacheTime) {
        const bool exists = markerExists();
        if (exists && !on_) firstEntry_ = true;
        on_ = exists;
        lastLook_ = now;
    }
    return on_;
}

std::string DiagLog::sourceColumn(std::string_view source) {
    if (source.empty()) return std::string(16, ' ') + "|" + std::string(7, ' ') + "| ";
    std::string name(platform::storedFileName(source));
    const std::string_view ext = platform::storedExtension(name);
    if (ext.size() > 1 && (ext[1] == 'c' || ext[1] == 'C')) name.resize(name.size() - ext.size());
    if (name.size() > 15) name.erase(0, name.size() - 15);
    char column[32];
    std::snprintf(column, sizeof column, "%15s | ", name.c_str());
    return column;
}

std::string DiagLog::formatEntry(const Pending& entry, bool givenTime) const {
    char head[96];
    std::snprintf(head, sizeof head, "%3s | %08X | %02i |%s%2i %02i:%02i:%02i.%03i | ", entry.tag.c_str(),
                  static_cast<unsigned>(entry.threadId), entry.level, givenTime ? "M" : " ", entry.time.tm_mday,
                  entry.time.tm_hour, entry.time.tm_min, entry.time.tm_sec, entry.millis);
    std::string out = head;
    if (entry.source.empty()) {
        out += sourceColumn({});
    } else {
        char line[16];
        std::snprintf(line, sizeof line, "%5i | ", entry.line);
        out += sourceColumn(entry.source) + line;
    }
    std::string_view text = entry.text;
    for (bool first = true;; first = false) {
        const std::size_t end = text.find('\n');
        std::string_view part = text.substr(0, end);
        if (!part.empty() && part.back() == '\r') part.remove_suffix(1);
        if (!first) out += kFiller;
        out += part;
        out += "\r\n";
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return out;
}

namespace {
void stampNow(std::tm& time, int& millis) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    ::localtime_r(&seconds, &time);
    millis = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
}
}  // namespace

std::u16string DiagLog::firstEntries() const {
    std::string out;
    for (const std::string& text : {"Version: " + config_.versionText(), "Operating System: " + operatingSystem()}) {
        Pending entry{"   ", 1, static_cast<long>(::syscall(SYS_gettid)), {}, 0, {}, 0, text};
        stampNow(entry.time, entry.millis);
        out += formatEntry(entry, false);
    }
    return platform::utf8ToUtf16(out);
}

void DiagLog::write(std::string_view tag, int level, std::string_view source, int line, std::string_view text,
                    bool wait) {
    if (!isOn()) return;
    Pending entry{std::string(tag), level, static_cast<long>(::syscall(SYS_gettid)), {}, 0,
                  std::string(source), line, std::string(text)};
    stampNow(entry.time, entry.millis);
    const Fd fd(::open(logFile().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (!fd) return;
    if (!lockFile(fd.get(), !wait)) {
        std::lock_guard lock(mutex_);
        if (wait) pending_.push_back(std::move(entry));
        return;
    }
    appendLocked(fd.get(), entry);
    ::flock(fd.get(), LOCK_UN);
}

bool DiagLog::appendLocked(int fd, const Pending& entry) {
    std::u16string out;
    {
        std::lock_guard lock(mutex_);
        if (firstEntry_) {
            out += firstEntries();
            firstEntry_ = false;
        }
        for (const Pending& held : pending_) out += platform::utf8ToUtf16(formatEntry(held, true));
        pending_.clear();
    }
    out += platform::utf8ToUtf16(formatEntry(entry, false));
    std::string bytes = platform::utf16ToLeBytes(out);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size == 0) bytes.insert(0, "\xFF\xFE", 2);
    return writeAll(fd, bytes);
}

bool DiagLog::switchOn() {
    std::error_code ec;
    // The switch's folder is the user's own (the runtime folder, or one made
    // for it in the temporary folder): nobody else may switch our log.
    std::filesystem::create_directories(config_.markerFolder.parent_path(), ec);
    ::mkdir(config_.markerFolder.c_str(), 0700);
    const Fd marker(::open(markerFile().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    const bool added = static_cast<bool>(marker);
    if (added) {
        std::filesystem::create_directories(config_.logFolder, ec);
        const Fd fd(::open(logFile().c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        if (fd && lockFile(fd.get(), true)) {
            std::tm today{};
            int millis = 0;
            stampNow(today, millis);
            char header[256];
            std::snprintf(header, sizeof header, "### %s start Log %02i.%02i.%04i (LogModule version %i.%i.%i)###\r\n",
                          config_.programName.c_str(), today.tm_mday, today.tm_mon + 1, today.tm_year + 1900,
                          kLogModuleVersion[0], kLogModuleVersion[1], kLogModuleVersion[2]);
            if (::ftruncate(fd.get(), 0) == 0) writeAll(fd.get(), "\xFF\xFE" + utf16Bytes(header));
            ::flock(fd.get(), LOCK_UN);
        }
    }
    std::lock_guard lock(mutex_);
    if (added) firstEntry_ = true;
    on_ = markerExists();
    lastLook_ = config_.tick();
    return added;
}

bool DiagLog::switchOff(bool quiet) {
    const bool was = markerExists();
    if (was && !quiet) write("LOG", 1, {}, 0, "Logging deactivated");
    std::error_code ec;
    if (was) std::filesystem::remove(markerFile(), ec);
    std::filesystem::remove(config_.logFolder / (config_.programName + ".on"), ec);
    std::lock_guard lock(mutex_);
    on_ = false;
    firstEntry_ = false;
    lastLook_ = config_.tick();
    return was;
}

DiagLog& hostLog() {
    static DiagLog log(defaultLogConfig(state().hostPath));
    return log;
}

}  // namespace infokit
