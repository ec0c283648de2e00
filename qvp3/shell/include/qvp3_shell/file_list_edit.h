// What the main window's file list does to the project's entries: adding
// files (by the add command or by dropping them), moving an entry to another
// row, removing one, renaming one's file, and the texts of the list area
// (window title, file count, disc usage, the problems of a project read).
// Nothing here knows a window: questions and messages go through the
// project's ShellServices, and the few things only the main window can do
// through a ListAreaHost.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qvp3_project/project.h"

namespace qvp3 {

// Language strings of the list area.
inline constexpr int kStrProjectProblems = 178;
inline constexpr int kStrAskReplaceProject = 153;  // the open project has files: open another?
inline constexpr int kStrFileListTime = 216;       // column captions
inline constexpr int kStrFileListName = 217;
inline constexpr int kStrNoProjectOpen = 218;
inline constexpr int kStrFilesNotAdded = 219;  // "%d": how many
inline constexpr int kStrDiscUsage = 267;      // "%d", "%02d": minutes and seconds
inline constexpr int kStrFileCount = 268;      // "%d": the number of files
// Our own texts of the list area (the shell's block of numbers).
inline constexpr int kStrAddingFile = 61200;    // "%d", "%d": the running number and the count
inline constexpr int kStrPauseColumn = 61201;   // caption of the pause column
inline constexpr int kStrRenameExists = 61202;  // "%s": the name that is taken
inline constexpr int kStrRenameInvalid = 61203; // "%s": the refused name
inline constexpr int kStrRenameFailed = 61204;  // "%s": the system's reason
inline constexpr int kStrListBusy = 61205;      // the files cannot change while one plays
inline constexpr int kStrRenameOutside = 61206; // only files in the project folder are renamed
inline constexpr int kStrCdSizeRange = 61207;   // "%d", "%d": the lowest and highest capacity

// The file list's images by extension; 21 is the unknown file.
inline constexpr int kImageUnknownFile = 21;

// What the list area needs of the main window besides ShellServices.
class ListAreaHost {
public:
    virtual ~ListAreaHost() = default;
    // Opens entry's file (failures are shown to the user); on success (0)
    // the entry has been appended to the project's entries.
    virtual int openEntry(ProjectEntry& entry, Project& project) = 0;
    // The setting to copy added files into the project folder.
    virtual bool copySourceFiles() const = 0;
    // Position of the status bar's progress bar.
    virtual void setStatusProgress(int position) = 0;
    // The entries or the current entry changed: the list is filled again,
    // the commands, the transport and the displays brought up to date.
    virtual void entriesChanged() = 0;
    // Something of the project changed: the commands are enabled anew.
    virtual void refreshCommands() = 0;
    // Whether a project is open, and opening a project file as the open
    // command does (remembered, at its saved step, converted files checked).
    virtual bool projectOpen() const = 0;
    virtual bool openProject(const std::filesystem::path& projectFile) = 0;
};

// The image of a file by its extension (no regard to case): "mid", "rmi",
// "zrv" 11, "exe" 19, "xml" 13, "tvrx" 33, anything else 21.
int appFileListIcon(const std::filesystem::path& file);
// Whether the add command takes the file: a "tvr" score or a file of a known image.
bool appAcceptsFile(const std::filesystem::path& file);

// Adds files to the project after the current entry (at the end when there is
// none or it is the last), each combined with folder when one is given. With
// the copy setting a file outside the project folder is first copied into it,
// under a numbered name when its own is taken, and that copy is deleted again
// when the file cannot be opened. The last file added becomes the current
// entry. Files that were not added are counted in an information box. The
// number of files added.
int appAddFilesToProject(Project& project, ListAreaHost& host, const std::vector<std::filesystem::path>& files,
                         const std::filesystem::path* folder = nullptr);

// Files dropped on the main window or its file list: one project file opens
// that project (after a question when the open project has files); other
// files, sorted, are added to the open project; with none open the user is
// told to open one. The number of files added.
int appOnDropFiles(Project& project, ListAreaHost& host, std::vector<std::filesystem::path> files);

// Results of the edits below.
inline constexpr int kListEditOk = 0;
inline constexpr int kListEditBusy = -5;        // an entry plays: nothing changed
inline constexpr int kListEditBadIndex = -6;
inline constexpr int kListEditNameTaken = -7;   // the new name exists already
inline constexpr int kListEditBadName = -8;     // empty, a separator, "." or ".."
inline constexpr int kListEditOutside = -9;     // the file is not in the project folder
inline constexpr int kListEditFailed = -101;    // the file system refused

// Moves entry from to row to (both in range); the players are relinked, the
// converted files purged (their numbering follows the order), the step
// marked changed and the moved entry made current.
int appMoveEntry(Project& project, int from, int to);
// Removes entry index with its converted files; the entry that took its row
// (else the last one) becomes current, -1 when none is left.
int appRemoveEntry(Project& project, int index);

// Whether the file of entry index may be renamed: it lies in the project folder.
bool appCanRenameEntry(const Project& project, int index);
// Renames the file of entry index to newStem + its own extension in its own
// folder, with the files made from it (a converted score beside it, the
// converted MIDI and WAV files), and stores the new names in the entry. Never
// writes over a file. A project that had no unsaved changes is written at once,
// so that its file never names a file that is gone.
int appRenameEntry(Project& project, int index, std::string_view newStem);
// The message of a failed edit, or empty.
std::string appListEditMessage(ShellServices& shell, int result, std::string_view name);

// A language string used as a format of whole numbers; the string itself
// when its conversions do not fit them.
std::string appFormatNumbers(ShellServices& shell, int id, std::initializer_list<std::int64_t> numbers);

// "%s - [%s]" of the program name and the project title when a project is
// open, else the program name.
std::string appWindowTitle(std::string_view programName, bool projectOpen, std::string_view projectTitle);
// The text of the disc-usage display and whether the total exceeds the disc.
struct DiscUsage {
    std::string text;
    int seconds = 0;     // the bar's position
    int capacity = 0;    // the bar's maximum, in seconds
    bool overfull = false;
};
DiscUsage appDiscUsage(const Project& project, ShellServices& shell);
std::string appFileCountText(const Project& project, ShellServices& shell);
// The problem report of a project read: string 178, then one line per code.
std::string appProjectProblemsText(ShellServices& shell, const std::vector<std::int32_t>& codes,
                                   const std::vector<std::string>& names);

// Disc capacity in seconds accepted by the project data.
inline constexpr int kCdSizeMin = 600;
inline constexpr int kCdSizeMax = 1000;
// The capacity typed into the project data, when it is a whole number in range.
std::optional<int> appParseCdSize(std::string_view text);

}  // namespace qvp3
