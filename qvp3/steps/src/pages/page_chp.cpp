// The channels and instruments page: a list of the current entry's voices
// with channel and instrument, and two lists that change the chosen rows.
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QTableView>

#include <algorithm>

#include "chp_voice_model.h"
#include "page_chp.h"
#include "platform/midi_out.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/playback.h"
#include "qvp3_steps/page_events.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_steps/page_slots.h"
#include "qvp3_steps/page_workers.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/message_box.h"
#include "page_preview_link.h"
#include "voice_pages_common.h"

namespace qvp3 {

std::function<bool()> stpChpShiftHeld = [] {
    return (QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier) != 0;
};

namespace {

constexpr int kStrChannelCaption = 331;
constexpr int kStrInstrumentCaption = 332;
constexpr int kStrPercussionOnMelodicStave = 337;
constexpr int kRowHeight = 24;
constexpr int kMaxListWidth = 480;

ChpVoiceModel* modelOf(QTableView* view) { return view != nullptr ? dynamic_cast<ChpVoiceModel*>(view->model()) : nullptr; }

std::vector<int> selectedRows(QTableView& view) {
    std::vector<int> rows;
    for (const QModelIndex& index : view.selectionModel()->selectedRows()) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

QComboBox* makeCombo(QWidget* dialog, int id) {
    auto* combo = new QComboBox(dialog);
    qvp3ui::setControlId(*combo, id);
    combo->setFont(stpDescriptionFont());
    combo->setMaxVisibleItems(16);
    return combo;
}

QLabel* makeCaption(QWidget* dialog, int id, int stringId) {
    auto* caption = new QLabel(QString::fromStdString(qvp3ui::uiString(stringId)), dialog);
    qvp3ui::setControlId(*caption, id);
    caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    caption->setFont(stpDescriptionFont());
    return caption;
}

StepPage::Result onInitDialog(StepPage& page, QWidget* dialog, StepPage*) {
    if (dialog == nullptr) return 0;
    makeCaption(dialog, kChpChannelCaption, kStrChannelCaption);
    QComboBox* channel = makeCombo(dialog, kChpChannelCombo);
    for (int i = 1; i <= 16; ++i) channel->addItem(QString::number(i));
    channel->setCurrentIndex(0);
    makeCaption(dialog, kChpInstrumentCaption, kStrInstrumentCaption);
    QComboBox* instrument = makeCombo(dialog, kChpInstrumentCombo);
    stpFillInstrumentCombo(*instrument, 0);

    auto* view = new QTableView(dialog);
    qvp3ui::setControlId(*view, kChpVoiceList);
    view->setModel(new ChpVoiceModel(view));
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setShowGrid(true);
    view->setWordWrap(false);
    view->setFont(stpDescriptionFont());
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(QFontMetrics(stpDescriptionFont()).height() + 6);
    view->horizontalHeader()->setSectionsClickable(false);
    // The voice and the instrument share the width; the channel keeps a narrow column.
    view->horizontalHeader()->setMinimumSectionSize(40);
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    view->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Fixed);
    view->horizontalHeader()->resizeSection(1, 40);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);

    StepPage* self = &page;
    for (QComboBox* combo : {channel, instrument}) {
        QObject::connect(combo, &QComboBox::activated, combo, [self, combo] {
            if (self->onCommand) self->onCommand(*self, qvp3ui::controlId(*combo), combo, kChpSelectionChanged);
        });
    }
    QObject::connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, view, [self, view] {
        PageNotify notify{kChpVoiceList, kChpRowsChanged, view, 0};
        if (self->onNotify) self->onNotify(*self, notify);
    });
    return 1;
}

void onSize(StepPage& page) {
    auto* channelCaption = stpControl<QLabel>(page, kChpChannelCaption);
    auto* channel = stpControl<QComboBox>(page, kChpChannelCombo);
    auto* instrumentCaption = stpControl<QLabel>(page, kChpInstrumentCaption);
    auto* instrument = stpControl<QComboBox>(page, kChpInstrumentCombo);
    auto* view = stpControl<QTableView>(page, kChpVoiceList);
    if (!channelCaption || !channel || !instrumentCaption || !instrument || !view) return;
    QRect content;
    stpLayoutDescription(page, &content, nullptr);
    const QRect client = page.window->rect();
    const int top = content.top() + 30;
    // Captions as wide as their texts need: a translation may be longer.
    const int channelWidth = std::max(60, channelCaption->sizeHint().width());
    const int instrumentWidth = std::max(80, instrumentCaption->sizeHint().width());
    channelCaption->setGeometry(content.left(), top, channelWidth, kRowHeight);
    channel->setGeometry(channelCaption->geometry().right() + 11, top, 60, kRowHeight);
    instrumentCaption->setGeometry(channel->geometry().right() + 11, top, instrumentWidth, kRowHeight);
    instrument->setGeometry(instrumentCaption->geometry().right() + 11, top, 240, kRowHeight);
    const int listTop = top + kRowHeight + 10;
    const int width = std::min(client.right() - content.left() - 10, kMaxListWidth);
    view->setGeometry(content.left(), listTop, std::max(width, 0), std::max(client.bottom() - 20 - listTop, 0));
}

