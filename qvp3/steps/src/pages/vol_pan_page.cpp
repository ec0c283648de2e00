// The handlers of the volume and panorama pages.
#include <QFrame>
#include <QGuiApplication>
#include <QSlider>
#include <QTableView>

#include "qvp3_pipeline/playback.h"
#include "qvp3_project/profile_contents.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_steps/page_workers.h"
#include "qvp3_steps/step_page_host.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/message_box.h"
#include "vol_profile_slots.h"
#include "page_chp.h"
#include "vol_pan_grid.h"
#include "page_preview_link.h"

namespace qvp3 {

namespace {

constexpr int kValueColumnWidth = 40;

bool isPan(const StepPage& page) { return static_cast<int>(page.category) == kStepPan; }
int listId(const StepPage& page) { return isPan(page) ? kPanList : kVolList; }

QTableView* voiceList(StepPage& page) {
    return page.window != nullptr ? qvp3ui::findControl<QTableView>(*page.window, listId(page)) : nullptr;
}

// The entry the page shows: the current one, when the project has files.
ProjectEntry* shownEntry() {
    StepPageHost* host = stpPageHost();
    if (host == nullptr || host->project().fileNum() == 0) return nullptr;
    return prjGetEntry(host->project(), -1);
}

QTableView* makeVoiceList(StepPage& page, QWidget* dialog) {
    auto* list = new QTableView(dialog);
    qvp3ui::setControlId(*list, listId(page));
    if (isPan(page)) list->setHorizontalHeader(new PanHeader(list));
    auto* model = new VolPanModel(isPan(page), list);
    model->setValueTitle(QString::fromStdString(qvp3ui::uiString(isPan(page) ? kStrPanoramaColumn : kStrVolumeColumn)));
    list->setModel(model);
    StepPage* target = &page;
    list->setItemDelegateForColumn(VolPanModel::kSliderColumn,
                                   new VolPanSliderDelegate(
                                       [target](QSlider* slider, int code, int position) {
                                           if (target->onHScroll) target->onHScroll(*target, slider, code, position);
                                       },
                                       list));
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setShowGrid(false);
    list->setSortingEnabled(false);
    list->setFrameShape(QFrame::NoFrame);
    list->setWordWrap(false);
    list->verticalHeader()->hide();
    list->horizontalHeader()->setSectionsClickable(false);
    list->horizontalHeader()->setHighlightSections(false);
    list->setFont(stpDescriptionFont());
    list->verticalHeader()->setDefaultSectionSize(QFontMetrics(list->font()).height() + 10);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return list;
}

StepPage::Result onInitDialog(StepPage& page, QWidget* dialog, StepPage*) {
    if (dialog == nullptr) return 0;
    page.window = page.window != nullptr ? page.window : dialog;
    auto* frame = new QFrame(dialog);
    qvp3ui::setControlId(*frame, kVolFrame);
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
    auto* list = makeVoiceList(page, frame);
    list->setParent(frame);
    return 1;
}

void onSize(StepPage& page) {
    QTableView* list = voiceList(page);
    if (list == nullptr) return;
    auto* frame = qobject_cast<QFrame*>(list->parentWidget());
    QRect content;
    stpLayoutDescription(page, &content, nullptr);
    const QRect client = page.window->rect();
    frame->setGeometry(QRect(QPoint(content.left(), content.top() + 20),
                             QPoint(client.right() - 10, client.bottom() - 10)));
    list->setGeometry(2, 2, frame->width() - 4, frame->height() - 4);
    // Name and value take the left half, the sliders the rest.
    // The value column is never narrower than its title.
    const int half = (frame->width() - 4) / 2;
    const QString title = list->model()->headerData(VolPanModel::kValueColumn, Qt::Horizontal).toString();
    const int valueWidth = std::max(kValueColumnWidth, list->horizontalHeader()->fontMetrics().horizontalAdvance(title) + 12);
    list->setColumnWidth(VolPanModel::kNameColumn, std::max(half - valueWidth, 20));
    list->setColumnWidth(VolPanModel::kValueColumn, valueWidth);
    list->horizontalHeader()->setStretchLastSection(true);
}

// The rows that a move of the slider of row changes.
std::vector<int> affectedRows(QTableView& list, int row) {
    std::vector<int> rows;
    const int count = list.model()->rowCount();
    if (stpShiftHeld()) {
        for (int r = 0; r < count; ++r) rows.push_back(r);
        return rows;
    }
    for (const QModelIndex& index : list.selectionModel()->selectedRows()) rows.push_back(index.row());
    if (std::find(rows.begin(), rows.end(), row) == rows.end()) rows.push_back(row);
    return rows;
}

bool handledScrollCode(int code) { return (code >= 0 && code <= 3) || code == 5 || code == 8; }

// While the entry plays the new value is heard at once: a MIDI entry's voice
// gets its controller on the voice's channel, a score's voice its setting in
// the engine.
void hearAtOnce(ProjectEntry& entry, const VolPanModel& model, int row) {
    if (!entry.isBusy()) return;
    const int stave = model.stave(row);
    const int voice = model.voice(row);
    const VoicePlayRecord* record = entry.voiceRecord(stave, voice);
    if (record == nullptr) return;
    const int stored = static_cast<std::uint8_t>(model.panorama() ? record->panorama : record->volume);
    if (entry.kind == EntryKind::Midi) {
        const int channel = stpChpVoiceChannel(entry, stave, voice);
        if (channel >= 0) stpSendToPlayingEntry(entry, 0xB0 | channel, model.panorama() ? 10 : 7, stored);
        return;
    }
    StepPageHost* host = stpPageHost();
    PlaybackControl* playback = host != nullptr ? host->playback() : nullptr;
    if (playback == nullptr) return;
    if (model.panorama()) {
        playback->plySetEngineVoicePan(entry, stave, voice, stored);
    } else {
        playback->plySetEngineVoiceVolume(entry, stave, voice, stored);
    }
}

StepPage::Result onHScroll(StepPage& page, QWidget* bar, int code, int) {
    auto* slider = qobject_cast<QSlider*>(bar);
    QTableView* list = voiceList(page);
    if (slider == nullptr || list == nullptr || !handledScrollCode(code)) return 0;
    auto* model = static_cast<VolPanModel*>(list->model());
    const int row = slider->property("LFNummer").toInt();
    if (model->entry() == nullptr || row < 0 || row >= model->rowCount()) return 0;
    const int position = slider->value();
    for (int r : affectedRows(*list, row)) {
        if (model->setValue(r, position)) hearAtOnce(*model->entry(), *model, r);
        if (r == row) continue;
        if (auto* other = qobject_cast<QSlider*>(list->indexWidget(model->index(r, VolPanModel::kSliderColumn)))) {
            const QSignalBlocker quiet(other);
            other->setValue(position);
        }
    }
    if (StepPageHost* host = stpPageHost()) {
        prjMarkStepDirty(host->project());
        host->refreshCommands();
    }
    return 0;
}

StepPage::Result onCtlColor(StepPage& page, QPalette& palette, QWidget* control) {
    QTableView* list = voiceList(page);
    if (list == nullptr || qobject_cast<QSlider*>(control) == nullptr || !list->isAncestorOf(control)) return 0;
    palette.setColor(QPalette::Window, kPageBackground);
    return 1;
}

StepPage::Result onShow(StepPage& page, bool shown) {
    if (shown) {
        stpVolPanFillList(page);
        stpVolPanBuildSliders(page);
    }
    return stpFrameworkOnShow(page, shown);
}

StepPage::Result onPartChanged(StepPage& page, std::intptr_t) {
    stpVolPanFillList(page);
    stpVolPanBuildSliders(page);
    return 0;
}

}  // namespace

VolPanModel* stpVolPanModel(StepPage& page) {
    QTableView* list = voiceList(page);
    return list != nullptr ? static_cast<VolPanModel*>(list->model()) : nullptr;
}

void stpVolPanFillList(StepPage& page) {
    QTableView* list = voiceList(page);
    if (list == nullptr) return;
    auto* model = static_cast<VolPanModel*>(list->model());
    model->fill(shownEntry());
    if (model->rowCount() > 0) {
        list->selectRow(0);
        list->setCurrentIndex(model->index(0, 0));
    }
}

void stpVolPanBuildSliders(StepPage& page) {
    QTableView* list = voiceList(page);
    if (list == nullptr) return;
    // The model's reset closed the old sliders with their rows.
    const QAbstractItemModel* model = list->model();
    for (int r = 0; r < model->rowCount(); ++r) list->openPersistentEditor(model->index(r, VolPanModel::kSliderColumn));
}

void stpFillVolPanSlots(StepPage& page) {
    page.onInitDialog = onInitDialog;
    page.onSize = onSize;
    page.onHScroll = onHScroll;
    page.onCtlColor = onCtlColor;
    page.onShow = onShow;
    page.onPartChanged = onPartChanged;
    // The list's view moves the sliders with its rows: nothing to do on a scroll.
    page.onNotify = [](StepPage&, PageNotify&) { return StepPage::Result{0}; };
    stpInstallProfileSlots(page);
}

}  // namespace qvp3
