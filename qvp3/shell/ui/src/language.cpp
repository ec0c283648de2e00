#include "qvp3_ui/language.h"

#include <fstream>
#include <sstream>

namespace qvp3ui {

std::string_view languageFileName(int language) {
    switch (language) {
    case 7: return "str_nl.lang";
    case 6: return "str_gb.lang";
    case 10: return "str_un.lang";
    case 5: return "str_us.lang";
    default: return "str_de.lang";
    }
}

namespace {

std::optional<std::string> readWhole(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return std::move(text).str();
}

}  // namespace

std::optional<LanguageModule> LanguageModule::load(const std::filesystem::path& folder, int language) {
    std::filesystem::path file = folder / languageFileName(language);
    std::optional<std::string> text = readWhole(file);
    if (!text && language != kLanguageGerman) {
        file = folder / languageFileName(kLanguageGerman);
        text = readWhole(file);
    }
    if (!text) return std::nullopt;
    LanguageModule module = fromText(*text);
    module.file_ = file;
    return module;
}

LanguageModule LanguageModule::fromText(std::string_view utf8) {
    LanguageModule module;
    module.texts_ = infokit::StringTable::parse(utf8);
    return module;
}

LanguageModule LanguageModule::testTable() {
    LanguageModule module;
    module.testTable_ = true;
    return module;
}

std::string LanguageModule::string(int id) const {
    if (testTable_) return "S" + std::to_string(id);
    std::optional<std::string_view> text = texts_.find(id);
    return text ? std::string(*text) : std::string();
}

bool LanguageModule::has(int id) const {
    return testTable_ || texts_.find(id).has_value();
}

std::string LanguageModule::format(int id, std::initializer_list<FormatArg> args) const {
    std::string text = string(id);
    if (testTable_) return text;
    std::optional<std::string> filled = infokit::formatChecked(text, args);
    return filled ? *filled : text;
}

std::string LanguageModule::accelerator(int command) const {
    if (testTable_) return {};
    std::optional<std::string_view> text = texts_.find(kAcceleratorBase + command);
    return text ? std::string(*text) : std::string();
}

}  // namespace qvp3ui
