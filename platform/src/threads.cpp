#include "platform/threads.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include "timed_wait.h"

namespace platform {

// ---- Event ----

Event::Event(Kind kind, bool initiallySet) : kind_(kind), signalled_(initiallySet) {}

void Event::set() {
    std::lock_guard lock(mutex_);
    if (kind_ == Kind::ManualReset) {
        signalled_ = true;
        ++generation_;
    } else if (waiters_ > releases_) {
        // Hand the set to a waiter now, so that a second set() before it runs
        // releases a second waiter instead of being lost.
        ++releases_;
    } else {
        signalled_ = true;
    }
    cv_.notify_all();
}

void Event::reset() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

bool Event::wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (signalled_) {
        if (kind_ == Kind::AutoReset) signalled_ = false;
        return true;
    }
    ++waiters_;
    bool released = false;
    if (kind_ == Kind::AutoReset) {
        released = detail::timedWait(cv_, lock, timeout, [&] { return releases_ > 0; });
        if (released) --releases_;
    } else {
        const std::uint64_t seen = generation_;
        released = detail::timedWait(cv_, lock, timeout, [&] { return signalled_ || generation_ != seen; });
    }
    --waiters_;
    return released;
}

// ---- Thread priorities ----

namespace {

// Real-time priorities (1..99 on Linux), kept low: above every time-shared
// thread, below the system's own real-time threads.
constexpr int kHighestRtPriority = 10;
constexpr int kTimeCriticalRtPriority = 20;

bool setNice(int nice) {
    // Linux keeps a nice value per thread, addressed by the thread id.
    return setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice) == 0;
}

bool setPolicy(int policy, int rtPriority) {
    sched_param param{};
    param.sched_priority = rtPriority;
    return pthread_setschedparam(pthread_self(), policy, &param) == 0;
}

bool isRealTime() {
    int policy = SCHED_OTHER;
    sched_param param{};
    if (pthread_getschedparam(pthread_self(), &policy, &param) != 0) return false;
    return policy == SCHED_FIFO || policy == SCHED_RR;
}

// The nice value first: while the thread is still real-time it only takes
// effect later, and a refusal leaves the scheduling untouched.
bool setTimeShared(int nice) {
    if (!setNice(nice)) return false;
    return !isRealTime() || setPolicy(SCHED_OTHER, 0);
}

bool setRealTimeOr(int policy, int rtPriority, int fallbackNice) {
    return setPolicy(policy, rtPriority) || setTimeShared(fallbackNice);
}

}  // namespace

bool setCurrentThreadPriority(ThreadPriority priority) {
    switch (priority) {
    case ThreadPriority::Idle: return setTimeShared(19);
    case ThreadPriority::Lowest: return setTimeShared(10);
    case ThreadPriority::BelowNormal: return setTimeShared(5);
    case ThreadPriority::Normal: return setTimeShared(0);
    case ThreadPriority::AboveNormal: return setTimeShared(-5);
    case ThreadPriority::Highest: return setRealTimeOr(SCHED_RR, kHighestRtPriority, -10);
    case ThreadPriority::TimeCritical: return setRealTimeOr(SCHED_FIFO, kTimeCriticalRtPriority, -15);
    }
    return false;  // a value that is no level (for example a corrupt setting)
}

}  // namespace platform
