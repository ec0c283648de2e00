#include "update_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "platform/ini_file.h"
#include "platform/text.h"

namespace infokit {
namespace {

constexpr std::string_view kSection = "Uplift";

std::optional<int> parseNumber(std::string_view text, std::size_t& pos) {
    int value = 0;
    const auto [ptr, ec] = std::from_chars(text.data() + pos, text.data() + text.size(), value);
    if (ec != std::errc() || value < 0) return std::nullopt;
    pos = static_cast<std::size_t>(ptr - text.data());
    return value;
}

// The listed files after the updater's own; false (and error set) when one
// is missing or unsafe, or there are too many.
bool readListedFiles(const platform::IniDocument& ini, UpdateDescription& description) {
    const int count = ini.getInt(kSection, "FileNum", 0);
    if (count <= 0) {
        description.filesError = "\"FileNum\" is missing or 0";
        return false;
    }
    if (count > kMaxListedFiles) {
        description.filesError = "\"FileNum\" lists more than " + std::to_string(kMaxListedFiles) + " files";
        return false;
    }
    description.fileNum = count;
    for (std::string_view fixed : kUpdaterFiles) description.files.emplace_back(fixed);
    for (int i = 1; i <= count; ++i) {
        char key[8];
        std::snprintf(key, sizeof key, "File%02i", i);
        const auto raw = ini.getString(kSection, key);
        if (!raw) {
            description.filesError = std::string("\"") + key + "\" is missing";
            return false;
        }
        std::string_view name = *raw;
        if (name.starts_with('*')) name.remove_prefix(1);
        if (name.starts_with('?') || name.ends_with('\\') || name.ends_with('/')) continue;
        const auto safe = safeRelativeName(name);
        if (!safe) {
            description.filesError = "unsafe file name \"" + *raw + "\"";
            return false;
        }
        description.files.push_back(*safe);
    }
    return true;
}

}  // namespace

std::optional<UpdateVersion> parseUpdateVersion(std::string_view text) {
    UpdateVersion version;
    std::size_t pos = 0;
    const auto major = parseNumber(text, pos);
    if (!major || pos >= text.size() || text[pos++] != '.') return std::nullopt;
    const auto minor = parseNumber(text, pos);
    if (!minor || pos >= text.size() || text[pos++] != '-') return std::nullopt;
    const auto build = parseNumber(text, pos);
    if (!build || pos != text.size()) return std::nullopt;
    return UpdateVersion{*major, *minor, *build, std::string(text)};
}

std::optional<std::string> safeRelativeName(std::string_view name) {
    if (name.empty() || name.size() > 1024) return std::nullopt;
    std::string out(name);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return std::nullopt;
        if (c == '\\') c = '/';
    }
    if (out.front() == '/' || (out.size() >= 2 && out[1] == ':')) return std::nullopt;
    std::string_view rest = out;
    while (true) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        if (part.empty() || part == "." || part == "..") return std::nullopt;
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
    return out;
}

std::optional<UpdateDescription> parseUpdateDescription(std::string_view bytes, std::string* error) {
    platform::IniDocument ini;
    ini.parse(bytes);
    if (!ini.hasSection(kSection)) {
        if (error != nullptr) *error = "\"uplift.ini\" has no [Uplift] section";
        return std::nullopt;
    }
    UpdateDescription d;
    d.appName = ini.getString(kSection, "AppName", "");
    d.versionText = ini.getString(kSection, "Version", "");
    d.onlyFull = ini.getString(kSection, "OnlyFull", "") == "1";
    d.onlyFullText = ini.getString(kSection, "OnlyFullText", "");
    d.onlyFullUrl = ini.getString(kSection, "OnlyFullURL", "");
    d.newVersionHint = platform::firstCharacters(ini.getString(kSection, "NewVersionHint", ""), 10000);
    d.newVersionLink = ini.getString(kSection, "NewVersionLink", "");
    if (!readListedFiles(ini, d)) d.files.clear();
    return d;
}

std::optional<UpdateDescription> readUpdateDescription(const std::filesystem::path& path, std::string* error) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxUpdateIniSize) {
        if (error != nullptr) *error = ec ? "\"uplift.ini\" cannot be read" : "\"uplift.ini\" is too large";
        return std::nullopt;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        if (error != nullptr) *error = "\"uplift.ini\" cannot be read";
        return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(size), '\0');
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    std::fclose(file);
    return parseUpdateDescription(bytes, error);
}

bool ensurePrivateFolder(const std::filesystem::path& folder, std::string* error) {
    std::error_code ec;
    std::filesystem::create_directories(folder.parent_path(), ec);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        if (error != nullptr) *error = "cannot create " + folder.string() + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 077) != 0) {
        if (error != nullptr) *error = folder.string() + " is not a private folder of this user";
        return false;
    }
    return true;
}

std::filesystem::path defaultUpdateFolder() {
    std::error_code ec;
    std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    if (ec) temp = "/tmp";
    return temp / ("Tavrena-uplift-" + std::to_string(::getuid()));
}

}  // namespace infokit
