#include "uninstall_version.h"

#include <optional>
#include <string>

#include "platform/files.h"

namespace infokit {
namespace {

constexpr std::string_view kNativeView = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr std::string_view kWow64View = "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::optional<std::string> findEntry(const platform::SettingsStore& store, std::string_view view,
                                     const ProductRow& row, int major, int minor, bool compareMinor) {
    const platform::SettingsKey list = store.openKey(platform::Hive::Machine, view);
    if (!list) return std::nullopt;
    for (const std::string& name : list.subkeyNames()) {
        const std::string path = std::string(view) + "\\" + name;
        const platform::SettingsKey entry = store.openKey(platform::Hive::Machine, path);
        const auto display = entry.readString("DisplayName");
        if (!display || !platform::fileNameContains(*display, row.displayName)) continue;
        if (entry.readDword("VersionMajor") != static_cast<std::uint32_t>(major)) continue;
        if (compareMinor && entry.readDword("VersionMinor") != static_cast<std::uint32_t>(minor)) continue;
        return path;
    }
    return std::nullopt;
}

}  // namespace

bool setProgramUninstallVersion(const platform::SettingsStore& store, RegistryWriter& writer, const ProductRow& row,
                                int build, int preferredView) {
    const auto version = parseVersionText(row.versionText);
    if (!version || row.displayName.empty()) return false;
    const auto [major, minor] = *version;
    const bool wow64First = (preferredView & kWow64View32) != 0;
    const std::string_view views[] = {wow64First ? kWow64View : kNativeView, wow64First ? kNativeView : kWow64View};
    std::optional<std::string> key;
    for (const bool compareMinor : {true, false}) {
        for (std::string_view view : views) {
            if (!key) key = findEntry(store, view, row, major, minor, compareMinor);
        }
    }
    if (!key) return false;
    const std::string text = std::string(row.versionText) + "." + std::to_string(build);
    const auto packed = static_cast<std::int32_t>((static_cast<std::uint32_t>(major) << 24) |
                                                  (static_cast<std::uint32_t>(minor) << 16) |
                                                  (static_cast<std::uint32_t>(build) & 0xFFFF));
    const reg::Request requests[] = {{*key, "DisplayVersion", text, 0},
                                     {*key, "Version", "", packed},
                                     {*key, "VersionMajor", "", major},
                                     {*key, "VersionMinor", "", minor}};
    bool ok = true;
    for (const reg::Request& request : requests) ok = writer.request(reg::kWriteValue, request) == reg::kReplyOk && ok;
    writer.stop();
    return ok;
}

}  // namespace infokit
