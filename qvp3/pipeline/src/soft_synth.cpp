// The software synthesizer binding: its configuration, the set-up and the
// render, each render a TiMidity++ child process (see soft_synth.h).
#include "qvp3_pipeline/soft_synth.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "platform/atomic_file.h"
#include "platform/files.h"
#include "qvp3_pipeline/wave_file.h"

extern char** environ;

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint32_t kSampleRate = 44100;
constexpr std::uint32_t kBytesPerSecond = kSampleRate * 4;  // 16-bit stereo
constexpr std::uint32_t kWaveHeaderBytes = 44;
// The smallest sample that counts as sound (-60 dBFS); the dither stays below 8.
constexpr std::int16_t kSoundLevel = 32;
// How often a running child is checked for the cancel word, its progress and
// its time limit; its exit is seen at once.
constexpr auto kPollPeriod = 20ms;
// A render may take this long plus twice the music's length.
constexpr auto kTimeMargin = 20s;
// After the polite request to stop, how long the child has before it is killed.
constexpr auto kTerminateGrace = 2s;

// A note of a quarter at the default tempo on the piano: what the set-up
// renders to prove that the configuration finds its instruments.
constexpr std::array<unsigned char, 38> kProbeMidi = {
    'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0,                  // format 0, 1 track, 480
    'M', 'T', 'r', 'k', 0, 0, 0, 16,                                           // 16 bytes of events
    0x00, 0xC0, 0x00, 0x00, 0x90, 0x3C, 0x64, 0x83, 0x60, 0x80, 0x3C, 0x40,  // piano, C4 a quarter
    0x00, 0xFF, 0x2F, 0x00,                                                    // end of track
};

enum class ChildEnd { Exited0, Failed, Cancelled, NotStarted };

bool cancelled(const std::atomic<int>* cancel) {
    return cancel != nullptr && cancel->load() == kSynthCancelWord;
}

bool isExecutable(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec) && ::access(path.c_str(), X_OK) == 0;
}

// The program as a path: a name without a folder is looked up in PATH, as a
// shell would; empty when there is none that can be run.
fs::path findProgram(const fs::path& program) {
    if (program.empty()) return {};
    if (program.has_parent_path()) return isExecutable(program) ? fs::absolute(program) : fs::path{};
    const char* path = std::getenv("PATH");
    std::string_view rest = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const std::size_t colon = rest.find(':');
        const std::string_view dir = rest.substr(0, colon);
        const fs::path candidate = fs::path(dir.empty() ? "." : dir) / program;
        if (isExecutable(candidate)) return candidate;
        if (colon == std::string_view::npos) return {};
        rest.remove_prefix(colon + 1);
    }
}

// Starts the program with standard input from /dev/null and its output
// dropped, no descriptor of ours inherited, and default signal handling.
pid_t spawnChild(const fs::path& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : {SIGTERM, SIGINT, SIGPIPE, SIGCHLD, SIGXFSZ}) sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int err = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return err == 0 ? pid : -1;
}

// Waits up to timeout for the child to end; true (with its status) when it did.
bool waitChild(pid_t pid, int pidfd, std::chrono::milliseconds timeout, int* status) {
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return false;
        return ::waitpid(pid, status, 0) == pid;
    }
    const Clock::time_point end = Clock::now() + timeout;
    while (true) {
        if (::waitpid(pid, status, WNOHANG) == pid) return true;
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(2ms);
    }
}

// Asks the child to stop, kills it when it does not, and reaps it.
void terminateChild(pid_t pid, int pidfd) {
    int status = 0;
    ::kill(pid, SIGTERM);
    if (waitChild(pid, pidfd, std::chrono::duration_cast<std::chrono::milliseconds>(kTerminateGrace), &status)) return;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
}

