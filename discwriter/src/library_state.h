// The library's one global state: drive table, open drive, track list,
// settings and the client's event target. The exports are called from one
// client thread; the cancel flag and the event target are also read by the
// erase thread and may be set from any thread.
#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "drive_table.h"
#include "platform/message_target.h"
#include "recorder.h"

namespace scorecore { class CScoreLog; }

namespace discwriter {

struct Settings {
    bool burnProof = true;
    int writeSpeed = 0;  // sectors per second
    bool closeSession = true;
    bool closeDisc = true;
    bool simulate = false;
    bool gapless = false;
    bool copyProhibited = true;
    bool preemphasis = true;
    int verification = -1;
    WriteMode mode = WriteMode::TrackAtOnce;
};

class EraseWorker;

struct LibraryState {
    LibraryState();
    ~LibraryState();

    bool setUp = false;
    scorecore::CScoreLog* log = nullptr;
    std::vector<DriveRecord> drives;
    std::shared_ptr<Recorder> current;
    int currentIndex = -1;
    std::array<bool, 3> formats{};  // a writer of each mode bound to the open drive
    std::string client;
    std::vector<std::string> tracks;
    Settings settings;
    std::atomic<platform::MessageTarget*> target{nullptr};
    std::atomic<bool> cancel{false};
    std::vector<int> daoStarts;  // start LBAs of the last disc-at-once image
    std::unique_ptr<EraseWorker> erase;
    std::string lastError;

    bool hasFormat(WriteMode mode) const { return formats[static_cast<std::size_t>(mode)]; }
    WriteOptions writeOptions() const;
};

LibraryState& state();

// Posts a progress message to the client's event target, when there is one.
void postToClient(platform::MessageId msg, platform::WParam wParam, platform::LParam lParam);
// Keeps `text` as the last failure's text, writes it to the host's log and returns hr.
HResult failWith(HResult hr, const std::string& text);

}  // namespace discwriter
