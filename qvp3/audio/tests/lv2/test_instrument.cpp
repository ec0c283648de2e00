// A tiny LV2 instrument for the tests: while keys are held it outputs a
// constant level, 0.25 x velocity / 127 per held key, times its "gain" control,
// from the frame of each event on. No oscillator: the tests read exact values
// at exact frames. TEST_LV2_MONO builds the variant with one output.
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/urid/urid.h>

#include <cstdint>
#include <cstring>
#include <new>

namespace {

#ifdef TEST_LV2_MONO
constexpr std::uint32_t kOutputs = 1;
#else
constexpr std::uint32_t kOutputs = 2;
#endif

// Port numbers as in the bundle's description.
constexpr std::uint32_t kPortGain = 0;
constexpr std::uint32_t kPortEvents = 1;
constexpr std::uint32_t kPortFirstOutput = 2;

struct Instrument {
    const float* gain = nullptr;
    const LV2_Atom_Sequence* events = nullptr;
    float* outputs[kOutputs] = {};
    LV2_URID midiEvent = 0;
    std::uint8_t velocity[128] = {};
};

float level(const Instrument& s) {
    float sum = 0.0f;
    for (std::uint8_t v : s.velocity) sum += static_cast<float>(v);
    return 0.25f * sum / 127.0f * *s.gain;
}

LV2_Handle instantiate(const LV2_Descriptor*, double, const char*, const LV2_Feature* const* features) {
    const LV2_URID_Map* map = nullptr;
    for (int i = 0; features != nullptr && features[i] != nullptr; ++i) {
        if (std::strcmp(features[i]->URI, LV2_URID__map) == 0) map = static_cast<const LV2_URID_Map*>(features[i]->data);
    }
    if (map == nullptr) return nullptr;
    auto* s = new (std::nothrow) Instrument;
    if (s != nullptr) s->midiEvent = map->map(map->handle, LV2_MIDI__MidiEvent);
    return s;
}

void connect(LV2_Handle h, uint32_t port, void* data) {
    auto* s = static_cast<Instrument*>(h);
    if (port == kPortGain) s->gain = static_cast<const float*>(data);
    else if (port == kPortEvents) s->events = static_cast<const LV2_Atom_Sequence*>(data);
    else if (port >= kPortFirstOutput && port < kPortFirstOutput + kOutputs) s->outputs[port - kPortFirstOutput] = static_cast<float*>(data);
}

void fill(Instrument& s, std::uint32_t from, std::uint32_t to) {
    const float v = level(s);
    for (float* out : s.outputs) {
        for (std::uint32_t i = from; i < to; ++i) out[i] = v;
    }
}

void run(LV2_Handle h, uint32_t frames) {
    auto& s = *static_cast<Instrument*>(h);
    std::uint32_t done = 0;
    LV2_ATOM_SEQUENCE_FOREACH(s.events, ev) {
        if (ev->body.type != s.midiEvent || ev->body.size < 3) continue;
        const auto at = static_cast<std::uint32_t>(ev->time.frames);
        if (at > done && at <= frames) {
            fill(s, done, at);
            done = at;
        }
        const auto* msg = reinterpret_cast<const std::uint8_t*>(ev + 1);
        const std::uint8_t status = msg[0] & 0xF0;
        if (status == 0x90) s.velocity[msg[1] & 0x7F] = msg[2] & 0x7F;
        if (status == 0x80) s.velocity[msg[1] & 0x7F] = 0;
    }
    fill(s, done, frames);
}

void cleanup(LV2_Handle h) { delete static_cast<Instrument*>(h); }

const LV2_Descriptor kDescriptor = {TEST_LV2_URI, instantiate, connect, nullptr, run, nullptr, cleanup, nullptr};

}  // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &kDescriptor : nullptr;
}
