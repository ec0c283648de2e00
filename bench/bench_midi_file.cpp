// Reading and writing a large Standard MIDI File: a two-hour piece of 16
// tracks (a conductor with tempo changes, 14 instruments with notes, pedal
// and bends, a drum track of three keys), about 6 MB.
//   Read    cnvReadMidiEntry: the key scan, the model and the measuring pass.
//   Export  plyExportMidiEntry: the sequencer's export of the converted file.
//   Split   midiSplitAndWrite: the drum track into one track per key.
// Counter MB_per_s: megabytes of the source file (Read, Split) or of the
// written file (Export) per second.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "qvp3_pipeline/midi_read.h"
#include "qvp3_pipeline/midi_write.h"
#include "qvp3_pipeline/sequencer.h"

namespace {

constexpr int kTracks = 16;
constexpr int kQuarters = 2 * 60 * 120;  // two hours at 120

void quantity(std::string& out, std::uint32_t value) {
    char bytes[4];
    int n = 0;
    bytes[n++] = static_cast<char>(value & 0x7F);
    while ((value >>= 7) != 0) bytes[n++] = static_cast<char>(0x80 | (value & 0x7F));
    while (n > 0) out += bytes[--n];
}

void event(std::string& out, std::uint32_t delta, std::initializer_list<int> bytes) {
    quantity(out, delta);
    for (int b : bytes) out += static_cast<char>(b);
}

void bigEndian(std::string& out, std::uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(value >> (8 * i) & 0xFF);
}

std::string chunk(const std::string& events) {
    std::string out = "MTrk";
    bigEndian(out, static_cast<std::uint32_t>(events.size() + 4), 4);
    return out + events + std::string("\x00\xFF\x2F\x00", 4);
}

std::string bigFile() {
    std::string file = "MThd";
    bigEndian(file, 6, 4);
    bigEndian(file, 1, 2);
    bigEndian(file, kTracks, 2);
    bigEndian(file, 480, 2);
    std::string conductor;
    for (int bar = 0; bar < kQuarters / 4; ++bar) {
        const std::uint32_t micros = bar % 2 == 0 ? 500000 : 480000;
        event(conductor, bar == 0 ? 0 : 1920, {0xFF, 0x51, 3, static_cast<int>(micros >> 16), static_cast<int>(micros >> 8 & 0xFF),
                                               static_cast<int>(micros & 0xFF)});
    }
    file += chunk(conductor);
    for (int t = 1; t < kTracks - 1; ++t) {
        std::string events;
        const int channel = t < 10 ? t - 1 : t;  // channel 10 is the drums'
        event(events, 0, {0xC0 | channel, t * 5});
        for (int eighth = 0; eighth < kQuarters * 2; ++eighth) {
            const int key = 36 + (eighth * 7 + t * 3) % 48;
            event(events, eighth == 0 ? 0 : 40, {0x90 | channel, key, 60 + eighth % 60});
            if (eighth % 16 == 0) event(events, 0, {0xB0 | channel, 64, eighth % 32 == 0 ? 127 : 0});
            if (eighth % 64 == 0) event(events, 0, {0xE0 | channel, 0, 64 + t});
            event(events, 200, {0x80 | channel, key, 0});
        }
        file += chunk(events);
    }
    std::string drums;
    for (int eighth = 0; eighth < kQuarters * 2; ++eighth) {
        const int key = eighth % 4 == 0 ? 36 : eighth % 4 == 2 ? 38 : 42;
        event(drums, eighth == 0 ? 0 : 120, {0x99, key, 100});
        event(drums, 120, {0x89, key, 0});
    }
    return file + chunk(drums);
}

struct Fixture {
    std::filesystem::path folder;
    std::filesystem::path source;
    std::uintmax_t bytes = 0;

    Fixture() {
        folder = std::filesystem::temp_directory_path() / ("qvp3-bench-midi-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        source = folder / "two-hours.mid";
        std::ofstream(source, std::ios::binary) << bigFile();
        bytes = std::filesystem::file_size(source);
    }
    ~Fixture() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void setRate(benchmark::State& state, std::uintmax_t bytes) {
    state.counters["MB_per_s"] = benchmark::Counter(static_cast<double>(bytes) / 1e6 * static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate);
}

void Read(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        qvp3::ProjectEntry entry;
        entry.Filename = f.source;
        if (qvp3::cnvReadMidiEntry(entry) != 0) state.SkipWithError("the file was not read");
        benchmark::DoNotOptimize(entry.durationMs);
    }
    setRate(state, f.bytes);
}

void Export(benchmark::State& state) {
    Fixture& f = fixture();
    qvp3::ProjectEntry entry;
    entry.Filename = f.source;
    if (qvp3::cnvReadMidiEntry(entry) != 0) state.SkipWithError("the file was not read");
    entry.convertedMidiPath = f.folder / "two-hours_qvpcnv.mid";
    entry.metronome.CountIn = 0;
    entry.metronome.Use = 0;
    for (auto _ : state) {
        if (qvp3::plyExportMidiEntry(entry, 0) != 0) state.SkipWithError("the export failed");
    }
    setRate(state, std::filesystem::file_size(entry.convertedMidiPath));
}

void Split(benchmark::State& state) {
    Fixture& f = fixture();
    const auto target = f.folder / "split.mid";
    for (auto _ : state) {
        if (qvp3::midiSplitAndWrite(f.source, target) != 0) state.SkipWithError("the split failed");
    }
    setRate(state, f.bytes);
}

BENCHMARK(Read)->Unit(benchmark::kMillisecond);
BENCHMARK(Export)->Unit(benchmark::kMillisecond);
BENCHMARK(Split)->Unit(benchmark::kMillisecond);

}  // namespace
