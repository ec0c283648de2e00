// MMC commands sent through a recorder's raw command interface, and the
// big-endian numbers of their blocks.
#pragma once

#include <cstdint>
#include <vector>

#include "recorder.h"

namespace discwriter {

inline std::uint32_t be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}
inline unsigned be16(const std::uint8_t* p) { return static_cast<unsigned>(p[0] << 8 | p[1]); }
inline void putBe16(std::uint8_t* p, unsigned v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
inline void putBe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

// Sends a command and reads up to `length` bytes back.
HResult readCommand(Recorder& rec, const std::vector<std::uint8_t>& cdb, std::vector<std::uint8_t>& answer,
                    std::size_t length, Sense* sense = nullptr);
// A mode page's current values, from its page code byte on (MODE SENSE(10)).
HResult modePage(Recorder& rec, std::uint8_t page, std::vector<std::uint8_t>& out);
// Writes a page back (MODE SELECT(10)).
HResult setModePage(Recorder& rec, const std::vector<std::uint8_t>& page);
// READ DISC INFORMATION, as many bytes as the drive gives (at most 34 + its OPC tables).
HResult discInformation(Recorder& rec, std::vector<std::uint8_t>& out);
// READ TRACK INFORMATION by track number.
HResult trackInformation(Recorder& rec, int track, std::vector<std::uint8_t>& out);

}  // namespace discwriter
