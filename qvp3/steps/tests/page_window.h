// A step page in a window of its own, shown as the step tab's page dialog
// shows it: the controls' messages reach the page's slots, the header is
// painted above the page's own painting, a resize reaches onSize and the
// controls take the page's colours through onCtlColor.
#pragma once

#include <QPainter>
#include <QWidget>

#include <memory>

#include "qvp3_project/project.h"
#include "qvp3_steps/page_events.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/step_page_host.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/qt_message_target.h"

namespace qvp3::testing {

class PageWindow : public QWidget {
public:
    // Pages whose tests drive the slots themselves go without the message
    // target: their threads' reports then reach no one, as in those tests before.
    enum class Messages { ToSlots, None };

    explicit PageWindow(StepPage& page, QSize size = {900, 640}, Messages messages = Messages::ToSlots)
        : page_(page) {
        if (messages == Messages::ToSlots) {
            target_ = std::make_unique<qvp3ui::QtMessageTarget>(
                this,
                [this](platform::MessageId m, platform::WParam w, platform::LParam l) { return procedure(m, w, l); });
        }
        build(size, target_.get());
    }
    // The page's posts go to the test's own target, which records them.
    PageWindow(StepPage& page, QSize size, platform::MessageTarget& recorder) : page_(page) { build(size, &recorder); }
    ~PageWindow() override {
        if (target_) target_->close();
        // A page shown again in a newer window stays with that one.
        if (page_.window == this) stpAttachWindow(page_, nullptr, nullptr);
    }
    PageWindow(const PageWindow&) = delete;
    PageWindow& operator=(const PageWindow&) = delete;

    // Controls take the page's colours, as the step tab's dialog gives them;
    // again after a show, which may build or recolour some.
    void colourControls() {
        for (QWidget* control : findChildren<QWidget*>()) {
            QPalette palette = control->palette();
            if (page_.onCtlColor && page_.onCtlColor(page_, palette, control) != 0) control->setPalette(palette);
        }
    }
    bool event(QEvent* e) override { return (target_ && target_->dispatch(e)) || QWidget::event(e); }

    int initResult = 0;  // what the page's onInitDialog answered

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), kPageBackground);
        const ProjectEntry* entry = stpPageHost() ? prjGetEntry(stpPageHost()->project(), -1) : nullptr;
        const PageHeader header = stpMeasureHeader(page_, rect(), entry);
        painter.drawPixmap(header.image.topLeft(), stpPageImage(page_.headerImage));
        painter.drawPixmap(header.banner, stpPageImage(kImageBanner), QRect(QPoint(0, 0), header.banner.size()));
        painter.setPen(kPageLabelText);
        painter.setFont(stpTitleFont());
        painter.drawText(header.title, Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(page_.title));
        painter.setPen(kPageNoteText);
        painter.setFont(stpDescriptionFont());
        painter.drawText(header.descriptionRect, Qt::TextWordWrap, header.description);
        QRect body = header.content;
        body.setHeight(0);
        if (page_.onPaint) page_.onPaint(page_, painter, body);
    }
    void resizeEvent(QResizeEvent* e) override {
        QWidget::resizeEvent(e);
        if (page_.onSize) page_.onSize(page_);
    }

private:
    void build(QSize size, platform::MessageTarget* target) {
        resize(size);
        stpAttachWindow(page_, this, target);
        if (page_.onInitDialog) initResult = page_.onInitDialog(page_, this, &page_);
        colourControls();
    }
    platform::LResult procedure(platform::MessageId msg, platform::WParam w, platform::LParam l) {
        auto* control = reinterpret_cast<QWidget*>(l);
        const int low = static_cast<int>(w & 0xFFFF);
        const int high = static_cast<std::int16_t>((w >> 16) & 0xFFFF);
        if (msg == platform::WM_COMMAND && page_.onCommand) return page_.onCommand(page_, low, control, high & 0xFFFF);
        if (msg == WM_HSCROLL && page_.onHScroll) return page_.onHScroll(page_, control, low, high);
        if (msg == WM_VSCROLL && page_.onVScroll) return page_.onVScroll(page_, control, low, high);
        return 0;
    }
    StepPage& page_;
    std::unique_ptr<qvp3ui::QtMessageTarget> target_;
};

}  // namespace qvp3::testing
