// Shared pieces of the disc writer's tests: CD-audio WAV files made in the
// test, and a library set up with the simulated recorder on a medium of choice.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "discwriter/discwriter.h"
#include "platform/message_target.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"

namespace discwriter::testing {

inline void put32(std::string& s, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}
inline void put16(std::string& s, std::uint16_t v) {
    s.push_back(static_cast<char>(v));
    s.push_back(static_cast<char>(v >> 8));
}

// A WAV file of `frames` frames in the given format, a LIST chunk before the
// data so that readers must walk the chunks; samples follow a seed.
inline std::string makeWav(std::uint32_t frames, std::uint32_t seed, std::uint16_t channels = 2,
                           std::uint32_t rate = 44100, std::uint16_t bits = 16) {
    const std::uint16_t align = static_cast<std::uint16_t>(channels * bits / 8);
    std::string data;
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::uint32_t i = 0; i < frames * align; ++i) {
        x = x * 1103515245u + 12345u;
        data.push_back(static_cast<char>(x >> 16));
    }
    std::string body = "WAVEfmt ";
    put32(body, 16);
    put16(body, 1);
    put16(body, channels);
    put32(body, rate);
    put32(body, rate * align);
    put16(body, align);
    put16(body, bits);
    body += "LIST";
    put32(body, 4);
    body += "INFO";
    body += "data";
    put32(body, static_cast<std::uint32_t>(data.size()));
    body += data;
    std::string file = "RIFF";
    put32(file, static_cast<std::uint32_t>(body.size()));
    return file + body;
}

// The data chunk of a WAV file this library wrote or makeWav made.
inline std::string wavData(const std::string& file) {
    const std::size_t at = file.find("data");
    return at == std::string::npos ? std::string() : file.substr(at + 8);
}

// A medium description; `extra` lines come first, so that they win over the defaults.
inline std::string medium(const std::string& type, const std::string& extra = "") {
    return "[Medium]\r\n" + extra + "Type=" + type + "\r\nCapacity=359847\r\nTray=closed\r\n";
}

// The library set up with the simulated recorder in a fresh folder, opened,
// and reporting to a recording target.
class SimulatedDriveTest : public ::testing::Test {
protected:
    void SetUpDrive(const std::string& mediumIni) {
        platform::testing::writeBytes(folder_.path() / "medium.ini", mediumIni);
        setenv("QVP3_SIMULATED_RECORDER", folder_.path().c_str(), 1);
        ASSERT_EQ(cdSetup(nullptr), DISCWRITER_S_OK);
        std::int32_t all = 0;
        std::int32_t writers = 0;
        cdGetAllDriveNumber(&all);
        cdGetDriveNumber(&writers);
        ASSERT_GE(writers, 1);
        simulatedIndex_ = all - 1;  // listed after the real drives, the last writer too
        ASSERT_EQ(cdOpenDrive(writers - 1), DISCWRITER_S_OK);
        cdSetEventWindow(&target_);
    }
    void TearDown() override {
        cdSetCancel(0);
        cdClose();
        unsetenv("QVP3_SIMULATED_RECORDER");
    }
    std::filesystem::path writeWav(const std::string& name, const std::string& bytes) {
        const auto path = folder_.path() / name;
        platform::testing::writeBytes(path, bytes);
        return path;
    }
    std::vector<platform::RecordedMessage> messages() const { return target_.messages(); }

    platform::testing::TempFolder folder_;
    platform::RecordingMessageTarget target_;
    int simulatedIndex_ = -1;
};

}  // namespace discwriter::testing
