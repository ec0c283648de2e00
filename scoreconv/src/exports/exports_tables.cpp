// C exports of the file's tables: articulations and dynamics, the staff and
// voice on/off matrix and the swing quantize settings. Rows and staves the
// tables do not have give the neutral value and are never written.
#include <cstddef>
#include <cstdint>
#include <string>

#include "exports/exports_support.h"
#include "musicxml/mxml_file.h"
#include "play/play_model.h"
#include "scoreconv/scoreconv.h"
#include "scorecore/quantize.h"
#include "scorecore/staff_voice_states.h"

using scoreconv::exports::copyToBuffer;
using scoreconv::exports::emptyBuffer;
using scoreconv::exports::guarded;
using scoreconv::exports::textOf;

namespace {

scorecore::CDynamikRow* dynamikRow(scMxmlFile* file, int32_t row) {
    if (file == nullptr || row < 0 || static_cast<std::size_t>(row) >= file->dynamik.rows.size()) return nullptr;
    return &file->dynamik.rows[static_cast<std::size_t>(row)];
}

scoreconv::CArticulationRow* articulationRow(scMxmlFile* file, int32_t row) {
    return file != nullptr ? file->articulation.row(row) : nullptr;
}

// The on/off matrix when it has the staff; voices it answers itself (a staff
// without voices answers for all of them).
const scorecore::CStaffVoiceStates* matrix(scMxmlFile* file, int32_t staff) {
    if (file == nullptr || staff < 0 || staff >= file->onOff.staffCount()) return nullptr;
    return &file->onOff;
}

bool quantizeStaff(scMxmlFile* file, int32_t staff) {
    return file != nullptr && staff >= 0 && staff < file->quantize.staffCount();
}

// The offered rate 1:1.
constexpr int32_t kEvenRateIndex = 12;

}  // namespace

// ---- flags of the tables -------------------------------------------------------------

uint8_t mxmlGetArticulationUse(scMxmlFile* file) { return file != nullptr ? file->articulation.ArticulationUse : 0; }

scMxmlFile* mxmlSetArticulationUse(scMxmlFile* file, uint8_t flag) {
    if (file != nullptr) file->articulation.ArticulationUse = flag;
    return file;
}

uint8_t mxmlGetDynamicUse(scMxmlFile* file) { return file != nullptr ? file->dynamik.DynamicUse : 0; }

scMxmlFile* mxmlSetDynamicUse(scMxmlFile* file, uint8_t flag) {
    if (file != nullptr) file->dynamik.DynamicUse = flag;
    return file;
}

uint8_t mxmlGetUseAllVoicesForDyn(scMxmlFile* file) { return file != nullptr ? file->dynamik.UseAllVoicesForDyn : 0; }

scMxmlFile* mxmlSetUseAllVoicesForDyn(scMxmlFile* file, uint8_t flag) {
    if (file != nullptr) file->dynamik.UseAllVoicesForDyn = flag;
    return file;
}

uint8_t mxmlGetUseAllStavesForDyn(scMxmlFile* file) { return file != nullptr ? file->dynamik.UseAllStavesForDyn : 0; }

scMxmlFile* mxmlSetUseAllStavesForDyn(scMxmlFile* file, uint8_t flag) {
    if (file != nullptr) file->dynamik.UseAllStavesForDyn = flag;
    return file;
}

// ---- rows ----------------------------------------------------------------------------

uint8_t mxmlGetValueOfDynSymbol(scMxmlFile* file, int32_t row) {
    const scorecore::CDynamikRow* r = dynamikRow(file, row);
    return r != nullptr ? r->velocity : 255;
}

scMxmlFile* mxmlSetValueOfDynSymbol(scMxmlFile* file, int32_t row, uint8_t velocity) {
    if (scorecore::CDynamikRow* r = dynamikRow(file, row); r != nullptr) r->velocity = velocity;
    return file;
}

uint8_t mxmlIsDynSymbolInFile(scMxmlFile* file, int32_t row) {
    const scorecore::CDynamikRow* r = dynamikRow(file, row);
    return r != nullptr ? r->presentInFile : 0;
}

