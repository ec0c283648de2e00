// The wait window (resource 288): an icon, a text that its owner shows when
// it has one, and a progress bar. The shell's wait functions (ui_utils.h)
// and the audio engine's message-driven wait window use this one window.
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;

namespace qvp3ui {

// Ids of the window and its controls.
inline constexpr int kWaitDialogId = 288;
inline constexpr int kWaitTextId = 284;
inline constexpr int kWaitIconId = 285;
inline constexpr int kWaitProgressId = 286;

class WaitDialog : public QDialog {
public:
    // Modeless; the text (language string 141) stays hidden until shown.
    explicit WaitDialog(QWidget* parent = nullptr);
    QLabel* textLabel() const { return text_; }
    QProgressBar* progressBar() const { return progress_; }

protected:
    QLabel* text_ = nullptr;
    QProgressBar* progress_ = nullptr;
};

}  // namespace qvp3ui
