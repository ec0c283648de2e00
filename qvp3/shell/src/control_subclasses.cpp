#include "qvp3_shell/control_subclasses.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <optional>

namespace qvp3 {
namespace {

constexpr const char* kKeyProperty = "qvp3TransportKey";

bool isActive(const ActiveTest& active) { return !active || active(); }

}  // namespace

TransportKeyButtons::TransportKeyButtons(platform::MessageTarget& target, ActiveTest active, QObject* parent)
    : QObject(parent), target_(target), active_(std::move(active)) {}

void TransportKeyButtons::attach(QAbstractButton& button, Qt::Key key) {
    button.setProperty(kKeyProperty, static_cast<int>(key));
    button.installEventFilter(this);
}

bool TransportKeyButtons::eventFilter(QObject* watched, QEvent* event) {
    if (!active_ || !active_()) return false;
    std::optional<bool> down;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            down = event->type() == QEvent::MouseButtonPress;
        break;
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space && !key->isAutoRepeat()) down = event->type() == QEvent::KeyPress;
        break;
    }
    default: break;
    }
    if (down) {
        // Posted, so the button has handled its own event first.
        const auto key = static_cast<platform::WParam>(watched->property(kKeyProperty).toInt());
        target_.post(*down ? WM_KEYDOWN : WM_KEYUP, key, 1);
    }
    return false;
}

HoldRepeatButton::HoldRepeatButton(QWidget* parent) : QPushButton(parent) {
    timer_.setInterval(100);
    connect(&timer_, &QTimer::timeout, this, &HoldRepeatButton::stepOnce);
}

void HoldRepeatButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && isActive(active_) && step_) {
        held_ = true;
        emit holdStarted();
        timer_.start();
        stepOnce();
    }
    QPushButton::mousePressEvent(event);
}

void HoldRepeatButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && held_) {
        held_ = false;
        timer_.stop();
        emit holdEnded();
    }
    QPushButton::mouseReleaseEvent(event);
}

void HoldRepeatButton::stepOnce() {
    if (!step_ || !step_()) timer_.stop();
}

NumberEditRows::NumberEditRows(QAbstractItemView& list, ActiveTest active, QObject* parent)
    : QObject(parent), list_(&list), active_(std::move(active)) {}

void NumberEditRows::attach(QWidget& edit, int row) {
    edit.setProperty(kNumberRowProperty, row);
    edit.installEventFilter(this);
}

bool NumberEditRows::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::FocusIn || !list_ || !isActive(active_)) return false;
    QAbstractItemModel* model = list_->model();
    const int row = watched->property(kNumberRowProperty).toInt();
    if (model == nullptr || row < 0 || row >= model->rowCount()) return false;
    QItemSelectionModel* selection = list_->selectionModel();
    const Qt::KeyboardModifiers held = QApplication::keyboardModifiers();
    auto flags = QItemSelectionModel::Select | QItemSelectionModel::Rows;
    if (!(held & (Qt::ShiftModifier | Qt::ControlModifier))) flags |= QItemSelectionModel::Clear;
    selection->setCurrentIndex(model->index(row, 0), flags);
    return false;
}

PageBackground::PageBackground(QWidget* parent) : QWidget(parent) {}

void PageBackground::paintEvent(QPaintEvent*) {
    if (brush_.style() == Qt::NoBrush || !current_ || !current_()) return;
    QPainter painter(this);
    painter.fillRect(rect(), brush_);
}

}  // namespace qvp3
