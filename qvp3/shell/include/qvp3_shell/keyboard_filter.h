// The program's keyboard hook: F1 goes to the open modeless dialog as its
// help command (9) and goes no further; holding F5 or F7 winds the current
// entry back or forward, wherever the focus is.
#pragma once

#include <QObject>

namespace qvp3 {

class MainWindow;

class KeyboardFilter : public QObject {
public:
    explicit KeyboardFilter(MainWindow& window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    MainWindow& window_;
};

// Installs the filter on the application for the window's lifetime.
void installKeyboardFilter(MainWindow& window);

}  // namespace qvp3
