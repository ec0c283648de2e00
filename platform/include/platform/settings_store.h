// The settings store: typed values under backslash-separated key paths, in
// two hives, with the behaviour the program expects of the Windows registry:
//  - key paths and value names compare case-insensitively; the empty value
//    name is the key's default value;
//  - values are DWORDs, strings (UTF-8) or bytes; a value read as another
//    type than it was written reads as missing;
//  - every change is saved at once; a change made by another store instance
//    or process is seen at the next call (the hive file is reloaded when its
//    size, time or identity changed);
//  - writers take turns through a lock on "<hive file>.lock": each change is
//    made to the latest file, so writers in several processes lose nothing.
//
// Each hive is one INI file written in UTF-8: a section per key (the full
// path as its name), an entry per value with a type prefix ("dword:",
// "sz:", "hex:"). A hive file that cannot be read reads as empty and is never
// written over: changes to that hive fail until the file is mended or removed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class Hive {
    Machine,  // the installation's settings
    User,     // the user's settings
};

enum class SettingsType { Dword, String, Binary };

enum class SettingsStatus {
    Ok,
    NotFound,     // no such key or value
    InvalidPath,  // an empty, blank-edged or control-character key name
    Unreadable,   // the hive file exists but cannot be read; it is left as it is
    WriteFailed,  // the hive file could not be written; the old one is intact
};

// The program's own key in both hives.
inline constexpr std::string_view kProgramSettingsKey = "software\\Tavrena-software\\Tavrena Orvendo\\3.0";

struct SettingsValueInfo {
    std::string name;
    SettingsType type;
    bool operator==(const SettingsValueInfo&) const = default;
};

namespace detail {
struct HiveState;
}

// An open key, or a closed handle that says why opening failed. Reads on a
// closed handle, or on a key deleted since it was opened, find nothing;
// changes fail with NotFound.
class SettingsKey {
public:
    SettingsKey() = default;

    bool isOpen() const { return hive_ != nullptr; }
    explicit operator bool() const { return isOpen(); }
    // Ok for an open key, otherwise why it could not be opened or created.
    SettingsStatus status() const { return status_; }
    const std::string& path() const { return path_; }

    std::optional<std::uint32_t> readDword(std::string_view name) const;
    std::optional<std::string> readString(std::string_view name) const;
    std::optional<std::vector<std::uint8_t>> readBinary(std::string_view name) const;

    SettingsStatus writeDword(std::string_view name, std::uint32_t value);
    SettingsStatus writeString(std::string_view name, std::string_view value);
    SettingsStatus writeBinary(std::string_view name, std::span<const std::uint8_t> value);
    SettingsStatus deleteValue(std::string_view name);

    // Values of this key (in stored order) and the names of its direct subkeys.
    std::vector<SettingsValueInfo> values() const;
    std::vector<std::string> subkeyNames() const;

private:
    friend class SettingsStore;
    SettingsKey(std::shared_ptr<detail::HiveState> hive, std::string path);
    explicit SettingsKey(SettingsStatus failure) : status_(failure) {}

    std::shared_ptr<detail::HiveState> hive_;
    std::string path_;
    SettingsStatus status_ = SettingsStatus::NotFound;
};

class SettingsStore {
public:
    // Hive files under rootFromEnvironment().
    SettingsStore();
    // Hive files under root: <root>/qvp3/ for the user, <root>/qvp3-machine/ for the machine.
    explicit SettingsStore(const std::filesystem::path& root);
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // $QVP3_CONFIG_HOME, else $XDG_CONFIG_HOME, else ~/.config.
    static std::filesystem::path rootFromEnvironment();
    std::filesystem::path hiveFile(Hive hive) const;

    // Opens an existing key.
    SettingsKey openKey(Hive hive, std::string_view path) const;
    // Opens the key, creating it and its parents when missing.
    SettingsKey createKey(Hive hive, std::string_view path);
    // Deletes the key with all its subkeys and values.
    SettingsStatus deleteKey(Hive hive, std::string_view path);

private:
    std::shared_ptr<detail::HiveState> hives_[2];
};

}  // namespace platform
