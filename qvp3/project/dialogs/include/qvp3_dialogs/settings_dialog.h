// The program's settings dialog: a general page (source files, start
// behaviour, sample-library instruments, MIDI editor), the plug-in page and
// the audio-output page. Nothing is stored before OK, which applies the
// three pages in one fixed order; Cancel leaves the program's fields, the
// plug-in catalogue and the settings store as they were.
#pragma once

#include <QDialog>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/settings_store.h"
#include "qvp3_audio/output_device_model.h"
#include "qvp3_audio/plugin_probe.h"

class QCheckBox;
class QComboBox;
class QRadioButton;
class QTabWidget;

namespace qvp3 {

class PlugInPage;
class OutputPage;

// MIDI-editor kinds: none, the older sequencer in its two versions, a program the user chose.
inline constexpr int kMidiEditorNone = 0;
inline constexpr int kMidiEditorRondalo3 = 1;
inline constexpr int kMidiEditorRondalo4 = 2;
inline constexpr int kMidiEditorProgram = 3;

// The program's fields the general page edits (the AppState fields of the same names).
struct GeneralSettings {
    bool copySourceFiles = true;
    bool overwriteSourceFiles = true;
    int howToStart = 1;
    bool loadQvoInstruments = false;
    std::string midiEditorPath;
    int midiEditorKind = kMidiEditorNone;
    std::string midiEditorWindowClass;
    bool operator==(const GeneralSettings&) const = default;
};

struct SettingsContext {
    GeneralSettings& settings;
    platform::SettingsStore& store;
    COutputDeviceModel& outputs;  // with the plug-in catalogue it owns
    bool projectOpen = false;
    // Finds the older sequencer of settings' kind (1 or 2): its path and
    // window class; on failure the MIDI-editor fields are cleared.
    std::function<bool(GeneralSettings&)> findRondaloInstall{};
    // The sample player lets go of its current instrument before plug-ins reload.
    std::function<void()> releaseSampler{};
    // After plug-ins reloaded: the sound-configuration page refills its instrument list.
    std::function<void()> plugInsReloaded{};
    // The probing helper and its time limit for the plug-in scan.
    std::filesystem::path probeHelper = audProbeHelperPath();
    std::chrono::milliseconds probeTimeout = kVstProbeTimeout;
};

// Result of the dialog: 0 Cancel, 1 OK, 2 OK with the sample-library
// instruments switched on (the caller loads the current entry's instrument).
inline constexpr int kSettingsLoadQvo = 2;

class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit SettingsDialog(SettingsContext context, QWidget* parent = nullptr);
    ~SettingsDialog() override;

    void accept() override;
    void reject() override;
    QTabWidget* tabs() const { return tabs_; }
    PlugInPage* plugInPage() const { return plugInPage_; }
    OutputPage* outputPage() const { return outputPage_; }

private:
    QWidget* buildGeneralPage();
    void fillMidiEditorCombo();
    void onMidiEditorChosen(int index);
    // The general page's values into settings, with the MIDI editor's checks;
    // false (with the message shown) when the choice is refused.
    bool readGeneralPage(GeneralSettings& settings);
    void applyCatalogue();
    void showHelp();

    SettingsContext context_;
    GeneralSettings editor_;  // the MIDI-editor choice while the dialog is open
    QTabWidget* tabs_ = nullptr;
    QCheckBox* copy_ = nullptr;
    QCheckBox* overwrite_ = nullptr;
    QRadioButton* startWelcome_ = nullptr;
    QRadioButton* startLast_ = nullptr;
    QRadioButton* startEmpty_ = nullptr;
    QCheckBox* loadQvo_ = nullptr;
    QComboBox* midiEditor_ = nullptr;
    PlugInPage* plugInPage_ = nullptr;
    OutputPage* outputPage_ = nullptr;
};

// Runs the dialog modally; 0, 1 or kSettingsLoadQvo.
int prjSettingsDialog(QWidget* parent, SettingsContext context);

}  // namespace qvp3
