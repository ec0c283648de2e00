#include "qvp3_ui/ui_utils.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QStandardItemModel>
#include <QStyle>
#include <QVBoxLayout>

#include "qvp3_ui/controls.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/message_box.h"
#include "qvp3_ui/wait_dialog.h"

namespace qvp3ui {

namespace {

constexpr int kStrCopyWait = 141;

QPointer<WaitDialog> g_wait;

}  // namespace

WaitDialog::WaitDialog(QWidget* parent) : QDialog(parent) {
    setControlId(*this, kWaitDialogId);
    auto* layout = new QHBoxLayout(this);
    auto* icon = new QLabel(this);
    setControlId(*icon, kWaitIconId);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    layout->addWidget(icon);
    auto* column = new QVBoxLayout;
    text_ = new QLabel(QString::fromStdString(uiString(kStrCopyWait)), this);
    setControlId(*text_, kWaitTextId);
    text_->setMinimumWidth(300);
    text_->hide();
    column->addWidget(text_);
    progress_ = new QProgressBar(this);
    setControlId(*progress_, kWaitProgressId);
    column->addWidget(progress_);
    layout->addLayout(column);
    setModal(false);
}

bool audShowWaitDialog(int range) {
    const bool existed = !g_wait.isNull();
    if (!existed) {
        g_wait = new WaitDialog(QApplication::activeWindow());
        g_wait->setAttribute(Qt::WA_DeleteOnClose);
        g_wait->setWindowTitle(QString::fromStdString(programTitle()));
        g_wait->textLabel()->show();
        g_wait->show();
    }
    g_wait->progressBar()->setRange(0, range);
    QApplication::processEvents();
    return existed;
}

void audSetWaitDialogPosition(int position) {
    if (g_wait) g_wait->progressBar()->setValue(position);
}

void audSetWaitDialogText(std::string_view text) {
    if (g_wait) g_wait->textLabel()->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void audCloseWaitDialog() {
    if (g_wait) g_wait->close();
    g_wait = nullptr;
}

QWidget* waitDialog() { return g_wait; }

int prjStatusListAddLine(QStandardItemModel& list, int stringId, const std::string* text, bool replaceLast,
                         const QIcon& icon) {
    const LanguageModule* lang = language();
    std::string line;
    if (lang) line = text ? lang->format(stringId, {std::string_view(*text)}) : lang->string(stringId);
    if (replaceLast && list.rowCount() > 0) list.removeRow(list.rowCount() - 1);
    auto* item = new QStandardItem(icon, QString::fromStdString(line));
    item->setEditable(false);
    list.appendRow(item);
    return list.rowCount() - 1;
}

void scComboExInsertItem(QComboBox& combo, int index, const QString& text, const QIcon& icon, qint64 data) {
    combo.insertItem(index < 0 ? combo.count() : index, icon, text, QVariant::fromValue(data));
}

int audFindComboItemData(const QComboBox& combo, qint64 value) {
    for (int i = 0; i < combo.count(); ++i) {
        if (combo.itemData(i).toLongLong() == value) return i;
    }
    return -1;
}

}  // namespace qvp3ui