// Runs the program to its end, polling the cancel word and calling tick
// between checks; a child past the time limit or cancelled is terminated.
ChildEnd runChild(const fs::path& program, const std::vector<std::string>& args, const std::atomic<int>* cancel,
                  Clock::duration limit, const std::function<void()>& tick) {
    const pid_t pid = spawnChild(program, args);
    if (pid < 0) return ChildEnd::NotStarted;
    // A descriptor that becomes readable when the child ends, so that its end
    // is seen at once rather than at the next poll.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    const Clock::time_point deadline = Clock::now() + limit;
    ChildEnd end = ChildEnd::Failed;
    while (true) {
        int status = 0;
        if (waitChild(pid, pidfd, kPollPeriod, &status)) {
            end = WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ChildEnd::Exited0 : ChildEnd::Failed;
            break;
        }
        if (cancelled(cancel) || Clock::now() >= deadline) {
            terminateChild(pid, pidfd);
            end = cancelled(cancel) ? ChildEnd::Cancelled : ChildEnd::Failed;
            break;
        }
        if (tick) tick();
    }
    if (pidfd >= 0) ::close(pidfd);
    return end;
}

// True when the file is a 44.1 kHz 16-bit stereo PCM WAV with at least one
// sample louder than the synthesizer's dither, which fills even a render
// without a note with values of a few steps.
bool hasSound(const fs::path& path) {
    CWaveFile wave;
    WaveFormatEx format;
    if (wave.Open(path, &format, CWaveFile::kModeRead) != S_OK) return false;
    if (format.wFormatTag != kWaveFormatPcm || format.nChannels != 2 || format.wBitsPerSample != 16 ||
        format.nSamplesPerSec != kSampleRate) {
        return false;
    }
    std::vector<std::int16_t> block(32 * 1024);
    while (true) {
        std::uint32_t read = 0;
        if (wave.Read(block.data(), static_cast<std::uint32_t>(block.size() * 2), &read) != S_OK || read < 2) {
            return false;
        }
        for (std::uint32_t i = 0; i < read / 2; ++i) {
            if (block[i] >= kSoundLevel || block[i] <= -kSoundLevel) return true;
        }
    }
}

fs::path configPath(const SoftSynthState& state) { return state.dataFolder / kTimidityConfigName; }

fs::path patchFolderOf(const SoftSynthState& state) {
    return fs::absolute(state.patchFolder.empty() ? platform::programFolder() : state.patchFolder);
}

enum class RenderEnd { Rendered, Failed, Cancelled, NotStarted };

// One render through a temporary twin of wav that replaces it only on success.
RenderEnd renderOnce(SoftSynthState& state, const fs::path& midi, const fs::path& wav, std::uint32_t expectedMs,
                     const std::function<void(std::uint32_t)>& progress, const std::atomic<int>* cancel) {
    const fs::path target = fs::absolute(wav);
    fs::path temp = target;
    temp += ".part";
    std::error_code ec;
    fs::remove(temp, ec);
    const fs::path program = findProgram(state.program);
    if (program.empty()) return RenderEnd::NotStarted;

    std::uint32_t reported = 0;
    auto tick = [&] {
        if (!progress) return;
        const std::uintmax_t size = fs::file_size(temp, ec);
        if (ec || size <= kWaveHeaderBytes) return;
        const std::uint64_t ms = (size - kWaveHeaderBytes) * 1000 / kBytesPerSecond;
        const auto now = static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, expectedMs));
        if (now != reported) progress(reported = now);
    };
    const auto limit = kTimeMargin + std::chrono::milliseconds(2 * static_cast<std::uint64_t>(expectedMs));
    const ChildEnd end = runChild(program, cnvTimidityArguments(state, midi, temp), cancel, limit, tick);

    RenderEnd result = RenderEnd::Failed;
    if (end == ChildEnd::NotStarted) result = RenderEnd::NotStarted;
    if (end == ChildEnd::Cancelled) result = RenderEnd::Cancelled;
    if (end == ChildEnd::Exited0 && hasSound(temp)) {
        fs::rename(temp, target, ec);
        if (!ec) result = RenderEnd::Rendered;
    }
    if (result != RenderEnd::Rendered) fs::remove(temp, ec);
    if (result == RenderEnd::Rendered && progress && reported != expectedMs) progress(expectedMs);
    return result;
}

// Renders the probe note with the configuration as it stands, in a private
// folder that is removed afterwards.
RenderEnd probe(SoftSynthState& state, const std::atomic<int>* cancel) {
    std::error_code ec;
    std::string pattern = (fs::temp_directory_path(ec) / "qvp3-synth-XXXXXX").string();
    if (ec || ::mkdtemp(pattern.data()) == nullptr) return RenderEnd::Failed;
    const fs::path folder = pattern;
    const fs::path midi = folder / "probe.mid";
    RenderEnd end = RenderEnd::Failed;
    if (platform::writeFileAtomically(
            midi, std::string_view(reinterpret_cast<const char*>(kProbeMidi.data()), kProbeMidi.size()))) {
        end = renderOnce(state, midi, folder / "probe.wav", 500, {}, cancel);
    }
    fs::remove_all(folder, ec);
    return end;
}

