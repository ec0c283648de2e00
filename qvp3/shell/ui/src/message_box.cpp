#include "qvp3_ui/message_box.h"

#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include "platform/settings_store.h"
#include "qvp3_project/neighbours.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/string_ids.h"

namespace qvp3ui {

namespace {

const LanguageModule* g_language = nullptr;
std::string g_programTitle;
QPointer<QWidget> g_owner;
BoxResponder g_responder;

// Where the shell remembers switched-off questions.
constexpr std::string_view kDontAskKey = "DontShowMeThisDialogAgain";

QMessageBox::StandardButtons qtButtons(int buttons) {
    switch (buttons) {
    case qvp3::kMbYesNo: return QMessageBox::Yes | QMessageBox::No;
    case qvp3::kMbYesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    default: return QMessageBox::Ok;
    }
}

int windowsAnswer(int qtAnswer) {
    switch (qtAnswer) {
    case QMessageBox::Yes: return qvp3::kIdYes;
    case QMessageBox::No: return qvp3::kIdNo;
    case QMessageBox::Cancel: return qvp3::kIdCancel;
    default: return qvp3::kIdOk;
    }
}

QWidget* boxOwner() {
    if (g_owner) return g_owner;
    return QApplication::activeWindow();
}

QMessageBox::Icon qtIcon(BoxKind kind) {
    switch (kind) {
    case BoxKind::Warning: return QMessageBox::Warning;
    case BoxKind::Question: return QMessageBox::Question;
    default: return QMessageBox::Information;
    }
}

int showBox(const BoxRequest& request, bool* dontAskAgain) {
    if (g_responder) return g_responder(request);
    QMessageBox box(qtIcon(request.kind), QString::fromStdString(g_programTitle),
                    QString::fromStdString(request.text), qtButtons(request.buttons), boxOwner());
    QCheckBox* check = nullptr;
    if (dontAskAgain) {
        check = new QCheckBox(QString::fromStdString(uiString(kStrDontAskAgain)), &box);
        box.setCheckBox(check);
    }
    int answer = windowsAnswer(box.exec());
    if (dontAskAgain) *dontAskAgain = check->isChecked();
    return answer;
}

int show(BoxKind kind, int id, std::string_view text, int buttons) {
    BoxRequest request{kind, id, id != 0 ? uiString(id) : std::string(text), buttons, {}};
    return showBox(request, nullptr);
}

}  // namespace

void setLanguage(const LanguageModule* language) { g_language = language; }
const LanguageModule* language() { return g_language; }
std::string uiString(int id) { return g_language ? g_language->string(id) : std::string(); }
void setProgramTitle(std::string title) { g_programTitle = std::move(title); }
const std::string& programTitle() { return g_programTitle; }
void setBoxOwner(QWidget* owner) { g_owner = owner; }
void setBoxResponder(BoxResponder responder) { g_responder = std::move(responder); }

int appWarningBox(int id, std::string_view text, int buttons) {
    return show(BoxKind::Warning, id, text, buttons);
}

void appInfoBox(int id, std::string_view text) { show(BoxKind::Information, id, text, qvp3::kMbOk); }

int appQuestionBox(int id, std::string_view text, int buttons) {
    return show(BoxKind::Question, id, text, buttons);
}

int appMessageBoxCheck(std::string_view text, int buttons, int defaultAnswer, std::string_view valueName) {
    platform::SettingsStore store;
    std::string keyPath = std::string(platform::kProgramSettingsKey) + "\\" + std::string(kDontAskKey);
    platform::SettingsKey key = store.openKey(platform::Hive::User, keyPath);
    if (key && key.readDword(valueName).value_or(0) == 1) return defaultAnswer;
    BoxRequest request{BoxKind::Question, 0, std::string(text), buttons, std::string(valueName)};
    bool dontAskAgain = false;
    int answer = showBox(request, &dontAskAgain);
    if (dontAskAgain) {
        platform::SettingsKey created = store.createKey(platform::Hive::User, keyPath);
        if (created) created.writeDword(valueName, 1);
    }
    return answer;
}

}  // namespace qvp3ui
