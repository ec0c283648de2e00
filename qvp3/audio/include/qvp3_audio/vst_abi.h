// The VST 2 plug-in ABI as this host uses it: the records and numbers a
// plug-in library and its host exchange, declared here from the published
// names and layouts. Plug-ins are C libraries built against that layout, so
// the field order, the field types and the numbers must not change; the
// static_asserts at the end pin the layout of the 64-bit and 32-bit ABIs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qvp3::vst {

using VstInt16 = std::int16_t;
using VstInt32 = std::int32_t;
using VstInt64 = std::int64_t;
using VstIntPtr = std::intptr_t;

// A four-character code as the ABI writes it: the first character in the
// highest byte.
constexpr VstInt32 fourCharCode(char a, char b, char c, char d) {
    return static_cast<VstInt32>(static_cast<std::uint32_t>(static_cast<unsigned char>(a)) << 24 |
                                 static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 16 |
                                 static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 8 |
                                 static_cast<std::uint32_t>(static_cast<unsigned char>(d)));
}

// AEffect::magic of every valid plug-in: 'VstP'.
inline constexpr VstInt32 kEffectMagic = fourCharCode('V', 's', 't', 'P');

struct AEffect;

// The host callback handed to the plug-in's entry point.
using audioMasterCallback = VstIntPtr (*)(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                          void* ptr, float opt);
using AEffectDispatcherProc = VstIntPtr (*)(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                            void* ptr, float opt);
using AEffectProcessProc = void (*)(AEffect* effect, float** inputs, float** outputs, VstInt32 sampleFrames);
using AEffectProcessDoubleProc = void (*)(AEffect* effect, double** inputs, double** outputs,
                                          VstInt32 sampleFrames);
using AEffectSetParameterProc = void (*)(AEffect* effect, VstInt32 index, float parameter);
using AEffectGetParameterProc = float (*)(AEffect* effect, VstInt32 index);

// The entry point a plug-in library exports as "VSTPluginMain" (or, in older
// libraries, "main").
using VstPluginMainProc = AEffect* (*)(audioMasterCallback host);
inline constexpr const char* kVstPluginMainName = "VSTPluginMain";
inline constexpr const char* kVstPluginMainOldName = "main";

// The plug-in's side of the connection, owned by the plug-in.
struct AEffect {
    VstInt32 magic;                     // kEffectMagic
    AEffectDispatcherProc dispatcher;   // effect opcodes below
    AEffectProcessProc process;         // accumulating process, deprecated
    AEffectSetParameterProc setParameter;
    AEffectGetParameterProc getParameter;
    VstInt32 numPrograms;
    VstInt32 numParams;
    VstInt32 numInputs;
    VstInt32 numOutputs;
    VstInt32 flags;                     // VstAEffectFlags
    VstIntPtr resvd1;                   // reserved for the host, 0
    VstIntPtr resvd2;                   // reserved for the host, 0
    VstInt32 initialDelay;              // latency in samples
    VstInt32 realQualities;             // deprecated
    VstInt32 offQualities;              // deprecated
    float ioRatio;                      // deprecated
    void* object;                       // the plug-in's own object
    void* user;                         // free for the host
    VstInt32 uniqueID;                  // the plug-in's registered id, also in its bank files
    VstInt32 version;                   // the plug-in's own version
    AEffectProcessProc processReplacing;
    AEffectProcessDoubleProc processDoubleReplacing;
    char future[56];
};

// AEffect::flags.
enum VstAEffectFlags : VstInt32 {
    effFlagsHasEditor = 1 << 0,
    effFlagsHasClip = 1 << 1,           // deprecated
    effFlagsHasVu = 1 << 2,             // deprecated
    effFlagsCanMono = 1 << 3,           // deprecated
    effFlagsCanReplacing = 1 << 4,
    effFlagsProgramChunks = 1 << 5,     // programs and banks are opaque chunks
    effFlagsIsSynth = 1 << 8,
    effFlagsNoSoundInStop = 1 << 9,
    effFlagsExtIsAsync = 1 << 10,       // deprecated
    effFlagsExtHasBuffer = 1 << 11,     // deprecated
    effFlagsCanDoubleReplacing = 1 << 12,
};

