// C exports of the TvrXML file: settings, reading a file, and the description
// fields.
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "exports/exports_support.h"
#include "platform/text.h"
#include "scoreconv/scoreconv.h"
#include "scorecore/result_codes.h"
#include "scorecore/vxml_file.h"
#include "tvrxml/vxml_convert.h"

using scoreconv::exports::copyToBuffer;
using scoreconv::exports::emptyBuffer;
using scoreconv::exports::guarded;

void vxmlCopyConvProps(scVxmlFile* file, int32_t mask) {
    if (file != nullptr) file->setConvProps(mask);
}

void vxmlSetCallbackWindow(scVxmlFile* file, scMessageTarget** window) {
    if (file != nullptr) file->setCallbackWindow(window);
}

scVxmlFile* vxmlSetSignal(scVxmlFile* file, int* signal) {
    if (file != nullptr) file->signal = signal;
    return file;
}

int vxmlGetVersion(scVxmlFile* file, const char* path) {
    if (file == nullptr) return scorecore::kOk;
    if (path == nullptr) return scorecore::kErrCannotOpen;
    return guarded(scorecore::kErrOutOfMemory, [&] { return file->getVersion(path); });
}

int vxmlGetProps(scVxmlFile* file, const char* path) {
    if (file == nullptr) return scorecore::kOk;
    if (path == nullptr) return scorecore::kErrCannotOpen;
    return guarded(scorecore::kErrOutOfMemory, [&] { return file->getProps(path); });
}

namespace {

int32_t copyField(scVxmlFile* file, const std::string scorecore::CVxmlFile::*field, char* buffer, size_t size) {
    if (file == nullptr) return emptyBuffer(buffer, size);
    return copyToBuffer(file->*field, buffer, size);
}

}  // namespace

int32_t vxmlGetDescAuthor(scVxmlFile* file, char* buffer, size_t size) {
    return copyField(file, &scorecore::CVxmlFile::author, buffer, size);
}

int32_t vxmlGetDescKeywords(scVxmlFile* file, char* buffer, size_t size) {
    return copyField(file, &scorecore::CVxmlFile::keywords, buffer, size);
}

int32_t vxmlGetDescComment(scVxmlFile* file, char* buffer, size_t size) {
    return copyField(file, &scorecore::CVxmlFile::comment, buffer, size);
}

int32_t vxmlGetDescFdate(scVxmlFile* file, char* buffer, size_t size) {
    return copyField(file, &scorecore::CVxmlFile::fileDate, buffer, size);
}

// ---- settings, texts and the reading of a loaded document ----------------------------

int vxmlGetPlaymode(scVxmlFile* file) { return file != nullptr ? file->playmode : 0; }

int vxmlSetPlaymode(scVxmlFile* file, int mode) {
    if (file == nullptr) return 0;
    file->playmode = mode;
    return mode;
}

scMessageTarget** vxmlGetCallbackWindow(scVxmlFile* file) { return file != nullptr ? file->progressWindow : nullptr; }

bool vxmlTvrxfnameIsEmpty(const char* text) { return text == nullptr || text[0] == '\0'; }

const char* vxmlGetTvrxfname(const char* text) { return text; }

const char* vxmlGetDescAuthorP(scVxmlFile* file) { return file != nullptr ? file->author.c_str() : nullptr; }
const char* vxmlGetDescKeywordsP(scVxmlFile* file) { return file != nullptr ? file->keywords.c_str() : nullptr; }
const char* vxmlGetDescCommentP(scVxmlFile* file) { return file != nullptr ? file->comment.c_str() : nullptr; }
const char* vxmlGetDescFdateP(scVxmlFile* file) { return file != nullptr ? file->fileDate.c_str() : nullptr; }
const char* vxmlGetDescEncengineP(scVxmlFile* file) { return file != nullptr ? file->engine.c_str() : nullptr; }

int32_t vxmlGetDescAuthorLength(scVxmlFile* file) {
    return file != nullptr ? static_cast<int32_t>(file->author.size()) : 0;
}
int32_t vxmlGetDescKeywordsLength(scVxmlFile* file) {
    return file != nullptr ? static_cast<int32_t>(file->keywords.size()) : 0;
}
int32_t vxmlGetDescCommentLength(scVxmlFile* file) {
    return file != nullptr ? static_cast<int32_t>(file->comment.size()) : 0;
}
int32_t vxmlGetDescFdateLength(scVxmlFile* file) {
    return file != nullptr ? static_cast<int32_t>(file->fileDate.size()) : 0;
}

