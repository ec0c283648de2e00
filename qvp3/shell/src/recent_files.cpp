#include "qvp3_shell/recent_files.h"

#include <QAction>
#include <QMenu>

#include <algorithm>
#include <cstdio>

#include "platform/files.h"
#include "platform/text.h"

namespace qvp3 {

namespace fs = std::filesystem;

namespace {

// "Datei 01" .. "Datei 10".
std::string valueName(std::size_t index) {
    char name[16];
    std::snprintf(name, sizeof name, "%s%02i", "Datei ", static_cast<int>(index + 1));
    return name;
}

// The part of path below folder, compared component by component, so that
// "/home/a/Music2/x" is not taken to lie inside "/home/a/Music".
std::optional<fs::path> below(const fs::path& path, const fs::path& folder) {
    if (folder.empty()) return std::nullopt;
    fs::path p = path.lexically_normal();
    fs::path f = folder.lexically_normal();
    if (!f.has_filename()) f = f.parent_path();
    auto [folderEnd, pathAt] = std::mismatch(f.begin(), f.end(), p.begin(), p.end());
    if (folderEnd != f.end() || pathAt == p.end()) return std::nullopt;
    fs::path rest;
    for (; pathAt != p.end(); ++pathAt) rest /= *pathAt;
    return rest;
}

}  // namespace

RecentFileList::RecentFileList(fs::path baseFolder) : baseFolder_(std::move(baseFolder)) {}

std::string RecentFileList::storedForm(const fs::path& path) const {
    if (std::optional<fs::path> rest = below(path, baseFolder_)) return "../" + rest->generic_string();
    return path.string();
}

fs::path RecentFileList::expand(const std::string& entry) const {
    if (entry.size() > 3 && entry.starts_with("..") && (entry[2] == '/' || entry[2] == '\\')) {
        return (baseFolder_ / platform::fromStoredPath(std::string_view(entry).substr(3))).lexically_normal();
    }
    return fs::path(entry).lexically_normal();
}

fs::path RecentFileList::path(std::size_t index) const {
    if (index >= kCapacity || entries_[index].empty()) return {};
    return expand(entries_[index]);
}

std::size_t RecentFileList::count() const {
    return static_cast<std::size_t>(
        std::count_if(entries_.begin(), entries_.end(), [](const std::string& e) { return !e.empty(); }));
}

bool RecentFileList::add(const fs::path& path) {
    if (!excludedName.empty() && platform::fileNamesEqual(path.filename().string(), excludedName)) return false;
    if (path.empty()) return true;
    const fs::path wanted = path.lexically_normal();
    for (const std::string& e : entries_) {
        if (!e.empty() && expand(e) == wanted) return true;
    }
    std::move_backward(entries_.begin(), entries_.end() - 1, entries_.end());
    entries_[0] = storedForm(wanted);
    return true;
}

bool RecentFileList::remove(const fs::path& path) {
    const fs::path wanted = path.lexically_normal();
    for (std::size_t i = 0; i < kCapacity; ++i) {
        if (entries_[i].empty() || expand(entries_[i]) != wanted) continue;
        std::move(entries_.begin() + static_cast<std::ptrdiff_t>(i) + 1, entries_.end(),
                  entries_.begin() + static_cast<std::ptrdiff_t>(i));
        entries_.back().clear();
        return true;
    }
    return false;
}

void RecentFileList::fillMenu(QMenu& menu, QAction* after, bool enabled,
                              const std::function<void(int)>& open) const {
    const QList<QAction*> actions = menu.actions();
    const qsizetype at = actions.indexOf(after);
    if (at < 0) return;
    for (qsizetype i = at + 1; i < actions.size(); ++i) {
        menu.removeAction(actions[i]);
        if (actions[i]->parent() == &menu) delete actions[i];
    }
    const std::size_t n = count();
    if (n == 0) return;
    menu.addSeparator();
    for (std::size_t i = 0; i < n; ++i) {
        const int command = kFirstCommand + static_cast<int>(i);
        // "&%i %s"; a "&" of the entry itself is doubled so that it shows.
        QString text = QString::fromStdString(entries_[i]).replace("&", "&&");
        QAction* action = menu.addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(text));
        action->setObjectName(QString::number(command));
        action->setEnabled(enabled);
        QObject::connect(action, &QAction::triggered, &menu, [open, command] { open(command); });
    }
}

void RecentFileList::save(platform::SettingsKey& key) const {
    for (std::size_t i = 0; i < kCapacity; ++i) key.writeString(valueName(i), entries_[i]);
}

void RecentFileList::load(const platform::SettingsKey& key) {
    for (std::size_t i = 0; i < kCapacity; ++i) {
        if (std::optional<std::string> value = key.readString(valueName(i))) entries_[i] = *value;
    }
    // Entries are kept packed at the front.
    std::stable_partition(entries_.begin(), entries_.end(), [](const std::string& e) { return !e.empty(); });
}

}  // namespace qvp3
