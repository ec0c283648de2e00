// The score pipeline on a generated orchestral score (36 parts), through the
// library's public C interface only, each step against the bare libxml2 parse
// of the same file:
//   Parse    xmlReadFile(NONET | NOBLANKS) and xmlFreeDoc: the baseline.
//   Load     mxmlConvertProc in mode 2 with a play-time slot, as a host loads a
//            score to play it (the load goes on to the play-time pass), then
//            mxmlDestroyFile; like the baseline, a whole round trip.
//   Convert  mxmlConvertProc in mode 5 writing a ".tvrx", then both files
//            emptied.
//   Render   mxmlPlayProc in render mode writing a MIDI file; the score is
//            loaded once beforehand and stays loaded.
//
// Arguments: measures of one pass and the passes written one after the other
// (repeat). measures:28 is about 3.3 MB, measures:224 about 26 MB; the 28 x 8
// score is as big as the 224 one, and its rows tell how each step grows with
// the length of the score.
//
// Counters:
//   seconds        wall time of one run (the mean over the iterations)
//   cpu_seconds    CPU time of the whole process in one run (the mean), every
//                  thread counted: the library reads, walks, writes and
//                  deflates on several threads, and the benchmark's own CPU
//                  column counts the calling thread only
//   peak_MB        the most heap one run holds above what the process held
//                  before it: the bytes of the blocks malloc and its family
//                  hand out and take back, libxml2's and zlib's included
//                  (heap_meter.h; see measurePeak)
//   resident_MB    how far the same run lifts the resident set; the heap the
//                  process freed before is taken again without growing it,
//                  so small runs read low
//   time_ratio     fastest run / fastest run of the bare parse of the same file,
//                  in wall time (the parse runs on one thread)
//   peak_ratio     peak_MB / peak_MB of the bare parse of the same file
//   x8_ratio_time  (repeat 8 only) fastest run / fastest run of the same step on the
//   x8_ratio_peak  single-pass score: 8 means the step grows linearly
// The fastest of 5 runs of each step on each score (after one run that is not
// counted) is measured once, in fresh processes of this program (the fastest
// of 5), as the peaks are: other load on the machine only adds time, and what
// earlier steps left in a process's heap would weigh on later ones. A process
// can also be slow throughout: the bare parse of the large score frees a
// document larger than the free heap the process keeps, and whether the heap
// gives it all back, and faults it in again on the next run, depends on how
// its blocks happen to lie. The seconds counter is the mean of the
// benchmark's own runs.
//
// Each row with a goal says in its label whether it was met: on the large
// score (26 MB, in one pass or in eight) load at most 1.1x the parse's time
// and 0.5x its peak, conversion 1.5x and 0.8x, and every step on the score
// repeated 8 times at most 8.5x the single pass. The small score's ratios to
// the parse are shown without a goal: there the threads' start and the
// conversion's two readings weigh more than the file.
//
// The heap is set up as the program sets up its own (platform/heap.h): freed
// memory is kept for reuse. The bare parse runs under the same heap.
//
// Quick run:  bench_score_pipeline --benchmark_filter='measures:28/repeat:1/'
// Full run:   bench_score_pipeline
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <malloc.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "heap_meter.h"
#include "platform/heap.h"
#include "scoreconv/scoreconv.h"
#include "scoreconv_testing/score_generator.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kSmallMeasures = 28;
constexpr int kLargeMeasures = 224;
constexpr int kReferenceRuns = 5;
constexpr int kReferenceProcesses = 5;
// The options of the processes that measure one peak (printPeakOf) and one
// fastest run (printFastestOf).
constexpr const char* kPeakOption = "--peak-of";
constexpr const char* kFastestOption = "--fastest-of";

enum class Step { Parse, Load, Convert, Render };

const char* stepName(Step step) {
    switch (step) {
        case Step::Parse: return "parse";
        case Step::Load: return "load";
        case Step::Convert: return "convert";
        case Step::Render: return "render";
    }
    return "?";
}