// Opcodes the host sends through AEffect::dispatcher.
enum AEffectOpcodes : VstInt32 {
    effOpen = 0,
    effClose = 1,
    effSetProgram = 2,
    effGetProgram = 3,
    effSetProgramName = 4,
    effGetProgramName = 5,
    effGetParamLabel = 6,
    effGetParamDisplay = 7,
    effGetParamName = 8,
    effGetVu = 9,                       // deprecated
    effSetSampleRate = 10,
    effSetBlockSize = 11,
    effMainsChanged = 12,
    effEditGetRect = 13,
    effEditOpen = 14,
    effEditClose = 15,
    effEditDraw = 16,                   // deprecated
    effEditMouse = 17,                  // deprecated
    effEditKey = 18,                    // deprecated
    effEditIdle = 19,
    effEditTop = 20,                    // deprecated
    effEditSleep = 21,                  // deprecated
    effIdentify = 22,                   // deprecated
    effGetChunk = 23,
    effSetChunk = 24,
    effProcessEvents = 25,
    effCanBeAutomated = 26,
    effString2Parameter = 27,
    effGetNumProgramCategories = 28,    // deprecated
    effGetProgramNameIndexed = 29,
    effCopyProgram = 30,                // deprecated
    effConnectInput = 31,               // deprecated
    effConnectOutput = 32,              // deprecated
    effGetInputProperties = 33,
    effGetOutputProperties = 34,
    effGetPlugCategory = 35,
    effGetCurrentPosition = 36,         // deprecated
    effGetDestinationBuffer = 37,       // deprecated
    effOfflineNotify = 38,
    effOfflinePrepare = 39,
    effOfflineRun = 40,
    effProcessVarIo = 41,
    effSetSpeakerArrangement = 42,
    effSetBlockSizeAndSampleRate = 43,  // deprecated
    effSetBypass = 44,
    effGetEffectName = 45,
    effGetErrorText = 46,               // deprecated
    effGetVendorString = 47,
    effGetProductString = 48,
    effGetVendorVersion = 49,
    effVendorSpecific = 50,
    effCanDo = 51,
    effGetTailSize = 52,
    effIdle = 53,                       // deprecated
    effGetIcon = 54,                    // deprecated
    effSetViewPosition = 55,            // deprecated
    effGetParameterProperties = 56,
    effKeysRequired = 57,               // deprecated
    effGetVstVersion = 58,
    effEditKeyDown = 59,
    effEditKeyUp = 60,
    effSetEditKnobMode = 61,
    effGetMidiProgramName = 62,
    effGetCurrentMidiProgram = 63,
    effGetMidiProgramCategory = 64,
    effHasMidiProgramsChanged = 65,
    effGetMidiKeyName = 66,
    effBeginSetProgram = 67,
    effEndSetProgram = 68,
    effGetSpeakerArrangement = 69,
    effShellGetNextPlugin = 70,
    effStartProcess = 71,
    effStopProcess = 72,
    effSetTotalSampleToProcess = 73,
    effSetPanLaw = 74,
    effBeginLoadBank = 75,
    effBeginLoadProgram = 76,
    effSetProcessPrecision = 77,
    effGetNumMidiInputChannels = 78,
    effGetNumMidiOutputChannels = 79,
};

