// C exports of the file's plain play settings, the addresses through which a
// host watches and changes them, the file names and the per-staff and
// per-voice queries of a loaded score.
//
// The values a running play reads live in the play controls as atomics, so
// the addresses handed out here are those of the atomics themselves: a host's
// aligned store through them is what the player loads at its next use.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "exports/exports_support.h"
#include "musicxml/mxml_file.h"
#include "play/event_arrays.h"
#include "play/render_output.h"
#include "scoreconv/scoreconv.h"
#include "scorecore/meter.h"
#include "scorecore/midi_stream.h"
#include "scorecore/result_codes.h"

using scoreconv::exports::guarded;
using scoreconv::exports::knownStaff;
using scoreconv::exports::knownVoice;
using scoreconv::exports::textOf;
using scoreconv::exports::voicesOf;

namespace {

// The plain value inside an atomic that a host reads and writes by address:
// only sound where the atomic is the bare value, lock-free.
template <class T>
T* plainAddress(std::atomic<T>& value) {
    static_assert(sizeof(std::atomic<T>) == sizeof(T) && alignof(std::atomic<T>) == alignof(T));
    static_assert(std::atomic<T>::is_always_lock_free);
    return reinterpret_cast<T*>(&value);
}

template <class T>
const T* plainAddress(const std::atomic<T>& value) {
    return plainAddress(const_cast<std::atomic<T>&>(value));
}

static_assert(std::is_standard_layout_v<scorecore::CMeasurePos>);
static_assert(sizeof(scorecore::CMeasurePos) == sizeof(scMeasurePos));
static_assert(offsetof(scorecore::CMeasurePos, bar) == offsetof(scMeasurePos, bar));
static_assert(offsetof(scorecore::CMeasurePos, beat) == offsetof(scMeasurePos, beat));
static_assert(offsetof(scorecore::CMeasurePos, tick) == offsetof(scMeasurePos, tick));

scorecore::CMidiInstr* instrument(scMxmlFile* file, int32_t staff, int32_t voice) {
    return file != nullptr ? file->instruments.at(staff, voice) : nullptr;
}

const scoreconv::CScoreEvent* event(scMxmlFile* file, int32_t staff, int32_t voice, int32_t index) {
    if (file == nullptr || !knownStaff(*file, staff)) return nullptr;
    return file->events.event(staff, voice, index);
}

// Sign-extends a 32-bit mask of the host to the 64-bit condition set.
uint64_t widened(int32_t mask) { return static_cast<uint64_t>(static_cast<int64_t>(mask)); }

}  // namespace

// ---- plain settings ------------------------------------------------------------------

int32_t mxmlGetTranspAdd(scMxmlFile* file) { return file != nullptr ? file->TranspAdd : 0; }

scMxmlFile* mxmlSetTranspAdd(scMxmlFile* file, int32_t semitones) {
    if (file != nullptr) file->TranspAdd = semitones;
    return file;
}

uint8_t mxmlGetTranspAddToPerc(scMxmlFile* file) { return file != nullptr ? file->TranspAddToPerc : 0; }

scMxmlFile* mxmlSetTranspAddToPerc(scMxmlFile* file, uint8_t flag) {
    if (file != nullptr) file->TranspAddToPerc = flag;
    return file;
}

int32_t mxmlGetVelocity(scMxmlFile* file) { return file != nullptr ? file->baseVelocity.load() : 0; }

scMxmlFile* mxmlSetVelocity(scMxmlFile* file, int32_t velocity) {
    if (file != nullptr) file->baseVelocity.store(velocity);
    return file;
}

int32_t mxmlGetNoteShortening(scMxmlFile* file) { return file != nullptr ? file->NoteShortening.load() : 0; }

scMxmlFile* mxmlSetNoteShortening(scMxmlFile* file, int32_t percent) {
    if (file != nullptr) file->NoteShortening.store(percent);
    return file;
}

scMxmlFile* mxmlSetTempoRange(scMxmlFile* file, int32_t low, int32_t high) {
    if (file != nullptr) file->controls.setTempoRange(low, high);
    return file;
}

int32_t mxmlGetInitialTempo(scMxmlFile* file) { return file != nullptr ? file->initialTempo : 0; }

