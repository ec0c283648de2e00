#include "scorecore/xml_text.h"

#include "platform/text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace scorecore {

namespace {

// The saver's indentation text nodes hold a line feed and at most this many tabs.
constexpr int kMostIndentTabs = 254;

bool xmlAllowedChar(char32_t cp) {
    if (cp < 0x20) return cp == 0x09 || cp == 0x0A || cp == 0x0D;
    if (cp >= 0xD800 && cp <= 0xDFFF) return false;
    return cp != 0xFFFE && cp != 0xFFFF;
}

// Bytes that are written as they stand in an attribute value and in a text:
// printable ASCII without the characters either escapes.
bool plainByte(unsigned char c) {
    return c >= 0x20 && c < 0x80 && c != '<' && c != '>' && c != '&' && c != '"';
}

bool allPlain(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return plainByte(static_cast<unsigned char>(c)); });
}

void appendNumber(std::string& out, unsigned long value, int base) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value, base).ptr;
    for (char* c = digits; c != end; ++c) {
        if (*c >= 'a' && *c <= 'f') *c = static_cast<char>(*c - 'a' + 'A');
    }
    out.append(digits, end);
}

// The saver's escapes of an attribute value (quote, markup characters and the
// white space that a reader would fold) or of a text (markup characters and
// the carriage return, whose reference follows the charset there).
void appendEscaped(std::string& out, std::string_view value, bool attribute, XmlCharset charset) {
    if (allPlain(value)) {
        out.append(value);
        return;
    }
    const std::string safe = xmlSafeText(value);
    for (const char c : safe) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '\r': out += attribute || charset == XmlCharset::Latin1 ? "&#13;" : "&#xD;"; break;
            case '"': attribute ? out += "&quot;" : out += c; break;
            case '\n': attribute ? out += "&#10;" : out += c; break;
            case '\t': attribute ? out += "&#9;" : out += c; break;
            default: out += c; break;
        }
    }
}

}  // namespace

std::string xmlSafeText(std::string_view text) {
    bool clean = platform::isValidUtf8(text);
    if (clean) {
        for (unsigned char c : text) {
            if (c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) {
                clean = false;
                break;
            }
        }
    }
    if (clean && text.find("\xEF\xBF\xBE") == std::string_view::npos &&
        text.find("\xEF\xBF\xBF") == std::string_view::npos) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < text.size();) {
        const char32_t cp = platform::decodeUtf8(text, pos);
        platform::appendUtf8(out, xmlAllowedChar(cp) ? cp : platform::kReplacementChar);
    }
    return out;
}

bool hasNonAscii(std::string_view text) {
    // Eight bytes at a time: the texts are long and nearly always ASCII.
    constexpr std::uint64_t kHighBits = 0x8080808080808080u;
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, text.data() + i, 8);
        if ((word & kHighBits) != 0) return true;
    }
    for (; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) return true;
    }
    return false;
}

void encodeXmlText(std::string_view utf8, XmlCharset charset, std::string& out) {
    out.reserve(out.size() + utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[pos]);
        if (byte < 0x80) {
            out += static_cast<char>(byte);
            ++pos;
            continue;
        }
        const char32_t cp = platform::decodeUtf8(utf8, pos);
        if (charset == XmlCharset::Latin1 && cp <= 0xFF) {
            out += static_cast<char>(cp);
        } else if (charset == XmlCharset::Latin1) {
            out += "&#";
            appendNumber(out, cp, 10);
            out += ';';
        } else {
            out += "&#x";
            appendNumber(out, cp, 16);
            out += ';';
        }
    }
}

XmlTextOut& XmlTextOut::open(std::string_view name, int depth, bool indent) {
    if (count_ == kMostOpen) throw std::length_error("XmlTextOut: too many elements open");
    endStartTag(Content::Elements);
    open_[count_++] = Open{name, depth, Content::None};
    if (indent) appendIndent(depth);
    out_ += '<';
    out_ += name;
    return *this;
}

XmlTextOut& XmlTextOut::attr(std::string_view name, std::string_view value) {
    out_ += ' ';
    out_ += name;
    out_ += "=\"";
    appendEscaped(out_, value, true, charset_);
    out_ += '"';
    return *this;
}

XmlTextOut& XmlTextOut::attr(std::string_view name, long long value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return attr(name, std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

XmlTextOut& XmlTextOut::text(std::string_view value) {
    if (value.empty()) return *this;
    endStartTag(Content::Text);
    appendEscaped(out_, value, false, charset_);
    return *this;
}

// The first content of the innermost element ends its start tag.
void XmlTextOut::endStartTag(Content content) {
    if (count_ == 0) return;
    Open& parent = open_[count_ - 1];
    if (parent.content == Content::None) out_ += '>';
    if (parent.content != Content::Elements) parent.content = content;
}

void XmlTextOut::close() {
    if (count_ == 0) return;
    const Open element = open_[--count_];
    if (element.content == Content::None) {
        out_ += "/>";
        return;
    }
    if (element.content == Content::Elements) appendIndent(element.depth);
    out_ += "</";
    out_ += element.name;
    out_ += '>';
}

void XmlTextOut::appendIndent(int depth) {
    // A line feed and the tabs of the deepest indentation, of which a depth
    // takes its start; tab runs of the common depths come from the first row.
    static const std::array<char, kMostIndentTabs + 1> kIndent = [] {
        std::array<char, kMostIndentTabs + 1> text{};
        text.fill('\t');
        text[0] = '\n';
        return text;
    }();
    out_.append(kIndent.data(), static_cast<std::size_t>(std::clamp(depth, 0, kMostIndentTabs)) + 1);
}

void XmlTextOut::closeAll() {
    while (count_ > 0) close();
}

}  // namespace scorecore
