#include "platform/settings_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <utility>

#include "home_folder.h"
#include "platform/atomic_file.h"
#include "platform/ini_file.h"
#include "platform/text.h"

namespace platform {
namespace {

constexpr std::string_view kDwordPrefix = "dword:";
constexpr std::string_view kStringPrefix = "sz:";
constexpr std::string_view kBinaryPrefix = "hex:";
constexpr std::string_view kDefaultValueName = "@";
constexpr char kSeparator = '\\';
constexpr char kHexDigits[] = "0123456789ABCDEF";

// What identifies one version of a hive file on disk.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    time_t seconds = 0;
    long nanoseconds = 0;
    bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const struct stat& st) {
    return {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void appendHexByte(std::string& out, unsigned char byte) {
    out.push_back(kHexDigits[byte >> 4]);
    out.push_back(kHexDigits[byte & 0x0F]);
}

// Length of the well-formed UTF-8 sequence starting at pos, 0 when there is none.
std::size_t utf8SequenceAt(std::string_view text, std::size_t pos) {
    std::size_t end = pos;
    return decodeWellFormedUtf8(text, end) ? end - pos : 0;
}

// Escapes what the INI layer would break or trim: the backslash, control
// characters, bytes that are not UTF-8 and a trailing space. Names also
// escape '=' and the first characters that would make the line a comment,
// a section header or the default-value marker.
std::string escapeText(std::string_view text, bool isName) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        const bool first = i == 0;
        const bool last = i + 1 == text.size();
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\0') {
            out += "\\0";
        } else if (byte < 0x20 || byte == 0x7F || (c == ' ' && last) ||
                   (isName && (c == '=' || (first && std::string_view(" ;#[@").find(c) != std::string_view::npos)))) {
            out += "\\x";
            appendHexByte(out, byte);
        } else if (byte >= 0x80) {
            const std::size_t length = utf8SequenceAt(text, i);
            if (length == 0) {
                out += "\\x";
                appendHexByte(out, byte);
            } else {
                out.append(text.substr(i, length));
                i += length - 1;
            }
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// The reverse of escapeText; an unknown escape is kept as written.
std::string unescapeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out.push_back(text[i]);
            continue;
        }
        const char next = text[i + 1];
        if (next == '\\' || next == 'r' || next == 'n' || next == '0') {
            out.push_back(next == 'r' ? '\r' : next == 'n' ? '\n' : next == '0' ? '\0' : '\\');
            ++i;
        } else if (next == 'x' && i + 3 < text.size() && hexValue(text[i + 2]) >= 0 && hexValue(text[i + 3]) >= 0) {
            out.push_back(static_cast<char>(hexValue(text[i + 2]) * 16 + hexValue(text[i + 3])));
            i += 3;
        } else {
            out.push_back('\\');
        }
    }
    return out;
}

std::string encodeName(std::string_view name) {
    return name.empty() ? std::string(kDefaultValueName) : escapeText(name, true);
}

std::string decodeName(std::string_view stored) {
    return stored == kDefaultValueName ? std::string() : unescapeText(stored);
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && toLowerAscii(text.substr(0, prefix.size())) == prefix;
}

std::optional<SettingsType> storedType(std::string_view stored) {
    if (startsWithNoCase(stored, kDwordPrefix)) return SettingsType::Dword;
    if (startsWithNoCase(stored, kStringPrefix)) return SettingsType::String;
    if (startsWithNoCase(stored, kBinaryPrefix)) return SettingsType::Binary;
    return std::nullopt;
}

std::optional<std::uint32_t> decodeDword(std::string_view stored) {
    if (!startsWithNoCase(stored, kDwordPrefix)) return std::nullopt;
    const std::string_view digits = stored.substr(kDwordPrefix.size());
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : digits) {
        const int digit = hexValue(c);
        if (digit < 0) return std::nullopt;
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return value;
}

