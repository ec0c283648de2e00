// Reading and writing a large project file: the document is read once and
// written once, whatever the number of keys.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "platform/ini_file.h"
#include "qvp3_project/profile_context.h"

namespace {

namespace fs = std::filesystem;

fs::path benchFile(const char* name) { return fs::temp_directory_path() / name; }

// A project of `entries` sections with 200 keys each and one 64 KiB blob.
platform::IniDocument makeProject(int entries) {
    platform::IniDocument doc;
    doc.setInt("zq1 Project File", "FileNum", entries);
    for (int e = 0; e < entries; ++e) {
        const std::string section = "Project File " + std::to_string(e + 1);
        doc.setString(section, "Filename", "C:\\Users\\Anna\\Music\\Piece " + std::to_string(e) + ".xml");
        for (int k = 0; k < 200; ++k) doc.setInt(section, "Track" + std::to_string(k) + "_Volume", k);
    }
    return doc;
}

void BM_IniSaveProject(benchmark::State& state) {
    const fs::path file = benchFile("qvp3-bench-save.c-1");
    platform::IniDocument doc = makeProject(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        doc.setInt("zq1 Project File", "Saved", 1);
        if (doc.save(file) != platform::IniStatus::Ok) state.SkipWithError("save failed");
    }
    state.counters["keys"] = static_cast<double>(state.range(0) * 201);
    fs::remove(file);
}
BENCHMARK(BM_IniSaveProject)->Arg(10)->Arg(99)->Unit(benchmark::kMillisecond);

void BM_IniLoadAndQueryProject(benchmark::State& state) {
    const fs::path file = benchFile("qvp3-bench-load.c-1");
    makeProject(static_cast<int>(state.range(0))).save(file);
    for (auto _ : state) {
        qvp3::ProfileContext context("Project File 1", file);
        long sum = 0;
        for (int k = 0; k < 200; ++k) sum += context.readInt("track" + std::to_string(k) + "_volume", 0);
        benchmark::DoNotOptimize(sum);
    }
    fs::remove(file);
}
BENCHMARK(BM_IniLoadAndQueryProject)->Arg(10)->Arg(99)->Unit(benchmark::kMillisecond);

void BM_IniBlobRoundTrip(benchmark::State& state) {
    const fs::path file = benchFile("qvp3-bench-blob.ini");
    std::vector<std::uint8_t> block(static_cast<std::size_t>(state.range(0)), 0x5A);
    for (auto _ : state) {
        qvp3::ProfileContext context("S", file);
        qvp3::prfWriteIniBlob(context, block, "Setup");
        benchmark::DoNotOptimize(qvp3::prfReadIniBlob(context, "Setup"));
        context.document().clearDirty();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_IniBlobRoundTrip)->Arg(331)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);

}  // namespace
