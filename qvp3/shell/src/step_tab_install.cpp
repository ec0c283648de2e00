#include "qvp3_shell/step_tab_install.h"

#include "qvp3_audio/output_device_model.h"
#include "qvp3_audio/wave_render_adapter.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QPointer>
#include <QTreeView>

#include "platform/midi_devices.h"
#include "qvp3_audio/output_device_model.h"
#include "qvp3_audio/wave_render_adapter.h"
#include "qvp3_shell/app_state.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_shell/menus.h"
#include "qvp3_shell/step_tab.h"
#include "qvp3_steps/step_pages.h"

namespace qvp3 {

namespace {

// What the pages ask of the program, answered by the application record and
// its main window.
class AppStepPageHost : public StepPageHost {
public:
    AppStepPageHost(AppState& app, MainWindow& window) : app_(app), window_(window) {}

    Project& project() override { return *app_.project; }
    ProfileContext& profileContext() override { return *app_.profiles; }
    void enableFileLists(bool enable) override { window_.fileList()->setEnabled(enable); }
    // The window works out every command's state in one place.
    void enableEntryCommands(bool) override { window_.updateCommands(); }
    void enableProjectCommands(bool) override { window_.updateCommands(); }
    void layoutProfileBar(StepPage&, int mode) override {
        window_.profileList()->setEnabled(mode == kProfileBarEnabled);
    }
    void resetPlayPosition() override { window_.updateTransport(); }
    void refreshFileList() override { window_.listHost().refreshFileList(); }
    void setFileListSingleSelection(bool single) override {
        window_.fileList()->setSelectionMode(single ? QAbstractItemView::SingleSelection
                                                    : QAbstractItemView::ExtendedSelection);
    }
    void sendCommand(int command) override { window_.runCommand(command); }
    void refreshCommands() override { window_.updateCommands(); }
    void flipToggleMenuCheck() override {
        if (QAction* toggle = window_.action(kCmdToggle)) toggle->setChecked(!toggle->isChecked());
    }
    // The built-in synthesizer: the output every machine has.
    std::unique_ptr<platform::MidiOutDevice> openPreviewOutput() override {
        platform::MidiOutOpenResult opened = platform::openMidiOutNamed("synth");
        return std::move(opened.device);
    }
    void stopPlayback(ProjectEntry& entry) override { app_.playback->plyStop(entry); }
    PlayTimeProgressView* playTimeProgress() override { return nullptr; }
    bool stepWorkerDone(StepPage&) override { return true; }
    std::optional<MidiStepSetup> midiStepSetup() override {
        MidiStepSetup setup;
        setup.project = app_.project.get();
        setup.engine = app_.tavtune.get();
        setup.playback = app_.playback.get();
        setup.mainWindow = app_.mainTarget;
        setup.programFolder = app_.programFolder;
        return setup;
    }
    // The software synthesizer renders, and the sample player for entries
    // whose sound is an instrument of the catalogue.
    std::optional<WaveStepSetup> waveStepSetup() override {
        WaveStepSetup setup;
        setup.project = app_.project.get();
        setup.synthesizer = &synthesizer_;
        if (app_.samplePlayer && app_.outputDevices->catalog) {
            if (!player_) player_.emplace(*app_.samplePlayer, *app_.outputDevices->catalog);
            setup.plugIn = &*player_;
        }
        setup.normalizer = cnvProjectWaveNormalizer();
        return setup;
    }
    std::optional<ExportStepSetup> exportStepSetup() override {
        ExportStepSetup setup;
        setup.project = app_.project.get();
        setup.discWriter = app_.discwriter.get();
        setup.clientName = app_.programTitle;
        return setup;
    }
    int loadSampleLibraryInstrument(ProjectEntry&) override { return 0; }
    bool isSampleLibrarySampler(const ProjectEntry&) override { return false; }
    PlaybackControl* playback() override { return app_.playback.get(); }
    CTavtuneLib* engine() override { return app_.tavtune.get(); }

private:
    AppState& app_;
    MainWindow& window_;
    SoftSynthWaveRenderer synthesizer_{app_.timidity};
    std::optional<SamplePlayerWaveRenderer> player_;
};

}  // namespace

std::unique_ptr<StepPageServices> appMakeStepPageServices() { return std::make_unique<StepPages>(); }

StepTab& appInstallStepTab(MainWindow& window) {
    AppState& app = window.app();
    auto tab = std::make_unique<StepTab>(*window.stepTab(), *app.project);
    StepTab& result = *tab;
    tab->setPageHost(std::make_unique<AppStepPageHost>(app, window));
    tab->onStepMenuItems = [&window](int step) {
        appUpdateToggleMenuItem(window, step);
        appUpdateRunMenuItem(window, step);
    };
    tab->createPages(*app.stringModule);
    // The window (and its step tab) may go before the application record.
    app.stopStepWorkers = [tab = QPointer<StepTab>(&result)] {
        if (tab) tab->stopAllWorkers();
    };
    window.setStepHost(std::move(tab));
    return result;
}

}  // namespace qvp3
