#include "update_dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "diag_log.h"
#include "qt_text.h"
#include "string_table.h"

namespace infokit {
namespace {

QMessageBox::Icon boxIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Warning: return QMessageBox::Warning;
        case MessageIcon::Error: return QMessageBox::Critical;
        case MessageIcon::Question: return QMessageBox::Question;
        default: return QMessageBox::Information;
    }
}

}  // namespace

std::unique_ptr<QMessageBox> makeQuestionBox(const std::string& text, const std::string& caption, int language,
                                             bool withDontAsk, QWidget* owner) {
    auto box = std::make_unique<QMessageBox>(owner);
    setupBox(*box, language, QMessageBox::Question, qs(caption), qs(text), true);
    if (withDontAsk) box->setCheckBox(new QCheckBox(tableText(language, txt::kDontAskAgain)));
    return box;
}

std::unique_ptr<QDialog> makeSearchingDialog(const std::string& text, QWidget* owner) {
    auto dialog = std::make_unique<QDialog>(owner);
    dialog->setObjectName("CHECKUPLIFT");
    dialog->setWindowTitle(qs(text).section('\n', 0, 0));
    auto* layout = new QVBoxLayout(dialog.get());
    auto* label = new QLabel(qs(text), dialog.get());
    layout->addWidget(label);
    auto* bar = new QProgressBar(dialog.get());
    bar->setRange(0, 0);
    layout->addWidget(bar);
    dialog->setMinimumWidth(360);
    return dialog;
}

std::unique_ptr<QDialog> makeOfferDialog(const std::string& caption, int heading, const std::string& text,
                                         const std::string& link, bool withCancel, int language, QWidget* owner) {
    auto dialog = std::make_unique<QDialog>(owner);
    dialog->setObjectName(withCancel ? "NOUPLIFT" : "NEWVERSION");
    dialog->setWindowTitle(qs(caption));
    auto* layout = new QVBoxLayout(dialog.get());
    auto* title = new QLabel(tableText(language, heading), dialog.get());
    QFont bold = title->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    title->setFont(bold);
    layout->addWidget(title);
    auto* body = new QLabel(qs(text), dialog.get());
    body->setObjectName("hint");
    body->setWordWrap(true);
    layout->addWidget(body);
    auto* anchor = new QLabel("<a href=\"" + qs(link).toHtmlEscaped() + "\">" + qs(link).toHtmlEscaped() + "</a>",
                              dialog.get());
    anchor->setObjectName("link");
    anchor->setVisible(!link.empty());
    QObject::connect(anchor, &QLabel::linkActivated, anchor, [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); });
    layout->addWidget(anchor);
    auto* buttons = new QDialogButtonBox(withCancel ? QDialogButtonBox::Ok | QDialogButtonBox::Cancel : QDialogButtonBox::Ok,
                                         dialog.get());
    buttons->button(QDialogButtonBox::Ok)->setText(tableText(language, txt::kOk));
    if (withCancel) buttons->button(QDialogButtonBox::Cancel)->setText(tableText(language, txt::kCancel));
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog.get(), &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog.get(), &QDialog::reject);
    layout->addWidget(buttons);
    dialog->setMinimumWidth(420);
    return dialog;
}

DownloadProgressDialog::DownloadProgressDialog(const std::string& title, const std::string& text, int language,
                                               QWidget* owner)
    : QDialog(owner), language_(language) {
    setObjectName("25");
    setWindowTitle(qs(title));
    auto* layout = new QVBoxLayout(this);
    text_ = new QLabel(qs(text), this);
    text_->setObjectName("48");
    layout->addWidget(text_);
    bar_ = new QProgressBar(this);
    bar_->setObjectName("47");
    bar_->setRange(0, 1);
    bar_->setValue(0);
    layout->addWidget(bar_);
    auto* row = new QHBoxLayout;
    row->addStretch();
    button_ = new QPushButton(tableText(language, txt::kCancel), this);
    button_->setObjectName("2");
    connect(button_, &QPushButton::clicked, this, [this] { pressButton(); });
    row->addWidget(button_);
    layout->addLayout(row);
    setMinimumWidth(420);
    timer_.setInterval(100);
    connect(&timer_, &QTimer::timeout, this, [this] { refresh(); });
}

