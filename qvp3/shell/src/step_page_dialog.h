// The dialog of one step page in the step tab: it paints the page's common
// background and header and hands the page's window messages to the slots of
// the current page (the worker's done message to its own page). Threads post
// to it through its message target.
#pragma once

#include <QWidget>

#include <memory>

#include "platform/message_target.h"
#include "qvp3_project/project.h"

namespace qvp3ui {
class QtMessageTarget;
}

namespace qvp3 {

class StepTab;

class StepPageDialog : public QWidget {
public:
    StepPageDialog(StepTab& tab, StepPage& page, QWidget* parent);
    ~StepPageDialog() override;

    StepPage& ownPage() { return page_; }
    platform::MessageTarget& target();
    // The dialog procedure.
    platform::LResult procedure(platform::MessageId msg, platform::WParam wParam, platform::LParam lParam);
    // WM_SHOWWINDOW: the file list's selection mode, then the page is shown or hidden.
    platform::LResult showWindow(bool shown);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    StepPage& current();
    void colourStatics();
    void paintHeader(QPainter& painter, StepPage& page);
    void pointerMessage(int mouseMessage, const QPoint& position);
    platform::LResult discWriterMessage(platform::MessageId msg, platform::WParam wParam);

    StepTab& tab_;
    StepPage& page_;
    std::unique_ptr<qvp3ui::QtMessageTarget> target_;
};

}  // namespace qvp3
