// The tune-up page's controls: their ids, how they are made, placed and
// coloured, and small helpers to read and set them.
#pragma once

#include <QSignalBlocker>

#include <memory>
#include <vector>

#include "qvp3_project/neighbours.h"
#include "qvp3_ui/controls.h"

class QPalette;
class QWidget;

namespace qvp3 {
namespace ein {

// Control ids; each label's text is the language string of the same number.
enum : int {
    kOnOffBox = 15000,
    kGroupTiming = 15001,
    kDurationLabel = 15002,
    kDurationEdit = 15003,
    kDurationUnit = 15005,
    kArpeggioBox = 15006,
    kArpeggioTempoList = 15007,
    kArpeggioTempoLabel = 15008,
    kHeldBox = 15009,
    kGroupSound = 15010,
    kVolumeLabel = 15011,
    kVolumeBar = 15012,
    kVolumeNumber = 15013,
    kInstrumentLabel = 15014,
    kInstrumentList = 15015,
    kTabs = 15016,
    // The first-notes child dialog (EIN_1) and the chord child dialog (EIN_2).
    kVoiceList = 1300,
    kVoiceLabel = 1301,
    kFromTopRadio = 1302,
    kFromBottomRadio = 1303,
    kRootLabel = 1304,
    kRootList = 1305,
    kOctaveLabel = 1306,
    kOctaveList = 1307,
    kMajorRadio = 1308,
    kMinorRadio = 1309,
};
// Language strings of lists and tabs.
inline constexpr int kStrFirstArpeggioTempo = 15020;  // fast, medium, slow
inline constexpr int kStrFirstNotesTab = 15023;
inline constexpr int kStrChordTab = 15024;
inline constexpr int kStrFirstNoteName = 15030;       // C .. B, 12 strings
inline constexpr int kStrOctaveFormat = 15042;        // "%i": 1..10
inline constexpr int kStrOwnInstrument = 415;
inline constexpr int kOctaveItems = 10;
inline constexpr int kMinVolume = 10;

// Windows notification codes that the page's controls send.
inline constexpr int kClicked = 0;          // BN_CLICKED
inline constexpr int kSelChange = 1;        // CBN_SELCHANGE
inline constexpr int kThumbTrack = 5;       // TB_THUMBTRACK, SB_THUMBPOSITION for the up-down
inline constexpr int kEndTrack = 8;         // TB_ENDTRACK
inline constexpr int kItemChanged = -101;   // LVN_ITEMCHANGED
inline constexpr int kTabSelChange = -551;  // TCN_SELCHANGE

template <class Control = QWidget>
Control* control(StepPage& page, int id) {
    return page.window != nullptr ? qvp3ui::findControl<Control>(*page.window, id) : nullptr;
}

// The selected index of a drop-down list; -1 without one.
int listIndex(StepPage& page, int id);
// Ticks a check box or chooses a radio button.
void setChecked(StepPage& page, int id, bool checked);
// The up-down's position and the edit's "s,t" (seconds and tenths).
void showDuration(StepPage& page, int ms);

// While the page shows values it sets its controls without their
// notifications (the voice list's selection uses the page's fill guard).
class ControlBlocker {
public:
    explicit ControlBlocker(StepPage& page);

private:
    std::vector<std::unique_ptr<QSignalBlocker>> blockers_;
};

// Makes the controls and connects them to the page's slots.
void einBuildControls(StepPage& page, QWidget& dialog);
// onSize: places the controls below the page's header.
void einLayout(StepPage& page);
// onCtlColor.
StepPage::Result einOnCtlColor(StepPage& page, QPalette& palette, QWidget* control);

}  // namespace ein
}  // namespace qvp3
