#include "platform/message_target.h"

#include <utility>

#include "timed_wait.h"

namespace platform {

// ---- RecordingMessageTarget ----

void RecordingMessageTarget::record(MessageId msg, WParam wParam, LParam lParam, Delivery delivery) {
    log_.push_back({msg, wParam, lParam, delivery, std::this_thread::get_id()});
    arrived_.notify_all();
}

bool RecordingMessageTarget::post(MessageId msg, WParam wParam, LParam lParam) {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    record(msg, wParam, lParam, Delivery::Posted);
    return true;
}

LResult RecordingMessageTarget::send(MessageId msg, WParam wParam, LParam lParam) {
    MessageHandler handler;
    {
        std::lock_guard lock(mutex_);
        if (closed_) return 0;
        record(msg, wParam, lParam, Delivery::Sent);
        handler = sendHandler_;
    }
    // Called unlocked so that a handler may post or send to this target again.
    return handler ? handler(msg, wParam, lParam) : 0;
}

void RecordingMessageTarget::setSendHandler(MessageHandler handler) {
    std::lock_guard lock(mutex_);
    sendHandler_ = std::move(handler);
}

void RecordingMessageTarget::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
}

std::vector<RecordedMessage> RecordingMessageTarget::messages() const {
    std::lock_guard lock(mutex_);
    return log_;
}

std::size_t RecordingMessageTarget::count() const {
    std::lock_guard lock(mutex_);
    return log_.size();
}

bool RecordingMessageTarget::waitForCount(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return detail::timedWait(arrived_, lock, timeout, [&] { return log_.size() >= n; });
}

// ---- QueuedMessageTarget ----

QueuedMessageTarget::QueuedMessageTarget(MessageHandler handler)
    : handler_(std::move(handler)), owner_(std::this_thread::get_id()) {}

QueuedMessageTarget::~QueuedMessageTarget() {
    close();
    // A released sender still has to reacquire the mutex and leave send();
    // the members must outlive that.
    std::unique_lock lock(mutex_);
    replied_.wait(lock, [&] { return blockedSenders_ == 0; });
}

bool QueuedMessageTarget::post(MessageId msg, WParam wParam, LParam lParam) {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    queue_.push_back({msg, wParam, lParam, nullptr});
    queued_.notify_all();
    return true;
}

LResult QueuedMessageTarget::send(MessageId msg, WParam wParam, LParam lParam) {
    if (std::this_thread::get_id() == owner_) {
        if (closed()) return 0;
        return handler_ ? handler_(msg, wParam, lParam) : 0;
    }
    Reply reply;
    std::unique_lock lock(mutex_);
    if (closed_) return 0;
    queue_.push_back({msg, wParam, lParam, &reply});
    ++blockedSenders_;
    queued_.notify_all();
    replied_.wait(lock, [&] { return reply.done; });
    --blockedSenders_;
    // Notified under the lock: the destructor may be waiting for this count
    // and must not destroy the condition variable while it is used.
    if (blockedSenders_ == 0) replied_.notify_all();
    return reply.result;
}

void QueuedMessageTarget::complete(Reply* reply, LResult result) {
    if (!reply) return;
    std::lock_guard lock(mutex_);
    reply->result = result;
    reply->done = true;
    replied_.notify_all();
}

void QueuedMessageTarget::handle(const Item& item) {
    LResult result = 0;
    try {
        if (handler_) result = handler_(item.msg, item.wParam, item.lParam);
    } catch (...) {
        complete(item.reply, 0);  // never leave a sender blocked
        throw;
    }
    complete(item.reply, result);
}

void QueuedMessageTarget::pump() {
    if (std::this_thread::get_id() != owner_) return;
    std::unique_lock lock(mutex_);
    // Only what is queued now, so that a handler that posts to its own
    // target cannot keep this call going forever.
    for (std::size_t n = queue_.size(); n > 0 && !queue_.empty(); --n) {
        Item item = queue_.front();
        queue_.pop_front();
        lock.unlock();
        handle(item);
        lock.lock();
    }
}

bool QueuedMessageTarget::waitForMessage(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return detail::timedWait(queued_, lock, timeout, [&] { return closed_ || !queue_.empty(); });
}

void QueuedMessageTarget::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    for (const Item& item : queue_) {
        if (item.reply) item.reply->done = true;  // result stays 0
    }
    queue_.clear();
    replied_.notify_all();
    queued_.notify_all();
}

bool QueuedMessageTarget::closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

}  // namespace platform
