// The program's main window: menu and toolbars built from the command table,
// the status bar with its progress bar, and below them a splitter with the
// list area (the project's file list 1003, its check box and progress bars)
// on the left and, on the right, the transport, the profile bar and the step
// tab with the 18 step pages. Every control's object name is its id.
//
// The window is also the program's message target: posted and sent window
// messages arrive as events (qvp3_ui/qt_message_target.h) and are handled by
// onMessage on the user-interface thread.
#pragma once

#include <QMainWindow>

#include <array>
#include <map>
#include <memory>

#include "platform/message_target.h"
#include "qvp3_shell/commands.h"
#include "qvp3_shell/control_subclasses.h"
#include "qvp3_shell/shell_hosts.h"

class QAbstractItemModel;
class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QSlider;
class QSplitter;
class QTabWidget;
class QToolBar;
class QTreeView;

namespace qvp3ui {
class QtMessageTarget;
}

namespace qvp3 {

class AppState;
class QtBarWindow;
class QtProfileList;

// Control ids of the main window.
namespace ctl {
inline constexpr int kRebar = 1000, kStatusBar = 1002, kFileList = 1003, kAddPathCheck = 1004;
inline constexpr int kListLabel = 1005, kPlaceholderA = 1006, kPlaceholderB = 1007;
inline constexpr int kListProgressA = 1008, kListProgressB = 1009, kTransportLabel = 1010;
inline constexpr int kPositionSlider = 1016, kTimeDisplay = 1017, kBarDisplay = 1018, kMidiOutList = 1019;
inline constexpr int kProfileLabelA = 1020, kProfileLabelB = 1021, kProfileList = 1022, kProfileToolbar = 1023;
}  // namespace ctl

// The file list's column of the pause after each file.
inline constexpr int kPauseColumn = 2;

// Object names of the windows without an id.
inline constexpr const char* kStepTabName = "stepTab";
inline constexpr const char* kMainToolbarName = "mainToolbar";
inline constexpr const char* kSecondToolbarName = "secondToolbar";
inline constexpr const char* kStatusProgressName = "StatusProgressWin";

// The transport's position reports of the player thread: wParam = ms.
inline constexpr platform::MessageId kWmShowPosition = platform::WM_APP + 200;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(AppState& app);
    ~MainWindow() override;

    AppState& app() { return app_; }
    platform::MessageTarget& target();

    // The command's action (null for an id without a row).
    QAction* action(int id) const;
    QMenu* submenu(Submenu which) const;
    // Recomputes every command's enabled state (appEnableAllCommands).
    void updateCommands();
    // Carries out a command as WM_COMMAND does (OnMainCommand).
    void runCommand(int id, int code = 0);

    // --- the controls other parts of the program fill
    QTreeView* fileList() const { return fileList_; }
    QTabWidget* stepTab() const { return stepTab_; }
    QComboBox* profileList() const { return profileList_; }
    QProgressBar* statusProgress() const { return statusProgress_; }
    // The model of the file list; a model of the program's own replaces the
    // stand-in (the window does not take ownership).
    void setFileListModel(QAbstractItemModel* model);
    // The project list, the step tab and the project dialogs; the window
    // starts with stand-ins, which these replace.
    ProjectListHost& listHost() { return *listHost_; }
    StepHost& stepHost() { return *stepHost_; }
    ShellDialogs& dialogs() { return *dialogs_; }
    void setProjectListHost(std::unique_ptr<ProjectListHost> host);
    void setStepHost(std::unique_ptr<StepHost> host);
    void setDialogs(std::unique_ptr<ShellDialogs> dialogs);
    // Refreshes the list, title, transport and commands.
    void refreshAll();
    // "%s - [%s]": program title and project title.
    void updateTitle();
    // The transport controls by the current entry's state.
    void updateTransport();
    // The profile bar by mode: 1 and 3 every profile command; 2, 4 and 5
    // only saving, and only where the page keeps profiles (5: a file is
    // playing, nothing). Without a project the bar is hidden.
    void layoutProfileBar(int mode);
    // Shows or hides the file list's third column (the pause); true when
    // the list changed.
    bool appShowListColumn(bool show);
    // The status bar's progress of a MusicXML conversion (WM_MXML_PROGRESS).
    void showConversionProgress(platform::WParam code, platform::LParam value);
    // Play position display: slider, "m:ss:mmm" and "bar : beat".
    void showPlayPosition(int ms, int bar, int beat);

    // Window messages (MainWndProc); the result for sent messages.
    platform::LResult onMessage(platform::MessageId msg, platform::WParam wParam, platform::LParam lParam);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // The first size places the splitter: the file list takes a quarter.
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildActions();
    void buildMenus();
    void buildToolbars();
    void buildStatusBar();
    QWidget* buildListArea();
    QWidget* buildTransport();
    QWidget* buildProfileBar();
    QWidget* buildStepTab();
    void retranslate();
    // The list's selection makes the current entry (again after a new model).
    void connectFileList();

    AppState& app_;
    std::unique_ptr<qvp3ui::QtMessageTarget> target_;
    std::map<int, QAction*> actions_;
    std::unique_ptr<ProjectListHost> listHost_;
    std::unique_ptr<StepHost> stepHost_;
    std::unique_ptr<ShellDialogs> dialogs_;
    // The profile bar as the profile store sees it.
    std::unique_ptr<QtProfileList> profileListWindow_;
    std::unique_ptr<QtBarWindow> profileBarWindow_;
    std::unique_ptr<QtBarWindow> profileToolbarWindow_;
    QWidget* profileBar_ = nullptr;
    std::array<QMenu*, kSubmenuCount> submenus_{};
    QTreeView* fileList_ = nullptr;
    QAbstractItemModel* standInModel_ = nullptr;
    QCheckBox* addPathCheck_ = nullptr;
    QTabWidget* stepTab_ = nullptr;
    QComboBox* profileList_ = nullptr;
    QComboBox* midiOutList_ = nullptr;
    QSlider* positionSlider_ = nullptr;
    QLabel* timeDisplay_ = nullptr;
    QLabel* barDisplay_ = nullptr;
    QProgressBar* statusProgress_ = nullptr;
    QSplitter* splitter_ = nullptr;
    bool splitterPlaced_ = false;

    friend class MainCommands;
};

}  // namespace qvp3
