// Small services of the main window that many parts call: the step-dependent
// menu items, step selection, the play-position texts and a few text helpers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class QMenu;

namespace qvp3 {

class MainWindow;
class Project;

// Whether the menu holds the command (by its action's id).
bool appMenuHasItem(const QMenu& menu, int command);
// The item's text from the language string of the command's id.
void appSetMenuItemText(MainWindow& window, int command);
// Removes the toggle command (40073) and its separator from the playback
// menu; for PRC, TMP, TPP, MET, EIN and MDC puts them back at its end with
// the step's text (string 421, 422 or 46).
void appUpdateToggleMenuItem(MainWindow& window, int step);
// The same for the run command (40077) in the project menu: MDC only, string 47.
void appUpdateRunMenuItem(MainWindow& window, int step);

// Moves from step `from` to `to`: nothing when equal or beyond 0..17; moving
// forward stops before the first step that `available` refuses. The step it
// arrives at is handed to `select`. The step selected, or from.
int appSelectStep(int from, int to, const std::function<bool(int)>& available, const std::function<void(int)>& select);

// "%u:%02u:%03u" of minutes (modulo 60), seconds and milliseconds.
std::string appFormatPlayTime(std::int64_t ms);
// "%i : %i" of bar and beat.
std::string appFormatBarBeat(int bar, int beat);
// Splits at the first space into two integers: "0" gives 0, a part that does
// not read as a non-zero number gives -1.
void appParseIntPair(std::string_view text, int& first, int& second);
// Removes every "|", "*", "?" and "\".
void appCleanFileName(std::string& text);
// Seconds of 44.1 kHz 16-bit stereo sound in a byte count.
double appBytesToSeconds(std::uint64_t bytes);

}  // namespace qvp3
