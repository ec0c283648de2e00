// Reads back the 16-bit PCM WAV files the synthesizer tests render, walking
// the RIFF chunks so that any extra chunk the writer adds is skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform::testing {

struct WavData {
    int channels = 0;
    int sampleRate = 0;
    std::vector<std::int16_t> samples;  // interleaved

    std::size_t frames() const { return channels > 0 ? samples.size() / static_cast<std::size_t>(channels) : 0; }
    // The largest magnitude in frames [begin, end), clamped to the data.
    int peak(std::size_t beginFrame, std::size_t endFrame) const;
};

// Nothing, with error set, when the file is not a 16-bit PCM WAV or a chunk
// runs past the end.
std::optional<WavData> readWav(const std::filesystem::path& path, std::string& error);

}  // namespace platform::testing
