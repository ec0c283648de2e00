#include "musicxml/xml_values.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/text.h"
#include "scorecore/xml_dom.h"

namespace scoreconv::mx {

const xmlNode* child(const xmlNode* parent, std::string_view name) {
    for (const xmlNode* c : elements(parent)) {
        if (nameIs(c, name)) return c;
    }
    return nullptr;
}

std::vector<const xmlNode*> childrenNamed(const xmlNode* parent, std::string_view name) {
    std::vector<const xmlNode*> found;
    for (const xmlNode* c : elements(parent)) {
        if (nameIs(c, name)) found.push_back(c);
    }
    return found;
}

bool hasChild(const xmlNode* parent, std::string_view name) { return child(parent, name) != nullptr; }

std::string text(const xmlNode* node) { return node != nullptr ? scorecore::xmldomNodeText(node) : std::string(); }

std::optional<std::string> childText(const xmlNode* parent, std::string_view name) {
    const xmlNode* c = child(parent, name);
    if (c == nullptr) return std::nullopt;
    return text(c);
}

std::optional<std::string> attribute(const xmlNode* element, std::string_view name) {
    if (!isElement(element)) return std::nullopt;
    return scorecore::xmldomAttribute(element, name);
}

bool attributeIs(const xmlNode* element, std::string_view name, std::string_view word) {
    const std::optional<std::string> value = attribute(element, name);
    return value && equalsNoCase(trimmed(*value), word);
}

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::optional<double> parseNumber(std::string_view text) {
    std::string_view digits = trimmed(text);
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty()) return std::nullopt;
    // Most numbers of a score are short integers: read them at once (exactly
    // as from_chars would, below 2^53).
    const bool negative = digits.front() == '-';
    const std::string_view whole = negative ? digits.substr(1) : digits;
    if (!whole.empty() && whole.size() <= 15 &&
        std::all_of(whole.begin(), whole.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        std::int64_t value = 0;
        for (const char c : whole) value = value * 10 + (c - '0');
        const double number = static_cast<double>(value);
        return negative ? -number : number;
    }
    // Only plain decimal forms; from_chars would also take "inf" and "nan".
    for (char c : digits) {
        const bool ok = (c >= '0' && c <= '9') || c == '.' || c == '-' || c == 'e' || c == 'E' || c == '+';
        if (!ok) return std::nullopt;
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<int64_t> parseRounded(std::string_view text, int64_t low, int64_t high) {
    const std::optional<double> value = parseNumber(text);
    if (!value) return std::nullopt;
    const double rounded = std::round(*value);  // halves away from zero
    if (rounded <= static_cast<double>(low)) return low;
    if (rounded >= static_cast<double>(high)) return high;
    return static_cast<int64_t>(rounded);
}

std::optional<double> childNumber(const xmlNode* parent, std::string_view name) {
    const xmlNode* c = child(parent, name);
    if (c == nullptr) return std::nullopt;
    return parseNumber(text(c));
}

std::optional<int64_t> childRounded(const xmlNode* parent, std::string_view name, int64_t low, int64_t high) {
    const xmlNode* c = child(parent, name);
    if (c == nullptr) return std::nullopt;
    return parseRounded(text(c), low, high);
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string lowered(std::string_view text) { return platform::toLowerAscii(text); }

std::size_t utf8PrefixLength(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text.size();
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0u) == 0x80u) --end;
    return end;
}

std::string cutUtf8(std::string_view text, std::size_t maxBytes) {
    return std::string(text.substr(0, utf8PrefixLength(text, maxBytes)));
}

}  // namespace scoreconv::mx
