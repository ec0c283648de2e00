#include "voice_packer.h"

#include <new>
#include <utility>

namespace scorecore {

namespace {

// Voices waiting at most: a few parts' worth, so that the elements in memory
// stay few when the writer runs ahead.
constexpr std::size_t kMostWaiting = 256;

}  // namespace

VoicePacker::VoicePacker(const XmlDocument& doc)
    : saver_(doc), own_(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"))) {
    thread_ = std::thread([this] { work(); });
}

VoicePacker::~VoicePacker() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wanted_.notify_all();
    thread_.join();
    // Voices never written are freed with the rest.
    for (Job& job : waiting_) xmlFreeNode(job.voice);
}

void VoicePacker::pack(xmlNodePtr voice, int depth, Slot slot) {
    {
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [this] { return waiting_.size() < kMostWaiting; });
        waiting_.push_back(Job{voice, depth, slot});
    }
    wanted_.notify_one();
}

// The voice's text as packVoice writes it: the indentation of its depth, then
// the element.
bool VoicePacker::write(const Job& job, std::string& text) {
    xmlSetTreeDoc(job.voice, own_.get());
    try {
        text += '\n';
        text.append(static_cast<std::size_t>(job.depth), '\t');
    } catch (const std::bad_alloc&) {
        return false;
    }
    const bool saved = saver_.save(job.voice, text);
    if (saved) text.shrink_to_fit();
    return saved;
}

void VoicePacker::work() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wanted_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
            if (stopping_) return;
            job = waiting_.front();
            waiting_.pop_front();
            busy_ = true;
        }
        idle_.notify_all();
        std::string text;
        const bool ok = write(job, text);
        xmlFreeNode(job.voice);
        {
            const std::lock_guard lock(mutex_);
            busy_ = false;
            try {
                if (ok) done_.push_back(Done{job.slot, std::move(text)});
            } catch (const std::bad_alloc&) {
                failed_ = true;
            }
            failed_ = failed_ || !ok;
        }
        idle_.notify_all();
    }
}

}  // namespace scorecore
