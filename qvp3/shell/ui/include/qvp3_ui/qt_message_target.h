// Window messages as Qt events: the platform's MessageTarget for a receiver
// on the user-interface thread. A message's number is the event's type
// (numbers 1000..65535); WM_COMMAND has a type of its own carrying the
// command id and notification code, and the few system numbers below 1000
// share one type that carries their number. The parameters are copied into
// the event: a poster never hands the receiver a pointer into its own stack.
#pragma once

#include <QEvent>
#include <QObject>
#include <QPointer>

#include <mutex>

#include "platform/message_target.h"

namespace qvp3ui {

inline constexpr int kCommandEventType = 1000;     // WM_COMMAND
inline constexpr int kSystemMessageEventType = 1001;  // other numbers below 1000

// The event type that carries a message number.
QEvent::Type messageEventType(platform::MessageId msg);

class MessageEvent : public QEvent {
public:
    MessageEvent(platform::MessageId msg, platform::WParam wParam, platform::LParam lParam);
    platform::MessageId msg;
    platform::WParam wParam;
    platform::LParam lParam;
    // WM_COMMAND's halves: the command id (low word) and the code (high word).
    int commandId() const { return static_cast<int>(wParam & 0xFFFF); }
    int commandCode() const { return static_cast<int>((wParam >> 16) & 0xFFFF); }
};

// WM_COMMAND's wParam of an id and a notification code.
constexpr platform::WParam makeCommandWParam(int id, int code) {
    return (static_cast<platform::WParam>(code & 0xFFFF) << 16) | static_cast<platform::WParam>(id & 0xFFFF);
}

// Delivers messages to a handler on the thread of the receiver object (the
// user-interface thread). post() queues an event; send() from the
// receiver's thread calls the handler at once, from any other thread it
// waits until the receiver's thread has handled it. After close(), or when
// the receiver is destroyed, posts return false and sends 0.
class QtMessageTarget : public platform::MessageTarget {
public:
    QtMessageTarget(QObject* receiver, platform::MessageHandler handler);
    ~QtMessageTarget() override;
    QtMessageTarget(const QtMessageTarget&) = delete;
    QtMessageTarget& operator=(const QtMessageTarget&) = delete;

    bool post(platform::MessageId msg, platform::WParam wParam, platform::LParam lParam) override;
    platform::LResult send(platform::MessageId msg, platform::WParam wParam, platform::LParam lParam) override;
    void close();

    // The receiver's event() hands message events here; true when handled.
    bool dispatch(QEvent* event);

private:
    QPointer<QObject> receiver_;
    platform::MessageHandler handler_;
    std::mutex mutex_;
    bool closed_ = false;
};

}  // namespace qvp3ui
