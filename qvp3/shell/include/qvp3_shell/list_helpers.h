// Small helpers over combo boxes with images and over list models: an item's
// fields set again, its number (the item data) read back with -1 for "none",
// and a search for an item's text. Items are inserted with
// qvp3ui::scComboExInsertItem (qvp3_ui/ui_utils.h), which stores the number
// under the same role.
#pragma once

#include <QIcon>
#include <QString>

#include <cstdint>
#include <optional>

class QAbstractItemModel;
class QComboBox;

namespace qvp3 {

// The role that carries an item's number.
inline constexpr int kItemDataRole = Qt::UserRole;

// Sets the same fields of an existing item; false for an index out of range.
bool scComboExSetItem(QComboBox& combo, int index, const QString& text, const QIcon* icon,
                      std::optional<std::int64_t> data);
// The item's number; -1 for an index out of range or an item without one.
std::int64_t scComboExGetItemData(const QComboBox& combo, int index);

// The number of a list row (column 0); -1 for -1, a row out of range or a row without one.
std::int64_t scListViewGetItemData(const QAbstractItemModel& list, int row);
// The first row whose column-0 text is text (no regard to case), or begins
// with it when partial; -1 when none.
int scListViewFindItem(const QAbstractItemModel& list, const QString& text, bool partial);

}  // namespace qvp3
