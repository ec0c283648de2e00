// The tune-up page: whether a tune-up sounds before the piece, as the first
// notes of chosen voices or as a chord, how long, broken up or not, with
// which instrument and how loud; its toggle plays the tune-up as a preview.
// The values are the current entry's tune-up record, edited in place.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTabWidget>

#include "page_ein_controls.h"
#include "page_preview_link.h"
#include "qvp3_pipeline/preview_threads.h"
#include "qvp3_steps/page_events.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_steps/page_slots.h"
#include "qvp3_steps/page_workers.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

namespace {

using namespace ein;

constexpr int kHoverEin = 7;
constexpr int kKindOff = 0;
constexpr int kKindFirstNotes = 1;
constexpr int kKindChord = 2;
constexpr int kStrFirstNotesMissing = 416;
constexpr auto kEinStep = static_cast<std::size_t>(kStepEin);

int voicesChosen(const ProjectEntry& entry) { return static_cast<int>(entry.tuneUp.voices.size()); }

bool previewRuns(StepPage& page) {
    const auto* data = stpData<PreviewData>(page);
    return data != nullptr && data->preview != nullptr;
}

bool entryPlays() {
    StepPageHost* host = stpPageHost();
    return host != nullptr && prjFindBusyEntry(host->project()) != -1;
}

// stpEinEnableCommon: the controls that depend on the tune-up being on.
void enableCommon(StepPage& page, const ProjectEntry* entry, bool on) {
    const scorecore::CEinstimmung* t = entry != nullptr ? &entry->tuneUp : nullptr;
    const bool broken = t != nullptr && t->Zerlegt != 0;
    const bool arpeggioPossible =
        t != nullptr && ((t->Type == kKindFirstNotes && voicesChosen(*entry) > 1) || t->Type == kKindChord);
    stpEnableIds(page, {kGroupTiming, kGroupSound}, on);
    stpEnableIds(page, {kArpeggioBox}, on && arpeggioPossible);
    stpEnableIds(page, {kDurationLabel, kDurationEdit, kEinDurationUpDown, kDurationUnit}, on && !broken);
    stpEnableIds(page, {kArpeggioTempoList, kArpeggioTempoLabel, kHeldBox}, on && broken);
    stpEnableIds(page, {kVolumeLabel, kVolumeBar, kVolumeNumber, kInstrumentLabel, kInstrumentList}, on);
    // stpEinEnableArpeggioDirection, then the two child dialogs' other controls.
    stpEnableIds(page, {kFromTopRadio, kFromBottomRadio}, on && broken);
    stpEnableIds(page, {kVoiceList, kVoiceLabel}, on);
    stpEnableIds(page, {kRootLabel, kRootList, kOctaveLabel, kOctaveList, kMajorRadio, kMinorRadio}, on);
}

// stpEinRedraw: the play link is usable only with the page on and no entry playing.
void redraw(StepPage& page, bool on) {
    auto* data = stpData<PreviewData>(page);
    if (data == nullptr) return;
    const bool disabled = !on || entryPlays();
    if (disabled != data->toggleDisabled && page.window != nullptr) page.window->update(data->playLink);
    data->toggleDisabled = disabled;
}

void einEnableControls(StepPage& page, bool on) {
    const ProjectEntry* entry = stpCurrentEntry();
    const bool kind = entry != nullptr && entry->tuneUp.Type != kKindOff;
    stpEnableIds(page, {kOnOffBox}, on && entry != nullptr && !previewRuns(page));
    stpEnableIds(page, {kTabs}, on && kind && !previewRuns(page));
    enableCommon(page, entry, on && kind && !previewRuns(page));
    redraw(page, on && kind);
}

void showInstruments(StepPage& page, ProjectEntry& entry) {
    auto* list = control<QComboBox>(page, kInstrumentList);
    if (list == nullptr) return;
    const QSignalBlocker block(list);
    list->clear();
    scorecore::CEinstimmung& t = entry.tuneUp;
    if (t.Type == kKindFirstNotes) {
        list->addItem(stpText(kStrOwnInstrument));
        stpFillInstrumentCombo(*list, std::clamp(t.Instrument, -1, 127) + 1);
        return;
    }
    if (t.Instrument < 0) t.Instrument = 0;  // a chord has no voice to take its sound from
    stpFillInstrumentCombo(*list, std::min(t.Instrument, 127));
}

void showVoices(StepPage& page, ProjectEntry& entry) {
    auto* view = control<QListView>(page, kVoiceList);
    auto* model = view != nullptr ? qobject_cast<QStandardItemModel*>(view->model()) : nullptr;
    auto* data = stpData<PreviewData>(page);
    if (model == nullptr || data == nullptr) return;
    data->filling = true;
    model->removeRows(0, model->rowCount());
    for (int stave = 0; stave < static_cast<int>(entry.voiceCounts.size()); ++stave) {
        for (int voice = 0; voice < entry.voiceCounts[static_cast<std::size_t>(stave)]; ++voice) {
            cnvFillVoiceList(entry, stave, voice, *model, model->rowCount());
        }
    }
    QItemSelection chosen;
    for (int row = 0; row < model->rowCount(); ++row) {
        const int key = model->item(row)->data(kVoiceRowDataRole).toInt();
        if (std::find(entry.tuneUp.voices.begin(), entry.tuneUp.voices.end(), key) != entry.tuneUp.voices.end()) {
            chosen.select(model->index(row, 0), model->index(row, 0));
        }
    }
    view->selectionModel()->select(chosen, QItemSelectionModel::ClearAndSelect);
    data->filling = false;
}

// stpEinShowValues; false without a current entry.
bool einShowValues(StepPage& page) {
    ProjectEntry* entry = stpCurrentEntry();
    if (entry == nullptr || page.window == nullptr) return false;
    scorecore::CEinstimmung& t = entry->tuneUp;
    if (t.Type == kKindFirstNotes && voicesChosen(*entry) < 2) t.Zerlegt = 0;
    ControlBlocker blocker(page);
    setChecked(page, kOnOffBox, t.Type != kKindOff);
    if (auto* tabs = control<QTabWidget>(page, kTabs)) tabs->setCurrentIndex(t.Type == kKindFirstNotes ? 0 : 1);
    showDuration(page, t.Duration);
    setChecked(page, kArpeggioBox, t.Zerlegt != 0 && (voicesChosen(*entry) > 1 || t.Type != kKindFirstNotes));
    if (auto* list = control<QComboBox>(page, kArpeggioTempoList)) {
        list->setCurrentIndex(t.Tempo >= 1 && t.Tempo <= 3 ? t.Tempo - 1 : -1);
    }
    setChecked(page, kHeldBox, t.Sounding != 0);
    if (auto* bar = control<QSlider>(page, kVolumeBar)) bar->setValue(t.Volume);
    if (auto* number = control<QLabel>(page, kVolumeNumber)) number->setText(QString::number(t.Volume));
    showInstruments(page, *entry);
    if (auto* root = control<QComboBox>(page, kRootList)) root->setCurrentIndex(std::clamp(t.ChordGrundton, 0, 11));
    setChecked(page, t.ChordDurMoll != 0 ? kMajorRadio : kMinorRadio, true);
    if (auto* octave = control<QComboBox>(page, kOctaveList)) {
        octave->setCurrentIndex(t.ChordOctave >= 0 && t.ChordOctave < kOctaveItems ? t.ChordOctave : -1);
    }
    showVoices(page, *entry);
    setChecked(page, t.FirstNotesFromTop != 0 ? kFromTopRadio : kFromBottomRadio, true);
    einEnableControls(page, true);
    page.window->update();
    return true;
}

void setKind(StepPage& page, ProjectEntry& entry, int kind) {
    scorecore::CEinstimmung& t = entry.tuneUp;
    // A chord has no voice whose instrument it could take.
    if (kind == kKindChord && t.Type != kKindChord && t.Instrument == -1) t.Instrument = 0;
    t.Type = kind;
    einShowValues(page);
    stpPageEdited();
}

int chordTabShown(StepPage& page) {
    const auto* tabs = control<QTabWidget>(page, kTabs);
    return tabs != nullptr && tabs->currentIndex() == 1;
}

// The commands of the page's own controls; false for another control.
bool tuneUpCommand(StepPage& page, ProjectEntry& entry, int id, int code) {
    scorecore::CEinstimmung& t = entry.tuneUp;
    switch (id) {
    case kArpeggioBox:
        t.Zerlegt = stpPageBoxChecked(page, kArpeggioBox) ? 1 : 0;
        enableCommon(page, &entry, !previewRuns(page));
        return true;
    case kHeldBox: t.Sounding = stpPageBoxChecked(page, kHeldBox) ? 1 : 0; return true;
    case kArpeggioTempoList: {
        if (code != kSelChange) return false;
        const int index = listIndex(page, kArpeggioTempoList);
        t.Tempo = index >= 0 && index <= 2 ? index + 1 : 0;
        return true;
    }
    case kInstrumentList: {
        const int index = listIndex(page, kInstrumentList);
        if (code != kSelChange || index < 0) return false;
        t.Instrument = t.Type == kKindFirstNotes ? index - 1 : index;
        return true;
    }
    case kFromTopRadio: t.FirstNotesFromTop = 1; return true;
    case kFromBottomRadio: t.FirstNotesFromTop = 0; return true;
    case kRootList:
    case kOctaveList: {
        const int index = listIndex(page, id);
        if (code != kSelChange || index < 0) return false;
        (id == kRootList ? t.ChordGrundton : t.ChordOctave) = index;
        return true;
    }
    case kMajorRadio: t.ChordDurMoll = 1; return true;
    case kMinorRadio: t.ChordDurMoll = 0; return true;
    default: return false;
    }
}

void einOnToggle(StepPage& page);

StepPage::Result einOnCommand(StepPage& page, int id, QWidget*, int code) {
    if (id == kCmdToggle) {
        if (page.onToggle) page.onToggle(page);
        return 0;
    }
    ProjectEntry* entry = stpCurrentEntry();
    if (entry == nullptr) return 0;
    if (id == kOnOffBox) {
        const bool on = stpPageBoxChecked(page, kOnOffBox);
        setKind(page, *entry, on ? (chordTabShown(page) ? kKindChord : kKindFirstNotes) : kKindOff);
        return 0;
    }
    if (tuneUpCommand(page, *entry, id, code)) stpPageEdited();
    return 0;
}

// The voices chosen in the list become the record's, in list order.
void voicesChanged(StepPage& page, ProjectEntry& entry) {
    auto* view = control<QListView>(page, kVoiceList);
    auto* model = view != nullptr ? qobject_cast<QStandardItemModel*>(view->model()) : nullptr;
    if (model == nullptr) return;
    scorecore::einClearVoices(entry.tuneUp);
    for (int row = 0; row < model->rowCount(); ++row) {
        if (view->selectionModel()->isRowSelected(row, QModelIndex())) {
            scorecore::einAddVoice(entry.tuneUp, model->item(row)->data(kVoiceRowDataRole).toInt());
        }
    }
    const bool several = voicesChosen(entry) > 1;
    if (!several) {
        entry.tuneUp.Zerlegt = 0;
        setChecked(page, kArpeggioBox, false);
    }
    enableCommon(page, &entry, !previewRuns(page));
    stpPageEdited();
}

StepPage::Result einOnNotify(StepPage& page, PageNotify& notify) {
    ProjectEntry* entry = stpCurrentEntry();
    const auto* data = stpData<PreviewData>(page);
    if (entry == nullptr || data == nullptr) return 0;
    if (notify.controlId == kTabs && notify.code == kTabSelChange) {
        setKind(page, *entry, notify.value == 1 ? kKindChord : kKindFirstNotes);
    } else if (notify.controlId == kVoiceList && notify.code == kItemChanged && !data->filling) {
        voicesChanged(page, *entry);
    }
    return 0;
}

StepPage::Result einOnHScroll(StepPage& page, QWidget* bar, int code, int position) {
    ProjectEntry* entry = stpCurrentEntry();
    if (entry == nullptr || bar == nullptr || qvp3ui::controlId(*bar) != kVolumeBar) return 0;
    if (code != kEndTrack) {
        entry->tuneUp.Volume = static_cast<std::uint8_t>(std::clamp(position, kMinVolume, 127));
        if (auto* number = control<QLabel>(page, kVolumeNumber)) number->setText(QString::number(entry->tuneUp.Volume));
    }
    stpPageEdited();
    return 0;
}

void einGetStatus(StepPage& page, Project& project, StepStatus& status) {
    for (ProjectEntry& entry : project.entries) {
        if (entry.tuneUp.firstNotesVoicesSelected()) {
            entry.pending[kEinStep] = 0;
            continue;
        }
        entry.pending[kEinStep] = 1;
        status.state = -1;
        status.stringId = kStrFirstNotesMissing;
        status.show = 1;
        return;
    }
    page.pending = false;
    status.state = 0;
    status.show = 0;
}

// After the preview started or stopped: the page's controls, the play link,
// the main window's lists and commands and the profile bar follow it.
void afterPreviewChange(StepPage& page) {
    StepPageHost* host = stpPageHost();
    if (host == nullptr) return;
    host->flipToggleMenuCheck();
    einEnableControls(page, true);
    const bool free = !previewRuns(page);
    host->enableFileLists(free);
    host->enableEntryCommands(free);
    host->enableProjectCommands(free);
    stpLayoutProfileBarAfterShow(page, free);
    if (page.window != nullptr) page.window->update();
}

void stopPreview(StepPage& page) {
    auto* data = stpData<PreviewData>(page);
    if (data == nullptr || !data->preview) return;
    data->preview->event.set();
    stpFreeWorker(data->preview);
    data->previewOut.reset();
}

// Called on the preview's thread when the tune-up has played: the page
// frees the preview on its own thread, unless that run was stopped already.
void postTuneUpEnd(StepPage& page, PreviewData& data, int run) {
    if (!data.poster) return;
    QMetaObject::invokeMethod(
        data.poster.get(),
        [&page, run] {
            auto* block = stpData<PreviewData>(page);
            if (block == nullptr || !block->preview || block->previewRun != run) return;
            stopPreview(page);
            afterPreviewChange(page);
        },
        Qt::QueuedConnection);
}

// Starts or stops the tune-up preview; false when the output cannot be opened.
bool startStopPreview(StepPage& page) {
    StepPageHost* host = stpPageHost();
    auto* data = stpData<PreviewData>(page);
    ProjectEntry* entry = stpCurrentEntry();
    if (host == nullptr || data == nullptr || entry == nullptr || entryPlays()) return false;
    if (data->preview) {
        stopPreview(page);
        afterPreviewChange(page);
        return true;
    }
    data->previewOut = host->openPreviewOutput();
    if (!data->previewOut) return false;
    if (!data->poster) data->poster = std::make_shared<QObject>();
    const int run = ++data->previewRun;
    data->previewPage.project = &host->project();
    data->previewPage.midiOut = data->previewOut.get();
    data->previewPage.onTuneUpEnd = [&page, data, run] { postTuneUpEnd(page, *data, run); };
    auto record = std::make_unique<WorkerThreadRec>();
    if (stpStartWorker(record.get(), plyTuneUpPlayThreadProc, false, platform::ThreadPriority::AboveNormal, 0,
                       &data->previewPage) == nullptr) {
        data->previewOut.reset();
        return false;
    }
    data->preview = std::move(record);
    stpResumeWorker(*data->preview);
    afterPreviewChange(page);
    return true;
}

void einOnToggle(StepPage& page) {
    // Without an entry, or while one plays, there is nothing to preview and
    // nothing to warn about.
    if (stpCurrentEntry() == nullptr || entryPlays()) return;
    if (!startStopPreview(page)) qvp3ui::appWarningBox(kStrPreviewFailed);
}

StepPage::Result einOnShow(StepPage& page, bool shown) {
    if (!shown) {
        if (previewRuns(page)) {
            stopPreview(page);
            afterPreviewChange(page);
        }
        return stpFrameworkOnShow(page, false);
    }
    const bool values = einShowValues(page);
    const StepPage::Result result = stpFrameworkOnShow(page, true);
    if (!values) stpLayoutProfileBarAfterShow(page, false);
    return result;
}

StepPage::Result einOnPartChanged(StepPage& page, std::intptr_t) {
    stpLayoutProfileBarAfterShow(page, einShowValues(page));
    return 0;
}

StepPage::Result einOnInitDialog(StepPage& page, QWidget* dialog, StepPage*) {
    if (dialog == nullptr) return 0;
    einBuildControls(page, *dialog);
    einLayout(page);
    einShowValues(page);
    return 1;
}

}  // namespace

void stpFillEinSlots(StepPage& page) {
    page.getStatus = einGetStatus;
    page.onCommand = einOnCommand;
    page.onCtlColor = einOnCtlColor;
    page.enableControls = einEnableControls;
    page.onPartChanged = einOnPartChanged;
    page.onToggle = einOnToggle;
    page.onHScroll = einOnHScroll;
    page.onInitDialog = einOnInitDialog;
    page.onNotify = einOnNotify;
    page.onPaint = [](StepPage& p, QPainter& painter, const QRect&) {
        stpPaintPlayLink(p, painter, kGroupTiming, previewRuns(p));
    };
    page.onSetCursor = [](StepPage& p, int message) {
        return stpPlayLinkSetCursor(p, message, kHoverEin, [&p] { einOnToggle(p); });
    };
    page.onShow = einOnShow;
    page.onSize = einLayout;
    stpInstallProfileSlots(page);
}

}  // namespace qvp3
