#include "qvp3_shell/scroll_panel.h"

#include <QEvent>
#include <QScrollBar>

#include <algorithm>

namespace qvp3 {
namespace {

// One bar: positions 0..(content - client); a line is one pixel, a page the
// client less one pixel, so that a page step keeps one line in sight.
void setBar(QScrollBar& bar, int content, int client) {
    const int range = std::max(0, content - client);
    bar.setRange(0, range);
    bar.setSingleStep(1);
    bar.setPageStep(std::max(1, client - 1));
}

}  // namespace

ScrollPanel::ScrollPanel(QWidget* parent) : QAbstractScrollArea(parent) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void ScrollPanel::setContent(QWidget* content) {
    if (content_) content_->removeEventFilter(this);
    content_ = content;
    if (content_) {
        content_->setParent(viewport());
        content_->installEventFilter(this);
        content_->show();
    }
    updateScrollBars();
}

void ScrollPanel::updateScrollBars() {
    const QSize size = content_ ? content_->size() : QSize();
    const QSize client = viewport()->size();
    setBar(*horizontalScrollBar(), size.width(), client.width());
    setBar(*verticalScrollBar(), size.height(), client.height());
    placeContent();
}

void ScrollPanel::placeContent() {
    if (content_) content_->move(-horizontalScrollBar()->value(), -verticalScrollBar()->value());
}

void ScrollPanel::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void ScrollPanel::scrollContentsBy(int, int) { placeContent(); }

bool ScrollPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == content_ && event->type() == QEvent::Resize) updateScrollBars();
    return QAbstractScrollArea::eventFilter(watched, event);
}

}  // namespace qvp3