scMxmlFile* mxmlSetDynSymbolInFile(scMxmlFile* file, int32_t row, uint8_t flag) {
    if (scorecore::CDynamikRow* r = dynamikRow(file, row); r != nullptr) r->presentInFile = flag;
    return file;
}

uint8_t mxmlIsArtSymbolInFile(scMxmlFile* file, int32_t row) {
    const scoreconv::CArticulationRow* r = articulationRow(file, row);
    return r != nullptr ? static_cast<uint8_t>(r->presentInFile) : 0;
}

int8_t mxmlGetVelocRaiseOfArtSymbol(scMxmlFile* file, int32_t row) {
    const scoreconv::CArticulationRow* r = articulationRow(file, row);
    return r != nullptr ? r->velocity : 0;
}

scMxmlFile* mxmlSetVelocRaiseOfArtSymbol(scMxmlFile* file, int32_t row, int8_t value) {
    if (scoreconv::CArticulationRow* r = articulationRow(file, row); r != nullptr) r->velocity = value;
    return file;
}

int8_t mxmlGetNoteCutOfArtSymbol(scMxmlFile* file, int32_t row) {
    const scoreconv::CArticulationRow* r = articulationRow(file, row);
    return r != nullptr ? r->noteCut : 0;
}

scMxmlFile* mxmlSetNoteCutOfArtSymbol(scMxmlFile* file, int32_t row, int8_t percent) {
    if (scoreconv::CArticulationRow* r = articulationRow(file, row); r != nullptr) r->noteCut = percent;
    return file;
}

scMxmlFile* mxmlDynamikCopyValues(scMxmlFile* file, const scDynamik* from) {
    if (file != nullptr && from != nullptr) scoreconv::copyDynamikValues(file->dynamik, *from);
    return file;
}

scMxmlFile* mxmlArticulationCopyValues(scMxmlFile* file, const scArticulation* from) {
    if (file != nullptr && from != nullptr) file->articulation.copyValues(*from);
    return file;
}

// ---- on and off ----------------------------------------------------------------------

int32_t mxmlGetStaffOnOff(scMxmlFile* file, int32_t staff) {
    const scorecore::CStaffVoiceStates* m = matrix(file, staff);
    return m != nullptr ? m->getStaffOnOff(staff) : scorecore::kStateInvalid;
}

scMxmlFile* mxmlSetStaffOnOff(scMxmlFile* file, int32_t staff, int32_t state, bool alsoVoices) {
    if (matrix(file, staff) != nullptr) file->onOff.setStaffOnOff(staff, state, alsoVoices);
    return file;
}

int32_t mxmlGetVoiceOnOff(scMxmlFile* file, int32_t staff, int32_t voice) {
    const scorecore::CStaffVoiceStates* m = matrix(file, staff);
    return m != nullptr ? m->getVoiceOnOff(staff, voice) : scorecore::kStateInvalid;
}

int32_t mxmlSetVoiceOnOff(scMxmlFile* file, int32_t staff, int32_t voice, int32_t state) {
    if (matrix(file, staff) == nullptr) return scorecore::kStateInvalid;
    return file->onOff.setVoiceOnOff(staff, voice, state);
}

bool mxmlIsStaffOn(scMxmlFile* file, int32_t staff) {
    const scorecore::CStaffVoiceStates* m = matrix(file, staff);
    return m != nullptr && m->isStaffOn(staff);
}

bool mxmlIsStaffOff(scMxmlFile* file, int32_t staff) {
    const scorecore::CStaffVoiceStates* m = matrix(file, staff);
    return m != nullptr && m->isStaffOff(staff);
}

bool mxmlIsStaffInvalid(scMxmlFile* file, int32_t staff) {
    const scorecore::CStaffVoiceStates* m = matrix(file, staff);
    return m != nullptr && m->isStaffInvalid(staff);
}

bool mxmlIsStaffVisible(scMxmlFile* file, int32_t staff) {
    const scorecore::CStaffVoiceStates* m = matrix(file, staff);
    return m != nullptr && m->isStaffVisible(staff);
}

