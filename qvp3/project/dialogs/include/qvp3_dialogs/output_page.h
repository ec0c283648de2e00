// The audio-output page of the settings dialog: which PCM devices and JACK
// servers the program may play through, and the JACK server's settings.
// The choice is stored only by the dialog's OK (apply()).
#pragma once

#include <QWidget>

class QListView;
class QPushButton;
class QStandardItemModel;

namespace qvp3 {

struct SettingsContext;

class OutputPage : public QWidget {
    Q_OBJECT
public:
    OutputPage(SettingsContext& context, QWidget* parent = nullptr);

    bool changed() const { return changed_; }
    // The enabled flags from the right-hand list, saved; only when changed.
    void apply();

private:
    void buildForm();
    void move(bool toEnabled);
    void updateButtons();
    bool isServer(const QModelIndex& index) const;
    void onServerSettings();

    SettingsContext& context_;
    bool changed_ = false;
    QListView* disabled_ = nullptr;
    QListView* enabled_ = nullptr;
    QStandardItemModel* disabledModel_ = nullptr;
    QStandardItemModel* enabledModel_ = nullptr;
    QPushButton* toEnabled_ = nullptr;
    QPushButton* toDisabled_ = nullptr;
    QPushButton* server_ = nullptr;
};

}  // namespace qvp3
