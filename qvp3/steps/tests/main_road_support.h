// What the tests of the main road share: a page host that gives the job
// pages the real steps (the engine, the synthesizer, the encoder), and the
// loudness of a rendered or decoded WAV file.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "../../pipeline/tests/engine_test_support.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/playback.h"
#include "qvp3_pipeline/wave_step.h"
#include "qvp3_steps/page_workers.h"
#include "shown_page_support.h"
#include "step_test_support.h"

namespace qvp3::testing {

class RoadHost : public RecordingPageHost {
public:
    RoadHost(Project& project, CTavtuneLib& engine, PlaybackControl& playback, const std::filesystem::path& data)
        : RecordingPageHost(project), project_(project), engine_(engine), playback_(playback), synthesizer_(synth_) {
        synth_.dataFolder = data;
        cnvWriteTimidityConfig(synth_, QVP3_PROGRAM_DIR, false);
    }
    std::optional<MidiStepSetup> midiStepSetup() override {
        MidiStepSetup setup;
        setup.project = &project_;
        setup.engine = &engine_;
        setup.playback = &playback_;
        setup.programFolder = QVP3_PROGRAM_DIR;
        setup.pauseAfterFile = std::chrono::milliseconds(0);
        return setup;
    }
    std::optional<WaveStepSetup> waveStepSetup() override {
        WaveStepSetup setup;
        setup.project = &project_;
        setup.synthesizer = &synthesizer_;
        setup.normalizer = cnvProjectWaveNormalizer();
        setup.pauseAfterFile = std::chrono::milliseconds(0);
        return setup;
    }
    std::optional<ExportStepSetup> exportStepSetup() override {
        ExportStepSetup setup;
        setup.project = &project_;
        return setup;
    }

private:
    Project& project_;
    CTavtuneLib& engine_;
    PlaybackControl& playback_;
    SoftSynthState synth_;
    SoftSynthWaveRenderer synthesizer_;
};

// The largest sample of a 16-bit WAV file's data chunk.
inline int peakOf(const std::filesystem::path& wav) {
    const std::string bytes = platform::testing::readBytes(wav);
    const auto data = bytes.find("data");
    if (data == std::string::npos) return 0;
    int peak = 0;
    for (std::size_t i = data + 8; i + 1 < bytes.size(); i += 2) {
        const auto sample = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                                      (static_cast<std::uint8_t>(bytes[i + 1]) << 8));
        peak = std::max(peak, std::abs(static_cast<int>(sample)));
    }
    return peak;
}

// What a road through the step pages runs in: a project in a folder of its
// own with the real pipeline, engine and playback, and a host whose workers
// write into a scratch folder.
class RoadFixture : public ::testing::Test {
protected:
    platform::testing::TempFolder dir;
    platform::testing::TempFolder scratch;
    CTavtuneLib engine;
    platform::MessageTarget* mainWindow = nullptr;
    Pipeline pipeline{engine, &mainWindow};
    TableShell shell;
    StepPages pages;
    Project project{Neighbours{&pipeline, nullptr, &shell, &pages}};
    PlaybackControl playback{project, engine};
    RoadHost host{project, engine, playback, scratch.path()};
};

}  // namespace qvp3::testing
