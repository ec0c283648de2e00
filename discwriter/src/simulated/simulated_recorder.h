// A CD recorder of our own that writes to files: the medium of a folder (see
// simulated_medium.h). Track at once and disc at once write one image and a
// cue sheet, data discs an ISO image; raw MMC commands are answered from them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "recorder.h"
#include "simulated/simulated_medium.h"

namespace discwriter {

// The environment variable naming the simulated recorder's folder.
inline constexpr const char* kSimulatedRecorderVariable = "QVP3_SIMULATED_RECORDER";

class SimulatedRecorder : public Recorder {
public:
    explicit SimulatedRecorder(std::filesystem::path folder);

    DriveIdentity identity() const override;
    HResult mediaType(int& type) override;
    bool mediaBlank() override;
    HResult freeSectors(WriteMode mode, int& sectors) override;
    HResult existingTracks(int& count) override;
    HResult prepare(WriteMode mode, const WriteOptions& options) override;
    HResult release(WriteMode mode, WriteEvents* events) override;
    std::vector<int> writeSpeeds(WriteMode mode) override;
    HResult writeTrackAtOnce(const std::vector<AudioTrack>& tracks, const WriteOptions& options,
                             WriteEvents& events) override;
    HResult writeDiscAtOnce(const RawLayout& layout, const WriteOptions& options, WriteEvents& events) override;
    HResult writeData(burn::burn_source* image, std::int64_t blocks, const WriteOptions& options,
                      WriteEvents& events) override;
    HResult erase(bool full, const std::function<void(int, int)>& progress,
                  const std::atomic<bool>& stop) override;
    HResult eject() override;
    HResult closeTray() override;
    HResult lock(const std::string& client) override;
    HResult unlock() override;
    HResult command(const std::uint8_t* cdb, std::size_t cdbLength, Direction direction, std::uint8_t* buffer,
                    std::size_t length, Sense& sense) override;

private:
    struct AudioImage;
    HResult checkMedium(WriteMode mode);
    HResult writeAudio(const AudioImage& image, const WriteOptions& options, WriteEvents& events);
    HResult writeTrackSectors(std::ofstream* out, const AudioTrack& track, int track1, const AudioImage& image,
                              WriteEvents& events);
    bool commitCue(const AudioImage& image, std::size_t tracksWritten) const;

    // MMC commands (simulated_commands.cpp).
    HResult readDiscInformation(std::uint8_t* buffer, std::size_t length, Sense& sense);
    HResult readTrackInformation(const std::uint8_t* cdb, std::uint8_t* buffer, std::size_t length, Sense& sense);
    HResult readSubChannel(const std::uint8_t* cdb, std::uint8_t* buffer, std::size_t length, Sense& sense);
    HResult readCd(const std::uint8_t* cdb, std::uint8_t* buffer, std::size_t length, Sense& sense);
    HResult readCapacity(std::uint8_t* buffer, std::size_t length, Sense& sense);
    HResult modeSense(const std::uint8_t* cdb, std::uint8_t* buffer, std::size_t length, Sense& sense);
    HResult mechanismStatus(std::uint8_t* buffer, std::size_t length, Sense& sense);
    bool mediumReady(Sense& sense);

    SimulatedMedium medium_;
    bool prepared_ = false;
    bool finishPending_ = false;  // a track-at-once session waits for its release
    WriteOptions preparedOptions_;
    int playPosition_ = -1;  // LBA of the last PLAY AUDIO
};

}  // namespace discwriter
