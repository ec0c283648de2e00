// The percussion page's lists, key choice, layout and key preview.
#include "prc_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include "platform/midi_out.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_steps/step_page_host.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/controls.h"
#include "prc_lists.h"

namespace qvp3 {

namespace {

constexpr int kPreviewMs = 500;
constexpr std::uint8_t kDrumControl = 0xB9;
constexpr std::uint8_t kDrumNote = 0x99;
constexpr int kKeyColumnWidth = 65;

ProjectEntry* currentEntry() {
    StepPageHost* host = stpPageHost();
    return host != nullptr && host->project().fileNum() > 0 ? prjGetEntry(host->project(), -1) : nullptr;
}

const char* const kOutputName = "prcOutput";

}  // namespace

PrcOutput::PrcOutput(QObject* parent) : QObject(parent) { setObjectName(kOutputName); }

PrcOutput::~PrcOutput() { close(); }

platform::MidiOutDevice* PrcOutput::open() {
    StepPageHost* host = stpPageHost();
    if (!device_ && host != nullptr) device_ = host->openPreviewOutput();
    return device_.get();
}

void PrcOutput::close() {
    if (device_) device_->reset();
    device_.reset();
}

PrcOutput* PrcOutput::of(StepPage& page) {
    if (page.window == nullptr) return nullptr;
    return dynamic_cast<PrcOutput*>(page.window->findChild<QObject*>(kOutputName));
}

void stpPrcFillKeyCombo(StepPage& page) {
    auto* combo = stpControl<QComboBox>(page, kPrcKeyCombo);
    if (combo == nullptr || static_cast<int>(page.category) != kStepPrc) return;
    combo->clear();
    for (int key = 0; key < 128; ++key) combo->addItem(QStringLiteral("%1: %2").arg(key).arg(stpPrcKeyText(key)));
    combo->setCurrentIndex(0);
}

bool stpPrcFillList(StepPage& page) {
    auto* list = stpControl<QTableView>(page, kPrcStaveList);
    if (list == nullptr) return false;
    auto* model = static_cast<PrcStaveModel*>(list->model());
    ProjectEntry* entry = currentEntry();
    model->fill(entry);
    // A MIDI file's drum records are its played keys: they are shown, not remapped.
    const bool midi = entry != nullptr && entry->kind == EntryKind::Midi;
    if (auto* combo = stpControl<QComboBox>(page, kPrcKeyCombo)) combo->setEnabled(!midi);
    if (auto* link = page.window->findChild<QPushButton*>(QStringLiteral("prcPlayLink"))) link->setVisible(!midi);
    if (model->rowCount() == 0) {
        stpPrcFillInstruments(page, -1);
        return false;
    }
    list->selectRow(0);
    stpPrcFillInstruments(page, 0);
    return true;
}

void stpPrcFillInstruments(StepPage& page, int row) {
    auto* staves = stpControl<QTableView>(page, kPrcStaveList);
    auto* list = stpControl<QTableView>(page, kPrcInstrumentList);
    if (staves == nullptr || list == nullptr) return;
    const int stave = static_cast<PrcStaveModel*>(staves->model())->stave(row);
    auto* model = static_cast<PrcInstrumentModel*>(list->model());
    model->fill(stave >= 0 ? currentEntry() : nullptr, stave);
    if (model->rowCount() > 0) {
        list->selectRow(0);
        stpPrcShowKey(page);
    }
    stpPrcLayout(page);
}

void stpPrcShowKey(StepPage& page) {
    auto* list = stpControl<QTableView>(page, kPrcInstrumentList);
    auto* combo = stpControl<QComboBox>(page, kPrcKeyCombo);
    if (list == nullptr || combo == nullptr) return;
    const int key = static_cast<PrcInstrumentModel*>(list->model())->key(list->currentIndex().row());
    if (key >= 0) combo->setCurrentIndex(key);
}

bool stpPrcPlayKey(StepPage& page) {
    StepPageHost* host = stpPageHost();
    auto* list = stpControl<QTableView>(page, kPrcInstrumentList);
    if (static_cast<int>(page.category) != kStepPrc || host == nullptr || list == nullptr) return false;
    auto* model = static_cast<PrcInstrumentModel*>(list->model());
    if (currentEntry() == nullptr || model->stave() < 0 || prjFindBusyEntry(host->project()) != -1) return false;
    const QModelIndexList chosen = list->selectionModel()->selectedRows();
    if (chosen.size() != 1) return false;
    const int key = model->key(chosen.front().row());
    if (key < 0) return false;
    PrcOutput* owner = PrcOutput::of(page);
    platform::MidiOutDevice* out = owner != nullptr ? owner->open() : nullptr;
    if (out == nullptr) return false;
    const auto k = static_cast<std::uint8_t>(key);
    out->shortMessage(platform::packShortMessage(kDrumControl, 7, 127));
    out->shortMessage(platform::packShortMessage(kDrumControl, 10, 64));
    out->shortMessage(platform::packShortMessage(kDrumNote, k, 127));
    // The note ends later without holding up the page; an output closed
    // before then was silenced as it closed.
    QTimer::singleShot(kPreviewMs, owner, [owner, out, k] {
        if (owner->device() == out) out->shortMessage(platform::packShortMessage(kDrumNote, k, 0));
    });
    return true;
}

void stpPrcLayout(StepPage& page) {
    auto* caption = stpControl<QLabel>(page, kPrcKeyCaption);
    auto* combo = stpControl<QComboBox>(page, kPrcKeyCombo);
    auto* staves = stpControl<QTableView>(page, kPrcStaveList);
    auto* instruments = stpControl<QTableView>(page, kPrcInstrumentList);
    auto* option = stpControl<QCheckBox>(page, kPrcOptionCheck);
    auto* link = page.window != nullptr ? page.window->findChild<QPushButton*>(QStringLiteral("prcPlayLink")) : nullptr;
    if (caption == nullptr || combo == nullptr || staves == nullptr || instruments == nullptr || option == nullptr) return;
    QRect content;
    stpLayoutDescription(page, &content, nullptr);
    const QRect client = page.window->rect();
    const int left = content.left();
    const int half = (client.right() - left - 10) / 2 - 2;
    caption->setGeometry(left, content.top() + 30, half, 24);
    combo->setGeometry(caption->geometry().right() + 5, caption->y(), half, 24);
    const int listTop = caption->geometry().bottom() + 11;
    const int listHeight = std::max(client.bottom() - caption->geometry().bottom() - 60, 40);
    staves->setGeometry(left, listTop, half, listHeight);
    instruments->setGeometry(combo->x(), listTop, half, listHeight);
    const int below = staves->geometry().bottom() + 11;
    option->setGeometry(left, below, half, std::max(client.bottom() - staves->geometry().bottom() - 20, 24));
    if (link != nullptr) link->setGeometry(instruments->x(), below, half, 24);
    // The stave list's one column is twice its client width; the two
    // instrument columns fill theirs exactly.
    const int w = staves->viewport()->width();
    staves->setColumnWidth(0, 2 * w);
    // The key column grows to its longest percussion name, so no key is cut.
    int keyWidth = kKeyColumnWidth;
    const QFontMetrics metrics(instruments->font());
    for (int r = 0; r < instruments->model()->rowCount(); ++r) {
        keyWidth = std::max(keyWidth, metrics.horizontalAdvance(instruments->model()->index(r, 0).data().toString()) + 12);
    }
    keyWidth = std::min(keyWidth, instruments->viewport()->width() / 2);
    instruments->setColumnWidth(0, keyWidth);
    instruments->setColumnWidth(1, std::max(instruments->viewport()->width() - keyWidth, 0));
}

}  // namespace qvp3
