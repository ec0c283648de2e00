// What the step pages ask of the program around them: the open project, the
// main window's lists, commands and profile bar, the transport display, and
// what a step's job needs to run. The shell implements it; tests use a
// recording double. Every call comes on the user-interface thread, except
// stepWorkerDone, which a completion notifier calls on its own thread.
#pragma once

#include <memory>
#include <optional>

#include "platform/midi_out.h"
#include "qvp3_audio/pcm_backend.h"

#include "qvp3_pipeline/export_step.h"
#include "qvp3_pipeline/midi_step.h"
#include "qvp3_pipeline/playback.h"
#include "qvp3_pipeline/wave_step.h"
#include "qvp3_project/profile_context.h"
#include "qvp3_project/project.h"
#include "qvp3_project/step_changes.h"

namespace qvp3 {

class PlaybackControl;
class COutputDeviceModel;
class CSamplePlayer;

// Modes of the profile bar.
inline constexpr int kProfileBarEnabled = 1;
inline constexpr int kProfileBarEmpty = 2;
inline constexpr int kProfileBarDisabled = 5;

class StepPageHost {
public:
    virtual ~StepPageHost() = default;

    virtual Project& project() = 0;
    // The application's profile context (the profile bar's list).
    virtual ProfileContext& profileContext() = 0;

    // The main window's two file lists, and its entry and project commands.
    virtual void enableFileLists(bool enable) = 0;
    virtual void enableEntryCommands(bool enable) = 0;
    virtual void enableProjectCommands(bool enable) = 0;
    // Shows the profile bar in a mode for the page (kProfileBar...).
    virtual void layoutProfileBar(StepPage& page, int mode) = 0;
    // Clears the transport's position display (the current entry changed).
    virtual void resetPlayPosition() = 0;
    // Refreshes the main file list without rebuilding it.
    virtual void refreshFileList() = 0;
    // Single selection in the main file list (every page but WVC).
    virtual void setFileListSingleSelection(bool single) = 0;
    // Sends a command to the main window (40026: close the project's files).
    virtual void sendCommand(int command) = 0;
    // Works out the entry and project commands' states again.
    virtual void refreshCommands() = 0;
    // Flips the check mark of the start/stop menu item (40073).
    virtual void flipToggleMenuCheck() = 0;
    // The MIDI output a preview clicks on (the default output); null when
    // none can be opened.
    virtual std::unique_ptr<platform::MidiOutDevice> openPreviewOutput() = 0;

    // The PCM device the WAV preview plays on, and in deviceName its name;
    // null when there is none.
    virtual std::unique_ptr<PcmBackend> openPreviewAudio(std::string& deviceName) {
        deviceName = "default";
        return audMakeAlsaPcmBackend();
    }
    // Stops the entry that plays (the TMP status check).
    virtual void stopPlayback(ProjectEntry& entry) = 0;
    // Where a recomputation of the playing times shows its progress; null: nowhere.
    virtual PlayTimeProgressView* playTimeProgress() = 0;

    // The end of a step's worker, on the notifier's thread (playing times
    // worked out again without a progress window); false when that failed.
    virtual bool stepWorkerDone(StepPage& page) = 0;

    // What the MDC, WVC and BRN jobs run with; nothing when the program
    // cannot run the step now.
    virtual std::optional<MidiStepSetup> midiStepSetup() = 0;
    virtual std::optional<WaveStepSetup> waveStepSetup() = 0;
    virtual std::optional<ExportStepSetup> exportStepSetup() = 0;
    // PWC's run: loads the current entry's sample-library instrument into
    // the plug-in host; 0 or 2 when that went well.
    virtual int loadSampleLibraryInstrument(ProjectEntry& entry) = 0;
    // Whether the entry's sampler is the sample-library plug-in.
    virtual bool isSampleLibrarySampler(const ProjectEntry& entry) = 0;
    // The transport, which hears a page's changes while an entry plays, and
    // the score engine the tempo pages set tempos through; null where the
    // program has none.
    virtual PlaybackControl* playback() { return nullptr; }
    virtual CTavtuneLib* engine() { return nullptr; }
    // What the sound configuration page chooses from and plays through: the
    // outputs with the instrument catalogue and the sample player; null
    // where the program has none.
    virtual COutputDeviceModel* outputDevices() { return nullptr; }
    virtual CSamplePlayer* samplePlayer() { return nullptr; }
    // The program's setting to load the sample library's instruments when one is chosen.
    virtual bool loadSampleLibraryInstruments() { return false; }
    // The effect plug-in file the user picks to add (string 311 titles the
    // chooser); nothing when cancelled or where there is no chooser.
    virtual std::optional<std::filesystem::path> chooseEffectFile() { return std::nullopt; }
};

}  // namespace qvp3