// Opcodes the plug-in sends through the host callback.
enum AudioMasterOpcodes : VstInt32 {
    audioMasterAutomate = 0,
    audioMasterVersion = 1,
    audioMasterCurrentId = 2,
    audioMasterIdle = 3,
    audioMasterPinConnected = 4,                 // deprecated
    // 5 is unused.
    audioMasterWantMidi = 6,                     // deprecated
    audioMasterGetTime = 7,
    audioMasterProcessEvents = 8,
    audioMasterSetTime = 9,                      // deprecated
    audioMasterTempoAt = 10,                     // deprecated
    audioMasterGetNumAutomatableParameters = 11, // deprecated
    audioMasterGetParameterQuantization = 12,    // deprecated
    audioMasterIOChanged = 13,
    audioMasterNeedIdle = 14,                    // deprecated
    audioMasterSizeWindow = 15,
    audioMasterGetSampleRate = 16,
    audioMasterGetBlockSize = 17,
    audioMasterGetInputLatency = 18,
    audioMasterGetOutputLatency = 19,
    audioMasterGetPreviousPlug = 20,             // deprecated
    audioMasterGetNextPlug = 21,                 // deprecated
    audioMasterWillReplaceOrAccumulate = 22,     // deprecated
    audioMasterGetCurrentProcessLevel = 23,
    audioMasterGetAutomationState = 24,
    audioMasterOfflineStart = 25,
    audioMasterOfflineRead = 26,
    audioMasterOfflineWrite = 27,
    audioMasterOfflineGetCurrentPass = 28,
    audioMasterOfflineGetCurrentMetaPass = 29,
    audioMasterSetOutputSampleRate = 30,         // deprecated
    audioMasterGetOutputSpeakerArrangement = 31, // deprecated
    audioMasterGetVendorString = 32,
    audioMasterGetProductString = 33,
    audioMasterGetVendorVersion = 34,
    audioMasterVendorSpecific = 35,
    audioMasterSetIcon = 36,                     // deprecated
    audioMasterCanDo = 37,
    audioMasterGetLanguage = 38,
    audioMasterOpenWindow = 39,                  // deprecated
    audioMasterCloseWindow = 40,                 // deprecated
    audioMasterGetDirectory = 41,
    audioMasterUpdateDisplay = 42,
    audioMasterBeginEdit = 43,
    audioMasterEndEdit = 44,
    audioMasterOpenFileSelector = 45,
    audioMasterCloseFileSelector = 46,
    audioMasterEditFile = 47,                    // deprecated
    audioMasterGetChunkFile = 48,                // deprecated
    audioMasterGetInputSpeakerArrangement = 49,  // deprecated
};

// The host's version answered to audioMasterVersion.
inline constexpr VstInt32 kVstVersion = 2400;

// Text buffer sizes the plug-in may fill, terminator included.
inline constexpr int kVstMaxProgNameLen = 24;
inline constexpr int kVstMaxParamStrLen = 8;
inline constexpr int kVstMaxVendorStrLen = 64;
inline constexpr int kVstMaxProductStrLen = 64;
inline constexpr int kVstMaxEffectNameLen = 32;

// The editor's rectangle answered to effEditGetRect.
struct ERect {
    VstInt16 top;
    VstInt16 left;
    VstInt16 bottom;
    VstInt16 right;
};

// --- events -------------------------------------------------------------------

// VstEvent::type.
enum VstEventTypes : VstInt32 {
    kVstMidiType = 1,
    kVstSysExType = 6,
};

// The common head of every event; byteSize counts the bytes after byteSize.
struct VstEvent {
    VstInt32 type;
    VstInt32 byteSize;
    VstInt32 deltaFrames;  // sample offset in the current block
    VstInt32 flags;
    char data[16];
};

// A block of events handed over by effProcessEvents. The host allocates room
// for numEvents pointers; two are declared.
struct VstEvents {
    VstInt32 numEvents;
    VstIntPtr reserved;  // 0
    VstEvent* events[2];
};

// VstMidiEvent::flags.
enum VstMidiEventFlags : VstInt32 {
    kVstMidiEventIsRealtime = 1 << 0,
};

struct VstMidiEvent {
    VstInt32 type;         // kVstMidiType
    VstInt32 byteSize;     // sizeof(VstMidiEvent)
    VstInt32 deltaFrames;
    VstInt32 flags;        // VstMidiEventFlags
    VstInt32 noteLength;   // in samples, 0 when unknown
    VstInt32 noteOffset;   // in samples into the note, 0 when unknown
    char midiData[4];      // status and up to two data bytes, the fourth 0
    char detune;           // -64 to +63 cents
    char noteOffVelocity;
    char reserved1;
    char reserved2;
};

struct VstMidiSysexEvent {
    VstInt32 type;         // kVstSysExType
    VstInt32 byteSize;     // sizeof(VstMidiSysexEvent)
    VstInt32 deltaFrames;
    VstInt32 flags;        // 0
    VstInt32 dumpBytes;    // the bytes of sysexDump
    VstIntPtr resvd1;      // 0
    char* sysexDump;
    VstIntPtr resvd2;      // 0
};

// --- time ---------------------------------------------------------------------

// VstTimeInfo::flags: what changed, what is valid.
enum VstTimeInfoFlags : VstInt32 {
    kVstTransportChanged = 1 << 0,
    kVstTransportPlaying = 1 << 1,
    kVstTransportCycleActive = 1 << 2,
    kVstTransportRecording = 1 << 3,
    kVstAutomationWriting = 1 << 6,
    kVstAutomationReading = 1 << 7,
    kVstNanosValid = 1 << 8,
    kVstPpqPosValid = 1 << 9,
    kVstTempoValid = 1 << 10,
    kVstBarsValid = 1 << 11,
    kVstCyclePosValid = 1 << 12,
    kVstTimeSigValid = 1 << 13,
    kVstSmpteValid = 1 << 14,
    kVstClockValid = 1 << 15,
};

