#include "text_format.h"

#include <algorithm>
#include <cstddef>

namespace infokit {
namespace {

struct Spec {
    bool leftAlign = false;
    bool zeroPad = false;
    std::size_t width = 0;
    std::optional<std::size_t> precision;
    char type = 0;
};

std::size_t characterCount(std::string_view utf8) {
    return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// Bytes of the first `count` characters.
std::string_view firstChars(std::string_view utf8, std::size_t count) {
    std::size_t pos = 0;
    for (std::size_t seen = 0; pos < utf8.size(); ++pos) {
        if ((static_cast<unsigned char>(utf8[pos]) & 0xC0) != 0x80 && seen++ == count) break;
    }
    return utf8.substr(0, pos);
}

std::size_t readNumber(std::string_view text, std::size_t& pos) {
    std::size_t value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && value < 10000) {
        value = value * 10 + static_cast<std::size_t>(text[pos++] - '0');
    }
    return value;
}

// Parses the conversion after a '%' at pos; nothing when it is not one we know.
std::optional<Spec> parseSpec(std::string_view text, std::size_t& pos) {
    Spec spec;
    for (; pos < text.size() && (text[pos] == '-' || text[pos] == '0'); ++pos) {
        (text[pos] == '-' ? spec.leftAlign : spec.zeroPad) = true;
    }
    spec.width = readNumber(text, pos);
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        spec.precision = readNumber(text, pos);
    }
    if (pos < text.size() && text[pos] == 'h') ++pos;
    for (int i = 0; i < 2 && pos < text.size() && text[pos] == 'l'; ++i) ++pos;
    if (pos >= text.size()) return std::nullopt;
    spec.type = text[pos++];
    if (std::string_view("sdiuxX").find(spec.type) == std::string_view::npos) return std::nullopt;
    if (spec.width > 1000) return std::nullopt;
    return spec;
}

std::string integerDigits(const Spec& spec, std::int64_t value) {
    const bool negative = value < 0 && spec.type != 'u' && spec.type != 'x' && spec.type != 'X';
    std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    if (spec.type == 'u' || spec.type == 'x' || spec.type == 'X') magnitude &= 0xFFFFFFFFu;
    const unsigned base = (spec.type == 'x' || spec.type == 'X') ? 16 : 10;
    const char* digits = spec.type == 'x' ? "0123456789abcdef" : "0123456789ABCDEF";
    std::string out;
    do {
        out.insert(out.begin(), digits[magnitude % base]);
        magnitude /= base;
    } while (magnitude != 0);
    if (spec.zeroPad && !spec.leftAlign) {
        const std::size_t room = spec.width > (negative ? 1u : 0u) ? spec.width - (negative ? 1u : 0u) : 0;
        if (out.size() < room) out.insert(0, room - out.size(), '0');
    }
    if (negative) out.insert(out.begin(), '-');
    return out;
}

void appendPadded(std::string& out, const Spec& spec, std::string_view text) {
    const std::size_t chars = characterCount(text);
    const std::size_t pad = spec.width > chars ? spec.width - chars : 0;
    if (!spec.leftAlign) out.append(pad, ' ');
    out += text;
    if (spec.leftAlign) out.append(pad, ' ');
}

}  // namespace

std::optional<std::string> formatChecked(std::string_view format, std::initializer_list<FormatArg> args) {
    std::string out;
    auto next = args.begin();
    for (std::size_t pos = 0; pos < format.size();) {
        const char c = format[pos++];
        if (c != '%') {
            out.push_back(c);
            continue;
        }
        if (pos < format.size() && format[pos] == '%') {
            out.push_back('%');
            ++pos;
            continue;
        }
        const std::optional<Spec> spec = parseSpec(format, pos);
        if (!spec || next == args.end()) return std::nullopt;
        const FormatArg& arg = *next++;
        if (spec->type == 's') {
            const auto* text = std::get_if<std::string_view>(&arg);
            if (text == nullptr) return std::nullopt;
            appendPadded(out, *spec, spec->precision ? firstChars(*text, *spec->precision) : *text);
        } else {
            const auto* value = std::get_if<std::int64_t>(&arg);
            if (value == nullptr) return std::nullopt;
            appendPadded(out, *spec, integerDigits(*spec, *value));
        }
    }
    if (next != args.end()) return std::nullopt;
    return out;
}

}  // namespace infokit
