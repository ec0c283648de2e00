// The tempo page: the playing tempo of the current entry, relative to the
// file's own (a factor 0.1 .. 10 on a logarithmic slider) or absolute
// (10 .. 720 beats per minute).
#include <QLabel>
#include <QPainter>
#include <QRadioButton>
#include <QSlider>

#include <cmath>

#include "qvp3_pipeline/playback.h"
#include "qvp3_project/profile_contents.h"
#include "qvp3_project/tempo_curve.h"
#include "qvp3_steps/page_events.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_steps/page_slots.h"
#include "qvp3_steps/page_workers.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/message_box.h"
#include "tempo_pages.h"
#include "page_preview_link.h"

namespace qvp3 {

namespace {

constexpr int kAbsoluteRadio = 8000;
constexpr int kRelativeRadio = 8001;
constexpr int kTempoSlider = 8002;
constexpr int kTempoDisplay = 7000;
constexpr int kStrAbsolute = 12;
constexpr int kStrRelative = 13;
constexpr int kStrSlower = 57;
constexpr int kStrFaster = 58;
constexpr int kHoverItem = 5;
constexpr int kHoverMark = 10;
constexpr int kMarkSize = 16;
constexpr std::array<double, 5> kMarkFactors{0.1, 0.5, 1.0, 2.0, 10.0};

// Only changes of the pointer's place repaint.
int gLastHover = 0;

struct Controls {
    QRadioButton* absolute = nullptr;
    QRadioButton* relative = nullptr;
    QSlider* slider = nullptr;
    QLabel* display = nullptr;
};

Controls controls(StepPage& page) {
    Controls c;
    if (page.window == nullptr) return c;
    c.absolute = qvp3ui::findControl<QRadioButton>(*page.window, kAbsoluteRadio);
    c.relative = qvp3ui::findControl<QRadioButton>(*page.window, kRelativeRadio);
    c.slider = qvp3ui::findControl<QSlider>(*page.window, kTempoSlider);
    c.display = qvp3ui::findControl<QLabel>(*page.window, kTempoDisplay);
    return c;
}

bool isTmp(StepPage& page) { return static_cast<int>(page.category) == kStepTmp && stpData<TmpData>(page) != nullptr; }

// The slider position of a tempo factor.
int factorPosition(double factor) { return static_cast<int>(std::floor(std::log10(factor) * 1000.0 + 0.5)) + 1000; }

bool absoluteChecked(StepPage& page) {
    const Controls c = controls(page);
    return c.absolute != nullptr && c.absolute->isChecked();
}

void repaint(StepPage& page, const QRect& rect) {
    if (page.window != nullptr && !rect.isEmpty()) page.window->update(rect);
}

bool someEntryPlays() {
    Project* project = tmpProject();
    return project != nullptr && prjFindBusyEntry(*project) != -1;
}

StepPage::Result onInitDialog(StepPage& page, QWidget* dialog, StepPage*) {
    auto* absolute = new QRadioButton(QString::fromStdString(qvp3ui::uiString(kStrAbsolute)), dialog);
    qvp3ui::setControlId(*absolute, kAbsoluteRadio);
    auto* relative = new QRadioButton(QString::fromStdString(qvp3ui::uiString(kStrRelative)), dialog);
    qvp3ui::setControlId(*relative, kRelativeRadio);
    for (QRadioButton* radio : {absolute, relative}) {
        radio->setFont(tmpFont(16, false));
        radio->setAutoExclusive(true);
    }
    relative->setChecked(true);
    auto* slider = new QSlider(Qt::Horizontal, dialog);
    qvp3ui::setControlId(*slider, kTempoSlider);
    slider->setFocusPolicy(Qt::StrongFocus);
    auto* display = new QLabel(QStringLiteral("989"), dialog);
    qvp3ui::setControlId(*display, kTempoDisplay);
    display->setFrameShape(QFrame::Box);
    display->setAlignment(Qt::AlignCenter);
    display->setFont(tmpFont(16, true));
    display->setAutoFillBackground(true);
    tmpWireButton(page, *absolute, kAbsoluteRadio);
    tmpWireButton(page, *relative, kRelativeRadio);
    tmpWireSlider(page, *slider);
    return 1;
}

// The five marks under the slider: 0.1 at the left end, 10 at the right, the
// others centred on their factors.
void placeMarks(StepPage& page) {
    auto* data = stpData<TmpData>(page);
    const Controls c = controls(page);
    if (data == nullptr || c.slider == nullptr) return;
    int left = 0;
    int right = 0;
    tmpSliderSpan(*c.slider, left, right);
    const QPoint origin = c.slider->pos();
    const int top = data->scaleRect.bottom() + 1;
    for (std::size_t i = 0; i < kMarkFactors.size(); ++i) {
        int x = origin.x() + tmpSliderValueX(*c.slider, factorPosition(kMarkFactors[i])) - kMarkSize / 2;
        if (i == 0) x = origin.x() + left - kMarkSize / 2;
        if (i == kMarkFactors.size() - 1) x = origin.x() + right - kMarkSize / 2;
        data->tempoMarkRects[i] = QRect(x, top, kMarkSize, kMarkSize);
    }
}

void onSize(StepPage& page) {
    auto* data = stpData<TmpData>(page);
    const Controls c = controls(page);
    if (data == nullptr || c.slider == nullptr || page.window == nullptr) return;
    stpLayoutDescription(page, &data->contentRect, nullptr);
    const int l = data->contentRect.left();
    const int t = data->contentRect.top();
    const int clientRight = page.window->rect().right();
    const int w = std::min(200, (clientRight - l - 10) / 2);
    c.absolute->setGeometry(l, t + 20, w, 24);
    c.relative->setGeometry(l + w, t + 20, w, 24);
    c.slider->setGeometry(l, t + 20 + 24 + 10, 2 * w, 32);
    const QRect slider = c.slider->geometry();
    data->scaleRect = QRect(slider.left(), slider.bottom() + 1, slider.width(), 18);
    data->itemRect = QRect(data->scaleRect.left(), data->scaleRect.bottom() + 1 + 20, tmpItemWidth(), kItemIconSize);
    const QRect& item = data->itemRect;
    // The warning may be longer than the item: it runs to the page's edge.
    data->statusRect = QRect(item.left() + kItemIconSize + 10, item.top() + 24,
                             std::max(0, clientRight - 10 - (item.left() + kItemIconSize + 10)), kItemIconSize);
    data->markRect = QRect(data->scaleRect.right() + 1 - 40 - kItemIconSize, item.top(), kItemIconSize, kItemIconSize);
    c.display->setGeometry(data->scaleRect.right() + 1 - 40, item.top() + item.height() / 2 - 12, 40, 24);
    placeMarks(page);
}

void setSliderMode(StepPage& page, const Controls& c, ProjectEntry* entry, bool absolute) {
    c.slider->blockSignals(true);
    if (absolute) {
        c.slider->setRange(10, 720);
        c.slider->setSingleStep(1);
        c.slider->setPageStep(10);
        if (entry != nullptr) {
            if (entry->TempoAbsolute == -1) entry->TempoAbsolute = 120;
            c.slider->setValue(entry->TempoAbsolute);
            entry->TempoIsRelative = 0;
        }
    } else {
        c.slider->setRange(0, 2000);
        c.slider->setSingleStep(10);
        c.slider->setPageStep(100);
        if (entry != nullptr) {
            c.slider->setValue(entry->TempoRelative);
            entry->TempoIsRelative = 1;
        }
        placeMarks(page);
    }
    c.slider->blockSignals(false);
    StepPageHost* host = stpPageHost();
    PlaybackControl* playback = host != nullptr ? host->playback() : nullptr;
    if (entry != nullptr && playback != nullptr && isScoreKind(entry->kind) && entry->isBusy()) {
        playback->plySetEngineOption100(*entry, absolute, false);
    }
}

StepPage::Result onHScroll(StepPage& page, QWidget*, int code, int position) {
    if (code < kSbLineLeft || (code > kSbPageRight && code != kSbThumbTrack)) return 0;
    if (ProjectEntry* entry = tmpCurrentEntry()) tmpSetEntryTempo(*entry, position, absoluteChecked(page));
    return 0;
}

StepPage::Result onCommand(StepPage& page, int id, QWidget*, int code) {
    ProjectEntry* entry = tmpCurrentEntry();
    if (code != 0 || (id != kAbsoluteRadio && id != kRelativeRadio) || entry == nullptr) return 0;
    // The recorded tempos were made at the other mode's tempo.
    entry->tempoCurve.points[TempoCurve::kRecordedList].clear();
    stpTmpShowValues(page, false);
    if (!isScoreKind(entry->kind) || !entry->isBusy()) {
        tmpWorkOutTempo(*entry, isScoreKind(entry->kind) ? tmpPlayerTicks(*entry) : 0);
    } else {
        stpTppSetChangeMarker(page, true);
    }
    const double tempo = tmpPlayerTempo(*entry);
    if (tempo > 0.0) stpTempoCurveRescale(entry->tempoCurve, tempo);
    stpTmpShowTempo(page);
    tmpEndEdit();
    return 0;
}

// The nineteen ticks of the factors 0.1, 0.2, .. 0.9, 1, 2, .. 10 along the
// top of the scale: the slider itself only knows evenly spaced ticks.
void paintTicks(StepPage& page, QPainter& painter, const QRect& scale) {
    const Controls c = controls(page);
    if (c.slider == nullptr) return;
    painter.save();
    painter.setPen(QPen(kPageNoteText, 1));
    for (int decade = 0; decade < 2; ++decade) {
        for (int digit = 1; digit <= 9; ++digit) {
            const double factor = digit * std::pow(10.0, decade - 1);
            const int x = c.slider->x() + tmpSliderValueX(*c.slider, factorPosition(factor));
            painter.drawLine(x, scale.top(), x, scale.top() + (digit == 1 ? 4 : 2));
        }
    }
    const int last = c.slider->x() + tmpSliderValueX(*c.slider, factorPosition(10.0));
    painter.drawLine(last, scale.top(), last, scale.top() + 4);
    painter.restore();
}

void paintScale(StepPage& page, QPainter& painter, const TmpData& data, const ProjectEntry& entry) {
    const bool relative = !absoluteChecked(page);
    if (relative) paintTicks(page, painter, data.scaleRect);
    const QRect scale = data.scaleRect.adjusted(0, 4, 0, 0);
    painter.setPen(kPageNoteText);
    painter.setFont(tmpFont(14, true));
    const int flags = Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip;
    painter.drawText(scale, flags | Qt::AlignLeft, relative ? QStringLiteral("0.1") : QStringLiteral("10"));
    painter.drawText(scale, flags | Qt::AlignRight, relative ? QStringLiteral("10.0") : QStringLiteral("720"));
    if (!relative) return;
    const double factor = std::pow(10.0, (entry.TempoRelative - 1000) / 1000.0);
    painter.drawText(scale, flags | Qt::AlignHCenter, QString::number(factor, 'f', 3));
    painter.setFont(tmpFont(14, false));
    const QRect leftHalf(scale.left(), scale.top(), scale.width() / 2, scale.height());
    const QRect rightHalf(scale.left() + scale.width() / 2, scale.top(), scale.width() / 2, scale.height());
    // The words sit between the numbers, away from the centre's factor.
    painter.drawText(leftHalf, Qt::AlignCenter, QString::fromStdString(qvp3ui::uiString(kStrSlower)));
    painter.drawText(rightHalf, Qt::AlignCenter, QString::fromStdString(qvp3ui::uiString(kStrFaster)));
}

void paintMark(QPainter& painter, const QRect& rect, bool active) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(active ? kPageLabelText : kPageDisabledItem);
    const QPolygon arrow({QPoint(rect.center().x(), rect.top() + 2), QPoint(rect.right() - 2, rect.bottom() - 2),
                          QPoint(rect.left() + 2, rect.bottom() - 2)});
    painter.drawPolygon(arrow);
    painter.restore();
}

void paintStateIcon(QPainter& painter, const QRect& rect, bool active) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(active ? QColor(0x30, 0xA0, 0x40) : kPageDisabledItem);
    painter.drawEllipse(rect.adjusted(5, 5, -5, -5));
    painter.restore();
}

