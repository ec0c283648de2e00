// Message boxes with texts from the language module: warning, information and
// question, captioned with the program title, owned by the main window (or
// the active window when there is none). The buttons and answers are the
// Windows values the rest of the program uses (qvp3_project/neighbours.h).
#pragma once

#include <functional>
#include <string>
#include <string_view>

class QWidget;

namespace qvp3ui {

class LanguageModule;

// What the boxes need of the program; set by the shell at start-up, by a
// test or a dialog's own test when it runs alone.
void setLanguage(const LanguageModule* language);
const LanguageModule* language();
// The language module's string, or empty without a module.
std::string uiString(int id);
void setProgramTitle(std::string title);
const std::string& programTitle();
void setBoxOwner(QWidget* owner);

enum class BoxKind { Information, Warning, Question };

// A box about to be shown: tests answer it in place of a user.
struct BoxRequest {
    BoxKind kind = BoxKind::Information;
    int stringId = 0;       // 0 for a literal text
    std::string text;       // the text shown
    int buttons = 0;        // kMbOk, kMbYesNo, kMbYesNoCancel
    std::string checkKey;   // appMessageBoxCheck's value name, else empty
};
// With a responder set no box is shown: the responder's answer is the
// result. Give an empty function to show boxes again.
using BoxResponder = std::function<int(const BoxRequest&)>;
void setBoxResponder(BoxResponder responder);

// Text = string id when id is non-zero, else the literal text.
int appWarningBox(int id, std::string_view text = {}, int buttons = 0);
void appInfoBox(int id, std::string_view text = {});
int appQuestionBox(int id, std::string_view text, int buttons);
// A question that the user can switch off for the future: "do not ask
// again" is remembered under valueName in the settings store, and from then
// on the default answer is returned without a box.
int appMessageBoxCheck(std::string_view text, int buttons, int defaultAnswer, std::string_view valueName);

}  // namespace qvp3ui
