// Finished voices written out as text on a thread of their own while the
// writer goes on building the next ones. A voice comes whole and taken out of
// its document; the packer moves it into a document of its own (no node of
// the writer's document is ever touched by two threads), writes it as the
// writer's document would write it and frees it.
#pragma once

#include <libxml/tree.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "scorecore/xml_dom.h"

namespace scorecore {

class VoicePacker {
public:
    // Where a voice's text goes when the packer is done: system, staff and
    // voice of the writer's tree.
    struct Slot {
        int system = 0;
        int staff = 0;
        int voice = 0;
    };

    // The saver is set up from the writer's document (its declaration decides
    // the encoding) before the thread starts. Throws std::system_error when
    // the thread cannot start.
    explicit VoicePacker(const XmlDocument& doc);
    ~VoicePacker();
    VoicePacker(const VoicePacker&) = delete;
    VoicePacker& operator=(const VoicePacker&) = delete;

    bool valid() const { return saver_.valid() && own_; }
    // Hands over a voice element out of any tree, with the indentation it is
    // written after. Waits while many voices are waiting already.
    void pack(xmlNodePtr voice, int depth, Slot slot);
    // Waits until every voice handed over is written; then visit(slot, text)
    // for each, in the order they came. False when one could not be written.
    template <typename Visit>
    bool finish(Visit&& visit) {
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [this] { return waiting_.empty() && !busy_; });
        for (Done& done : done_) visit(done.slot, std::move(done.text));
        done_.clear();
        const bool ok = !failed_;
        failed_ = false;
        return ok;
    }

private:
    struct Job {
        xmlNodePtr voice = nullptr;
        int depth = 0;
        Slot slot;
    };
    struct Done {
        Slot slot;
        std::string text;
    };
    void work();
    bool write(const Job& job, std::string& text);

    XmlNodeSaver saver_;
    XmlDocPtr own_;  // the document a voice moves into to be written and freed
    std::mutex mutex_;
    std::condition_variable wanted_;  // the thread: a voice is waiting, or stop
    std::condition_variable idle_;    // the writer: nothing is waiting or being written
    std::deque<Job> waiting_;
    std::deque<Done> done_;
    bool busy_ = false;
    bool failed_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace scorecore
