// The threads that run a step's jobs in order (see parallel_jobs.h).
#include "parallel_jobs.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace qvp3 {

int cnvParallelWidth(int wanted) {
    if (wanted > 0) return wanted;
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

ParallelJobs::ParallelJobs(int threads, platform::ThreadPriority priority) {
    const int count = std::max(threads, 1);
    for (int i = 0; i < count; ++i) {
        try {
            threads_.emplace_back([this, priority] { work(priority); });
        } catch (const std::system_error&) {
            break;  // fewer threads; with none, waitFor runs the jobs
        }
    }
}

ParallelJobs::~ParallelJobs() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    queued_.notify_all();
    for (std::thread& t : threads_) t.join();
}

std::size_t ParallelJobs::add(std::function<void()> job) {
    std::size_t number = 0;
    {
        std::lock_guard lock(mutex_);
        number = jobs_.size();
        jobs_.push_back(std::move(job));
        ended_.push_back(0);
    }
    queued_.notify_one();
    return number;
}

std::size_t ParallelJobs::added() const {
    std::lock_guard lock(mutex_);
    return jobs_.size();
}

bool ParallelJobs::ended(std::size_t number) const {
    std::lock_guard lock(mutex_);
    return number < ended_.size() && ended_[number] != 0;
}

std::size_t ParallelJobs::unfinished() const {
    std::lock_guard lock(mutex_);
    return jobs_.size() - endedCount_;
}

bool ParallelJobs::waitFor(std::size_t number, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (number >= jobs_.size()) return false;
    if (threads_.empty()) {
        while (ended_[number] == 0 && next_ <= number) runNext(lock);
        return ended_[number] != 0;
    }
    const std::size_t wakes = wakes_;
    changed_.wait_for(lock, timeout, [&] { return ended_[number] != 0 || wakes_ != wakes; });
    return ended_[number] != 0;
}

void ParallelJobs::wake() {
    {
        std::lock_guard lock(mutex_);
        ++wakes_;
    }
    changed_.notify_all();
}

// Runs the next queued job with the lock released while it runs.
void ParallelJobs::runNext(std::unique_lock<std::mutex>& lock) {
    const std::size_t number = next_++;
    std::function<void()> job = std::move(jobs_[number]);
    lock.unlock();
    job();
    job = nullptr;  // what it holds goes before the job counts as ended
    lock.lock();
    ended_[number] = 1;
    ++endedCount_;
    changed_.notify_all();
}

void ParallelJobs::work(platform::ThreadPriority priority) {
    platform::setCurrentThreadPriority(priority);  // best effort
    std::unique_lock lock(mutex_);
    while (true) {
        queued_.wait(lock, [&] { return closing_ || next_ < jobs_.size(); });
        if (closing_) return;
        runNext(lock);
    }
}

}  // namespace qvp3
