// The plug-in scan of a folder.
#include "qvp3_audio/plugin_scan.h"

#include <algorithm>
#include <system_error>
#include <vector>

#include "platform/text.h"

namespace qvp3 {

int audScanPlugInFolder(const std::filesystem::path& folder, CPlugInProbeCache& cache, const std::atomic<bool>& stop,
                        const std::function<void(const PlugInScanItem&)>& onItem, std::string_view extension,
                        const std::filesystem::path& helper, std::chrono::milliseconds timeout) {
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) return kScanFolderMissing;
    int number = 0;
    std::vector<std::filesystem::path> pending{folder};
    while (!pending.empty() && !stop.load()) {
        const std::filesystem::path dir = std::move(pending.back());
        pending.pop_back();
        std::vector<std::filesystem::directory_entry> entries;
        for (std::filesystem::directory_iterator it(dir, std::filesystem::directory_options::skip_permission_denied,
                                                    ec), end;
             !ec && it != end; it.increment(ec)) {
            entries.push_back(*it);
        }
        std::sort(entries.begin(), entries.end(),
                  [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });
        std::vector<std::filesystem::path> subfolders;
        for (const auto& entry : entries) {
            if (stop.load()) return 0;
            std::error_code kindError;
            if (entry.is_directory(kindError) && !entry.is_symlink(kindError)) {
                subfolders.push_back(entry.path());
                continue;
            }
            if (!entry.is_regular_file(kindError) ||
                !platform::equalsNoCase(entry.path().extension().string(), extension)) {
                continue;
            }
            PlugInScanItem item;
            item.number = number++;
            item.path = entry.path();
            item.probe = cache.Probe(item.path, helper, timeout);
            onItem(item);
        }
        // Depth first, the first sub-folder next.
        pending.insert(pending.end(), subfolders.rbegin(), subfolders.rend());
    }
    return 0;
}

}  // namespace qvp3
