// The sound configuration page's controls: their ids, the method tab bar
// (drawn by the page's onDrawItem) over the tab area that holds every other
// control and paints the page's banner, the groups that the tabs show, and
// where onSize puts them.
#pragma once

#include <QIcon>
#include <QTabBar>
#include <QWidget>

#include <functional>

#include "qvp3_project/neighbours.h"

class QComboBox;
class QPainter;
class QTreeWidget;

namespace qvp3::pwc {

// Control ids; a label's text is the language string named beside it.
enum : int {
    kTabs = 17000,
    kInstrumentBox = 17006,
    kInstrumentLabel = 17007,  // string 77
    kOutputBox = 17008,
    kOutputLabel = 17009,  // string 78
    kSoundTree = 17012,
    kValue = 17013,
    kValueLabel = 17014,  // string 99
    kLibInstrumentBox = 17015,
    kLibInstrumentLabel = 17016,  // string 106
    kLibProgramBox = 17017,
    kLibProgramLabel = 17018,  // string 107
    kPlayToolbar = 17019,
    kEffectLabel = 17020,  // string 306
    kEffectBox = 17021,
    kEffectPrograms = 17022,
    kEffectToolbar = 17023,
    kEffectPanel = 17024,
};
// The tab area's object name (the tab control's display area).
inline constexpr const char* kTabAreaName = "pwcTabArea";
// The credits of the software synthesizer, shown on its tab.
inline constexpr const char* kCreditsName = "TIMIDITY";

// The effect toolbar's commands: add an effect plug-in, remove the chosen one.
inline constexpr int kCmdAddEffect = 40078;
inline constexpr int kCmdRemoveEffect = 40079;

// The tabs.
inline constexpr int kTabSynth = 0;
inline constexpr int kTabSampler = 1;
inline constexpr int kTabEffect = 2;

// Notification codes of the page's controls.
inline constexpr int kSelChange = 1;            // CBN_SELCHANGE
inline constexpr int kTabSelChange = -551;      // TCN_SELCHANGE
inline constexpr int kTreeSelChanged = -402;    // TVN_SELCHANGED
inline constexpr int kListItemChanged = -101;   // LVN_ITEMCHANGED

// Language strings.
inline constexpr int kStrTabSynth = 67;
inline constexpr int kStrTabEffect = 68;
inline constexpr int kStrTabSampler = 69;
inline constexpr int kStrCredits = 70;
inline constexpr int kStrHint = 98;
inline constexpr int kStrLibraryNote = 108;
inline constexpr int kStrTreeRoot = 109;
inline constexpr int kStrUnknownInstrument = 110;
inline constexpr int kStrLoadButton = 114;
inline constexpr int kStrPlayButton = 115;
inline constexpr int kStrStopButton = 121;
inline constexpr int kStrLibraryNote2 = 200;
inline constexpr int kStrEffectColumn = 307;
inline constexpr int kStrAddEffect = 308;
inline constexpr int kStrRemoveEffect = 309;
inline constexpr int kStrAddEffectTitle = 311;
inline constexpr int kStrEffectNotChained = 312;
inline constexpr int kStrNoEffectChosen = 313;
inline constexpr int kStrNone = 358;
inline constexpr int kStrEffectFilter = 60239;
inline constexpr int kStrEffectNotLoaded = 60240;
inline constexpr int kStrRemoveEffectQuestion = 60241;

// Item data of the sound tree: the sound number (below 128 a program,
// from kQvoPercussionBase on a percussion sound) and whether it is percussion.
inline constexpr int kSoundRole = 0x0100;       // Qt::UserRole
inline constexpr int kPercussionRole = 0x0101;

// The page's small images, by their index in its image list; the toolbars'
// images by theirs; the instrument's icon beside its box.
QIcon pwcImage(int image);
QIcon pwcToolbarImage(int image);
QIcon pwcInstrumentIcon();

// The method tabs: drawn by the page's onDrawItem, their changes reported to
// its onNotify with the tab before the change kept for it.
class PwcTabBar : public QTabBar {
public:
    PwcTabBar(StepPage& page, QWidget* parent);
    // The tab that was current before the last change.
    int previous() const { return previous_; }
    // Selects a tab without telling the page.
    void selectQuietly(int tab);

protected:
    void paintEvent(QPaintEvent* event) override;
    QSize tabSizeHint(int index) const override;

private:
    StepPage& page_;
    int previous_ = -1;
    int current_ = -1;
};

// The display area under the tabs: every other control lies on it, and it
// paints what the page draws behind them.
class PwcTabArea : public QWidget {
public:
    PwcTabArea(std::function<void(QPainter&)> paint, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::function<void(QPainter&)> paint_;
};

// Builds every control of the page in the dialog, connected to its slots.
void pwcBuildControls(StepPage& page, QWidget& dialog);
// Lays the tab bar and area into the page's content rectangle and places
// each group in the area (labels above their boxes); keeps the rectangles
// the banner is painted in.
void pwcLayout(StepPage& page);

// Groups of controls: the sampler's boxes, the play toolbar (by its own
// flag) and the sample player's window area (by its own flag); the sound
// tree with the library boxes; the effect boxes and panel.
void stpPwcShowSamplerGroup(StepPage& page, bool show, bool toolbarShow, bool windowShow);
void stpPwcShowSampleLibGroup(StepPage& page, bool show);
void stpPwcShowEffectGroup(StepPage& page, bool show);
void pwcShowCredits(StepPage& page, bool show);
void pwcShowPlayToolbar(StepPage& page, bool show);
// The area the sample player's window takes in the tab area.
QWidget* pwcPlayerWindowArea(StepPage& page);

// What the tab area shows behind its controls (the page's own painting).
void stpPaintSampleLibBanner(StepPage& page, QPainter& painter);

// Sets a toolbar button's text (a language string) and image.
void appSetToolbarButtonText(StepPage& page, int textId, int command, int image);

}  // namespace qvp3::pwc
