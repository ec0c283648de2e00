#include "update_archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <map>
#include <memory>
#include <set>

#include "update_files.h"

namespace infokit {
namespace {

struct ZipCloser {
    void operator()(zip_t* z) const { zip_discard(z); }
};
struct ZipFileCloser {
    void operator()(zip_file_t* f) const { zip_fclose(f); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipCloser>;
using ZipFilePtr = std::unique_ptr<zip_file_t, ZipFileCloser>;

struct Entry {
    zip_uint64_t index;
    zip_uint64_t size;
    bool executable;
};

// The folders a listed name needs ("a/b/c" needs "a/" and "a/b/").
std::set<std::string> foldersOf(const std::vector<std::string>& names) {
    std::set<std::string> folders;
    for (const std::string& name : names) {
        for (std::size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
            folders.insert(name.substr(0, slash + 1));
        }
    }
    return folders;
}

// The unix file type of an entry, 0 when the archive does not say.
mode_t entryType(zip_t* zip, zip_uint64_t index, mode_t* mode) {
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    *mode = 0;
    if (zip_file_get_external_attributes(zip, index, 0, &system, &attributes) != 0) return 0;
    if (system != ZIP_OPSYS_UNIX) return 0;
    *mode = static_cast<mode_t>(attributes >> 16);
    return *mode & S_IFMT;
}

// Checks every entry; fills `entries` with the listed files by name.
std::string checkEntries(zip_t* zip, const std::vector<std::string>& names, const ArchiveLimits& limits,
                         std::map<std::string, Entry>& entries) {
    const zip_int64_t count = zip_get_num_entries(zip, 0);
    if (count < 0 || static_cast<std::uint64_t>(count) > limits.maxEntries) return "the archive holds too many files";
    const std::set<std::string> listed(names.begin(), names.end());
    const std::set<std::string> folders = foldersOf(names);
    std::uint64_t total = 0;
    for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(count); ++i) {
        zip_stat_t st;
        if (zip_stat_index(zip, i, 0, &st) != 0 || (st.valid & ZIP_STAT_NAME) == 0 ||
            (st.valid & ZIP_STAT_SIZE) == 0) {
            return "an entry of the archive cannot be read";
        }
        const std::string name = st.name;
        mode_t mode = 0;
        const mode_t type = entryType(zip, i, &mode);
        if (type != 0 && type != S_IFREG && type != S_IFDIR) return "the entry \"" + name + "\" is a link or device";
        if (folders.count(name) != 0 && st.size == 0 && (type == 0 || type == S_IFDIR)) continue;
        if (listed.count(name) == 0 || type == S_IFDIR) return "the entry \"" + name + "\" is not a listed file";
        if (entries.count(name) != 0) return "the entry \"" + name + "\" is there twice";
        if (st.size > limits.maxFileSize) return "the entry \"" + name + "\" is too large";
        total += st.size;
        if (total > limits.maxTotalSize) return "the archive's files are too large together";
        entries[name] = {i, st.size, (mode & 0111) != 0};
    }
    for (const std::string& name : names) {
        if (entries.count(name) == 0) return "the archive lacks \"" + name + "\"";
    }
    return {};
}

// Writes one entry to target through a temporary file beside it; never more
// bytes than the entry declares.
std::string extractEntry(zip_t* zip, const Entry& entry, const std::filesystem::path& target) {
    ZipFilePtr file(zip_fopen_index(zip, entry.index, 0));
    if (!file) return "cannot open the entry for " + target.filename().string();
    std::string temp = target.string() + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return "cannot create a file beside " + target.string();
    char buffer[65536];
    zip_uint64_t written = 0;
    std::string error;
    while (error.empty()) {
        const zip_int64_t n = zip_fread(file.get(), buffer, sizeof buffer);
        if (n < 0) error = "the entry for " + target.filename().string() + " is damaged";
        if (n <= 0) break;
        written += static_cast<zip_uint64_t>(n);
        if (written > entry.size) error = "the entry for " + target.filename().string() + " is larger than it says";
        else if (::write(fd, buffer, static_cast<std::size_t>(n)) != n) error = "cannot write " + target.string();
    }
    if (error.empty() && written != entry.size) error = "the entry for " + target.filename().string() + " is short";
    if (error.empty() && (::fchmod(fd, entry.executable ? 0700 : 0600) != 0 || ::fsync(fd) != 0)) {
        error = "cannot write " + target.string();
    }
    ::close(fd);
    if (error.empty() && ::rename(temp.c_str(), target.c_str()) != 0) error = "cannot write " + target.string();
    if (!error.empty()) ::unlink(temp.c_str());
    return error;
}

}  // namespace

UnpackResult unpackUpdateArchive(const std::filesystem::path& archive, const std::vector<std::string>& names,
                                 const std::filesystem::path& folder, const std::function<void(std::size_t)>& progress,
                                 const ArchiveLimits& limits) {
    for (const std::string& name : names) {
        if (safeRelativeName(name) != name) return {false, "unsafe file name \"" + name + "\""};
    }
    int zipError = 0;
    ZipPtr zip(zip_open(archive.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &zipError));
    if (!zip) return {false, "\"uplift.zip\" is not a readable archive"};
    std::map<std::string, Entry> entries;
    if (std::string error = checkEntries(zip.get(), names, limits, entries); !error.empty()) return {false, error};
    std::vector<std::filesystem::path> done;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (progress) progress(i);
        const std::filesystem::path target = folder / names[i];
        std::error_code ec;
        std::filesystem::create_directories(target.parent_path(), ec);
        std::string error = extractEntry(zip.get(), entries.at(names[i]), target);
        if (!error.empty()) {
            for (const auto& path : done) std::filesystem::remove(path, ec);
            return {false, error};
        }
        done.push_back(target);
    }
    return {true, {}};
}

}  // namespace infokit
