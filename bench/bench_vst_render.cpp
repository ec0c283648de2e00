// Rendering a performance through a VST instrument into a WAV file, offline:
// ten minutes of eight-note chords in eighths on 4 tracks, played by the synth
// test plug-in, blocks of 4096 frames. Counter x_real_time: seconds of music
// rendered per second of wall time (how much faster than real time).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "qvp3_audio/vst_render_host.h"

namespace {

constexpr int kMinutes = 10;
constexpr int kTicksPerQuarter = 480;

void performance(qvp3::CNoteTracker& tracker) {
    qvp3::plyNoteTrackerAlloc(tracker, 4);
    const int eighths = kMinutes * 60 * 4;  // at 120
    for (std::size_t t = 0; t < tracker.tracks.size(); ++t) {
        auto& queue = tracker.tracks[t].queue;
        for (int e = 0; e < eighths; ++e) {
            const auto at = static_cast<std::uint32_t>(e * kTicksPerQuarter / 2);
            for (std::uint32_t n = 0; n < 2; ++n) {
                const std::uint32_t key = 48 + static_cast<std::uint32_t>(t) * 7 + n * 4 + static_cast<std::uint32_t>(e % 5);
                qvp3::plyEventQueueAppend(queue, 0x90u | (key << 8) | (90u << 16), at);
                qvp3::plyEventQueueAppend(queue, 0x80u | (key << 8), at + kTicksPerQuarter / 2 - 10);
            }
        }
    }
}

void BM_RenderToWave(benchmark::State& state) {
    qvp3::CNoteTracker tracker;
    performance(tracker);
    qvp3::CMyVSTHost host;
    host.tracks = &tracker;
    host.trackInfo.assign(tracker.tracks.size(), qvp3::VstTrack{});
    host.currentSlot = host.LoadPlugIn(std::filesystem::path(QVP3_TEST_PLUGIN_DIR) / "synth.so");
    if (host.currentSlot < 0) {
        state.SkipWithError("the synth test plug-in does not load");
        return;
    }
    host.renderBlockSize = 4096;
    host.blockMs = 4096.0f * 1000.0f / 44100.0f;
    const auto file = std::filesystem::temp_directory_path() / ("qvp3-bench-render-" + std::to_string(getpid()) + ".wav");
    std::atomic<int> cancel{0};
    for (auto _ : state) {
        if (host.RenderToWave(file, nullptr, cancel) != 0) state.SkipWithError("the render failed");
    }
    std::filesystem::remove(file);
    state.counters["x_real_time"] =
        benchmark::Counter(kMinutes * 60.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderToWave)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
