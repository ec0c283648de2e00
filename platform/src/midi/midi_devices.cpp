#include "platform/midi_devices.h"

#include "midi_backends.h"

#include <array>
#include <string>

namespace platform {
namespace midi {
namespace {

constexpr std::string_view kCaptureDeviceName = "Capture (message log)";

std::vector<std::string> captureDeviceNames() {
    return {std::string(kCaptureDeviceName)};
}

MidiOutOpenResult openCaptureDevice(std::string_view) {
    return {std::make_unique<CaptureMidiOut>(), {}};
}

// In order of preference; the first listed device becomes index 0, the
// default. Each row exists only where its library was found.
constexpr std::array kBackends{
#if QVP3_HAVE_FLUIDSYNTH
    MidiOutBackend{"synth", "built-in General MIDI synthesizer", true, synthDeviceNames, openSynthDevice},
#endif
#if QVP3_HAVE_RTMIDI
    MidiOutBackend{"alsa", "ALSA sequencer ports", true, alsaDeviceNames, openAlsaDevice},
#endif
    MidiOutBackend{"capture", "message log for tests", false, captureDeviceNames, openCaptureDevice},
};

std::string backendList() {
    std::string text;
    for (const MidiOutBackend& backend : kBackends) {
        if (!text.empty()) text += ", ";
        text += std::string(backend.name) + " (" + std::string(backend.description) + ")";
    }
    return text;
}

}  // namespace

std::span<const MidiOutBackend> backendTable() {
    return kBackends;
}

}  // namespace midi

std::vector<MidiOutDeviceInfo> listMidiOutDevices() {
    std::vector<MidiOutDeviceInfo> devices;
    for (const midi::MidiOutBackend& backend : midi::backendTable()) {
        if (!backend.listed) continue;
        for (std::string& name : backend.deviceNames())
            devices.push_back({std::move(name), std::string(backend.name)});
    }
    return devices;
}

std::vector<MidiOutBackendInfo> midiOutBackends() {
    std::vector<MidiOutBackendInfo> backends;
    for (const midi::MidiOutBackend& backend : midi::backendTable())
        backends.push_back({std::string(backend.name), std::string(backend.description)});
    return backends;
}

MidiOutOpenResult openMidiOut(std::size_t index) {
    const std::vector<MidiOutDeviceInfo> devices = listMidiOutDevices();
    if (index >= devices.size()) {
        return {nullptr, "no MIDI output with index " + std::to_string(index) + " (this machine has " +
                             std::to_string(devices.size()) + ")"};
    }
    for (const midi::MidiOutBackend& backend : midi::backendTable()) {
        if (backend.name == devices[index].backend) return backend.open(devices[index].name);
    }
    return {nullptr, "MIDI backend " + devices[index].backend + " is missing"};  // unreachable: listed above
}

MidiOutOpenResult openMidiOutNamed(std::string_view name) {
    // A device name first, so that a port can never be shadowed by a backend name.
    for (const midi::MidiOutBackend& backend : midi::backendTable()) {
        for (const std::string& device : backend.deviceNames()) {
            if (device == name) return backend.open(device);
        }
    }
    for (const midi::MidiOutBackend& backend : midi::backendTable()) {
        if (backend.name != name) continue;
        const std::vector<std::string> devices = backend.deviceNames();
        if (devices.empty()) {
            return {nullptr, "the MIDI backend " + std::string(name) + " (" + std::string(backend.description) +
                                 ") has no device on this machine"};
        }
        return backend.open(devices.front());
    }
    return {nullptr, "no MIDI output named \"" + std::string(name) + "\"; this build has the backends " +
                         midi::backendList()};
}

}  // namespace platform