DownloadProgressDialog::~DownloadProgressDialog() {
    cancel_ = true;
    if (worker_.joinable()) worker_.join();
}

void DownloadProgressDialog::start(DownloadJob job) {
    worker_ = std::thread([this, job = std::move(job)] {
        result_ = job(*this);
        done_ = true;
    });
    timer_.start();
}

bool DownloadProgressDialog::finish() {
    if (worker_.joinable()) worker_.join();
    timer_.stop();
    return result_;
}

void DownloadProgressDialog::setText(const std::string& text) {
    std::lock_guard lock(mutex_);
    pendingText_ = text;
    changed_ = true;
}

void DownloadProgressDialog::setProgress(int position, int range) {
    std::lock_guard lock(mutex_);
    position_ = position;
    range_ = range;
    changed_ = true;
}

void DownloadProgressDialog::refresh() {
    {
        std::lock_guard lock(mutex_);
        if (changed_ && !cancel_) {
            if (!pendingText_.empty()) text_->setText(qs(pendingText_));
            bar_->setRange(0, std::max(range_, 1));
            bar_->setValue(std::min(position_, std::max(range_, 1)));
        }
        changed_ = false;
    }
    if (done_ && !cancel_) {
        timer_.stop();
        accept();
    }
}

void DownloadProgressDialog::pressButton() {
    if (!cancel_) {
        cancel_ = true;
        button_->setText(tableText(language_, txt::kOk));
        text_->setText(tableText(language_, txt::kDownloadCancelled));
        return;
    }
    QDialog::reject();
}

void DownloadProgressDialog::reject() {
    // Escape and the close box act as the button does.
    pressButton();
}

QtUpdateUi::Answer QtUpdateUi::askWithDontAsk(const std::string& text, const std::string& caption) {
    const auto box = makeQuestionBox(text, caption, language_, true, owner_);
    const bool yes = execLoggedBox(*box, log_) == QMessageBox::Yes;
    return {yes, box->checkBox()->isChecked()};
}

bool QtUpdateUi::askYesNo(const std::string& text, const std::string& caption) {
    const auto box = makeQuestionBox(text, caption, language_, false, owner_);
    return execLoggedBox(*box, log_) == QMessageBox::Yes;
}

void QtUpdateUi::message(const std::string& text, const std::string& caption, MessageIcon icon) {
    QMessageBox box(owner_);
    setupBox(box, language_, boxIcon(icon), qs(caption), qs(text), false);
    execLoggedBox(box, log_);
}

void QtUpdateUi::setSearching(bool on, const std::string& text) {
    if (on && !searching_) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        searching_ = makeSearchingDialog(text, owner_);
        searching_->show();
        QApplication::processEvents();
    } else if (!on && searching_) {
        searching_.reset();
        QApplication::restoreOverrideCursor();
    }
}

void QtUpdateUi::showNewVersion(const std::string& caption, const std::string& hint, const std::string& link) {
    log_.print("NewVersion-Dialog");
    log_.print(" Hint = " + hint);
    log_.print(" Link = " + link);
    makeOfferDialog(caption, txt::kNewerVersionTitle, hint, link, false, language_, owner_)->exec();
}

bool QtUpdateUi::showOnlyFull(const std::string& caption, const std::string& text, const std::string& link) {
    return makeOfferDialog(caption, txt::kFullVersionTitle, text, link, true, language_, owner_)->exec() ==
           QDialog::Accepted;
}

bool QtUpdateUi::runDownload(const std::string& title, const std::string& text, DownloadJob job) {
    DownloadProgressDialog dialog(title, text, language_, owner_);
    dialog.start(std::move(job));
    const bool accepted = dialog.exec() == QDialog::Accepted;
    const bool result = dialog.finish();
    if (owner_ != nullptr) {
        owner_->raise();
        owner_->activateWindow();
    }
    return accepted && result;
}

}  // namespace infokit
