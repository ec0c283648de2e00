#include "qvp3_shell/keyboard_filter.h"

#include <QApplication>
#include <QKeyEvent>

#include "qvp3_shell/app_state.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_ui/qt_message_target.h"

namespace qvp3 {

KeyboardFilter::KeyboardFilter(MainWindow& window) : QObject(&window), window_(window) {}

bool KeyboardFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) return false;
    // A key event that a widget leaves passes on to its parents, and this
    // filter sees it at each: it is handled once, where it was sent first.
    QWidget* first = QApplication::focusWidget() ? QApplication::focusWidget() : QApplication::activeWindow();
    if (watched != first) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const bool down = event->type() == QEvent::KeyPress;
    if (key->key() == Qt::Key_F1 && down) {
        QWidget* dialog = window_.app().modelessDialog;
        if (!dialog) return false;
        qvp3ui::MessageEvent help(platform::WM_COMMAND, qvp3ui::makeCommandWParam(9, 0), 0);
        QCoreApplication::sendEvent(dialog, &help);
        return true;
    }
    if ((key->key() == Qt::Key_F5 || key->key() == Qt::Key_F7) && !key->isAutoRepeat()) {
        window_.target().send(down ? WM_KEYDOWN : WM_KEYUP, static_cast<platform::WParam>(key->key()), 1);
    }
    return false;
}

void installKeyboardFilter(MainWindow& window) { qApp->installEventFilter(new KeyboardFilter(window)); }

}  // namespace qvp3
