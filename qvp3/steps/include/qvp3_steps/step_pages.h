// The step-page framework: the page records of a project built from the step
// table (data block, profile use, the framework's and the shared handlers in
// their slots), showing, enabling and refreshing a page, the profile list of
// a page, and the status checks of the first steps.
//
// Handlers take the page first, as every slot does; what else they need they
// reach through the program's step host (stpHost), which the shell sets once.
#pragma once

#include <cstdint>

#include "platform/message_target.h"
#include "qvp3_project/neighbours.h"
#include "qvp3_steps/step_page_host.h"

namespace qvp3 {

// The program's step host; null until the shell (or a test) sets it.
void stpSetPageHost(StepPageHost* host);
StepPageHost* stpPageHost();

// The step pages as the project store sees them: it builds and releases the
// 18 records through this when a project is made and released.
class StepPages : public StepPageServices {
public:
    void stpInitPage(StepPage& page, StepCategory category) override;
    void stpFreePage(StepPage& page) override;
    bool stpTempoCurveSetSpeed(TempoCurve& curve, int speed) override;
    bool stpTempoCurveCopyPoints(TempoCurve& curve, int target, int source, bool clear) override;
    void stpTppUseRecordedTempos(StepPage& page, bool force) override;
    void stpRefreshSlfPage() override;
    void stpEmptyFileList(StepPage& page) override;
    void stpRefreshAfterProfile(StepPage& page, ProjectEntry* entry) override;
};

// Fills a fresh record for a category (an unknown category gets no data
// block and empty slots).
void stpInitPage(StepPage& page, int category);
// Stops the page's threads, frees its texts and its data block.
void stpFreePage(StepPage& page);

// WM_SHOWWINDOW: on show the page is enabled unless an entry plays; then
// onShow. Its result, 0 without one.
StepPage::Result stpShowPage(StepPage& page, bool shown);
// File lists, entry and project commands, profile bar and the page's controls.
void stpEnablePage(StepPage& page, bool enable);
// The current entry changed: the position display is reset, then onPartChanged.
StepPage::Result stpNotifyPartChanged(StepPage& page, std::intptr_t value);
// fillProfileList; false without one.
bool stpPageFillProfileList(StepPage& page);

// Shared handlers of the slot table.
StepPage::Result stpReturnZero(StepPage& page);
void stpPaintNothing(StepPage& page, QPainter& painter, const QRect& body);
// Focus to the page's first control that takes the tab key.
void stpFocusFirstControl(StepPage& page);
// The profile list with the profiles of the page's step; true when it holds any.
bool stpFillProfileList(StepPage& page);
// An empty profile list with an empty edit field; false.
bool stpNoProfileList(StepPage& page);
// Whether the page toolbar's start/stop (40073) or run (40077) button is
// disabled; false when the page has no such button.
bool stpToggleButtonDisabled(StepPage& page);
bool stpRunButtonDisabled(StepPage& page);
// Enables a button of the page's toolbar (by its command id).
void stpEnableToolbarButton(StepPage& page, int command, bool enable);
// Whether the page's check box of that id is ticked (false without one).
bool stpPageBoxChecked(StepPage& page, int controlId);
// Repaints the tempo-curve page's status line.
void stpRepaintTppStatus(StepPage& page);

// Gives the page its window, and the target its threads post to (the
// notifier's, and the job's for MDC, WVC and BRN).
void stpAttachWindow(StepPage& page, QWidget* window, platform::MessageTarget* target);

// The sample player stopped (WM_PLAYBACK_ENDED): on the sound configuration
// page the entry is idle again, the play button back and the page usable.
void stpPwcPlaybackEnded(StepPage& page);

// Status checks of the start page, the staves page, the volume and panorama
// pages and the tempo page.
void stpSlfGetStatus(StepPage& page, Project& project, StepStatus& status);
void stpSlsGetStatus(StepPage& page, Project& project, StepStatus& status);
void stpVolGetStatus(StepPage& page, Project& project, StepStatus& status);
void stpTmpGetStatus(StepPage& page, Project& project, StepStatus& status);

// Language strings of the status checks.
inline constexpr int kStrNoFiles = 325;
inline constexpr int kStrNoStaveOn = 328;      // "%s": the file name
inline constexpr int kStrAllVoicesSilent = 344; // "%s": the file name
inline constexpr int kStrSomeVoicesSilent = 345; // "%i": the number of files
inline constexpr int kStrPlayTimesFailed = 15;

// Toolbar commands of the pages and the main window.
inline constexpr int kCmdToggle = 40073;
inline constexpr int kCmdRun = 40077;
inline constexpr int kCmdCloseFiles = 40026;

}  // namespace qvp3
