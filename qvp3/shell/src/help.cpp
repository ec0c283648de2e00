#include "qvp3_shell/help.h"

#include <QDesktopServices>

#include "qvp3_shell/app_state.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/message_box.h"
#include "qvp3_ui/string_ids.h"

namespace qvp3 {

namespace {
std::function<bool(const QUrl&)> g_opener;
}

void setHelpOpener(std::function<bool(const QUrl&)> opener) { g_opener = std::move(opener); }

std::string_view appHelpPage(int language) {
    switch (language) {
    case 7: return "handboek_qvp3.html";
    case 6: return "handbuch_qvp3_EN_UK.html";
    case 10: return "handbuch_qvp3_EN_UN.html";
    case 5: return "handbuch_qvp3_EN_US.html";
    default: return "handbuch_qvp3.html";
    }
}

QUrl appHelpUrl(const std::filesystem::path& programFolder, int language, std::string_view topic) {
    const std::filesystem::path page = programFolder / "help" / appHelpPage(language);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(page, ec)) return {};
    QUrl url = QUrl::fromLocalFile(QString::fromStdString(page.string()));
    if (!topic.empty()) url.setFragment(QString::fromUtf8(topic.data(), static_cast<qsizetype>(topic.size())));
    return url;
}

bool appShowHelp(std::string_view topic) {
    if (!g_appState) return false;
    const QUrl url = appHelpUrl(g_appState->programFolder, g_appState->language, topic);
    if (url.isEmpty()) {
        const std::string page(appHelpPage(g_appState->language));
        const qvp3ui::LanguageModule* lang = qvp3ui::language();
        qvp3ui::appWarningBox(0, lang ? lang->format(qvp3ui::kStrHelpNotFound, {page}) : page);
        return false;
    }
    return g_opener ? g_opener(url) : QDesktopServices::openUrl(url);
}

}  // namespace qvp3
