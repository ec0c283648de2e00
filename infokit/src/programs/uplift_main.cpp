// uplift: installs an online update. The info kit unpacks the update into its
// private folder and starts this program from there, with the owner window,
// the host's path, its product row, its process id, its settings key and its
// language; with an installed build added it is started from the backup
// folder instead and brings the previous version back. It waits for the host
// to end, replaces the program folder's files and starts the host again.
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "string_table.h"
#include "update_checker.h"
#include "uplift_install.h"

namespace {

using namespace infokit;

constexpr auto kHostEndLimit = std::chrono::seconds(60);

std::optional<long long> number(std::string_view text) {
    long long value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || value < 0) return std::nullopt;
    return value;
}

std::filesystem::path ownFolder() {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7 && argc != 8) {
        std::fprintf(stderr, "uplift is started by the program's online update.\n");
        return 2;
    }
    const std::filesystem::path hostPath = argv[2];
    const auto pid = number(argv[4]);
    const auto language = number(argv[6]);
    const auto build = argc == 8 ? number(argv[7]) : std::optional<long long>(0);
    if (!hostPath.is_absolute() || !pid || !language || !build || *language > 100 || *build > 1'000'000'000) {
        std::fprintf(stderr, "uplift: bad arguments\n");
        return 2;
    }
    const int lang = static_cast<int>(*language);
    const Say say = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
    const std::string name = hostPath.stem().string();
    say(formatText(lang, argc == 8 ? txt::kReactivating : 1500, {name}));
    if (!waitForProcessEnd(static_cast<pid_t>(*pid), kHostEndLimit)) {
        say(formatText(lang, 1516, {hostPath.filename().string()}));
        return 1;
    }
    const bool done = argc == 8 ? restoreBackup(ownFolder(), hostPath.parent_path(), static_cast<int>(*build), lang, say)
                                : installUpdate(ownFolder(), hostPath.parent_path(), lang, say);
    if (!startProgram(hostPath, {})) say(formatText(lang, txt::kCouldNotStart, {name}));
    return done ? 0 : 1;
}
