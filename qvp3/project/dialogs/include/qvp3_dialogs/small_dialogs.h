// The small dialogs of the project store and the shell: the choice of the
// files a profile applies to, the question before a copied source file is
// overwritten, the progress of measuring playing times, the wait windows
// and the splash window of start-up. The wait, progress and splash windows
// are modeless: whoever shows them keeps the user-interface thread running.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QPoint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "qvp3_project/profile_context.h"
#include "qvp3_project/project.h"
#include "qvp3_project/step_changes.h"
#include "qvp3_ui/qt_message_target.h"
#include "qvp3_ui/wait_dialog.h"

class QLabel;
class QProgressBar;
class QStandardItemModel;
class QListView;

namespace qvp3 {

// --- the files a profile applies to (resource 204)

class ProfileEntriesDialog : public QDialog {
    Q_OBJECT
public:
    // anchor: where the dialog's bottom right corner goes (the profile bar's
    // fourth button), in global coordinates; nothing leaves Qt's placement.
    ProfileEntriesDialog(Project& project, ProfileContext& profiles, std::optional<QPoint> anchor = std::nullopt,
                         QWidget* parent = nullptr);

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildForm();
    void fillList();
    void checkAll(int only);  // -1 every item, -2 none, else that row alone

    Project& project_;
    ProfileContext& profiles_;
    std::optional<QPoint> anchor_;
    bool exportStep_ = false;
    QListView* list_ = nullptr;
    QStandardItemModel* model_ = nullptr;
};

int prfEntriesDialog(QWidget* parent, Project& project, ProfileContext& profiles,
                     std::optional<QPoint> anchor = std::nullopt);

// --- the question before an existing copy is overwritten (resource 324)

// 6 Yes, 7 No, 2 Cancel; 10 more when "do not ask again" is checked.
class OverwriteDialog : public QDialog {
    Q_OBJECT
public:
    OverwriteDialog(const QString& message, QWidget* parent = nullptr);

private:
    void finish(int button);
};

int prjOverwriteDialog(QWidget* parent, const QString& message);

// --- the progress of measuring every file's playing time ("FILETIMEPROGRESS")

class FileTimeProgressWindow : public QDialog, public PlayTimeProgressView {
    Q_OBJECT
public:
    explicit FileTimeProgressWindow(QWidget* parent = nullptr);

    void open(int files) override;
    void setText(std::string_view text) override;
    void setPosition(int file) override;
    void close() override;

private:
    QLabel* text_ = nullptr;
    QProgressBar* progress_ = nullptr;
};

// --- the wait windows (resource 288)

// The copy-wait dialog: the one wait window of the user-interface library.
using qvp3ui::WaitDialog;

// The audio engine's wait window: keeps one text of at most 255 characters,
// set by WM_WAITDLG_TEXT (lParam: a NUL-terminated UTF-8 text, read at most
// 255 bytes far; send the message, or keep the text alive until it is
// handled) and emptied by WM_WAITDLG_DONE; shows language string 112 while
// it has none. Any thread may post or send through target().
class WaitWindow : public WaitDialog {
    Q_OBJECT
public:
    explicit WaitWindow(QWidget* parent = nullptr);
    ~WaitWindow() override;

    platform::MessageTarget& target() { return *target_; }
    std::string keptText() const;
    bool event(QEvent* event) override;

private:
    platform::LResult onMessage(platform::MessageId msg, platform::LParam lParam);
    void showKeptText();

    std::unique_ptr<qvp3ui::QtMessageTarget> target_;
    std::string kept_;
};

// --- the splash window of start-up ("TITELBILD")

// Shows "qvp3.jpg" of the program folder with the current start-up step
// written over it; the shell changes the text and calls update().
class SplashWindow : public QWidget {
    Q_OBJECT
public:
    SplashWindow(const std::filesystem::path& programFolder, const std::string* stepText, QWidget* parent = nullptr);
    bool hasPicture() const { return !picture_.isNull(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap picture_;
    const std::string* stepText_;
};

}  // namespace qvp3
