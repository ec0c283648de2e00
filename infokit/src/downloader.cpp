#include "downloader.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>

#include "platform/atomic_file.h"

namespace infokit {
namespace {

struct Transfer {
    platform::AtomicFileWriter* file;
    const DownloadOptions* options;
    std::uint64_t received = 0;
    bool tooLarge = false;
    bool writeFailed = false;
};

std::size_t onData(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::size_t bytes = size * count;
    transfer->received += bytes;
    if (transfer->received > transfer->options->maxBytes) {
        transfer->tooLarge = true;
        return 0;
    }
    if (!transfer->file->write(data, bytes)) {
        transfer->writeFailed = true;
        return 0;
    }
    return bytes;
}

int onProgress(void* user, curl_off_t total, curl_off_t done, curl_off_t, curl_off_t) {
    const auto* transfer = static_cast<Transfer*>(user);
    const DownloadOptions& options = *transfer->options;
    if (options.cancel != nullptr && options.cancel->load()) return 1;
    if (options.progress) options.progress(static_cast<std::uint64_t>(done), static_cast<std::uint64_t>(total));
    return 0;
}

struct CurlCloser {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

void setOptions(CURL* curl, const std::string& url, Transfer& transfer, char* errorBuffer) {
    const DownloadOptions& options = *transfer.options;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    // Without it an HTTP 404 page would be saved as the file asked for.
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(options.connectTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(options.timeout.count()));
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBytes));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
}

}  // namespace

DownloadResult downloadFile(const std::string& url, const std::filesystem::path& target,
                            const DownloadOptions& options) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::unique_ptr<CURL, CurlCloser> curl(curl_easy_init());
    if (!curl) return {false, false, "the download could not be set up"};
    platform::AtomicFileWriter file(target);
    if (!file.open()) return {false, false, file.error()};
    Transfer transfer{&file, &options};
    char errorBuffer[CURL_ERROR_SIZE] = {};
    setOptions(curl.get(), url, transfer, errorBuffer);
    const CURLcode code = curl_easy_perform(curl.get());
    if (code == CURLE_ABORTED_BY_CALLBACK) return {false, true, "the download was cancelled"};
    if (transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED) return {false, false, url + ": the file is too large"};
    if (transfer.writeFailed) return {false, false, file.error()};
    if (code != CURLE_OK) {
        return {false, false, url + ": " + (errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(code))};
    }
    if (!file.commit()) return {false, false, file.error()};
    return {true, false, {}};
}

}  // namespace infokit
