#include "update_settings_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "qt_text.h"
#include "string_table.h"

namespace infokit {

UpdateSettingsDialog::UpdateSettingsDialog(int language, const UpdateSettingsChoice& initial, bool backupAvailable,
                                           QWidget* owner)
    : QDialog(owner) {
    setObjectName("24");
    setWindowTitle(tableText(language, txt::kUpdateTitle));
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(tableText(language, txt::kUpdateIntro), this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto* group = new QGroupBox(this);
    auto* groupLayout = new QVBoxLayout(group);
    // Controls 40..44 stand for the frequencies 4 (every start) down to 0 (never).
    for (int i = 0; i < 5; ++i) {
        const int frequency = 4 - i;
        auto* radio = new QRadioButton(tableText(language, txt::kFreqAtStart + i), group);
        radio->setObjectName(QString::number(40 + i));
        radio->setChecked(frequency == initial.frequency);
        frequencies_[frequency] = radio;
        groupLayout->addWidget(radio);
    }
    layout->addWidget(group);
    const std::tuple<QCheckBox**, int, const char*, bool> checks[] = {
        {&checkNow_, txt::kUpdateAfterClose, "46", initial.checkNow},
        {&backup_, txt::kBackupCurrent, "341", initial.backup},
        {&restore_, txt::kReactivatePrevious, "100", false}};
    for (const auto& [box, number, name, on] : checks) {
        *box = new QCheckBox(tableText(language, number), this);
        (*box)->setObjectName(name);
        (*box)->setChecked(on);
        layout->addWidget(*box);
    }
    restore_->setEnabled(backupAvailable);
    connect(restore_, &QCheckBox::toggled, this, [this](bool on) { restoreToggled(on); });
    auto* note = new QLabel(tableText(language, txt::kRightsNote), this);
    note->setObjectName("1050");
    note->setWordWrap(true);
    note->setStyleSheet("color: #1d7a2e;");
    layout->addWidget(note);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tableText(language, txt::kOk));
    buttons->button(QDialogButtonBox::Cancel)->setText(tableText(language, txt::kCancel));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    setMinimumWidth(440);
}

void UpdateSettingsDialog::restoreToggled(bool on) {
    for (QRadioButton* radio : frequencies_) radio->setEnabled(!on);
    backup_->setEnabled(!on);
    checkNow_->setEnabled(!on);
    if (on) checkNow_->setChecked(false);
}

UpdateSettingsChoice UpdateSettingsDialog::choice() const {
    UpdateSettingsChoice c;
    for (int f = 0; f < 5; ++f) {
        if (frequencies_[f]->isChecked()) c.frequency = f;
    }
    c.checkNow = checkNow_->isChecked();
    c.backup = backup_->isChecked();
    c.restore = restore_->isChecked();
    return c;
}

}  // namespace infokit