// A private temporary folder with the generated scores and the files the
// steps write; removed at exit.
class Workspace {
public:
    Workspace() {
        std::string pattern = (fs::temp_directory_path() / "qvp3-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::fprintf(stderr, "cannot create a temporary folder under %s\n", fs::temp_directory_path().c_str());
            std::exit(1);
        }
        dir_ = pattern;
    }
    ~Workspace() {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    // The score of measures x repeat, generated on first use.
    const fs::path& score(int measures, int repeat) {
        const auto key = std::make_pair(measures, repeat);
        auto it = scores_.find(key);
        if (it == scores_.end()) {
            const fs::path path = dir_ / ("score-" + std::to_string(measures) + "x" + std::to_string(repeat) + ".xml");
            scoreconv::testing::writeOrchestralScore(path, {measures, repeat});
            it = scores_.emplace(key, path).first;
        }
        return it->second;
    }

private:
    fs::path dir_;
    std::map<std::pair<int, int>, fs::path> scores_;
};

Workspace& workspace() {
    static Workspace instance;
    return instance;
}

fs::path outputBeside(const fs::path& score, const char* extension) {
    fs::path path = score;
    return path.replace_extension(extension);
}

// One step on one score: whatever it needs beforehand is done on
// construction, run() is what is timed. run() returns an empty text or what
// went wrong.
class Operation {
public:
    virtual ~Operation() = default;
    virtual std::string run() = 0;
};

class ParseOperation : public Operation {
public:
    explicit ParseOperation(fs::path score) : score_(std::move(score)) {}
    std::string run() override {
        xmlDocPtr doc = xmlReadFile(score_.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOBLANKS);
        if (doc == nullptr) return "libxml2 cannot parse " + score_.string();
        xmlFreeDoc(doc);
        return {};
    }

private:
    fs::path score_;
};

std::string loadScore(scMxmlFile* file, const fs::path& score, int64_t* playTime) {
    CThreadProcParams params{};
    int result = 1;
    params.file = file;
    params.sourcePath = score.c_str();
    params.playTime = playTime;
    params.result = &result;
    mxmlConvertProc(&params);
    return result == 0 ? std::string() : "the load failed with " + std::to_string(result);
}

class LoadOperation : public Operation {
public:
    explicit LoadOperation(fs::path score)
        : score_(std::move(score)),
          file_(mxmlNewFile(nullptr, SCORECONV_MODE_REAL_TIME, &signal_, 480, "bench", nullptr)) {}
    ~LoadOperation() override { mxmlFreeFile(&file_); }
    LoadOperation(const LoadOperation&) = delete;
    LoadOperation& operator=(const LoadOperation&) = delete;

    std::string run() override {
        if (file_ == nullptr) return "no file object";
        int64_t playTime = 0;
        std::string error = loadScore(file_, score_, &playTime);
        mxmlDestroyFile(&file_);
        return error;
    }

private:
    fs::path score_;
    int signal_ = 0;
    scMxmlFile* file_;
};

class ConvertOperation : public Operation {
public:
    explicit ConvertOperation(fs::path score)
        : score_(std::move(score)),
          target_(outputBeside(score_, ".tvrx")),
          file_(mxmlNewFile(nullptr, SCORECONV_MODE_TVRXML, &signal_, 480, "bench", nullptr)),
          vxml_(vxmlNewFile(nullptr)) {
        vxmlCopyConvProps(vxml_, SCORECONV_CONV_ALL);
    }
    ~ConvertOperation() override {
        vxmlFreeFile(&vxml_);
        mxmlFreeFile(&file_);
    }
    ConvertOperation(const ConvertOperation&) = delete;
    ConvertOperation& operator=(const ConvertOperation&) = delete;

    std::string run() override {
        if (file_ == nullptr || vxml_ == nullptr) return "no file object";
        CThreadProcParams params{};
        int result = 1;
        params.file = file_;
        params.vxml = vxml_;
        params.sourcePath = score_.c_str();
        params.targetPath = target_.c_str();
        params.result = &result;
        mxmlConvertProc(&params);
        mxmlDestroyFile(&file_);
        vxmlDestroyFile(&vxml_);
        return result == 0 ? std::string() : "the conversion failed with " + std::to_string(result);
    }

private:
    fs::path score_;
    fs::path target_;
    int signal_ = 0;
    scMxmlFile* file_;
    scVxmlFile* vxml_;
};

class RenderOperation : public Operation {
public:
    explicit RenderOperation(fs::path score)
        : score_(std::move(score)),
          midi_(outputBeside(score_, ".mid")),
          file_(mxmlNewFile(nullptr, SCORECONV_MODE_REAL_TIME, &signal_, 480, "bench", nullptr)) {
        if (file_ == nullptr) {
            loadError_ = "no file object";
            return;
        }
        int64_t playTime = 0;
        loadError_ = loadScore(file_, score_, &playTime);
        mxmlSetPlaymode(file_, SCORECONV_MODE_RENDER);
    }
    ~RenderOperation() override { mxmlFreeFile(&file_); }
    RenderOperation(const RenderOperation&) = delete;
    RenderOperation& operator=(const RenderOperation&) = delete;