uint64_t vxmlGetModDate(scVxmlFile* file) { return file != nullptr ? static_cast<uint64_t>(file->modTime) : 0; }

int vxmlSetupScore(scVxmlFile* file) {
    if (file == nullptr) return scorecore::kOk;
    return guarded(scorecore::kErrOutOfMemory, [&] { return file->setupScore(); });
}

int vxmlGetLayoutStaffNum(scVxmlFile* file, int* count) {
    if (file == nullptr) return scorecore::kOk;
    return guarded(scorecore::kErrOutOfMemory, [&] { return file->getLayoutStaffNum(count, nullptr); });
}

int vxmlGetVoiceNumOfStaff(scVxmlFile* file, int layout, int* count) {
    if (file == nullptr) return scorecore::kOk;
    return file->getVoiceNumOfStaff(layout, count);
}

namespace {

// The staff layout of an index the file has; null otherwise.
scorecore::CVxmlStaffLayout* layoutAt(scVxmlFile* file, int index) {
    if (file == nullptr || index < 0 || index >= static_cast<int>(file->staffLayouts.size())) return nullptr;
    return &file->staffLayouts[static_cast<std::size_t>(index)];
}

}  // namespace

const char* vxmlGetStaffNameA(scVxmlFile* file, int layout) {
    const scorecore::CVxmlStaffLayout* l = layoutAt(file, layout);
    return l != nullptr ? l->instrumentName.c_str() : nullptr;
}

const scWChar* vxmlGetStaffNameW(scVxmlFile* file, int layout) {
    scorecore::CVxmlStaffLayout* l = layoutAt(file, layout);
    if (l == nullptr) return nullptr;
    return guarded<const scWChar*>(nullptr, [&] {
        if (l->instrumentNameW.empty()) {
            const std::string& source = !l->instrumentName.empty() ? l->instrumentName
                                        : !l->description.empty()  ? l->description
                                                                   : l->pairName;
            l->instrumentNameW = platform::utf8ToUtf16(source);
        }
        return l->instrumentNameW.c_str();
    });
}

uint8_t vxmlGetSrcVolume(scVxmlFile* file, int layout) {
    const scorecore::CVxmlStaffLayout* l = layoutAt(file, layout);
    return l != nullptr ? l->volume : 0;
}

int32_t vxmlGetStaffTranspose(scVxmlFile* file, int layout) {
    const scorecore::CVxmlStaffLayout* l = layoutAt(file, layout);
    return l != nullptr ? l->transpose : 0;
}

uint8_t vxmlGetPercussionFlag(scVxmlFile* file, int layout) {
    const scorecore::CVxmlStaffLayout* l = layoutAt(file, layout);
    return l != nullptr ? l->percussion : 0;
}

uint8_t vxmlGetMidiInstrument(scVxmlFile* file, int layout) {
    const scorecore::CVxmlStaffLayout* l = layoutAt(file, layout);
    return l != nullptr ? l->program : 0;
}

uint8_t vxmlGetMidiInstrChannel(scVxmlFile* file, int layout) {
    const scorecore::CVxmlStaffLayout* l = layoutAt(file, layout);
    return l != nullptr ? static_cast<uint8_t>(l->preferredChannel) : 0;
}

uint8_t vxmlSetMidiInstrChannel(scVxmlFile* file, int layout, uint8_t channel) {
    scorecore::CVxmlStaffLayout* l = layoutAt(file, layout);
    if (l == nullptr) return 0;
    l->preferredChannel = channel;
    return channel;
}

uint8_t vxmlGetMidiDrummapFrom(scVxmlFile* file, int layout, int entry) {
    const scorecore::CVxmlStaffLayout* l = layoutAt(file, layout);
    if (l == nullptr || entry < 0 || entry >= l->drumMapCount()) return 0;
    return l->drumMap[static_cast<std::size_t>(entry)].sourceKey;
}

