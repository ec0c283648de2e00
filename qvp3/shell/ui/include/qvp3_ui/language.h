// The language module: every text the program shows, by number, from the
// table "str_XX.lang" in the program folder that the language code chooses
// (German when the chosen one is missing). A table is UTF-8, one
// "number<TAB>text" a line, "\n" for a line break.
//
// Besides the numbered strings the table carries the menus and accelerators,
// in number ranges of their own so that they never meet a string number:
// the menu text of command C is kMenuTextBase + C, the key of command C is
// kAcceleratorBase + C (Qt's portable key text, e.g. "Ctrl+S"), and the
// title of main-menu submenu i is kSubmenuTitleBase + i.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "string_table.h"  // the info kit's table parser and checked formatting

namespace qvp3ui {

inline constexpr int kMenuTextBase = 200000;
inline constexpr int kAcceleratorBase = 210000;
inline constexpr int kSubmenuTitleBase = 220000;

// The default language and the one every other falls back to.
inline constexpr int kLanguageGerman = 1;

// The table's file name of a language code: 7 "str_nl.lang", 6 "str_gb.lang",
// 10 "str_un.lang", 5 "str_us.lang", any other "str_de.lang".
std::string_view languageFileName(int language);

using FormatArg = infokit::FormatArg;

class LanguageModule {
public:
    LanguageModule() = default;

    // Loads the table of `language` from folder, else the German one. Nothing
    // when neither can be read.
    static std::optional<LanguageModule> load(const std::filesystem::path& folder, int language);
    // Parses a table's text (never fails; malformed lines are skipped).
    static LanguageModule fromText(std::string_view utf8);
    // The test table: string N reads "S<N>" for every N (menus included);
    // accelerators are empty.
    static LanguageModule testTable();

    // The text of string id; empty when the table lacks it.
    std::string string(int id) const;
    bool has(int id) const;
    // The string used as a printf format with these arguments. When its
    // conversions do not fit the arguments, the text is given back unfilled
    // (a table is data: a wrong "%" is never handed to printf).
    std::string format(int id, std::initializer_list<FormatArg> args) const;
    // The accelerator text of a command; empty when it has none.
    std::string accelerator(int command) const;
    // The file the table came from (empty for built tables).
    const std::filesystem::path& file() const { return file_; }
    bool isTestTable() const { return testTable_; }

private:
    infokit::StringTable texts_;
    std::filesystem::path file_;
    bool testTable_ = false;
};

}  // namespace qvp3ui
