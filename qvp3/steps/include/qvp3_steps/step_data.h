// The data blocks of the step pages, as far as the page framework uses them:
// the worker slot of every page but CLN, the toggle lock of the pages with a
// start/stop toggle, the first values that are not zero, the header icon of
// the PRC, DYN and SHV pages, and the job records of the MDC, WVC and BRN
// pages (the pipeline's step pages). Each page adds its own fields to its
// block.
#pragma once

#include <QRect>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "qvp3_audio/media_preview.h"
#include "qvp3_audio/plugin_catalog.h"
#include "qvp3_audio/sample_player.h"
#include "qvp3_pipeline/export_step.h"
#include "qvp3_pipeline/midi_step.h"
#include "qvp3_pipeline/preview_threads.h"
#include "qvp3_pipeline/wave_step.h"
#include "qvp3_pipeline/worker_threads.h"
#include "qvp3_project/neighbours.h"

class QListWidget;
class QObject;
class QProgressBar;

namespace qvp3 {

// Every block but the job pages'.
struct StepDataBlock : StepPageData {
    // Stops and frees a notifier still running.
    ~StepDataBlock() override;

    // The completion notifier started while the page is shown.
    std::unique_ptr<WorkerThreadRec> worker;
    // Where the notifier posts its done message: the page's window.
    platform::MessageTarget* target = nullptr;
    // PRC, TMP, TPP, MET, EIN: true while the start/stop toggle may not be used.
    bool toggleDisabled = false;
    // PRC and DYN: the step icon drawn in the header for a MIDI entry
    // (an index of the step-icon images); SHV: where its icon goes.
    int headerIcon = 0;
    int iconX = 0;
    int iconY = 0;
};

// The start page's two clickable items and which one the pointer is over
// (0 none, 2 the first, 3 the second).
struct SlfData : StepDataBlock {
    QRect item1Rect;
    QRect item2Rect;
    bool disabled = false;
    int hover = 0;
};

struct SlsData : StepDataBlock {
    bool rootChecked = true;
    // True while the page itself changes the tree: its changes are no edits.
    bool filling = false;
};

// The tempo page: where its painted parts are, and which the pointer is over.
struct TmpData : StepDataBlock {
    QRect contentRect;
    QRect scaleRect;   // the scale band under the slider
    QRect itemRect;    // the clickable item that works out the playing times
    QRect statusRect;  // the warning line
    QRect markRect;    // the state icon left of the tempo display
    std::array<QRect, 5> tempoMarkRects{};  // factors 0.1, 0.5, 1, 2, 10
    bool hasEntry = false;
    int hover = 0;  // 0 none, 5 the item, 10..14 a tempo mark
};

struct TppData : StepDataBlock {
    int tipTempo = -1;
    // Set by the page's record command; cleared when a worker reports back.
    bool changed = false;
    // The status line the page repaints when the marker is cleared.
    int statusX = 0, statusY = 0, statusWidth = 0, statusHeight = 0;
    QRect contentRect;
    QRect itemRect;
    bool hasEntry = false;
    bool tipShown = false;
    int hover = 0;  // 0 none, 8 the item, 9 the tempo slider while recording
};

// The sound configuration page: what its handlers share between events.
struct PwcData : StepDataBlock {
    // The player is told to forget the instrument window before it goes.
    ~PwcData() override;
    // Set at creation and by library choices: the next display opens the
    // sample player's setup again.
    bool reopenSetup = true;
    // Set while the page shows the entry's configuration, so that the
    // notifications that showing causes change nothing.
    bool displayGuard = false;
    // The entry's instrument when the sample-player tab was last chosen.
    std::string shownSampler;
    // The tab shown (-1 before the first change), and the tab that was
    // current when a change began.
    int shownTab = -1;
    int changeFrom = -1;
    // Whether the library lists were last filled for a percussion sound
    // (-1: not filled yet).
    int libraryPercussion = -1;
    // The sounds listed in the sound tree, by key (32000 + program, 32133 + key).
    std::vector<int> soundKeys;
    // Where the tab area's painting goes, set by onSize.
    QRect iconRect;
    QRect hintRect;
    std::array<QRect, 2> noteRects{};
    QRect bannerRect;
    // The effect parameters of the entry's effect as last captured.
    EffectParams effectSnapshot;
    // The sample player's instrument window on the page, and the player it
    // was last handed to.
    std::unique_ptr<CSamplePlayerWindow> instrumentWindow;
    CSamplePlayer* windowPlayer = nullptr;
};

// MET and EIN: the preview thread beside the notifier, and what it plays on.
struct PreviewData : StepDataBlock {
    // Stops a running preview before its output closes.
    ~PreviewData() override;
    std::unique_ptr<platform::MidiOutDevice> previewOut;
    PreviewPage previewPage;
    std::unique_ptr<WorkerThreadRec> preview;
    // The play link beside the page's first group box, and its hover state
    // (0, or the page's own value while the pointer is on it).
    QRect playLink;
    int hover = 0;
    // EIN: set while the page itself selects rows of its voice list.
    bool filling = false;
    // EIN: numbers the tune-up previews, so that the end report of one that
    // was stopped by hand is not taken for the end of the next.
    int previewRun = 0;
    // EIN: the object on the page's thread that the tune-up's end is posted
    // to; shared so that the block may be freed where QObject is unknown.
    std::shared_ptr<QObject> poster;
};

// MDC and WVC: the preview of converted files, one after another.
struct ConversionPreview {
    std::unique_ptr<platform::MidiOutDevice> previewOut;
    // Declared after its output: it stops before the output closes.
    std::unique_ptr<CMediaPreview> previewGraph;
    std::int32_t* previewState = nullptr;  // the previewed entry's state; null when no preview
    int previewList = 0;                   // the list this run plays from
    int previewIndex = -1;
    int previewCount = 0;
    int previewDone = 0;
};

struct MdcData : StepPageData {
    // What the job shows on the page; before the job, whose worker calls it
    // until the job's destructor has stopped it.
    std::unique_ptr<ConversionStepView> pageView;
    MidiStepPage job;
    // 14 while the page's list has a selection, -1 otherwise.
    int previewTarget = -1;
    ConversionPreview preview;
};

struct WvcData : StepPageData {
    std::unique_ptr<ConversionStepView> pageView;  // as MdcData's
    WaveStepPage job;
    // 14: the list of converted MIDI files has a selection, 0: the list of
    // WAV files has one, -1: neither.
    int previewTarget = -1;
    ConversionPreview preview;
};

struct BrnData : StepPageData {
    // What the export job shows on the page; before the job (see MdcData).
    std::unique_ptr<ExportStepView> pageView;
    ExportStepPage job;
    // The recorder whose speed and burn-proof support were asked last (-1
    // none yet), and what it answered.
    int probedDrive = -1;
    int maxSpeed = 0;
    bool burnProofSupported = false;
    // The page's progress controls, which the disc writer's messages move;
    // made by the page, null until then.
    QProgressBar* trackBar = nullptr;
    QProgressBar* timeBar = nullptr;
    QListWidget* statusList = nullptr;
};

// The data block of a step, made for its category (an empty block for a
// category outside 0..17).
std::unique_ptr<StepPageData> stpNewDataBlock(int category);

// The block as one step's record; null when the page has another kind of block.
template <class Data>
Data* stpData(StepPage& page) {
    return dynamic_cast<Data*>(page.data.get());
}

// The worker slot of a page: the notifier's, or the job's for MDC, WVC and
// BRN; null for CLN and a page without a block.
std::unique_ptr<WorkerThreadRec>* stpWorkerSlot(StepPage& page);

}  // namespace qvp3
