// The encoder settings record: records laid out by hand at the offsets the
// Windows system writes read to the right settings and are written back byte
// for byte; damaged records never crash the reader.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "qvp3_project/mp3_config.h"
#include "qvp3_project/project.h"

namespace qvp3 {
namespace {

// A record built byte by byte, independent of the reader's field table.
class RecordBytes {
public:
    RecordBytes& u32(std::size_t offset, std::uint32_t v) { return put(offset, v, 4); }
    RecordBytes& u16(std::size_t offset, std::uint16_t v) { return put(offset, v, 2); }
    RecordBytes& u8(std::size_t offset, std::uint8_t v) { return put(offset, v, 1); }
    const Mp3Config& bytes() const { return bytes_; }

private:
    RecordBytes& put(std::size_t offset, std::uint32_t v, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) bytes_[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
        return *this;
    }
    Mp3Config bytes_{};
};

// The LAME member with the fields every record of the Windows program has.
RecordBytes lameRecord(std::uint32_t mode, std::uint32_t bitrate, std::uint32_t vbr, std::uint32_t vbrQuality) {
    RecordBytes r;
    r.u32(0, 256).u32(4, 1).u32(8, 331).u32(12, 44100).u32(16, 0).u32(20, mode).u32(24, bitrate).u32(28, 320);
    r.u32(32, 0xFFFFFFFFu).u32(36, 1).u32(48, 1).u32(56, 1).u32(60, 1).u32(64, 1).u32(68, vbr).u32(72, vbrQuality);
    return r;
}

TEST(Mp3Config, HandMadeRecordsReadToTheirSettingsAndWriteBackIdentically) {
    struct Case {
        const char* name;
        Mp3Config bytes;
        std::int32_t mode;
        std::uint32_t bitrate;
        std::int32_t vbr;
        std::int32_t vbrQuality;
        std::uint16_t quality;
    };
    const Case cases[] = {
        {"CBR 128 joint stereo", lameRecord(1, 128, 0, 5).bytes(), 1, 128, 0, 5, 0},
        {"VBR quality 2", lameRecord(1, 96, 1, 2).u32(80, 3).bytes(), 1, 96, 1, 2, 0},
        {"mono 64, quality 2 set", lameRecord(3, 64, 0, 5).u16(92, 0xFD02).bytes(), 3, 64, 0, 5, 0xFD02},
        {"reserved bytes kept", lameRecord(0, 192, 0, 5).u8(200, 0xAB).u8(330, 0x7F).bytes(), 0, 192, 0, 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BE_CONFIG config = beReadConfig(c.bytes);
        EXPECT_EQ(config.dwConfig, BE_CONFIG_LAME);
        EXPECT_EQ(config.LHV1.dwStructSize, 331u);
        EXPECT_EQ(config.LHV1.dwSampleRate, 44100u);
        EXPECT_EQ(config.LHV1.nMode, c.mode);
        EXPECT_EQ(config.LHV1.dwBitrate, c.bitrate);
        EXPECT_EQ(config.LHV1.dwMaxBitrate, 320u);
        EXPECT_EQ(config.LHV1.nPreset, LQP_NOPRESET);
        EXPECT_EQ(config.LHV1.bCRC, 0);
        EXPECT_EQ(config.LHV1.bCopyright, 1);
        EXPECT_EQ(config.LHV1.bEnableVBR, c.vbr);
        EXPECT_EQ(config.LHV1.nVBRQuality, c.vbrQuality);
        EXPECT_EQ(config.LHV1.nQuality, c.quality);
        EXPECT_EQ(beWriteConfig(config), c.bytes);
    }
}

TEST(Mp3Config, PlainMp3MemberSharesTheUnionAndKeepsTheBytesBehindIt) {
    RecordBytes r;
    r.u32(0, 0).u32(4, 22050).u8(8, 3).u16(9, 56).u32(11, 0).u32(15, 1).u32(19, 0).u32(23, 1).u8(100, 9);
    BE_CONFIG config = beReadConfig(r.bytes());
    EXPECT_EQ(config.mp3, (BE_CONFIG_FORMAT_MP3{22050, 3, 56, 0, 1, 0, 1}));
    EXPECT_EQ(beWriteConfig(config), r.bytes());

    config.mp3.wBitrate = 320;
    const Mp3Config changed = beWriteConfig(config);
    EXPECT_EQ(changed[9], 0x40);
    EXPECT_EQ(changed[10], 0x01);
    EXPECT_EQ(changed[100], 9) << "bytes the plain member does not use stay";
}

TEST(Mp3Config, DefaultsFollowTheFirstField) {
    RecordBytes lame = lameRecord(1, 128, 1, 5);
    lame.u32(32, 0).u32(84, 1);  // normal quality preset, no bit reservoir
    BE_CONFIG config;
    config.dwConfig = BE_CONFIG_LAME;
    cnvDefaultMp3Config(config);
    EXPECT_EQ(beWriteConfig(config), lame.bytes());

    BE_CONFIG plain;
    plain.dwConfig = BE_CONFIG_MP3;
    cnvDefaultMp3Config(plain);
    EXPECT_EQ(plain.mp3, (BE_CONFIG_FORMAT_MP3{44100, 0, 128, 1, 0, 1, 1}));

    BE_CONFIG other;
    other.dwConfig = 2;
    other.LHV1.dwBitrate = 7;
    cnvDefaultMp3Config(other);
    EXPECT_EQ(other.LHV1.dwBitrate, 7u) << "another encoder's member is left alone";

    Project project;
    EXPECT_EQ(project.mp3Config, lame.bytes()) << "a new project starts with the defaults";
}

TEST(Mp3Config, DamagedRecordsNeverCrashTheReader) {
    const Mp3Config good = lameRecord(1, 128, 1, 5).bytes();
    for (const std::size_t size : {std::size_t{0}, std::size_t{4}, std::size_t{330}, std::size_t{332}}) {
        std::vector<std::uint8_t> bytes(size, 0x5A);
        BE_CONFIG config;
        config.LHV1.dwBitrate = 99;
        EXPECT_FALSE(beReadConfig(bytes, config)) << size << " bytes";
        EXPECT_EQ(config.LHV1.dwBitrate, 99u) << "a refused record changes nothing";
    }
    std::mt19937 random(331);
    for (int round = 0; round < 500; ++round) {
        Mp3Config bytes = good;
        const int flips = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < flips; ++i) bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random());
        EXPECT_EQ(beWriteConfig(beReadConfig(bytes)), bytes) << "round " << round;
    }
}

}  // namespace
}  // namespace qvp3
