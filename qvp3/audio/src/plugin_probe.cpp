// Probing plug-ins in a helper process, and the verdicts kept per file.
#include "qvp3_audio/plugin_probe.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/files.h"
#include "platform/settings_store.h"
#include "qvp3_audio/vst_host.h"

extern char** environ;

namespace qvp3 {
namespace {

using namespace qvp3::vst;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kAnswerHead = "qvp3-vstprobe 1";
constexpr std::string_view kRefused = "refused";
constexpr std::size_t kMaxAnswer = 64 * 1024;

// The fields of the answer, in the order they are written.
struct Field {
    const char* key;
    std::string PlugInIdentity::*text;
    std::int32_t PlugInIdentity::*number;
};
constexpr Field kFields[] = {
    {"name", &PlugInIdentity::displayName, nullptr},
    {"vendor", &PlugInIdentity::vendor, nullptr},
    {"product", &PlugInIdentity::product, nullptr},
    {"id", nullptr, &PlugInIdentity::uniqueId},
    {"version", nullptr, &PlugInIdentity::version},
    {"vstversion", nullptr, &PlugInIdentity::vstVersion},
    {"flags", nullptr, &PlugInIdentity::flags},
    {"category", nullptr, &PlugInIdentity::category},
    {"inputs", nullptr, &PlugInIdentity::numInputs},
    {"outputs", nullptr, &PlugInIdentity::numOutputs},
    {"params", nullptr, &PlugInIdentity::numParams},
    {"programs", nullptr, &PlugInIdentity::numPrograms},
};

std::string oneLine(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    }
    return out;
}

bool parseInt(std::string_view text, std::int32_t& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// The helper's whole output, read until it closes its end or time runs out.
struct Run {
    std::string output;
    bool timedOut = false;
    int waitStatus = 0;
};

bool spawnHelper(const std::filesystem::path& helper, const std::filesystem::path& plugin, int outFd, pid_t& pid,
                 std::string& error) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // A dying plug-in's own messages are not ours to show.
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const std::string helperText = helper.string();
    const std::string pluginText = plugin.string();
    char* argv[] = {const_cast<char*>(helperText.c_str()), const_cast<char*>(pluginText.c_str()), nullptr};
    const int rc = posix_spawn(&pid, helperText.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) error = std::strerror(rc);
    return rc == 0;
}

Run collect(int fd, pid_t pid, std::chrono::milliseconds timeout) {
    Run run;
    const auto deadline = Clock::now() + timeout;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            run.timedOut = true;
            break;
        }
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) continue;  // the deadline is checked above
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the helper closed its output
        if (run.output.size() < kMaxAnswer) run.output.append(buffer, static_cast<std::size_t>(n));
    }
    if (run.timedOut) kill(pid, SIGKILL);
    while (waitpid(pid, &run.waitStatus, 0) < 0 && errno == EINTR) {
    }
    return run;
}

std::string describeExit(int status) {
    if (WIFSIGNALED(status)) return std::string("ended by signal ") + std::to_string(WTERMSIG(status));
    if (WIFEXITED(status)) return "exited with code " + std::to_string(WEXITSTATUS(status)) + " without an answer";
    return "ended without an answer";
}

}  // namespace

bool PlugInIdentity::isSynth() const { return (flags & effFlagsIsSynth) != 0; }
bool PlugInIdentity::hasEditor() const { return (flags & effFlagsHasEditor) != 0; }

const char* audProbeStatusName(PlugInProbeStatus status) {
    switch (status) {
        case PlugInProbeStatus::Ok: return "ok";
        case PlugInProbeStatus::Refused: return "refused";
        case PlugInProbeStatus::Crashed: return "crashed";
        case PlugInProbeStatus::Hung: return "hung";
        case PlugInProbeStatus::NoHelper: return "no helper";
    }
    return "?";
}

std::filesystem::path audProbeHelperPath() { return platform::programFolder() / kVstProbeProgram; }

