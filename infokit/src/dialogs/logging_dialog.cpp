#include "logging_dialog.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QUrlQuery>
#include <QVBoxLayout>

#include "diag_log.h"
#include "qt_text.h"
#include "string_table.h"

namespace infokit {

LoggingDialog::LoggingDialog(DiagLog& log, int language, QWidget* owner) : QDialog(owner), log_(log) {
    setObjectName("LOGGING");
    setWindowTitle(tableText(language, txt::kLoggingCaption));
    wasOn_ = log.isOn();
    auto* layout = new QVBoxLayout(this);
    check_ = new QCheckBox(tableText(language, txt::kLoggingCheck), this);
    check_->setObjectName("loggingCheck");
    check_->setChecked(wasOn_);
    layout->addWidget(check_);
    for (int number : {txt::kLoggingExplain, txt::kLoggingUntilRestart}) {
        auto* note = new QLabel(tableText(language, number), this);
        note->setWordWrap(true);
        layout->addWidget(note);
    }
    const QString path = QString::fromStdString(log.logFile().string());
    auto* file = new QLabel(tableText(language, txt::kLogFileLabel) + " " + path, this);
    file->setObjectName("logPath");
    file->setWordWrap(true);
    file->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(file);
    auto* mail = new QLabel("<a href=\"mail\">" + tableText(language, txt::kSendLog).toHtmlEscaped() + "</a>", this);
    mail->setObjectName("sendLog");
    connect(mail, &QLabel::linkActivated, this, [this, path] {
        QUrl url("mailto:");
        QUrlQuery query;
        query.addQueryItem("subject", QFileInfo(path).fileName());
        query.addQueryItem("body", QFileInfo(path).fileName());
        query.addQueryItem("attachment", path);
        url.setQuery(query);
        log_.print("Logging dlg - e-mail call");
        QDesktopServices::openUrl(url);
    });
    layout->addWidget(mail);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tableText(language, txt::kOk));
    buttons->button(QDialogButtonBox::Cancel)->setText(tableText(language, txt::kCancel));
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        apply();
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    setMinimumWidth(460);
}

void LoggingDialog::apply() {
    if (check_->isChecked() == wasOn_) return;
    if (check_->isChecked()) {
        log_.switchOn();
    } else {
        log_.switchOff(true);
    }
}

}  // namespace infokit