StepPage::Result onCtlColor(StepPage&, QPalette& palette, QWidget* widget) {
    if (widget == nullptr) return 0;
    const int id = qvp3ui::controlId(*widget);
    if (id != kChpChannelCaption && id != kChpInstrumentCaption) return 0;
    palette.setColor(QPalette::WindowText, kPageLabelText);
    return 1;
}

void sendShort(const ProjectEntry& entry, int status, int data1, int data2) {
    stpSendToPlayingEntry(entry, status, data1, data2);
}

// While the entry plays the change is heard at once.
void playSound(ProjectEntry& entry, int stave, int voice, int program) {
    if (!entry.isBusy()) return;
    if (entry.kind == EntryKind::Midi) {
        const int channel = stpChpVoiceChannel(entry, stave, voice);
        if (channel >= 0) sendShort(entry, 0xC0 | channel, program, 0);
    } else if (PlaybackControl* playback = stpPageHost()->playback()) {
        playback->plySetEngineVoiceSound(entry, stave, voice, program);
    }
}

void playChannel(ProjectEntry& entry, int stave, int voice, int channel) {
    if (!entry.isBusy()) return;
    if (entry.kind == EntryKind::Midi) {
        const VoicePlayRecord* record = entry.voiceRecord(stave, voice);
        if (record == nullptr) return;
        sendShort(entry, 0xB0 | channel, 7, record->volume);
        sendShort(entry, 0xB0 | channel, 10, record->panorama);
        sendShort(entry, 0xC0 | channel, std::min<int>(record->sound, 127), 0);
    } else if (PlaybackControl* playback = stpPageHost()->playback()) {
        playback->plySetEngineVoiceChannel(entry, stave, voice, channel);
    }
}

// A voice that plays percussion keeps its sounds: an instrument chosen for
// several rows reaches only the melodic ones.
bool playsPercussion(const ProjectEntry& entry, int stave, int voice) {
    if (entry.kind == EntryKind::Midi) return stpChpVoiceChannel(entry, stave, voice) == kChpPercussionChannel;
    return entry.isPercussionStave(stave);
}

void changeInstrument(ProjectEntry& entry, const std::vector<std::pair<int, int>>& voices, int program) {
    PipelineServices& pipeline = stpPageHost()->project().pipeline();
    for (const auto& [stave, voice] : voices) {
        if (playsPercussion(entry, stave, voice)) continue;
        pipeline.cnvEntrySetVoiceSound(entry, program, stave, voice);
        playSound(entry, stave, voice, program);
        stpPageEdited();
    }
}

void changeChannel(ProjectEntry& entry, const std::vector<std::pair<int, int>>& voices, int channel) {
    PipelineServices& pipeline = stpPageHost()->project().pipeline();
    for (const auto& [stave, voice] : voices) {
        pipeline.cnvEntrySetVoiceChannel(entry, voice, channel, stave);
        if (entry.kind == EntryKind::Midi) {
            const VoicePlayRecord* record = entry.voiceRecord(stave, voice);
            const int program = record != nullptr ? record->sound : 0;
            if (channel == kChpPercussionChannel) {
                pipeline.cnvEntrySetVoiceSound(entry, kChpPercussionProgram, stave, voice);
            } else if (program == kChpPercussionProgram) {
                pipeline.cnvEntrySetVoiceSound(entry, 0, stave, voice);
            }
            if (scorecore::CMidiInstr* instrument = entry.voiceInstrument(stave, voice)) {
                instrument->PercNote = channel == kChpPercussionChannel ? 0 : scorecore::CMidiInstr::kUnset;
            }
        }
        playChannel(entry, stave, voice, channel);
        stpPageEdited();
    }
}

StepPage::Result onCommand(StepPage& page, int id, QWidget* widget, int code) {
    const bool fromList = (id == kChpChannelCombo || id == kChpInstrumentCombo) && code == kChpSelectionChanged;
    if (!fromList) return 0;
    auto* combo = qobject_cast<QComboBox*>(widget);
    auto* view = stpControl<QTableView>(page, kChpVoiceList);
    ChpVoiceModel* model = modelOf(view);
    ProjectEntry* entry = stpCurrentEntry();
    if (combo == nullptr || model == nullptr || entry == nullptr || combo->currentIndex() < 0) return 0;
    const int selection = combo->currentIndex();
    std::vector<std::pair<int, int>> voices;
    if (stpChpShiftHeld()) {
        for (int row = 0; row < model->rowCount(); ++row) voices.push_back(model->voiceOf(row));
    } else {
        for (int row : selectedRows(*view)) voices.push_back(model->voiceOf(row));
    }
    if (id == kChpInstrumentCombo) {
        changeInstrument(*entry, voices, selection);
    } else {
        // A score plays channel 10 only on its percussion staves; nothing
        // changes when any chosen voice is melodic.
        const bool refused = isScoreKind(entry->kind) && selection == kChpPercussionChannel &&
                             std::any_of(voices.begin(), voices.end(),
                                         [&](const auto& sv) { return !entry->isPercussionStave(sv.first); });
        if (refused) {
            qvp3ui::appWarningBox(kStrPercussionOnMelodicStave);
            stpChpShowSelection(page);
            return 1;
        }
        changeChannel(*entry, voices, selection);
    }
    model->refresh();
    stpChpShowSelection(page);
    return 0;
}

