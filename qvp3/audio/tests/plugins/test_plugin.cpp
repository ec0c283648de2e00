// Small VST 2 plug-ins of our own for the host's tests, one source built in
// several variants:
//   TEST_PLUGIN_GAIN       an effect, 2 in / 2 out, halves its input, 3 parameters, 2 programs
//   TEST_PLUGIN_SYNTH      an instrument, 0 in / 2 out: while a note sounds, every sample is
//                          key / 128 on the left and velocity / 128 on the right, from the
//                          frame its event names; it counts the system-exclusive bytes it got
//   TEST_PLUGIN_MONO       an effect with one output
//   TEST_PLUGIN_CHUNKS     an effect that keeps its state as a chunk
//   TEST_PLUGIN_MAIN_ONLY  exports only the old entry name "main"
//   TEST_PLUGIN_BAD_MAGIC  answers an AEffect without the magic
//   TEST_PLUGIN_THROWS     its entry point throws
//   TEST_PLUGIN_CRASHES    its entry point dies of a bad memory access
//   TEST_PLUGIN_HANGS      its entry point never returns
#include <csignal>
#include <cstdint>
#include <cstring>
#include <thread>
#include <stdexcept>
#include <vector>

#include "qvp3_audio/vst_abi.h"

using namespace qvp3::vst;

