// Controls that do more than their kind: transport buttons that act as a held
// key, buttons that repeat a step while they are held, number edits that
// select their row in the page's list, and a page background painted only
// while its page is the current one. Each asks `active` (the project has
// files) before it does anything of its own; without it they are plain controls.
#pragma once

#include <QBrush>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <functional>

#include "platform/message_target.h"

class QAbstractButton;
class QAbstractItemView;

namespace qvp3 {

using ActiveTest = std::function<bool()>;

// Key down and up of a held key, as the main window hears them (wParam: the Qt key, lParam 1).
inline constexpr platform::MessageId WM_KEYDOWN = 0x0100;
inline constexpr platform::MessageId WM_KEYUP = 0x0101;

// Pressing an attached button (the left mouse button or the space key), after
// the button's own handling, tells the target window that the button's key
// went down; releasing it that the key went up. Holding the button is holding the key.
class TransportKeyButtons : public QObject {
    Q_OBJECT
public:
    TransportKeyButtons(platform::MessageTarget& target, ActiveTest active, QObject* parent = nullptr);
    void attach(QAbstractButton& button, Qt::Key key);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    platform::MessageTarget& target_;
    ActiveTest active_;
};

// While held, runs its step at once and then every interval until the step
// answers false (the end of the range) or the button is released. The steps
// run on the user-interface thread, between its other work.
class HoldRepeatButton : public QPushButton {
    Q_OBJECT
public:
    using Step = std::function<bool()>;

    explicit HoldRepeatButton(QWidget* parent = nullptr);
    void setActiveTest(ActiveTest active) { active_ = std::move(active); }
    void setStep(Step step) { step_ = std::move(step); }
    void setRepeatInterval(int ms) { timer_.setInterval(ms); }
    bool repeating() const { return timer_.isActive(); }

signals:
    // Before the first step, and after the button was let go.
    void holdStarted();
    void holdEnded();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void stepOnce();

    ActiveTest active_;
    Step step_;
    QTimer timer_;
    bool held_ = false;
};

// The row property of a number edit in a page's per-voice panel.
inline constexpr const char* kNumberRowProperty = "LFNummer";

// When an attached edit gets the focus, the page's list selects the edit's
// row (its "LFNummer"): alone, unless Shift or Ctrl is held.
class NumberEditRows : public QObject {
    Q_OBJECT
public:
    NumberEditRows(QAbstractItemView& list, ActiveTest active, QObject* parent = nullptr);
    void attach(QWidget& edit, int row);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QAbstractItemView> list_;
    ActiveTest active_;
};

// A page's background: filled with the program's background brush while
// `current` says its page is the one shown, otherwise left unpainted.
class PageBackground : public QWidget {
    Q_OBJECT
public:
    explicit PageBackground(QWidget* parent = nullptr);
    void setBrush(const QBrush& brush) { brush_ = brush; }
    void setCurrentTest(ActiveTest current) { current_ = std::move(current); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QBrush brush_;
    ActiveTest current_;
};

}  // namespace qvp3
