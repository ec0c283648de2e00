// What every project and settings dialog shares: texts by string id,
// controls named by their ids, the folder and file choosers and the help
// pages (each of which a test can answer in place of a user), and the
// dialog that is active for the main loop and F1.
#pragma once

#include <QDialog>
#include <QDialogButtonBox>
#include <QString>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "qvp3_ui/controls.h"
#include "qvp3_ui/language.h"

namespace qvp3::dlg {

// The language string as Qt text.
QString text(int id);
// The language string used as a format with one number or text.
QString textFormat(int id, std::initializer_list<qvp3ui::FormatArg> args);

// A control of kind T, its object name its id (0 leaves it unnamed).
template <typename T, typename... Args>
T* makeControl(QWidget* parent, int id, Args&&... args) {
    auto* control = new T(std::forward<Args>(args)..., parent);
    if (id != 0) qvp3ui::setControlId(*control, id);
    return control;
}

// The row of OK (1), Cancel (2, unless withCancel is false) and Help (9)
// buttons, wired to the dialog's accept and reject and to the help topic.
QDialogButtonBox* makeButtonRow(QDialog& dialog, std::string_view helpTopic, const QString& okText = QStringLiteral("OK"),
                                bool withCancel = true);

// A text in a colour of its own (labels the forms draw in green or blue).
void setTextColour(QWidget& widget, int red, int green, int blue, bool whiteBackground = false);

// The folder chooser (appBrowseForFolder): the chosen folder, nothing when
// the user cancelled. The file chooser (appFileDialog): the chosen file.
std::optional<std::filesystem::path> browseForFolder(QWidget* parent, const QString& title,
                                                     const std::filesystem::path& start);
std::optional<std::filesystem::path> chooseFile(QWidget* parent, const QString& filterText, const QString& title,
                                                const std::filesystem::path& start, const QString& pattern);
// Opens the help at a topic through the handler the shell set (its
// appShowHelp); nothing without one.
void showHelp(std::string_view topic);
using HelpHandler = std::function<void(std::string_view topic)>;
void setHelpHandler(HelpHandler handler);

// Test hooks: with a responder set, no chooser opens; an empty function
// restores the real ones.
using FolderResponder = std::function<std::optional<std::filesystem::path>(const QString& title)>;
using FileResponder = std::function<std::optional<std::filesystem::path>(const QString& title)>;
void setFolderResponder(FolderResponder responder);
void setFileResponder(FileResponder responder);

// The dialog that is active (AppState::modelessDialog): set while a dialog
// of ours has the focus, cleared when it loses it; the handler (the shell's)
// hears each change, so that the main loop and F1 reach the dialog.
QWidget* activeDialog();
using ActivationHandler = std::function<void(QWidget* dialog)>;
void setActivationHandler(ActivationHandler handler);
// Installs the bookkeeping on a dialog.
void trackActivation(QWidget& dialog);

}  // namespace qvp3::dlg
