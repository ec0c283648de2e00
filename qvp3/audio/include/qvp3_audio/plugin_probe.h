// Probing a plug-in before the program loads it: a helper process of ours
// ("qvp3-vstprobe" in the program folder) loads the library, opens the
// plug-in, reads who it is and answers on its standard output. A plug-in that
// crashes, hangs or refuses to load takes only the helper down; the program
// marks it bad and never loads it into its own process.
//
// The answer is one "key=value" line per field between "qvp3-vstprobe 1" and
// "end"; values are single-line text (control characters become blanks).
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {
class SettingsStore;
}

namespace qvp3 {

inline constexpr const char* kVstProbeProgram = "qvp3-vstprobe";
// How long a plug-in may take to load, open and answer.
inline constexpr std::chrono::milliseconds kVstProbeTimeout{15000};

// What a plug-in says of itself once opened.
struct PlugInIdentity {
    std::string displayName;  // its effect name, else its file name without extension
    std::string vendor;
    std::string product;
    std::int32_t uniqueId = 0;
    std::int32_t version = 0;
    std::int32_t vstVersion = 0;
    std::int32_t flags = 0;     // AEffect flags
    std::int32_t category = 0;  // effGetPlugCategory
    std::int32_t numInputs = 0;
    std::int32_t numOutputs = 0;
    std::int32_t numParams = 0;
    std::int32_t numPrograms = 0;

    bool isSynth() const;
    bool hasEditor() const;
    bool operator==(const PlugInIdentity&) const = default;
};

enum class PlugInProbeStatus {
    Ok,        // loaded and answered
    Refused,   // no library, no entry point, no valid AEffect, or an exception
    Crashed,   // the helper died without an answer
    Hung,      // no answer within the time limit; the helper was ended
    NoHelper,  // the helper could not be started: nothing is known of the plug-in
};

struct PlugInProbeResult {
    PlugInProbeStatus status = PlugInProbeStatus::NoHelper;
    PlugInIdentity identity;  // only for Ok
    std::string detail;       // why, for the other states

    bool ok() const { return status == PlugInProbeStatus::Ok; }
    // A plug-in never to be loaded into the program.
    bool bad() const {
        return status == PlugInProbeStatus::Refused || status == PlugInProbeStatus::Crashed ||
               status == PlugInProbeStatus::Hung;
    }
};

const char* audProbeStatusName(PlugInProbeStatus status);

// The helper beside the running program.
std::filesystem::path audProbeHelperPath();
// Runs the helper on one plug-in and waits at most timeout for its answer.
PlugInProbeResult audProbePlugIn(const std::filesystem::path& plugin,
                                 const std::filesystem::path& helper = audProbeHelperPath(),
                                 std::chrono::milliseconds timeout = kVstProbeTimeout);

// The helper's side: loads the plug-in in this process and writes the answer
// (or "refused") to out. The exit code for the helper.
int audProbeMain(const std::filesystem::path& plugin, std::FILE* out);
std::string audFormatProbeAnswer(const PlugInIdentity& identity);
// The identity of a complete answer; nothing for a cut or foreign one.
std::optional<PlugInIdentity> audParseProbeAnswer(std::string_view text);

// What was learnt of each plug-in file, kept in the settings store so that a
// plug-in is probed once and a bad one is never loaded, until its file
// changes (size or time). Values of the key "<program key>\PlugInProbe":
// the file's path = "<ok|bad>|<size>|<time in ns>|<detail>".
class CPlugInProbeCache {
public:
    explicit CPlugInProbeCache(platform::SettingsStore& store) : store_(store) {}

    // The stored verdict of a file that has not changed since; nothing when
    // it is unknown or changed.
    std::optional<PlugInProbeResult> Lookup(const std::filesystem::path& plugin) const;
    void Record(const std::filesystem::path& plugin, const PlugInProbeResult& result);
    // The stored verdict, else a probe (recorded unless the helper was missing).
    PlugInProbeResult Check(const std::filesystem::path& plugin,
                            const std::filesystem::path& helper = audProbeHelperPath(),
                            std::chrono::milliseconds timeout = kVstProbeTimeout);
    // A fresh probe, recorded; for a scan, which needs the plug-in's identity.
    PlugInProbeResult Probe(const std::filesystem::path& plugin,
                            const std::filesystem::path& helper = audProbeHelperPath(),
                            std::chrono::milliseconds timeout = kVstProbeTimeout);

private:
    platform::SettingsStore& store_;
};

}  // namespace qvp3
