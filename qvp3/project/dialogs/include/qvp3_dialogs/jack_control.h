// The settings of a JACK server are made in a control program of their own;
// the audio-output page starts it where one is installed.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace qvp3 {

// The control program that is looked for on the PATH.
inline constexpr const char* kJackControlProgramName = "qjackctl";

// The control program's path, nothing when it is not installed.
std::optional<std::filesystem::path> audFindJackControl();
// Starts it, detached, for the server of that name ("default" or another,
// handed over as JACK_DEFAULT_SERVER). False when it could not be started.
bool audStartJackControl(const std::filesystem::path& program, const std::string& server);

}  // namespace qvp3
