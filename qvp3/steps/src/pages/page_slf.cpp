// The start page: no controls and no profile data; two items to click and a
// note under them, painted and hit-tested by the page.
#include <QApplication>
#include <QCursor>
#include <QPainter>
#include <QStyle>
#include <QTimer>
#include <QWidget>

#include "page_slf.h"
#include "qvp3_steps/page_events.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/page_slots.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_ui/message_box.h"
#include "voice_pages_common.h"

namespace qvp3 {

namespace {

constexpr int kStrAddFiles = 319;
constexpr int kStrShowFolder = 320;
constexpr int kStrNote = 285;
constexpr int kIconSize = 32;

// The last hover value painted, so that only an item whose look changed is
// painted again.
int gLastHover = kSlfHoverNone;

QFont itemFont(bool hovered) {
    QFont font = stpDescriptionFont();
    font.setPixelSize(16);
    font.setBold(true);
    font.setUnderline(hovered);
    return font;
}

QPixmap itemIcon(QStyle::StandardPixmap which, bool disabled) {
    return QApplication::style()->standardIcon(which).pixmap(kIconSize, kIconSize,
                                                             disabled ? QIcon::Disabled : QIcon::Normal);
}

void paintItem(QPainter& painter, const QRect& rect, int stringId, bool hovered) {
    painter.setFont(itemFont(hovered));
    const QString text = painter.fontMetrics().elidedText(QString::fromStdString(qvp3ui::uiString(stringId)),
                                                          Qt::ElideRight, rect.width());
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
}

void onPaint(StepPage& page, QPainter& painter, const QRect& body) {
    auto* data = stpData<SlfData>(page);
    if (data == nullptr) return;
    painter.setPen(data->disabled ? kPageDisabledItem : kPageLabelText);
    painter.drawPixmap(body.left() + 20, body.top() + 40, itemIcon(QStyle::SP_FileIcon, data->disabled));
    data->item1Rect = QRect(QPoint(body.left() + 60, body.top() + 40), QPoint(body.right(), body.top() + 40 + kIconSize));
    paintItem(painter, data->item1Rect, kStrAddFiles, data->hover == kSlfHoverFirst);
    painter.drawPixmap(body.left() + 20, body.top() + 80, itemIcon(QStyle::SP_DirIcon, data->disabled));
    data->item2Rect = data->item1Rect.translated(0, 40);
    paintItem(painter, data->item2Rect, kStrShowFolder, data->hover == kSlfHoverSecond);

    const int noteTop = data->item2Rect.bottom() + 40;
    const QPixmap icon = voicepages::noteIcon();
    painter.drawPixmap(body.left(), noteTop, icon);
    painter.setPen(kPageNoteText);
    painter.setFont(voicepages::noteFont());
    const QRect note(QPoint(body.left() + icon.width() + 10, noteTop), QPoint(body.right(), noteTop + 200));
    painter.drawText(note, Qt::TextWordWrap, QString::fromStdString(qvp3ui::uiString(kStrNote)));
}

// The item and the icon beside it, from the page's left edge.
QRect itemRow(const QRect& item) { return QRect(QPoint(0, item.top()), item.bottomRight()); }

void repaintChangedItems(StepPage& page, const SlfData& data) {
    if (data.hover == kSlfHoverFirst || (data.hover == kSlfHoverNone && gLastHover == kSlfHoverFirst)) {
        page.window->update(data.item1Rect);
    }
    if (data.hover == kSlfHoverSecond || (data.hover == kSlfHoverNone && gLastHover == kSlfHoverSecond)) {
        page.window->update(data.item2Rect);
    }
    gLastHover = data.hover;
}

// The main window's command, posted: it opens choosers and windows of its
// own, which must not run inside the page's mouse handling.
void postCommand(QWidget* window, int command) {
    QTimer::singleShot(0, window, [command] {
        if (StepPageHost* host = stpPageHost()) host->sendCommand(command);
    });
}

int onSetCursor(StepPage& page, int mouseMessage) {
    auto* data = stpData<SlfData>(page);
    if (data == nullptr || page.window == nullptr) return 0;
    if (data->disabled) return 1;
    if (mouseMessage != static_cast<int>(WM_MOUSEMOVE)) {
        if (data->hover == kSlfHoverNone || mouseMessage != static_cast<int>(WM_LBUTTONDOWN)) return 0;
        postCommand(page.window, data->hover == kSlfHoverFirst ? kSlfAddFilesCommand : kSlfFolderCommand);
        return 1;
    }
    const QPoint at = page.window->mapFromGlobal(QCursor::pos());
    int result = 0;
    if (data->item1Rect.contains(at)) {
        data->hover = kSlfHoverFirst;
    } else if (data->item2Rect.contains(at)) {
        data->hover = kSlfHoverSecond;
    } else {
        data->hover = kSlfHoverNone;
    }
    if (data->hover != kSlfHoverNone) {
        page.window->setCursor(Qt::PointingHandCursor);
        result = 1;
    }
    if (data->hover != gLastHover) repaintChangedItems(page, *data);
    return result;
}

void enableControls(StepPage& page, bool enable) {
    auto* data = stpData<SlfData>(page);
    if (data == nullptr) return;
    data->disabled = !enable;
    if (page.window == nullptr) return;
    if (data->disabled) data->hover = kSlfHoverNone;
    page.window->update(itemRow(data->item1Rect));
    page.window->update(itemRow(data->item2Rect));
}

}  // namespace

void stpFillSlfSlots(StepPage& page) {
    page.onPaint = onPaint;
    page.onSetCursor = onSetCursor;
    page.enableControls = enableControls;
}

}  // namespace qvp3
