// The LOGGING dialog: switches the diagnostic log on or off, says where it
// is written and offers to send it by e-mail.
#pragma once

#include <QDialog>

class QCheckBox;

namespace infokit {

class DiagLog;

class LoggingDialog : public QDialog {
public:
    LoggingDialog(DiagLog& log, int language, QWidget* owner);

private:
    void apply();

    DiagLog& log_;
    QCheckBox* check_ = nullptr;
    bool wasOn_ = false;
};

}  // namespace infokit
