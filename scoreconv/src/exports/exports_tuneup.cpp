// C exports of the metronome and tune-up records: their fields, and the
// record operations a host drives directly (live clicks, the selected voices
// of the tune-up and their text form).
#include <array>
#include <cstdint>

#include "exports/exports_support.h"
#include "musicxml/mxml_file.h"
#include "scoreconv/scoreconv.h"
#include "scorecore/metronome.h"
#include "scorecore/result_codes.h"
#include "scorecore/tune_up.h"

using scoreconv::exports::guarded;
using scoreconv::exports::textOf;

// One field of a record: the getter answers `neutral` for a null handle, the
// setter stores the value as the field's own type.
#define SCORECONV_RECORD_FIELD(type, getter, setter, record, field, neutral)                 \
    type getter(scMxmlFile* file) {                                                          \
        return file != nullptr ? static_cast<type>(file->record.field) : (neutral);          \
    }                                                                                          \
    scMxmlFile* setter(scMxmlFile* file, type value) {                                       \
        if (file != nullptr) file->record.field = value;                                     \
        return file;                                                                           \
    }

// ---- metronome -----------------------------------------------------------------------

SCORECONV_RECORD_FIELD(int32_t, mxmlGetMetrCountIn, mxmlSetMetrCountIn, metronom, CountIn, 0)
SCORECONV_RECORD_FIELD(uint8_t, mxmlGetMetrUse, mxmlSetMetrUse, metronom, Use, 0)
SCORECONV_RECORD_FIELD(uint8_t, mxmlGetMetrInstrument, mxmlSetMetrInstrument, metronom, Instrument, 42)
SCORECONV_RECORD_FIELD(uint8_t, mxmlGetMetrVelocity, mxmlSetMetrVelocity, metronom, Velocity, 0)
SCORECONV_RECORD_FIELD(uint8_t, mxmlGetMetrFirstBeat, mxmlSetMetrFirstBeat, metronom, FirstBeat, 1)
SCORECONV_RECORD_FIELD(int32_t, mxmlGetMetrFrequency, mxmlSetMetrFrequency, metronom, Frequency, 0)
SCORECONV_RECORD_FIELD(uint8_t, mxmlGetMetrVolume, mxmlSetMetrVolume, metronom, Volume, 0)
SCORECONV_RECORD_FIELD(uint8_t, mxmlGetMetrLastBeat, mxmlSetMetrLastBeat, metronom, LastBeat, 1)

int mxmlMetrClickFreq(scMxmlFile* file, scMidiOut* device, int force, int32_t beats, int32_t beat,
                      uint8_t* lastVolume, uint8_t* lastPan, scMidiTrackStream* stream, int* delta) {
    if (file == nullptr) return 0;
    int none = 0;
    int& pending = delta != nullptr ? *delta : none;
    // Nothing is known of the program last sent: it goes out again when needed.
    return guarded(-1, [&] {
        return file->metronom.clickFreq(device, force != 0, beats, beat, lastVolume, lastPan, stream, pending,
                                        nullptr);
    });
}

int mxmlMetrClickOff(scMxmlFile* file, scMidiOut* device, scMidiTrackStream* stream, int* delta) {
    if (file == nullptr) return 0;
    int none = 0;
    int& pending = delta != nullptr ? *delta : none;
    return guarded(-1, [&] { return file->metronom.clickOff(device, stream, pending); });
}

// ---- tune-up fields ------------------------------------------------------------------

SCORECONV_RECORD_FIELD(int32_t, mxmlGetEinstType, mxmlSetEinstType, einstimmung, Type, 1)
SCORECONV_RECORD_FIELD(int32_t, mxmlGetEinstDuration, mxmlSetEinstDuration, einstimmung, Duration, 1000)
SCORECONV_RECORD_FIELD(uint8_t, mxmlGetEinstZerlegt, mxmlSetEinstZerlegt, einstimmung, Zerlegt, 1)
SCORECONV_RECORD_FIELD(int32_t, mxmlGetEinstTempo, mxmlSetEinstTempo, einstimmung, Tempo, 2)
SCORECONV_RECORD_FIELD(uint8_t, mxmlGetEinstSounding, mxmlSetEinstSounding, einstimmung, Sounding, 1)
SCORECONV_RECORD_FIELD(uint8_t, mxmlGetEinstVolume, mxmlSetEinstVolume, einstimmung, Volume, 100)
SCORECONV_RECORD_FIELD(int32_t, mxmlGetEinstInstrument, mxmlSetEinstInstrument, einstimmung, Instrument, -1)
SCORECONV_RECORD_FIELD(int32_t, mxmlGetEinstChordGrundton, mxmlSetEinstChordGrundton, einstimmung, ChordGrundton, 0)
SCORECONV_RECORD_FIELD(uint8_t, mxmlGetEinstChordDurMoll, mxmlSetEinstChordDurMoll, einstimmung, ChordDurMoll, 1)
SCORECONV_RECORD_FIELD(int32_t, mxmlGetEinstChordOctave, mxmlSetEinstChordOctave, einstimmung, ChordOctave, 5)
SCORECONV_RECORD_FIELD(int32_t, mxmlGetEinstFirstNotesVoiceNum, mxmlSetEinstFirstNotesVoiceNum, einstimmung,
                       FirstNotesVoiceNum, 0)
