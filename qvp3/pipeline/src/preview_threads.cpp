// The preview threads of the metronome and tune-up pages.
#include "qvp3_pipeline/preview_threads.h"

#include <chrono>

#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/intro_player.h"
#include "qvp3_pipeline/midi_write.h"
#include "qvp3_pipeline/sequencer.h"

namespace qvp3 {
namespace {

const platform::RealTimeClock& clockOf(const PreviewPage& page) {
    return page.clock != nullptr ? *page.clock : platform::RealTimeClock::steady();
}

ProjectEntry* currentEntry(const PreviewPage& page) {
    return page.project != nullptr ? prjGetEntry(*page.project, -1) : nullptr;
}

}  // namespace

void plyMetronomePreviewThreadProc(WorkerThreadRec& record) {
    auto& page = *static_cast<PreviewPage*>(record.owner);
    ProjectEntry* entry = currentEntry(page);
    if (entry == nullptr) return;
    scorecore::CMetronom& metronome = entry->metronome;
    const std::uint8_t inUse = metronome.inUse;
    metronome.inUse = 1;
    const platform::RealTimeClock& clock = clockOf(page);
    auto deadline = clock.now();
    int delta = 0;
    // Nothing is known of the output's state: the first click sends its levels.
    std::uint8_t volume = 0xFF, pan = 0xFF, program = 0xFF;
    bool stopped = false;
    while (!stopped) {
        for (int beat = 1; beat <= kPreviewBeats && !stopped; ++beat) {
            // The bar's pattern is heard whether or not the metronome plays with the music.
            const bool clicks = metronome.clicksLive(kPreviewBeats, beat);
            metronome.emitClick(page.midiOut, true, beat == 1, !clicks, &volume, &pan, nullptr, delta, &program);
            deadline += std::chrono::milliseconds(kPreviewBeatMs);
            stopped = clock.waitUntil(record.event, deadline) || record.stopRequested();
            metronome.clickOff(page.midiOut, nullptr, delta);
        }
    }
    metronome.inUse = inUse;
}

void plyTuneUpPlayThreadProc(WorkerThreadRec& record) {
    auto& page = *static_cast<PreviewPage*>(record.owner);
    ProjectEntry* entry = currentEntry(page);
    if (entry == nullptr) return;
    plyRequestStop(*entry, kEntryPreviewing);
    EntryPlayer& p = plyEntryPlayer(*entry);
    const int mode = p.mode;
    const platform::RealTimeClock* clock = p.clock;
    p.mode = kPlayerPlay;
    p.clock = page.clock;
    plyPlayIntro(&record.event, *entry, page.midiOut);
    p.mode = mode;
    p.clock = clock;
    if (page.midiOut != nullptr) page.midiOut->reset();
    plyRequestStop(*entry, kEntryIdle);
    if (page.onTuneUpEnd) page.onTuneUpEnd();
}

}  // namespace qvp3