scMxmlFile* mxmlSetPlayPosTempo(scMxmlFile* file, int32_t tempo) {
    // The player reads and writes the cursor's tempo atomically as well.
    if (file != nullptr) std::atomic_ref<int32_t>(file->cursor.tempo).store(tempo);
    return file;
}

scMxmlFile* mxmlSetPlayRepeats(scMxmlFile* file, uint8_t flag) {
    if (file != nullptr) file->PlayRepeats.store(flag);
    return file;
}

scMxmlFile* mxmlSetPlayCond(scMxmlFile* file, uint32_t low, uint32_t high) {
    if (file != nullptr) file->controls.setPlayConditions(uint64_t{high} << 32 | low);
    return file;
}

int32_t mxmlAddPlayCond(scMxmlFile* file, int32_t mask) {
    if (file != nullptr) file->controls.addPlayConditionsIfNone(widened(mask));
    return mask;
}

int32_t mxmlRemovePlayCond(scMxmlFile* file, int32_t mask) {
    if (file != nullptr) file->controls.flipPlayConditionsIfAny(widened(mask));
    return mask;
}

scMessageTarget** mxmlGetCallbackWindow(scMxmlFile* file) { return file != nullptr ? file->progressWindow : nullptr; }

int32_t mxmlGetStvNum(scMxmlFile* file) { return mxmlGetStaveNum(file); }

const int32_t* mxmlGetVocNum(scMxmlFile* file) {
    if (file == nullptr || file->voiceCounts.empty()) return nullptr;
    return file->voiceCounts.data();
}

// ---- addresses -----------------------------------------------------------------------

int32_t* mxmlGetVelocityP(scMxmlFile* file) { return file != nullptr ? plainAddress(file->baseVelocity) : nullptr; }

int32_t* mxmlGetNoteShorteningP(scMxmlFile* file) {
    return file != nullptr ? plainAddress(file->NoteShortening) : nullptr;
}

uint8_t* mxmlGetIgnoreTempoP(scMxmlFile* file) { return file != nullptr ? plainAddress(file->IgnoreTempo) : nullptr; }

uint8_t* mxmlGetPlayRepeatsP(scMxmlFile* file) { return file != nullptr ? plainAddress(file->PlayRepeats) : nullptr; }

uint8_t* mxmlGetPreviewDoP(scMxmlFile* file) { return file != nullptr ? plainAddress(file->PreviewDo) : nullptr; }

int32_t* mxmlGetPreviewSecP(scMxmlFile* file) { return file != nullptr ? plainAddress(file->PreviewSec) : nullptr; }

int32_t* mxmlGetPlayPosTempoP(scMxmlFile* file) { return file != nullptr ? &file->cursor.tempo : nullptr; }

const int64_t* mxmlGetPlayPositionP(scMxmlFile* file) {
    return file != nullptr ? plainAddress(file->report.reachedPosition()) : nullptr;
}

const void* mxmlGetThreadP(scMxmlFile* file) { return file != nullptr ? &file->worker : nullptr; }

const scMeasurePos* mxmlGetBarDurationP(scMxmlFile* file) {
    return file != nullptr ? reinterpret_cast<const scMeasurePos*>(&file->playLength) : nullptr;
}

scArticulation* mxmlGetArticulationP(scMxmlFile* file) { return file != nullptr ? &file->articulation : nullptr; }

scDynamik* mxmlGetDynamikP(scMxmlFile* file) { return file != nullptr ? &file->dynamik : nullptr; }

scQuantize* mxmlGetQuantizeP(scMxmlFile* file) { return file != nullptr ? &file->quantize : nullptr; }

scMetronom* mxmlGetMetronomP(scMxmlFile* file) { return file != nullptr ? &file->metronom : nullptr; }

scEinstimmung* mxmlGetEinstimmungP(scMxmlFile* file) { return file != nullptr ? &file->einstimmung : nullptr; }

scStaffVoiceStates* mxmlGetStaffOnOffP(scMxmlFile* file) { return file != nullptr ? &file->onOff : nullptr; }

// ---- staves, voices and instruments --------------------------------------------------

int32_t mxmlGetVocNumOfStaff(scMxmlFile* file, int32_t staff) { return file != nullptr ? voicesOf(*file, staff) : 0; }