SCORECONV_RECORD_FIELD(uint8_t, mxmlGetEinstFirstNotesFromTop, mxmlSetEinstFirstNotesFromTop, einstimmung,
                       FirstNotesFromTop, 0)

#undef SCORECONV_RECORD_FIELD

uint8_t mxmlIsEinstActive(scMxmlFile* file) { return file != nullptr && file->tuneUpActive.load() ? 1 : 0; }

scMxmlFile* mxmlSetEinstPlayParams(scMxmlFile* file, const int32_t* params) {
    if (file == nullptr) return file;
    if (params == nullptr) {
        file->einstimmung.setPlayParams(nullptr);
    } else {
        std::array<int32_t, 7> copy{};
        for (std::size_t i = 0; i < copy.size(); ++i) copy[i] = params[i];
        file->einstimmung.setPlayParams(&copy);
    }
    return file;
}

// ---- tune-up voices ------------------------------------------------------------------

scMxmlFile* mxmlEinstDeleteVoiceList(scMxmlFile* file) {
    if (file != nullptr) file->einstimmung.deleteVoiceList();
    return file;
}

bool mxmlEinstAddSelectedVoice(scMxmlFile* file, int32_t key) {
    if (file == nullptr) return false;
    return guarded(false, [&] { return file->einstimmung.addSelectedVoice(key); });
}

int32_t mxmlEinstGetFirstNotesStaffVoice(scMxmlFile* file, int32_t entry, int32_t* staff, int32_t* voice) {
    if (file == nullptr) return 0;
    return file->einstimmung.getFirstNotesStaffVoice(entry, staff, voice);
}

int32_t mxmlEinstGetZerlegtTime(scMxmlFile* file) {
    return file != nullptr ? file->einstimmung.getZerlegtTime() : 1000;
}

int32_t mxmlEinstGetZerlegtTicks(scMxmlFile* file) {
    return file != nullptr ? file->einstimmung.getZerlegtTicks() : 480;
}

bool mxmlEinstFirstNotesVoicesSelected(scMxmlFile* file) {
    return file != nullptr && file->einstimmung.firstNotesVoicesSelected();
}

bool mxmlEinstCreateChord(scMxmlFile* file, scScoreEventList* events, int32_t* count, int32_t transpose) {
    if (file == nullptr || events == nullptr || count == nullptr) return false;
    return guarded(false, [&] { return file->einstimmung.createChord(*events, *count, transpose); });
}

int32_t mxmlEinstGetFirstNotesNote(scMxmlFile* file, scScoreEventList* events, int32_t* count, int32_t heads,
                                   const scScoreEvent* source, int32_t channel, int32_t transposeA,
                                   int32_t transposeB, int32_t staff, int32_t voice) {
    if (file == nullptr || events == nullptr || count == nullptr || source == nullptr) return -1;
    return guarded(int32_t{-1}, [&] {
        return file->einstimmung.getFirstNotesNote(*events, *count, heads, *source, channel, transposeA, transposeB,
                                                   staff, voice);
    });
}

const char* mxmlEinstCreateVoicesString(scMxmlFile* file) {
    if (file == nullptr) return nullptr;
    return guarded<const char*>(nullptr, [&] { return file->einstimmung.createVoicesString(); });
}

int mxmlEinstBuildVoicesFromString(scMxmlFile* file, const char* text) {
    if (file == nullptr) return scorecore::kOk;
    return guarded(scorecore::kErrOutOfMemory,
                   [&] { return file->einstimmung.buildVoicesFromString(textOf(text), -1); });
}
