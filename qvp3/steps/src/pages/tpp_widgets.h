// The tempo-curve page's own controls: the tempo slider that records a
// click without a drag as a tempo point, and the graph of the curve.
#pragma once

#include <QPointF>
#include <QSlider>
#include <QWidget>

#include "qvp3_project/project.h"

namespace qvp3 {

class TppTempoSlider : public QSlider {
public:
    TppTempoSlider(StepPage& page, QWidget* parent);

protected:
    // A press is held back until the pointer moves: a drag then works as
    // usual from where the button went down; a click without a move records
    // the tempo under the pointer instead.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    StepPage& page_;
    bool pressed_ = false;
    bool passedOn_ = false;
    QPointF pressAt_;
    Qt::KeyboardModifiers pressModifiers_;
};

// The entry's tempo curve over its length: the file's points, the recorded
// points and the tempo that records next, on a grid of tempos.
class TppCurveWidget : public QWidget {
public:
    explicit TppCurveWidget(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Where the slider's pointer is, for the page: the tool tip while recording.
void tppPointerOnSlider(StepPage& page, const QPoint& globalPoint);
void tppPointerLeftSlider(StepPage& page);
// A click on the slider without a drag, while recording.
bool tppRecordClick(StepPage& page, const QPoint& globalPoint);

// One recording step: a point at the player's place (MIDI entries, kept in
// position order within the entry's length) or the tempo to the engine
// (scores). False when it could not be taken.
bool tppRecordTempoPoint(ProjectEntry& entry);

// The length of the entry's music in ticks; 0 when it is not known.
std::uint32_t tppEntryLengthTicks(const ProjectEntry& entry);

}  // namespace qvp3
