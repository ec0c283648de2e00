#include "about_box.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBrowser>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "diag_log.h"
#include "logging_dialog.h"
#include "qt_text.h"
#include "string_table.h"

namespace infokit {
namespace {

using F = AboutRecord::Field;

QLabel* label(QWidget* parent, const char* name, const QString& text) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setWordWrap(true);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    l->setVisible(!text.isEmpty());
    return l;
}

QString linkTarget(const QString& link) {
    if (link.contains('@') && !link.contains("://") && !link.startsWith("mailto:")) return "mailto:" + link;
    if (!link.contains("://") && !link.startsWith("mailto:")) return "https://" + link;
    return link;
}

}  // namespace

AboutBox::AboutBox(const AboutRecord& record, int language, DiagLog& log, QWidget* owner)
    : QDialog(owner), record_(record), language_(language), log_(log) {
    setObjectName("AboutBox");
    const QString name = qs(record.texts[F::ProgName]);
    setWindowTitle(qs(formatText(language, txt::kAboutTitle, {us(name)})));
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    layout->addWidget(makeHeader());
    layout->addWidget(makeAddress());
    layout->addWidget(makeLinks());
    credits_ = new QTextBrowser(this);
    credits_->setObjectName("credits");
    QString credits = qs(record.texts[F::CopyrightEx1]);
    for (const QString& part : {qs(record.texts[F::CopyrightEx2]), tableText(language, txt::kCredit1),
                                tableText(language, txt::kCredit2)}) {
        if (!part.isEmpty()) credits += (credits.isEmpty() ? "" : "\n\n") + part;
    }
    credits_->setPlainText(credits);
    credits_->setMinimumHeight(140);
    credits_->hide();
    layout->addWidget(credits_);
    layout->addWidget(makeButtons());
    setMinimumWidth(440);
}

QWidget* AboutBox::makeHeader() {
    auto* box = new QWidget(this);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    QLabel* name = label(box, "programName", qs(record_.texts[F::ProgName]));
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    name->setFont(big);
    layout->addWidget(name);
    const QString authors = qs(record_.texts[F::Authors]);
    layout->addWidget(label(box, "authors", authors.isEmpty() ? QString() : tableText(language_, txt::kAuthors) + " " + authors));
    layout->addWidget(label(box, "copyright", qs(record_.texts[F::CopyrightText])));
    return box;
}

QWidget* AboutBox::makeAddress() {
    auto* box = new QWidget(this);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    const std::pair<const char*, F> lines[] = {
        {"company", F::Company}, {"street", F::Street}, {"city", F::City}, {"phone", F::Phone}};
    bool any = false;
    for (const auto& [name, field] : lines) {
        layout->addWidget(label(box, name, qs(record_.texts[field])));
        any = any || !record_.texts[field].empty();
    }
    box->setVisible(any);
    return box;
}

QWidget* AboutBox::makeLinks() {
    auto* box = new QWidget(this);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    const std::tuple<const char*, F, int> links[] = {{"urlMaker", F::UrlMaker, txt::kWebSite},
                                                     {"urlInfo", F::UrlInfo, txt::kInformation},
                                                     {"urlSupport", F::UrlSupport, txt::kSupport},
                                                     {"urlUplift", F::UrlUplift, txt::kUpdatePage},
                                                     {"urlUpdate", F::UrlUpdate, 0}};
    for (const auto& [name, field, caption] : links) {
        const QString link = qs(record_.texts[field]);
        const QString shown = caption != 0 ? tableText(language_, caption) + ": " + link.toHtmlEscaped()
                                           : link.toHtmlEscaped();
        QLabel* l = label(box, name, link.isEmpty() ? QString()
                                                    : "<a href=\"" + linkTarget(link).toHtmlEscaped() + "\">" + shown + "</a>");
        l->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        connect(l, &QLabel::linkActivated, this, [this](const QString& target) { openLink(target); });
        layout->addWidget(l);
    }
    return box;
}

QWidget* AboutBox::makeButtons() {
    auto* box = new QWidget(this);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* menuButton = new QToolButton(box);
    menuButton->setObjectName("menuButton");
    menuButton->setText(tableText(language_, txt::kDetails));
    menuButton->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(menuButton);
    if (!record_.texts[F::FileVersionsText].empty() || record_.fileVersionsProc != nullptr) {
        menu->addAction(tableText(language_, txt::kFileVersionsItem), this, [this] { showFileVersions(); })
            ->setObjectName("fileVersionsAction");
    }
    menu->addAction(tableText(language_, txt::kLoggingItem), this, [this] { showLogging(); })
        ->setObjectName("loggingAction");
    menuButton->setMenu(menu);
    layout->addWidget(menuButton);
    more_ = new QPushButton(tableText(language_, txt::kMore), box);
    more_->setObjectName("moreButton");
    more_->setAutoDefault(false);
    connect(more_, &QPushButton::clicked, this, [this] { toggleMore(); });
    layout->addWidget(more_);
    layout->addStretch();
    auto* ok = new QPushButton(tableText(language_, txt::kOk), box);
    ok->setObjectName("okButton");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok);
    return box;
}

void AboutBox::toggleMore() {
    credits_->setVisible(!credits_->isVisible());
    more_->setText(tableText(language_, credits_->isVisible() ? txt::kLess : txt::kMore));
    adjustSize();
}

void AboutBox::openLink(const QString& link) {
    if (link.startsWith("mailto:")) log_.print("Logging dlg - e-mail call");
    QDesktopServices::openUrl(QUrl(link));
}

void AboutBox::showFileVersions() {
    if (record_.fileVersionsProc != nullptr) {
        record_.fileVersionsProc(reinterpret_cast<const ikAboutRecord*>(&record_));
        return;
    }
    QDialog* dialog = makeFileVersionsDialog(qs(record_.texts[F::FileVersionsText]), language_, this);
    dialog->exec();
    delete dialog;
}

void AboutBox::showLogging() {
    LoggingDialog dialog(log_, language_, this);
    dialog.exec();
}

QDialog* makeFileVersionsDialog(const QString& text, int language, QWidget* owner) {
    auto* dialog = new QDialog(owner);
    dialog->setObjectName("ABOUTFILES");
    dialog->setWindowTitle(tableText(language, txt::kFileVersionsTitle));
    auto* layout = new QVBoxLayout(dialog);
    auto* list = new QPlainTextEdit(dialog);
    list->setObjectName("fileVersions");
    list->setReadOnly(true);
    list->setPlainText(text);
    list->setTabStopDistance(list->fontMetrics().horizontalAdvance(QString(22, 'x')));
    list->setMinimumSize(460, 220);
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    buttons->button(QDialogButtonBox::Close)->setText(tableText(language, txt::kClose));
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
    return dialog;
}

}  // namespace infokit
