// The preview threads of the metronome and tune-up pages: the metronome
// clicks a six-beat bar over and over until it is stopped; the tune-up
// plays the current entry's tune-up and count-in once.
#pragma once

#include <functional>

#include "platform/midi_out.h"
#include "platform/real_time_clock.h"
#include "qvp3_pipeline/worker_threads.h"
#include "qvp3_project/project.h"

namespace qvp3 {

inline constexpr int kPreviewBeatMs = 400;
inline constexpr int kPreviewBeats = 6;
inline constexpr std::int32_t kEntryPreviewing = 11;

// What a preview thread's record owns: the page's project and output.
struct PreviewPage {
    Project* project = nullptr;
    platform::MidiOutDevice* midiOut = nullptr;
    const platform::RealTimeClock* clock = nullptr;  // the steady clock when null
    // Called on the thread when the tune-up has played (the page refreshes
    // its controls and the main window's lists and transport).
    std::function<void()> onTuneUpEnd;
};

// Record owner: a PreviewPage. Stopped by the record's event.
void plyMetronomePreviewThreadProc(WorkerThreadRec& record);
void plyTuneUpPlayThreadProc(WorkerThreadRec& record);

}  // namespace qvp3