std::string audFormatProbeAnswer(const PlugInIdentity& identity) {
    std::string out(kAnswerHead);
    out += '\n';
    for (const Field& f : kFields) {
        out += f.key;
        out += '=';
        out += f.text ? oneLine(identity.*f.text) : std::to_string(identity.*f.number);
        out += '\n';
    }
    out += "end\n";
    return out;
}

std::optional<PlugInIdentity> audParseProbeAnswer(std::string_view text) {
    PlugInIdentity identity;
    bool head = false;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        if (eol == std::string_view::npos) return std::nullopt;  // a cut line
        const std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol + 1);
        if (!head) {
            if (line != kAnswerHead) return std::nullopt;
            head = true;
            continue;
        }
        if (line == "end") return identity;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) return std::nullopt;
        const std::string_view key = line.substr(0, eq);
        const std::string_view value = line.substr(eq + 1);
        for (const Field& f : kFields) {
            if (key != f.key) continue;
            if (f.text) {
                identity.*f.text = std::string(value);
            } else if (!parseInt(value, identity.*f.number)) {
                return std::nullopt;
            }
        }
        // Keys of a later helper are passed over.
    }
    return std::nullopt;
}

int audProbeMain(const std::filesystem::path& plugin, std::FILE* out) {
    CVSTHost host;
    const int slot = host.LoadPlugIn(plugin);
    CEffect* effect = host.GetEffect(slot);
    if (effect == nullptr) {
        std::fprintf(out, "%s\n%s\n", kAnswerHead.data(), kRefused.data());
        std::fflush(out);
        return 2;
    }
    PlugInIdentity id;
    const AEffect& a = *effect->aeffect();
    id.displayName = host.GetPlugInDisplayName(slot);
    id.vendor = effect->EffGetVendorString();
    id.product = effect->EffGetProductString();
    id.uniqueId = a.uniqueID;
    id.version = a.version;
    id.vstVersion = effect->EffGetVstVersion();
    id.flags = a.flags;
    id.category = static_cast<std::int32_t>(effect->EffDispatch(effGetPlugCategory));
    id.numInputs = a.numInputs;
    id.numOutputs = a.numOutputs;
    id.numParams = a.numParams;
    id.numPrograms = a.numPrograms;
    // Closed and released before the answer: a plug-in that dies there is no better.
    host.RemoveAll();
    const std::string answer = audFormatProbeAnswer(id);
    std::fwrite(answer.data(), 1, answer.size(), out);
    std::fflush(out);
    return 0;
}

PlugInProbeResult audProbePlugIn(const std::filesystem::path& plugin, const std::filesystem::path& helper,
                                 std::chrono::milliseconds timeout) {
    PlugInProbeResult result;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(plugin, ec)) {
        result.status = PlugInProbeStatus::Refused;
        result.detail = "no such file";
        return result;
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        result.detail = std::strerror(errno);
        return result;
    }
    pid_t pid = 0;
    std::string error;
    const bool started = spawnHelper(helper, plugin, fds[1], pid, error);
    close(fds[1]);
    if (!started) {
        close(fds[0]);
        result.detail = helper.string() + ": " + error;
        return result;
    }
    const Run run = collect(fds[0], pid, timeout);
    close(fds[0]);
    if (run.timedOut) {
        result.status = PlugInProbeStatus::Hung;
        result.detail = "no answer within " + std::to_string(timeout.count()) + " ms";
        return result;
    }
    if (WIFEXITED(run.waitStatus) && WEXITSTATUS(run.waitStatus) == 127 && run.output.empty()) {
        result.detail = helper.string() + " could not be run";
        return result;
    }
    if (run.output == std::string(kAnswerHead) + "\n" + std::string(kRefused) + "\n") {
        result.status = PlugInProbeStatus::Refused;
        result.detail = "not a VST 2 plug-in that loads";
        return result;
    }
    if (auto identity = audParseProbeAnswer(run.output);
        identity && WIFEXITED(run.waitStatus) && WEXITSTATUS(run.waitStatus) == 0) {
        result.status = PlugInProbeStatus::Ok;
        result.identity = std::move(*identity);
        return result;
    }
    result.status = PlugInProbeStatus::Crashed;
    result.detail = describeExit(run.waitStatus);
    return result;
}

}  // namespace qvp3
