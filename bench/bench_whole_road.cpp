// The whole road of a score, one file: a generated orchestral MusicXML score
// (36 parts) loaded and rendered to a Standard MIDI File by the score
// library's player, the MIDI file rendered to WAV by the software
// synthesizer, the WAV encoded to MP3 with a new project's settings.
// Counters: x_real_time, seconds of music per second of the whole road, and
// each stage's share of the time.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>

#include "qvp3_pipeline/mp3_export.h"
#include "qvp3_pipeline/soft_synth.h"
#include "qvp3_project/mp3_config.h"
#include "scoreconv/scoreconv.h"
#include "scoreconv_testing/score_generator.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kMeasures = 32;

double seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

// Loads the score and renders it to midi; the music's length in seconds, or a negative number.
double renderScore(const fs::path& score, const fs::path& midi) {
    int signal = 0;
    scMxmlFile* file = mxmlNewFile(nullptr, SCORECONV_MODE_REAL_TIME, &signal, 480, "bench", nullptr);
    if (file == nullptr) return -1.0;
    int64_t playTime = 0;
    int result = 1;
    CThreadProcParams load{};
    load.file = file;
    load.sourcePath = score.c_str();
    load.playTime = &playTime;
    load.result = &result;
    mxmlConvertProc(&load);
    if (result == 0) {
        mxmlSetPlaymode(file, SCORECONV_MODE_RENDER);
        int state = -1;
        int64_t rendered = 0;
        CThreadProcParams render{};
        render.file = file;
        render.sourcePath = midi.c_str();
        render.playTime = &rendered;
        render.state = &state;
        render.result = &result;
        mxmlPlayProc(&render);
        if (state != SCORECONV_PLAY_STATE_FILE_WRITTEN) result = -1;
    }
    mxmlFreeFile(&file);
    return result == 0 ? static_cast<double>(playTime) / 1e7 : -1.0;
}

void BM_ScoreToMp3(benchmark::State& state) {
    char pattern[] = "/tmp/qvp3-bench-road-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const fs::path dir = pattern;
    const fs::path score = dir / "score.xml", midi = dir / "score.mid", wav = dir / "score.wav", mp3 = dir / "score.mp3";
    scoreconv::testing::writeOrchestralScore(score, {kMeasures, 1});
    qvp3::SoftSynthState synth;
    synth.dataFolder = dir;
    qvp3::cnvWriteTimidityConfig(synth, QVP3_PROGRAM_DIR, false);
    const std::atomic<int> cancel{0};
    if (qvp3::cnvInitTimidity(synth, &cancel) != 0) {
        state.SkipWithError("the software synthesizer cannot be set up");
        return;
    }
    qvp3::BE_CONFIG config{};
    qvp3::cnvDefaultMp3Config(config);
    double music = 0.0, toMidi = 0.0, toWave = 0.0, toMp3 = 0.0;
    for (auto _ : state) {
        auto t = Clock::now();
        music = renderScore(score, midi);
        toMidi += seconds(t);
        t = Clock::now();
        const bool rendered = music > 0.0 && qvp3::cnvTimidityRender(synth, midi, wav,
                                                                     static_cast<std::uint32_t>(music * 1000.0), {}, &cancel);
        toWave += seconds(t);
        t = Clock::now();
        const int encoded = rendered ? qvp3::cnvEncodeWavToMp3(wav, mp3, config, nullptr, nullptr) : -1;
        toMp3 += seconds(t);
        if (encoded != 0) {
            state.SkipWithError("a stage of the road failed");
            break;
        }
    }
    const double total = toMidi + toWave + toMp3;
    if (total > 0.0) {
        state.counters["music_s"] = music;
        state.counters["x_real_time"] = music * static_cast<double>(state.iterations()) / total;
        state.counters["share_midi"] = toMidi / total;
        state.counters["share_wav"] = toWave / total;
        state.counters["share_mp3"] = toMp3 / total;
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}
BENCHMARK(BM_ScoreToMp3)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace
