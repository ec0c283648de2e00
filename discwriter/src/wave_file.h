// WAV files of the disc writer: the header of a track's file (where its audio
// is and whether it is CD audio) and the writer of ripped tracks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform { class AtomicFileWriter; }

namespace discwriter {

struct WaveFormat {
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t samplesPerSec = 0;
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
};

struct WaveInfo {
    WaveFormat format;
    std::uint64_t dataOffset = 0;
    std::uint64_t dataBytes = 0;  // cut to what the file holds
};

// Reads up to n bytes at an offset; returns how many it read.
using ReadAt = std::function<std::size_t(std::uint64_t offset, void* buffer, std::size_t n)>;

// Walks the RIFF chunks of a file of `size` bytes: "RIFF"/"WAVE", a "fmt " of at
// least 16 bytes and a "data" chunk. Nothing when the file is no WAV file; `why`
// says what is wrong.
std::optional<WaveInfo> parseWave(const ReadAt& readAt, std::uint64_t size, std::string& why);
std::optional<WaveInfo> readWaveInfo(const std::filesystem::path& path, std::string& why);

// 44100 Hz, 16-bit, stereo PCM: the only audio a CD holds.
bool isCdAudio(const WaveFormat& format);
WaveFormat cdAudioFormat();
// "22050 Hz, 8-bit, 1 channel(s), format 1" for messages.
std::string describe(const WaveFormat& format);

// Writes a CD-audio WAV file of a known data size through a temporary file
// beside the target, which replaces the target only at commit.
class WaveWriter {
public:
    explicit WaveWriter(std::filesystem::path target);
    ~WaveWriter();
    bool open(std::uint32_t dataBytes);
    bool write(const void* data, std::size_t size);
    bool commit();  // false when fewer bytes came than announced
    void discard();
    const std::string& error() const { return error_; }

private:
    std::unique_ptr<platform::AtomicFileWriter> file_;
    std::uint32_t expected_ = 0;
    std::uint64_t written_ = 0;
    std::string error_;
};

}  // namespace discwriter
