#include "synth_midi_out.h"

#include "midi_backends.h"

#include <climits>
#include <mutex>
#include <system_error>
#include <utility>

namespace platform::midi {
namespace {

constexpr double kSampleRate = 44100.0;
// FluidSynth's default gain of 0.2 is faint with this SoundFont (a piano note
// peaks near -30 dBFS); 0.5 is louder and still leaves headroom for many
// voices at once.
constexpr double kGain = 0.5;
constexpr int kChannels = 16;

// FluidSynth reports to a process-wide log; its last error is kept so that a
// failed call can say why, and nothing is printed. (Not a thread-local: the
// score engine, loaded and unloaded at run time, carries this code.)
std::mutex fluidErrorMutex;
std::string fluidErrorText;

void keepFluidError(int, const char* message, void*) {
    std::lock_guard lock(fluidErrorMutex);
    fluidErrorText = message ? message : "";
}

void clearFluidError() {
    std::lock_guard lock(fluidErrorMutex);
    fluidErrorText.clear();
}
void dropFluidMessage(int, const char*, void*) {}

void routeFluidLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        fluid_set_log_function(FLUID_PANIC, keepFluidError, nullptr);
        fluid_set_log_function(FLUID_ERR, keepFluidError, nullptr);
        fluid_set_log_function(FLUID_WARN, dropFluidMessage, nullptr);
        fluid_set_log_function(FLUID_INFO, dropFluidMessage, nullptr);
        fluid_set_log_function(FLUID_DBG, dropFluidMessage, nullptr);
    });
}

std::string withFluidReason(std::string text) {
    std::lock_guard lock(fluidErrorMutex);
    if (!fluidErrorText.empty()) text += ": " + fluidErrorText;
    return text;
}

void setError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

}  // namespace

std::optional<GmSynth> createGmSynth(const SynthOptions& options, std::string* error) {
    routeFluidLog();
    clearFluidError();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(options.soundFont, ec)) {
        setError(error, "the General MIDI SoundFont " + options.soundFont.string() + " is missing");
        return std::nullopt;
    }

    GmSynth result;
    result.settings.reset(new_fluid_settings());
    if (!result.settings) {
        setError(error, withFluidReason("cannot create the synthesizer's settings"));
        return std::nullopt;
    }
    fluid_settings_t* settings = result.settings.get();
    fluid_settings_setnum(settings, "synth.sample-rate", kSampleRate);
    fluid_settings_setnum(settings, "synth.gain", kGain);
    fluid_settings_setstr(settings, "audio.driver", options.audioDriver.c_str());
    if (options.audioDriver == "alsa")
        fluid_settings_setstr(settings, "audio.alsa.device", options.audioDevice.c_str());

    result.synth.reset(new_fluid_synth(settings));
    if (!result.synth) {
        setError(error, withFluidReason("cannot create the synthesizer"));
        return std::nullopt;
    }
    if (fluid_synth_sfload(result.synth.get(), options.soundFont.c_str(), 1) == FLUID_FAILED) {
        setError(error, withFluidReason("cannot load the SoundFont " + options.soundFont.string()));
        return std::nullopt;
    }
    return result;
}

FluidDriverPtr startAudioDriver(const GmSynth& synth, std::string* error) {
    routeFluidLog();
    clearFluidError();
    FluidDriverPtr driver(new_fluid_audio_driver(synth.settings.get(), synth.synth.get()));
    if (!driver) {
        char* name = nullptr;
        fluid_settings_dupstr(synth.settings.get(), "audio.driver", &name);
        std::string text = "no audio output (FluidSynth's \"" + std::string(name ? name : "?") +
                           "\" driver found no device to open)";
        fluid_free(name);
        setError(error, withFluidReason(std::move(text)));
    }
    return driver;
}

SynthMidiOut::SynthMidiOut(GmSynth synth, FluidDriverPtr driver)
    : synth_(std::move(synth)), driver_(std::move(driver)) {}

SynthMidiOut::~SynthMidiOut() = default;

bool SynthMidiOut::shortMessage(std::uint32_t packed) {
    const ShortMessageBytes message = decodeShortMessage(packed);
    if (message.size == 0) return false;
    fluid_synth_t* synth = synth_.synth.get();
    const int status = message.bytes[0];
    const int channel = status & 0x0F;
    const int data1 = message.bytes[1];
    const int data2 = message.bytes[2];
    switch (status & 0xF0) {
        case 0x80:
            // A note-off for a key that no longer sounds is no fault.
            fluid_synth_noteoff(synth, channel, data1);
            return true;
        case 0x90:
            if (data2 == 0) {
                fluid_synth_noteoff(synth, channel, data1);
                return true;
            }
            return fluid_synth_noteon(synth, channel, data1, data2) == FLUID_OK;
        case 0xA0: return fluid_synth_key_pressure(synth, channel, data1, data2) == FLUID_OK;
        case 0xB0: return fluid_synth_cc(synth, channel, data1, data2) == FLUID_OK;
        case 0xC0: return fluid_synth_program_change(synth, channel, data1) == FLUID_OK;
        case 0xD0: return fluid_synth_channel_pressure(synth, channel, data1) == FLUID_OK;
        case 0xE0: return fluid_synth_pitch_bend(synth, channel, data1 | data2 << 7) == FLUID_OK;
        default: return systemMessage(message);
    }
}

bool SynthMidiOut::systemMessage(const ShortMessageBytes& message) {
    if (message.bytes[0] == 0xFF) return fluid_synth_system_reset(synth_.synth.get()) == FLUID_OK;
    // Clock, song position and the like mean nothing to a synthesizer.
    return true;
}

bool SynthMidiOut::longMessage(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 2 || bytes.front() != 0xF0 || bytes.back() != 0xF7 || bytes.size() - 2 > INT_MAX) return false;
    // FluidSynth takes the message without its framing bytes.
    const auto* data = reinterpret_cast<const char*>(bytes.data() + 1);
    return fluid_synth_sysex(synth_.synth.get(), data, static_cast<int>(bytes.size() - 2), nullptr, nullptr, nullptr,
                             0) == FLUID_OK;
}

bool SynthMidiOut::reset() {
    fluid_synth_t* synth = synth_.synth.get();
    bool ok = true;
    for (int channel = 0; channel < kChannels; ++channel) {
        ok = fluid_synth_cc(synth, channel, 64, 0) == FLUID_OK && ok;   // sustain pedal up
        ok = fluid_synth_cc(synth, channel, 66, 0) == FLUID_OK && ok;   // sostenuto pedal up
        ok = fluid_synth_all_notes_off(synth, channel) == FLUID_OK && ok;
    }
    return ok;
}

std::vector<std::string> synthDeviceNames() {
    // Listed even without a sound card: opening says what is missing.
    return {std::string(kSynthDeviceName)};
}

MidiOutOpenResult openSynthDevice(std::string_view) {
    std::string error;
    std::optional<GmSynth> synth = createGmSynth(SynthOptions{}, &error);
    if (!synth) return {nullptr, "cannot open the built-in synthesizer: " + error};
    FluidDriverPtr driver = startAudioDriver(*synth, &error);
    if (!driver) return {nullptr, "cannot open the built-in synthesizer: " + error};
    return {std::make_unique<SynthMidiOut>(std::move(*synth), std::move(driver)), {}};
}

}  // namespace platform::midi
