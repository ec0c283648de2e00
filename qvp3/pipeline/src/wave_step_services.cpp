// The software synthesizer and the normaliser as the WAV step calls them.
#include "qvp3_pipeline/wave_step.h"

#include <mutex>

namespace qvp3 {

int SoftSynthWaveRenderer::render(ProjectEntry& entry, const std::filesystem::path& midiPath,
                                  const std::filesystem::path& wavPath,
                                  const std::function<void(std::uint32_t ms)>& progress,
                                  const std::atomic<int>& cancelWord) {
    {
        // The usual case: set up already, nothing of the state changes.
        std::shared_lock shared(setUp_);
        if (cnvTimidityReady(state_)) return renderSetUp(entry, midiPath, wavPath, progress, cancelWord);
    }
    {
        std::unique_lock exclusive(setUp_);
        if (const int setUp = cnvInitTimidity(state_, &cancelWord); setUp != 0) {
            return setUp == kSynthSetupCancelled ? kWaveCancelled : setUp;
        }
    }
    std::shared_lock shared(setUp_);
    return renderSetUp(entry, midiPath, wavPath, progress, cancelWord);
}

int SoftSynthWaveRenderer::renderSetUp(const ProjectEntry& entry, const std::filesystem::path& midiPath,
                                       const std::filesystem::path& wavPath,
                                       const std::function<void(std::uint32_t ms)>& progress,
                                       const std::atomic<int>& cancelWord) {
    // The converted file's own length where it is known: the progress runs against it.
    const std::int32_t ms = entry.convertedMidiMs > 0 ? entry.convertedMidiMs : entry.durationMs;
    if (cnvTimidityRender(state_, midiPath, wavPath, static_cast<std::uint32_t>(std::max(ms, 0)), progress,
                          &cancelWord)) {
        return 0;
    }
    return cancelWord.load() == kSynthCancelWord ? kWaveCancelled : kWaveSynthRenderFailed;
}

WaveNormalizer cnvProjectWaveNormalizer() {
    WaveNormalizer normalizer;
    normalizer.normalize = [](Project& project, WaveProgressBar* total, WaveProgressBar& file, int entry) {
        return cnvNormalizeWaveFiles(project, total, &file, entry);
    };
    normalizer.report = [](Project& project, int result) { cnvReportNormalizeError(project, result); };
    return normalizer;
}

}  // namespace qvp3
