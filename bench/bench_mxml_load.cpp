// Loading a large MusicXML score into the play model: the document is parsed,
// its part list read, and every measure of every part walked into the event
// arrays. Reports the time of a whole load and the process's peak memory.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "convert_proc.h"
#include "mxml_file.h"

namespace {

namespace fs = std::filesystem;

const char* const kSteps[] = {"C", "D", "E", "F", "G", "A", "B"};

std::string pitch(int degree) {
    return "<pitch><step>" + std::string(kSteps[degree % 7]) + "</step><octave>" + std::to_string(3 + degree / 7 % 3) +
           "</octave></pitch>";
}

// One measure of 4/4 at 4 divisions: eighths with a slur and a chord, a
// second voice in every other part, a dynamic every 8 bars and a wedge
// every 16, lyrics on the first part.
std::string measure(int part, int index) {
    std::string m = "<measure number=\"" + std::to_string(index + 1) + "\">";
    if (index == 0) {
        m += "<attributes><divisions>4</divisions><key><fifths>" + std::to_string(part % 5 - 2) +
             "</fifths></key><time><beats>4</beats><beat-type>4</beat-type></time><clef><sign>G</sign><line>2</line>"
             "</clef></attributes><direction><direction-type><metronome><beat-unit>quarter</beat-unit>"
             "<per-minute>100</per-minute></metronome></direction-type><sound tempo=\"100\"/></direction>";
    }
    if (index % 8 == 0) m += "<direction><direction-type><dynamics><mf/></dynamics></direction-type></direction>";
    if (index % 16 == 4) m += "<direction><direction-type><wedge type=\"crescendo\"/></direction-type></direction>";
    for (int n = 0; n < 8; ++n) {
        const int degree = (part * 3 + index * 5 + n) % 21;
        m += "<note>" + pitch(degree) + "<duration>2</duration><voice>1</voice><type>eighth</type>";
        if (n == 0) m += "<notations><slur type=\"start\" number=\"1\"/></notations>";
        if (n == 7) m += "<notations><slur type=\"stop\" number=\"1\"/></notations>";
        if (part == 0) m += "<lyric number=\"1\"><syllabic>single</syllabic><text>la</text></lyric>";
        m += "</note>";
        if (n % 4 == 0) m += "<note><chord/>" + pitch(degree + 2) + "<duration>2</duration><voice>1</voice></note>";
    }
    if (index % 16 == 6) m += "<direction><direction-type><wedge type=\"stop\"/></direction-type></direction>";
    if (part % 2 == 1) {
        m += "<backup><duration>16</duration></backup>";
        for (int n = 0; n < 2; ++n) m += "<note>" + pitch(part % 7) + "<duration>8</duration><voice>2</voice></note>";
    }
    return m + "</measure>";
}

void writeScore(const fs::path& path, int parts, int measures) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<score-partwise version=\"4.0\"><part-list>";
    for (int p = 0; p < parts; ++p) {
        const std::string id = "P" + std::to_string(p + 1);
        out << "<score-part id=\"" << id << "\"><part-name>Part " << p + 1 << "</part-name><midi-instrument id=\""
            << id << "-I1\"><midi-channel>" << p % 16 + 1 << "</midi-channel><midi-program>" << p % 128 + 1
            << "</midi-program></midi-instrument></score-part>";
    }
    out << "</part-list>";
    for (int p = 0; p < parts; ++p) {
        out << "<part id=\"P" << p + 1 << "\">";
        for (int m = 0; m < measures; ++m) out << measure(p, m);
        out << "</part>";
    }
    out << "</score-partwise>\n";
}

void BM_LoadLargeScore(benchmark::State& state) {
    const auto parts = static_cast<int>(state.range(0));
    const auto measures = static_cast<int>(state.range(1));
    const fs::path file = fs::temp_directory_path() / "qvp3-bench-score.musicxml";
    writeScore(file, parts, measures);
    int64_t events = 0;
    for (auto _ : state) {
        auto score = scoreconv::CMxmlFile::newFile(nullptr, scoreconv::kModeRealTime, nullptr, 480, "bench", nullptr);
        if (scoreconv::loadPlayModel(*score, file) != 0) {
            state.SkipWithError("the score did not load");
            break;
        }
        events = 0;
        for (int32_t s = 0; s < score->events.rowCount(); ++s) {
            for (int32_t v = 0; v < score->events.voiceCount(s); ++v) events += score->events.eventCount(s, v);
        }
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["events"] = static_cast<double>(events);
    state.counters["file_MiB"] = static_cast<double>(fs::file_size(file)) / (1024.0 * 1024.0);
    state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    fs::remove(file);
}
BENCHMARK(BM_LoadLargeScore)->Args({40, 400})->Unit(benchmark::kMillisecond);

}  // namespace
