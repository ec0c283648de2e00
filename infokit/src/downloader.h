// Downloading one file over HTTP(S) with libcurl: an HTTP error status is a
// failure, the size and the time are bounded, and the file appears under its
// name only when it arrived whole.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace infokit {

struct DownloadResult {
    bool ok = false;
    bool cancelled = false;
    std::string error;  // for the log and the settings dialog's message
};

struct DownloadOptions {
    std::uint64_t maxBytes = 256ull << 20;
    std::chrono::seconds timeout{600};
    std::chrono::seconds connectTimeout{15};
    // Called with the bytes received and expected (0 while unknown).
    std::function<void(std::uint64_t done, std::uint64_t total)> progress;
    // Set by another thread to stop the transfer.
    const std::atomic<bool>* cancel = nullptr;
};

DownloadResult downloadFile(const std::string& url, const std::filesystem::path& target,
                            const DownloadOptions& options);

}  // namespace infokit
