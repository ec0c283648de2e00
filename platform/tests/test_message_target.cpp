#include "platform/message_target.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;

namespace {

// Long enough never to expire on a loaded machine; only failing tests wait it out.
constexpr auto kGenerous = 10s;

// What the queued target's handler saw.
struct Handled {
    MessageId msg;
    WParam wParam;
    LParam lParam;
    std::thread::id thread;
};

// The owner's message loop in miniature: pump until `done` or the time-out.
template <class Done>
bool pumpUntil(QueuedMessageTarget& target, Done done) {
    const auto deadline = std::chrono::steady_clock::now() + kGenerous;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        target.waitForMessage(10ms);
        target.pump();
    }
    return true;
}

}  // namespace

TEST(RecordingMessageTargetTest, LogsPostsAndSendsWithSenderThread) {
    RecordingMessageTarget target;
    target.setSendHandler([](MessageId, WParam w, LParam l) { return static_cast<LResult>(w) * 10 + l; });

    EXPECT_TRUE(target.post(WM_PLAY_POSITION, 104, 7));
    LResult sentResult = 0;
    std::thread::id workerId;
    std::thread worker([&] {
        workerId = std::this_thread::get_id();
        sentResult = target.send(WM_PLUGIN_SCAN_ITEM, 4, -3);
    });
    worker.join();

    EXPECT_EQ(sentResult, 37);
    const std::vector<RecordedMessage> log = target.messages();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].msg, WM_PLAY_POSITION);
    EXPECT_EQ(log[0].wParam, 104u);
    EXPECT_EQ(log[0].lParam, 7);
    EXPECT_EQ(log[0].delivery, Delivery::Posted);
    EXPECT_EQ(log[0].thread, std::this_thread::get_id());
    EXPECT_EQ(log[1].msg, WM_PLUGIN_SCAN_ITEM);
    EXPECT_EQ(log[1].lParam, -3);
    EXPECT_EQ(log[1].delivery, Delivery::Sent);
    EXPECT_EQ(log[1].thread, workerId);
}

TEST(RecordingMessageTargetTest, WaitForCountSeesEveryMessageFromManyThreads) {
    RecordingMessageTarget target;
    constexpr int kThreads = 4;
    constexpr int kPerThread = 50;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&target, t] {
            for (int i = 0; i < kPerThread; ++i) {
                if (i % 2) target.send(WM_ENGINE_PROGRESS, static_cast<WParam>(t), i);
                else target.post(WM_ENGINE_PROGRESS, static_cast<WParam>(t), i);
            }
        });
    }
    EXPECT_TRUE(target.waitForCount(kThreads * kPerThread, kGenerous));
    for (std::thread& s : senders) s.join();

    EXPECT_FALSE(target.waitForCount(kThreads * kPerThread + 1, 20ms));
    std::vector<LParam> next(kThreads, 0);  // each thread's messages stay in its order
    for (const RecordedMessage& m : target.messages()) {
        ASSERT_LT(m.wParam, static_cast<WParam>(kThreads));
        EXPECT_EQ(m.lParam, next[m.wParam]++);
    }
}

TEST(RecordingMessageTargetTest, ClosedTargetRefusesAndDoesNotLog) {
    RecordingMessageTarget target;
    bool handlerCalled = false;
    target.setSendHandler([&](MessageId, WParam, LParam) {
        handlerCalled = true;
        return LResult{1};
    });
    target.close();

    EXPECT_FALSE(target.post(WM_STEP_WORKER_DONE, 0, 0));
    EXPECT_EQ(target.send(WM_PLUGIN_SCAN_DONE, 0, 0), 0);
    EXPECT_FALSE(handlerCalled);
    EXPECT_EQ(target.count(), 0u);
}

TEST(QueuedMessageTargetTest, PostsWaitForTheOwnerAndAreHandledOnItsThread) {
    std::vector<Handled> handled;  // touched only on the owner thread
    QueuedMessageTarget target([&](MessageId m, WParam w, LParam l) {
        handled.push_back({m, w, l, std::this_thread::get_id()});
        return LResult{0};
    });
    constexpr int kThreads = 3;
    constexpr int kPerThread = 20;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&target, t] {
            for (int i = 0; i < kPerThread; ++i) EXPECT_TRUE(target.post(WM_PLUGIN_SCAN_ITEM, static_cast<WParam>(t), i));
        });
    }
    for (std::thread& p : posters) p.join();
    std::thread stranger([&] { target.pump(); });  // only the owner may handle messages
    stranger.join();
    EXPECT_TRUE(handled.empty());

    target.pump();

    ASSERT_EQ(handled.size(), static_cast<std::size_t>(kThreads * kPerThread));
    std::vector<LParam> next(kThreads, 0);
    for (const Handled& h : handled) {
        EXPECT_EQ(h.thread, std::this_thread::get_id());
        EXPECT_EQ(h.lParam, next[h.wParam]++);
    }
}

