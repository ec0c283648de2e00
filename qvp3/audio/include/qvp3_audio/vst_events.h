// The events one process call of a plug-in gets: MIDI messages and
// system-exclusive messages placed at sample offsets inside the block.
//
// The list owns every event and the pointer table that effProcessEvents
// hands over, so that it can be built once per block and reused: Clear()
// keeps the memory, and nothing is allocated while the list stays within
// what it held before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "qvp3_audio/vst_abi.h"

static_assert(offsetof(qvp3::vst::VstEvents, events) == 2 * sizeof(std::uintptr_t),
              "the event block is two words of header and the pointers");

namespace qvp3 {

// The frame of a block at which an event due at eventMs sounds, for a block
// that starts at blockStartMs and lasts frames frames: an event already due
// sounds at the block start, one due at or past the block's end on its last
// frame.
std::int32_t audEventFrame(double eventMs, double blockStartMs, std::int32_t frames, double sampleRate = 44100.0);

class CVstEventList {
public:
    CVstEventList();
    CVstEventList(const CVstEventList&) = delete;
    CVstEventList& operator=(const CVstEventList&) = delete;

    // A short MIDI message (status and up to two data bytes), real time.
    void AddMidi(std::uint32_t message, std::int32_t deltaFrames);
    // A system-exclusive message, F0 .. F7, whole: the list keeps its own copy.
    void AddSysex(std::span<const std::uint8_t> bytes, std::int32_t deltaFrames);
    void Clear();

    std::int32_t size() const { return static_cast<std::int32_t>(list_.size()); }
    bool empty() const { return list_.empty(); }
    const vst::VstEvent& at(std::int32_t i) const { return *list_[static_cast<std::size_t>(i)]; }
    // The block for effProcessEvents; valid until the list changes.
    vst::VstEvents* events();
    // The events that pass a filter, in a block of their own (the render
    // host keeps for each plug-in only the channels it plays).
    template <typename Keep>
    vst::VstEvents* eventsWhere(Keep keep);

private:
    // Stable addresses: a deque never moves what it already holds.
    std::deque<vst::VstMidiEvent> midi_;
    std::deque<vst::VstMidiSysexEvent> sysex_;
    std::deque<std::vector<char>> dumps_;
    std::size_t midiUsed_ = 0;
    std::size_t sysexUsed_ = 0;
    std::vector<vst::VstEvent*> list_;
    std::vector<std::uintptr_t> block_;
};

template <typename Keep>
vst::VstEvents* CVstEventList::eventsWhere(Keep keep) {
    // A header of two words (numEvents and reserved), then the pointers.
    block_.assign(2, 0);
    std::int32_t n = 0;
    for (vst::VstEvent* e : list_) {
        if (!keep(*e)) continue;
        block_.push_back(reinterpret_cast<std::uintptr_t>(e));
        ++n;
    }
    auto* events = reinterpret_cast<vst::VstEvents*>(block_.data());
    events->numEvents = n;
    events->reserved = 0;
    return events;
}

// Whether a plug-in playing the channels of mask takes the event: every
// system-exclusive event, and MIDI events of a channel whose bit is set.
bool audEventPassesChannelMask(const vst::VstEvent& event, std::uint16_t mask);

}  // namespace qvp3
