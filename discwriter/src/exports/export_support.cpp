#include "exports/export_support.h"

#include <cstring>

#include "platform/text.h"

namespace discwriter {

std::int32_t copyWide(const std::string& text, dwWChar* out, std::size_t chars) {
    if (out == nullptr || chars == 0) return DISCWRITER_E_INVALIDARG;
    const std::u16string wide = platform::utf8ToUtf16(text);
    std::size_t n = std::min(wide.size(), chars - 1);
    if (n < wide.size() && n > 0 && wide[n - 1] >= 0xD800 && wide[n - 1] < 0xDC00) --n;
    std::memcpy(out, wide.data(), n * sizeof(dwWChar));
    out[n] = 0;
    return n == wide.size() ? DISCWRITER_S_OK : DISCWRITER_E_INSUFFICIENT_BUFFER;
}

std::int32_t copyNarrow(const std::string& text, char* out, std::size_t bytes) {
    if (out == nullptr || bytes == 0) return 0;
    std::size_t n = std::min(text.size(), bytes - 1);
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return static_cast<std::int32_t>(n + 1);
}

std::optional<std::string> wideText(const dwWChar* text, std::size_t maxChars) {
    if (text == nullptr) return std::nullopt;
    std::size_t n = 0;
    while (text[n] != 0) {
        if (++n > maxChars) return std::nullopt;
    }
    return platform::utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), n));
}

std::string clientName(const char* text) {
    if (text == nullptr) return std::string();
    const std::string bytes(text, strnlen(text, 4 * DISCWRITER_NAME_CHARS));
    return platform::firstCharacters(bytes, DISCWRITER_NAME_CHARS);
}

std::optional<std::string> narrowText(const char* text, std::size_t maxBytes) {
    if (text == nullptr) return std::nullopt;
    const std::size_t n = strnlen(text, maxBytes + 1);
    if (n > maxBytes) return std::nullopt;
    return std::string(text, n);
}

}  // namespace discwriter