TEST(QueuedMessageTargetTest, SendFromWorkerIsHandledOnOwnerAndReturnsItsResult) {
    std::vector<Handled> handled;
    QueuedMessageTarget target([&](MessageId m, WParam w, LParam l) {
        handled.push_back({m, w, l, std::this_thread::get_id()});
        return static_cast<LResult>(l + 1);
    });
    std::atomic<bool> workerDone{false};
    LResult result = 0;
    std::thread worker([&] {
        target.post(WM_PLUGIN_SCAN_ITEM, 1, 10);
        result = target.send(WM_PLUGIN_SCAN_DONE, 2, 41);
        workerDone = true;
    });

    EXPECT_TRUE(pumpUntil(target, [&] { return workerDone.load(); }));
    worker.join();

    EXPECT_EQ(result, 42);
    ASSERT_EQ(handled.size(), 2u);  // in the order they were issued
    EXPECT_EQ(handled[0].msg, WM_PLUGIN_SCAN_ITEM);
    EXPECT_EQ(handled[1].msg, WM_PLUGIN_SCAN_DONE);
    EXPECT_EQ(handled[1].thread, std::this_thread::get_id());
}

TEST(QueuedMessageTargetTest, SendFromOwnerCallsHandlerAtOnce) {
    int calls = 0;
    QueuedMessageTarget target([&](MessageId, WParam w, LParam) {
        ++calls;
        return static_cast<LResult>(w);
    });

    EXPECT_EQ(target.send(WM_WAITDLG_DONE, 5, 0), 5);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(target.waitForMessage(0ms));  // nothing was queued
}

TEST(QueuedMessageTargetTest, PumpHandlesOnlyWhatWasQueuedWhenCalled) {
    int calls = 0;
    std::unique_ptr<QueuedMessageTarget> target;
    target = std::make_unique<QueuedMessageTarget>([&](MessageId m, WParam, LParam) {
        ++calls;
        target->post(m, 0, 0);  // a handler that keeps re-posting must not hang the pump
        return LResult{0};
    });
    target->post(WM_USER, 0, 0);

    target->pump();
    EXPECT_EQ(calls, 1);
    target->pump();
    EXPECT_EQ(calls, 2);
}

TEST(QueuedMessageTargetTest, ClosingOrDestroyingReleasesBlockedSenders) {
    struct Case {
        const char* name;
        bool destroy;
    };
    for (const Case& c : {Case{"close", false}, Case{"destroy", true}}) {
        SCOPED_TRACE(c.name);
        bool handlerCalled = false;
        auto target = std::make_unique<QueuedMessageTarget>([&](MessageId, WParam, LParam) {
            handlerCalled = true;
            return LResult{99};
        });
        QueuedMessageTarget* raw = target.get();
        LResult result = -1;
        std::thread sender([&] { result = raw->send(WM_WAITDLG_TEXT, 0, 0); });

        ASSERT_TRUE(target->waitForMessage(kGenerous));  // the sender is now blocked
        if (c.destroy) {
            target.reset();
        } else {
            target->close();
            EXPECT_FALSE(target->post(WM_WAITDLG_DONE, 0, 0));
            EXPECT_EQ(target->send(WM_WAITDLG_DONE, 0, 0), 0);
            std::thread late([&] { EXPECT_EQ(raw->send(WM_WAITDLG_DONE, 0, 0), 0); });
            late.join();
            target->pump();
        }
        sender.join();

        EXPECT_EQ(result, 0);
        EXPECT_FALSE(handlerCalled);
    }
}

TEST(QueuedMessageTargetTest, ThrowingHandlerStillReleasesTheSender) {
    QueuedMessageTarget target([](MessageId, WParam, LParam) -> LResult { throw std::runtime_error("handler failed"); });
    LResult result = -1;
    std::thread sender([&] { result = target.send(WM_ENGINE_MODIFIED, 1, 0); });

    ASSERT_TRUE(target.waitForMessage(kGenerous));
    EXPECT_THROW(target.pump(), std::runtime_error);
    sender.join();
    EXPECT_EQ(result, 0);
}
