// The sample player: plays and renders a project entry through one software
// instrument of the plug-in catalogue and keeps that instrument's setup.
//
// An instrument is of one of two kinds:
// - VST: a plug-in in the render host (vst_render_host.h); playing and
//   rendering go through the host, the sample library with one instance per
//   track (the catalogue's LoadInstrument).
// - the second standard (LV2 here): the instrument runs in the instrument
//   graph (dx_filter_graph.h) and plays an MFX sequence loaded from the
//   entry's MIDI file, one block at a time, into the player's own PCM output
//   or its WAV writer.
//
// The instrument's window (a VST editor, or the pages of an instrument of the
// second standard) belongs to the user interface: the player drives it
// through CSamplePlayerWindow, which the shell implements.
//
// An instrument that fails to be set up leaves the player without an
// instrument and with a message that says why; never half set up.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/message_target.h"
#include "qvp3_audio/dx_filter_graph.h"
#include "qvp3_audio/lv2_instrument.h"
#include "qvp3_audio/mfx_seq.h"
#include "qvp3_audio/plugin_catalog.h"
#include "qvp3_audio/render_worker.h"
#include "qvp3_audio/sampler_setup.h"
#include "qvp3_pipeline/note_tracker.h"
#include "qvp3_pipeline/wave_file.h"

namespace qvp3 {

// Posted to the owner window when an instrument page reports a change.
inline constexpr platform::MessageId WM_SP_PAGE_DIRTY = 0x8064;

// Start's answer when the instrument cannot be selected (besides E_FAIL and E_OUTOFMEMORY).
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);

// SelectInstrument's answers.
inline constexpr int kSelectOk = 0;
inline constexpr int kSelectWindowFailed = 1;
inline constexpr int kSelectGraphFailed = 3;
inline constexpr int kSelectSetupFailed = 4;
inline constexpr int kSelectCreateFailed = 5;
// LoadSamplerSetup: the block was saved for another instrument.
inline constexpr int kSetupOtherInstrument = 4308;

// Language strings the player tells the user.
inline constexpr int kStrSampleLibraryNotLoaded = 116;  // selecting the sample library
inline constexpr int kStrSampleLibraryNotStarted = 117;  // starting it

// The instrument's window, which the shell implements: a VST plug-in's
// editor, or the pages of an instrument of the second standard.
class CSamplePlayerWindow {
public:
    virtual ~CSamplePlayerWindow() = default;
    // Creates the window "SamplePlayer" in the owner with the VST editor of
    // the plug-in in slot. False when it cannot be made.
    virtual bool OpenEditor(CVSTHost& host, int slot) = 0;
    // The same with the pages of an instrument of the second standard.
    virtual bool OpenPages(CDxLv2Filter& instrument) = 0;
    virtual void Close() = 0;
};

// What the player is asked to set up.
struct SampleInstrumentRequest {
    int entry = -1;  // instrument entry of the catalogue; negative: only the window goes
    std::string effect;  // the master effect's name; empty: none
    std::uint16_t channelMask = 0xFFFF;  // the MIDI channels the instrument hears
    SamplerSetup setup;
};

class CSamplePlayer : private CRenderTarget {
public:
    // mainWindow hears WM_PLAYBACK_ENDED; shell tells the user. pcmDevice: the
    // device of the second standard's playback (tests give one over a fake backend).
    CSamplePlayer(CPlugInCatalog& catalog, platform::MessageTarget* mainWindow, ShellServices* shell,
                  std::unique_ptr<CSpecDSoundOutDevice> pcmDevice = nullptr);
    ~CSamplePlayer() override;
    CSamplePlayer(const CSamplePlayer&) = delete;
    CSamplePlayer& operator=(const CSamplePlayer&) = delete;

    // --- choice of instrument and effect
    void SelectEntry(int index);
    void SetEffect(int index);
    // A different non-empty name means the setup is no longer loaded.
    void SetSetupFile(const std::filesystem::path& name);
    // kSelectOk, or one of the failures above with Message() telling why.
    int SelectInstrument(const SampleInstrumentRequest& request, bool showWindow);
    // The owner window (which hears WM_SP_PAGE_DIRTY) and the instrument's
    // window in it, the setup file, then SelectInstrument with the window.
    int OpenSetup(platform::MessageTarget* owner, CSamplePlayerWindow* window, const std::filesystem::path& setupFile,
                  const SampleInstrumentRequest& request);
    // Closes the window and forgets it and the owner: the shell calls it
    // before it destroys them (the player never outlives a window it knows).
    void ForgetWindow();
    // An instrument page's report of its status: a change (bit 0) is posted
    // to the owner window as WM_SP_PAGE_DIRTY.
    void OnStatusChange(std::uint32_t flags);
    void ReleaseInstrument();
    bool HasEditor(int entry) const;

    // --- the setup of the instrument
    // Empty (size 0) on failure.
    SamplerSetup SaveSamplerSetup(int entry);
    // 0 (also for a block without data), kSetupOtherInstrument when saved for
    // another instrument, kSelectSetupFailed when the instrument refuses it.
    int LoadSamplerSetup(const SamplerSetup& block, int entry);

