// File and folder choosers. The choosers are Qt's own dialogs (not the
// desktop's native ones, so that the extra controls of the project choosers
// can sit in them); tests answer them through a responder instead.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class QWidget;

namespace qvp3 {

// What a chooser is asked for: purpose is the command that opens it (40009
// add files, 40022 open project, 40024 save project, 1022 settings, others).
struct FileDialogRequest {
    bool save = false;
    std::string filter;  // "description|pattern|" pairs, as stored in the language table
    std::string title;
    std::filesystem::path initialFolder;
    std::string proposedName;
    std::string defaultExtension;  // without the dot
    int purpose = 0;
    bool multiSelect = false;
};

// Tests answer choosers through this: the chosen files, empty for Cancel.
using FileDialogResponder = std::function<std::vector<std::filesystem::path>(const FileDialogRequest&)>;
void setFileDialogResponder(FileDialogResponder responder);

// The name filters of a "|"-separated filter text: "Scores|*.tvr;*.xml|"
// gives "Scores (*.tvr *.xml)". A description without a pattern is dropped.
std::vector<std::string> appFilterList(std::string_view filter);

// Shows the chooser; the chosen files (one unless multiSelect), empty for Cancel.
std::vector<std::filesystem::path> appFileDialog(QWidget* owner, const FileDialogRequest& request);
// The folder chooser; empty for Cancel.
std::filesystem::path appBrowseForFolder(QWidget* owner, const std::filesystem::path& initialFolder);

// The help topic of a chooser by its purpose.
std::string_view appFileDialogHelpTopic(int purpose);

}  // namespace qvp3
