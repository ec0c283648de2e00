// Help: our own HTML pages in the program folder's "help" folder, one page
// per language, opened in the user's browser at a topic's anchor.
#pragma once

#include <QUrl>

#include <filesystem>
#include <functional>
#include <string_view>

namespace qvp3 {

// The page of a language: 7 "handboek_qvp3.html", 6 "handbuch_qvp3_EN_UK.html",
// 10 "handbuch_qvp3_EN_UN.html", 5 "handbuch_qvp3_EN_US.html", any other
// "handbuch_qvp3.html".
std::string_view appHelpPage(int language);
// The address of the help page (or its index without a topic); empty when
// the page is missing.
QUrl appHelpUrl(const std::filesystem::path& programFolder, int language, std::string_view topic);
// Opens the help at the topic (none: the contents); false when the page is
// missing or no browser could be started.
bool appShowHelp(std::string_view topic = {});

// Where help addresses go instead of the browser (tests).
void setHelpOpener(std::function<bool(const QUrl&)> opener);

}  // namespace qvp3
