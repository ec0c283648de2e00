#include "qvp3_shell/seek_button.h"

#include <QMouseEvent>

#include "qvp3_shell/main_commands.h"
#include "qvp3_shell/main_window.h"

namespace qvp3 {

namespace {

MainWindow* mainWindowOf(QWidget* w) { return qobject_cast<MainWindow*>(w->window()); }

}  // namespace

SeekButton::SeekButton(int key, QWidget* parent) : QPushButton(parent), key_(key) {}

void SeekButton::mousePressEvent(QMouseEvent* event) {
    QPushButton::mousePressEvent(event);
    if (MainWindow* window = mainWindowOf(this); window && isEnabled()) MainCommands(*window).onSeekKey(key_, true);
}

void SeekButton::mouseReleaseEvent(QMouseEvent* event) {
    QPushButton::mouseReleaseEvent(event);
    if (MainWindow* window = mainWindowOf(this)) MainCommands(*window).onSeekKey(key_, false);
}

}  // namespace qvp3
