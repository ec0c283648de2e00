// The MP3 encoder settings of a project: the 331-byte packed record the
// Windows system stores (project key "ProjectBurnMP3"), read and written field
// by field, little-endian, so that a project moves between the systems with
// the same settings.
//
// Layout: dwConfig (4 bytes) and a union of the encoder's formats. The LAME
// member (dwConfig 256) covers the whole union; the plain MP3 member
// (dwConfig 0) its first 23 bytes. Both views are read from the same bytes;
// the writer writes the LAME view and then, for dwConfig 0, the MP3 view over
// it, so that any record read is written back byte for byte.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "qvp3_project/neighbours.h"

namespace qvp3 {

inline constexpr std::uint32_t BE_CONFIG_MP3 = 0;
inline constexpr std::uint32_t BE_CONFIG_LAME = 256;

// nMode / byMode.
inline constexpr std::int32_t BE_MP3_MODE_STEREO = 0;
inline constexpr std::int32_t BE_MP3_MODE_JSTEREO = 1;
inline constexpr std::int32_t BE_MP3_MODE_DUALCHANNEL = 2;
inline constexpr std::int32_t BE_MP3_MODE_MONO = 3;

inline constexpr std::uint32_t MPEG1 = 1;
inline constexpr std::uint32_t MPEG2 = 0;

// nVbrMethod.
inline constexpr std::int32_t VBR_METHOD_NONE = -1;
inline constexpr std::int32_t VBR_METHOD_DEFAULT = 0;
inline constexpr std::int32_t VBR_METHOD_OLD = 1;
inline constexpr std::int32_t VBR_METHOD_NEW = 2;
inline constexpr std::int32_t VBR_METHOD_MTRH = 3;
inline constexpr std::int32_t VBR_METHOD_ABR = 4;

// nPreset (LAME_QUALITY_PRESET).
inline constexpr std::int32_t LQP_NOPRESET = -1;
inline constexpr std::int32_t LQP_NORMAL_QUALITY = 0;
inline constexpr std::int32_t LQP_LOW_QUALITY = 1;
inline constexpr std::int32_t LQP_HIGH_QUALITY = 2;
inline constexpr std::int32_t LQP_VOICE_QUALITY = 3;
inline constexpr std::int32_t LQP_R3MIX = 4;
inline constexpr std::int32_t LQP_VERYHIGH_QUALITY = 5;
inline constexpr std::int32_t LQP_STANDARD = 6;
inline constexpr std::int32_t LQP_FAST_STANDARD = 7;
inline constexpr std::int32_t LQP_EXTREME = 8;
inline constexpr std::int32_t LQP_FAST_EXTREME = 9;
inline constexpr std::int32_t LQP_INSANE = 10;
inline constexpr std::int32_t LQP_ABR = 11;
inline constexpr std::int32_t LQP_CBR = 12;
inline constexpr std::int32_t LQP_MEDIUM = 13;
inline constexpr std::int32_t LQP_FAST_MEDIUM = 14;
inline constexpr std::int32_t LQP_PHONE = 1000;
inline constexpr std::int32_t LQP_SW = 2000;
inline constexpr std::int32_t LQP_AM = 3000;
inline constexpr std::int32_t LQP_FM = 4000;
inline constexpr std::int32_t LQP_VOICE = 5000;
inline constexpr std::int32_t LQP_RADIO = 6000;
inline constexpr std::int32_t LQP_TAPE = 7000;
inline constexpr std::int32_t LQP_HIFI = 8000;
inline constexpr std::int32_t LQP_CD = 9000;
inline constexpr std::int32_t LQP_STUDIO = 10000;

inline constexpr std::size_t kBeReservedSize = 237;

// The plain MP3 member (offsets in the record: 4, 8, 9, 11, 15, 19, 23).
struct BE_CONFIG_FORMAT_MP3 {
    std::uint32_t dwSampleRate = 0;
    std::uint8_t byMode = 0;
    std::uint16_t wBitrate = 0;
    std::int32_t bPrivate = 0;
    std::int32_t bCRC = 0;
    std::int32_t bCopyright = 0;
    std::int32_t bOriginal = 0;
    bool operator==(const BE_CONFIG_FORMAT_MP3&) const = default;
};

// The LAME member, from offset 4 on, 4 bytes a field unless noted.
struct BE_CONFIG_FORMAT_LHV1 {
    std::uint32_t dwStructVersion = 0;  // 4
    std::uint32_t dwStructSize = 0;     // 8
    std::uint32_t dwSampleRate = 0;     // 12
    std::uint32_t dwReSampleRate = 0;   // 16
    std::int32_t nMode = 0;             // 20
    std::uint32_t dwBitrate = 0;        // 24: CBR bit rate, VBR minimum (kbit/s)
    std::uint32_t dwMaxBitrate = 0;     // 28: VBR maximum
    std::int32_t nPreset = 0;           // 32
    std::uint32_t dwMpegVersion = 0;    // 36
    std::uint32_t dwPsyModel = 0;       // 40
    std::uint32_t dwEmphasis = 0;       // 44
    std::int32_t bPrivate = 0;          // 48
    std::int32_t bCRC = 0;              // 52
    std::int32_t bCopyright = 0;        // 56
    std::int32_t bOriginal = 0;         // 60
    std::int32_t bWriteVBRHeader = 0;   // 64
    std::int32_t bEnableVBR = 0;        // 68
    std::int32_t nVBRQuality = 0;       // 72
    std::uint32_t dwVbrAbr_bps = 0;     // 76
    std::int32_t nVbrMethod = 0;        // 80
    std::int32_t bNoRes = 0;            // 84
    std::int32_t bStrictIso = 0;        // 88
    std::uint16_t nQuality = 0;         // 92, 2 bytes: used when its high byte is the low byte inverted
    std::array<std::uint8_t, kBeReservedSize> btReserved{};  // 94 .. 330
    bool operator==(const BE_CONFIG_FORMAT_LHV1&) const = default;
};

struct BE_CONFIG {
    std::uint32_t dwConfig = BE_CONFIG_LAME;
    BE_CONFIG_FORMAT_MP3 mp3;
    BE_CONFIG_FORMAT_LHV1 LHV1;
    bool operator==(const BE_CONFIG&) const = default;
};

// Reads a stored record; false (config untouched) unless bytes holds exactly
// kMp3ConfigSize bytes.
bool beReadConfig(std::span<const std::uint8_t> bytes, BE_CONFIG& config);
BE_CONFIG beReadConfig(const Mp3Config& bytes);
// The stored form.
Mp3Config beWriteConfig(const BE_CONFIG& config);

// Fills the defaults of the member dwConfig names (LAME: joint stereo,
// 128..320 kbit/s VBR of quality 5 with its header; MP3: stereo 128 kbit/s);
// another dwConfig is left alone.
void cnvDefaultMp3Config(BE_CONFIG& config);

}  // namespace qvp3
