// A few threads that run a step's jobs in the order they are handed in,
// while the step takes their results in that same order: the files of a
// project are rendered or encoded several at a time, and everything the page
// sees (rows, bars, counts, questions, warnings) still comes one file after
// another from the step's own thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/threads.h"

namespace qvp3 {

// The number of jobs a step runs at once: wanted when positive, else the
// machine's hardware threads (at least 1).
int cnvParallelWidth(int wanted);

class ParallelJobs {
public:
    // Up to threads threads (at least 1), each at priority (best effort).
    // Where no thread can be made, a job runs on the thread that waits for it.
    ParallelJobs(int threads, platform::ThreadPriority priority);
    // Jobs not started yet are dropped; running ones are waited for. The
    // caller makes them end first (its cancel word) when it does not want to wait.
    ~ParallelJobs();
    ParallelJobs(const ParallelJobs&) = delete;
    ParallelJobs& operator=(const ParallelJobs&) = delete;

    // Queues a job; its number is the count of jobs added before it.
    std::size_t add(std::function<void()> job);
    std::size_t added() const;
    // Whether job number has returned.
    bool ended(std::size_t number) const;
    // Jobs added that have not returned yet.
    std::size_t unfinished() const;
    // Waits until job number has returned, at most timeout, or until wake()
    // is called; true when it has returned.
    bool waitFor(std::size_t number, std::chrono::milliseconds timeout);
    // Wakes a waitFor (a job reports progress, say).
    void wake();

private:
    void work(platform::ThreadPriority priority);
    void runNext(std::unique_lock<std::mutex>& lock);

    mutable std::mutex mutex_;
    std::condition_variable queued_;   // a job was added, or the jobs are closing
    std::condition_variable changed_;  // a job returned, or wake()
    std::vector<std::function<void()>> jobs_;
    std::vector<char> ended_;
    std::size_t next_ = 0;  // the first job not started
    std::size_t endedCount_ = 0;
    std::size_t wakes_ = 0;
    bool closing_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace qvp3
