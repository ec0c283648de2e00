#include "prc_lists.h"

#include "qvp3_pipeline/entry_model.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

QString stpPrcKeyText(int key) {
    if (key >= 35 && key <= 81) {
        const std::string name = qvp3ui::uiString(kStrFirstPercussionName + key);
        if (!name.empty()) return QString::fromStdString(name);
    }
    return QString::number(key);
}

void PrcStaveModel::fill(ProjectEntry* entry) {
    beginResetModel();
    rows_.clear();
    if (entry != nullptr && entry->project != nullptr) {
        PipelineServices& pipeline = entry->project->pipeline();
        const int staves = std::min(pipeline.cnvEntryStaveCount(*entry), static_cast<int>(entry->instruments.size()));
        for (int s = 0; s < staves; ++s) {
            if (!pipeline.cnvEntryIsPercussionStave(*entry, s)) continue;
            rows_.emplace_back(s, QStringLiteral("%1: %2").arg(s + 1).arg(QString::fromStdString(cnvEntryStaveName(*entry, s))));
        }
    }
    endResetModel();
}

int PrcStaveModel::stave(int row) const {
    return row >= 0 && row < static_cast<int>(rows_.size()) ? rows_[static_cast<std::size_t>(row)].first : -1;
}

int PrcStaveModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int PrcStaveModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 1; }

QVariant PrcStaveModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole || stave(index.row()) < 0) return {};
    return rows_[static_cast<std::size_t>(index.row())].second;
}

QVariant PrcStaveModel::headerData(int section, Qt::Orientation orientation, int role) const {
    return orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole ? QVariant(title_) : QVariant();
}

void PrcInstrumentModel::fill(ProjectEntry* entry, int stave) {
    beginResetModel();
    entry_ = entry;
    stave_ = stave;
    endResetModel();
}

std::vector<scorecore::CMidiInstr>* PrcInstrumentModel::records() const {
    if (entry_ == nullptr || stave_ < 0 || stave_ >= static_cast<int>(entry_->instruments.size())) return nullptr;
    return &entry_->instruments[static_cast<std::size_t>(stave_)];
}

int PrcInstrumentModel::key(int row) const {
    const auto* list = records();
    if (list == nullptr || row < 0 || row >= static_cast<int>(list->size())) return -1;
    const auto& record = (*list)[static_cast<std::size_t>(row)];
    return record.hasPercNote() ? record.PercNote : -1;
}

bool PrcInstrumentModel::setKey(int row, int key) {
    auto* list = records();
    if (list == nullptr || row < 0 || row >= static_cast<int>(list->size()) || key < 0 || key > 127) return false;
    (*list)[static_cast<std::size_t>(row)].PercNote = static_cast<std::uint8_t>(key);
    emit dataChanged(index(row, 0), index(row, 0));
    return true;
}

void PrcInstrumentModel::setTitles(QString key, QString name) {
    titles_[0] = std::move(key);
    titles_[1] = std::move(name);
}

int PrcInstrumentModel::rowCount(const QModelIndex& parent) const {
    const auto* list = records();
    return parent.isValid() || list == nullptr ? 0 : static_cast<int>(list->size());
}

int PrcInstrumentModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant PrcInstrumentModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole || index.row() >= rowCount()) return {};
    if (index.column() == 0) {
        const int mapped = key(index.row());
        return mapped < 0 ? QString() : stpPrcKeyText(mapped);
    }
    return QString::fromStdString((*records())[static_cast<std::size_t>(index.row())].InstrumentId);
}

QVariant PrcInstrumentModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section > 1 || role != Qt::DisplayRole) return {};
    return titles_[section];
}

}  // namespace qvp3