bool mxmlIsVoiceOn(scMxmlFile* file, int32_t staff, int32_t voice) {
    const scorecore::CStaffVoiceStates* m = matrix(file, staff);
    return m != nullptr && m->isVoiceOn(staff, voice);
}

bool mxmlIsVoiceOff(scMxmlFile* file, int32_t staff, int32_t voice) {
    const scorecore::CStaffVoiceStates* m = matrix(file, staff);
    return m != nullptr && m->isVoiceOff(staff, voice);
}

bool mxmlIsVoiceInvalid(scMxmlFile* file, int32_t staff, int32_t voice) {
    const scorecore::CStaffVoiceStates* m = matrix(file, staff);
    return m != nullptr && m->isVoiceInvalid(staff, voice);
}

bool mxmlIsVoiceVisible(scMxmlFile* file, int32_t staff, int32_t voice) {
    const scorecore::CStaffVoiceStates* m = matrix(file, staff);
    return m != nullptr && m->isVoiceVisible(staff, voice);
}

int32_t mxmlGetOnOffVoiceNumOfStaff(scMxmlFile* file, int32_t staff) {
    const scorecore::CStaffVoiceStates* m = matrix(file, staff);
    return m != nullptr ? m->voiceCount(staff) : 0;
}

// ---- swing quantize ------------------------------------------------------------------

int32_t mxmlGetQuantizeNote(scMxmlFile* file, int32_t staff) {
    return quantizeStaff(file, staff) ? file->quantize.getNote(staff) : 0;
}

scMxmlFile* mxmlSetQuantizeNote(scMxmlFile* file, int32_t staff, int32_t note) {
    if (quantizeStaff(file, staff)) file->quantize.setNote(staff, note);
    return file;
}

uint8_t mxmlGetQuantizeAnzahl(scMxmlFile* file, int32_t staff) {
    return quantizeStaff(file, staff) ? file->quantize.getAnzahl(staff) : 0;
}

scMxmlFile* mxmlSetQuantizeAnzahl(scMxmlFile* file, int32_t staff, uint8_t count) {
    if (quantizeStaff(file, staff)) file->quantize.setAnzahl(staff, count);
    return file;
}

int32_t mxmlGetQuantizeAnzahlIndex(scMxmlFile* file, int32_t staff) {
    return quantizeStaff(file, staff) ? file->quantize.getAnzahlIndex(staff) : 0;
}

scMxmlFile* mxmlSetQuantizeRate(scMxmlFile* file, int32_t staff, uint8_t longPart, uint8_t shortPart) {
    if (quantizeStaff(file, staff)) file->quantize.setRate(staff, longPart, shortPart);
    return file;
}

int32_t mxmlGetQuantizeRateIndex(scMxmlFile* file, int32_t staff) {
    return quantizeStaff(file, staff) ? file->quantize.getRateIndex(staff) : kEvenRateIndex;
}

const char* mxmlGetQuantizeRateString(scMxmlFile* file, int32_t staff) {
    if (!quantizeStaff(file, staff)) return nullptr;
    // The texts of the offered rates are literals, so the view ends in a terminator.
    const std::string_view text = file->quantize.getRateString(staff);
    return text.empty() ? nullptr : text.data();
}

int32_t mxmlCreateQuantizeRateString(scMxmlFile* file, int32_t staff, char* buffer, size_t size) {
    if (!quantizeStaff(file, staff)) return emptyBuffer(buffer, size);
    return guarded(SCORECONV_E_INVALIDARG,
                   [&] { return copyToBuffer(file->quantize.createRateString(staff), buffer, size); });
}

bool mxmlSetQuantizeRateFromString(scMxmlFile* file, int32_t staff, const char* text) {
    if (!quantizeStaff(file, staff) || text == nullptr) return false;
    return file->quantize.setRateFromString(staff, textOf(text));
}

scMxmlFile* mxmlSetQuantizeProtocolPos(scMxmlFile* file, int32_t staff, int32_t voice, int32_t pos) {
    if (quantizeStaff(file, staff)) file->quantize.setProtocolPos(staff, voice, pos);
    return file;
}