int32_t mxmlGetSrcVolume(scMxmlFile* file, int32_t staff) {
    if (file == nullptr || !knownStaff(*file, staff)) return 0;
    return file->voiceMix.sourceVolume(staff);
}

scMxmlFile* mxmlSetSrcVolume(scMxmlFile* file, int32_t staff, int32_t volume) {
    if (file != nullptr && knownStaff(*file, staff)) file->voiceMix.setSourceVolume(staff, volume);
    return file;
}

int32_t mxmlGetMidiInstrumentNum(scMxmlFile* file, int32_t staff) {
    return file != nullptr ? file->instruments.count(staff) : 0;
}

int32_t mxmlGetMidiInstrumentListNum(scMxmlFile* file) { return file != nullptr ? file->midiInstrumentListCount : 0; }

bool mxmlGetPercussionFlag(scMxmlFile* file, int32_t staff) {
    return file != nullptr && file->instruments.isPercussionStaff(staff);
}

// A staff without voices answers with the mix's defaults and ignores writes;
// a voice beyond those of a staff that has some is unknown.
namespace {
bool mixAnswers(scMxmlFile* file, int32_t staff, int32_t voice) {
    if (file == nullptr || !knownStaff(*file, staff)) return false;
    return voicesOf(*file, staff) == 0 || knownVoice(*file, staff, voice);
}
}  // namespace

int32_t mxmlGetUserVolume(scMxmlFile* file, int32_t staff, int32_t voice) {
    return mixAnswers(file, staff, voice) ? file->voiceMix.userVolume(staff, voice) : 0;
}

scMxmlFile* mxmlSetUserVolume(scMxmlFile* file, int32_t staff, int32_t voice, int32_t volume) {
    if (mixAnswers(file, staff, voice)) file->voiceMix.setUserVolume(staff, voice, volume);
    return file;
}

int32_t mxmlGetUserPanorama(scMxmlFile* file, int32_t staff, int32_t voice) {
    return mixAnswers(file, staff, voice) ? file->voiceMix.userPan(staff, voice) : 0;
}

scMxmlFile* mxmlSetUserPanorama(scMxmlFile* file, int32_t staff, int32_t voice, int32_t pan) {
    if (mixAnswers(file, staff, voice)) file->voiceMix.setUserPan(staff, voice, pan);
    return file;
}

const char* mxmlGetMidiInstrId(scMxmlFile* file, int32_t staff, int32_t voice) {
    const scorecore::CMidiInstr* record = instrument(file, staff, voice);
    return record != nullptr ? record->InstrumentId.c_str() : nullptr;
}

// Getter and setter of one byte of an instrument record.
#define SCORECONV_INSTRUMENT_BYTE(getter, setter, field)                                               \
    uint8_t getter(scMxmlFile* file, int32_t staff, int32_t voice) {                                    \
        const scorecore::CMidiInstr* record = instrument(file, staff, voice);                           \
        return record != nullptr ? record->field : 0;                                                   \
    }                                                                                                    \
    scMxmlFile* setter(scMxmlFile* file, int32_t staff, int32_t voice, uint8_t value) {                 \
        if (scorecore::CMidiInstr* record = instrument(file, staff, voice); record != nullptr) {        \
            record->field = value;                                                                      \
        }                                                                                                \
        return file;                                                                                     \
    }

SCORECONV_INSTRUMENT_BYTE(mxmlGetMidiInstrPercNote, mxmlSetMidiInstrPercNote, PercNote)
SCORECONV_INSTRUMENT_BYTE(mxmlGetMidiInstrSrcProgPercId, mxmlSetMidiInstrSrcProgPercId, SrcProgPercId)
SCORECONV_INSTRUMENT_BYTE(mxmlGetUserProgram, mxmlSetUserProgram, UserProgram)
SCORECONV_INSTRUMENT_BYTE(mxmlGetMidiInstrChannel, mxmlSetMidiInstrChannel, Channel)
SCORECONV_INSTRUMENT_BYTE(mxmlGetMidiInstrSrcChannel, mxmlSetMidiInstrSrcChannel, SrcChannel)

#undef SCORECONV_INSTRUMENT_BYTE

scMxmlFile* mxmlSetUserChannel(scMxmlFile* file, int32_t staff, int32_t voice, uint8_t channel) {
    return mxmlSetMidiInstrChannel(file, staff, voice, channel);
}

