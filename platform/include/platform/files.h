// Folders, file operations, file times and path text: what the system asked of
// the Windows shell and path functions, on Linux.
//
// Two kinds of path meet here. Paths of this machine are std::filesystem::path.
// Paths stored in project files and profiles are text, and may have been
// written on Windows ("C:\Users\x\Music\a.mid", "\\server\share\x.xml"), so
// every helper on stored paths splits at both "\" and "/".
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// --- folders ---------------------------------------------------------------

// The folder of the running executable: the program folder, which holds the
// language tables, the data files and the libraries loaded at run time.
// Falls back to the current folder when /proc is not available.
std::filesystem::path programFolder();

// The user's documents folder as XDG defines it, in place of My Documents:
// $XDG_DOCUMENTS_DIR from the environment, else the XDG_DOCUMENTS_DIR line of
// user-dirs.dirs in $XDG_CONFIG_HOME (default ~/.config), else ~/Documents.
// The folder is not created. Empty only when no home folder can be found.
std::filesystem::path documentsFolder();

// Creates a new, empty file with a unique name in folder and returns its path,
// as GetTempFileName does with a zero unique number: the name is the first
// three characters of prefix, a hexadecimal number and ".tmp"; the file exists
// afterwards so that nobody else takes the name. Nothing (and error set) when
// the folder does not exist, is not writable or has no free name left.
std::optional<std::filesystem::path> makeTempFileName(const std::filesystem::path& folder,
                                                      std::string_view prefix,
                                                      std::string* error = nullptr);

// A file made by makeTempFileName, removed again when the object ends; its
// path is empty when none could be made.
class ScopedTempFile {
public:
    ScopedTempFile(const std::filesystem::path& folder, std::string_view prefix);
    ~ScopedTempFile();
    ScopedTempFile(const ScopedTempFile&) = delete;
    ScopedTempFile& operator=(const ScopedTempFile&) = delete;

    bool made() const { return !path_.empty(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// --- file times --------------------------------------------------------------

// Windows FILETIME: 100-nanosecond intervals since 1601-01-01 UTC.
using FileTime = std::uint64_t;
// 100-nanosecond ticks, so that every FILETIME up to 2^63 - 1 fits a time point.
using FileTimeTicks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
using FileTimePoint = std::chrono::sys_time<FileTimeTicks>;

// Seconds between 1601-01-01 and 1970-01-01.
inline constexpr std::int64_t kFileTimeUnixOffsetSeconds = 11'644'473'600;

// (seconds + 11644473600) x 10^7 + nanoseconds / 100. Times before 1601 give 0.
FileTime fileTimeFromUnix(std::int64_t seconds, std::uint32_t nanoseconds = 0);
// The last-write time of a file (or folder), following links; nothing when it
// does not exist or cannot be examined.
std::optional<FileTime> fileTimeOf(const std::filesystem::path& path);
// FILETIME <-> time point, for comparing and showing times. Values from 2^63 on
// (which Windows refuses as well) are clamped.
FileTimePoint fileTimeToTimePoint(FileTime fileTime);
FileTime fileTimeFromTimePoint(FileTimePoint point);

// --- file names ----------------------------------------------------------------

// Whether name matches a FindFirstFile pattern: "*" any run of characters,
// "?" exactly one character, case-insensitive. A pattern ending in ".*" also
// matches names without that dot ("*.*" matches "README", "a.*" matches "a").
bool wildcardMatch(std::string_view pattern, std::string_view name);

// The regular files (links to regular files included) of folder whose names
// match pattern, sorted by name without regard to case. Empty when the folder
// cannot be read.
std::vector<std::filesystem::path> listFiles(const std::filesystem::path& folder,
                                             std::string_view pattern);

// Name comparisons the way Windows makes them: without regard to case (ASCII,
// Latin-1 and the other letters platform::equalsNoCase folds).
bool fileNamesEqual(std::string_view a, std::string_view b);
bool fileNameContains(std::string_view name, std::string_view part);

// --- stored (Windows-style) path text -------------------------------------------

// The components of a stored path, split at "\" and "/"; empty components (a
// leading "\\" of a share, doubled separators) are dropped:
// "C:\a/b.mid" -> {"C:", "a", "b.mid"}.
std::vector<std::string> splitStoredPath(std::string_view text);
// The file-name part: what follows the last "\" or "/" (or a leading drive "C:").
std::string_view storedFileName(std::string_view text);
// The extension of the file-name part, with its dot (".mid"), or empty. As on
// Windows it starts at the last dot of the name, a dot followed by a space
// starts none ("Op. 27 No 2"), and ".hidden" is all extension.
std::string_view storedExtension(std::string_view text);
// The text without the extension of its file-name part.
std::string_view removeStoredExtension(std::string_view text);
// The text with its extension replaced by ext (given with its dot), or ext
// appended when there is none.
std::string replaceStoredExtension(std::string_view text, std::string_view ext);

// A stored path as a path of this machine: every "\" becomes "/". Paths written
// on this machine come back unchanged. A drive path "C:\Music\a.mid" becomes
// the relative path "C:/Music/a.mid", which keeps every component (a caller
// re-anchors it, usually by its filename() in the project folder) and never
// resolves against the root of this machine; a share "\\srv\x\a.xml" becomes
// "//srv/x/a.xml".
std::filesystem::path fromStoredPath(std::string_view text);
// The text stored for a path of this machine: its own "/" form, unchanged, so
// that the file reads back here through fromStoredPath.
std::string toStoredPath(const std::filesystem::path& path);

// --- paths of this machine ----------------------------------------------------------

// Whether child lies in folder or is folder itself, comparing whole components
// of both canonical paths (links resolved as far as they exist): ".../Mass/x" is
// inside ".../Mass", ".../Mass Old/x" is not.
bool isPathInside(const std::filesystem::path& child, const std::filesystem::path& folder);

// Whether two paths name one file: the same path, a symbolic link to it or a
// hard link of it. A file derived from another must never be written over its
// source. Paths that do not exist compare by their canonical forms.
bool isSameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// --- file operations ------------------------------------------------------------------

// CopyFile: copies a regular file, keeping its last-write time. Without
// overwrite an existing target is an error; a read-only target is never
// replaced. The bytes go to a temporary file beside the target that replaces
// it only when complete, so a failed copy leaves the old target intact.
bool copyFile(const std::filesystem::path& from, const std::filesystem::path& to, bool overwrite,
              std::string* error = nullptr);

// MoveFile(Ex): renames a file or folder; without overwrite an existing target
// is an error. A file moved to another file system is copied (as copyFile) and
// then removed; when the removal fails the result is false although the target
// is complete, and the error says so.
bool moveFile(const std::filesystem::path& from, const std::filesystem::path& to, bool overwrite,
              std::string* error = nullptr);

}  // namespace platform
