// Shared by the tests of MusicXML loading and the part list: fixture paths, a
// file object with a log that keeps its lines, and loading with the
// repository's own style sheet.
#pragma once

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mxml_file.h"
#include "mxml_load.h"
#include "scorecore/score_log.h"

namespace scoreconv::testing {

inline std::filesystem::path fixture(std::string_view name) {
    return std::filesystem::path(QVP3_TEST_DATA_DIR) / name;
}

inline std::filesystem::path suiteFile(std::string_view name) {
    return std::filesystem::path(QVP3_SHARED_TESTDATA_DIR) / "musicxml" / name;
}

// The folder of data/timepart.xsl in the source tree.
inline std::filesystem::path styleSheetFolder() {
    return std::filesystem::path(QVP3_TEST_DATA_DIR).parent_path().parent_path().parent_path() / "data";
}

inline void writeFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A file object whose log lines are kept in `lines`.
struct LoggedFile {
    explicit LoggedFile(int32_t mode = kModeRealTime, std::optional<std::string_view> lineLabel = std::nullopt,
                        std::optional<std::string_view> modifiedLabel = std::nullopt,
                        std::string_view lineEnd = "\r\n")
        : log([this](std::string_view line) { lines.emplace_back(line); }) {
        CMxmlInit init;
        init.programName = "qvp3";
        init.mode = CMxmlFile::loadMode(mode);
        init.signal = &signal;
        init.log = &log;
        init.lineLabel = lineLabel;
        init.modifiedLabel = modifiedLabel;
        init.lineEnd = lineEnd;
        file = std::make_unique<CMxmlFile>(init);
    }

    // getProps with the style sheet of the source tree.
    int load(const std::filesystem::path& source) {
        const std::filesystem::path folders[] = {styleSheetFolder()};
        return getProps(*file, source, folders);
    }

    bool logged(std::string_view part) const {
        for (const std::string& line : lines) {
            if (line.find(part) != std::string::npos) return true;
        }
        return false;
    }

    int signal = 0;
    std::vector<std::string> lines;
    scorecore::CScoreLog log;
    std::unique_ptr<CMxmlFile> file;
};

}  // namespace scoreconv::testing
