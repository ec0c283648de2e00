// The table of MIDI output backends behind midi_devices.h, and the entry
// points of each backend.
#pragma once

#include "platform/midi_devices.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::midi {

struct MidiOutBackend {
    std::string_view name;
    std::string_view description;
    bool listed;  // false: opens by name only (the capture device)
    // The backend's devices now; empty when it has none, never throws.
    std::vector<std::string> (*deviceNames)();
    // Opens one of the names deviceNames() gave.
    MidiOutOpenResult (*open)(std::string_view deviceName);
};

// Every backend compiled into this build, in order of preference.
std::span<const MidiOutBackend> backendTable();

// The built-in synthesizer (synth_midi_out.cpp).
std::vector<std::string> synthDeviceNames();
MidiOutOpenResult openSynthDevice(std::string_view deviceName);

// ALSA sequencer ports through RtMidi (alsa_midi_out.cpp).
std::vector<std::string> alsaDeviceNames();
MidiOutOpenResult openAlsaDevice(std::string_view deviceName);

}  // namespace platform::midi
