#include "page_preview_link.h"

#include <QCursor>
#include <QFontMetrics>
#include <QGroupBox>
#include <QPainter>
#include <QPalette>
#include <QWidget>

#include "platform/midi_out.h"
#include "qvp3_pipeline/sequencer.h"
#include "qvp3_project/profile_contents.h"
#include "qvp3_steps/page_events.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

namespace {

constexpr int kLinkImageSize = 22;
constexpr int kLinkTextWidth = 200;
const QColor kLinkDisabledText{0xA4, 0xCF, 0xEB};

QFont linkFont(bool hovered) {
    QFont font = stpDescriptionFont();
    font.setUnderline(hovered);
    font.setBold(true);
    return font;
}

// The link's image: a play sign, a stop sign while the preview runs, pale
// while the page's controls are disabled.
void paintLinkImage(QPainter& painter, const QRect& box, bool running, bool disabled) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(disabled ? kLinkDisabledText : kPageValueText);
    painter.drawEllipse(box);
    painter.setBrush(disabled ? kPageBackground : kPageLabelText);
    const QRectF inner = QRectF(box).adjusted(7, 6, -6, -6);
    if (running) {
        painter.drawRect(inner.adjusted(0, 0.5, -1, -0.5));
    } else {
        const QPointF sign[3] = {inner.topLeft(), inner.bottomLeft(), QPointF(inner.right(), inner.center().y())};
        painter.drawPolygon(sign, 3);
    }
    painter.restore();
}

}  // namespace

QString stpText(int id) { return QString::fromStdString(qvp3ui::uiString(id)); }

ProjectEntry* stpCurrentEntry() {
    StepPageHost* host = stpPageHost();
    return host != nullptr ? prjGetEntry(host->project(), -1) : nullptr;
}

void stpPageEdited() {
    StepPageHost* host = stpPageHost();
    if (host == nullptr) return;
    prjMarkStepDirty(host->project());
    host->refreshCommands();
}

void stpSendToPlayingEntry(const ProjectEntry& entry, int status, int data1, int data2) {
    plySendLiveMessage(entry, platform::packShortMessage(static_cast<std::uint8_t>(status & 0xFF),
                                                         static_cast<std::uint8_t>(data1 & 0x7F),
                                                         static_cast<std::uint8_t>(data2 & 0x7F)));
}

void stpInstallProfileSlots(StepPage& page) {
    const ProfileReadFn read = prfReaderOf(page.category);
    const ProfileWriteFn write = prfWriterOf(page.category);
    if (read == nullptr || write == nullptr) return;
    page.readProfile = [read](StepPage& target, const std::filesystem::path&, std::int32_t, std::int32_t type,
                              ProjectEntry* entry) {
        StepPageHost* host = stpPageHost();
        if (host == nullptr) return false;
        ProfileIo io{host->project(), host->profileContext()};
        return read(io, target, type, entry);
    };
    page.writeProfile = [write](StepPage& target, const std::filesystem::path&, std::int32_t type,
                                ProjectEntry* entry) {
        StepPageHost* host = stpPageHost();
        if (host == nullptr) return false;
        ProfileIo io{host->project(), host->profileContext()};
        return write(io, target, type, entry);
    };
}

void stpLayoutProfileBarAfterShow(StepPage& page, bool shown) {
    StepPageHost* host = stpPageHost();
    if (host == nullptr) return;
    int mode = kProfileBarDisabled;
    if (shown) mode = stpPageFillProfileList(page) ? kProfileBarEnabled : kProfileBarEmpty;
    host->layoutProfileBar(page, mode);
}

void stpEnableIds(StepPage& page, std::initializer_list<int> ids, bool enable) {
    if (page.window == nullptr) return;
    for (int id : ids) {
        if (QWidget* control = qvp3ui::findControl(*page.window, id)) control->setEnabled(enable);
    }
}

void stpColourControl(QPalette& palette, PageColour colour) {
    switch (colour) {
    case PageColour::None: return;
    case PageColour::Label:
        palette.setColor(QPalette::WindowText, kPageLabelText);
        palette.setColor(QPalette::ButtonText, kPageLabelText);
        palette.setColor(QPalette::Disabled, QPalette::WindowText, kLinkDisabledText);
        palette.setColor(QPalette::Disabled, QPalette::ButtonText, kLinkDisabledText);
        return;
    case PageColour::Group:
        palette.setColor(QPalette::WindowText, kPageLabelText);
        palette.setColor(QPalette::Window, kPageGroupBackground);
        return;
    case PageColour::NumberEdit:
        palette.setColor(QPalette::Text, kPageValueText);
        palette.setColor(QPalette::Base, Qt::white);
        palette.setColor(QPalette::Disabled, QPalette::Base, kPageBackground);
        return;
    }
}

void stpPaintPlayLink(StepPage& page, QPainter& painter, int groupBoxId, bool running) {
    auto* data = stpData<PreviewData>(page);
    if (page.window == nullptr || data == nullptr) return;
    const QWidget* box = qvp3ui::findControl<QGroupBox>(*page.window, groupBoxId);
    if (box == nullptr || box->geometry().isEmpty()) return;
    const QRect image(box->geometry().right() + 1 + 5, box->geometry().top() + 5, kLinkImageSize, kLinkImageSize);
    paintLinkImage(painter, image, running, data->toggleDisabled);
    const QFontMetrics normal(linkFont(false));
    const QFontMetrics hovered(linkFont(true));
    const QString start = stpText(kStrPreviewStart);
    const QString stop = stpText(kStrPreviewStop);
    int wider = 0;
    for (const QString& text : {start, stop}) {
        wider = std::max({wider, normal.horizontalAdvance(text), hovered.horizontalAdvance(text)});
    }
    const QRect textRect(image.right() + 1 + 6, image.top(), kLinkTextWidth, image.height());
    painter.save();
    painter.setFont(linkFont(data->hover != 0));
    painter.setPen(data->toggleDisabled ? kLinkDisabledText : kPageLabelText);
    const QString text = painter.fontMetrics().elidedText(running ? stop : start, Qt::ElideRight, textRect.width());
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    painter.restore();
    data->playLink = QRect(image.topLeft(), QPoint(textRect.left() + std::min(wider, kLinkTextWidth), image.bottom()));
}

int stpPlayLinkSetCursor(StepPage& page, int mouseMessage, int hoverValue, const std::function<void()>& click) {
    auto* data = stpData<PreviewData>(page);
    if (page.window == nullptr || data == nullptr) return 0;
    if (mouseMessage == static_cast<int>(WM_LBUTTONDOWN)) {
        if (data->hover == 0 || data->toggleDisabled) return 0;
        click();
        return 1;
    }
    if (mouseMessage != static_cast<int>(WM_MOUSEMOVE)) return 0;
    const int before = data->hover;
    const QPoint at = page.window->mapFromGlobal(QCursor::pos());
    data->hover = !data->toggleDisabled && data->playLink.contains(at) ? hoverValue : 0;
    if (data->hover != 0) page.window->setCursor(Qt::PointingHandCursor);
    if ((before == 0) != (data->hover == 0)) page.window->update(data->playLink);
    return data->hover != 0 ? 1 : 0;
}

}  // namespace qvp3
