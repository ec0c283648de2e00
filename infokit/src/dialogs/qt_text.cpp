#include "qt_text.h"

#include <QAbstractButton>

#include "diag_log.h"
#include "string_table.h"

namespace infokit {

QString tableText(int language, int number) { return qs(text(language, number)); }

int execLoggedBox(QMessageBox& box, DiagLog& log) {
    log.print("MsgBox (" + std::to_string(static_cast<int>(box.icon())) + "): " + us(box.text()));
    const int result = box.exec();
    log.print("MsgBox result = " + std::to_string(result));
    return result;
}

void setupBox(QMessageBox& box, int language, QMessageBox::Icon icon, const QString& caption, const QString& text,
              bool yesNo) {
    box.setIcon(icon);
    box.setWindowTitle(caption);
    box.setText(text);
    if (yesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.button(QMessageBox::Yes)->setText(tableText(language, txt::kYes));
        box.button(QMessageBox::No)->setText(tableText(language, txt::kNo));
        box.setDefaultButton(QMessageBox::Yes);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.button(QMessageBox::Ok)->setText(tableText(language, txt::kOk));
    }
}

}  // namespace infokit
