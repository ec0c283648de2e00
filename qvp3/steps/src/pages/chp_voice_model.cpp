#include "chp_voice_model.h"

#include "page_chp.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

namespace {

constexpr int kStrChannelColumn = 334;
constexpr int kStrInstrumentColumn = 335;
constexpr int kStrPercussion = 336;

}  // namespace

ChpVoiceModel::ChpVoiceModel(QObject* parent) : QAbstractTableModel(parent) {}

void ChpVoiceModel::fill(const ProjectEntry* entry, int staves) {
    beginResetModel();
    entry_ = entry;
    rows_.clear();
    if (entry != nullptr) {
        cnvSetListColumnTitle(*entry, rows_);
        // The counts come from the project file: only voices the entry has are asked for.
        const int known = std::min(staves, static_cast<int>(entry->voiceCounts.size()));
        for (int s = 0; s < known; ++s) {
            for (int v = 0; v < entry->voiceCounts[static_cast<std::size_t>(s)]; ++v) {
                cnvFillVoiceList(*entry, s, v, rows_, rows_.rowCount());
            }
        }
    }
    endResetModel();
}

void ChpVoiceModel::refresh() {
    if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

std::pair<int, int> ChpVoiceModel::voiceOf(int row) const {
    const QStandardItem* item = rows_.item(row);
    if (item == nullptr) return {-1, -1};
    const auto packed = static_cast<unsigned>(item->data(kVoiceRowDataRole).toInt());
    return {static_cast<int>(packed & 0xFFFF), static_cast<int>(packed >> 16)};
}

int ChpVoiceModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_.rowCount(); }

int ChpVoiceModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant ChpVoiceModel::data(const QModelIndex& index, int role) const {
    if (entry_ == nullptr || !index.isValid() || index.row() >= rows_.rowCount()) return {};
    const auto [stave, voice] = voiceOf(index.row());
    if (index.column() == 0) {
        if (role == Qt::DisplayRole) return rows_.item(index.row())->text();
        return {};
    }
    if (index.column() == 1) {
        if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        if (role != Qt::DisplayRole) return {};
        const int channel = stpChpVoiceChannel(*entry_, stave, voice);
        return channel < 0 ? QString() : QString::number(channel + 1);
    }
    if (role != Qt::DisplayRole) return {};
    if (entry_->isPercussionStave(stave)) return QString::fromStdString(qvp3ui::uiString(kStrPercussion));
    const int program = stpChpVoiceProgram(*entry_, stave, voice);
    if (program < 0 || program > 127) return QString();
    return QString::fromStdString(qvp3ui::uiString(kStrFirstInstrument + program));
}

QVariant ChpVoiceModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case 0: {
        const QStandardItem* title = rows_.horizontalHeaderItem(0);
        return title != nullptr ? title->text() : QString::fromStdString(qvp3ui::uiString(kStrStaveColumn));
    }
    case 1: return QString::fromStdString(qvp3ui::uiString(kStrChannelColumn));
    case 2: return QString::fromStdString(qvp3ui::uiString(kStrInstrumentColumn));
    default: return {};
    }
}

}  // namespace qvp3