bool displayActive(const TmpData& data, const ProjectEntry* entry) {
    return entry != nullptr && (!data.toggleDisabled || entry->entryState != 0);
}

void onPaint(StepPage& page, QPainter& painter, const QRect& body) {
    auto* data = stpData<TmpData>(page);
    if (data == nullptr) return;
    tmpPaintNote(page, painter, body);
    const Controls c = controls(page);
    if (c.slider == nullptr) return;
    const ProjectEntry* entry = tmpCurrentEntry();
    if (entry != nullptr) paintScale(page, painter, *data, *entry);
    if (!absoluteChecked(page)) {
        for (const QRect& mark : data->tempoMarkRects) paintMark(painter, mark, entry != nullptr);
    }
    tmpPaintItem(painter, data->itemRect, data->toggleDisabled, data->hover == kHoverItem);
    if (Project* project = tmpProject(); project != nullptr && tmpProjectTooLong(*project)) {
        tmpPaintLine(painter, data->statusRect, kStrProjectTooLong, kPageWarningText, tmpFont(16, true));
    }
    paintStateIcon(painter, data->markRect, displayActive(*data, entry));
}

StepPage::Result onCtlColor(StepPage& page, QPalette& palette, QWidget* control) {
    const int id = control != nullptr ? qvp3ui::controlId(*control) : -1;
    if (id == kAbsoluteRadio || id == kRelativeRadio) {
        palette.setColor(QPalette::WindowText, kPageLabelText);
        palette.setColor(QPalette::ButtonText, kPageLabelText);
        return 1;
    }
    if (id == kTempoDisplay) {
        const auto* data = stpData<TmpData>(page);
        palette.setColor(QPalette::WindowText, kPageValueText);
        palette.setColor(QPalette::Window,
                         data != nullptr && displayActive(*data, tmpCurrentEntry()) ? Qt::white : Qt::lightGray);
        return 1;
    }
    return 0;
}

