// Small user-interface services the shell, the step pages and the dialogs
// share: the modeless wait window, the status lines of a page, and combo
// box items with a picture and a number.
#pragma once

#include <QIcon>
#include <QString>

#include <string>
#include <string_view>

class QComboBox;
class QProgressBar;
class QStandardItemModel;
class QWidget;

namespace qvp3ui {

// The wait window (one at a time): shown with a progress range; true when it
// was open already. The owner is the active window.
bool audShowWaitDialog(int range);
void audSetWaitDialogPosition(int position);
void audSetWaitDialogText(std::string_view text);
// Closes it (nothing when none is open).
void audCloseWaitDialog();
// The open wait window, or null.
QWidget* waitDialog();

// Appends a line to a page's status list: the language string, used as a
// format with text when text is given; replaceLast takes the place of the
// last line. The line's row.
int prjStatusListAddLine(QStandardItemModel& list, int stringId, const std::string* text, bool replaceLast,
                         const QIcon& icon = {});

// Combo box items with a picture and a number, as the extended combo boxes
// of the pages hold them.
void scComboExInsertItem(QComboBox& combo, int index, const QString& text, const QIcon& icon, qint64 data);
// The index of the first item whose number is value; -1 when none.
int audFindComboItemData(const QComboBox& combo, qint64 value);

}  // namespace qvp3ui
