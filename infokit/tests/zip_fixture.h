// Update archives built for a test: entries with their names, bytes and unix
// modes, written by libzip (a link is stored as its target with the link type).
#pragma once

#include <sys/stat.h>
#include <zip.h>

#include <filesystem>
#include <string>
#include <vector>

namespace infokit::testing {

struct ZipEntry {
    std::string name;
    std::string bytes;
    unsigned mode = S_IFREG | 0644;
};

inline bool writeZip(const std::filesystem::path& path, const std::vector<ZipEntry>& entries) {
    int error = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (zip == nullptr) return false;
    for (const ZipEntry& entry : entries) {
        zip_source_t* source = zip_source_buffer(zip, entry.bytes.data(), entry.bytes.size(), 0);
        const zip_int64_t index = source != nullptr ? zip_file_add(zip, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8)
                                                    : -1;
        if (index < 0) {
            zip_source_free(source);
            zip_discard(zip);
            return false;
        }
        zip_file_set_external_attributes(zip, static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX,
                                         static_cast<zip_uint32_t>(entry.mode) << 16);
    }
    return zip_close(zip) == 0;
}

}  // namespace infokit::testing
