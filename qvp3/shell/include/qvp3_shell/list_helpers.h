// Small helpers over combo boxes with images and over list models: items
// with an icon and a number of their own (the item data), the data read back
// with -1 for "none", and a search for an item's text.
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

// Inserts text before index (at the end for -1 or past the end) with the
// icon when one is given and the number when one is given; the item's index.
int scComboExInsertItem(QComboBox& combo, int index, const QString& text, const QIcon* icon,
                        std::optional<std::int64_t> data);
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
