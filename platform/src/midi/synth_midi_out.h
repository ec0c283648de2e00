// The built-in General MIDI synthesizer: FluidSynth in-process with the
// General MIDI SoundFont, sounding through an audio driver.
#pragma once

#include "platform/midi_out.h"

#include <fluidsynth.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform::midi {

inline constexpr std::string_view kSynthDeviceName = "Default General MIDI Synthesizer";
inline constexpr const char* kGeneralMidiSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

struct SynthOptions {
    std::filesystem::path soundFont = kGeneralMidiSoundFont;
    std::string audioDriver = "alsa";     // FluidSynth's name of the driver
    std::string audioDevice = "default";  // the ALSA PCM the driver opens
};

struct FluidSettingsDelete {
    void operator()(fluid_settings_t* settings) const { delete_fluid_settings(settings); }
};
struct FluidSynthDelete {
    void operator()(fluid_synth_t* synth) const { delete_fluid_synth(synth); }
};
struct FluidDriverDelete {
    void operator()(fluid_audio_driver_t* driver) const { delete_fluid_audio_driver(driver); }
};
using FluidDriverPtr = std::unique_ptr<fluid_audio_driver_t, FluidDriverDelete>;

// A synthesizer and the settings it was made with. The settings are declared
// first so that they outlive the synthesizer.
struct GmSynth {
    std::unique_ptr<fluid_settings_t, FluidSettingsDelete> settings;
    std::unique_ptr<fluid_synth_t, FluidSynthDelete> synth;
};

// Makes the synthesizer the device plays through: its settings (sample rate,
// gain, the audio driver and device of options) and the SoundFont loaded.
// Nothing, with error set, when the SoundFont is missing or unreadable.
std::optional<GmSynth> createGmSynth(const SynthOptions& options, std::string* error = nullptr);

// Starts the audio driver named in the synthesizer's settings on it. Null,
// with error set, when there is no audio device to open.
FluidDriverPtr startAudioDriver(const GmSynth& synth, std::string* error = nullptr);

// FluidSynth is thread-safe by default, so messages from any thread go
// straight to the synthesizer while the driver's thread renders.
class SynthMidiOut : public MidiOutDevice {
public:
    // driver may be null: then nothing sounds until the owner renders the
    // synthesizer itself (tests render into a file).
    SynthMidiOut(GmSynth synth, FluidDriverPtr driver);
    ~SynthMidiOut() override;
    SynthMidiOut(const SynthMidiOut&) = delete;
    SynthMidiOut& operator=(const SynthMidiOut&) = delete;

    bool shortMessage(std::uint32_t packed) override;
    bool longMessage(std::span<const std::uint8_t> bytes) override;
    // Sustain pedal up and all notes off on every channel; the notes fade
    // with their release rather than click.
    bool reset() override;

    fluid_synth_t* synth() const { return synth_.synth.get(); }

private:
    bool systemMessage(const ShortMessageBytes& message);

    GmSynth synth_;
    FluidDriverPtr driver_;  // declared last: stops before the synthesizer goes
};

}  // namespace platform::midi
