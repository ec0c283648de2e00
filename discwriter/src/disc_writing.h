// Writing the track list in the three modes, with the medium checks and the
// images each mode needs.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "library_state.h"
#include "recorder.h"

namespace discwriter {

// Reads the WAV header of every path: all must be CD audio before anything is
// written. A refused file is named in the library's error text.
HResult collectAudioTracks(const std::vector<std::string>& paths, std::vector<AudioTrack>& tracks);

// The disc-at-once layout: tracks from LBA 0, each after a 2-second gap unless gapless.
RawLayout layoutDiscAtOnce(std::vector<AudioTrack> tracks, const Settings& settings);

// The ISO 9660 + Joliet image of the files (each under its own file name) in
// the root. `blocks` counts 2048-byte blocks.
HResult buildDataImage(const std::vector<std::string>& paths, const std::string& volume, burn::burn_source** image,
                       std::int64_t& blocks);
void releaseDataImage(burn::burn_source* image);
void finishDataImages();

// Asks the recorder for its medium until it is no longer becoming ready,
// every `step`, for at most `timeout`; `cancel` ends the wait with
// DISCWRITER_E_ABORT.
HResult waitForMedium(Recorder& recorder, int& type, std::chrono::milliseconds timeout,
                      std::chrono::milliseconds step, const std::atomic<bool>& cancel);

// cdWriteDisc: the whole write in the current mode; WM_CD_WRITE_DONE at the end.
HResult writeDisc(LibraryState& s, char* fits);

}  // namespace discwriter
