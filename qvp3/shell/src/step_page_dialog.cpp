#include "step_page_dialog.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QTimer>

#include "discwriter/discwriter.h"
#include "qvp3_shell/step_tab.h"
#include "qvp3_steps/page_events.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/message_box.h"
#include "qvp3_ui/qt_message_target.h"

namespace qvp3 {

namespace {

using platform::LResult;

constexpr int kStrCdTrackBegin = 432;  // "%i": the track
constexpr int kStrCdTrackDone = 433;   // "%i": the track
constexpr int kStrCdFinishing = 434;
constexpr int kStrCdWriteDone = 435;
constexpr int kStepIconSize = 32;

int low(platform::WParam w) { return static_cast<int>(w & 0xFFFF); }
int high(platform::WParam w) { return static_cast<int>((w >> 16) & 0xFFFF); }
int signedHigh(platform::WParam w) { return static_cast<std::int16_t>((w >> 16) & 0xFFFF); }
QWidget* widgetOf(platform::LParam l) { return reinterpret_cast<QWidget*>(l); }

void addStatusLine(QListWidget* list, const std::string& text, bool replaceLast) {
    if (list == nullptr) return;
    if (replaceLast && list->count() > 0) {
        list->item(list->count() - 1)->setText(QString::fromStdString(text));
    } else {
        list->addItem(QString::fromStdString(text));
    }
    list->scrollToBottom();
}

std::string trackText(int id, platform::WParam track) {
    return qvp3ui::language() != nullptr
               ? qvp3ui::language()->format(id, {static_cast<std::int64_t>(track)})
               : std::string{};
}

}  // namespace

StepPageDialog::StepPageDialog(StepTab& tab, StepPage& page, QWidget* parent)
    : QWidget(parent), tab_(tab), page_(page) {
    target_ = std::make_unique<qvp3ui::QtMessageTarget>(
        this, [this](platform::MessageId m, platform::WParam w, platform::LParam l) { return procedure(m, w, l); });
    setMouseTracking(true);
    setAutoFillBackground(false);
    setFocusPolicy(Qt::StrongFocus);
}

StepPageDialog::~StepPageDialog() { target_->close(); }

platform::MessageTarget& StepPageDialog::target() { return *target_; }

StepPage& StepPageDialog::current() {
    StepPage* page = tab_.currentPage();
    return page != nullptr ? *page : page_;
}

LResult StepPageDialog::procedure(platform::MessageId msg, platform::WParam wParam, platform::LParam lParam) {
    if (msg == WM_INITDIALOG) {
        auto* page = reinterpret_cast<StepPage*>(lParam);
        return page != nullptr && page->onInitDialog ? page->onInitDialog(*page, this, page) : 0;
    }
    // A worker reports to the page that started it, whichever page is current:
    // its records and its result belong to that page.
    if (msg == platform::WM_STEP_WORKER_DONE) {
        if (page_.stopWorker) page_.stopWorker(page_);
        return 0;
    }
    if (msg >= DISCWRITER_WM_CD_TRACK_BEGIN && msg <= DISCWRITER_WM_CD_TIME_ELAPSED) {
        return discWriterMessage(msg, wParam);
    }
    StepPage& page = current();
    switch (msg) {
    case WM_SIZE:
        if (page.onSize) page.onSize(page);
        return 0;
    case WM_SETFOCUS:
        if (page.onSetFocus) page.onSetFocus(page);
        return 0;
    case WM_DRAWITEM:
        return page.onDrawItem ? page.onDrawItem(page, *reinterpret_cast<PageDrawItem*>(lParam)) : 0;
    case WM_NOTIFY: return page.onNotify ? page.onNotify(page, *reinterpret_cast<PageNotify*>(lParam)) : 0;
    case platform::WM_COMMAND:
        return page.onCommand ? page.onCommand(page, low(wParam), widgetOf(lParam), high(wParam)) : 0;
    case WM_HSCROLL:
        return page.onHScroll ? page.onHScroll(page, widgetOf(lParam), low(wParam), signedHigh(wParam)) : 0;
    case WM_VSCROLL:
        return page.onVScroll ? page.onVScroll(page, widgetOf(lParam), low(wParam), signedHigh(wParam)) : 0;
    case WM_CTLCOLORSTATIC:
        return page.onCtlColor ? page.onCtlColor(page, *reinterpret_cast<QPalette*>(wParam), widgetOf(lParam)) : 0;
    case platform::WM_GRAPH_NOTIFY:
        if (page.onToggle) page.onToggle(page);
        return 0;
    default: return 0;
    }
}

// Statics and check boxes ask the page for their colours, as they do on
// Windows each time they paint; here once each time the page is shown.
void StepPageDialog::colourStatics() {
    for (QWidget* control : findChildren<QWidget*>()) {
        if (!qobject_cast<QLabel*>(control) && !qobject_cast<QAbstractButton*>(control) &&
            !qobject_cast<QGroupBox*>(control)) {
            continue;
        }
        QPalette palette = control->palette();
        if (procedure(WM_CTLCOLORSTATIC, reinterpret_cast<platform::WParam>(&palette),
                      reinterpret_cast<platform::LParam>(control)) != 0) {
            control->setPalette(palette);
        }
    }
}

LResult StepPageDialog::showWindow(bool shown) {
    if (shown) {
        colourStatics();
        if (StepPageHost* host = stpPageHost()) {
            // The WAV step renders several files at once from the list.
            host->setFileListSingleSelection(static_cast<int>(page_.category) != kStepWvc);
        }
    }
    return stpShowPage(page_, shown);
}

LResult StepPageDialog::discWriterMessage(platform::MessageId msg, platform::WParam wParam) {
    StepPage* brnPage = stpGetPage(tab_.project(), kStepBrn);
    BrnData* brn = brnPage != nullptr ? stpData<BrnData>(*brnPage) : nullptr;
    if (brn == nullptr) return 0;
    const int value = static_cast<int>(wParam);
    switch (msg) {
    case DISCWRITER_WM_CD_TRACK_BEGIN: addStatusLine(brn->statusList, trackText(kStrCdTrackBegin, wParam), false); break;
    case DISCWRITER_WM_CD_FINISHING: addStatusLine(brn->statusList, qvp3ui::uiString(kStrCdFinishing), false); break;
    case DISCWRITER_WM_CD_WRITE_DONE: addStatusLine(brn->statusList, qvp3ui::uiString(kStrCdWriteDone), true); break;
    case DISCWRITER_WM_CD_TRACK_DONE:
        addStatusLine(brn->statusList, trackText(kStrCdTrackDone, wParam), true);
        if (brn->trackBar != nullptr) brn->trackBar->setValue(value);
        if (brn->timeBar != nullptr) brn->timeBar->setValue(tab_.cdTotalTime);
        break;
    case DISCWRITER_WM_CD_TIME_TOTAL:
        tab_.cdTotalTime = value;
        if (brn->timeBar != nullptr) brn->timeBar->setRange(0, value);
        break;
    case DISCWRITER_WM_CD_TIME_ELAPSED:
        if (brn->timeBar != nullptr) brn->timeBar->setValue(value);
        break;
    default: break;  // the other disc-writer messages are not shown here
    }
    return 0;
}

bool StepPageDialog::event(QEvent* event) {
    if (target_ && target_->dispatch(event)) return true;
    return QWidget::event(event);
}

void StepPageDialog::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (rect().isEmpty()) return;
    painter.fillRect(rect(), kPageBackground);
    paintHeader(painter, current());
}

