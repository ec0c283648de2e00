// The percussion page: maps the instruments of the current entry's
// percussion staves to General MIDI drum keys, and plays a chosen one.
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>

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
#include "prc_lists.h"
#include "prc_page.h"
#include "vol_profile_slots.h"
#include "page_preview_link.h"

namespace qvp3 {

namespace {

constexpr int kStrKeyColumn = 9;
constexpr int kStrInstrumentColumn = 10;
constexpr int kStrStaveColumn = 286;
constexpr int kStrPlayLink = 343;
constexpr int kStrKeyCaption = 7000;
constexpr int kStrOptionCaption = 7004;
constexpr std::uint64_t kPrcOption = 1;
constexpr int kCbnSelChange = 1;
constexpr int kBnClicked = 0;

QPushButton* playLink(StepPage& page) {
    return page.window != nullptr ? page.window->findChild<QPushButton*>(QStringLiteral("prcPlayLink")) : nullptr;
}
PrcInstrumentModel* instruments(StepPage& page) {
    auto* list = stpControl<QTableView>(page, kPrcInstrumentList);
    return list != nullptr ? static_cast<PrcInstrumentModel*>(list->model()) : nullptr;
}

void notify(StepPage& page, int id, QWidget* list, int row) {
    if (!page.onNotify) return;
    PageNotify event{id, kPrcItemChanged, list, row};
    page.onNotify(page, event);
}

QTableView* makeList(StepPage& page, QWidget* dialog, int id, QAbstractItemModel* model, bool single) {
    auto* list = new QTableView(dialog);
    qvp3ui::setControlId(*list, id);
    model->setParent(list);
    list->setModel(model);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(single ? QAbstractItemView::SingleSelection : QAbstractItemView::ExtendedSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setShowGrid(false);
    list->setWordWrap(false);
    list->verticalHeader()->hide();
    list->horizontalHeader()->setSectionsClickable(false);
    list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StepPage* target = &page;
    QObject::connect(list->selectionModel(), &QItemSelectionModel::currentRowChanged, list,
                     [target, id, list](const QModelIndex& now, const QModelIndex&) {
                         if (now.isValid()) notify(*target, id, list, now.row());
                     });
    return list;
}

void makeControls(StepPage& page, QWidget* dialog) {
    auto* caption = new QLabel(stpText(kStrKeyCaption), dialog);
    qvp3ui::setControlId(*caption, kPrcKeyCaption);
    auto* combo = new QComboBox(dialog);
    qvp3ui::setControlId(*combo, kPrcKeyCombo);
    stpPrcFillKeyCombo(page);
    auto* staveModel = new PrcStaveModel(dialog);
    staveModel->setTitle(stpText(kStrStaveColumn));
    makeList(page, dialog, kPrcStaveList, staveModel, true);
    auto* instrumentModel = new PrcInstrumentModel(dialog);
    instrumentModel->setTitles(stpText(kStrKeyColumn), stpText(kStrInstrumentColumn));
    makeList(page, dialog, kPrcInstrumentList, instrumentModel, false);
    auto* option = new QCheckBox(stpText(kStrOptionCaption), dialog);
    qvp3ui::setControlId(*option, kPrcOptionCheck);
    auto* link = new QPushButton(stpText(kStrPlayLink), dialog);
    link->setObjectName(QStringLiteral("prcPlayLink"));
    link->setFlat(true);
    link->setCursor(Qt::PointingHandCursor);
    link->setIcon(link->style()->standardIcon(QStyle::SP_MediaPlay));
    link->setStyleSheet(QStringLiteral("QPushButton { color: %1; font: bold; text-align: right; border: none; }"
                                       "QPushButton:hover { text-decoration: underline; }"
                                       "QPushButton:disabled { color: %2; }")
                            .arg(kPageLabelText.name(), kPageDisabledItem.name()));
    new PrcOutput(dialog);

    StepPage* target = &page;
    QObject::connect(combo, qOverload<int>(&QComboBox::activated), combo, [target, combo](int) {
        if (target->onCommand) target->onCommand(*target, kPrcKeyCombo, combo, kCbnSelChange);
    });
    QObject::connect(option, &QCheckBox::clicked, option, [target, option] {
        if (target->onCommand) target->onCommand(*target, kPrcOptionCheck, option, kBnClicked);
    });
    QObject::connect(link, &QPushButton::clicked, link, [target] {
        if (target->onToggle) target->onToggle(*target);
    });
}

StepPage::Result onInitDialog(StepPage& page, QWidget* dialog, StepPage*) {
    if (dialog == nullptr) return 0;
    if (page.window == nullptr) page.window = dialog;
    makeControls(page, dialog);
    return 1;
}

// The rows a key change reaches: every row with Shift, else the selected ones.
std::vector<int> chosenRows(QTableView& list) {
    std::vector<int> rows;
    if (stpShiftHeld()) {
        for (int r = 0; r < list.model()->rowCount(); ++r) rows.push_back(r);
    } else {
        for (const QModelIndex& index : list.selectionModel()->selectedRows()) rows.push_back(index.row());
    }
    return rows;
}

void changeKey(StepPage& page, int key) {
    auto* list = stpControl<QTableView>(page, kPrcInstrumentList);
    StepPageHost* host = stpPageHost();
    if (list == nullptr || host == nullptr || key < 0) return;
    const ProjectEntry* entry = instruments(page)->entry();
    if (entry == nullptr || entry->kind == EntryKind::Midi) return;
    bool changed = false;
    for (int row : chosenRows(*list)) changed = instruments(page)->setKey(row, key) || changed;
    if (!changed) return;
    prjMarkStepDirty(host->project());
    host->refreshCommands();
}

StepPage::Result onCommand(StepPage& page, int id, QWidget* control, int code) {
    StepPageHost* host = stpPageHost();
    if (id == kPrcKeyCombo && code == kCbnSelChange) {
        if (auto* combo = qobject_cast<QComboBox*>(control)) changeKey(page, combo->currentIndex());
    } else if (id == kPrcOptionCheck && host != nullptr) {
        auto* box = qobject_cast<QCheckBox*>(control);
        if (box != nullptr && box->isChecked()) {
            prjSetFlag(kPrcOption, host->project().playFeatures);
        } else if (box != nullptr) {
            prjClearFlag(kPrcOption, host->project().playFeatures);
        }
    }
    return 0;
}

StepPage::Result onNotify(StepPage& page, PageNotify& event) {
    if (event.code != kPrcItemChanged) return 0;
    if (event.controlId == kPrcStaveList) {
        stpPrcFillInstruments(page, static_cast<int>(event.value));
    } else if (event.controlId == kPrcInstrumentList) {
        stpPrcShowKey(page);
    }
    return 0;
}

void warnCannotPlay() {
    if (StepPageHost* host = stpPageHost()) {
        ShellServices& shell = host->project().shell();
        shell.appTextBox(shell.languageString(kStrCannotPlay), kBoxWarning, kMbOk);
    }
}

void onToggle(StepPage& page) {
    if (!stpPrcPlayKey(page)) warnCannotPlay();
}

void enableControls(StepPage& page, bool enable) {
    if (auto* block = stpData<StepDataBlock>(page)) block->toggleDisabled = !enable;
    if (QPushButton* link = playLink(page)) link->setEnabled(enable);
}

StepPage::Result onPartChanged(StepPage& page, std::intptr_t) {
    const bool any = stpPrcFillList(page);
    if (StepPageHost* host = stpPageHost()) {
        const bool profiles = stpPageFillProfileList(page);
        host->layoutProfileBar(page, profiles && any ? kProfileBarEnabled : kProfileBarDisabled);
    }
    return 0;
}

StepPage::Result onShow(StepPage& page, bool shown) {
    StepPageHost* host = stpPageHost();
    if (shown) {
        stpPageFillProfileList(page);
        stpPrcFillList(page);
        if (PrcOutput* output = PrcOutput::of(page); output != nullptr && host != nullptr &&
                                                      prjFindBusyEntry(host->project()) == -1) {
            output->open();
        }
        if (auto* box = stpControl<QCheckBox>(page, kPrcOptionCheck); box != nullptr && host != nullptr) {
            box->setChecked((host->project().playFeatures & kPrcOption) != 0);
        }
    } else if (PrcOutput* output = PrcOutput::of(page)) {
        output->close();
    }
    return stpFrameworkOnShow(page, shown);
}

StepPage::Result onCtlColor(StepPage& page, QPalette& palette, QWidget* control) {
    if (control == nullptr || page.window == nullptr) return 0;
    const QString name = control->objectName();
    if (name != qvp3ui::controlName(kPrcKeyCaption) && name != qvp3ui::controlName(kPrcOptionCheck)) return 0;
    palette.setColor(QPalette::WindowText, kPageLabelText);
    palette.setColor(QPalette::ButtonText, kPageLabelText);
    return 1;
}

}  // namespace

void stpFillPrcSlots(StepPage& page) {
    page.onInitDialog = onInitDialog;
    page.onCommand = onCommand;
    page.onNotify = onNotify;
    page.onToggle = onToggle;
    page.enableControls = enableControls;
    page.onPartChanged = onPartChanged;
    page.onShow = onShow;
    page.onSize = stpPrcLayout;
    page.onCtlColor = onCtlColor;
    stpInstallProfileSlots(page);
}

}  // namespace qvp3
