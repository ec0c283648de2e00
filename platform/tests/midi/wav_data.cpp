#include "wav_data.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string_view>

namespace platform::testing {
namespace {

std::uint32_t le32(const std::vector<unsigned char>& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::uint16_t le16(const std::vector<unsigned char>& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

bool tagIs(const std::vector<unsigned char>& bytes, std::size_t at, std::string_view tag) {
    return std::equal(tag.begin(), tag.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace

int WavData::peak(std::size_t beginFrame, std::size_t endFrame) const {
    const auto channelCount = static_cast<std::size_t>(channels);
    const std::size_t end = std::min(endFrame, frames()) * channelCount;
    int result = 0;
    for (std::size_t i = beginFrame * channelCount; i < end; ++i) result = std::max(result, std::abs(int{samples[i]}));
    return result;
}

std::optional<WavData> readWav(const std::filesystem::path& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (bytes.size() < 12 || !tagIs(bytes, 0, "RIFF") || !tagIs(bytes, 8, "WAVE")) {
        error = "not a RIFF WAVE file";
        return std::nullopt;
    }
    WavData wav;
    bool haveFormat = false;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        const std::size_t size = le32(bytes, at + 4);
        const std::size_t body = at + 8;
        if (size > bytes.size() - body) {
            error = "a chunk runs past the end of the file";
            return std::nullopt;
        }
        if (tagIs(bytes, at, "fmt ") && size >= 16) {
            if (le16(bytes, body) != 1 || le16(bytes, body + 14) != 16) {
                error = "not 16-bit PCM";
                return std::nullopt;
            }
            wav.channels = le16(bytes, body + 2);
            wav.sampleRate = static_cast<int>(le32(bytes, body + 4));
            haveFormat = true;
        } else if (tagIs(bytes, at, "data")) {
            if (!haveFormat) {
                error = "data chunk before the format chunk";
                return std::nullopt;
            }
            for (std::size_t i = 0; i + 1 < size; i += 2)
                wav.samples.push_back(static_cast<std::int16_t>(le16(bytes, body + i)));
            return wav;
        }
        at = body + size + (size & 1);
    }
    error = "no data chunk";
    return std::nullopt;
}

}  // namespace platform::testing
