// The update settings dialog (dialog 24): how often to look for an update,
// whether to look right away, whether to keep a backup of the current version
// and whether to bring the previous one back.
#pragma once

#include <QDialog>

class QAbstractButton;
class QCheckBox;
class QRadioButton;

namespace infokit {

struct UpdateSettingsChoice {
    int frequency = 0;  // 0 never .. 4 at every start
    bool checkNow = false;
    bool backup = false;
    bool restore = false;
};

class UpdateSettingsDialog : public QDialog {
public:
    // backupAvailable: a backup of the previous version exists.
    UpdateSettingsDialog(int language, const UpdateSettingsChoice& initial, bool backupAvailable, QWidget* owner);

    UpdateSettingsChoice choice() const;

private:
    void restoreToggled(bool on);

    QRadioButton* frequencies_[5] = {};  // by frequency value
    QCheckBox* checkNow_ = nullptr;
    QCheckBox* backup_ = nullptr;
    QCheckBox* restore_ = nullptr;
};

}  // namespace infokit
