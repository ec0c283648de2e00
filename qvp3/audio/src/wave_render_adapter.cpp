// The render host as the WAV step's plug-in renderer.
#include "qvp3_audio/wave_render_adapter.h"

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
    // The converted file's percussion tracks are told by their channel: no staff marks.
    if (const int result = host_.LoadMidi(midiPath, {}, tracker); result != 0) return result;
    return host_.RenderToWave(wavPath, progress, cancelWord);
}

}  // namespace qvp3
