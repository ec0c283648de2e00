// The render host as the WAV step's plug-in renderer.
#include "qvp3_audio/wave_render_adapter.h"

#include "qvp3_audio/audio_services.h"

#include <utility>

namespace qvp3 {
namespace {

// What LoadMidi replaces of the host's performance, put back on every way out.
class SavedPerformance {
public:
    explicit SavedPerformance(CMyVSTHost& host)
        : host_(host),
          tracks_(host.tracks),
          trackInfo_(host.trackInfo),
          tempoList_(host.tempoList),
          tickResolution_(host.tickResolution),
          outputWasRunning_(host.outputRunning) {}
    ~SavedPerformance() {
        host_.tracks = tracks_;
        host_.trackInfo = std::move(trackInfo_);
        host_.tempoList = std::move(tempoList_);
        host_.tickResolution = tickResolution_;
        if (outputWasRunning_) host_.StartOutput();
    }
    SavedPerformance(const SavedPerformance&) = delete;
    SavedPerformance& operator=(const SavedPerformance&) = delete;

private:
    CMyVSTHost& host_;
    CNoteTracker* tracks_;
    std::vector<VstTrack> trackInfo_;
    std::vector<PlyTimedValue> tempoList_;
    std::int32_t tickResolution_;
    bool outputWasRunning_;
};

}  // namespace

int VstWaveRenderer::render(ProjectEntry&, const std::filesystem::path& midiPath, const std::filesystem::path& wavPath,
                            const std::function<void(std::uint32_t ms)>& progress,
                            const std::atomic<int>& cancelWord) {
    // A playing performance or a running output would drive the plug-ins beside the render.
    if (host_.playing()) host_.StopPlayback();
    CNoteTracker tracker;
    const SavedPerformance saved(host_);
    host_.StopOutput();
    // The converted file's percussion tracks are told by their channel: no staff describes them.
    if (const int result = host_.LoadMidi(midiPath, midiUnmarkedTracks(), tracker); result != 0) return result;
    return host_.RenderToWave(wavPath, progress, cancelWord);
}

SampleInstrumentRequest SamplePlayerWaveRenderer::RequestFor(const ProjectEntry& entry,
                                                              const CPlugInCatalog& catalog) {
    SampleInstrumentRequest request;
    request.entry = entry.SamplePlayer.empty() ? -1 : catalog.FindPresentInstrument(entry.SamplePlayer);
    if (request.entry < 0 && entry.samplerIndex >= 0 &&
        static_cast<std::size_t>(entry.samplerIndex) < catalog.instruments.size()) {
        request.entry = entry.samplerIndex;
    }
    if (entry.ReverbType >= 0) request.effect = entry.Reverb;
    request.setup = samplerSetupFromEntry(entry);
    return request;
}

int SamplePlayerWaveRenderer::render(ProjectEntry& entry, const std::filesystem::path& midiPath,
                                     const std::filesystem::path& wavPath,
                                     const std::function<void(std::uint32_t ms)>& progress,
                                     const std::atomic<int>& cancelWord) {
    const SampleInstrumentRequest request = RequestFor(entry, catalog_);
    if (request.entry < 0) return kWaveSamplerFailed;
    if (catalog_.instruments[static_cast<std::size_t>(request.entry)].kind != kPlugInKindVst) {
        return RenderSecondKind(request, midiPath, wavPath, progress, cancelWord);
    }
    // The sample library plays each sound through the instrument the entry assigned it.
    if (audIsQvoPlugInName(catalog_.GetInstrumentName(request.entry))) {
        catalog_.vstHost->instrumentTable.SetProgramMap(audQvoProgramMap(entry));
    }
    // The sample library's instruments are loaded for the render whatever the setting says.
    const bool loadFlag = std::exchange(player_.loadSampleLibraryInstruments, true);
    // Selecting stills the host's output; it plays again after the render as it did before.
    const bool outputWasRunning = catalog_.vstHost->outputRunning;
    const int selected = player_.SelectInstrument(request, false);
    player_.loadSampleLibraryInstruments = loadFlag;
    int result = kWaveSamplerFailed;
    if (selected == kSelectOk) {
        result = VstWaveRenderer(*catalog_.vstHost).render(entry, midiPath, wavPath, progress, cancelWord);
    }
    if (outputWasRunning) catalog_.vstHost->StartOutput();
    return result;
}

int SamplePlayerWaveRenderer::RenderSecondKind(const SampleInstrumentRequest& request,
                                               const std::filesystem::path& midiPath,
                                               const std::filesystem::path& wavPath,
                                               const std::function<void(std::uint32_t ms)>& progress,
                                               const std::atomic<int>& cancelWord) {
    if (player_.OpenWaveOut(wavPath) != S_OK) return kWaveSamplerFailed;
    player_.SetMidiFile(midiPath);
    if (player_.SelectInstrument(request, false) != kSelectOk || player_.Start(request) != S_OK) {
        player_.CloseWaveOut(false);
        return kWaveSamplerFailed;
    }
    const int result = player_.RenderToWave(progress, cancelWord);
    if (result != 0) {
        player_.CloseWaveOut(false);
        return result;
    }
    return player_.CloseWaveOut() == S_OK ? 0 : kRenderShortWrite;
}

}  // namespace qvp3
