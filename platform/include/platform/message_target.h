// Window messages without windows: the numbers the subsystems exchange and
// one interface that receives them. Engines and workers report to their host
// through a MessageTarget; the shell implements it with its toolkit's events
// (the message number being the event type), headless code and tests with
// the two targets below. Nothing here depends on a GUI toolkit.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

// The Windows parameter types, sized as on Windows for pointers.
using MessageId = std::uint32_t;
using WParam = std::uintptr_t;
using LParam = std::intptr_t;
using LResult = std::intptr_t;

inline constexpr MessageId WM_COMMAND = 0x0111;
inline constexpr MessageId WM_USER = 0x0400;
inline constexpr MessageId WM_APP = 0x8000;

// Progress, tempo and position reports of the score library.
inline constexpr MessageId WM_MXML_PROGRESS = 2524;
// To the main window.
inline constexpr MessageId WM_PLAYBACK_ENDED = WM_USER + 1;
inline constexpr MessageId WM_ENGINE_MODIFIED = WM_USER + 7;
inline constexpr MessageId WM_PLAY_POSITION = WM_USER + 100;
inline constexpr MessageId WM_ENGINE_PROGRESS = WM_USER + 800;
// To the step pages.
inline constexpr MessageId WM_GRAPH_NOTIFY = WM_USER + 5;
inline constexpr MessageId WM_STEP_WORKER_DONE = WM_USER + 101;
// From the plug-in folder scan to the plug-in settings page.
inline constexpr MessageId WM_PLUGIN_SCAN_DONE = WM_USER + 1000;
inline constexpr MessageId WM_PLUGIN_SCAN_ITEM = WM_USER + 1001;
// To the modeless wait window.
inline constexpr MessageId WM_WAITDLG_TEXT = WM_APP + 150;
inline constexpr MessageId WM_WAITDLG_DONE = WM_APP + 151;

// The receiving end of window messages.
class MessageTarget {
public:
    virtual ~MessageTarget() = default;

    // Queues the message for the receiver and returns at once; false when the
    // receiver is gone or closed (the message is dropped).
    virtual bool post(MessageId msg, WParam wParam, LParam lParam) = 0;
    // Has the receiver handle the message and returns its result. From a
    // thread other than the receiver's, the message is handled on the
    // receiver's thread while the caller waits. 0 when the receiver is gone.
    virtual LResult send(MessageId msg, WParam wParam, LParam lParam) = 0;
    // Handles what is queued, for receivers that are pumped by their owner.
    virtual void pump() {}
};

using MessageHandler = std::function<LResult(MessageId, WParam, LParam)>;

enum class Delivery { Posted, Sent };

struct RecordedMessage {
    MessageId msg = 0;
    WParam wParam = 0;
    LParam lParam = 0;
    Delivery delivery = Delivery::Posted;
    std::thread::id thread;  // the thread that posted or sent it
};

// Test double: logs every message, from any thread. Sent messages are answered
// on the sender's thread by the optional handler (0 without one).
class RecordingMessageTarget : public MessageTarget {
public:
    bool post(MessageId msg, WParam wParam, LParam lParam) override;
    LResult send(MessageId msg, WParam wParam, LParam lParam) override;

    void setSendHandler(MessageHandler handler);
    // Makes the target behave as a destroyed window: posts return false and
    // sends return 0, and neither is logged.
    void close();

    std::vector<RecordedMessage> messages() const;
    std::size_t count() const;
    // Waits until at least `n` messages have been logged; false on timeout.
    // milliseconds::max() waits without limit (as every wait here does).
    bool waitForCount(std::size_t n, std::chrono::milliseconds timeout) const;

private:
    void record(MessageId msg, WParam wParam, LParam lParam, Delivery delivery);

    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<RecordedMessage> log_;
    MessageHandler sendHandler_;
    bool closed_ = false;
};

// A receiver owned by one thread (the one that constructs it), like a window
// and its message queue. Posts from any thread are queued until the owner
// calls pump(); a send from another thread is queued too and blocks until the
// owner has handled it, while a send from the owner calls the handler at
// once. Queued messages, sent or posted, are handled in arrival order.
//
// A thread blocked in send() does not handle messages sent to targets it
// owns, so an owner must not wait for a thread that sends to it without
// pumping (or closing the target) meanwhile.
class QueuedMessageTarget : public MessageTarget {
public:
    explicit QueuedMessageTarget(MessageHandler handler);
    // Closes the target and waits until every blocked sender has left send().
    ~QueuedMessageTarget() override;
    QueuedMessageTarget(const QueuedMessageTarget&) = delete;
    QueuedMessageTarget& operator=(const QueuedMessageTarget&) = delete;

    bool post(MessageId msg, WParam wParam, LParam lParam) override;
    LResult send(MessageId msg, WParam wParam, LParam lParam) override;
    // Handles the messages queued when it is called (the handler may queue
    // more, which wait for the next pump). Does nothing on other threads.
    // When the handler throws, a sender waiting for that message gets 0 and
    // the exception propagates to the caller of pump().
    void pump() override;
    // Owner only: waits until a message is queued or the target is closed;
    // false on timeout.
    bool waitForMessage(std::chrono::milliseconds timeout);
    // Drops the queue: further posts return false, blocked and later senders
    // get 0. Any thread may close.
    void close();
    bool closed() const;
    std::thread::id owner() const { return owner_; }

private:
    struct Reply {
        LResult result = 0;
        bool done = false;
    };
    struct Item {
        MessageId msg;
        WParam wParam;
        LParam lParam;
        Reply* reply;  // null for posted messages
    };

    void complete(Reply* reply, LResult result);
    void handle(const Item& item);

    const MessageHandler handler_;
    const std::thread::id owner_;
    mutable std::mutex mutex_;
    std::condition_variable queued_;    // owner waits for messages
    std::condition_variable replied_;   // senders wait for replies
    std::deque<Item> queue_;
    std::size_t blockedSenders_ = 0;
    bool closed_ = false;
};

}  // namespace platform