std::optional<std::vector<std::uint8_t>> decodeBinary(std::string_view stored) {
    if (!startsWithNoCase(stored, kBinaryPrefix)) return std::nullopt;
    const std::string_view digits = stored.substr(kBinaryPrefix.size());
    if (digits.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(digits.size() / 2);
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int hi = hexValue(digits[i]);
        const int lo = hexValue(digits[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return bytes;
}

std::vector<std::string_view> splitPath(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find(kSeparator, start);
        parts.push_back(path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

// A key path is stored as a section name, which cannot escape anything: its
// components must be non-empty UTF-8 text without control characters and
// without blanks at their edges (the INI layer would trim them).
bool isValidKeyPath(std::string_view path) {
    if (path.empty() || !isValidUtf8(path)) return false;
    for (const std::string_view part : splitPath(path)) {
        if (part.empty() || trimBlanks(part).size() != part.size()) return false;
        for (const char c : part) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte == 0x7F) return false;
        }
    }
    return true;
}

// Whether `path` (split) is `ancestor` (split) or lies below it.
bool isWithin(const std::vector<std::string_view>& path, const std::vector<std::string_view>& ancestor) {
    if (path.size() < ancestor.size()) return false;
    for (std::size_t i = 0; i < ancestor.size(); ++i) {
        if (!equalsNoCase(path[i], ancestor[i])) return false;
    }
    return true;
}

// What a hive file must look like to be taken as ours: UTF-8 text (with or
// without a byte-order mark) with no control characters beyond tab and line
// breaks. Anything else is a damaged or foreign file that we must not rewrite.
bool isHiveText(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t' && c != '\r' && c != '\n') || byte == 0x7F) return false;
    }
    return isValidUtf8(bytes);
}

// An exclusive lock on the file beside a hive, held while a change reloads,
// applies and saves the hive, so that writers in other processes (and other
// store instances) take turns and none saves over a change it has not seen.
class HiveFileLock {
public:
    explicit HiveFileLock(const std::filesystem::path& lockFile) {
        std::error_code ec;
        std::filesystem::create_directories(lockFile.parent_path(), ec);
        if (ec) return;
        fd_ = ::open(lockFile.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ < 0) return;
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            ::close(fd_);
            fd_ = -1;
            return;
        }
    }
    ~HiveFileLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    HiveFileLock(const HiveFileLock&) = delete;
    HiveFileLock& operator=(const HiveFileLock&) = delete;

    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace

namespace detail {

// One hive file and its last loaded content. Every access holds `mutex`.
struct HiveState {
    explicit HiveState(std::filesystem::path path) : file(std::move(path)) { doc.setEncoding(IniEncoding::Utf8); }

    std::mutex mutex;
    const std::filesystem::path file;
    IniDocument doc;
    std::optional<FileStamp> loaded;  // nothing: reload at the next access
    bool readable = true;

    // Brings `doc` up to date with the file.
    void refresh() {
        struct stat st {};
        FileStamp now;
        if (::stat(file.c_str(), &st) == 0) {
            now = stampOf(st);
        } else if (errno != ENOENT && errno != ENOTDIR) {
            resetTo(std::nullopt, false);
            return;
        }
        if (loaded && *loaded == now) return;
        if (!now.exists) {
            resetTo(now, true);
            return;
        }
        load();
    }

    void resetTo(std::optional<FileStamp> stamp, bool canWrite) {
        doc = IniDocument();
        doc.setEncoding(IniEncoding::Utf8);
        loaded = stamp;
        readable = canWrite;
    }

    // Reads the file through one descriptor, so the stamp matches the bytes read.
    void load() {
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ENOENT) resetTo(FileStamp{}, true);
            else resetTo(std::nullopt, false);
            return;
        }
        struct stat st {};
        std::string bytes;
        bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<std::uintmax_t>(st.st_size) <= kMaxIniFileSize;
        if (ok) {
            bytes.resize(static_cast<std::size_t>(st.st_size));
            std::size_t done = 0;
            while (ok && done < bytes.size()) {
                const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
                if (n < 0 && errno == EINTR) continue;
                ok = n > 0;
                if (ok) done += static_cast<std::size_t>(n);
            }
            ok = ok && isHiveText(bytes);
        }
        ::close(fd);
        if (!ok) {
            // Kept with its stamp: the file stays refused until it changes.
            resetTo(fstatStamp(st), false);
            return;
        }
        doc.parse(bytes);
        doc.setEncoding(IniEncoding::Utf8);
        loaded = stampOf(st);
        readable = true;
    }

    static std::optional<FileStamp> fstatStamp(const struct stat& st) {
        if (st.st_ino == 0 && st.st_dev == 0) return std::nullopt;
        return stampOf(st);
    }

    // Writes `doc` to the file. The next access reloads whatever is then on
    // disk, which also drops an in-memory change whose save failed.
    SettingsStatus save() {
        loaded.reset();
        const std::string bytes = doc.serialize();
        if (bytes.size() > kMaxIniFileSize) return SettingsStatus::WriteFailed;  // would be unreadable next time
        std::error_code ec;
        std::filesystem::create_directories(file.parent_path(), ec);
        if (ec) return SettingsStatus::WriteFailed;
        return writeFileAtomically(file, bytes) ? SettingsStatus::Ok : SettingsStatus::WriteFailed;
    }

    bool keyExists(std::string_view path) const {
        if (doc.hasSection(path)) return true;
        const auto wanted = splitPath(path);
        for (const std::string& section : doc.sectionNames()) {
            if (isWithin(splitPath(section), wanted)) return true;
        }
        return false;
    }

    // Runs a change on the latest document on disk and saves it; the caller
    // holds `mutex`. The change returns Ok only when it changed something
    // that must be saved.
    template <typename Change>
    SettingsStatus changeLocked(Change&& apply) {
        const HiveFileLock fileLock(std::filesystem::path(file) += ".lock");
        // Read again whatever the stamp says: another writer may have left a
        // file that looks like the one loaded (same size and inode, same tick).
        loaded.reset();
        refresh();
        if (!readable) return SettingsStatus::Unreadable;
        const SettingsStatus status = apply();
        if (status != SettingsStatus::Ok) return status;
        if (!fileLock.held()) {
            loaded.reset();  // drops the unsaved change
            return SettingsStatus::WriteFailed;
        }
        return save();
    }

    template <typename Change>
    SettingsStatus change(Change&& apply) {
        std::lock_guard lock(mutex);
        return changeLocked(std::forward<Change>(apply));
    }

    std::optional<std::string> read(std::string_view path, std::string_view name) {
        std::lock_guard lock(mutex);
        refresh();
        return doc.getString(path, encodeName(name));
    }
};

}  // namespace detail