void colourDisplay(StepPage& page) {
    const Controls c = controls(page);
    if (c.display == nullptr) return;
    QPalette palette = c.display->palette();
    onCtlColor(page, palette, c.display);
    c.display->setPalette(palette);
}

int onSetCursor(StepPage& page, int message) {
    auto* data = stpData<TmpData>(page);
    ProjectEntry* entry = tmpCurrentEntry();
    if (data == nullptr || page.window == nullptr) return 0;
    const QPoint point = tmpCursorPos(page);
    if (message == static_cast<int>(WM_MOUSEMOVE)) {
        int result = 0;
        const int mark = entry != nullptr && entry->TempoIsRelative != 0 ? stpTmpHitTempoMark(page, point) : -1;
        if (!data->toggleDisabled && data->itemRect.contains(point)) {
            page.window->setCursor(Qt::PointingHandCursor);
            data->hover = kHoverItem;
            result = 1;
        } else if (mark >= 0) {
            page.window->setCursor(Qt::UpArrowCursor);
            data->hover = kHoverMark + mark;
            result = 1;
        } else {
            data->hover = 0;
        }
        if (data->hover != gLastHover && !data->toggleDisabled &&
            (data->hover == kHoverItem || (data->hover == 0 && gLastHover == kHoverItem))) {
            repaint(page, data->itemRect);
        }
        gLastHover = data->hover;
        return result;
    }
    if (message != static_cast<int>(WM_LBUTTONDOWN)) return 0;
    if (data->hover == kHoverItem && !data->toggleDisabled) {
        tmpWorkOutPlayTimes(page);
        return 1;
    }
    if (data->hover >= kHoverMark && data->hover < kHoverMark + 5 && entry != nullptr) {
        // The pointer may have left the mark since it last moved: the mark
        // under the click wins, else the one the pointer was over.
        int mark = stpTmpHitTempoMark(page, point);
        if (mark < 0) mark = data->hover - kHoverMark;
        tmpSetEntryTempo(*entry, factorPosition(kMarkFactors[static_cast<std::size_t>(mark)]), false);
        if (const Controls c = controls(page); c.slider != nullptr) c.slider->setValue(entry->TempoRelative);
        return 1;
    }
    return 0;
}

