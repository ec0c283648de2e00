#include "platform/text.h"

#include <array>

namespace platform {
namespace {

// Code points of the bytes 0x80..0x9F in Windows-1252; the five undefined
// bytes map to the C1 control of the same value.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

char32_t foldCodePoint(char32_t cp) {
    if (cp >= 'A' && cp <= 'Z') return cp + 32;
    if (cp < 0xC0) return cp;
    if (cp <= 0xDE && cp != 0xD7) return cp + 32;  // Latin-1 capitals
    if (cp == 0x178) return 0xFF;
    if (cp >= 0x100 && cp <= 0x17F) {  // Latin Extended-A: pairs, with a shifted run
        if ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E)) return (cp & 1) ? cp + 1 : cp;
        if (cp == 0x130 || cp == 0x131 || cp == 0x138 || cp == 0x149 || cp == 0x17F) return cp;
        return (cp & 1) ? cp : cp + 1;
    }
    if (cp >= 0x391 && cp <= 0x3AB && cp != 0x3A2) return cp + 32;  // Greek
    if (cp >= 0x410 && cp <= 0x42F) return cp + 32;                  // Cyrillic
    if (cp >= 0x400 && cp <= 0x40F) return cp + 80;
    return cp;
}

}  // namespace

void appendUtf8(std::string& out, char32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacementChar;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

char32_t decodeUtf8(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    std::size_t length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, cp = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, cp = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, cp = lead & 0x07, minimum = 0x10000;
    } else {
        ++pos;
        return kReplacementChar;
    }
    if (text.size() - pos < length) {
        ++pos;
        return kReplacementChar;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[pos + i]);
        if (!isContinuation(c)) {
            ++pos;
            return kReplacementChar;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return kReplacementChar;
    }
    pos += length;
    return cp;
}

std::optional<char32_t> decodeWellFormedUtf8(std::string_view text, std::size_t& pos) {
    const std::size_t start = pos;
    const char32_t cp = decodeUtf8(text, pos);
    // A bad sequence moves on by one byte; U+FFFD written out properly takes three.
    if (cp == kReplacementChar && pos - start != 3) return std::nullopt;
    return cp;
}

std::string firstCharacters(std::string_view text, std::size_t count) {
    std::size_t pos = 0;
    for (std::size_t n = 0; n < count && pos < text.size(); ++n) decodeUtf8(text, pos);
    return std::string(text.substr(0, pos));
}

bool isValidUtf8(std::string_view bytes) {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        if (!decodeWellFormedUtf8(bytes, pos)) return false;
    }
    return true;
}

std::u16string utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const char32_t cp = decodeUtf8(utf8, pos);
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t cp = utf16[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacementChar;
        }
        appendUtf8(out, cp);
    }
    return out;
}

char32_t cp1252ToCodePoint(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F) return kCp1252High[byte - 0x80];
    return byte;
}

int cp1252FromCodePoint(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
    for (std::size_t i = 0; i < kCp1252High.size(); ++i) {
        if (kCp1252High[i] == cp) return static_cast<int>(0x80 + i);
    }
    return -1;
}

std::string cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) appendUtf8(out, cp1252ToCodePoint(static_cast<unsigned char>(c)));
    return out;
}

std::string utf8ToCp1252(std::string_view utf8, bool* lossy) {
    std::string out;
    out.reserve(utf8.size());
    bool lost = false;
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const int byte = cp1252FromCodePoint(decodeUtf8(utf8, pos));
        if (byte < 0) {
            lost = true;
            out.push_back(kCp1252DefaultChar);
        } else {
            out.push_back(static_cast<char>(byte));
        }
    }
    if (lossy) *lossy = lost;
    return out;
}

bool fitsCp1252(std::string_view utf8) {
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        const std::optional<char32_t> cp = decodeWellFormedUtf8(utf8, pos);
        if (!cp || cp1252FromCodePoint(*cp) < 0) return false;
    }
    return true;
}

std::u16string utf16leBytesToString(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                            (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return out;
}

std::string utf16ToLeBytes(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (const char16_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

std::string toLowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return out;
}

std::string foldCase(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto byte = static_cast<unsigned char>(text[pos]);
        if (byte < 0x80) {
            out.push_back(static_cast<char>(byte >= 'A' && byte <= 'Z' ? byte + 32 : byte));
            ++pos;
            continue;
        }
        const std::optional<char32_t> cp = decodeWellFormedUtf8(text, pos);
        if (!cp) {
            out.push_back(static_cast<char>(byte));  // keep undecodable bytes as they are
            continue;
        }
        appendUtf8(out, foldCodePoint(*cp));
    }
    return out;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[j]);
        if (ca < 0x80 && cb < 0x80) {
            if (foldCodePoint(ca) != foldCodePoint(cb)) return false;
            ++i, ++j;
            continue;
        }
        // As in foldCase, a byte that is not UTF-8 matches only the same byte.
        const std::optional<char32_t> pa = decodeWellFormedUtf8(a, i);
        const std::optional<char32_t> pb = decodeWellFormedUtf8(b, j);
        if (pa && pb) {
            if (foldCodePoint(*pa) != foldCodePoint(*pb)) return false;
        } else if (pa || pb || ca != cb) {
            return false;
        }
    }
    return i == a.size() && j == b.size();
}

std::string_view trimBlanks(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

}  // namespace platform
