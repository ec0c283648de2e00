// Small helpers that several of the score library's tests share.
#pragma once

#include <zip.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "scorecore/player_items.h"

namespace scorecore::testing {

// A TvrXML score whose DOCTYPE declares an entity bomb: each entity holds the
// one before it ten times, and the author's text names the last.
inline std::string entityBomb() {
    std::string xml = "<!DOCTYPE score [<!ENTITY e0 \"lollollol\">";
    for (int i = 1; i <= 9; ++i) {
        xml += "<!ENTITY e" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) xml += "&e" + std::to_string(i - 1) + ";";
        xml += "\">";
    }
    return xml + "]><score xmlns=\"http://x/TvrXML/1.0\"><info><author>&e9;</author></info></score>";
}

// The 8 stored bytes of a player item, comparable with a list of bytes.
inline std::vector<std::uint8_t> bytesOf(const CPlayerItem& item) {
    const auto b = item.bytes();
    return {b.begin(), b.end()};
}

// The deflated bytes of a container's first entry as they are stored; empty
// when it does not open.
inline std::string storedEntry(const std::filesystem::path& container) {
    int error = 0;
    zip_t* archive = zip_open(container.c_str(), ZIP_RDONLY, &error);
    if (archive == nullptr) return {};
    std::string out;
    if (zip_file_t* file = zip_fopen_index(archive, 0, ZIP_FL_COMPRESSED)) {
        char chunk[65536];
        for (zip_int64_t n = 0; (n = zip_fread(file, chunk, sizeof chunk)) > 0;) {
            out.append(chunk, static_cast<std::size_t>(n));
        }
        zip_fclose(file);
    }
    zip_discard(archive);
    return out;
}

}  // namespace scorecore::testing
