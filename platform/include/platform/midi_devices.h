// The MIDI outputs of this machine in one list, and opening one of them.
//
// Index 0 is the default device, the built-in General MIDI synthesizer, so
// that a machine without MIDI hardware still plays; the ALSA sequencer ports
// follow. The capture device for tests is not listed but opens by its name.
// Needs the platform_midi library.
#pragma once

#include "platform/midi_out.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The index of the default device.
inline constexpr std::size_t kDefaultMidiOut = 0;

struct MidiOutDeviceInfo {
    std::string name;     // shown to the user and stored with the voices
    std::string backend;  // the backend that serves it: "synth", "alsa", ...
};

// The outputs in order: index 0 the built-in synthesizer, then the sequencer
// ports. Never fails: a backend without devices (no sequencer, no sound card)
// adds nothing, except that the synthesizer is always listed.
std::vector<MidiOutDeviceInfo> listMidiOutDevices();

// A backend this build has, in order of preference.
struct MidiOutBackendInfo {
    std::string name;         // "synth", "alsa", "capture"
    std::string description;
};
std::vector<MidiOutBackendInfo> midiOutBackends();

struct MidiOutOpenResult {
    std::unique_ptr<MidiOutDevice> device;  // null on failure
    std::string error;                      // why, when device is null

    explicit operator bool() const { return device != nullptr; }
};

// Opens the output at an index of listMidiOutDevices().
MidiOutOpenResult openMidiOut(std::size_t index);

// Opens an output by its listed name, or a backend's first device by the
// backend's name ("synth", "alsa", "capture"). An unknown name fails with the
// list of backends this build has.
MidiOutOpenResult openMidiOutNamed(std::string_view name);

}  // namespace platform
