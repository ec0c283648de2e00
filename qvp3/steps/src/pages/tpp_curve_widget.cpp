#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <cmath>

#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/playback.h"
#include "qvp3_project/tempo_curve.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_pages.h"
#include "tempo_pages.h"
#include "tpp_widgets.h"

namespace qvp3 {

namespace {

constexpr int kHoverSlider = 9;
const QColor kFilePoints{0xC8, 0xD8, 0xE8};
const QColor kRecordedPoints{0xFF, 0xD0, 0x40};
const QColor kGraphBackground{0x5E, 0x8C, 0xB8};
const QColor kGridLine{0x86, 0xB1, 0xD8};

// A step of the grid that gives a handful of lines over the range.
int gridStep(int range) {
    for (int step : {10, 20, 50, 100, 200}) {
        if (range / step <= 6) return step;
    }
    return 200;
}

// While the button is down on the slider of a playing entry whose tempos are
// not shown, the engine holds its tempo display.
constexpr std::uint32_t kEngineHoldTempo = 0x10000;

void holdEngineTempo(bool on) {
    ProjectEntry* entry = tmpCurrentEntry();
    StepPageHost* host = stpPageHost();
    CTavtuneLib* engine = host != nullptr ? host->engine() : nullptr;
    if (entry != nullptr && engine != nullptr && entry->isBusy() && !entry->tempoCurve.showTempos) {
        engine->SetOption(kEngineHoldTempo, on);
    }
}

}  // namespace

TppTempoSlider::TppTempoSlider(StepPage& page, QWidget* parent) : QSlider(Qt::Horizontal, parent), page_(page) {
    setMouseTracking(true);
}

void TppTempoSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QSlider::mousePressEvent(event);
        return;
    }
    pressed_ = true;
    passedOn_ = false;
    holdEngineTempo(true);
    pressAt_ = event->position();
    pressModifiers_ = event->modifiers();
    event->accept();
}

void TppTempoSlider::mouseMoveEvent(QMouseEvent* event) {
    tppPointerOnSlider(page_, event->globalPosition().toPoint());
    if (pressed_ && !passedOn_) {
        passedOn_ = true;
        QMouseEvent press(QEvent::MouseButtonPress, pressAt_, mapToGlobal(pressAt_), Qt::LeftButton, Qt::LeftButton,
                          pressModifiers_);
        QSlider::mousePressEvent(&press);
    }
    QSlider::mouseMoveEvent(event);
}

void TppTempoSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressed_) {
        QSlider::mouseReleaseEvent(event);
        return;
    }
    pressed_ = false;
    holdEngineTempo(false);
    if (passedOn_) {
        passedOn_ = false;
        QSlider::mouseReleaseEvent(event);
        return;
    }
    if (tppRecordClick(page_, event->globalPosition().toPoint())) {
        event->accept();
        return;
    }
    QSlider::mouseReleaseEvent(event);
}

void TppTempoSlider::leaveEvent(QEvent* event) {
    tppPointerLeftSlider(page_);
    QSlider::leaveEvent(event);
}

void tppPointerOnSlider(StepPage& page, const QPoint& globalPoint) {
    auto* data = stpData<TppData>(page);
    ProjectEntry* entry = tmpCurrentEntry();
    if (data == nullptr) return;
    if (entry == nullptr || !entry->tempoCurve.record) {
        tppPointerLeftSlider(page);
        return;
    }
    data->tipTempo = stpTppTempoAtPoint(page, globalPoint);
    if (data->tipTempo == -1) {
        tppPointerLeftSlider(page);
        return;
    }
    data->hover = kHoverSlider;
    QWidget* slider = page.window != nullptr ? page.window->findChild<QWidget*>(QStringLiteral("9006")) : nullptr;
    QWidget* upDown = page.window != nullptr ? page.window->findChild<QWidget*>(QStringLiteral("9005")) : nullptr;
    const QPoint at = upDown != nullptr ? upDown->mapToGlobal(upDown->rect().topRight()) : globalPoint;
    QToolTip::showText(at, QString::number(data->tipTempo), slider);
    data->tipShown = true;
}

void tppPointerLeftSlider(StepPage& page) {
    auto* data = stpData<TppData>(page);
    if (data == nullptr || !data->tipShown) return;
    QToolTip::hideText();
    data->tipShown = false;
}

bool tppRecordClick(StepPage& page, const QPoint& globalPoint) {
    auto* data = stpData<TppData>(page);
    Project* project = tmpProject();
    ProjectEntry* entry = tmpCurrentEntry();
    if (data == nullptr || project == nullptr || entry == nullptr || project->fileNum() == 0) return false;
    if (!entry->tempoCurve.record) return true;  // dropped: the slider does not move without recording
    data->tipTempo = stpTppTempoAtPoint(page, globalPoint);
    if (data->tipTempo == -1) return false;
    stpTppShowTempo(page, data->tipTempo, 0, true);
    tppRecordTempoPoint(*entry);
    tmpEndEdit();
    stpTppShowValues(page);
    stpTppSetChangeMarker(page, true);
    return true;
}

