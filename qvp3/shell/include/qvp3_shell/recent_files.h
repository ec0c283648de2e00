// The recent-projects list: ten entries, most recent first, kept in the
// settings store as "Datei 01" .. "Datei 10". A project inside the data folder
// is stored as ".." and its path below that folder, so that the list
// survives a moved data folder.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/settings_store.h"

class QMenu;
class QAction;

namespace qvp3 {

class RecentFileList {
public:
    static constexpr std::uint32_t kCapacity = 10;
    static constexpr int kFirstCommand = 41000;

    explicit RecentFileList(std::filesystem::path baseFolder);

    // Puts path at the top, unless an entry names the same file already (it
    // keeps its place) or the path is empty. False only for the excluded name.
    bool add(const std::filesystem::path& path);
    // Removes the first entry that names path; true when there was one.
    bool remove(const std::filesystem::path& path);
    // The stored form of a path, and the path an entry stands for.
    std::string storedForm(const std::filesystem::path& path) const;
    std::filesystem::path expand(const std::string& entry) const;
    // The entry's file, or empty for an empty or missing entry.
    std::filesystem::path path(std::size_t index) const;
    std::size_t count() const;  // non-empty entries (packed at the front)
    const std::string& entry(std::size_t index) const { return entries_.at(index); }

    // Rebuilds the recent items at the end of menu, after `after` (the exit
    // command): a separator and "&<n> <entry>" items with the commands 41000..,
    // greyed when not enabled; each item triggers `open` with its command.
    void fillMenu(QMenu& menu, QAction* after, bool enabled, const std::function<void(int)>& open) const;

    void save(platform::SettingsKey& key) const;
    void load(const platform::SettingsKey& key);

    std::string excludedName;

private:
    std::array<std::string, kCapacity> entries_;
    std::filesystem::path baseFolder_;
};

}  // namespace qvp3
