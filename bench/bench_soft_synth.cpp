// Rendering a MIDI file of a minute and a half through the software
// synthesizer binding (set-up, child process, progress polling, the check
// for sound and the rename) against the synthesizer program run directly
// with the same arguments. Both run in turn in every iteration, so that they
// see the same machine. Counters: seconds per render of each and the
// binding's overhead in percent (goal: at most 5).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "qvp3_pipeline/soft_synth.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kQuarters = 180;  // a minute and a half at 120
constexpr std::uint32_t kMusicMs = kQuarters * 500;

std::string be(std::uint32_t v, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(v >> (8 * i) & 0xFF);
    return out;
}

std::string vlq(std::uint32_t v) {
    std::string out(1, static_cast<char>(v & 0x7F));
    while ((v >>= 7) != 0) out.insert(out.begin(), static_cast<char>(0x80 | (v & 0x7F)));
    return out;
}

// A melody in quarters on the piano and chords in halves on strings.
std::string piece() {
    std::string melody = vlq(0) + "\xFF\x51\x03" + be(500000, 3) + vlq(0) + "\xC0" + std::string(1, '\0');
    std::string chords = vlq(0) + "\xC1\x30";
    const int scale[] = {60, 62, 64, 65, 67, 69, 71, 72, 71, 69, 67, 65, 64, 62};
    for (int q = 0; q < kQuarters; ++q) {
        const char key = static_cast<char>(scale[q % 14]);
        melody += vlq(0) + "\x90" + key + "\x64" + vlq(480) + "\x80" + key + "\x40";
    }
    for (int h = 0; h < kQuarters / 2; ++h) {
        const char root = static_cast<char>(48 + (h % 4) * 2);
        for (int n : {0, 4, 7}) chords += vlq(0) + "\x91" + static_cast<char>(root + n) + "\x50";
        for (int i = 0; i < 3; ++i) {
            chords += vlq(i == 0 ? 960 : 0) + "\x81" + static_cast<char>(root + (i == 0 ? 0 : i == 1 ? 4 : 7)) + "\x40";
        }
    }
    melody += vlq(0) + "\xFF\x2F" + std::string(1, '\0');
    chords += vlq(0) + "\xFF\x2F" + std::string(1, '\0');
    std::string out = "MThd" + be(6, 4) + be(1, 2) + be(2, 2) + be(480, 2);
    for (const std::string* t : {&melody, &chords}) out += "MTrk" + be(static_cast<std::uint32_t>(t->size()), 4) + *t;
    return out;
}

// The synthesizer program alone: the same arguments, the same redirections.
bool runDirectly(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int err = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return err == 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void BM_SoftSynthRender(benchmark::State& state) {
    const fs::path folder = fs::temp_directory_path() / ("qvp3-bench-synth-" + std::to_string(getpid()));
    fs::create_directories(folder);
    const fs::path midi = folder / "piece.mid";
    std::ofstream(midi, std::ios::binary) << piece();
    qvp3::SoftSynthState synth;
    synth.dataFolder = folder;
    qvp3::cnvWriteTimidityConfig(synth, QVP3_PROGRAM_DIR, false);
    const std::vector<std::string> direct = qvp3::cnvTimidityArguments(synth, midi, folder / "direct.wav");
    std::atomic<int> cancel{0};

    double directSeconds = 0;
    double bindingSeconds = 0;
    auto timeDirect = [&] {
        const Clock::time_point t0 = Clock::now();
        if (!runDirectly(direct)) state.SkipWithError("the synthesizer alone failed");
        directSeconds += seconds(Clock::now() - t0);
    };
    auto timeBinding = [&] {
        const Clock::time_point t0 = Clock::now();
        if (qvp3::cnvInitTimidity(synth, &cancel) != 0 ||
            !qvp3::cnvTimidityRender(synth, midi, folder / "binding.wav", kMusicMs, [](std::uint32_t) {}, &cancel)) {
            state.SkipWithError("the render through the binding failed");
        }
        const double s = seconds(Clock::now() - t0);
        bindingSeconds += s;
        return s;
    };
    // The first set-up probes the configuration once per run: not part of a render.
    if (qvp3::cnvInitTimidity(synth, &cancel) != 0) state.SkipWithError("the set-up failed");
    bool directFirst = true;
    for (auto _ : state) {
        // Each goes first in every other iteration, so that neither gains
        // from what the other left in the caches.
        double s = 0;
        if (directFirst) timeDirect();
        s = timeBinding();
        if (!directFirst) timeDirect();
        directFirst = !directFirst;
        state.SetIterationTime(s);
    }
    fs::remove_all(folder);
    const auto n = static_cast<double>(state.iterations());
    state.counters["direct_s"] = directSeconds / n;
    state.counters["binding_s"] = bindingSeconds / n;
    state.counters["overhead_pct"] = (bindingSeconds / directSeconds - 1.0) * 100.0;
    state.counters["x_real_time"] = kMusicMs / 1000.0 / (bindingSeconds / n);
}
BENCHMARK(BM_SoftSynthRender)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);

}  // namespace
