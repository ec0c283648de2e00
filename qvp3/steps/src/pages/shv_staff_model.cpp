#include "shv_staff_model.h"

#include "qvp3_pipeline/entry_model.h"

namespace qvp3 {

int stpShvStepVelocity(int value, bool relative, bool raise, bool shift) {
    const int minimum = relative ? -100 : 0;
    const int maximum = relative ? 100 : 127;
    const int step = shift ? 10 : 1;
    if (raise) {
        if (value >= maximum) return minimum;
        return std::min(value + step, maximum);
    }
    if (value <= minimum) return maximum;
    return std::max(value - step, minimum);
}

void ShvStaffModel::fill(const ProjectEntry* entry) {
    beginResetModel();
    filling_ = true;
    rows_.clear();
    if (entry != nullptr) {
        // The stave count may come from a project file; only staves with a
        // velocity record are listed.
        const std::size_t records = std::min(entry->staffVelocity.size(), entry->staffVelocityRelative.size());
        for (std::size_t s = 0; s < records; ++s) {
            const int stave = static_cast<int>(s);
            if (!entry->states.isStaffVisible(stave) || entry->states.isStaffInvalid(stave)) continue;
            const bool relative = entry->staffVelocityRelative[s] != 0;
            const int velocity = entry->staffVelocity[s];
            rows_.push_back(Row{stave, relative, relative ? velocity : std::abs(velocity),
                                QStringLiteral("%1: %2").arg(stave + 1).arg(QString::fromStdString(
                                                                              cnvEntryStaveName(*entry, stave)))});
        }
    }
    filling_ = false;
    endResetModel();
}

void ShvStaffModel::clear() { fill(nullptr); }

void ShvStaffModel::setTitles(QString check, QString name, QString value) {
    titles_[0] = std::move(check);
    titles_[1] = std::move(name);
    titles_[2] = std::move(value);
    emit headerDataChanged(Qt::Horizontal, 0, 2);
}

int ShvStaffModel::stave(int row) const { return valid(row) ? rows_[static_cast<std::size_t>(row)].stave : -1; }
bool ShvStaffModel::relative(int row) const { return valid(row) && rows_[static_cast<std::size_t>(row)].relative; }
int ShvStaffModel::value(int row) const { return valid(row) ? rows_[static_cast<std::size_t>(row)].value : 0; }

void ShvStaffModel::setRow(int row, bool relative, int value) {
    if (!valid(row)) return;
    rows_[static_cast<std::size_t>(row)].relative = relative;
    rows_[static_cast<std::size_t>(row)].value = value;
    emit dataChanged(index(row, kCheckColumn), index(row, kValueColumn));
}

int ShvStaffModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ShvStaffModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant ShvStaffModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !valid(index.row())) return {};
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    switch (index.column()) {
    case kCheckColumn:
        if (role == Qt::CheckStateRole) return row.relative ? Qt::Checked : Qt::Unchecked;
        return {};
    case kNameColumn: return role == Qt::DisplayRole ? QVariant(row.name) : QVariant();
    case kValueColumn:
        if (role == Qt::DisplayRole) return QString::number(row.value);
        if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    default: return {};
    }
}

bool ShvStaffModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || !valid(index.row()) || index.column() != kCheckColumn || role != Qt::CheckStateRole) {
        return false;
    }
    const bool relative = value.toInt() == Qt::Checked;
    Row& row = rows_[static_cast<std::size_t>(index.row())];
    if (row.relative == relative) return true;
    row.relative = relative;
    emit dataChanged(index, index);
    if (!filling_ && toggled_) toggled_(index.row(), relative);
    return true;
}

Qt::ItemFlags ShvStaffModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.column() == kCheckColumn) flags |= Qt::ItemIsUserCheckable;
    return flags;
}

QVariant ShvStaffModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section > 2 || role != Qt::DisplayRole) return {};
    return titles_[section];
}

}  // namespace qvp3
