// Helpers of the C exports: no exception crosses an export, texts are copied
// bounded into the caller's buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <string>

#include "discwriter/discwriter.h"
#include "library_state.h"

namespace discwriter {

// Runs f; a failed allocation gives E_OUTOFMEMORY, any other exception E_FAIL.
template <class F>
std::int32_t guarded(F&& f) noexcept {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return DISCWRITER_E_OUTOFMEMORY;
    } catch (...) {
        return DISCWRITER_E_FAIL;
    }
}

// Copies UTF-8 text as UTF-16 into `chars` characters, always terminated, never
// splitting a surrogate pair: S_OK, or E_INSUFFICIENT_BUFFER when cut.
std::int32_t copyWide(const std::string& text, dwWChar* out, std::size_t chars);
// Copies UTF-8 text into `bytes` bytes, always terminated, never splitting a
// character; returns the bytes written with the terminator.
std::int32_t copyNarrow(const std::string& text, char* out, std::size_t bytes);
// A caller's UTF-16 text of at most maxChars characters (nothing when longer or null).
std::optional<std::string> wideText(const dwWChar* text, std::size_t maxChars);
// A caller's UTF-8 text of at most maxBytes bytes (nothing when longer or null).
std::optional<std::string> narrowText(const char* text, std::size_t maxBytes);

// A client name: the caller's text cut to DISCWRITER_NAME_CHARS characters (empty for null).
std::string clientName(const char* text);

// The open drive's recorder, or null.
inline Recorder* openRecorder() { return state().current.get(); }

}  // namespace discwriter
