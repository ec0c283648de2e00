#include "qvp3_steps/page_routines.h"

#include <QComboBox>
#include <QStandardItemModel>
#include <QWidget>

#include "qvp3_pipeline/entry_model.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_ui/message_box.h"
#include "qvp3_ui/ui_utils.h"

namespace qvp3 {

void stpLayoutDescription(const StepPage& page, QRect* content, QRect* description) {
    const QRect client = page.window != nullptr ? page.window->rect() : QRect();
    const ProjectEntry* current = nullptr;
    if (StepPageHost* host = stpPageHost()) current = prjGetEntry(host->project(), -1);
    const PageHeader header = stpMeasureHeader(page, client, current);
    if (description != nullptr) *description = header.descriptionRect;
    if (content != nullptr) {
        *content = header.content;
        content->setHeight(0);  // the caller places the bottom
    }
}

void stpFillInstrumentCombo(QComboBox& combo, int selection) {
    for (int i = 0; i < 128; ++i) {
        const std::string name = qvp3ui::uiString(kStrFirstInstrument + i);
        combo.addItem(name.empty() ? QString::number(i + 1)
                                   : QStringLiteral("%1: %2").arg(i + 1).arg(QString::fromStdString(name)));
    }
    combo.setCurrentIndex(selection);
}

void cnvSetListColumnTitle(const ProjectEntry& entry, QStandardItemModel& list) {
    const int id = entry.kind == EntryKind::Midi ? kStrTrackColumn : kStrStaveColumn;
    auto* title = new QStandardItem(QString::fromStdString(qvp3ui::uiString(id)));
    title->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list.setHorizontalHeaderItem(0, title);
}

bool cnvFillVoiceList(const ProjectEntry& entry, int stave, int voice, QStandardItemModel& list, int index) {
    // The indices may come from a project file: a voice the entry does not
    // have is never listed, whatever the state matrix answers for it.
    if (entry.voiceIndex(stave, voice) < 0) return false;
    if (!entry.states.isVoiceVisible(stave, voice) || entry.states.isVoiceInvalid(stave, voice)) return false;
    const QString name = QString::fromStdString(cnvEntryStaveName(entry, stave));
    const bool midi = entry.kind == EntryKind::Midi;
    const QString text = midi ? QStringLiteral("%1: %2").arg(stave + 1).arg(name)
                              : QStringLiteral("%1: %2/%3").arg(stave + 1).arg(name).arg(voice + 1);
    auto* item = new QStandardItem(text);
    item->setData(static_cast<int>((static_cast<unsigned>(voice) << 16) | (static_cast<unsigned>(stave) & 0xFFFF)),
                  kVoiceRowDataRole);
    item->setData(midi ? kImageTrackRow : kImageVoiceRow, kVoiceRowImageRole);
    item->setEditable(false);
    list.insertRow(std::clamp(index, 0, list.rowCount()), item);
    return true;
}

void WaitWindowProgress::begin(int range) { qvp3ui::audShowWaitDialog(range); }
void WaitWindowProgress::loading(const std::string& name) { qvp3ui::audSetWaitDialogText(name); }
void WaitWindowProgress::done(int count) { qvp3ui::audSetWaitDialogPosition(count); }
void WaitWindowProgress::end() { qvp3ui::audCloseWaitDialog(); }
void WaitWindowProgress::text(const std::string& line) { qvp3ui::audSetWaitDialogText(line); }

}  // namespace qvp3
