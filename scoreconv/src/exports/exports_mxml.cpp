// C exports of the MusicXML file: settings of the load, the header reads, and
// the queries and texts of a loaded score.
#include <cstddef>
#include <string>

#include "exports/exports_support.h"
#include "musicxml/mxml_file.h"
#include "musicxml/mxml_load.h"
#include "platform/text.h"
#include "scoreconv/scoreconv.h"
#include "scorecore/midi_stream.h"
#include "scorecore/result_codes.h"

using scoreconv::exports::copyToBuffer;
using scoreconv::exports::copyToField;
using scoreconv::exports::emptyBuffer;
using scoreconv::exports::guarded;
using scoreconv::exports::kFileNameFieldSize;
using scoreconv::exports::kInstrumentIdFieldSize;

namespace {

// The staff's name record; null for a staff the score does not have.
scoreconv::CStaffName* staffName(scMxmlFile* file, int32_t staff) {
    if (file == nullptr || staff < 0 || staff >= file->staffCount()) return nullptr;
    return &file->staffNames[static_cast<std::size_t>(staff)];
}

// The wide copy of text, made when it is still missing; the same address
// until the contents go.
const scWChar* wideCopy(const std::string& text, std::u16string& wide) {
    if (wide.empty() && !text.empty()) wide = platform::utf8ToUtf16(text);
    return wide.c_str();
}

}  // namespace

// ---- settings and header reads -------------------------------------------------------

void mxmlSetCallbackWindow(scMxmlFile* file, scMessageTarget** window, int post) {
    if (file != nullptr) file->setCallbackWindow(window, post != 0);
}

scMxmlFile* mxmlSetSignal(scMxmlFile* file, int* signal) {
    if (file != nullptr) file->signal = signal;
    return file;
}

void mxmlCopyConvProps(scMxmlFile* file, int32_t mask) {
    if (file != nullptr) file->setConvProps(mask);
}

int mxmlGetVersion(scMxmlFile* file, const char* path) {
    if (file == nullptr) return scorecore::kOk;
    if (path == nullptr) return scorecore::kErrCannotOpen;
    return guarded(scorecore::kErrOutOfMemory, [&] { return scoreconv::getVersion(path); });
}

int mxmlGetProps(scMxmlFile* file, const char* path) {
    if (file == nullptr) return scorecore::kOk;
    const scoreconv::CMxmlFile::BusyScope hold(*file);
    if (!hold.held()) return scorecore::kErrStopped;
    return guarded(scorecore::kErrOutOfMemory, [&] {
        const int rc = path != nullptr ? scoreconv::getProps(*file, path) : scorecore::kErrCannotOpen;
        // A header that failed half-way must not stay loaded.
        if (rc != scorecore::kOk) file->destroy();
        return rc;
    });
}

// ---- queries -------------------------------------------------------------------------

bool mxmlFnScannedIsEmpty(scMxmlFile* file) { return file == nullptr || !file->isLoaded(); }

int32_t mxmlGetStaveNum(scMxmlFile* file) { return file != nullptr ? file->rowCount : 0; }

uint64_t mxmlGetModDate(scMxmlFile* file) { return file != nullptr ? file->modTime : 0; }

int32_t mxmlGetStaffNameLength(scMxmlFile* file, int32_t staff) {
    const scoreconv::CStaffName* name = staffName(file, staff);
    return name != nullptr ? static_cast<int32_t>(name->name.size()) : 0;
}

const char* mxmlGetStaffNameA(scMxmlFile* file, int32_t staff) {
    const scoreconv::CStaffName* name = staffName(file, staff);
    return name != nullptr ? name->name.c_str() : nullptr;
}

const scWChar* mxmlGetStaffNameW(scMxmlFile* file, int32_t staff) {
    scoreconv::CStaffName* name = staffName(file, staff);
    if (name == nullptr) return nullptr;
    return guarded<const scWChar*>(nullptr, [&] { return wideCopy(name->name, name->wideName); });
}

const char* mxmlGetDescA(scMxmlFile* file) { return file != nullptr ? file->description.c_str() : nullptr; }

const scWChar* mxmlGetDescW(scMxmlFile* file) {
    if (file == nullptr) return nullptr;
    return guarded<const scWChar*>(nullptr, [&] { return wideCopy(file->description, file->descriptionW); });
}

// ---- bounded copies ------------------------------------------------------------------

int32_t mxmlCopyFnScanned(scMxmlFile* file, char* buffer, size_t size) {
    if (file == nullptr) return emptyBuffer(buffer, size);
    return copyToBuffer(file->fnScanned, buffer, size);
}

int32_t mxmlCopyToFnScanned(scMxmlFile* file, const char* text) {
    if (file == nullptr) return SCORECONV_S_OK;
    return guarded(SCORECONV_E_INVALIDARG, [&] { return copyToField(text, file->fnScanned, kFileNameFieldSize); });
}

int32_t mxmlCopyToFnOriginal(scMxmlFile* file, const char* text) {
    if (file == nullptr) return SCORECONV_S_OK;
    return guarded(SCORECONV_E_INVALIDARG, [&] { return copyToField(text, file->fnOriginal, kFileNameFieldSize); });
}

int32_t mxmlSetOriginalFilename(scMxmlFile* file, const char* text) { return mxmlCopyToFnOriginal(file, text); }

int32_t mxmlSetMidiInstrId(scMxmlFile* file, int32_t staff, int32_t voice, const char* text) {
    if (file == nullptr) return SCORECONV_S_OK;
    scorecore::CMidiInstr* instrument = file->instruments.at(staff, voice);
    if (instrument == nullptr) return SCORECONV_E_INVALIDARG;
    return guarded(SCORECONV_E_INVALIDARG,
                   [&] { return copyToField(text, instrument->InstrumentId, kInstrumentIdFieldSize); });
}
