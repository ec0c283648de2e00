// The MP3 export of one WAV file (three minutes, 44.1 kHz, 16-bit stereo)
// against the encoder library alone on the same file:
//   LameAlone  the bare loop: the file's data read with stdio in chunks of one
//              frame, encoded, written to a file, flushed, the header written;
//              the library linked directly, no code of ours.
//   Mp3Export  cnvEncodeWavToMp3 with a new project's settings (the library
//              loaded at the moment of use, the WAV reader, the temporary
//              file, progress and cancel checks), which the bare loop repeats
//              call for call.
//
// Time: one run, wall clock. Counter:
//   overhead_pct  (fastest export / fastest bare loop - 1) x 100; the fastest of
//                 five runs of each, taken in turn, once per process, as other
//                 load on the machine only adds time
// The export's row says in its label whether the goal (at most 5 %) was met.
#include <benchmark/benchmark.h>
#include <lame/lame.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "qvp3_pipeline/mp3_export.h"
#include "qvp3_pipeline/wave_file.h"

namespace {

namespace fs = std::filesystem;
using namespace qvp3;

constexpr std::uint32_t kRate = 44100;
constexpr std::uint32_t kSeconds = 180;
constexpr double kGoalPct = 5.0;
constexpr int kReferenceRuns = 5;

// A folder with the WAV file, removed at exit.
class Files {
public:
    Files() {
        std::random_device rd;
        folder = fs::temp_directory_path() / ("qvp3-bench-mp3-" + std::to_string(rd()));
        fs::create_directories(folder);
        wav = folder / "music.wav";
        writeMusic();
    }
    ~Files() {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    fs::path folder;
    fs::path wav;

private:
    // Two voices and a little noise, so that the encoder has work like music's.
    void writeMusic() const {
        CWaveFile file;
        WaveFormatEx format = WaveFormatEx::pcm(kRate, 2, 16);
        file.Open(wav, &format, CWaveFile::kModeWrite);
        std::mt19937 random(7);
        std::uniform_int_distribution<int> noise(-300, 300);
        std::vector<std::int16_t> block(2 * kRate);
        for (std::uint32_t second = 0; second < kSeconds; ++second) {
            for (std::uint32_t i = 0; i < kRate; ++i) {
                const double t = static_cast<double>(second * kRate + i) / kRate;
                const double a = std::sin(2 * std::numbers::pi * (220.0 + second % 12 * 20) * t);
                const double b = std::sin(2 * std::numbers::pi * 661.0 * t);
                block[2 * i] = static_cast<std::int16_t>(9000 * a + 3000 * b + noise(random));
                block[2 * i + 1] = static_cast<std::int16_t>(6000 * a + 6000 * b + noise(random));
            }
            std::uint32_t written = 0;
            file.Write(static_cast<std::uint32_t>(block.size() * 2), block.data(), &written);
        }
        file.Close();
    }
};

const Files& files() {
    static const Files f;
    return f;
}

// The data chunk of a RIFF file: offset and size (no checks: our own file).
std::pair<long, std::uint32_t> findData(std::FILE* in) {
    unsigned char header[8];
    long at = 12;
    while (std::fseek(in, at, SEEK_SET) == 0 && std::fread(header, 1, 8, in) == 8) {
        const std::uint32_t size = header[4] | header[5] << 8 | header[6] << 16 | static_cast<std::uint32_t>(header[7]) << 24;
        if (std::memcmp(header, "data", 4) == 0) return {at + 8, size};
        at += 8 + static_cast<long>(size + (size & 1));
    }
    return {0, 0};
}

// The library's calls for a new project's settings, as the export makes them.
lame_t bareEncoder() {
    lame_t g = lame_init();
    lame_set_write_id3tag_automatic(g, 0);
    lame_set_in_samplerate(g, kRate);
    lame_set_num_channels(g, 2);
    lame_set_mode(g, JOINT_STEREO);
    lame_set_brate(g, 128);
    lame_set_extension(g, 1);
    lame_set_error_protection(g, 0);
    lame_set_copyright(g, 1);
    lame_set_original(g, 1);
    lame_set_emphasis(g, 0);
    lame_set_bWriteVbrTag(g, 1);
    lame_set_disable_reservoir(g, 1);
    lame_set_strict_ISO(g, 0);
    lame_set_VBR(g, vbr_default);
    lame_set_VBR_q(g, 5);
    lame_set_VBR_min_bitrate_kbps(g, 128);
    lame_set_VBR_max_bitrate_kbps(g, 320);
    lame_set_quality(g, 5);
    lame_init_params(g);
    return g;
}

void encodeBare(const fs::path& wav, const fs::path& mp3) {
    std::FILE* in = std::fopen(wav.c_str(), "rb");
    std::FILE* out = std::fopen(mp3.c_str(), "w+b");
    auto [offset, size] = findData(in);
    std::fseek(in, offset, SEEK_SET);
    lame_t g = bareEncoder();
    const int frame = lame_get_framesize(g);
    std::vector<short> pcm(static_cast<std::size_t>(frame) * 2);
    std::vector<unsigned char> buffer(static_cast<std::size_t>(frame) * 5 / 4 + 7200);
    std::uint32_t done = 0;
    while (done < size) {
        const auto want = std::min<std::uint32_t>(static_cast<std::uint32_t>(pcm.size() * 2), size - done);
        std::fread(pcm.data(), 1, want, in);
        const int n = lame_encode_buffer_interleaved(g, pcm.data(), static_cast<int>(want / 4), buffer.data(),
                                                     static_cast<int>(buffer.size()));
        std::fwrite(buffer.data(), 1, static_cast<std::size_t>(n), out);
        done += want;
    }
    const int n = lame_encode_flush(g, buffer.data(), static_cast<int>(buffer.size()));
    std::fwrite(buffer.data(), 1, static_cast<std::size_t>(n), out);
    lame_mp3_tags_fid(g, out);
    lame_close(g);
    std::fclose(out);
    std::fclose(in);
}

void encodeExport(const fs::path& wav, const fs::path& mp3) {
    BE_CONFIG config = beReadConfig(Mp3Config{});
    config.dwConfig = BE_CONFIG_LAME;
    cnvDefaultMp3Config(config);
    std::int32_t cancelWord = 0;
    if (cnvEncodeWavToMp3(wav, mp3, config, nullptr, &cancelWord) != kMp3Ok) std::abort();
}

template <class F>
double seconds(F&& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Reference {
    double bare = 1e9;
    double exported = 1e9;
};

// The fastest run of each side, taken in turn so that both meet the same load.
const Reference& reference() {
    static const Reference r = [] {
        Reference m;
        const Files& f = files();
        for (int i = 0; i < kReferenceRuns; ++i) {
            m.bare = std::min(m.bare, seconds([&] { encodeBare(f.wav, f.folder / "bare.mp3"); }));
            m.exported = std::min(m.exported, seconds([&] { encodeExport(f.wav, f.folder / "export.mp3"); }));
        }
        return m;
    }();
    return r;
}

void BM_LameAlone(benchmark::State& state) {
    const Files& f = files();
    for (auto _ : state) encodeBare(f.wav, f.folder / "bare.mp3");
}

void BM_Mp3Export(benchmark::State& state) {
    const Files& f = files();
    for (auto _ : state) encodeExport(f.wav, f.folder / "export.mp3");
    const Reference& r = reference();
    const double overhead = (r.exported / r.bare - 1.0) * 100.0;
    state.counters["overhead_pct"] = overhead;
    char label[96];
    std::snprintf(label, sizeof label, "bare %.3f s, export %.3f s: goal <= %.0f %% %s", r.bare, r.exported,
                  kGoalPct, overhead <= kGoalPct ? "met" : "MISSED");
    state.SetLabel(label);
}

BENCHMARK(BM_LameAlone)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Mp3Export)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