namespace {

struct Plugin {
    AEffect effect{};
    audioMasterCallback host = nullptr;
    float params[3] = {0.25f, 0.5f, 0.75f};
    int program = 0;
    char programNames[2][32] = {"First", "Second"};
    int key = -1;
    int velocity = 0;
    struct Pending {
        int frame, key, velocity;  // velocity 0: a note-off
    };
    std::vector<Pending> pending;
    int sysexBytes = 0;
    int sampleRateCalls = 0;
    std::vector<std::uint8_t> chunk{1, 2, 3, 4, 5};
    bool open = false;
};

Plugin* self(AEffect* e) { return static_cast<Plugin*>(e->object); }

VstIntPtr dispatcher(AEffect* e, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float) {
    Plugin* p = self(e);
    switch (opcode) {
        case effOpen: p->open = true; return 0;
        case effClose:
            delete p;
            return 0;
        case effSetProgram: p->program = static_cast<int>(value) & 1; return 0;
        case effGetProgram: return p->program;
        case effSetProgramName: std::strncpy(p->programNames[p->program], static_cast<const char*>(ptr), 24); return 0;
        case effGetProgramName: std::strcpy(static_cast<char*>(ptr), p->programNames[p->program]); return 0;
        case effGetProgramNameIndexed:
            if (index < 0 || index > 1) return 0;
            std::strcpy(static_cast<char*>(ptr), p->programNames[index]);
            return 1;
        case effGetParamName: std::strcpy(static_cast<char*>(ptr), index == 0 ? "Gain" : "Other"); return 0;
        case effGetEffectName: std::strcpy(static_cast<char*>(ptr), TEST_PLUGIN_NAME); return 1;
        case effGetVendorString: std::strcpy(static_cast<char*>(ptr), "qvp3 tests"); return 1;
        case effGetProductString: std::strcpy(static_cast<char*>(ptr), TEST_PLUGIN_NAME); return 1;
        case effGetVendorVersion: return 1000;
        case effSetSampleRate: ++p->sampleRateCalls; return 0;
        // Tests ask how often the sample rate was set.
        case effVendorSpecific:
            if (index == fourCharCode('r', 'a', 't', 'e')) return p->sampleRateCalls;
            if (index == fourCharCode('s', 'y', 's', 'x')) return p->sysexBytes;
            return 0;
        case effGetVstVersion: return 2400;
        case effCanDo:
#ifdef TEST_PLUGIN_SYNTH
            if (std::strcmp(static_cast<const char*>(ptr), "receiveVstMidiEvent") == 0) return 1;
#endif
            return -1;
        case effGetChunk:
            *static_cast<void**>(ptr) = p->chunk.data();
            return static_cast<VstIntPtr>(p->chunk.size());
        case effSetChunk: {
            const auto* bytes = static_cast<const std::uint8_t*>(ptr);
            p->chunk.assign(bytes, bytes + value);
            return 0;
        }
        case effProcessEvents: {
            const auto* events = static_cast<const VstEvents*>(ptr);
            for (VstInt32 i = 0; i < events->numEvents; ++i) {
                const VstEvent* ev = events->events[i];
                if (ev->type == kVstSysExType) {
                    p->sysexBytes += reinterpret_cast<const VstMidiSysexEvent*>(ev)->dumpBytes;
                    continue;
                }
                if (ev->type != kVstMidiType) continue;
                const auto* midi = reinterpret_cast<const VstMidiEvent*>(ev);
                const int status = static_cast<std::uint8_t>(midi->midiData[0]) & 0xF0;
                if (status == 0x90 || status == 0x80) {
                    const int velocity = status == 0x90 ? midi->midiData[2] : 0;
                    p->pending.push_back({ev->deltaFrames, midi->midiData[1], velocity});
                }
            }
            return 1;
        }
        default: return 0;
    }
}

void processReplacing(AEffect* e, float** in, float** out, VstInt32 frames) {
    Plugin* p = self(e);
#ifdef TEST_PLUGIN_SYNTH
    (void)in;
    std::size_t next = 0;
    for (VstInt32 i = 0; i < frames; ++i) {
        for (; next < p->pending.size() && p->pending[next].frame <= i; ++next) {
            const auto& ev = p->pending[next];
            if (ev.velocity > 0) {
                p->key = ev.key;
                p->velocity = ev.velocity;
            } else if (ev.key == p->key) {
                p->key = -1;
            }
        }
        out[0][i] = p->key < 0 ? 0.0f : p->key / 128.0f;
        out[1][i] = p->key < 0 ? 0.0f : p->velocity / 128.0f;
    }
    p->pending.clear();
#else
    for (VstInt32 c = 0; c < e->numOutputs; ++c) {
        for (VstInt32 i = 0; i < frames; ++i) out[c][i] = in[c < e->numInputs ? c : 0][i] * p->params[0] * 2.0f;
    }
#endif
}

void process(AEffect* e, float** in, float** out, VstInt32 frames) {
    // The accumulating form adds to what the outputs hold.
    const auto n = static_cast<std::size_t>(frames);
    std::vector<float> mine(2 * n);
    float* own[2] = {mine.data(), mine.data() + n};
    processReplacing(e, in, own, frames);
    for (VstInt32 c = 0; c < e->numOutputs; ++c) {
        for (std::size_t i = 0; i < n; ++i) out[c][i] += own[c][i];
    }
}

void setParameter(AEffect* e, VstInt32 index, float value) {
    if (index >= 0 && index < 3) self(e)->params[index] = value;
}

float getParameter(AEffect* e, VstInt32 index) { return index >= 0 && index < 3 ? self(e)->params[index] : 0.0f; }

AEffect* create(audioMasterCallback host) {
#ifdef TEST_PLUGIN_CRASHES
    (void)host;
    std::raise(SIGSEGV);
    return nullptr;
#elif defined(TEST_PLUGIN_HANGS)
    (void)host;
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
#elif defined(TEST_PLUGIN_THROWS)
    (void)host;
    throw std::runtime_error("this plug-in does not start");
#else
    if (host(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) < 2400) return nullptr;
#ifdef TEST_PLUGIN_BAD_MAGIC
    // A host never calls into an AEffect without the magic, so nothing could free it.
    static Plugin unowned;
    Plugin* p = &unowned;
#else
    auto* p = new Plugin;
#endif
    p->host = host;
    AEffect& e = p->effect;
    e.magic = kEffectMagic;
#ifdef TEST_PLUGIN_BAD_MAGIC
    e.magic = fourCharCode('N', 'o', 'n', 'e');
#endif
    e.dispatcher = dispatcher;
    e.process = process;
    e.processReplacing = processReplacing;
    e.setParameter = setParameter;
    e.getParameter = getParameter;
    e.numPrograms = 2;
    e.numParams = 3;
    e.numInputs = 2;
    e.numOutputs = 2;
    e.flags = effFlagsCanReplacing;
    e.uniqueID = fourCharCode('q', 'v', 't', TEST_PLUGIN_ID);
    e.version = 3;
    e.object = p;
#ifdef TEST_PLUGIN_SYNTH
    e.numInputs = 0;
    e.flags |= effFlagsIsSynth;
    host(&e, audioMasterWantMidi, 0, 1, nullptr, 0.0f);
#endif
#ifdef TEST_PLUGIN_MONO
    e.numInputs = 1;
    e.numOutputs = 1;
#endif
#ifdef TEST_PLUGIN_CHUNKS
    e.flags |= effFlagsProgramChunks;
#endif
    return &e;
#endif
}

}  // namespace

#ifdef TEST_PLUGIN_MAIN_ONLY
extern "C" __attribute__((visibility("default"))) AEffect* main_entry(audioMasterCallback host) __asm__("main");
extern "C" AEffect* main_entry(audioMasterCallback host) { return create(host); }
#else
extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback host) { return create(host); }
#endif