    // --- playing and rendering
    // The MIDI file the next Start plays (the entry's converted file).
    void SetMidiFile(const std::filesystem::path& path) { midiFile_ = path; }
    // Reads the MIDI file into the performance of the selected instrument's
    // kind: 0 or the MIDI readers' codes.
    int LoadEntryMidi(const std::filesystem::path& path);
    HRESULT OpenWaveOut(const std::filesystem::path& path);
    // keep: the file replaces its target (E_FAIL when that fails); else it is discarded.
    HRESULT CloseWaveOut(bool keep = true);
    // Selects the instrument again when it is not ready or another is asked
    // for; E_UNEXPECTED when it cannot be, E_FAIL when it does not start.
    // While a WAV writer is open the performance is rendered by RenderToWave
    // (the second kind) or the render host's RenderToWave (VST).
    HRESULT Start(const SampleInstrumentRequest& request);
    HRESULT Stop();
    // The second standard's render into the WAV writer: 0, kRenderCancelled
    // (state turned kRenderCancelState) or kRenderFailed.
    int RenderToWave(const std::function<void(std::uint32_t)>& progress, const std::atomic<int>& state);
    // The PCM device of the second standard's playback (an ALSA name).
    void SetOutputName(const std::string& name) { outputName_ = name; }

    // The program's setting to load the sample library's instruments when it is chosen.
    bool loadSampleLibraryInstruments = true;

    // --- state
    int entry() const { return entry_; }
    int effect() const { return effect_; }
    bool ready() const { return ready_; }
    bool playing() const { return playing_.load(); }
    bool setupLoaded() const { return setupLoaded_; }
    bool renderingToFile() const { return renderingToFile_.load(); }
    const std::filesystem::path& setupFile() const { return setupFile_; }
    // Why the last selection or start failed; empty when nothing went wrong.
    const std::string& Message() const { return message_; }
    // The position of the second standard's performance, in seconds, and its end.
    double position() const { return position_.load(); }
    std::uint32_t endPosition() const { return endPosition_; }
    CDxLv2Filter* instrument() const { return instrument_.get(); }

private:
    // One MIDI message of the prepared performance at its sample.
    struct TimedMidi {
        std::int64_t sample = 0;
        std::uint8_t bytes[3] = {};
        std::uint8_t size = 0;
    };

    bool IsVst(int index) const;
    bool IsDx(int index) const;
    int SelectFailed(int code, std::string why);
    int CreateInstrument(const SampleInstrumentRequest& request);
    int CreateDxInstrument(PlugInEntry& entry);
    void ApplyChannelMask(std::uint16_t mask);
    std::string VstSetupName(int slot) const;
    HRESULT StartVst();
    // Stops the render host's output and waits for a block it still renders,
    // so that its slots and tracks can change.
    void QuiesceHost();
    // A language string in a message box (an English text where the language has none).
    void Tell(int stringId);
    HRESULT StartDx();
    void StopDx();
    // The sequence flattened into MIDI messages at their samples, and its end.
    void PreparePerformance();
    // One block of the second standard's performance: false when the graph
    // gave none (the block is then silence). Ended when past the end.
    bool RenderDxBlock(float* left, float* right, std::uint32_t frames, bool& ended);
    void RenderBlock(float** buffers, std::uint32_t frames, std::uint32_t channels, double elapsedMs) override;
    std::int32_t OutputMode() const override { return renderingToFile_.load() ? kOutputModeRenderToFile : 0; }

    CPlugInCatalog& catalog_;
    platform::MessageTarget* mainWindow_;
    ShellServices* shell_;
    platform::MessageTarget* owner_ = nullptr;
    CSamplePlayerWindow* window_ = nullptr;
    std::uint16_t channelMask_ = 0xFFFF;
    int entry_ = -1;
    int effect_ = -1;
    std::shared_ptr<CDxLv2Filter> instrument_;
    std::unique_ptr<CDxFilterGraph> graph_;
    CMfxSeq sequence_;
    CNoteTracker tracker_;
    // Guards the sequence and its prepared messages while a block renders.
    std::mutex lock_;
    std::vector<TimedMidi> performance_;
    std::size_t nextMidi_ = 0;
    std::int64_t sample_ = 0;
    std::atomic<bool> playing_{false};
    std::atomic<double> position_{0.0};
    std::atomic<bool> endTold_{false};
    std::uint32_t endPosition_ = 0;
    std::filesystem::path setupFile_;
    std::filesystem::path midiFile_;
    std::string outputName_ = "default";
    std::unique_ptr<CWaveFile> waveOut_;
    bool setupLoaded_ = false;
    std::atomic<bool> renderingToFile_{false};
    bool ready_ = false;
    std::string message_;
    // The second standard's real-time output: the device asks the player's
    // worker (its position thread) for each block.
    std::unique_ptr<CSpecDSoundOutDevice> pcm_;
    CWorkThread worker_{this};
    std::vector<float> left_, right_;
};

}  // namespace qvp3
