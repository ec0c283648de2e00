// C exports of the TvrXML file: settings, reading a file, and the description
// fields.
#include <cstddef>
#include <string>

#include "exports/exports_support.h"
#include "scoreconv/scoreconv.h"
#include "scorecore/result_codes.h"
#include "scorecore/vxml_file.h"

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
