#include "qvp3_ui/qt_message_target.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace qvp3ui {

QEvent::Type messageEventType(platform::MessageId msg) {
    if (msg == platform::WM_COMMAND) return static_cast<QEvent::Type>(kCommandEventType);
    if (msg < 1000 || msg > 65535) return static_cast<QEvent::Type>(kSystemMessageEventType);
    return static_cast<QEvent::Type>(msg);
}

MessageEvent::MessageEvent(platform::MessageId m, platform::WParam w, platform::LParam l)
    : QEvent(messageEventType(m)), msg(m), wParam(w), lParam(l) {}

QtMessageTarget::QtMessageTarget(QObject* receiver, platform::MessageHandler handler)
    : receiver_(receiver), handler_(std::move(handler)) {}

QtMessageTarget::~QtMessageTarget() { close(); }

void QtMessageTarget::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
}

bool QtMessageTarget::post(platform::MessageId msg, platform::WParam wParam, platform::LParam lParam) {
    std::lock_guard lock(mutex_);
    if (closed_ || !receiver_) return false;
    QCoreApplication::postEvent(receiver_, new MessageEvent(msg, wParam, lParam));
    return true;
}

platform::LResult QtMessageTarget::send(platform::MessageId msg, platform::WParam wParam, platform::LParam lParam) {
    QObject* receiver = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (closed_ || !receiver_) return 0;
        receiver = receiver_;
    }
    if (receiver->thread() == QThread::currentThread()) return handler_ ? handler_(msg, wParam, lParam) : 0;
    // A call queued to the receiver's thread; when the receiver goes away
    // first, Qt drops the call and wakes this thread, which then answers 0.
    platform::LResult result = 0;
    QMetaObject::invokeMethod(
        receiver,
        [this, msg, wParam, lParam, &result] {
            {
                std::lock_guard lock(mutex_);
                if (closed_) return;
            }
            if (handler_) result = handler_(msg, wParam, lParam);
        },
        Qt::BlockingQueuedConnection);
    return result;
}

bool QtMessageTarget::dispatch(QEvent* event) {
    auto* message = dynamic_cast<MessageEvent*>(event);
    if (!message) return false;
    {
        std::lock_guard lock(mutex_);
        if (closed_) return true;
    }
    if (handler_) handler_(message->msg, message->wParam, message->lParam);
    return true;
}

}  // namespace qvp3ui
