// Small operations of the shell that several parts call: file names, the
// focus tests of context help, deleting what a project made, outside
// programs, the info kit's dialogs.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QWidget;

namespace platform {
class SettingsStore;
}

namespace qvp3 {

class MainWindow;

// Case-insensitive comparison of the file-name parts: <0, 0, >0.
int appCompareFileNames(const std::filesystem::path& a, const std::filesystem::path& b);
// The name without its extension and the extension without its dot; a
// name without a dot has an empty extension.
void appSplitFileName(const std::filesystem::path& path, std::string& name, std::string& extension);

// Context help's focus tests: the play, stop, back and forward buttons, the
// position slider and the MIDI output list (not the to-start button); the
// profile list (and its edit) and the profile toolbar.
bool appIsTransportControl(const QWidget& widget);
bool appIsProfileBarControl(const QWidget& widget);

// Deletes the "*.<extension>" files of folder that the program made: for
// "mp3" those whose name holds the title (none for an empty title), for
// any other extension those whose name holds "_qvpcnv". Only regular files
// whose real path lies inside the folder are deleted (a link that leads out
// is left alone). False when a deletion failed.
bool appDeleteConvertedFiles(std::string_view extension, const std::filesystem::path& folder,
                             std::string_view title);
// Every converted file and MP3 file of a project (its "_qvpcnv" files, its
// MP3 files, and the ".tvrx" files converted from its MusicXML sources).
bool appDeleteProjectOutput(const std::filesystem::path& folder, std::string_view title);
// Whether path lies inside folder once both are resolved (links, "..").
bool appPathInside(const std::filesystem::path& path, const std::filesystem::path& folder);

// Makes every file and folder below folder writable for its owner; links
// are not followed. False when one could not be changed.
bool appClearReadOnlyTree(const std::filesystem::path& folder);
// Moves a file or folder into the user's trash as the desktop keeps it
// (with its ".trashinfo", so that the file manager can put it back); true on
// success. A file on another file system than the trash is left alone.
bool scDeleteToRecycleBin(const std::filesystem::path& path);

// Opens a folder in the desktop's file manager.
bool appOpenFolder(const std::filesystem::path& folder);
// Starts an outside program with arguments, detached; when the path is
// empty or not an executable file, shows that the program is not installed
// and gives false.
bool appStartProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                     std::string_view displayName);

// The notation program: "ExePath" under the subkey its "CurrentVersion"
// names (the user's settings first, then the machine's). Nothing, with the
// string to show in missingString (190 not installed, 225 incomplete).
std::optional<std::filesystem::path> appNotationProgram(platform::SettingsStore& store, int& missingString);
// Opens a score in the notation program (started with the file); warning
// 231 when it cannot be started. False then.
bool appOpenInNotationProgram(platform::SettingsStore& store, const std::filesystem::path& file);

// The info kit: the about box and the update settings.
void appShowAboutBox(MainWindow& window);
void appShowUpdateSettings(MainWindow& window);
// A step's worker has ended (on the user-interface thread): the toggle
// command is greyed meanwhile, the playing times are worked out again
// (warning 15 when that fails), the file list is refreshed. False when the
// times could not be worked out.
bool appStepWorkerDone(MainWindow& window);
// After a round trip to the outside editor: reloads what it changed.
void appCheckEditorChanges(MainWindow& window);

}  // namespace qvp3
