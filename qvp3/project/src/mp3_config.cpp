#include "qvp3_project/mp3_config.h"

#include <algorithm>
#include <type_traits>

namespace qvp3 {
namespace {

constexpr std::size_t kConfigOffset = 0;
constexpr std::size_t kReservedOffset = 94;
static_assert(kReservedOffset + kBeReservedSize == kMp3ConfigSize, "the record is 331 bytes");

// The LAME member's fields with their offsets: the one table the reader and
// the writer walk. C is the member, const or not; f(offset, field) sees each
// field as the integer type it is stored as.
template <class C, class F>
void walkLame(C& c, F&& f) {
    f(4, c.dwStructVersion);
    f(8, c.dwStructSize);
    f(12, c.dwSampleRate);
    f(16, c.dwReSampleRate);
    f(20, c.nMode);
    f(24, c.dwBitrate);
    f(28, c.dwMaxBitrate);
    f(32, c.nPreset);
    f(36, c.dwMpegVersion);
    f(40, c.dwPsyModel);
    f(44, c.dwEmphasis);
    f(48, c.bPrivate);
    f(52, c.bCRC);
    f(56, c.bCopyright);
    f(60, c.bOriginal);
    f(64, c.bWriteVBRHeader);
    f(68, c.bEnableVBR);
    f(72, c.nVBRQuality);
    f(76, c.dwVbrAbr_bps);
    f(80, c.nVbrMethod);
    f(84, c.bNoRes);
    f(88, c.bStrictIso);
    f(92, c.nQuality);
}

template <class C, class F>
void walkMp3(C& c, F&& f) {
    f(4, c.dwSampleRate);
    f(8, c.byMode);
    f(9, c.wBitrate);
    f(11, c.bPrivate);
    f(15, c.bCRC);
    f(19, c.bCopyright);
    f(23, c.bOriginal);
}

struct Reader {
    std::span<const std::uint8_t> bytes;
    template <class T>
    void operator()(std::size_t offset, T& field) const {
        using U = std::make_unsigned_t<T>;
        U value = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<U>(U{bytes[offset + i]} << (8 * i));
        field = static_cast<T>(value);
    }
};

struct Writer {
    Mp3Config& bytes;
    template <class T>
    void operator()(std::size_t offset, const T& field) const {
        const auto value = static_cast<std::make_unsigned_t<T>>(field);
        for (std::size_t i = 0; i < sizeof(T); ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
};

}  // namespace

bool beReadConfig(std::span<const std::uint8_t> bytes, BE_CONFIG& config) {
    if (bytes.size() != kMp3ConfigSize) return false;
    const Reader read{bytes};
    read(kConfigOffset, config.dwConfig);
    walkLame(config.LHV1, read);
    std::copy_n(bytes.begin() + kReservedOffset, kBeReservedSize, config.LHV1.btReserved.begin());
    walkMp3(config.mp3, read);
    return true;
}

BE_CONFIG beReadConfig(const Mp3Config& bytes) {
    BE_CONFIG config;
    beReadConfig(std::span<const std::uint8_t>(bytes), config);
    return config;
}

Mp3Config beWriteConfig(const BE_CONFIG& config) {
    Mp3Config bytes{};
    const Writer write{bytes};
    write(kConfigOffset, config.dwConfig);
    walkLame(config.LHV1, write);
    std::copy(config.LHV1.btReserved.begin(), config.LHV1.btReserved.end(), bytes.begin() + kReservedOffset);
    if (config.dwConfig == BE_CONFIG_MP3) walkMp3(config.mp3, write);
    return bytes;
}

void cnvDefaultMp3Config(BE_CONFIG& config) {
    if (config.dwConfig == BE_CONFIG_LAME) {
        BE_CONFIG_FORMAT_LHV1& c = config.LHV1;
        c = {};
        c.dwStructVersion = 1;
        c.dwStructSize = static_cast<std::uint32_t>(kMp3ConfigSize);
        c.dwSampleRate = 44100;
        c.nMode = BE_MP3_MODE_JSTEREO;
        c.dwBitrate = 128;
        c.dwMaxBitrate = 320;
        c.nPreset = LQP_NORMAL_QUALITY;
        c.dwMpegVersion = MPEG1;
        c.bPrivate = c.bCopyright = c.bOriginal = 1;
        c.bWriteVBRHeader = c.bEnableVBR = 1;
        c.nVBRQuality = 5;
        c.nVbrMethod = VBR_METHOD_DEFAULT;
        c.bNoRes = 1;
    } else if (config.dwConfig == BE_CONFIG_MP3) {
        config.mp3 = {44100, static_cast<std::uint8_t>(BE_MP3_MODE_STEREO), 128, 1, 0, 1, 1};
    }
}

}  // namespace qvp3
