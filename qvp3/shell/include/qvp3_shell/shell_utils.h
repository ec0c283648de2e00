// Small operations of the shell that several parts call: file names, the
// focus tests of context help, deleting what a project made, outside
// programs, the info kit's dialogs.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

class QWidget;

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
// Moves a file or folder to the desktop's trash; true on success.
bool scDeleteToRecycleBin(const std::filesystem::path& path);

// Opens a folder in the desktop's file manager.
bool appOpenFolder(const std::filesystem::path& folder);
// Starts an outside program with arguments, detached; when the path is
// empty or not an executable file, shows that the program is not installed
// and gives false.
bool appStartProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                     std::string_view displayName);

// The info kit: the about box and the update settings.
void appShowAboutBox(MainWindow& window);
void appShowUpdateSettings(MainWindow& window);
// After a round trip to the outside editor: reloads what it changed.
void appCheckEditorChanges(MainWindow& window);

}  // namespace qvp3
