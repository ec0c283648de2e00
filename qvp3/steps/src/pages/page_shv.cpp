// The velocity page: per stave of a MIDI file a relative (offset) or
// absolute velocity; for a score file a link to the interpretation page.
#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>

#include "qvp3_project/step_changes.h"
#include "qvp3_steps/page_events.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_steps/page_slots.h"
#include "qvp3_steps/page_workers.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_page_host.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/message_box.h"
#include "shv_staff_model.h"
#include "shv_page.h"
#include "vol_profile_slots.h"
#include "page_preview_link.h"

namespace qvp3 {

namespace {

constexpr int kStrCheckColumn = 356;
constexpr int kStrNameColumn = 321;
constexpr int kStrValueColumn = 22;
constexpr int kStrNote = 355;
constexpr int kLinkSize = 32;
constexpr int kNoteImageSize = 16;
constexpr int kHoverLink = 2;
// The step tab's command that selects the first step; + the step.
constexpr int kCmdFirstStepTab = 40089;
const char* const kNoteName = "shvNote";
const char* const kHoverProperty = "linkHover";

QTableView* staffList(StepPage& page) {
    return page.window != nullptr ? qvp3ui::findControl<QTableView>(*page.window, kShvList) : nullptr;
}
ShvStaffModel* modelOf(QTableView& list) { return static_cast<ShvStaffModel*>(list.model()); }
QLabel* noteOf(StepPage& page) {
    return page.window != nullptr ? page.window->findChild<QLabel*>(kNoteName) : nullptr;
}

// No current entry, or a MIDI file: the page has no link then.
bool noLink() {
    const ProjectEntry* entry = stpCurrentEntry();
    return entry == nullptr || entry->kind == EntryKind::Midi;
}

bool shiftHeld() { return stpShiftHeld(); }

void notify(StepPage& page, QTableView* list, int code, int row, int column) {
    if (!page.onNotify || row < 0) return;
    PageNotify event{kShvList, code, list, static_cast<std::intptr_t>((column << 16) | row)};
    page.onNotify(page, event);
}

QTableView* makeList(StepPage& page, QWidget* dialog) {
    auto* list = new QTableView(dialog);
    qvp3ui::setControlId(*list, kShvList);
    auto* model = new ShvStaffModel(list);
    model->setTitles(QString::fromStdString(qvp3ui::uiString(kStrCheckColumn)),
                     QString::fromStdString(qvp3ui::uiString(kStrNameColumn)),
                     QString::fromStdString(qvp3ui::uiString(kStrValueColumn)));
    list->setModel(model);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setShowGrid(true);
    list->setWordWrap(false);
    list->verticalHeader()->hide();
    list->horizontalHeader()->setSectionsClickable(false);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    StepPage* target = &page;
    model->setToggled([target, list](int row, bool) { notify(*target, list, kLvnItemChanged, row, 0); });
    QObject::connect(list, &QTableView::clicked, list, [target, list](const QModelIndex& index) {
        notify(*target, list, kNmClick, index.row(), index.column());
    });
    QObject::connect(list, &QTableView::customContextMenuRequested, list, [target, list](const QPoint& at) {
        const QModelIndex index = list->indexAt(at);
        if (index.isValid()) notify(*target, list, kNmRClick, index.row(), index.column());
    });
    return list;
}

StepPage::Result onInitDialog(StepPage& page, QWidget* dialog, StepPage*) {
    if (dialog == nullptr) return 0;
    if (page.window == nullptr) page.window = dialog;
    makeList(page, dialog);
    auto* note = new QLabel(dialog);
    note->setObjectName(kNoteName);
    note->setWordWrap(true);
    note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    note->setFont(stpNoteFont());
    note->setTextFormat(Qt::PlainText);
    note->setContentsMargins(kNoteImageSize + 10, 0, 0, 0);
    note->setText(QString::fromStdString(qvp3ui::uiString(kStrNote)));
    note->setStyleSheet(QStringLiteral("color: %1").arg(kPageNoteText.name()));
    auto* icon = new QLabel(note);
    icon->setPixmap(QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(kNoteImageSize));
    icon->setGeometry(0, 0, kNoteImageSize, kNoteImageSize);
    note->hide();
    return 1;
}

// The stored velocity of a stave in the project file: relative and its value.
std::pair<bool, int> storedVelocity(const Project& project, const ProjectEntry& entry, int stave) {
    int relative = 1;
    int velocity = 0;
    const std::string source = entry.Filename.string();
    if (!prjReadTrackVelocity(project, source, stave, 1, relative)) relative = 1;
    if (!prjReadTrackVelocity(project, source, stave, 0, velocity)) velocity = 0;
    return {relative != 0, velocity};
}

void clickValue(QTableView& list, int row, bool raise) {
    StepPageHost* host = stpPageHost();
    ProjectEntry* entry = stpCurrentEntry();
    ShvStaffModel& model = *modelOf(list);
    if (host == nullptr || entry == nullptr || model.stave(row) < 0) return;
    const bool relative = model.relative(row);
    const int value = stpShvStepVelocity(model.value(row), relative, raise, shiftHeld());
    model.setRow(row, relative, value);
    const auto s = static_cast<std::size_t>(model.stave(row));
    if (entry->kind == EntryKind::Midi && s < entry->staffVelocity.size()) {
        entry->staffVelocity[s] = static_cast<std::int8_t>(value);
    }
    prjMarkStepDirty(host->project());
    host->refreshCommands();
}

void toggleRelative(QTableView& list, int row) {
    StepPageHost* host = stpPageHost();
    ProjectEntry* entry = stpCurrentEntry();
    ShvStaffModel& model = *modelOf(list);
    const int stave = model.stave(row);
    if (host == nullptr || entry == nullptr || stave < 0) return;
    const bool relative = model.relative(row);
    const auto [storedRelative, storedValue] = storedVelocity(host->project(), *entry, stave);
    int value = 0;
    if (relative) {
        value = storedRelative ? storedValue : 0;
    } else {
        value = storedRelative ? 90 : storedValue;
    }
    if (value != model.value(row)) model.setRow(row, relative, value);
    const auto s = static_cast<std::size_t>(stave);
    if (entry->kind == EntryKind::Midi && s < entry->staffVelocity.size() && s < entry->staffVelocityRelative.size()) {
        entry->staffVelocityRelative[s] = relative ? 1 : 0;
        entry->staffVelocity[s] = static_cast<std::int8_t>(value);
    }
    host->project().saved = 0;
    host->refreshCommands();
}

StepPage::Result onNotify(StepPage& page, PageNotify& event) {
    QTableView* list = staffList(page);
    if (list == nullptr || event.controlId != kShvList || stpCurrentEntry() == nullptr) return 0;
    const int row = static_cast<int>(event.value & 0xFFFF);
    const int column = static_cast<int>((event.value >> 16) & 0xFFFF);
    if ((event.code == kNmClick || event.code == kNmRClick) && column == ShvStaffModel::kValueColumn) {
        clickValue(*list, row, event.code == kNmClick);
    } else if (event.code == kLvnItemChanged && !modelOf(*list)->filling()) {
        toggleRelative(*list, row);
    }
    return 0;
}

StepPage::Result onPartChanged(StepPage& page, std::intptr_t) {
    stpShvShowValues(page);
    if (StepPageHost* host = stpPageHost()) {
        host->layoutProfileBar(page, stpPageFillProfileList(page) ? kProfileBarEnabled : kProfileBarEmpty);
    }
    return 0;
}

StepPage::Result onShow(StepPage& page, bool shown) {
    if (shown) {
        stpShvShowValues(page);
    } else if (QTableView* list = staffList(page)) {
        list->hide();
        if (QLabel* note = noteOf(page)) note->hide();
    }
    return stpFrameworkOnShow(page, shown);
}

void onSize(StepPage& page) {
    QTableView* list = staffList(page);
    if (list == nullptr) return;
    QRect content;
    stpLayoutDescription(page, &content, nullptr);
    const QRect client = page.window->rect();
    const int width = std::min(400, client.width() - content.left() - 10);
    const int top = content.top() + 30;
    list->setGeometry(content.left(), top, std::max(width, 0), std::max(client.bottom() - 120 - top, 0));
    const int scrollBar = list->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    list->setColumnWidth(ShvStaffModel::kCheckColumn, 35);
    list->setColumnWidth(ShvStaffModel::kNameColumn, std::max(list->width() - scrollBar - 115, 40));
    list->setColumnWidth(ShvStaffModel::kValueColumn, 80);
    if (QLabel* note = noteOf(page)) note->setGeometry(list->x(), list->geometry().bottom() + 5, list->width(), 75);
    if (auto* block = stpData<StepDataBlock>(page)) {
        block->iconX = (client.width() - kLinkSize) / 2;
        block->iconY = (client.height() - kLinkSize) / 2;
    }
}

int onSetCursor(StepPage& page, int mouseMessage) {
    auto* block = stpData<StepDataBlock>(page);
    if (noLink() || block == nullptr || page.window == nullptr) return 1;
    const QRect link(block->iconX, block->iconY, kLinkSize, kLinkSize);
    const bool over = link.contains(page.window->mapFromGlobal(QCursor::pos()));
    if (mouseMessage == static_cast<int>(WM_MOUSEMOVE)) {
        page.window->setProperty(kHoverProperty, over ? kHoverLink : 0);
        page.window->setCursor(over ? Qt::PointingHandCursor : Qt::ArrowCursor);
        return over ? 1 : 0;
    }
    if (mouseMessage == static_cast<int>(WM_LBUTTONDOWN) && page.window->property(kHoverProperty).toInt() == kHoverLink) {
        if (StepPageHost* host = stpPageHost()) host->sendCommand(kCmdFirstStepTab + kStepDyn);
        return 1;
    }
    return 0;
}

}  // namespace

bool stpShvShowValues(StepPage& page) {
    QTableView* list = staffList(page);
    if (list == nullptr) return true;
    ProjectEntry* entry = stpCurrentEntry();
    QLabel* note = noteOf(page);
    if (entry == nullptr) {
        modelOf(*list)->clear();
        list->setEnabled(false);
    } else if (entry->kind == EntryKind::Midi) {
        list->setEnabled(true);
        list->show();
        modelOf(*list)->fill(entry);
    } else {
        list->hide();
    }
    if (note != nullptr) note->setVisible(list->isVisibleTo(page.window));
    page.window->update();
    return true;
}

void stpFillShvSlots(StepPage& page) {
    page.onInitDialog = onInitDialog;
    page.onNotify = onNotify;
    page.onPartChanged = onPartChanged;
    page.onShow = onShow;
    page.onSize = onSize;
    page.onSetCursor = onSetCursor;
    stpInstallProfileSlots(page);
}

}  // namespace qvp3
