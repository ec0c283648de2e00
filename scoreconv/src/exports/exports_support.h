// What the C exports share: the guard that keeps exceptions inside the
// library, the bounded text copies, the reading of C texts and of a host's
// parameter block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "musicxml/convert_proc.h"
#include "musicxml/mxml_file.h"
#include "play/play_proc.h"
#include "musicxml/xml_values.h"
#include "scoreconv/scoreconv.h"
#include "scorecore/result_codes.h"

namespace scoreconv::exports {

// File-name fields: 260 bytes with the terminator.
inline constexpr std::size_t kFileNameFieldSize = 260;
// Instrument-id field: 31 bytes with the terminator.
inline constexpr std::size_t kInstrumentIdFieldSize = 31;

// Runs body and hands back its result; any exception gives fallback, so that
// none crosses an export.
template <class R, class F>
R guarded(R fallback, F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return fallback;
    }
}

template <class F>
void guardedVoid(F&& body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

// A C text as a view; null reads as empty.
inline std::string_view textOf(const char* text) { return text != nullptr ? std::string_view(text) : std::string_view(); }

// Copies text into a caller's buffer of size bytes and terminates it.
inline int32_t copyToBuffer(std::string_view text, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) return SCORECONV_E_INVALIDARG;
    const std::size_t n = mx::utf8PrefixLength(text, size - 1);
    text.copy(buffer, n);
    buffer[n] = '\0';
    return n == text.size() ? SCORECONV_S_OK : SCORECONV_E_INSUFFICIENT_BUFFER;
}

// Stores text into a field that holds fieldSize bytes with its terminator; a
// null text leaves the field as it was.
inline int32_t copyToField(const char* text, std::string& field, std::size_t fieldSize) {
    if (text == nullptr) return SCORECONV_E_INVALIDARG;
    const std::string_view source(text);
    const std::size_t n = mx::utf8PrefixLength(source, fieldSize - 1);
    field.assign(source.substr(0, n));
    return n == source.size() ? SCORECONV_S_OK : SCORECONV_E_INSUFFICIENT_BUFFER;
}

// The conversion block for a host's: the same objects and slots, the texts
// copied, the result going to `result`.
inline scoreconv::CConvertParams convertBlock(const ::CThreadProcParams& params, int* result) {
    scoreconv::CConvertParams block;
    block.file = params.file;
    block.vxml = params.vxml;
    block.sourcePath = textOf(params.sourcePath);
    block.targetPath = textOf(params.targetPath);
    block.playTime = params.playTime;
    block.result = result;
    block.closeFlag = params.closeFlag != 0;
    return block;
}

// The play block for a host's: a render writes the file the host's block
// names as its source, the slots are the host's, the result goes to `result`.
inline scoreconv::CPlayParams playBlock(const ::CThreadProcParams& params, int* result) {
    scoreconv::CPlayParams block;
    block.targetPath = textOf(params.sourcePath);
    block.playTime = params.playTime;
    block.state = params.state;
    block.result = result;
    return block;
}

// What a copy into a caller's buffer gives for a null handle: an empty text.
inline int32_t emptyBuffer(char* buffer, std::size_t size) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    return SCORECONV_S_OK;
}

// Index checks of the exports: a staff of the loaded score, and a voice of it
// (the voices that hold events).
inline bool knownStaff(const scMxmlFile& file, int32_t staff) { return staff >= 0 && staff < file.staffCount(); }

inline int32_t voicesOf(const scMxmlFile& file, int32_t staff) {
    if (!knownStaff(file, staff) || static_cast<std::size_t>(staff) >= file.voiceCounts.size()) return 0;
    return file.voiceCounts[static_cast<std::size_t>(staff)];
}

inline bool knownVoice(const scMxmlFile& file, int32_t staff, int32_t voice) {
    return voice >= 0 && voice < voicesOf(file, staff);
}

}  // namespace scoreconv::exports
