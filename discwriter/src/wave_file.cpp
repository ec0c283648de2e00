#include "wave_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstring>

#include "platform/atomic_file.h"

namespace discwriter {
namespace {

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

WaveFormat formatFrom(const std::uint8_t* f) {
    WaveFormat w;
    w.formatTag = le16(f);
    w.channels = le16(f + 2);
    w.samplesPerSec = le32(f + 4);
    w.avgBytesPerSec = le32(f + 8);
    w.blockAlign = le16(f + 12);
    w.bitsPerSample = le16(f + 14);
    return w;
}

// The RIFF header's declared size may exceed the file (a file cut short);
// chunks are looked for only inside what the file holds.
std::uint64_t riffEnd(std::uint32_t riffSize, std::uint64_t fileSize) {
    const std::uint64_t declared = 8ull + riffSize;
    return declared < fileSize ? declared : fileSize;
}

}  // namespace

std::optional<WaveInfo> parseWave(const ReadAt& readAt, std::uint64_t size, std::string& why) {
    std::uint8_t head[12];
    if (size < 12 || readAt(0, head, 12) != 12 || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0) {
        why = "not a RIFF WAVE file";
        return std::nullopt;
    }
    const std::uint64_t end = riffEnd(le32(head + 4), size);
    WaveInfo info;
    bool haveFormat = false;
    std::uint64_t pos = 12;
    while (pos + 8 <= end) {
        std::uint8_t chunk[8];
        if (readAt(pos, chunk, 8) != 8) break;
        const std::uint64_t chunkSize = le32(chunk + 4);
        const std::uint64_t body = pos + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            std::uint8_t f[16];
            if (chunkSize < 16 || body + 16 > end || readAt(body, f, 16) != 16) {
                why = "its format chunk is shorter than 16 bytes";
                return std::nullopt;
            }
            info.format = formatFrom(f);
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) break;
            info.dataOffset = body;
            info.dataBytes = std::min<std::uint64_t>(chunkSize, end - body);
            return info;
        }
        pos = body + chunkSize + (chunkSize & 1);  // chunks are word-aligned
    }
    why = haveFormat ? "it has no data chunk" : "it has no format chunk";
    return std::nullopt;
}

std::optional<WaveInfo> readWaveInfo(const std::filesystem::path& path, std::string& why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        why = std::string("it cannot be opened: ") + std::strerror(errno);
        return std::nullopt;
    }
    const off_t size = ::lseek(fd, 0, SEEK_END);
    const ReadAt readAt = [fd](std::uint64_t offset, void* buffer, std::size_t n) -> std::size_t {
        const ssize_t got = ::pread(fd, buffer, n, static_cast<off_t>(offset));
        return got < 0 ? 0 : static_cast<std::size_t>(got);
    };
    auto info = parseWave(readAt, size < 0 ? 0 : static_cast<std::uint64_t>(size), why);
    ::close(fd);
    return info;
}

bool isCdAudio(const WaveFormat& f) {
    return f.formatTag == 1 && f.channels == 2 && f.samplesPerSec == 44100 && f.bitsPerSample == 16 &&
           f.blockAlign == 4;
}

WaveFormat cdAudioFormat() { return WaveFormat{1, 2, 44100, 176400, 4, 16}; }

std::string describe(const WaveFormat& f) {
    return std::to_string(f.samplesPerSec) + " Hz, " + std::to_string(f.bitsPerSample) + "-bit, " +
           std::to_string(f.channels) + " channel(s), format " + std::to_string(f.formatTag);
}

WaveWriter::WaveWriter(std::filesystem::path target)
    : file_(std::make_unique<platform::AtomicFileWriter>(std::move(target))) {}

WaveWriter::~WaveWriter() = default;

// RIFF, a 16-byte "fmt ", a "fact" of 0 and the data chunk, sizes known in advance.
bool WaveWriter::open(std::uint32_t dataBytes) {
    constexpr std::uint32_t kHeader = 12 + 24 + 12 + 8;
    if (dataBytes > 0xFFFFFFFFu - kHeader) {
        error_ = "the track is too long for a WAV file";
        return false;
    }
    if (!file_->open()) {
        error_ = file_->error();
        return false;
    }
    std::array<std::uint8_t, kHeader> h{};
    const WaveFormat f = cdAudioFormat();
    std::memcpy(&h[0], "RIFF", 4);
    put32(&h[4], kHeader - 8 + dataBytes);
    std::memcpy(&h[8], "WAVEfmt ", 8);
    put32(&h[16], 16);
    put16(&h[20], f.formatTag);
    put16(&h[22], f.channels);
    put32(&h[24], f.samplesPerSec);
    put32(&h[28], f.avgBytesPerSec);
    put16(&h[32], f.blockAlign);
    put16(&h[34], f.bitsPerSample);
    std::memcpy(&h[36], "fact", 4);
    put32(&h[40], 4);
    put32(&h[44], 0);
    std::memcpy(&h[48], "data", 4);
    put32(&h[52], dataBytes);
    if (!write(h.data(), h.size())) return false;
    expected_ = dataBytes;
    written_ = 0;  // counts the data chunk's bytes only
    return true;
}

bool WaveWriter::write(const void* data, std::size_t size) {
    if (!file_->write(data, size)) {
        error_ = file_->error();
        return false;
    }
    written_ += size;
    return true;
}

bool WaveWriter::commit() {
    if (written_ != expected_) {
        error_ = "fewer bytes than announced";
        file_->discard();
        return false;
    }
    if (!file_->commit()) {
        error_ = file_->error();
        return false;
    }
    return true;
}

void WaveWriter::discard() { file_->discard(); }

}  // namespace discwriter
