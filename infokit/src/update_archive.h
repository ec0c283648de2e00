// Unpacking an update archive into the private update folder. The archive
// comes from the network, so it is checked whole before a byte is written:
// only the listed files, no links or devices, no names that leave the folder,
// a bounded count and bounded sizes. A refused or failed unpack leaves none of
// its files behind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace infokit {

struct ArchiveLimits {
    std::size_t maxEntries = 2 * (99 + 3);          // files and their folders
    std::uint64_t maxFileSize = 256ull << 20;       // one unpacked file
    std::uint64_t maxTotalSize = 1024ull << 20;     // all of them
};

struct UnpackResult {
    bool ok = false;
    std::string error;
};

// Unpacks `names` (safe relative names, see safeRelativeName) from the
// archive into folder, in their order; progress(i) is called before the i-th.
UnpackResult unpackUpdateArchive(const std::filesystem::path& archive, const std::vector<std::string>& names,
                                 const std::filesystem::path& folder, const std::function<void(std::size_t)>& progress,
                                 const ArchiveLimits& limits = {});

}  // namespace infokit