// --- SettingsKey -----------------------------------------------------------

SettingsKey::SettingsKey(std::shared_ptr<detail::HiveState> hive, std::string path)
    : hive_(std::move(hive)), path_(std::move(path)), status_(SettingsStatus::Ok) {}

std::optional<std::uint32_t> SettingsKey::readDword(std::string_view name) const {
    if (!hive_) return std::nullopt;
    const auto stored = hive_->read(path_, name);
    return stored ? decodeDword(*stored) : std::nullopt;
}

std::optional<std::string> SettingsKey::readString(std::string_view name) const {
    if (!hive_) return std::nullopt;
    const auto stored = hive_->read(path_, name);
    if (!stored || !startsWithNoCase(*stored, kStringPrefix)) return std::nullopt;
    return unescapeText(std::string_view(*stored).substr(kStringPrefix.size()));
}

std::optional<std::vector<std::uint8_t>> SettingsKey::readBinary(std::string_view name) const {
    if (!hive_) return std::nullopt;
    const auto stored = hive_->read(path_, name);
    return stored ? decodeBinary(*stored) : std::nullopt;
}

namespace {

SettingsStatus writeStored(detail::HiveState* hive, const std::string& path, std::string_view name,
                           const std::string& stored) {
    if (!hive) return SettingsStatus::NotFound;
    return hive->change([&] {
        if (!hive->keyExists(path)) return SettingsStatus::NotFound;  // deleted since it was opened
        hive->doc.setString(path, encodeName(name), stored);
        return SettingsStatus::Ok;
    });
}

}  // namespace

SettingsStatus SettingsKey::writeDword(std::string_view name, std::uint32_t value) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(value));
    return writeStored(hive_.get(), path_, name, std::string(kDwordPrefix) + digits);
}

SettingsStatus SettingsKey::writeString(std::string_view name, std::string_view value) {
    return writeStored(hive_.get(), path_, name, std::string(kStringPrefix) + escapeText(value, false));
}

SettingsStatus SettingsKey::writeBinary(std::string_view name, std::span<const std::uint8_t> value) {
    std::string stored(kBinaryPrefix);
    stored.reserve(stored.size() + value.size() * 2);
    for (const std::uint8_t byte : value) appendHexByte(stored, byte);
    return writeStored(hive_.get(), path_, name, stored);
}

SettingsStatus SettingsKey::deleteValue(std::string_view name) {
    if (!hive_) return SettingsStatus::NotFound;
    return hive_->change([&] {
        return hive_->doc.deleteKey(path_, encodeName(name)) ? SettingsStatus::Ok : SettingsStatus::NotFound;
    });
}