// VstTimeInfo::smpteFrameRate.
enum VstSmpteFrameRate : VstInt32 {
    kVstSmpte24fps = 0,
    kVstSmpte25fps = 1,
    kVstSmpte2997fps = 2,
    kVstSmpte30fps = 3,
    kVstSmpte2997dfps = 4,
    kVstSmpte30dfps = 5,
};

// The host's transport, answered by pointer to audioMasterGetTime.
struct VstTimeInfo {
    double samplePos;       // the current block's first sample since the start
    double sampleRate;
    double nanoSeconds;     // system time
    double ppqPos;          // musical position in quarter notes
    double tempo;           // beats per minute
    double barStartPos;     // the last bar's start in quarter notes
    double cycleStartPos;
    double cycleEndPos;
    VstInt32 timeSigNumerator;
    VstInt32 timeSigDenominator;
    VstInt32 smpteOffset;
    VstInt32 smpteFrameRate;  // VstSmpteFrameRate
    VstInt32 samplesToNextClock;
    VstInt32 flags;           // VstTimeInfoFlags
};

// audioMasterGetCurrentProcessLevel.
enum VstProcessLevels : VstInt32 {
    kVstProcessLevelUnknown = 0,
    kVstProcessLevelUser = 1,
    kVstProcessLevelRealtime = 2,
    kVstProcessLevelPrefetch = 3,
    kVstProcessLevelOffline = 4,
};

// --- program and bank files -----------------------------------------------------

// The magics of program (.fxp) and bank (.fxb) files, stored big-endian.
inline constexpr VstInt32 cMagic = fourCharCode('C', 'c', 'n', 'K');             // every file's first field
inline constexpr VstInt32 fMagic = fourCharCode('F', 'x', 'C', 'k');             // a program of parameters
inline constexpr VstInt32 bankMagic = fourCharCode('F', 'x', 'B', 'k');          // a bank of programs
inline constexpr VstInt32 chunkPresetMagic = fourCharCode('F', 'P', 'C', 'h');   // a program as one chunk
inline constexpr VstInt32 chunkBankMagic = fourCharCode('F', 'B', 'C', 'h');     // a bank as one chunk

// --- layout ---------------------------------------------------------------------

static_assert(kEffectMagic == 0x56737450);
static_assert(cMagic == 0x43636E4B);
static_assert(sizeof(ERect) == 8);
static_assert(sizeof(VstTimeInfo) == 88);
static_assert(sizeof(VstMidiEvent) == 32);
static_assert(offsetof(VstTimeInfo, timeSigNumerator) == 64);
static_assert(offsetof(VstTimeInfo, flags) == 84);
#if UINTPTR_MAX == UINT64_MAX
static_assert(offsetof(AEffect, dispatcher) == 8);
static_assert(offsetof(AEffect, numPrograms) == 40);
static_assert(offsetof(AEffect, flags) == 56);
static_assert(offsetof(AEffect, resvd1) == 64);
static_assert(offsetof(AEffect, initialDelay) == 80);
static_assert(offsetof(AEffect, ioRatio) == 92);
static_assert(offsetof(AEffect, object) == 96);
static_assert(offsetof(AEffect, uniqueID) == 112);
static_assert(offsetof(AEffect, processReplacing) == 120);
static_assert(offsetof(AEffect, future) == 136);
static_assert(sizeof(AEffect) == 192);
static_assert(sizeof(VstEvents) == 32);
static_assert(offsetof(VstMidiSysexEvent, resvd1) == 24);
static_assert(offsetof(VstMidiSysexEvent, sysexDump) == 32);
static_assert(sizeof(VstMidiSysexEvent) == 48);
#elif UINTPTR_MAX == UINT32_MAX
static_assert(offsetof(AEffect, numPrograms) == 20);
static_assert(offsetof(AEffect, uniqueID) == 72);
static_assert(sizeof(AEffect) == 144);
static_assert(sizeof(VstEvents) == 16);
static_assert(sizeof(VstMidiSysexEvent) == 32);
#endif

}  // namespace qvp3::vst