void StepPageDialog::paintHeader(QPainter& painter, StepPage& page) {
    const ProjectEntry* entry = prjGetEntry(tab_.project(), -1);
    const PageHeader header = stpMeasureHeader(page, rect(), entry);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawPixmap(header.image.topLeft(), stpPageImage(page.headerImage));
    tab_.linkRect = header.link;
    painter.drawPixmap(header.link.topLeft(), stpPageImage(kImageLink));
    painter.setPen(QPen(kPageSeparator, 3.0));
    painter.drawLine(header.separatorX, 10, header.separatorX, rect().bottom() - 10);
    painter.drawPixmap(header.banner, stpPageImage(kImageBanner), QRect(0, 0, header.banner.width(),
                                                                       stpPageImage(kImageBanner).height()));
    painter.setFont(stpTitleFont());
    painter.setPen(kPageLabelText);
    const QString title = painter.fontMetrics().elidedText(QString::fromStdString(page.title), Qt::ElideRight,
                                                           header.title.width());
    painter.drawText(header.title, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, title);

    const int category = static_cast<int>(page.category);
    if (entry != nullptr && (category == kStepPrc || category == kStepDyn || category == kStepShv)) {
        const auto* block = stpData<StepDataBlock>(page);
        if (block != nullptr && entry->kind == EntryKind::Midi && category != kStepShv) {
            const int spaceLeft = header.banner.right() + 1;
            const QRect icon((spaceLeft + rect().right() - kStepIconSize) / 2, 10, kStepIconSize, kStepIconSize);
            painter.drawPixmap(icon, stpPageImage(page.headerImage).scaled(icon.size(), Qt::KeepAspectRatio));
        } else if (block != nullptr && entry->kind != EntryKind::Midi && category == kStepShv) {
            painter.drawPixmap(QRect(block->iconX, block->iconY, kStepIconSize, kStepIconSize),
                               stpPageImage(page.headerImage));
        }
    }
    painter.setFont(stpDescriptionFont());
    painter.setPen(kPageNoteText);
    painter.drawText(header.descriptionRect, Qt::TextWordWrap, header.description);
    if (page.onPaint) {
        QRect body = header.content;
        body.setHeight(0);  // the page finds its own bottom
        page.onPaint(page, painter, body);
    }
}

void StepPageDialog::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    procedure(WM_SIZE, 0, 0);
}

void StepPageDialog::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    procedure(WM_SETFOCUS, 0, 0);
}

void StepPageDialog::mouseMoveEvent(QMouseEvent* event) {
    pointerMessage(WM_MOUSEMOVE, event->position().toPoint());
    QWidget::mouseMoveEvent(event);
}

void StepPageDialog::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) pointerMessage(WM_LBUTTONDOWN, event->position().toPoint());
    QWidget::mousePressEvent(event);
}

// WM_SETCURSOR: the page may take the pointer; else the header's link.
void StepPageDialog::pointerMessage(int mouseMessage, const QPoint& position) {
    StepPage& page = current();
    if (page.onSetCursor && page.onSetCursor(page, mouseMessage) == 1) return;
    if (mouseMessage == static_cast<int>(WM_MOUSEMOVE)) {
        tab_.linkHover = tab_.linkRect.contains(position);
        setCursor(tab_.linkHover ? Qt::PointingHandCursor : Qt::ArrowCursor);
        return;
    }
    if (mouseMessage != static_cast<int>(WM_LBUTTONDOWN) || !tab_.linkHover || tab_.linkOpening) return;
    tab_.linkOpening = true;
    if (tab_.openLink) tab_.openLink(QUrl(QString::fromLatin1(kMakerHomePage)));
    // The guard against a second click runs out on its own; the page stays usable meanwhile.
    QTimer::singleShot(tab_.linkGuardMs, &tab_, [&tab = tab_] { tab.linkOpening = false; });
}

}  // namespace qvp3
