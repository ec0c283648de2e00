// Ripping an audio track of the open drive's disc into a WAV file.
#pragma once

#include <atomic>
#include <filesystem>

#include "recorder.h"

namespace discwriter {

// READ CD of `count` sectors at `lba` into buffer (bytes long).
HResult readSectors(Recorder& rec, std::uint8_t* buffer, std::size_t bytes, int lba, int count);

// Reads the track in pieces of 26 sectors into a WAV file that replaces `path`
// only when every sector was read; progress messages go to the client.
HResult ripTrack(Recorder& rec, int track, const std::filesystem::path& path, const std::atomic<bool>& cancel);

}  // namespace discwriter
