// The page design the MIDI and WAV conversion steps share: two option boxes,
// a total and a per-file bar, the list of converted files (the WAV page has a
// second one with its WAV files) and a toolbar with run and preview. The
// page only shows and chooses; the step's job does the work.
#pragma once

#include <QMetaObject>
#include <QWidget>

#include <memory>
#include <mutex>

#include "qvp3_project/neighbours.h"

namespace qvp3 {

// Posts work from a job's thread to a page's window, where it runs on the
// window's thread; work posted after the window has gone is dropped. The
// work must refer to the page record (which outlives its views), never to
// the view that posts it.
class PagePoster {
public:
    explicit PagePoster(QWidget& window) : relay_(std::make_shared<Relay>()) {
        relay_->window = &window;
        QObject::connect(&window, &QObject::destroyed, [relay = relay_] {
            std::lock_guard lock(relay->mutex);
            relay->window = nullptr;
        });
    }
    template <class F>
    void post(F f) const {
        std::lock_guard lock(relay_->mutex);
        if (relay_->window != nullptr) QMetaObject::invokeMethod(relay_->window, std::move(f), Qt::QueuedConnection);
    }

private:
    struct Relay {
        std::mutex mutex;
        QWidget* window = nullptr;
    };
    std::shared_ptr<Relay> relay_;
};

enum class ConversionPageKind { Midi, Wave };

// Control ids: the option boxes of each step, then what both pages have.
inline constexpr int kMdcOverwriteBox = 16000;
inline constexpr int kMdcConvertAllBox = 16001;
inline constexpr int kWvcOverwriteBox = 18000;
inline constexpr int kWvcConvertAllBox = 18001;
inline constexpr int kConvFileBar = 16002;
inline constexpr int kConvTotalBar = 16003;
inline constexpr int kConvFileList = 16004;
inline constexpr int kConvWaveList = 16005;  // WVC: the converted WAV files
inline constexpr int kPageToolbar = 9013;

// The selection of a page list moved (the code of the notification).
inline constexpr int kListItemChanged = -101;
// What the preview acts on: the list of converted MIDI files, or WVC's WAV list.
inline constexpr int kPreviewMidiList = 14;
inline constexpr int kPreviewWaveList = 0;

// Language strings of the pages.
inline constexpr int kStrOverwriteBox = 41;
inline constexpr int kStrConvertAllBox = 42;
inline constexpr int kStrMidiListColumn = 43;
inline constexpr int kStrMdcPreviewButton = 45;
inline constexpr int kStrWvcPreviewButton = 290;
inline constexpr int kStrWaveListColumn = 288;
inline constexpr int kStrMdcNotConverted = 52;
inline constexpr int kStrWvcNotConverted = 289;
inline constexpr int kStrEarlierStepChanged = 55;
inline constexpr int kStrConvertedPlayFailed = 300;
inline constexpr int kStrPreviewStop = 53;
inline constexpr int kStrStepBusy = 60233;

// Fills the slots both pages share; the kind picks what differs.
void stpFillConversionSlots(StepPage& page, ConversionPageKind kind);

// What the refresh decides for the page's controls, worked out from the
// project alone (the caller applies it).
struct ConversionPageLook {
    bool convertAllChecked = false;
    bool convertAllEnabled = false;
    bool overwriteChecked = false;
    bool overwriteEnabled = false;
    bool barsEnabled = false;
    bool runEnabled = false;
    bool listEnabled = true;
    bool previewEnabled = false;
    bool hasEntry = false;  // without a current entry the bars, run, list and preview stay as they are
};

// items: the selected items that count for the page (the main list's on
// MDC, the page's own list on WVC). May force the project's ConvertAll on.
// previewPlaying: a file of the page's preview plays.
ConversionPageLook stpConversionLook(Project& project, ConversionPageKind kind, int items, bool previewPlaying = false);

// Shows the project's state on the page (on show, on a change of the current
// entry and when the job ends). True on MDC without a current entry.
bool stpRefreshConversionPage(StepPage& page);

}  // namespace qvp3
