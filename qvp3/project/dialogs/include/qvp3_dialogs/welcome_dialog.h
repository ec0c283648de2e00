// The dialog that greets the user at start-up (when the start behaviour is
// 1): open a project, begin a new one, or go on, and how the program starts
// next time.
#pragma once

#include <QDialog>
#include <functional>

#include "platform/settings_store.h"

class QCheckBox;

namespace qvp3 {

// Start behaviours ("HowToStart").
inline constexpr int kStartEmpty = 0;
inline constexpr int kStartWelcome = 1;
inline constexpr int kStartLastProject = 2;
// Main-window commands the welcome dialog posts.
inline constexpr int kCmdNewProject = 40021;
inline constexpr int kCmdOpenProject = 40022;

struct WelcomeContext {
    int& howToStart;  // AppState::howToStart
    platform::SettingsStore& settings;
    // Posts a command to the main window (handled once the main loop runs).
    std::function<void(int command)> postCommand;
    // Opens the last project at its saved step.
    std::function<void()> openLastProject;
};

// Writes the start behaviour: the field and "HowToStart" in the user hive.
bool prjWriteHowToStart(WelcomeContext& context, int value);

class WelcomeDialog : public QDialog {
    Q_OBJECT
public:
    explicit WelcomeDialog(WelcomeContext context, QWidget* parent = nullptr);

    void accept() override;
    // The start behaviour the check boxes stand for.
    int startBehaviour() const;

private:
    void buildForm();
    QWidget* buildToolbar();
    void onToolbarButton(int command);

    WelcomeContext context_;
    QCheckBox* openLast_ = nullptr;
    QCheckBox* alwaysShow_ = nullptr;
};

// Runs the dialog modally: 1 after OK or a toolbar button, 0 after Escape.
int prjWelcomeDialog(QWidget* parent, WelcomeContext context);

}  // namespace qvp3
