// The folder scan worker: walks a ";"-separated list of folders depth first
// for files of one extension and reports each find to a page by a sent
// WM_PLUGIN_SCAN_ITEM (wParam: the running number from 1, lParam: the find's
// index in the record's list), so that the page has handled it before the
// walk goes on; WM_PLUGIN_SCAN_DONE (0, 0) at the end. Links are not
// followed out of a scanned folder, and the worker touches no window.
#pragma once

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_target.h"

namespace qvp3 {

inline constexpr int kScanFolderMissing = -18;
inline constexpr int kScanStoppedByPage = -19;

struct FolderScanRecord {
    std::string folderList;  // folders separated by ";"
    std::string pattern;     // "*.so": the extension counts, without regard to case
    platform::MessageTarget* page = nullptr;
    // The folder history of the page's folder box ("|"-separated, newest
    // last) and its size; each scanned folder is added.
    std::string history;
    int maxHistory = 10;

    std::atomic<bool> stop{false};
    std::atomic<int> result{0};  // the page sets kScanStoppedByPage while handling a find
    // The finds, in the order reported. The page reads them while it handles
    // a report (the worker waits then) or after the end.
    std::vector<std::filesystem::path> found;
    // The folder being searched, for the page's status line.
    std::string currentFolder() const;
    void setCurrentFolder(std::string folder);

private:
    mutable std::mutex mutex_;
    std::string currentFolder_;
};

// The first folder of a ";" list, taken off the list.
std::string appPopFolder(std::string& list);
// Adds a folder to a "|" history (nothing when it is there already), the
// oldest dropped when the history is full.
void appAddFolderHistory(std::string& history, const std::string& folder, int maxEntries);

// The worker's body (runs on the worker thread).
void appScanPluginsThread(FolderScanRecord& record);

// A scan on a thread of its own.
class FolderScan {
public:
    explicit FolderScan(FolderScanRecord& record);
    // Asks the walk to stop and waits for it, letting the user-interface
    // thread handle the worker's reports meanwhile.
    ~FolderScan();
    FolderScan(const FolderScan&) = delete;
    FolderScan& operator=(const FolderScan&) = delete;
    bool finished() const { return finished_; }

private:
    FolderScanRecord& record_;
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

}  // namespace qvp3
