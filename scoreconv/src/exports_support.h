// What the C exports share: the guard that keeps exceptions inside the
// library, the bounded text copies, and the reading of C texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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

// The longest start of text of at most maxBytes bytes that does not split a
// UTF-8 sequence.
inline std::size_t utf8PrefixLength(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text.size();
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0u) == 0x80u) --end;
    return end;
}

// Copies text into a caller's buffer of size bytes and terminates it.
inline int32_t copyToBuffer(std::string_view text, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) return SCORECONV_E_INVALIDARG;
    const std::size_t n = utf8PrefixLength(text, size - 1);
    text.copy(buffer, n);
    buffer[n] = '\0';
    return n == text.size() ? SCORECONV_S_OK : SCORECONV_E_INSUFFICIENT_BUFFER;
}

// Stores text into a field that holds fieldSize bytes with its terminator; a
// null text leaves the field as it was.
inline int32_t copyToField(const char* text, std::string& field, std::size_t fieldSize) {
    if (text == nullptr) return SCORECONV_E_INVALIDARG;
    const std::string_view source(text);
    const std::size_t n = utf8PrefixLength(source, fieldSize - 1);
    field.assign(source.substr(0, n));
    return n == source.size() ? SCORECONV_S_OK : SCORECONV_E_INSUFFICIENT_BUFFER;
}

// What a copy into a caller's buffer gives for a null handle: an empty text.
inline int32_t emptyBuffer(char* buffer, std::size_t size) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    return SCORECONV_S_OK;
}

}  // namespace scoreconv::exports
