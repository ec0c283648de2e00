#include "qvp3_dialogs/dialog_support.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QPushButton>
#include <QFileDialog>
#include <QPalette>
#include <QPointer>

#include "qvp3_dialogs/dialog_strings.h"
#include "qvp3_ui/message_box.h"

namespace qvp3::dlg {

namespace {

FolderResponder& folderResponder() {
    static FolderResponder responder;
    return responder;
}
FileResponder& fileResponder() {
    static FileResponder responder;
    return responder;
}
HelpHandler& helpHandler() {
    static HelpHandler handler;
    return handler;
}
QPointer<QWidget>& active() {
    static QPointer<QWidget> widget;
    return widget;
}

ActivationHandler& activationHandler() {
    static ActivationHandler handler;
    return handler;
}

void setActive(QWidget* widget) {
    active() = widget;
    if (activationHandler()) activationHandler()(widget);
}

// Keeps activeDialog() on the dialog while it is the active window.
class ActivationFilter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget != nullptr && event->type() == QEvent::WindowActivate) setActive(widget);
        if (widget != nullptr && event->type() == QEvent::WindowDeactivate && active() == widget) setActive(nullptr);
        return false;
    }
};

}  // namespace

QString text(int id) { return QString::fromStdString(qvp3ui::uiString(id)); }

QString textFormat(int id, std::initializer_list<qvp3ui::FormatArg> args) {
    const qvp3ui::LanguageModule* language = qvp3ui::language();
    return language != nullptr ? QString::fromStdString(language->format(id, args)) : QString();
}

QDialogButtonBox* makeButtonRow(QDialog& dialog, std::string_view helpTopic, const QString& okText, bool withCancel) {
    auto* buttons = new QDialogButtonBox(&dialog);
    auto* ok = makeControl<QPushButton>(&dialog, 1, okText);
    ok->setDefault(true);
    buttons->addButton(ok, QDialogButtonBox::AcceptRole);
    if (withCancel) buttons->addButton(makeControl<QPushButton>(&dialog, 2, text(kStrCancel)), QDialogButtonBox::RejectRole);
    auto* help = makeControl<QPushButton>(&dialog, 9, text(kStrHelp));
    buttons->addButton(help, QDialogButtonBox::HelpRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(help, &QPushButton::clicked, &dialog, [topic = std::string(helpTopic)] { showHelp(topic); });
    return buttons;
}

void setTextColour(QWidget& widget, int red, int green, int blue, bool whiteBackground) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, QColor(red, green, blue));
    if (whiteBackground) {
        palette.setColor(QPalette::Window, Qt::white);
        widget.setAutoFillBackground(true);
    }
    widget.setPalette(palette);
}

std::optional<std::filesystem::path> browseForFolder(QWidget* parent, const QString& title,
                                                     const std::filesystem::path& start) {
    if (folderResponder()) return folderResponder()(title);
    const QString chosen = QFileDialog::getExistingDirectory(parent, title, QString::fromStdString(start.string()));
    if (chosen.isNull()) return std::nullopt;
    return std::filesystem::path(chosen.toStdString());
}

std::optional<std::filesystem::path> chooseFile(QWidget* parent, const QString& filterText, const QString& title,
                                                const std::filesystem::path& start, const QString& pattern) {
    if (fileResponder()) return fileResponder()(title);
    const QString chosen = QFileDialog::getOpenFileName(parent, title, QString::fromStdString(start.string()),
                                                        filterText + " (" + pattern + ")");
    if (chosen.isEmpty()) return std::nullopt;
    return std::filesystem::path(chosen.toStdString());
}

void showHelp(std::string_view topic) {
    if (helpHandler()) helpHandler()(topic);
}

void setHelpHandler(HelpHandler handler) { helpHandler() = std::move(handler); }

void setFolderResponder(FolderResponder responder) { folderResponder() = std::move(responder); }
void setFileResponder(FileResponder responder) { fileResponder() = std::move(responder); }

QWidget* activeDialog() { return active(); }

void setActivationHandler(ActivationHandler handler) { activationHandler() = std::move(handler); }

void trackActivation(QWidget& dialog) { dialog.installEventFilter(new ActivationFilter(&dialog)); }

}  // namespace qvp3::dlg
