// The staves and voices page: the tree's check marks are the entry's staff
// and voice states.
#include <QHeaderView>
#include <QPainter>
#include <QStandardItemModel>
#include <QTreeView>

#include <algorithm>

#include "page_sls.h"
#include "platform/files.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/pipeline.h"
#include "qvp3_pipeline/playback.h"
#include "qvp3_steps/page_events.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_steps/page_slots.h"
#include "qvp3_steps/page_workers.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/message_box.h"
#include "page_preview_link.h"
#include "voice_pages_common.h"

namespace qvp3 {

namespace {

using scorecore::kStateOff;
using scorecore::kStateOn;

constexpr int kStrScoreFile = 1;  // "%s": the file name
constexpr int kStrMidiFile = 2;   // "%s": the file name
constexpr int kStrNoFile = 329;
constexpr int kStrMidiRoot = 321;
constexpr int kStrScoreRoot = 322;
constexpr int kStrNoVoices = 323;
constexpr int kStrVoice = 324;    // "%i": the voice number from 1

QTreeView* treeOf(StepPage& page) {
    return page.window != nullptr ? qvp3ui::findControl<QTreeView>(*page.window, kSlsTree) : nullptr;
}

QStandardItemModel* modelOf(QTreeView* tree) {
    return tree != nullptr ? qobject_cast<QStandardItemModel*>(tree->model()) : nullptr;
}

QStandardItem* rootOf(StepPage& page) {
    QStandardItemModel* model = modelOf(treeOf(page));
    return model != nullptr ? model->item(0) : nullptr;
}

bool checked(const QStandardItem& item) { return item.checkState() == Qt::Checked; }
void setChecked(QStandardItem& item, bool on) { item.setCheckState(on ? Qt::Checked : Qt::Unchecked); }

int voicesOf(const ProjectEntry& entry, int stave) {
    return stave >= 0 && stave < static_cast<int>(entry.voiceCounts.size())
               ? entry.voiceCounts[static_cast<std::size_t>(stave)]
               : 0;
}

// The staves the tree shows: as many as the entry defines, never more than
// it has voice counts for (a project file may say otherwise).
int staveCountOf(const ProjectEntry& entry) {
    const int defined = stpPageHost()->project().pipeline().cnvEntryStaveCount(entry);
    return std::clamp(defined, 0, static_cast<int>(entry.voiceCounts.size()));
}

QStandardItem* makeItem(const QString& text, int stave, int voice, bool on) {
    auto* item = new QStandardItem(text);
    item->setData(stave, kSlsStaveRole);
    item->setData(voice, kSlsVoiceRole);
    item->setCheckable(true);
    item->setEditable(false);
    setChecked(*item, on);
    return item;
}

StepPage::Result onInitDialog(StepPage& page, QWidget* dialog, StepPage*) {
    if (dialog == nullptr) return 0;
    auto* tree = new QTreeView(dialog);
    qvp3ui::setControlId(*tree, kSlsTree);
    auto* model = new QStandardItemModel(tree);
    tree->setModel(model);
    tree->setHeaderHidden(true);
    tree->setRootIsDecorated(true);
    tree->setFont(stpDescriptionFont());
    tree->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    QPalette colours = tree->palette();
    colours.setColor(QPalette::Text, kPageValueText);
    tree->setPalette(colours);
    StepPage* self = &page;
    QObject::connect(model, &QStandardItemModel::itemChanged, tree, [self](QStandardItem* item) {
        auto* data = stpData<SlsData>(*self);
        if (data == nullptr || data->filling || !self->onNotify) return;
        // A rename shows as a text that is no longer the track's name.
        const ProjectEntry* entry = stpCurrentEntry();
        const int stave = item->data(kSlsStaveRole).toInt();
        const bool renamed = entry != nullptr && entry->kind == EntryKind::Midi && stave >= 0 &&
                             item->data(kSlsVoiceRole).toInt() < 0 && voicesOf(*entry, stave) > 0 &&
                             item->text().toStdString() != cnvEntryStaveName(*entry, stave);
        PageNotify notify{kSlsTree, renamed ? kSlsLabelEdited : kSlsChecksChanged, nullptr,
                          reinterpret_cast<std::intptr_t>(item)};
        self->onNotify(*self, notify);
    });
    return 1;
}

void onSize(StepPage& page) {
    QTreeView* tree = treeOf(page);
    if (tree == nullptr) return;
    QRect content;
    stpLayoutDescription(page, &content, nullptr);
    const QRect client = page.window->rect();
    tree->setGeometry(content.left(), content.top() + 24, std::max(client.right() - content.left() - 10, 0),
                      std::max(client.bottom() - content.top() - 34, 0));
}

void onPaint(StepPage& page, QPainter& painter, const QRect& body) {
    if (page.window == nullptr) return;
    const ProjectEntry* entry = stpCurrentEntry();
    std::string text;
    if (entry == nullptr) {
        text = qvp3ui::uiString(kStrNoFile);
    } else if (const qvp3ui::LanguageModule* language = qvp3ui::language()) {
        const std::string name(platform::storedFileName(entry->Filename.string()));
        text = language->format(entry->kind == EntryKind::Midi ? kStrMidiFile : kStrScoreFile,
                                {std::string_view(name)});
    }
    painter.setFont(voicepages::noteFont());
    painter.setPen(kPageLabelText);
    const QRect line(body.left(), body.top(), body.width(), painter.fontMetrics().height() + 4);
    painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     painter.fontMetrics().elidedText(QString::fromStdString(text), Qt::ElideRight, line.width()));
}

void sendMasksWhilePlaying(ProjectEntry& entry) {
    if (!entry.isBusy()) return;
    if (PlaybackControl* playback = stpPageHost()->playback()) playback->plySendVoiceMasks(entry);
}

// Every voice state and staff state of an entry, to see whether a walk changed any.
std::vector<std::int32_t> snapshot(const ProjectEntry& entry) {
    std::vector<std::int32_t> states;
    for (int s = 0; s < static_cast<int>(entry.voiceCounts.size()); ++s) {
        states.push_back(entry.states.getStaffOnOff(s));
        for (int v = 0; v < voicesOf(entry, s); ++v) states.push_back(entry.states.getVoiceOnOff(s, v));
    }
    return states;
}

void setVoice(ProjectEntry& entry, int stave, int voice, bool on) {
    stpPageHost()->project().pipeline().cnvEntrySetVoiceOnOff(entry, stave, voice, on ? kStateOn : kStateOff);
}

// One stave item against the entry: its marks become the entry's states.
void applyStave(ProjectEntry& entry, QStandardItem& item) {
    const int stave = item.data(kSlsStaveRole).toInt();
    const int voices = voicesOf(entry, stave);
    if (voices == 0) {
        if (checked(item)) setChecked(item, false);  // nothing there to switch on
        return;
    }
    if (voices == 1) {
        entry.states.setStaffOnOff(stave, checked(item) ? kStateOn : kStateOff, true);
        setVoice(entry, stave, 0, checked(item));
        return;
    }
    const bool staveOn = entry.states.isStaffOn(stave);
    if (checked(item) != staveOn && (checked(item) || staveOn)) {
        // The stave's own mark changed: its voices follow it.
        const bool on = checked(item);
        for (int v = 0; v < voices && v < item.rowCount(); ++v) setChecked(*item.child(v), on);
        for (int v = 0; v < voices; ++v) setVoice(entry, stave, v, on);
        entry.states.setStaffOnOff(stave, on ? kStateOn : kStateOff, false);
        return;
    }
    bool any = false;
    for (int v = 0; v < voices && v < item.rowCount(); ++v) {
        const bool on = checked(*item.child(v));
        setVoice(entry, stave, v, on);
        any = any || on;
    }
    // The voices keep the marks the user gave them.
    entry.states.setStaffOnOff(stave, any ? kStateOn : kStateOff, false);
    setChecked(item, any);
}

// The tune-up plays from every voice again: a voice it chose may be off now.
void selectEveryVoiceForTuneUp(ProjectEntry& entry) {
    entry.tuneUp.deleteVoiceList();
    for (int s = 0; s < static_cast<int>(entry.voiceCounts.size()); ++s) {
        for (int v = 0; v < voicesOf(entry, s); ++v) {
            entry.tuneUp.addSelectedVoice(static_cast<std::int32_t>((static_cast<unsigned>(v) << 16) | static_cast<unsigned>(s)));
        }
    }
}

void showEntryMarks(SlsData& data, const ProjectEntry& entry, QStandardItem& root) {
    data.filling = true;
    for (int row = 0; row < root.rowCount(); ++row) {
        QStandardItem& item = *root.child(row);
        const int stave = item.data(kSlsStaveRole).toInt();
        setChecked(item, entry.states.isStaffOn(stave) && voicesOf(entry, stave) > 0);
        for (int v = 0; v < item.rowCount(); ++v) setChecked(*item.child(v), entry.states.isVoiceOn(stave, v));
    }
    data.filling = false;
}

StepPage::Result checksChanged(StepPage& page, SlsData& data, ProjectEntry& entry) {
    QStandardItem* root = rootOf(page);
    if (root == nullptr) return 0;
    if (checked(*root) != data.rootChecked) {
        data.rootChecked = checked(*root);
        cnvEntrySetAllStaves(entry, data.rootChecked);
        // The marks follow in place: the root item that reports this change
        // must outlive its report, so the tree is not built anew here.
        showEntryMarks(data, entry, *root);
        sendMasksWhilePlaying(entry);
        stpPageEdited();
        return 0;
    }
    const std::vector<std::int32_t> before = snapshot(entry);
    data.filling = true;
    for (int row = 0; row < root->rowCount(); ++row) applyStave(entry, *root->child(row));
    const bool anyOn = cnvEntryAnyStaveOn(entry);
    if (anyOn != checked(*root)) setChecked(*root, anyOn);
    data.rootChecked = anyOn;
    data.filling = false;
    if (snapshot(entry) == before) return 1;
    selectEveryVoiceForTuneUp(entry);
    sendMasksWhilePlaying(entry);
    stpPageEdited();
    return 1;
}

StepPage::Result labelEdited(SlsData& data, ProjectEntry& entry, QStandardItem& item) {
    const int stave = item.data(kSlsStaveRole).toInt();
    const std::string name = item.text().trimmed().toStdString();
    if (name.empty()) {
        // An empty name is refused: the track keeps the one it had.
        data.filling = true;
        item.setText(QString::fromStdString(cnvEntryStaveName(entry, stave)));
        data.filling = false;
        return 0;
    }
    stpPageHost()->project().pipeline().cnvEntrySetTrackName(entry, stave + 1, name);
    stpPageEdited();
    return 1;
}

StepPage::Result onNotify(StepPage& page, PageNotify& notify) {
    auto* data = stpData<SlsData>(page);
    ProjectEntry* entry = stpCurrentEntry();
    if (data == nullptr || entry == nullptr || notify.controlId != kSlsTree || data->filling) return 0;
    if (notify.code == kSlsLabelEdited && notify.value != 0) {
        return labelEdited(*data, *entry, *reinterpret_cast<QStandardItem*>(notify.value));
    }
    if (notify.code == kSlsChecksChanged) return checksChanged(page, *data, *entry);
    return 0;
}

QString staveText(const ProjectEntry& entry, int stave) {
    const QString name = QString::fromStdString(cnvEntryStaveName(entry, stave));
    if (voicesOf(entry, stave) > 0) return name;
    return QStringLiteral("%1 %2").arg(name, QString::fromStdString(qvp3ui::uiString(kStrNoVoices)));
}

QString voiceText(int voice) {
    const qvp3ui::LanguageModule* language = qvp3ui::language();
    const std::string text = language != nullptr ? language->format(kStrVoice, {std::int64_t{voice + 1}}) : "";
    return QString::fromStdString(text).left(64);
}

void addStave(ProjectEntry& entry, QStandardItem& root, int stave) {
    const int voices = voicesOf(entry, stave);
    QStandardItem* item = makeItem(staveText(entry, stave), stave, -1, entry.states.isStaffOn(stave));
    item->setData(kImageTrackRow, kVoiceRowImageRole);
    // A MIDI file's tracks take new names in place.
    item->setEditable(entry.kind == EntryKind::Midi && voices > 0);
    root.appendRow(item);
    if (voices <= 1) return;
    bool any = false;
    for (int v = 0; v < voices; ++v) {
        const bool on = entry.states.isVoiceOn(stave, v);
        QStandardItem* child = makeItem(voiceText(v), stave, v, on);
        child->setData(kImageVoiceRow, kVoiceRowImageRole);
        item->appendRow(child);
        any = any || on;
    }
    entry.states.setStaffOnOff(stave, any ? kStateOn : kStateOff, true);
    setChecked(*item, any);
}

}  // namespace