void rememberVerified(SoftSynthState& state) {
    std::error_code ec;
    state.verifiedSize = fs::file_size(configPath(state), ec);
    state.verifiedTime = fs::last_write_time(configPath(state), ec);
    state.verified = !ec;
}

bool stillVerified(const SoftSynthState& state) {
    if (!state.verified) return false;
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(configPath(state), ec);
    if (ec) return false;
    const fs::file_time_type time = fs::last_write_time(configPath(state), ec);
    return !ec && size == state.verifiedSize && time == state.verifiedTime;
}

}  // namespace

const std::vector<std::string>& cnvSoundSetFiles() {
    static const std::vector<std::string> files = {"mt-32.cfg", "xgmap2.cfg", "gssfx.cfg", "gsdrums.cfg",
                                                   "gravis.cfg"};
    return files;
}

std::string cnvTimidityConfigText(const fs::path& patchFolder) {
    const fs::path folder = fs::absolute(patchFolder);
    const fs::path soundSet = folder / kSoundSetFolderName;
    std::string text;
    text += "dir \"" + folder.string() + "\"\n";
    text += "dir \"" + soundSet.string() + "\"\n";
    // Absolute, so that nothing in the working folder is read in their place.
    for (const char* name : {"gravis.cfg", "gsdrums.cfg", "gssfx.cfg", "xgmap2.cfg"}) {
        text += "source \"" + (soundSet / name).string() + "\"\n";
    }
    return text;
}

void cnvWriteTimidityConfig(SoftSynthState& state, const fs::path& folder, bool force) {
    const fs::path path = configPath(state);
    std::error_code ec;
    if (!force && fs::exists(path, ec)) {
        state.patchFolder = folder;
        return;
    }
    // Replaced through a temporary file rather than deleted first: a failed
    // write keeps the old file.
    if (platform::writeFileAtomically(path, cnvTimidityConfigText(folder))) state.patchFolder = folder;
}

std::vector<std::string> cnvTimidityArguments(const SoftSynthState& state, const fs::path& midi,
                                              const fs::path& output) {
    const fs::path soundSet = patchFolderOf(state) / kSoundSetFolderName;
    std::vector<std::string> args = {findProgram(state.program).string(), "-c",
                                     fs::absolute(configPath(state)).string()};
    // The sound set is read once more after the configuration: the MT-32 map
    // is named nowhere else.
    for (const std::string& name : cnvSoundSetFiles()) {
        args.push_back("-c");
        args.push_back((soundSet / name).string());
    }
    for (const char* a : {"-Ow1S", "-s", "44100", "-o"}) args.emplace_back(a);
    args.push_back(fs::absolute(output).string());
    args.push_back(fs::absolute(midi).string());
    return args;
}

bool cnvTimidityReady(const SoftSynthState& state) {
    return !findProgram(state.program).empty() && stillVerified(state);
}

int cnvInitTimidity(SoftSynthState& state, const std::atomic<int>* cancel) {
    if (findProgram(state.program).empty()) return kSynthNotFound;
    if (stillVerified(state)) return 0;
    while (true) {
        const RenderEnd end = probe(state, cancel);
        if (end == RenderEnd::NotStarted) return kSynthNotFound;
        if (end == RenderEnd::Cancelled) return kSynthSetupCancelled;
        if (end == RenderEnd::Rendered) {
            rememberVerified(state);
            return 0;
        }
        state.verified = false;
        if (state.configRewritten) return kSynthSetupFailed;
        cnvWriteTimidityConfig(state, patchFolderOf(state), true);
        state.configRewritten = true;
    }
}

bool cnvTimidityRender(SoftSynthState& state, const fs::path& midi, const fs::path& wav, std::uint32_t expectedMs,
                       const std::function<void(std::uint32_t ms)>& progress, const std::atomic<int>* cancel) {
    return renderOnce(state, midi, wav, expectedMs, progress, cancel) == RenderEnd::Rendered;
}

}  // namespace qvp3
