// The step tab of the main window: one tab per step, in StepCategory order,
// each holding its step page's dialog. It makes the 18 dialogs, gives the
// pages their texts from the language module, forwards the toolbar's step
// commands to the current page, and switches pages as the main window asks.
//
// The main window reaches it through its StepHost interface; the pages reach
// the program through the step page host (qvp3_steps/step_page_host.h).
#pragma once

#include <QObject>
#include <QRect>
#include <QUrl>

#include <array>
#include <functional>
#include <memory>

#include "platform/message_target.h"
#include "qvp3_project/project.h"
#include "qvp3_shell/shell_hosts.h"
#include "qvp3_steps/step_page_host.h"

class QTabWidget;

namespace qvp3ui {
class LanguageModule;
}

namespace qvp3 {

class StepPageDialog;

class StepTab : public QObject, public StepHost {
public:
    // The tab widget keeps its tabs; createPages puts the dialogs into them.
    StepTab(QTabWidget& tabs, Project& project);
    // Stops the pages' threads and takes the dialogs from the pages.
    ~StepTab() override;

    // Makes host the program's step page host for the tab's life.
    void setPageHost(std::unique_ptr<StepPageHost> host);

    // Loads every page's title, label, header image and descriptions and
    // makes its dialog (the step tab's creation).
    void createPages(const qvp3ui::LanguageModule& language);
    // The page that messages go to: the current step's, SLF's when none is current.
    StepPage* currentPage();
    StepPageDialog* dialog(int step) const;
    QTabWidget& tabs() { return tabs_; }
    Project& project() { return project_; }
    // Rows of tabs times the height of a tab, plus 2.
    int tabItemHeight() const;
    // Hides every dialog but the current step's and shows that one (the
    // step tab's layout after a project was opened).
    void layoutPages() override;

    // WM_COMMAND on the step tab: 40073 toggles, 40077 runs the current page.
    platform::LResult onCommand(int id, int code);

    // --- StepHost
    void selectStep(int step) override;
    void forwardCommand(int id, int code) override;
    bool isToggleDisabled() override;
    bool isRunDisabled() override;
    void updateStepMenuItems(int step) override;
    void stopAllWorkers() override;
    void destroyPages() override;
    void notifyActivation(bool active) override;

    // The header's link: its rectangle (set by the header painter), whether
    // the pointer is over it, and whether a page is being opened.
    QRect linkRect;
    bool linkHover = false;
    bool linkOpening = false;
    // Opens the maker's home page (the desktop's browser unless replaced).
    std::function<void(const QUrl&)> openLink;
    // How long a second click on the link is ignored, in milliseconds.
    int linkGuardMs = 5000;
    // Refreshes the menu items of the toggle and run commands for a step.
    std::function<void(int step)> onStepMenuItems;
    // The total time the disc writer announced last (for the export page's time bar).
    int cdTotalTime = 0;

protected:
    // Focus that comes to the tab goes on to the current page.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void switchTo(int step);
    void keepBarOnCurrentStep(int index);
    // WM_SHOWWINDOW to the page of a step; the step whose page is shown is remembered.
    void showPage(int step, bool shown);

    QTabWidget& tabs_;
    Project& project_;
    std::unique_ptr<StepPageHost> pageHost_;
    std::array<StepPageDialog*, kStepCount> dialogs_{};
    bool switching_ = false;
    int shownStep_ = -1;  // the step whose page was last shown, -1 none
};

}  // namespace qvp3