std::vector<SettingsValueInfo> SettingsKey::values() const {
    std::vector<SettingsValueInfo> result;
    if (!hive_) return result;
    std::lock_guard lock(hive_->mutex);
    hive_->refresh();
    for (const std::string& stored : hive_->doc.keyNames(path_)) {
        const auto type = storedType(hive_->doc.getString(path_, stored, ""));
        if (type) result.push_back({decodeName(stored), *type});  // entries of no known type are skipped
    }
    return result;
}

std::vector<std::string> SettingsKey::subkeyNames() const {
    std::vector<std::string> names;
    if (!hive_) return names;
    std::lock_guard lock(hive_->mutex);
    hive_->refresh();
    const auto parent = splitPath(path_);
    for (const std::string& section : hive_->doc.sectionNames()) {
        const auto parts = splitPath(section);
        if (parts.size() <= parent.size() || !isWithin(parts, parent)) continue;
        const std::string_view child = parts[parent.size()];
        bool known = child.empty();
        for (const std::string& name : names) known = known || equalsNoCase(name, child);
        if (!known) names.emplace_back(child);
    }
    return names;
}

// --- SettingsStore ---------------------------------------------------------

SettingsStore::SettingsStore() : SettingsStore(rootFromEnvironment()) {}

SettingsStore::SettingsStore(const std::filesystem::path& root) {
    hives_[static_cast<int>(Hive::Machine)] =
        std::make_shared<detail::HiveState>(root / "qvp3-machine" / "machine-settings.ini");
    hives_[static_cast<int>(Hive::User)] = std::make_shared<detail::HiveState>(root / "qvp3" / "user-settings.ini");
}

SettingsStore::~SettingsStore() = default;

std::filesystem::path SettingsStore::rootFromEnvironment() {
    if (const char* own = std::getenv("QVP3_CONFIG_HOME"); own && *own) return own;
    // The base-directory rules ignore a relative XDG_CONFIG_HOME.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') return xdg;
    const std::filesystem::path home = detail::homeFolder();
    return (home.empty() ? std::filesystem::current_path() : home) / ".config";
}

std::filesystem::path SettingsStore::hiveFile(Hive hive) const { return hives_[static_cast<int>(hive)]->file; }

SettingsKey SettingsStore::openKey(Hive hive, std::string_view path) const {
    if (!isValidKeyPath(path)) return SettingsKey(SettingsStatus::InvalidPath);
    const auto& state = hives_[static_cast<int>(hive)];
    std::lock_guard lock(state->mutex);
    state->refresh();
    if (!state->keyExists(path)) return SettingsKey(SettingsStatus::NotFound);
    return SettingsKey(state, std::string(path));
}

SettingsKey SettingsStore::createKey(Hive hive, std::string_view path) {
    if (!isValidKeyPath(path)) return SettingsKey(SettingsStatus::InvalidPath);
    const auto& state = hives_[static_cast<int>(hive)];
    std::lock_guard lock(state->mutex);
    state->refresh();
    // Every level gets its section, so that an empty key persists and its
    // parent lists it.
    const auto missingLevels = [&] {
        std::vector<std::string_view> missing;
        for (std::size_t end = path.find(kSeparator);; end = path.find(kSeparator, end + 1)) {
            const std::string_view level = path.substr(0, end);
            if (!state->doc.hasSection(level)) missing.push_back(level);
            if (end == std::string_view::npos) break;
        }
        return missing;
    };
    if (!missingLevels().empty()) {
        const SettingsStatus status = state->changeLocked([&] {
            for (const std::string_view level : missingLevels()) state->doc.writeSection(level, {});
            return SettingsStatus::Ok;
        });
        if (status != SettingsStatus::Ok) return SettingsKey(status);
    }
    return SettingsKey(state, std::string(path));
}

SettingsStatus SettingsStore::deleteKey(Hive hive, std::string_view path) {
    if (!isValidKeyPath(path)) return SettingsStatus::InvalidPath;
    const auto& state = hives_[static_cast<int>(hive)];
    std::lock_guard lock(state->mutex);
    state->refresh();
    const auto doomed = splitPath(path);
    const auto found = [&] {
        for (const std::string& section : state->doc.sectionNames()) {
            if (isWithin(splitPath(section), doomed)) return true;
        }
        return false;
    };
    if (!found()) return SettingsStatus::NotFound;
    return state->changeLocked([&] {
        if (!found()) return SettingsStatus::NotFound;  // deleted meanwhile
        for (const std::string& section : state->doc.sectionNames()) {
            if (isWithin(splitPath(section), doomed)) state->doc.deleteSection(section);
        }
        return SettingsStatus::Ok;
    });
}

}  // namespace platform
