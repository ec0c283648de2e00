#include "scorecore/result_codes.h"
#include "vxml_objects.h"

#include <new>
#include <system_error>
#include <utility>

namespace scorecore {

VxmlObjectWriter::VxmlObjectWriter() {
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // No helper: hand() writes at once.
    }
}

VxmlObjectWriter::~VxmlObjectWriter() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    work_.notify_all();
    if (thread_.joinable()) thread_.join();
}

int VxmlObjectWriter::write(const Job& job) const {
    int failure = kOk;
    for (const CVxmlPendingObject& object : job.objects) {
        const int rc = writePendingObject(*job.voice, object);
        if (rc != kOk && failure == kOk) failure = rc;
    }
    return failure;
}

void VxmlObjectWriter::hand(CVxmlVoice& voice) {
    Job job{&voice, std::move(voice.pending)};
    voice.pending.clear();
    voice.sealed = true;
    if (job.objects.empty()) return;
    if (thread_.joinable()) {
        try {
            const std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(job));
            work_.notify_one();
            return;
        } catch (const std::bad_alloc&) {
            // Written here then; the helper writes other voices only.
        }
    }
    const int rc = write(job);
    const std::lock_guard lock(mutex_);
    if (rc != kOk && failure_ == kOk) failure_ = rc;
}

int VxmlObjectWriter::wait() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return jobs_.empty() && !busy_; });
    return failure_;
}

void VxmlObjectWriter::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (stopping_) return;
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        busy_ = true;
        lock.unlock();
        const int rc = write(job);
        lock.lock();
        busy_ = false;
        if (rc != kOk && failure_ == kOk) failure_ = rc;
        if (jobs_.empty()) done_.notify_all();
    }
}

}  // namespace scorecore
