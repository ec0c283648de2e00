#include "qvp3_ui/ui_utils.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include "qvp3_ui/controls.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/message_box.h"

namespace qvp3ui {

namespace {

// The wait window's ids: its text 284 and its progress 286.
constexpr int kWaitText = 284;
constexpr int kWaitProgress = 286;
constexpr int kWaitDialog = 288;

QPointer<QDialog> g_wait;

}  // namespace

bool audShowWaitDialog(int range) {
    const bool existed = !g_wait.isNull();
    if (!existed) {
        g_wait = new QDialog(QApplication::activeWindow());
        g_wait->setAttribute(Qt::WA_DeleteOnClose);
        g_wait->setWindowTitle(QString::fromStdString(programTitle()));
        setControlId(*g_wait, kWaitDialog);
        auto* layout = new QVBoxLayout(g_wait);
        auto* text = new QLabel(g_wait);
        setControlId(*text, kWaitText);
        auto* progress = new QProgressBar(g_wait);
        setControlId(*progress, kWaitProgress);
        layout->addWidget(text);
        layout->addWidget(progress);
        g_wait->setModal(false);
        g_wait->resize(360, 90);
        g_wait->show();
    }
    auto* progress = findControl<QProgressBar>(*g_wait, kWaitProgress);
    progress->setRange(0, range);
    QApplication::processEvents();
    return existed;
}

void audSetWaitDialogPosition(int position) {
    if (g_wait) findControl<QProgressBar>(*g_wait, kWaitProgress)->setValue(position);
}

void audSetWaitDialogText(std::string_view text) {
    if (g_wait)
        findControl<QLabel>(*g_wait, kWaitText)->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
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
