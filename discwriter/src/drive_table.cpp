#include "drive_table.h"

#include <cstdlib>
#include <filesystem>

#include "libburn/libburn_recorder.h"
#include "simulated/simulated_recorder.h"

namespace discwriter {
namespace {

std::vector<std::unique_ptr<Recorder>> scanSimulated() {
    std::vector<std::unique_ptr<Recorder>> found;
    const char* folder = std::getenv(kSimulatedRecorderVariable);
    std::error_code ec;
    if (folder != nullptr && *folder != '\0' && std::filesystem::is_directory(folder, ec))
        found.push_back(std::make_unique<SimulatedRecorder>(folder));
    return found;
}

struct Backend {
    const char* name;
    std::vector<std::unique_ptr<Recorder>> (*scan)();
};

constexpr Backend kBackends[] = {
    {"libburn", scanLibburnRecorders},
    {"simulated", scanSimulated},
};

}  // namespace

std::vector<DriveRecord> findDrives() {
    std::vector<DriveRecord> table;
    for (const Backend& backend : kBackends) {
        for (auto& recorder : backend.scan()) {
            DriveRecord record;
            record.index = static_cast<int>(table.size());
            record.id = recorder->identity();
            record.recorder = std::move(recorder);
            table.push_back(std::move(record));
        }
    }
    return table;
}

void finishBackends() { finishLibburn(); }

}  // namespace discwriter