    std::string run() override {
        if (!loadError_.empty()) return loadError_;
        CThreadProcParams params{};
        int64_t playTime = 0;
        int state = -1;
        int result = 1;
        params.file = file_;
        params.sourcePath = midi_.c_str();
        params.playTime = &playTime;
        params.state = &state;
        params.result = &result;
        mxmlPlayProc(&params);
        if (result != 0) return "the render failed with " + std::to_string(result);
        if (state != SCORECONV_PLAY_STATE_FILE_WRITTEN) return "the render ended in state " + std::to_string(state);
        return {};
    }

private:
    fs::path score_;
    fs::path midi_;
    int signal_ = 0;
    scMxmlFile* file_;
    std::string loadError_;
};

std::unique_ptr<Operation> makeOperation(Step step, const fs::path& score) {
    switch (step) {
        case Step::Parse: return std::make_unique<ParseOperation>(score);
        case Step::Load: return std::make_unique<LoadOperation>(score);
        case Step::Convert: return std::make_unique<ConvertOperation>(score);
        case Step::Render: return std::make_unique<RenderOperation>(score);
    }
    return nullptr;
}

// ---- peak memory ---------------------------------------------------------------------

// A "Vm...:" line of /proc/self/status in kB; -1 when missing.
long statusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = field;
    while (std::getline(status, line)) {
        if (line.compare(0, prefix.size(), prefix) == 0) return std::atol(line.c_str() + prefix.size());
    }
    return -1;
}

// Lowers VmHWM to the present resident set.
bool resetPeakResident() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

// The step named name; false for no step.
bool stepOf(std::string_view name, Step& step) {
    for (const Step candidate : {Step::Parse, Step::Load, Step::Convert, Step::Render}) {
        if (name == stepName(candidate)) {
            step = candidate;
            return true;
        }
    }
    return false;
}

// The score the peak's process runs the step on first: a measure of the same
// orchestra, enough to bring in code pages, one-time tables and thread stacks
// while leaving little free heap behind.
constexpr int kWarmUpMeasures = 1;

// The measuring side of measurePeak, in a process of its own: runs the step
// on warmUp, hands the free heap back, starts the heap meter and resets the
// resident high-water mark, runs the step on score and prints the heap's peak
// and VmHWM minus the VmRSS it had before that run. Exit status 0 when it
// printed the figures.
int printPeakOf(const char* stepText, const char* score, const char* warmUp) {
    Step step{};
    if (!stepOf(stepText, step)) return 2;
    if (!makeOperation(step, warmUp)->run().empty()) return 3;
    const std::unique_ptr<Operation> operation = makeOperation(step, score);
    malloc_trim(0);
    const long before = statusKilobytes("VmRSS:");
    if (before < 0 || !resetPeakResident()) return 4;
    bench::heapMeterStart();
    if (!operation->run().empty()) return 4;
    const std::size_t heap = bench::heapMeterPeakBytes();
    const long resident = statusKilobytes("VmHWM:");
    if (resident < 0) return 5;
    std::printf("%.6f %.6f\n", static_cast<double>(heap) / 1e6, static_cast<double>(resident - before) * 1024.0 / 1e6);
    return std::fflush(stdout) == 0 ? 0 : 6;
}

// The timing side of measureFastest, in a process of its own: one run of the
// step on the score that is not measured, then the fastest of kReferenceRuns
// in seconds. Exit status 0 when it printed it.
int printFastestOf(const char* stepText, const char* score) {
    Step step{};
    if (!stepOf(stepText, step)) return 2;
    const std::unique_ptr<Operation> operation = makeOperation(step, score);
    if (!operation->run().empty()) return 3;
    double fastest = -1.0;
    for (int i = 0; i < kReferenceRuns; ++i) {
        const Clock::time_point start = Clock::now();
        if (!operation->run().empty()) return 4;
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (fastest < 0.0 || seconds < fastest) fastest = seconds;
    }
    std::printf("%.9f\n", fastest);
    return std::fflush(stdout) == 0 ? 0 : 6;
}

