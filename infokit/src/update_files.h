// What an update consists of: "uplift.ini", the description of the update on
// the server, the names of the files an update archive brings, and the
// private folder they are unpacked into. Everything here is data from the
// network, so names are checked before they become paths.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace infokit {

inline constexpr std::string_view kUpdateIniName = "uplift.ini";
inline constexpr std::string_view kUpdateArchiveName = "uplift.zip";
// The files every update archive brings before the ones "uplift.ini" lists.
inline constexpr std::string_view kUpdaterFiles[] = {"uplift", "libinfokit.so", "infokitreg"};
// "File%02i" numbers the listed files with two digits.
inline constexpr int kMaxListedFiles = 99;
// Largest "uplift.ini" read.
inline constexpr std::uintmax_t kMaxUpdateIniSize = 1u << 20;

// "Version" of "uplift.ini": major "." minor "-" build.
struct UpdateVersion {
    int major = 0;
    int minor = 0;
    int build = 0;
    std::string text;
};
std::optional<UpdateVersion> parseUpdateVersion(std::string_view text);

struct UpdateDescription {
    std::string appName;
    std::string versionText;
    bool onlyFull = false;
    std::string onlyFullText;
    std::string onlyFullUrl;
    std::string newVersionHint;
    std::string newVersionLink;
    int fileNum = 0;
    // The files to install: kUpdaterFiles, then the listed ones, each a safe
    // relative name with "/" between folders. Empty when "FileNum" is
    // missing, 0 or too large, or a listed name is missing or unsafe.
    std::vector<std::string> files;
    std::string filesError;  // why files is empty
};

// Reads the description; nothing (and error set) when the file cannot be
// read or has no [Uplift] section.
std::optional<UpdateDescription> readUpdateDescription(const std::filesystem::path& path, std::string* error);
std::optional<UpdateDescription> parseUpdateDescription(std::string_view bytes, std::string* error);

// A name from the network as a relative path inside a folder: "\" becomes
// "/"; nothing for an empty or absolute name, a drive, a "." or ".."
// component, an empty component or a control character.
std::optional<std::string> safeRelativeName(std::string_view name);

// Creates (or accepts) a folder that only this user can enter: a real folder,
// not a link, owned by us and closed to others (mode 0700).
bool ensurePrivateFolder(const std::filesystem::path& folder, std::string* error);
// The user's temporary folder for updates.
std::filesystem::path defaultUpdateFolder();

}  // namespace infokit
