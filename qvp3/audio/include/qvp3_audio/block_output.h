// Where the render host's real-time blocks go: the PCM device or the
// low-latency server.
#pragma once

#include <cstdint>

namespace qvp3 {

class CBlockOutput {
public:
    virtual ~CBlockOutput() = default;
    // Called on the render worker after each block; false when the output is
    // not playing (the block is lost).
    virtual bool WriteRenderedBlock(std::uint32_t frames, const float* left, const float* right) = 0;
};

}  // namespace qvp3