void onToggle(StepPage& page) {
    auto* data = stpData<TmpData>(page);
    if (data == nullptr) return;
    data->hover = kHoverItem;
    onSetCursor(page, static_cast<int>(WM_LBUTTONDOWN));
    data->hover = 0;
    repaint(page, data->itemRect);
}

void enableControls(StepPage& page, bool enable) {
    if (auto* data = stpData<TmpData>(page)) {
        data->toggleDisabled = !enable;
        repaint(page, data->itemRect);
    }
}

StepPage::Result onPartChanged(StepPage& page, std::intptr_t) {
    StepPageHost* host = stpPageHost();
    ProjectEntry* entry = tmpCurrentEntry();
    if (host != nullptr && host->playback() != nullptr && entry != nullptr) host->playback()->plyPrepareEntry(*entry, false);
    stpTmpShowValues(page, true);
    return 0;
}

StepPage::Result onShow(StepPage& page, bool shown) {
    if (shown) stpTmpShowValues(page, true);
    return stpFrameworkOnShow(page, shown);
}

}  // namespace

bool stpTmpShowValues(StepPage& page, bool fromEntry) {
    auto* data = stpData<TmpData>(page);
    const Controls c = controls(page);
    if (!isTmp(page) || c.slider == nullptr) return true;
    ProjectEntry* entry = tmpCurrentEntry();
    if (fromEntry && entry != nullptr) {
        (entry->TempoIsRelative != 0 ? c.relative : c.absolute)->setChecked(true);
    }
    setSliderMode(page, c, entry, c.absolute->isChecked());
    data->hasEntry = entry != nullptr;
    data->toggleDisabled = entry == nullptr || someEntryPlays();
    c.slider->setEnabled(data->hasEntry);
    c.absolute->setEnabled(data->hasEntry);
    c.relative->setEnabled(data->hasEntry);
    if (entry != nullptr) tmpWorkOutTempo(*entry, tmpPlayerTicks(*entry));
    stpTmpShowTempo(page);
    c.display->setEnabled(data->hasEntry);
    colourDisplay(page);
    if (page.window != nullptr) page.window->update();
    return true;
}

