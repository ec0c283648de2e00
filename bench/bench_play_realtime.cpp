// Real-time play: a generated score (two parts of eighths and chords at
// quarter = 240) plays on the file's time-critical worker into a capture
// device, and each note-on's arrival is compared with its due time (the
// pass's start plus the exact time of the step that plays it). Reports the
// mean and the worst lateness in microseconds.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "musicxml/convert_proc.h"
#include "musicxml/mxml_file.h"
#include "musicxml/play_model_builder.h"
#include "platform/midi_out.h"
#include "play/play_proc.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kBars = 6;
constexpr int kTempo = 240;

std::string measure(int part, int index) {
    static const char* const kSteps[] = {"C", "D", "E", "F", "G", "A", "B"};
    std::string m = "<measure number=\"" + std::to_string(index + 1) + "\">";
    if (index == 0) {
        m += "<attributes><divisions>2</divisions><time><beats>4</beats><beat-type>4</beat-type></time></attributes>"
             "<sound tempo=\"" + std::to_string(kTempo) + "\"/>";
    }
    for (int n = 0; n < 8; ++n) {
        const int degree = (part * 3 + index * 5 + n) % 14;
        const std::string pitch = std::string("<pitch><step>") + kSteps[degree % 7] + "</step><octave>" +
                                  std::to_string(4 + degree / 7) + "</octave></pitch>";
        m += "<note>" + pitch + "<duration>1</duration><voice>1</voice><type>eighth</type></note>";
        if (n % 4 == 0) m += "<note><chord/>" + pitch + "<duration>1</duration><voice>1</voice><type>eighth</type></note>";
    }
    return m + "</measure>";
}

fs::path writeScore() {
    const fs::path path = fs::temp_directory_path() / "qvp3_bench_play_realtime.xml";
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE score-partwise PUBLIC "
                      "\"-//Recordare//DTD MusicXML 4.0 Partwise//EN\" \"http://www.musicxml.org/dtds/partwise.dtd\">\n"
                      "<score-partwise version=\"4.0\"><part-list>"
                      "<score-part id=\"P1\"><part-name>One</part-name></score-part>"
                      "<score-part id=\"P2\"><part-name>Two</part-name></score-part></part-list>";
    for (int part = 0; part < 2; ++part) {
        xml += "<part id=\"P" + std::to_string(part + 1) + "\">";
        for (int bar = 0; bar < kBars; ++bar) xml += measure(part, bar);
        xml += "</part>";
    }
    xml += "</score-partwise>\n";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << xml;
    return path;
}

// The machine's clock; its first reading is the start of the pass's music.
class StartClock : public scoreconv::CRealTimeClock {
public:
    TimePoint now() const override {
        const TimePoint t = Clock::now();
        TimePoint expected{};
        start_.compare_exchange_strong(expected, t);
        return t;
    }
    TimePoint start() const { return start_.load(); }

private:
    mutable std::atomic<TimePoint> start_{TimePoint{}};
};

// Due times of the note-ons: each note plays on the first step at or after
// its tick, at the score's one tempo.
std::vector<Clock::time_point> dueTimes(const scoreconv::CMxmlFile& file, Clock::time_point start) {
    const int64_t step = file.ticksPerQuarter >> 5;
    const double msPerTick = 60000.0 / (kTempo * file.ticksPerQuarter);
    std::vector<Clock::time_point> due;
    for (int32_t s = 0; s + 1 < file.events.rowCount(); ++s) {
        for (int32_t v = 0; v < file.events.voiceCount(s); ++v) {
            for (const scoreconv::CScoreEvent& e : file.events.events(s, v)) {
                if (!e.isKind(scorecore::kKindNote)) continue;
                const int64_t stepTick = (int64_t{e.start} + step - 1) / step * step;
                const auto offset = std::chrono::duration<double, std::milli>(static_cast<double>(stepTick) * msPerTick);
                for (int32_t h = 0; h < e.headCount; ++h) {
                    due.push_back(start + std::chrono::duration_cast<Clock::duration>(offset));
                }
            }
        }
    }
    std::sort(due.begin(), due.end());
    return due;
}

void BM_PlayRealTimeLateness(benchmark::State& state) {
    const fs::path score = writeScore();
    double meanUs = 0.0;
    double worstUs = 0.0;
    std::size_t notes = 0;
    for (auto _ : state) {
        auto file = scoreconv::CMxmlFile::newFile(nullptr, scoreconv::kModeRealTime, nullptr, 480, "bench", nullptr);
        if (scoreconv::loadPlayModel(*file, score) != 0) {
            state.SkipWithError("the score did not load");
            return;
        }
        platform::CaptureMidiOut device;
        StartClock clock;
        const scoreconv::CPlayParams params;
        if (scoreconv::playOnWorker(*file, &params, &device, &clock) != 0) {
            state.SkipWithError("no play thread");
            return;
        }
        while (file->worker.running()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        file->worker.stop(std::chrono::milliseconds(0));

        std::vector<Clock::time_point> arrived;
        for (const auto& m : device.messages()) {
            const uint32_t status = m.packed & 0xF0u;
            if (status == 0x90 && ((m.packed >> 16) & 0x7Fu) != 0) arrived.push_back(m.time);
        }
        std::sort(arrived.begin(), arrived.end());
        const auto due = dueTimes(*file, clock.start());
        if (arrived.size() != due.size()) {
            state.SkipWithError("the notes played are not the notes of the score");
            return;
        }
        double sum = 0.0;
        for (std::size_t i = 0; i < due.size(); ++i) {
            const double late = std::chrono::duration<double, std::micro>(arrived[i] - due[i]).count();
            sum += late;
            worstUs = std::max(worstUs, late);
        }
        notes = due.size();
        meanUs = notes > 0 ? sum / static_cast<double>(notes) : 0.0;
    }
    state.counters["notes"] = static_cast<double>(notes);
    state.counters["mean_late_us"] = meanUs;
    state.counters["worst_late_us"] = worstUs;
    std::printf("real-time play: %zu note-ons, lateness mean %.1f us, worst %.1f us\n", notes, meanUs, worstUs);
    std::error_code ec;
    fs::remove(score, ec);
}

BENCHMARK(BM_PlayRealTimeLateness)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
