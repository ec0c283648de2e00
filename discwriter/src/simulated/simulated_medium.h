// The simulated recorder's medium: its description in "medium.ini" and what
// is written on it ("disc.cue" and the image it names), all in one folder,
// read afresh at every call so that a test may change the medium between calls.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "recorder.h"

namespace discwriter {

struct SimulatedTrack {
    int number = 0;
    bool audio = true;
    int pregapStart = 0;  // LBA where the track's pregap begins (= start without one)
    int start = 0;        // LBA of INDEX 01
    int length = 0;       // sectors
    bool preemphasis = false;
    bool copyPermitted = false;
};

struct SimulatedDisc {
    std::vector<SimulatedTrack> tracks;
    int leadOut = 0;  // sectors in the image
    std::filesystem::path image;
    int sectorBytes = 2352;
};

struct MediumState {
    int type = kMediaCdR;
    int capacity = 359847;
    bool trayOpen = false;
    int becomingReady = 0;
    bool finalized = false;
};

class SimulatedMedium {
public:
    explicit SimulatedMedium(std::filesystem::path folder);

    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path cuePath() const { return folder_ / "disc.cue"; }

    MediumState load() const;
    bool save(const MediumState& state) const;
    // The medium's answer to "which medium is there": S_OK with its type, no
    // media, or becoming ready (which uses up one of the state's ready polls).
    HResult query(int& type) const;
    bool blank() const;
    // The written disc; nothing for a blank medium. A cue sheet or image that
    // cannot be read gives DISCWRITER_E_FAIL in `error`.
    std::optional<SimulatedDisc> disc(HResult& error) const;
    // Forgets what is written.
    bool wipe() const;

private:
    std::filesystem::path folder_;
};

int mediaTypeFromName(const std::string& name);  // -1 for an unknown name
std::string mediaTypeName(int type);

}  // namespace discwriter
