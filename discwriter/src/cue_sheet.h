// Cue sheets: the table of contents of the simulated recorder's medium, one
// image file with its tracks and their index points in sectors (75 a second).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace discwriter {

struct CueTrack {
    int number = 0;
    bool audio = true;
    int index0 = -1;  // start of the pregap in the image; -1 without one
    int index1 = 0;   // start of the track
    bool preemphasis = false;
    bool copyPermitted = false;
};

struct CueSheet {
    std::string file;
    std::vector<CueTrack> tracks;
};

// "mm:ss:ff" for a sector count.
std::string formatMsf(int sectors);
std::string writeCueSheet(const CueSheet& sheet);
// Nothing for a sheet that is not one this library writes (one FILE, tracks
// numbered 1.. in order, index points rising); `why` tells.
std::optional<CueSheet> parseCueSheet(std::string_view text, std::string& why);

}  // namespace discwriter