std::uint32_t tppEntryLengthTicks(const ProjectEntry& entry) {
    const PipelineEntryModel* model = cnvEntryModelIf(entry);
    if (model == nullptr) return 0;
    std::int64_t end = 0;
    for (const auto& stave : model->events) {
        for (const auto& voice : stave) {
            for (const auto& event : voice) end = std::max<std::int64_t>(end, std::int64_t{event.start} + event.duration);
        }
    }
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(end, 0, 0xFFFFFFFF));
}

bool tppRecordTempoPoint(ProjectEntry& entry) {
    TempoCurve& curve = entry.tempoCurve;
    ++curve.recordedCount;
    if (isScoreKind(entry.kind)) {
        StepPageHost* host = stpPageHost();
        PlaybackControl* playback = host != nullptr ? host->playback() : nullptr;
        return playback != nullptr && playback->plySetEngineTempo(entry, curve.recordTempo) == 0;
    }
    TempoPoint point;
    point.position = static_cast<std::uint32_t>(std::max<std::int64_t>(0, tmpPlayerTicks(entry)));
    point.tempo = curve.recordTempo;
    point.time = TempoFactor(entry);
    point.kind = 1;
    const std::uint32_t length = tppEntryLengthTicks(entry);
    return stpTempoCurveSetPoint(curve, TempoCurve::kRecordedList, point, length > 0 ? length : kTempoCurveNoLimit);
}

TppCurveWidget::TppCurveWidget(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("tempoCurve"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TppCurveWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(kPageLabelText, 1));
    painter.setBrush(kGraphBackground);
    painter.drawRoundedRect(area, 4, 4);
    const ProjectEntry* entry = tmpCurrentEntry();
    const int low = entry != nullptr ? entry->tempoCurve.minimum : 10;
    const int high = entry != nullptr ? std::max(entry->tempoCurve.maximum, low + 1) : 720;
    const QRectF plot = area.adjusted(34, 8, -8, -8);
    auto y = [&](double tempo) { return plot.bottom() - (std::clamp(tempo, double(low), double(high)) - low) * plot.height() / (high - low); };
    painter.setFont(tmpFont(10, false));
    const int step = gridStep(high - low);
    for (int tempo = (low + step - 1) / step * step; tempo <= high; tempo += step) {
        painter.setPen(QPen(kGridLine, 1, Qt::DotLine));
        painter.drawLine(QPointF(plot.left(), y(tempo)), QPointF(plot.right(), y(tempo)));
        painter.setPen(kPageLabelText);
        painter.drawText(QRectF(area.left() + 2, y(tempo) - 7, 30, 14), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(tempo));
    }
    if (entry == nullptr) return;
    const TempoCurve& curve = entry->tempoCurve;
    std::uint32_t length = tppEntryLengthTicks(*entry);
    for (const auto& list : curve.points) {
        for (const TempoPoint& point : list) length = std::max(length, point.position);
    }
    const double span = std::max<double>(length, 1.0);
    auto x = [&](std::uint32_t position) { return plot.left() + position * plot.width() / span; };
    painter.setPen(QPen(kPageLabelText, 1, Qt::DashLine));
    painter.drawLine(QPointF(plot.left(), y(curve.recordTempo)), QPointF(plot.right(), y(curve.recordTempo)));
    const std::pair<int, QColor> lists[] = {{TempoCurve::kFileList, kFilePoints},
                                            {TempoCurve::kRecordedList, kRecordedPoints}};
    for (const auto& [index, colour] : lists) {
        const auto& points = curve.points[static_cast<std::size_t>(index)];
        // A tempo holds until the next point: steps, not slopes.
        for (std::size_t i = 0; i < points.size(); ++i) {
            const double end = i + 1 < points.size() ? x(points[i + 1].position) : plot.right();
            painter.setPen(QPen(colour, 2));
            painter.drawLine(QPointF(x(points[i].position), y(points[i].tempo)), QPointF(end, y(points[i].tempo)));
            painter.setBrush(colour);
            painter.drawEllipse(QPointF(x(points[i].position), y(points[i].tempo)), 3, 3);
            if (curve.showTempos) {
                painter.drawText(QPointF(x(points[i].position) + 4, y(points[i].tempo) - 4),
                                 QString::number(std::lround(points[i].tempo)));
            }
        }
    }
}

}  // namespace qvp3
