#include "qvp3_shell/menus.h"

#include <QAction>
#include <QMenu>

#include <charconv>
#include <cstdio>

#include "qvp3_shell/app_state.h"
#include "qvp3_shell/commands.h"
#include "qvp3_shell/main_window.h"

namespace qvp3 {

namespace {

QAction* findItem(const QMenu& menu, int command) {
    const QString name = QString::number(command);
    for (QAction* a : menu.actions()) {
        if (a->objectName() == name) return a;
    }
    return nullptr;
}

// Removes command and the separator right before it.
void removeWithSeparator(QMenu& menu, int command) {
    QAction* item = findItem(menu, command);
    if (!item) return;
    const QList<QAction*> actions = menu.actions();
    const qsizetype at = actions.indexOf(item);
    menu.removeAction(item);
    if (at > 0 && actions[at - 1]->isSeparator()) {
        menu.removeAction(actions[at - 1]);
        delete actions[at - 1];
    }
}

void putAtEnd(MainWindow& window, Submenu which, int command, int stringId) {
    QMenu* menu = window.submenu(which);
    removeWithSeparator(*menu, command);
    if (stringId == 0) return;
    menu->addSeparator();
    QAction* item = window.action(command);
    item->setText(QString::fromStdString(window.app().stringModule->string(stringId)));
    menu->addAction(item);
}

}  // namespace

bool appMenuHasItem(const QMenu& menu, int command) { return findItem(menu, command) != nullptr; }

void appSetMenuItemText(MainWindow& window, int command) {
    if (QAction* item = window.action(command))
        item->setText(QString::fromStdString(window.app().stringModule->string(command)));
}

void appUpdateToggleMenuItem(MainWindow& window, int step) {
    int text = 0;
    switch (step) {
    case 6: case 11: case 12: text = 421; break;
    case 7: case 8: text = 422; break;
    case 13: text = 46; break;
    default: break;
    }
    putAtEnd(window, Submenu::Playback, cmd::kToggle, text);
}

void appUpdateRunMenuItem(MainWindow& window, int step) {
    putAtEnd(window, Submenu::Project, cmd::kRun, step == 13 ? 47 : 0);
}

int appSelectStep(int from, int to, const std::function<bool(int)>& available, const std::function<void(int)>& select) {
    if (from == to || to > 17 || to < 0) return from;
    int target = to;
    if (to > from) {
        for (int step = from + 1; step <= to; ++step) {
            if (!available(step)) {
                target = step - 1;
                break;
            }
        }
    }
    if (target != from) select(target);
    return target;
}

std::string appFormatPlayTime(std::int64_t ms) {
    if (ms < 0) ms = 0;
    const auto minutes = static_cast<unsigned>((ms / 60000) % 60);
    const auto seconds = static_cast<unsigned>((ms / 1000) % 60);
    const auto millis = static_cast<unsigned>(ms % 1000);
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u:%03u", minutes, seconds, millis);
    return text;
}

std::string appFormatBarBeat(int bar, int beat) { return std::to_string(bar) + " : " + std::to_string(beat); }

namespace {

int parsePart(std::string_view part) {
    if (part == "0") return 0;
    int value = 0;
    auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (ec != std::errc() || value == 0 || end == part.data()) return -1;
    return value;
}

}  // namespace

void appParseIntPair(std::string_view text, int& first, int& second) {
    const std::size_t space = text.find(' ');
    first = parsePart(text.substr(0, space));
    second = space == std::string_view::npos ? -1 : parsePart(text.substr(space + 1));
}

void appCleanFileName(std::string& text) {
    std::erase_if(text, [](char c) { return c == '|' || c == '*' || c == '?' || c == '\\'; });
}

double appBytesToSeconds(std::uint64_t bytes) { return static_cast<double>(bytes) / 176400.0; }

}  // namespace qvp3
