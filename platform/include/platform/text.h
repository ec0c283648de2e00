// Text encodings: UTF-8 inside the program, UTF-16LE (char16_t) at wide
// interfaces and in UTF-16 files, Windows-1252 where a stored file holds
// "ANSI" text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Code point used for input that cannot be decoded (broken UTF-8, lone surrogates).
inline constexpr char32_t kReplacementChar = 0xFFFD;
// Byte written for a character that Windows-1252 cannot hold, as Windows does.
inline constexpr char kCp1252DefaultChar = '?';

// UTF-8 -> UTF-16. Invalid sequences become U+FFFD, one per bad byte.
std::u16string utf8ToUtf16(std::string_view utf8);
// UTF-16 -> UTF-8. Unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(std::u16string_view utf16);

// Windows-1252 -> UTF-8. The five bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D, which
// the code page leaves undefined, map to the C1 controls of the same value, so
// every byte survives a round trip.
std::string cp1252ToUtf8(std::string_view bytes);
// UTF-8 -> Windows-1252. A character the code page cannot hold becomes '?';
// when `lossy` is given it is set to whether that happened.
std::string utf8ToCp1252(std::string_view utf8, bool* lossy = nullptr);

// Whether every character of the UTF-8 text has a Windows-1252 byte.
bool fitsCp1252(std::string_view utf8);
// Whether the bytes are well-formed UTF-8 (no overlongs, surrogates or values above U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// Single code points, for callers that walk text themselves.
// Returns the Windows-1252 byte for a code point, or -1 when there is none.
int cp1252FromCodePoint(char32_t cp);
char32_t cp1252ToCodePoint(unsigned char byte);
void appendUtf8(std::string& out, char32_t cp);

// Decodes one code point at `pos`, advancing it; U+FFFD for a bad sequence.
char32_t decodeUtf8(std::string_view text, std::size_t& pos);
// The same, but nothing for a bad sequence (whose first byte `pos` then
// passes), so that a U+FFFD written out properly is told from a broken byte.
std::optional<char32_t> decodeWellFormedUtf8(std::string_view text, std::size_t& pos);

// At most `count` characters from the start of UTF-8 text, never splitting one.
std::string firstCharacters(std::string_view text, std::size_t count);

// UTF-16LE byte images (as stored in files), without byte-order mark.
std::u16string utf16leBytesToString(std::string_view bytes);
std::string utf16ToLeBytes(std::u16string_view text);

// Lower-cases the ASCII letters only; every other byte stays as it is.
std::string toLowerAscii(std::string_view text);
// Case-insensitive comparison of UTF-8 text (simple per-code-point folding of
// ASCII, Latin-1, Greek and Cyrillic letters, enough for the names the system stores).
bool equalsNoCase(std::string_view a, std::string_view b);
// A key for maps that must treat names case-insensitively.
std::string foldCase(std::string_view text);

// Trims ASCII blanks (space, tab, CR, LF, VT, FF) at both ends.
std::string_view trimBlanks(std::string_view text);

}  // namespace platform
