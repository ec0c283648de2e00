// The objects of a voice written as text, shared by the writer's appenders,
// which write them at once, and its helper thread, which writes the objects
// they recorded (CVxmlFile::deferObjectText).
#pragma once

#include "scorecore/score_event.h"
#include "scorecore/vxml_tree.h"
#include "scorecore/xml_text.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace scorecore {

// The "drawObjects" of a chord or rest into the open element of out, placed
// by the heads on the clef (null: no staff, nothing placed by the heads).
int writeDrawObjects(XmlTextOut& out, const CScoreEvent& event, const CScoreClef* clef, int convProps);

// The text of a recorded object into its voice, byte for byte as its appender
// writes it at once. kOk or kErrOutOfMemory; a rest that cannot be written
// whole keeps what was written of it, as its appender's -7 does.
int writePendingObject(CVxmlVoice& voice, const CVxmlPendingObject& object);

// Writes the recorded objects of the voices handed to it on a thread of its
// own, in the order they are handed over. A voice's text is the helper's
// until wait() returns; where no thread can be started the objects are
// written on the caller's thread.
class VxmlObjectWriter {
public:
    VxmlObjectWriter();
    // What was handed over and not started is dropped.
    ~VxmlObjectWriter();
    VxmlObjectWriter(const VxmlObjectWriter&) = delete;
    VxmlObjectWriter& operator=(const VxmlObjectWriter&) = delete;

    // Seals the voice and takes its recorded objects.
    void hand(CVxmlVoice& voice);
    // Once everything handed over is written: kOk, or the first failure.
    int wait();

private:
    struct Job {
        CVxmlVoice* voice = nullptr;
        std::vector<CVxmlPendingObject> objects;
    };
    void run();
    int write(const Job& job) const;

    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable done_;
    std::deque<Job> jobs_;
    bool busy_ = false;
    bool stopping_ = false;
    int failure_ = 0;
    std::thread thread_;
};

}  // namespace scorecore