StepPage::Result onNotify(StepPage& page, PageNotify& notify) {
    if (notify.controlId == kChpVoiceList && notify.code == kChpRowsChanged) stpChpShowSelection(page);
    return 0;
}

void showValue(QComboBox& combo, std::optional<int> value, int count) {
    combo.setCurrentIndex(value && *value >= 0 && *value < count ? *value : -1);
}

}  // namespace

int stpChpVoiceChannel(const ProjectEntry& entry, int stave, int voice) {
    if (const scorecore::CMidiInstr* instrument = entry.voiceInstrument(stave, voice);
        instrument != nullptr && instrument->Channel <= 15) {
        return instrument->Channel;
    }
    const VoicePlayRecord* record = entry.voiceRecord(stave, voice);
    return record != nullptr ? record->channel() : -1;
}

int stpChpVoiceProgram(const ProjectEntry& entry, int stave, int voice) {
    if (const VoicePlayRecord* record = entry.voiceRecord(stave, voice)) return record->sound;
    const scorecore::CMidiInstr* instrument = entry.voiceInstrument(stave, voice);
    return instrument != nullptr ? instrument->UserProgram : -1;
}

void stpChpFillList(StepPage& page) {
    auto* view = stpControl<QTableView>(page, kChpVoiceList);
    ChpVoiceModel* model = modelOf(view);
    if (static_cast<int>(page.category) != kStepChp || model == nullptr) return;
    StepPageHost* host = stpPageHost();
    ProjectEntry* entry = stpCurrentEntry();
    const bool usable = entry != nullptr && host->project().fileNum() > 0;
    for (int id : {kChpChannelCombo, kChpInstrumentCombo}) {
        if (auto* combo = stpControl<QComboBox>(page, id)) combo->setEnabled(usable);
    }
    view->setEnabled(usable);
    model->fill(usable ? entry : nullptr, usable ? host->project().pipeline().cnvEntryStaveCount(*entry) : 0);
    if (model->rowCount() > 0) {
        view->selectRow(0);
        view->setCurrentIndex(model->index(0, 0));
    }
}

void stpChpShowSelection(StepPage& page) {
    auto* channel = stpControl<QComboBox>(page, kChpChannelCombo);
    auto* instrument = stpControl<QComboBox>(page, kChpInstrumentCombo);
    auto* view = stpControl<QTableView>(page, kChpVoiceList);
    ChpVoiceModel* model = modelOf(view);
    if (static_cast<int>(page.category) != kStepChp || !channel || !instrument || model == nullptr) return;
    const ProjectEntry* entry = stpCurrentEntry();
    const std::vector<int> rows = entry != nullptr ? selectedRows(*view) : std::vector<int>{};
    channel->setEnabled(!rows.empty());
    instrument->setEnabled(!rows.empty());
    if (rows.empty()) return;
    std::optional<int> commonChannel, commonProgram;
    bool channelsDiffer = false, programsDiffer = false;
    for (int row : rows) {
        const auto [stave, voice] = model->voiceOf(row);
        const int c = stpChpVoiceChannel(*entry, stave, voice);
        const int p = stpChpVoiceProgram(*entry, stave, voice);
        channelsDiffer = channelsDiffer || (commonChannel && *commonChannel != c);
        programsDiffer = programsDiffer || (commonProgram && *commonProgram != p);
        commonChannel = c;
        commonProgram = p;
    }
    showValue(*channel, channelsDiffer ? std::nullopt : commonChannel, channel->count());
    showValue(*instrument, programsDiffer ? std::nullopt : commonProgram, instrument->count());
    if (rows.size() != 1) return;
    const int stave = model->voiceOf(rows.front()).first;
    if (entry->kind == EntryKind::Midi) {
        instrument->setEnabled(*commonChannel != kChpPercussionChannel);
    } else if (entry->isPercussionStave(stave)) {
        channel->setEnabled(false);
        instrument->setEnabled(false);
    }
}

void stpFillChpSlots(StepPage& page) {
    page.onInitDialog = onInitDialog;
    page.onSize = onSize;
    page.onCtlColor = onCtlColor;
    page.onCommand = onCommand;
    page.onNotify = onNotify;
    page.onPartChanged = [](StepPage& p, std::intptr_t) -> StepPage::Result {
        stpChpFillList(p);
        stpChpShowSelection(p);
        return 0;
    };
    page.onShow = [](StepPage& p, bool shown) {
        if (shown) {
            stpChpFillList(p);
            stpChpShowSelection(p);
        }
        return stpFrameworkOnShow(p, shown);
    };
    stpInstallProfileSlots(page);
}

}  // namespace qvp3
