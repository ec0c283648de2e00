// Shared by the tests of MusicXML loading and the part list: fixture paths, a
// file object with a log that keeps its lines, and loading with the
// repository's own style sheet.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "musicxml/mxml_file.h"
#include "musicxml/mxml_load.h"
#include "platform_testing/file_bytes.h"
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

using platform::testing::readBytes;
using platform::testing::writeBytes;

// Changes the current folder and puts the previous one back when it goes
// (a style sheet in the folders a test names is looked for relative to it).
class CurrentFolder {
public:
    explicit CurrentFolder(const std::filesystem::path& folder) : saved_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~CurrentFolder() {
        std::error_code ec;
        std::filesystem::current_path(saved_, ec);
    }
    CurrentFolder(const CurrentFolder&) = delete;
    CurrentFolder& operator=(const CurrentFolder&) = delete;

private:
    std::filesystem::path saved_;
};

// Whether one of the log lines holds part.
inline bool anyLineHolds(const std::vector<std::string>& lines, std::string_view part) {
    for (const std::string& line : lines) {
        if (line.find(part) != std::string::npos) return true;
    }
    return false;
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

    bool logged(std::string_view part) const { return anyLineHolds(lines, part); }

    int signal = 0;
    std::vector<std::string> lines;
    scorecore::CScoreLog log;
    std::unique_ptr<CMxmlFile> file;
};

}  // namespace scoreconv::testing
