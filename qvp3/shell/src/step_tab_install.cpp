#include "qvp3_shell/step_tab_install.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QPointer>
#include <QTreeView>

#include "platform/midi_devices.h"
#include "qvp3_audio/audio_services.h"
#include "qvp3_audio/output_device_model.h"
#include "qvp3_audio/wave_render_adapter.h"
#include "qvp3_shell/app_state.h"
#include "qvp3_shell/choosers.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_shell/menus.h"
#include "qvp3_shell/step_tab.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_steps/step_pages.h"

namespace qvp3 {

namespace {

constexpr int kStrAddEffectTitle = 311;
constexpr int kStrEffectFilter = 60239;
constexpr int kCmdAddEffectPlugIn = 40078;

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
    // The sample library's instruments into the host, the wait window telling which track.
    int loadSampleLibraryInstrument(ProjectEntry& entry) override {
        CPlugInCatalog* catalog = app_.outputDevices->catalog.get();
        if (catalog == nullptr) return kLoadRefused;
        WaitWindowProgress wait;
        return catalog->LoadInstrument(entry.samplerIndex, &wait);
    }
    bool isSampleLibrarySampler(const ProjectEntry& entry) override {
        const CPlugInCatalog* catalog = app_.outputDevices->catalog.get();
        return catalog != nullptr && audIsQvoPlugInName(catalog->GetInstrumentName(entry.samplerIndex));
    }
    PlaybackControl* playback() override { return app_.playback.get(); }
    CTavtuneLib* engine() override { return app_.tavtune.get(); }
    COutputDeviceModel* outputDevices() override { return app_.outputDevices.get(); }
    CSamplePlayer* samplePlayer() override { return app_.samplePlayer.get(); }
    bool loadSampleLibraryInstruments() override { return app_.loadQvoInstruments; }
    std::optional<std::filesystem::path> chooseEffectFile() override {
        FileDialogRequest request;
        request.title = app_.stringModule->string(kStrAddEffectTitle);
        request.filter = app_.stringModule->string(kStrEffectFilter);
        request.proposedName = "*.so";
        request.defaultExtension = "so";
        request.initialFolder = std::filesystem::current_path();
        request.purpose = kCmdAddEffectPlugIn;
        const std::vector<std::filesystem::path> chosen = appFileDialog(&window_, request);
        if (chosen.empty()) return std::nullopt;
        return chosen.front();
    }

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
