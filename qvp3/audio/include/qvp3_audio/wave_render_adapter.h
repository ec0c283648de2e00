// The WAV step's plug-in method: the render host plays an entry's converted
// MIDI file through the instrument it holds and renders it into a WAV file.
#pragma once

#include "qvp3_audio/sample_player.h"
#include "qvp3_audio/vst_render_host.h"
#include "qvp3_pipeline/wave_step.h"

namespace qvp3 {

class VstWaveRenderer : public WaveRenderer {
public:
    // The host, with its instrument loaded, must outlive the renderer.
    explicit VstWaveRenderer(CMyVSTHost& host) : host_(host) {}

    // The host's output stops while the render runs, so that only the render
    // drives the plug-ins, and starts again afterwards; the host's performance
    // is given back as it was. 0, the MIDI reader's codes, or RenderToWave's.
    int render(ProjectEntry& entry, const std::filesystem::path& midiPath, const std::filesystem::path& wavPath,
               const std::function<void(std::uint32_t ms)>& progress, const std::atomic<int>& cancelWord) override;
    // One host plays through one set of instruments and one performance:
    // the WAV step renders its files one at a time.
    bool rendersInParallel() const override { return false; }

private:
    CMyVSTHost& host_;
};

// The WAV step's sample-player method: each entry's converted MIDI file
// through the instrument its sound configuration names, with the entry's
// stored setup and effect. A VST instrument renders through the render host
// as VstWaveRenderer does; one of the second standard through the player's
// WAV writer. kWaveSamplerFailed when the instrument cannot be set up or
// started (the player's Message() says why).
class SamplePlayerWaveRenderer : public WaveRenderer {
public:
    // The player, and the catalogue it plays from, must outlive the renderer.
    SamplePlayerWaveRenderer(CSamplePlayer& player, CPlugInCatalog& catalog) : player_(player), catalog_(catalog) {}

    int render(ProjectEntry& entry, const std::filesystem::path& midiPath, const std::filesystem::path& wavPath,
               const std::function<void(std::uint32_t ms)>& progress, const std::atomic<int>& cancelWord) override;
    // One player, one instrument.
    bool rendersInParallel() const override { return false; }

    // What the player is asked for an entry: the instrument of its name (or
    // its stored index), its effect and its setup.
    static SampleInstrumentRequest RequestFor(const ProjectEntry& entry, const CPlugInCatalog& catalog);

private:
    int RenderSecondKind(const SampleInstrumentRequest& request, const std::filesystem::path& midiPath,
                         const std::filesystem::path& wavPath, const std::function<void(std::uint32_t ms)>& progress,
                         const std::atomic<int>& cancelWord);

    CSamplePlayer& player_;
    CPlugInCatalog& catalog_;
};

}  // namespace qvp3
