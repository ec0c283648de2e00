#include "string_table.h"

#include <array>
#include <charconv>

#include "infokit_de_lang.h"
#include "infokit_en_lang.h"

namespace infokit {
namespace {

constexpr int kEnglishBlock = 1000;

constexpr std::array<LanguageInfo, 12> kLanguages{{
    {0, 1000, ""},
    {1, 6000, "DE"},
    {3, 4000, "FN"},
    {4, 3000, "SE"},
    {5, 1000, "US"},
    {6, 2000, "GB"},
    {7, 5000, "NL"},
    {8, 7000, "CZ"},
    {9, 8000, "PL"},
    {10, 1000, "UN"},
    {11, 10000, "FR"},
    {12, 1000, "NO"},
}};

std::string unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == '\\')) {
            out.push_back(text[++i] == 'n' ? '\n' : '\\');
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// The tables of the languages we carry, parsed on first use.
const StringTable* tableOfBlock(int block) {
    static const StringTable english = StringTable::parse(kEnglishTable);
    static const StringTable german = StringTable::parse(kGermanTable);
    if (block == kEnglishBlock) return &english;
    if (block == 6000) return &german;
    return nullptr;
}

}  // namespace

LanguageInfo languageInfo(int code) {
    for (const LanguageInfo& info : kLanguages) {
        if (info.code == code) return info;
    }
    return {code, kEnglishBlock, ""};
}

StringTable StringTable::parse(std::string_view utf8) {
    StringTable table;
    while (!utf8.empty()) {
        const std::size_t end = utf8.find('\n');
        std::string_view line = utf8.substr(0, end);
        utf8 = end == std::string_view::npos ? std::string_view() : utf8.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::size_t tab = line.find('\t');
        if (line.empty() || line.front() == '#' || tab == std::string_view::npos || tab == 0) continue;
        int number = 0;
        const auto [ptr, ec] = std::from_chars(line.data(), line.data() + tab, number);
        if (ec != std::errc() || ptr != line.data() + tab || number <= 0) continue;
        table.texts_.try_emplace(number, unescape(line.substr(tab + 1)));
    }
    return table;
}

std::optional<std::string_view> StringTable::find(int number) const {
    const auto it = texts_.find(number);
    if (it == texts_.end()) return std::nullopt;
    return std::string_view(it->second);
}

std::optional<std::string> loadText(int language, int number) {
    // Our tables keep every text at the same offset in each block; a language
    // whose block is numbered differently would map its numbers here.
    const int block = languageInfo(language).block;
    if (const StringTable* table = tableOfBlock(block)) {
        if (auto found = table->find(number - kEnglishBlock + block)) return std::string(*found);
    }
    if (auto found = tableOfBlock(kEnglishBlock)->find(number)) return std::string(*found);
    return std::nullopt;
}

std::string text(int language, int number) {
    return loadText(language, number).value_or(std::string());
}

std::string formatText(int language, int number, std::initializer_list<FormatArg> args) {
    const std::string own = text(language, number);
    if (auto formatted = formatChecked(own, args)) return *formatted;
    if (auto english = loadText(0, number)) {
        if (auto formatted = formatChecked(*english, args)) return *formatted;
    }
    return own;
}

}  // namespace infokit
