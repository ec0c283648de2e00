#include "qvp3_shell/folder_scan.h"

#include <QCoreApplication>
#include <QThread>

#include "platform/text.h"
#include "qvp3_shell/shell_utils.h"

namespace qvp3 {

namespace fs = std::filesystem;

std::string FolderScanRecord::currentFolder() const {
    std::lock_guard lock(mutex_);
    return currentFolder_;
}

void FolderScanRecord::setCurrentFolder(std::string folder) {
    std::lock_guard lock(mutex_);
    currentFolder_ = std::move(folder);
}

std::string appPopFolder(std::string& list) {
    const std::size_t semicolon = list.find(';');
    std::string first = list.substr(0, semicolon);
    list = semicolon == std::string::npos ? std::string() : list.substr(semicolon + 1);
    return first;
}

void appAddFolderHistory(std::string& history, const std::string& folder, int maxEntries) {
    std::vector<std::string> entries;
    for (std::size_t start = 0; start < history.size();) {
        std::size_t bar = history.find('|', start);
        if (bar == std::string::npos) bar = history.size();
        if (bar > start) entries.push_back(history.substr(start, bar - start));
        start = bar + 1;
    }
    for (const std::string& e : entries) {
        if (e == folder) return;
    }
    while (maxEntries > 0 && static_cast<int>(entries.size()) >= maxEntries) entries.erase(entries.begin());
    entries.push_back(folder);
    history.clear();
    for (const std::string& e : entries) history += (history.empty() ? "" : "|") + e;
}

namespace {

bool wanted(const fs::path& file, const std::string& extension) {
    return platform::equalsNoCase(file.extension().string(), extension);
}

// Depth first; a link (to a folder or a file) that leads out of the root is
// left alone, and so is any linked folder, so that no loop can form.
void walk(FolderScanRecord& record, const fs::path& root, const std::string& extension) {
    std::vector<fs::path> stack{root};
    while (!stack.empty()) {
        const fs::path folder = stack.back();
        stack.pop_back();
        record.setCurrentFolder(folder.string());
        std::error_code ec;
        for (fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
             !ec && it != end; it.increment(ec)) {
            if (record.stop || record.result == kScanStoppedByPage) return;
            const fs::path& path = it->path();
            if (it->is_symlink(ec) && !appPathInside(path, root)) continue;
            if (it->is_directory(ec)) {
                if (!it->is_symlink(ec)) stack.push_back(path);
                continue;
            }
            if (!it->is_regular_file(ec) || !wanted(path, extension)) continue;
            record.found.push_back(path);
            const auto number = static_cast<platform::WParam>(record.found.size());
            if (record.page)
                record.page->send(platform::WM_PLUGIN_SCAN_ITEM, number,
                                  static_cast<platform::LParam>(record.found.size() - 1));
        }
    }
}

}  // namespace

void appScanPluginsThread(FolderScanRecord& record) {
    record.result = 0;
    std::string list = record.folderList;
    const std::string extension = fs::path(record.pattern).extension().string();
    // One folder that is not there: the page learns it from the result alone.
    if (list.find(';') == std::string::npos) {
        std::error_code ec;
        if (!fs::is_directory(list, ec)) {
            record.result = kScanFolderMissing;
            return;
        }
    }
    while (!list.empty() && !record.stop && record.result != kScanStoppedByPage) {
        const std::string folder = appPopFolder(list);
        if (folder.empty()) continue;
        std::error_code ec;
        if (!fs::is_directory(folder, ec)) continue;
        appAddFolderHistory(record.history, folder, record.maxHistory);
        walk(record, folder, extension);
    }
    record.setCurrentFolder({});
    if (record.page) record.page->send(platform::WM_PLUGIN_SCAN_DONE, 0, 0);
}

FolderScan::FolderScan(FolderScanRecord& record) : record_(record) {
    record_.stop = false;
    thread_ = std::thread([this] {
        appScanPluginsThread(record_);
        finished_ = true;
    });
}

FolderScan::~FolderScan() {
    record_.stop = true;
    // The worker may be waiting for this thread to handle a report.
    while (!finished_) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    thread_.join();
}

}  // namespace qvp3
