// The plug-in scan of a folder: every plug-in library below it is probed in
// the helper process (plugin_probe.h) and reported, sound or bad, so that the
// plug-in page can add the instruments it finds; the program itself never
// loads a plug-in during a scan.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string_view>

#include "qvp3_audio/plugin_probe.h"

namespace qvp3 {

// The plug-in libraries of this system.
inline constexpr std::string_view kPlugInExtension = ".so";
// The scan's result when the folder does not exist.
inline constexpr int kScanFolderMissing = -18;

struct PlugInScanItem {
    int number = 0;  // running number of the find
    std::filesystem::path path;
    PlugInProbeResult probe;
};

// Walks folder depth first (sub-folders in name order, linked folders not
// followed) for files whose extension equals, case-insensitively, the given
// one; probes each and hands it to onItem before going on. Ends early when
// stop is set. 0, or kScanFolderMissing.
int audScanPlugInFolder(const std::filesystem::path& folder, CPlugInProbeCache& cache, const std::atomic<bool>& stop,
                        const std::function<void(const PlugInScanItem&)>& onItem,
                        std::string_view extension = kPlugInExtension,
                        const std::filesystem::path& helper = audProbeHelperPath(),
                        std::chrono::milliseconds timeout = kVstProbeTimeout);

}  // namespace qvp3