// Runs this program with the arguments in a process of its own and gives
// back the numbers it printed; empty when it failed. A forked process would
// inherit the heap that this process grew and freed in its own runs.
std::vector<double> figuresFromChild(const std::vector<std::string>& arguments) {
    std::array<int, 2> pipeEnds{};
    if (pipe(pipeEnds.data()) != 0) return {};
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("bench_score_pipeline"));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        return {};
    }
    if (child == 0) {
        close(pipeEnds[0]);
        if (dup2(pipeEnds[1], STDOUT_FILENO) < 0) _exit(1);
        close(pipeEnds[1]);
        execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    std::string printed;
    std::array<char, 64> chunk{};
    for (;;) {
        const ssize_t got = read(pipeEnds[0], chunk.data(), chunk.size());
        if (got > 0) {
            printed.append(chunk.data(), static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            break;
        }
    }
    close(pipeEnds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    std::vector<double> figures;
    const char* at = printed.c_str();
    for (;;) {
        char* end = nullptr;
        const double value = std::strtod(at, &end);
        if (end == at) break;
        figures.push_back(value);
        at = end;
    }
    return figures;
}

// Peak memory of one run of a step, in MB (10^6 bytes); negative when it
// could not be measured.
struct Peak {
    double heap = -1.0;
    double resident = -1.0;
};

Peak measurePeak(Step step, const fs::path& score) {
    const fs::path warmUp = workspace().score(kWarmUpMeasures, 1);
    const std::vector<double> figures =
        figuresFromChild({kPeakOption, stepName(step), score.string(), warmUp.string()});
    if (figures.size() != 2) return {};
    return {figures[0], figures[1]};
}

// The fastest run of a step in seconds, over a few processes, as a process
// can be slow throughout (see the top of this file). Negative when the step
// failed.
double measureFastest(Step step, const fs::path& score) {
    double fastest = -1.0;
    for (int i = 0; i < kReferenceProcesses; ++i) {
        const std::vector<double> figures = figuresFromChild({kFastestOption, stepName(step), score.string()});
        if (figures.size() != 1) return -1.0;
        if (fastest < 0.0 || figures[0] < fastest) fastest = figures[0];
    }
    return fastest;
}

// ---- kept measurements -----------------------------------------------------------------

using Key = std::pair<Step, std::string>;

const Peak& peakOf(Step step, const fs::path& score) {
    static std::map<Key, Peak> kept;
    const Key key{step, score.string()};
    auto it = kept.find(key);
    if (it == kept.end()) it = kept.emplace(key, measurePeak(step, score)).first;
    return it->second;
}

// The fastest of a few runs of the step, measured once per score in
// processes of their own, so that what the steps before left in this
// process's heap does not weigh on it: the baseline (the parse) and the
// single-pass figures the x8 rows are set against. Negative when the step
// failed.
double fastestOf(Step step, const fs::path& score) {
    static std::map<Key, double> kept;
    const Key key{step, score.string()};
    auto it = kept.find(key);
    if (it == kept.end()) it = kept.emplace(key, measureFastest(step, score)).first;
    return it->second;
}

// CPU seconds the process has used so far, all its threads together.
double processCpuSeconds() {
    timespec now{};
    if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now) != 0) return 0.0;
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double ratio(double value, double base) { return value >= 0.0 && base > 0.0 ? value / base : -1.0; }

// ---- goals -----------------------------------------------------------------------------

// The most a step may cost against the bare parse of the same file (none: 0),
// and against the single pass for the score repeated 8 times.
struct Goal {
    double timeRatio = 0.0;
    double peakRatio = 0.0;
};
constexpr double kX8Goal = 8.5;

Goal goalOf(Step step) {
    switch (step) {
        case Step::Load: return {1.1, 0.5};
        case Step::Convert: return {1.5, 0.8};
        case Step::Parse:
        case Step::Render: return {};
    }
    return {};
}

// "name 1.23 <= 1.5 met" or "... missed"; nothing without a goal.
void appendCheck(std::string& text, const std::string& name, double value, double goal) {
    if (goal <= 0.0) return;
    char line[96];
    const bool met = value >= 0.0 && value <= goal;
    std::snprintf(line, sizeof line, "%s%s %.2f <= %.2f %s", text.empty() ? "" : ", ", name.c_str(), value, goal,
                  met ? "met" : "MISSED");
    text += line;
}

// ---- the benchmarks --------------------------------------------------------------------

void runStep(benchmark::State& state, Step step) {
    const auto measures = static_cast<int>(state.range(0));
    const auto repeat = static_cast<int>(state.range(1));
    fs::path score;
    fs::path singlePass;
    try {
        score = workspace().score(measures, repeat);
        singlePass = workspace().score(measures, 1);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    const std::unique_ptr<Operation> operation = makeOperation(step, score);

    double total = 0.0;
    double cpuTotal = 0.0;
    for (auto _ : state) {
        const double cpuStart = processCpuSeconds();
        const Clock::time_point start = Clock::now();
        const std::string error = operation->run();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        cpuTotal += processCpuSeconds() - cpuStart;
        if (!error.empty()) {
            state.SkipWithError((std::string(stepName(step)) + ": " + error).c_str());
            return;
        }
        state.SetIterationTime(seconds);
        total += seconds;
    }

    const double seconds = total / static_cast<double>(state.iterations());
    const Peak& peaks = peakOf(step, score);
    const double peak = peaks.heap;
    if (peak < 0.0) state.SetLabel("peak not measured (fork, pipe or /proc/self/clear_refs failed)");
    // Ratios set the fastest run of each side against each other: on a busy
    // machine the fastest is the one least disturbed.
    const double parseSeconds = fastestOf(Step::Parse, score);
    const double parsePeak = peakOf(Step::Parse, score).heap;
    const double fastest = fastestOf(step, score);
    state.counters["file_MB"] = static_cast<double>(fs::file_size(score)) / 1e6;
    state.counters["seconds"] = seconds;
    state.counters["cpu_seconds"] = cpuTotal / static_cast<double>(state.iterations());
    state.counters["peak_MB"] = peak;
    state.counters["resident_MB"] = peaks.resident;
    state.counters["time_ratio"] = ratio(fastest, parseSeconds);
    state.counters["peak_ratio"] = ratio(peak, parsePeak);
    const Goal goal = measures * repeat >= kLargeMeasures ? goalOf(step) : Goal{};
    std::string goals;
    appendCheck(goals, "time", ratio(fastest, parseSeconds), goal.timeRatio);
    appendCheck(goals, "peak", ratio(peak, parsePeak), goal.peakRatio);
    if (repeat > 1) {
        const double onceSeconds = fastestOf(step, singlePass);
        const double oncePeak = peakOf(step, singlePass).heap;
        const std::string prefix = "x" + std::to_string(repeat) + "_ratio";
        state.counters[prefix + "_time"] = ratio(fastest, onceSeconds);
        state.counters[prefix + "_peak"] = ratio(peak, oncePeak);
        if (repeat == 8 && step != Step::Parse) {
            appendCheck(goals, "x8 time", ratio(fastest, onceSeconds), kX8Goal);
            appendCheck(goals, "x8 peak", ratio(peak, oncePeak), kX8Goal);
        }
    }
    if (peak >= 0.0 && !goals.empty()) state.SetLabel(goals);
}

void BM_Parse(benchmark::State& state) { runStep(state, Step::Parse); }
void BM_Load(benchmark::State& state) { runStep(state, Step::Load); }
void BM_Convert(benchmark::State& state) { runStep(state, Step::Convert); }
void BM_Render(benchmark::State& state) { runStep(state, Step::Render); }

void scoreSizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->ArgNames({"measures", "repeat"})
        ->Args({kSmallMeasures, 1})
        ->Args({kSmallMeasures, 8})
        ->Args({kLargeMeasures, 1})
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Parse)->Apply(scoreSizes);
BENCHMARK(BM_Load)->Apply(scoreSizes);
BENCHMARK(BM_Convert)->Apply(scoreSizes);
BENCHMARK(BM_Render)->Apply(scoreSizes);

}  // namespace

int main(int argc, char** argv) {
    platform::keepFreedHeapForReuse();
    if (argc == 5 && std::string_view(argv[1]) == kPeakOption) return printPeakOf(argv[2], argv[3], argv[4]);
    if (argc == 4 && std::string_view(argv[1]) == kFastestOption) return printFastestOf(argv[2], argv[3]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
