// The whole road from generated orchestral MusicXML scores (36 parts) to
// MP3 files: each score loaded and rendered to a Standard MIDI File by the
// score library's player, the MIDI file rendered to WAV by the software
// synthesizer, the WAV encoded to MP3.
//
// BM_ScoreToMp3: one file, each stage called directly, one after another.
// BM_ProjectToMp3: a practice project of several scores of different
// lengths, as a user builds one, through the steps themselves: the MIDI
// files one after another (as the MIDI step converts its entries), then the
// WAV step (renders at once: the argument, 0 as many as the machine has
// hardware threads, 1 one file at a time; the project's normalising at the
// end) and the MP3 export (as many encodings at once).
// Counters: x_real_time, seconds of music per second of the whole road, and
// each stage's share of the time (share_normalize is the part of share_wav
// spent normalising).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/message_target.h"
#include "qvp3_pipeline/mp3_export.h"
#include "qvp3_pipeline/soft_synth.h"
#include "qvp3_pipeline/wave_step.h"
#include "qvp3_project/mp3_config.h"
#include "qvp3_project/neighbours.h"
#include "qvp3_project/project.h"
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

// The project: eight scores of 12 to 26 measures, about 9 minutes of music.
constexpr int kProjectFiles = 8;
int projectMeasures(int file) { return 12 + 2 * file; }

struct Stages {
    double music = 0.0, toMidi = 0.0, toWave = 0.0, normalizing = 0.0, toMp3 = 0.0;
};

// The MIDI files of every entry, one after another; false when one failed.
bool projectToMidi(qvp3::Project& project, Stages& t) {
    const auto start = Clock::now();
    for (qvp3::ProjectEntry& e : project.entries) {
        const double music = renderScore(e.Filename, e.convertedMidiPath);
        if (music <= 0.0) return false;
        e.convertedMidiMs = static_cast<std::int32_t>(music * 1000.0);
        t.music += music;
    }
    t.toMidi += seconds(start);
    return true;
}

// The WAV step over every entry, as its page runs it; false when it did not render all.
bool projectToWave(qvp3::Project& project, qvp3::WaveRenderer& synthesizer, int renders, Stages& t) {
    platform::RecordingMessageTarget window;
    qvp3::WaveStepPage page(nullptr, &window);
    qvp3::WaveStepSetup setup;
    setup.project = &project;
    setup.synthesizer = &synthesizer;
    setup.parallelRenders = renders;
    // The pause that lets a user see each file listed is no work.
    setup.pauseAfterFile = std::chrono::milliseconds(0);
    setup.normalizer = qvp3::cnvProjectWaveNormalizer();
    const auto normalize = setup.normalizer.normalize;
    setup.normalizer.normalize = [&](qvp3::Project& p, qvp3::WaveProgressBar* total, qvp3::WaveProgressBar& file,
                                     int entry) {
        const auto start = Clock::now();
        const int result = normalize(p, total, file, entry);
        t.normalizing += seconds(start);
        return result;
    };
    const auto start = Clock::now();
    if (qvp3::cnvWaveStepRun(page, std::move(setup)) != qvp3::WaveStepRun::Started) return false;
    const bool ended = window.waitForCount(1, std::chrono::minutes(30));
    t.toWave += seconds(start);
    qvp3::cnvWaveStepWorkerDone(page);
    return ended && project.convertedWaveCount == project.fileNum() && !page.snapshot().notComplete;
}

void BM_ProjectToMp3(benchmark::State& state) {
    const int parallel = static_cast<int>(state.range(0));
    char pattern[] = "/tmp/qvp3-bench-project-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const fs::path dir = pattern;
    {
        qvp3::BasicShell shell;
        qvp3::Project project{qvp3::Neighbours{nullptr, nullptr, &shell, nullptr}};
        project.data.ProjectFolder = dir;
        project.data.ProjectTitle = "Road";
        project.mp3Folder = dir / "mp3";
        fs::create_directories(project.mp3Folder);
        for (int i = 0; i < kProjectFiles; ++i) {
            qvp3::ProjectEntry e;
            e.Filename = dir / ("score" + std::to_string(i) + ".xml");
            e.convertedMidiPath = dir / ("score" + std::to_string(i) + "_qvpcnv.mid");
            e.project = &project;
            scoreconv::testing::writeOrchestralScore(e.Filename, {projectMeasures(i), 1});
            project.entries.push_back(std::move(e));
        }
        project.convertedMidiCount = kProjectFiles;
        project.waveConvertAll = 1;
        project.waveOverwrite = 1;
        qvp3::SoftSynthState synth;
        synth.dataFolder = dir;
        qvp3::cnvWriteTimidityConfig(synth, QVP3_PROGRAM_DIR, false);
        const std::atomic<int> cancel{0};
        if (qvp3::cnvInitTimidity(synth, &cancel) != 0) {
            state.SkipWithError("the software synthesizer cannot be set up");
            return;
        }
        qvp3::SoftSynthWaveRenderer synthesizer(synth);
        Stages t;
        for (auto _ : state) {
            qvp3::Mp3ExportView view;
            if (!projectToMidi(project, t) || !projectToWave(project, synthesizer, parallel, t)) {
                state.SkipWithError("the MIDI or the WAV step failed");
                break;
            }
            const auto start = Clock::now();
            const int encoded = qvp3::cnvExportMp3Files(project, view, qvp3::kMp3EncoderLibrary, parallel);
            t.toMp3 += seconds(start);
            if (encoded != 0) {
                state.SkipWithError("the MP3 export failed");
                break;
            }
        }
        const double total = t.toMidi + t.toWave + t.toMp3;
        if (total > 0.0) {
            const auto runs = static_cast<double>(state.iterations());
            state.counters["files"] = kProjectFiles;
            state.counters["at_once"] = parallel > 0 ? parallel : std::max(1u, std::thread::hardware_concurrency());
            state.counters["music_s"] = t.music / runs;
            state.counters["x_real_time"] = t.music / total;
            state.counters["share_midi"] = t.toMidi / total;
            state.counters["share_wav"] = t.toWave / total;
            state.counters["share_normalize"] = t.normalizing / total;
            state.counters["share_mp3"] = t.toMp3 / total;
        }
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}
// One file at a time, then all hardware threads.
BENCHMARK(BM_ProjectToMp3)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
