#include "platform/threads.h"

#include "platform/message_target.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;

namespace {

// Long enough never to expire on a loaded machine; only failing tests wait it out.
constexpr auto kGenerous = 10s;

template <class Pred>
bool waitUntil(Pred pred) {
    const auto deadline = std::chrono::steady_clock::now() + kGenerous;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

struct SchedState {
    int policy = SCHED_OTHER;
    int nice = 0;
    bool operator==(const SchedState&) const = default;
};

SchedState currentSched() {
    SchedState s;
    sched_param param{};
    pthread_getschedparam(pthread_self(), &s.policy, &param);
    s.nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    return s;
}

}  // namespace

// ---- Event ----

TEST(EventTest, StateAfterConstructionSetAndReset) {
    enum class Action { None, Set, SetTwice, Reset };
    struct Case {
        const char* name;
        Event::Kind kind;
        bool initiallySet;
        Action action;
        bool firstWait;
        bool secondWait;
    };
    const Case cases[] = {
        {"auto, initially set", Event::Kind::AutoReset, true, Action::None, true, false},
        {"manual, initially set", Event::Kind::ManualReset, true, Action::None, true, true},
        {"auto, initially clear", Event::Kind::AutoReset, false, Action::None, false, false},
        {"manual, initially clear", Event::Kind::ManualReset, false, Action::None, false, false},
        {"auto, set", Event::Kind::AutoReset, false, Action::Set, true, false},
        {"auto, set twice counts once", Event::Kind::AutoReset, false, Action::SetTwice, true, false},
        {"manual, set", Event::Kind::ManualReset, false, Action::Set, true, true},
        {"auto, reset", Event::Kind::AutoReset, true, Action::Reset, false, false},
        {"manual, reset", Event::Kind::ManualReset, true, Action::Reset, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Event event(c.kind, c.initiallySet);
        if (c.action == Action::Set || c.action == Action::SetTwice) event.set();
        if (c.action == Action::SetTwice) event.set();
        if (c.action == Action::Reset) event.reset();
        EXPECT_EQ(event.wait(0ms), c.firstWait);
        EXPECT_EQ(event.wait(0ms), c.secondWait);
    }
}

TEST(EventTest, AutoResetReleasesOneWaiterPerSet) {
    Event event(Event::Kind::AutoReset);
    std::atomic<int> released{0};
    std::atomic<int> timedOut{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] { ++(event.wait(kGenerous) ? released : timedOut); });
    }

    event.set();
    EXPECT_TRUE(waitUntil([&] { return released == 1; }));
    std::this_thread::sleep_for(50ms);  // time for a wrongly released second waiter to show
    EXPECT_EQ(released, 1);

    // Two sets in a row, before either waiter runs, release both.
    event.set();
    event.set();
    for (std::thread& w : waiters) w.join();
    EXPECT_EQ(released, 3);
    EXPECT_EQ(timedOut, 0);
    EXPECT_FALSE(event.wait(0ms));
}

TEST(EventTest, ManualResetReleasesEveryWaiterAndStaysSet) {
    Event event(Event::Kind::ManualReset);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            if (event.wait(kGenerous)) ++released;
        });
    }

    event.set();
    for (std::thread& w : waiters) w.join();
    EXPECT_EQ(released, 3);
    EXPECT_TRUE(event.wait(0ms));
    event.reset();
    EXPECT_FALSE(event.wait(0ms));
}

TEST(EventTest, TimedWaitOnAClearEventTimesOut) {
    for (Event::Kind kind : {Event::Kind::AutoReset, Event::Kind::ManualReset}) {
        Event event(kind);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(event.wait(30ms));
        EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
        EXPECT_FALSE(event.wait(-5ms));  // a negative time-out only tests
    }
}

TEST(EventTest, InfiniteWaitReturnsWhenSetFromAnotherThread) {
    Event event(Event::Kind::AutoReset);
    std::thread setter([&] {
        std::this_thread::sleep_for(10ms);
        event.set();
    });
    EXPECT_TRUE(event.wait(kInfiniteWait));
    setter.join();
}

// ---- Thread priorities ----

// Each level is tried on a fresh thread, so that one level's refusal or success
// does not decide the next. Whether the raising levels take effect depends on
// the privileges the tests run with; what is checked is that the result tells
// the truth about the thread.
TEST(ThreadPriorityTest, ResultTellsWhetherTheLevelTookEffect) {
    struct Case {
        ThreadPriority level;
        int nice;              // the nice value of a time-shared result
        std::optional<int> rt;  // the real-time policy tried first
    };
    const Case cases[] = {
        {ThreadPriority::Idle, 19, {}},
        {ThreadPriority::Lowest, 10, {}},
        {ThreadPriority::BelowNormal, 5, {}},
        {ThreadPriority::Normal, 0, {}},
        {ThreadPriority::AboveNormal, -5, {}},
        {ThreadPriority::Highest, -10, SCHED_RR},
        {ThreadPriority::TimeCritical, -15, SCHED_FIFO},
    };
    const SchedState mainBefore = currentSched();
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.level));
        std::thread([&c] {
            const SchedState before = currentSched();
            const bool ok = setCurrentThreadPriority(c.level);
            const SchedState after = currentSched();
            if (!ok) {
                EXPECT_EQ(after, before);
            } else if (c.rt && after.policy == *c.rt) {
                SUCCEED();
            } else {
                EXPECT_EQ(after.policy, SCHED_OTHER);
                EXPECT_EQ(after.nice, c.nice);
            }
        }).join();
    }
    EXPECT_EQ(currentSched(), mainBefore);  // only the calling thread changes
}

TEST(ThreadPriorityTest, LoweringAlwaysWorksAndUnknownLevelsAreRefused) {
    std::thread([] {
        EXPECT_TRUE(setCurrentThreadPriority(ThreadPriority::Idle));
        EXPECT_EQ(currentSched().nice, 19);
        EXPECT_FALSE(setCurrentThreadPriority(static_cast<ThreadPriority>(7)));
        EXPECT_EQ(currentSched().nice, 19);
    }).join();
}

// ---- WorkerThread ----

TEST(WorkerThreadTest, StopsCooperativelyWhenAsked) {
    WorkerThread worker;
    std::atomic<bool> looped{false};
    ASSERT_TRUE(worker.start([&](WorkerContext& ctx) {
        while (!ctx.stopRequested()) {
            looped = true;
            ctx.wakeEvent().wait(kInfiniteWait);  // requestStop must wake this
        }
    }));
    EXPECT_TRUE(waitUntil([&] { return looped.load(); }));
    EXPECT_TRUE(worker.running());

    EXPECT_TRUE(worker.stop(kGenerous));
    EXPECT_FALSE(worker.running());
    // Stopped and joined: the object can run a new thread.
    EXPECT_TRUE(worker.start([](WorkerContext&) {}));
    EXPECT_TRUE(worker.stop(kGenerous));
}

TEST(WorkerThreadTest, SignalWakesTheWorker) {
    RecordingMessageTarget page;
    WorkerThread worker;
    ASSERT_TRUE(worker.start([&](WorkerContext& ctx) {
        WParam wakes = 0;
        while (ctx.wakeEvent().wait(kGenerous) && !ctx.stopRequested()) page.post(WM_USER, ++wakes, 0);
    }));

    worker.signal();
    EXPECT_TRUE(page.waitForCount(1, kGenerous));
    worker.signal();
    EXPECT_TRUE(page.waitForCount(2, kGenerous));
    EXPECT_TRUE(worker.stop(kGenerous));
    EXPECT_EQ(page.count(), 2u);
}

TEST(WorkerThreadTest, WorkerThatDoesNotEndInTimeIsLeftRunning) {
    Event release(Event::Kind::ManualReset);
    WorkerThread worker;
    ASSERT_TRUE(worker.start([&](WorkerContext&) { release.wait(kGenerous); }));

    EXPECT_FALSE(worker.stop(20ms));
    EXPECT_TRUE(worker.running());
    EXPECT_FALSE(worker.start([](WorkerContext&) {}));  // the old thread is still there

    release.set();
    EXPECT_TRUE(worker.stop(kGenerous));
    EXPECT_FALSE(worker.running());
}

TEST(WorkerThreadTest, WorkerThatEndedByItselfStopsWithoutWaiting) {
    WorkerThread worker;
    ASSERT_TRUE(worker.start([](WorkerContext&) {}));
    EXPECT_TRUE(waitUntil([&] { return !worker.running(); }));
    EXPECT_TRUE(worker.stop(0ms));
    EXPECT_TRUE(worker.stop(0ms));  // nothing left to stop
}

TEST(WorkerThreadTest, StopFromTheWorkerItselfDoesNotJoin) {
    WorkerThread worker;
    std::atomic<int> selfStop{-1};
    ASSERT_TRUE(worker.start([&](WorkerContext& ctx) {
        selfStop = worker.stop(kGenerous) ? 1 : 0;
        EXPECT_TRUE(ctx.stopRequested());
    }));
    EXPECT_TRUE(worker.stop(kGenerous));
    EXPECT_EQ(selfStop, 0);
}

TEST(WorkerThreadTest, DestructorRequestsStopAndJoins) {
    std::atomic<bool> ended{false};
    {
        WorkerThread worker;
        ASSERT_TRUE(worker.start([&](WorkerContext& ctx) {
            while (!ctx.stopRequested()) ctx.wakeEvent().wait(kInfiniteWait);
            ended = true;
        }));
    }
    EXPECT_TRUE(ended);
}

TEST(WorkerThreadTest, FailedThreadCreationIsReportedAsFailure) {
    struct Case {
        const char* name;
        WorkerThread::Launcher launcher;
    };
    const Case cases[] = {
        {"system error", [](std::function<void()>) -> std::thread {
             throw std::system_error(EAGAIN, std::generic_category(), "no thread");
         }},
        {"no thread returned", [](std::function<void()>) { return std::thread(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WorkerThread worker(c.launcher);
        bool ran = false;
        EXPECT_FALSE(worker.start([&](WorkerContext&) { ran = true; }));
        EXPECT_FALSE(worker.running());
        EXPECT_TRUE(worker.stop(0ms));
        EXPECT_FALSE(ran);
    }
}

TEST(WorkerThreadTest, WorkerRunsAtTheRequestedPriority) {
    WorkerThread worker;
    std::atomic<int> nice{0};
    ASSERT_TRUE(worker.start([&](WorkerContext&) { nice = currentSched().nice; }, ThreadPriority::Idle));
    EXPECT_TRUE(worker.stop(kGenerous));
    EXPECT_EQ(nice, 19);
}
