#include "tempo_pages.h"

#include <QAbstractButton>
#include <QCursor>
#include <QInputEvent>
#include <QPainter>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>
#include <cmath>

#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/midi_write.h"
#include "qvp3_pipeline/playback.h"
#include "qvp3_pipeline/sequencer.h"
#include "qvp3_project/step_changes.h"
#include "qvp3_project/tempo_curve.h"
#include "qvp3_steps/page_events.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/message_box.h"
#include "qvp3_ui/qt_message_target.h"

namespace qvp3 {

namespace {

constexpr int kTempoLow = 10;
constexpr int kTempoHigh = 720;
constexpr int kRelativeHigh = 2000;
constexpr int kStepIconSize = 32;
constexpr const char* kModifiersProperty = "qvp3Modifiers";

platform::MessageTarget* targetOf(StepPage& page) {
    const auto* block = stpData<StepDataBlock>(page);
    return block != nullptr ? block->target : nullptr;
}

// Track bar codes of a slider's actions.
int scrollCode(int action) {
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub: return kSbLineLeft;
    case QAbstractSlider::SliderSingleStepAdd: return kSbLineRight;
    case QAbstractSlider::SliderPageStepSub: return kSbPageLeft;
    case QAbstractSlider::SliderPageStepAdd: return kSbPageRight;
    case QAbstractSlider::SliderMove: return kSbThumbTrack;
    case QAbstractSlider::SliderToMinimum: return 6;
    case QAbstractSlider::SliderToMaximum: return 7;
    default: return -1;
    }
}

}  // namespace

QFont tmpFont(int pixelSize, bool bold, bool underline) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(pixelSize);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    font.setUnderline(underline);
    return font;
}

Project* tmpProject() {
    StepPageHost* host = stpPageHost();
    return host != nullptr ? &host->project() : nullptr;
}

ProjectEntry* tmpCurrentEntry() {
    Project* project = tmpProject();
    return project != nullptr ? prjGetEntry(*project, -1) : nullptr;
}

double tmpPlayerTempo(ProjectEntry& entry) { return plyEntryPlayer(entry).tempo; }

void tmpSetPlayerTempo(ProjectEntry& entry, double tempo) { plyEntryPlayer(entry).tempo = tempo; }

double tmpWorkOutTempo(ProjectEntry& entry, std::int64_t ticks) {
    StepPageHost* host = stpPageHost();
    if (PlaybackControl* playback = host != nullptr ? host->playback() : nullptr) {
        return playback->plyEntryTempoAt(entry, ticks);
    }
    double tempo = 0.0;
    if (entry.kind == EntryKind::Midi) {
        tempo = plyEffectiveTempo(entry, ticks);
    } else if (entry.TempoIsRelative != 0 || entry.TempoAbsolute <= 0) {
        tempo = std::round(120.0 * std::pow(10.0, (entry.TempoRelative - 1000) / 1000.0));
    } else {
        tempo = entry.TempoAbsolute;
    }
    tmpSetPlayerTempo(entry, tempo);
    return tempo;
}

std::int64_t tmpPlayerTicks(ProjectEntry& entry) {
    return entry.kind == EntryKind::Midi ? plyEntryPlayer(entry).positionTicks : 0;
}

void tmpSetEntryTempo(ProjectEntry& entry, int value, bool absolute) {
    if (absolute) {
        entry.TempoAbsolute = std::clamp(value, kTempoLow, kTempoHigh);
    } else {
        entry.TempoRelative = std::clamp(value, 0, kRelativeHigh);
    }
    const double tempo = tmpWorkOutTempo(entry, tmpPlayerTicks(entry));
    if (tempo > 0.0) stpTempoCurveRescale(entry.tempoCurve, tempo);
    StepPageHost* host = stpPageHost();
    if (PlaybackControl* playback = host != nullptr ? host->playback() : nullptr; playback && entry.isBusy()) {
        playback->plySetEngineTempo(entry, -1.0);
    }
    if (Project* project = tmpProject()) {
        if (StepPage* page = stpGetPage(*project, kStepTmp)) stpTmpShowTempo(*page);
    }
    tmpEndEdit();
}

bool tmpWorkOutPlayTimes(StepPage& page) {
    StepPageHost* host = stpPageHost();
    if (host == nullptr) return false;
    const bool worked = prjComputePlayTimes(host->project(), host->playTimeProgress());
    page.pending = !worked;
    host->refreshFileList();
    if (!worked) qvp3ui::appWarningBox(kStrPlayTimesFailed);
    if (page.window != nullptr) page.window->update();
    return worked;
}

void tmpEndEdit() {
    StepPageHost* host = stpPageHost();
    if (host == nullptr) return;
    prjMarkStepDirty(host->project());
    host->refreshCommands();
}

bool tmpProjectTooLong(const Project& project) {
    return static_cast<std::int64_t>(project.totalMs) > static_cast<std::int64_t>(project.data.CDSpace) * 1000;
}