void stpSlsFillTree(StepPage& page) {
    auto* data = stpData<SlsData>(page);
    QTreeView* tree = treeOf(page);
    QStandardItemModel* model = modelOf(tree);
    if (static_cast<int>(page.category) != kStepSls || data == nullptr || model == nullptr) return;
    data->filling = true;
    model->clear();
    StepPageHost* host = stpPageHost();
    ProjectEntry* entry = stpCurrentEntry();
    tree->setEnabled(entry != nullptr && host->project().fileNum() > 0);
    if (!tree->isEnabled()) {
        data->filling = false;
        return;
    }
    const bool midi = entry->kind == EntryKind::Midi;
    QStandardItem* root =
        makeItem(QString::fromStdString(qvp3ui::uiString(midi ? kStrMidiRoot : kStrScoreRoot)), -1, -1, data->rootChecked);
    root->setData(host->project().pipeline().cnvEntryImage(*entry), kVoiceRowImageRole);
    model->appendRow(root);
    const int staves = staveCountOf(*entry);
    for (int s = 0; s < staves; ++s) addStave(*entry, *root, s);
    tree->expandAll();
    data->filling = false;
}

void stpFillSlsSlots(StepPage& page) {
    page.onInitDialog = onInitDialog;
    page.onSize = onSize;
    page.onPaint = onPaint;
    page.onNotify = onNotify;
    page.onPartChanged = [](StepPage& p, std::intptr_t) -> StepPage::Result {
        if (p.window != nullptr) p.window->update();
        stpSlsFillTree(p);
        return 0;
    };
    page.onShow = [](StepPage& p, bool shown) {
        if (shown) stpSlsFillTree(p);
        return stpFrameworkOnShow(p, shown);
    };
    stpInstallProfileSlots(page);
}

}  // namespace qvp3
