// Events for one process call of a plug-in.
#include "qvp3_audio/vst_events.h"

#include <cmath>

namespace qvp3 {

using namespace qvp3::vst;

std::int32_t audEventFrame(double eventMs, double blockStartMs, std::int32_t frames, double sampleRate) {
    if (frames <= 0) return 0;
    const double offset = std::trunc((eventMs - blockStartMs) * sampleRate / 1000.0);
    // Not a number counts as due now; plug-ins read a negative offset as before the buffer.
    if (!(offset > 0.0)) return 0;
    if (offset >= static_cast<double>(frames)) return frames - 1;
    return static_cast<std::int32_t>(offset);
}

CVstEventList::CVstEventList() { list_.reserve(64); }

void CVstEventList::AddMidi(std::uint32_t message, std::int32_t deltaFrames) {
    if (midiUsed_ == midi_.size()) midi_.emplace_back();
    VstMidiEvent& e = midi_[midiUsed_++];
    e = VstMidiEvent{};
    e.type = kVstMidiType;
    e.byteSize = sizeof(VstMidiEvent);
    e.deltaFrames = deltaFrames < 0 ? 0 : deltaFrames;
    e.flags = kVstMidiEventIsRealtime;
    for (int i = 0; i < 3; ++i) e.midiData[i] = static_cast<char>((message >> (8 * i)) & 0xFF);
    list_.push_back(reinterpret_cast<VstEvent*>(&e));
}

void CVstEventList::AddSysex(std::span<const std::uint8_t> bytes, std::int32_t deltaFrames) {
    if (bytes.empty()) return;
    if (sysexUsed_ == sysex_.size()) {
        sysex_.emplace_back();
        dumps_.emplace_back();
    }
    std::vector<char>& dump = dumps_[sysexUsed_];
    dump.assign(bytes.begin(), bytes.end());
    VstMidiSysexEvent& e = sysex_[sysexUsed_++];
    e = VstMidiSysexEvent{};
    e.type = kVstSysExType;
    e.byteSize = sizeof(VstMidiSysexEvent);
    e.deltaFrames = deltaFrames < 0 ? 0 : deltaFrames;
    e.dumpBytes = static_cast<VstInt32>(dump.size());
    e.sysexDump = dump.data();
    list_.push_back(reinterpret_cast<VstEvent*>(&e));
}

void CVstEventList::Clear() {
    list_.clear();
    midiUsed_ = 0;
    sysexUsed_ = 0;
}

VstEvents* CVstEventList::events() {
    return eventsWhere([](const VstEvent&) { return true; });
}

bool audEventPassesChannelMask(const VstEvent& event, std::uint16_t mask) {
    if (event.type == kVstSysExType) return true;
    if (event.type != kVstMidiType) return false;
    const auto& midi = reinterpret_cast<const VstMidiEvent&>(event);
    const int channel = static_cast<std::uint8_t>(midi.midiData[0]) & 0x0F;
    return (mask >> channel) & 1;
}

}  // namespace qvp3