void stpTmpShowTempo(StepPage& page) {
    auto* data = stpData<TmpData>(page);
    const Controls c = controls(page);
    ProjectEntry* entry = tmpCurrentEntry();
    if (!isTmp(page) || c.display == nullptr || entry == nullptr) return;
    repaint(page, QRect(data->scaleRect.center().x() - 20, data->scaleRect.top(), 40, data->scaleRect.height()));
    const bool absolute = c.absolute->isChecked();
    const long tempo = absolute ? entry->TempoAbsolute : std::lround(tmpPlayerTempo(*entry));
    c.display->setText(QString::number(tempo));
}

int stpTmpHitTempoMark(StepPage& page, const QPoint& point) {
    const auto* data = stpData<TmpData>(page);
    if (!isTmp(page)) return -1;
    for (std::size_t i = 0; i < data->tempoMarkRects.size(); ++i) {
        if (data->tempoMarkRects[i].contains(point)) return static_cast<int>(i);
    }
    return -1;
}

void stpFillTmpSlots(StepPage& page) {
    page.onInitDialog = onInitDialog;
    page.onSize = onSize;
    page.onPaint = onPaint;
    page.onCtlColor = onCtlColor;
    page.onSetCursor = onSetCursor;
    page.onToggle = onToggle;
    page.onCommand = onCommand;
    page.onHScroll = onHScroll;
    page.onPartChanged = onPartChanged;
    page.enableControls = enableControls;
    page.onShow = onShow;
    stpInstallProfileSlots(page);
}

}  // namespace qvp3
