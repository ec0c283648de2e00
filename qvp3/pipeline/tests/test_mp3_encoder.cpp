// The encoder layer: a missing library refuses every call, chunks are bounded
// by what the stream asked for, and damaged settings are refused or encoded,
// never a crash.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "qvp3_pipeline/mp3_encoder.h"

namespace qvp3 {
namespace {

BE_CONFIG defaults() {
    BE_CONFIG c;
    cnvDefaultMp3Config(c);
    return c;
}

TEST(Mp3Encoder, MissingLibraryLoadsNothingAndRefusesEveryCall) {
    CMp3EncoderLib lib;
    EXPECT_FALSE(lib.Load("libmp3lame-not-there.so.0"));
    EXPECT_FALSE(lib.IsLoaded());
    std::uint32_t samples = 0;
    std::uint32_t size = 0;
    HBE_STREAM stream = nullptr;
    EXPECT_EQ(lib.beInitStream(defaults(), {}, &samples, &size, &stream), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(stream, nullptr);
    BE_VERSION version;
    lib.beVersion(&version);
    EXPECT_EQ(version.byMajorVersion, 0);
}

TEST(Mp3Encoder, StreamBoundsItsChunksAndTellsItsVersion) {
    CMp3EncoderLib lib;
    ASSERT_TRUE(lib.Load()) << "libmp3lame is part of the setup";
    BE_VERSION version;
    lib.beVersion(&version);
    EXPECT_EQ(version.byMajorVersion, 3);
    EXPECT_FALSE(version.zHomepage.empty());

    for (const std::uint16_t channels : {std::uint16_t{1}, std::uint16_t{2}}) {
        std::uint32_t samples = 0;
        std::uint32_t size = 0;
        HBE_STREAM stream = nullptr;
        ASSERT_EQ(lib.beInitStream(defaults(), {44100, channels}, &samples, &size, &stream), BE_ERR_SUCCESSFUL);
        EXPECT_EQ(samples, 1152u * channels) << "one MPEG-1 frame of every channel";
        std::vector<std::int16_t> pcm(samples + 2, 1000);
        std::vector<std::uint8_t> out(size);
        std::uint32_t written = 0;
        EXPECT_EQ(lib.beEncodeChunk(stream, samples + 2, pcm.data(), out.data(), &written),
                  BE_ERR_INVALID_FORMAT_PARAMETERS)
            << "more than the stream asked for would overrun the output";
        EXPECT_EQ(lib.beEncodeChunk(stream, samples, pcm.data(), out.data(), &written), BE_ERR_SUCCESSFUL);
        EXPECT_EQ(lib.beDeinitStream(stream, out.data(), &written), BE_ERR_SUCCESSFUL);
        EXPECT_GT(written, 0u);
        EXPECT_EQ(lib.beCloseStream(stream), BE_ERR_SUCCESSFUL);
    }
    std::uint32_t samples = 0;
    std::uint32_t size = 0;
    HBE_STREAM stream = nullptr;
    EXPECT_EQ(lib.beInitStream(defaults(), {44100, 6}, &samples, &size, &stream), BE_ERR_INVALID_FORMAT);
    EXPECT_EQ(lib.beInitStream(defaults(), {1000, 2}, &samples, &size, &stream), BE_ERR_INVALID_FORMAT);
}

TEST(Mp3Encoder, DamagedSettingsAreRefusedOrEncodedNeverACrash) {
    CMp3EncoderLib lib;
    ASSERT_TRUE(lib.Load());
    const Mp3Config good = beWriteConfig(defaults());
    std::mt19937 random(94);
    int accepted = 0;
    int refused = 0;
    for (int round = 0; round < 300; ++round) {
        Mp3Config bytes = good;
        // The fields: the first 94 bytes; small values as often as wild ones.
        for (int i = 0; i < 3; ++i) {
            bytes[random() % 94] = static_cast<std::uint8_t>(random() % 2 ? random() : random() % 12);
        }
        std::uint32_t samples = 0;
        std::uint32_t size = 0;
        HBE_STREAM stream = nullptr;
        if (lib.beInitStream(beReadConfig(bytes), {44100, 2}, &samples, &size, &stream) != BE_ERR_SUCCESSFUL) {
            EXPECT_EQ(stream, nullptr);
            ++refused;
            continue;
        }
        ++accepted;
        std::vector<std::int16_t> pcm(samples, 3000);
        std::vector<std::uint8_t> out(size);
        std::uint32_t written = 0;
        EXPECT_EQ(lib.beEncodeChunk(stream, samples, pcm.data(), out.data(), &written), BE_ERR_SUCCESSFUL);
        EXPECT_LE(written, size);
        EXPECT_EQ(lib.beDeinitStream(stream, out.data(), &written), BE_ERR_SUCCESSFUL);
        EXPECT_LE(written, size);
        lib.beCloseStream(stream);
    }
    EXPECT_GT(accepted, 0);
    EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace qvp3