void tmpPaintNote(StepPage& page, QPainter& painter, const QRect& body) {
    if (page.window == nullptr) return;
    const PageHeader header = stpMeasureHeader(page, page.window->rect(), tmpCurrentEntry());
    if (header.note.isEmpty()) return;
    // A note in a round badge: the step's note icon.
    const QRect icon(header.note.left() - kStepIconSize - 10, header.note.top(), kStepIconSize, kStepIconSize);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kPageNoteText);
    painter.drawEllipse(icon.adjusted(2, 2, -2, -2));
    painter.setPen(kPageLabelText);
    painter.setFont(tmpFont(20, true));
    painter.drawText(icon, Qt::AlignCenter, QString(QChar(0x266A)));
    painter.setPen(kPageNoteText);
    painter.setFont(stpNoteFont());
    painter.drawText(header.note, Qt::TextWordWrap | Qt::TextExpandTabs, header.noteText);
    painter.setPen(QPen(kPageDisabledItem, 1));
    const int lineY = header.note.bottom() + 10;
    painter.drawLine(std::min(icon.left(), body.left()), lineY, header.note.right(), lineY);
    painter.restore();
}

int tmpItemWidth() {
    const QFontMetrics metrics(tmpFont(16, true));
    const QString text = QString::fromStdString(qvp3ui::uiString(kStrPlayTimesItem));
    return kItemIconSize + 10 + metrics.horizontalAdvance(text) + 2;
}

void tmpPaintItem(QPainter& painter, const QRect& item, bool disabled, bool hover) {
    const QColor colour = disabled ? kPageDisabledItem : kPageLabelText;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // A clock face: the item works out times.
    const QRectF face(item.left() + 2, item.top() + 2, kItemIconSize - 4, kItemIconSize - 4);
    painter.setPen(QPen(colour, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(face);
    painter.drawLine(face.center(), QPointF(face.center().x(), face.top() + 4));
    painter.drawLine(face.center(), QPointF(face.right() - 5, face.center().y()));
    painter.restore();
    const QRect text(item.left() + kItemIconSize + 10, item.top(), item.width() - kItemIconSize - 10, item.height());
    painter.save();
    painter.setPen(colour);
    painter.setFont(tmpFont(16, true, hover));
    const QString elided = painter.fontMetrics().elidedText(
        QString::fromStdString(qvp3ui::uiString(kStrPlayTimesItem)), Qt::ElideRight, text.width());
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, elided);
    painter.restore();
}

void tmpPaintLine(QPainter& painter, const QRect& rect, int stringId, const QColor& colour, const QFont& font) {
    painter.save();
    painter.setPen(colour);
    painter.setFont(font);
    const QString elided = painter.fontMetrics().elidedText(QString::fromStdString(qvp3ui::uiString(stringId)),
                                                            Qt::ElideRight, rect.width());
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, elided);
    painter.restore();
}

void tmpSliderSpan(const QSlider& slider, int& left, int& right) {
    QStyleOptionSlider option;
    option.initFrom(&slider);
    option.orientation = Qt::Horizontal;
    option.minimum = slider.minimum();
    option.maximum = slider.maximum();
    option.sliderPosition = slider.sliderPosition();
    option.sliderValue = slider.value();
    const QRect groove = slider.style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, &slider);
    const QRect handle = slider.style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, &slider);
    const int half = handle.width() / 2;
    left = groove.left() + half;
    right = groove.left() + groove.width() - 1 - half;
}

int tmpSliderValueX(const QSlider& slider, int value) {
    int left = 0;
    int right = 0;
    tmpSliderSpan(slider, left, right);
    const int span = std::max(1, slider.maximum() - slider.minimum());
    return left + static_cast<int>(std::lround(static_cast<double>(value - slider.minimum()) * (right - left) / span));
}

QPoint tmpCursorPos(const StepPage& page) {
    return page.window != nullptr ? page.window->mapFromGlobal(QCursor::pos()) : QPoint();
}

void tmpWireButton(StepPage& page, QAbstractButton& button, int id) {
    StepPage* p = &page;
    QObject::connect(&button, &QAbstractButton::clicked, &button, [p, &button, id] {
        if (platform::MessageTarget* target = targetOf(*p)) {
            target->send(platform::WM_COMMAND, qvp3ui::makeCommandWParam(id, 0),
                         reinterpret_cast<platform::LParam>(static_cast<QWidget*>(&button)));
        }
    });
}

namespace {

// Keeps the modifier keys of the input that moves a slider, for the page's
// steps that grow while Ctrl or Shift is held.
class ModifierWatch : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::MouseButtonPress:
        case QEvent::Wheel:
            watched->setProperty(kModifiersProperty, static_cast<int>(static_cast<QInputEvent*>(event)->modifiers()));
            break;
        default: break;
        }
        return false;
    }
};

}  // namespace

Qt::KeyboardModifiers tmpSliderModifiers(const QObject& slider) {
    return Qt::KeyboardModifiers(slider.property(kModifiersProperty).toInt());
}

void tmpWireSlider(StepPage& page, QAbstractSlider& slider) {
    slider.installEventFilter(new ModifierWatch(&slider));
    StepPage* p = &page;
    QObject::connect(&slider, &QAbstractSlider::actionTriggered, &slider, [p, &slider](int action) {
        const int code = scrollCode(action);
        platform::MessageTarget* target = targetOf(*p);
        if (code < 0 || target == nullptr) return;
        const auto position = static_cast<std::uint16_t>(slider.sliderPosition());
        target->send(WM_HSCROLL, static_cast<platform::WParam>(code) | (static_cast<platform::WParam>(position) << 16),
                     reinterpret_cast<platform::LParam>(static_cast<QWidget*>(&slider)));
    });
}

}  // namespace qvp3
