// Texts of the string table for Qt widgets, and the message boxes the
// library shows (each written to the diagnostic log with its answer).
#pragma once

#include <QMessageBox>
#include <QString>
#include <string>
#include <string_view>

namespace infokit {

class DiagLog;

inline QString qs(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
inline std::string us(const QString& text) { return text.toUtf8().toStdString(); }

// Text `number` (English numbering) in the language.
QString tableText(int language, int number);

// Shows a message box modally; the box's type and text go to the log before,
// the answer after.
int execLoggedBox(QMessageBox& box, DiagLog& log);

// A message box in the library's language (its Yes, No and OK buttons too).
void setupBox(QMessageBox& box, int language, QMessageBox::Icon icon, const QString& caption, const QString& text,
              bool yesNo);

}  // namespace infokit
