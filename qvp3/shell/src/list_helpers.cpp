#include "qvp3_shell/list_helpers.h"

#include <QAbstractItemModel>
#include <QComboBox>

namespace qvp3 {
namespace {

std::int64_t numberOf(const QVariant& value) {
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    return value.isValid() && ok ? number : -1;
}

}  // namespace

bool scComboExSetItem(QComboBox& combo, int index, const QString& text, const QIcon* icon,
                      std::optional<std::int64_t> data) {
    if (index < 0 || index >= combo.count()) return false;
    combo.setItemText(index, text);
    if (icon != nullptr) combo.setItemIcon(index, *icon);
    if (data) combo.setItemData(index, QVariant::fromValue<qlonglong>(*data), kItemDataRole);
    return true;
}

std::int64_t scComboExGetItemData(const QComboBox& combo, int index) {
    if (index < 0 || index >= combo.count()) return -1;
    return numberOf(combo.itemData(index, kItemDataRole));
}

std::int64_t scListViewGetItemData(const QAbstractItemModel& list, int row) {
    if (row < 0 || row >= list.rowCount()) return -1;
    return numberOf(list.index(row, 0).data(kItemDataRole));
}

int scListViewFindItem(const QAbstractItemModel& list, const QString& text, bool partial) {
    for (int row = 0; row < list.rowCount(); ++row) {
        const QString item = list.index(row, 0).data(Qt::DisplayRole).toString();
        if (partial ? item.startsWith(text, Qt::CaseInsensitive) : item.compare(text, Qt::CaseInsensitive) == 0) {
            return row;
        }
    }
    return -1;
}

}  // namespace qvp3
