// Texts across the exports: in from UTF-16 or UTF-8, out into the caller's
// fixed-size buffers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "infokit/infokit.h"
#include "platform/text.h"

namespace infokit::exports {

// Longest text taken from a caller; a longer one is cut, never read past.
inline constexpr std::size_t kMaxInput = 1 << 16;

inline std::optional<std::string> in(const ikWChar* text) {
    if (text == nullptr) return std::nullopt;
    std::size_t n = 0;
    while (n < kMaxInput && text[n] != 0) ++n;
    return platform::utf16ToUtf8(std::u16string_view(text, n));
}

inline std::optional<std::string> in(const char* text) {
    if (text == nullptr) return std::nullopt;
    return std::string(text, ::strnlen(text, kMaxInput));
}

// Copies into a buffer of `size` UTF-16 units, cut before a split surrogate pair.
inline bool out(std::string_view utf8, ikWChar* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) return false;
    std::u16string wide = platform::utf8ToUtf16(utf8);
    std::size_t n = std::min(wide.size(), size - 1);
    if (n > 0 && n < wide.size() && wide[n - 1] >= 0xD800 && wide[n - 1] < 0xDC00) --n;
    std::copy_n(wide.data(), n, buffer);
    buffer[n] = 0;
    return true;
}

// Copies into a buffer of `size` bytes, cut at a character boundary.
inline bool out(std::string_view utf8, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) return false;
    std::size_t n = std::min(utf8.size(), size - 1);
    while (n > 0 && n < utf8.size() && (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80) --n;
    std::memcpy(buffer, utf8.data(), n);
    buffer[n] = 0;
    return true;
}

}  // namespace infokit::exports