bool mxmlIspercOfStaffOfVoc(scMxmlFile* file, int32_t staff, int32_t voice) {
    return file != nullptr && file->instruments.isPercussion(staff, voice);
}

uint8_t mxmlGetVoiceChannel(scMxmlFile* file, int32_t staff, int32_t voice) {
    if (file == nullptr || !knownStaff(*file, staff)) return 255;
    return file->events.voiceChannel(staff, voice);
}

int mxmlActualizePlaybackSound(scMxmlFile* file, int32_t staff, int32_t voice) {
    if (file == nullptr) return scorecore::kOk;
    return guarded(scorecore::kErrOutOfMemory, [&] { return scoreconv::actualizePlaybackSound(*file, staff, voice); });
}

int32_t mxmlGetTimeOfNote(scMxmlFile* file, int32_t staff, int32_t voice, int32_t index) {
    const scoreconv::CScoreEvent* e = event(file, staff, voice, index);
    return e != nullptr ? e->start : 0;
}

int32_t mxmlGetTicklenOfNote(scMxmlFile* file, int32_t staff, int32_t voice, int32_t index) {
    const scoreconv::CScoreEvent* e = event(file, staff, voice, index);
    return e != nullptr ? e->duration : 0;
}

uint8_t mxmlGetMidiNumberOfNote(scMxmlFile* file, int32_t staff, int32_t voice, int32_t index, int32_t head) {
    const scoreconv::CScoreEvent* e = event(file, staff, voice, index);
    if (e == nullptr || head < 0 || head >= e->headCount) return 0;
    return static_cast<uint8_t>(e->midi[static_cast<std::size_t>(head)] >> 8);
}

int32_t mxmlGetNextEventType(scMxmlFile* file, uint32_t mask, int32_t staff, int32_t voice, int32_t index) {
    if (file == nullptr) return 0;
    if (!knownStaff(*file, staff)) return -1;
    return file->events.nextOfKind(mask, staff, voice, index);
}

void mxmlTimeToMeasure(scMxmlFile* file, int32_t tick, int32_t* bar, int32_t* beat, int32_t* tickInBeat) {
    if (file == nullptr) return;
    // Meters count at 480 ticks per quarter whatever the score's resolution.
    constexpr int32_t kMeterResolution = 480;
    int64_t bars = 1;
    int64_t beats = 1;
    int64_t ticks = 0;
    scorecore::CMeter meter;
    meter.init(kMeterResolution, 4, 2);
    const auto add = [&](int64_t span) {
        if (span <= 0) return;
        bars += span / meter.ticksPerBar;
        beats += (span / meter.ticksPerBeat) % meter.beats;
        ticks += span % meter.ticksPerBeat;
    };
    int64_t from = 0;
    bool first = true;
    if (file->events.rowCount() > 0) {
        for (const scoreconv::CScoreEvent& e : file->events.events(file->events.globalRow(), 0)) {
            scorecore::CMeter next;
            if (!scoreconv::eventMeter(e, kMeterResolution, next)) continue;
            if (first) {
                // The score starts in its first time signature.
                meter = next;
                first = false;
            }
            if (e.start >= tick) break;
            add(e.start - from);
            from = e.start;
            meter = next;
        }
    }
    add(int64_t{tick} - from);
    if (bar != nullptr) *bar = static_cast<int32_t>(bars);
    if (beat != nullptr) *beat = static_cast<int32_t>(beats);
    if (tickInBeat != nullptr) *tickInBeat = static_cast<int32_t>(ticks);
}

// ---- file names ----------------------------------------------------------------------

const char* mxmlGetFnOriginal(scMxmlFile* file) { return file != nullptr ? file->fnOriginal.c_str() : nullptr; }

const char* mxmlGetFnScanned(scMxmlFile* file) { return file != nullptr ? file->fnScanned.c_str() : nullptr; }

bool mxmlFnScannedIsEqual(scMxmlFile* file, const char* text) {
    return file == nullptr || (text != nullptr && file->fnScanned == text);
}

bool mxmlIsThisFileRendered(scMxmlFile* file, const char* text) {
    return file != nullptr && text != nullptr && file->isThisFileRendered(textOf(text));
}

bool mxmlIsAnyFileRendered(scMxmlFile* file) { return file != nullptr && !file->fnScanned.empty(); }