uint8_t vxmlGetMidiDrummapTo(scVxmlFile* file, int layout, uint8_t key) {
    const scorecore::CVxmlStaffLayout* l = layoutAt(file, layout);
    if (l == nullptr) return 0;
    for (const scorecore::CDrumMapEntry& e : l->drumMap) {
        if (e.sourceKey == key) return e.targetKey;
    }
    return key;
}

int vxmlGetLayoutPosOfStaff(scVxmlFile* file, const char* description) {
    if (file == nullptr) return -1;
    return file->getLayoutPosOfStaff(scoreconv::exports::textOf(description));
}

int vxmlGetSystemStaffNum(scVxmlFile* file, int system) {
    if (file == nullptr) return -1;
    file->setCurrentSystem(system);
    return file->getSystemStaffCount();
}

int vxmlGetSystemStaffVoiceNum(scVxmlFile* file, int system, int staff) {
    if (file == nullptr) return -1;
    file->setCurrentSystem(system);
    file->setCurrentStaff(staff);
    return file->getStaffVoiceCount();
}

int vxmlGetSystemStaffDescription(scVxmlFile* file, int system, int staff, char** out) {
    if (out != nullptr) *out = nullptr;
    if (file == nullptr) return scorecore::kOk;
    if (out == nullptr) return scorecore::kErrIndex;
    if (system < 0 || system >= file->getSystemCount()) return scorecore::kErrIndex;
    const scorecore::CDomNodeGroup& group = file->systems[static_cast<std::size_t>(system)];
    if (staff < 0 || staff >= group.itemCount()) return scorecore::kErrIndex;
    const xmlNode* node = group.items[static_cast<std::size_t>(staff)].node;
    std::string layout;
    if (const int rc = guarded(scorecore::kErrOutOfMemory,
                               [&] { return scorecore::CVxmlFile::getStaffLayoutAttr(node, layout); });
        rc != scorecore::kOk) {
        return rc;
    }
    // The host frees the copy with free().
    char* copy = static_cast<char*>(std::malloc(layout.size() + 1));
    if (copy == nullptr) return scorecore::kErrOutOfMemory;
    std::memcpy(copy, layout.c_str(), layout.size() + 1);
    *out = copy;
    return scorecore::kOk;
}

int vxmlGetSystemTempo(scVxmlFile* file, int system) { return file != nullptr ? file->getSystemTempo(system) : 0; }

int vxmlGetFirstEinstChord(scVxmlFile* file, int layout, int voice, scScoreEvent* event) {
    if (file == nullptr) return scorecore::kOk;
    if (event == nullptr) return scorecore::kErrNotPresent;
    return guarded(scorecore::kErrOutOfMemory, [&] { return file->getFirstEinstChord(layout, voice, *event); });
}

// ---- the conversion into MusicXML ------------------------------------------------------

int vxmlConvertProc(CThreadProcParams* params) {
    if (params == nullptr || params->file == nullptr || params->vxml == nullptr) return scorecore::kOk;
    int result = scorecore::kErrOutOfMemory;
    const scoreconv::CMxmlFile::BusyScope hold(*params->file);
    if (!hold.held()) {
        result = scorecore::kErrStopped;
    } else {
        scoreconv::exports::guardedVoid([&] {
            scoreconv::CConvertParams block = scoreconv::exports::convertBlock(*params, &result);
            scoreconv::vxmlConvertProc(&block);
            params->staffCount = block.staffCount;
            params->voiceCount = block.voiceCount;
        });
    }
    if (params->result != nullptr) *params->result = result;
    return result;
}

int vxmlConvertFile(scVxmlFile* file, const char* source, const char* target, int* signal) {
    if (file == nullptr) return scorecore::kErrNotPresent;
    if (source == nullptr || target == nullptr) return scorecore::kErrCannotOpen;
    return guarded(scorecore::kErrOutOfMemory,
                   [&] { return scoreconv::vxmlConvertFile(file, source, target, signal); });
}

const void* vxmlGetThread(scVxmlFile* file) { return file != nullptr ? file->thread.load() : nullptr; }

const void* vxmlGetThreadP(scVxmlFile* file) { return file != nullptr ? &file->thread : nullptr; }
