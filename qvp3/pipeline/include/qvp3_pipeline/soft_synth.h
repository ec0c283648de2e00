// The software synthesizer of MIDI-to-WAV method 0: the TiMidity++ program,
// run as a child process for every render.
//
// Its configuration is "timidity.cfg" in the program's data folder, written at
// start-up: the patch folder (the program folder) and its sound set
// "voxpack" as search folders, then the sound set's four files. The sound set
// ships beside the program and maps every program and drum kit to the General
// MIDI SoundFont of the system. TiMidity++ reads the system's configuration
// before ours, so ours overrides every mapping it relies on.
//
// TiMidity++ exits 0 even when it could not load a single instrument, so
// neither the set-up nor a render trusts its exit status alone: the set-up
// renders a one-note probe and a render counts only when the program exited 0
// and its WAV holds sound.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace qvp3 {

// Results of the set-up.
inline constexpr int kSynthNotFound = -9;         // the synthesizer program cannot be run
inline constexpr int kSynthSetupFailed = -1100;   // failed even after rewriting the configuration
inline constexpr int kSynthSetupCancelled = -5;   // the cancel word became 7 during the set-up

// The value of the cancel word that stops a render.
inline constexpr std::int32_t kSynthCancelWord = 7;

// The configuration file in the data folder, and the sound set's folder in
// the patch folder.
inline constexpr const char* kTimidityConfigName = "timidity.cfg";
inline constexpr const char* kSoundSetFolderName = "voxpack";

// The program's one binding state (created with the application, lives as
// long as it). Renders only read it, so several may run at once on different
// threads; the set-up and the configuration writer change it and must not run
// beside anything else on the same state.
struct SoftSynthState {
    // The synthesizer program: a name looked up in PATH, or a path.
    std::filesystem::path program = "timidity";
    // Where "timidity.cfg" is written.
    std::filesystem::path dataFolder;
    // The folder given to cnvWriteTimidityConfig (the program folder); empty
    // until the configuration was found or written.
    std::filesystem::path patchFolder;
    // Set once the set-up has rewritten the configuration in this run.
    bool configRewritten = false;
    // What the last successful set-up verified: the configuration file's size
    // and time. An unchanged file is not probed again.
    std::uintmax_t verifiedSize = 0;
    std::filesystem::file_time_type verifiedTime{};
    bool verified = false;
};

// The sound set's files, read after "timidity.cfg" in this order.
const std::vector<std::string>& cnvSoundSetFiles();

// The configuration file's text for a patch folder: six lines, each ending
// with a line feed, every path absolute.
std::string cnvTimidityConfigText(const std::filesystem::path& patchFolder);

// Writes dataFolder/"timidity.cfg" for folder. With force an existing file
// is replaced; without it an existing file stays as it is. The file is
// written through a temporary file renamed over it, so a failed write leaves
// the old one. When the file exists or was written, folder becomes the
// state's patch folder; when it cannot be written nothing else changes.
void cnvWriteTimidityConfig(SoftSynthState& state, const std::filesystem::path& folder, bool force);

// Sets the synthesizer up before a render: the program must be runnable
// (else -9) and a one-note probe rendered with the configuration must sound.
// When it does not, the configuration is rewritten (once per run) and the
// probe tried again; a second failure, or any failure after the rewrite of
// this run, gives -1100. A cancel word of 7 during the probe gives -5 and
// leaves the configuration alone. cancel may be null. Answers 0 when set up.
int cnvInitTimidity(SoftSynthState& state, const std::atomic<int>* cancel);

// Whether the last successful set-up still holds: the program is there and
// the configuration unchanged since. Only reads the state, so it may run
// beside renders; cnvInitTimidity answers 0 at once in this case.
bool cnvTimidityReady(const SoftSynthState& state);

// Renders midi into wav (44.1 kHz, 16-bit, stereo) through the set-up
// synthesizer. The output goes to a temporary file beside wav that replaces
// it only when the program exited 0 and the file holds sound; otherwise the
// temporary file is removed and an existing wav stays as it was. progress,
// when given, hears the milliseconds rendered so far (at most expectedMs).
// The cancel word (may be null) is polled; at 7 the program is terminated and
// the result is false. A render that takes longer than the music allows
// (a fixed margin plus twice expectedMs) is stopped as failed. True when
// rendered.
bool cnvTimidityRender(SoftSynthState& state, const std::filesystem::path& midi, const std::filesystem::path& wav,
                       std::uint32_t expectedMs, const std::function<void(std::uint32_t ms)>& progress,
                       const std::atomic<int>* cancel);

// The argument list of one render (the program first), as cnvTimidityRender
// runs it; the benchmark runs the same list directly.
std::vector<std::string> cnvTimidityArguments(const SoftSynthState& state, const std::filesystem::path& midi,
                                              const std::filesystem::path& output);

}  // namespace qvp3
